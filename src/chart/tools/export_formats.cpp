#include "chart/tools/export_formats.h"

#include <algorithm>

#include "chart/drawing/plot_canvas.h"
#include "chart/drawing/plot_html.h"
#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/unit_start.h"
#include "chart/engine/plot_panel.h"
#include "chart/tools/editor_controls.h"
#include "chart/tools/export_options.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strings.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/metafile.h"
#include "platform/vcl/std_ctrls.h"

namespace chart::tools {

namespace {

// The chart drawn into an export's picture: the chart alone, without the
// overlays that follow the mouse (DrawingPicture), for the time of Draw.
template <class F>
auto DrawPicture(engine::TCustomPlotPanel& Panel, F&& Draw) {
    struct TDrawing {
        engine::TCustomPlotPanel& panel;
        bool before;
        ~TDrawing() { panel.SetDrawingPicture(before); }
    } drawing{Panel, Panel.DrawingPicture()};
    Panel.SetDrawingPicture(true);
    return Draw();
}

}  // namespace

// ---- TPlotExportFormat

TPlotExportFormat::TPlotExportFormat() = default;
TPlotExportFormat::~TPlotExportFormat() = default;

void TPlotExportFormat::SetFilterIndex(int& Index) {
    ++Index;
    filter_index_ = Index;
}

bool TPlotExportFormat::WantsFilter(int Index) { return Index == FilterIndex(); }

vcl::TForm* TPlotExportFormat::Options(bool) { return nullptr; }

void TPlotExportFormat::CheckSize() {
    if (!Panel) throw rtl::Exception("No chart to export");
    if (Width == 0) Width = Panel->Width();
    if (Height == 0) Height = Panel->Height();
    if (Width < 1 || Height < 1)
        throw rtl::Exception("Cannot export a picture of " + std::to_string(Width) + " x " + std::to_string(Height) +
                             " pixels");
}

// ---- TBMPExportFormat

TBMPExportFormat::TBMPExportFormat() : filters_(std::make_unique<chart::TFilterItems>()) {}

TBMPExportFormat::~TBMPExportFormat() = default;

std::string TBMPExportFormat::Description() const { return chart::PlotMsg_AsBitmap; }
std::string TBMPExportFormat::FileFilter() const { return chart::PlotMsg_BitmapFilter; }

vcl::TPicture::TGraphicFactory TBMPExportFormat::GraphicClass() const {
    return [] { return std::make_unique<vcl::TBitmap>(); };
}

TBMPOptions* TBMPExportFormat::Options(bool Check) {
    if (!options_ && Check) options_.reset(new TBMPOptions(nullptr, this));
    return static_cast<TBMPOptions*>(options_.get());
}

std::unique_ptr<vcl::TBitmap> TBMPExportFormat::Bitmap() {
    const TBMPOptions& options = *Options(true);
    CheckSize();
    vcl::TPixelFormat format = vcl::TPixelFormat::pf1bit;
    if (!options.CBMono->Checked())
        format = static_cast<vcl::TPixelFormat>(std::clamp(options.CBColors->ItemIndex(), 0, 7));
    if (Panel->Canvas()->GetSupportsFull3D()) format = vcl::TPixelFormat::pf24bit;
    // Drawn in full colour, then reduced to the format's colours.
    std::unique_ptr<vcl::TBitmap> bitmap = DrawPicture(*Panel, [&] {
        return Panel->PlotCreateBitmap(Panel->Color(), {0, 0, Width, Height}, vcl::TPixelFormat::pfDevice);
    });
    bitmap->SetPixelFormat(format);
    return bitmap;
}

std::unique_ptr<vcl::TBitmap> TBMPExportFormat::FilteredBitmap() {
    std::unique_ptr<vcl::TBitmap> bitmap = Bitmap();
    const vcl::TPixelFormat format = bitmap->PixelFormat();
    filters_->ApplyTo(*bitmap);
    // Filters work on 24-bit rows: the picture goes back to the depth the
    // user chose.
    bitmap->SetPixelFormat(format);
    return bitmap;
}

void TBMPExportFormat::CopyToClipboard() { vcl::Clipboard().Assign(*FilteredBitmap()); }

void TBMPExportFormat::SaveToStream(vcl::TStream& Stream) { FilteredBitmap()->SaveToStream(Stream); }

// ---- TEMFExportFormat

bool TEMFExportFormat::Enhanced() const {
    const auto* options = static_cast<const TEMFOptions*>(options_.get());
    return !options || options->CBEnhanced->Checked();
}

TEMFOptions* TEMFExportFormat::Options(bool Check) {
    if (!options_ && Check) options_.reset(new TEMFOptions(nullptr));
    return static_cast<TEMFOptions*>(options_.get());
}

std::string TEMFExportFormat::Description() const { return chart::PlotMsg_AsMetafile; }
std::string TEMFExportFormat::FileExtension() const { return Enhanced() ? "emf" : "wmf"; }
std::string TEMFExportFormat::FileFilter() const { return chart::PlotMsg_MetafileFilter; }

int TEMFExportFormat::FilterIndex() const { return Enhanced() ? filter_index_ : filter_index_ + 1; }

void TEMFExportFormat::SetFilterIndex(int& Index) {
    TPlotExportFormat::SetFilterIndex(Index);
    ++Index;
}

bool TEMFExportFormat::WantsFilter(int Index) {
    if (Index == filter_index_ + 1) {
        Options(true)->CBEnhanced->SetChecked(false);
        return true;
    }
    // The first entry is the enhanced file, also after the Windows one was
    // chosen once.
    if (Index == filter_index_) {
        if (TEMFOptions* options = Options(false)) options->CBEnhanced->SetChecked(true);
        return true;
    }
    return false;
}

vcl::TPicture::TGraphicFactory TEMFExportFormat::GraphicClass() const {
    return [] { return std::make_unique<vcl::TMetafile>(); };
}

std::unique_ptr<vcl::TMetafile> TEMFExportFormat::Metafile() {
    CheckSize();
    return DrawPicture(*Panel, [&] { return Panel->CreateMetafile(Enhanced(), {0, 0, Width, Height}); });
}

void TEMFExportFormat::CopyToClipboard() { vcl::Clipboard().Assign(*Metafile()); }

void TEMFExportFormat::SaveToStream(vcl::TStream& Stream) { Metafile()->SaveToStream(Stream); }

// ---- The list of formats

const TPlotExportFormatClass& BMPExportFormatClass() {
    static const TPlotExportFormatClass c{"TBMPExportFormat", [] { return std::make_unique<TBMPExportFormat>(); }};
    return c;
}

const TPlotExportFormatClass& EMFExportFormatClass() {
    static const TPlotExportFormatClass c{"TEMFExportFormat", [] { return std::make_unique<TEMFExportFormat>(); }};
    return c;
}

namespace {

std::unique_ptr<std::vector<const TPlotExportFormatClass*>>& FormatList() {
    static std::unique_ptr<std::vector<const TPlotExportFormatClass*>> list;
    return list;
}

}  // namespace

void RegisterPlotExportFormat(const TPlotExportFormatClass& Class) {
    auto& list = FormatList();
    if (!list) list = std::make_unique<std::vector<const TPlotExportFormatClass*>>();
    list->push_back(&Class);
}

void UnregisterPlotExportFormat(const TPlotExportFormatClass& Class) {
    auto& list = FormatList();
    if (!list) return;
    list->erase(std::remove(list->begin(), list->end(), &Class), list->end());
}

std::vector<const TPlotExportFormatClass*> PlotExportFormats() {
    const auto& list = FormatList();
    return list ? *list : std::vector<const TPlotExportFormatClass*>{};
}

std::unique_ptr<vcl::TGraphic> PlotGraphicFromExtension(const std::string& Extension) {
    const std::string wanted = rtl::UpperCase(Extension);
    for (const TPlotExportFormatClass* c : PlotExportFormats()) {
        const std::unique_ptr<TPlotExportFormat> format = c->Create();
        const std::string extension = rtl::UpperCase(format->FileExtension());
        if (wanted.size() != extension.size() + 1 || wanted[0] != '.' || wanted.compare(1, std::string::npos, extension) != 0)
            continue;
        const vcl::TPicture::TGraphicFactory graphic = format->GraphicClass();
        return graphic ? graphic() : nullptr;
    }
    return nullptr;
}

namespace {

void Start() {
    chart::PlotProCoUse();
    chart::PlotFiltersUse();
    RegisterPlotExportFormat(BMPExportFormatClass());
    RegisterPlotExportFormat(EMFExportFormatClass());
    chart::PlotGraphicFromExtensionHook = PlotGraphicFromExtension;
}

void Stop() {
    chart::PlotGraphicFromExtensionHook = nullptr;
    UnregisterPlotExportFormat(EMFExportFormatClass());
    UnregisterPlotExportFormat(BMPExportFormatClass());
    FormatList().reset();
    chart::PlotFiltersRelease();
    chart::PlotProCoRelease();
}

constinit chart::TUnitStart unit_start(Start, Stop);
[[maybe_unused]] const bool started = chart::StartAtLoad(unit_start);

}  // namespace

void PlotExportFormatsUse() { unit_start.Use(); }
void PlotExportFormatsRelease() { unit_start.Release(); }

}  // namespace chart::tools
