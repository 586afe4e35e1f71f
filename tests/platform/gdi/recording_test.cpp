// The recording context keeps every call with its arguments and the state
// it was made in, and answers questions as a raster context of its size.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/dc.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;
using test_support::Surface;

TEST(gdi_recording, keeps_each_call_with_its_arguments_and_selected_objects) {
    test_support::EnsureQtApplication();
    auto dc = DC::CreateRecordingDC(200, 100);
    EXPECT_TRUE(dc->IsRecording());
    const HPEN red = CreatePen(PS_DASH, 1, RGB(255, 0, 0));
    dc->SelectObject(red);
    dc->SetROP2(R2_NOTXORPEN);
    dc->MoveToEx(1, 2);
    dc->LineTo(30, 40);
    const std::vector<POINT> pts = {{0, 0}, {5, 5}, {9, 0}};
    dc->Polygon(pts);
    dc->Arc(0, 0, 100, 100, 100, 50, 50, 0);
    dc->SetTextColor(RGB(1, 2, 3));
    dc->TextOut(7, 8, "\xC6");  // Ж
    dc->ExtSelectClipRgn(CreateRectRgn(1, 1, 5, 5), RGN_AND);
    Surface src(4, 4);
    src.bitmap->SetPixel(1, 1, RGB(9, 9, 9));
    dc->BitBlt(10, 10, 4, 4, src.dc.get(), 0, 0, SRCCOPY);

    const auto& r = dc->Records();
    std::vector<std::string> ops;
    for (const Record& rec : r) ops.push_back(RecordOpName(rec.Op));
    EXPECT_EQ(ops, (std::vector<std::string>{"SelectPen", "SetROP2", "MoveTo", "LineTo", "Polygon", "Arc",
                                             "SetTextColor", "TextOut", "ExtSelectClipRgn", "BitBlt"}));
    EXPECT_EQ(r[3].Args, (std::vector<int>{30, 40}));
    EXPECT_EQ(r[3].State.Pen, red);
    EXPECT_EQ(r[3].State.Rop2, R2_NOTXORPEN);
    EXPECT_EQ(r[3].State.Position, (POINT{1, 2}));
    EXPECT_EQ(r[4].Points, pts);
    EXPECT_EQ(r[5].Args, (std::vector<int>{0, 0, 100, 100, 100, 50, 50, 0}));
    EXPECT_EQ(r[7].Text, u"\u0416");
    EXPECT_EQ(r[7].State.TextColor, RGB(1, 2, 3));
    ASSERT_TRUE(r[8].Region);
    EXPECT_TRUE(PtInRegion(r[8].Region, 2, 2));
    ASSERT_TRUE(r[9].Image);
    EXPECT_EQ(r[9].Image->GetPixel(1, 1), RGB(9, 9, 9));
    // Queries are not calls.
    SIZE size;
    dc->GetTextExtentPoint32("abc", &size);
    dc->GetPixel(1, 1);
    EXPECT_EQ(r.size(), 10u);
    dc->ClearRecords();
    EXPECT_TRUE(dc->Records().empty());
}

TEST(gdi_recording, answers_text_and_clip_questions_like_a_raster_context) {
    test_support::EnsureQtApplication();
    Surface raster(120, 80);
    auto recording = DC::CreateRecordingDC(120, 80);
    LOGFONT lf;
    lf.lfHeight = -15;
    lf.lfFaceName = "Courier New";
    for (DC* dc : {raster.dc.get(), recording.get()}) {
        dc->SelectObject(CreateFontIndirect(lf));
        dc->SetTextCharacterExtra(2);
        dc->BeginPath();
        dc->TextOut(5, 5, "Clip");
        dc->EndPath();
        dc->SelectClipPath(RGN_COPY);
    }
    SIZE a, b;
    raster->GetTextExtentPoint32("Measured", &a);
    recording->GetTextExtentPoint32("Measured", &b);
    EXPECT_EQ(a, b);
    RECT ra, rb;
    EXPECT_EQ(raster->GetClipBox(&ra), recording->GetClipBox(&rb));
    EXPECT_EQ(ra, rb);
    int visible = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x) {
            EXPECT_EQ(raster->PtVisible(x, y), recording->PtVisible(x, y));
            visible += raster->PtVisible(x, y);
        }
    EXPECT_GT(visible, 50);
    EXPECT_THROW(DC::CreateRecordingDC(40000, 10), EGdiError);
}

}  // namespace
