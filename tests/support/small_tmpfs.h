#pragma once
// A small tmpfs of its own for a test that needs a disk that really fills
// up. It is mounted in a private mount namespace of the test process, so no
// other process sees it and it goes away with the process; where the process
// may not make one (no privileges, threads already running), Mounted() is
// false and the test skips that part.
#include <sched.h>
#include <sys/mount.h>

#include <cstddef>
#include <string>

#include "support/temp_dir.h"

namespace test_support {

class SmallTmpfs {
public:
    explicit SmallTmpfs(std::size_t Bytes) {
        if (dir_.path().empty() || ::unshare(CLONE_NEWNS) != 0) return;
        // Mounts made here must not travel back to the namespace we left.
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
        const std::string options = "size=" + std::to_string(Bytes);
        mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallTmpfs() {
        if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool Mounted() const { return mounted_; }
    std::string File(const std::string& name) const { return dir_.File(name); }
    const std::string& path() const { return dir_.path(); }

private:
    TempDir dir_;
    bool mounted_ = false;
};

}  // namespace test_support
