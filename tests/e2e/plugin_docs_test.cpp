// The plug-in author's manual (docs/plugins.md) against the program: its
// complete plug-ins, taken from the document as it stands and run in the
// window against a pseudo-terminal playing the device each was written
// for, and what it says of the dialect, the transmit line and unloading.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e/plugin_window.h"
#include "platform/rtl/str_proc.h"
#include "platform/rtl/strings.h"
#include "platform/vcl/file_text.h"
#include "support/processor_share.h"
#include "terminal/word_pairs.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;
using test_support::PluginWindow;

std::string SourceFile(const std::string& Path) {
    return vcl::LoadStrFromFile(std::string(VOSTREL_SOURCE_DIR_DEFAULT) + "/" + Path);
}

// The manual's plug-ins by the name their fence gives ("```pascal
// <name>.pas"); a Pascal block without a name is listed under "".
std::multimap<std::string, std::string> ManualPlugins() {
    const std::string doc = SourceFile("docs/plugins.md");
    std::multimap<std::string, std::string> out;
    const std::string fence = "```pascal";
    for (std::size_t at = doc.find(fence); at != std::string::npos; at = doc.find(fence, at + 1)) {
        const std::size_t eol = doc.find('\n', at);
        const std::string name = rtl::Trim(doc.substr(at + fence.size(), eol - at - fence.size()));
        const std::size_t end = doc.find("\n```", eol);
        if (end == std::string::npos) break;
        out.emplace(name, doc.substr(eol + 1, end - eol));
    }
    return out;
}

// One of them, for a test to run.
std::string ManualPlugin(const std::string& name) {
    const auto plugins = ManualPlugins();
    const auto it = plugins.find(name);
    if (it == plugins.end()) {
        ADD_FAILURE() << "the manual has no " << name;
        return {};
    }
    return it->second;
}

// What a plug-in given as text did when loaded into the window in place of
// the one there: the compiler's or loader's error, the message and error
// lines it added, and the boxes shown.
struct Outcome {
    std::string Error;
    std::vector<std::string> Msgs, Errs, Boxes;
};

Outcome LoadText(PluginWindow& w, const std::string& source) {
    const std::string file = w.dir.File("snippet.pas");
    vcl::SaveStrToFile(source, file);
    w.Messages.clear();
    const std::size_t msgs = w.LinesOf(terminal::dfMSG).size();
    const std::size_t errs = w.LinesOf(terminal::dfERR).size();
    Outcome o;
    try {
        w.main->LoadPlugin(file);
    } catch (const std::exception& e) {
        o.Error = e.what();
    }
    const auto all_msgs = w.LinesOf(terminal::dfMSG);
    const auto all_errs = w.LinesOf(terminal::dfERR);
    o.Msgs.assign(all_msgs.begin() + static_cast<std::ptrdiff_t>(std::min(msgs, all_msgs.size())), all_msgs.end());
    o.Errs.assign(all_errs.begin() + static_cast<std::ptrdiff_t>(std::min(errs, all_errs.size())), all_errs.end());
    o.Boxes = w.Messages;
    return o;
}

// The message lines of an ONLOAD given as its body.
std::vector<std::string> OnLoadShows(PluginWindow& w, const std::string& vars, const std::string& body) {
    const Outcome o = LoadText(w, "procedure OnLoad;\n" + vars + "\nbegin\n" + body + "\nend;\n");
    EXPECT_EQ(o.Error, "") << body;
    EXPECT_EQ(o.Boxes, std::vector<std::string>{}) << body;
    return o.Msgs;
}

// A frame of the first example's protocol.
std::string Frame(const std::string& payload, int checksum_error = 0) {
    int sum = 0;
    for (char c : payload) sum += static_cast<unsigned char>(c);
    return std::string("\x02") + static_cast<char>(payload.size()) + payload +
           static_cast<char>((sum + checksum_error) % 256);
}

TEST(plugin_docs, every_plugin_of_the_manual_is_run_by_a_test) {
    const auto plugins = ManualPlugins();
    const std::string tests = SourceFile("tests/e2e/plugin_docs_test.cpp");
    EXPECT_GE(plugins.size(), 6u);
    for (const auto& [name, source] : plugins) {
        // Named, once, and taken by a test of this file.
        EXPECT_TRUE(name.size() > 4 && name.ends_with(".pas")) << "a Pascal block named '" << name << "'";
        EXPECT_EQ(plugins.count(name), 1u) << name;
        EXPECT_NE(tests.find("ManualPlugin(\"" + name + "\")"), std::string::npos) << name << " is run by no test";
        EXPECT_NE(source.find("begin"), std::string::npos) << name;
    }
}

TEST(plugin_docs, the_frame_decoder_checks_frames_that_come_in_pieces_and_frames_what_is_sent) {
    PluginWindow w(ManualPlugin("frames.pas"));
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp1->Connected());
    EXPECT_EQ(w.LastMsg(), "frame decoder ready");
    // Noise, a frame in two pieces, a frame with a wrong checksum.
    const std::string good = Frame("ABC");
    ASSERT_EQ(w.dev.Write("\x7F" + good.substr(0, 3)), 4u);
    test_support::Pump(100ms);
    EXPECT_EQ(w.LinesOf(terminal::dfMSG).size(), 1u);
    ASSERT_EQ(w.dev.Write(good.substr(3) + Frame("xy", 1)), 8u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.LinesOf(terminal::dfERR).size() == 1; }));
    // The plug-in emptied RD: nothing was counted.
    EXPECT_EQ(w.RxCount(), 0u);
    EXPECT_EQ(w.LinesOf(terminal::dfMSG), (std::vector<std::string>{"frame decoder ready", "frame: 41 42 43"}));
    EXPECT_EQ(w.LinesOf(terminal::dfERR), std::vector<std::string>{"bad checksum: 78 79"});
    // The raw bytes are not shown.
    EXPECT_EQ(m->RxPanel->CurLine(), "");
    // What is sent goes out as one frame.
    EXPECT_EQ(w.Transmit("hi"), 5u);
    EXPECT_EQ(w.dev.Read(5, 1s), Frame("hi"));
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

TEST(plugin_docs, the_poller_asks_and_waits_for_the_answer_with_the_lines_the_manual_names) {
    PluginWindow w(ManualPlugin("poller.pas"));
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_EQ(m->TRFormat, terminal::trfDec);  // the default input format
    const auto line = [&](const std::string& text) {
        m->TrBCB->SetText(text);
        m->TrBCBChange(m->TrBCB);
    };
    // A meter that answers the first request only. The poller's wait for it
    // is fixed: an answer it missed is judged by the time the wait gave (a
    // busy machine may run the meter, or read its answer, too late).
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare window;
    std::thread meter([&] {
        if (w.dev.Read(5, 10s) == "READ\r") {
            std::this_thread::sleep_for(50ms);
            w.dev.Write("T=231\r");
        }
    });
    // The transmit box empty, a tick of the transmit timer.
    line("");
    m->TransbClick(m->tmr1);
    meter.join();
    const std::vector<std::string> missed = w.LinesOf(terminal::dfERR);
    EXPECT_TRUE(bounds.Came(window, w.LastMsg() == "reading: 231", 300ms, "the meter's answer"))
        << ::testing::PrintToString(missed);
    // Missed, it is told as such; what follows would meet the late answer
    // (it is never asked again), so the test ends there.
    if (w.LastMsg() != "reading: 231") {
        ASSERT_EQ(missed.size(), 1u);
        EXPECT_EQ(missed[0].rfind("no answer (", 0), 0u) << missed[0];
        if (bounds.Void()) GTEST_SKIP() << bounds.Text();
        return;
    }
    // A number in DEC does as well, and is not sent.
    line("0");
    m->TransbClick(m->Transb);
    EXPECT_EQ(w.dev.Read(5, 1s), "READ\r");
    EXPECT_EQ(w.LinesOf(terminal::dfERR), std::vector<std::string>{"no answer (0 bytes)"});
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    // A word in DEC is refused before the plug-in is asked, and the timer stops.
    line("x");
    m->TmrEnCB->SetChecked(true);
    m->TransbClick(m->tmr1);
    EXPECT_FALSE(m->TmrEnCB->Checked());
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_EQ(w.Messages[0].find("Wrong data in Input Line."), 0u) << w.Messages[0];
    EXPECT_NE(w.Messages[0].find("Token \"x\" could not be converted to a number"), std::string::npos)
        << w.Messages[0];
    EXPECT_EQ(w.dev.Read(5, 200ms), "");
    // Hexadecimal bytes in HEX, any text in ASC.
    m->mStringModeClick(m->pmTRFormat->Items()->Items(terminal::trfHex));
    line("00");
    m->TransbClick(m->Transb);
    EXPECT_EQ(w.dev.Read(5, 1s), "READ\r");
    m->mStringModeClick(m->pmTRFormat->Items()->Items(terminal::trfAsc));
    line("x");
    m->TransbClick(m->Transb);
    EXPECT_EQ(w.dev.Read(5, 1s), "READ\r");
    EXPECT_EQ(w.Messages.size(), 1u);
}

TEST(plugin_docs, the_value_parser_graphs_each_line_and_only_those) {
    PluginWindow w(ManualPlugin("graph_values.pas"));
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp1->Connected());
    m->mShowGraphClick(nullptr);  // the graph window is open
    ASSERT_TRUE(w.Play("23.5\r\n24", 8));
    ASSERT_TRUE(w.Play("\r\n-1.25\r\n", 9));
    EXPECT_EQ(m->PluginFlags & terminal::APGD, 0);
    const std::string points = w.dir.File("points.txt");
    w.graph->SavePoints(points);
    std::vector<std::string> lines, ys;
    rtl::SplitStr(vcl::LoadStrFromFile(points), '\n', lines);
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) ys.push_back(line.substr(line.find(';') + 1));
    }
    EXPECT_EQ(ys, (std::vector<std::string>{"23.5", "24", "-1.25"}));
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

TEST(plugin_docs, an_error_box_numbers_the_failing_procedure_with_the_library_routines_before_it) {
    PluginWindow w(ManualPlugin("numbers.pas"));
    ASSERT_EQ(w.Messages.size(), 1u) << ::testing::PrintToString(w.Messages);
    EXPECT_EQ(w.Messages[0].find("An exception occurred during script execution (proc=3, pos="), 0u) << w.Messages[0];
    EXPECT_TRUE(w.Messages[0].ends_with("divide by Zero.")) << w.Messages[0];
    // The same number inside an except block.
    const std::string numbers = ManualPlugin("numbers.pas");
    const Outcome caught = LoadText(w, numbers.substr(0, numbers.find("procedure OnLoad;")) +
                                           "procedure OnLoad;\nbegin\n  try Check(0);\n"
                                           "  except AddMsg(IntToStr(ExceptionProc)); end;\nend;\n");
    EXPECT_EQ(caught.Error, "");
    EXPECT_EQ(caught.Msgs, std::vector<std::string>{"3"});
    EXPECT_EQ(caught.Boxes, std::vector<std::string>{});
}

TEST(plugin_docs, the_checked_send_event_turns_what_it_cannot_send_into_error_lines) {
    PluginWindow w(ManualPlugin("errors.pas"));
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->cp1->Connected());
    EXPECT_EQ(w.Transmit("ab"), 8u);
    EXPECT_EQ(w.dev.Read(8, 1s), "abababab");
    EXPECT_EQ(w.Transmit(""), 0u);
    EXPECT_EQ(w.Transmit("123456789"), 0u);
    EXPECT_EQ(w.LinesOf(terminal::dfERR),
              (std::vector<std::string>{"not sent: divide by Zero", "not sent: longer than 8 bytes: 123456789"}));
    EXPECT_EQ(w.dev.Read(16, 200ms), "");
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    // Not in the dialect: the handler with a class.
    const Outcome on = LoadText(w, "procedure OnLoad; begin try AddMsg('x'); except on E: Exception do AddMsg(E.Message); end; end;");
    EXPECT_NE(on.Error.find("Unknown identifier 'on'"), std::string::npos) << on.Error;
}

TEST(plugin_docs, what_the_dialect_lacks_fails_as_the_manual_says_and_its_ways_work) {
    PluginWindow w(ManualPlugin("without.pas"));
    ASSERT_NE(w.main->Script, nullptr) << ::testing::PrintToString(w.Messages);
    EXPECT_EQ(w.LastMsg(), "two 7 abcde 100 0.10 3000000000 CD CC CC 3D");
    const std::pair<const char*, const char*> lacking[] = {
        {"const Names: array[0..2] of string = ('a', 'b', 'c');\nprocedure OnLoad; begin AddMsg(Names[1]); end;",
         "is ('=') expected"},
        {"procedure OnLoad; begin AddMsg(IntToStr(MaxInt)); end;", "Unknown identifier 'MaxInt'"},
        {"procedure OnLoad; var i: Integer; begin i := 1; Inc(i, 10); end;", "Invalid number of parameters"},
        {"procedure OnLoad;\n  procedure Inner; begin end;\nbegin Inner; end;", "'BEGIN' expected"},
        {"function F: Integer; begin Exit(5); end;\nprocedure OnLoad; begin F; end;", "Semicolon (';') expected"},
        {"procedure P(a: Integer; b: Integer = 2); begin end;\nprocedure OnLoad; begin P(1); end;",
         "Semicolon (';') expected"},
        {"procedure OnLoad; var c: Char; begin for c := 'a' to 'e' do AddMsg(c); end;", "Type mismatch"},
        {"procedure OnLoad; var s: Single; begin s := Single(0.1); end;", "Type mismatch"},
        {"procedure OnLoad; begin AddMsg(IntToStr(Abs(-5))); end;", "Type mismatch"},
        {"procedure OnLoad; var Out: Integer; begin Out := 1; end;", "'BEGIN' expected"},
    };
    for (const auto& [source, message] : lacking) {
        const Outcome o = LoadText(w, source);
        EXPECT_NE(o.Error.find("[Error]"), std::string::npos) << source << "\n" << o.Error;
        EXPECT_NE(o.Error.find(message), std::string::npos) << source << "\n" << o.Error;
    }
    // Single(x) of a variable, Inc and Dec with one argument do work.
    EXPECT_EQ(OnLoadShows(w, "var i: Integer;", "i := 3; Inc(i); Dec(i); Dec(i); AddMsg(ArrayToHex(Data2Str(Single(i)), True));"),
              std::vector<std::string>{"00 00 00 40"});
}

TEST(plugin_docs, the_dialects_surprises_and_compose_are_as_the_manual_says) {
    PluginWindow w("procedure OnLoad; begin end;");
    // Char literals.
    EXPECT_EQ(OnLoadShows(w, "var s: string;", "s := Trim(' '); AddMsg(IntToStr(Length(s)) + IntToStr(Ord(s[1])));"
                                                " s := ' '; s := Trim(s); AddMsg(IntToStr(Length(s)));"),
              (std::vector<std::string>{"10", "0"}));
    const Outcome length = LoadText(w, "procedure OnLoad; begin AddMsg(IntToStr(Length('x'))); end;");
    EXPECT_EQ(length.Error, "");
    ASSERT_EQ(length.Boxes.size(), 1u);
    EXPECT_TRUE(length.Boxes[0].ends_with("Type Mismatch.")) << length.Boxes[0];
    for (const char* compare : {"'b' < 'a'", "'b' > 'a'", "'ab' < 'b'"}) {
        const Outcome o = LoadText(w, std::string("procedure OnLoad; begin if ") + compare + " then AddMsg('?'); end;");
        EXPECT_NE(o.Error.find("Type mismatch"), std::string::npos) << compare << "\n" << o.Error;
    }
    EXPECT_EQ(OnLoadShows(w, "var s: string;", "s := 'b'; if s < 'a' then AddMsg('lt') else AddMsg('ge');"
                                                " if 'a' = 'a' then AddMsg('eq'); if 'b' <> 'a' then AddMsg('ne');"),
              (std::vector<std::string>{"ge", "eq", "ne"}));
    // Numbers as text.
    EXPECT_EQ(OnLoadShows(w, "var x: Double; b: Int64;",
                          "x := 2.5; AddMsg(FloatToStr(x)); AddMsg(Format('%.2f', [x])); AddMsg(Format('%g', [x]));"
                          " AddMsg(IntToStr(Trunc(3000000000.0))); b := Round(3000000000.0); AddMsg(IntToStr(b));"
                          " AddMsg(IntToStr(StrToInt64(Format('%.0f', [3000000000.0]))));"),
              (std::vector<std::string>{"2.500000000000", "2.50", "2.5", "-1294967296", "-1294967296", "3000000000"}));
    // Compose: the widths of its types, a Single as a Double, a Boolean empties it.
    EXPECT_EQ(OnLoadShows(w, "var i: Integer; c: Cardinal; big: Int64; d: Double; e: Extended; s: Single; ch: Char;"
                             " b: Boolean; cu: Currency; w: Word; sm: SmallInt; si: ShortInt;",
                          "i := -2; c := 4000000000; big := 1; d := 1.5; e := 1.5; s := 1.5; ch := 'A'; b := True;"
                          " cu := 2; w := 513; sm := -1; si := -1;"
                          " AddMsg(ArrayToHex(Compose([Byte(2), Word(513), 'ab']), True));"
                          " AddMsg(ArrayToHex(Compose([i, c, big]), True));"
                          " AddMsg(ArrayToHex(Compose([w, sm, si, ch]), True));"
                          " AddMsg(ArrayToHex(Compose([d, e]), True));"
                          " AddMsg(IntToStr(Length(Compose([s]))) + ' ' + IntToStr(Length(Data2Str(s))));"
                          " AddMsg(IntToStr(Length(Compose([i, b]))) + ' ' + IntToStr(Length(Compose([i, cu]))));"),
              (std::vector<std::string>{"02 01 02 61 62", "FE FF FF FF 00 28 6B EE 01 00 00 00 00 00 00 00",
                                        "01 02 FF FF FF 41", "00 00 00 00 00 00 F8 3F 00 00 00 00 00 00 F8 3F",
                                        "8 4", "0 0"}));
    // UpdMsg after an error line starts a line of its own.
    const Outcome upd = LoadText(w, "procedure OnLoad; begin AddMsg('one'); AddErr('bad'); UpdMsg('two'); UpdMsg('three'); end;");
    EXPECT_EQ(upd.Msgs, (std::vector<std::string>{"one", "three"}));
    EXPECT_EQ(upd.Errs, std::vector<std::string>{"bad"});
    // In a UTF-8 file a letter of the code page is one column, as the
    // editor shows it; one the page lacks is an error in a literal.
    const Outcome column = LoadText(w, "procedure OnLoad; begin AddMsg('\xD1\x91\xD1\x91\xD1\x91'); Anwser; end;");
    EXPECT_NE(column.Error.find("(1:40): Unknown identifier 'Anwser'"), std::string::npos) << column.Error;
    const Outcome outside = LoadText(w, "procedure OnLoad; begin AddMsg('\xC3\xA4'); end; // \xD0\xB4\xD0\xB0");
    EXPECT_NE(outside.Error.find("(1:33): The character U+00E4 of a text literal is not in the code page"),
              std::string::npos)
        << outside.Error;
}

TEST(plugin_docs, loops_statements_that_fail_part_way_string_indexes_and_waiting_words_are_as_the_manual_says) {
    PluginWindow w(ManualPlugin("surprises.pas"));
    ASSERT_NE(w.main->Script, nullptr) << ::testing::PrintToString(w.Messages);
    const std::vector<std::string> shown = w.LinesOf(terminal::dfMSG);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(shown.end() - 3, shown.end()),
              (std::vector<std::string>{"10 passes, 12 bytes", "x is 6", "Out of string range"}));
    // The end value is read at every pass, the start value once.
    EXPECT_EQ(OnLoadShows(w, "var i, k, n: Integer;",
                          "k := 3; n := 0; for i := 1 to k do begin k := k + 1; n := n + 1; if n = 10 then Break; end;"
                          " AddMsg(IntToStr(n));"
                          " k := 5; n := 0; for i := k to 10 do begin k := 100; n := n + 1; end; AddMsg(IntToStr(n));"),
              (std::vector<std::string>{"10", "6"}));
    // Numbers whose right side starts with them keep the steps done; a
    // string, an element, a field and a right side that starts elsewhere
    // keep their values.
    const Outcome steps = LoadText(w, R"(
type TR = record A: Integer; end;
var g: Integer;
procedure P(var v: Integer; z: Integer);
begin
  try v := v + 1 + (10 div z); except AddMsg('var ' + IntToStr(v)); end;
end;
procedure OnLoad;
var z, x: Integer; big: Int64; d: Double; s: string; a: array of Integer; r: TR;
begin
  z := 0;
  g := 5; try g := g + 1 + (10 div z); except AddMsg('global ' + IntToStr(g)); end;
  x := 5; P(x, z);
  big := 5; try big := big * 2 + (10 div z); except AddMsg('int64 ' + IntToStr(big)); end;
  d := 1.5; try d := d + 1 + (10 div z); except AddMsg('double ' + Format('%.1f', [d])); end;
  x := 5; try x := 1 + x + (10 div z); except AddMsg('first ' + IntToStr(x)); end;
  s := 'ab'; try s := s + 'c' + IntToStr(10 div z); except AddMsg('string ' + s); end;
  SetArrayLength(a, 1); a[0] := 5; try a[0] := a[0] + 1 + (10 div z); except AddMsg('element ' + IntToStr(a[0])); end;
  r.A := 5; try r.A := r.A + 1 + (10 div z); except AddMsg('field ' + IntToStr(r.A)); end;
end;
)");
    EXPECT_EQ(steps.Error, "");
    EXPECT_EQ(steps.Msgs, (std::vector<std::string>{"global 6", "var 6", "int64 10", "double 2.5", "first 5",
                                                    "string ab", "element 5", "field 5"}));
    // Out of string range: read or written, caught or not.
    EXPECT_EQ(OnLoadShows(w, "var s: string; i: Integer;",
                          "s := 'abc'; i := 0;"
                          " try s[i] := 'x'; except AddMsg(ExceptionParam); end;"
                          " try AddMsg(s[Length(s) + 1]); except AddMsg(ExceptionToString(ExceptionType, ExceptionParam)); end;"),
              (std::vector<std::string>{"Out of string range", "Out of string range"}));
    const Outcome uncaught = LoadText(w, "procedure OnLoad; var s: string; begin s := 'abc'; AddMsg(s[0]); end;");
    EXPECT_EQ(uncaught.Error, "");
    ASSERT_EQ(uncaught.Boxes.size(), 1u);
    EXPECT_TRUE(uncaught.Boxes[0].ends_with("\r\rOut of string range.")) << uncaught.Boxes[0];
    // The bound of waiting words the manual gives is the program's.
    EXPECT_NE(SourceFile("docs/plugins.md").find("Bytes of " + std::to_string(terminal::TWordPairs::MaxWaitingPeers) +
                                                 " peers at most wait"),
              std::string::npos);
}

TEST(plugin_docs, setv_typed_as_a_transmit_line_works_quoted_in_dec_and_in_asc_without_a_line_break) {
    PluginWindow w("procedure OnSend; begin AddMsg('sent ' + IntToStr(Length(TD))); end;");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    const auto type = [&](const std::string& line) {
        m->TrBCB->SetText(line);
        m->TrBCBChange(m->TrBCB);
        m->TransbClick(m->Transb);
    };
    m->mStringModeClick(m->pmTRFormat->Items()->Items(terminal::trfDec));
    type("__setv(Speed,9)");
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_EQ(w.Messages[0].find("Wrong data in Input Line."), 0u) << w.Messages[0];
    EXPECT_NE(w.Messages[0].find("could not be converted to a number"), std::string::npos) << w.Messages[0];
    type("\"__setv(Speed,9)\"");
    type("\"__getv(speed)\"");
    EXPECT_EQ(w.LastMsg(), "__getv(speed) -> 9");
    // ASC with CR LF: data, through the send event.
    m->mStringModeClick(m->pmTRFormat->Items()->Items(terminal::trfAsc));
    ASSERT_EQ(m->TrLineBreak, "\r\n");
    type("__setv(Speed,7)");
    EXPECT_EQ(w.LastMsg(), "sent 17");
    EXPECT_EQ(w.dev.Read(17, 1s), "__setv(Speed,7)\r\n");
    m->SetLineBreak(true, 4);
    type("__setv(Speed,7)");
    type("__getv(SPEED)");
    EXPECT_EQ(w.LastMsg(), "__getv(SPEED) -> 7");
    EXPECT_EQ(w.dev.Read(17, 200ms), "");
    EXPECT_EQ(w.Messages.size(), 1u);
}

TEST(plugin_docs, unload_during_a_wait_ends_the_event_in_that_wait) {
    PluginWindow w("procedure OnReceive; begin AddMsg('waiting'); NBSleep(5000); Send('late'); AddMsg('after'); end;");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    bool unloaded = false;
    test_support::WhileBusy user(*m, [&] {
        test_support::Pump(100ms);
        unloaded = test_support::ChoosePluginEntry(*m, m->mUnloadPlugin);
    });
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare start;
    ASSERT_EQ(w.dev.Write("x"), 1u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return user.done && !m->PluginBusy; }));
    EXPECT_TRUE(bounds.Within(start, 4s, "the event's end after the unload in its NBSleep(5000)"));
    EXPECT_TRUE(unloaded);
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_EQ(w.dev.Read(4, 500ms), "");
    EXPECT_EQ(w.LastMsg(), "waiting");
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

}  // namespace
