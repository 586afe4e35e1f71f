#pragma once
// Graphics: pictures that can draw themselves on a canvas (bitmaps, PNG
// images) and be read from and written to streams.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/graphics.h"
#include "platform/vcl/persistent.h"

namespace vcl {

class TStream;

// A graphic that cannot be read, written or made ("Invalid PNG image: ...").
class EInvalidGraphic : public rtl::Exception {
public:
    using Exception::Exception;
};
// An operation on a graphic that does not fit it ("Scan line index out of range").
class EInvalidGraphicOperation : public rtl::Exception {
public:
    using Exception::Exception;
};

class TGraphic : public TPersistent {
public:
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    bool Empty() const { return Width() <= 0 || Height() <= 0; }
    // Draws the graphic stretched into r.
    virtual void Draw(TCanvas& canvas, const TRect& r) const = 0;
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) const = 0;
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;
    virtual std::unique_ptr<TGraphic> Clone() const = 0;

    // A transparent graphic leaves the pixels of its transparent colour (a
    // bitmap's bottom-left pixel) undrawn.
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value) {
        if (value == transparent_) return;
        transparent_ = value;
        Changed();
    }

    std::function<void()> OnChange;

protected:
    void Changed() {
        if (OnChange) OnChange();
    }

private:
    bool transparent_ = false;
};

// Writes the bytes of a graphic file built whole in memory (so that a
// graphic that cannot be built writes nothing); a stream that takes fewer
// bytes raises EWriteError.
void WriteGraphicBytes(TStream& stream, std::span<const std::uint8_t> bytes);
// The rest of the stream from its position, for a reader of the named
// format: EInvalidGraphic "Invalid <format> image: ..." when there is none
// or more than limit bytes.
std::vector<std::uint8_t> ReadGraphicBytes(TStream& stream, const std::string& format,
                                           std::int64_t limit);

}  // namespace vcl
