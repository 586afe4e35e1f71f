#pragma once
// The option forms of the export formats: colour depth, monochrome and
// filters of a bitmap with a preview of it; enhanced or Windows metafile.
#include "platform/vcl/forms.h"

namespace vcl {
class TButton;
class TCheckBox;
class TGroupBox;
class TLabel;
}  // namespace vcl

namespace chart {
class TImageFiltered;
}

namespace chart::tools {

class TBMPExportFormat;
class TComboFlat;

class TBMPOptions : public vcl::TForm {
  public:
    // The options of Format (none: a form that previews nothing).
    TBMPOptions(vcl::TComponent* AOwner, TBMPExportFormat* Format);
    ~TBMPOptions() override;

    vcl::TLabel* Label1;
    // Entry i is pixel format i: "Default" (the device's), then 1, 4, 8,
    // 15, 16, 24 and 32 bits.
    TComboFlat* CBColors;
    vcl::TCheckBox* CBMono;
    vcl::TButton* Button1;
    vcl::TGroupBox* GroupBox1;
    chart::TImageFiltered* ImageFiltered1;

    void FormShow();
    void CBMonoClick();
    void CBColorsChange();
    // The filters editor over a freshly made bitmap of the chart.
    void Button1Click();
    // The exported bitmap, filtered, into the preview.
    void Preview();

  private:
    TBMPExportFormat* format_;
};

class TEMFOptions : public vcl::TForm {
  public:
    explicit TEMFOptions(vcl::TComponent* AOwner);

    vcl::TCheckBox* CBEnhanced;
};

}  // namespace chart::tools
