// Chart text markup of any bytes, laid out on a chart surface: it either
// lays out, and then measures the same whether it is drawn or only measured,
// or raises one of its own errors (an unclosed tag, an unknown font field,
// a number or colour it cannot read) both ways. The forms that chart
// elements use never raise: they fall back to plain text. An image tag
// reads the bytes after the input's last NUL as a picture of its extension.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/plot_html.h"
#include "fuzz_support.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/picture.h"
#include "platform/vcl/streams.h"

namespace {

using fuzz_support::Check;

std::string& Picture() {
    static std::string bytes;
    return bytes;
}

struct TSurface {
    vcl::TBitmap bitmap{160, 120};
    chart::TPlotCanvas3D canvas;
    TSurface() {
        canvas.SetBufferedDisplay(false);
        canvas.InitWindow(&bitmap.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 160, 120});
        canvas.Projection(0, {0, 0, 160, 120});
    }
};

// The size a layout gives, or why it failed.
std::string Layout(TSurface& s, const std::string& text, bool draw) {
    s.canvas.ResetState();
    try {
        const vcl::TSize size = chart::HtmlRender(s.canvas, 3, 5, text, draw);
        return std::to_string(size.cx) + "x" + std::to_string(size.cy);
    } catch (const rtl::Exception& e) {
        return "raised " + e.Message;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::QuietApplication();
    chart::PlotGraphicFromExtensionHook = [](const std::string& extension) -> std::unique_ptr<vcl::TGraphic> {
        if (extension == ".PNG") return std::make_unique<vcl::TPngGraphic>();
        if (extension == ".BMP") return std::make_unique<vcl::TBitmap>();
        return nullptr;
    };
    chart::PlotHtmlImageLoader = [](const std::string&, vcl::TStream& stream) {
        if (Picture().empty()) return 1;
        stream.Write(Picture().data(), static_cast<std::int32_t>(Picture().size()));
        return 0;
    };
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(fuzz_support::Bytes(data, size));
    Picture().clear();
    if (const auto nul = text.rfind('\0'); nul != std::string::npos) {
        Picture() = text.substr(nul + 1);
        text.resize(nul);
    }
    TSurface surface;
    const std::string measured = Layout(surface, text, false);
    const std::string drawn = Layout(surface, text, true);
    Check(measured == drawn);
    if (measured.rfind("raised ", 0) != 0) {
        surface.canvas.ResetState();
        const vcl::TSize extent = chart::HtmlTextExtent(surface.canvas, text);
        Check(extent.cx >= 0 && extent.cy >= 0);
    }
    surface.canvas.ResetState();
    chart::HtmlTextOutOrPlain(surface.canvas, 7, 9, text);
    surface.canvas.ResetState();
    const vcl::TSize plain = chart::HtmlTextExtentOrPlain(surface.canvas, text);
    Check(plain.cx >= 0 && plain.cy >= 0);
    return 0;
}
