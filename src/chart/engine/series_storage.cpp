// Where a series' points come from and how they are kept: its data sources
// (other series, series sources) and its calculation function, linked,
// validated and detached; copies of another series; random sample points;
// and the series' extra stream properties, with the "Data" block of its
// points.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "chart/drawing/plot_const.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/chart_filer.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/engine_startup.h"
#include "chart/engine/series_source.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"

namespace chart::engine {

// ---- The sources list

int TDataSourcesList::IndexOf(const vcl::TComponent* Source) const {
    const auto it = std::find(items_.begin(), items_.end(), Source);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TChartSeries* TDataSourcesList::Series(int Index) const { return dynamic_cast<TChartSeries*>(Items(Index)); }

vcl::TComponent* TChartSeries::DataSource() const {
    return data_sources_.Count() > 0 ? data_sources_.Items(0) : nullptr;
}

bool TChartSeries::IsValidSource(vcl::TComponent& Source) {
    auto* series = dynamic_cast<TChartSeries*>(&Source);
    return series && series != this && (!function_ || function_->IsValidSource(*series));
}

namespace {

std::string NameOf(const vcl::TComponent& Component) {
    return Component.Name.empty() ? vcl::ClassNameOf(typeid(Component)) : Component.Name;
}

}  // namespace

void TChartSeries::SetDataSource(vcl::TComponent* Value) {
    if (!Value) {
        if (vcl::TComponent* first = DataSource()) RemoveDataSource(*first);
        return;
    }
    TCustomAxisPanel* chart = ParentChart();
    if (chart) {
        if (!chart->IsValidDataSource(*this, *Value))
            throw ChartException(rtl::Format(PlotMsg_SeriesInvalidSource, {NameOf(*Value)}));
    } else if (Value == this || !IsValidSource(*Value)) {
        throw ChartException(PlotMsg_SeriesNoParent);
    }
    if (data_sources_.IndexOf(Value) >= 0) return;
    if (auto* series = dynamic_cast<TChartSeries*>(Value); series && chart) chart->CheckDatasource(*this, *series);
    if (!Loading()) ClearDataSources();
    AddDataSource(*Value);
    CheckDataSource();
}

void TChartSeries::AddDataSource(vcl::TComponent& Source) {
    if (data_sources_.IndexOf(&Source) >= 0) return;
    if (auto* series = dynamic_cast<TChartSeries*>(&Source)) {
        // Walk every chain of sources from the new one: reaching this series
        // again would make the series feed themselves for ever.
        std::vector<const TChartSeries*> pending{series};
        std::vector<const TChartSeries*> seen;
        while (!pending.empty()) {
            const TChartSeries* s = pending.back();
            pending.pop_back();
            if (s == this) throw ChartException(PlotMsg_CircularSeries);
            if (std::find(seen.begin(), seen.end(), s) != seen.end()) continue;
            seen.push_back(s);
            for (int i = 0; i < s->data_sources_.Count(); ++i)
                if (TChartSeries* next = s->data_sources_.Series(i)) pending.push_back(next);
        }
        data_sources_.items_.push_back(&Source);
        own_data_ = false;
        series->dependents_.Add(this);
        return;
    }
    data_sources_.items_.push_back(&Source);
    own_data_ = false;
    FreeNotification(&Source);
    if (auto* source = dynamic_cast<TPlotSeriesSource*>(&Source); source && source->series_ != this) {
        // A source feeds one series: it moves here from the one it fed.
        const bool active = source->Active();
        if (active) source->Close();
        if (TChartSeries* former = source->series_) {
            // A source its series owned belongs to the series it feeds now.
            if (source->Owner() == former) {
                former->RemoveComponent(source);
                InsertComponent(source);
            }
            source->RemoveFreeNotification(former);
            source->series_ = nullptr;
            former->RemoveDataSource(*source);
        }
        source->series_ = this;
        source->FreeNotification(this);
        if (active) source->Open();
    }
}

void TChartSeries::ClearDataSources() {
    for (int i = 0; i < data_sources_.Count(); ++i) {
        if (TChartSeries* source = data_sources_.Series(i))
            source->dependents_.Remove(this);
        else
            RemoveFreeNotification(data_sources_.Items(i));
    }
    data_sources_.items_.clear();
    if (!own_data_) Clear();
}

void TChartSeries::RemoveDataSource(vcl::TComponent& Source) {
    const int index = data_sources_.IndexOf(&Source);
    if (index < 0 || Destroying()) return;
    // Off the list first: the chart's news may come back here.
    if (auto* series = dynamic_cast<TChartSeries*>(&Source)) {
        series->dependents_.Remove(this);
    } else {
        RemoveFreeNotification(&Source);
    }
    data_sources_.items_.erase(data_sources_.items_.begin() + index);
    if (TCustomAxisPanel* chart = ParentChart()) chart->RemovedDataSource(*this, Source);
    // Without a chart to tell, the series source lets go here (the link
    // between the two is gone).
    if (auto* source = dynamic_cast<TPlotSeriesSource*>(&Source); source && source->series_ == this)
        source->series_ = nullptr;
    if (index == 0) ClearDataSources();
    CheckDataSource();
}

void TChartSeries::Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) {
    TCustomChartSeries::Notification(AComponent, Operation);
    if (Operation != vcl::TOperation::opRemove) return;
    if (function_ && AComponent == function_.get()) {
        function_.release();
        return;
    }
    // Any source that goes away leaves the list, not only the first.
    const int index = data_sources_.IndexOf(AComponent);
    if (index < 0) return;
    if (index == 0) {
        RemoveDataSource(*AComponent);
    } else {
        data_sources_.items_.erase(data_sources_.items_.begin() + index);
        CheckDataSource();
    }
}

// ---- The function

void TChartSeries::SetFunction(std::unique_ptr<TPlotFunction> Value) {
    if (Value.get() == function_.get()) return;
    if (function_) RemoveFreeNotification(function_.get());
    function_.reset(Value.release());
    if (!function_) return;
    function_->parent_series_ = this;
    own_data_ = false;
    FreeNotification(function_.get());
    CheckDataSource();
}

std::unique_ptr<TPlotFunction> TChartSeries::ReleaseFunction() {
    if (!function_) return {};
    RemoveFreeNotification(function_.get());
    function_->parent_series_ = nullptr;
    return std::unique_ptr<TPlotFunction>(function_.release());
}

// ---- The chart's side

bool TCustomAxisPanel::IsValidDataSource(TChartSeries& ASeries, vcl::TComponent& AComponent) {
    if (ASeries.IsValidSource(AComponent)) return true;
    auto* source = dynamic_cast<TPlotSeriesSource*>(&AComponent);
    return source && source->Available(*this);
}

void TCustomAxisPanel::RemovedDataSource(TChartSeries& ASeries, vcl::TComponent& AComponent) {
    if (auto* source = dynamic_cast<TPlotSeriesSource*>(&AComponent); source && source->Series() == &ASeries)
        source->SetSeries(nullptr);
}

// ---- Copies

void TChartSeries::Assign(const TCustomChartElement& Source) {
    auto* other = const_cast<TChartSeries*>(dynamic_cast<const TChartSeries*>(&Source));
    TCustomChartSeries::Assign(Source);
    if (!other || other == this) return;
    SetDataSource(nullptr);
    const bool crosswise = other->y_mandatory_ != y_mandatory_;
    XValues().Assign(crosswise ? other->YValues() : other->XValues());
    YValues().Assign(crosswise ? other->XValues() : other->YValues());
    x_labels_source_ = other->x_labels_source_;
    for (std::size_t k = 2; k < lists_.size() && k < other->lists_.size(); ++k) lists_[k]->Assign(*other->lists_[k]);
    marks_->Assign(*other->marks_);
    series_color_ = other->series_color_;
    automatic_color_ = other->automatic_color_;
    color_each_point_ = other->color_each_point_;
    value_format_ = other->value_format_;
    percent_format_ = other->percent_format_;
    // Custom axes are the chart's: one of another chart is taken by its
    // place among this chart's custom axes.
    auto axisHere = [&](TChartAxis* axis) -> TChartAxis* {
        if (!axis || other->ParentChart() == ParentChart()) return axis;
        TCustomAxisPanel* chart = ParentChart();
        TCustomAxisPanel* theirs = other->ParentChart();
        if (!chart || !theirs) return nullptr;
        for (int i = 0; i < theirs->CustomAxes().Count(); ++i)
            if (&theirs->CustomAxes().Items(i) == axis)
                return i < chart->CustomAxes().Count() ? &chart->CustomAxes().Items(i) : nullptr;
        return nullptr;
    };
    custom_horiz_axis_ = axisHere(other->custom_horiz_axis_);
    horiz_axis_ = other->horiz_axis_;
    custom_vert_axis_ = axisHere(other->custom_vert_axis_);
    vert_axis_ = other->vert_axis_;
    SourceEvents = other->SourceEvents;
    Cursor = other->Cursor;
    depth_ = other->depth_;
    RecalcGetAxis();
    if (other->function_ && !function_) {
        std::unique_ptr<TPlotFunction> moved = other->ReleaseFunction();
        moved->SetParentSeries(this);
        moved.release();  // this series holds it now
    }
    own_data_ = other->own_data_;
    if (other->DataSource() && !other->own_data_) {
        for (int i = 0; i < other->data_sources_.Count(); ++i) AddDataSource(*other->data_sources_.Items(i));
    } else if (!other->own_data_ && other->Designing()) {
        // Nothing more: a series being designed shows sample points only.
    } else {
        const bool own = own_data_;
        AssignValues(*other);
        own_data_ = own;
    }
    CheckDataSource();
}

// ---- Sample points

void TChartSeries::FillSampleValues(int NumValues) {
    if (NumValues < 0) throw ChartException(PlotMsg_FillSampleValues);
    if (NumValues == 0) NumValues = PreferredSampleCount > 0 ? PreferredSampleCount : NumSampleValues();
    Clear();
    rtl::RandomGenerator().RandSeed = static_cast<std::uint32_t>(rtl::Random(7774444));
    BeginUpdate();
    try {
        AddSampleValues(NumValues, false);
        // The mandatory-order check.
        if (MandatoryValueList().Order != TChartListOrder::loNone) {
            MandatoryValueList().Sort();
            if (NotMandatoryValueList().ValueSource().empty()) NotMandatoryValueList().FillSequence();
        }
        Repaint();
    } catch (...) {
        EndUpdate();
        own_data_ = false;
        throw;
    }
    EndUpdate();
    own_data_ = false;
}

void TChartSeries::AddSampleValues(int NumValues, bool OnlyMandatory) {
    if (NumValues < 1) return;
    double xMin = 0, xMax = NumValues - 1.0, yMin = 0, yMax = 1000;
    TCustomAxisPanel* chart = ParentChart();
    bool fromAxes = false;
    if (chart)
        for (int i = 0; i < chart->SeriesCount() && !fromAxes; ++i) fromAxes = chart->GetSeries(i)->Count() > 0;
    if (fromAxes && horiz_axis_object_ && vert_axis_object_) {
        TChartAxis& valueAxis = y_mandatory_ ? *vert_axis_object_ : *horiz_axis_object_;
        TChartAxis& placeAxis = y_mandatory_ ? *horiz_axis_object_ : *vert_axis_object_;
        yMin = valueAxis.Minimum();
        yMax = valueAxis.Maximum();
        if (yMin == 0 && yMax == 0) yMax = 1000;
        else if (yMin == yMax) yMax = 2 * yMin;
        xMin = placeAxis.Minimum();
        xMax = placeAxis.Maximum();
        if (xMin == 0 && xMax == 0) xMax = NumValues - 1.0;
    } else if (NotMandatoryValueList().DateTime()) {
        xMin = std::floor(rtl::Date());
        xMax = xMin + NumValues - 1;
    }
    // One point has no step: it sits at the range's start.
    const double step = NumValues > 1 ? (xMax - xMin) / (NumValues - 1) : 0;
    const double span = std::clamp(yMax - yMin, -2147483647.0, 2147483647.0);
    double y = rtl::Random(100) * 0.01 * span + yMin;
    double x = xMin;
    for (int i = 0; i < NumValues; ++i) {
        y = std::fabs(rtl::Random(100) * 0.01 * (span / 4) + y - span / 8);
        if (OnlyMandatory)
            Add(y);
        else if (y_mandatory_)
            AddXY(x, y);
        else
            AddXY(y, x);
        x += step;
    }
}

// ---- Stream properties

void TChartSeries::SetLoading(bool Value) {
    SetComponentState(Value ? ComponentState() | vcl::csLoading : ComponentState() & ~vcl::csLoading);
}

void TChartSeries::Loaded() {
    SetLoading(false);
    TCustomAxisPanel* chart = ParentChart();
    if (chart) {
        auto bind = [&](int index) -> TChartAxis* {
            return index >= 0 && index < chart->CustomAxes().Count() ? &chart->CustomAxes().Items(index) : nullptr;
        };
        if (custom_horiz_axis_index_ >= 0) SetCustomHorizAxis(bind(custom_horiz_axis_index_));
        if (custom_vert_axis_index_ >= 0) SetCustomVertAxis(bind(custom_vert_axis_index_));
    }
    custom_horiz_axis_index_ = custom_vert_axis_index_ = -1;
    if (!data_source_names_.empty()) {
        const std::vector<std::string> names = std::move(data_source_names_);
        data_source_names_.clear();
        ClearDataSources();
        if (vcl::TComponent* owner = Owner())
            for (const std::string& name : names)
                if (vcl::TComponent* source = owner->FindComponent(name)) AddDataSource(*source);
    }
    CheckDataSource();
}

namespace {

int CustomAxisIndex(TCustomAxisPanel* Chart, TChartAxis* Axis) {
    if (!Chart || !Axis) return -1;
    for (int i = 0; i < Chart->CustomAxes().Count(); ++i)
        if (&Chart->CustomAxes().Items(i) == Axis) return i;
    return -1;
}

}  // namespace

void TCustomChartSeries::DefineProperties(TFiler& Filer) {
    Filer.DefineProperty(
        "Identifier", [this](chart::TReader& Reader) { Identifier = Reader.ReadString(); },
        [this](chart::TWriter& Writer) { Writer.WriteString(Identifier); }, IsIdentifierStored());
    // The set as an integer, bit i for flag i; reading takes flags 0 to 5.
    Filer.DefineProperty(
        "Style", [this](chart::TReader& Reader) { SetStyle(static_cast<TSeriesStyle>(Reader.ReadInteger() & 0x3F)); },
        [this](chart::TWriter& Writer) { Writer.WriteInteger(style_); }, IsStyleStored());
}

void TChartSeries::DefineProperties(TFiler& Filer) {
    TCustomChartSeries::DefineProperties(Filer);
    // Value lists of older streams kept a multiplier; only 1 means nothing.
    for (const char* list : {"XValues.Multiplier", "YValues.Multiplier"})
        Filer.DefineProperty(
            list,
            [](chart::TReader& Reader) {
                if (Reader.ReadFloat() != 1)
                    PlotEngineErrorBox(std::string("Error: Multiplier property is obsolete.") + '\r' +
                                       "Modify PlotDefs.inc (enable Multiplier) and recompile.");
            },
            {}, false);
    Filer.DefineProperty(
        "DataSources",
        [this](chart::TReader& Reader) {
            data_source_names_.clear();
            Reader.ReadListBegin();
            while (!Reader.EndOfList()) data_source_names_.push_back(Reader.ReadString());
            Reader.ReadListEnd();
        },
        [this](chart::TWriter& Writer) {
            Writer.WriteListBegin();
            for (int i = 0; i < data_sources_.Count(); ++i) Writer.WriteString(data_sources_.Items(i)->Name);
            Writer.WriteListEnd();
        },
        data_sources_.Count() > 1);
    const int horiz = horiz_axis_ == aCustomHorizAxis ? CustomAxisIndex(ParentChart(), custom_horiz_axis_) : -1;
    Filer.DefineProperty(
        "CustomHorizAxis",
        [this](chart::TReader& Reader) {
            custom_horiz_axis_index_ = static_cast<int>(std::clamp<long long>(Reader.ReadInteger(), -1, INT32_MAX));
        },
        [horiz](chart::TWriter& Writer) { Writer.WriteInteger(horiz); }, horiz >= 0);
    const int vert = vert_axis_ == aCustomVertAxis ? CustomAxisIndex(ParentChart(), custom_vert_axis_) : -1;
    Filer.DefineProperty(
        "CustomVertAxis",
        [this](chart::TReader& Reader) {
            custom_vert_axis_index_ = static_cast<int>(std::clamp<long long>(Reader.ReadInteger(), -1, INT32_MAX));
        },
        [vert](chart::TWriter& Writer) { Writer.WriteInteger(vert); }, vert >= 0);
    TPrefixedFiler marks(Filer, "Marks.");
    marks_->DefineProperties(marks);
    Filer.DefineBinaryProperty(
        "Data", [this](vcl::TStream& Stream) { ReadData(Stream); },
        [this](vcl::TStream& Stream) { WriteData(Stream); }, ForceSaveData || (own_data_ && !DontSaveData));
}

// ---- The "Data" block
//
// Flags byte (bit 0 X values, bit 1 colours, bit 2 labels, bit 3 mark
// positions), a 32-bit point count, then per point: X (bit 0), Y, colour
// (bit 1), label as a length byte and its characters (bit 2), one double per
// extra value list, the mark position (bit 3: 34 bytes). Little-endian.

namespace {

constexpr std::uint8_t kHasX = 1, kHasColors = 2, kHasLabels = 4, kHasMarks = 8;
constexpr int kMarkRecordSize = 34;

class TBlockWriter {
  public:
    explicit TBlockWriter(std::size_t Reserve) { bytes_.reserve(Reserve); }
    template <class T>
    void Put(T Value) {
        if constexpr (std::is_same_v<T, double>) {
            Put(std::bit_cast<std::uint64_t>(Value));
        } else {
            using U = std::make_unsigned_t<T>;
            U v = static_cast<U>(Value);
            for (std::size_t i = 0; i < sizeof(T); ++i, v = static_cast<U>(v >> 8))
                bytes_.push_back(static_cast<char>(v & 0xFF));
        }
    }
    void PutBytes(const std::string& Text) { bytes_.append(Text); }
    const std::string& Bytes() const { return bytes_; }

  private:
    std::string bytes_;
};

class TBlockReader {
  public:
    explicit TBlockReader(const std::string& Bytes) : bytes_(Bytes) {}
    std::size_t Left() const { return bytes_.size() - at_; }
    template <class T>
    T Get() {
        if constexpr (std::is_same_v<T, double>) {
            return std::bit_cast<double>(Get<std::uint64_t>());
        } else {
            Need(sizeof(T));
            using U = std::make_unsigned_t<T>;
            U v = 0;
            for (std::size_t i = 0; i < sizeof(T); ++i)
                v = static_cast<U>(v | static_cast<U>(static_cast<std::uint8_t>(bytes_[at_ + i])) << (8 * i));
            at_ += sizeof(T);
            return static_cast<T>(v);
        }
    }
    std::string GetBytes(std::size_t Count) {
        Need(Count);
        std::string s = bytes_.substr(at_, Count);
        at_ += Count;
        return s;
    }

  private:
    void Need(std::size_t Count) const {
        if (Left() < Count) throw rtl::EReadError("Data block is shorter than its points");
    }
    const std::string& bytes_;
    std::size_t at_ = 0;
};

std::string WholeStream(vcl::TStream& Stream) {
    const std::int64_t left = Stream.Size() - Stream.Position();
    if (left < 0 || left > INT32_MAX) throw rtl::EReadError("Stream read error");
    std::string bytes(static_cast<std::size_t>(left), '\0');
    if (left > 0) Stream.ReadBuffer(bytes.data(), static_cast<std::int32_t>(left));
    return bytes;
}

}  // namespace

void TChartSeries::WriteData(vcl::TStream& Stream) {
    const int n = Count();
    const TChartValueList& placed = NotMandatoryValueList();
    const TChartValueList& values = MandatoryValueList();
    std::uint8_t flags = 0;
    if (StoreXValues && n >= 1) {
        bool sequence = placed.Value(0) == 0 && placed.Value(n - 1) == n - 1;
        for (int i = 0; sequence && i <= std::min(10000, n - 1); ++i) sequence = placed.Value(i) == i;
        if (!sequence) flags |= kHasX;
    }
    if (colors_)
        for (int i = 0; i <= std::min(10000, n - 1); ++i) {
            const TColor c = i < static_cast<int>(colors_->size()) ? (*colors_)[static_cast<std::size_t>(i)] : vcl::clDefault;
            if (c != vcl::clDefault && c != SeriesColor()) {
                flags |= kHasColors;
                break;
            }
        }
    if (labels_.Count() > 0)
        for (int i = 0; i <= std::min(100, n - 1); ++i)
            if (!labels_.Labels(i).empty()) {
                flags |= kHasLabels;
                break;
            }
    if (marks_->Positions().HasCustom()) flags |= kHasMarks;

    const std::size_t extra = lists_.size() - 2;
    TBlockWriter out(5 + static_cast<std::size_t>(n) * (16 + 4 + 8 * extra));
    out.Put(flags);
    out.Put(static_cast<std::int32_t>(n));
    for (int i = 0; i < n; ++i) {
        if (flags & kHasX) out.Put(placed.Value(i));
        out.Put(values.Value(i));
        if (flags & kHasColors)
            out.Put(static_cast<std::uint32_t>(colors_ && i < static_cast<int>(colors_->size())
                                                   ? (*colors_)[static_cast<std::size_t>(i)]
                                                   : vcl::clDefault));
        if (flags & kHasLabels) {
            // A length byte holds at most 255 characters: a longer label is
            // cut there rather than corrupt the block.
            std::string label = labels_.Labels(i);
            if (label.size() > 255) label.resize(255);
            out.Put(static_cast<std::uint8_t>(label.size()));
            out.PutBytes(label);
        }
        for (std::size_t k = 2; k < lists_.size(); ++k) out.Put(lists_[k]->Value(i));
        if (flags & kHasMarks) {
            const TSeriesMarkPosition& p = marks_->Positions().Ensure(i);
            out.Put(static_cast<std::int32_t>(p.ArrowFrom.X));
            out.Put(static_cast<std::int32_t>(p.ArrowFrom.Y));
            out.Put(static_cast<std::uint8_t>(p.ArrowFix ? 1 : 0));
            out.Put(static_cast<std::int32_t>(p.ArrowTo.X));
            out.Put(static_cast<std::int32_t>(p.ArrowTo.Y));
            out.Put(static_cast<std::uint8_t>(p.Custom ? 1 : 0));
            out.Put(static_cast<std::int32_t>(p.Height));
            out.Put(static_cast<std::int32_t>(p.LeftTop.X));
            out.Put(static_cast<std::int32_t>(p.LeftTop.Y));
            out.Put(static_cast<std::int32_t>(p.Width));
        }
    }
    Stream.WriteBuffer(out.Bytes().data(), static_cast<std::int32_t>(out.Bytes().size()));
}

void TChartSeries::ReadData(vcl::TStream& Stream) {
    const std::string block = WholeStream(Stream);
    const std::size_t extra = lists_.size() - 2;
    // Two walks over the block: the first only checks that every point is
    // there (a bad block changes nothing), the second adds them.
    auto walk = [&](bool Apply) {
        TBlockReader in(block);
        const auto flags = in.Get<std::uint8_t>();
        if (flags & ~(kHasX | kHasColors | kHasLabels | kHasMarks))
            throw rtl::EReadError("Data block has unknown flags");
        const auto count = in.Get<std::int32_t>();
        if (count < 0) throw rtl::EReadError("Data block has a negative point count");
        // The smallest record the flags allow: no count may promise more
        // than the block holds.
        const std::size_t least = (flags & kHasX ? 8 : 0) + 8 + (flags & kHasColors ? 4 : 0) +
                                  (flags & kHasLabels ? 1 : 0) + 8 * extra + (flags & kHasMarks ? kMarkRecordSize : 0);
        if (static_cast<std::uint64_t>(count) * least > in.Left())
            throw rtl::EReadError("Data block is shorter than its points");
        for (int i = 0; i < count; ++i) {
            const double x = flags & kHasX ? in.Get<double>() : static_cast<double>(i);
            const double y = in.Get<double>();
            const TColor color = flags & kHasColors ? static_cast<TColor>(in.Get<std::uint32_t>()) : vcl::clDefault;
            std::string label;
            if (flags & kHasLabels) label = in.GetBytes(in.Get<std::uint8_t>());
            for (std::size_t k = 0; k < extra; ++k) lists_[k + 2]->TempValue = in.Get<double>();
            TSeriesMarkPosition mark;
            if (flags & kHasMarks) {
                mark.ArrowFrom.X = in.Get<std::int32_t>();
                mark.ArrowFrom.Y = in.Get<std::int32_t>();
                mark.ArrowFix = in.Get<std::uint8_t>() != 0;
                mark.ArrowTo.X = in.Get<std::int32_t>();
                mark.ArrowTo.Y = in.Get<std::int32_t>();
                mark.Custom = in.Get<std::uint8_t>() != 0;
                mark.Height = in.Get<std::int32_t>();
                mark.LeftTop.X = in.Get<std::int32_t>();
                mark.LeftTop.Y = in.Get<std::int32_t>();
                mark.Width = in.Get<std::int32_t>();
            }
            if (!Apply) continue;
            y_mandatory_ ? AddXY(x, y, label, color) : AddXY(y, x, label, color);
            if (flags & kHasMarks) marks_->Positions().Ensure(i) = mark;
        }
        if (in.Left() != 0) throw rtl::EReadError("Data block is longer than its points");
    };
    walk(false);
    Clear();
    BeginUpdate();
    try {
        walk(true);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
    own_data_ = true;
}

}  // namespace chart::engine
