#include "terminal/tag_label.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QCursor>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "platform/vcl/forms.h"

namespace terminal {
namespace {

using namespace std::string_literals;

// Every token as "kind:text".
std::vector<std::string> Tokens(std::string_view text, bool wordSplit = false,
                                bool tagsOff = false) {
    TLblParser p;
    p.SetText(text);
    p.WordSplit = wordSplit;
    p.TagsOff = tagsOff;
    std::vector<std::string> out;
    while (p.NextToken()) out.push_back(std::to_string(p.TokenKind()) + ":" + p.Token());
    return out;
}

using V = std::vector<std::string>;

TEST(tag_label, parser_splits_text_tabs_breaks_and_tags) {
    EXPECT_EQ(Tokens("ab\tc\r\nd<B>e"), (V{"1:ab", "3:\t", "1:c", "2:\r", "1:d", "4:<B>", "1:e"}));
    // "<<" is text from the second "<"; a "<" without ">" starts text.
    EXPECT_EQ(Tokens("x<<y<z"), (V{"1:x", "1:<y", "1:<z"}));
    // A tag ends at ">" only when no TAB or CR comes first.
    EXPECT_EQ(Tokens("<a\tb>"), (V{"1:<a", "3:\t", "1:b>"}));
    EXPECT_EQ(Tokens("<x\r>"), (V{"1:<x", "2:\r", "1:>"}));
    EXPECT_EQ(Tokens("<a<b>"), (V{"4:<a<b>"}));
    // A lone LF is text; CR CR is two breaks; CR LF one.
    EXPECT_EQ(Tokens("a\nb\r\r\n"), (V{"1:a\nb", "2:\r", "2:\r"}));
    // A NUL ends the text.
    EXPECT_EQ(Tokens("ab\0<B>cd"s), (V{"1:ab"}));
    EXPECT_EQ(Tokens(""), V{});
    EXPECT_EQ(Tokens("<"), (V{"1:<"}));
    EXPECT_EQ(Tokens("<>"), (V{"4:<>"}));
}

TEST(tag_label, parser_word_mode_and_tags_off) {
    EXPECT_EQ(Tokens("ab  cd e<B>f", true),
              (V{"1:ab", "1:  ", "1:cd", "1: ", "1:e", "4:<B>", "1:f"}));
    // With tags off "<<" is kept whole, as text from the first "<".
    EXPECT_EQ(Tokens("<<A", false, true), (V{"1:<", "1:<A"}));
    EXPECT_EQ(Tokens("<B>", false, true), (V{"4:<B>"}));
}

TEST(tag_label, parser_expands_styles_and_returns_to_the_text) {
    TLblParser p;
    p.SetText("a<y=h>b");
    std::vector<std::string> seen;
    while (p.NextToken()) {
        seen.push_back(p.Token());
        if (p.Token() == "<y=h>") {
            EXPECT_EQ(p.ExpandStyle('h', "<B><y=k><I>"), TLblParser::TExpansion::Expanded);
        }
        if (p.Token() == "<y=k>") {
            EXPECT_EQ(p.ExpandStyle('k', "<U>"), TLblParser::TExpansion::Expanded);
            // h and k are both being expanded: neither again.
            EXPECT_EQ(p.ExpandStyle('h', "<b>"), TLblParser::TExpansion::AlreadyExpanding);
            EXPECT_EQ(p.ExpandStyle('k', "<b>"), TLblParser::TExpansion::AlreadyExpanding);
        }
    }
    // The rest of h after the inner style still comes, then the caption.
    EXPECT_EQ(seen, (V{"a", "<y=h>", "<B>", "<y=k>", "<U>", "<I>", "b"}));
    EXPECT_FALSE(p.Expanding());
}

TEST(tag_label, parser_stays_linear_on_a_huge_caption_of_open_brackets) {
    const std::string text(2'000'000, '<');
    const auto start = std::chrono::steady_clock::now();
    TLblParser p;
    p.SetText(text + "x");
    std::size_t tokens = 0;
    while (p.NextToken()) ++tokens;
    EXPECT_EQ(tokens, 1'000'000u);  // every "<<" is one "<"
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

struct TagFixture {
    TTagSettings settings;
    TLblParser parser;
    TTagProcessor tags{settings, parser};
    TagFixture() {
        settings.Font = TTagFont{"Tahoma", 8, 0x112233, 0, vcl::clNone};
        tags.Reset();
    }
    TTagResult Tag(std::string_view t) { return tags.ProcessTag(t); }
    const TTagFont& Font() const { return tags.State.Font; }
};

constexpr auto Refused = TTagResult::Refused;
constexpr auto Applied = TTagResult::Applied;

TEST(tag_label, style_and_colour_tags_change_the_font_state) {
    TagFixture f;
    EXPECT_EQ(f.Tag("<B>"), Applied);
    EXPECT_EQ(f.Tag("<I>"), Applied);
    EXPECT_EQ(f.Tag("<U>"), Applied);
    EXPECT_EQ(f.Font().Style, vcl::fsBold | vcl::fsItalic | vcl::fsUnderline);
    EXPECT_EQ(f.Tag("<i>"), Applied);
    EXPECT_EQ(f.Font().Style, vcl::fsBold | vcl::fsUnderline);
    EXPECT_EQ(f.Tag("<b>"), Applied);
    EXPECT_EQ(f.Tag("<u>"), Applied);
    EXPECT_EQ(f.Font().Style, 0);

    EXPECT_EQ(f.Tag("<c=0000FF>"), Applied);
    EXPECT_EQ(f.Font().Color, 0x0000FF);  // red: 0x00BBGGRR
    EXPECT_EQ(f.Tag("<c=clNavy>"), Applied);
    EXPECT_EQ(f.Font().Color, vcl::clNavy);
    EXPECT_EQ(f.Tag("<c=CLINFOBK>"), Applied);
    EXPECT_EQ(f.Font().Color, vcl::clInfoBk);
    EXPECT_EQ(f.Tag("<c=.>"), Applied);
    EXPECT_EQ(f.Font().Color, 0x112233);
    EXPECT_EQ(f.Tag("<c=red>"), Refused);
    EXPECT_EQ(f.Tag("<c=123456789>"), Refused);
    EXPECT_EQ(f.Tag("<z=00FFFF>"), Applied);
    EXPECT_EQ(f.Font().Background, 0x00FFFF);
    EXPECT_EQ(f.Tag("<z=.>"), Applied);
    EXPECT_EQ(f.Font().Background, vcl::clNone);
    EXPECT_EQ(f.Tag("<g=FF>"), Applied);
    EXPECT_EQ(f.tags.State.LineColor, 0xFF);
    EXPECT_EQ(f.Tag("<g=.>"), Applied);
    EXPECT_EQ(f.tags.State.LineColor, vcl::clNone);

    EXPECT_EQ(f.Tag("<f=Courier New>"), Applied);
    EXPECT_EQ(f.Font().Name, "Courier New");
    EXPECT_EQ(f.Tag("<s=14>"), Applied);
    EXPECT_EQ(f.Font().Size, 14);
    EXPECT_EQ(f.Tag("<s=0>"), Refused);
    EXPECT_EQ(f.Tag("<s=-3>"), Refused);
    EXPECT_EQ(f.Tag("<s=12pt>"), Refused);
    EXPECT_EQ(f.Tag("<s=99999999999>"), Refused);
    EXPECT_EQ(f.Tag("<s=1001>"), Refused);  // larger fonts only hang the painting
    EXPECT_EQ(f.Tag("<s=1000>"), Applied);
    EXPECT_EQ(f.Tag("<s=14>"), Applied);
    EXPECT_EQ(f.Font().Size, 14);
    EXPECT_EQ(f.Tag("<s=.>"), Applied);
    EXPECT_EQ(f.Tag("<f=.>"), Applied);
    EXPECT_EQ(f.Font(), f.settings.Font);

    EXPECT_EQ(f.Tag("<a=c>"), Applied);
    EXPECT_EQ(f.tags.State.Align, TTagAlign::Center);
    EXPECT_EQ(f.Tag("<a=r>"), Applied);
    EXPECT_EQ(f.tags.State.Align, TTagAlign::Right);
    EXPECT_EQ(f.Tag("<a=x>"), Refused);
    EXPECT_EQ(f.Tag("<a=.>"), Applied);
    EXPECT_EQ(f.tags.State.Align, TTagAlign::Default);
}

TEST(tag_label, malformed_tags_and_missing_values_are_refused) {
    TagFixture f;
    for (const char* t : {"<>", "<BB>", "<B=1>", "<c>", "<c=>", "<f>", "<s>", "<L>", "<L=>", "<y>",
                          "<y=hh>", "<o>", "<t>", "<Q>", "<=>", "<1=2>", "<l=x>", "B>", "<B"})
        EXPECT_EQ(f.Tag(t), Refused) << t;
    EXPECT_EQ(f.Font(), f.settings.Font);
    // "m" takes anything and does nothing.
    EXPECT_EQ(f.Tag("<m>"), Applied);
    EXPECT_EQ(f.Tag("<m=whatever=1>"), Applied);
    EXPECT_EQ(f.Tag("<o=picture>"), TTagResult::Object);
    EXPECT_EQ(f.tags.State.Object, "picture");
}

TEST(tag_label, tags_switch_off_and_on) {
    TagFixture f;
    EXPECT_EQ(f.Tag("<t=ON>"), Applied);
    EXPECT_EQ(f.Tag("<t=OFF>"), Applied);
    EXPECT_TRUE(f.parser.TagsOff);
    // While off only "t" is looked at.
    EXPECT_EQ(f.Tag("<B>"), Refused);
    EXPECT_EQ(f.Font().Style, 0);
    EXPECT_EQ(f.Tag("<t=OFF>"), Refused);
    EXPECT_EQ(f.Tag("<t=on>"), Refused);
    EXPECT_EQ(f.Tag("<t=ON>"), Applied);
    EXPECT_EQ(f.Tag("<B>"), Applied);

    f.settings.DisableTags = true;
    EXPECT_EQ(f.Tag("<t=OFF>"), Refused);
    EXPECT_EQ(f.Tag("<t=ON>"), Refused);
    EXPECT_FALSE(f.parser.TagsOff);
    EXPECT_EQ(f.Tag("<I>"), Applied);
}

TEST(tag_label, text_styles_are_read_in_place_and_dot_resets_the_font) {
    TagFixture f;
    f.settings.TextStyles = {"x:<U>", "h:<B><c=0000FF><z=00FFFF>"};
    EXPECT_EQ(FindTextStyle(f.settings.TextStyles, 'h'), "<B><c=0000FF><z=00FFFF>");
    EXPECT_FALSE(FindTextStyle(f.settings.TextStyles, 'H'));
    f.parser.SetText("");
    EXPECT_EQ(f.Tag("<y=h>"), Applied);
    EXPECT_EQ(f.Tag("<y=z>"), Refused);  // no style z
    while (f.parser.NextToken()) f.Tag(f.parser.Token());
    EXPECT_EQ(f.Font().Style, vcl::fsBold);
    EXPECT_EQ(f.Font().Color, 0x0000FF);
    EXPECT_EQ(f.Font().Background, 0x00FFFF);
    f.tags.State.Align = TTagAlign::Right;
    EXPECT_EQ(f.Tag("<y=.>"), Applied);
    EXPECT_EQ(f.Font(), f.settings.Font);
    EXPECT_EQ(f.tags.State.Align, TTagAlign::Right);  // not part of the font
}

TEST(tag_label, links_save_the_font_state_as_tags_and_restore_it) {
    TagFixture f;
    f.settings.TextStyles = {"l:<U><c=FF0000>"};
    f.parser.SetText("");
    f.Tag("<B>");
    f.Tag("<c=0000FF>");
    const TTagFont before = f.Font();
    EXPECT_EQ(f.Tag("<L=http://x/?a=1>"), Applied);
    EXPECT_TRUE(f.tags.State.InLink);
    EXPECT_EQ(f.tags.State.Link, "http://x/?a=1");
    EXPECT_EQ(f.tags.State.LinkRestore, "<B><i><u><f=Tahoma><s=8><c=0000FF><z=.>");
    while (f.parser.NextToken()) f.Tag(f.parser.Token());  // the style l
    EXPECT_EQ(f.Font().Style, vcl::fsBold | vcl::fsUnderline);
    EXPECT_EQ(f.Font().Color, 0xFF0000);
    f.Tag("<z=00FF00>");
    f.Tag("<f=Arial>");
    f.Tag("<s=20>");
    EXPECT_EQ(f.Tag("<l>"), Applied);
    EXPECT_FALSE(f.tags.State.InLink);
    EXPECT_EQ(f.tags.State.Link, "");
    EXPECT_EQ(f.Font(), before);
    // A link inside a link ends with the state from before the outer one.
    f.Tag("<L=outer>");
    f.Tag("<B>");
    f.Tag("<L=inner>");
    EXPECT_EQ(f.tags.State.Link, "inner");
    EXPECT_EQ(f.Tag("<l>"), Applied);
    EXPECT_EQ(f.Font(), before);
    // "l" outside a link does nothing.
    EXPECT_EQ(f.Tag("<l>"), Applied);
    EXPECT_EQ(f.Font(), before);

    TTagFont sys{"Courier New", 12, vcl::clWindowText, vcl::fsItalic, 0x00FFFF};
    EXPECT_EQ(FontStateTags(sys), "<b><I><u><f=Courier New><s=12><c=FF000008><z=00FFFF>");
}

// Every character is Size pixels wide; a line of a font is 2 x Size high.
class TFixedMeasure : public ITagTextMeasure {
  public:
    int TextWidth(const TTagFont& Font, std::string_view Text) override {
        return static_cast<int>(Text.size()) * Font.Size;
    }
    int TextHeight(const TTagFont& Font) override { return 2 * Font.Size; }
};

struct LayoutFixture {
    TTagSettings settings;
    TLblParser parser;
    TTagProcessor tags{settings, parser};
    TFixedMeasure measure;
    LayoutFixture() {
        settings.Font = TTagFont{"Tahoma", 10, vcl::clWindowText, 0, vcl::clNone};
        settings.TabSize = 50;
    }
    TTagLayout Layout(std::string_view text, int wrap = 1000, const TTagObjectSize& obj = nullptr) {
        return LayoutTagText(text, tags, wrap, measure, obj);
    }
};

std::vector<std::string> RunTexts(const TTagLine& line) {
    std::vector<std::string> out;
    for (const TTagRun& r : line.Runs) out.push_back(r.Text + "@" + std::to_string(r.X));
    return out;
}

TEST(tag_label, layout_places_runs_tabs_and_lines) {
    LayoutFixture f;
    TTagLayout l = f.Layout("ab\tc<s=20>D\r\nx");
    ASSERT_EQ(l.Lines.size(), 2u);
    EXPECT_EQ(RunTexts(l.Lines[0]), (V{"ab@0", "c@50", "D@60"}));
    EXPECT_EQ(l.Lines[0].Width, 80);
    EXPECT_EQ(l.Lines[0].Height, 40);  // the tallest font
    EXPECT_EQ(l.Lines[1].Runs[0].Font.Size, 20);
    EXPECT_EQ(l.Width, 80);
    EXPECT_EQ(l.Height, 80);
    // Tab stops every TabSize pixels, also from a stop itself.
    EXPECT_EQ(f.Layout("\t\tx").Lines[0].Runs[0].X, 100);
    // An empty line is as high as its font.
    EXPECT_EQ(f.Layout("").Height, 20);
    EXPECT_EQ(f.Layout("a\r").Lines.size(), 2u);
}

TEST(tag_label, layout_draws_refused_tags_as_their_text) {
    LayoutFixture f;
    TTagLayout l = f.Layout("<y=z>a<Q>");
    EXPECT_EQ(RunTexts(l.Lines[0]), (V{"<y=z>@0", "a@50", "<Q>@60"}));
    // A style without the tags that would define it is text, a known one is not.
    f.settings.TextStyles = {"h:<B><c=0000FF><z=00FFFF>"};
    l = f.Layout(" 41 <y=h>42<y=.> 43 ");
    ASSERT_EQ(RunTexts(l.Lines[0]), (V{" 41 @0", "42@40", " 43 @60"}));
    const TTagFont& hl = l.Lines[0].Runs[1].Font;
    EXPECT_EQ(hl.Style, vcl::fsBold);
    EXPECT_EQ(hl.Color, 0x0000FF);
    EXPECT_EQ(hl.Background, 0x00FFFF);
    EXPECT_EQ(l.Lines[0].Runs[2].Font, l.Lines[0].Runs[0].Font);
}

TEST(tag_label, layout_wraps_words_and_drops_the_blank_at_the_break) {
    LayoutFixture f;
    f.settings.WordWrap = true;
    TTagLayout l = f.Layout("aaa bbb cc", 60);
    ASSERT_EQ(l.Lines.size(), 2u);
    EXPECT_EQ(RunTexts(l.Lines[0]), (V{"aaa@0"}));
    EXPECT_EQ(RunTexts(l.Lines[1]), (V{"bbb@0", " @30", "cc@40"}));
    EXPECT_EQ(l.Lines[0].Width, 30);
    // A word longer than the line stays whole on a line of its own.
    l = f.Layout("a bbbbbbbbbbbb c", 50);
    ASSERT_EQ(l.Lines.size(), 3u);
    EXPECT_EQ(RunTexts(l.Lines[1]), (V{"bbbbbbbbbbbb@0"}));
    // Without WordWrap nothing breaks.
    f.settings.WordWrap = false;
    EXPECT_EQ(f.Layout("aaa bbb cc", 60).Lines.size(), 1u);
    // A line exactly as wide as the label still fits.
    f.settings.WordWrap = true;
    EXPECT_EQ(f.Layout("aaa bbb", 70).Lines.size(), 1u);
}

TEST(tag_label, layout_line_alignment_colour_links_and_objects) {
    LayoutFixture f;
    TTagLayout l = f.Layout("<a=c><g=FF>t\r<L=go>k<o=pic>e<l>n");
    ASSERT_EQ(l.Lines.size(), 2u);
    EXPECT_EQ(l.Lines[0].Align, TTagAlign::Center);
    EXPECT_EQ(l.Lines[0].Color, 0xFF);
    const TTagLine& second = l.Lines[1];
    ASSERT_EQ(second.Runs.size(), 4u);
    EXPECT_TRUE(second.Runs[0].InLink);
    EXPECT_EQ(second.Runs[0].Link, "go");
    EXPECT_TRUE(second.Runs[1].IsObject);
    EXPECT_EQ(second.Runs[1].Text, "pic");
    EXPECT_EQ(second.Runs[1].Width, 10);  // no size handler: 10 x 10
    EXPECT_TRUE(second.Runs[1].InLink);
    EXPECT_FALSE(second.Runs[3].InLink);

    l = f.Layout("x<o=big>", 1000, [](const std::string& name, int& w, int& h) {
        EXPECT_EQ(name, "big");
        w = 33;
        h = 44;
    });
    EXPECT_EQ(l.Lines[0].Runs[1].Width, 33);
    EXPECT_EQ(l.Lines[0].Height, 44);
    // Absurd sizes from a handler or a tab size are bounded, never overflow.
    f.settings.TabSize = 2'000'000'000;
    l = f.Layout("\t\t\t<o=a>", 1000, [](const std::string&, int& w, int& h) {
        w = 2'000'000'000;
        h = -5;
    });
    EXPECT_GE(l.Width, 0);
    EXPECT_EQ(l.Lines[0].Runs[0].Height, 0);
}

TEST(tag_label, accelerator_characters_follow_show_accel_char) {
    LayoutFixture f;
    TTagLayout l = f.Layout("&File && more&");
    ASSERT_EQ(RunTexts(l.Lines[0]), (V{"F@0", "ile & more&@10"}));
    EXPECT_EQ(l.Lines[0].Runs[0].Font.Style, vcl::fsUnderline);
    f.settings.ShowAccelChar = false;
    EXPECT_EQ(RunTexts(f.Layout("&File").Lines[0]), (V{"&File@0"}));
}

TEST(tag_label, random_tag_soup_never_breaks_the_layout) {
    LayoutFixture f;
    f.settings.TextStyles = {"a:<y=b><B>", "b:<y=a><I><L=x>", "l:<y=l><U>", "h:<t=OFF>"};
    f.settings.WordWrap = true;
    const std::string alphabet = "<<>>=.tyLlBbcszgaof01ONF \t\r\n&\0hx"s;
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 60);
        for (int i = 0; i < n; ++i) text += alphabet[rng() % alphabet.size()];
        const TTagLayout l = f.Layout(text, 40);
        ASSERT_FALSE(l.Lines.empty());
        for (const TTagLine& line : l.Lines)
            for (const TTagRun& r : line.Runs) ASSERT_LE(r.X + r.Width, line.Width + 1000) << text;
    }
}

// --- the control ----------------------------------------------------------------

struct LabelFixture {
    vcl::TForm* form;
    TTagLabel* label;
    LabelFixture() {
        vcl::EnsureApplication();
        form = new vcl::TForm(vcl::Application);
        form->SetBounds(0, 0, 400, 300);
        label = new TTagLabel(form);
        label->SetParent(form);
        label->SetLeft(1);
        label->SetTop(1);
    }
    ~LabelFixture() { vcl::TComponent::Free(form); }

    QImage Paint() {
        QImage img(label->Width(), label->Height(), QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        vcl::TCanvas canvas;
        canvas.Attach(&p);
        label->PaintTo(canvas);
        canvas.Attach(nullptr);
        return img;
    }
};

// Some pixel mostly red (text is drawn smoothed, so not pure red).
bool HasReddish(const QImage& img) {
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            if (qRed(c) > 150 && qGreen(c) < 110 && qBlue(c) < 110) return true;
        }
    return false;
}

bool HasColor(const QImage& img, QRgb rgb) {
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF)) return true;
    return false;
}

TEST(tag_label, control_takes_its_measured_size_and_paints_the_highlight) {
    LabelFixture f;
    f.label->SetColor(vcl::clWhite);
    f.label->SetTabSize(0);
    EXPECT_EQ(f.label->TabSize(), 1);
    f.label->SetTabSize(50);
    f.label->SetTextStyles({"h:<B><c=0000FF><z=00FFFF>"});
    f.label->SetCaption(" 41 <y=h>42<y=.> 43 \r 44");
    const TTagLayout& l = f.label->Measured();
    ASSERT_EQ(l.Lines.size(), 2u);
    EXPECT_GT(l.Width, 0);
    EXPECT_EQ(f.label->Width(), l.Width);
    EXPECT_EQ(f.label->Height(), l.Height);
    const QImage img = f.Paint();
    EXPECT_TRUE(HasColor(img, qRgb(255, 255, 255)));  // the label's colour
    EXPECT_TRUE(HasColor(img, qRgb(255, 255, 0)));    // 0x00FFFF: yellow behind "42"
    EXPECT_FALSE(HasColor(img, qRgb(0, 0, 0)));       // everything painted over

    // A refused style tag is drawn as text, so the label grows.
    const int width = f.label->Width();
    f.label->SetCaption(" 41 <y=z>42<y=.> 43 \r 44");
    EXPECT_GT(f.label->Width(), width);
    EXPECT_FALSE(HasColor(f.Paint(), qRgb(255, 255, 0)));
    // Disabling tags does not turn them into text, only the t tag is refused.
    f.label->SetDisableTags(true);
    f.label->SetCaption("<t=OFF><B>x");
    EXPECT_EQ(f.label->Measured().Lines[0].Runs.size(), 2u);
}

TEST(tag_label, styles_that_name_others_many_times_expand_only_so_far) {
    LabelFixture f;
    // Ten levels, each naming the next four times: unchecked, 4^9 letters.
    std::vector<std::string> styles;
    for (char c = 'a'; c < 'j'; ++c) {
        const std::string next = std::string("<y=") + char(c + 1) + ">";
        styles.push_back(std::string(1, c) + ":" + next + next + next + next);
    }
    styles.push_back("j:x");
    f.label->SetTextStyles(styles);
    f.label->SetCaption("<y=a>");
    std::size_t letters = 0, refused = 0;
    for (const TTagLine& line : f.label->Measured().Lines)
        for (const TTagRun& run : line.Runs) {
            letters += static_cast<std::size_t>(std::count(run.Text.begin(), run.Text.end(), 'x'));
            if (run.Text.find("<y=") != std::string::npos) ++refused;
        }
    EXPECT_GT(letters, 0u);
    EXPECT_LE(letters, TLblParser::MaxExpandedText);
    // Past the limit the style tags are refused, and a refused tag is drawn
    // as its text.
    EXPECT_GT(refused, 0u);
    // Nesting deeper than the limit is refused the same way.
    styles.clear();
    for (char c = 'a'; c < 'z'; ++c) styles.push_back(std::string(1, c) + ":<y=" + char(c + 1) + ">");
    styles.push_back("z:deep");
    f.label->SetTextStyles(styles);
    f.label->SetCaption("<y=a>");
    std::string text;
    for (const TTagRun& run : f.label->Measured().Lines.at(0).Runs) text += run.Text;
    EXPECT_EQ(text, "<y=" + std::string(1, char('a' + TLblParser::MaxStyleDepth)) + ">");
}

TEST(tag_label, control_links_show_a_hand_and_raise_link_click) {
    LabelFixture f;
    std::vector<std::string> clicked;
    int clicks = 0;
    f.label->OnLinkClick = [&](vcl::TComponent* sender, const std::string& link) {
        EXPECT_EQ(sender, f.label);
        clicked.push_back(link);
    };
    f.label->OnClick = [&](vcl::TComponent*) { ++clicks; };
    int moves = 0;
    f.label->OnMouseMove = [&](vcl::TComponent*, vcl::TShiftState, int, int) { ++moves; };
    f.label->SetCaption("go <L=target>here<l> now");
    const TTagLine& line = f.label->Measured().Lines[0];
    ASSERT_EQ(line.Runs.size(), 3u);
    const int lx = line.Runs[1].X + 1;
    const int ox = line.Runs[2].X + 2;
    EXPECT_EQ(f.label->LinkAt(lx, 2), "target");
    EXPECT_EQ(f.label->LinkAt(ox, 2), "");
    EXPECT_EQ(f.label->LinkAt(lx, f.label->Height() + 5), "");

    QWidget* surface = f.label->Controls(0)->Widget();
    f.label->MouseMovedTo(0, lx, 2);
    EXPECT_EQ(surface->cursor().shape(), Qt::PointingHandCursor);
    f.label->MouseMovedTo(0, ox, 2);
    EXPECT_NE(surface->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(moves, 2);

    f.label->MouseClickedAt(vcl::TMouseButton::mbRight, 0, lx, 2);
    f.label->MouseClickedAt(vcl::TMouseButton::mbLeft, 0, ox, 2);
    f.label->MouseClickedAt(vcl::TMouseButton::mbLeft, 0, lx, 2);
    EXPECT_EQ(clicked, (V{"target"}));
    EXPECT_EQ(clicks, 2);

    // The same through the toolkit's own mouse events on the surface.
    QWidget* viewport = static_cast<QAbstractScrollArea*>(surface)->viewport();
    const auto send = [&](QEvent::Type type, int x, Qt::MouseButton button) {
        QMouseEvent e(type, QPointF(x, 2), viewport->mapToGlobal(QPointF(x, 2)), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &e);
    };
    send(QEvent::MouseMove, lx, Qt::NoButton);
    EXPECT_EQ(surface->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(moves, 3);
    send(QEvent::MouseButtonPress, lx, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, lx, Qt::LeftButton);
    EXPECT_EQ(clicked, (V{"target", "target"}));
    EXPECT_EQ(clicks, 3);
}

TEST(tag_label, control_objects_are_sized_and_painted_by_the_handler) {
    LabelFixture f;
    std::vector<std::string> calls;
    f.label->SetOnGetObjSize_Paint([&](vcl::TComponent*, const std::string& name, bool paint,
                                       vcl::TCanvas& canvas, vcl::TRect& r) {
        calls.push_back(name + (paint ? ":paint" : ":size"));
        if (!paint) {
            r.Right = r.Left + 40;
            r.Bottom = r.Top + 30;
        } else {
            EXPECT_EQ(r.Width(), 40);
            canvas.Brush.SetStyle(vcl::TBrushStyle::bsSolid);
            canvas.Brush.SetColor(0x00FF00);
            canvas.FillRect(r);
        }
    });
    f.label->SetCaption("<o=pic>");
    EXPECT_EQ(f.label->Width(), 40);
    EXPECT_EQ(f.label->Height(), 30);
    calls.clear();
    const QImage img = f.Paint();
    EXPECT_EQ(calls, (V{"pic:paint"}));
    EXPECT_EQ(img.pixel(20, 15) & 0xFFFFFF, qRgb(0, 255, 0) & 0xFFFFFF);
}

TEST(tag_label, control_disabled_label_draws_text_twice_and_layout_moves_the_block) {
    LabelFixture f;
    f.label->SetCaption("abc");
    f.label->SetAutoSize(false);
    f.label->SetBounds(1, 1, 100, 60);
    f.label->SetColor(vcl::clWhite);
    f.label->SetLayout(TTextLayout::tlBottom);
    f.label->Font().SetColor(0x0000FF);
    QImage img = f.Paint();
    // The text sits in the bottom rows only.
    bool top_blank = true;
    for (int y = 0; y < 60 - f.label->Measured().Height; ++y)
        for (int x = 0; x < 100; ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) top_blank = false;
    EXPECT_TRUE(top_blank);
    EXPECT_TRUE(HasReddish(img));
    f.label->SetEnabled(false);
    img = f.Paint();
    EXPECT_FALSE(HasReddish(img));  // shades, not the font colour
}

}  // namespace
}  // namespace terminal
