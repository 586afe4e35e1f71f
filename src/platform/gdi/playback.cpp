// Playing a recording back onto a device context, stretched into a
// rectangle: every call again with its coordinates, pen widths and font
// heights scaled, each with the objects and attributes it was made with.
#include <algorithm>
#include <cmath>
#include <map>

#include "platform/gdi/metafile.h"
#include "platform/gdi/metafile_writer.h"
#include "platform/rtl/cp1251.h"

namespace gdi {

namespace {

class Player {
public:
    Player(int width, int height, DC& dc, const RECT& target)
        : dc_(dc), target_(target),
          sx_(double(target.right - target.left) / width),
          sy_(double(target.bottom - target.top) / height) {}

    void Play(std::span<const Record> records) {
        Saved saved(dc_);
        base_clip_ = CreateRectRgnIndirect(target_);
        if (saved.clip) CombineRgn(base_clip_, base_clip_, saved.clip, RGN_AND);
        ApplyClip();
        for (const Record& r : records) Call(r);
        if (in_path_) dc_.AbortPath();
    }

private:
    // What the context had before: put back however the playback ends.
    struct Saved {
        DC& dc;
        HPEN pen;
        HBRUSH brush;
        HFONT font;
        COLORREF bk, text, dcPen, dcBrush;
        int bkMode, rop2, polyFill, arcDir, extra;
        unsigned align;
        POINT pos;
        HRGN clip;
        explicit Saved(DC& d)
            : dc(d), pen(d.CurrentPen()), brush(d.CurrentBrush()), font(d.CurrentFont()),
              bk(d.GetBkColor()), text(d.GetTextColor()), dcPen(d.GetDCPenColor()),
              dcBrush(d.GetDCBrushColor()), bkMode(d.GetBkMode()), rop2(d.GetROP2()),
              polyFill(d.GetPolyFillMode()), arcDir(d.GetArcDirection()),
              extra(d.GetTextCharacterExtra()), align(d.GetTextAlign()), pos(d.GetCurrentPositionEx()),
              clip(CreateRectRgn(0, 0, 0, 0)) {
            if (d.GetClipRgn(clip) != 1) clip = nullptr;
        }
        ~Saved() {
            dc.SelectObject(pen), dc.SelectObject(brush), dc.SelectObject(font);
            dc.SetBkColor(bk), dc.SetTextColor(text), dc.SetDCPenColor(dcPen), dc.SetDCBrushColor(dcBrush);
            dc.SetBkMode(bkMode), dc.SetROP2(rop2), dc.SetPolyFillMode(polyFill);
            dc.SetArcDirection(arcDir), dc.SetTextCharacterExtra(extra), dc.SetTextAlign(align);
            dc.MoveToEx(pos.x, pos.y);
            dc.SelectClipRgn(clip);
        }
    };

    int X(long long x) const { return Map(target_.left, x, sx_); }
    int Y(long long y) const { return Map(target_.top, y, sy_); }
    static int Map(int origin, long long v, double scale) {
        return static_cast<int>(std::clamp<double>(std::round(origin + v * scale), INT32_MIN, INT32_MAX));
    }
    int W(long long w) const { return static_cast<int>(std::lround(w * sx_)); }
    int H(long long h) const { return static_cast<int>(std::lround(h * sy_)); }
    POINT P(POINT p) const { return {X(p.x), Y(p.y)}; }

    void State(const RecordState& s) {
        dc_.SelectObject(ScaledPen(s.Pen));
        dc_.SelectObject(s.Brush);
        dc_.SelectObject(ScaledFont(s.Font));
        dc_.SetDCPenColor(s.DCPenColor);
        dc_.SetDCBrushColor(s.DCBrushColor);
        dc_.SetBkColor(s.BkColor), dc_.SetBkMode(s.BkMode), dc_.SetTextColor(s.TextColor);
        dc_.SetTextAlign(s.TextAlign), dc_.SetROP2(s.Rop2), dc_.SetPolyFillMode(s.PolyFillMode);
        dc_.SetArcDirection(s.ArcDirection);
        dc_.SetTextCharacterExtra(static_cast<int>(std::lround(s.CharExtra * sx_)));
        const POINT at = P(s.Position);
        if (dc_.GetCurrentPositionEx() != at) dc_.MoveToEx(at.x, at.y);
    }

    HPEN ScaledPen(const HPEN& pen) {
        if (!pen->IsGeometric() || (sx_ == 1 && sy_ == 1)) return pen;
        auto& scaled = pens_[pen.get()];
        if (!scaled) {
            EXTLOGPEN log = pen->Log();
            const LOGBRUSH brush{log.elpBrushStyle, log.elpColor, log.elpHatch};
            const DWORD width = static_cast<DWORD>(std::max(1L, std::lround(log.elpWidth * (sx_ + sy_) / 2)));
            scaled = ExtCreatePen(log.elpPenStyle, width, brush, log.elpStyleEntry);
        }
        return scaled;
    }
    HFONT ScaledFont(const HFONT& font) {
        if (sy_ == 1 && sx_ == 1) return font;
        auto& scaled = fonts_[font.get()];
        if (!scaled) {
            LOGFONT log = font->Log();
            log.lfHeight = static_cast<int>(std::lround(log.lfHeight * sy_));
            if (log.lfHeight == 0 && font->Log().lfHeight != 0) log.lfHeight = font->Log().lfHeight < 0 ? -1 : 1;
            log.lfWidth = static_cast<int>(std::lround(log.lfWidth * sx_));
            scaled = CreateFontIndirect(log);
        }
        return scaled;
    }

    HRGN Scaled(const HRGN& region) const {
        HRGN out = CreateRectRgn(0, 0, 0, 0);
        for (const RECT& r : GetRegionRects(region))
            CombineRgn(out, out, CreateRectRgn(X(r.left), Y(r.top), X(r.right), Y(r.bottom)), RGN_OR);
        return out;
    }

    void Clip(const HRGN& region, int mode) {
        const HRGN whole = CreateRectRgnIndirect(target_);
        const HRGN scaled = region ? Scaled(region) : nullptr;
        if (mode == RGN_COPY) {
            clip_ = scaled;
        } else if (scaled) {
            HRGN next = CreateRectRgn(0, 0, 0, 0);
            CombineRgn(next, clip_ ? clip_ : whole, scaled, mode);
            clip_ = next;
        }
        ApplyClip();
    }
    void ApplyClip() {
        HRGN visible = CreateRectRgn(0, 0, 0, 0);
        CombineRgn(visible, base_clip_, clip_ ? clip_ : base_clip_, RGN_AND);
        dc_.SelectClipRgn(visible);
    }

    std::vector<POINT> Points(std::span<const POINT> pts) const {
        std::vector<POINT> out;
        out.reserve(pts.size());
        for (const POINT& p : pts) out.push_back(P(p));
        return out;
    }

    void Call(const Record& r) {
        const auto& a = r.Args;
        if (detail::NeedsOf(r) || r.Op == RecordOp::FillRect || r.Op == RecordOp::PatBlt ||
            r.Op == RecordOp::MoveTo)
            State(r.State);
        switch (r.Op) {
            case RecordOp::MoveTo: dc_.MoveToEx(X(a[0]), Y(a[1])); break;
            case RecordOp::LineTo: dc_.LineTo(X(a[0]), Y(a[1])); break;
            case RecordOp::Polyline: dc_.Polyline(Points(r.Points)); break;
            case RecordOp::Polygon: dc_.Polygon(Points(r.Points)); break;
            case RecordOp::Rectangle: dc_.Rectangle(X(a[0]), Y(a[1]), X(a[2]), Y(a[3])); break;
            case RecordOp::Ellipse: dc_.Ellipse(X(a[0]), Y(a[1]), X(a[2]), Y(a[3])); break;
            case RecordOp::RoundRect:
                dc_.RoundRect(X(a[0]), Y(a[1]), X(a[2]), Y(a[3]), W(a[4]), H(a[5]));
                break;
            case RecordOp::Arc:
            case RecordOp::ArcTo:
            case RecordOp::Pie:
            case RecordOp::Chord: {
                using Curve = bool (DC::*)(int, int, int, int, int, int, int, int);
                const Curve curve = r.Op == RecordOp::Arc     ? &DC::Arc
                                    : r.Op == RecordOp::ArcTo ? &DC::ArcTo
                                    : r.Op == RecordOp::Pie   ? &DC::Pie
                                                              : &DC::Chord;
                (dc_.*curve)(X(a[0]), Y(a[1]), X(a[2]), Y(a[3]), X(a[4]), Y(a[5]), X(a[6]), Y(a[7]));
                break;
            }
            case RecordOp::FillRect: dc_.FillRect({X(a[0]), Y(a[1]), X(a[2]), Y(a[3])}, r.State.Brush); break;
            case RecordOp::PatBlt: {
                const RECT b = detail::BlitRect(a[0], a[1], a[2], a[3]);
                dc_.PatBlt(X(b.left), Y(b.top), X(b.right) - X(b.left), Y(b.bottom) - Y(b.top), DWORD(a[4]));
                break;
            }
            case RecordOp::SetPixel: {
                // A pixel becomes the block of pixels it stretches over.
                const int x0 = X(a[0]), y0 = Y(a[1]);
                const int x1 = std::max(X(a[0] + 1LL), x0 + 1), y1 = std::max(Y(a[1] + 1LL), y0 + 1);
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x) dc_.SetPixel(x, y, COLORREF(a[2]));
                break;
            }
            case RecordOp::BitBlt:
            case RecordOp::StretchBlt:
            case RecordOp::AlphaBlend: Blit(r); break;
            case RecordOp::TextOut:
            case RecordOp::ExtTextOut: Text(r); break;
            case RecordOp::BeginPath: dc_.BeginPath(), in_path_ = true; break;
            case RecordOp::EndPath: dc_.EndPath(), in_path_ = false; break;
            case RecordOp::AbortPath: dc_.AbortPath(), in_path_ = false; break;
            case RecordOp::StrokePath: dc_.StrokePath(); break;
            case RecordOp::FillPath: dc_.FillPath(); break;
            case RecordOp::StrokeAndFillPath: dc_.StrokeAndFillPath(); break;
            case RecordOp::WidenPath: dc_.WidenPath(); break;
            case RecordOp::SelectClipPath:
                // The path's pixels as the recording found them.
                dc_.AbortPath();
                if (r.Region) Clip(r.Region, a[0]);
                break;
            case RecordOp::ExtSelectClipRgn:
                if (r.Region || a[0] == RGN_COPY) Clip(r.Region, a[0]);
                break;
            default: break;
        }
    }

    void Blit(const Record& r) {
        const auto& a = r.Args;
        const int x = X(a[0]), y = Y(a[1]);
        const int w = X(a[0] + (long long)a[2]) - x, h = Y(a[1] + (long long)a[3]) - y;
        if (!r.Image || r.Image->Empty()) {
            if (r.Op != RecordOp::AlphaBlend) dc_.StretchBlt(x, y, w, h, nullptr, 0, 0, 0, 0, DWORD(a[8]));
            return;
        }
        auto source = DC::CreateCompatibleDC();
        source->SelectObject(r.Image);
        const int sw = r.Image->Width() * (a[6] < 0 ? -1 : 1), sh = r.Image->Height() * (a[7] < 0 ? -1 : 1);
        const int sx = a[6] < 0 ? r.Image->Width() : 0, sy = a[7] < 0 ? r.Image->Height() : 0;
        if (r.Op == RecordOp::AlphaBlend) {
            BLENDFUNCTION blend;
            blend.SourceConstantAlpha = static_cast<std::uint8_t>(a[8]);
            blend.AlphaFormat = static_cast<std::uint8_t>(a[9]);
            dc_.AlphaBlend(x, y, w, h, source.get(), 0, 0, r.Image->Width(), r.Image->Height(), blend);
        } else {
            dc_.StretchBlt(x, y, w, h, source.get(), sx, sy, sw, sh, DWORD(a[8]));
        }
    }

    void Text(const Record& r) {
        const auto& a = r.Args;
        if (r.Op == RecordOp::TextOut) {
            dc_.TextOutW(X(a[0]), Y(a[1]), r.Text);
            return;
        }
        std::string text;
        for (char16_t c : r.Text) text.push_back(rtl::UnicodeToAnsiChar(c));
        const RECT box = a.size() >= 7 ? RECT{X(a[3]), Y(a[4]), X(a[5]), Y(a[6])} : RECT{};
        dc_.ExtTextOut(X(a[0]), Y(a[1]), unsigned(a[2]), a.size() >= 7 ? &box : nullptr, text);
    }

    DC& dc_;
    RECT target_;
    double sx_, sy_;
    HRGN base_clip_;
    HRGN clip_;
    bool in_path_ = false;
    std::map<const Pen*, HPEN> pens_;
    std::map<const Font*, HFONT> fonts_;
};

}  // namespace

void PlayRecords(std::span<const Record> records, int width, int height, DC& dc, const RECT& target) {
    if (width <= 0 || height <= 0 || detail::IsEmpty(target)) return;
    Player(width, height, dc, target).Play(records);
}

}  // namespace gdi
