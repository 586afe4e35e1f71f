#pragma once
// Export formats: a chart panel turned into a picture, written to a stream
// or put on the clipboard, with the file type a file dialog offers for it
// and a form of options. The bitmap format writes BMP files (at a chosen
// colour depth, through a list of image filters); the metafile format
// writes enhanced or Windows metafiles. The formats register themselves as
// the program loads, the bitmap first; the list also tells markup text
// which picture class an image file's extension needs.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/drawing/plot_filters.h"
#include "chart/tools/export_options.h"
#include "platform/vcl/component.h"
#include "platform/vcl/picture.h"

namespace vcl {
class TBitmap;
class TMetafile;
class TStream;
}  // namespace vcl

namespace chart::engine {
class TCustomPlotPanel;
}

namespace chart::tools {

class TPlotExportFormat {
  public:
    TPlotExportFormat();
    virtual ~TPlotExportFormat();
    TPlotExportFormat(const TPlotExportFormat&) = delete;
    TPlotExportFormat& operator=(const TPlotExportFormat&) = delete;

    // The chart to export (not owned).
    engine::TCustomPlotPanel* Panel = nullptr;
    // The picture's size in pixels; 0 takes the panel's (and keeps it).
    int Height = 0;
    int Width = 0;

    virtual void CopyToClipboard() = 0;
    // This format's first entry (from 1) in a file dialog's filter.
    virtual int FilterIndex() const { return filter_index_; }
    // The format takes the entries after Index and moves Index past them.
    virtual void SetFilterIndex(int& Index);
    // Whether the dialog's chosen entry is this format's.
    virtual bool WantsFilter(int Index);
    // The menu-style caption ("as &Bitmap").
    virtual std::string Description() const = 0;
    // Without the dot.
    virtual std::string FileExtension() const = 0;
    // For a file dialog ("Bitmaps (*.bmp)|*.bmp").
    virtual std::string FileFilter() const = 0;
    // Makes an empty graphic of the class a file of this type loads into;
    // none here.
    virtual vcl::TPicture::TGraphicFactory GraphicClass() const { return {}; }
    // The picture's file; a picture that cannot be made or a stream that
    // fails raises, and the stream gets nothing of a picture not made.
    virtual void SaveToStream(vcl::TStream& Stream) = 0;
    // The options form; with Check it is made when missing.
    virtual vcl::TForm* Options(bool Check = true);

  protected:
    // Width and Height of 0 become the panel's; raises without a panel or
    // for a size below 1 pixel.
    void CheckSize();

    int filter_index_ = 0;
    std::unique_ptr<vcl::TForm, vcl::TComponentDeleter> options_;
};

class TBMPExportFormat : public TPlotExportFormat {
  public:
    TBMPExportFormat();
    ~TBMPExportFormat() override;

    // Applied in order to every bitmap exported.
    chart::TFilterItems& Filters() { return *filters_; }

    void CopyToClipboard() override;
    std::string Description() const override;
    std::string FileExtension() const override { return "bmp"; }
    std::string FileFilter() const override;
    vcl::TPicture::TGraphicFactory GraphicClass() const override;
    void SaveToStream(vcl::TStream& Stream) override;
    TBMPOptions* Options(bool Check = true) override;

    // The chart as a bitmap of Width x Height at the colour depth the
    // options ask (monochrome, or the chosen pixel format; 24 bits for a
    // full 3D surface), filled with the panel's colour and drawn unbuffered.
    std::unique_ptr<vcl::TBitmap> Bitmap();
    // That bitmap with the filters applied; it keeps the chosen depth.
    std::unique_ptr<vcl::TBitmap> FilteredBitmap();

  private:
    std::unique_ptr<chart::TFilterItems> filters_;
};

class TEMFExportFormat : public TPlotExportFormat {
  public:
    // Enhanced unless the options say otherwise.
    bool Enhanced() const;

    void CopyToClipboard() override;
    int FilterIndex() const override;
    void SetFilterIndex(int& Index) override;
    // Its two entries: the first chooses the enhanced file, the second the
    // Windows one (switching the options to it).
    bool WantsFilter(int Index) override;
    std::string Description() const override;
    // "emf" when enhanced, else "wmf".
    std::string FileExtension() const override;
    std::string FileFilter() const override;
    vcl::TPicture::TGraphicFactory GraphicClass() const override;
    void SaveToStream(vcl::TStream& Stream) override;
    TEMFOptions* Options(bool Check = true) override;

    // The chart drawn into a metafile of Width x Height.
    std::unique_ptr<vcl::TMetafile> Metafile();
};

// A format class as the list keeps it.
struct TPlotExportFormatClass {
    std::string Name;
    std::function<std::unique_ptr<TPlotExportFormat>()> Create;
};
const TPlotExportFormatClass& BMPExportFormatClass();
const TPlotExportFormatClass& EMFExportFormatClass();

// Appends the class to the list (made on first use).
void RegisterPlotExportFormat(const TPlotExportFormatClass& Class);
// Removes it while the list exists.
void UnregisterPlotExportFormat(const TPlotExportFormatClass& Class);
// The registered classes in order; empty when there is no list.
std::vector<const TPlotExportFormatClass*> PlotExportFormats();

// A new, empty graphic of the first registered format whose file
// extension is Extension (with its dot, any case); none when no format
// matches or the matching one loads no graphic.
std::unique_ptr<vcl::TGraphic> PlotGraphicFromExtension(const std::string& Extension);

// The formats start (registered, the markup image hook installed) as the
// program loads; counted users may hold them longer.
void PlotExportFormatsUse();
void PlotExportFormatsRelease();

}  // namespace chart::tools
