// A graph window's point file of any bytes either loads, in ascending X, or
// is refused with the reader's own errors. What loads saves; the saved file
// loads back to the same points to 15 significant digits, in the same
// order, and saves again to the same bytes.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "chart/engine/value_list.h"
#include "fuzz_support.h"
#include "graph/graph_form.h"
#include "graph/point_file.h"
#include "platform/rtl/exceptions.h"

namespace {

using fuzz_support::Check;
using graph::TGraphPoint;

// Few enough that the capacity error is reached too.
constexpr int kMaxPoints = 300;

bool Load(const std::string& file, std::vector<TGraphPoint>& points) {
    chart::engine::TChartValueList x, y;
    try {
        graph::ReadPointFile(file, kMaxPoints, x, y);
    } catch (const rtl::EConvertError&) {
        return false;
    } catch (const rtl::EListError&) {
        return false;
    }
    Check(x.Count() == y.Count());
    points.clear();
    for (int i = 0; i < x.Count(); ++i) points.push_back({x.Value(i), y.Value(i)});
    return true;
}

void Save(const std::string& file, const std::vector<TGraphPoint>& points) {
    std::vector<double> x, y;
    for (const TGraphPoint& p : points) {
        x.push_back(p.X);
        y.push_back(p.Y);
    }
    graph::WritePointFile(file, x, y);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in = fuzz_support::File("in.csv");
    const std::string saved = fuzz_support::File("saved.csv");
    const std::string again = fuzz_support::File("again.csv");
    fuzz_support::WriteFile(in, fuzz_support::Bytes(data, size));
    std::vector<TGraphPoint> points;
    if (!Load(in, points)) return 0;
    Check(points.size() <= static_cast<std::size_t>(kMaxPoints));
    Check(std::is_sorted(points.begin(), points.end(), [](auto& a, auto& b) { return a.X < b.X; }));
    for (const TGraphPoint& p : points) Check(std::isfinite(p.X) && std::isfinite(p.Y));

    Save(saved, points);
    std::vector<TGraphPoint> back;
    Check(Load(saved, back));
    Check(back.size() == points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        Check(fuzz_support::Same15(points[i].X, back[i].X) && fuzz_support::Same15(points[i].Y, back[i].Y));
    // A value near the top of the range that 15 digits would round past it
    // is written with 16, which may read back as a neighbour that 15 digits
    // do hold; from then on the text is stable.
    Save(again, back);
    std::vector<TGraphPoint> third;
    Check(Load(again, third) && third.size() == back.size());
    const std::string last = fuzz_support::File("last.csv");
    Save(last, third);
    Check(fuzz_support::ReadFile(last) == fuzz_support::ReadFile(again));
    return 0;
}
