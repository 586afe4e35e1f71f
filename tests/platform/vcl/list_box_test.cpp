#include "platform/vcl/list_box.h"

#include <gtest/gtest.h>

#include <QWidget>
#include <set>

#include "platform/vcl/forms.h"

namespace {

using namespace vcl;

struct ListFixture {
    TForm form{EnsureApplication()};
    TCustomListBox* lb;
    ListFixture() {
        form.SetBounds(0, 0, 300, 220);
        lb = new TCustomListBox(&form);
        lb->SetParent(&form);
        lb->SetAlign(TAlign::alClient);
        lb->SetBorder(false);
        lb->SetItemHeight(17);
        form.Show();
        form.Realign();
    }
};

TEST(list_box, virtual_list_holds_a_count_and_maps_points_to_items) {
    ListFixture f;
    TCustomListBox* lb = f.lb;
    lb->SetCount(100);
    EXPECT_EQ(lb->Count(), 100);
    int rows = lb->VisibleRows();
    EXPECT_EQ(rows, lb->ClientAreaHeight() / 17);
    EXPECT_EQ(lb->ItemAtPos({5, 0}, true), 0);
    EXPECT_EQ(lb->ItemAtPos({5, 17 * 3 + 1}, true), 3);
    lb->SetTopIndex(50);
    EXPECT_EQ(lb->TopIndex(), 50);
    EXPECT_EQ(lb->ItemAtPos({5, 17 * 2}, true), 52);
    TRect r = lb->ItemRect(52);
    EXPECT_EQ(r.Top, 34);
    EXPECT_EQ(r.Height(), 17);
    lb->SetCount(51);
    EXPECT_EQ(lb->ItemAtPos({5, lb->ClientAreaHeight() - 1}, true), -1);
    EXPECT_EQ(lb->ItemAtPos({5, lb->ClientAreaHeight() - 1}, false), 51);
}

TEST(list_box, paint_asks_the_owner_for_the_visible_items_only) {
    ListFixture f;
    TCustomListBox* lb = f.lb;
    lb->SetCount(1000);
    lb->SetTopIndex(500);
    lb->SetItemIndex(502);
    std::set<int> drawn;
    TOwnerDrawState state502 = 0;
    lb->OnDrawItem = [&](TComponent* c, int index, const TRect& rect, TOwnerDrawState st) {
        EXPECT_EQ(c, lb);
        drawn.insert(index);
        EXPECT_EQ(rect.Top, (index - 500) * 17);
        if (index == 502) state502 = st;
        lb->Canvas().FillRect(rect);
        lb->Canvas().TextOut(rect.Left, rect.Top, "line");
    };
    lb->Widget()->grab();
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(*drawn.begin(), 500);
    EXPECT_LE(*drawn.rbegin(), 500 + lb->VisibleRows());
    EXPECT_TRUE(state502 & odSelected);
    EXPECT_FALSE(drawn.count(499));
}

TEST(list_box, selection_single_and_multiple) {
    ListFixture f;
    TCustomListBox* lb = f.lb;
    lb->SetCount(20);
    lb->SetItemIndex(4);
    EXPECT_TRUE(lb->Selected(4));
    EXPECT_EQ(lb->SelCount(), 1);
    lb->SetSelected(7, true);  // single select: moves the selection
    EXPECT_EQ(lb->ItemIndex(), 7);
    EXPECT_EQ(lb->SelCount(), 1);
    lb->SetMultiSelect(true);
    lb->SetSelected(9, true);
    lb->SetSelected(10, true);
    EXPECT_EQ(lb->SelCount(), 3);
    lb->SetSelected(9, false);
    EXPECT_EQ(lb->SelCount(), 2);
    // Shrinking the list drops selections beyond its end.
    lb->SetCount(8);
    EXPECT_EQ(lb->SelCount(), 1);
    EXPECT_EQ(lb->ItemIndex(), 7);
    lb->SetCount(5);
    EXPECT_EQ(lb->ItemIndex(), -1);
    lb->Clear();
    EXPECT_EQ(lb->Count(), 0);
    EXPECT_EQ(lb->SelCount(), 0);

    // A list that follows its end, as the receive list does: one item stays
    // selected, the last, however often the list grows.
    lb->SetMultiSelect(false);
    for (int n = 1; n <= 2000; ++n) {
        lb->SetCount(n);
        lb->SetItemIndex(n - 1);
    }
    EXPECT_EQ(lb->SelCount(), 1);
    EXPECT_TRUE(lb->Selected(1999));
    EXPECT_FALSE(lb->Selected(1998));
    lb->SetMultiSelect(true);
    lb->SetSelected(5, true);
    lb->SetSelected(1999, false);
    lb->SetItemIndex(10);  // selects that one alone again
    EXPECT_EQ(lb->SelCount(), 1);
    EXPECT_FALSE(lb->Selected(5));
    EXPECT_TRUE(lb->Selected(10));
}

}  // namespace
