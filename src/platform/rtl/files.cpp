#include "platform/rtl/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <vector>

#include "platform/rtl/name_escapes.h"

namespace rtl {

std::string SysPath(const std::string& name) { return UnescapeSystemName(name); }
std::string FromSysPath(const std::string& sysName) { return EscapeSystemName(sysName); }

namespace {

size_t NamePart(const std::string& name) {
    const auto slash = name.rfind(PathDelim);
    return slash == std::string::npos ? 0 : slash + 1;
}

bool StatIs(const std::string& name, mode_t kind) {
    struct stat st {};
    return !name.empty() && ::stat(SysPath(name).c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

}  // namespace

std::string ExtractFilePath(const std::string& name) { return name.substr(0, NamePart(name)); }

std::string ExtractFileName(const std::string& name) { return name.substr(NamePart(name)); }

std::string ExtractFileExt(const std::string& name) {
    const size_t start = NamePart(name);
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot < start ? std::string() : name.substr(dot);
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
    const size_t start = NamePart(name);
    const auto dot = name.rfind('.');
    return (dot == std::string::npos || dot < start ? name : name.substr(0, dot)) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    return !path.empty() && path.back() == PathDelim ? path : path + PathDelim;
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
    return path.size() > 1 && path.back() == PathDelim ? path.substr(0, path.size() - 1) : path;
}

std::string ExpandFileName(const std::string& name) {
    std::string full = name;
    if (full.empty() || full[0] != PathDelim) {
        std::vector<char> buf(4096);
        std::string cwd = "/";
        if (::getcwd(buf.data(), buf.size())) cwd = FromSysPath(buf.data());
        full = IncludeTrailingPathDelimiter(cwd) + full;
    }
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= full.size()) {
        auto next = full.find(PathDelim, i);
        if (next == std::string::npos) next = full.size();
        const std::string part = full.substr(i, next - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = next + 1;
    }
    std::string out;
    for (const auto& p : parts) out += PathDelim + p;
    if (out.empty()) out = "/";
    // A name that ended in '/' keeps it, as it names a folder.
    if (full.size() > 1 && full.back() == PathDelim && out != "/") out += PathDelim;
    return out;
}

bool FileExists(const std::string& name) { return StatIs(name, S_IFREG); }
bool DirectoryExists(const std::string& name) { return StatIs(name, S_IFDIR); }

bool NameExists(const std::string& name) {
    struct stat st {};
    return !name.empty() && ::stat(SysPath(name).c_str(), &st) == 0;
}

bool DeleteFile(const std::string& name) { return ::unlink(SysPath(name).c_str()) == 0; }

bool RenameFile(const std::string& oldName, const std::string& newName) {
    return std::rename(SysPath(oldName).c_str(), SysPath(newName).c_str()) == 0;
}

std::string ExeFolder() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return "./";
    return ExtractFilePath(FromSysPath(std::string(buf.data(), static_cast<size_t>(n))));
}

int ForceDirectories(const std::string& Dir, unsigned Mode) {
    const std::string sys = SysPath(ExcludeTrailingPathDelimiter(Dir));
    // Each folder from the outermost missing one inwards.
    for (std::size_t end = sys.find(PathDelim, 1);; end = sys.find(PathDelim, end + 1)) {
        const std::string part = sys.substr(0, end);
        if (!part.empty() && ::mkdir(part.c_str(), Mode) != 0 && errno != EEXIST) return errno;
        if (end == std::string::npos) break;
    }
    struct stat st {};
    if (::stat(sys.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int OpenFolder(const std::string& SysFolder) {
    const std::string folder = SysFolder.empty() ? std::string(".") : SysFolder;
    int fd;
    do {
        fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int OpenUniqueFile(int Folder, std::string& Name) {
    // Names tried before giving up; one taken already (a leftover of a
    // crash) only moves us on to the next.
    constexpr int kAttempts = 100;
    std::random_device source;
    std::uniform_int_distribution<unsigned> digit(0, 15);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Name = ".~vostrel";
        for (int i = 0; i < 12; ++i) Name += "0123456789abcdef"[digit(source)];
        const int fd = ::openat(Folder, Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool FolderTakesNewFiles(const std::string& Folder) {
    // The probe is made relative to the folder: a folder whose own path is
    // close to the system's limit still takes files with short names.
    const int folder = OpenFolder(SysPath(IncludeTrailingPathDelimiter(Folder)));
    if (folder < 0) return false;
    std::string probe;
    const int fd = OpenUniqueFile(folder, probe);
    if (fd >= 0) {
        ::close(fd);
        ::unlinkat(folder, probe.c_str(), 0);
    }
    ::close(folder);
    return fd >= 0;
}

}  // namespace rtl
