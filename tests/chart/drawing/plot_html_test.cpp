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

constexpr gdi::COLORREF kRed = gdi::RGB(255, 0, 0);
constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);
constexpr gdi::COLORREF kGreen = gdi::RGB(0, 200, 0);

struct Run {
    std::string Text;
    int X = 0;
    int Y = 0;
    gdi::LOGFONT Font;
    gdi::COLORREF Color = 0;
};

// A recording surface with the default chart font; each Draw answers the
// text runs the device context got.
struct Markup {
    RecordingChart r{400, 300};
    Markup() { Reset(); }
    void Reset() { r.canvas.ResetState(); }
    std::vector<Run> Runs() const {
        std::vector<Run> out;
        for (const gdi::Record& rec : r.Of(gdi::RecordOp::TextOut))
            out.push_back({std::string(rec.Text.begin(), rec.Text.end()), rec.Args[0], rec.Args[1],
                           rec.State.Font->Log(), rec.State.TextColor});
        return out;
    }
    std::vector<Run> Draw(int x, int y, const std::string& text) {
        r.dc->ClearRecords();
        HtmlTextOut(r.canvas, x, y, text);
        return Runs();
    }
    std::vector<std::string> Texts(const std::string& text) {
        std::vector<std::string> out;
        for (const Run& run : Draw(0, 0, text)) out.push_back(run.Text);
        return out;
    }
    // Font height and width of a text in the default font at Points.
    int HeightAt(int points) {
        Reset();
        r.canvas.Font->SetSize(points);
        const int h = r.canvas.FontHeight();
        Reset();
        return h;
    }
    int Width(const std::string& text, vcl::TFontStyles style = 0, int points = 8) {
        Reset();
        r.canvas.Font->SetStyle(style);
        r.canvas.Font->SetSize(points);
        const int w = r.canvas.TextWidth(text);
        Reset();
        return w;
    }
};

int Height(int points) { return -vcl::MulDiv(points, 96, 72); }

TEST(plot_html, runs_lines_entities_and_unknown_tags_follow_the_layout) {
    test_support::EnsureQtApplication();
    Markup m;
    const int fh = m.HeightAt(8);

    // Entities: "&lt;" goes before "&amp;", each over the whole run once.
    auto runs = m.Draw(10, 20, "a&lt;b&amp;lt;&gt;&quot;");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Text, "a<b&lt;>\"");
    EXPECT_EQ(runs[0].X, 10);
    EXPECT_EQ(runs[0].Y, 20);

    // Two breaks advance one line: the advance comes with the next run.
    runs = m.Draw(10, 20, "one<BR><P>two");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].X, 10);
    EXPECT_EQ(runs[1].Y, 20 + fh);
    // A CR LF starting a token advances at once, and the next run again.
    runs = m.Draw(10, 20, "one<BR>\r\ntwo");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].Text, "two");
    EXPECT_EQ(runs[1].Y, 20 + 2 * fh);
    // A run ending in CR LF ends its line after it is drawn.
    m.Reset();
    runs = m.Draw(10, 20, "one\r\n<b>two</B>three");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].Text, "one");
    EXPECT_EQ(runs[1].X, 10);
    EXPECT_EQ(runs[1].Y, 20 + fh);
    EXPECT_EQ(runs[1].Font.lfWeight, gdi::FW_BOLD);
    EXPECT_EQ(runs[2].Font.lfWeight, gdi::FW_NORMAL);
    EXPECT_EQ(runs[2].X, 10 + m.Width("two", vcl::fsBold));

    // A tag outside the table is text; "</>" with nothing open is "</".
    EXPECT_EQ(m.Texts("x<q>y</>z"), (std::vector<std::string>{"x", "<q>", "y", "</", "z"}));

    // Centring puts each run in the middle of the surface's bounds.
    m.Reset();
    runs = m.Draw(10, 20, "<CENTER>mid</CENTER>");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].X, 200 - m.Width("mid") / 2);

    // A rule: from the start, 100 pixels, grey, at the line's Y; then one
    // font height down.
    m.Reset();
    runs = m.Draw(10, 20, "a<HR>b");
    const auto moves = m.r.Of(gdi::RecordOp::MoveTo);
    const auto lines = m.r.Of(gdi::RecordOp::LineTo);
    ASSERT_EQ(moves.size(), 1u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(moves[0].Args, (std::vector<int>{10, 20}));
    EXPECT_EQ(lines[0].Args, (std::vector<int>{110, 20}));
    EXPECT_EQ(lines[0].State.Pen->Log().elpColor, gdi::RGB(128, 128, 128));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].X, 10);
    EXPECT_EQ(runs[1].Y, 20 + fh);
}

TEST(plot_html, tags_push_and_pop_the_font_exactly) {
    test_support::EnsureQtApplication();
    Markup m;
    // A heading and "</>": the text after it is in the font before.
    auto runs = m.Draw(0, 0, "<H1>Title</>after<h6>small");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].Font.lfHeight, Height(48));
    EXPECT_EQ(runs[1].Font.lfHeight, Height(8));
    EXPECT_EQ(runs[2].Font.lfHeight, Height(8));  // H6 is 8 points

    // Bold closed through "</>"; lower-case tags.
    m.Reset();
    runs = m.Draw(0, 0, "<strong>x</>y");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].Font.lfWeight, gdi::FW_BOLD);
    EXPECT_EQ(runs[1].Font.lfWeight, gdi::FW_NORMAL);

    // FONT: colour as #RRGGBB, size relative; "</FONT" restores.
    m.Reset();
    runs = m.Draw(0, 0, "<font color=#FF8000 size=+2>w</font>v");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].Color, gdi::RGB(255, 128, 0));
    EXPECT_EQ(runs[0].Font.lfHeight, Height(10));
    EXPECT_EQ(runs[1].Color, gdi::RGB(0, 0, 0));
    EXPECT_EQ(runs[1].Font.lfHeight, Height(8));

    // Names with blanks (arriving in capitals), absolute sizes, named
    // colours, the class library's colour names and numbers, weights.
    m.Reset();
    runs = m.Draw(0, 0,
                  "<FONT NAME=\"Courier New\" SIZE=12 COLOR=lime WEIGHT=bold, italic>a"
                  "<FONT FAMILY=Arial COLOR=clNavy WEIGHT=NORMAL>b<FONT COLOR=$0000FF>c"
                  "<FONT COLOR=255 WEIGHT=UNDERLINE,STRIKE>d</FONT></FONT></FONT></FONT>e");
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].Font.lfFaceName, "COURIER NEW");
    EXPECT_EQ(runs[0].Font.lfHeight, Height(12));
    EXPECT_EQ(runs[0].Color, gdi::RGB(0, 255, 0));
    EXPECT_EQ(runs[0].Font.lfWeight, gdi::FW_BOLD);
    EXPECT_EQ(runs[0].Font.lfItalic, 1);
    EXPECT_EQ(runs[1].Font.lfFaceName, "ARIAL");
    EXPECT_EQ(runs[1].Color, gdi::RGB(0, 0, 128));
    EXPECT_EQ(runs[1].Font.lfWeight, gdi::FW_NORMAL);
    EXPECT_EQ(runs[1].Font.lfItalic, 0);
    EXPECT_EQ(runs[2].Color, gdi::RGB(255, 0, 0));
    EXPECT_EQ(runs[3].Font.lfUnderline, 1);
    EXPECT_EQ(runs[3].Font.lfStrikeOut, 1);
    EXPECT_EQ(runs[4].Font.lfFaceName, "Arial");
    EXPECT_EQ(runs[4].Font.lfHeight, Height(8));
    EXPECT_EQ(runs[4].Color, gdi::RGB(0, 0, 0));

    // PRE switches to the fixed font and back.
    m.Reset();
    runs = m.Draw(0, 0, "<PRE>m</PRE>n");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].Font.lfFaceName, "COURIER NEW");
    EXPECT_EQ(runs[1].Font.lfFaceName, "Arial");

    // A font given as a cell height (a negative size in points) comes back
    // exactly, after a push by BIG and after a relative FONT size.
    m.Reset();
    m.r.canvas.Font->SetHeight(20);
    ASSERT_LT(m.r.canvas.Font->Size(), 0);
    runs = m.Draw(0, 0, "<BIG>x</>y<FONT SIZE=-3>s</FONT>t");
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].Font.lfHeight, -vcl::MulDiv(-15 + 2, 96, 72));
    EXPECT_EQ(runs[1].Font.lfHeight, 20);
    EXPECT_EQ(runs[2].Font.lfHeight, -vcl::MulDiv(-15 - 3, 96, 72));
    EXPECT_EQ(runs[3].Font.lfHeight, 20);
}

TEST(plot_html, every_call_starts_with_empty_stacks_and_closers_take_their_tag) {
    test_support::EnsureQtApplication();
    Markup m;
    // A tag one text leaves open is not what another text's "</>" closes.
    m.Draw(0, 0, "<B>left open");
    m.Reset();
    EXPECT_EQ(m.Texts("</>z"), (std::vector<std::string>{"</", "z"}));
    // Closed tags are gone: "</>" after them has nothing to close.
    EXPECT_EQ(m.Texts("<I>a</I><B>b</B>c</>d"), (std::vector<std::string>{"a", "b", "c", "</", "d"}));
    // Nested: each "</>" takes one tag.
    m.Reset();
    const auto runs = m.Draw(0, 0, "<U><B>x</>y</>z</>");
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].Font.lfWeight, gdi::FW_BOLD);
    EXPECT_EQ(runs[0].Font.lfUnderline, 1);
    EXPECT_EQ(runs[1].Font.lfWeight, gdi::FW_NORMAL);
    EXPECT_EQ(runs[1].Font.lfUnderline, 1);
    EXPECT_EQ(runs[2].Font.lfUnderline, 0);
    EXPECT_EQ(runs[3].Text, "</");
    // A pop with nothing pushed leaves the font alone.
    m.Reset();
    EXPECT_EQ(m.Draw(0, 0, "</FONT>k")[0].Font.lfHeight, Height(8));
}

TEST(plot_html, sub_and_superscripts_leave_the_line_where_it_was) {
    test_support::EnsureQtApplication();
    Markup m;
    const int fh8 = m.HeightAt(8), fh4 = m.HeightAt(4), fh16 = m.HeightAt(16);
    // The lowered run sits on the line's bottom: down by its own step and by
    // the line height less its height, less one.
    const int lowered = fh8 - fh4 - 1;

    auto runs = m.Draw(10, 20, "H<SUB>2</SUB>O");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].Y, 20);
    EXPECT_EQ(runs[1].Y, 20 + fh4 + lowered);
    EXPECT_EQ(runs[1].Font.lfHeight, Height(4));
    EXPECT_EQ(runs[2].Y, 20);  // H and O on one row
    EXPECT_EQ(runs[2].Font.lfHeight, Height(8));
    EXPECT_EQ(runs[2].X, 10 + m.Width("H") + m.Width("2", 0, 4));

    m.Reset();
    runs = m.Draw(10, 20, "x<SUPER>2</SUPER>y");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[1].Y, 20 - fh4 / 2 + lowered);
    EXPECT_EQ(runs[2].Y, 20);

    // Many of them: the line does not drift.
    m.Reset();
    runs = m.Draw(10, 20, "a<SUB>1</SUB>b<SUB>2</SUB>c<SUPER>3</SUPER>d<SUB>4</>e");
    ASSERT_EQ(runs.size(), 9u);
    for (int i : {0, 2, 4, 6, 8}) EXPECT_EQ(runs[static_cast<std::size_t>(i)].Y, 20) << runs[i].Text;
    EXPECT_EQ(runs[1].Y, runs[3].Y);
    EXPECT_EQ(runs[1].Y, runs[7].Y);

    // A shorter run is lowered for itself only.
    m.Reset();
    runs = m.Draw(10, 20, "<FONT SIZE=16>A</FONT>b<FONT SIZE=16>C</FONT>d");
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].Y, 20);
    EXPECT_EQ(runs[1].Y, 20 + fh16 - fh8 - 1);
    EXPECT_EQ(runs[2].Y, 20);
    EXPECT_EQ(runs[3].Y, runs[1].Y);
}

TEST(plot_html, extent_measures_the_widest_line_and_the_tallest_line_without_drawing) {
    test_support::EnsureQtApplication();
    Markup m;
    const int fh8 = m.HeightAt(8), fh48 = m.HeightAt(48);
    m.r.dc->ClearRecords();
    vcl::TSize size = HtmlTextExtent(m.r.canvas, "short<BR>a longer line");
    EXPECT_EQ(size.cx, m.Width("a longer line"));
    EXPECT_EQ(size.cy, fh8);
    EXPECT_TRUE(m.r.Of(gdi::RecordOp::TextOut).empty());
    m.Reset();
    size = HtmlTextExtent(m.r.canvas, "<H1>Big</>small");
    EXPECT_EQ(size.cy, fh48);
    // Images, rules and lines are laid out, not drawn.
    m.Reset();
    m.r.dc->ClearRecords();
    size = HtmlTextExtent(m.r.canvas, "a<HR><IMG SRC=x.png>b");
    EXPECT_TRUE(m.r.Drawing().empty());
    EXPECT_EQ(size.cx, 40 + m.Width("b"));
}

TEST(plot_html, errors_raise_and_the_plain_fallback_draws_the_text_as_it_is) {
    test_support::EnsureQtApplication();
    Markup m;
    auto message = [&](const std::string& text) -> std::string {
        m.Reset();
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
    EXPECT_EQ(message("<FONT COLOR=chartreuse>"), "convert: 'CHARTREUSE' is not a valid integer value");
    EXPECT_EQ(message("<IMG SRC=a.png WIDTH=wide>"), "convert: 'wide' is not a valid integer value");
    EXPECT_EQ(message("<FONT SIZE=2147483647>x"), "none");  // held to a size a font can have
    // The surface's markup entry raises the same.
    EXPECT_THROW(m.r.canvas.TextOutHtml(0, 0, "<B", true), HtmlParserException);

    // The fallback: nothing of the markup, the text as it is, line by line,
    // in the font the caller set.
    const int fh = m.HeightAt(8);
    m.Reset();
    m.r.dc->ClearRecords();
    const std::string broken = "<B>bold</B>\r\nnext <oops";
    HtmlTextOutOrPlain(m.r.canvas, 5, 6, broken);
    auto runs = m.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].Text, "<B>bold</B>");
    EXPECT_EQ(runs[0].X, 5);
    EXPECT_EQ(runs[0].Y, 6);
    EXPECT_EQ(runs[0].Font.lfWeight, gdi::FW_NORMAL);
    EXPECT_EQ(runs[1].Text, "next <oops");
    EXPECT_EQ(runs[1].Y, 6 + fh);
    const vcl::TSize plain = HtmlTextExtentOrPlain(m.r.canvas, broken);
    EXPECT_EQ(plain.cx, std::max(m.Width("<B>bold</B>"), m.Width("next <oops")));
    EXPECT_EQ(plain.cy, 2 * fh);
    // Readable markup goes through as markup, measured the same way.
    m.Reset();
    const auto direct = m.Draw(5, 6, "<B>a</B>b");
    m.Reset();
    m.r.dc->ClearRecords();
    HtmlTextOutOrPlain(m.r.canvas, 5, 6, "<B>a</B>b");
    runs = m.Runs();
    ASSERT_EQ(runs.size(), direct.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].X, direct[i].X);
        EXPECT_EQ(runs[i].Font, direct[i].Font);
    }
    m.Reset();
    EXPECT_EQ(HtmlTextExtentOrPlain(m.r.canvas, "<B>a</B>b").cx, m.Width("a", vcl::fsBold) + m.Width("b"));
}

// The image hooks of one test: a graphic class for ".PNG" and a loader
// answering from the test's own bytes.
struct ImageHooks {
    static inline std::vector<std::string> asked;
    static inline std::vector<std::uint8_t> bytes;
    static inline int answer = 0;
    static inline bool raise = false;

    ImageHooks() {
        asked.clear();
        answer = 0;
        raise = false;
        vcl::TBitmap green(6, 4);
        green.Canvas().Brush.SetColor(vcl::TColor(0x00C800));
        green.Canvas().FillRect({0, 0, 6, 4});
        vcl::TPngGraphic png;
        png.Assign(green);
        vcl::TMemoryStream stream;
        png.SaveToStream(stream);
        bytes.assign(reinterpret_cast<const std::uint8_t*>(stream.Memory()),
                     reinterpret_cast<const std::uint8_t*>(stream.Memory()) + stream.Size());
        PlotGraphicFromExtensionHook = [](const std::string& ext) -> std::unique_ptr<vcl::TGraphic> {
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
    EXPECT_EQ(r.At(x + w - 1, y), kRed);
    EXPECT_EQ(r.At(x, y + h - 1), kRed);
    EXPECT_EQ(r.At(x + w - 1, y + h - 1), kRed);
    // Half way across, each diagonal passes within a pixel of its line.
    const int mx = x + w / 2, dy = (w / 2 * (h - 1) + (w - 1) / 2) / (w - 1);
    auto redNear = [&](int yy) { return r.At(mx, yy - 1) == kRed || r.At(mx, yy) == kRed || r.At(mx, yy + 1) == kRed; };
    EXPECT_TRUE(redNear(y + dy));
    EXPECT_TRUE(redNear(y + h - 1 - dy));
    EXPECT_EQ(r.At(mx, y + 2), kWhite);
    EXPECT_EQ(r.At(x + w, y + h / 3), kWhite);
}

TEST(plot_html, images_draw_their_graphic_or_the_placeholder) {
    test_support::EnsureQtApplication();
    // No graphic class: the 40 x 40 placeholder, and the text moves on by
    // 40 both ways.
    {
        RasterChart r(200, 150);
        r.canvas.ResetState();
        HtmlTextOut(r.canvas, 10, 20, "<IMG SRC=pic.png>");
        ExpectPlaceholder(r, 10, 20, 40, 40);
        RecordingChart rec(200, 150);
        rec.canvas.ResetState();
        HtmlTextOut(rec.canvas, 10, 20, "<img \r\nsrc=\"pic.png\" width=0>z<IMG WIDTH=5>y");
        const auto texts = rec.Of(gdi::RecordOp::TextOut);
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0].Args, (std::vector<int>{50, 60}));
        EXPECT_EQ(texts[1].Args[1], 60);  // no source: nothing happens
    }
    ImageHooks hooks;
    auto draw = [](const std::string& text) {
        auto r = std::make_unique<RasterChart>(200, 150);
        r->canvas.ResetState();
        HtmlTextOut(r->canvas, 10, 20, text);
        return r;
    };
    // The graphic at its own size, then stretched to WIDTH x HEIGHT.
    auto r = draw("<IMG SRC=\" dot.png \">");
    ASSERT_EQ(ImageHooks::asked, (std::vector<std::string>{"dot.png"}));
    EXPECT_EQ(r->At(10, 20), kGreen);
    EXPECT_EQ(r->At(15, 23), kGreen);
    EXPECT_EQ(r->At(16, 23), kWhite);
    EXPECT_EQ(r->At(15, 24), kWhite);
    r = draw("<IMG SRC=dot.png WIDTH=12 HEIGHT=8>");
    EXPECT_EQ(r->At(21, 27), kGreen);
    EXPECT_EQ(r->At(22, 27), kWhite);
    EXPECT_EQ(r->At(21, 28), kWhite);
    // No class for the extension, a loader that says no, one that raises,
    // bytes that are no picture: the placeholder, of the size asked.
    r = draw("<IMG SRC=dot.gif WIDTH=30 HEIGHT=20>");
    ExpectPlaceholder(*r, 10, 20, 30, 20);
    ImageHooks::answer = 1;
    r = draw("<IMG SRC=dot.png>");
    ExpectPlaceholder(*r, 10, 20, 40, 40);
    ImageHooks::answer = 0;
    ImageHooks::raise = true;
    r = draw("<IMG SRC=dot.png>");
    ExpectPlaceholder(*r, 10, 20, 40, 40);
    ImageHooks::raise = false;
    ImageHooks::bytes.assign(10, 0x55);
    r = draw("<IMG SRC=dot.png>");
    ExpectPlaceholder(*r, 10, 20, 40, 40);
}

// Samples of the markup a chart text may hold, drawn on a white bitmap,
// written as chart_markup_samples.png in the test's folder and read back.
TEST(plot_html, samples_written_as_png_show_what_the_rules_predict) {
    test_support::EnsureQtApplication();
    RasterChart r(360, 200);
    r.canvas.ResetState();
    const std::vector<std::pair<int, std::string>> samples = {
        {10, "plain <B>bold</B> <I>italic</I> <U>underline</U> <STRIKE>strike</STRIKE>"},
        {30, "<SMALL>small</> normal <BIG>big</> <FONT SIZE=14>fourteen</FONT>"},
        {55, "<FONT COLOR=RED>red</FONT> <FONT COLOR=#0000FF>blue</FONT> <FONT COLOR=GREEN>green</FONT>"},
        {75, "H<SUB>2</SUB>O and E = mc<SUPER>2</SUPER> and x<SUB>i</SUB><SUPER>n</SUPER>"},
        {100, "a &lt; b &amp;&amp; c &gt; d &quot;quoted&quot;"},
        {120, "image <IMG SRC=missing.png WIDTH=40 HEIGHT=30> after"},
    };
    for (const auto& [y, text] : samples) {
        r.canvas.ResetState();
        HtmlTextOut(r.canvas, 10, y, text);
    }
    const auto picture = test_support::WritePngAndReadBack(r.bitmap, "chart_markup_samples.png");
    auto* read = dynamic_cast<vcl::TPngGraphic*>(picture->Graphic());
    ASSERT_NE(read, nullptr);
    const gdi::Bitmap& shown = *read->Handle();
    ASSERT_EQ(test_support::PixelsOf(shown), r.Pixels());

    // The placeholder after "image ": at x = 10 + width("image "), y = 120.
    r.canvas.ResetState();
    const int fh = r.canvas.FontHeight();
    const int imageX = 10 + r.canvas.TextWidth("image ");
    ExpectPlaceholder(r, imageX, 120, 40, 30);
    // "after" comes 40 right and 30 down of where the image began.
    bool inkBelow = false;
    for (int y = 150; y < 150 + fh; ++y)
        for (int x = imageX + 40; x < imageX + 40 + r.canvas.TextWidth("after"); ++x)
            inkBelow = inkBelow || shown.GetPixel(x, y) != kWhite;
    EXPECT_TRUE(inkBelow);
    // The coloured words are drawn in their colours, inside their runs.
    const int redX = 10, blueX = redX + r.canvas.TextWidth("red") + r.canvas.TextWidth(" ");
    // Text is smoothed: count pixels where the colour's channel leads.
    auto count = [&](int x0, int x1, int y0, int y1, int channel) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const gdi::COLORREF c = shown.GetPixel(x, y);
                const int v[3] = {int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)};
                n += v[channel] > 150 && v[(channel + 1) % 3] < 100 && v[(channel + 2) % 3] < 100 ? 1 : 0;
            }
        return n;
    };
    EXPECT_GT(count(redX, blueX, 55, 55 + fh, 0), 5);
    EXPECT_EQ(count(blueX, 360, 55, 55 + fh, 0), 0);
    EXPECT_GT(count(blueX, blueX + r.canvas.TextWidth("blue"), 55, 55 + fh, 2), 5);
    EXPECT_EQ(count(0, 360, 0, 55, 2), 0);
}

}  // namespace
