// The export option forms and the filters editor at their default size,
// rendered to PNG: every control shown, inside its form, apart from the
// others and wide enough for its text.
#include <gtest/gtest.h>

#include <filesystem>

#include "chart/drawing/geometric_filters.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/tools/export_formats.h"
#include "chart/tools/filters_editor.h"
#include "platform/vcl/check_list_box.h"
#include "platform/vcl/page_control.h"
#include "platform/vcl/picture.h"
#include "support/qt_app.h"
#include "support/recording_series.h"
#include "support/screen.h"

namespace {

using namespace chart::tools;

// A chart with its axes and a line, as the forms preview it.
struct Chart : test_support::PlainChart {
    Chart() : PlainChart(400, 300) {
        auto& s = AddRecording();
        s.Fill(6, [](int i) { return (i * 37 % 11) * 10.0; });
        s.SetSeriesColor(vcl::clRed);
    }
};

// The form as it shows, written as a PNG file in the test's folder.
void SaveShot(vcl::TForm& form, const std::string& name) {
    test_support::Pump(std::chrono::milliseconds(50));
    vcl::TBitmap shot(form.Width(), form.Height());
    form.PaintTo(shot.Canvas(), 0, 0);
    vcl::TPngGraphic png;
    png.Assign(shot);
    png.SaveToFile((std::filesystem::current_path() / name).string());
}

TEST(chart_export_forms, the_option_forms_show_every_control_at_their_default_size) {
    test_support::EnsureQtApplication();
    Chart panel;
    TBMPExportFormat bmp;
    bmp.Panel = &panel;
    TBMPOptions& options = *bmp.Options();
    options.Show();
    EXPECT_EQ(options.ClientWidth(), 202);
    EXPECT_EQ(options.ClientHeight(), 216);
    EXPECT_EQ(test_support::LayoutProblems(&options), std::vector<std::string>{});
    SaveShot(options, "export_bitmap_options.png");
    options.Hide();

    TEMFExportFormat emf;
    TEMFOptions& metafile = *emf.Options();
    metafile.Show();
    EXPECT_EQ(test_support::LayoutProblems(&metafile), std::vector<std::string>{});
    SaveShot(metafile, "export_metafile_options.png");
    metafile.Hide();
}

TEST(chart_export_forms, the_filters_editor_shows_every_control_for_each_kind_of_filter) {
    test_support::EnsureQtApplication();
    Chart panel;
    const auto bitmap = panel.Render();
    chart::TFilterItems list;
    list.Add<chart::TRotateFilter>();
    list.Add<chart::TTileFilter>();
    list.Add<chart::TGrayScaleFilter>();
    list.Add<chart::TBlurFilter>();
    TFiltersEditor editor(vcl::EnsureApplication());
    editor.SetTarget(bitmap.get(), &list);
    editor.Show();
    for (int i = 0; i < list.Count(); ++i) {
        editor.Filters->SetItemIndex(i);
        editor.FiltersClick();
        EXPECT_EQ(test_support::LayoutProblems(&editor), std::vector<std::string>{}) << list.Items(i).ClassName();
        SaveShot(editor, "filters_editor_" + std::to_string(i) + ".png");
    }
    editor.PageProps->SetActivePage(editor.TabRegion);
    EXPECT_EQ(test_support::LayoutProblems(&editor), std::vector<std::string>{});
    SaveShot(editor, "filters_editor_region.png");
    editor.Hide();
}

}  // namespace
