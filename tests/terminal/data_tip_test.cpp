#include "terminal/data_tip.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>

#include "platform/vcl/forms.h"
#include "support/qt_app.h"
#include "terminal/data_tip_form.h"
#include "terminal/tag_label.h"

namespace terminal {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;

// "•" as the tip writes it.
const std::string D = "\x95";

// The caption for the mouse at a 1-based column of the line's data.
std::string CaptionAt(TDataFormat format, std::string_view data, std::string_view bytes,
                      int column, bool showNonVisible = false, int screenWidth = 0) {
    constexpr int kCharWidth = 9;
    const TDataTipLine line{format, 0, data, bytes};
    // A pixel inside the column, not on its left edge.
    return DataTipCaption(line, (column - 1) * kCharWidth + 4, kCharWidth, showNonVisible,
                          screenWidth);
}

TEST(data_tip, column_to_byte_index_counts_a_coded_byte_as_one) {
    const std::string data = "AB" + D + "0DC";
    EXPECT_EQ(ColumnToByteIndex(data, 1), 1);
    EXPECT_EQ(ColumnToByteIndex(data, 2), 2);
    EXPECT_EQ(ColumnToByteIndex(data, 3), 3);
    EXPECT_EQ(ColumnToByteIndex(data, 4), 3);
    EXPECT_EQ(ColumnToByteIndex(data, 5), 3);
    EXPECT_EQ(ColumnToByteIndex(data, 6), 4);
    // Past the text each column is one more byte, never the last one again.
    EXPECT_EQ(ColumnToByteIndex(data, 7), 5);
    EXPECT_EQ(ColumnToByteIndex(data, 9), 7);
    // Over the prefix the column stays as it is.
    EXPECT_EQ(ColumnToByteIndex(data, 0), 0);
    EXPECT_EQ(ColumnToByteIndex(data, -4), -4);
    // A mark without two upper-case hexadecimal digits is one byte, as the
    // line's bytes are read back.
    EXPECT_EQ(ColumnToByteIndex("A" + D + "xB", 3), 3);
    EXPECT_EQ(ColumnToByteIndex("A" + D + "0d", 4), 4);
    EXPECT_EQ(ColumnToByteIndex("A" + D + "0", 3), 3);
    EXPECT_EQ(ColumnToByteIndex(D + "95" + D + "00", 4), 2);
    EXPECT_EQ(ColumnToByteIndex("", 2), 2);
}

TEST(data_tip, byte_index_follows_each_format_token_width) {
    // DEC "001 002 003": 4 columns per byte, the blank belongs to the byte before.
    EXPECT_EQ(TipByteIndex(dfDEC, "", 1, false), 1);
    EXPECT_EQ(TipByteIndex(dfDEC, "", 4, false), 1);
    EXPECT_EQ(TipByteIndex(dfDEC, "", 5, false), 2);
    EXPECT_EQ(TipByteIndex(dfDEC, "", 9, false), 3);
    EXPECT_EQ(TipByteIndex(dfHEX, "", 3, false), 1);
    EXPECT_EQ(TipByteIndex(dfHEX, "", 4, false), 2);
    // Word formats give the word's first byte.
    EXPECT_EQ(TipByteIndex(dfDW, "", 6, false), 1);
    EXPECT_EQ(TipByteIndex(dfDW, "", 7, false), 3);
    EXPECT_EQ(TipByteIndex(dfHW, "", 5, false), 1);
    EXPECT_EQ(TipByteIndex(dfHW, "", 6, false), 3);
    EXPECT_EQ(TipByteIndex(dfBIN, "", 9, false), 1);
    EXPECT_EQ(TipByteIndex(dfBIN, "", 10, false), 2);
    // ASC: one column per byte while codes are hidden, else by the text.
    const std::string data = "A" + D + "0DB";
    EXPECT_EQ(TipByteIndex(dfASC, data, 3, false), 3);
    EXPECT_EQ(TipByteIndex(dfASC, data, 3, true), 2);
    EXPECT_EQ(TipByteIndex(dfASC, data, 5, true), 3);
    // A column over the prefix never becomes the first byte.
    for (TDataFormat f : {dfDEC, dfHEX, dfDW, dfHW, dfBIN, dfASC}) {
        EXPECT_EQ(TipByteIndex(f, data, 0, true), 0) << int(f);
        EXPECT_EQ(TipByteIndex(f, data, -3, true), -3) << int(f);
    }
}

TEST(data_tip, wrap_breaks_into_whole_units_and_moves_the_highlight) {
    // Width (50 - 10) div 10 = 4 characters per line.
    int hl = 7;  // the "f"
    EXPECT_EQ(WrapTipText(" abcdefghij ", 1, hl, 50, 10), " abcd\r efgh\r ij ");
    EXPECT_EQ(hl, 9);
    EXPECT_EQ(std::string(" abcd\r efgh\r ij ")[hl - 1], 'f');
    // An insertion exactly at the highlight moves it too.
    hl = 6;
    WrapTipText(" abcdefghij ", 1, hl, 50, 10);
    EXPECT_EQ(hl, 8);
    // Before the first break the highlight stays.
    hl = 3;
    WrapTipText(" abcdefghij ", 1, hl, 50, 10);
    EXPECT_EQ(hl, 3);

    // ASC: (80 - 10) div 10 div 3 x 3 = 6, two bytes a line, never a split pair.
    hl = 8;  // the byte 43
    EXPECT_EQ(WrapTipText(" 41 42 43 44 ", 3, hl, 80, 10), " 41 42 \r 43 44 ");
    EXPECT_EQ(hl, 10);
    hl = 2;
    EXPECT_EQ(WrapTipText(" 41 42 43 44 45 46 47 ", 3, hl, 80, 10),
              " 41 42 \r 43 44 \r 45 46 \r 47 ");

    // The last line is no longer than the others.
    hl = 0;
    EXPECT_EQ(WrapTipText(" abcdef ", 1, hl, 30, 10), " ab\r cd\r ef ");
    // A screen narrower than one unit still gives one unit a line, and ends.
    EXPECT_EQ(WrapTipText(" 41 42 ", 3, hl, 5, 10), " 41 \r 42 ");
    EXPECT_EQ(WrapTipText(" ab ", 1, hl, 100, 0), " ab ");
    // An unknown screen leaves the text whole.
    hl = 5;
    EXPECT_EQ(WrapTipText(" abcdefghij ", 1, hl, 0, 10), " abcdefghij ");
    EXPECT_EQ(hl, 5);
    EXPECT_EQ(WrapTipText("", 1, hl, 50, 10), "");
}

TEST(data_tip, caption_shows_numeric_lines_as_characters) {
    // Ctrl over 002 of the DEC line 001 002 003: three marks, the second one
    // highlighted.
    const std::string bytes = "\x01\x02\x03"s;
    const std::string expect = " " + D + "<y=h>" + D + "<y=.>" + D + " ";
    EXPECT_EQ(CaptionAt(dfDEC, "001 002 003", bytes, 5), expect);
    EXPECT_EQ(CaptionAt(dfDEC, "001 002 003", bytes, 7), expect);
    EXPECT_EQ(CaptionAt(dfHEX, "41 3C 42", "A<B", 1), " <y=h>A<y=.>" + D + "B ");
    EXPECT_EQ(CaptionAt(dfHEX, "41 3C 42", "A<B", 4), " A<y=h>" + D + "<y=.>B ");
    EXPECT_EQ(CaptionAt(dfBIN, "01000001 01000010", "AB", 12), " A<y=h>B<y=.> ");
    // Word formats highlight both bytes of the word.
    EXPECT_EQ(CaptionAt(dfDW, "16961 17475", "ABCD", 8), " AB<y=h>CD<y=.> ");
    EXPECT_EQ(CaptionAt(dfHW, "4241 4443", "ABCD", 2), " <y=h>AB<y=.>CD ");
    // Bytes of 128 and above are characters too; CR and TAB are marks.
    EXPECT_EQ(CaptionAt(dfHEX, "E0 0D 09", "\xE0\r\t", 9), " \xE0" + D + "<y=h>" + D + "<y=.> ");
}

TEST(data_tip, caption_shows_asc_lines_as_hexadecimal_pairs) {
    // Ctrl over an ASC line holding A and B: blank, 41, blank, 42, blank,
    // with the two digits under the mouse highlighted.
    EXPECT_EQ(CaptionAt(dfASC, "AB", "AB", 1), " <y=h>41<y=.> 42 ");
    EXPECT_EQ(CaptionAt(dfASC, "AB", "AB", 2), " 41 <y=h>42<y=.> ");
    // With the codes shown, the three columns of a coded byte are that byte.
    const std::string data = "A" + D + "0DB";
    for (int column : {2, 3, 4})
        EXPECT_EQ(CaptionAt(dfASC, data, "A\rB", column, true), " 41 <y=h>0D<y=.> 42 ")
            << column;
    EXPECT_EQ(CaptionAt(dfASC, data, "A\rB", 5, true), " 41 0D <y=h>42<y=.> ");
    // With them hidden the mark is one column.
    EXPECT_EQ(CaptionAt(dfASC, data, "A\rB", 3, false), " 41 0D <y=h>42<y=.> ");
    // A wrapped caption keeps the highlight on its byte.
    EXPECT_EQ(CaptionAt(dfASC, "ABCD", "ABCD", 3, false, 8 * 9 + 9),
              " 41 42 \r <y=h>43<y=.> 44 ");
}

TEST(data_tip, caption_highlights_nothing_off_the_bytes) {
    const TDataTipLine line{dfHEX, 9, "41 42", "AB"};
    // Over the prefix (columns 1 to 9) and past the last byte.
    EXPECT_EQ(DataTipCaption(line, 0, 9, false, 0), " AB ");
    EXPECT_EQ(DataTipCaption(line, 8 * 9 + 4, 9, false, 0), " AB ");
    EXPECT_EQ(DataTipCaption(line, 9 * 9 + 4, 9, false, 0), " <y=h>A<y=.>B ");
    EXPECT_EQ(DataTipCaption(line, 15 * 9 + 4, 9, false, 0), " AB ");
    EXPECT_EQ(DataTipCaption(line, INT_MAX, 1, false, 0), " AB ");
    EXPECT_EQ(DataTipCaption(line, INT_MIN, 1, false, 0), " AB ");
    EXPECT_EQ(DataTipCaption({dfASC, 200, "AB", "AB"}, INT_MAX, 1, true, 100), " 41 42 ");
    // A font without width does not divide by zero.
    EXPECT_EQ(DataTipCaption(line, 10, 0, false, 0), " <y=h>A<y=.>B ");
    // Lines without bytes (ERR, MSG, an empty line) have no tip.
    EXPECT_EQ(DataTipCaption({dfERR, 0, "Port error", ""}, 4, 9, false, 0), "");
    EXPECT_EQ(DataTipCaption({dfHEX, 0, "", ""}, 4, 9, false, 0), "");
}

TEST(data_tip, placement_keeps_the_tip_on_the_screen) {
    const vcl::TRect screen{0, 0, 800, 600};
    const vcl::TRect line{100, 200, 700, 217};
    auto at = PlaceDataTip(line, 300, 40, screen);
    EXPECT_EQ(at.X, 100);
    EXPECT_EQ(at.Y, 217);
    // Moved left so that it ends at the right edge.
    at = PlaceDataTip(line, 750, 40, screen);
    EXPECT_EQ(at.X, 50);
    // Wider than the screen: its left part stays visible.
    at = PlaceDataTip(line, 900, 40, screen);
    EXPECT_EQ(at.X, 0);
    // At the bottom of the screen it goes above the line.
    at = PlaceDataTip({100, 570, 700, 587}, 300, 40, screen);
    EXPECT_EQ(at.Y, 530);
    // On a screen not at the origin.
    at = PlaceDataTip({-200, 100, -100, 117}, 300, 40, {-1024, 0, 0, 768});
    EXPECT_EQ(at.X, -300);
    EXPECT_EQ(at.Y, 117);
    // Screen unknown: the corner, unmoved.
    at = PlaceDataTip(line, 5000, 5000, {});
    EXPECT_EQ(at.X, 100);
    EXPECT_EQ(at.Y, 217);
}

// --- the window ------------------------------------------------------------------

struct TipFixture {
    TfrmData* tip;
    bool ctrl = true;
    TipFixture() {
        test_support::EnsureQtApplication();
        vcl::EnsureApplication();
        tip = new TfrmData(vcl::Application);
        tip->CtrlHeld = [this] { return ctrl; };
        tip->ScreenBounds = [] { return vcl::TRect{0, 0, 800, 600}; };
        tip->Timer1->SetInterval(20);
    }
    ~TipFixture() { vcl::TComponent::Free(tip); }
};

// The runs of the label drawn in the style h (bold red on yellow).
std::string HighlightedText(const TTagLabel& label) {
    std::string out;
    for (const auto& l : label.Measured().Lines)
        for (const auto& r : l.Runs)
            if ((r.Font.Style & vcl::fsBold) && r.Font.Color == vcl::TColor(0x0000FF) &&
                r.Font.Background == vcl::TColor(0x00FFFF))
                out += r.Text;
    return out;
}

TEST(data_tip_form, shows_the_line_under_the_hovered_line_until_ctrl_is_released) {
    TipFixture f;
    EXPECT_FALSE(f.tip->Visible());
    EXPECT_EQ(f.tip->Name, "frmData");
    EXPECT_EQ(frmData, f.tip);

    const vcl::TRect line{10, 100, 610, 117};
    f.tip->ShowTip({dfASC, 0, "AB", "AB"}, 9 + 4, 9, false, line);
    ASSERT_TRUE(f.tip->Visible());
    EXPECT_EQ(f.tip->LInfo1->Caption(), " 41 <y=h>42<y=.> ");
    EXPECT_EQ(HighlightedText(*f.tip->LInfo1), "42");
    EXPECT_TRUE(f.tip->Timer1->Enabled());
    // The window holds the label with one pixel all round, under the line.
    EXPECT_EQ(f.tip->LInfo1->Left(), 1);
    EXPECT_EQ(f.tip->LInfo1->Top(), 1);
    EXPECT_EQ(f.tip->Width(), f.tip->LInfo1->Width() + 2);
    EXPECT_EQ(f.tip->Height(), f.tip->LInfo1->Height() + 2);
    EXPECT_GT(f.tip->LInfo1->Width(), 0);
    EXPECT_EQ(f.tip->Left(), 10);
    EXPECT_EQ(f.tip->Top(), 117);

    // Ticks while Ctrl is held leave it shown.
    test_support::Pump(100ms);
    EXPECT_TRUE(f.tip->Visible());

    // Releasing Ctrl hides it at the next tick, and the timer stops.
    f.ctrl = false;
    EXPECT_TRUE(test_support::PumpUntil([&] { return !f.tip->Visible(); }));
    EXPECT_FALSE(f.tip->Timer1->Enabled());
}

TEST(data_tip_form, hides_over_itself_and_over_lines_without_bytes) {
    TipFixture f;
    const vcl::TRect line{0, 0, 600, 17};
    const TDataTipLine dec{dfDEC, 0, "001 002 003", "\x01\x02\x03"};
    f.tip->ShowTip(dec, 4 * 9 + 1, 9, false, line);
    ASSERT_TRUE(f.tip->Visible());
    EXPECT_EQ(f.tip->LInfo1->Caption(), " " + D + "<y=h>" + D + "<y=.>" + D + " ");

    // The mouse over the tip's label hides it.
    f.tip->LInfo1->MouseMovedTo(0, 2, 2);
    EXPECT_FALSE(f.tip->Visible());
    EXPECT_FALSE(f.tip->Timer1->Enabled());

    // A line without bytes hides a shown tip; so does HideTip.
    f.tip->ShowTip(dec, 1, 9, false, line);
    ASSERT_TRUE(f.tip->Visible());
    f.tip->ShowTip({dfMSG, 0, "Connected", ""}, 1, 9, false, line);
    EXPECT_FALSE(f.tip->Visible());
    f.tip->ShowTip(dec, 1, 9, false, line);
    f.tip->HideTip();
    EXPECT_FALSE(f.tip->Visible());
    EXPECT_FALSE(f.tip->Timer1->Enabled());

    // From a panel line's record and text: the bytes are read back, the
    // prefix is left of the data. A line edited into non-numbers hides the
    // tip instead of raising.
    TLineRecord rec;
    rec.Format = dfDEC;
    rec.PrefixLen = 9;
    f.tip->ShowTip(rec, "001 002 003", (9 + 8) * 9 + 1, 9, false, line);
    ASSERT_TRUE(f.tip->Visible());
    EXPECT_EQ(f.tip->LInfo1->Caption(), " " + D + D + "<y=h>" + D + "<y=.> ");
    f.tip->ShowTip(rec, "001 0z2 003", 1, 9, false, line);
    EXPECT_FALSE(f.tip->Visible());
    rec.Format = dfBIN;
    f.tip->ShowTip(rec, "01000001", 1, 9, false, line);
    EXPECT_TRUE(f.tip->Visible());
    f.tip->ShowTip(rec, "0100 0001", 1, 9, false, line);
    EXPECT_FALSE(f.tip->Visible());
    rec.Format = dfERR;
    f.tip->ShowTip(rec, "01000001", 1, 9, false, line);
    EXPECT_FALSE(f.tip->Visible());

    // Near the right edge of the screen the tip is moved left to fit.
    f.tip->ShowTip(dec, 1, 9, false, {780, 300, 1380, 317});
    EXPECT_EQ(f.tip->Left() + f.tip->Width(), 800);
    EXPECT_EQ(f.tip->Top(), 317);
    // A long line is wrapped to the screen width: (800 - 9) div 9 = 87
    // characters a line, so 302 characters take four lines.
    const std::string many(300, 'A');
    f.tip->ShowTip({dfHEX, 0, "", many}, 1, 9, false, line);
    EXPECT_EQ(f.tip->LInfo1->Measured().Lines.size(), 4u);
}

}  // namespace
}  // namespace terminal
