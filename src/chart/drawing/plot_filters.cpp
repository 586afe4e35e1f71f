#include "chart/drawing/plot_filters.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "chart/drawing/property_stream.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/properties.h"

namespace chart {

// ---- Regions

void TFilterRegion::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TFilterRegion*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    Left = other->Left;
    Top = other->Top;
    Width = other->Width;
    Height = other->Height;
}

// ---- Filters

TPlotFilter::~TPlotFilter() {
    Lines.clear();
    region_.reset();
}

TFilterRegion& TPlotFilter::Region() {
    if (!region_) region_ = std::make_unique<TFilterRegion>();
    return *region_;
}

void TPlotFilter::SetRegion(const TFilterRegion* Value) {
    if (!Value) {
        region_.reset();
        return;
    }
    Region().Assign(*Value);
}

void TPlotFilter::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TPlotFilter*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    Enabled = other->Enabled;
    SetRegion(other->region_.get());
    // The settings of the class itself: a copied list keeps them.
    PlotFiltersLinked();
    if (typeid(*other) != typeid(*this)) return;
    const vcl::TPropertyTable* table = vcl::PropertyTableOf(*this);
    if (!table) return;
    for (const vcl::TPropInfo* p : table->All()) {
        if (p->GetOrd && p->SetOrd) p->SetOrd(*this, p->GetOrd(*other));
        else if (p->GetFloat && p->SetFloat) p->SetFloat(*this, p->GetFloat(*other));
        else if (p->GetStr && p->SetStr) p->SetStr(*this, p->GetStr(*other));
    }
}

void PublishFilterFrame() {
    static const bool published = [] {
        vcl::RegisterProperties<TFilterRegion>()
            .Integer("Left", &TFilterRegion::Left, &TFilterRegion::Left, 0)
            .Integer("Top", &TFilterRegion::Top, &TFilterRegion::Top, 0)
            .Integer("Width", &TFilterRegion::Width, &TFilterRegion::Width, 0)
            .Integer("Height", &TFilterRegion::Height, &TFilterRegion::Height, 0);
        vcl::RegisterProperties<TPlotFilter>()
            .Boolean("Enabled", &TPlotFilter::Enabled, &TPlotFilter::Enabled, true)
            .Class("Region", "TFilterRegion", [](TPlotFilter& f, bool create) -> vcl::TPersistent* {
                return create ? &f.Region() : f.RegionIfAny();
            });
        return true;
    }();
    (void)published;
}

const TFilterClass& TPlotFilter::Class() {
    static const TFilterClass c{"TPlotFilter", [] { return std::string("TPlotFilter"); },
                                [] { return std::make_unique<TPlotFilter>(); }};
    return c;
}

const TFilterClass& TPlotFilter::FilterClass() const { return Class(); }

TPlotFilter& TPlotFilter::CreateLike(TFilterItems& Collection) const {
    return Collection.Adopt(FilterClass().Create());
}

std::string TPlotFilter::Description() const { return ClassName(); }

void TPlotFilter::CreateEditor(IFormCreator&, std::function<void(vcl::TPersistent*)> Changed) {
    ChangeEvent = std::move(Changed);
}

TRect TPlotFilter::ApplyRect(const vcl::TBitmap& Bitmap) const {
    const long long w = Bitmap.Width(), h = Bitmap.Height();
    if (!region_) return {0, 0, static_cast<int>(w - 1), static_cast<int>(h - 1)};
    const TFilterRegion& r = *region_;
    long long left = r.Left, top = r.Top;
    long long right = r.Width != 0 ? std::min<long long>(w - 1, left + r.Width) : std::max<long long>(left, w - 1);
    long long bottom = r.Height != 0 ? std::min<long long>(h - 1, top + r.Height) : std::max<long long>(top, h - 1);
    // A region that starts outside the bitmap is cut to it; one wholly
    // outside leaves nothing to filter.
    left = std::max<long long>(left, 0);
    top = std::max<long long>(top, 0);
    right = std::min<long long>(right, w - 1);
    bottom = std::min<long long>(bottom, h - 1);
    if (left > right || top > bottom) return {0, 0, -1, -1};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right), static_cast<int>(bottom)};
}

void TPlotFilter::ApplyTo(vcl::TBitmap& Bitmap) { Apply(Bitmap, ApplyRect(Bitmap)); }

std::vector<std::uint8_t*> TPlotFilter::RowTable(vcl::TBitmap& Bitmap) {
    Bitmap.SetPixelFormat(vcl::TPixelFormat::pf24bit);
    const int h = Bitmap.Height();
    std::vector<std::uint8_t*> lines;
    if (h <= 0 || Bitmap.Width() <= 0) return lines;
    lines.resize(static_cast<std::size_t>(h));
    lines[0] = Bitmap.ScanLine(0);
    if (h >= 2) {
        lines[1] = Bitmap.ScanLine(1);
        const std::ptrdiff_t distance = lines[1] - lines[0];
        for (int y = 2; y < h; ++y) lines[static_cast<std::size_t>(y)] = lines[static_cast<std::size_t>(y) - 1] + distance;
    }
    return lines;
}

void TPlotFilter::Apply(vcl::TBitmap& Bitmap, const TRect&) {
    if (LinesReady) return;
    Lines = RowTable(Bitmap);
    width_ = Lines.empty() ? 0 : Bitmap.Width();
}

bool TPlotFilter::Clip(TRect& Rect) const {
    if (Lines.empty()) return false;
    Rect.Left = std::max(Rect.Left, 0);
    Rect.Top = std::max(Rect.Top, 0);
    Rect.Right = std::min(Rect.Right, width_ - 1);
    Rect.Bottom = std::min(Rect.Bottom, static_cast<int>(Lines.size()) - 1);
    return Rect.Left <= Rect.Right && Rect.Top <= Rect.Bottom;
}

// ---- Lists

TFilterItems::~TFilterItems() { Clear(); }

TPlotFilter& TFilterItems::Items(int Index) const {
    if (Index < 0 || Index >= Count())
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    return *items_[static_cast<std::size_t>(Index)];
}

TPlotFilter& TFilterItems::Add(const TFilterClass& Class) { return Adopt(Class.Create()); }

TPlotFilter& TFilterItems::Adopt(std::unique_ptr<TPlotFilter> Filter) {
    Filter->collection_ = this;
    items_.push_back(std::move(Filter));
    return *items_.back();
}

void TFilterItems::Delete(int Index) {
    Items(Index);
    items_.erase(items_.begin() + Index);
}

void TFilterItems::Exchange(int Index1, int Index2) {
    Items(Index1);
    Items(Index2);
    std::swap(items_[static_cast<std::size_t>(Index1)], items_[static_cast<std::size_t>(Index2)]);
}

void TFilterItems::Clear() { items_.clear(); }

void TFilterItems::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TFilterItems*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    if (other == this) return;
    Clear();
    BeginUpdate();
    for (const auto& item : other->items_) item->CreateLike(*this).Assign(*item);
    EndUpdate();
}

void TFilterItems::ApplyTo(vcl::TBitmap& Bitmap) {
    for (const auto& item : items_)
        if (item->Enabled) item->ApplyTo(Bitmap);
}

void TFilterItems::WriteItems(TWriter& Writer) const {
    Writer.WriteValue(TValueType::vaCollection);
    for (const auto& item : items_) {
        Writer.WriteListBegin();
        Writer.WritePropName("ItemClass");
        Writer.WriteString(item->FilterClass().Name);
        Writer.WriteProperties(*item);
        Writer.WriteListEnd();
    }
    Writer.WriteListEnd();
}

void TFilterItems::ReadItems(TReader& Reader) {
    // Read aside first: a stream that fails half way leaves the list as it was.
    TFilterItems read(owner_);
    if (Reader.ReadValue() != TValueType::vaCollection) throw rtl::EReadError("Invalid stream format");
    while (!Reader.EndOfList()) {
        switch (Reader.NextValue()) {
            case TValueType::vaInt8:
            case TValueType::vaInt16:
            case TValueType::vaInt32: Reader.ReadInteger(); break;  // an item index
            default: break;
        }
        Reader.ReadListBegin();
        if (Reader.ReadPropName() != "ItemClass") throw rtl::EReadError("Invalid stream format");
        const std::string name = Reader.ReadString();
        const TFilterClass* c = FindFilterClass(name);
        if (!c) throw EClassNotFound("Class " + name + " not found");
        Reader.ReadProperties(read.Add(*c));
        Reader.ReadListEnd();
    }
    Reader.ReadListEnd();
    BeginUpdate();
    Clear();
    for (auto& item : read.items_) Adopt(std::move(item));
    read.items_.clear();
    EndUpdate();
}

// ---- Picture

TPlotPicture::TPlotPicture() = default;
TPlotPicture::~TPlotPicture() {
    filters_.reset();
    filtered_.reset();
}

TFilterItems& TPlotPicture::Filters() {
    if (!filters_) filters_ = std::make_unique<TFilterItems>(this);
    return *filters_;
}

void TPlotPicture::SetFilters(const TFilterItems* Value) {
    if (!Value) {
        filters_.reset();
        return;
    }
    Filters().Assign(*Value);
}

void TPlotPicture::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TPlotPicture*>(&Source)) SetFilters(other->filters_.get());
    vcl::TPicture::Assign(Source);
}

void TPlotPicture::WriteFilterItems(TWriter& Writer) const {
    if (!FilterItemsStored()) return;
    Writer.WritePropName("FilterItems");
    filters_->WriteItems(Writer);
}

namespace {

// A fingerprint of a graphic's pixels (bitmaps and PNG pictures; empty for
// any other kind, which is then filtered every time).
std::string PixelKey(const vcl::TGraphic& graphic) {
    const gdi::Bitmap* pixels = nullptr;
    if (const auto* b = dynamic_cast<const vcl::TBitmap*>(&graphic)) pixels = b->Handle().get();
    else if (const auto* p = dynamic_cast<const vcl::TPngGraphic*>(&graphic)) pixels = p->Handle().get();
    if (!pixels) return {};
    std::uint64_t hash = 1469598103934665603ull;
    const int rowBytes = pixels->Width() * pixels->BitsPerPixel() / 8;
    for (int y = 0; y < pixels->Height(); ++y) {
        const std::uint8_t* row = pixels->ScanLine(y);
        int x = 0;
        for (; x + 8 <= rowBytes; x += 8) {
            std::uint64_t word;
            std::memcpy(&word, row + x, 8);
            hash = (hash ^ word) * 1099511628211ull;
        }
        for (; x < rowBytes; ++x) hash = (hash ^ row[x]) * 1099511628211ull;
    }
    std::string key(reinterpret_cast<const char*>(&hash), sizeof hash);
    const int dims[3] = {pixels->Width(), pixels->Height(), pixels->BitsPerPixel()};
    key.append(reinterpret_cast<const char*>(dims), sizeof dims);
    return key;
}

}  // namespace

vcl::TGraphic* TPlotPicture::FilteredGraphic() {
    vcl::TGraphic* graphic = Graphic();
    if (!filters_ || filters_->Count() == 0 || !graphic) return graphic;
    std::string key = PixelKey(*graphic);
    // A filter whose class publishes no properties cannot tell its settings:
    // such a list is filtered every time.
    for (int i = 0; i < filters_->Count() && !key.empty(); ++i)
        if (!vcl::PropertyTableOf(filters_->Items(i))) key.clear();
    if (!key.empty()) {
        vcl::TMemoryStream settings;
        TWriter writer(settings);
        filters_->WriteItems(writer);
        key.append(reinterpret_cast<const char*>(settings.Memory()), static_cast<std::size_t>(settings.Size()));
    }
    if (filtered_ && !key.empty() && key == filtered_key_) return filtered_.get();
    if (!filtered_) filtered_ = std::make_unique<vcl::TBitmap>();
    filtered_key_.clear();
    filtered_->Assign(*graphic);
    filters_->ApplyTo(*filtered_);
    filtered_key_ = std::move(key);
    return filtered_.get();
}

// ---- Registry

namespace {

std::vector<const TFilterClass*>& FilterClassList() {
    static std::vector<const TFilterClass*> list;
    return list;
}

}  // namespace

const std::vector<const TFilterClass*>& PlotFilterClasses() {
    PlotFiltersLinked();
    return FilterClassList();
}

void PlotRegisterFilters(std::initializer_list<const TFilterClass*> Classes) {
    auto& list = FilterClassList();
    for (const TFilterClass* c : Classes)
        if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
}

void PlotUnregisterFilters() { FilterClassList().clear(); }

const TFilterClass* FindFilterClass(std::string_view Name) {
    for (const TFilterClass* c : PlotFilterClasses())
        if (c->Name == Name) return c;
    return nullptr;
}

void PlotApplyFilterClass(const TFilterClass& Class, vcl::TBitmap& Bitmap) {
    std::unique_ptr<TPlotFilter> filter = Class.Create();
    filter->ApplyTo(Bitmap);
}

}  // namespace chart
