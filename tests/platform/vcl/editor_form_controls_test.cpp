// What editor forms are built from, where the editors' own tests do not
// reach: modal forms ended by buttons, Enter or the window's close button;
// button glyphs; label focus controls and arrows whose edit is freed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/up_down.h"

namespace {

using namespace vcl;

struct Dialog {
    std::unique_ptr<TForm, TComponentDeleter> form{new TForm(EnsureApplication())};
    TButton* ok;
    TButton* other;
    Dialog() {
        form->SetBounds(100, 100, 300, 200);
        ok = new TButton(form.get());
        ok->SetParent(form.get());
        ok->SetModalResult(mrOk);
        ok->SetDefault(true);
        other = new TButton(form.get());
        other->SetParent(form.get());
        other->SetTop(40);
    }
    // Runs the form modally while `act` plays the user.
    int Run(std::function<void()> act) {
        QTimer::singleShot(0, [this, act] {
            act();
            // A step that did not end the loop: closed here, so the test goes on.
            if (form->ModalResult() == mrNone && form->Visible()) form->SetModalResult(-1);
        });
        return form->ShowModal();
    }
};

void Key(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

TEST(vcl_editor_form_controls, a_modal_form_ends_with_a_buttons_result_enter_or_its_close_button) {
    Dialog d;
    int clicks = 0;
    d.ok->OnClick = [&](TComponent*) { ++clicks; };
    EXPECT_EQ(d.Run([&] { d.ok->Click(); }), mrOk);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(d.form->Visible());
    // Enter where no control takes it presses the default button.
    EXPECT_EQ(d.Run([&] { Key(d.other->Widget(), Qt::Key_Return); }), mrOk);
    EXPECT_EQ(clicks, 2);
    // A button without a result leaves the form open.
    EXPECT_EQ(d.Run([&] { d.other->Click(); }), -1);
    // The close button: cancel, unless the form refuses.
    EXPECT_EQ(d.Run([&] { d.form->Widget()->close(); }), mrCancel);
    d.form->OnCloseQuery = [](TComponent*, bool& can) { can = false; };
    EXPECT_EQ(d.Run([&] { d.form->Close(); }), -1);
    EXPECT_FALSE(d.form->Modal());
    // A disabled default button is not pressed.
    d.ok->SetEnabled(false);
    EXPECT_EQ(d.Run([&] { Key(d.other->Widget(), Qt::Key_Enter); }), -1);
    EXPECT_EQ(clicks, 2);
}

TEST(vcl_editor_form_controls, a_glyphs_corner_colour_is_see_through_and_a_label_forgets_a_freed_control) {
    std::unique_ptr<TForm, TComponentDeleter> form{new TForm(EnsureApplication())};
    auto* edit = new TEdit(form.get());
    edit->SetParent(form.get());
    auto* arrows = new TUpDown(form.get());
    arrows->SetAssociate(edit);
    // A glyph's corner colour is see-through; a label forgets a freed edit.
    TBitmap glyph(5, 4);
    glyph.Canvas().Brush.SetColor(clFuchsia);
    glyph.Canvas().FillRect({0, 0, 5, 4});
    glyph.Canvas().SetPixel(2, 1, clBlack);
    auto* speed = new TSpeedButton(form.get());
    speed->SetParent(form.get());
    speed->SetGlyph(glyph);
    const QImage icon = static_cast<QToolButton*>(speed->Widget())->icon().pixmap(5, 4).toImage();
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
    EXPECT_EQ(icon.pixel(2, 1), qRgb(0, 0, 0));
    auto* label = new TLabel(form.get());
    label->SetParent(form.get());
    label->SetFocusControl(edit);
    label->SetCaption("&Name:");
    TComponent::Free(edit);
    EXPECT_EQ(label->FocusControl(), nullptr);
    EXPECT_EQ(arrows->Associate(), nullptr);
}

}  // namespace
