#include "chart/drawing/plot_html.h"

#include <algorithm>
#include <array>
#include <climits>
#include <exception>
#include <vector>

#include "chart/drawing/html_attributes.h"
#include "chart/drawing/plot_canvas.h"
#include "platform/rtl/files.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"
#include "platform/vcl/graphic.h"
#include "platform/vcl/streams.h"

namespace chart {

constinit TPlotGraphicFromExtension PlotGraphicFromExtensionHook = nullptr;
constinit TPlotHtmlImageLoader PlotHtmlImageLoader = nullptr;

namespace {

int Clamp32(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

// Everything of a font a pop must bring back exactly.
struct TSavedFont {
    std::string Name;
    int Height = 0;
    vcl::TColor Color = 0;
    vcl::TFontStyles Style = 0;
    vcl::TFontCharset Charset = 0;
    vcl::TFontPitch Pitch = vcl::TFontPitch::fpDefault;
};

TSavedFont SaveFont(const vcl::TFont& F) {
    return {F.Name(), F.Height(), F.Color(), F.Style(), F.Charset(), F.Pitch()};
}

void RestoreFont(vcl::TFont& F, const TSavedFont& S) {
    F.SetName(S.Name);
    F.SetHeight(S.Height);
    F.SetColor(S.Color);
    F.SetStyle(S.Style);
    F.SetCharset(S.Charset);
    F.SetPitch(S.Pitch);
}

void ReplaceAll(std::string& S, const std::string& What, const std::string& With) {
    for (std::size_t at = S.find(What); at != std::string::npos;
         at = S.find(What, at + With.size()))
        S.replace(at, What.size(), With);
}

bool StartsWith(const std::string& S, const char* Prefix) { return S.rfind(Prefix, 0) == 0; }

// The style a style tag or its closer switches, as an index 0 to 3 of
// bold, italic, underline, strike-out; -1 for other tags.
int StyleOfTag(const std::string& Tag) {
    if (Tag.size() < 3 || Tag[0] != '<') return -1;
    const std::string name = Tag.substr(Tag[1] == '/' ? 2 : 1);
    if (name == "B>" || name == "BOLD>" || name == "STRONG>") return 0;
    if (name == "I>") return 1;
    if (name == "U>") return 2;
    if (name == "STRIKE>") return 3;
    return -1;
}

constexpr vcl::TFontStyles StyleBits[4] = {vcl::fsBold, vcl::fsItalic, vcl::fsUnderline,
                                           vcl::fsStrikeOut};

class THtmlRenderer {
  public:
    THtmlRenderer(TPlotCanvas& Canvas, int X, int Y, bool Draw)
        : canvas_(Canvas),
          draw_(Draw),
          start_x_(X),
          x_(X),
          y_(Y),
          line_height_(Canvas.FontHeight()) {}

    vcl::TSize Run(std::string Text) {
        std::size_t at = 0;
        while (at < Text.size()) {
            const std::size_t open = Text.find('<', at);
            std::size_t end;
            if (open == std::string::npos) {
                end = Text.size();
            } else if (open == at) {
                const std::size_t close = Text.find('>', at);
                if (close == std::string::npos)
                    throw HtmlParserException("Missing > at " + Text.substr(at + 1));
                end = close + 1;
            } else {
                end = open;
            }
            Dispatch(Text.substr(at, end - at));
            at = end;
        }
        return {Clamp32(size_cx_), Clamp32(size_cy_)};
    }

  private:
    struct TPushedFont {
        TSavedFont Font;
        // How far the opening tag moved the text down (sub- and superscript);
        // the pop moves it back by as much.
        long long YStep = 0;
    };

    vcl::TFont& Font() { return *canvas_.Font; }

    void Dispatch(std::string Token) {
        pushed_ = false;
        if (StartsWith(Token, "\r\n")) {
            y_ += canvas_.FontHeight();
            x_ = start_x_;
            line_height_ = 0;
            Token.erase(0, 2);
            if (Token.empty()) return;
        }
        if (!Tag(Token, rtl::UpperCase(Token))) TextRun(Token);
    }

    // Acts on a tag of the table; false for text (and unknown tags, drawn as text).
    bool Tag(const std::string& Token, const std::string& U) {
        if (U == "<BR>" || U == "<P>") {
            x_ = start_x_;
            line_height_ = 0;
        } else if (U == "<BIG>" || U == "<SMALL>") {
            PushFont();
            Font().SetSize(HtmlFontSize(Font().Size() + (U == "<BIG>" ? 2LL : -2LL)));
        } else if (U == "</SUB>" || U == "</SUPER>") {
            PopFont();
        } else if (U == "<SUB>" || U == "<SUPER>") {
            PushFont();
            Font().SetSize(Font().Size() / 2);
            const long long h = canvas_.FontHeight();
            fonts_.back().YStep = U == "<SUB>" ? h : -(h / 2);
            y_ += fonts_.back().YStep;
        } else if (U.size() == 4 && StartsWith(U, "<H") && U[2] >= '1' && U[2] <= '6' &&
                   U[3] == '>') {
            static constexpr int sizes[6] = {48, 36, 24, 18, 12, 8};
            PushFont();
            Font().SetSize(sizes[U[2] - '1']);
        } else if (U == "<PRE>") {
            PushFont();
            ApplyHtmlFont(Font(), "<FONT NAME=\"COURIER NEW\">");
        } else if (U == "<CENTER>") {
            centre_ = true;
        } else if (const int style = StyleOfTag(U); style >= 0 && U[1] != '/') {
            OpenStyle(style, U);
        } else if (StartsWith(U, "<IMG ")) {
            Image(Token);
        } else if (style >= 0) {
            CloseStyle(style);
        } else if (StartsWith(U, "</FONT") || U == "</PRE>") {
            PopFont();
        } else if (U == "</CENTER>") {
            centre_ = false;
        } else if (StartsWith(U, "<FONT ")) {
            PushFont();
            ApplyHtmlFont(Font(), U);
        } else if (U == "</>") {
            if (previous_pushed_) {
                PopFont();
            } else {
                // The last open style tag is closed by its own closer; with
                // none open, "</" is text.
                const std::string last = tags_.empty() ? std::string() : tags_.back().Tag;
                Dispatch("</" + (last.empty() ? std::string() : last.substr(1)));
            }
        } else if (U == "<HR>") {
            x_ = start_x_;
            if (draw_) {
                canvas_.Pen->SetStyle(vcl::TPenStyle::psSolid);
                canvas_.Pen->SetWidth(1);
                canvas_.Pen->SetColor(0x808080);
                canvas_.HorizLine(Clamp32(x_), Clamp32(x_ + 100), Clamp32(y_));
            }
            y_ += canvas_.FontHeight();
        } else {
            return false;
        }
        previous_pushed_ = pushed_;
        return true;
    }

    void PushFont() {
        fonts_.push_back({SaveFont(Font()), 0});
        pushed_ = true;
    }

    // Nothing to pop leaves the font as it is.
    void PopFont() {
        if (fonts_.empty()) return;
        const TPushedFont top = std::move(fonts_.back());
        fonts_.pop_back();
        RestoreFont(Font(), top.Font);
        y_ -= top.YStep;
    }

    void OpenStyle(int Style, const std::string& Tag) {
        Font().SetStyle(Font().Style() | StyleBits[Style]);
        open_[Style].push_back(tags_.size());
        tags_.push_back({Tag, false});
    }

    // The style goes, and with it the last open tag of that style.
    void CloseStyle(int Style) {
        Font().SetStyle(Font().Style() & ~StyleBits[Style]);
        if (open_[Style].empty()) return;
        tags_[open_[Style].back()].Closed = true;
        open_[Style].pop_back();
        while (!tags_.empty() && tags_.back().Closed) tags_.pop_back();
    }

    void TextRun(std::string Run) {
        ReplaceAll(Run, "&lt;", "<");
        ReplaceAll(Run, "&gt;", ">");
        ReplaceAll(Run, "&amp;", "&");
        ReplaceAll(Run, "&quot;", "\"");
        const bool endsLine = Run.size() >= 2 && Run.compare(Run.size() - 2, 2, "\r\n") == 0;
        if (endsLine) Run.resize(Run.size() - 2);
        if (Run.empty()) return;
        const long long w = canvas_.TextWidth(Run);
        if (centre_) x_ = ((long long)canvas_.Bounds.Left + canvas_.Bounds.Right) / 2 - w / 2;
        const long long h = canvas_.TextHeight(Run);
        // A run lower than the line sits on the line's bottom; the line
        // itself stays where it is.
        long long drop = 0;
        if (line_height_ == 0) {
            line_height_ = canvas_.FontHeight();
            y_ += line_height_;
        } else if (h < line_height_) {
            drop = line_height_ - h - 1;
        }
        if (draw_) canvas_.TextOut(Clamp32(x_), Clamp32(y_ + drop), Run);
        x_ += w;
        size_cx_ = std::max(size_cx_, x_);
        if (h > line_height_) line_height_ = h;
        size_cy_ = std::max(size_cy_, line_height_);
        if (endsLine) {
            line_height_ = 0;
            x_ = start_x_;
        }
    }

    void Image(const std::string& Token) {
        std::string body = Token.substr(5);
        if (StartsWith(body, "\r\n")) body.erase(0, 2);
        if (!body.empty() && body.back() == '>') body.pop_back();
        long long width = 0, height = 0;
        std::string source;
        bool hasSource = false;
        for (const THtmlAttribute& a : HtmlAttributes(body)) {
            const std::string name = rtl::UpperCase(a.Name);
            if (name == "WIDTH") {
                width = rtl::StrToInt(a.Value);
            } else if (name == "HEIGHT") {
                height = rtl::StrToInt(a.Value);
            } else if (name == "SRC") {
                source = a.Value;
                hasSource = true;
            }
        }
        if (!hasSource) return;
        source = HtmlUnquote(rtl::Trim(source));

        std::unique_ptr<vcl::TGraphic> graphic = LoadImage(source);
        if (graphic) {
            const long long ownW = graphic->Width(), ownH = graphic->Height();
            if (width == 0) width = ownW;
            if (height == 0) height = ownH;
            if (draw_) {
                if (width == ownW && height == ownH)
                    canvas_.Draw(Clamp32(x_), Clamp32(y_), graphic.get());
                else
                    canvas_.StretchDraw(
                        {Clamp32(x_), Clamp32(y_), Clamp32(x_ + width), Clamp32(y_ + height)},
                        graphic.get());
            }
        } else {
            if (width == 0) width = 40;
            if (height == 0) height = 40;
            if (draw_) Placeholder(width, height);
        }
        x_ += width;
        y_ += height;
    }

    // The graphic of Source, loaded; none when no graphic class, loader or
    // bytes answer, or when the bytes do not load.
    static std::unique_ptr<vcl::TGraphic> LoadImage(const std::string& Source) {
        if (!PlotGraphicFromExtensionHook || !PlotHtmlImageLoader) return nullptr;
        std::unique_ptr<vcl::TGraphic> graphic =
            PlotGraphicFromExtensionHook(rtl::UpperCase(rtl::ExtractFileExt(Source)));
        if (!graphic) return nullptr;
        try {
            vcl::TMemoryStream stream;
            if (PlotHtmlImageLoader(Source, stream) != 0 || stream.Size() == 0) return nullptr;
            stream.SetPosition(0);
            graphic->LoadFromStream(stream);
        } catch (const std::exception&) {
            // Whatever went wrong with the picture, the text still gets its box.
            return nullptr;
        }
        return graphic;
    }

    // A white box framed in red with both diagonals.
    void Placeholder(long long W, long long H) {
        canvas_.Pen->SetStyle(vcl::TPenStyle::psSolid);
        canvas_.Pen->SetColor(255);
        canvas_.Pen->SetWidth(1);
        canvas_.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
        canvas_.Brush->SetColor(vcl::clWhite);
        const int left = Clamp32(x_), top = Clamp32(y_);
        const int right = Clamp32(x_ + W), bottom = Clamp32(y_ + H);
        const int lastX = Clamp32(x_ + W - 1), lastY = Clamp32(y_ + H - 1);
        canvas_.Rectangle(left, top, right, bottom);
        canvas_.Line(left, top, lastX, lastY);
        canvas_.Line(left, lastY, lastX, top);
    }

    TPlotCanvas& canvas_;
    const bool draw_;
    const long long start_x_;
    long long x_;
    long long y_;
    // 0: the next text run starts a new line.
    long long line_height_;
    bool centre_ = false;
    bool pushed_ = false;
    bool previous_pushed_ = false;
    long long size_cx_ = 0;
    long long size_cy_ = 0;
    std::vector<TPushedFont> fonts_;
    // The style tags in the order they were opened, upper-cased, for "</>";
    // those closed out of order wait, marked, until the tags above them go.
    struct TOpenTag {
        std::string Tag;
        bool Closed;
    };
    std::vector<TOpenTag> tags_;
    // Per style, where its open tags stand in tags_ (so a closer finds its
    // tag at once, however many tags are open).
    std::array<std::vector<std::size_t>, 4> open_;
};

std::vector<std::string> PlainLines(const std::string& Text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t cr = Text.find('\r', start);
        lines.push_back(
            Text.substr(start, cr == std::string::npos ? std::string::npos : cr - start));
        if (cr == std::string::npos) return lines;
        start = cr + 1;
        if (start < Text.size() && Text[start] == '\n') ++start;
    }
}

// The markup laid out without drawing; false (and the font as it was)
// when it cannot be read.
bool MarkupReads(TPlotCanvas& Canvas, const std::string& Text, vcl::TSize* Size) {
    const TSavedFont before = SaveFont(*Canvas.Font);
    try {
        const vcl::TSize size = THtmlRenderer(Canvas, 0, 0, false).Run(Text);
        if (Size) *Size = size;
    } catch (const rtl::Exception&) {
        RestoreFont(*Canvas.Font, before);
        return false;
    }
    if (!Size) RestoreFont(*Canvas.Font, before);
    return true;
}

}  // namespace

vcl::TSize HtmlRender(TPlotCanvas& Canvas, int X, int Y, const std::string& Text, bool Draw) {
    return THtmlRenderer(Canvas, X, Y, Draw).Run(Text);
}

void HtmlTextOut(TPlotCanvas& Canvas, int X, int Y, const std::string& Text) {
    HtmlRender(Canvas, X, Y, Text, true);
}

vcl::TSize HtmlTextExtent(TPlotCanvas& Canvas, const std::string& Text) {
    return HtmlRender(Canvas, 0, 0, Text, false);
}

void HtmlTextOutOrPlain(TPlotCanvas& Canvas, int X, int Y, const std::string& Text) {
    if (MarkupReads(Canvas, Text, nullptr)) {
        HtmlTextOut(Canvas, X, Y, Text);
        return;
    }
    const long long step = Canvas.FontHeight();
    long long y = Y;
    for (const std::string& line : PlainLines(Text)) {
        Canvas.TextOut(X, Clamp32(y), line);
        y += step;
    }
}

vcl::TSize HtmlTextExtentOrPlain(TPlotCanvas& Canvas, const std::string& Text) {
    vcl::TSize size;
    if (MarkupReads(Canvas, Text, &size)) return size;
    const std::vector<std::string> lines = PlainLines(Text);
    long long width = 0;
    for (const std::string& line : lines)
        width = std::max<long long>(width, Canvas.TextWidth(line));
    return {Clamp32(width),
            Clamp32((long long)Canvas.FontHeight() * static_cast<long long>(lines.size()))};
}

}  // namespace chart
