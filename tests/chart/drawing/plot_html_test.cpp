// Markup in chart texts, through the chart surface down to the device
// context: where each run lands and in which font, what the tags push and
// pop, sub- and superscripts on their line, images and their placeholder,
// the errors, the plain fallback, and samples written as a PNG file.
#include "chart/drawing/plot_html.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/picture.h"
#include "platform/vcl/streams.h"
#include "support/chart_surfaces.h"
#include "support/png_file.h"
#include "support/qt_app.h"

namespace {

using namespace chart;
using test_support::RasterChart;
using test_support::RecordingChart;
using Texts = std::vector<std::string>;

constexpr gdi::COLORREF kRed = gdi::RGB(255, 0, 0);
constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);

struct TextRun {
    std::string Text;
    int X, Y;
    gdi::LOGFONT Font;
    gdi::COLORREF Color;
};

// A recording surface in the default chart font; Draw answers the text runs
// the device context got.
struct Markup {
    RecordingChart r{400, 300};
    Markup() { r.canvas.ResetState(); }
    std::vector<TextRun> Runs() const {
        std::vector<TextRun> out;
        for (const gdi::Record& rec : r.Of(gdi::RecordOp::TextOut))
            out.push_back({std::string(rec.Text.begin(), rec.Text.end()), rec.Args[0], rec.Args[1],
                           rec.State.Font->Log(), rec.State.TextColor});
        return out;
    }
    std::vector<TextRun> Draw(int x, int y, const std::string& text) {
        r.canvas.ResetState();
        r.dc->ClearRecords();
        HtmlTextOut(r.canvas, x, y, text);
        return Runs();
    }
    // "text x y" of each run, drawn from (10, 20).
    Texts Places(const std::string& text) {
        Texts out;
        for (const TextRun& run : Draw(10, 20, text))
            out.push_back(run.Text + " " + std::to_string(run.X) + " " + std::to_string(run.Y));
        return out;
    }
    // Font height, and text width, in the default font at a size and style.
    int HeightAt(int points) {
        return Measure(points, 0, [&] { return r.canvas.FontHeight(); });
    }
    int Width(const std::string& text, vcl::TFontStyles style = 0, int points = 8) {
        return Measure(points, style, [&] { return r.canvas.TextWidth(text); });
    }
    template <class F>
    int Measure(int points, vcl::TFontStyles style, F f) {
        r.canvas.ResetState();
        r.canvas.Font->SetSize(points);
        r.canvas.Font->SetStyle(style);
        return f();
    }
};

std::string At(int x, int y) { return " " + std::to_string(x) + " " + std::to_string(y); }
int Height(int points) { return -vcl::MulDiv(points, 96, 72); }

TEST(plot_html, runs_lines_entities_and_unknown_tags_follow_the_layout) {
    test_support::EnsureQtApplication();
    Markup m;
    const int fh = m.HeightAt(8);
    // Entities: "&lt;" before "&amp;", each over the whole run once.
    EXPECT_EQ(m.Places("a&lt;b&amp;lt;&gt;&quot;"), Texts{"a<b&lt;>\"" + At(10, 20)});
    // Two breaks advance one line (the advance comes with the next run); a
    // CR LF starting a token advances at once and again at the next run.
    EXPECT_EQ(m.Places("one<BR><P>two"), (Texts{"one" + At(10, 20), "two" + At(10, 20 + fh)}));
    EXPECT_EQ(m.Places("one<BR>\r\ntwo"), (Texts{"one" + At(10, 20), "two" + At(10, 20 + 2 * fh)}));
    // A run ending in CR LF ends its line after it is drawn; lower-case tags.
    EXPECT_EQ(m.Places("one\r\n<b>two</B>3"),
              (Texts{"one" + At(10, 20), "two" + At(10, 20 + fh),
                     "3" + At(10 + m.Width("two", vcl::fsBold), 20 + fh)}));
    // A tag outside the table is text; "</>" with nothing open is "</".
    const int xq = 10 + m.Width("x"), xy = xq + m.Width("<q>");
    EXPECT_EQ(m.Places("x<q>y</>"), (Texts{"x" + At(10, 20), "<q>" + At(xq, 20), "y" + At(xy, 20),
                                           "</" + At(xy + m.Width("y"), 20)}));
    // Centring in the surface's bounds.
    EXPECT_EQ(m.Places("<CENTER>mid</CENTER>"), Texts{"mid" + At(200 - m.Width("mid") / 2, 20)});
    // A rule: grey, 100 pixels from the start at the line's Y, then a line down.
    EXPECT_EQ(m.Places("a<HR>b"), (Texts{"a" + At(10, 20), "b" + At(10, 20 + fh)}));
    ASSERT_EQ(m.r.Of(gdi::RecordOp::LineTo).size(), 1u);
    EXPECT_EQ(m.r.Of(gdi::RecordOp::MoveTo)[0].Args, (std::vector<int>{10, 20}));
    EXPECT_EQ(m.r.Of(gdi::RecordOp::LineTo)[0].Args, (std::vector<int>{110, 20}));
    EXPECT_EQ(m.r.Of(gdi::RecordOp::LineTo)[0].State.Pen->Log().elpColor, gdi::RGB(128, 128, 128));
}

TEST(plot_html, tags_push_and_pop_the_font_exactly) {
    test_support::EnsureQtApplication();
    Markup m;
    // A heading closed by "</>": the text after it in the font before.
    auto runs = m.Draw(0, 0, "<H1>Title</>after<h6>small<strong>x</>y");
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].Font.lfHeight, Height(48));
    EXPECT_EQ(runs[1].Font.lfHeight, Height(8));
    EXPECT_EQ(runs[2].Font.lfHeight, Height(8));
    EXPECT_EQ(runs[3].Font.lfWeight, gdi::FW_BOLD);
    EXPECT_EQ(runs[4].Font.lfWeight, gdi::FW_NORMAL);
    // FONT: "#RRGGBB", a relative size, names with blanks (in capitals),
    // weights, the class library's colour names and numbers; each "</FONT>"
    // restores one; PRE is the fixed font.
    runs = m.Draw(
        0, 0,
        "<font color=#FF8000 size=+2>w<FONT NAME=\"Courier New\" SIZE=12 WEIGHT=bold, italic>a"
        "<FONT COLOR=clNavy WEIGHT=UNDERLINE,STRIKE>b</FONT></FONT>c</FONT>d<PRE>m</PRE>n");
    ASSERT_EQ(runs.size(), 7u);
    EXPECT_EQ(runs[0].Color, gdi::RGB(255, 128, 0));
    EXPECT_EQ(runs[0].Font.lfHeight, Height(10));
    EXPECT_EQ(runs[1].Font.lfFaceName, "COURIER NEW");
    EXPECT_EQ(runs[1].Font.lfHeight, Height(12));
    EXPECT_TRUE(runs[1].Font.lfWeight == gdi::FW_BOLD && runs[1].Font.lfItalic);
    EXPECT_EQ(runs[2].Color, gdi::RGB(0, 0, 128));
    EXPECT_TRUE(runs[2].Font.lfUnderline && runs[2].Font.lfStrikeOut &&
                runs[2].Font.lfWeight == gdi::FW_NORMAL);
    EXPECT_EQ(runs[3].Font.lfHeight, Height(10));
    EXPECT_EQ(runs[4].Font.lfFaceName, "Arial");
    EXPECT_EQ(runs[4].Font.lfHeight, Height(8));
    EXPECT_EQ(runs[4].Color, gdi::RGB(0, 0, 0));
    EXPECT_EQ(runs[5].Font.lfFaceName, "COURIER NEW");
    EXPECT_EQ(runs[6].Font.lfFaceName, "Arial");
    // A font given as a cell height (a negative size in points) comes back
    // exactly after BIG and after a relative size.
    m.r.canvas.ResetState();
    m.r.canvas.Font->SetHeight(20);
    m.r.dc->ClearRecords();
    HtmlTextOut(m.r.canvas, 0, 0, "<BIG>x</>y<FONT SIZE=-3>s</FONT>t");
    runs = m.Runs();
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].Font.lfHeight, -vcl::MulDiv(-15 + 2, 96, 72));
    EXPECT_EQ(runs[1].Font.lfHeight, 20);
    EXPECT_EQ(runs[2].Font.lfHeight, -vcl::MulDiv(-15 - 3, 96, 72));
    EXPECT_EQ(runs[3].Font.lfHeight, 20);
}

TEST(plot_html, every_call_starts_with_empty_stacks_and_closers_take_their_tag) {
    test_support::EnsureQtApplication();
    Markup m;
    auto texts = [&](const std::string& text) {
        Texts out;
        for (const TextRun& run : m.Draw(0, 0, text))
            out.push_back(run.Text + (run.Font.lfWeight == gdi::FW_BOLD ? "*" : "") +
                          (run.Font.lfItalic ? "/" : ""));
        return out;
    };
    // A tag one text leaves open is not what another text's "</>" closes.
    m.Draw(0, 0, "<B>left open");
    EXPECT_EQ(texts("</>z"), (Texts{"</", "z"}));
    // Closed tags are gone; nested ones are closed one by one; a pop with
    // nothing pushed leaves the font alone.
    EXPECT_EQ(texts("<I>a</I><B>b</B>c</>d"), (Texts{"a/", "b*", "c", "</", "d"}));
    EXPECT_EQ(texts("<I><B>x</>y</>z</>"), (Texts{"x*/", "y/", "z", "</"}));
    EXPECT_EQ(texts("<B><I>x</B>y</>z</>"), (Texts{"x*/", "y/", "z", "</"}));
    EXPECT_EQ(texts("xB><I>y</I>"), (Texts{"xB>", "y/"}));  // text that ends like a tag
    EXPECT_EQ(m.Draw(0, 0, "</FONT>k")[0].Font.lfHeight, Height(8));
}

TEST(plot_html, sub_and_superscripts_leave_the_line_where_it_was) {
    test_support::EnsureQtApplication();
    Markup m;
    const int fh8 = m.HeightAt(8), fh4 = m.HeightAt(4), fh16 = m.HeightAt(16);
    // A lower run sits on the line's bottom: down by the line height less
    // its height, less one, for itself only.
    const int lowered = fh8 - fh4 - 1;
    const int xO = 10 + m.Width("H") + m.Width("2", 0, 4);
    EXPECT_EQ(m.Places("H<SUB>2</SUB>O"),
              (Texts{"H" + At(10, 20), "2" + At(10 + m.Width("H"), 20 + fh4 + lowered),
                     "O" + At(xO, 20)}));
    EXPECT_EQ(m.Draw(10, 20, "H<SUB>2</SUB>O")[1].Font.lfHeight, Height(4));
    const auto sup = m.Draw(10, 20, "x<SUPER>2</SUPER>y");
    EXPECT_EQ(sup[1].Y, 20 - fh4 / 2 + lowered);
    EXPECT_EQ(sup[2].Y, 20);
    // Many of them, closed either way: no drift.
    auto runs = m.Draw(10, 20, "a<SUB>1</SUB>b<SUB>2</SUB>c<SUPER>3</SUPER>d<SUB>4</>e");
    ASSERT_EQ(runs.size(), 9u);
    for (std::size_t i : {0u, 2u, 4u, 6u, 8u}) EXPECT_EQ(runs[i].Y, 20) << runs[i].Text;
    EXPECT_TRUE(runs[1].Y == runs[3].Y && runs[3].Y == runs[7].Y);
    // Big, small, big, small: the small runs lowered, the big ones not.
    runs = m.Draw(10, 20, "<FONT SIZE=16>A</FONT>b<FONT SIZE=16>C</FONT>d");
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].Y, 20);
    EXPECT_EQ(runs[1].Y, 20 + fh16 - fh8 - 1);
    EXPECT_EQ(runs[2].Y, 20);
    EXPECT_EQ(runs[3].Y, runs[1].Y);
}

TEST(plot_html, extent_errors_and_the_plain_fallback) {
    test_support::EnsureQtApplication();
    Markup m;
    const int fh8 = m.HeightAt(8), fh48 = m.HeightAt(48);
    // The widest line and the tallest line, nothing drawn.
    m.r.canvas.ResetState();
    m.r.dc->ClearRecords();
    EXPECT_EQ(HtmlTextExtent(m.r.canvas, "short<BR>a longer line").cx, m.Width("a longer line"));
    m.r.canvas.ResetState();
    EXPECT_EQ(HtmlTextExtent(m.r.canvas, "short<BR>a longer line").cy, fh8);
    m.r.canvas.ResetState();
    EXPECT_EQ(HtmlTextExtent(m.r.canvas, "<H1>Big</>small").cy, fh48);
    m.r.canvas.ResetState();
    EXPECT_EQ(HtmlTextExtent(m.r.canvas, "a<HR><IMG SRC=x.png>b").cx, 40 + m.Width("b"));
    EXPECT_TRUE(m.r.Drawing().empty());

    auto message = [&](const std::string& text) -> std::string {
        try {
            m.Draw(0, 0, text);
        } catch (const HtmlParserException& e) {
            return std::string("parser: ") + e.what();
        } catch (const rtl::EConvertError& e) {
            return std::string("convert: ") + e.what();
        } catch (const rtl::Exception& e) {
            return e.what();
        }
        return "none";
    };
    EXPECT_EQ(message("ab<c d"), "parser: Missing > at c d");
    EXPECT_EQ(m.Runs().size(), 1u);  // what came before stays drawn
    EXPECT_EQ(message("<FONT WEIGHT=BOLD,HEAVY>"), "Unknown field in FONT WEIGHT=HEAVY");
    EXPECT_EQ(message("<FONT SHADE=1>"), "Unknown field in FONT: SHADE");
    EXPECT_EQ(message("<FONT SIZE=big>"), "convert: 'BIG' is not a valid integer value");
    EXPECT_EQ(message("<FONT COLOR=#12>"), "convert: '$' is not a valid integer value");
    EXPECT_EQ(message("<FONT COLOR=chartreuse>"),
              "convert: 'CHARTREUSE' is not a valid integer value");
    EXPECT_EQ(message("<IMG SRC=a.png WIDTH=wide>"),
              "convert: 'wide' is not a valid integer value");
    EXPECT_EQ(message("<FONT SIZE=2147483647>x"), "none");  // held to a size a font can have
    EXPECT_THROW(m.r.canvas.TextOutHtml(0, 0, "<B", true), HtmlParserException);

    // The fallback: nothing of the markup; the text as it is, line by line,
    // in the caller's font, and measured so.
    const std::string broken = "<B>bold</B>\r\nnext <oops";
    m.r.canvas.ResetState();
    m.r.dc->ClearRecords();
    HtmlTextOutOrPlain(m.r.canvas, 5, 6, broken);
    const auto runs = m.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].Text + At(runs[0].X, runs[0].Y), "<B>bold</B>" + At(5, 6));
    EXPECT_EQ(runs[1].Text + At(runs[1].X, runs[1].Y), "next <oops" + At(5, 6 + fh8));
    EXPECT_EQ(runs[0].Font.lfWeight, gdi::FW_NORMAL);
    const vcl::TSize plain = HtmlTextExtentOrPlain(m.r.canvas, broken);
    EXPECT_EQ(plain.cx, std::max(m.Width("<B>bold</B>"), m.Width("next <oops")));
    EXPECT_EQ(plain.cy, 2 * fh8);
    // Readable markup goes through as markup.
    m.r.canvas.ResetState();
    m.r.dc->ClearRecords();
    HtmlTextOutOrPlain(m.r.canvas, 5, 6, "<B>a</B>b");
    EXPECT_EQ(m.Runs()[1].X, 5 + m.Width("a", vcl::fsBold));
    m.r.canvas.ResetState();
    EXPECT_EQ(HtmlTextExtentOrPlain(m.r.canvas, "<B>a</B>b").cx,
              m.Width("a", vcl::fsBold) + m.Width("b"));
}

// The image hooks of one test: a graphic class for ".PNG" only, and a
// loader answering with a 6 x 4 green picture (or as the test says).
struct ImageHooks {
    static inline Texts asked;
    static inline std::vector<std::uint8_t> bytes;
    static inline int answer = 0;
    static inline bool raise = false;

    ImageHooks() {
        vcl::TBitmap green(6, 4);
        green.Canvas().Brush.SetColor(vcl::clGreen);
        green.Canvas().FillRect({0, 0, 6, 4});
        vcl::TPngGraphic png;
        png.Assign(green);
        vcl::TMemoryStream stream;
        png.SaveToStream(stream);
        const auto* data = reinterpret_cast<const std::uint8_t*>(stream.Memory());
        bytes.assign(data, data + stream.Size());
        PlotGraphicFromExtensionHook =
            [](const std::string& ext) -> std::unique_ptr<vcl::TGraphic> {
            if (ext == ".PNG") return std::make_unique<vcl::TPngGraphic>();
            return nullptr;
        };
        PlotHtmlImageLoader = [](const std::string& source, vcl::TStream& stream) {
            asked.push_back(source);
            if (raise) throw std::runtime_error("no such file");
            stream.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
            return answer;
        };
    }
    ~ImageHooks() {
        PlotGraphicFromExtensionHook = nullptr;
        PlotHtmlImageLoader = nullptr;
    }
};

// A red-framed white box with both diagonals at (x, y), w by h.
void ExpectPlaceholder(const RasterChart& r, int x, int y, int w, int h) {
    EXPECT_EQ(r.At(x, y), kRed);
    EXPECT_EQ(r.At(x + w - 1, y + h - 1), kRed);
    EXPECT_EQ(r.At(x + w, y + h / 3), kWhite);
    // Half way across, each diagonal passes within a pixel of its line.
    const int mx = x + w / 2, dy = (w / 2 * (h - 1) + (w - 1) / 2) / (w - 1);
    auto redNear = [&](int yy) {
        return r.At(mx, yy - 1) == kRed || r.At(mx, yy) == kRed || r.At(mx, yy + 1) == kRed;
    };
    EXPECT_TRUE(redNear(y + dy) && redNear(y + h - 1 - dy));
    EXPECT_EQ(r.At(mx, y + 2), kWhite);
}

TEST(plot_html, images_draw_their_graphic_or_the_placeholder) {
    test_support::EnsureQtApplication();
    auto draw = [](const std::string& text) {
        auto r = std::make_unique<RasterChart>(200, 150);
        r->canvas.ResetState();
        HtmlTextOut(r->canvas, 10, 20, text);
        return r;
    };
    // No graphic class: a 40 x 40 placeholder, and the text moves on by 40
    // both ways; an image without a source does nothing.
    ExpectPlaceholder(*draw("<IMG SRC=pic.png>"), 10, 20, 40, 40);
    Markup m;
    EXPECT_EQ(m.Places("<img \r\nsrc=\"pic.png\" width=0>z<IMG WIDTH=5>y"),
              (Texts{"z" + At(50, 60), "y" + At(50 + m.Width("z"), 60)}));

    ImageHooks hooks;
    constexpr gdi::COLORREF green = gdi::RGB(0, 128, 0);
    // The graphic at its own size (the source trimmed and unquoted), then
    // stretched to WIDTH x HEIGHT.
    auto r = draw("<IMG SRC=\" dot.png \">");
    EXPECT_EQ(ImageHooks::asked, Texts{"dot.png"});
    EXPECT_TRUE(r->At(15, 23) == green && r->At(16, 23) == kWhite && r->At(15, 24) == kWhite);
    r = draw("<IMG SRC=dot.png WIDTH=12 HEIGHT=8>");
    EXPECT_TRUE(r->At(21, 27) == green && r->At(22, 27) == kWhite && r->At(21, 28) == kWhite);
    // No class for the extension, a loader saying no or raising, bytes that
    // are no picture: the placeholder, of the size asked.
    ExpectPlaceholder(*draw("<IMG SRC=dot.gif WIDTH=30 HEIGHT=20>"), 10, 20, 30, 20);
    ImageHooks::answer = 1;
    ExpectPlaceholder(*draw("<IMG SRC=dot.png>"), 10, 20, 40, 40);
    ImageHooks::answer = 0;
    ImageHooks::raise = true;
    ExpectPlaceholder(*draw("<IMG SRC=dot.png>"), 10, 20, 40, 40);
    ImageHooks::raise = false;
    ImageHooks::bytes.assign(10, 0x55);
    ExpectPlaceholder(*draw("<IMG SRC=dot.png>"), 10, 20, 40, 40);
}

// Samples of what a chart text may hold, drawn on a white bitmap, written
// as chart_markup_samples.png in the test's folder and read back.
TEST(plot_html, samples_written_as_png_show_what_the_rules_predict) {
    test_support::EnsureQtApplication();
    RasterChart r(360, 200);
    const std::pair<int, std::string> samples[] = {
        {10, "plain <B>bold</B> <I>italic</I> <U>underline</U> <STRIKE>strike</STRIKE>"},
        {30, "<SMALL>small</> normal <BIG>big</> <FONT SIZE=14>fourteen</FONT>"},
        {55,
         "<FONT COLOR=RED>red</FONT> <FONT COLOR=#0000FF>blue</FONT> <FONT "
         "COLOR=GREEN>green</FONT>"},
        {75, "H<SUB>2</SUB>O and E = mc<SUPER>2</SUPER> and x<SUB>i</SUB><SUPER>n</SUPER>"},
        {100, "a &lt; b &amp;&amp; c &gt; d &quot;quoted&quot;"},
        {120, "image <IMG SRC=missing.png WIDTH=40 HEIGHT=30> after"},
    };
    for (const auto& [y, text] : samples) {
        r.canvas.ResetState();
        HtmlTextOut(r.canvas, 10, y, text);
    }
    const auto picture = test_support::WritePngAndReadBack(r.bitmap, "chart_markup_samples.png");
    const auto* read = dynamic_cast<const vcl::TPngGraphic*>(picture->Graphic());
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(test_support::PixelsOf(*read->Handle()), r.Pixels());

    r.canvas.ResetState();
    const int fh = r.canvas.FontHeight(), imageX = 10 + r.canvas.TextWidth("image ");
    ExpectPlaceholder(r, imageX, 120, 40, 30);
    // Text is smoothed: count the pixels where one channel leads.
    auto count = [&](int x0, int x1, int y0, int y1, int channel) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const gdi::COLORREF c = r.At(x, y);
                const int v[3] = {int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)};
                n += v[channel] > 150 && v[(channel + 1) % 3] < 100 && v[(channel + 2) % 3] < 100
                         ? 1
                         : 0;
            }
        return n;
    };
    // "after" comes 40 right and 30 down of where the image began.
    int inkAfter = 0;
    for (int y = 150; y < 150 + fh; ++y)
        for (int x = imageX + 40; x < imageX + 40 + r.canvas.TextWidth("after"); ++x)
            inkAfter += r.At(x, y) != kWhite;
    EXPECT_GT(inkAfter, 0);
    // The coloured words in their colours, inside their runs, and nowhere else.
    const int blueX = 10 + r.canvas.TextWidth("red ");
    EXPECT_GT(count(10, blueX, 55, 55 + fh, 0), 5);
    EXPECT_EQ(count(blueX, 360, 55, 55 + fh, 0), 0);
    EXPECT_GT(count(blueX, blueX + r.canvas.TextWidth("blue"), 55, 55 + fh, 2), 5);
    EXPECT_EQ(count(0, 360, 0, 55, 2), 0);
}

}  // namespace
