// A chart's extra stream properties of any bytes, as a form stream would
// hand them to the chart, its two series (their "Data" blocks, marks items,
// data sources and custom axes) and a colour band tool (its axis): each
// property either reads or is refused with the stream's read error or the
// property's own refusal of its value, leaving the object whole; the series then finish loading (their sources bound by
// name), and the chart paints. What a series reads writes again to a
// stream that a new series reads and writes to the same bytes.
//
// Input: records of one byte choosing the object, then a property (its
// name and value) of the property stream.
#include <cstddef>
#include <cstdint>
#include <string>

#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/chart_filer.h"
#include "chart/engine/fast_line_series.h"
#include "chart/tools/color_band_tool.h"
#include "fuzz_support.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/streams.h"
#include "support/extra_properties.h"
#include "support/recording_series.h"

namespace {

using namespace chart::engine;
using fuzz_support::Check;

// Reads one property into the object; false when the stream holds no more
// that the object knows.
template <class T>
bool ReadOne(T& object, chart::TReader& reader) {
    try {
        TPropertyReader filer(reader, reader.ReadPropName());
        object.DefineProperties(filer);
        return filer.Found();
    } catch (const rtl::EReadError&) {
        return false;
    } catch (const ChartException&) {
        // A value its property refuses (a negative page size).
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::QuietApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vcl::TComponent owner(nullptr);
    test_support::PlainChart chart(320, 200, &owner);
    chart.CustomAxes().Add().SetHorizontal(true);
    chart.CustomAxes().Add();
    TFastLineSeries* series[2];
    for (int i = 0; i < 2; ++i) {
        series[i] = new TFastLineSeries(&owner);
        series[i]->Name = i == 0 ? "Series1" : "Series2";
        series[i]->SetParentChart(&chart);
        series[i]->SetLoading(true);
    }
    series[1]->Marks().SetVisible(true);
    auto* band = new chart::tools::TColorBandTool(&owner);
    band->SetParentChart(&chart);

    vcl::TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<std::int32_t>(size));
    stream.SetPosition(0);
    chart::TReader reader(stream);
    bool more = true;
    while (more && stream.Position() < stream.Size()) {
        std::uint8_t which = 0;
        stream.ReadBuffer(&which, 1);
        switch (which % 5) {
            case 0: more = ReadOne(chart, reader); break;
            case 1: more = ReadOne(*series[0], reader); break;
            case 2: more = ReadOne(*series[1], reader); break;
            case 3: more = ReadOne(series[1]->Marks(), reader); break;
            default: more = ReadOne(*band, reader); break;
        }
    }
    for (TFastLineSeries* s : series) {
        try {
            s->Loaded();
        } catch (const rtl::Exception&) {
            // A source the chart refuses (a circle of sources): the series
            // keeps the ones it took.
        }
    }
    (void)chart.Render();

    for (TFastLineSeries* s : series) {
        const std::string written = test_support::WrittenProperties(*s);
        auto* copy = new TFastLineSeries(&owner);
        copy->SetParentChart(&chart);
        copy->SetLoading(true);
        Check(test_support::ReadProperties(*copy, written));
        copy->Loaded();
        Check(test_support::WrittenProperties(*copy) == written);
        vcl::TComponent::Free(copy);
    }
    return 0;
}
