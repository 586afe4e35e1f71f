#pragma once
// An image control that paints its picture through a list of filters.
#include <memory>

#include "chart/drawing/plot_filters.h"
#include "platform/vcl/image.h"

namespace chart {

class TImageFiltered : public vcl::TImage {
public:
    explicit TImageFiltered(vcl::TComponent* Owner);
    ~TImageFiltered() override;

    TFilterItems& Filters() { return *filters_; }
    // Copies Value's filters (none: empties the list).
    void SetFilters(const TFilterItems* Value);

    // The picture as painted: a bitmap of the destination rectangle's size
    // (resampled when it differs from the picture's) with the filters
    // applied; none without a picture.
    std::unique_ptr<vcl::TBitmap> FilteredBitmap() const;
    void Paint(vcl::TCanvas& Canvas) override;

    // Kept in form streams as "FilterItems", as a picture's filters are.
    bool FilterItemsStored() const { return filters_->Count() > 0; }
    void WriteFilterItems(TWriter& Writer) const;
    void ReadFilterItems(TReader& Reader) { filters_->ReadItems(Reader); }

private:
    std::unique_ptr<TFilterItems> filters_;
};

}  // namespace chart
