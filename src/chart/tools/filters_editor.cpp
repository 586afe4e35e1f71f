#include "chart/tools/filters_editor.h"

#include <algorithm>
#include <vector>

#include "chart/drawing/resample.h"
#include "chart/engine/draw3d.h"
#include "chart/engine/panel_routines.h"
#include "chart/engine/panel_unit.h"
#include "chart/tools/editor_controls.h"
#include "chart/tools/form_creator.h"
#include "platform/rtl/strings.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/check_list_box.h"
#include "platform/vcl/menus.h"
#include "platform/vcl/page_control.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/timer.h"
#include "platform/vcl/up_down.h"

namespace chart::tools {

namespace {

// The largest region side or offset the edits take.
constexpr int kRegionMax = 11100;

template <class T>
T* Make(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name, int left, int top, int width,
        int height) {
    auto* c = new T(owner);
    c->Name = name;
    c->SetParent(parent);
    c->SetBounds(left, top, width, height);
    return c;
}

}  // namespace

TFiltersEditor::TFiltersEditor(vcl::TComponent* AOwner) : vcl::TForm(AOwner) {
    Name = "FiltersEditor";
    SetCaption("Filters");
    SetBorderStyle(vcl::TFormBorderStyle::bsDialog);
    SetClientSize(476, 389);
    BuildControls();
    // FormCreate: nothing is written until a filter is selected.
    updating_ = true;
    vcl::TBitmap up, down;
    PlotLoadArrowGlyphs(up, down);
    BMoveUp->SetGlyph(up);
    BMoveDown->SetGlyph(down);
    creator_ = new TFormCreator(Properties);
    creator_->Name = "Creator";
    creator_->OnChange = [this](vcl::TPersistent*) { Preview(); };
    OnShow = [this](vcl::TComponent*) { FormShow(); };
}

TFiltersEditor::~TFiltersEditor() {
    // The handlers use the members: the controls go first, quietly.
    DestroyComponents();
}

void TFiltersEditor::BuildControls() {
    using namespace vcl;
    Filters = Make<TCheckListBox>(this, this, "Filters", 8, 8, 196, 130);
    Filters->OnClick = [this](TComponent*) { FiltersClick(); };
    Filters->OnClickCheck = [this](TComponent*) { FiltersClickCheck(); };

    auto speed = [this](const char* name, const char* caption, int top, vcl::TNotifyEvent click) {
        auto* b = Make<TSpeedButton>(this, this, name, 210, top, 25, 25);
        b->SetCaption(caption);
        b->SetFlat(false);
        b->OnClick = std::move(click);
        return b;
    };
    BAdd = speed("BAdd", "+", 8, [this](TComponent*) { BAddClick(); });
    BDelete = speed("BDelete", "-", 36, [this](TComponent*) { BDeleteClick(); });
    BMoveUp = speed("BMoveUp", "", 78, [this](TComponent*) { BMoveUpClick(); });
    BMoveDown = speed("BMoveDown", "", 106, [this](TComponent*) { BMoveDownClick(); });
    BDelete->SetEnabled(false);
    BMoveUp->SetEnabled(false);
    BMoveDown->SetEnabled(false);

    PageProps = Make<TPageControl>(this, this, "PageProps", 8, 146, 228, 204);
    Properties = new TTabSheet(this);
    Properties->Name = "Properties";
    Properties->SetCaption("Options");
    Properties->SetPageControl(PageProps);
    TabRegion = new TTabSheet(this);
    TabRegion->Name = "TabRegion";
    TabRegion->SetCaption("Region");
    TabRegion->SetPageControl(PageProps);

    auto region = [this](const char* label, const char* edit, const char* arrows, const char* caption, int top,
                         TLabel*& l, TEdit*& e, TUpDown*& u, int TFilterRegion::*field) {
        l = Make<TLabel>(this, TabRegion, label, 10, top + 4, 0, 0);
        l->SetCaption(caption);
        e = Make<TEdit>(this, TabRegion, edit, 70, top, 90, 21);
        l->SetFocusControl(e);
        u = Make<TUpDown>(this, TabRegion, arrows, 0, 0, 17, 21);
        u->SetRange(0, kRegionMax);
        u->SetAssociate(e);
        TUpDown* ud = u;
        e->OnChange = [this, ud, field](TComponent*) { RegionChange(ud, field); };
    };
    region("LLeft", "ELeft", "UDLeft", "&Left:", 10, LLeft, ELeft, UDLeft, &TFilterRegion::Left);
    region("LTop", "ETop", "UDTop", "&Top:", 38, LTop, ETop, UDTop, &TFilterRegion::Top);
    region("LWidth", "EWidth", "UDWidth", "&Width:", 66, LWidth, EWidth, UDWidth, &TFilterRegion::Width);
    region("LHeight", "EHeight", "UDHeight", "&Height:", 94, LHeight, EHeight, UDHeight, &TFilterRegion::Height);
    PageProps->SetActivePage(Properties);

    PagePreview = Make<TPageControl>(this, this, "PagePreview", 244, 8, 224, 342);
    TabPreview = new TTabSheet(this);
    TabPreview->Name = "TabPreview";
    TabPreview->SetCaption("Preview");
    TabPreview->SetPageControl(PagePreview);
    Image = new engine::TDraw3D(this);
    Image->Name = "Image";
    Image->SetParent(TabPreview);
    Image->SetAlign(TAlign::alClient);
    Image->SetView3D(false);

    CBPreview = Make<TCheckBox>(this, this, "CBPreview", 8, 362, 84, 17);
    CBPreview->SetCaption("&Preview");
    CBPreview->SetChecked(true);
    CBPreview->OnClick = [this](TComponent*) { CBPreviewClick(); };
    CBScaled = Make<TCheckBox>(this, this, "CBScaled", 100, 362, 84, 17);
    CBScaled->SetCaption("&Scaled");
    CBScaled->SetChecked(true);
    CBScaled->OnClick = [this](TComponent*) { CBScaledClick(); };
    BOK = Make<TButton>(this, this, "BOK", 393, 358, 75, 25);
    BOK->SetCaption("OK");
    BOK->SetDefault(true);
    BOK->SetModalResult(mrOk);

    MenuFilters = new TPopupMenu(this);
    MenuFilters->Name = "MenuFilters";
    PopupMenu1 = new TPopupMenu(this);
    PopupMenu1->Name = "PopupMenu1";
    Scaled1 = NewItem(this, PopupMenu1->Items(), "Scaled1", "&Scaled", [this](TComponent*) { Scaled1Click(); });
    Scaled1->SetChecked(true);
    Image->SetPopupMenu(PopupMenu1);

    Timer1 = new TTimer(this);
    Timer1->Name = "Timer1";
    Timer1->SetInterval(1);
    Timer1->SetOnTimer([this](TComponent*) {
        Timer1->SetEnabled(false);
        FiltersClick();
    });
}

void TFiltersEditor::SetTarget(const vcl::TBitmap* Bitmap, chart::TFilterItems* List) {
    bitmap_ = Bitmap;
    filter_items_ = List;
}

chart::TPlotFilter* TFiltersEditor::SelectedFilter() const {
    const int i = Filters->ItemIndex();
    if (i < 0 || !filter_items_) return nullptr;
    auto* f = reinterpret_cast<chart::TPlotFilter*>(Filters->Objects(i));
    // Only a filter that is in the list now.
    for (int k = 0; k < filter_items_->Count(); ++k)
        if (&filter_items_->Items(k) == f) return f;
    return nullptr;
}

void TFiltersEditor::FillMenu() {
    vcl::TMenuItem* root = MenuFilters->Items();
    while (root->Count() > 0) vcl::TComponent::Free(root->Items(root->Count() - 1));
    std::vector<vcl::TMenuItem*> items;
    for (const chart::TFilterClass* c : chart::PlotFilterClasses()) {
        std::string caption = c->Description ? c->Description() : std::string();
        if (caption.empty()) caption = c->Name;
        items.push_back(vcl::NewItem(this, root, "", caption, [this, c](vcl::TComponent*) { AddFilter(*c); }));
    }
    engine::PlotTranslateControl(this);
    engine::PlotQuickSort(
        0, static_cast<int>(items.size()) - 1,
        [&](int a, int b) { return rtl::CompareText(items[static_cast<std::size_t>(a)]->Caption(), items[static_cast<std::size_t>(b)]->Caption()); },
        [&](int a, int b) { std::swap(items[static_cast<std::size_t>(a)], items[static_cast<std::size_t>(b)]); });
    for (vcl::TMenuItem* item : items) root->Remove(item);
    for (vcl::TMenuItem* item : items) root->Add(item);
}

void TFiltersEditor::FormShow() {
    Filters->Clear();
    if (filter_items_)
        for (int i = 0; i < filter_items_->Count(); ++i) {
            chart::TPlotFilter& f = filter_items_->Items(i);
            Filters->AddObject(f.Description(), reinterpret_cast<std::intptr_t>(&f));
            Filters->SetChecked(i, f.Enabled);
        }
    PageProps->SetActivePage(Properties);
    if (Filters->Count() > 0) {
        Filters->SetItemIndex(0);
        FiltersClick();
        Preview();
    } else {
        UpdateButtons();
    }
    PageProps->SetVisible(Filters->Count() > 0);
    FillMenu();
}

void TFiltersEditor::UpdateButtons() {
    const int i = Filters->ItemIndex();
    BDelete->SetEnabled(i >= 0);
    BMoveUp->SetEnabled(i >= 1);
    BMoveDown->SetEnabled(i >= 0 && i < Filters->Count() - 1);
}

void TFiltersEditor::FreePropertyControls() {
    creator_->Instance = nullptr;
    while (Properties->ControlCount() > 0) vcl::TComponent::Free(Properties->Controls(Properties->ControlCount() - 1));
    creator_->Items().Clear();
}

void TFiltersEditor::FiltersClick() {
    updating_ = true;
    struct TDone {
        bool& flag;
        ~TDone() { flag = false; }
    } done{updating_};
    UpdateButtons();
    FreePropertyControls();
    chart::TPlotFilter* filter = SelectedFilter();
    if (!filter) return;
    creator_->NextTop = 8;
    creator_->Instance = filter;
    creator_->Locked = true;
    try {
        filter->CreateEditor(*creator_, [this](vcl::TPersistent*) { Preview(); });
    } catch (...) {
        creator_->Locked = false;
        throw;
    }
    creator_->Locked = false;
    const bool options = Properties->ControlCount() > 0;
    Properties->SetTabVisible(options);
    TabRegion->SetTabVisible(filter->AllowRegion);
    if (!options && !filter->AllowRegion) {
        PageProps->Hide();
    } else {
        PageProps->Show();
        PageProps->SetActivePage(options ? Properties : TabRegion);
    }
    const chart::TFilterRegion* r = filter->RegionIfAny();
    UDLeft->SetPosition(r ? r->Left : 0);
    UDTop->SetPosition(r ? r->Top : 0);
    UDWidth->SetPosition(r ? r->Width : 0);
    UDHeight->SetPosition(r ? r->Height : 0);
}

void TFiltersEditor::RegionChange(vcl::TUpDown* UpDown, int chart::TFilterRegion::*Field) {
    if (updating_) return;
    chart::TPlotFilter* filter = SelectedFilter();
    if (!filter) return;
    filter->Region().*Field = UpDown->Position();
    Preview();
}

void TFiltersEditor::Preview() {
    if (!CBPreview->Checked() || !bitmap_ || !filter_items_) return;
    if (!cached_) cached_ = std::make_unique<vcl::TBitmap>();
    cached_->Assign(*bitmap_);
    filter_items_->ApplyTo(*cached_);
    if (Scaled1->Checked()) {
        vcl::TBitmap scaled(std::max(1, Image->Width()), std::max(1, Image->Height()));
        chart::SmoothStretch(*cached_, scaled);
        Image->BackImage().Assign(scaled);
    } else {
        Image->BackImage().Assign(*cached_);
    }
    Image->SetBackImageMode(engine::pbmCustom);
    if (OnChangeImage) OnChangeImage();
}

void TFiltersEditor::AddFilter(const chart::TFilterClass& Class) {
    if (!filter_items_) return;
    chart::TPlotFilter& f = filter_items_->Add(Class);
    const int line = Filters->AddObject(f.Description(), reinterpret_cast<std::intptr_t>(&f));
    Filters->SetChecked(line, true);
    f.Enabled = true;
    Filters->SetItemIndex(line);
    FiltersClick();
    Preview();
}

void TFiltersEditor::BAddClick() {
    const vcl::TPoint at = BAdd->Parent()->ClientToScreen(
        {BAdd->Left() + BAdd->Width() - 1, BAdd->Top() + BAdd->Height() - 1});
    MenuFilters->Popup(at.X, at.Y);
}

void TFiltersEditor::BDeleteClick() {
    const int i = Filters->ItemIndex();
    chart::TPlotFilter* filter = SelectedFilter();
    if (i < 0 || !filter) return;
    // No control may reach the filter once it is gone.
    FreePropertyControls();
    for (int k = 0; k < filter_items_->Count(); ++k)
        if (&filter_items_->Items(k) == filter) {
            filter_items_->Delete(k);
            break;
        }
    Filters->Delete(i);
    if (Filters->Count() > 0) {
        Filters->SetItemIndex(std::min(i, Filters->Count() - 1));
        FiltersClick();
    }
    UpdateButtons();
    PageProps->SetVisible(Filters->Count() > 0);
    Preview();
}

void TFiltersEditor::Move(int Delta) {
    const int i = Filters->ItemIndex();
    const int j = i + Delta;
    if (i < 0 || j < 0 || j >= Filters->Count() || !filter_items_) return;
    Filters->Exchange(i, j);
    filter_items_->Exchange(i, j);
    Filters->SetItemIndex(j);
    UpdateButtons();
    Preview();
}

void TFiltersEditor::BMoveUpClick() { Move(-1); }
void TFiltersEditor::BMoveDownClick() { Move(1); }

void TFiltersEditor::FiltersClickCheck() {
    const int i = Filters->ItemIndex();
    chart::TPlotFilter* filter = SelectedFilter();
    if (!filter) return;
    filter->Enabled = Filters->Checked(i);
    Preview();
}

void TFiltersEditor::CBPreviewClick() {
    if (CBPreview->Checked()) {
        CBScaled->SetEnabled(true);
        Preview();
    } else {
        Image->BackImage().SetGraphic(nullptr);
        CBScaled->SetEnabled(false);
    }
}

void TFiltersEditor::CBScaledClick() {
    Scaled1->SetChecked(CBScaled->Checked());
    Preview();
}

void TFiltersEditor::Scaled1Click() {
    Scaled1->SetChecked(!Scaled1->Checked());
    CBScaled->SetChecked(Scaled1->Checked());
    Preview();
}

bool ShowFiltersEditor(vcl::TComponent* Owner, const vcl::TBitmap& Bitmap, chart::TFilterItems& Filters) {
    std::unique_ptr<TFiltersEditor, vcl::TComponentDeleter> editor(new TFiltersEditor(Owner));
    editor->SetTarget(&Bitmap, &Filters);
    return editor->ShowModal() == vcl::mrOk;
}

}  // namespace chart::tools
