#include "chart/tools/export_options.h"

#include "chart/drawing/image_filtered.h"
#include "chart/tools/editor_controls.h"
#include "chart/tools/export_formats.h"
#include "chart/tools/filters_editor.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/std_ctrls.h"

namespace chart::tools {

TBMPOptions::TBMPOptions(vcl::TComponent* AOwner, TBMPExportFormat* Format)
    : vcl::TForm(AOwner), format_(Format) {
    using namespace vcl;
    Name = "BMPOptions";
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetClientSize(202, 216);

    CBColors = new TComboFlat(this);
    CBColors->Name = "CBColors";
    CBColors->SetParent(this);
    CBColors->SetBounds(64, 8, 130, 21);
    for (const char* entry : {"Default", "2 (1 bit)", "16 (4 bit)", "256 (8 bit)", "32768 (15 bit)",
                              "65536 (16 bit)", "16M (24 bit)", "16M (32 bit)"})
        CBColors->Items().Add(entry);
    CBColors->OnChange = [this](TComponent*) { CBColorsChange(); };
    Label1 = new TLabel(this);
    Label1->Name = "Label1";
    Label1->SetParent(this);
    Label1->SetBounds(8, 12, 0, 0);
    Label1->SetCaption("&Colors:");
    Label1->SetFocusControl(CBColors);

    CBMono = new TCheckBox(this);
    CBMono->Name = "CBMono";
    CBMono->SetParent(this);
    CBMono->SetBounds(8, 40, 100, 17);
    CBMono->SetCaption("&Monochrome");
    CBMono->OnClick = [this](TComponent*) { CBMonoClick(); };

    Button1 = new TButton(this);
    Button1->Name = "Button1";
    Button1->SetParent(this);
    Button1->SetBounds(112, 36, 82, 25);
    Button1->SetCaption("&Filters...");
    Button1->OnClick = [this](TComponent*) { Button1Click(); };

    GroupBox1 = new TGroupBox(this);
    GroupBox1->Name = "GroupBox1";
    GroupBox1->SetParent(this);
    GroupBox1->SetBounds(8, 68, 186, 140);
    GroupBox1->SetCaption("Preview:");
    ImageFiltered1 = new chart::TImageFiltered(this);
    ImageFiltered1->Name = "ImageFiltered1";
    ImageFiltered1->SetParent(GroupBox1);
    ImageFiltered1->SetAlign(TAlign::alClient);
    ImageFiltered1->SetStretch(true);

    // FormCreate
    CBColors->SetItemIndex(0);
    OnShow = [this](TComponent*) { FormShow(); };
}

TBMPOptions::~TBMPOptions() { DestroyComponents(); }

void TBMPOptions::FormShow() {
    CBColors->SetItemIndex(0);
    Preview();
}

void TBMPOptions::CBMonoClick() {
    CBColors->SetEnabled(!CBMono->Checked());
    Preview();
}

void TBMPOptions::CBColorsChange() { Preview(); }

void TBMPOptions::Button1Click() {
    if (!format_) return;
    const std::unique_ptr<vcl::TBitmap> bitmap = format_->Bitmap();
    if (ShowFiltersEditor(this, *bitmap, format_->Filters())) Preview();
}

void TBMPOptions::Preview() {
    if (!format_ || !format_->Panel) return;
    const std::unique_ptr<vcl::TBitmap> bitmap = format_->FilteredBitmap();
    ImageFiltered1->Picture().Assign(*bitmap);
}

TEMFOptions::TEMFOptions(vcl::TComponent* AOwner) : vcl::TForm(AOwner) {
    Name = "EMFOptions";
    SetBorderStyle(vcl::TFormBorderStyle::bsDialog);
    SetClientSize(152, 75);
    CBEnhanced = new vcl::TCheckBox(this);
    CBEnhanced->Name = "CBEnhanced";
    CBEnhanced->SetParent(this);
    CBEnhanced->SetBounds(8, 8, 136, 17);
    CBEnhanced->SetCaption("&Enhanced");
    CBEnhanced->SetChecked(true);
}

}  // namespace chart::tools
