#include "platform/vcl/ini_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/rtl/cp1251.h"
#include "platform/vcl/string_list.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

using namespace vcl;

namespace {

using test_support::TempDir;

using test_support::Slurp;
using test_support::Spit;

// A settings file as the program stores it (CR LF lines, quoted values),
// with a comment a user added by hand.
const std::string kStoredSettings =
    "; edited by hand\r\n"
    "[Main]\r\n"
    "Left=100\r\n"
    "Maximized=1\r\n"
    "RVPnlTimeFormat=yyyy-mm-dd hh:nn:ss.zzz\r\n"
    "\r\n"
    "[TrHistory]\r\n"
    "Count=2\r\n"
    "Current=\"  spaced  \"\r\n"
    "0=\"12 34\"\r\n"
    "1='single'\r\n"
    "\r\n"
    "[Config11]\r\n"
    "Name=\r\n"
    "Port=3\r\n";

}  // namespace

// Settings files that users already have must load as they are and stay
// byte for byte the same when only read.
TEST(ini_files, reads_a_stored_settings_file_and_leaves_it_untouched) {
    TempDir dir;
    const std::string name = dir.path() + "/vostrel.ini";
    Spit(name, kStoredSettings);
    TIniFile ini(name);
    EXPECT_EQ(ini.ReadInteger("Main", "Left", 0), 100);
    EXPECT_EQ(ini.ReadInteger("MAIN", "left", 0), 100);  // names ignore case
    EXPECT_TRUE(ini.ReadBool("Main", "Maximized", false));
    EXPECT_EQ(ini.ReadString("Main", "RVPnlTimeFormat", ""), "yyyy-mm-dd hh:nn:ss.zzz");
    EXPECT_EQ(ini.ReadString("TrHistory", "Current", ""), "  spaced  ");
    EXPECT_EQ(ini.ReadString("TrHistory", "0", ""), "12 34");
    EXPECT_EQ(ini.ReadString("TrHistory", "1", ""), "single");
    EXPECT_EQ(ini.ReadString("Config11", "Name", "dflt"), "");  // present but empty
    EXPECT_EQ(ini.ReadString("Config11", "PlugPath", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("Config1", "Speed", 9600), 9600);
    EXPECT_TRUE(ini.SectionExists("config11"));
    EXPECT_FALSE(ini.SectionExists("Config1"));
    EXPECT_TRUE(ini.ValueExists("Main", "LEFT"));
    EXPECT_FALSE(ini.ValueExists("Main", "Top"));
    TStringList list;
    ini.ReadSection("TrHistory", list);
    EXPECT_EQ(list.CommaText(), "Count,Current,0,1");
    ini.ReadSections(list);
    EXPECT_EQ(list.CommaText(), "Main,TrHistory,Config11");
    ini.ReadSectionValues("TrHistory", list);
    EXPECT_EQ(list.Get(1), "Current=  spaced  ");
    // reading changes nothing on disk
    EXPECT_EQ(Slurp(name), kStoredSettings);
}

TEST(ini_files, numbers_booleans_and_limits_follow_the_profile_rules) {
    TempDir dir;
    const std::string name = dir.path() + "/n.ini";
    Spit(name, "[S]\r\nhex=$1F\r\nchex=0x10\r\nbad=12x\r\nneg=-5\r\nb2=2\r\nb0=0\r\n"
               "btext=true\r\nf=1.5\r\nfbad=1,5\r\n  spaced key  =  v  \r\nlong=\"" +
                   std::string(3000, 'x') + "\"\r\nhalf=\"open\r\nmixed=\"x'\r\n");
    TIniFile ini(name);
    EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("S", "chex", 0), 16);
    EXPECT_EQ(ini.ReadInteger("S", "bad", 7), 7);
    EXPECT_EQ(ini.ReadInteger("S", "neg", 7), -5);
    EXPECT_TRUE(ini.ReadBool("S", "b2", false));
    EXPECT_FALSE(ini.ReadBool("S", "b0", true));
    EXPECT_TRUE(ini.ReadBool("S", "btext", true));   // not a number: the default
    EXPECT_FALSE(ini.ReadBool("S", "btext", false));
    EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "f", 0), 1.5);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "fbad", 2.5), 2.5);
    EXPECT_EQ(ini.ReadString("S", "spaced key", ""), "v");
    EXPECT_EQ(ini.ReadString("S", "long", ""), std::string(3000, 'x'));  // whole, however long
    EXPECT_EQ(ini.ReadString("S", "half", ""), "\"open");
    EXPECT_EQ(ini.ReadString("S", "mixed", ""), "\"x'");
}

TEST(ini_files, writing_replaces_only_its_key_and_keeps_every_other_byte) {
    TempDir dir;
    const std::string name = dir.path() + "/vostrel.ini";
    Spit(name, kStoredSettings + "garbage line without equals\r\n[Tail]\nlf=only\n");
    {
        TIniFile ini(name);
        ini.WriteInteger("main", "LEFT", 200);     // existing key, other spelling
        ini.WriteInteger("Main", "Top", 50);       // new key in an existing section
        ini.WriteString("TrPatterns", "1", "\"  a b  \"");  // new section
        ini.WriteBool("Config11", "DTR", false);
    }
    const std::string expected =
        "; edited by hand\r\n"
        "[Main]\r\n"
        "LEFT=200\r\n"
        "Maximized=1\r\n"
        "RVPnlTimeFormat=yyyy-mm-dd hh:nn:ss.zzz\r\n"
        "Top=50\r\n"
        "\r\n"
        "[TrHistory]\r\n"
        "Count=2\r\n"
        "Current=\"  spaced  \"\r\n"
        "0=\"12 34\"\r\n"
        "1='single'\r\n"
        "\r\n"
        "[Config11]\r\n"
        "Name=\r\n"
        "Port=3\r\n"
        "garbage line without equals\r\n"
        "DTR=0\r\n"
        "[Tail]\n"
        "lf=only\n"
        "\r\n"
        "[TrPatterns]\r\n"
        "1=\"  a b  \"\r\n";
    EXPECT_EQ(Slurp(name), expected);
    TIniFile again(name);
    EXPECT_EQ(again.ReadString("TrPatterns", "1", ""), "  a b  ");
    EXPECT_EQ(again.ReadInteger("Main", "Left", 0), 200);
    EXPECT_EQ(again.ReadString("Tail", "lf", ""), "only");
}

TEST(ini_files, history_rewritten_shorter_keeps_the_old_keys) {
    TempDir dir;
    const std::string name = dir.path() + "/h.ini";
    {
        TIniFile ini(name);  // no file yet: defaults, nothing created by reading
        EXPECT_EQ(ini.ReadInteger("TrHistory", "Count", 0), 0);
        EXPECT_EQ(access(name.c_str(), F_OK), -1);
        ini.WriteInteger("TrHistory", "Count", 7);
        for (int i = 0; i < 7; ++i) ini.WriteString("TrHistory", std::to_string(i), "\"e" + std::to_string(i) + "\"");
    }
    {
        TIniFile ini(name);
        ini.WriteInteger("TrHistory", "Count", 3);
        for (int i = 0; i < 3; ++i) ini.WriteString("TrHistory", std::to_string(i), "\"n" + std::to_string(i) + "\"");
    }
    TIniFile ini(name);
    EXPECT_EQ(ini.ReadInteger("TrHistory", "Count", 0), 3);
    EXPECT_EQ(ini.ReadString("TrHistory", "2", ""), "n2");
    EXPECT_EQ(ini.ReadString("TrHistory", "6", ""), "e6");
    EXPECT_EQ(Slurp(name).substr(0, 13), "[TrHistory]\r\n");
}

TEST(ini_files, hostile_content_neither_crashes_nor_forges_keys) {
    TempDir dir;
    const std::string name = dir.path() + "/g.ini";
    std::string garbage;
    for (int i = 0; i < 100000; ++i) garbage += static_cast<char>((i * 131) % 256);
    garbage += "\r\n[S]\r\nk=" + std::string(1 << 20, 'v') + "\r\n=novalue\r\n[\r\n]=x\r\n";
    Spit(name, garbage);
    TIniFile ini(name);
    EXPECT_EQ(ini.ReadString("S", "k", "").size(), 1u << 20);
    ini.WriteString("S", "new", "line1\r\n[Main]\r\nLeft=1");
    TIniFile back(name);
    EXPECT_EQ(back.ReadString("S", "new", ""), "line1  [Main]  Left=1");
    EXPECT_FALSE(back.SectionExists("Main"));
    EXPECT_EQ(back.ReadString("S", "k", "").size(), 1u << 20);
    // the garbage before the first section is still there, byte for byte
    EXPECT_EQ(Slurp(name).substr(0, 100000), garbage.substr(0, 100000));
    // a device that never ends reads as an empty file
    EXPECT_EQ(TIniFile("/dev/zero").ReadString("S", "k", "d"), "d");
    // a byte order mark from an editor does not hide the first section
    Spit(name, "\xEF\xBB\xBF[Main]\r\nLeft=5\r\n");
    EXPECT_EQ(TIniFile(name).ReadInteger("Main", "Left", 0), 5);
}

TEST(ini_files, cyrillic_names_ignore_case_and_bytes_stay_windows_1251) {
    TempDir dir;
    const std::string name = dir.path() + "/c.ini";
    TIniFile ini(name);
    ini.WriteString(rtl::Utf8ToAnsi("Раздел"), rtl::Utf8ToAnsi("Ключ"), rtl::Utf8ToAnsi("Значение"));
    TIniFile back(name);
    EXPECT_EQ(back.ReadString(rtl::Utf8ToAnsi("РАЗДЕЛ"), rtl::Utf8ToAnsi("ключ"), ""),
              rtl::Utf8ToAnsi("Значение"));
    EXPECT_EQ(Slurp(name), rtl::Utf8ToAnsi("[Раздел]\r\nКлюч=Значение\r\n"));
}

TEST(ini_files, erase_section_and_delete_key) {
    TempDir dir;
    const std::string name = dir.path() + "/e.ini";
    Spit(name, "[A]\r\nx=1\r\ny=2\r\nX=dup\r\n[B]\r\nz=3\r\n[a]\r\nw=4\r\n");
    TIniFile ini(name);
    TStringList list;
    ini.ReadSection("A", list);
    EXPECT_EQ(list.CommaText(), "x,y");  // the first of repeated keys and sections counts
    ini.ReadSections(list);
    EXPECT_EQ(list.CommaText(), "A,B");
    ini.DeleteKey("a", "X");
    ini.EraseSection("b");
    ini.EraseSection("missing");
    EXPECT_EQ(Slurp(name), "[A]\r\ny=2\r\nX=dup\r\n[a]\r\nw=4\r\n");
}

TEST(ini_files, a_failed_write_leaves_the_old_file_and_raises) {
    TempDir dir;
    // the file name is a folder: nothing can be written there
    const std::string folder = dir.path() + "/folder.ini";
    mkdir(folder.c_str(), 0700);
    TIniFile blocked(folder);
    try {
        blocked.WriteString("S", "k", "v");
        FAIL();
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message, "Unable to write to " + folder + ": Is a directory");
    }
    EXPECT_FALSE(blocked.ValueExists("S", "k"));  // the object did not change either
    EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir.path() + "' | grep -v '^folder.ini$')\"").c_str()), 0)
        << "a temporary file was left behind";

    const std::string name = dir.path() + "/vostrel.ini";
    Spit(name, kStoredSettings);
    TIniFile missingFolder(dir.path() + "/no/such/vostrel.ini");
    EXPECT_THROW(missingFolder.WriteInteger("Main", "Left", 1), EIniFileException);

    if (geteuid() != 0) {  // permissions do not bite for root
        TIniFile ini(name);
        chmod(dir.path().c_str(), 0500);
        EXPECT_THROW(ini.WriteInteger("Main", "Left", 1), EIniFileException);
        chmod(dir.path().c_str(), 0700);
        EXPECT_EQ(Slurp(name), kStoredSettings);
        EXPECT_EQ(ini.ReadInteger("Main", "Left", 0), 100);
    }
}

TEST(ini_files, a_file_there_that_cannot_be_read_is_never_written_anew) {
    // A settings file the user may write but not read (or one on a failing
    // disk) reads as empty; writing it anew from that would drop every key
    // it holds, the named profiles among them.
    TempDir dir;
    const std::string name = dir.File("vostrel.ini");
    Spit(name, kStoredSettings);
    ASSERT_EQ(chmod(name.c_str(), 0222), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);  // room for the temporary beside it
    const std::string expected =
        "Unable to write to " + name + ": it could not be read, and writing it anew would lose what it holds";
    // Permissions do not bite for root: the check runs in a child that gives
    // up its rights first (and as it is for anyone else).
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)) _exit(2);
        TIniFile ini(name);
        if (ini.ReadFailure().find("Permission denied") == std::string::npos) _exit(6);
        try {
            ini.WriteInteger("Main", "Left", 1);
            _exit(3);
        } catch (const EIniFileException& e) {
            _exit(e.Message == expected ? 0 : 4);
        } catch (...) {
            _exit(5);
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(name.c_str(), 0600);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: rights not given up, 3: written, 4: another message, "
                                         "5: another error, 6: the reason not kept";
    EXPECT_EQ(Slurp(name), kStoredSettings);
}

TEST(ini_files, a_full_disk_leaves_the_old_file_whole) {
    TempDir dir;
    const std::string name = dir.File("vostrel.ini");
    Spit(name, kStoredSettings);
    TIniFile ini(name);
    // A file size limit stands in for a full disk: writes past it fail (EFBIG).
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 1000;
    auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        ini.WriteString("TrHistory", "0", std::string(5000, 'x'));
    } catch (const EIniFileException& e) {
        raised = e.Message == "Unable to write to " + name + ": File too large";
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(raised);
    EXPECT_EQ(Slurp(name), kStoredSettings);
    EXPECT_EQ(ini.ReadString("TrHistory", "0", ""), "12 34");
    EXPECT_EQ(std::system(("test $(ls -A '" + dir.path() + "' | wc -l) -eq 1").c_str()), 0)
        << "a temporary file was left behind";
    ini.WriteString("TrHistory", "0", "ok");  // room again: the next write succeeds
    EXPECT_EQ(TIniFile(name).ReadString("TrHistory", "0", ""), "ok");
}

TEST(ini_files, writing_through_a_link_updates_the_linked_file) {
    TempDir dir;
    const std::string real = dir.path() + "/real.ini", link = dir.path() + "/link.ini";
    Spit(real, "[A]\r\nx=1\r\n");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    TIniFile(link).WriteInteger("A", "x", 2);
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Slurp(real), "[A]\r\nx=2\r\n");
}
