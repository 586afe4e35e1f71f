#pragma once
// The filters editor: a modal form in which the user builds the list of
// image filters of a bitmap. Filters are added from a menu of every
// registered filter class, switched on and off, moved, deleted and edited
// (their own properties, through controls built from their property
// tables, and their region), with a live preview of the bitmap filtered.
// The caller's list is edited in place.
#include <functional>
#include <memory>

#include "chart/drawing/plot_filters.h"
#include "platform/vcl/forms.h"

namespace vcl {
class TBitmap;
class TButton;
class TCheckBox;
class TCheckListBox;
class TEdit;
class TLabel;
class TMenuItem;
class TPageControl;
class TPopupMenu;
class TSpeedButton;
class TTabSheet;
class TTimer;
class TUpDown;
}  // namespace vcl

namespace chart::engine {
class TDraw3D;
}

namespace chart::tools {

class TFormCreator;

class TFiltersEditor : public vcl::TForm {
  public:
    explicit TFiltersEditor(vcl::TComponent* AOwner);
    ~TFiltersEditor() override;

    // What the editor works on: the bitmap the preview filters (not
    // changed) and the caller's list of filters (changed at once).
    void SetTarget(const vcl::TBitmap* Bitmap, chart::TFilterItems* Filters);
    // After each preview.
    std::function<void()> OnChangeImage;

    // The selected filter (null when none is).
    chart::TPlotFilter* SelectedFilter() const;
    TFormCreator& Creator() const { return *creator_; }
    // The filtered bitmap of the last preview (null before the first).
    const vcl::TBitmap* Filtered() const { return cached_.get(); }

    vcl::TPageControl* PagePreview;
    vcl::TTabSheet* TabPreview;
    chart::engine::TDraw3D* Image;
    vcl::TCheckListBox* Filters;
    vcl::TSpeedButton* BAdd;
    vcl::TSpeedButton* BDelete;
    vcl::TSpeedButton* BMoveUp;
    vcl::TSpeedButton* BMoveDown;
    vcl::TPageControl* PageProps;
    vcl::TTabSheet* Properties;
    vcl::TTabSheet* TabRegion;
    vcl::TLabel* LLeft;
    vcl::TLabel* LTop;
    vcl::TLabel* LWidth;
    vcl::TLabel* LHeight;
    vcl::TEdit* ELeft;
    vcl::TEdit* ETop;
    vcl::TEdit* EWidth;
    vcl::TEdit* EHeight;
    vcl::TUpDown* UDLeft;
    vcl::TUpDown* UDTop;
    vcl::TUpDown* UDWidth;
    vcl::TUpDown* UDHeight;
    vcl::TButton* BOK;
    vcl::TCheckBox* CBPreview;
    vcl::TCheckBox* CBScaled;
    vcl::TPopupMenu* MenuFilters;
    vcl::TPopupMenu* PopupMenu1;
    vcl::TMenuItem* Scaled1;
    vcl::TTimer* Timer1;

    void FormShow();
    // A line was selected: the controls of its filter are built.
    void FiltersClick();
    void FiltersClickCheck();
    void BAddClick();
    void BDeleteClick();
    void BMoveUpClick();
    void BMoveDownClick();
    void CBPreviewClick();
    void CBScaledClick();
    void Scaled1Click();
    // Adds a filter of the class at the end of the list and selects it.
    void AddFilter(const chart::TFilterClass& Class);
    // Filters the bitmap into the preview (when previewing).
    void Preview();

  private:
    void BuildControls();
    void UpdateButtons();
    // Frees the controls of the Properties page; none of them reaches the
    // filter they were made for afterwards.
    void FreePropertyControls();
    void RegionChange(vcl::TUpDown* UpDown, int chart::TFilterRegion::*Field);
    void Move(int Delta);
    void FillMenu();

    const vcl::TBitmap* bitmap_ = nullptr;
    chart::TFilterItems* filter_items_ = nullptr;
    std::unique_ptr<vcl::TBitmap> cached_;
    TFormCreator* creator_ = nullptr;
    bool updating_ = true;
};

// Shows the editor modally over Bitmap for Filters; true when the user
// closed it with OK. The list keeps every change either way.
bool ShowFiltersEditor(vcl::TComponent* Owner, const vcl::TBitmap& Bitmap, chart::TFilterItems& Filters);

}  // namespace chart::tools
