#include "platform/win/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/rtl/files.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"

namespace {

// PATH replaced for the lifetime of the object, so that the desktop's
// opener is the one the test provides (or none).
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path) {
        if (const char* old = std::getenv("PATH")) old_ = old;
        setenv("PATH", path.c_str(), 1);
    }
    ~ScopedPath() { setenv("PATH", old_.c_str(), 1); }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

private:
    std::string old_;
};

void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(shell, open_fails_for_a_missing_file_another_verb_or_no_opener) {
    test_support::EnsureQtApplication();
    test_support::TempDir dir;
    EXPECT_EQ(win::ShellExecute("Open", dir.File("vostrel.chm"), win::SW_SHOWNORMAL), win::SE_ERR_FNF);
    EXPECT_EQ(win::ShellExecute("Open", "", win::SW_SHOWNORMAL), win::SE_ERR_FNF);
    EXPECT_EQ(win::ShellExecute("Open", dir.path(), win::SW_SHOWNORMAL), win::SE_ERR_FNF)
        << "a folder is no document";
    const std::string doc = dir.File("help.chm");
    WriteFile(doc, "x");
    EXPECT_EQ(win::ShellExecute("print", doc, win::SW_SHOWNORMAL), win::SE_ERR_NOASSOC);
    ScopedPath path(dir.File("bin"));  // a folder without any opener
    EXPECT_LE(win::ShellExecute("Open", doc, win::SW_SHOWNORMAL), 32);
}

TEST(shell, open_hands_the_document_to_the_desktop_opener) {
    test_support::EnsureQtApplication();
    test_support::TempDir dir;
    const std::string bin = dir.File("bin");
    mkdir(bin.c_str(), 0700);
    const std::string log = dir.File("opened.txt");
    WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + log + "'\n");
    chmod((bin + "/xdg-open").c_str(), 0700);
    const std::string doc = dir.File("vostrel.chm");
    WriteFile(doc, "x");
    ScopedPath path(bin + ":/usr/bin:/bin");
    EXPECT_GT(win::ShellExecute("open", doc, win::SW_SHOWNORMAL), 32);
    EXPECT_GT(win::ShellExecute("", doc, win::SW_SHOWNORMAL), 32) << "no verb opens too";
    ASSERT_TRUE(test_support::PumpUntil([&] { return ReadFile(log) == doc; }));
    // Any letters reach it as they are; bytes that are no text never reach
    // it (it would be given another name).
    const std::string named = dir.File("日本.chm"), latin1 = dir.File("caf\xE9.chm");
    WriteFile(named, "x");
    WriteFile(latin1, "x");
    EXPECT_GT(win::ShellExecute("open", rtl::FromSysPath(named), win::SW_SHOWNORMAL), 32);
    ASSERT_TRUE(test_support::PumpUntil([&] { return ReadFile(log) == named; }));
    EXPECT_EQ(win::ShellExecute("open", rtl::FromSysPath(latin1), win::SW_SHOWNORMAL), win::SE_ERR_FNF);
}

}  // namespace
