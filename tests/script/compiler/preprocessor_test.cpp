#include "script/compiler/preprocessor.h"

#include <gtest/gtest.h>

#include <map>

#include "script/compiler/tokenizer.h"

namespace script::compiler {
namespace {

// A preprocessor set up as the plug-in host does, with files from a map.
struct Fixture {
    TPSPreProcessor pp;
    std::map<std::string, std::string> files;
    std::vector<std::pair<std::string, std::string>> requests;  // (calling file, file)

    explicit Fixture(std::string mainText, std::string mainName = "main.pas") {
        pp.OnNeedFile = [this](TPSPreProcessor&, const std::string& calling, std::string& name,
                               std::string& text) {
            requests.emplace_back(calling, name);
            auto it = files.find(name);
            if (it == files.end()) return false;
            text = it->second;
            return true;
        };
        pp.Clear();
        pp.MainFileText = std::move(mainText);
        pp.MainFileName = std::move(mainName);
    }
    std::string Run() {
        std::string out;
        pp.PreProcess(pp.MainFileName, out);
        return out;
    }
    std::string Error() {
        try {
            Run();
        } catch (const EPSPreProcessor& e) {
            return e.Message;
        }
        return "(no error)";
    }
};

TEST(preprocessor, active_branch_kept_and_everything_else_blanked_in_place) {
    Fixture f("{$DEFINE A}{$IFDEF A}x{$ELSE}y{$ENDIF}");
    const std::string out = f.Run();
    ASSERT_EQ(out.size(), 38u);
    EXPECT_EQ(out, std::string(21, ' ') + "x" + std::string(16, ' '));

    Fixture g("{$IFNDEF A}x{$ELSE}y{$ENDIF}");
    EXPECT_EQ(g.Run(), std::string(11, ' ') + "x" + std::string(16, ' '));
}

TEST(preprocessor, inactive_text_keeps_its_line_breaks) {
    Fixture f("a\r\n{$IFDEF X}\r\nb c\nd\r\n{$ENDIF}\r\ne");
    const std::string out = f.Run();
    EXPECT_EQ(out, "a\r\n          \r\n   \n \r\n        \r\ne");
    // The compiler's rows over the output are the source's rows.
    TPSPascalParser p;
    p.SetText(out);
    p.Next();
    EXPECT_EQ(p.GetToken(), "E");
    EXPECT_EQ(p.Row(), 6u);
}

TEST(preprocessor, else_under_an_inactive_parent_stays_inactive) {
    Fixture f("{$DEFINE B}{$IFDEF A}{$IFDEF B}p{$ELSE}z{$ENDIF}{$ENDIF}");
    const std::string out = f.Run();
    EXPECT_EQ(out.find_first_not_of(' '), std::string::npos) << out;

    Fixture g("{$DEFINE A}{$IFDEF A}{$IFDEF B}p{$ELSE}z{$ENDIF}{$ENDIF}");
    const std::string out2 = g.Run();
    EXPECT_EQ(out2.find_first_not_of(' '), out2.find('z'));
    EXPECT_NE(out2.find('z'), std::string::npos);
}

TEST(preprocessor, defines_are_case_insensitive_and_undef_removes_them) {
    Fixture f("{$define abc}{$ifdef ABC}1{$endif}{$UNDEF Abc}{$IFDEF abc}2{$ENDIF}{$IFNDEF abc}3{$ENDIF}");
    const std::string out = f.Run();
    std::string visible;
    for (char c : out) if (c != ' ') visible += c;
    EXPECT_EQ(visible, "13");
    // A host define is in force from the start.
    Fixture g("{$IFDEF DEBUG}d{$ENDIF}");
    g.pp.DefineList.Add("Debug");
    EXPECT_EQ(g.Run().find('d'), 14u);
}

TEST(preprocessor, default_defines_are_gone_after_clear) {
    TPSPreProcessor fresh;
    ASSERT_EQ(fresh.ActiveDefines.Count(), 4u);
    EXPECT_EQ(fresh.ActiveDefines.GetItem(0), "VER23");
    EXPECT_EQ(fresh.ActiveDefines.GetItem(1), "CPU386");
    EXPECT_EQ(fresh.ActiveDefines.GetItem(2), "MSWINDOWS");
    EXPECT_EQ(fresh.ActiveDefines.GetItem(3), "WIN32");
    Fixture f("{$IFDEF WIN32}w{$ENDIF}");
    EXPECT_EQ(f.pp.ActiveDefines.Count(), 0u);
    EXPECT_EQ(f.Run(), std::string(23, ' '));
}

TEST(preprocessor, comments_and_strings_are_copied_unchanged) {
    const std::string text =
        "{ plain {$X} }(* {$FOO} *)// {$BAR}\r\n'it''s {$BAZ}' { $no }";
    Fixture f(text);
    EXPECT_EQ(f.Run(), text);
}

TEST(preprocessor, directive_errors_name_their_row_and_column) {
    const std::pair<const char*, const char*> cases[] = {
        {"{$ELSE}", "No IFDEF for ELSE at 1:1"},
        {"ab\r\n  {$ENDIF}", "No IFDEF for ENDIF at 2:3"},
        {"{$IFDEF A}{$ELSE}{$ELSE}{$ENDIF}", "Can't use ELSE twice at 1:18"},
        {"{$DEFINE A B}", "Too many parameters at 1:1"},
        {"{$IFDEF A}{$ELSE X}{$ENDIF}", "Too many parameters at 1:11"},
        {"{$FOO}", "Unknown compiler directives at 1:1"},
        {"{$IFDEF A}\n{$FOO}{$ENDIF}", "Unknown compiler directives at 2:1"},  // checked even when inactive
        {"{$IFDEF A}\n {$IFDEF B C}{$ENDIF}{$ENDIF}", "Too many parameters at 2:2"},
        {"{$IFDEF A}", "Define not closed"},
        {"x'str\r\n {$FOO}", "Unknown compiler directives at 2:2"},  // a string ends at a break
        {"x'{$FOO}", "(no error)"},
    };
    for (const auto& [text, message] : cases) {
        Fixture f(text);
        EXPECT_EQ(f.Error(), message) << text;
    }
    // DEFINE with two names is not checked where the text is inactive.
    Fixture g("{$IFDEF A}{$DEFINE B C}{$ENDIF}");
    EXPECT_EQ(g.Error(), "(no error)");
}

TEST(preprocessor, includes_come_from_the_host_and_are_mapped_back) {
    Fixture f("program p;\r\n{$I lib.inc}\r\nbegin end.");
    f.files["lib.inc"] = "var\r\n  a: Integer;\r\n";
    const std::string out = f.Run();
    EXPECT_EQ(out, "program p;\r\nvar\r\n  a: Integer;\r\n            \r\nbegin end.");
    ASSERT_EQ(f.requests.size(), 1u);
    EXPECT_EQ(f.requests[0], (std::pair<std::string, std::string>("main.pas", "lib.inc")));

    TPSLineInfoResults r;
    ASSERT_TRUE(f.pp.LineInfo.GetLineInfo("", static_cast<std::uint32_t>(out.find("a:")), r));
    EXPECT_EQ(r.Name, "lib.inc");
    EXPECT_EQ(r.Row, 2u);
    EXPECT_EQ(r.Col, 3u);
    ASSERT_TRUE(f.pp.LineInfo.GetLineInfo("", static_cast<std::uint32_t>(out.find("end.")), r));
    EXPECT_EQ(r.Name, "main.pas");
    EXPECT_EQ(r.Row, 3u);
    EXPECT_EQ(r.Col, 7u);
    EXPECT_EQ(r.Pos, 32u);  // offset in main.pas: "program p;\r\n{$I lib.inc}\r\nbegin "
}

TEST(preprocessor, messages_are_rewritten_to_the_included_file_and_true_last_line) {
    Fixture f("begin\r\n  {$INCLUDE a.inc} x;\r\n  y");
    f.files["a.inc"] = "p;\r\n  q";
    const std::string out = f.Run();

    // An error on "q": on the include file's last line, which has no line break.
    TPSPascalCompilerError inInclude(ecUnknownIdentifier, "Q");
    inInclude.SetCustomPos(static_cast<std::uint32_t>(out.find('q')), 3, 5);
    f.pp.AdjustMessage(inInclude);
    EXPECT_EQ(inInclude.MessageToString(), "[Error] a.inc(2:3): Unknown identifier 'Q'");

    // After the include on the same line: the column counts the source, not the inserted text.
    TPSPascalCompilerError sameLine(ecUnknownIdentifier, "X");
    sameLine.SetCustomPos(static_cast<std::uint32_t>(out.find('x')), 0, 0);
    f.pp.AdjustMessage(sameLine);
    EXPECT_EQ(sameLine.MessageToString(), "[Error] main.pas(2:20): Unknown identifier 'X'");

    // On the main file's last line and at its very end.
    TPSPascalCompilerError last(ecUnknownIdentifier, "Y");
    last.SetCustomPos(static_cast<std::uint32_t>(out.find('y')), 0, 0);
    f.pp.AdjustMessage(last);
    EXPECT_EQ(last.MessageToString(), "[Error] main.pas(3:3): Unknown identifier 'Y'");
    TPSPascalCompilerError atEnd(ecUnexpectedEndOfFile);
    atEnd.SetCustomPos(static_cast<std::uint32_t>(out.size()), 0, 0);
    f.pp.AdjustMessage(atEnd);
    EXPECT_EQ(atEnd.MessageToString(), "[Error] main.pas(3:4): Unexpected end of file");

    // A position outside every file is left as it is.
    TPSPascalCompilerError outside(ecSyntaxError);
    outside.SetCustomPos(static_cast<std::uint32_t>(out.size()) + 5, 9, 9);
    f.pp.AdjustMessage(outside);
    EXPECT_EQ(outside.MessageToString(), "[Error] (9:9): Syntax error");
}

struct FakeCompiler {
    std::vector<std::unique_ptr<TPSPascalCompilerMessage>> msgs;
    std::size_t GetMsgCount() const { return msgs.size(); }
    TPSPascalCompilerMessage* GetMsg(std::size_t i) const { return msgs[i].get(); }
};

TEST(preprocessor, adjust_messages_rewrites_every_message_of_a_compiler) {
    Fixture f("a\n{$I b.inc}\nc");
    f.files["b.inc"] = "\n\nb";
    const std::string out = f.Run();
    FakeCompiler c;
    c.msgs.push_back(std::make_unique<TPSPascalCompilerHint>(ehVariableNotUsed, "B"));
    c.msgs.back()->SetCustomPos(static_cast<std::uint32_t>(out.find('b')), 0, 0);
    c.msgs.push_back(std::make_unique<TPSPascalCompilerWarning>(ewIsNotNeeded, "C"));
    c.msgs.back()->SetCustomPos(static_cast<std::uint32_t>(out.find('c')), 0, 0);
    f.pp.AdjustMessages(c);
    EXPECT_EQ(c.msgs[0]->MessageToString(), "[Hint] b.inc(3:1): Variable 'B' never used");
    EXPECT_EQ(c.msgs[1]->MessageToString(), "[Warning] main.pas(3:1): C is not needed");
}

TEST(preprocessor, include_failures_and_depth_limit) {
    Fixture missing("{$I nowhere.inc}");
    EXPECT_EQ(missing.Error(), "Unable to find file 'nowhere.inc' used from 'main.pas'");

    Fixture noCallback("{$I x.inc}");
    noCallback.pp.OnNeedFile = nullptr;
    EXPECT_EQ(noCallback.Error(), "Unable to find file 'x.inc' used from 'main.pas'");

    // An include inside an inactive block is not read.
    Fixture inactive("{$IFDEF NO}{$I nowhere.inc}{$ENDIF}");
    EXPECT_EQ(inactive.Error(), "(no error)");

    // 20 nested includes are accepted, the 21st is not.
    Fixture chain("{$I f1}");
    for (int i = 1; i <= 20; ++i) {
        chain.files["f" + std::to_string(i)] = i < 20 ? "{$I f" + std::to_string(i + 1) + "}" : "end";
    }
    const std::string out = chain.Run();
    EXPECT_NE(out.find("end"), std::string::npos);
    chain.files["f20"] = "{$I f21}";
    chain.files["f21"] = "x";
    EXPECT_EQ(chain.Error(), "Too many nested include files while processing 'f21' from 'f20'");

    // A main file that includes itself ends in the nesting error.
    Fixture self("{$I main.pas}");
    EXPECT_EQ(self.Error(), "Too many nested include files while processing 'main.pas' from 'main.pas'");
}

TEST(preprocessor, self_including_expansion_is_capped_before_memory_runs_out) {
    // Each file including the next one twice would read 2^16 files.
    Fixture wide("{$I w1}");
    for (int i = 1; i <= 16; ++i) {
        const std::string next = "w" + std::to_string(i + 1);
        wide.files["w" + std::to_string(i)] = i < 16 ? "{$I " + next + "}{$I " + next + "}" : "x";
    }
    EXPECT_EQ(wide.Error(), "Too many include files while processing 'w16' from 'w15'");
    EXPECT_EQ(wide.requests.size(), 4095u);  // the main file is not asked for

    // Self-inclusion stops at the depth limit even when it doubles.
    Fixture twice("{$I main.pas}{$I main.pas}");
    EXPECT_EQ(twice.Error(), "Too many nested include files while processing 'main.pas' from 'main.pas'");

    Fixture big("{$I big.inc}{$I big.inc}");
    big.files["big.inc"] = std::string(1000, 'x');
    big.pp.OutputSizeLimit = 1500;
    EXPECT_EQ(big.Error(), "Preprocessed text too large while processing 'big.inc' from 'main.pas'");
}

TEST(preprocessor, callback_may_rename_the_included_file) {
    Fixture f("{$I lib}");
    f.pp.OnNeedFile = [](TPSPreProcessor&, const std::string&, std::string& name, std::string& text) {
        name = "/plugins/" + name + ".inc";
        text = "zz";
        return true;
    };
    const std::string out = f.Run();
    TPSLineInfoResults r;
    ASSERT_TRUE(f.pp.LineInfo.GetLineInfo("", static_cast<std::uint32_t>(out.find("zz")), r));
    EXPECT_EQ(r.Name, "/plugins/lib.inc");
    // Looking up by module name takes the file of that name, whatever the case.
    ASSERT_TRUE(f.pp.LineInfo.GetLineInfo("/PLUGINS/LIB.INC", 1, r));
    EXPECT_EQ(r.Name, "/plugins/lib.inc");
    EXPECT_FALSE(f.pp.LineInfo.GetLineInfo("other.inc", 0, r));
}

TEST(preprocessor, each_run_starts_afresh) {
    Fixture f("{$IFDEF A}");
    EXPECT_EQ(f.Error(), "Define not closed");
    f.pp.MainFileText = "{$DEFINE A}x";
    EXPECT_EQ(f.Run(), std::string(11, ' ') + "x");
    EXPECT_EQ(f.pp.LineInfo.Count(), 1u);
    // Defines made by the script do not leak into the next run.
    f.pp.MainFileText = "{$IFDEF A}y{$ENDIF}";
    EXPECT_EQ(f.Run().find('y'), std::string::npos);
}

}  // namespace
}  // namespace script::compiler
