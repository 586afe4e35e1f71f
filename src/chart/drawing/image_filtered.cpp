#include "chart/drawing/image_filtered.h"

#include "chart/drawing/property_stream.h"
#include "chart/drawing/resample.h"

namespace chart {

TImageFiltered::TImageFiltered(vcl::TComponent* Owner)
    : vcl::TImage(Owner), filters_(std::make_unique<TFilterItems>()) {}

TImageFiltered::~TImageFiltered() = default;

void TImageFiltered::SetFilters(const TFilterItems* Value) {
    if (Value) filters_->Assign(*Value);
    else filters_->Clear();
}

std::unique_ptr<vcl::TBitmap> TImageFiltered::FilteredBitmap() const {
    vcl::TGraphic* graphic = const_cast<TImageFiltered*>(this)->Picture().Graphic();
    if (!graphic || graphic->Empty()) return nullptr;
    auto bitmap = std::make_unique<vcl::TBitmap>();
    bitmap->Assign(*graphic);
    const vcl::TRect dest = DestRect();
    if (dest.Width() != bitmap->Width() || dest.Height() != bitmap->Height()) {
        if (dest.Width() <= 0 || dest.Height() <= 0) return nullptr;
        auto resized = std::make_unique<vcl::TBitmap>(dest.Width(), dest.Height());
        SmoothStretch(*bitmap, *resized);
        bitmap = std::move(resized);
    }
    filters_->ApplyTo(*bitmap);
    return bitmap;
}

void TImageFiltered::Paint(vcl::TCanvas& Canvas) {
    const std::unique_ptr<vcl::TBitmap> bitmap = FilteredBitmap();
    if (!bitmap) return;
    // At the destination's corner, so that a centred picture stays centred.
    const vcl::TRect dest = DestRect();
    Canvas.Draw(dest.Left, dest.Top, bitmap.get());
}

void TImageFiltered::WriteFilterItems(TWriter& Writer) const {
    if (!FilterItemsStored()) return;
    Writer.WritePropName("FilterItems");
    filters_->WriteItems(Writer);
}

}  // namespace chart
