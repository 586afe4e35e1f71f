// The filters editor over a bitmap and a list of filters: the pages each
// filter has, the caller's list changed at once by every addition, move,
// check and deletion, no control left reaching a deleted filter, region
// edits written only by the user, the preview filtered scaled or not, and
// the modal editor's answer.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QTimer>
#include <QtTest/QTest>

#include "chart/drawing/geometric_filters.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/engine/draw3d.h"
#include "chart/tools/editor_controls.h"
#include "chart/tools/filters_editor.h"
#include "chart/tools/form_creator.h"
#include "platform/vcl/check_list_box.h"
#include "platform/vcl/menus.h"
#include "platform/vcl/page_control.h"
#include "platform/vcl/properties.h"
#include "platform/vcl/scroll_bar.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/timer.h"
#include "platform/vcl/up_down.h"
#include "platform/rtl/strings.h"
#include "support/graphic_bytes.h"
#include "support/qt_app.h"

namespace {

using namespace chart::tools;
using test_support::PixelsOf;

// A small picture with something in each corner.
std::unique_ptr<vcl::TBitmap> Picture() {
    auto b = std::make_unique<vcl::TBitmap>(40, 30);
    vcl::TCanvas& c = b->Canvas();
    c.Brush.SetColor(vcl::clWhite);
    c.FillRect({0, 0, 40, 30});
    c.Brush.SetColor(vcl::clRed);
    c.FillRect({0, 0, 10, 10});
    c.Brush.SetColor(vcl::clBlue);
    c.FillRect({30, 20, 40, 30});
    return b;
}

// The editor shown (without its modal loop) over a picture and a list.
struct Editor {
    std::unique_ptr<vcl::TBitmap> bitmap = Picture();
    chart::TFilterItems list;
    std::unique_ptr<TFiltersEditor, vcl::TComponentDeleter> form;
    int previews = 0;
    void Show() {
        test_support::EnsureQtApplication();
        form.reset(new TFiltersEditor(vcl::EnsureApplication()));
        form->SetTarget(bitmap.get(), &list);
        form->OnChangeImage = [this] { ++previews; };
        form->Show();
        ASSERT_TRUE(test_support::PumpUntil([&] { return !form->Timer1->Enabled(); }));
    }
    TFiltersEditor* operator->() const { return form.get(); }
    void Select(int line) {
        form->Filters->SetItemIndex(line);
        form->FiltersClick();
    }
    // The controls the Options page holds, as their properties' names.
    std::vector<std::string> Options() const {
        std::vector<std::string> names;
        for (int i = 0; i < form->Properties->ControlCount(); ++i)
            if (const vcl::TControl* c = form->Properties->Controls(i); c->Tag)
                names.push_back(reinterpret_cast<const TFormItem*>(c->Tag)->PropName);
        return names;
    }
};

// A rotate filter that, as it is freed, counts what of the editor still
// reaches it: the creator's object, controls built for it.
struct TProbeFilter : chart::TRotateFilter {
    static inline TFiltersEditor* editor = nullptr;
    static inline int reachingAtDeath = -1;
    ~TProbeFilter() override {
        if (!editor) return;
        reachingAtDeath = editor->Creator().Instance == this;
        for (int i = 0; i < editor->Properties->ControlCount(); ++i) {
            const auto* b = dynamic_cast<TButtonColor*>(editor->Properties->Controls(i));
            reachingAtDeath += b ? b->Instance() == this : editor->Creator().Instance == this;
        }
    }
    static const chart::TFilterClass& Class() {
        static const chart::TFilterClass c = [] {
            vcl::RegisterProperties<TProbeFilter, chart::TRotateFilter>();
            return chart::TFilterClass{"TProbeFilter", [] { return std::string("Probe"); },
                                       [] { return std::make_unique<TProbeFilter>(); }};
        }();
        return c;
    }
};

TEST(chart_filters_editor, an_empty_list_shows_no_pages_and_offers_every_filter_sorted) {
    Editor e;
    e.Show();
    EXPECT_EQ(e->Filters->Count(), 0);
    EXPECT_FALSE(e->PageProps->Visible());
    EXPECT_TRUE(e->BAdd->Enabled());
    EXPECT_FALSE(e->BDelete->Enabled());
    EXPECT_FALSE(e->BMoveUp->Enabled());
    EXPECT_FALSE(e->BMoveDown->Enabled());
    EXPECT_EQ(e.previews, 0);
    EXPECT_EQ(e->Image->BackImageIfAny() ? e->Image->BackImageIfAny()->Graphic() : nullptr, nullptr);
    const vcl::TMenuItem* menu = e->MenuFilters->Items();
    ASSERT_EQ(menu->Count(), static_cast<int>(chart::PlotFilterClasses().size()));
    for (int i = 1; i < menu->Count(); ++i)
        EXPECT_LE(rtl::CompareText(menu->Items(i - 1)->Caption(), menu->Items(i)->Caption()), 0);
    EXPECT_EQ(menu->Items(0)->Caption(), "Antialias");  // the soften filter
    EXPECT_EQ(menu->Items(menu->Count() - 1)->Caption(), "Zoom");
}

TEST(chart_filters_editor, each_filter_shows_the_pages_it_has) {
    Editor e;
    e.list.Add<chart::TMirrorFilter>();
    e.list.Add<chart::TInvertFilter>();
    e.list.Add<chart::TBlurFilter>();
    e.Show();
    // The first line is selected as the editor shows.
    EXPECT_EQ(e->Filters->ItemIndex(), 0);
    EXPECT_EQ(e->Filters->Strings(0), "Mirror");
    EXPECT_TRUE(e->PageProps->Visible());
    EXPECT_TRUE(e->Properties->TabVisible());
    EXPECT_FALSE(e->TabRegion->TabVisible());
    EXPECT_EQ(e.Options(), std::vector<std::string>{"Direction"});
    EXPECT_EQ(e->PageProps->ActivePage(), e->Properties);

    e.Select(1);  // Invert: nothing of its own, a region
    EXPECT_TRUE(e->PageProps->Visible());
    EXPECT_FALSE(e->Properties->TabVisible());
    EXPECT_TRUE(e->TabRegion->TabVisible());
    EXPECT_EQ(e->PageProps->ActivePage(), e->TabRegion);
    EXPECT_TRUE(e.Options().empty());

    e.Select(2);
    EXPECT_TRUE(e->Properties->TabVisible());
    EXPECT_TRUE(e->TabRegion->TabVisible());
    EXPECT_EQ(e->PageProps->ActivePage(), e->Properties);
    EXPECT_EQ(e.Options(), (std::vector<std::string>{"Steps", "Amount"}));
}

TEST(chart_filters_editor, the_callers_list_changes_at_once_and_no_control_reaches_a_deleted_filter) {
    Editor e;
    e.Show();
    TProbeFilter::editor = e.form.get();
    e->AddFilter(TProbeFilter::Class());
    e->AddFilter(chart::TInvertFilter::Class());
    e->AddFilter(chart::TTileFilter::Class());
    ASSERT_EQ(e.list.Count(), 3);
    EXPECT_EQ(e->Filters->ItemIndex(), 2);
    EXPECT_TRUE(e->Filters->Checked(2));
    EXPECT_EQ(e.Options(), (std::vector<std::string>{"NumCols", "NumRows"}));
    EXPECT_FALSE(e->BMoveDown->Enabled());
    EXPECT_TRUE(e->BMoveUp->Enabled());

    // Up: the lines and the filters swap, the moved one stays selected.
    e->BMoveUpClick();
    EXPECT_NE(dynamic_cast<chart::TTileFilter*>(&e.list.Items(1)), nullptr);
    EXPECT_NE(dynamic_cast<chart::TInvertFilter*>(&e.list.Items(2)), nullptr);
    EXPECT_EQ(e->Filters->Strings(1), "Tile");
    EXPECT_EQ(e->Filters->ItemIndex(), 1);
    EXPECT_TRUE(e->BMoveDown->Enabled());

    // Space on the list unchecks the selected line: the filter is off.
    e->Filters->SetFocus();
    QTest::keyClick(e->Filters->Widget(), Qt::Key_Space);
    EXPECT_FALSE(e->Filters->Checked(1));
    EXPECT_FALSE(e.list.Items(1).Enabled);

    // The rotate filter's controls (a bar, a colour button, a check box)
    // are built; then it is deleted while they show.
    e.Select(0);
    ASSERT_EQ(e.Options(), (std::vector<std::string>{"Angle", "BackColor", "AutoSize"}));
    const chart::TPlotFilter* rotate = &e.list.Items(0);
    e->BDeleteClick();
    EXPECT_EQ(TProbeFilter::reachingAtDeath, 0);
    TProbeFilter::editor = nullptr;
    ASSERT_EQ(e.list.Count(), 2);
    EXPECT_EQ(e->Filters->Count(), 2);
    EXPECT_EQ(e->Filters->ItemIndex(), 0);
    // Nothing bound to it is left: the creator edits the new selection,
    // whose controls are all the Options page has.
    EXPECT_EQ(e->Creator().Instance, &e.list.Items(0));
    EXPECT_EQ(e.Options(), (std::vector<std::string>{"NumCols", "NumRows"}));
    for (int i = 0; i < e->Properties->ControlCount(); ++i)
        if (auto* b = dynamic_cast<TButtonColor*>(e->Properties->Controls(i))) {
            EXPECT_NE(b->Instance(), rotate);
        }
    // Using every control left touches live filters only (the sanitizer
    // would stop a read of the freed one).
    for (int i = 0; i < e->Properties->ControlCount(); ++i)
        if (auto* up = dynamic_cast<vcl::TUpDown*>(e->Properties->Controls(i))) up->Step(1);
    EXPECT_EQ(dynamic_cast<chart::TTileFilter&>(e.list.Items(0)).NumCols, 4);

    // The last of three deleted: the new last line is selected.
    e->AddFilter(chart::TBlurFilter::Class());
    ASSERT_EQ(e->Filters->Count(), 3);
    e->BDeleteClick();
    EXPECT_EQ(e->Filters->ItemIndex(), 1);
    EXPECT_EQ(e->Creator().Instance, &e.list.Items(1));
    EXPECT_FALSE(e->BMoveDown->Enabled());

    // The last ones go: no controls, no pages, nothing selected.
    e->BDeleteClick();
    e->BDeleteClick();
    EXPECT_EQ(e.list.Count(), 0);
    EXPECT_EQ(e->Properties->ControlCount(), 0);
    EXPECT_EQ(e->Creator().Instance, nullptr);
    EXPECT_FALSE(e->PageProps->Visible());
    EXPECT_FALSE(e->BDelete->Enabled());
    e->BDeleteClick();  // nothing left to delete
}

TEST(chart_filters_editor, region_edits_write_the_region_only_when_the_user_changes_them) {
    Editor e;
    chart::TBlurFilter& blur = e.list.Add<chart::TBlurFilter>();
    blur.Region().Left = 5;
    blur.Region().Top = 6;
    blur.Region().Width = 7;
    blur.Region().Height = 8;
    chart::TInvertFilter& invert = e.list.Add<chart::TInvertFilter>();
    e.Show();
    EXPECT_EQ(e->ELeft->Text(), "5");
    EXPECT_EQ(e->EHeight->Text(), "8");
    // Selecting the other filter loads its (absent) region into the edits,
    // writing nothing into either filter.
    e.Select(1);
    EXPECT_EQ(e->ELeft->Text(), "0");
    EXPECT_EQ(invert.RegionIfAny(), nullptr);
    EXPECT_EQ(blur.Region().Left, 5);
    EXPECT_EQ(blur.Region().Height, 8);

    // The user's typing: numbers only, held to 0..11100.
    const int before = e.previews;
    e->ELeft->SetText("12");
    ASSERT_NE(invert.RegionIfAny(), nullptr);
    EXPECT_EQ(invert.Region().Left, 12);
    EXPECT_GT(e.previews, before);
    e->ETop->SetText("99999");
    EXPECT_EQ(invert.Region().Top, 11100);
    e->ETop->SetText("x");
    EXPECT_EQ(invert.Region().Top, 11100);
    e->UDWidth->Step(1);
    EXPECT_EQ(invert.Region().Width, 1);
    EXPECT_EQ(blur.Region().Left, 5);
}

TEST(chart_filters_editor, the_preview_shows_the_bitmap_filtered_scaled_to_the_panel_or_not) {
    Editor e;
    e.list.Add<chart::TInvertFilter>();
    e.Show();
    ASSERT_NE(e->Filtered(), nullptr);
    vcl::TBitmap inverted;
    inverted.Assign(*e.bitmap);
    chart::TInvertFilter().ApplyTo(inverted);
    EXPECT_EQ(PixelsOf(*e->Filtered()), PixelsOf(inverted));
    // The target itself is left alone.
    EXPECT_EQ(PixelsOf(*e.bitmap), PixelsOf(*Picture()));
    chart::engine::TBackImage& back = e->Image->BackImage();
    EXPECT_EQ(back.Mode(), chart::engine::pbmCustom);
    EXPECT_EQ(back.Width(), e->Image->Width());
    EXPECT_EQ(back.Height(), e->Image->Height());

    // Unscaled, from the pop-up menu: the filtered bitmap as it is.
    e->Scaled1->Click();
    EXPECT_FALSE(e->Scaled1->Checked());
    EXPECT_FALSE(e->CBScaled->Checked());
    EXPECT_EQ(back.Width(), 40);
    ASSERT_NE(dynamic_cast<vcl::TBitmap*>(back.Graphic()), nullptr);
    EXPECT_EQ(PixelsOf(*dynamic_cast<vcl::TBitmap*>(back.Graphic())), PixelsOf(inverted));
    // Scaled again from the check box.
    e->CBScaled->SetChecked(true);
    EXPECT_TRUE(e->Scaled1->Checked());
    EXPECT_EQ(back.Width(), e->Image->Width());

    // No preview: the panel shows nothing and Scaled cannot be chosen.
    const int before = e.previews;
    e->CBPreview->SetChecked(false);
    EXPECT_EQ(back.Graphic(), nullptr);
    EXPECT_FALSE(e->CBScaled->Enabled());
    e->FiltersClickCheck();
    EXPECT_EQ(e.previews, before);
    e->CBPreview->SetChecked(true);
    EXPECT_TRUE(e->CBScaled->Enabled());
    EXPECT_NE(back.Graphic(), nullptr);
}

TEST(chart_filters_editor, shown_modally_it_answers_whether_ok_closed_it_and_keeps_every_change) {
    test_support::EnsureQtApplication();
    vcl::EnsureApplication();
    const auto bitmap = Picture();
    chart::TFilterItems list;
    // The user adds a filter and presses Enter (OK is the default button).
    QTimer::singleShot(0, [&] {
        auto* editor = dynamic_cast<TFiltersEditor*>(vcl::Application->FindComponent("FiltersEditor"));
        ASSERT_NE(editor, nullptr);
        editor->AddFilter(chart::TSharpenFilter::Class());
        editor->Activate();
        test_support::PumpUntil([&] { return editor->Active(); });
        editor->Filters->SetFocus();
        QTest::keyClick(editor->Filters->Widget(), Qt::Key_Return);
        if (editor->ModalResult() == vcl::mrNone) editor->Close();
    });
    EXPECT_TRUE(ShowFiltersEditor(vcl::Application, *bitmap, list));
    ASSERT_EQ(list.Count(), 1);
    // Closed by its window's button: false, and the addition stays.
    QTimer::singleShot(0, [&] {
        auto* editor = dynamic_cast<TFiltersEditor*>(vcl::Application->FindComponent("FiltersEditor"));
        ASSERT_NE(editor, nullptr);
        editor->AddFilter(chart::TEmbossFilter::Class());
        editor->Widget()->close();
    });
    EXPECT_FALSE(ShowFiltersEditor(vcl::Application, *bitmap, list));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(vcl::Application->FindComponent("FiltersEditor"), nullptr);
}

}  // namespace
