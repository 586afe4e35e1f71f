#include "platform/vcl/metafile.h"

#include <new>
#include <string>

#include "platform/gdi/metafile.h"
#include "platform/vcl/controls.h"
#include "platform/vcl/streams.h"

namespace vcl {

namespace {

const std::vector<gdi::Record>& NoRecords() {
    static const std::vector<gdi::Record> none;
    return none;
}

}  // namespace

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

void TMetafile::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width > gdi::kMaxSurfaceSide || height > gdi::kMaxSurfaceSide)
        throw gdi::EGdiError("Metafile of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels is too large (at most " + std::to_string(gdi::kMaxSurfaceSide) +
                             " pixels per side)");
    if (width == width_ && height == height_) return;
    width_ = width;
    height_ = height;
    Changed();
}

void TMetafile::SetEnhanced(bool enhanced) {
    if (enhanced == enhanced_) return;
    enhanced_ = enhanced;
    Changed();
}

const std::vector<gdi::Record>& TMetafile::Records() const {
    return records_ ? *records_ : NoRecords();
}

void TMetafile::SetRecords(std::vector<gdi::Record> records) {
    records_ = std::make_shared<const std::vector<gdi::Record>>(std::move(records));
    Changed();
}

void TMetafile::Clear() {
    records_.reset();
    Changed();
}

void TMetafile::Draw(TCanvas& canvas, const TRect& r) const {
    if (Empty() || Records().empty()) return;
    gdi::PlayRecords(Records(), width_, height_, *canvas.Handle(), {r.Left, r.Top, r.Right, r.Bottom});
}

std::vector<std::uint8_t> TMetafile::FileBytes() const { return FileBytes(enhanced_); }

std::vector<std::uint8_t> TMetafile::FileBytes(bool enhanced) const {
    if (Empty()) throw EInvalidGraphic("A metafile without a size cannot be written");
    try {
        return enhanced ? gdi::EnhancedMetafileBytes(Records(), width_, height_)
                        : gdi::WindowsMetafileBytes(Records(), width_, height_);
    } catch (const std::bad_alloc&) {
        throw EInvalidGraphic("Not enough memory to write a metafile of " + std::to_string(Records().size()) +
                              " drawing calls");
    }
}

void TMetafile::SaveToStream(TStream& stream) const { WriteGraphicBytes(stream, FileBytes()); }

void TMetafile::LoadFromStream(TStream&) {
    throw EInvalidGraphic("Metafile files are written by this program, not read");
}

void TMetafile::Assign(const TPersistent& Source) {
    if (&Source == this) return;
    if (const auto* other = dynamic_cast<const TMetafile*>(&Source)) {
        width_ = other->width_;
        height_ = other->height_;
        enhanced_ = other->enhanced_;
        records_ = other->records_;
        Changed();
        return;
    }
    TGraphic::Assign(Source);
}

std::unique_ptr<TGraphic> TMetafile::Clone() const {
    auto copy = std::make_unique<TMetafile>();
    copy->Assign(*this);
    return copy;
}

TMetafileCanvas::TMetafileCanvas(TMetafile& metafile)
    : metafile_(metafile), dc_(gdi::DC::CreateRecordingDC(metafile.Width(), metafile.Height())) {
    SetHandle(dc_.get());
}

TMetafileCanvas::~TMetafileCanvas() {
    SetHandle(nullptr);
    // A change handler that fails is reported as any event's failure is.
    Guarded([this] { metafile_.SetRecords(dc_->TakeRecords()); });
}

}  // namespace vcl
