#pragma once
// The string procedures of the terminal: the runtime's shared string
// routines (platform/rtl/str_proc.h) and whole-file load and save.
#include <string>
#include <vector>

#include "platform/rtl/str_proc.h"

namespace terminal {

using rtl::ArrayToHex;
using rtl::BufToHex;
using rtl::BufToStr;
using rtl::CutToken;
using rtl::LastCharPos;
using rtl::NextToken;
using rtl::Reverse;
using rtl::RPosEx;
using rtl::SplitStr;

// Creates (or truncates) the file and writes Data. File-stream errors pass on.
void SaveStrToFile(const std::string& Data, const std::string& FileName);
// The whole file, opened so that others may still read and write it.
std::string LoadStrFromFile(const std::string& FileName);

}  // namespace terminal
