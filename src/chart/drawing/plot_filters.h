#pragma once
// Image filters as settings: a filter with its optional region, the
// ordered list of filters, and the picture that holds such a list. The
// filters themselves (what Apply does to pixels) come with a later step;
// until then applying a filter raises ENotAvailableYet.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/bitmap.h"
#include "platform/vcl/persistent.h"
#include "platform/vcl/picture.h"

namespace chart {

using vcl::TRect;

// Pixels of the bitmap; a Width or Height of 0 reaches to the bitmap's edge.
class TFilterRegion : public vcl::TPersistent {
public:
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    void Assign(const vcl::TPersistent& Source) override;
};

class TFilterItems;

class TPlotFilter : public vcl::TPersistent {
public:
    // Filters live in a list: TFilterItems::Add makes them.
    TPlotFilter() = default;
    ~TPlotFilter() override;

    bool Enabled = true;
    // Whether the filter honours a region.
    bool AllowRegion = true;
    // While set, Apply keeps the row table it has.
    bool LinesReady = false;
    // One entry per bitmap row: the address of the row's first byte.
    std::vector<std::uint8_t*> Lines;

    TFilterItems* Collection() const { return collection_; }
    // Made on first read.
    TFilterRegion& Region();
    TFilterRegion* RegionIfAny() const { return region_.get(); }
    // Copies Value into the filter's own region; none frees it.
    void SetRegion(const TFilterRegion* Value);

    // From a filter: Enabled and Region.
    void Assign(const vcl::TPersistent& Source) override;
    // A new filter of this filter's class in Collection (the streamed and
    // copied lists make items of the source's classes).
    virtual TPlotFilter& CreateLike(TFilterItems& Collection) const;
    // The text naming the filter; the base gives its class name.
    virtual std::string Description() const;
    // The change event handed to the filter's editor.
    std::function<void(vcl::TPersistent*)> ChangeEvent;

    // Apply over the region (bounds inclusive): the whole bitmap without
    // one, else from the region's Left and Top to Left + Width and Top +
    // Height, limited to the bitmap (Width or Height 0: to its edge).
    void ApplyTo(vcl::TBitmap& Bitmap);
    TRect ApplyRect(const vcl::TBitmap& Bitmap) const;
    virtual void Apply(vcl::TBitmap& Bitmap, const TRect& Rect);

private:
    friend class TFilterItems;
    TFilterItems* collection_ = nullptr;
    std::unique_ptr<TFilterRegion> region_;
};

// The filters of a picture, control or tool, in application order.
class TFilterItems : public vcl::TPersistent {
public:
    explicit TFilterItems(vcl::TPersistent* Owner = nullptr) : owner_(Owner) {}
    ~TFilterItems() override;
    TFilterItems(const TFilterItems&) = delete;
    TFilterItems& operator=(const TFilterItems&) = delete;

    vcl::TPersistent* Owner() const { return owner_; }
    int Count() const { return static_cast<int>(items_.size()); }
    TPlotFilter& Items(int Index) const;
    // Makes a filter of class T in the list.
    template <class T = TPlotFilter>
    T& Add() {
        return static_cast<T&>(Adopt(std::make_unique<T>()));
    }
    TPlotFilter& Adopt(std::unique_ptr<TPlotFilter> Filter);
    void Delete(int Index);
    void Clear();
    void BeginUpdate() { ++updating_; }
    void EndUpdate() {
        if (updating_ > 0) --updating_;
    }

    // From a list: the same classes in the same order, each item assigned.
    void Assign(const vcl::TPersistent& Source) override;
    // Each enabled filter in order.
    void ApplyTo(vcl::TBitmap& Bitmap);

private:
    vcl::TPersistent* owner_;
    std::vector<std::unique_ptr<TPlotFilter>> items_;
    int updating_ = 0;
};

// A picture with filters: its graphic is handed out filtered.
class TPlotPicture : public vcl::TPicture {
public:
    TPlotPicture();
    ~TPlotPicture() override;

    // Made on first read.
    TFilterItems& Filters();
    TFilterItems* FiltersIfAny() const { return filters_.get(); }
    void SetFilters(const TFilterItems* Value);

    // From a plot picture: its filters, then the picture.
    void Assign(const vcl::TPersistent& Source) override;
    // The graphic itself without filters; with filters, a filtered bitmap
    // (kept and reused).
    vcl::TGraphic* FilteredGraphic();

private:
    std::unique_ptr<TFilterItems> filters_;
    std::unique_ptr<vcl::TBitmap> filtered_;
};

}  // namespace chart
