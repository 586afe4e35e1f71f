#pragma once
// A folder nested inside Base until its absolute path is exactly Length
// bytes long, for tests of names close to the system's limit on a whole path
// (PATH_MAX): each level is made by its full path, which stays within the
// limit. Path() is empty when it could not be made.
#include <sys/stat.h>

#include <cerrno>

#include <string>

namespace test_support {

class LongFolder {
public:
    LongFolder(const std::string& Base, std::size_t Length) {
        std::string path = Base;
        // Levels of at most 200 bytes, each followed by the next one's '/'.
        while (path.size() < Length) {
            const std::size_t left = Length - path.size() - 1;  // after the '/'
            // A last level of at least one byte: never leave exactly '/' to go.
            std::size_t level = left > 200 ? 200 : left;
            if (left > 200 && left - 200 < 2) level = 150;
            path += '/' + std::string(level, 'd');
            if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return;
        }
        if (path.size() == Length) path_ = path;
    }

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace test_support
