#include "platform/vcl/file_text.h"

#include <unistd.h>

#include <cerrno>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/streams.h"

namespace vcl {

void SaveStrToFile(const std::string& Data, const std::string& FileName) {
    SaveWholeFile(FileName, [&](TSaveOutput& out) { out.Write(Data); });
}

std::string ReadErrorText(const std::string& FileName, int Error) {
    return "Cannot read \"" + FileName + "\": " + SysErrorMessage(Error);
}

std::string LoadStrFromFile(const std::string& FileName) {
    TFileStream file(FileName, fmOpenRead | fmShareDenyNone);
    std::string data;
    char buf[65536];
    // Read to the end rather than trusting the size: the file may still grow.
    // A failed read (a folder, an I/O error) is an error, not the end.
    for (;;) {
        const ssize_t n = ::read(file.Handle(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw rtl::EReadError(ReadErrorText(FileName, errno));
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

}  // namespace vcl
