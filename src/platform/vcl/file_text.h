#pragma once
// Whole-file load and save of 8-bit text, shared by the terminal and the
// plug-in host.
#include <string>

namespace vcl {

// Writes Data as the whole file, replacing an existing one only once all of
// it is written (SaveWholeFile): a failure raises EFileSaveError and leaves
// the old file as it was.
void SaveStrToFile(const std::string& Data, const std::string& FileName);
// The whole file, opened so that others may still read and write it. Only a
// regular file that fits in the memory available is read (LoadRegularFile):
// anything else raises EFOpenError or EReadError with the file and the
// reason, as a failed read does ("Cannot read "<file>": <the reason>").
std::string LoadStrFromFile(const std::string& FileName);
// "Cannot read "<FileName>": <the system's text for Error>".
std::string ReadErrorText(const std::string& FileName, int Error);

}  // namespace vcl
