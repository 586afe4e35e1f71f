// Where the settings live when the program's folder takes no files: in the
// user's configuration folder, starting from the settings found beside the
// program. (A program folder named in any letters: the program-start tests.)
#include "terminal/config_location.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/file_contents.h"
#include "support/long_folder.h"
#include "support/main_window.h"
#include "support/read_only_folder.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using terminal::ConfigLocation;

using test_support::Slurp;
using test_support::Spit;

// Starts the main window on the settings of Location, checks that nothing
// was reported, and closes it as the user does (the settings are written).
template <class Check>
void StartAndClose(const terminal::TConfigLocation& Location, Check&& Checks) {
    test_support::MainWindow w({.Ini = Location.FileName, .Seed = Location.SeedFileName});
    EXPECT_TRUE(w.Messages.empty()) << w.Messages[0];
    Checks(*w.main);
    bool can = true;
    w.main->FormCloseQuery(w.main, can);
    EXPECT_TRUE(w.Messages.empty()) << w.Messages[0];
}

TEST(config_location, a_read_only_program_folder_moves_the_settings_to_the_users_folder_started_from_its_own) {
    test_support::TempDir dir;
    const std::string program = dir.File("program"), seed = program + "/vostrel.ini";
    fs::create_directory(program);
    const std::string seeded = "[Main]\r\nNoTimeBeginPeriod=1\r\n[Config1]\r\nName=Lab\r\nSpeed=19200\r\n"
                               "[Config11]\r\nSpeed=4800\r\n";
    Spit(seed, seeded);
    test_support::ReadOnlyFolder readOnly(program);
    if (!readOnly.ReadOnly()) GTEST_SKIP() << "no read-only mount can be made here";

    setenv("XDG_CONFIG_HOME", dir.File("cfg").c_str(), 1);
    const terminal::TConfigLocation place = ConfigLocation(program);
    EXPECT_EQ(place.FileName, dir.File("cfg/vostrel/vostrel.ini"));
    EXPECT_EQ(place.SeedFileName, seed);
    StartAndClose(place, [&](terminal::TMain& m) {
        ASSERT_EQ(m.CBProfile->Items().Count(), 1);
        EXPECT_EQ(m.CBProfile->Items().Strings(0), "Lab");
        EXPECT_EQ(m.speedcb->Text(), "4800");
        m.TrBCB->SetText("kept");
    });
    struct stat st {};
    ASSERT_EQ(stat(dir.File("cfg/vostrel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // What closing does not write came along from the program's file.
    const std::string written = Slurp(place.FileName);
    for (const char* line : {"NoTimeBeginPeriod=1", "Name=Lab", "Current=\"kept\""})
        EXPECT_NE(written.find(line), std::string::npos) << line << " in " << written;
    EXPECT_EQ(Slurp(seed), seeded);
    StartAndClose(place, [&](terminal::TMain& m) { EXPECT_EQ(m.TrBCB->Text(), "kept"); });

    // No absolute configuration folder named: the one in the home folder.
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", dir.File("home").c_str(), 1);
    EXPECT_EQ(ConfigLocation(program).FileName, dir.File("home/.config/vostrel/vostrel.ini"));
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
}

TEST(config_location, settings_beside_the_program_that_cannot_be_copied_leave_a_trace_and_are_written_afresh) {
    // A regular file whose reading fails (as on a failing disk): the system's
    // memory file of this process, read from its start.
    test_support::TempDir dir;
    const std::string seed = dir.File("vostrel.ini");
    fs::create_symlink("/proc/self/mem", seed);
    const terminal::TConfigLocation place{dir.File("cfg/vostrel/vostrel.ini"), seed};
    ::testing::internal::CaptureStderr();
    terminal::PrepareConfigFile(place);
    const std::string trace = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(trace.rfind("vostrel: copying the settings beside the program: Cannot read \"" + seed + "\": ", 0), 0u)
        << trace;
    EXPECT_TRUE(trace.ends_with("error\n")) << trace;
    EXPECT_FALSE(fs::exists(place.FileName));
    EXPECT_TRUE(fs::is_directory(dir.File("cfg/vostrel")));
}

TEST(config_location, a_program_folder_with_a_long_path_keeps_the_settings_beside_the_program) {
    test_support::TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.File("cfg").c_str(), 1);
    // Room for the settings file's name, not for the longer name of the
    // probe that finds out whether the folder takes files.
    const test_support::LongFolder program(dir.path(), PATH_MAX - 16);
    ASSERT_FALSE(program.Path().empty()) << "the long folder could not be made";
    const terminal::TConfigLocation place = ConfigLocation(program.Path() + "/");
    EXPECT_EQ(place.FileName, program.Path() + "/vostrel.ini");
    EXPECT_EQ(place.SeedFileName, "");
    StartAndClose(place, [&](terminal::TMain& m) { m.TrBCB->SetText("kept"); });
    EXPECT_NE(Slurp(place.FileName).find("Current=\"kept\""), std::string::npos);
    StartAndClose(place, [&](terminal::TMain& m) { EXPECT_EQ(m.TrBCB->Text(), "kept"); });
    EXPECT_FALSE(fs::exists(dir.File("cfg")));

    // A folder where the settings file's own name would pass the limit
    // cannot hold it: the user's folder does.
    const test_support::LongFolder longer(dir.path(), PATH_MAX - 6);
    ASSERT_FALSE(longer.Path().empty());
    EXPECT_EQ(ConfigLocation(longer.Path() + "/").FileName, dir.File("cfg/vostrel/vostrel.ini"));
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
