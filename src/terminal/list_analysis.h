#pragma once
// Statistics over the values of the receive list and the searches of its
// "Special" menu. The main window's handlers ask the user, call these and
// show the result text or "Not found" in a message box, and move the
// panel's selection to the line found.
#include <cstdint>
#include <string>

#include "terminal/receive_format.h"
#include "terminal/receive_panel_lines.h"

namespace terminal {

inline constexpr const char* ResultText = "Result is %s\r\rData count: %d";
inline constexpr const char* NotFoundText = "Not found";
inline constexpr const char* NotImplementedText = "This function is not implemented yet";

// --- statistics ----------------------------------------------------------------

enum class TStatistic { Sum, Average, Minimum, Maximum };

// The result of one statistic. The sum is kept in 64 bits, so it never
// wraps around however long the list is.
struct TAccumulator {
    std::int64_t Value = 0;
    std::int64_t Count = 0;
};

// The values of lines First to Last (inclusive, clipped to the list): each
// line's bytes taken one by one, or in pairs (low byte first) in lines whose
// own format is DW or HW, where a trailing odd byte is left out. Message and
// error lines hold no values. Visit(v) is called for every value in order.
// A line whose text no longer reads as numbers raises the conversion error.
template <class Visitor>
void ForEachValue(const TLineStore& Lines, int First, int Last, Visitor&& Visit);

// Sum, Average (rounded, halves to the even neighbour; 0 without values),
// Minimum (2147483647 without values) or Maximum (-2147483647 without
// values) over lines First to Last.
TAccumulator CountStatistic(const TLineStore& Lines, TStatistic Statistic, int First, int Last);
// The same over the whole list.
TAccumulator CountStatistic(const TLineStore& Lines, TStatistic Statistic);

// The message of a result: the value in decimal when the current data format
// (not the lines') is DEC or DW, otherwise "$" and at least four hexadecimal
// digits (a negative value within 32 bits as its 32-bit pattern).
std::string FormatResult(const TAccumulator& Result, TDataFormat CurrentFormat);

// --- searches ------------------------------------------------------------------

enum class TSearchKind : int { None = 0, TimeGap = 1, Text = 3, Error = 4 };

struct TSearchResult {
    bool Ran = false;  // false: there was no search to repeat
    int Index = -1;    // the line found; -1 when not found ("Not found")
    bool Found() const { return Index >= 0; }
};

// The state of the searches, kept for the program run.
class TListSearch {
public:
    TSearchKind LastSearch = TSearchKind::None;
    int GapMs = 1000;
    std::string FindTextValue;
    int FindIndex = -1;
    std::uint64_t FindDropped = 0;  // the list's drop count FindIndex counts from

    // "Find Time Gap..." with the user's answer, which must be an integer
    // (else the conversion error, nothing changed) and becomes GapMs; then
    // the search. From the line after Selected (line 1 when nothing is
    // selected) the first line whose time stamp is more than GapMs ms after
    // the previous line's.
    TSearchResult FindTimeGap(const TLineStore& Lines, int Selected, const std::string& Answer);
    // The same search with the GapMs kept.
    TSearchResult FindTimeGap(const TLineStore& Lines, int Selected);

    // "Find Text..." with the user's answer: the search starts at the first
    // line. The text and each line's whole text are compared without regard
    // to case (Windows-1251 letters).
    TSearchResult FindText(const TLineStore& Lines, const std::string& Text);
    // Goes on from the line after the one where the text search last
    // stopped. Past the last line it is not found again, without wrapping,
    // until lines are added or the next "Find Text..." starts over.
    TSearchResult FindTextAgain(const TLineStore& Lines);

    // "Find error": from the line after Selected (the first line when nothing
    // is selected) the first error line.
    TSearchResult FindError(const TLineStore& Lines, int Selected);

    // "Find next": repeats the last search without asking; Ran is false when
    // there was none.
    TSearchResult FindNext(const TLineStore& Lines, int Selected);

    // "Find two line difference...": raises "This function is not
    // implemented yet".
    [[noreturn]] static void FindTwoLineDifference();
};

// --- template definitions ------------------------------------------------------

template <class Visitor>
void ForEachValue(const TLineStore& Lines, int First, int Last, Visitor&& Visit) {
    if (First < 0) First = 0;
    if (Last >= Lines.LineCount()) Last = Lines.LineCount() - 1;
    for (int i = First; i <= Last; ++i) {
        const TDataFormat format = Lines.LineRecord(i).Format;
        if (format == dfERR || format == dfMSG) continue;
        const std::string bytes = Lines.LineBytes(i);
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
        if (IsWordFormat(format)) {
            for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) Visit(std::int64_t{b[k]} + 256 * b[k + 1]);
        } else {
            for (std::size_t k = 0; k < bytes.size(); ++k) Visit(std::int64_t{b[k]});
        }
    }
}

}  // namespace terminal
