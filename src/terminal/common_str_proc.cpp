#include "terminal/common_str_proc.h"

#include <algorithm>

#include "platform/vcl/streams.h"

namespace terminal {

void SaveStrToFile(const std::string& Data, const std::string& FileName) {
    vcl::TFileStream file(FileName, vcl::fmCreate);
    for (size_t done = 0; done < Data.size();) {
        const size_t n = std::min<size_t>(Data.size() - done, size_t{1} << 30);
        file.WriteBuffer(Data.data() + done, static_cast<std::int32_t>(n));
        done += n;
    }
}

std::string LoadStrFromFile(const std::string& FileName) {
    vcl::TFileStream file(FileName, vcl::fmOpenRead | vcl::fmShareDenyNone);
    std::string data;
    char buf[65536];
    // Read to the end rather than trusting the size: the file may still grow.
    for (;;) {
        const std::int32_t n = file.Read(buf, sizeof buf);
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

}  // namespace terminal
