// Integer results of casts, built-in functions and library functions as
// plug-ins use them: assigned to variables, record fields, array elements
// and function results of wider and real types, passed by value to script
// procedures and to the library, and inside real arithmetic. Each small
// plug-in is compiled by the plug-in host and run in every tier of forms;
// every value it hands to GraphAdd must be the expression's own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/vcl/forms.h"
#include "script/runtime/my_script.h"
#include "support/form_tiers.h"

namespace script::runtime {
namespace {

// Values the expressions below read. RD holds 'A', #200 and 'Z'.
constexpr const char* kGlobals = R"(
type TLevel = (lvLow, lvHigh);
var c: Char; b: Byte; w: Word; i, big: Integer; card: Cardinal; flag: Boolean; level: TLevel;
procedure Setup;
begin
  c := RD[1]; b := 200; w := 65535; i := 300; big := 70000; card := 4294967295; flag := True; level := lvHigh;
end;
)";

struct ValueCase {
    const char* Expr;
    double Value;
    bool Real;  // a real value: no integer destination takes it
};

// Casts (Ord included) change the value to their own type before it goes
// anywhere; functions' results arrive as they are.
constexpr ValueCase kCases[] = {
    {"Ord(RD[1])", 65, false},
    {"Ord(RD[2])", 200, false},
    {"Ord(c)", 65, false},
    {"Ord(flag)", 1, false},
    {"Ord(level)", 1, false},
    {"Ord(Chr(i))", 44, false},
    {"Byte(i)", 44, false},
    {"ShortInt(b)", -56, false},
    {"SmallInt(w)", -1, false},
    {"Word(big)", 4464, false},
    {"Integer(card)", -1, false},
    {"Length(RD)", 3, false},
    {"StrToInt('-7')", -7, false},
    {"Lo(w)", 255, false},
    {"MakeWord(1, 2)", 513, false},
    {"Send('abc')", 3, false},
    {"Ord(RD[1]) * 1.5", 97.5, true},
    {"1.5 * Ord(c)", 97.5, true},
    {"Ord(RD[2]) + 0.5", 200.5, true},
    {"Byte(i) / 8.0", 5.5, true},
};

constexpr const char* kTypes[] = {"Single", "Double", "Extended", "Currency", "Variant", "Int64", "Integer"};

// Every way a value reaches a variable of type T, three times over so that
// the quicker forms take over from the general ones.
std::string Plugin(const std::string& type, const std::string& expr) {
    return std::string(kGlobals) + "type TRec = record Flag: Byte; Value: " + type + "; end;\n" +
           "var v: " + type + "; r: TRec; fixed: array[1..3] of " + type + "; open: array of " + type + ";\n" +
           "procedure Take(x: " + type + "); begin GraphAdd(x); end;\n" +
           "function Give: " + type + "; begin Result := " + expr + "; end;\n" +
           "procedure OnReceive;\nvar k: Integer;\nbegin\n  Setup;\n  SetArrayLength(open, 3);\n"
           "  for k := 1 to 3 do\n  begin\n" +
           "    v := " + expr + "; GraphAdd(v);\n" +
           "    Take(" + expr + ");\n" +
           "    GraphAdd(" + expr + ");\n" +
           "    r.Value := " + expr + "; GraphAdd(r.Value);\n" +
           "    fixed[k] := " + expr + "; GraphAdd(fixed[k]);\n" +
           "    open[k - 1] := " + expr + "; GraphAdd(open[k - 1]);\n" +
           "    GraphAdd(Give);\n" +
           "  end;\nend;\n";
}
constexpr std::size_t kValuesPerRun = 3 * 7;

TEST(plugin_values, integer_results_keep_their_value_in_wider_and_real_types) {
    vcl::EnsureApplication();
    int runs = 0;
    for (const char* type : kTypes) {
        const bool integerType = std::string(type) == "Int64" || std::string(type) == "Integer";
        for (const ValueCase& c : kCases) {
            if (c.Real && integerType) continue;
            const double want = std::string(type) == "Single" ? static_cast<float>(c.Value) : c.Value;
            for (const auto tiers : test_support::kEveryTier) {
                SCOPED_TRACE(std::string(type) + " := " + c.Expr + " (" + test_support::TierName(tiers) + ")");
                std::vector<double> values;
                TMyScript host([&](std::int32_t code, const std::string& text, std::string& reply) {
                    if (code == srSend) reply = std::to_string(text.size());
                    if (code != srGraphAdd || text.size() != sizeof(double)) return;
                    double v = 0;
                    std::memcpy(&v, text.data(), sizeof v);
                    values.push_back(v);
                });
                ASSERT_NO_THROW(host.Compile(Plugin(type, c.Expr), "values.pas"));
                host.Exec()->Forms = tiers;
                host.SetRD(true, "A\xC8Z");
                std::string error;
                try {
                    host.RunOnReceive(true);
                } catch (const std::exception& e) {
                    error = host.ExceptionText(e);
                }
                EXPECT_EQ(error, "");
                EXPECT_EQ(values, std::vector<double>(kValuesPerRun, want));
                ++runs;
            }
        }
    }
    EXPECT_EQ(runs, 3 * (5 * 20 + 2 * 16));
}

}  // namespace
}  // namespace script::runtime
