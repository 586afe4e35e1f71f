#pragma once
// A folder made read-only for this test process alone: bound onto itself
// read-only in a private mount namespace, the way a program installed on a
// read-only system folder sees it. Permission bits would not do: tests run
// as root here, and root writes through them. Where the process may not
// make mounts, ReadOnly() is false and the test skips that part; children
// started afterwards see the folder read-only too.
#include <sched.h>
#include <sys/mount.h>

#include <string>

namespace test_support {

class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::string& Path) : path_(Path) {
        if (::unshare(CLONE_NEWNS) != 0) return;
        // Mounts made here must not travel back to the namespace we left.
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
        if (::mount(path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) != 0) return;
        bound_ = true;
        readOnly_ = ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyFolder() {
        if (bound_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool ReadOnly() const { return readOnly_; }

private:
    std::string path_;
    bool bound_ = false;
    bool readOnly_ = false;
};

}  // namespace test_support
