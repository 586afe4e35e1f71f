#pragma once
// The string procedures of the terminal: the runtime's shared string
// routines (platform/rtl/str_proc.h) and whole-file load and save
// (platform/vcl/file_text.h).
#include <string>
#include <vector>

#include "platform/rtl/str_proc.h"
#include "platform/vcl/file_text.h"

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

using vcl::LoadStrFromFile;
using vcl::SaveStrToFile;

}  // namespace terminal
