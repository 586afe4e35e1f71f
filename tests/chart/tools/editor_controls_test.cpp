// The editor controls on a shown form: the symbol a button paints over
// itself, colour buttons bound to a property with the shared colour
// dialog, the flat drop-down list, the arrow glyphs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include "chart/tools/editor_controls.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/properties.h"
#include "support/chart_surfaces.h"
#include "support/graphic_bytes.h"
#include "support/qt_app.h"

namespace {

using namespace chart::tools;
using namespace vcl;

// An object with a published colour, as the settings objects that colour
// buttons edit have.
class TSwatch : public TPersistent {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor c) {
        color_ = c;
        ++writes;
    }
    int writes = 0;

private:
    TColor color_ = clRed;
};

void RegisterSwatch() {
    static const bool done = [] {
        RegisterProperties<TSwatch>().Color("Color", &TSwatch::Color, &TSwatch::SetColor, clRed);
        return true;
    }();
    (void)done;
}

// A colour button that counts how often it draws its symbol.
class TCountingButton : public TButtonColor {
public:
    using TButtonColor::TButtonColor;
    void DrawSymbol(chart::TPlotCanvas& canvas) override {
        ++paints;
        TButtonColor::DrawSymbol(canvas);
    }
    int paints = 0;
};

struct Form {
    TForm* form;
    Form() : form(new TForm(EnsureApplication())) {
        form->SetBounds(100, 100, 300, 160);
        form->Show();
    }
    ~Form() { delete form; }
    template <class T>
    T* Add(int left, int top, int width, int height) {
        auto* c = new T(form);
        c->SetParent(form);
        c->SetBounds(left, top, width, height);
        return c;
    }
};

// The control as it shows, in a bitmap of its size.
std::unique_ptr<TBitmap> Shot(TControl& control) {
    test_support::Pump(std::chrono::milliseconds(20));
    auto bmp = std::make_unique<TBitmap>(control.Width(), control.Height());
    control.PaintTo(bmp->Canvas(), 0, 0);
    return bmp;
}

int Count(const TBitmap& bmp, const TRect& r, gdi::COLORREF color) {
    int n = 0;
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x) n += bmp.Handle()->GetPixel(x, y) == color;
    return n;
}

TEST(chart_editor_controls, a_plot_button_paints_its_symbol_at_its_right_end_after_the_button_paints) {
    test_support::EnsureQtApplication();
    Form f;
    auto* button = f.Add<TCountingButton>(10, 10, 75, 25);
    button->SetCaption("Colour");
    button->OwnColor = clBlue;
    EXPECT_EQ(button->SymbolRect(), (TRect{56, 7, 69, 19}));
    auto* tall = f.Add<TPlotButton>(100, 10, 100, 40);
    EXPECT_EQ(tall->SymbolRect(), (TRect{81, 10, 94, 30}));

    const auto shot = Shot(*button);
    // The swatch: filled inside its black outline, over the button's face.
    EXPECT_EQ(Count(*shot, {57, 8, 68, 18}, 0xFF0000), 11 * 10);
    EXPECT_EQ(Count(*shot, {56, 7, 69, 8}, 0), 13);
    EXPECT_EQ(Count(*shot, {0, 0, 75, 25}, 0xFF0000), 110);  // nowhere else
    // The caption is there too: dark pixels left of the swatch.
    int dark = 0;
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 55; ++x) dark += (shot->Handle()->GetPixel(x, y) & 0xFF) < 100;
    EXPECT_GT(dark, 20);

    // A new text or a change of enabled paints it again; disabled, the
    // swatch has no outline.
    test_support::Pump(std::chrono::milliseconds(20));
    const int before = button->paints;
    button->SetCaption("Other");
    ASSERT_TRUE(test_support::PumpUntil([&] { return button->paints > before; }));
    const int again = button->paints;
    button->SetEnabled(false);
    ASSERT_TRUE(test_support::PumpUntil([&] { return button->paints > again; }));
    const auto disabled = Shot(*button);
    EXPECT_EQ(Count(*disabled, {56, 7, 69, 19}, 0), 0);
    EXPECT_EQ(Count(*disabled, {56, 7, 68, 18}, 0xFF0000), 12 * 11);
}

TEST(chart_editor_controls, a_colour_button_bound_to_a_property_shows_and_writes_it) {
    test_support::EnsureQtApplication();
    RegisterSwatch();
    Form f;
    TSwatch swatch;
    auto* button = f.Add<TButtonColor>(10, 10, 75, 25);
    EXPECT_EQ(button->SymbolColor(), clBlack);  // its own colour
    button->LinkProperty(&swatch, "color");     // case does not matter
    ASSERT_NE(button->PropInfo(), nullptr);
    EXPECT_EQ(button->SymbolColor(), clRed);
    button->SetSymbolColor(clGreen);
    EXPECT_EQ(swatch.Color(), clGreen);
    EXPECT_EQ(button->OwnColor, clBlack);
    swatch.SetColor(clBtnFace);  // a system colour shows as its RGB
    EXPECT_EQ(button->SymbolColor(), TColor(ColorToRGB(clBtnFace)));
    EXPECT_EQ(Count(*Shot(*button), {57, 8, 68, 18}, ColorToRGB(clBtnFace)), 110);

    // clNone: no swatch at all, the button's own face shows.
    swatch.SetColor(clNone);
    EXPECT_EQ(button->SymbolColor(), clNone);
    test_support::RecordingChart surface(75, 25);
    button->DrawSymbol(surface.canvas);
    EXPECT_TRUE(surface.Drawing().empty());
    auto* plain = f.Add<TButton>(10, 50, 75, 25);
    test_support::Pump(std::chrono::milliseconds(20));
    EXPECT_EQ(test_support::PixelsOf(*Shot(*button)), test_support::PixelsOf(*Shot(*plain)));

    // The colour of the event, when there is one.
    button->GetColorEvent = [] { return clYellow; };
    EXPECT_EQ(button->SymbolColor(), clYellow);
    button->GetColorEvent = nullptr;
    // A property the class does not publish is refused; unbinding goes back
    // to the button's own colour.
    EXPECT_THROW(button->LinkProperty(&swatch, "Colour"), EPropertyError);
    button->LinkProperty(nullptr, "");
    EXPECT_EQ(button->PropInfo(), nullptr);
    EXPECT_EQ(button->SymbolColor(), clBlack);
}

TEST(chart_editor_controls, the_colour_dialog_shares_its_custom_colours_and_cancel_changes_nothing) {
    test_support::EnsureQtApplication();
    RegisterSwatch();
    Form f;
    TSwatch swatch;
    auto* button = f.Add<TCountingButton>(10, 10, 75, 25);
    auto* other = f.Add<TButtonColor>(10, 50, 75, 25);
    button->LinkProperty(&swatch, "Color");
    int clicks = 0;
    button->OnClick = [&](TComponent*) { ++clicks; };

    // The dialogs the buttons open, answered as a user would.
    std::vector<std::vector<TColor>> seen;
    std::vector<TColor> shown;
    bool confirm = false;
    TColor pick = clNone;
    Application->DialogHook = [&](TCommonDialog& d) {
        auto& dialog = dynamic_cast<TColorDialog&>(d);
        seen.push_back(dialog.CustomColors);
        shown.push_back(dialog.Color);
        dialog.CustomColors = {clAqua, clOlive};  // what the user did to the list
        dialog.Color = pick;
        return confirm;
    };

    // Cancelled (through a real click): no write, no OnClick.
    const int writes = swatch.writes;
    QWidget* w = button->Widget();
    const QPointF at(20, 12);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(shown[0], clRed);  // the dialog starts from the colour shown
    EXPECT_EQ(swatch.Color(), clRed);
    EXPECT_EQ(swatch.writes, writes);
    EXPECT_EQ(clicks, 0);
    // ... and no repaint (the click itself repaints the pressed button, so
    // this one goes without the mouse).
    test_support::Pump(std::chrono::milliseconds(30));
    const int paints = button->paints;
    button->Click();
    test_support::Pump(std::chrono::milliseconds(30));
    EXPECT_EQ(button->paints, paints);
    EXPECT_EQ(clicks, 0);

    // Confirmed: written, repainted, then OnClick.
    confirm = true;
    pick = clPurple;
    button->Click();
    EXPECT_EQ(swatch.Color(), clPurple);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(test_support::PumpUntil([&] { return button->paints > paints; }));

    // One list for every button: the first dialogs saw none; the confirmed
    // one's list is what the other button's dialog starts with; a cancelled
    // dialog's changes are not kept.
    EXPECT_TRUE(seen[0].empty());
    other->Click();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3], (std::vector<TColor>{clAqua, clOlive}));
    EXPECT_EQ(shown[3], clBlack);  // the other button's own colour
    EXPECT_EQ(other->OwnColor, clPurple);
    confirm = false;
    pick = clLime;
    EXPECT_EQ(EditColor(other, clTeal), clTeal);
    Application->DialogHook = nullptr;
}

TEST(chart_editor_controls, a_flat_combo_box_is_flat_unless_hovered_or_focused) {
    test_support::EnsureQtApplication();
    Form f;
    auto* first = f.Add<TButton>(150, 10, 75, 25);  // has the focus at first
    auto* flat = f.Add<TComboFlat>(10, 10, 120, 21);
    auto* plain = f.Add<TComboBox>(10, 60, 120, 21);
    for (TComboBox* c : {static_cast<TComboBox*>(flat), plain}) {
        c->Items().Add("Horiz Parallel");
        c->Items().Add("Eye2");
        c->SetItemIndex(0);
    }
    plain->SetStyle(TComboBoxStyle::csDropDownList);
    EXPECT_EQ(flat->Style(), TComboBoxStyle::csDropDownList);
    EXPECT_EQ(flat->Height(), 21);
    EXPECT_EQ(flat->DropDownWidth(), 120);  // the control's width until set
    flat->SetDropDownWidth(300);
    EXPECT_EQ(flat->DropDownWidth(), 300);

    // Neither hovered nor focused: two frames in the face colour, the
    // arrow's area framed in the window colour.
    const gdi::COLORREF face = ColorToRGB(clBtnFace), window = ColorToRGB(clWindow);
    f.form->Activate();
    first->SetFocus();
    ASSERT_TRUE(test_support::PumpUntil([&] { return first->Focused(); }));
    auto idle = Shot(*flat);
    EXPECT_EQ(Count(*idle, {0, 0, 120, 1}, face), 120);
    EXPECT_EQ(Count(*idle, {1, 1, 119, 2}, face), 118);
    EXPECT_EQ(Count(*idle, {0, 0, 1, 21}, face), 21);
    EXPECT_EQ(Count(*idle, {99, 2, 100, 19}, window), 17);  // the arrow area's left edge
    EXPECT_EQ(Count(*idle, {117, 2, 118, 19}, window), 17);  // the line at its right

    // The mouse over it: the platform's own look, flat again once it leaves.
    QEvent enter(QEvent::Enter), leave(QEvent::Leave);
    QApplication::sendEvent(flat->Widget(), &enter);
    EXPECT_TRUE(flat->MouseInControl());
    auto hovered = Shot(*flat);
    EXPECT_LT(Count(*hovered, {0, 0, 120, 1}, face), 120);
    QApplication::sendEvent(flat->Widget(), &leave);
    EXPECT_FALSE(flat->MouseInControl());
    EXPECT_EQ(test_support::PixelsOf(*Shot(*flat)), test_support::PixelsOf(*idle));

    // Focused: exactly the platform's frame, as a plain list with the focus.
    flat->SetFocus();
    ASSERT_TRUE(test_support::PumpUntil([&] { return flat->Focused(); }));
    const auto focused = Shot(*flat);
    plain->SetFocus();
    ASSERT_TRUE(test_support::PumpUntil([&] { return plain->Focused(); }));
    EXPECT_FALSE(flat->MouseInControl());
    EXPECT_EQ(test_support::PixelsOf(*focused), test_support::PixelsOf(*Shot(*plain)));
}

TEST(chart_editor_controls, arrow_glyphs_are_black_arrows_on_a_transparent_colour) {
    test_support::EnsureQtApplication();
    TBitmap up, down;
    PlotLoadArrowGlyphs(up, down);
    ASSERT_EQ(up.Width(), 11);
    ASSERT_EQ(up.Height(), 7);
    const gdi::COLORREF back = up.Handle()->GetPixel(0, 6);
    EXPECT_EQ(back, ColorToRGB(clFuchsia));
    EXPECT_EQ(Count(up, {0, 0, 11, 7}, 0), 1 + 3 + 5 + 7 + 9);
    EXPECT_EQ(Count(up, {0, 0, 11, 7}, back), 77 - 25);
    EXPECT_EQ(up.Handle()->GetPixel(5, 1), 0u);  // the tip on top
    EXPECT_EQ(up.Handle()->GetPixel(1, 5), 0u);  // the base below
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 11; ++x) EXPECT_EQ(down.Handle()->GetPixel(x, y), up.Handle()->GetPixel(x, 6 - y));
}

}  // namespace
