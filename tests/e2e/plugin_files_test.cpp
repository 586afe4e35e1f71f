// Plug-in files as authors write them: a plug-in saved as UTF-8 shows and
// sends its Cyrillic text as the code page's bytes, one saved in the code
// page sends its bytes as written even where they are valid UTF-8 too, and
// an include that its bytes leave open is read as the file including it; a
// plug-in path that is no regular file is refused at once; a variable name
// with a line break is refused; the plug-in's Send reaches the transmit
// line's pseudo-commands.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/plugin_window.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"
#include "platform/vcl/file_text.h"
#include "support/main_window.h"

namespace {

using namespace std::chrono_literals;
using test_support::PluginWindow;

// Saved by an editor of today: UTF-8, no byte order mark.
constexpr const char* kPlugin = R"(// приветствие
procedure OnLoad;
begin
  AddMsg('привет');
  Send('привет');
end;

procedure OnSend;
begin
  if TD = 'names' then
  begin
    SetV('a', 'kept');
    SetV('a'#13'b', 'v');
  end
  else if TD = 'read' then
    AddMsg('[' + GetV('a'#10) + ']')
  else if TD = 'pseudo' then
  begin
    AddMsg('getv sent ' + IntToStr(Send('__getv(a)')));
    AddMsg('setv sent ' + IntToStr(Send('__setv(q,1)')));
    Send('end');
  end;
  TD := '';
end;
)";

TEST(plugin_files, a_utf8_plugin_reaches_window_and_device_in_the_code_page) {
    PluginWindow w(kPlugin);
    terminal::TMain* m = w.main;
    ASSERT_TRUE(m->Script != nullptr) << ::testing::PrintToString(w.Messages);
    const std::string hello = rtl::Utf8ToAnsi("привет");
    EXPECT_EQ(w.LastMsg(), hello);
    EXPECT_EQ(w.dev.Read(hello.size(), 2s), hello);

    // A name with a line break would set "A" to "b\rv": it is refused with
    // its own message, and the store keeps what it had.
    w.Messages.clear();
    EXPECT_EQ(w.Transmit("names"), 0u);
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_NE(w.Messages[0].find("\r\rBad variable name 'a'#13'b': a name cannot hold a line break"),
              std::string::npos)
        << w.Messages[0];
    EXPECT_EQ(m->GetPluginVar("A"), "kept");
    EXPECT_EQ(m->PluginVars->Count(), 1);
    // Reading one is refused the same way (as an error line: the send
    // event's error was shown in a box already).
    EXPECT_EQ(w.Transmit("read"), 0u);
    const std::vector<std::string> errors = w.LinesOf(terminal::dfERR);
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors.back().find("Bad variable name 'a'#10: a name cannot hold a line break"), std::string::npos)
        << errors.back();

    // The plug-in's Send goes through the transmit line's pseudo-commands:
    // they send nothing, and __setv sets the variable.
    EXPECT_EQ(w.Transmit("pseudo"), 0u);
    EXPECT_EQ(w.dev.Read(3, 2s), "end");
    EXPECT_EQ(m->GetPluginVar("Q"), "1");
    const std::vector<std::string> msgs = w.LinesOf(terminal::dfMSG);
    ASSERT_GE(msgs.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(msgs.end() - 4, msgs.end()),
              (std::vector<std::string>{"__getv(a) -> kept", "getv sent 0", "__setv(q,1)", "setv sent 0"}));
}

// Everything the device got up to the plug-in's closing '|'.
std::string SentUpToBar(test_support::PtyPair& dev) {
    std::string got;
    while (!got.ends_with('|')) {
        const std::string byte = dev.Read(1, 2s);
        if (byte.empty()) break;
        got += byte;
    }
    return got;
}

TEST(plugin_files, each_file_is_read_the_way_its_bytes_allow) {
    // A plug-in file and the file it includes, each saved in the code page
    // or as UTF-8; ONLOAD sends the main file's literal in <>, the
    // include's in []. Code-page text that is valid UTF-8 too (a capital
    // letter before І, і, Ё, §, ...) keeps its bytes and warns where a
    // UTF-8 reading would send others; UTF-8 holding a Russian or Ukrainian
    // word, or marked, is read as UTF-8; an include its bytes do not settle
    // is read as the plug-in file was.
    PluginWindow w("procedure OnLoad; begin end;");
    ASSERT_TRUE(w.main->cp1->Connected());
    const std::string mark = "\xEF\xBB\xBF";
    const std::string yes_cp = "\xE4\xE0";        // "да" in the code page
    const std::string yes_utf8 = "\xD0\xB4\xD0\xB0";  // "да" in UTF-8
    const std::string hello_cp = rtl::Utf8ToAnsi("привет");
    struct Case {
        std::string Name;
        std::string MainHead, MainText, IncHead, IncText;  // a head: a mark or a comment line before the text
        std::string Sent;                                  // what the device gets
        std::vector<std::string> Warned;                   // "<file>(<row>:<column>" of each warning
        std::string IncName = "inc.inc";                   // as written in the directive
        std::string IncFile = "inc.inc";                   // the include's name in program text
    };
    const Case cases[] = {
        // Code page, valid UTF-8 too: as written, with a warning.
        {"Ri", "", "\xD0\xB3", "", "", "<\xD0\xB3>[]|", {"main.pas(4:10"}},
        {"V_section", "", "\xC2\xA7", "", "", "<\xC2\xA7>[]|", {"main.pas(4:10"}},
        {"E_Yo", "", "\xC5\xA8", "", "", "<\xC5\xA8>[]|", {"main.pas(4:10"}},
        {"Ni", "", "\xCD\xB3", "", "", "<\xCD\xB3>[]|", {"main.pas(4:10"}},
        {"include_Ri", "", "", "", "\xD0\xB3", "<>[\xD0\xB3]|", {"inc.inc(3:10"}},
        // A word of the code page in a comment settles it: no warning.
        {"settled_Ri", "// " + yes_cp + "\r\n", "\xD0\xB3", "", "", "<\xD0\xB3>[]|", {}},
        {"code_page_text", "", hello_cp, "", hello_cp, "<" + hello_cp + ">[" + hello_cp + "]|", {}},
        // UTF-8: a Cyrillic word, or the mark.
        {"utf8_word", "", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "", "",
         "<" + rtl::Utf8ToAnsi("Привет") + ">[]|", {}},
        {"utf8_marked_letter", mark, "\xD0\xB3", mark, "\xC2\xB0", "<\xE3>[\xB0]|", {}},
        {"utf8_word_in_a_comment", "// " + yes_utf8 + "\r\n", "\xC2\xB0" "C", "", "", "<\xB0" "C>[]|", {}},
        // UTF-8 without either: the code page's bytes, and a warning that
        // says how to settle it.
        {"utf8_unsettled", "", "\xC2\xB0" "C", "", "", "<\xC2\xB0" "C>[]|", {"main.pas(4:10"}},
        {"utf8_outside_the_page_unsettled", "", "\xC3\xBC", "", "", "<\xC3\xBC>[]|", {"main.pas(4:10"}},
        // Capitals of the code page that read as other Cyrillic letters in
        // UTF-8 ("\xD1\xB2\xD0\xB2" is U+0472 U+0432) settle nothing; a
        // Ukrainian word in UTF-8 ("\xD1\x97\xD1\x97") does.
        {"code_page_capitals", "// \xD1\xB2\xD0\xB2\r\n", "\xD0\xB3", "", "", "<\xD0\xB3>[]|", {"main.pas(5:10"}},
        {"utf8_ukrainian_word", "// \xD1\x97\xD1\x97\r\n", "\xD2\x91", "", "", "<\xB4>[]|", {}},
        // An include whose bytes settle nothing is read as the file that
        // includes it; one whose bytes settle it keeps its own reading.
        {"utf8_main_open_include", "", yes_utf8, "", "\xD0\xB3", "<" + yes_cp + ">[\xE3]|", {}},
        {"utf8_main_code_page_include", "", yes_utf8, "// " + yes_cp + "\r\n", "\xD0\xB3",
         "<" + yes_cp + ">[\xD0\xB3]|", {}},
        {"code_page_main_utf8_include", "// " + yes_cp + "\r\n", "\xD0\xB3", "", yes_utf8,
         "<\xD0\xB3>[" + yes_cp + "]|", {}},
        // An include name finds its file whichever way it was meant.
        {"include_named_in_the_code_page", "", "", "", "", "<>[]|", {}, "\xD0\xB3.inc", "\xD0\xB3.inc"},
        {"include_named_in_utf8", "", "", "", "", "<>[]|", {}, "\xD0\xB3.inc", "\xE3.inc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string folder = w.dir.File(c.Name) + "/";
        std::filesystem::create_directories(rtl::SysPath(folder));
        const std::string main_file = folder + "main.pas";
        vcl::SaveStrToFile(c.MainHead + "{$I " + c.IncName + "}\r\nprocedure OnLoad;\r\nbegin\r\n  Send('<" + c.MainText +
                               ">');\r\n  SendInc;\r\n  Send('|');\r\nend;\r\n",
                           main_file);
        vcl::SaveStrToFile(c.IncHead + "procedure SendInc;\r\nbegin\r\n  Send('[" + c.IncText + "]');\r\nend;\r\n",
                           folder + c.IncFile);
        const std::size_t errors = w.LinesOf(terminal::dfERR).size();
        w.Messages.clear();
        try {
            w.main->LoadPlugin(main_file);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        EXPECT_EQ(SentUpToBar(w.dev), c.Sent);
        EXPECT_EQ(w.Messages, std::vector<std::string>{});
        const std::vector<std::string> lines = w.LinesOf(terminal::dfERR);
        std::vector<std::string> warned;
        for (std::size_t i = errors; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            const std::string head = "[Warning] " + folder;
            const std::string tail = "): The file is read in the code page (Windows-1251), but it is valid UTF-8 "
                                     "too, where this text literal reads otherwise. Save it as UTF-8 with a byte "
                                     "order mark to have it read as UTF-8; a comment such as \"// " +
                                     yes_cp + "\" (two letters " + rtl::Utf8ToAnsi("А-я") +
                                     " in a row) settles either reading";
            EXPECT_TRUE(line.starts_with(head) && line.ends_with(tail)) << line;
            warned.push_back(line.substr(head.size(), line.find("): ") - head.size()));
        }
        EXPECT_EQ(warned, c.Warned);
    }
}

TEST(plugin_files, an_include_its_bytes_leave_open_is_read_as_the_file_that_includes_it) {
    // A plug-in saved as UTF-8 without a mark, settled by the Cyrillic
    // folder its include is named by, and the files it includes, each
    // holding one letter beyond ASCII: as UTF-8 that letter is one
    // Cyrillic letter, in the code page two other letters, and nothing in
    // those files tells which. Each is read as the file that includes it
    // was, down the chain; a file whose bytes settle its reading (a word of
    // the code page, a byte order mark) keeps its own and hands it on.
    PluginWindow w("procedure OnLoad; begin end;");
    ASSERT_TRUE(w.main->cp1->Connected());
    const std::string folder = w.dir.File("chain") + "/";
    std::filesystem::create_directories(rtl::SysPath(folder + rtl::Utf8ToAnsi("вкл")));
    const auto save = [&](const std::string& name, const std::string& bytes) {
        vcl::SaveStrToFile(bytes, folder + rtl::Utf8ToAnsi(name));
    };
    save("main.pas",
         "{$I вкл/жук.inc}\r\n{$I cp.inc}\r\nprocedure OnLoad;\r\nbegin\r\n"
         "  Send('<' + 'я' + Bug + Deep + '>');\r\n  SendCp;\r\n  Send('|');\r\nend;\r\n");
    save("вкл/жук.inc", "const Bug = 'Ж';\r\n{$I mid.inc}\r\n");
    save("вкл/mid.inc", "// ASCII only\r\n{$I deep.inc}\r\n");
    save("вкл/deep.inc", "const Deep = 'Ё';\r\n");
    save("cp.inc", "// \xE4\xE0\r\n{$I cpdeep.inc}\r\n{$I marked.inc}\r\nprocedure SendCp;\r\nbegin\r\n"
                   "  Send('(' + '\xD0\xB3' + CpDeep + Marked + ')');\r\nend;\r\n");
    save("cpdeep.inc", "const CpDeep = 'Ж';\r\n");
    save("marked.inc", "\xEF\xBB\xBF" "const Marked = 'г';\r\n");
    w.Messages.clear();
    try {
        w.main->LoadPlugin(folder + "main.pas");
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
    EXPECT_EQ(SentUpToBar(w.dev), "<\xFF\xC6\xA8>(\xD0\xB3\xD0\x96\xE3)|");
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    // Only the include read in the code page is valid UTF-8 too, where its
    // literal would read otherwise.
    const std::vector<std::string> warnings = w.LinesOf(terminal::dfERR);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].starts_with("[Warning] " + folder + "cpdeep.inc(1:17): The file is read in the code page"))
        << warnings[0];
}

TEST(plugin_files, a_plugin_path_that_is_no_regular_file_is_refused_at_once) {
    test_support::MainWindow w({.Start = false});
    const std::string fifo = w.dir.File("plugin.pas");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& path : {std::string("/dev/zero"), fifo}) {
        w.Messages.clear();
        vcl::SaveStrToFile("[Config11]\r\nPlugPath=" + path + "\r\n", w.ini);
        w.Start();
        // Not loaded, with the box a missing file gives, naming the reason.
        EXPECT_TRUE(w.main->Script == nullptr);
        EXPECT_EQ(w.main->PluginPath, "");
        EXPECT_EQ(w.Messages, std::vector<std::string>{"Error loading plugin\r" + path + "\r\rCannot read \"" + path +
                                                       "\": it is not a regular file (a folder, a device or a "
                                                       "pipe)"});
    }
    // Neither grew the memory nor waited for a writer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

}  // namespace
