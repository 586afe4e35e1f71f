// The self-painting panel, components told before they are destroyed, the
// cursor table, resources and transparent bitmaps.
#include "platform/vcl/custom_panel.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/bitmap.h"
#include "platform/vcl/cursors.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/resources.h"

namespace {

using namespace vcl;

gdi::COLORREF Colour(QRgb p) { return qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16); }

TEST(custom_panel, paints_its_face_with_bevels_and_band_and_counts_only_new_sizes) {
    EnsureApplication();
    struct Panel : TCustomPanel {
        using TCustomPanel::TCustomPanel;
        int resized = 0;
        void Resize() override {
            ++resized;
            TCustomPanel::Resize();
        }
    } panel(nullptr);
    panel.SetBounds(0, 0, 40, 30);
    panel.SetColor(0x00FF00);
    panel.SetBevelInner(TBevelCut::bvLowered);
    panel.SetBorderWidth(2);
    const int resized = panel.resized;
    const QImage face = panel.Widget()->grab().toImage();
    panel.Widget()->grab();
    EXPECT_EQ(panel.resized, resized);  // the same size again is no resize
    const gdi::COLORREF light = ColorToRGB(clBtnHighlight), dark = ColorToRGB(clBtnShadow);
    EXPECT_EQ(Colour(face.pixel(0, 0)), light);
    EXPECT_EQ(Colour(face.pixel(39, 29)), dark);
    EXPECT_EQ(Colour(face.pixel(1, 15)), 0x00FF00u);  // the band
    EXPECT_EQ(Colour(face.pixel(3, 15)), dark);       // the inner bevel, lowered
    EXPECT_EQ(Colour(face.pixel(36, 15)), light);
    EXPECT_EQ(Colour(face.pixel(20, 15)), 0x00FF00u);
    panel.SetBounds(0, 0, 50, 30);
    EXPECT_EQ(panel.resized, resized + 1);
    // Widths far beyond the panel draw what fits and do not hang.
    panel.SetBorderWidth(2000000000);
    panel.SetBevelWidth(2000000000);
    panel.Widget()->grab();
    EXPECT_EQ(panel.BevelWidth(), 2000000000);
    panel.SetBevelWidth(-5);
    EXPECT_EQ(panel.BevelWidth(), 1);
}

TEST(custom_panel, components_hear_before_destruction_whoever_frees_them) {
    struct Told : TComponent {
        std::vector<std::string>& log;
        Told(TComponent* owner, std::vector<std::string>& l) : TComponent(owner), log(l) {}
        ~Told() override { log.push_back("destroyed"); }
        void BeforeDestruction() override {
            TComponent::BeforeDestruction();
            log.push_back(Destroying() ? "before, destroying" : "before");
        }
    };
    std::vector<std::string> log;
    TComponent::Free(new Told(nullptr, log));
    {
        TComponent owner(nullptr);
        new Told(&owner, log);
    }
    { std::unique_ptr<Told, TComponentDeleter> held(new Told(nullptr, log)); }
    TComponent::Free(nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"before, destroying", "destroyed", "before, destroying",
                                             "destroyed", "before, destroying", "destroyed"}));
}

TEST(custom_panel, numbered_cursors_come_from_the_table_and_resources_from_modules) {
    EnsureApplication();
    TCustomPanel panel(nullptr);
    const TResourceImage arrow{{"X.", ".X"}, {{'X', clBlack}, {'.', clWhite}}, 1, 0};
    const TCursor number = CursorNumber(3000);
    panel.SetCursor(number);
    EXPECT_EQ(panel.Widget()->cursor().shape(), Qt::ArrowCursor);  // not in the table yet
    SetScreenCursor(number, &arrow);
    panel.SetCursor(number);
    EXPECT_EQ(panel.Cursor(), number);
    EXPECT_EQ(panel.Widget()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(panel.Widget()->cursor().hotSpot(), QPoint(1, 0));
    SetScreenCursor(number, nullptr);
    EXPECT_EQ(ScreenCursor(number), nullptr);

    const TResourceModule module{"test", {{TResourceType::rtCursor, "Arrow", arrow}}};
    RegisterResourceModule(module);
    RegisterResourceModule(module);  // once only
    int found = 0;
    for (const TResourceModule* m : ResourceModules()) found += m->Find(TResourceType::rtCursor, "ARROW") != nullptr;
    EXPECT_EQ(found, 1);
    EXPECT_EQ(module.Find(TResourceType::rtBitmap, "arrow"), nullptr);
    UnregisterResourceModule(module);
}

TEST(custom_panel, a_transparent_bitmap_leaves_out_its_bottom_left_colour) {
    TBitmap picture(3, 2);
    picture.Canvas().Brush.SetColor(clRed);
    picture.Canvas().FillRect({0, 0, 3, 2});
    picture.Handle()->SetPixel(1, 0, 0xFF0000);
    TBitmap target(6, 4);
    target.Canvas().Brush.SetColor(clLime);
    target.Canvas().FillRect({0, 0, 6, 4});
    picture.SetTransparent(true);
    target.Canvas().StretchDraw({0, 0, 6, 4}, &picture);
    EXPECT_EQ(target.Handle()->GetPixel(0, 0), 0x00FF00u);
    EXPECT_EQ(target.Handle()->GetPixel(2, 0), 0xFF0000u);
    EXPECT_EQ(target.Handle()->GetPixel(3, 1), 0xFF0000u);
    EXPECT_EQ(target.Handle()->GetPixel(5, 3), 0x00FF00u);
    picture.SetTransparent(false);
    target.Canvas().Draw(0, 0, &picture);
    EXPECT_EQ(target.Handle()->GetPixel(0, 0), 0x0000FFu);
}

}  // namespace
