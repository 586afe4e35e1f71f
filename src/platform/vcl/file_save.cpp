#include "platform/vcl/file_save.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/rtl/file_writes.h"
#include "platform/rtl/files.h"
#include "platform/vcl/streams.h"

namespace vcl {

namespace {

// Bytes gathered before they go to the file in one write.
constexpr std::size_t kSaveBlock = std::size_t{1} << 20;

[[noreturn]] void Fail(const std::string& FileName, int Error) {
    throw EFileSaveError(FileName, Error);
}

// Links followed one after another before a name counts as a loop.
constexpr int kMostLinks = 40;

// The file a name stands for: links followed, so that the file itself is
// replaced and the link stays. A link to a file not made yet stands for
// that file (the save creates it, as writing through the link would). A
// name that does not exist yet is kept; links in a circle are refused.
std::string RealTarget(const std::string& FileName) {
    std::string target = rtl::SysPath(FileName);
    for (int links = 0; links < kMostLinks; ++links) {
        if (char* real = ::realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
            return target;
        }
        if (errno == ELOOP) Fail(FileName, ELOOP);
        struct stat st {};
        // A name the system reaches though no path spells what it reaches
        // (a descriptor under /proc, /dev/stdout on a pipe) is kept as it is.
        if (::stat(target.c_str(), &st) == 0) return target;
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        std::string to(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), to.data(), to.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) return target;
        to.resize(static_cast<std::size_t>(n));
        if (to[0] == '/') {
            target = to;
        } else {
            const std::size_t slash = target.rfind('/');
            target = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + to;
        }
    }
    Fail(FileName, ELOOP);
}

// A file of the kernel's own file systems (process and device settings,
// control groups, firmware variables): a setting, not stored data, that
// only takes writes in place; no temporary can be made beside it.
bool KernelSetting(const std::string& Target) {
    struct statfs fs {};
    if (::statfs(Target.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case EFIVARFS_MAGIC:
            return true;
        default:
            return false;
    }
}

// Opens a fresh temporary file in Target's folder; -1 with errno set on
// failure. Its name is short whatever the target's, so that a target named
// as long as the system allows still saves.
int OpenTemporary(const std::string& Target, std::string& Temp) {
    const std::size_t slash = Target.rfind('/');
    return rtl::OpenUniqueFile(slash == std::string::npos ? std::string() : Target.substr(0, slash + 1), Temp);
}

}  // namespace

EFileSaveError::EFileSaveError(const std::string& FileName, int Error)
    : rtl::EWriteError(SaveErrorText(FileName, Error)), ErrorCode(Error) {}

EFileSaveError::EFileSaveError(const std::string& FileName, int Error, const std::string& Reason)
    : rtl::EWriteError("Cannot write \"" + FileName + "\": " + Reason), ErrorCode(Error) {}

std::string SaveErrorText(const std::string& FileName, int Error) {
    return "Cannot write \"" + FileName + "\": " + SysErrorMessage(Error);
}

TSaveOutput::TSaveOutput(int Fd, const std::string& FileName) : fd_(Fd), fileName_(FileName) {}

void TSaveOutput::Write(std::string_view Data) {
    if (buffer_.size() + Data.size() < kSaveBlock) {
        buffer_ += Data;
        return;
    }
    Flush();
    if (Data.size() >= kSaveBlock) {
        if (const int error = rtl::WriteAll(fd_, Data)) Fail(fileName_, error);
    } else {
        buffer_ += Data;
    }
}

void TSaveOutput::Flush() {
    if (buffer_.empty()) return;
    const int error = rtl::WriteAll(fd_, buffer_);
    buffer_.clear();
    if (error) Fail(fileName_, error);
}

void SaveWholeFile(const std::string& FileName, const std::function<void(TSaveOutput& Out)>& Write) {
    // Runs Write into the open file and closes it, whatever happens; the
    // first failure is raised.
    const auto writeAndClose = [&](int fd) {
        try {
            TSaveOutput out(fd, FileName);
            Write(out);
            out.Flush();
        } catch (...) {
            rtl::CloseFile(fd);
            throw;
        }
        if (const int error = rtl::CloseFile(fd)) Fail(FileName, error);
    };
    const std::string target = RealTarget(FileName);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;

    if (exists && (!S_ISREG(st.st_mode) || KernelSetting(target))) {
        // A device, a FIFO or a kernel setting takes the bytes where it is;
        // a folder refuses. Opened without waiting: a FIFO that no program
        // reads, or a serial line waiting for its carrier, would hold the
        // window for good. Once open, writes wait as usual for a reader that
        // is there.
        int fd;
        do {
            fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && errno == ENXIO && S_ISFIFO(st.st_mode))
            throw EFileSaveError(FileName, ENXIO, "it is a pipe that no program reads");
        if (fd < 0) Fail(FileName, errno);
        if (const int flags = ::fcntl(fd, F_GETFL); flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            const int error = errno;
            rtl::CloseFile(fd);
            Fail(FileName, error);
        }
        writeAndClose(fd);
        return;
    }
    // A file we could not open for writing is not ours to replace.
    if (exists && ::access(target.c_str(), W_OK) != 0) Fail(FileName, errno);

    std::string temp;
    const int fd = OpenTemporary(target, temp);
    if (fd < 0) Fail(FileName, errno);
    if (exists && ::fchmod(fd, st.st_mode & 07777) != 0) {
        const int error = errno;
        rtl::CloseFile(fd);
        ::unlink(temp.c_str());
        Fail(FileName, error);
    }
    try {
        writeAndClose(fd);
        if (std::rename(temp.c_str(), target.c_str()) != 0) Fail(FileName, errno);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

}  // namespace vcl
