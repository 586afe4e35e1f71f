#pragma once
// Metafiles of a recording device context (DC::CreateRecordingDC): the
// calls it kept, written as an enhanced metafile (EMF) or as a placeable
// Windows metafile (WMF), and played back onto another device context.
//
// Both files replay the recording at the size it was made: one logical unit
// is one pixel, 96 pixels an inch. The objects and attributes each call was
// made with are written before the call where they differ from what the
// file has in force, so the files hold the drawing as the recording drew
// it; selections that nothing used are left out.
//
// The enhanced metafile holds every call as it was made: 32-bit
// coordinates, extended pens, paths, region clips with their mode, text as
// UTF-16 with the advance of each character, bitmaps as device-independent
// bitmaps. Its header bounds are the pixels the drawing reaches.
//
// The Windows metafile holds less, and the calls are reduced to what it can:
//   - coordinates are 16-bit: beyond -32768..32767 they are held at the
//     limit, never wrapped;
//   - pens: user styles become dashes (dots for the alternate style), the
//     brush of a pen becomes its colour; brushes and fonts as they are;
//   - polylines become a move and lines (players differ in what they do
//     with the inside of a polyline record, not with lines);
//   - the arc direction becomes the order of the arc's end points;
//     ArcTo becomes a line to the arc's start, the arc and a move to its end;
//   - paths become the polygons (curves flattened) they hold: stroked as
//     lines, filled as one polygon set, a widened path stroked; text in
//     a path is written as text in the fill colour (the pen colour when the
//     path is only stroked); a clip path becomes the clip of its region;
//   - clips: every clip in force is written as the intersection with its
//     bounding rectangle less the rectangles of that box outside it, inside
//     a saved state that the next clip restores;
//   - alpha blends are copied opaque.
#include <cstdint>
#include <span>
#include <vector>

#include "platform/gdi/dc.h"

namespace gdi {

// The file of a recording of a width x height surface. An allocation
// failure raises std::bad_alloc before anything is returned.
std::vector<std::uint8_t> EnhancedMetafileBytes(std::span<const Record> records, int width,
                                                int height);
std::vector<std::uint8_t> WindowsMetafileBytes(std::span<const Record> records, int width,
                                               int height);

// The pixels of the width x height surface that the recorded calls reach
// (right and bottom outside); empty when nothing is drawn there.
RECT RecordedBounds(std::span<const Record> records, int width, int height);

// Draws the recording of a width x height surface into target on dc,
// stretched to its size. The calls are clipped to target and to the clip
// dc has; dc's objects, attributes and clip are as before afterwards.
void PlayRecords(std::span<const Record> records, int width, int height, DC& dc,
                 const RECT& target);

}  // namespace gdi
