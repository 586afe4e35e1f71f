#pragma once
// Image filters: small objects that rewrite a bitmap's pixels in place,
// each over an optional region, kept in ordered lists that pictures,
// controls and tools own and that are streamed with the form. This is the
// frame they share; the pixel filters and the geometric ones build on it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/persistent.h"
#include "platform/vcl/picture.h"

namespace chart {

using vcl::TRect;

class TWriter;
class TReader;

// A streamed filter of a class that is not registered ("Class TFooFilter
// not found").
class EClassNotFound : public rtl::Exception {
public:
    using Exception::Exception;
};

// Pixels of the bitmap; a Width or Height of 0 reaches to the bitmap's edge.
class TFilterRegion : public vcl::TPersistent {
public:
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    void Assign(const vcl::TPersistent& Source) override;
};

// A scroll bar an editor made for a filter, whose range the filter may set
// again later (the amount filters do when Percent is switched).
class TFormScrollBar {
public:
    virtual ~TFormScrollBar() = default;
    virtual void SetRange(int Min, int Max) = 0;
};

// What a filter asks of the builder of its editor: one control per
// property, bound to the property by its name in the filter's published
// properties.
class IFormCreator {
public:
    virtual ~IFormCreator() = default;
    virtual void AddCheckBox(const std::string& PropName, const std::string& Caption,
                             std::function<void()> OnClick = {}) = 0;
    virtual void AddColor(const std::string& PropName, const std::string& Caption) = 0;
    // The value names of the enumeration, as captions.
    virtual void AddCombo(const std::string& PropName) = 0;
    virtual void AddInteger(const std::string& PropName, const std::string& Caption, int Min, int Max) = 0;
    // The scroll bar lives as long as the editor's controls do.
    virtual std::weak_ptr<TFormScrollBar> AddScroll(const std::string& PropName, int Min, int Max) = 0;
};

class TPlotFilter;
class TFilterItems;

// A filter class as the registry, the streams and the editor's menu know it.
struct TFilterClass {
    std::string Name;
    // The text naming the filter, asked without an instance.
    std::function<std::string()> Description;
    std::function<std::unique_ptr<TPlotFilter>()> Create;
};

class TPlotFilter : public vcl::TPersistent {
public:
    TPlotFilter() = default;
    ~TPlotFilter() override;

    bool Enabled = true;
    // Whether the filter honours a region (the editor shows its region only then).
    bool AllowRegion = true;
    // While set, Apply keeps the row table it has.
    bool LinesReady = false;
    // One entry per bitmap row: the address of the row's first byte; pixel
    // x of row y is the blue, green and red bytes at Lines[y] + 3x.
    std::vector<std::uint8_t*> Lines;

    TFilterItems* Collection() const { return collection_; }
    // Made on first read.
    TFilterRegion& Region();
    TFilterRegion* RegionIfAny() const { return region_.get(); }
    // Copies Value into the filter's own region; none frees it.
    void SetRegion(const TFilterRegion* Value);

    // From a filter: Enabled and Region, and from a filter of the same
    // class every published setting too.
    void Assign(const vcl::TPersistent& Source) override;
    // The filter's class: its name, description, maker and properties.
    virtual const TFilterClass& FilterClass() const;
    // A new filter of this filter's class in Collection, with its settings.
    virtual TPlotFilter& CreateLike(TFilterItems& Collection) const;
    // The text naming the filter; the base gives its class name.
    virtual std::string Description() const;
    // Asks Creator for the controls that edit the filter; keeps Changed.
    virtual void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed);
    // The change event handed to the filter's editor.
    std::function<void(vcl::TPersistent*)> ChangeEvent;

    // Apply over the rectangle of the region (bounds inclusive): the whole
    // bitmap without one, else from the region's Left and Top to Left +
    // Width and Top + Height, cut to the bitmap (Width or Height 0: to its
    // edge). A region wholly outside the bitmap gives an empty rectangle
    // (Right < Left), over which pixel filters change nothing.
    void ApplyTo(vcl::TBitmap& Bitmap);
    TRect ApplyRect(const vcl::TBitmap& Bitmap) const;
    // Base: makes the bitmap 24 bits per pixel and builds the row table
    // (none for a bitmap without pixels), unless LinesReady.
    virtual void Apply(vcl::TBitmap& Bitmap, const TRect& Rect);

    static const TFilterClass& Class();

protected:
    // The row table of a bitmap (24 bits per pixel afterwards).
    static std::vector<std::uint8_t*> RowTable(vcl::TBitmap& Bitmap);
    // Rect cut to the bitmap of the row table; false when nothing is left.
    bool Clip(TRect& Rect) const;
    int width_ = 0;  // of the bitmap the row table was built for

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
    // Makes a filter of a registered class in the list.
    TPlotFilter& Add(const TFilterClass& Class);
    TPlotFilter& Adopt(std::unique_ptr<TPlotFilter> Filter);
    // Frees the filter at Index.
    void Delete(int Index);
    // Swaps the places of two filters.
    void Exchange(int Index1, int Index2);
    void Clear();
    void BeginUpdate() { ++updating_; }
    void EndUpdate() {
        if (updating_ > 0) --updating_;
    }

    // From a list: the same classes in the same order, each item assigned.
    void Assign(const vcl::TPersistent& Source) override;
    // Each enabled filter in order.
    void ApplyTo(vcl::TBitmap& Bitmap);

    // The list as a collection value of the form stream: per item its
    // "ItemClass" and its published properties that differ from their
    // defaults (the tables the filters publish as they start).
    void WriteItems(TWriter& Writer) const;
    // Reads such a value in place of the present items. A class that is not
    // registered raises EClassNotFound naming it, and the list keeps what
    // it held; so does any other malformed value (rtl::EReadError).
    void ReadItems(TReader& Reader);

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
    // The graphic itself without filters; with filters, a bitmap of the
    // graphic with them applied. The bitmap is kept, and filtered again only
    // when the graphic's pixels or the filters' settings have changed.
    vcl::TGraphic* FilteredGraphic();

    // The filters are kept in form streams as the property "FilterItems",
    // written only when there is at least one.
    bool FilterItemsStored() const { return filters_ && filters_->Count() > 0; }
    void WriteFilterItems(TWriter& Writer) const;
    void ReadFilterItems(TReader& Reader) { Filters().ReadItems(Reader); }

private:
    std::unique_ptr<TFilterItems> filters_;
    std::unique_ptr<vcl::TBitmap> filtered_;
    std::string filtered_key_;
};

// The registered filter classes, in the order of registration (the order
// the filters editor offers them).
const std::vector<const TFilterClass*>& PlotFilterClasses();
// Appends the classes not yet registered; streamed filters are made by
// their class name from this list.
void PlotRegisterFilters(std::initializer_list<const TFilterClass*> Classes);
void PlotUnregisterFilters();
// Null when the name is not a registered filter class.
const TFilterClass* FindFilterClass(std::string_view Name);
// Publishes the properties of the frame's classes (TPlotFilter, its region)
// once, for the filters' own tables to build on.
void PublishFilterFrame();
// Makes a filter of the class (in no list), applies it to the bitmap and frees it.
void PlotApplyFilterClass(const TFilterClass& Class, vcl::TBitmap& Bitmap);

// Refers to the standard filters, so that a program that lists or reads
// filters also holds them (and their start-up).
void PlotFiltersLinked();

// The filters of this layer start (their properties published, the
// classes registered, the bitmap rotation for gradients installed) as the
// program loads; counted users may hold them longer, the last release
// removes them.
void PlotFiltersUse();
void PlotFiltersRelease();

}  // namespace chart
