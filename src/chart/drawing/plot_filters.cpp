#include "chart/drawing/plot_filters.h"

#include <algorithm>

#include "chart/drawing/not_available.h"
#include "platform/rtl/exceptions.h"

namespace chart {

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
}

TPlotFilter& TPlotFilter::CreateLike(TFilterItems& Collection) const {
    return Collection.Add<TPlotFilter>();
}

std::string TPlotFilter::Description() const { return ClassName(); }

TRect TPlotFilter::ApplyRect(const vcl::TBitmap& Bitmap) const {
    const int w = Bitmap.Width(), h = Bitmap.Height();
    if (!region_) return {0, 0, w - 1, h - 1};
    const TFilterRegion& r = *region_;
    TRect rect{r.Left, r.Top, 0, 0};
    rect.Right = r.Width != 0 ? static_cast<int>(std::min<long long>(w - 1, (long long)r.Left + r.Width))
                              : std::max(rect.Left, w - 1);
    rect.Bottom = r.Height != 0 ? static_cast<int>(std::min<long long>(h - 1, (long long)r.Top + r.Height))
                                : std::max(rect.Top, h - 1);
    return rect;
}

void TPlotFilter::ApplyTo(vcl::TBitmap& Bitmap) { Apply(Bitmap, ApplyRect(Bitmap)); }

void TPlotFilter::Apply(vcl::TBitmap&, const TRect&) { NotAvailableYet("Image filtering"); }

// ---- Lists

TFilterItems::~TFilterItems() { Clear(); }

TPlotFilter& TFilterItems::Items(int Index) const {
    if (Index < 0 || Index >= Count())
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    return *items_[static_cast<std::size_t>(Index)];
}

TPlotFilter& TFilterItems::Adopt(std::unique_ptr<TPlotFilter> Filter) {
    Filter->collection_ = this;
    items_.push_back(std::move(Filter));
    return *items_.back();
}

void TFilterItems::Delete(int Index) {
    Items(Index);
    items_.erase(items_.begin() + Index);
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

vcl::TGraphic* TPlotPicture::FilteredGraphic() {
    if (!filters_ || filters_->Count() == 0 || !Graphic()) return Graphic();
    if (!filtered_) filtered_ = std::make_unique<vcl::TBitmap>();
    filtered_->Assign(*Graphic());
    filters_->ApplyTo(*filtered_);
    return filtered_.get();
}

}  // namespace chart
