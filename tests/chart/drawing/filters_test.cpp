// Image filters: the frame (regions, row table, lists and their stream,
// the filtered picture, the image control), each filter's rule on small
// bitmaps, what each asks of its editor, and bad settings.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "chart/drawing/geometric_filters.h"
#include "chart/drawing/image_filtered.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/drawing/property_stream.h"
#include "platform/vcl/properties.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace chart;

constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);

// A bitmap whose every pixel differs from its neighbours.
std::unique_ptr<vcl::TBitmap> Scrambled(int w, int h) {
    auto b = std::make_unique<vcl::TBitmap>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b->Handle()->SetPixel(x, y, gdi::RGB(x * 37 + y * 11, x * 5 + y * 71, (x ^ y) * 13));
    return b;
}

std::unique_ptr<vcl::TBitmap> Plain(int w, int h, gdi::COLORREF c) {
    auto b = std::make_unique<vcl::TBitmap>(w, h);
    b->Handle()->Fill(c);
    return b;
}

gdi::COLORREF At(const vcl::TBitmap& b, int x, int y) { return b.Handle()->GetPixel(x, y); }

// What a filter asks of its editor, as text.
struct RecordingCreator : IFormCreator {
    struct Scroll : TFormScrollBar {
        int min = 0, max = 0;
        void SetRange(int Min, int Max) override { min = Min, max = Max; }
    };
    std::vector<std::string> asked;
    std::vector<std::shared_ptr<Scroll>> scrolls;
    std::vector<std::function<void()>> clicks;
    void AddCheckBox(const std::string& p, const std::string& c, std::function<void()> click) override {
        asked.push_back("CheckBox " + p + " '" + c + "'");
        clicks.push_back(std::move(click));
    }
    void AddColor(const std::string& p, const std::string& c) override { asked.push_back("Color " + p + " '" + c + "'"); }
    void AddCombo(const std::string& p) override { asked.push_back("Combo " + p); }
    void AddInteger(const std::string& p, const std::string& c, int mn, int mx) override {
        asked.push_back("Integer " + p + " '" + c + "' " + std::to_string(mn) + ".." + std::to_string(mx));
    }
    std::weak_ptr<TFormScrollBar> AddScroll(const std::string& p, int mn, int mx) override {
        asked.push_back("Scroll " + p + " " + std::to_string(mn) + ".." + std::to_string(mx));
        scrolls.push_back(std::make_shared<Scroll>());
        scrolls.back()->SetRange(mn, mx);
        return scrolls.back();
    }
};

TEST(filter_frame, regions_row_tables_and_empty_bitmaps) {
    test_support::EnsureQtApplication();
    TInvertFilter f;
    vcl::TBitmap b(100, 50);
    // Width 0, Height 0 from (0, 0): the whole bitmap.
    f.Region();
    EXPECT_EQ(f.ApplyRect(b), (TRect{0, 0, 99, 49}));
    // Width 10 from Left 5: Right 15, eleven columns.
    f.Region().Left = 5;
    f.Region().Width = 10;
    EXPECT_EQ(f.ApplyRect(b), (TRect{5, 0, 15, 49}));
    auto bitmap = Plain(100, 50, kWhite);
    f.ApplyTo(*bitmap);
    EXPECT_EQ(test_support::CountPixels(*bitmap->Handle(), gdi::RGB(0, 0, 0)), 11 * 50);
    EXPECT_EQ(bitmap->PixelFormat(), vcl::TPixelFormat::pf24bit);
    ASSERT_EQ(f.Lines.size(), 50u);
    EXPECT_EQ(f.Lines[7], bitmap->ScanLine(7));
    // A region starting outside the bitmap is cut to it; wholly outside,
    // nothing is filtered.
    f.Region().Left = -5;
    EXPECT_EQ(f.ApplyRect(b), (TRect{0, 0, 5, 49}));
    f.Region().Left = 200;
    f.Region().Top = -100;
    f.Region().Height = 20;
    const TRect outside = f.ApplyRect(b);
    EXPECT_LT(outside.Right, outside.Left);
    const auto before = test_support::PixelsOf(*bitmap->Handle());
    for (const TFilterClass* c : PlotFilterClasses()) {
        std::unique_ptr<TPlotFilter> filter = c->Create();
        if (!filter->AllowRegion) continue;
        filter->Region().Left = 200;
        // Whole-bitmap filters ignore regions; every pixel filter does nothing.
        if (c->Name == "TRotateFilter" || c->Name == "TResizeFilter" || c->Name == "TCropFilter" ||
            c->Name == "TTileFilter")
            continue;
        auto copy = std::make_unique<vcl::TBitmap>();
        copy->Assign(*bitmap);
        filter->ApplyTo(*copy);
        EXPECT_EQ(test_support::PixelsOf(*copy->Handle()), before) << c->Name;
    }
    // Bitmaps without pixels: every filter returns at once and leaves them
    // as they were. A bitmap of one white pixel: each filter works on that
    // pixel alone, never around it; inverted it turns black, mirrored
    // downwards it gains its white image below, and the rest keep it white.
    for (const TFilterClass* c : PlotFilterClasses()) {
        for (auto [w, h] : std::vector<std::pair<int, int>>{{0, 0}, {0, 7}, {7, 0}}) {
            vcl::TBitmap empty(w, h);
            c->Create()->ApplyTo(empty);
            EXPECT_EQ(empty.Width(), w) << c->Name << " " << w << "x" << h;
            EXPECT_EQ(empty.Height(), h) << c->Name << " " << w << "x" << h;
        }
        vcl::TBitmap one(1, 1);
        ASSERT_EQ(At(one, 0, 0), kWhite);
        c->Create()->ApplyTo(one);
        EXPECT_EQ(one.Width(), 1) << c->Name;
        ASSERT_EQ(one.Height(), c->Name == "TMirrorFilter" ? 2 : 1) << c->Name;
        for (int y = 0; y < one.Height(); ++y)
            EXPECT_EQ(At(one, 0, y), c->Name == "TInvertFilter" ? gdi::RGB(0, 0, 0) : kWhite) << c->Name;
    }
}

TEST(filter_frame, registered_in_order_with_descriptions_and_editor_controls) {
    test_support::EnsureQtApplication();
    const std::vector<std::string> names{
        "TInvertFilter",  "TGrayScaleFilter", "TMosaicFilter",        "TFlipFilter",   "TReverseFilter",
        "TBrightnessFilter", "TContrastFilter", "TColorFilter",       "THueLumSatFilter", "TBlurFilter",
        "TSharpenFilter", "TGammaCorrectionFilter", "TEmbossFilter",  "TSoftenFilter", "TCropFilter",
        "TResizeFilter",  "TRotateFilter",    "TMirrorFilter",        "TTileFilter",   "TBevelFilter",
        "TZoomFilter"};
    const std::vector<std::string> descriptions{
        "Invert", "Gray scale", "Mosaic",    "Flip",  "Reverse",  "Brightness", "Contrast",
        "Color",  "Hue,Lum,Sat", "Blur",     "Sharpen", "Gamma correction", "Emboss", "Antialias",
        "Crop",   "Resize",     "Rotate",    "Mirror", "Tile",    "Bevel",      "Zoom"};
    const auto& classes = PlotFilterClasses();
    ASSERT_EQ(classes.size(), names.size());
    for (std::size_t i = 0; i < classes.size(); ++i) {
        EXPECT_EQ(classes[i]->Name, names[i]);
        EXPECT_EQ(classes[i]->Description(), descriptions[i]);
        std::unique_ptr<TPlotFilter> f = classes[i]->Create();
        EXPECT_EQ(f->Description(), descriptions[i]);
        EXPECT_EQ(f->ClassName(), names[i]);
        EXPECT_EQ(&f->FilterClass(), classes[i]);
        EXPECT_EQ(FindFilterClass(names[i]), classes[i]);
        EXPECT_NE(vcl::PropertyTableOf(*f), nullptr) << names[i];
        EXPECT_EQ(f->AllowRegion, names[i] != "TMirrorFilter");
    }
    EXPECT_EQ(FindFilterClass("TNoSuchFilter"), nullptr);
    EXPECT_EQ(TAmountFilter().Description(), "TAmountFilter");
    EXPECT_EQ(TConvolveFilter().Description(), "TConvolveFilter");

    auto editor = [](TPlotFilter& f) {
        RecordingCreator c;
        bool told = false;
        f.CreateEditor(c, [&](vcl::TPersistent*) { told = true; });
        EXPECT_TRUE(static_cast<bool>(f.ChangeEvent));
        return c.asked;
    };
    using V = std::vector<std::string>;
    TBlurFilter blur;
    EXPECT_EQ(editor(blur), (V{"Scroll Steps 1..20", "Scroll Amount 0..50"}));
    TGrayScaleFilter grey;
    EXPECT_EQ(editor(grey), (V{"Combo Method"}));
    TInvertFilter invert;
    EXPECT_TRUE(editor(invert).empty());
    TColorFilter colour;
    EXPECT_EQ(editor(colour), (V{"Scroll Red -255..255", "Scroll Green -255..255", "Scroll Blue -255..255"}));
    THueLumSatFilter hls;
    EXPECT_EQ(editor(hls), (V{"Scroll Hue -255..255", "Scroll Luminance -255..255", "Scroll Saturation -255..255"}));
    TBevelFilter bevel;
    EXPECT_EQ(editor(bevel), (V{"Scroll Bright 1..255", "Scroll Size 1..1000"}));
    TCropFilter crop;
    EXPECT_EQ(editor(crop), (V{"Integer Width 'Width' 0..10000", "Integer Height 'Height' 0..10000",
                               "Integer Left 'Left' 0..10000", "Integer Top 'Top' 0..10000",
                               "CheckBox Smooth 'Smooth'"}));
    TRotateFilter rotate;
    EXPECT_EQ(editor(rotate), (V{"Scroll Angle 0..360", "Color BackColor 'Back'", "CheckBox AutoSize 'Autosize'"}));
    TMirrorFilter mirror;
    EXPECT_EQ(editor(mirror), (V{"Combo Direction"}));
    TTileFilter tile;
    EXPECT_EQ(editor(tile), (V{"Integer NumCols 'Columns' 1..1000", "Integer NumRows 'Rows' 1..1000"}));
    TZoomFilter zoom;
    EXPECT_EQ(editor(zoom), (V{"Scroll Percent 0..100", "CheckBox Smooth 'Smooth'"}));
    // Amount filters: the range follows Percent and OnlyPositive, and the
    // Percent box sets it again on the scroll bar while that lives.
    TBrightnessFilter bright;
    TGammaCorrectionFilter gamma;
    EXPECT_EQ(editor(gamma), (V{"Scroll Amount 0..100", "CheckBox Percent 'Percent'"}));
    RecordingCreator c;
    bright.CreateEditor(c, {});
    EXPECT_EQ(c.asked, (V{"Scroll Amount -100..100", "CheckBox Percent 'Percent'"}));
    bright.Percent = false;
    c.clicks[0]();
    EXPECT_EQ(c.scrolls[0]->min, -255);
    EXPECT_EQ(c.scrolls[0]->max, 255);
    c.scrolls.clear();  // the editor's controls are gone
    bright.Percent = true;
    c.clicks[0]();      // and nothing is reached through them
}

TEST(filter_frame, lists_copy_and_stream_their_filters_with_settings) {
    test_support::EnsureQtApplication();
    TFilterItems items;
    auto& blur = items.Add<TBlurFilter>();
    blur.Amount = 3;
    blur.Steps = 2;
    blur.Region().Left = 4;
    blur.Region().Height = 9;
    auto& grey = items.Add<TGrayScaleFilter>();
    grey.Method = gmEye2;
    grey.Enabled = false;
    auto& rotate = items.Add<TRotateFilter>();
    rotate.SetAngle(33.5);
    rotate.BackColor = vcl::clRed;
    rotate.AutoSize = false;
    auto& mosaic = items.Add<TMosaicFilter>();
    mosaic.Amount = 5;

    auto check = [](const TFilterItems& list) {
        ASSERT_EQ(list.Count(), 4);
        auto* b = dynamic_cast<TBlurFilter*>(&list.Items(0));
        auto* g = dynamic_cast<TGrayScaleFilter*>(&list.Items(1));
        auto* r = dynamic_cast<TRotateFilter*>(&list.Items(2));
        auto* m = dynamic_cast<TMosaicFilter*>(&list.Items(3));
        ASSERT_TRUE(b && g && r && m);
        EXPECT_EQ(b->Amount, 3);
        EXPECT_EQ(b->Steps, 2);
        ASSERT_NE(b->RegionIfAny(), nullptr);
        EXPECT_EQ(b->Region().Left, 4);
        EXPECT_EQ(b->Region().Height, 9);
        EXPECT_EQ(g->Method, gmEye2);
        EXPECT_FALSE(g->Enabled);
        EXPECT_EQ(g->RegionIfAny(), nullptr);
        EXPECT_EQ(r->Angle(), 33.5);
        EXPECT_EQ(r->BackColor, vcl::clRed);
        EXPECT_FALSE(r->AutoSize);
        // A mosaic saved with 5 (another class's default) reads back 5.
        EXPECT_EQ(m->Amount, 5);
    };
    // Copied: the same classes, in order, with their settings.
    TFilterItems copy;
    copy.Add<TInvertFilter>();
    copy.Assign(items);
    check(copy);
    // Streamed as "FilterItems" and read back.
    TPlotPicture picture;
    picture.Filters().Assign(items);
    EXPECT_TRUE(picture.FilterItemsStored());
    vcl::TMemoryStream stream;
    TWriter writer(stream);
    picture.WriteFilterItems(writer);
    stream.SetPosition(0);
    TReader reader(stream);
    EXPECT_EQ(reader.ReadPropName(), "FilterItems");
    TPlotPicture read;
    read.Filters().Add<TInvertFilter>();
    read.ReadFilterItems(reader);
    check(read.Filters());
    EXPECT_EQ(stream.Position(), stream.Size());
    // Defaults are not written: a default blur is its class name and nothing else.
    TFilterItems plain;
    plain.Add<TBlurFilter>();
    vcl::TMemoryStream small;
    TWriter w(small);
    plain.WriteItems(w);
    EXPECT_EQ(small.Size(), 1 + 1 + 1 + 9 + 1 + 1 + 11 + 1 + 1);
    // An empty picture list is not stored at all.
    TPlotPicture empty;
    vcl::TMemoryStream none;
    TWriter nw(none);
    empty.WriteFilterItems(nw);
    EXPECT_EQ(none.Size(), 0);
}

TEST(filter_frame, streams_that_cannot_be_read_leave_the_list_alone) {
    test_support::EnsureQtApplication();
    auto stream = [](const std::function<void(TWriter&)>& write) {
        auto s = std::make_unique<vcl::TMemoryStream>();
        TWriter w(*s);
        write(w);
        s->SetPosition(0);
        return s;
    };
    TFilterItems list;
    list.Add<TInvertFilter>();
    // An unknown class: a clear error naming it.
    auto unknown = stream([](TWriter& w) {
        w.WriteValue(TValueType::vaCollection);
        w.WriteListBegin();
        w.WritePropName("ItemClass");
        w.WriteString("TBlurFilter");
        w.WriteListEnd();
        w.WriteListBegin();
        w.WritePropName("ItemClass");
        w.WriteString("TSparkleFilter");
        w.WriteListEnd();
        w.WriteListEnd();
    });
    TReader r1(*unknown);
    try {
        list.ReadItems(r1);
        ADD_FAILURE() << "an unknown class was read";
    } catch (const EClassNotFound& e) {
        EXPECT_STREQ(e.what(), "Class TSparkleFilter not found");
    }
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0).ClassName(), "TInvertFilter");
    // An unknown property, a value of the wrong kind, a stream cut short.
    auto badProperty = stream([](TWriter& w) {
        w.WriteValue(TValueType::vaCollection);
        w.WriteListBegin();
        w.WritePropName("ItemClass");
        w.WriteString("TBlurFilter");
        w.WritePropName("Sparkle");
        w.WriteInteger(3);
        w.WriteListEnd();
        w.WriteListEnd();
    });
    TReader r2(*badProperty);
    EXPECT_THROW(list.ReadItems(r2), rtl::EReadError);
    auto badValue = stream([](TWriter& w) {
        w.WriteValue(TValueType::vaCollection);
        w.WriteListBegin();
        w.WritePropName("ItemClass");
        w.WriteString("TBlurFilter");
        w.WritePropName("Amount");
        w.WriteString("three");
        w.WriteListEnd();
        w.WriteListEnd();
    });
    TReader r3(*badValue);
    EXPECT_THROW(list.ReadItems(r3), rtl::EReadError);
    auto cut = stream([](TWriter& w) {
        w.WriteValue(TValueType::vaCollection);
        w.WriteListBegin();
        w.WritePropName("ItemClass");
    });
    TReader r4(*cut);
    EXPECT_THROW(list.ReadItems(r4), rtl::EReadError);
    ASSERT_EQ(list.Count(), 1);
    // An item index before an item is skipped; enumerations read by name.
    auto indexed = stream([](TWriter& w) {
        w.WriteValue(TValueType::vaCollection);
        w.WriteInteger(0);
        w.WriteListBegin();
        w.WritePropName("ItemClass");
        w.WriteString("TMirrorFilter");
        w.WritePropName("Direction");
        w.WriteIdent("mdLeft");
        w.WriteListEnd();
        w.WriteListEnd();
    });
    TReader r5(*indexed);
    list.ReadItems(r5);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(dynamic_cast<TMirrorFilter&>(list.Items(0)).Direction, mdLeft);
    // Properties by name, as editors set them, through the published tables.
    TBlurFilter blur;
    const vcl::TPropInfo* amount = vcl::GetPropInfo(blur, "amount");
    ASSERT_NE(amount, nullptr);
    EXPECT_EQ(amount->Default, 1);
    vcl::SetOrdProp(blur, *amount, 7);
    EXPECT_EQ(blur.Amount, 7);
    EXPECT_EQ(vcl::GetOrdProp(blur, *vcl::GetPropInfo(blur, "Enabled")), 1);
    TMirrorFilter mirror;
    const vcl::TPropInfo* direction = vcl::GetPropInfo(mirror, "Direction");
    ASSERT_NE(direction, nullptr);
    EXPECT_EQ(vcl::GetEnumName(*direction->EnumType, 3), "mdLeft");
    TRotateFilter rotate;
    const vcl::TPropInfo* angle = vcl::GetPropInfo(rotate, "Angle");
    ASSERT_NE(angle, nullptr);
    vcl::SetFloatProp(rotate, *angle, 12.5);
    EXPECT_EQ(rotate.Angle(), 12.5);
    TMosaicFilter mosaic;
    EXPECT_EQ(vcl::GetPropInfo(mosaic, "Amount")->Default, 8);
    EXPECT_EQ(vcl::GetPropInfo(mosaic, "Region")->Kind, vcl::TTypeKind::tkClass);
    // Values read from a stream are held to the property's range.
    auto huge = stream([](TWriter& w) {
        w.WriteValue(TValueType::vaCollection);
        w.WriteListBegin();
        w.WritePropName("ItemClass");
        w.WriteString("TBlurFilter");
        w.WritePropName("Steps");
        w.WriteInteger(1LL << 40);
        w.WriteListEnd();
        w.WriteListBegin();
        w.WritePropName("ItemClass");
        w.WriteString("TMirrorFilter");
        w.WritePropName("Direction");
        w.WriteInteger(99);
        w.WriteListEnd();
        w.WriteListEnd();
    });
    TReader r6(*huge);
    list.ReadItems(r6);
    EXPECT_EQ(dynamic_cast<TBlurFilter&>(list.Items(0)).Steps, INT32_MAX);
    EXPECT_EQ(dynamic_cast<TMirrorFilter&>(list.Items(1)).Direction, mdLeft);
}

TEST(filter_frame, the_filtered_picture_is_kept_until_something_changes) {
    test_support::EnsureQtApplication();
    // A filter that counts its applications.
    struct TCounting : TInvertFilter {
        int* count;
        explicit TCounting(int* c) : count(c) {}
        void Apply(vcl::TBitmap& b, const TRect& r) override {
            ++*count;
            TInvertFilter::Apply(b, r);
        }
    };
    static const bool published = [] {
        vcl::RegisterProperties<TCounting, TInvertFilter>();
        return true;
    }();
    (void)published;
    int applied = 0;
    TPlotPicture picture;
    auto image = Plain(10, 10, gdi::RGB(10, 20, 30));
    picture.SetGraphic(image.get());
    auto& filter = dynamic_cast<TCounting&>(picture.Filters().Adopt(std::make_unique<TCounting>(&applied)));
    vcl::TGraphic* first = picture.FilteredGraphic();
    EXPECT_EQ(At(dynamic_cast<vcl::TBitmap&>(*first), 5, 5), gdi::RGB(245, 235, 225));
    EXPECT_EQ(picture.FilteredGraphic(), first);
    EXPECT_EQ(applied, 1);
    // A setting of a filter changes: filtered again.
    filter.Region().Width = 3;
    picture.FilteredGraphic();
    EXPECT_EQ(applied, 2);
    // The picture's pixels change: filtered again.
    picture.Bitmap().Handle()->SetPixel(1, 1, kWhite);
    auto* again = dynamic_cast<vcl::TBitmap*>(picture.FilteredGraphic());
    EXPECT_EQ(applied, 3);
    EXPECT_EQ(At(*again, 1, 1), gdi::RGB(0, 0, 0));
    filter.Enabled = false;
    EXPECT_EQ(At(dynamic_cast<vcl::TBitmap&>(*picture.FilteredGraphic()), 1, 1), kWhite);
    // A filter whose class publishes nothing cannot tell a change: the list
    // is filtered every time.
    struct TUnpublished : TCounting {
        using TCounting::TCounting;
    };
    filter.Enabled = true;
    picture.Filters().Adopt(std::make_unique<TUnpublished>(&applied));
    applied = 0;
    picture.FilteredGraphic();
    picture.FilteredGraphic();
    EXPECT_EQ(applied, 4);
}

TEST(filter_frame, the_image_control_paints_its_picture_filtered) {
    test_support::EnsureQtApplication();
    TImageFiltered image(nullptr);
    image.SetBounds(0, 0, 40, 30);
    auto picture = Plain(20, 10, gdi::RGB(0, 0, 0));
    image.Picture().SetGraphic(picture.get());
    image.Filters().Add<TInvertFilter>();
    vcl::TBitmap target(40, 30);
    image.Paint(target.Canvas());
    EXPECT_EQ(test_support::InkBoxOf(*target.Handle()), (gdi::RECT{}));  // white on white
    // Centred, at its own size: drawn where the control centres it.
    image.Filters().Clear();
    image.Filters().Add<TColorFilter>().Red = 200;
    image.SetCenter(true);
    target.Handle()->Fill(kWhite);
    image.Paint(target.Canvas());
    EXPECT_EQ(test_support::InkBoxOf(*target.Handle()), (gdi::RECT{10, 10, 30, 20}));
    EXPECT_EQ(At(target, 15, 15), gdi::RGB(200, 0, 0));
    // Stretched: resampled to the control first, then filtered.
    image.SetStretch(true);
    auto filtered = image.FilteredBitmap();
    ASSERT_NE(filtered, nullptr);
    EXPECT_EQ(filtered->Width(), 40);
    EXPECT_EQ(filtered->Height(), 30);
    EXPECT_EQ(At(*filtered, 20, 15), gdi::RGB(200, 0, 0));
    // A paint of the control's window shows the same.
    const QImage shown = image.Widget()->grab().toImage();
    ASSERT_EQ(shown.width(), 40);
    EXPECT_EQ(shown.pixel(20, 15) & 0xFFFFFFu, 0xC80000u);
    EXPECT_EQ(shown.pixel(1, 1) & 0xFFFFFFu, 0xC80000u);
    // Kept in streams like a picture's filters.
    EXPECT_TRUE(image.FilterItemsStored());
    vcl::TMemoryStream s;
    TWriter w(s);
    image.WriteFilterItems(w);
    s.SetPosition(0);
    TReader r(s);
    EXPECT_EQ(r.ReadPropName(), "FilterItems");
    TImageFiltered other(nullptr);
    other.ReadFilterItems(r);
    ASSERT_EQ(other.Filters().Count(), 1);
    EXPECT_EQ(dynamic_cast<TColorFilter&>(other.Filters().Items(0)).Red, 200);
}

TEST(pixel_filters, convolutions) {
    test_support::EnsureQtApplication();
    // Blur with Amount 0 averages the eight neighbours (Factor 1/8); the
    // rectangle's outer rows and columns stay.
    auto b = Plain(5, 5, gdi::RGB(0, 0, 0));
    b->Handle()->SetPixel(2, 2, gdi::RGB(255, 255, 255));
    b->Handle()->SetPixel(1, 1, gdi::RGB(80, 80, 80));
    TBlurFilter blur;
    blur.Amount = 0;
    blur.ApplyTo(*b);
    EXPECT_EQ(At(*b, 2, 2), gdi::RGB(10, 10, 10));  // 80 / 8
    EXPECT_EQ(At(*b, 1, 2), gdi::RGB(42, 42, 42));  // (255 + 80) / 8, rounded
    EXPECT_EQ(At(*b, 0, 0), gdi::RGB(0, 0, 0));
    EXPECT_FLOAT_EQ(blur.Factor, 0.125f);
    // Weights that sum to 0 (Amount -8) leave every pixel as it was.
    auto s = Scrambled(9, 9);
    const auto before = test_support::PixelsOf(*s->Handle());
    blur.Amount = -8;
    blur.ApplyTo(*s);
    EXPECT_EQ(test_support::PixelsOf(*s->Handle()), before);
    // Steps below 1 do nothing; a huge Steps ends.
    blur.Amount = 1;
    blur.Steps = 0;
    blur.ApplyTo(*s);
    EXPECT_EQ(test_support::PixelsOf(*s->Handle()), before);
    blur.Steps = 1000000000;
    const auto start = std::chrono::steady_clock::now();
    blur.ApplyTo(*s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    // Emboss over uniform grey keeps 100 (100 x -1 x -1).
    auto grey = Plain(6, 6, gdi::RGB(100, 100, 100));
    TEmbossFilter().ApplyTo(*grey);
    EXPECT_EQ(test_support::CountPixels(*grey->Handle(), gdi::RGB(100, 100, 100)), 36);
    // Sharpen and soften keep a uniform area too; sharpen lifts a bright dot.
    TSharpenFilter().ApplyTo(*grey);
    TSoftenFilter().ApplyTo(*grey);
    EXPECT_EQ(test_support::CountPixels(*grey->Handle(), gdi::RGB(100, 100, 100)), 36);
    grey->Handle()->SetPixel(3, 3, gdi::RGB(140, 140, 140));
    TSharpenFilter().ApplyTo(*grey);
    EXPECT_EQ(At(*grey, 3, 3), gdi::RGB(180, 180, 180));  // 2 * 140 - 8 * 0.125 * 100
}

TEST(pixel_filters, per_pixel_rules) {
    test_support::EnsureQtApplication();
    auto one = [](gdi::COLORREF c, TPlotFilter& f) {
        auto b = Plain(3, 3, c);
        f.ApplyTo(*b);
        return At(*b, 1, 1);
    };
    TInvertFilter invert;
    EXPECT_EQ(one(gdi::RGB(10, 200, 255), invert), gdi::RGB(245, 55, 0));
    TGrayScaleFilter grey;
    EXPECT_EQ(one(gdi::RGB(30, 60, 91), grey), gdi::RGB(60, 60, 60));
    grey.Method = gmEye;
    EXPECT_EQ(one(gdi::RGB(100, 200, 50), grey), gdi::RGB(154, 154, 154));  // 30 + 118 + 5.5, even
    grey.Method = gmEye2;
    EXPECT_EQ(one(kWhite, grey), kWhite);
    // Brightness 10 percent adds 26 (255 times the single 0.1 is above 25.5).
    TBrightnessFilter bright;
    bright.Amount = 10;
    EXPECT_EQ(one(gdi::RGB(0, 100, 240), bright), gdi::RGB(26, 126, 255));
    bright.Percent = false;
    bright.Amount = -50;
    EXPECT_EQ(one(gdi::RGB(0, 100, 240), bright), gdi::RGB(0, 50, 190));
    TContrastFilter contrast;
    contrast.Percent = false;
    contrast.Amount = 128;
    EXPECT_EQ(one(gdi::RGB(0, 128, 255), contrast), gdi::RGB(0, 128, 255));  // 0 - 64, 128, 255 + 63
    contrast.Amount = 64;
    EXPECT_EQ(one(gdi::RGB(28, 128, 228), contrast), gdi::RGB(3, 128, 253));
    TGammaCorrectionFilter gamma;
    gamma.Amount = 100;
    EXPECT_EQ(one(gdi::RGB(0, 77, 255), gamma), gdi::RGB(0, 77, 255));
    gamma.Amount = 50;
    EXPECT_EQ(one(gdi::RGB(0, 128, 255), gamma), gdi::RGB(0, 64, 255));
    TColorFilter colour;
    colour.Red = 300;
    colour.Blue = -20;
    EXPECT_EQ(one(gdi::RGB(5, 6, 7), colour), gdi::RGB(255, 6, 0));
    // Hue, luminance and saturation: greys have no hue to turn; luminance
    // lightens; a full turn of red's hue comes back near red.
    THueLumSatFilter hls;
    hls.Hue = 80;
    EXPECT_EQ(one(gdi::RGB(90, 90, 90), hls), gdi::RGB(90, 90, 90));
    EXPECT_EQ(one(gdi::RGB(255, 0, 0), hls), gdi::RGB(0, 255, 0));
    hls.Hue = 0;
    hls.Luminance = 240;
    EXPECT_EQ(one(gdi::RGB(255, 0, 0), hls), kWhite);
    const THLS red = RGBToHLS(255, 0, 0);
    EXPECT_EQ(red.H, 0);
    EXPECT_EQ(red.L, 120);
    EXPECT_EQ(red.S, 240);
    int r, g, b;
    HLSToRGB({160, 120, 240}, r, g, b);
    EXPECT_EQ(gdi::RGB(r, g, b), gdi::RGB(0, 0, 255));
    // Bevel: the top row lighter, the bottom row darker, inner pixels alone.
    auto bevelled = Plain(20, 20, gdi::RGB(100, 100, 100));
    TBevelFilter bevel;
    bevel.Size = 2;
    bevel.Bright = 50;
    bevel.ApplyTo(*bevelled);
    EXPECT_EQ(At(*bevelled, 10, 0), gdi::RGB(150, 150, 150));
    EXPECT_EQ(At(*bevelled, 10, 19), gdi::RGB(50, 50, 50));
    EXPECT_EQ(At(*bevelled, 0, 10), gdi::RGB(150, 150, 150));
    EXPECT_EQ(At(*bevelled, 19, 10), gdi::RGB(50, 50, 50));
    EXPECT_EQ(At(*bevelled, 10, 10), gdi::RGB(100, 100, 100));
    bevel.Size = 1000000000;
    bevel.ApplyTo(*bevelled);
    // Flip on four rows exchanges 0 and 3, 1 and 2; on five the middle stays.
    for (int rows : {4, 5}) {
        auto f = Scrambled(3, rows);
        auto copy = Scrambled(3, rows);
        TFlipFilter().ApplyTo(*f);
        for (int y = 0; y < rows; ++y) EXPECT_EQ(At(*f, 1, y), At(*copy, 1, rows - 1 - y));
    }
    auto rev = Scrambled(5, 2), copy = Scrambled(5, 2);
    TReverseFilter().ApplyTo(*rev);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(At(*rev, x, 1), At(*copy, 4 - x, 1));
}

TEST(pixel_filters, mosaic_blocks_and_their_edges) {
    test_support::EnsureQtApplication();
    // Amount 8 on 100 x 100: full blocks at 0, 8, ..., 88; the last column
    // of blocks covers 96..99, the last row 96..98; row 99 is unchanged.
    auto b = Scrambled(100, 100), original = Scrambled(100, 100);
    TMosaicFilter mosaic;
    EXPECT_EQ(mosaic.Amount, 8);
    mosaic.ApplyTo(*b);
    auto uniform = [&](int x0, int y0, int x1, int y1) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (At(*b, x, y) != At(*b, x0, y0)) return false;
        return true;
    };
    EXPECT_TRUE(uniform(0, 0, 7, 7));
    EXPECT_TRUE(uniform(88, 88, 95, 95));
    EXPECT_TRUE(uniform(96, 0, 99, 7));
    EXPECT_TRUE(uniform(96, 96, 99, 98));
    EXPECT_FALSE(uniform(0, 0, 8, 7));
    for (int x = 0; x < 100; ++x) EXPECT_EQ(At(*b, x, 99), At(*original, x, 99));
    // The block's colour is its average, rounded.
    auto two = Plain(2, 3, gdi::RGB(10, 10, 10));
    two->Handle()->SetPixel(1, 0, gdi::RGB(13, 13, 13));
    mosaic.Amount = 2;
    mosaic.ApplyTo(*two);
    EXPECT_EQ(At(*two, 0, 0), gdi::RGB(11, 11, 11));  // (10 + 13 + 10 + 10) / 4 = 10.75
    EXPECT_EQ(At(*two, 0, 2), gdi::RGB(10, 10, 10));  // the region's bottom row is no block's
    mosaic.Amount = 1000000;
    mosaic.ApplyTo(*b);
    mosaic.Amount = 0;
    mosaic.ApplyTo(*b);
}

TEST(geometric_filters, rotate_mirror_zoom_tile_resize_and_crop) {
    test_support::EnsureQtApplication();
    // 450 degrees turns by 90 and keeps 90.
    auto b = Scrambled(4, 3), original = Scrambled(4, 3);
    TRotateFilter rotate;
    rotate.SetAngle(450);
    rotate.ApplyTo(*b);
    EXPECT_EQ(rotate.Angle(), 90);
    ASSERT_EQ(b->Width(), 3);
    ASSERT_EQ(b->Height(), 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(At(*b, 2 - y, x), At(*original, x, y));
    // 180 on 4 x 4: exactly the pixel-by-pixel half turn.
    auto h = Scrambled(4, 4), hOriginal = Scrambled(4, 4);
    rotate.SetAngle(180);
    rotate.ApplyTo(*h);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(At(*h, 3 - x, 3 - y), At(*hOriginal, x, y));
    // Huge and non-finite angles end at once.
    auto s = Scrambled(20, 10);
    rotate.SetAngle(1e300);
    const auto start = std::chrono::steady_clock::now();
    rotate.ApplyTo(*s);
    EXPECT_LT(rotate.Angle(), 360);
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        auto n = Scrambled(20, 10);
        rotate.SetAngle(bad);
        rotate.ApplyTo(*n);
        EXPECT_EQ(n->Width(), 20);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // 30 degrees with AutoSize grows; uncovered corners take BackColor.
    auto t = Plain(40, 20, gdi::RGB(0, 0, 0));
    rotate.SetAngle(30);
    rotate.BackColor = vcl::clRed;
    rotate.ApplyTo(*t);
    EXPECT_GT(t->Width(), 40);
    EXPECT_EQ(At(*t, 0, 0), gdi::RGB(255, 0, 0));
    EXPECT_EQ(At(*t, t->Width() / 2, t->Height() / 2), gdi::RGB(0, 0, 0));

    // Mirror to the left: 10 x 5 becomes 20 x 5, the mirrored copy left.
    auto m = Scrambled(10, 5), mOriginal = Scrambled(10, 5);
    TMirrorFilter mirror;
    mirror.Direction = mdLeft;
    mirror.ApplyTo(*m);
    ASSERT_EQ(m->Width(), 20);
    ASSERT_EQ(m->Height(), 5);
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(At(*m, 10 + x, 2), At(*mOriginal, x, 2));
        EXPECT_EQ(At(*m, 9 - x, 2), At(*mOriginal, x, 2));
    }
    mirror.Direction = mdDown;
    auto d = Scrambled(3, 4), dOriginal = Scrambled(3, 4);
    mirror.ApplyTo(*d);
    ASSERT_EQ(d->Height(), 8);
    EXPECT_EQ(At(*d, 1, 7), At(*dOriginal, 1, 0));
    EXPECT_EQ(At(*d, 1, 0), At(*dOriginal, 1, 0));

    // Zoom 10 percent of a whole 100 x 100: the crop from (5, 5), 90 x 90.
    TZoomFilter zoom;
    const auto crop = zoom.CropFor({0, 0, 99, 99}, 0, 0);
    EXPECT_EQ(crop->Left, 5);
    EXPECT_EQ(crop->Top, 5);
    EXPECT_EQ(crop->Width, 90);
    EXPECT_EQ(crop->Height, 90);
    auto z = Scrambled(100, 100), zOriginal = Scrambled(100, 100);
    zoom.ApplyTo(*z);
    EXPECT_EQ(At(*z, 0, 0), At(*zOriginal, 5, 5));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(At(*z, 99, i), At(*zOriginal, 99, i));  // the last column keeps its pixels
    // Zoomed within a region of a larger bitmap: outside it, nothing changes.
    auto zr = Scrambled(60, 40), zrOriginal = Scrambled(60, 40);
    zoom.Region() = {};
    zoom.Region().Left = 10;
    zoom.Region().Top = 10;
    zoom.Region().Width = 20;
    zoom.Region().Height = 20;
    zoom.ApplyTo(*zr);
    EXPECT_EQ(At(*zr, 5, 5), At(*zrOriginal, 5, 5));
    EXPECT_EQ(At(*zr, 45, 35), At(*zrOriginal, 45, 35));

    // Tile: NumCols 0 is stored as 1; tiles of the whole bitmap shrunk.
    auto tl = Plain(30, 20, gdi::RGB(50, 60, 70));
    TTileFilter tile;
    tile.NumCols = 0;
    tile.NumRows = 2;
    tile.ApplyTo(*tl);
    EXPECT_EQ(tile.NumCols, 1);
    EXPECT_NEAR(gdi::GetGValue(At(*tl, 3, 12)), 60, 2);
    tile.NumCols = 1000;
    tile.ApplyTo(*tl);

    // Resize: the new size; too large a size is refused, the bitmap kept.
    auto rs = Plain(30, 20, gdi::RGB(50, 60, 70));
    TResizeFilter resize;
    resize.Width = 15;
    resize.Height = 10;
    resize.ApplyTo(*rs);
    EXPECT_EQ(rs->Width(), 15);
    EXPECT_NEAR(gdi::GetRValue(At(*rs, 7, 5)), 50, 2);
    resize.Width = 1000000;
    EXPECT_THROW(resize.ApplyTo(*rs), gdi::EGdiError);
    EXPECT_EQ(rs->Width(), 15);
    TMirrorFilter tall;
    auto big = Plain(10, 20000, kWhite);
    EXPECT_THROW(tall.ApplyTo(*big), gdi::EGdiError);
    EXPECT_EQ(big->Height(), 20000);
    // Crop: the part stretched over the whole bitmap, whose size stays.
    auto c = Scrambled(40, 30), cOriginal = Scrambled(40, 30);
    TCropFilter cropper;
    cropper.Left = 10;
    cropper.Top = 5;
    cropper.Width = 20;
    cropper.Height = 15;
    cropper.ApplyTo(*c);
    EXPECT_EQ(c->Width(), 40);
    EXPECT_EQ(At(*c, 0, 0), At(*cOriginal, 10, 5));
    cropper.Width = 0;
    const auto kept = test_support::PixelsOf(*c->Handle());
    cropper.ApplyTo(*c);
    EXPECT_EQ(test_support::PixelsOf(*c->Handle()), kept);
}

}  // namespace
