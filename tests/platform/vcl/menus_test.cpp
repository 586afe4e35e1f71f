#include "platform/vcl/menus.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QKeySequence>

#include "platform/vcl/forms.h"

namespace {

using namespace vcl;

TEST(menus, radio_items_uncheck_their_group_only) {
    EnsureApplication();
    TForm form(Application);
    TPopupMenu pm(&form);
    TMenuItem* a = NewItem(&form, pm.Items(), "a", "1 ms");
    TMenuItem* b = NewItem(&form, pm.Items(), "b", "5 ms");
    TMenuItem* other = NewItem(&form, pm.Items(), "o", "Other group");
    TMenuItem* plain = NewItem(&form, pm.Items(), "p", "Plain check");
    for (TMenuItem* m : {a, b}) {
        m->SetRadioItem(true);
        m->SetGroupIndex(3);
    }
    other->SetRadioItem(true);
    other->SetGroupIndex(4);
    other->SetChecked(true);
    plain->SetChecked(true);
    a->SetChecked(true);
    b->SetChecked(true);
    EXPECT_FALSE(a->Checked());
    EXPECT_TRUE(b->Checked());
    EXPECT_TRUE(other->Checked());
    EXPECT_TRUE(plain->Checked());
    EXPECT_EQ(b->MenuIndex(), 1);
    EXPECT_EQ(pm.Items()->Count(), 4);
    EXPECT_EQ(b->GetParentMenu(), &pm);
}

TEST(menus, choosing_an_entry_runs_its_handler_and_the_check_mark_follows_the_handler) {
    EnsureApplication();
    TForm form(Application);
    TPopupMenu pm(&form);
    int clicks = 0;
    TMenuItem* m = NewItem(&form, pm.Items(), "m", "Free port on focus loss",
                           [&](TComponent*) { ++clicks; });
    m->Action()->trigger();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(m->Checked());
    EXPECT_FALSE(m->Action()->isChecked());
    m->OnClick = [&](TComponent* s) {
        auto* item = static_cast<TMenuItem*>(s);
        item->SetChecked(!item->Checked());
    };
    m->Action()->trigger();
    EXPECT_TRUE(m->Checked());
    EXPECT_TRUE(m->Action()->isChecked());
    m->SetEnabled(false);
    m->Click();
    EXPECT_TRUE(m->Checked());
}

TEST(menus, shortcut_text_and_sub_items) {
    EnsureApplication();
    TForm form(Application);
    TPopupMenu pm(&form);
    TMenuItem* sub = NewItem(&form, pm.Items(), "sub", "Polling Delay");
    TMenuItem* f3 = NewItem(&form, sub, "f3", "Find next", {}, "F3");
    TMenuItem* del = NewItem(&form, pm.Items(), "del", "Delete Line", {}, "Del");
    TMenuItem* enter = NewItem(&form, pm.Items(), "enter", "New Line", {}, "Enter");
    TMenuItem* ctrlf = NewItem(&form, pm.Items(), "cf", "Output to file..", {}, "Ctrl+F");
    EXPECT_EQ(f3->Action()->shortcut(), QKeySequence(Qt::Key_F3));
    EXPECT_EQ(del->Action()->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_EQ(enter->Action()->shortcut(), QKeySequence(Qt::Key_Return));
    EXPECT_EQ(ctrlf->Action()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    EXPECT_EQ(ctrlf->ShortCut(), "Ctrl+F");
    EXPECT_EQ(sub->Count(), 1);
    EXPECT_EQ(f3->Parent(), sub);
    EXPECT_EQ(f3->GetParentMenu(), &pm);
    // Freeing an entry takes it out of its menu.
    TComponent::Free(del);
    EXPECT_EQ(pm.Items()->Count(), 3);
    EXPECT_EQ(enter->MenuIndex(), 1);
}

TEST(menus, popup_raises_on_popup_first) {
    EnsureApplication();
    TForm form(Application);
    TPopupMenu pm(&form);
    NewItem(&form, pm.Items(), "x", "Timer");
    int popups = 0;
    pm.OnPopup = [&](TComponent* s) {
        EXPECT_EQ(s, &pm);
        ++popups;
    };
    pm.Popup(10, 10);
    EXPECT_EQ(popups, 1);
}

}  // namespace
