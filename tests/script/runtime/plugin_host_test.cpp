// The plug-in host as the main window uses it: plug-in sources compiled
// with the plug-in library, loaded, and their events run, with requests
// answered by a device-like owner; the library's functions through real
// scripts; include files on disk; errors as the user reads them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/timer.h"
#include "platform/win/timers.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/my_script.h"
#include "support/fifo_reader.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "support/processor_share.h"

namespace script::runtime {
namespace {

using namespace std::chrono_literals;

// The owner of a host: answers requests as a terminal with a device that
// echoes what is sent would, and records them.
struct Owner {
    std::vector<std::pair<std::int32_t, std::string>> Requests;
    std::map<std::string, std::string> Vars;
    std::string Pending;  // what the device has sent back
    std::vector<std::string> Shown;

    Owner() {
        vcl::EnsureApplication();
        vcl::Application->MessageHook = [this](const vcl::TMessageRequest& r) {
            Shown.push_back(r.Text);
            return vcl::IDYES;
        };
        vcl::Application->DialogHook = [](vcl::TCommonDialog&) { return false; };
    }
    ~Owner() {
        vcl::Application->MessageHook = nullptr;
        vcl::Application->DialogHook = nullptr;
    }

    TScriptRequestEvent Callback() {
        return [this](std::int32_t code, const std::string& text, std::string& reply) {
            Requests.emplace_back(code, text);
            switch (code) {
                case srSend:
                case srSend2:
                    // An echo, and a modem's answer to a command line.
                    Pending += text;
                    if (!text.empty() && text.back() == '\r') Pending += "\r\nOK\r\n";
                    reply = std::to_string(text.size());
                    break;
                case srRecv: {
                    const auto n = static_cast<std::size_t>(rtl::StrToIntDef("$" + text.substr(0, 8), 0));
                    reply = Pending.substr(0, n == 0 ? Pending.size() : n);
                    Pending.erase(0, reply.size());
                    break;
                }
                case srSetV: {
                    const auto cr = text.find('\r');
                    Vars[text.substr(0, cr)] = text.substr(cr + 1);
                    break;
                }
                case srGetV: reply = Vars[text]; break;
                default: break;
            }
        };
    }
    int Count(std::int32_t code) const {
        int n = 0;
        for (const auto& r : Requests) n += r.first == code;
        return n;
    }
};

std::string PluginDir() { return std::string(VOSTREL_SOURCE_DIR_DEFAULT) + "/tests/script/compiler/plugins"; }

// What a compile raised, or "" when it compiled.
std::string CompileError(TMyScript& host, const std::string& source, const std::string& file = "p.pas") {
    try {
        host.Compile(source, file);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

TEST(plugin_host, every_plugin_compiles_loads_and_runs_its_events_through_the_host) {
    // A plug-in that names its files relatively (the logger's received.log)
    // writes them into a folder of the test's own.
    test_support::TempDir dir;
    const std::filesystem::path was = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    struct Back {
        std::filesystem::path to;
        ~Back() { std::filesystem::current_path(to); }
    } back{was};
    Owner owner;
    int plugins = 0;
    int events = 0;
    std::vector<std::string> failures;
    std::vector<std::string> stopped;
    for (const auto& entry : std::filesystem::directory_iterator(PluginDir())) {
        if (entry.path().extension() != ".pas") continue;
        const std::string file = entry.path().string();
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        TMyScript host(owner.Callback());
        ASSERT_EQ(CompileError(host, vcl::LoadStrFromFile(file), file), "");
        ++plugins;
        owner.Vars["total_bytes"] = "1000";
        // A plug-in that keeps the window longer than this is stopped from
        // the message loop, as the user's Unload would.
        vcl::TTimer guard(nullptr);
        guard.SetInterval(1500);
        guard.SetOnTimer([&](vcl::TComponent*) { host.Stop(); });
        const std::pair<const char*, bool> kEvents[] = {{"ONLOAD", host.HasOnLoad()},
                                                        {"ONSEND", host.HasOnSend()},
                                                        {"ONRECEIVE", host.HasOnReceive(true)},
                                                        {"ONRECEIVE2", host.HasOnReceive(false)}};
        for (const auto& [event, declared] : kEvents) {
            if (!declared) continue;
            ++events;
            host.SetTD(std::string("\x01\x02\x03hello\r\n", 10));
            host.SetRD(true, "$GPGGA,1,2*33\r\n");
            host.SetRD(false, std::string("\x10\x02\x7F", 3));
            guard.SetEnabled(false);
            guard.SetEnabled(true);
            const auto start = std::chrono::steady_clock::now();
            try {
                if (std::string(event) == "ONLOAD") host.RunOnLoad();
                if (std::string(event) == "ONSEND") host.RunOnSend();
                if (std::string(event) == "ONRECEIVE") host.RunOnReceive(true);
                if (std::string(event) == "ONRECEIVE2") host.RunOnReceive(false);
            } catch (const std::exception& e) {
                // A script error: the text the window would show names its place.
                const std::string text = host.ExceptionText(e);
                EXPECT_EQ(text.rfind("An exception occurred during script execution (proc=", 0), 0u) << text;
                failures.push_back(name + " " + event + ": " + e.what());
            }
            guard.SetEnabled(false);
            EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << event;
            if (host.Stopped()) {
                stopped.push_back(name + " " + event);
                break;  // a stopped plug-in is unloaded by its owner
            }
            EXPECT_EQ(host.Exec()->Status(), TPSStatus::isLoaded) << event;
        }
    }
    EXPECT_EQ(plugins, 40);
    EXPECT_GE(events, 60);
    // Plug-ins talk to the owner: sends, messages, variables and reads.
    EXPECT_GT(owner.Count(srSend), 10);
    EXPECT_GT(owner.Count(srAddMsg), 10);
    EXPECT_GT(owner.Count(srRecv), 5);
    EXPECT_GT(owner.Count(srSetV), 0);
    EXPECT_GT(owner.Count(srGraphAdd), 0);
    // A plug-in that reads numbers fails on text, as a script does.
    EXPECT_EQ(failures, std::vector<std::string>{"open_array_stats.pas ONRECEIVE: Invalid float"})
        << ::testing::PrintToString(failures);
    // Fifty samples 200 ms apart take longer than the guard allows.
    EXPECT_EQ(stopped, std::vector<std::string>{"polling_loop.pas ONLOAD"}) << ::testing::PrintToString(stopped);
}

TEST(plugin_host, library_functions_give_what_plugins_rely_on) {
    Owner owner;
    test_support::TempDir dir;
    TMyScript host(owner.Callback());
    const std::string file = dir.File("data.bin");
    const std::string source = R"(
var w: Word; c: Cardinal; b: Byte; d: Double; e: Extended; i64: Int64; s: string;
function BoolToStr(x, unused: Boolean): string;
begin
  if x then Result := 'True' else Result := 'False';
end;
procedure OnLoad;
var v1, v2, v3: Variant; ok: Boolean; got: string;
begin
  w := $1234;
  TD := Data2Str(w);                    { 34 12 }
  c := $AABBCCDD;
  Str2Data(#1#2, c);                    { the two bytes, the rest zero }
  RD := Data2Str(c);
  d := 1.5;
  RD2 := Data2Str(d) + Data2Str(Int64(-2));
  v1 := 1; v2 := Byte(2); v3 := 'ab';
  AddMsg(ArrayToHex(Compose([v1, v2, v3]), True));
  v3 := True;
  AddMsg('[' + Compose([v1, v3]) + ']');
  AddMsg(Format('%d-%s-%.2f-%x', [42, 'x', 2.5, 255]));
  AddMsg(IntToHex(MakeWord(Lo($1234), Hi($1234)), 4) + IntToHex(MakeLong(LoWord($10002), HiWord($10002)), 8));
  AddMsg(IntToHex(Swap32($01020304), 8) + ' ' + Reverse('abc'));
  AddMsg(IntToStr(Random(0)) + IntToStr(Random(-5)));
  AddMsg(IntToStr(Send('ping')));
  ok := Recv(2, 100, got);
  AddMsg(got + BoolToStr(ok, True));
  ok := Recv(10, 100, got);
  AddMsg(got + BoolToStr(ok, True));
  ok := Recv(0, 100, got);
  AddMsg('[' + got + ']' + BoolToStr(ok, True));
  SetV('name', 'value');
  AddMsg(GetV('name'));
  GraphAdd(0.25);
  UpdMsg('u'); AddErr('e'); PurgeRx;
  AddMsg(IntToStr(MsgBox('q', 'c', 4)));
  ok := SaveStrToFile(')" + file + R"(', #0'data'#255);
  AddMsg(BoolToStr(ok, True));
  ok := LoadStrFromFile(')" + file + R"(', got);
  AddMsg(BoolToStr(ok, True) + ArrayToHex(got, False));
  ok := LoadStrFromFile(')" + dir.File("none") + R"(', got);
  AddMsg(BoolToStr(ok, True) + '[' + got + ']');
  AddMsg(BoolToStr(LoadStrFromFile(')" + dir.path() + R"(', got), True));
  AddMsg(BoolToStr(SaveStrToFile(')" + dir.File("no/such/file") + R"(', 'x'), True));
  AddMsg(BoolToStr(LoadStrFromFile('', got), True));
end;
begin end.)";
    ASSERT_EQ(CompileError(host, source), "");
    ASSERT_TRUE(host.HasOnLoad());
    EXPECT_FALSE(host.HasOnSend());
    host.RunOnLoad();
    EXPECT_EQ(host.GetTD(), "\x34\x12");
    EXPECT_EQ(host.GetRD(true), std::string("\x01\x02\x00\x00", 4));
    double d = 0;
    std::int64_t i = 0;
    ASSERT_EQ(host.GetRD(false).size(), 16u);
    std::memcpy(&d, host.GetRD(false).data(), 8);
    std::memcpy(&i, host.GetRD(false).data() + 8, 8);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(i, -2);

    std::vector<std::string> msgs;
    std::vector<std::pair<std::int32_t, std::string>> others;
    for (const auto& [code, text] : owner.Requests) {
        if (code == srAddMsg)
            msgs.push_back(text);
        else
            others.emplace_back(code, text);
    }
    EXPECT_EQ(msgs, (std::vector<std::string>{
                        "01 00 00 00 02 61 62", "[]", "42-x-2.50-FF", "123400010002", "04030201 cba", "00", "4",
                        "piTrue", "ngFalse", "[]True", "value", "6", "True", "True0064617461FF", "False[]", "False",
                        "False", "False"}));
    ASSERT_EQ(others.size(), 10u);
    double point = 0;
    ASSERT_EQ(others[6].second.size(), 8u);
    std::memcpy(&point, others[6].second.data(), 8);
    EXPECT_EQ(point, 0.25);
    others[6].second = "0.25";
    EXPECT_EQ(others, (std::vector<std::pair<std::int32_t, std::string>>{{srSend, "ping"},
                                                                      {srRecv, "0000000200000064"},
                                                                      {srRecv, "0000000A00000064"},
                                                                      {srRecv, "0000000000000064"},
                                                                      {srSetV, "name\rvalue"},
                                                                      {srGetV, "name"},
                                                                      {srGraphAdd, "0.25"},
                                                                      {srUpdMsg, "u"},
                                                                      {srAddErr, "e"},
                                                                      {srPurgeRx, ""}}));
    EXPECT_EQ(owner.Count(srGetV), 1);
    EXPECT_EQ(owner.Shown, std::vector<std::string>{"q"});
}

TEST(plugin_host, a_plugin_decodes_rd_byte_by_byte_and_leaves_it_as_the_host_set_it) {
    Owner owner;
    TMyScript host(owner.Callback());
    const std::string source = R"(
var Lines: Integer;
function Checksum(const s: string): Integer;
var i: Integer;
begin
  Result := 0;
  for i := 1 to Length(s) do Result := (Result + Ord(s[i])) and $FF;
end;
procedure Upper(var s: string);
var i: Integer;
begin
  for i := 1 to Length(s) do if (s[i] >= 'a') and (s[i] <= 'z') then s[i] := Chr(Ord(s[i]) - 32);
end;
procedure OnReceive;
var i: Integer; buf, line: string;
begin
  Lines := 0;
  for i := 1 to Length(RD) do if RD[i] = #10 then Lines := Lines + 1;
  buf := RD;
  Upper(buf);
  line := '';
  for i := 1 to Length(buf) do if buf[i] <> #13 then line := line + buf[i];
  AddMsg(IntToStr(Lines) + ' ' + IntToStr(Checksum(RD)) + ' ' + IntToStr(Pos('*', RD)) + ' ' + Copy(RD, 2, 5) +
         ' ' + line);
end;
begin end.)";
    ASSERT_EQ(CompileError(host, source), "");
    const std::string chunks[] = {"$gpgga,1,2*33\r\n$gprmc,x\r\n", std::string("\xE0z*\n", 4)};
    for (const std::string& rd : chunks) {
        owner.Requests.clear();
        host.SetRD(true, rd);
        const void* block = LoadStr(ValueOfTypedValue(host.Exec()->FindGlobalVar("RD")));
        host.RunOnReceive(true);
        int sum = 0;
        for (const char c : rd) sum = (sum + static_cast<unsigned char>(c)) & 0xFF;
        std::string upper;
        for (const char c : rd)
            if (c != '\r') upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        const std::string expected = std::to_string(std::count(rd.begin(), rd.end(), '\n')) + " " +
                                     std::to_string(sum) + " " + std::to_string(rd.find('*') + 1) + " " +
                                     rd.substr(1, 5) + " " + upper;
        EXPECT_EQ(owner.Requests, (std::vector<std::pair<std::int32_t, std::string>>{{srAddMsg, expected}}));
        // RD holds the text the host gave it, in the same block, which
        // nothing else holds once the event is over.
        EXPECT_EQ(host.GetRD(true), rd);
        EXPECT_EQ(LoadStr(ValueOfTypedValue(host.Exec()->FindGlobalVar("RD"))), block);
        EXPECT_EQ(BlockRefCount(block), 1);
    }
}

TEST(plugin_host, errors_read_as_the_user_sees_them) {
    Owner owner;
    test_support::TempDir dir;
    TMyScript host(owner.Callback());
    // Compile errors: every message with its file, row and column, each
    // ending in a line break.
    EXPECT_EQ(CompileError(host, "procedure OnLoad;\nbegin\n  x := 1;\nend;\nbegin end.", "/p/a.pas"),
              "[Error] /p/a.pas(3:3): Unknown identifier 'x'\r");
    // An event of the wrong shape is reported where it is declared.
    EXPECT_EQ(CompileError(host, "function OnSend: Integer; begin Result := 1; end; begin end."),
              "[Error] p.pas(1:1): Type mismatch\r");
    EXPECT_EQ(CompileError(host, "// five lines\nfunction OnSend: Integer;\nbegin\n  Result := 1;\nend;\n"),
              "[Error] p.pas(2:1): Type mismatch\r");
    EXPECT_EQ(CompileError(host, "procedure OnLoad;\nbegin\nend;\n\n  procedure OnReceive(x: Integer); begin end;"),
              "[Error] p.pas(5:3): Type mismatch\r");
    // A byte order mark, as editors save it, is no part of the source; rows
    // and columns are those the editor shows, in an include too.
    vcl::SaveStrToFile("\xEF\xBB\xBFprocedure OnSend;\nbegin\n  y := 1;\nend;", dir.File("marked.inc"));
    EXPECT_EQ(CompileError(host, "\xEF\xBB\xBFprocedure OnLoad; begin end;\n{$I marked.inc}", dir.File("main.pas")),
              "[Error] " + dir.File("marked.inc") + "(3:3): Unknown identifier 'y'\r");
    EXPECT_EQ(CompileError(host, "\xEF\xBB\xBFprocedure OnLoad; begin z := 1; end;"),
              "[Error] p.pas(1:25): Unknown identifier 'z'\r");
    vcl::SaveStrToFile("\xEF\xBB\xBFprocedure OnSend; begin end;", dir.File("marked.inc"));
    EXPECT_EQ(CompileError(host, "\xEF\xBB\xBFprocedure OnLoad; begin end;\n{$I marked.inc}", dir.File("main.pas")), "");
    EXPECT_TRUE(host.HasOnSend());
    EXPECT_NE(CompileError(host, "uses Windows; begin end."), "");
    // Events in any letter case.
    EXPECT_EQ(CompileError(host, "procedure onload; begin end; procedure OnReceive2; begin end;"), "");
    EXPECT_TRUE(host.HasOnLoad());
    EXPECT_TRUE(host.HasOnReceive(false));
    EXPECT_FALSE(host.HasOnReceive(true));

    // Includes: beside the including file, "\" as a separator, any letter
    // case; a missing one is an error, an empty one is empty.
    std::filesystem::create_directories(dir.File("Lib"));
    vcl::SaveStrToFile("{$I Inner.INC}", dir.File("Lib/Outer.inc"));
    vcl::SaveStrToFile("procedure OnLoad; begin AddMsg('inner'); end;", dir.File("Lib/inner.inc"));
    vcl::SaveStrToFile("", dir.File("empty.inc"));
    EXPECT_EQ(CompileError(host, "{$I lib\\outer.inc}{$I empty.inc}", dir.File("main.pas")), "");
    host.RunOnLoad();
    EXPECT_EQ(owner.Requests.back(), std::make_pair(std::int32_t{srAddMsg}, std::string("inner")));
    EXPECT_EQ(CompileError(host, "{$I " + dir.File("Lib/INNER.inc") + "}", "/elsewhere/main.pas"), "");
    EXPECT_EQ(CompileError(host, "{$I missing.inc}", dir.File("main.pas")),
              "Unable to find file 'missing.inc' used from '" + dir.File("main.pas") + "'");

    // An image the loader refuses is no plug-in: its error is the message.
    EXPECT_EQ(CompileError(host, "var big: array[0..39999999] of Int64; procedure OnLoad; begin end;"),
              "Unexpected End Of File");

    // A script error: its text with the place, and the executor's message.
    ASSERT_EQ(CompileError(host, "procedure OnSend; var a: array of Integer; begin a[3] := 1; end;"), "");
    try {
        host.RunOnSend();
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(host.ExceptionText(e),
                  rtl::Format("An exception occurred during script execution (proc=%d, pos=%d)\r\r",
                              {static_cast<int>(host.Exec()->LastErrorProc()),
                               static_cast<int>(host.Exec()->LastErrorPos())}) +
                      e.what());
        EXPECT_STREQ(e.what(), "Out Of Range");
        host.ShowException(e);
        EXPECT_EQ(owner.Shown.back(), host.ExceptionText(e) + ".");
    }
    // A host exception raised inside a library call reaches the caller as it is.
    TMyScript failing([](std::int32_t, const std::string&, std::string&) {
        throw std::runtime_error("Port is not connected");
    });
    ASSERT_EQ(CompileError(failing, "procedure OnLoad; begin Send('x'); end;"), "");
    try {
        failing.RunOnLoad();
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Port is not connected");
    }
}

// The texts of the message requests a plug-in made, in order.
std::vector<std::string> MessagesOf(const Owner& owner) {
    std::vector<std::string> out;
    for (const auto& [code, text] : owner.Requests)
        if (code == srAddMsg) out.push_back(text);
    return out;
}

TEST(plugin_host, plugin_files_are_read_in_the_encodings_editors_save) {
    Owner owner;
    test_support::TempDir dir;
    TMyScript host(owner.Callback());
    const std::string source_file = dir.File("source_file.pas");
    const std::string hello = rtl::Utf8ToAnsi("привет");  // what reaches the window and the device
    // UTF-8 as every editor here saves it, with and without the byte order
    // mark: literals become the code page's bytes; an include named in
    // Cyrillic letters is found; rows and columns are the editor's.
    std::filesystem::create_directories(dir.File("кириллица"));
    vcl::SaveStrToFile("\xEF\xBB\xBF// файл\nprocedure OnSend; begin AddMsg('из файла ё'); end;",
                       dir.File(rtl::Utf8ToAnsi("кириллица/файл.inc")));
    for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
        owner.Requests.clear();
        ASSERT_EQ(CompileError(host, mark + "{ комментарий }\nprocedure OnLoad; begin AddMsg('привет'); end;\n"
                                            "{$I кириллица/файл.inc}",
                               source_file),
                  "");
        host.RunOnLoad();
        host.RunOnSend();
        EXPECT_EQ(MessagesOf(owner), (std::vector<std::string>{hello, rtl::Utf8ToAnsi("из файла ё")})) << mark.size();
        EXPECT_EQ(CompileError(host, mark + "procedure OnLoad; begin AddMsg('привет'); x := 1; end;", source_file),
                  "[Error] " + source_file + "(1:43): Unknown identifier 'x'\r");
    }
    // A letter the code page lacks: an error at its row and column inside a
    // literal (its bytes would go to the device), kept as it is elsewhere.
    EXPECT_EQ(CompileError(host, "// ü € 😀\n{ ü } (* 😀 *) procedure OnLoad; begin AddMsg('€ ok'); end;", source_file), "");
    EXPECT_EQ(CompileError(host, "procedure OnLoad;\nbegin\n  AddMsg('ü'); AddMsg('да😀');\nend;", source_file),
              "[Error] " + source_file + "(3:11): The character U+00FC of a text literal is not in the code page "
                                  "(Windows-1251)\r[Error] " +
                  source_file + "(3:26): The character U+1F600 of a text literal is not in the code page (Windows-1251)\r");
    vcl::SaveStrToFile("// проверка\r\nprocedure OnSend;\r\nbegin\r\n  AddMsg('ӝ');\r\nend;", dir.File("outside.inc"));
    EXPECT_EQ(CompileError(host, "{$I outside.inc}", source_file),
              "[Error] " + dir.File("outside.inc") +
                  "(4:11): The character U+04DD of a text literal is not in the code page (Windows-1251)\r");

    // A file in the code page reads as it always did: every letter of the
    // page, in a literal and in a comment, comes through as its byte.
    std::string letters;
    for (int b = 0x80; b <= 0xFF; ++b) letters += static_cast<char>(b);
    owner.Requests.clear();
    ASSERT_EQ(CompileError(host, "{ " + letters + " }\nprocedure OnLoad; begin AddMsg('" + letters + "'); end;", source_file),
              "");
    host.RunOnLoad();
    EXPECT_EQ(MessagesOf(owner), std::vector<std::string>{letters});

    // UTF-16 and UTF-32 are refused with a message that says so, with the
    // byte order mark or (UTF-16) without one, as a source_file file or an include.
    auto wide = [](const std::string& ascii, bool little) {
        std::string out;
        for (char c : ascii) out += little ? std::string{c, '\0'} : std::string{'\0', c};
        return out;
    };
    const std::string source = "procedure OnLoad; begin AddMsg('x'); end;";
    const std::string refused = "\" is saved as UTF-16, which plug-in files cannot be: save it as UTF-8 or in the "
                                "Windows-1251 code page";
    EXPECT_EQ(CompileError(host, "\xFF\xFE" + wide(source, true), source_file), "\"" + source_file + refused);
    EXPECT_EQ(CompileError(host, "\xFE\xFF" + wide(source, false), source_file), "\"" + source_file + refused);
    EXPECT_EQ(CompileError(host, wide(source, true), source_file), "\"" + source_file + refused);
    EXPECT_EQ(CompileError(host, wide(source, false), source_file), "\"" + source_file + refused);
    EXPECT_EQ(CompileError(host, std::string("\xFF\xFE\0\0", 4) + wide(wide(source, true), true), source_file),
              "\"" + source_file + "\" is saved as UTF-32, which plug-in files cannot be: save it as UTF-8 or in the "
                            "Windows-1251 code page");
    vcl::SaveStrToFile(wide(source, true), dir.File("wide.inc"));
    EXPECT_EQ(CompileError(host, "{$I wide.inc}", source_file), "\"" + dir.File("wide.inc") + refused);
}

TEST(plugin_host, a_plugin_in_utf8_compiles_as_the_same_plugin_in_the_code_page) {
    // Directives with blanks and control characters in them, as editors
    // leave them: each plug-in, saved in UTF-8 and in the code page,
    // compiles (or fails) alike and, once compiled, shows the same lines.
    Owner owner;
    test_support::TempDir dir;
    std::ofstream(dir.File("tab\tname.inc")) << "procedure OnSend; begin AddMsg('included'); end;";
    const std::string body = "procedure OnLoad; begin {$IFDEF привет}AddMsg('да'){$ELSE}AddMsg('нет'){$ENDIF}; end;\n";
    const std::string yes = rtl::Utf8ToAnsi("да");
    const std::string unknown = "Unknown compiler directives at ";
    struct Case {
        std::string Source;  // after a first line of its own
        std::string Error;
        std::vector<std::string> Shown;
    };
    const Case cases[] = {
        {"{$DEFINE привет}\n" + body, "", {yes}},
        {"{$DEFINE привет\t}\n{$IFDEF привет\t \t}{$ENDIF\t}\n" + body, "", {yes}},
        {"{$IFDEF X}{$ELSE\t}{$DEFINE привет\x0B\x0C}{$ENDIF \x1F}\n" + body, "", {yes}},
        {"{$IFDEF X\r\n}{$ENDIF\r\n\t}{$DEFINE привет}\n" + body, "", {yes}},
        // Blanks split a directive only where a blank is: these are unknown.
        {"{$DEFINE\tпривет}\n" + body, unknown + "2:1", {}},
        {"{$ENDIF\x7F}\n" + body, unknown + "2:1", {}},
        // An include's name reaches the system as written, its tab too.
        {"{$I tab\tname.inc\t}{$DEFINE привет}\n" + body, "", {yes, "included"}},
        {"{$I tab\tname.inc}\n{$I\ttab\tname.inc}\n" + body, unknown + "3:1", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.Source));
        const std::string utf8 = "// проверка\n" + c.Source;
        for (const std::string& text : {utf8, rtl::Utf8ToAnsi(utf8)}) {
            TMyScript host(owner.Callback());
            owner.Requests.clear();
            EXPECT_EQ(CompileError(host, text, dir.File("source.pas")), c.Error)
                << (text == utf8 ? "UTF-8" : "code page");
            if (!c.Error.empty()) continue;
            host.RunOnLoad();
            if (host.HasOnSend()) host.RunOnSend();
            EXPECT_EQ(MessagesOf(owner), c.Shown) << (text == utf8 ? "UTF-8" : "code page");
        }
    }
}

TEST(plugin_host, an_include_named_in_letters_outside_the_code_page_is_found) {
    // Program text keeps every file name the system can spell, so the name
    // written in a UTF-8 source opens that very file.
    Owner owner;
    test_support::TempDir dir;
    TMyScript host(owner.Callback());
    std::filesystem::create_directories(dir.File("ünï"));
    std::ofstream(dir.File("ünï/€.inc")) << "procedure OnLoad; begin AddMsg('found'); end;";
    ASSERT_EQ(CompileError(host, "{$I ünï/€.inc}", dir.File("source_file.pas")), "");
    host.RunOnLoad();
    EXPECT_EQ(MessagesOf(owner), std::vector<std::string>{"found"});
}

TEST(plugin_host, only_regular_files_are_read_and_a_refusal_says_why) {
    Owner owner;
    test_support::TempDir dir;
    TMyScript host(owner.Callback());
    const std::string source_file = dir.File("source_file.pas");
    const std::string fifo = dir.File("pipe.inc");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directories(dir.File("folder.inc"));
    // Reading a FIFO would wait for a writer, a device would never end: an
    // include names the file and the system's reason, at once.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CompileError(host, "{$I pipe.inc}", source_file),
              "Unable to find file 'pipe.inc' used from '" + source_file + "': Cannot read \"" + fifo +
                  "\": it is not a regular file (a folder, a device or a pipe)");
    EXPECT_EQ(CompileError(host, "{$I folder.inc}", source_file),
              "Unable to find file 'folder.inc' used from '" + source_file + "': Cannot read \"" + dir.File("folder.inc") +
                  "\": it is not a regular file (a folder, a device or a pipe)");
    EXPECT_EQ(CompileError(host, "{$I /dev/zero}", source_file),
              "Unable to find file '/dev/zero' used from '" + source_file +
                  "': Cannot read \"/dev/zero\": it is not a regular file (a folder, a device or a pipe)");
    // The script's LoadStrFromFile answers False for them.
    ASSERT_EQ(CompileError(host, "procedure OnLoad; var s: string; begin\n"
                                 "  if LoadStrFromFile('/dev/urandom', s) then AddMsg('urandom') else AddMsg('no');\n"
                                 "  if LoadStrFromFile('" + fifo + "', s) then AddMsg('fifo') else AddMsg('no' + s);\n"
                                 "end;",
                           source_file),
              "");
    host.RunOnLoad();
    EXPECT_EQ(MessagesOf(owner), (std::vector<std::string>{"no", "no"}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(plugin_host, a_stopped_plugin_leaves_its_waits_and_its_loops_at_once) {
    Owner owner;
    TMyScript host(owner.Callback());
    // A computing loop: the host handles the user's input about every 50 ms
    // (a toolkit timer stands for it here), so the user's Unload reaches it.
    ASSERT_EQ(CompileError(host, R"(
procedure OnLoad; var i: Integer; begin i := 0; while True do i := i + 1; end;)"), "");
    QTimer::singleShot(200, [&] { host.Stop(); });
    test_support::TimeBounds bounds;
    test_support::ProcessorShare start;
    host.RunOnLoad();
    EXPECT_TRUE(host.Stopped());
    EXPECT_TRUE(bounds.Within(start, 5s, "the computing loop stopped after 200 ms"));
    // A wait returns at once when stopped, and the script goes no further.
    TMyScript waiting(owner.Callback());
    ASSERT_EQ(CompileError(waiting, "procedure OnSend; begin NBSleep(100000); TD := 'after'; end;"), "");
    vcl::TTimer stop(nullptr);
    stop.SetInterval(200);
    stop.SetOnTimer([&](vcl::TComponent*) { waiting.Stop(); });
    stop.SetEnabled(true);
    start = test_support::ProcessorShare();
    waiting.SetTD("before");
    waiting.RunOnSend();
    EXPECT_TRUE(bounds.Within(start, 5s, "the NBSleep(100000) stopped after 200 ms"));
    EXPECT_TRUE(waiting.Stopped());
    EXPECT_EQ(waiting.GetTD(), "before");
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(plugin_host, save_str_to_file_onto_a_pipe_gives_false_and_the_plugin_can_be_stopped_meanwhile) {
    Owner owner;
    test_support::TempDir dir;
    const std::string fifo = dir.File("pipe.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const char* source = R"(
procedure OnSend;
begin
  if SaveStrToFile(TD, StringOfChar('z', 200000)) then TD := 'True' else TD := 'False';
end;)";
    TMyScript host(owner.Callback());
    ASSERT_EQ(CompileError(host, source), "");
    {
        // `head -c 1000 < pipe.bin`: it takes a little and leaves while the
        // plug-in writes. False, and the program goes on.
        test_support::FifoReader head(fifo);
        ASSERT_TRUE(head.Open());
        head.LeaveWhenFull(1000);
        host.SetTD(fifo);
        host.RunOnSend();
        EXPECT_EQ(host.GetTD(), "False");
        EXPECT_TRUE(head.Left());
    }
    // A reader that holds the pipe and takes nothing: the save waits as
    // NBSleep does (the window's timers tick), then gives False. The wait is
    // fixed: a tick it missed is judged by the time it gave (a busy machine
    // may have turned the loop too seldom).
    test_support::TimeBounds bounds;
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "300", 1);
    test_support::FifoReader holder(fifo);
    ASSERT_TRUE(holder.Open());
    int ticks = 0;
    vcl::TTimer tick(nullptr);
    tick.SetInterval(10);
    tick.SetOnTimer([&](vcl::TComponent*) { ++ticks; });
    tick.SetEnabled(true);
    const test_support::ProcessorShare stall;
    host.SetTD(fifo);
    host.RunOnSend();
    tick.SetEnabled(false);
    EXPECT_EQ(host.GetTD(), "False");
    EXPECT_TRUE(bounds.Came(stall, ticks > 0, 150ms, "a tick of the window's timer"))
        << "the window was held while the plug-in saved";
    EXPECT_TRUE(owner.Shown.empty());

    // Stopped (unloaded, the window closed) while it waits: the save gives
    // up at once although the limit is far off, and the plug-in goes no
    // further.
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "20000", 1);
    holder.Take();
    vcl::TTimer stop(nullptr);
    stop.SetInterval(100);
    stop.SetOnTimer([&](vcl::TComponent*) { host.Stop(); });
    stop.SetEnabled(true);
    const auto start = std::chrono::steady_clock::now();
    host.SetTD(fifo);
    host.RunOnSend();
    unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
    EXPECT_TRUE(host.Stopped());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_EQ(host.GetTD(), fifo);
    EXPECT_TRUE(owner.Shown.empty());
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// While an event computes, window timers (the port's polling, the main
// window's timers) wait for it to end; while it waits they tick. Both events
// last a fixed time: what did not come in it is judged by the time it gave.
TEST(plugin_host, window_timers_wait_for_a_computing_event_and_tick_while_it_waits) {
    Owner owner;
    TMyScript host(owner.Callback());
    ASSERT_EQ(CompileError(host, R"(
procedure OnLoad; var t: Cardinal; begin t := GetTickCount; while GetTickCount - t < 300 do ; end;
procedure OnSend; begin NBSleep(300); end;)"), "");
    int ticks = 0;
    bool input = false;
    vcl::TTimer timer(nullptr);
    timer.SetInterval(10);
    timer.SetOnTimer([&](vcl::TComponent*) { ++ticks; });
    timer.SetEnabled(true);
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare computing;
    QTimer::singleShot(100, [&] { input = true; });
    host.RunOnLoad();
    EXPECT_TRUE(bounds.Came(computing, input, 200ms, "the input due 100 ms into the computing event"));
    EXPECT_EQ(ticks, 0);
    // The tick that waited comes once the event is over, as one.
    ASSERT_TRUE(test_support::PumpUntil([&] { return ticks > 0; }));
    EXPECT_LE(ticks, 2);
    ticks = 0;
    const test_support::ProcessorShare waiting;
    host.RunOnSend();
    EXPECT_TRUE(bounds.Came(waiting, ticks >= 5, 150ms, "five ticks in the waiting event")) << ticks;
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

}  // namespace
}  // namespace script::runtime
