// A chart exported as a user does it, with real mouse and key events: the
// bitmap options open the filters editor, a blur is added from its menu and
// made stronger while the preview follows, OK; the bitmap written then is
// the chart blurred, and the metafiles of the same chart convert to
// pictures with its frame, labels and line.
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
#include "platform/vcl/streams.h"
#include "support/graphic_bytes.h"
#include "support/metafile_reader.h"
#include "support/qt_app.h"
#include "support/sample_chart.h"
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
    test_support::SampleChartPanel panel;
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
    EXPECT_GT(red, 500);
    EXPECT_GT(softened, red * 95 / 100);
    options.Hide();
}

TEST(chart_export_by_user, the_chart_as_metafiles_converts_to_pictures_with_its_frame_labels_and_line) {
    test_support::EnsureQtApplication();
    test_support::SampleChartPanel panel;
    TEMFExportFormat format;
    format.Panel = &panel;
    int index = 1;  // after the bitmap's entry
    format.SetFilterIndex(index);
    ASSERT_TRUE(format.WantsFilter(2));
    vcl::TMemoryStream emf;
    format.SaveToStream(emf);
    const std::string svg = test_support::ConvertToSvg("emf2svg-conv", Bytes(emf), ".emf");
    ASSERT_FALSE(svg.empty());
    // The frame, the labels where they were written, the line through its points.
    bool frame = false;
    for (const std::string& r : test_support::Elements(svg, "rect"))
        frame = frame || (test_support::Attribute(r, "stroke") == "#000000" &&
                          test_support::Numbers(test_support::Attribute(r, "x") + " " + test_support::Attribute(r, "y") + " " +
                                                test_support::Attribute(r, "width") + " " + test_support::Attribute(r, "height")) ==
                              std::vector<double>{50, 40, 310, 210});
    EXPECT_TRUE(frame) << svg;
    for (const char* label : {"[CDATA[0]]", "[CDATA[50]]", "[CDATA[100]]", "[CDATA[Time]]"})
        EXPECT_NE(svg.find(label), std::string::npos) << label;
    const std::size_t red = svg.find("stroke=\"#FF0000\"");
    ASSERT_NE(red, std::string::npos);
    const std::size_t d = svg.rfind("<path d=\"", red);
    EXPECT_EQ(test_support::Numbers(svg.substr(d, red - d)),
              (std::vector<double>{60, 230, 130, 80, 200, 170, 270, 60, 340, 130}));

    // The dialog's third entry: a Windows metafile of the same chart.
    ASSERT_TRUE(format.WantsFilter(3));
    EXPECT_EQ(format.FileExtension(), "wmf");
    vcl::TMemoryStream wmf;
    format.SaveToStream(wmf);
    const std::string plain = test_support::ConvertToSvg("wmf2svg", Bytes(wmf), ".wmf");
    ASSERT_FALSE(plain.empty());
    auto near = [](const std::vector<double>& a, const std::vector<double>& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::fabs(a[i] - b[i]) > 2.5) return false;
        return true;
    };
    frame = false;
    for (const std::string& r : test_support::Elements(plain, "rect"))
        frame = frame || (r.find("stroke:black") != std::string::npos &&
                          near(test_support::Numbers(test_support::Attribute(r, "x") + " " + test_support::Attribute(r, "y") + " " +
                                                     test_support::Attribute(r, "width") + " " + test_support::Attribute(r, "height")),
                               {50, 40, 310, 210}));
    EXPECT_TRUE(frame) << plain;
    for (const char* label : {">0<", ">50<", ">100<", ">Time<"}) EXPECT_NE(plain.find(label), std::string::npos) << label;
    std::vector<double> line;
    for (const std::string& l : test_support::Elements(plain, "line"))
        if (l.find("stroke:red") != std::string::npos) {
            std::vector<double> n;
            for (const char* a : {"x1", "y1", "x2", "y2"}) n.push_back(std::stod(test_support::Attribute(l, a)));
            if (line.empty()) line.insert(line.end(), n.begin(), n.begin() + 2);
            line.insert(line.end(), n.begin() + 2, n.begin() + 4);
        }
    EXPECT_TRUE(near(line, {60, 230, 130, 80, 200, 170, 270, 60, 340, 130})) << plain;
}

}  // namespace
