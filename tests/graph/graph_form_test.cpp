// The graph window as the main window, plug-ins and the user drive it:
// points fed with and without locks, pages, the read-out under the mouse,
// marked ranges and point files, checked on its series and on its picture.
#include "graph/graph_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <QtTest/QTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/fast_line_series.h"
#include "chart/tools/color_band_tool.h"
#include "chart/tools/cursor_tool.h"
#include "chart/tools/export_formats.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/streams.h"
#include "support/dialog_answers.h"
#include "support/fifo.h"
#include "support/real_file_dialog.h"
#include "support/metafile_reader.h"
#include "support/svg_text.h"
#include "support/mouse.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"

namespace {

using graph::TfGraph;

std::string Ru(const char* utf8) { return rtl::Utf8ToAnsi(utf8); }

struct GraphFixture {
    TfGraph* g;
    GraphFixture() : g(new TfGraph(vcl::EnsureApplication())) {}
    ~GraphFixture() { vcl::TComponent::Free(g); }
    // The window shown at its default size against sample numbers.
    void ShowBySample() {
        g->SetBounds(0, 0, 671, 272);
        g->SetVisible(true);
        g->cbXATime->SetChecked(false);
    }
    // Count points with Value(i) added in one batch.
    template <class F>
    void AddBatch(int Count, F Value) {
        g->SetUpdateLock(true);
        for (int i = 0; i < Count; ++i) g->AddPoint(0, Value(i));
        g->SetUpdateLock(false);
    }
};

double X(TfGraph* g, int i) { return g->serLine->XValues().Value(i); }
double Y(TfGraph* g, int i) { return g->serLine->YValues().Value(i); }

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

// What the window shows: its chart's image on screen.
QImage Shown(TfGraph* g) {
    QApplication::processEvents();
    return g->Chart1->Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Lets the window paint whatever is due.
void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

TEST(graph_form, points_are_numbered_queued_and_plotted_in_batches) {
    GraphFixture f;
    TfGraph* g = f.g;
    EXPECT_EQ(graph::fGraph, g);
    EXPECT_EQ(g->Caption(), Ru("График"));
    EXPECT_TRUE(g->cbXATime->Checked());
    g->cbXATime->SetChecked(false);
    g->AddPoint(45000.5, 7);
    ASSERT_EQ(g->serLine->Count(), 1);
    EXPECT_EQ(X(g, 0), 1);
    for (int i = 0; i < 4; ++i) g->AddPoint(45000.5, i);
    // Ten values under nested locks after five plotted points get 6 to 15
    // and reach the line with the outermost release.
    g->SetUpdateLock(true);
    g->SetUpdateLock(true);
    for (int i = 0; i < 10; ++i) g->AddPoint(45000.5, 100 + i);
    g->SetUpdateLock(false);
    EXPECT_EQ(g->serLine->Count(), 5);
    EXPECT_EQ(g->PendingCount(), 10);
    EXPECT_EQ(g->LastX(), 15);
    g->SetUpdateLock(false);
    g->SetUpdateLock(false);  // one release too many changes nothing
    EXPECT_EQ(g->UpdateLock(), 0);
    ASSERT_EQ(g->serLine->Count(), 15);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(X(g, i), i + 1);
    EXPECT_EQ(g->sb1->PanelText(0), Ru("Тчк: 15"));

    // A value that is no number is dropped, not counted.
    g->AddPoint(45000.5, std::numeric_limits<double>::quiet_NaN());
    g->AddPoint(45000.5, std::numeric_limits<double>::infinity());
    EXPECT_EQ(g->PointCount(), 15);

    // Sample numbers are not renumbered by a delete, and new points come
    // after the last one still plotted.
    g->SetMarkedRange(12, 14, true);
    g->mDelRange->Click();
    g->AddPoint(0, 1);
    EXPECT_EQ(X(g, g->serLine->Count() - 1), 13);
    g->SetMarkedRange(0, 12, true);
    g->mDelRange->Click();
    ASSERT_EQ(g->serLine->Count(), 0);
    g->AddPoint(0, 1);
    EXPECT_EQ(X(g, 0), 1);
    // Time stamps plotted before the box was unchecked: numbers follow them.
    g->ClearGraph();
    g->cbXATime->SetChecked(true);
    g->AddPoint(45000.25, 1);
    g->cbXATime->SetChecked(false);
    g->AddPoint(0, 2);
    EXPECT_EQ(X(g, 1), 45001);

    // Time mode: equal stamps keep their arrival order, an earlier stamp
    // goes to its sorted place.
    g->ClearGraph();
    g->cbXATime->SetChecked(true);
    for (auto [x, y] : {std::pair{2.0, 1.0}, {2.0, 2.0}, {1.5, 3.0}, {2.0, 4.0}}) g->AddPoint(x, y);
    ASSERT_EQ(g->serLine->Count(), 4);
    EXPECT_EQ(Y(g, 0), 3);
    EXPECT_EQ(Y(g, 1), 1);
    EXPECT_EQ(Y(g, 2), 2);
    EXPECT_EQ(Y(g, 3), 4);

    // Clearing keeps what is queued; it comes with the next flush.
    g->SetUpdateLock(true);
    g->AddPoint(3, 5);
    g->bClear->Click();
    EXPECT_EQ(g->serLine->Count(), 0);
    EXPECT_EQ(g->PointCount(), 0);
    EXPECT_EQ(g->LastX(), 0);
    EXPECT_EQ(g->sePage->Value(), 1);
    EXPECT_EQ(g->sb1->PanelText(0), Ru("Тчк: 0"));
    g->SetUpdateLock(false);
    ASSERT_EQ(g->serLine->Count(), 1);
    EXPECT_EQ(Y(g, 0), 5);
}

// Points (X, Y) handed over under one lock, as a received chunk is.
void AddLocked(TfGraph* g, std::initializer_list<std::pair<double, double>> Points) {
    g->SetUpdateLock(true);
    for (auto [x, y] : Points) g->AddPoint(x, y);
    g->SetUpdateLock(false);
}

TEST(graph_form, late_points_join_the_line_in_time_order_and_the_marks_and_pages_follow_them) {
    GraphFixture f;
    TfGraph* g = f.g;
    // Time stamps 1 to 100, range marked from 11 to 21.
    g->SetUpdateLock(true);
    for (int i = 1; i <= 100; ++i) g->AddPoint(i, i);
    g->SetUpdateLock(false);
    g->SetMarkedRange(10, 20, true);
    // A chunk stamped before the last points: each point where adding it
    // alone would put it, equal stamps after the points that have them and
    // in the order they came; the marks stay on their points.
    AddLocked(g, {{5.5, -1}, {15, -2}, {250, -3}, {0.5, -4}, {5.5, -5}});
    ASSERT_EQ(g->serLine->Count(), 105);
    EXPECT_EQ(g->PointCount(), 105);
    for (int i = 1; i < 105; ++i) ASSERT_LE(X(g, i - 1), X(g, i)) << i;
    EXPECT_EQ(Y(g, 0), -4);
    EXPECT_EQ(Y(g, 6), -1);
    EXPECT_EQ(Y(g, 7), -5);
    EXPECT_EQ(Y(g, 17), 15);
    EXPECT_EQ(Y(g, 18), -2);
    EXPECT_EQ(Y(g, 104), -3);
    EXPECT_EQ(g->MarkStart(), 13);
    EXPECT_EQ(g->MarkEnd(), 24);
    EXPECT_EQ(X(g, g->MarkStart()), 11);
    EXPECT_EQ(X(g, g->MarkEnd()), 21);

    // "Автоскрол": late points that make a new last page bring the view to
    // it, as the same points in order would; a view on an earlier page
    // stays there.
    g->ClearGraph();
    g->SetUpdateLock(true);
    for (int i = 1; i <= 1000; ++i) g->AddPoint(i, 0);
    g->SetUpdateLock(false);
    ASSERT_EQ(g->sePage->Value(), 2);
    g->SetUpdateLock(true);
    for (int i = 0; i < 700; ++i) g->AddPoint(0.5 + i / 1000.0, 1);
    g->SetUpdateLock(false);
    EXPECT_EQ(g->sePage->Value(), 3);
    EXPECT_EQ(g->Chart1->Page(), 3);
    g->sePage->SetValue(1);
    AddLocked(g, {{0.25, 2}});
    EXPECT_EQ(g->Chart1->Page(), 1);

    // A long line: a late point right after a merge waits for the next
    // one, so that a stream of late chunks is not merged chunk by chunk;
    // meanwhile it counts and reaches the line before anything works on it.
    g->ClearGraph();
    g->SetUpdateLock(true);
    for (int i = 1; i <= 20000; ++i) g->AddPoint(i, i);
    g->SetUpdateLock(false);
    // A point late by much waits when it comes right after a merge (unless
    // a stall between the two made its own merge due).
    // A point late by little is merged at once, with any that wait.
    const auto lateOne = [&](double x, double y) {
        for (int tries = 0; tries < 5 && g->LateCount() == 0; ++tries) {
            g->AddPoint(19999.5 + 0.01 * tries, -100);
            g->AddPoint(x, y);
        }
        return g->LateCount() == 1;
    };
    ASSERT_TRUE(lateOne(100.5, -1));
    EXPECT_EQ(g->PointCount(), g->serLine->Count() + 1);
    // Deleting a range takes the waiting point inside it along.
    const int at100 = 99;
    ASSERT_EQ(X(g, at100), 100);
    g->SetMarkedRange(at100, at100 + 1, true);
    g->mDelRange->Click();
    EXPECT_EQ(g->LateCount(), 0);
    EXPECT_EQ(X(g, at100 - 1), 99);
    EXPECT_EQ(X(g, at100), 102);
    // Saved with the line; then merged in order by the window itself.
    ASSERT_TRUE(lateOne(200.5, -2));
    test_support::TempDir dir;
    g->SavePoints(dir.File("late.csv"));
    EXPECT_NE(ReadFile(dir.File("late.csv")).find("\r\n200;200\r\n200.5;-2\r\n201;201\r\n"), std::string::npos);
    ASSERT_TRUE(lateOne(300.5, -3));
    const int count = g->serLine->Count();
    ASSERT_TRUE(test_support::PumpUntil([&] { return g->LateCount() == 0; }, std::chrono::seconds(5)));
    ASSERT_EQ(g->serLine->Count(), count + 1);
    for (int i = 1; i < g->serLine->Count(); ++i) ASSERT_LE(X(g, i - 1), X(g, i)) << i;
    // Cleared, a waiting point goes with the line.
    ASSERT_TRUE(lateOne(400.5, -4));
    g->bClear->Click();
    Settle();
    test_support::Pump(std::chrono::milliseconds(50));
    EXPECT_EQ(g->serLine->Count(), 0);
    EXPECT_EQ(g->LateCount(), 0);
}

TEST(graph_form, a_failing_flush_never_adds_a_point_twice) {
    GraphFixture f;
    TfGraph* g = f.g;
    g->cbXATime->SetChecked(false);
    int calls = 0;
    g->serLine->OnBeforeAdd = [&](chart::engine::TChartSeries*) {
        if (++calls == 3) throw rtl::Exception("no room");
        return true;
    };
    g->SetUpdateLock(true);
    for (int i = 0; i < 5; ++i) g->AddPoint(0, i);
    EXPECT_THROW(g->SetUpdateLock(false), rtl::Exception);
    EXPECT_EQ(g->serLine->Count(), 2);
    EXPECT_EQ(g->PendingCount(), 3);
    g->FlushPending();
    ASSERT_EQ(g->serLine->Count(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Y(g, i), i);
    EXPECT_EQ(g->PendingCount(), 0);
}

// Open notices: message forms that did not wait for an answer.
std::vector<vcl::TForm*> Notices() {
    std::vector<vcl::TForm*> out;
    for (int i = 0; i < vcl::Application->ComponentCount(); ++i) {
        auto* form = dynamic_cast<vcl::TForm*>(vcl::Application->Components(i));
        if (form && form->FindComponent("Message") && form->Visible()) out.push_back(form);
    }
    return out;
}
std::string NoticeText(vcl::TForm* form) {
    return static_cast<vcl::TLabel*>(form->FindComponent("Message"))->Caption();
}
void CloseNotices() {
    for (vcl::TForm* form : Notices()) vcl::TComponent::Free(form);
}

TEST(graph_form, a_full_graph_says_so_once_in_a_notice_and_never_waits_or_raises) {
    test_support::DialogAnswers answers;
    GraphFixture f;
    TfGraph* g = f.g;
    EXPECT_GT(g->MaxPoints, 0);
    EXPECT_LE(g->MaxPoints, 134217727);
    g->MaxPoints = 5;
    g->SetUpdateLock(true);
    for (int i = 0; i < 8; ++i) g->AddPoint(1, i);
    g->SetUpdateLock(false);
    EXPECT_EQ(g->serLine->Count(), 5);
    EXPECT_EQ(g->PointCount(), 5);
    EXPECT_TRUE(answers.Messages.empty()) << "a box that waits";
    auto notices = Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(NoticeText(notices[0]), Ru("График заполнен: 5 точек. Новые точки не добавляются."));
    for (int i = 0; i < 3; ++i) g->AddPoint(1, i);
    EXPECT_EQ(Notices().size(), 1u);
    CloseNotices();
    g->ClearGraph();
    for (int i = 0; i < 6; ++i) g->AddPoint(1 + i, i);
    EXPECT_EQ(g->serLine->Count(), 5);
    EXPECT_EQ(Notices().size(), 1u);
    CloseNotices();
    // Deleting a range of a full graph makes room: new points are plotted
    // again up to the limit, without a second notice for the same fill.
    g->SetMarkedRange(1, 2, true);
    g->mDelRange->Click();
    ASSERT_EQ(g->serLine->Count(), 3);
    for (int i = 0; i < 4; ++i) g->AddPoint(10 + i, 10 + i);
    EXPECT_EQ(g->serLine->Count(), 5) << "a graph with room refused points";
    EXPECT_EQ(Y(g, 4), 11);
    EXPECT_TRUE(Notices().empty());

    // Memory running out while a batch enters the line: the points that
    // fit stay, the rest are dropped and not counted, the graph is full
    // until cleared, and nothing is raised into the receive path.
    g->ClearGraph();
    g->MaxPoints = 1000;
    int adds = 0;
    g->serLine->OnBeforeAdd = [&](chart::engine::TChartSeries*) {
        if (++adds > 3) throw std::bad_alloc();
        return true;
    };
    g->SetUpdateLock(true);
    for (int i = 0; i < 10; ++i) g->AddPoint(1, i);
    EXPECT_NO_THROW(g->SetUpdateLock(false));
    EXPECT_EQ(g->serLine->Count(), 3);
    EXPECT_EQ(g->PendingCount(), 0);
    EXPECT_EQ(g->PointCount(), 3);
    EXPECT_EQ(g->sb1->PanelText(0), Ru("Тчк: 3"));
    notices = Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(NoticeText(notices[0]), Ru("График заполнен: 3 точек. Новые точки не добавляются."));
    g->AddPoint(1, 7);
    EXPECT_EQ(g->PendingCount(), 0);
    EXPECT_EQ(adds, 4) << "a full graph tries no more";
    CloseNotices();
    g->serLine->OnBeforeAdd = nullptr;
    g->ClearGraph();
    g->AddPoint(1, 7);
    EXPECT_EQ(g->serLine->Count(), 1);
    EXPECT_TRUE(answers.Messages.empty());
}

TEST(graph_form, pages_follow_the_page_box_the_keys_and_the_last_point) {
    GraphFixture f;
    TfGraph* g = f.g;
    f.ShowBySample();
    g->cbFollowLastPt->SetChecked(false);
    f.AddBatch(2000, [](int i) { return i % 256; });
    EXPECT_EQ(g->sePtPerPage->Value(), 800);
    EXPECT_EQ(g->Chart1->Page(), 1);
    // Typed: 0 shows the last page, 9 the first.
    QWidget* box = g->sePage->Widget();
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, "0");
    EXPECT_EQ(g->sePage->Value(), 3);
    EXPECT_EQ(g->Chart1->Page(), 3);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, "9");
    EXPECT_EQ(g->Chart1->Page(), 1);
    // Up and Down, and the arrows.
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(g->Chart1->Page(), 2);
    g->sePage->Step(1);
    EXPECT_EQ(g->Chart1->Page(), 3);
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(g->Chart1->Page(), 2);
    // The page drawn: its first point at the left end of the bottom axis.
    Settle();
    EXPECT_EQ(g->Chart1->BottomAxis().Minimum(), X(g, 800));
    // Four characters at most can be typed.
    QWidget* perPage = g->sePtPerPage->Widget();
    perPage->setFocus();
    QTest::keyClick(perPage, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(perPage, "123456");
    EXPECT_EQ(g->sePtPerPage->Text(), "1234");
    EXPECT_EQ(g->Chart1->Pages().MaxPointsPerPage(), 1234);
    g->sePtPerPage->SetValue(800);

    // "Стр." shows every point on one page.
    g->cbInfinite->SetChecked(true);
    EXPECT_EQ(g->Chart1->Pages().MaxPointsPerPage(), 0);
    EXPECT_FALSE(g->sePage->Enabled());
    Settle();
    EXPECT_EQ(g->Chart1->BottomAxis().Minimum(), 1);
    EXPECT_EQ(g->Chart1->BottomAxis().Maximum(), 2000);
    g->cbInfinite->SetChecked(false);
    EXPECT_EQ(g->Chart1->Pages().MaxPointsPerPage(), 800);

    // "Автоскрол" on the last page: the 801st point moves to page 2; on
    // page 1 of 3 new points leave the view where it is.
    g->ClearGraph();
    g->cbFollowLastPt->SetChecked(true);
    for (int i = 0; i < 800; ++i) g->AddPoint(0, 1);
    EXPECT_EQ(g->sePage->Value(), 1);
    g->AddPoint(0, 1);
    EXPECT_EQ(g->sePage->Value(), 2);
    EXPECT_EQ(g->Chart1->Page(), 2);
    for (int i = 0; i < 1000; ++i) g->AddPoint(0, 1);
    g->sePage->SetValue(1);
    g->AddPoint(0, 1);
    EXPECT_EQ(g->Chart1->Page(), 1);
    g->SetVisible(false);
}

// The spin box's arrow buttons at the right of the field: Up above Down.
QPoint SpinArrow(vcl::TSpinEdit* Box, bool Up) {
    QWidget* w = Box->Widget();
    return {w->width() - 6, Up ? w->height() / 4 : w->height() * 3 / 4};
}

// The whole window as the screen shows it, left in the test's folder for a
// person to look at.
void SaveShown(TfGraph* g, const char* Name) {
    QApplication::processEvents();
    g->Widget()->grab().toImage().save(Name);
}

TEST(graph_form, the_page_box_names_the_page_shown_stepping_past_either_end) {
    GraphFixture f;
    TfGraph* g = f.g;
    f.ShowBySample();
    f.AddBatch(2000, [](int i) { return i % 256; });
    // "Автоскрол" is on: the view went to the last page with the points.
    ASSERT_EQ(g->sePage->Value(), 3);
    g->sePage->SetValue(1);
    QWidget* box = g->sePage->Widget();
    auto shows = [&](int page) {
        EXPECT_EQ(g->sePage->Text(), std::to_string(page));
        EXPECT_EQ(g->sePage->Value(), page);
        EXPECT_EQ(g->Chart1->Page(), page);
    };
    // Below the first page: the last one, and from there one page down.
    QTest::mouseClick(box, Qt::LeftButton, {}, SpinArrow(g->sePage, false));
    shows(3);
    SaveShown(g, "graph_page_below_first.png");
    QTest::mouseClick(box, Qt::LeftButton, {}, SpinArrow(g->sePage, false));
    shows(2);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    shows(1);
    QTest::keyClick(box, Qt::Key_Down);
    shows(3);
    // On the last page the view still follows new points to a new page.
    f.AddBatch(401, [](int) { return 7; });
    shows(4);
    // Past the last page: the first, and from there one page up.
    QTest::mouseClick(box, Qt::LeftButton, {}, SpinArrow(g->sePage, true));
    shows(1);
    QTest::keyClick(box, Qt::Key_Up);
    shows(2);
    Settle();
    EXPECT_EQ(g->Chart1->BottomAxis().Minimum(), X(g, 800));
    // Typing past either end does the same.
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, "0");
    shows(4);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, "9");
    shows(1);
    g->SetVisible(false);
}

TEST(graph_form, a_wheel_turn_on_the_value_axis_is_undone_like_a_zoom) {
    test_support::TempDir dir;
    GraphFixture f;
    TfGraph* g = f.g;
    f.ShowBySample();
    QTest::mouseClick(g->cbAllowVertZoom->Widget(), Qt::LeftButton);
    ASSERT_TRUE(g->cbAllowVertZoom->Checked());
    f.AddBatch(100, [](int i) { return i * 0.5; });
    Settle();
    chart::engine::TChartAxis& left = g->Chart1->LeftAxis();
    chart::engine::TChartAxis& bottom = g->Chart1->BottomAxis();
    EXPECT_EQ(left.Maximum(), 49.5);
    // The wheel over the value axis's labels scrolls it by 3 % a notch.
    const int midY = (left.StartPixel + left.EndPixel) / 2;
    auto turn = [&] {
        const double lo = left.Minimum(), hi = left.Maximum();
        test_support::MouseWheel(*g->Chart1, bottom.StartPixel - 15, midY, -120);
        Settle();
        EXPECT_FALSE(left.Automatic());
        EXPECT_NEAR(left.Maximum(), hi + (hi - lo) * 0.03, 1e-9);
    };
    auto automatic = [&](const char* after) {
        EXPECT_TRUE(left.Automatic()) << after;
        EXPECT_TRUE(left.AutomaticMinimum()) << after;
        EXPECT_TRUE(left.AutomaticMaximum()) << after;
    };
    turn();
    // A leftward drag undoes it, with no zoom rectangle drawn before: the
    // axis follows the values again, a new one far above them too.
    const int x = bottom.CalcPosValue(60);
    test_support::MouseDrag(*g->Chart1, Qt::LeftButton, x, midY, x - 100, midY + 40);
    automatic("undo");
    g->AddPoint(0, 200);
    Settle();
    EXPECT_EQ(left.Maximum(), 200);
    SaveShown(g, "graph_wheel_undone.png");
    // So do a page change, a clear and loading a file.
    turn();
    g->sePage->Step(1);
    automatic("a page change");
    turn();
    const std::string file = dir.path() + "/points.csv";
    g->SavePoints(file);
    g->LoadPoints(file);
    automatic("loading");
    turn();
    g->bClear->Click();
    automatic("clearing");
    g->SetVisible(false);
}

TEST(graph_form, received_bytes_draw_a_rising_blue_line) {
    GraphFixture f;
    TfGraph* g = f.g;
    f.ShowBySample();
    f.AddBatch(256, [](int i) { return i; });
    const QImage image = Shown(g);
    // The highest blue pixel of each column climbs from left to right.
    auto top = [&](int x) {
        for (int y = 0; y < image.height(); ++y)
            if (image.pixel(x, y) == qRgb(0, 0, 255)) return y;
        return -1;
    };
    std::vector<int> tops;
    for (int x = 0; x < image.width(); ++x)
        if (int y = top(x); y >= 0) tops.push_back(y);
    ASSERT_GE(tops.size(), 200u);
    EXPECT_GT(tops.front(), tops.back() + 100);
    for (std::size_t i = 1; i < tops.size(); ++i) EXPECT_LE(tops[i], tops[i - 1]) << i;
    g->SetVisible(false);
}

TEST(graph_form, the_mouse_moves_the_scope_mark_and_the_read_out) {
    GraphFixture f;
    TfGraph* g = f.g;
    f.ShowBySample();
    f.AddBatch(100, [](int i) { return i * 0.5; });
    Settle();
    chart::engine::TChartAxis& bottom = g->Chart1->BottomAxis();
    chart::engine::TChartAxis& left = g->Chart1->LeftAxis();
    const int y = (left.StartPixel + left.EndPixel) / 2;
    test_support::MouseMoveTo(*g->Chart1, bottom.CalcPosValue(30.3), y);
    EXPECT_EQ(g->sb1->PanelText(1), "X:30  Y:14.5");
    test_support::MouseMoveTo(*g->Chart1, bottom.CalcPosValue(60.2), y);
    EXPECT_EQ(g->sb1->PanelText(1), "X:60  Y:29.5");
    // The mark sits on the snapped point, and the image drawn between paints
    // is the one a full paint gives: the old place was restored.
    const QImage moved = Shown(g);
    const int px = bottom.CalcPosValue(60), py = left.CalcPosValue(29.5);
    EXPECT_NE(moved.pixel(px - 4, py), qRgb(255, 255, 255));
    EXPECT_NE(moved.pixel(px - 15, py), qRgb(255, 255, 255));
    g->Chart1->Invalidate();
    EXPECT_EQ(Shown(g), moved);
    // The copy.
    g->N4->Click();
    EXPECT_EQ(vcl::Clipboard().AsText(), "X:60  Y:29.5");

    // In time mode the read-out shows day/month and the time to the
    // millisecond.
    g->cbXATime->SetChecked(true);
    g->ShowCursorValue(rtl::EncodeDate(2026, 3, 5) + rtl::EncodeTime(14, 3, 7, 45), 12);
    EXPECT_EQ(g->sb1->PanelText(1), "X:5/03 14:03:07.045  Y:12");
    g->SetVisible(false);
}

TEST(graph_form, the_scope_mark_stays_inside_the_plot) {
    GraphFixture f;
    TfGraph* g = f.g;
    f.ShowBySample();
    QTest::mouseClick(g->cbAllowVertZoom->Widget(), Qt::LeftButton);
    f.AddBatch(100, [](int i) { return i * 0.5; });
    Settle();
    chart::engine::TChartAxis& bottom = g->Chart1->BottomAxis();
    chart::engine::TChartAxis& left = g->Chart1->LeftAxis();
    // Every pixel the mark changes lies in the plot: the picture without
    // it differs nowhere else.
    auto markStaysInside = [&](const char* where, const char* png) {
        const QImage with = Shown(g);
        with.save(png);
        g->Cursor1->SetActive(false);
        const QImage without = Shown(g);
        g->Cursor1->SetActive(true);
        Settle();
        int inside = 0, outside = 0;
        for (int y = 0; y < with.height(); ++y)
            for (int x = 0; x < with.width(); ++x) {
                if (with.pixel(x, y) == without.pixel(x, y)) continue;
                const bool in = x >= bottom.StartPixel && x <= bottom.EndPixel && y >= left.StartPixel &&
                                y <= left.EndPixel;
                (in ? inside : outside) += 1;
            }
        EXPECT_GT(inside, 0) << where;
        EXPECT_EQ(outside, 0) << where;
    };
    // On the first point, at the left end of the plot: its ticks would
    // reach over the value axis's labels.
    const int midY = (left.StartPixel + left.EndPixel) / 2;
    test_support::MouseMoveTo(*g->Chart1, bottom.StartPixel, midY);
    EXPECT_EQ(g->sb1->PanelText(1), "X:1  Y:0");
    markStaysInside("at the first point", "graph_scope_first_point.png");
    // On a point whose value the scrolled value axis no longer shows: a
    // little below it, over the labels of the sample numbers.
    for (int i = 0; i < 9; ++i) test_support::MouseWheel(*g->Chart1, bottom.StartPixel - 15, midY, -120);
    Settle();
    ASSERT_GT(left.Minimum(), 12);
    test_support::MouseMoveTo(*g->Chart1, bottom.CalcPosValue(21), midY);
    EXPECT_EQ(g->sb1->PanelText(1), "X:21  Y:10");
    EXPECT_GT(left.CalcPosValue(10), left.EndPixel + 4);
    markStaysInside("off the value range", "graph_scope_off_range.png");
    g->SetVisible(false);
}

// The bytes a format writes.
std::vector<std::uint8_t> Saved(chart::tools::TPlotExportFormat& Format) {
    vcl::TMemoryStream stream;
    Format.SaveToStream(stream);
    const auto* p = reinterpret_cast<const std::uint8_t*>(stream.Memory());
    return {p, p + stream.Size()};
}

void WriteBytes(const std::string& Name, const std::vector<std::uint8_t>& Bytes) {
    std::ofstream(Name, std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

// Every place an enhanced metafile draws at: the ends of lines, the
// corners of rectangles and ellipses, the points of polylines and
// polygons, where texts start, and the bounds the records claim.
std::vector<std::pair<int, int>> EmfPlaces(const test_support::EmfFile& Emf) {
    std::vector<std::pair<int, int>> at;
    for (const test_support::EmfRecord& r : Emf.list) {
        switch (r.type) {
            case 27:  // move to
            case 54:  // line to
                at.emplace_back(r.I32(8), r.I32(12));
                break;
            case 42:  // ellipse
            case 43:  // rectangle
            case 44:  // round rectangle
                at.emplace_back(r.I32(8), r.I32(12));
                at.emplace_back(r.I32(16), r.I32(20));
                break;
            case 86:  // polygon
            case 87:  // polyline
                at.emplace_back(r.I32(8), r.I32(12));
                at.emplace_back(r.I32(16), r.I32(20));
                for (std::uint32_t i = 0, n = r.U32(24); i < n; ++i)
                    at.emplace_back(r.I16(28 + 4 * i), r.I16(30 + 4 * i));
                break;
            case 84:  // text
                at.emplace_back(r.I32(36), r.I32(40));
                break;
            default:
                break;
        }
    }
    return at;
}

TEST(graph_form, exported_pictures_hold_the_chart_alone) {
    GraphFixture f;
    TfGraph* g = f.g;
    f.ShowBySample();
    g->cbFollowLastPt->SetChecked(false);
    f.AddBatch(2000, [](int i) { return i % 256; });
    Settle();
    chart::engine::TChartAxis& bottom = g->Chart1->BottomAxis();
    chart::engine::TChartAxis& left = g->Chart1->LeftAxis();
    const int width = g->Chart1->Width(), height = g->Chart1->Height();
    // The cursor on a point of page 1, then page 3 shown: the cursor's
    // value lies far to the left of the picture.
    test_support::MouseMoveTo(*g->Chart1, bottom.CalcPosValue(30), (left.StartPixel + left.EndPixel) / 2);
    g->sePage->SetValue(3);
    Settle();
    ASSERT_LT(bottom.CalcPosValue(g->Cursor1->XValue), -500);

    // The Windows metafile as a standard reader shows it: the chart's white
    // background fills the whole picture.
    chart::tools::TEMFExportFormat metafile;
    metafile.Panel = g->Chart1;
    int entry = 0;
    metafile.SetFilterIndex(entry);
    ASSERT_TRUE(metafile.WantsFilter(2));
    const std::vector<std::uint8_t> wmf = Saved(metafile);
    WriteBytes("graph_export.wmf", wmf);
    const std::string svg = test_support::ConvertToSvg("wmf2svg", wmf, ".wmf");
    const std::vector<std::string> rects = test_support::Elements(svg, "rect");
    ASSERT_FALSE(rects.empty()) << svg.substr(0, 400);
    const std::vector<double> background = test_support::Numbers(rects.front());
    ASSERT_GE(background.size(), 4u) << rects.front();
    EXPECT_LT(background[0], 2) << rects.front();
    // (Its player scales by a hair.)
    EXPECT_GT(background[2], width * 0.97) << rects.front();

    // The enhanced metafile draws nowhere outside the picture.
    ASSERT_TRUE(metafile.WantsFilter(1));
    const test_support::EmfFile emf = test_support::ReadEmf(Saved(metafile));
    EXPECT_GE(emf.bounds.left, 0);
    EXPECT_LE(emf.bounds.right, width);
    int places = 0;
    for (const auto& [x, y] : EmfPlaces(emf)) {
        ++places;
        EXPECT_TRUE(x >= -1 && x <= width + 1 && y >= -1 && y <= height + 1) << x << "," << y;
    }
    EXPECT_GT(places, 100);

    // A bitmap, with the cursor on the page shown: the chart without it,
    // as ImageMagick reads the file.
    test_support::MouseMoveTo(*g->Chart1, bottom.CalcPosValue(1900), (left.StartPixel + left.EndPixel) / 2);
    const QImage withCursor = Shown(g);
    chart::tools::TBMPExportFormat bitmap;
    bitmap.Panel = g->Chart1;
    WriteBytes("graph_export.bmp", Saved(bitmap));
    ASSERT_EQ(std::system("convert graph_export.bmp graph_export_bmp.png >/dev/null 2>&1"), 0);
    const QImage exported = QImage("graph_export_bmp.png").convertToFormat(QImage::Format_RGB32);
    g->Cursor1->SetActive(false);
    const QImage withoutCursor = Shown(g);
    g->Cursor1->SetActive(true);
    ASSERT_EQ(exported.size(), withoutCursor.size());
    auto differ = [](const QImage& a, const QImage& b) {
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
        return n;
    };
    EXPECT_GT(differ(withCursor, withoutCursor), 50);
    EXPECT_EQ(differ(exported, withoutCursor), 0);
    // Nor the zoom rectangle of a drag under way.
    const int x0 = bottom.CalcPosValue(1700), y0 = (left.StartPixel + left.EndPixel) / 2;
    test_support::MousePress(*g->Chart1, Qt::LeftButton, x0, y0);
    test_support::MouseMoveTo(*g->Chart1, x0 + 100, y0, Qt::LeftButton);
    ASSERT_TRUE(g->Chart1->Zoom().Active);
    WriteBytes("graph_export_zooming.bmp", Saved(bitmap));
    ASSERT_EQ(std::system("convert graph_export_zooming.bmp graph_export_zooming.png >/dev/null 2>&1"), 0);
    EXPECT_EQ(differ(QImage("graph_export_zooming.png").convertToFormat(QImage::Format_RGB32), withoutCursor), 0);
    test_support::MouseRelease(*g->Chart1, Qt::LeftButton, x0, y0);
    g->SetVisible(false);
}

// The status bar's count: every point the graph holds, on the line and
// still to come onto it.
void ExpectCountShown(TfGraph* g) {
    const int held = g->serLine->Count() + g->PendingCount() + g->LateCount();
    EXPECT_EQ(g->sb1->PanelText(0), Ru("Тчк: ") + std::to_string(held));
}

// The mouse moved over the chart to X (halfway up), then Item of the
// marking menu chosen, as the user marks a range.
void MarkAt(TfGraph* g, double X, vcl::TMenuItem* Item) {
    const int y = (g->Chart1->LeftAxis().StartPixel + g->Chart1->LeftAxis().EndPixel) / 2;
    test_support::MouseMoveTo(*g->Chart1, g->Chart1->BottomAxis().CalcPosValue(X), y);
    Item->Click();
}

TEST(graph_form, marked_ranges_show_a_band_and_delete_exactly_its_points) {
    GraphFixture f;
    TfGraph* g = f.g;
    f.ShowBySample();
    f.AddBatch(50, [](int i) { return i; });
    Settle();
    auto markAt = [&](double x, vcl::TMenuItem* item) { MarkAt(g, x, item); };
    // A start alone is a one-point range; an end before it moves the start.
    markAt(11, g->mMarkStart);
    EXPECT_EQ(g->MarkStart(), 10);
    EXPECT_EQ(g->MarkEnd(), 10);
    EXPECT_TRUE(g->mDelRange->Enabled());
    markAt(6, g->mMarkEnd);
    EXPECT_EQ(g->MarkStart(), 5);
    EXPECT_EQ(g->MarkEnd(), 5);
    markAt(11, g->mMarkStart);
    markAt(21, g->mMarkEnd);
    ASSERT_NE(g->Band(), nullptr);
    EXPECT_EQ(g->Band()->StartValue(), 11);
    EXPECT_EQ(g->Band()->EndValue(), 21);
    // The yellow band shows between the two points.
    const QImage image = Shown(g);
    const int mid = g->Chart1->BottomAxis().CalcPosValue(16);
    const int y = g->Chart1->LeftAxis().CalcPosValue(45);
    EXPECT_EQ(image.pixel(mid, y), qRgb(255, 255, 0));
    EXPECT_EQ(image.pixel(g->Chart1->BottomAxis().CalcPosValue(30), y), qRgb(255, 255, 255));
    // Right-clicking opens the marking menu when the button comes up.
    int popups = 0;
    g->pmGraph->OnPopup = [&](vcl::TComponent*) { ++popups; };
    test_support::MousePress(*g->Chart1, Qt::RightButton, mid, y);
    EXPECT_EQ(popups, 0);
    test_support::MouseRelease(*g->Chart1, Qt::RightButton, mid, y);
    EXPECT_EQ(popups, 1);
    // A right drag pans the points along and opens no menu over them.
    const double leftEdge = g->Chart1->BottomAxis().Minimum();
    const int free = g->Chart1->BottomAxis().CalcPosValue(35);  // off the band
    test_support::MouseDrag(*g->Chart1, Qt::RightButton, free, y, free - 60, y);
    EXPECT_GT(g->Chart1->BottomAxis().Minimum(), leftEdge);
    EXPECT_EQ(popups, 1);
    g->pmGraph->OnPopup = nullptr;
    // Clearing (as loading a file does) shows the new points, not the
    // panned range of the old ones.
    g->bClear->Click();
    EXPECT_TRUE(g->Chart1->BottomAxis().Automatic());
    g->SetUpdateLock(true);
    for (int i = 0; i < 50; ++i) g->AddPoint(0, i);
    g->SetUpdateLock(false);
    Settle();
    markAt(11, g->mMarkStart);
    markAt(21, g->mMarkEnd);
    // Deleting removes the eleven points, unmarks and removes the band.
    g->mDelRange->Click();
    ASSERT_EQ(g->serLine->Count(), 39);
    ExpectCountShown(g);
    EXPECT_EQ(X(g, 9), 10);
    EXPECT_EQ(X(g, 10), 22);
    EXPECT_EQ(g->Band(), nullptr);
    EXPECT_FALSE(g->mDelRange->Enabled());
    EXPECT_EQ(g->Chart1->Tools().Count(), 1);  // the cursor only

    // An index beyond the points marks nothing.
    g->SetMarkedRange(5, 500, false);
    EXPECT_EQ(g->MarkStart(), -1);
    EXPECT_EQ(g->MarkEnd(), -1);
    EXPECT_EQ(g->Band(), nullptr);

    // A mark made while no point is visible unsets it.
    markAt(11, g->mMarkStart);
    g->Cursor1->SetSeries(nullptr);
    g->mMarkStart->Click();
    EXPECT_EQ(g->MarkStart(), -1);
    EXPECT_EQ(g->MarkEnd(), 9);  // X 10, the point nearest 11 now
    g->Cursor1->SetSeries(g->serLine);

    // Time mode: a point inserted before the marks keeps them on their points.
    g->ClearGraph();
    EXPECT_EQ(g->MarkStart(), -1);
    EXPECT_EQ(g->Band(), nullptr);
    g->cbXATime->SetChecked(true);
    for (int i = 10; i <= 20; ++i) g->AddPoint(i, i);
    g->SetMarkedRange(2, 5, true);  // X 12 to 15
    g->AddPoint(5, 5);
    EXPECT_EQ(g->MarkStart(), 3);
    EXPECT_EQ(g->MarkEnd(), 6);
    g->mDelRange->Click();
    ASSERT_EQ(g->serLine->Count(), 8);
    ExpectCountShown(g);
    EXPECT_EQ(X(g, 2), 11);
    EXPECT_EQ(X(g, 3), 16);
    g->SetVisible(false);
}

// Reads of 512 values handed over as the receive path hands them: each
// under one lock, all its values at the read's time, the reads a second
// apart from First. The values count up across the reads.
constexpr double kSecond = 1.0 / 86400;
void AddReads(TfGraph* g, rtl::TDateTime First, int Reads) {
    for (int r = 0; r < Reads; ++r) {
        g->SetUpdateLock(true);
        for (int i = 0; i < 512; ++i) g->AddPoint(First + r * kSecond, r * 512 + i);
        g->SetUpdateLock(false);
    }
}

std::vector<std::pair<double, double>> Points(TfGraph* g) {
    std::vector<std::pair<double, double>> points;
    for (int i = 0; i < g->serLine->Count(); ++i) points.emplace_back(X(g, i), Y(g, i));
    return points;
}

// "Удалить диапазон" chosen: the Gone points whose X lies in the band go,
// every other point stays, in its order, and the status bar counts those
// left.
void DeleteBand(TfGraph* g, std::size_t Gone) {
    ASSERT_NE(g->Band(), nullptr);
    const double lo = g->Band()->StartValue(), hi = g->Band()->EndValue();
    const auto inBand = [&](const std::pair<double, double>& p) { return p.first >= lo && p.first <= hi; };
    std::vector<std::pair<double, double>> kept = Points(g);
    std::erase_if(kept, inBand);
    ASSERT_EQ(g->serLine->Count() - kept.size(), Gone);
    g->mDelRange->Click();
    const auto left = Points(g);
    EXPECT_EQ(std::count_if(left.begin(), left.end(), inBand), 0) << "points left inside the band";
    EXPECT_TRUE(left == kept) << "the points outside the band, in their order";
    EXPECT_EQ(g->Band(), nullptr);
    ExpectCountShown(g);
}

TEST(graph_form, range_delete_takes_every_point_at_the_read_time_of_either_mark) {
    GraphFixture f;
    TfGraph* g = f.g;
    g->SetBounds(0, 0, 671, 272);
    g->SetVisible(true);
    g->cbFollowLastPt->SetChecked(false);
    const rtl::TDateTime t0 = rtl::EncodeDate(2026, 3, 5) + rtl::EncodeTime(14, 3, 7, 0);
    const auto read = [&](int r) { return t0 + r * kSecond; };

    // All points on one page: the cursor snaps to the first point of a
    // read, so the end mark names the first of 512 points at its time.
    g->cbInfinite->SetChecked(true);
    AddReads(g, t0, 6);
    Settle();
    MarkAt(g, read(1) + 0.2 * kSecond, g->mMarkStart);
    MarkAt(g, read(3) - 0.2 * kSecond, g->mMarkEnd);
    EXPECT_EQ(g->MarkStart(), 512);
    EXPECT_EQ(g->MarkEnd(), 3 * 512);
    SaveShown(g, "graph_range_marked.png");
    DeleteBand(g, 3 * 512);
    SaveShown(g, "graph_range_deleted.png");
    // Points received after the delete count on from the points left.
    AddReads(g, read(6), 2);
    ASSERT_EQ(g->serLine->Count(), 5 * 512);
    ExpectCountShown(g);

    // Pages of 1023 points, page 2 shown: it begins with the last point of
    // read 1 and ends inside read 3, at the end mark. A start mark on the
    // last point of its read (the window's own call can name any point)
    // takes the rest of the read, on page 1, along as well.
    g->bClear->Click();
    g->cbInfinite->SetChecked(false);
    g->sePtPerPage->SetValue(1023);
    AddReads(g, t0, 5);
    g->sePage->SetValue(2);
    Settle();
    MarkAt(g, read(1) + 0.2 * kSecond, g->mMarkStart);
    MarkAt(g, read(3) - 0.2 * kSecond, g->mMarkEnd);
    EXPECT_EQ(g->MarkStart(), 512);
    EXPECT_EQ(g->MarkEnd(), 3 * 512);
    g->SetMarkedRange(2 * 512 - 1, g->MarkEnd(), true);
    EXPECT_EQ(g->Band()->StartValue(), read(1));
    DeleteBand(g, 3 * 512);

    // Against sample numbers each point has an X of its own: the band
    // holds the two marked points and those between them.
    g->bClear->Click();
    g->cbXATime->SetChecked(false);
    g->cbInfinite->SetChecked(true);
    AddReads(g, t0, 3);
    Settle();
    MarkAt(g, 300, g->mMarkStart);
    MarkAt(g, 1100, g->mMarkEnd);
    EXPECT_NEAR(X(g, g->MarkStart()), 300, 5);
    EXPECT_NEAR(X(g, g->MarkEnd()), 1100, 5);
    DeleteBand(g, static_cast<std::size_t>(g->MarkEnd() - g->MarkStart() + 1));
    g->SetVisible(false);
}

TEST(graph_form, points_are_saved_and_loaded_through_the_file_dialogs) {
    test_support::TempDir dir;
    test_support::DialogAnswers answers;
    GraphFixture f;
    TfGraph* g = f.g;
    g->cbXATime->SetChecked(false);
    g->AddPoint(0, 0.5);
    g->AddPoint(0, -3);
    const std::string file = dir.path() + "/two.csv";
    answers.Answer(file, 0);
    g->mSaveAs->Click();
    EXPECT_EQ(ReadFile(file), "1;0.5\r\n2;-3\r\n");
    g->bClear->Click();
    g->mLoadFile->Click();
    ASSERT_EQ(g->serLine->Count(), 2);
    EXPECT_EQ(X(g, 1), 2);
    EXPECT_EQ(Y(g, 1), -3);
    EXPECT_EQ(g->sb1->PanelText(0), Ru("Тчк: 2"));

    // The largest values read back: written with the digits they need
    // (15 would round them beyond the range of a number).
    g->ClearGraph();
    const double most = std::numeric_limits<double>::max();
    g->AddPoint(0, most);
    g->AddPoint(0, -most);
    g->AddPoint(0, 1.5e308);
    g->SavePoints(file);
    EXPECT_EQ(ReadFile(file), "1;1.7976931348623157E308\r\n2;-1.7976931348623157E308\r\n3;1.5E308\r\n");
    g->LoadPoints(file);
    ASSERT_EQ(g->serLine->Count(), 3);
    EXPECT_EQ(Y(g, 0), most);
    EXPECT_EQ(Y(g, 1), -most);

    // A time stamp reads the same after the round trip.
    g->cbXATime->SetChecked(true);
    g->ClearGraph();
    const double stamp = rtl::EncodeDate(2026, 3, 5) + rtl::EncodeTime(14, 3, 7, 45);
    g->AddPoint(stamp, 12);
    g->SavePoints(file);
    g->LoadPoints(file);
    ASSERT_EQ(g->serLine->Count(), 1);
    g->ShowCursorValue(X(g, 0), Y(g, 0));
    EXPECT_EQ(g->sb1->PanelText(1), "X:5/03 14:03:07.045  Y:12");

    // Falling X loads as adding the points one by one would place them.
    WriteFile(file, "3;1\r\n1;2\r\n2;3\r\n1;4\r\n");
    g->LoadPoints(file);
    ASSERT_EQ(g->serLine->Count(), 4);
    EXPECT_EQ(Y(g, 0), 2);
    EXPECT_EQ(Y(g, 1), 4);
    EXPECT_EQ(Y(g, 2), 3);
    EXPECT_EQ(Y(g, 3), 1);
    EXPECT_EQ(g->PointCount(), 4);

    // An empty file: no points.
    WriteFile(file, "");
    g->LoadPoints(file);
    EXPECT_EQ(g->serLine->Count(), 0);
    EXPECT_EQ(g->sb1->PanelText(0), Ru("Тчк: 0"));

    // A bad third line: the error names it, and nothing changes.
    WriteFile(file, "1;1\r\n2;2\r\n");
    g->LoadPoints(file);
    for (const char* bad : {"7", "", "x;1", "1;", "NAN;1", "1;INF", "1e400;1", "1,5;2"}) {
        WriteFile(file, std::string("1;1\r\n2;2\r\n") + bad + "\r\n4;4\r\n");
        try {
            g->LoadPoints(file);
            ADD_FAILURE() << "loaded a bad line: " << bad;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message.rfind(Ru("Ошибка в строке 3") + "\r\r", 0), 0u) << e.Message;
        }
        EXPECT_EQ(g->serLine->Count(), 2);
        EXPECT_EQ(g->PendingCount(), 0);
        EXPECT_EQ(g->PointCount(), 2);
    }
    // Files other programs wrote: empty lines after the last point and a
    // UTF-8 byte order mark are passed over; an empty line before the last
    // point is still an error.
    for (const char* text : {"1;1\r\n2;2\r\n\r\n\r\n", "1;1\n2;2\n\n", "\xEF\xBB\xBF" "1;1\r\n2;2"}) {
        g->ClearGraph();
        WriteFile(file, text);
        g->LoadPoints(file);
        EXPECT_EQ(g->serLine->Count(), 2) << text;
        EXPECT_EQ(Y(g, 1), 2) << text;
    }
    WriteFile(file, "1;1\r\n\r\n2;2\r\n");
    EXPECT_THROW(g->LoadPoints(file), rtl::EConvertError);
    // A bad line too long for a message box, or holding a NUL, is quoted
    // shortened and with its control bytes shown.
    const std::string junk(1 << 20, 'x');
    for (const auto& [line, quoted] : {std::pair{junk, "'" + junk.substr(0, 64) + "...'"},
                                       std::pair{std::string("7;5\0\x1b", 5), std::string("'5\\x00\\x1B'")}}) {
        WriteFile(file, "1;1\r\n" + line + "\r\n");
        try {
            g->LoadPoints(file);
            ADD_FAILURE() << "loaded a bad line";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message, Ru("Ошибка в строке 2") + "\r\r" + quoted + " is not a valid floating point value");
        }
    }
    // More points than the lists hold: an error, nothing changes.
    g->MaxPoints = 3;
    WriteFile(file, "1;1\r\n2;2\r\n3;3\r\n4;4\r\n");
    EXPECT_THROW(g->LoadPoints(file), rtl::EListError);
    EXPECT_EQ(g->serLine->Count(), 2);
    // A file that cannot be made: an error, the points stay.
    EXPECT_THROW(g->SavePoints(dir.path() + "/missing/x.csv"), rtl::Exception);
    EXPECT_EQ(g->serLine->Count(), 2);
}

// Save as and Load through the real dialogs: the file written and read is
// the one typed, whatever its letters or length; a name without an
// extension gets the filter's.
TEST(graph_form, point_files_keep_the_typed_name_through_the_real_dialogs) {
    test_support::TempDir dir;
    test_support::RealFileDialog dialog;
    std::vector<std::string> asked;
    vcl::EnsureApplication()->MessageHook = [&](const vcl::TMessageRequest& r) {
        asked.push_back(r.Text);
        return vcl::IDNO;
    };
    struct Unhook {
        ~Unhook() { vcl::Application->MessageHook = nullptr; }
    } unhook;
    GraphFixture f;
    TfGraph* g = f.g;
    g->cbXATime->SetChecked(false);
    std::filesystem::create_directory(dir.File("naïve"));
    const std::string longest = std::string(251, 'p') + ".csv";
    for (const std::string name : {"café.csv", "naïve/ß.csv", "日本.csv", longest.c_str()}) {
        g->ClearGraph();
        g->AddPoint(0, 7);
        dialog.Answer(dir.File(name));
        g->mSaveAs->Click();
        ASSERT_EQ(ReadFile(dir.File(name)), "1;7\r\n") << name;
        g->AddPoint(0, 8);
        g->mSaveAs->Click();  // replacing it is declined
        EXPECT_EQ(ReadFile(dir.File(name)), "1;7\r\n");
        g->mLoadFile->Click();
        EXPECT_EQ(g->serLine->Count(), 1) << name;
    }
    EXPECT_EQ(asked.size(), 4u);
    dialog.Answer(dir.File("typed"));
    g->mSaveAs->Click();
    EXPECT_EQ(ReadFile(dir.File("typed.csv")), "1;7\r\n");
}

TEST(graph_form, a_failed_load_leaves_graph_queue_count_and_marks_as_they_were) {
    test_support::TempDir dir;
    GraphFixture f;
    TfGraph* g = f.g;
    g->cbXATime->SetChecked(false);
    for (int i = 0; i < 3; ++i) g->AddPoint(0, 10 + i);
    g->SetMarkedRange(1, 2, true);
    g->SetUpdateLock(true);
    g->AddPoint(0, 13);
    g->AddPoint(0, 14);
    g->MaxPoints = 4;
    const std::string file = dir.path() + "/points.csv";
    auto unchanged = [&](const char* what) {
        ASSERT_EQ(g->serLine->Count(), 3) << what;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(Y(g, i), 10 + i) << what;
        EXPECT_EQ(g->PendingCount(), 2) << what;
        EXPECT_EQ(g->PointCount(), 5) << what;
        EXPECT_EQ(g->MarkStart(), 1) << what;
        EXPECT_EQ(g->MarkEnd(), 2) << what;
    };
    // A bad last line.
    WriteFile(file, "1;1\r\n2;2\r\n3;3\r\n4;x\r\n");
    EXPECT_THROW(g->LoadPoints(file), rtl::EConvertError);
    unchanged("bad line");
    // More points than the graph holds: refused before anything changes.
    WriteFile(file, "1;1\r\n2;2\r\n3;3\r\n4;4\r\n5;5\r\n");
    EXPECT_THROW(g->LoadPoints(file), rtl::EListError);
    unchanged("too many points");
    EXPECT_THROW(g->LoadPoints(dir.path() + "/none.csv"), rtl::Exception);
    unchanged("no file");
    {
        // A FIFO chosen in the dialog is refused by its name at once:
        // opening it would wait for a writer, and the window with it.
        const test_support::Fifo fifo(dir.path() + "/points.csv.fifo");
        ASSERT_TRUE(fifo.Made());
        test_support::DialogAnswers answers;
        answers.Answer(fifo.path(), 0);
        g->mLoadFile->Click();
        ASSERT_EQ(answers.Messages.size(), 1u);
        EXPECT_EQ(answers.Messages[0],
                  "Cannot read \"" + fifo.path() +
                      "\": it is not a regular file (a folder, a device or a pipe)");
        EXPECT_FALSE(fifo.Rescued());
        unchanged("fifo");
    }
    // The queue comes with the release, as if nothing had been tried.
    g->SetUpdateLock(false);
    ASSERT_EQ(g->serLine->Count(), 5);
    EXPECT_EQ(Y(g, 4), 14);

    // A load that succeeds replaces the graph and empties the queue.
    g->SetUpdateLock(true);
    g->AddPoint(0, 15);
    WriteFile(file, "1;1\r\n2;2\r\n3;3\r\n4;4\r\n");
    g->LoadPoints(file);
    g->SetUpdateLock(false);
    ASSERT_EQ(g->serLine->Count(), 4);
    EXPECT_EQ(Y(g, 3), 4);
    EXPECT_EQ(g->PointCount(), 4);
    EXPECT_EQ(g->MarkStart(), -1);

    // Loaded points show like a batch that arrives: with "Автоскрол" on,
    // the last page; without it, the first.
    std::string many;
    for (int i = 1; i <= 2000; ++i) many += std::to_string(i) + ";" + std::to_string(i % 7) + "\r\n";
    WriteFile(file, many);
    g->MaxPoints = 2000;
    g->LoadPoints(file);
    ASSERT_EQ(g->serLine->Count(), 2000);
    EXPECT_EQ(g->sePage->Value(), 3);
    EXPECT_EQ(g->sb1->PanelText(0), Ru("Тчк: 2000"));
    g->cbFollowLastPt->SetChecked(false);
    g->LoadPoints(file);
    EXPECT_EQ(g->sePage->Value(), 1);
    // Points after a load number on from the last one loaded.
    g->MaxPoints = 3000;
    g->AddPoint(0, 1);
    ASSERT_EQ(g->serLine->Count(), 2001);
    EXPECT_EQ(X(g, 2000), 2001);
}

TEST(graph_form, plug_in_points_arrive_without_a_lock_hidden_or_shown) {
    GraphFixture f;
    TfGraph* g = f.g;
    // As the plug-in host calls it: the current time, any double.
    g->AddPoint(rtl::Now(), -1e300);
    g->AddPoint(rtl::Now(), 2.5);
    EXPECT_EQ(g->serLine->Count(), 2);
    g->SetVisible(true);
    g->AddPoint(rtl::Now(), 3.5);
    EXPECT_EQ(g->serLine->Count(), 3);
    EXPECT_EQ(g->PendingCount(), 0);
    g->Close();
    EXPECT_FALSE(g->Visible());
}

TEST(graph_form, close_hides_the_window_and_runs_the_one_close_handler) {
    GraphFixture f;
    TfGraph* g = f.g;
    EXPECT_FALSE(g->Visible());
    g->SetVisible(true);
    int closes = 0;
    g->OnClose = [&](vcl::TComponent* s, vcl::TCloseAction&) {
        EXPECT_EQ(s, g);
        ++closes;
    };
    g->Close();
    EXPECT_FALSE(g->Visible());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(graph::fGraph, g);
}

}  // namespace
