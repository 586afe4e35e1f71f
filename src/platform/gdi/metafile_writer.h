#pragma once
// What the enhanced and the Windows metafile writers share (private to
// gdi/): the objects and attributes a file has in force and the records
// that bring them to what a recorded call was made with, the handles of
// the objects a file holds, and the geometry of recorded calls.
#include <QPolygonF>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/gdi/dc.h"

namespace gdi::detail {

// A pen, brush or font by value, colours resolved (the DC pen and brush
// take the colour they had).
struct FileObject {
    enum class Kind { Pen, Brush, Font } kind = Kind::Pen;
    EXTLOGPEN pen;
    LOGBRUSH brush;
    HBITMAP pattern;  // BS_PATTERN brushes
    LOGFONT font;
    friend bool operator==(const FileObject& a, const FileObject& b);
};
FileObject PenObject(const RecordState& s);
FileObject BrushObject(const RecordState& s);
FileObject BrushObject(const HBRUSH& brush, COLORREF dcBrushColor);
FileObject FontObject(const RecordState& s);
FileObject NullPenObject();

// Attributes a file sets by records of their own.
enum class Attr { TextColor, BkColor, BkMode, Rop2, TextAlign, PolyFill, ArcDirection, Count };

// What a call needs in force.
enum Need : unsigned {
    kNeedPen = 1,
    kNeedBrush = 2,
    kNeedFont = 4,
    kNeedText = 8,         // text colour, background, alignment
    kNeedBackground = 16,  // gaps of styled pens and hatches
    kNeedRop2 = 32,
    kNeedFillMode = 64,
    kNeedArcDirection = 128,
    kNeedPosition = 256,
};
// The needs of a recorded call (0 for calls that only set state).
unsigned NeedsOf(const Record& r);

class MetafileWriter {
public:
    virtual ~MetafileWriter() = default;

protected:
    // firstHandle: the lowest handle an object may take (EMF reserves 0).
    // The file starts with the attributes of a new device context.
    explicit MetafileWriter(std::uint32_t firstHandle);

    // Brings the file to the state's objects and attributes that needs asks
    // for, and to its current position.
    void Sync(const RecordState& s, unsigned needs);
    // The file's object of that kind becomes this one.
    void Select(const FileObject& object);
    void SetAttr(Attr a, std::uint32_t value);
    // For a rectangle filled with the state's brush under a ROP2 mode and
    // no outline: selects the null pen and the brush, sets the mode.
    void SyncFill(const RecordState& s, int rop2);
    // The current position the file has (after a call that moved it).
    void MovedTo(POINT p) { pos_ = p; }
    void PositionUnknown() { pos_.reset(); }
    const std::optional<POINT>& Position() const { return pos_; }

    // One saved state: the objects in force stay in the file until it is
    // restored; restoring brings back what was in force when saved.
    void SaveState();
    void RestoreState();
    bool StateSaved() const { return saved_.has_value(); }

    // Handles used so far: one above the highest.
    std::uint32_t HandleCount() const { return handle_count_; }

    virtual void EmitCreate(std::uint32_t handle, const FileObject& object) = 0;
    virtual void EmitSelect(std::uint32_t handle) = 0;
    virtual void EmitDelete(std::uint32_t handle) = 0;
    virtual void EmitAttr(Attr a, std::uint32_t value) = 0;
    virtual void EmitMoveTo(POINT p) = 0;
    // A handle of the file's own for the object (a stock object), if any.
    virtual std::optional<std::uint32_t> StockHandle(const FileObject&) const { return std::nullopt; }

private:
    struct Cached {
        FileObject object;
        std::uint32_t handle;
        std::uint64_t used;
        bool pinned;
    };
    struct Snapshot {
        std::array<std::optional<std::uint32_t>, 3> selected;
        std::array<std::optional<std::uint32_t>, std::size_t(Attr::Count)> attrs;
    };
    std::uint32_t AllocateHandle();
    void Evict(FileObject::Kind kind);

    std::uint32_t first_handle_;
    std::uint32_t handle_count_ = 0;
    std::uint64_t clock_ = 0;
    std::vector<Cached> cache_;
    std::vector<bool> in_use_;
    std::array<std::optional<std::uint32_t>, 3> selected_;  // by kind
    std::array<std::optional<std::uint32_t>, std::size_t(Attr::Count)> attrs_;
    std::optional<POINT> pos_;
    std::optional<Snapshot> saved_;
};

// ---- Geometry of recorded calls

// The pixels a call reaches (right and bottom outside), empty when none.
RECT BoundsOf(const Record& r);
// The corners of a text call's box on the surface (rotated with the font).
QPolygonF TextBox(const Record& r);
// The advance of each character of a text call (with its character extra).
std::vector<int> TextAdvances(const Record& r);
// The reference point of a text call (the current position under
// TA_UPDATECP).
POINT TextOrigin(const Record& r);
// The point on the ellipse of an arc's box where a radial ends (x, y).
POINT ArcPoint(const RECT& box, int x, int y);
// The binary raster operation that a ternary one that reads no source
// amounts to.
int Rop2OfRop3(DWORD rop);

// The rectangle a block transfer covers (negative sizes mirror).
RECT BlitRect(int x, int y, int width, int height);
RECT UnionOf(const RECT& a, const RECT& b);
bool IsEmpty(const RECT& r);

}  // namespace gdi::detail
