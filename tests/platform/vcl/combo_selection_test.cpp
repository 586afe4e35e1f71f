// The edit field of an editable combo box: selecting, replacing and copying
// parts of its text.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

#include <string>

#include "platform/vcl/clipboard.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/menus.h"
#include "platform/vcl/std_ctrls.h"

namespace {

using namespace vcl;

TEST(combo_selection, span_is_selected_read_back_and_clamped_to_the_text) {
    EnsureApplication();
    TForm form(Application);
    auto* c = new TComboBox(&form);
    c->SetParent(&form);
    c->SetText("1 2 258 4");

    c->SetSelStart(4);
    c->SetSelLength(3);
    EXPECT_EQ(c->SelStart(), 4);
    EXPECT_EQ(c->SelLength(), 3);
    EXPECT_EQ(c->SelText(), "258");

    // A new start drops the selection and leaves the cursor there.
    c->SetSelStart(2);
    EXPECT_EQ(c->SelStart(), 2);
    EXPECT_EQ(c->SelLength(), 0);
    EXPECT_EQ(c->SelText(), "");

    // Out-of-range values stay inside the text.
    c->SetSelStart(5);
    c->SetSelLength(100);
    EXPECT_EQ(c->SelStart(), 5);
    EXPECT_EQ(c->SelText(), "58 4");
    c->SetSelStart(100);
    EXPECT_EQ(c->SelStart(), 9);
    c->SetSelLength(3);
    EXPECT_EQ(c->SelLength(), 0);
    c->SetSelStart(-3);
    c->SetSelLength(-1);
    EXPECT_EQ(c->SelStart(), 0);
    EXPECT_EQ(c->SelLength(), 0);

    // Positions count bytes of the program's code page: a Cyrillic letter
    // is one position like any other.
    c->SetText("\xC0\xC1\xC2 12 \xDF");
    c->SetSelStart(4);
    c->SetSelLength(2);
    EXPECT_EQ(c->SelText(), "12");
    c->SetSelStart(7);
    c->SetSelLength(1);
    EXPECT_EQ(c->SelText(), "\xDF");
}

TEST(combo_selection, replacing_the_selection_edits_at_the_cursor_and_raises_on_change_once) {
    EnsureApplication();
    TForm form(Application);
    auto* c = new TComboBox(&form);
    c->SetParent(&form);
    int changes = 0;
    c->OnChange = [&](TComponent*) { ++changes; };
    c->SetText("01 02 03");
    EXPECT_EQ(changes, 0) << "setting the text is no edit";

    c->SetSelStart(3);
    c->SetSelLength(2);
    c->SetSelText("AA BB");
    EXPECT_EQ(c->Text(), "01 AA BB 03");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(c->SelLength(), 0);
    EXPECT_EQ(c->SelStart(), 8) << "the cursor follows the inserted text";

    // Without a selection the text goes in at the cursor.
    c->SetSelText(" \xE0");
    EXPECT_EQ(c->Text(), "01 AA BB \xE0 03");
    EXPECT_EQ(changes, 2);

    // An empty replacement deletes the selection.
    c->SetSelStart(0);
    c->SetSelLength(3);
    c->SetSelText("");
    EXPECT_EQ(c->Text(), "AA BB \xE0 03");
    EXPECT_EQ(changes, 3);
}

TEST(combo_selection, copy_takes_only_the_selection) {
    EnsureApplication();
    TForm form(Application);
    auto* c = new TComboBox(&form);
    c->SetParent(&form);
    c->SetText("\"\xCF\xF0\xE8\xE2\xE5\xF2\" 13 10");
    c->SetSelStart(0);
    c->SetSelLength(8);
    c->CopyToClipboard();
    EXPECT_EQ(Clipboard().AsText(), "\"\xCF\xF0\xE8\xE2\xE5\xF2\"");

    // Nothing selected: the clipboard keeps what it had.
    Clipboard().SetAsText("kept");
    c->SetSelStart(3);
    c->CopyToClipboard();
    EXPECT_EQ(Clipboard().AsText(), "kept");
}

TEST(combo_selection, a_list_only_combo_has_no_edit_selection) {
    EnsureApplication();
    TForm form(Application);
    auto* c = new TComboBox(&form);
    c->SetParent(&form);
    c->SetStyle(TComboBoxStyle::csDropDownList);
    c->Items().Add("COM1");
    c->SetItemIndex(0);
    int changes = 0;
    c->OnChange = [&](TComponent*) { ++changes; };
    c->SetSelStart(1);
    c->SetSelLength(2);
    EXPECT_EQ(c->SelStart(), 0);
    EXPECT_EQ(c->SelLength(), 0);
    EXPECT_EQ(c->SelText(), "");
    c->SetSelText("x");
    EXPECT_EQ(c->Text(), "COM1");
    EXPECT_EQ(changes, 0);
}

// Whether the edit field keeps a key from the shortcuts, as the toolkit asks
// the widget with the focus before it runs any.
bool FieldClaims(TComboBox* c, Qt::Key key) {
    QLineEdit* edit = static_cast<QComboBox*>(c->Widget())->lineEdit();
    QKeyEvent ask(QEvent::ShortcutOverride, key, Qt::ControlModifier);
    ask.ignore();
    QApplication::sendEvent(edit, &ask);
    return ask.isAccepted();
}

TEST(combo_selection, the_combos_menu_takes_its_editing_keys_before_the_edit_field) {
    EnsureApplication();
    TForm form(Application);
    auto* c = new TComboBox(&form);
    c->SetParent(&form);
    c->SetText("01 02");
    EXPECT_TRUE(FieldClaims(c, Qt::Key_V)) << "without a menu the field pastes itself";

    auto* menu = new TPopupMenu(&form);
    TMenuItem* paste = NewItem(&form, menu->Items(), "mPaste", "Paste", {}, "Ctrl+V");
    c->SetPopupMenu(menu);
    EXPECT_FALSE(FieldClaims(c, Qt::Key_V)) << "the menu's Paste runs instead";
    EXPECT_TRUE(FieldClaims(c, Qt::Key_C)) << "keys the menu lacks stay with the field";
    paste->SetEnabled(false);
    EXPECT_TRUE(FieldClaims(c, Qt::Key_V)) << "a disabled entry leaves the key to the field";
}

}  // namespace
