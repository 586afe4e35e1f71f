// The table of end-to-end cases of the receive way (receive_table.h). The
// cover (every pair of a source, a plug-in action, a user action and a view
// at least once) runs with the other tests; with VOSTREL_RECEIVE_TABLE=all in
// the environment the whole table is there too (scripts/receive-table.sh
// runs it and prints one line a cell; scripts/inject-faults.sh runs the
// cells that must catch each fault of tests/faults/).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "e2e/receive_table.h"

namespace {

using receive_table::Cell;

class receive_table_cell : public ::testing::TestWithParam<Cell> {};

TEST_P(receive_table_cell, keeps_every_byte_in_order_stamped_bounded_and_closes_at_once) {
    const Cell& c = GetParam();
    const receive_table::Result r = receive_table::RunCell(c);
    // One line a cell, for the table's script.
    const char* state = !r.Applicable ? "n/a" : !r.Ok ? "FAILED" : r.Void ? "void" : "ok";
    std::printf("CELL %s | %s | %s\n", receive_table::Name(c).c_str(), state, r.Summary.c_str());
    for (const std::string& f : r.Failures) std::printf("CELL   - %s\n", f.c_str());
    for (const std::string& v : r.Voids) std::printf("CELL   ~ void: %s\n", v.c_str());
    std::fflush(stdout);
    EXPECT_TRUE(r.Ok) << receive_table::Name(c);
    for (const std::string& f : r.Failures) ADD_FAILURE() << f;
    // A cell the machine kept from deciding neither passes nor fails: it is
    // skipped, and says why.
    if (r.Ok && r.Void) GTEST_SKIP() << "void: " << r.Voids.front();
}

std::string CellName(const ::testing::TestParamInfo<Cell>& Info) {
    return "s" + std::to_string(static_cast<int>(Info.param.source)) + "_p" +
           std::to_string(static_cast<int>(Info.param.plugin)) + "_u" +
           std::to_string(static_cast<int>(Info.param.user)) +
           (Info.param.view == receive_table::View::Plain ? "" : "_v" + std::to_string(static_cast<int>(Info.param.view)));
}

std::vector<Cell> Everything() {
    const char* all = std::getenv("VOSTREL_RECEIVE_TABLE");
    return all && std::string(all) == "all" ? receive_table::AllCells() : std::vector<Cell>{};
}

INSTANTIATE_TEST_SUITE_P(cover, receive_table_cell, ::testing::ValuesIn(receive_table::CoverCells()), CellName);
INSTANTIATE_TEST_SUITE_P(all, receive_table_cell, ::testing::ValuesIn(Everything()), CellName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(receive_table_cell);

}  // namespace
