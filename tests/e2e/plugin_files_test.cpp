// Plug-in files as authors write them: a plug-in saved as UTF-8 shows and
// sends its Cyrillic text as the code page's bytes; a plug-in path that is
// no regular file is refused at once; a variable name with a line break is
// refused; the plug-in's Send reaches the transmit line's pseudo-commands.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "e2e/plugin_window.h"
#include "platform/rtl/cp1251.h"
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
