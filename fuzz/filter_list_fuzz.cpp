// An image filter list of any bytes, as a form stream holds one: it either
// reads (every filter of a registered class, its settings as stored) or is
// refused with the stream's read error or the unknown class's error, the
// list keeping what it held. A list that reads is applied to a small
// bitmap when its settings are ones the filters editor can give (its
// ranges, a few mirrors): stored values beyond them may ask for bitmaps of
// gigabytes, which is the memory's limit and no fault of the reading (a filter asking for a bitmap too large to make raises the
// drawing layer's error); written again, it reads back into a list that
// writes the same bytes and filters a copy of the bitmap to the same
// pixels.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/drawing/plot_filters.h"
#include "chart/drawing/property_stream.h"
#include "fuzz_support.h"
#include "platform/gdi/objects.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/properties.h"
#include "platform/vcl/streams.h"

namespace {

using fuzz_support::Check;

std::unique_ptr<vcl::TBitmap> Scrambled() {
    auto b = std::make_unique<vcl::TBitmap>(23, 17);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x) b->Handle()->SetPixel(x, y, gdi::RGB(x * 37 + y * 11, x * 5 + y * 71, (x ^ y) * 13));
    return b;
}

std::vector<gdi::COLORREF> Pixels(const vcl::TBitmap& b) {
    std::vector<gdi::COLORREF> out{static_cast<gdi::COLORREF>(b.Width()), static_cast<gdi::COLORREF>(b.Height())};
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) out.push_back(b.Handle()->GetPixel(x, y));
    return out;
}

// The ranges the filters editor offers for a filter's settings.
struct TRangeRecorder : chart::IFormCreator {
    struct TRange {
        std::string Prop;
        int Min, Max;
    };
    struct TScroll : chart::TFormScrollBar {
        void SetRange(int, int) override {}
    };
    std::vector<TRange> Ranges;
    std::vector<std::shared_ptr<TScroll>> Scrolls;
    void AddCheckBox(const std::string&, const std::string&, std::function<void()>) override {}
    void AddColor(const std::string&, const std::string&) override {}
    void AddCombo(const std::string&) override {}
    void AddInteger(const std::string& Prop, const std::string&, int Min, int Max) override {
        Ranges.push_back({Prop, Min, Max});
    }
    std::weak_ptr<chart::TFormScrollBar> AddScroll(const std::string& Prop, int Min, int Max) override {
        Ranges.push_back({Prop, Min, Max});
        Scrolls.push_back(std::make_shared<TScroll>());
        return Scrolls.back();
    }
};

bool EditorCouldGive(const chart::TFilterItems& items) {
    int mirrors = 0;
    for (int i = 0; i < items.Count(); ++i) {
        chart::TPlotFilter& filter = items.Items(i);
        mirrors += filter.FilterClass().Name == "TMirrorFilter";
        TRangeRecorder recorder;
        filter.CreateEditor(recorder, {});
        for (const TRangeRecorder::TRange& r : recorder.Ranges) {
            const vcl::TPropInfo* p = vcl::GetPropInfo(filter, r.Prop);
            if (!p) continue;
            const double v = p->Kind == vcl::TTypeKind::tkFloat ? p->GetFloat(filter) : static_cast<double>(p->GetOrd(filter));
            if (!(v >= r.Min && v <= r.Max)) return false;
        }
    }
    return mirrors <= 3;
}

// Applies the list; a filter that asks for a bitmap larger than can be
// made raises, which a paint reports. The message, or empty.
std::string Apply(chart::TFilterItems& items, vcl::TBitmap& bitmap) {
    try {
        items.ApplyTo(bitmap);
    } catch (const gdi::EGdiError& e) {
        return e.Message;
    }
    return {};
}

std::string Written(const chart::TFilterItems& items) {
    vcl::TMemoryStream stream;
    chart::TWriter writer(stream);
    items.WriteItems(writer);
    return {reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size())};
}

void Read(chart::TFilterItems& items, std::string_view bytes) {
    vcl::TMemoryStream stream;
    if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream.SetPosition(0);
    chart::TReader reader(stream);
    items.ReadItems(reader);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::QuietApplication();
    chart::PlotFiltersLinked();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    chart::TFilterItems items;
    items.Add(*chart::FindFilterClass("TInvertFilter"));
    try {
        Read(items, fuzz_support::Bytes(data, size));
    } catch (const rtl::EReadError&) {
        Check(items.Count() == 1);
        return 0;
    } catch (const chart::EClassNotFound&) {
        Check(items.Count() == 1);
        return 0;
    }
    const bool apply = EditorCouldGive(items);
    auto bitmap = Scrambled();
    const std::string failure = apply ? Apply(items, *bitmap) : std::string();

    const std::string written = Written(items);
    chart::TFilterItems back;
    Read(back, written);
    Check(back.Count() == items.Count() && Written(back) == written);
    auto copy = Scrambled();
    if (apply) Check(Apply(back, *copy) == failure && Pixels(*copy) == Pixels(*bitmap));
    return 0;
}
