// What editor forms are built from: modal forms ended by buttons, Enter or
// the window's close button; pages chosen by tabs; lists with check boxes;
// up-down arrows bound to an edit; scroll bars; button glyphs and label
// focus controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include "platform/vcl/bitmap.h"
#include "platform/vcl/check_list_box.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/page_control.h"
#include "platform/vcl/scroll_bar.h"
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

TEST(vcl_editor_form_controls, pages_tabs_lists_arrows_and_bars_behave_as_editors_expect) {
    std::unique_ptr<TForm, TComponentDeleter> form{new TForm(EnsureApplication())};
    form->SetBounds(100, 100, 400, 300);

    // Pages: the first with a tab is shown; hiding its tab shows the next.
    auto* pages = new TPageControl(form.get());
    pages->SetParent(form.get());
    pages->SetBounds(0, 0, 200, 150);
    auto* a = new TTabSheet(form.get());
    a->SetCaption("Options");
    a->SetPageControl(pages);
    auto* b = new TTabSheet(form.get());
    b->SetCaption("Region");
    b->SetPageControl(pages);
    form->Show();
    EXPECT_EQ(pages->ActivePage(), a);
    EXPECT_EQ(b->PageIndex(), 1);
    EXPECT_EQ(a->BoundsRect(), pages->PageRect());
    EXPECT_GT(a->Top(), 10);  // below the tabs
    int changes = 0;
    pages->OnChange = [&](TComponent*) { ++changes; };
    auto* bar = pages->Widget()->findChild<QTabBar*>();
    ASSERT_NE(bar, nullptr);
    bar->setCurrentIndex(1);  // the user's choice of tab
    EXPECT_EQ(pages->ActivePage(), b);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(b->Visible());
    EXPECT_FALSE(a->Visible());
    b->SetTabVisible(false);
    EXPECT_EQ(pages->ActivePage(), a);
    EXPECT_EQ(bar->count(), 1);
    pages->SetActivePage(b);  // no tab: not chosen
    EXPECT_EQ(pages->ActivePage(), a);
    EXPECT_EQ(changes, 1);

    // A list with checks: the program's changes raise nothing, the user's do.
    auto* list = new TCheckListBox(form.get());
    list->SetParent(form.get());
    list->SetBounds(210, 0, 150, 120);
    int clicks = 0, checks = 0;
    list->OnClick = [&](TComponent*) { ++clicks; };
    list->OnClickCheck = [&](TComponent*) { ++checks; };
    for (const char* s : {"one", "two", "three"}) list->AddObject(s, static_cast<std::intptr_t>(s[1]));
    list->SetChecked(1, true);
    list->SetItemIndex(1);
    EXPECT_EQ(clicks + checks, 0);
    list->Exchange(1, 2);
    EXPECT_EQ(list->Strings(2), "two");
    EXPECT_TRUE(list->Checked(2));
    EXPECT_FALSE(list->Checked(1));
    EXPECT_EQ(list->Objects(2), 'w');
    EXPECT_EQ(list->ItemIndex(), 2);  // the selection moved with its line
    auto* view = static_cast<QListWidget*>(list->Widget());
    view->setCurrentRow(0);
    EXPECT_EQ(clicks, 1);
    view->item(1)->setCheckState(Qt::Checked);  // a check on another line selects it
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(list->ItemIndex(), 1);
    list->Delete(1);
    EXPECT_EQ(list->Count(), 2);
    EXPECT_THROW(list->Strings(5), rtl::EListError);

    // Arrows bound to an edit: at its right end, its text their position.
    auto* edit = new TEdit(form.get());
    edit->SetParent(form.get());
    edit->SetBounds(10, 200, 100, 21);
    auto* arrows = new TUpDown(form.get());
    arrows->SetRange(0, 10);
    arrows->SetAssociate(edit);
    EXPECT_EQ(arrows->Parent(), form.get());
    EXPECT_EQ(edit->Width() + arrows->Width(), 100);
    EXPECT_EQ(arrows->Left(), edit->Left() + edit->Width());
    EXPECT_EQ(edit->Text(), "0");
    arrows->Step(1);
    EXPECT_EQ(edit->Text(), "1");
    edit->SetText("8");
    EXPECT_EQ(arrows->Position(), 8);
    edit->SetText("80");
    EXPECT_EQ(arrows->Position(), 10);
    edit->SetText("eight");
    EXPECT_EQ(arrows->Position(), 10);  // the last number
    Key(edit->Widget(), Qt::Key_Down);
    EXPECT_EQ(edit->Text(), "9");
    arrows->SetRange(5, 2);  // taken as 5..5
    EXPECT_EQ(arrows->Max(), 5);

    // A bar: Right moves right, a narrower range brings the position in.
    auto* scroll = new TScrollBar(form.get());
    scroll->SetParent(form.get());
    scroll->SetBounds(10, 240, 150, 16);
    scroll->SetRange(0, 50);
    int moves = 0;
    scroll->OnChange = [&](TComponent*) { ++moves; };
    scroll->SetPosition(40);
    Key(scroll->Widget(), Qt::Key_Right);
    EXPECT_EQ(scroll->Position(), 41);
    scroll->SetRange(0, 20);
    EXPECT_EQ(scroll->Position(), 20);
    EXPECT_EQ(moves, 3);

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
