#include "platform/vcl/controls.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <vector>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/text.h"
#include "platform/vcl/clipboard.h"

namespace {

using namespace vcl;

TEST(controls, aligned_children_share_the_client_area_in_order) {
    EnsureApplication();
    TForm form(Application);
    form.SetBounds(0, 0, 400, 300);
    auto* top = new TPanel(&form);
    top->SetParent(&form);
    top->SetHeight(40);
    top->SetAlign(TAlign::alTop);
    auto* left = new TPanel(&form);
    left->SetParent(&form);
    left->SetWidth(100);
    left->SetAlign(TAlign::alLeft);
    auto* bottom = new TPanel(&form);
    bottom->SetParent(&form);
    bottom->SetHeight(20);
    bottom->SetAlign(TAlign::alBottom);
    auto* client = new TPanel(&form);
    client->SetParent(&form);
    client->SetAlign(TAlign::alClient);
    form.Realign();

    int w = form.ClientWidth(), h = form.ClientHeight();
    EXPECT_EQ(top->BoundsRect().Top, 0);
    EXPECT_EQ(top->Width(), w);
    EXPECT_EQ(bottom->Top(), h - 20);
    EXPECT_EQ(left->Top(), 40);
    EXPECT_EQ(left->Height(), h - 60);
    EXPECT_EQ(client->Left(), 100);
    EXPECT_EQ(client->Width(), w - 100);
    EXPECT_EQ(client->Height(), h - 60);

    // A hidden child gives its room to the others.
    left->Hide();
    EXPECT_EQ(client->Left(), 0);
    EXPECT_EQ(client->Width(), w);
}

TEST(controls, check_box_raises_on_click_whenever_checked_changes) {
    EnsureApplication();
    TForm form(Application);
    auto* cb = new TCheckBox(&form);
    int clicks = 0;
    cb->OnClick = [&](TComponent*) { ++clicks; };
    cb->SetChecked(true);
    EXPECT_TRUE(cb->Checked());
    EXPECT_EQ(clicks, 1);
    cb->SetChecked(true);
    EXPECT_EQ(clicks, 1);
    cb->SetState(TCheckBoxState::cbGrayed);
    EXPECT_EQ(cb->State(), TCheckBoxState::cbGrayed);
    EXPECT_FALSE(cb->Checked());
    EXPECT_EQ(clicks, 2);
}

TEST(controls, combo_box_keeps_objects_and_raises_events_only_for_the_users_choice) {
    EnsureApplication();
    TForm form(Application);
    auto* c = new TComboBox(&form);
    c->SetStyle(TComboBoxStyle::csDropDownList);
    int changes = 0, selects = 0;
    c->OnChange = [&](TComponent*) { ++changes; };
    c->Items().AddObject("[No]", 0);
    c->Items().AddObject("COM3", 3);
    c->Items().InsertObject(1, "COM1", 1);
    // Filling an empty list selects nothing.
    EXPECT_EQ(c->ItemIndex(), -1);
    EXPECT_EQ(c->Items().Strings(1), "COM1");
    EXPECT_EQ(c->Items().Objects(2), 3);
    EXPECT_EQ(c->Items().IndexOfObject(3), 2);
    EXPECT_EQ(c->Items().IndexOf("COM9"), -1);
    EXPECT_THROW(c->Items().Strings(3), rtl::EListError);
    c->SetItemIndex(2);
    EXPECT_EQ(c->Text(), "COM3");
    EXPECT_EQ(changes, 0);
    // Inserting before the selection keeps the same entry selected.
    c->Items().InsertObject(0, "first", 9);
    EXPECT_EQ(c->ItemIndex(), 3);
    c->SelectByUser(1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(c->ItemIndex(), 1);
    c->OnSelect = [&](TComponent*) { ++selects; };
    c->SelectByUser(2);
    EXPECT_EQ(selects, 1);
    EXPECT_EQ(changes, 1);
    c->SetItemIndex(99);
    EXPECT_EQ(c->ItemIndex(), -1);
}

TEST(controls, speed_buttons_in_a_group_stay_down_and_allow_all_up_releases) {
    EnsureApplication();
    TForm form(Application);
    auto* a = new TSpeedButton(&form);
    auto* b = new TSpeedButton(&form);
    a->SetParent(&form);
    b->SetParent(&form);
    a->SetGroupIndex(1);
    b->SetGroupIndex(1);
    int clicks = 0;
    a->OnClick = [&](TComponent*) { ++clicks; };
    a->Click();
    EXPECT_TRUE(a->Down());
    b->Click();
    EXPECT_TRUE(b->Down());
    EXPECT_FALSE(a->Down());
    b->Click();  // without AllowAllUp the down button stays down
    EXPECT_TRUE(b->Down());
    b->SetAllowAllUp(true);
    b->Click();
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(clicks, 1);
    auto* plain = new TSpeedButton(&form);
    plain->Click();
    EXPECT_FALSE(plain->Down());
}

TEST(controls, key_events_of_a_control_may_eat_the_key) {
    EnsureApplication();
    TForm form(Application);
    auto* e = new TEdit(&form);
    e->SetParent(&form);
    std::vector<char> pressed;
    e->OnKeyPress = [&](TComponent*, char& key) {
        pressed.push_back(key);
        if (key == 'x') key = 0;
    };
    int enters = 0;
    e->OnKeyDown = [&](TComponent*, std::uint16_t& key, TShiftState shift) {
        if (key == VK_RETURN && (shift & ssShift)) {
            ++enters;
            key = 0;
        }
    };
    for (auto [k, t] : {std::pair{Qt::Key_A, "a"}, std::pair{Qt::Key_X, "x"}}) {
        QKeyEvent ev(QEvent::KeyPress, k, Qt::NoModifier, t);
        QApplication::sendEvent(e->Widget(), &ev);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::ShiftModifier, "\r");
    QApplication::sendEvent(e->Widget(), &enter);
    EXPECT_EQ(pressed, (std::vector<char>{'a', 'x'}));
    EXPECT_EQ(e->Text(), "a");
    EXPECT_EQ(enters, 1);
}

TEST(controls, edit_text_raises_on_change_and_selection_reads_back) {
    EnsureApplication();
    TForm form(Application);
    auto* e = new TEdit(&form);
    int changes = 0;
    e->OnChange = [&](TComponent*) { ++changes; };
    e->SetText("12 34 zz 56");
    EXPECT_EQ(changes, 1);
    e->SetSelStart(6);
    e->SetSelLength(2);
    EXPECT_EQ(e->SelStart(), 6);
    EXPECT_EQ(e->SelLength(), 2);
}

TEST(controls, text_crosses_to_widgets_in_the_programs_code_page) {
    EnsureApplication();
    TForm form(Application);
    auto* l = new TLabel(&form);
    std::string ansi = rtl::Utf8ToAnsi("Тчк: 5 «x» •");
    l->SetCaption(ansi);
    auto* q = static_cast<QLabel*>(l->Widget());
    EXPECT_EQ(q->text().toStdString(), "Тчк: 5 «x» •");
    EXPECT_EQ(l->Caption(), ansi);
    // A file name's letters that the code page lacks show as themselves.
    l->SetCaption(rtl::FromSysPath("/d/café 日本\xFF.cp"));
    EXPECT_EQ(q->text().toStdString(), "/d/café 日本\uFFFD.cp");
    // A carriage return breaks the line on screen.
    l->SetCaption("a\rb");
    EXPECT_EQ(q->text().toStdString(), "a\nb");

    auto* c = new TComboBox(&form);
    c->Items().Add(ansi);
    EXPECT_EQ(static_cast<QComboBox*>(c->Widget())->itemText(0).toStdString(), "Тчк: 5 «x» •");
    EXPECT_EQ(c->Items().Strings(0), ansi);

    EXPECT_EQ(FontAlias("Courier New"), "Liberation Mono");
    EXPECT_EQ(FontAlias("arial"), "Liberation Sans");
    EXPECT_EQ(FontAlias("Tahoma"), "DejaVu Sans");
    EXPECT_EQ(FontAlias("Fixedsys"), "Fixedsys");
}

// Plain text (a transmit line, received bytes on the clipboard) goes into
// every widget that holds text and comes back byte for byte, byte 0x98 with
// any digits after it included; only what a person just reads (captions,
// hints, a canvas told it draws a message) shows a file name's letters.
TEST(controls, plain_text_keeps_its_bytes_in_every_widget_and_only_messages_show_names) {
    EnsureApplication();
    TForm form(Application);
    const std::string nul = "\x98" "000000", letter = "a\x98" "0000E9b", raw = "\x98" "00DCFF";
    const std::u16string shownLetter = u"a\u0098" u"0000E9b";
    for (const std::string& text : {nul, letter, raw, std::string("\x98")}) {
        auto* e = new TEdit(&form);
        e->SetText(text);
        EXPECT_EQ(e->Text(), text);
        auto* c = new TComboBox(&form);
        c->Items().Add(text);
        c->SetText(text);
        EXPECT_EQ(c->Items().Strings(0), text);
        EXPECT_EQ(c->Text(), text);
        c->SetText("");
        c->SetSelText(text);  // the program's Paste
        EXPECT_EQ(c->Text(), text);
        Clipboard().SetAsText(text);
        EXPECT_EQ(Clipboard().AsText(), text);
    }
    auto* e = new TEdit(&form);
    e->SetText(letter);
    EXPECT_EQ(static_cast<QLineEdit*>(e->Widget())->text().toStdU16String(), shownLetter);

    // A hint holds a name: its letters show, and the hint event gets the
    // program's text back.
    const std::string name = rtl::FromSysPath("/d/température 日本.pas");
    e->SetShowHint(true);
    e->SetHint("Plugin: active\r" + name);
    EXPECT_EQ(e->Widget()->toolTip().toStdString(), "Plugin: active\r/d/température 日本.pas");
    EXPECT_EQ(e->Hint(), "Plugin: active\r" + name);

    // A canvas measures a message by its letters, plain text byte by byte.
    TBitmap bitmap(10, 10);
    TCanvas& canvas = bitmap.Canvas();
    const int plainWidth = canvas.TextWidth(rtl::FromSysPath("日本"));
    canvas.SetMessageText(true);
    const int shownWidth = canvas.TextWidth(rtl::FromSysPath("日本"));
    canvas.SetMessageText(false);
    EXPECT_LT(shownWidth, plainWidth / 2);
    EXPECT_EQ(canvas.TextWidth(rtl::FromSysPath("日本")), plainWidth);
}

TEST(controls, freeing_a_parent_before_its_children_leaves_no_dangling_widget) {
    EnsureApplication();
    auto* owner = new TForm(Application);
    auto* panel = new TPanel(owner);
    panel->SetParent(owner);
    auto* inner = new TPanel(nullptr);  // owned by nobody: freed by hand below
    inner->SetParent(panel);
    auto* label = new TLabel(owner);
    label->SetParent(inner);
    TComponent::Free(panel);  // its widget takes the children's widgets along
    EXPECT_EQ(inner->Widget(), nullptr);
    EXPECT_EQ(label->Widget(), nullptr);
    EXPECT_EQ(inner->Parent(), nullptr);
    label->SetCaption("still safe");
    TComponent::Free(inner);
    TComponent::Free(owner);
}

}  // namespace

namespace {

using namespace vcl;

TEST(controls, owner_drawn_combo_draws_its_face_and_entries_through_on_draw_item) {
    EnsureApplication();
    TForm form(Application);
    auto* c = new TComboBox(&form);
    c->SetParent(&form);
    c->SetStyle(TComboBoxStyle::csOwnerDrawFixed);
    c->Items().AddObject("COM7\t(USB Serial Port)", 7);
    c->SetItemIndex(0);
    std::vector<std::pair<int, TOwnerDrawState>> calls;
    c->OnDrawItem = [&](TComponent* s, int index, const TRect& r, TOwnerDrawState st) {
        EXPECT_EQ(s, c);
        EXPECT_GT(r.Width(), 0);
        calls.emplace_back(index, st);
        c->Canvas().FillRect(r);
        c->Canvas().TextOut(r.Left + 2, r.Top, c->Items().Strings(index).substr(0, 4));
    };
    form.Show();
    c->Widget()->grab();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].first, 0);
    EXPECT_TRUE(calls[0].second & odComboBoxEdit);
    EXPECT_GT(c->Canvas().TextWidth("COM7"), 0);
    // Measured in the font as it is now, also when the same text was just
    // measured in another.
    TCanvas& canvas = c->Canvas();
    const int narrow = canvas.TextWidth("COM7 12:00:00.000<");
    canvas.Font.SetSize(canvas.Font.Size() * 3);
    EXPECT_GT(canvas.TextWidth("COM7 12:00:00.000<"), narrow * 2);
    EXPECT_LT(canvas.TextWidth("x"), canvas.TextWidth("xx"));
}

TEST(controls, clipboard_text_round_trips_in_the_programs_code_page) {
    EnsureApplication();
    std::string ansi = rtl::Utf8ToAnsi("Данные 0A •");
    Clipboard().SetAsText(ansi);
    EXPECT_TRUE(Clipboard().HasText());
    EXPECT_EQ(Clipboard().AsText(), ansi);
    // Received data that looks like an escaped name is copied as it is.
    Clipboard().SetAsText("\x98" "0000E9");
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "\u0098" "0000E9");
}

}  // namespace

namespace {

using namespace vcl;

TEST(controls, splitter_resizes_the_column_next_to_it_down_to_its_minimum) {
    EnsureApplication();
    TForm form(Application);
    form.SetBounds(0, 0, 500, 300);
    auto* column = new TPanel(&form);
    column->SetParent(&form);
    column->SetWidth(200);
    column->SetAlign(TAlign::alLeft);
    auto* splitter = new TSplitter(&form);
    splitter->SetParent(&form);
    splitter->SetLeft(200);
    auto* rest = new TPanel(&form);
    rest->SetParent(&form);
    rest->SetAlign(TAlign::alClient);
    int moved = 0;
    splitter->OnMoved = [&](TComponent*) { ++moved; };
    EXPECT_EQ(splitter->Left(), 200);
    splitter->DragBy(40);
    EXPECT_EQ(column->Width(), 240);
    EXPECT_EQ(splitter->Left(), 240);
    EXPECT_EQ(rest->Left(), 240 + splitter->Width());
    splitter->DragBy(-500);
    EXPECT_EQ(column->Width(), splitter->MinSize());
    EXPECT_EQ(moved, 2);
}

TEST(controls, status_bar_panels_hold_their_texts) {
    EnsureApplication();
    TForm form(Application);
    auto* sb = new TStatusBar(&form);
    sb->SetParent(&form);
    sb->SetPanels({200, 50});
    EXPECT_EQ(sb->PanelCount(), 2);
    sb->SetPanelText(1, "X:1");
    EXPECT_EQ(sb->PanelText(1), "X:1");
    EXPECT_EQ(sb->PanelText(0), "");
    EXPECT_THROW(sb->SetPanelText(2, "no"), std::out_of_range);
    EXPECT_EQ(sb->Align(), TAlign::alBottom);
}

}  // namespace

namespace {

using namespace vcl;

void MouseClick(QWidget* w) {
    QPointF at(w->width() / 2.0, w->height() / 2.0);
    QPointF global = w->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

TEST(controls, a_mouse_click_raises_on_click_once) {
    EnsureApplication();
    TForm form(Application);
    form.Show();
    auto* button = new TSpeedButton(&form);
    button->SetParent(&form);
    button->SetGroupIndex(5);
    button->SetAllowAllUp(true);
    int button_clicks = 0;
    button->OnClick = [&](TComponent*) { ++button_clicks; };
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    label->SetCaption("(0, 0)");
    label->SetTop(40);
    int label_clicks = 0;
    label->OnClick = [&](TComponent*) { ++label_clicks; };
    MouseClick(button->Widget());
    EXPECT_EQ(button_clicks, 1);
    EXPECT_TRUE(button->Down());
    MouseClick(label->Widget());
    EXPECT_EQ(label_clicks, 1);
}

}  // namespace
