#pragma once
// One point handed to a series in a batch: its position and its value.
namespace chart::engine {

struct TChartXY {
    double X;
    double Y;
};
static_assert(sizeof(TChartXY) == 16);

}  // namespace chart::engine
