#include "chart/drawing/plot_pens.h"

namespace chart {

namespace {

// The platform object's own event carries no sender: the owner hears of
// the change with the pen or brush as sender.
template <class Object>
void Hook(Object& object, TNotifyEvent event) {
    if (event) object.OnChange = [&object, event = std::move(event)] { event(&object); };
}

}  // namespace

TChartPen::TChartPen(TNotifyEvent OnChange) { SetChangeEvent(std::move(OnChange)); }

void TChartPen::SetChangeEvent(TNotifyEvent Event) { Hook(*this, std::move(Event)); }

void TChartPen::SetEndStyle(TPenEndStyle Value) { Store(end_style_, Value); }
void TChartPen::SetSmallDots(bool Value) { Store(small_dots_, Value); }
void TChartPen::SetSmallSpace(int Value) { Store(small_space_, Value); }
void TChartPen::SetVisible(bool Value) { Store(visible_, Value); }

void TChartPen::Assign(const vcl::TPersistent& Source) {
    if (const auto* pen = dynamic_cast<const TChartPen*>(&Source)) {
        visible_ = pen->visible_;
        small_dots_ = pen->small_dots_;
        small_space_ = pen->small_space_;
        end_style_ = pen->end_style_;
    }
    vcl::TPen::Assign(Source);
}

TChartHiddenPen::TChartHiddenPen(TNotifyEvent OnChange) {
    DefaultVisible = false;
    SetVisible(false);
    SetChangeEvent(std::move(OnChange));
}

TDottedGrayPen::TDottedGrayPen(TNotifyEvent OnChange) {
    SetColor(0x808080);
    SetStyle(vcl::TPenStyle::psDot);
    SetChangeEvent(std::move(OnChange));
}

TDarkGrayPen::TDarkGrayPen(TNotifyEvent OnChange) {
    SetColor(0x808080);
    SetChangeEvent(std::move(OnChange));
}

TWhitePen::TWhitePen(TNotifyEvent OnChange) {
    SetColor(vcl::clWhite);
    SetChangeEvent(std::move(OnChange));
}

// ---- Brush

TChartBrush::TChartBrush(TNotifyEvent OnChange) {
    SetColor(vcl::clDefault);
    Hook(*this, std::move(OnChange));
}

TChartBrush::~TChartBrush() { image_.reset(); }

void TChartBrush::SetBackColor(TColor Value) {
    if (Value == back_color_) return;
    back_color_ = Value;
    Changed();
}

vcl::TPicture* TChartBrush::Image() {
    if (!image_) {
        image_ = std::make_unique<vcl::TPicture>();
        image_->OnChange = [this] { Changed(); };
    }
    return image_.get();
}

void TChartBrush::SetImage(const vcl::TPicture* Picture) {
    if (Picture) {
        if (Picture != image_.get()) {
            vcl::TPicture* own = Image();
            auto event = std::move(own->OnChange);  // one notification, below
            own->Assign(*Picture);
            own->OnChange = std::move(event);
        }
    } else {
        image_.reset();
    }
    Changed();
}

void TChartBrush::Assign(const vcl::TPersistent& Source) {
    if (const auto* brush = dynamic_cast<const TChartBrush*>(&Source)) {
        SetImage(brush->image_.get());
        back_color_ = brush->back_color_;
    }
    vcl::TBrush::Assign(Source);
}

}  // namespace chart
