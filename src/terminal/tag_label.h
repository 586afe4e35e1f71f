#pragma once
// The tagged-text label: a label whose caption holds inline formatting tags
// ("<B>", "<c=0000FF>", "<y=h>", links, tabs, embedded objects) and named
// text styles.
//
// It comes in two halves. The headless half splits the caption into tokens
// (TLblParser), applies the tags to a font state (TTagProcessor) and lays the
// text out into lines of runs through an abstract text measure
// (LayoutTagText); it needs no window and no toolkit. The control half
// (TTagLabel) measures with the class library's canvas, paints the runs,
// and turns the mouse into a hand over links.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vcl/graphics.h"
#include "platform/vcl/std_ctrls.h"

namespace vcl {
class TCustomListBox;
}

namespace terminal {

// --- the tag parser --------------------------------------------------------

// Token kinds of TLblParser.
enum TLblTokenKind : int { tkText = 1, tkLineBreak = 2, tkTab = 3, tkTag = 4 };

// Splits tagged text into tokens: text, line breaks (CR, with an LF right
// after it skipped), tabs and tags ("<" up to a ">" that comes before the
// end, a TAB or a CR). "<<" is text starting at the second "<" while tags
// are on, at the first while they are off. A NUL ends the text. In
// word-splitting mode a run of blanks is one token and a word another.
//
// Text styles are read in the middle of the text: ExpandStyle makes the
// parser scan a style's tags next and return to the text after them.
class TLblParser {
  public:
    void SetText(std::string_view Text);
    // The next token; false at the end of the text.
    bool NextToken();
    const std::string& Token() const { return token_; }
    int TokenKind() const { return kind_; }

    // Scans Text next, then goes on where the scan stands now. Nothing
    // changes when the style Letter is already being expanded, so a style
    // that names itself, directly or through others, ends; nor when the
    // styles of one text would nest deeper than MaxStyleDepth or expand to
    // more than MaxExpandedText characters in all (styles naming others
    // twice at every level would double the text with each level).
    enum class TExpansion { Expanded, AlreadyExpanding, TooLarge };
    static constexpr std::size_t MaxStyleDepth = 16;
    static constexpr std::size_t MaxExpandedText = 1 << 16;
    TExpansion ExpandStyle(char Letter, std::string_view Text);
    bool Expanding() const { return !saved_.empty(); }

    bool WordSplit = false;  // follows the label's WordWrap
    bool TagsOff = false;    // set by the tag "<t=OFF>"

  private:
    struct TSaved {
        std::string Text;
        std::size_t Pos;
        char Letter;
    };
    void ReadText();
    std::size_t NextTagStop();

    std::string text_;
    std::size_t pos_ = 0;
    std::size_t stop_ = 0;  // cached result of NextTagStop
    bool stop_valid_ = false;
    // Expansions in progress, innermost last. A style inside a style returns
    // to the rest of the outer style, not straight to the caption.
    std::vector<TSaved> saved_;
    std::size_t expanded_ = 0;  // characters the styles of this text brought in
    std::string token_;
    int kind_ = 0;
};

// --- the font state and the tags --------------------------------------------

// The font state that tags change. Colours are 0x00BBGGRR values or system
// colours; Background clNone draws the text transparently.
struct TTagFont {
    std::string Name = "Tahoma";
    int Size = 8;  // points
    vcl::TColor Color = vcl::clWindowText;
    vcl::TFontStyles Style = 0;
    vcl::TColor Background = vcl::clNone;

    bool operator==(const TTagFont&) const = default;
};

// Alignment of a line: the label's own, or the one a tag "<a=...>" set.
enum class TTagAlign { Default, Left, Center, Right };

// Label properties the tag text depends on.
struct TTagSettings {
    TTagFont Font;                       // the label's font, background clNone
    vcl::TColor Color = vcl::clBtnFace;  // the label's colour
    int TabSize = 50;                    // pixels between tab stops, at least 1
    bool DisableTags = false;            // "<t=...>" refused
    bool WordWrap = false;
    bool ShowAccelChar = true;  // "&" marks an accelerator ("&&" is "&")
    // Lines "letter:tags", as "h:<B><c=0000FF><z=00FFFF>".
    std::vector<std::string> TextStyles;
};

// The tags of the style Letter; none when TextStyles does not define it.
std::optional<std::string> FindTextStyle(const std::vector<std::string>& TextStyles, char Letter);

// A colour value of a tag: hexadecimal 0xBBGGRR digits (at most 8) or a
// colour name of the class library ("clRed", any case).
std::optional<vcl::TColor> TagColor(std::string_view Value);

// The state that the tags of one text build up while it is laid out.
struct TTagState {
    TTagFont Font;
    TTagAlign Align = TTagAlign::Default;
    vcl::TColor LineColor = vcl::clNone;  // clNone: the label's colour
    bool InLink = false;
    std::string Link;         // target of the link being drawn
    std::string LinkRestore;  // the font state from before the link, as tags
    std::string Object;       // name from the last "<o=...>" tag
};

// The font state as the tag text a link saves at its start:
// "<b><i><u><f=%s><s=%d><c=%s><z=%s>", a letter in upper case for a style
// that is on, colours as 6 hexadecimal digits, "." for no background.
std::string FontStateTags(const TTagFont& Font);

enum class TTagResult { Refused, Applied, Object };

// Applies tags to a state: "<", one letter, then nothing or "=" and a value,
// then ">". A refused tag is drawn as text. Styles ("<y=h>") and the end of a
// link feed their tags back through the parser.
class TTagProcessor {
  public:
    TTagProcessor(const TTagSettings& Settings, TLblParser& Parser)
        : settings_(Settings), parser_(Parser) {
        Reset();
    }
    // The state of the label itself, before any tag.
    void Reset();
    TTagResult ProcessTag(std::string_view Tag);
    TLblParser& Parser() { return parser_; }
    const TTagSettings& Settings() const { return settings_; }

    TTagState State;

  private:
    TTagResult Apply(char Letter, std::optional<std::string_view> Value);
    void ResetFont();
    const TTagSettings& settings_;
    TLblParser& parser_;
};

// --- layout ------------------------------------------------------------------

// How text is measured; the control measures with its canvas, tests with a
// fixed-width stand-in.
class ITagTextMeasure {
  public:
    virtual ~ITagTextMeasure() = default;
    virtual int TextWidth(const TTagFont& Font, std::string_view Text) = 0;
    virtual int TextHeight(const TTagFont& Font) = 0;
};

// Size of an embedded object by name; without one an object is 10 x 10.
using TTagObjectSize = std::function<void(const std::string& Name, int& Width, int& Height)>;

// A piece of one line: text in one font, or an embedded object.
struct TTagRun {
    bool IsObject = false;
    std::string Text;  // the text, or the object's name
    TTagFont Font;
    int X = 0;  // from the line's left edge
    int Width = 0;
    int Height = 0;
    std::string Link;  // the target when the run is part of a link
    bool InLink = false;
};

struct TTagLine {
    std::vector<TTagRun> Runs;
    int Width = 0;
    int Height = 0;
    TTagAlign Align = TTagAlign::Default;
    vcl::TColor Color = vcl::clNone;  // clNone: the label's colour
};

struct TTagLayout {
    std::vector<TTagLine> Lines;
    int Width = 0;
    int Height = 0;
};

// Lays Text out, with Tags (reset first) applying the tags through its
// parser. With the settings' WordWrap, a word or object that does not fit
// in WrapWidth on a non-empty line starts a new line, and the blank at the
// break is dropped. Each line's height is that of its tallest font or
// object; its alignment and colour are the ones in effect at its end.
TTagLayout LayoutTagText(std::string_view Text, TTagProcessor& Tags, int WrapWidth,
                         ITagTextMeasure& Measure, const TTagObjectSize& ObjectSize);

// --- the control ---------------------------------------------------------------

enum class TTextLayout { tlTop, tlCenter, tlBottom };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

using TGetObjSizePaintEvent =
    std::function<void(vcl::TComponent* Sender, const std::string& ObjName, bool Paint,
                       vcl::TCanvas& Canvas, vcl::TRect& Rect)>;
using TLinkClickEvent = std::function<void(vcl::TComponent* Sender, const std::string& Link)>;

// The label control. The class library has no control that a program can
// paint itself, so the label is a borderless panel whose only child, an
// owner-drawn list box with one item kept as large as the label, is the
// surface it paints on; mouse events of the surface are raised as the
// label's own.
class TTagLabel : public vcl::TPanel {
  public:
    explicit TTagLabel(vcl::TComponent* owner);
    ~TTagLabel() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

    int TabSize() const { return settings_.TabSize; }
    void SetTabSize(int size);
    bool DisableTags() const { return settings_.DisableTags; }
    void SetDisableTags(bool on);
    const std::vector<std::string>& TextStyles() const { return settings_.TextStyles; }
    void SetTextStyles(std::vector<std::string> styles);
    bool WordWrap() const { return settings_.WordWrap; }
    void SetWordWrap(bool on);
    bool ShowAccelChar() const { return settings_.ShowAccelChar; }
    void SetShowAccelChar(bool on);
    bool AutoSize() const { return auto_size_; }
    void SetAutoSize(bool on);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool on);
    TTextLayout Layout() const { return layout_; }
    void SetLayout(TTextLayout layout);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);
    // The event OnGetObjSize_Paint: asked for an object's size (Paint false,
    // Rect 10 x 10 to change) and to paint it in Rect (Paint true). Setting
    // it measures the caption again.
    void SetOnGetObjSize_Paint(TGetObjSizePaintEvent handler);

    // Applies one tag to the label's tag state (the measuring pass runs every
    // tag of the caption through here).
    TTagResult ProcessTag(const std::string& Tag);

    // Measures the caption again (and takes its size with AutoSize) and
    // repaints. Property setters and changes of the font or colour call it.
    void Remeasure();
    const TTagLayout& Measured() const { return layout_text_; }

    // The link target under a client point; empty when there is none.
    std::string LinkAt(int X, int Y) const;
    // Paints the label on Canvas as it appears on screen.
    void PaintTo(vcl::TCanvas& Canvas);
    // What the surface does when the mouse moves or clicks at a client point.
    void MouseMovedTo(vcl::TShiftState Shift, int X, int Y);
    void MouseClickedAt(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y);

    void SetBounds(int left, int top, int width, int height) override;

    TLinkClickEvent OnLinkClick;

  protected:
    void FontChanged() override;
    void ColorChanged() override;

  private:
    // Every line (run null, the line's full-width rectangle) and every run
    // with its client rectangle, as painted.
    using TRunVisitor =
        std::function<void(const TTagLine& Line, const TTagRun* Run, const vcl::TRect& Rect)>;
    void VisitRuns(const TRunVisitor& Visit) const;
    void SyncSettings();
    // Shade: the one colour of every text (a disabled label's two passes).
    void PaintLines(vcl::TCanvas& Canvas, int Dx, int Dy, std::optional<vcl::TColor> Shade);

    TTagSettings settings_;
    TLblParser parser_;
    TTagProcessor tags_{settings_, parser_};
    std::string caption_;
    TTagLayout layout_text_;
    bool auto_size_ = true;
    bool transparent_ = false;
    bool over_link_ = false;
    bool remeasuring_ = false;
    TTextLayout layout_ = TTextLayout::tlTop;
    TAlignment alignment_ = TAlignment::taLeftJustify;
    TGetObjSizePaintEvent on_get_obj_size_paint_;
    vcl::TCustomListBox* surface_ = nullptr;  // owned as a component
};

}  // namespace terminal
