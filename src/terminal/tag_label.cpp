#include "terminal/tag_label.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "platform/rtl/numbers.h"
#include "platform/vcl/color_names.h"
#include "platform/vcl/list_box.h"

namespace terminal {

namespace {

// No coordinate grows past this, whatever tab size, object size or text
// length a caption brings: sums stay far from the integer range.
constexpr std::int64_t MaxExtent = 1 << 24;
// Largest font size a tag may ask for, in points.
constexpr int MaxTagFontSize = 1000;

int Clamp(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, 0, MaxExtent)); }

constexpr vcl::TColor clBtnShadow = vcl::TColor(0xFF000010u);
constexpr vcl::TColor clBtnHighlight = vcl::TColor(0xFF000014u);

// "<", a letter, then nothing or "=" and a value, then ">".
bool SplitTag(std::string_view Tag, char& Letter, std::optional<std::string_view>& Value) {
    if (Tag.size() < 3 || Tag.front() != '<' || Tag.back() != '>') return false;
    Letter = Tag[1];
    Value.reset();
    if (Tag.size() == 3) return true;
    if (Tag[2] != '=') return false;
    Value = Tag.substr(3, Tag.size() - 4);
    return true;
}

std::string ColorText(vcl::TColor Color) {
    return rtl::IntToHex(static_cast<std::int32_t>(Color), 6);
}

}  // namespace

// ---------------------------------------------------------------- TLblParser

void TLblParser::SetText(std::string_view Text) {
    text_.assign(Text.substr(0, Text.find('\0')));
    pos_ = 0;
    saved_.clear();
    expanded_ = 0;
    token_.clear();
    kind_ = 0;
    TagsOff = false;
    stop_valid_ = false;
}

TLblParser::TExpansion TLblParser::ExpandStyle(char Letter, std::string_view Text) {
    for (const TSaved& s : saved_)
        if (s.Letter == Letter) return TExpansion::AlreadyExpanding;
    Text = Text.substr(0, Text.find('\0'));
    if (saved_.size() >= MaxStyleDepth || Text.size() > MaxExpandedText - expanded_)
        return TExpansion::TooLarge;
    expanded_ += Text.size();
    saved_.push_back({std::move(text_), pos_, Letter});
    text_.assign(Text);
    pos_ = 0;
    stop_valid_ = false;
    return TExpansion::Expanded;
}

std::size_t TLblParser::NextTagStop() {
    // The first ">", TAB or CR after the "<" at pos_. Scans only move
    // forward, so one search serves every "<" up to the stop it found: a
    // caption full of "<" without ">" stays linear.
    if (!stop_valid_ || (stop_ != std::string::npos && stop_ <= pos_)) {
        stop_ = text_.find_first_of(">\t\r", pos_ + 1);
        stop_valid_ = true;
    }
    return stop_;
}

void TLblParser::ReadText() {
    const std::size_t start = pos_++;
    const auto stops = [&](char c) { return c == '\t' || c == '\r' || c == '<'; };
    if (WordSplit) {
        const bool blank = text_[start] == ' ';
        while (pos_ < text_.size() && !stops(text_[pos_]) && (text_[pos_] == ' ') == blank) ++pos_;
    } else {
        while (pos_ < text_.size() && !stops(text_[pos_])) ++pos_;
    }
    token_.assign(text_, start, pos_ - start);
    kind_ = tkText;
}

bool TLblParser::NextToken() {
    while (pos_ >= text_.size()) {
        if (saved_.empty()) return false;
        text_ = std::move(saved_.back().Text);
        pos_ = saved_.back().Pos;
        saved_.pop_back();
        stop_valid_ = false;
    }
    const char c = text_[pos_];
    if (c == '\t') {
        token_ = "\t";
        kind_ = tkTab;
        ++pos_;
        return true;
    }
    if (c == '\r') {
        token_ = "\r";
        kind_ = tkLineBreak;
        ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
        return true;
    }
    if (c == '<') {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '<') {
            if (!TagsOff) ++pos_;
            ReadText();
            return true;
        }
        const std::size_t stop = NextTagStop();
        if (stop != std::string::npos && text_[stop] == '>') {
            token_.assign(text_, pos_, stop - pos_ + 1);
            kind_ = tkTag;
            pos_ = stop + 1;
            return true;
        }
    }
    ReadText();
    return true;
}

// ---------------------------------------------------------------- tags

std::optional<std::string> FindTextStyle(const std::vector<std::string>& TextStyles, char Letter) {
    for (const std::string& line : TextStyles)
        if (line.size() >= 2 && line[0] == Letter && line[1] == ':') return line.substr(2);
    return std::nullopt;
}

std::optional<vcl::TColor> TagColor(std::string_view Value) {
    if (Value.empty()) return std::nullopt;
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (Value.size() <= 8 && std::all_of(Value.begin(), Value.end(), hex))
        return static_cast<vcl::TColor>(std::stoul(std::string(Value), nullptr, 16));
    if (vcl::TColor named; vcl::IdentToColor(std::string(Value), named)) return named;
    return std::nullopt;
}

std::string FontStateTags(const TTagFont& Font) {
    const auto flag = [&](vcl::TFontStyles bit, char on, char off) {
        return std::string("<") + ((Font.Style & bit) ? on : off) + ">";
    };
    return flag(vcl::fsBold, 'B', 'b') + flag(vcl::fsItalic, 'I', 'i') +
           flag(vcl::fsUnderline, 'U', 'u') + "<f=" + Font.Name +
           "><s=" + rtl::IntToStr(Font.Size) + "><c=" + ColorText(Font.Color) + "><z=" +
           (Font.Background == vcl::clNone ? std::string(".") : ColorText(Font.Background)) + ">";
}

void TTagProcessor::Reset() {
    State = TTagState{};
    State.Font = settings_.Font;
    State.Font.Background = vcl::clNone;
}

void TTagProcessor::ResetFont() {
    State.Font = settings_.Font;
    State.Font.Background = vcl::clNone;
}

TTagResult TTagProcessor::ProcessTag(std::string_view Tag) {
    char letter = 0;
    std::optional<std::string_view> value;
    if (!SplitTag(Tag, letter, value)) return TTagResult::Refused;
    if (parser_.TagsOff && letter != 't') return TTagResult::Refused;
    return Apply(letter, value);
}

TTagResult TTagProcessor::Apply(char Letter, std::optional<std::string_view> Value) {
    constexpr auto Refused = TTagResult::Refused;
    constexpr auto Applied = TTagResult::Applied;
    TTagFont& font = State.Font;
    const auto style = [&](vcl::TFontStyles bit, bool on) {
        if (Value) return Refused;
        font.Style = on ? (font.Style | bit) : (font.Style & ~bit);
        return Applied;
    };
    switch (Letter) {
        case 'B':
            return style(vcl::fsBold, true);
        case 'I':
            return style(vcl::fsItalic, true);
        case 'U':
            return style(vcl::fsUnderline, true);
        case 'b':
            return style(vcl::fsBold, false);
        case 'i':
            return style(vcl::fsItalic, false);
        case 'u':
            return style(vcl::fsUnderline, false);
        case 'l': {
            if (Value) return Refused;
            if (!State.InLink) return Applied;
            const std::string restore = std::move(State.LinkRestore);
            State.InLink = false;
            State.Link.clear();
            State.LinkRestore.clear();
            // The saved state is tag text; it is read on its own, not through
            // the caption's parser, so it cannot be mixed with a style.
            TLblParser saved;
            saved.SetText(restore);
            while (saved.NextToken()) {
                char letter = 0;
                std::optional<std::string_view> value;
                if (saved.TokenKind() == tkTag && SplitTag(saved.Token(), letter, value))
                    Apply(letter, value);
            }
            return Applied;
        }
        case 'm':
            return Applied;
        default:
            break;
    }

    // Every other letter needs a value.
    if (!Value || Value->empty()) return Refused;
    const std::string_view v = *Value;
    const bool reset = v == ".";
    switch (Letter) {
        case 'L':
            // A link inside a link keeps the state from before the outer one.
            if (!State.InLink) State.LinkRestore = FontStateTags(font);
            State.InLink = true;
            State.Link.assign(v);
            if (const auto s = FindTextStyle(settings_.TextStyles, 'l'))
                parser_.ExpandStyle('l', *s);
            return Applied;
        case 'a':
            if (reset)
                State.Align = TTagAlign::Default;
            else if (v == "l")
                State.Align = TTagAlign::Left;
            else if (v == "c")
                State.Align = TTagAlign::Center;
            else if (v == "r")
                State.Align = TTagAlign::Right;
            else
                return Refused;
            return Applied;
        case 'c':
        case 'z':
        case 'g': {
            vcl::TColor color = Letter == 'c' ? settings_.Font.Color : vcl::clNone;
            if (!reset) {
                const auto c = TagColor(v);
                if (!c) return Refused;
                color = *c;
            }
            (Letter == 'c'   ? font.Color
             : Letter == 'z' ? font.Background
                             : State.LineColor) = color;
            return Applied;
        }
        case 'f':
            font.Name = reset ? settings_.Font.Name : std::string(v);
            return Applied;
        case 's': {
            if (reset) {
                font.Size = settings_.Font.Size;
                return Applied;
            }
            int size = 0;
            for (char c : v) {
                if (c < '0' || c > '9') return Refused;
                size = size * 10 + (c - '0');
                if (size > MaxTagFontSize) return Refused;
            }
            if (size < 1) return Refused;
            font.Size = size;
            return Applied;
        }
        case 'y': {
            if (reset) {
                ResetFont();
                return Applied;
            }
            if (v.size() != 1) return Refused;
            const auto s = FindTextStyle(settings_.TextStyles, v[0]);
            if (!s) return Refused;
            // A style already being expanded has nothing more to do; one that
            // would expand beyond the limits is a bad tag.
            if (parser_.ExpandStyle(v[0], *s) == TLblParser::TExpansion::TooLarge) return Refused;
            return Applied;
        }
        case 't':
            if (settings_.DisableTags) return Refused;
            if (v == "ON") {
                parser_.TagsOff = false;
                return Applied;
            }
            if (v == "OFF" && !parser_.TagsOff) {
                parser_.TagsOff = true;
                return Applied;
            }
            return Refused;
        case 'o':
            State.Object.assign(v);
            return TTagResult::Object;
        default:
            return Refused;
    }
}

// ---------------------------------------------------------------- layout

namespace {

bool IsBlankRun(const TTagRun& r) {
    return !r.IsObject && !r.Text.empty() &&
           std::all_of(r.Text.begin(), r.Text.end(), [](char c) { return c == ' '; });
}

class TLayoutBuilder {
  public:
    TLayoutBuilder(TTagProcessor& Tags, int WrapWidth, ITagTextMeasure& Measure)
        : tags_(Tags), settings_(Tags.Settings()), wrap_(WrapWidth), measure_(Measure) {}

    // Pieces of one token: they wrap together.
    void Place(std::vector<TTagRun> pieces) {
        std::int64_t width = 0;
        for (const TTagRun& r : pieces) width += r.Width;
        if (settings_.WordWrap && x_ > 0 && x_ + width > wrap_) {
            if (!line_.Runs.empty() && IsBlankRun(line_.Runs.back())) {
                x_ = line_.Runs.back().X;
                line_.Runs.pop_back();
            }
            const bool blank = pieces.size() == 1 && IsBlankRun(pieces[0]);
            EndLine();
            if (blank) return;
        }
        for (TTagRun& r : pieces) {
            r.X = Clamp(x_);
            x_ = Clamp(x_ + r.Width);
            line_.Height = std::max(line_.Height, r.Height);
            line_.Runs.push_back(std::move(r));
        }
    }

    void Text(const std::string& text) {
        std::vector<TTagRun> pieces;
        const auto piece = [&](std::string s, bool accel) {
            if (s.empty()) return;
            TTagRun r = NewRun();
            if (accel) r.Font.Style |= vcl::fsUnderline;
            r.Width = Clamp(measure_.TextWidth(r.Font, s));
            r.Height = Clamp(measure_.TextHeight(r.Font));
            r.Text = std::move(s);
            pieces.push_back(std::move(r));
        };
        if (!settings_.ShowAccelChar) {
            piece(text, false);
        } else {
            // "&&" is "&"; "&" before any other character underlines it.
            std::string plain;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] != '&' || i + 1 == text.size()) {
                    plain += text[i];
                } else if (text[++i] == '&') {
                    plain += '&';
                } else {
                    piece(std::move(plain), false);
                    plain.clear();
                    piece(std::string(1, text[i]), true);
                }
            }
            piece(std::move(plain), false);
        }
        if (!pieces.empty()) Place(std::move(pieces));
    }

    void Object(const std::string& name, const TTagObjectSize& size) {
        int w = 10, h = 10;
        if (size) size(name, w, h);
        TTagRun r = NewRun();
        r.IsObject = true;
        r.Text = name;
        r.Width = Clamp(w);
        r.Height = Clamp(h);
        Place({std::move(r)});
    }

    void Tab() {
        const std::int64_t tab = std::max(1, settings_.TabSize);
        x_ = Clamp((x_ / tab + 1) * tab);
    }

    void EndLine() {
        line_.Width = Clamp(x_);
        if (line_.Height == 0) line_.Height = Clamp(measure_.TextHeight(tags_.State.Font));
        line_.Align = tags_.State.Align;
        line_.Color = tags_.State.LineColor;
        out_.Width = std::max(out_.Width, line_.Width);
        out_.Height = Clamp(std::int64_t(out_.Height) + line_.Height);
        out_.Lines.push_back(std::move(line_));
        line_ = TTagLine{};
        x_ = 0;
    }

    TTagLayout Finish() {
        EndLine();
        return std::move(out_);
    }

  private:
    TTagRun NewRun() const {
        TTagRun r;
        r.Font = tags_.State.Font;
        r.InLink = tags_.State.InLink;
        r.Link = tags_.State.Link;
        return r;
    }

    TTagProcessor& tags_;
    const TTagSettings& settings_;
    std::int64_t wrap_;
    ITagTextMeasure& measure_;
    TTagLayout out_;
    TTagLine line_;
    std::int64_t x_ = 0;
};

}  // namespace

TTagLayout LayoutTagText(std::string_view Text, TTagProcessor& Tags, int WrapWidth,
                         ITagTextMeasure& Measure, const TTagObjectSize& ObjectSize) {
    TLblParser& parser = Tags.Parser();
    parser.WordSplit = Tags.Settings().WordWrap;
    parser.SetText(Text);
    Tags.Reset();
    TLayoutBuilder b(Tags, WrapWidth, Measure);
    while (parser.NextToken()) {
        switch (parser.TokenKind()) {
            case tkTab:
                b.Tab();
                break;
            case tkLineBreak:
                b.EndLine();
                break;
            case tkTag:
                switch (Tags.ProcessTag(parser.Token())) {
                    case TTagResult::Refused:
                        b.Text(parser.Token());
                        break;
                    case TTagResult::Object:
                        b.Object(Tags.State.Object, ObjectSize);
                        break;
                    case TTagResult::Applied:
                        break;
                }
                break;
            default:
                b.Text(parser.Token());
                break;
        }
    }
    return b.Finish();
}

// ---------------------------------------------------------------- TTagLabel

namespace {

void ApplyTagFont(vcl::TFont& To, const TTagFont& From) {
    To.SetName(From.Name);
    To.SetSize(From.Size);
    To.SetColor(From.Color);
    To.SetStyle(From.Style);
}

class TCanvasMeasure : public ITagTextMeasure {
  public:
    explicit TCanvasMeasure(vcl::TCanvas& Canvas) : canvas_(Canvas) {}
    int TextWidth(const TTagFont& Font, std::string_view Text) override {
        ApplyTagFont(canvas_.Font, Font);
        return canvas_.TextWidth(std::string(Text));
    }
    int TextHeight(const TTagFont& Font) override {
        ApplyTagFont(canvas_.Font, Font);
        return canvas_.TextHeight("Wg");
    }

  private:
    vcl::TCanvas& canvas_;
};

}  // namespace

TTagLabel::TTagLabel(vcl::TComponent* owner) : vcl::TPanel(owner) {
    SetBevelOuter(vcl::TBevelCut::bvNone);
    surface_ = new vcl::TCustomListBox(this);
    surface_->SetParent(this);
    surface_->SetBorder(false);
    surface_->SetCount(1);
    surface_->OnDrawItem = [this](vcl::TComponent*, int, const vcl::TRect&, vcl::TOwnerDrawState) {
        PaintTo(surface_->Canvas());
    };
    surface_->OnMouseMove = [this](vcl::TComponent*, vcl::TShiftState Shift, int X, int Y) {
        MouseMovedTo(Shift, X, Y);
    };
    surface_->OnMouseDown = [this](vcl::TComponent*, vcl::TMouseButton Button,
                                   vcl::TShiftState Shift, int X,
                                   int Y) { vcl::Fire(OnMouseDown, this, Button, Shift, X, Y); };
    surface_->OnMouseUp = [this](vcl::TComponent*, vcl::TMouseButton Button, vcl::TShiftState Shift,
                                 int X, int Y) { MouseClickedAt(Button, Shift, X, Y); };
    surface_->OnDblClick = [this](vcl::TComponent*) { vcl::Fire(OnDblClick, this); };
    SetBounds(Left(), Top(), Width(), Height());
    Remeasure();
}

TTagLabel::~TTagLabel() {
    // The surface calls back into this label; silence it before the
    // components are torn down.
    if (surface_) {
        surface_->OnDrawItem = nullptr;
        surface_->OnMouseMove = nullptr;
        surface_->OnMouseDown = nullptr;
        surface_->OnMouseUp = nullptr;
        surface_->OnDblClick = nullptr;
    }
}

void TTagLabel::SetCaption(const std::string& caption) {
    caption_ = caption;
    Remeasure();
}

void TTagLabel::SetTabSize(int size) {
    settings_.TabSize = std::max(1, size);
    Remeasure();
}

void TTagLabel::SetDisableTags(bool on) {
    settings_.DisableTags = on;
    Remeasure();
}

void TTagLabel::SetTextStyles(std::vector<std::string> styles) {
    settings_.TextStyles = std::move(styles);
    Remeasure();
}

void TTagLabel::SetWordWrap(bool on) {
    settings_.WordWrap = on;
    Remeasure();
}

void TTagLabel::SetShowAccelChar(bool on) {
    settings_.ShowAccelChar = on;
    Remeasure();
}

void TTagLabel::SetAutoSize(bool on) {
    auto_size_ = on;
    Remeasure();
}

void TTagLabel::SetTransparent(bool on) {
    transparent_ = on;
    Remeasure();
}

void TTagLabel::SetLayout(TTextLayout layout) {
    layout_ = layout;
    Remeasure();
}

void TTagLabel::SetAlignment(TAlignment alignment) {
    alignment_ = alignment;
    Remeasure();
}

void TTagLabel::SetOnGetObjSize_Paint(TGetObjSizePaintEvent handler) {
    on_get_obj_size_paint_ = std::move(handler);
    Remeasure();
}

TTagResult TTagLabel::ProcessTag(const std::string& Tag) { return tags_.ProcessTag(Tag); }

void TTagLabel::FontChanged() {
    vcl::TPanel::FontChanged();
    if (surface_) Remeasure();
}

void TTagLabel::ColorChanged() {
    vcl::TPanel::ColorChanged();
    if (surface_) Remeasure();
}

void TTagLabel::SyncSettings() {
    const vcl::TFont& f = Font();
    settings_.Font = TTagFont{f.Name(), f.Size(), f.Color(), f.Style(), vcl::clNone};
    settings_.Color = Color();
    // The surface's own fill shows through a transparent label; the parent's
    // colour is as near to "nothing" as the class library can draw.
    const vcl::TColor fill = transparent_ && Parent() ? Parent()->Color() : Color();
    if (surface_->Color() != fill) surface_->SetColor(fill);
}

void TTagLabel::Remeasure() {
    if (!surface_ || remeasuring_) return;
    remeasuring_ = true;
    SyncSettings();
    TCanvasMeasure measure(surface_->Canvas());
    TTagObjectSize object_size;
    if (on_get_obj_size_paint_) {
        object_size = [this](const std::string& Name, int& Width, int& Height) {
            vcl::TRect r{0, 0, Width, Height};
            on_get_obj_size_paint_(this, Name, false, surface_->Canvas(), r);
            Width = r.Width();
            Height = r.Height();
        };
    }
    try {
        layout_text_ = LayoutTagText(caption_, tags_, Width(), measure, object_size);
        if (auto_size_) {
            const int w = settings_.WordWrap ? Width() : layout_text_.Width;
            if (w != Width() || layout_text_.Height != Height())
                SetBounds(Left(), Top(), w, layout_text_.Height);
        }
    } catch (...) {
        remeasuring_ = false;
        throw;
    }
    remeasuring_ = false;
    surface_->Repaint();
}

void TTagLabel::SetBounds(int left, int top, int width, int height) {
    const bool wider = width != Width();
    vcl::TPanel::SetBounds(left, top, width, height);
    if (!surface_) return;
    // Sized here rather than aligned: the surface must follow at once, not
    // when the toolkit gets round to a hidden window's resize.
    surface_->SetBounds(0, 0, Width(), Height());
    surface_->SetItemHeight(std::max(1, Height()));
    if (wider && settings_.WordWrap) Remeasure();
}

void TTagLabel::VisitRuns(const TRunVisitor& Visit) const {
    const int w = Width();
    const int h = Height();
    int y = 0;
    if (layout_ == TTextLayout::tlCenter) y = (h - layout_text_.Height) / 2;
    if (layout_ == TTextLayout::tlBottom) y = h - layout_text_.Height;
    for (const TTagLine& line : layout_text_.Lines) {
        TTagAlign align = line.Align;
        if (align == TTagAlign::Default) {
            align = alignment_ == TAlignment::taCenter         ? TTagAlign::Center
                    : alignment_ == TAlignment::taRightJustify ? TTagAlign::Right
                                                               : TTagAlign::Left;
        }
        int x = 0;
        if (align == TTagAlign::Center) x = (w - line.Width) / 2;
        if (align == TTagAlign::Right) x = w - line.Width;
        const vcl::TRect line_rect{0, y, w, y + line.Height};
        Visit(line, nullptr, line_rect);
        for (const TTagRun& run : line.Runs) {
            // Runs of smaller fonts and objects stand on the line's bottom.
            const int top = y + line.Height - run.Height;
            Visit(line, &run, {x + run.X, top, x + run.X + run.Width, top + run.Height});
        }
        y += line.Height;
    }
}

std::string TTagLabel::LinkAt(int X, int Y) const {
    std::string link;
    VisitRuns([&](const TTagLine&, const TTagRun* run, const vcl::TRect& r) {
        if (run && run->InLink && X >= r.Left && X < r.Right && Y >= r.Top && Y < r.Bottom)
            link = run->Link;
    });
    return link;
}

void TTagLabel::PaintTo(vcl::TCanvas& Canvas) {
    if (!transparent_) {
        Canvas.Brush.SetStyle(vcl::TBrushStyle::bsSolid);
        Canvas.Brush.SetColor(Color());
        Canvas.FillRect({0, 0, Width(), Height()});
    }
    if (Enabled()) {
        PaintLines(Canvas, 0, 0, std::nullopt);
    } else {
        PaintLines(Canvas, 1, 1, clBtnHighlight);
        PaintLines(Canvas, 0, 0, clBtnShadow);
    }
}

void TTagLabel::PaintLines(vcl::TCanvas& Canvas, int Dx, int Dy, std::optional<vcl::TColor> Shade) {
    VisitRuns([&](const TTagLine& line, const TTagRun* run, const vcl::TRect& rect) {
        const vcl::TRect r{rect.Left + Dx, rect.Top + Dy, rect.Right + Dx, rect.Bottom + Dy};
        if (!run) {
            if (line.Color != vcl::clNone && !Shade) {
                Canvas.Brush.SetStyle(vcl::TBrushStyle::bsSolid);
                Canvas.Brush.SetColor(line.Color);
                Canvas.FillRect(r);
            }
            return;
        }
        if (run->IsObject) {
            if (on_get_obj_size_paint_) {
                vcl::TRect obj = r;
                on_get_obj_size_paint_(this, run->Text, true, Canvas, obj);
            } else {
                Canvas.FillRect(r);
                Canvas.MoveTo(r.Left, r.Top);
                Canvas.LineTo(r.Right - 1, r.Top);
                Canvas.LineTo(r.Right - 1, r.Bottom - 1);
                Canvas.LineTo(r.Left, r.Bottom - 1);
                Canvas.LineTo(r.Left, r.Top);
            }
            return;
        }
        TTagFont font = run->Font;
        if (Shade) font.Color = *Shade;
        ApplyTagFont(Canvas.Font, font);
        if (font.Background == vcl::clNone || Shade) {
            Canvas.Brush.SetStyle(vcl::TBrushStyle::bsClear);
        } else {
            Canvas.Brush.SetStyle(vcl::TBrushStyle::bsSolid);
            Canvas.Brush.SetColor(font.Background);
        }
        Canvas.TextOut(r.Left, r.Top, run->Text);
    });
}

void TTagLabel::MouseMovedTo(vcl::TShiftState Shift, int X, int Y) {
    const bool over = !LinkAt(X, Y).empty();
    if (over != over_link_) {
        over_link_ = over;
        surface_->SetCursor(over ? vcl::TCursor::crHandPoint : vcl::TCursor::crDefault);
    }
    vcl::Fire(OnMouseMove, this, Shift, X, Y);
}

void TTagLabel::MouseClickedAt(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) {
    vcl::Fire(OnMouseUp, this, Button, Shift, X, Y);
    if (Button != vcl::TMouseButton::mbLeft) return;
    const std::string link = LinkAt(X, Y);
    if (!link.empty()) vcl::Fire(OnLinkClick, this, link);
    Click();
}

}  // namespace terminal
