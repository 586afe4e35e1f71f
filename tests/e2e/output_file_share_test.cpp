// Two programs and one output file, as two users on one machine would make
// them: the first (the real program, on a display of its own) captures a
// device's bytes into a file; the second (the main window in this test's
// own process, whose boxes the test answers and reads) is given the same
// name for its own output and is refused without touching the file, and
// the first capture goes on whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/dialog_answers.h"
#include "support/main_window.h"
#include "support/program_process.h"
#include "support/pty.h"
#include "support/temp_dir.h"
#include "support/virtual_display.h"
#include "support/x_windows.h"

namespace {

using namespace std::chrono_literals;
using test_support::ProcessWindows;
using test_support::WaitUntil;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen());
    return s;
}

// The program copied into Folder with the settings Ini beside it, started
// on Display.
std::unique_ptr<test_support::ProgramProcess> StartIn(const std::string& Folder, const std::string& Ini,
                                                      const std::string& Display) {
    std::filesystem::create_directory(Folder);
    std::filesystem::copy_file(test_support::BuiltProgram(), Folder + "/vostrel");
    std::ofstream(Folder + "/vostrel.ini", std::ios::binary) << Ini;
    return std::make_unique<test_support::ProgramProcess>(test_support::ProgramStart{
        .binary = Folder + "/vostrel", .cwd = Folder, .display = Display, .runtime = Folder, .quiet = true});
}

TEST(output_file_share, a_second_program_is_refused_the_file_the_first_captures_and_the_capture_stays_whole) {
    if (!test_support::OnPath("Xvfb") || !test_support::OnPath("xdotool"))
        GTEST_SKIP() << "Xvfb or xdotool is not installed";
    ASSERT_EQ(access(test_support::BuiltProgram().c_str(), X_OK), 0);
    test_support::VirtualDisplay display;
    ASSERT_FALSE(display.Name().empty()) << display.Error();
    test_support::TempDir dir;
    test_support::PtyPair device;
    device.MapAsCom(5);
    const std::string capture = dir.File("capture.bin");

    // The first program captures raw bytes of its port into the file.
    auto first = StartIn(dir.File("first"),
                         "[Main]\r\nCurrentProfile=0\r\n[Config11]\r\nPort=5\r\nSpeed=115200\r\n", display.Name());
    ASSERT_TRUE(WaitUntil([&] { return !ProcessWindows(display.Name(), first->Pid(), "VOSTREL").empty(); }, 60s));
    ASSERT_TRUE(WaitUntil([&] { return test_support::HoldsOpen(first->Pid(), device.SlavePath()); }, 30s));
    ASSERT_TRUE(test_support::OutputToFile(display.Name(), first->Pid(), capture));
    ASSERT_TRUE(WaitUntil([&] { return test_support::HoldsOpen(first->Pid(), capture); }, 20s));
    const std::string part1 = RandomBytes(64 * 1024, 1);
    ASSERT_EQ(device.Write(part1, 30s), part1.size());
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::file_size(capture) >= part1.size(); }, 30s));

    // The second program, given the same name (the binary filter, as the
    // first): a box says no, and why, and the file is as the first left it
    // (not emptied, not opened by the second).
    test_support::DialogAnswers answers;
    answers.Answer(capture, 2);
    test_support::MainWindow second({.Title = true});  // its boxes are recorded
    ASSERT_TRUE(test_support::ClickMenu(second.main, "Outputtofile1"));
    ASSERT_EQ(second.Messages.size(), 1u) << "no box in the second program";
    const std::string said = second.Messages[0];
    EXPECT_NE(said.find(capture), std::string::npos) << said;
    EXPECT_NE(said.find("in use by a program that lets no one else write it"), std::string::npos) << said;
    EXPECT_FALSE((second.main->OutputOn() != nullptr));
    EXPECT_FALSE(test_support::HoldsOpen(getpid(), capture)) << "the second program writes the capture";
    EXPECT_TRUE(ReadFile(capture) == part1) << "the first capture was changed";

    // The first goes on where it was: every byte once, no NULs in front.
    const std::string part2 = RandomBytes(64 * 1024, 2);
    ASSERT_EQ(device.Write(part2, 30s), part2.size());
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::file_size(capture) >= part1.size() + part2.size(); }, 30s));
    EXPECT_EQ(std::filesystem::file_size(capture), part1.size() + part2.size());
    EXPECT_TRUE(ReadFile(capture) == part1 + part2) << "the capture differs from what was sent";
    EXPECT_TRUE(first->Running());
}

}  // namespace
