// A chart exported as a user does it, with real mouse and key events: the
// bitmap options open the filters editor, a blur is added from its menu and
// made stronger while the preview follows, OK; the bitmap written then is
// the chart blurred, and the metafiles of the same chart convert to
// pictures with its axes, their labels and the series' line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QtTest/QTest>

#include <cmath>

#include "chart/drawing/image_filtered.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/engine/draw3d.h"
#include "chart/tools/export_formats.h"
#include "chart/tools/filters_editor.h"
#include "chart/tools/form_creator.h"
#include "platform/vcl/check_list_box.h"
#include "platform/vcl/image.h"
#include "platform/vcl/menus.h"
#include "platform/vcl/page_control.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/scroll_bar.h"
#include "platform/vcl/timer.h"
#include "platform/vcl/streams.h"
#include "support/graphic_bytes.h"
#include "support/metafile_reader.h"
#include "support/qt_app.h"
#include "support/recording_series.h"
#include "support/screen.h"
#include "support/svg_text.h"

namespace {

using namespace chart::tools;
using test_support::PixelsOf;

// The editor's control that edits the property.
vcl::TControl* ControlOf(TFiltersEditor& editor, const std::string& prop) {
    for (int i = 0; i < editor.Properties->ControlCount(); ++i) {
        vcl::TControl* c = editor.Properties->Controls(i);
        if (c->Tag && reinterpret_cast<const TFormItem*>(c->Tag)->PropName == prop) return c;
    }
    return nullptr;
}

std::vector<std::uint8_t> Bytes(vcl::TMemoryStream& s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.Memory());
    return {p, p + s.Size()};
}

// A chart with its axes and one series drawn as a red line.
struct LineChart : test_support::PlainChart {
    test_support::RecordingSeries& series;
    LineChart() : PlainChart(400, 300), series(AddRecording()) {
        series.Fill(6, [](int i) { return (i * 37 % 11) * 10.0; });
        series.SetSeriesColor(vcl::clRed);
    }
    // The line's points in pixels, after a paint.
    std::vector<double> Points() {
        std::vector<double> p;
        for (int i = 0; i < series.Count(); ++i) {
            p.push_back(series.CalcXPos(i));
            p.push_back(series.CalcYPos(i));
        }
        return p;
    }
};

void Click(vcl::TControl* control, QPoint at = {}) {
    QWidget* w = control->Widget();
    QTest::mouseClick(w, Qt::LeftButton, {}, at.isNull() ? w->rect().center() : at);
}

// What the user does inside the modal editor; it ends by pressing OK (or,
// when a step failed, by closing the editor, so that the test goes on).
void UseEditor(TBMPOptions& options, chart::TFilterItems& list, std::vector<QImage>& previews) {
    auto* editor = dynamic_cast<TFiltersEditor*>(options.FindComponent("FiltersEditor"));
    ASSERT_NE(editor, nullptr);
    struct TClose {
        TFiltersEditor* e;
        ~TClose() {
            if (e->ModalResult() == vcl::mrNone) e->Close();
        }
    } close{editor};
    ASSERT_TRUE(test_support::PumpUntil([&] { return editor->Visible() && editor->Widget()->isVisible(); }));
    // The editor rebuilds its property controls once from its start-up timer;
    // controls looked up before that tick would be freed under the test.
    ASSERT_TRUE(test_support::PumpUntil([&] { return !editor->Timer1->Enabled(); }));
    EXPECT_EQ(editor->Filters->Count(), 0);
    EXPECT_FALSE(editor->PageProps->Visible());

    // "+" pops the menu of every filter, sorted by caption; Blur is chosen.
    Click(editor->BAdd);
    QMenu* menu = nullptr;
    ASSERT_TRUE(test_support::PumpUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }));
    QStringList captions;
    QAction* blur = nullptr;
    for (QAction* a : menu->actions()) {
        captions << a->text();
        if (a->text() == "Blur") blur = a;
    }
    EXPECT_EQ(captions.size(), 21);
    QStringList sorted = captions;
    sorted.sort(Qt::CaseInsensitive);
    EXPECT_EQ(captions, sorted);
    ASSERT_NE(blur, nullptr);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(blur).center());
    ASSERT_TRUE(test_support::PumpUntil([&] { return list.Count() == 1; }));
    auto* filter = dynamic_cast<chart::TBlurFilter*>(&list.Items(0));
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(editor->Filters->Strings(0), "Blur");
    EXPECT_TRUE(editor->Filters->Checked(0));
    previews.push_back(test_support::OnScreen(editor->Image));

    // The Amount bar's left arrow lowers the centre's weight to 0; two
    // presses of the Right key on the Steps bar blur three times.
    auto* amount = dynamic_cast<vcl::TScrollBar*>(ControlOf(*editor, "Amount"));
    auto* steps = dynamic_cast<vcl::TScrollBar*>(ControlOf(*editor, "Steps"));
    ASSERT_NE(amount, nullptr);
    ASSERT_NE(steps, nullptr);
    EXPECT_EQ(amount->Position(), 1);
    Click(amount, {4, amount->Height() / 2});
    EXPECT_EQ(filter->Amount, 0);
    previews.push_back(test_support::OnScreen(editor->Image));
    // The editor is the active window again once the menu is gone (the
    // window manager's part), and the user tabs to the Steps bar.
    editor->Activate();
    ASSERT_TRUE(test_support::PumpUntil([&] { return QApplication::activeWindow() == editor->Widget(); }));
    steps->SetFocus();
    QTest::keyClick(steps->Widget(), Qt::Key_Right);
    QTest::keyClick(steps->Widget(), Qt::Key_Right);
    EXPECT_EQ(filter->Steps, 3);
    previews.push_back(test_support::OnScreen(editor->Image));

    Click(editor->BOK);
}

TEST(chart_export_by_user, a_blur_added_in_the_filters_editor_shows_in_the_exported_bitmap) {
    test_support::EnsureQtApplication();
    LineChart panel;
    TBMPExportFormat format;
    format.Panel = &panel;
    TBMPOptions& options = *format.Options();
    options.Show();
    ASSERT_TRUE(test_support::PumpUntil([&] { return options.Widget()->isVisible(); }));
    const QImage unfiltered = test_support::OnScreen(options.ImageFiltered1);

    std::vector<QImage> previews;
    bool used = false;
    QTimer::singleShot(0, [&] {
        used = true;
        UseEditor(options, format.Filters(), previews);
    });
    Click(options.Button1);  // "&Filters...": returns when the editor closed
    EXPECT_TRUE(used);
    ASSERT_EQ(format.Filters().Count(), 1);
    // Each change showed in the editor's preview.
    ASSERT_EQ(previews.size(), 3u);
    EXPECT_NE(previews[0], previews[1]);
    EXPECT_NE(previews[1], previews[2]);
    // OK: the options' own preview shows the blur too.
    EXPECT_NE(test_support::OnScreen(options.ImageFiltered1), unfiltered);

    // The file holds the chart blurred three times with the centre left out.
    vcl::TMemoryStream file;
    format.SaveToStream(file);
    file.SetPosition(0);
    vcl::TBitmap read;
    read.LoadFromStream(file);
    const std::unique_ptr<vcl::TBitmap> expected = panel.Render();
    const auto sharp = PixelsOf(*expected);
    chart::TBlurFilter blur;
    blur.Amount = 0;
    blur.Steps = 3;
    blur.ApplyTo(*expected);
    ASSERT_EQ(read.Width(), 400);
    ASSERT_EQ(read.Height(), 300);
    EXPECT_EQ(PixelsOf(read), PixelsOf(*expected));
    // Where the line was pure red, it is softened now.
    int red = 0, softened = 0;
    const auto pixels = PixelsOf(read);
    for (std::size_t i = 0; i < sharp.size(); ++i)
        if (sharp[i] == gdi::RGB(255, 0, 0)) {
            ++red;
            softened += pixels[i] != gdi::RGB(255, 0, 0);
        }
    EXPECT_GT(red, 300);
    EXPECT_GT(softened, red * 95 / 100);
    options.Hide();
}

TEST(chart_export_by_user, the_chart_as_metafiles_converts_to_pictures_with_its_axes_labels_and_line) {
    test_support::EnsureQtApplication();
    LineChart chart;
    TEMFExportFormat format;
    format.Panel = &chart;
    int index = 1;  // after the bitmap's entry
    format.SetFilterIndex(index);
    ASSERT_TRUE(format.WantsFilter(2));
    vcl::TMemoryStream emf;
    format.SaveToStream(emf);
    const vcl::TRect frame = chart.ChartRect;
    const std::vector<double> points = chart.Points();
    const std::vector<std::string> labels = {"0", "1", "2", "3", "4", "5", "10", "45", "90"};

    // The enhanced file: the axes along the frame's left and bottom, every
    // label, the line through the series' points.
    const std::string svg = test_support::ConvertToSvg("emf2svg-conv", Bytes(emf), ".emf");
    ASSERT_FALSE(svg.empty());
    std::vector<std::vector<double>> black, red;
    for (const std::string& p : test_support::Elements(svg, "path")) {
        const auto n = test_support::Numbers(test_support::Attribute(p, "d"));
        if (test_support::Attribute(p, "stroke") == "#000000") black.push_back(n);
        if (test_support::Attribute(p, "stroke") == "#FF0000") red.push_back(n);
    }
    auto has = [](const std::vector<std::vector<double>>& lines, const std::vector<double>& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    const double l = frame.Left, t = frame.Top, r = frame.Right, b = frame.Bottom;
    EXPECT_TRUE(has(black, {l, b, r, b})) << svg;
    EXPECT_TRUE(has(black, {l, t, l, b})) << svg;
    for (const std::string& label : labels) EXPECT_NE(svg.find("[CDATA[" + label + "]]"), std::string::npos) << label;
    std::vector<double> drawn;
    for (const auto& segment : red) {
        if (drawn.empty()) drawn.insert(drawn.end(), segment.begin(), segment.begin() + 2);
        drawn.insert(drawn.end(), segment.begin() + 2, segment.end());
    }
    EXPECT_EQ(drawn, points);

    // The dialog's third entry: a Windows metafile of the same chart (its
    // player scales by a hair: a pixel or two of slack).
    ASSERT_TRUE(format.WantsFilter(3));
    EXPECT_EQ(format.FileExtension(), "wmf");
    vcl::TMemoryStream wmf;
    format.SaveToStream(wmf);
    const std::string plain = test_support::ConvertToSvg("wmf2svg", Bytes(wmf), ".wmf");
    ASSERT_FALSE(plain.empty());
    auto near = [](const std::vector<double>& a, const std::vector<double>& e) {
        if (a.size() != e.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::fabs(a[i] - e[i]) > 2.5) return false;
        return true;
    };
    black.clear();
    drawn.clear();
    for (const std::string& line : test_support::Elements(plain, "line")) {
        std::vector<double> n;
        for (const char* a : {"x1", "y1", "x2", "y2"}) n.push_back(std::stod(test_support::Attribute(line, a)));
        if (line.find("stroke:black") != std::string::npos) black.push_back(n);
        if (line.find("stroke:red") != std::string::npos) {
            if (drawn.empty()) drawn.insert(drawn.end(), n.begin(), n.begin() + 2);
            drawn.insert(drawn.end(), n.begin() + 2, n.end());
        }
    }
    auto hasNear = [&](const std::vector<double>& line) {
        return std::any_of(black.begin(), black.end(), [&](const auto& x) { return near(x, line); });
    };
    EXPECT_TRUE(hasNear({l, b, r, b})) << plain;
    EXPECT_TRUE(hasNear({l, t, l, b})) << plain;
    for (const std::string& label : labels) EXPECT_NE(plain.find(">" + label + "<"), std::string::npos) << label;
    EXPECT_TRUE(near(drawn, points)) << plain;
}

}  // namespace
