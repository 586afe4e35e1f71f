// The property-control builder on a shown panel: each kind of control
// placed one below the other, filled from its property and writing it back
// when the user changes it (not while locked), typed numbers held to their
// range, and the scroll bars a filter keeps going with their controls.
#include <gtest/gtest.h>

#include <QtTest/QTest>

#include "chart/drawing/geometric_filters.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/tools/editor_controls.h"
#include "chart/tools/form_creator.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/properties.h"
#include "platform/vcl/scroll_bar.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/up_down.h"
#include "support/qt_app.h"

namespace {

using namespace chart::tools;
using namespace vcl;

enum TLineKind { dlHorizParallel, dlVertParallel, dlx };

// An object with one property of each kind the builder edits.
class TSettings : public TPersistent {
public:
    bool Smooth = true;
    int Kind = dlVertParallel;
    TColor Back = clRed;
    double Angle = 44.6;
    int Size = 7;
};

void RegisterSettings() {
    static const bool done = [] {
        static const TEnumTypeInfo kinds{"TLineKind", {"dlHorizParallel", "dlVertParallel", "dlx"}};
        RegisterProperties<TSettings>()
            .Boolean("Smooth", &TSettings::Smooth, &TSettings::Smooth)
            .Enum("Kind", kinds, &TSettings::Kind, &TSettings::Kind)
            .Color("Back", &TSettings::Back, &TSettings::Back)
            .Float("Angle", &TSettings::Angle, &TSettings::Angle)
            .Integer("Size", &TSettings::Size, &TSettings::Size);
        return true;
    }();
    (void)done;
}

// A shown form with a 200-pixel panel for the builder to fill.
struct Page {
    std::unique_ptr<TForm, TComponentDeleter> form{new TForm(EnsureApplication())};
    TPanel* panel;
    TFormCreator* creator;
    std::vector<TPersistent*> changes;
    Page() {
        form->SetBounds(100, 100, 260, 300);
        panel = new TPanel(form.get());
        panel->SetParent(form.get());
        panel->SetBevelOuter(TBevelCut::bvNone);
        panel->SetBounds(0, 0, 200, 300);
        creator = new TFormCreator(panel);
        creator->OnChange = [this](TPersistent* s) { changes.push_back(s); };
        form->Show();
    }
    TControl* Control(int i) const { return panel->Controls(i); }
};

TEST(chart_form_creator, each_kind_of_control_is_bound_to_its_property_and_written_by_the_user) {
    test_support::EnsureQtApplication();
    RegisterSettings();
    Page page;
    TSettings settings;
    TFormCreator& c = *page.creator;
    c.Instance = &settings;
    c.NextTop = 8;
    c.Locked = true;
    int clicks = 0;
    c.AddCheckBox("Smooth", "Smooth", [&] { ++clicks; });
    c.AddColor("Back", "Back");
    c.AddCombo("Kind");
    const std::weak_ptr<chart::TFormScrollBar> angle = c.AddScroll("Angle", 0, 360);
    c.AddInteger("Size", "", 1, 50);
    c.Locked = false;

    // One below the other, each gap as its kind has it.
    ASSERT_EQ(page.panel->ControlCount(), 7);  // the number takes a label and arrows too
    auto* smooth = dynamic_cast<TCheckBox*>(page.Control(0));
    auto* back = dynamic_cast<TButtonColor*>(page.Control(1));
    auto* kind = dynamic_cast<TComboFlat*>(page.Control(2));
    auto* bar = dynamic_cast<TScrollBar*>(page.Control(3));
    auto* label = dynamic_cast<TLabel*>(page.Control(4));
    auto* size = dynamic_cast<TEdit*>(page.Control(5));
    auto* arrows = dynamic_cast<TUpDown*>(page.Control(6));
    ASSERT_TRUE(smooth && back && kind && bar && label && size && arrows);
    EXPECT_EQ(smooth->BoundsRect(), (TRect{4, 8, 79, 24}));
    EXPECT_EQ(back->BoundsRect(), (TRect{4, 26, 79, 51}));
    EXPECT_EQ(kind->BoundsRect(), (TRect{4, 57, 196, 78}));
    EXPECT_EQ(bar->BoundsRect(), (TRect{4, 84, 196, 100}));
    EXPECT_EQ(size->Top(), 106);
    EXPECT_EQ(label->Top(), 110);
    EXPECT_EQ(c.NextTop, 106 + 16 + 6);
    EXPECT_EQ(size->Left() + size->Width() + arrows->Width(), 200 - 24);  // the arrows inside the edit's room

    // Filled from the properties, nothing written while filling.
    EXPECT_TRUE(smooth->Checked());
    EXPECT_EQ(back->SymbolColor(), clRed);
    ASSERT_EQ(kind->Items().Count(), 3);
    EXPECT_EQ(kind->Items().Strings(0), "Horiz Parallel");
    EXPECT_EQ(kind->Items().Strings(2), "dlx");  // nothing would be left of it
    EXPECT_EQ(kind->ItemIndex(), 1);
    EXPECT_EQ(bar->Position(), 45);
    EXPECT_EQ(bar->Hint(), "Angle");
    EXPECT_EQ(label->Caption(), "&Size");
    EXPECT_EQ(label->FocusControl(), size);
    EXPECT_EQ(size->Text(), "7");
    EXPECT_TRUE(page.changes.empty());
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(settings.Angle, 44.6);

    // The user's changes reach the object, then the asker's handler and
    // OnChange with the object.
    QTest::mouseClick(smooth->Widget(), Qt::LeftButton);
    EXPECT_FALSE(settings.Smooth);
    EXPECT_EQ(clicks, 1);
    kind->SelectByUser(0);
    EXPECT_EQ(settings.Kind, dlHorizParallel);
    bar->SetFocus();
    QTest::keyClick(bar->Widget(), Qt::Key_Right);
    EXPECT_EQ(settings.Angle, 46.0);
    arrows->Step(1);
    EXPECT_EQ(settings.Size, 8);
    EXPECT_EQ(page.changes, std::vector<TPersistent*>(4, &settings));
    // The filter may change the bar's range while the bar lives.
    angle.lock()->SetRange(0, 10);
    EXPECT_EQ(bar->Position(), 10);
    EXPECT_EQ(settings.Angle, 10.0);

    // Locked: the controls change, the object does not.
    c.Locked = true;
    smooth->SetChecked(true);
    EXPECT_FALSE(settings.Smooth);
    c.Locked = false;

    // A property the object does not publish is a fault of the asker.
    EXPECT_THROW(c.AddScroll("Missing", 0, 1), EPropertyError);
    EXPECT_THROW(c.AddCombo("Size"), EPropertyError);
}

TEST(chart_form_creator, a_typed_number_is_written_only_when_whole_and_held_to_its_range) {
    test_support::EnsureQtApplication();
    Page page;
    chart::TResizeFilter resize;
    resize.Width = 300;
    TFormCreator& c = *page.creator;
    c.Instance = &resize;
    c.AddInteger("Width", "Width", 0, 10000);
    auto* edit = dynamic_cast<TEdit*>(page.Control(1));
    auto* arrows = dynamic_cast<TUpDown*>(page.Control(2));
    ASSERT_TRUE(edit && arrows);
    EXPECT_EQ(edit->Text(), "300");

    page.form->Activate();
    ASSERT_TRUE(test_support::PumpUntil([&] { return page.form->Active(); }));
    edit->SetFocus();
    auto type = [&](const char* text) {
        edit->SelectAll();
        QTest::keyClick(edit->Widget(), Qt::Key_Backspace);
        QTest::keyClicks(edit->Widget(), text);
    };
    type("12");
    EXPECT_EQ(resize.Width, 12);
    // Half-typed, pasted or wrong text writes nothing and raises nothing.
    type("-");
    EXPECT_EQ(resize.Width, 12);
    for (const char* text : {"1a", "", " ", "12.5", "2e3", "--4"}) {
        edit->SetText(text);
        EXPECT_EQ(resize.Width, 12) << text;
    }
    // Beyond the range: held to it, a resize to 99999 pixels never happens.
    type("99999");
    EXPECT_EQ(resize.Width, 10000);
    type("-5");
    EXPECT_EQ(resize.Width, 0);
    type("99999");
    // Leaving the edit shows what the property took.
    auto* other = new TCheckBox(page.panel);
    other->SetParent(page.panel);
    other->SetBounds(4, 200, 80, 17);
    other->SetFocus();
    EXPECT_EQ(edit->Text(), "10000");
    // The arrows and the keys stop at the ends too.
    arrows->Step(1);
    EXPECT_EQ(resize.Width, 10000);
    edit->SetFocus();
    QTest::keyClick(edit->Widget(), Qt::Key_Down);
    EXPECT_EQ(resize.Width, 9999);
    EXPECT_EQ(edit->Text(), "9999");
}

TEST(chart_form_creator, the_scroll_bar_a_filter_keeps_goes_with_its_control) {
    test_support::EnsureQtApplication();
    Page page;
    chart::TBrightnessFilter bright;
    bright.Amount = 80;
    TFormCreator& c = *page.creator;
    c.Instance = &bright;
    c.Locked = true;
    bright.CreateEditor(c, {});
    c.Locked = false;
    auto* bar = dynamic_cast<TScrollBar*>(page.Control(0));
    auto* percent = dynamic_cast<TCheckBox*>(page.Control(1));
    ASSERT_TRUE(bar && percent);
    EXPECT_EQ(bar->Min(), -100);
    EXPECT_EQ(bar->Max(), 100);
    // Percent off: the filter widens its bar through the handle it kept.
    QTest::mouseClick(percent->Widget(), Qt::LeftButton);
    EXPECT_FALSE(bright.Percent);
    EXPECT_EQ(bar->Max(), 255);
    EXPECT_EQ(bar->Min(), -255);
    // Percent on again: the amount is held to the narrower range.
    bar->SetPosition(200);
    EXPECT_EQ(bright.Amount, 200);
    QTest::mouseClick(percent->Widget(), Qt::LeftButton);
    EXPECT_EQ(bar->Max(), 100);
    EXPECT_EQ(bright.Amount, 100);

    // Freeing the controls ends the handles handed out for them.
    const std::weak_ptr<chart::TFormScrollBar> handle = c.AddScroll("Amount", 0, 10);
    EXPECT_FALSE(handle.expired());
    while (page.panel->ControlCount() > 0) TComponent::Free(page.panel->Controls(0));
    c.Items().Clear();
    EXPECT_TRUE(handle.expired());
}

}  // namespace
