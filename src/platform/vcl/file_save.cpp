#include "platform/vcl/file_save.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/rtl/file_writes.h"
#include "platform/rtl/files.h"
#include "platform/vcl/streams.h"

namespace vcl {

namespace {

// Bytes gathered before they go to the file in one write.
constexpr std::size_t kSaveBlock = std::size_t{1} << 20;

[[noreturn]] void Fail(const std::string& FileName, int Error) {
    // A save given up while it waited for a pipe, because the program asked
    // it to stop (its window closing, the plug-in that saves stopped), has
    // nothing to tell the user, who asked for that.
    if (Error == ECANCELED) throw rtl::EAbort(SaveErrorText(FileName, "the save was stopped"));
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

// A descriptor closed when it goes.
class TOwnedFd {
public:
    explicit TOwnedFd(int Fd) : fd_(Fd) {}
    ~TOwnedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    TOwnedFd(TOwnedFd&& Other) noexcept : fd_(std::exchange(Other.fd_, -1)) {}
    TOwnedFd(const TOwnedFd&) = delete;
    TOwnedFd& operator=(const TOwnedFd&) = delete;
    TOwnedFd& operator=(TOwnedFd&&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// Takes, for the rest of the save, the lock that a stream writing the file
// with a share mode holds (the output file: others may read it, not write
// it), so that a save never replaces a file being written that way, in this
// program or another. A file that cannot be opened to take it (no read
// permission) is not being shared that way by us.
TOwnedFd LockForReplace(const std::string& FileName, const std::string& Target) {
    TOwnedFd file(::open(Target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) return file;
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        throw EFileSaveError(FileName, EWOULDBLOCK, std::string("it is ") + InUseText);
    return file;
}

// Writes a temporary file beside Target and renames it over Target. Both
// are named relative to their folder, so that a target whose path is a few
// bytes short of the system's limit saves although the temporary's name is
// longer than its own.
void ReplaceByRename(const std::string& FileName, const std::string& Target, const struct stat* Old,
                     const std::function<void(int)>& WriteAndClose) {
    const std::size_t slash = Target.rfind('/');
    const std::string leaf = slash == std::string::npos ? Target : Target.substr(slash + 1);
    const TOwnedFd folder(rtl::OpenFolder(slash == std::string::npos ? std::string() : Target.substr(0, slash + 1)));
    if (folder.Get() < 0) Fail(FileName, errno);
    std::string temp;
    const int fd = rtl::OpenUniqueFile(folder.Get(), temp);
    if (fd < 0) Fail(FileName, errno);
    try {
        if (Old && ::fchmod(fd, Old->st_mode & 07777) != 0) {
            const int error = errno;
            rtl::CloseFile(fd);
            Fail(FileName, error);
        }
        WriteAndClose(fd);
        if (::renameat(folder.Get(), temp.c_str(), folder.Get(), leaf.c_str()) != 0) Fail(FileName, errno);
    } catch (...) {
        ::unlinkat(folder.Get(), temp.c_str(), 0);
        throw;
    }
}

}  // namespace

EFileSaveError::EFileSaveError(const std::string& FileName, int Error)
    : rtl::EWriteError(SaveErrorText(FileName, Error)), ErrorCode(Error) {}

EFileSaveError::EFileSaveError(const std::string& FileName, int Error, const std::string& Reason)
    : rtl::EWriteError(SaveErrorText(FileName, Reason)), ErrorCode(Error) {}

std::string SaveErrorText(const std::string& FileName, int Error) {
    if (Error == rtl::WriteStalled)
        return SaveErrorText(FileName, "the program or device reading it stopped taking data");
    return SaveErrorText(FileName, SysErrorMessage(Error));
}

std::string SaveErrorText(const std::string& FileName, const std::string& Reason) {
    return "Cannot write \"" + FileName + "\": " + Reason;
}

TSaveOutput::TSaveOutput(int Fd, const std::string& FileName) : fd_(Fd), fileName_(FileName) {}

void TSaveOutput::Write(std::string_view Data) {
    if (buffer_.size() + Data.size() < kSaveBlock) {
        buffer_ += Data;
        return;
    }
    Flush();
    if (Data.size() >= kSaveBlock) {
        std::size_t done = 0;
        const int error = rtl::WriteAll(fd_, Data, {}, &done);
        written_ += done;
        if (error) Failed(error);
    } else {
        buffer_ += Data;
    }
}

void TSaveOutput::Flush() {
    if (buffer_.empty()) return;
    std::size_t done = 0;
    const int error = rtl::WriteAll(fd_, buffer_, {}, &done);
    written_ += done;
    buffer_.clear();
    if (error) Failed(error);
}

void TSaveOutput::Failed(int Error) const {
    try {
        Fail(fileName_, Error);
    } catch (EFileSaveError& e) {
        e.Written = written_;
        throw;
    }
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
        // a folder refuses. Opened and written without waiting: a FIFO that
        // no program reads, or a serial line waiting for its carrier, would
        // hold the window for good, and so would a reader that stops
        // reading. The writes wait in slices with the window answering, and
        // give up once nothing is taken for a while (rtl::WriteAll).
        int fd;
        do {
            fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && errno == ENXIO && S_ISFIFO(st.st_mode))
            throw EFileSaveError(FileName, ENXIO, "it is a pipe that no program reads");
        if (fd < 0) Fail(FileName, errno);
        writeAndClose(fd);
        return;
    }
    // A file we could not open for writing is not ours to replace.
    if (exists && ::access(target.c_str(), W_OK) != 0) Fail(FileName, errno);
    const TOwnedFd lock = exists ? LockForReplace(FileName, target) : TOwnedFd(-1);
    ReplaceByRename(FileName, target, exists ? &st : nullptr, writeAndClose);
}

}  // namespace vcl
