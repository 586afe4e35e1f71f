#include "chart/drawing/plot_font.h"

#include "chart/drawing/drawing_setup.h"

namespace chart {

namespace {

// Makes the object on first use.
template <class T, class... Args>
T* Lazy(std::unique_ptr<T>& object, Args&&... args) {
    if (!object) object = std::make_unique<T>(std::forward<Args>(args)...);
    return object.get();
}

// Copies Value into the object (made on first use), or frees it.
template <class T, class Source, class Make>
void CopyInto(std::unique_ptr<T>& object, const Source* value, Make make) {
    if (!value) {
        object.reset();
        return;
    }
    if (static_cast<const void*>(value) != object.get()) make()->Assign(*value);
}

}  // namespace

TPlotFont::TPlotFont(TNotifyEvent ChangedEvent) : changed_(std::move(ChangedEvent)) {
    SetColor(vcl::clBlack);
    DefaultColor = vcl::clBlack;
    if (Charset() != gdi::DEFAULT_CHARSET) SetCharset(gdi::DEFAULT_CHARSET);
    SetName(PlotDefaultFontName);
    if (Size() != PlotDefaultFontSize) SetSize(PlotDefaultFontSize);
    if (changed_) OnChange = [this] { changed_(this); };
}

TPlotFont::~TPlotFont() {
    picture_.reset();
    outline_.reset();
    shadow_.reset();
    gradient_.reset();
}

TPlotFontGradient* TPlotFont::Gradient() {
    return Lazy(gradient_, [this](vcl::TPersistent*) { Changed(); });
}
TChartHiddenPen* TPlotFont::OutLine() { return Lazy(outline_, changed_); }
TPlotPicture* TPlotFont::Picture() { return Lazy(picture_); }
TPlotShadow* TPlotFont::Shadow() { return Lazy(shadow_, changed_); }

void TPlotFont::SetGradient(const TPlotFontGradient* Value) {
    CopyInto(gradient_, Value, [this] { return Gradient(); });
}
void TPlotFont::SetOutLine(const TChartPen* Value) {
    CopyInto(outline_, Value, [this] { return OutLine(); });
}
void TPlotFont::SetPicture(const TPlotPicture* Value) {
    CopyInto(picture_, Value, [this] { return Picture(); });
}
void TPlotFont::SetShadow(const TPlotShadow* Value) {
    CopyInto(shadow_, Value, [this] { return Shadow(); });
}

void TPlotFont::SetInterCharSize(int Value) {
    if (Value == inter_char_size_) return;
    inter_char_size_ = Value;
    if (changed_) changed_(this);
}

bool TPlotFont::IsHeightStored() const { return Size() != PlotDefaultFontSize; }
bool TPlotFont::IsNameStored() const { return Name() != PlotDefaultFontName; }

void TPlotFont::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TPlotFont*>(&Source)) {
        if (other == this) return;
        SetGradient(other->gradient_.get());
        SetInterCharSize(other->inter_char_size_);
        SetOutLine(other->outline_.get());
        SetShadow(other->shadow_.get());
        SetPicture(other->picture_.get());
    }
    vcl::TFont::Assign(Source);
}

}  // namespace chart
