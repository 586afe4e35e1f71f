// A plug-in that turns the received characters into numbers, as the
// manual tells authors to (Ord), and keeps them in real variables and on
// the graph: the device on a pseudo-terminal, the plug-in in the window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/plugin_window.h"

namespace {

using test_support::PluginWindow;

constexpr const char* kPlugin = R"(
var v: Double; s: Single; sum: Extended;
procedure OnReceive;
var i: Integer;
begin
  for i := 1 to Length(RD) do
  begin
    v := Ord(RD[i]);
    s := Ord(RD[i]);
    sum := sum + Ord(RD[i]) / 2.0;
    GraphAdd(Ord(RD[i]) * 1.5);
  end;
  AddMsg(Format('%g %g %g', [v, s, sum]));
end;
)";

TEST(plugin_values_e2e, received_characters_become_numbers_in_real_variables_and_on_the_graph) {
    PluginWindow w(kPlugin);
    ASSERT_NE(w.main->Script, nullptr) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(w.main->cp1->Connected());
    const int points = w.graph->PointCount() + w.graph->PendingCount();
    ASSERT_TRUE(w.Play("A\xC8", 2));
    EXPECT_EQ(w.Messages, std::vector<std::string>{}) << "the event ended in an error";
    EXPECT_EQ(w.LastMsg(), "200 200 132.5");
    EXPECT_EQ(w.graph->PointCount() + w.graph->PendingCount(), points + 2);
}

}  // namespace
