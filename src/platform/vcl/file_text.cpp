#include "platform/vcl/file_text.h"

#include "platform/rtl/exceptions.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/regular_file.h"
#include "platform/vcl/streams.h"

namespace vcl {

void SaveStrToFile(const std::string& Data, const std::string& FileName) {
    SaveWholeFile(FileName, [&](TSaveOutput& out) { out.Write(Data); });
}

std::string ReadErrorText(const std::string& FileName, int Error) {
    return "Cannot read \"" + FileName + "\": " + SysErrorMessage(Error);
}

std::string LoadStrFromFile(const std::string& FileName) {
    // Plug-ins, their include files and their own reads name files: a FIFO
    // would hold the window in its open, /dev/urandom would fill the memory.
    return LoadRegularFile(FileName);
}

}  // namespace vcl
