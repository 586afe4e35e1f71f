#include "terminal/list_analysis.h"

#include <limits>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"

namespace terminal {

namespace {

constexpr std::int64_t kMinimumStart = 2147483647;
constexpr std::int64_t kMaximumStart = -2147483647;

// Time stamps are doubles counting days: today's dates resolve to about
// 0.6 microseconds, so two stamps a whole number of milliseconds apart
// differ from it by up to a microsecond or so. A gap counts only when it is
// longer by more than this (in ms), so a pause of exactly GapMs is no gap.
constexpr double kGapTolerance = 0.01;

}  // namespace

// --- statistics ----------------------------------------------------------------

TAccumulator CountStatistic(const TLineStore& Lines, TStatistic Statistic, int First, int Last) {
    TAccumulator acc;
    switch (Statistic) {
        case TStatistic::Sum:
        case TStatistic::Average:
            ForEachValue(Lines, First, Last, [&](std::int64_t v) {
                acc.Value += v;
                ++acc.Count;
            });
            if (Statistic == TStatistic::Average)
                acc.Value = acc.Count > 0
                                ? rtl::Round(static_cast<long double>(acc.Value) / acc.Count)
                                : 0;
            break;
        case TStatistic::Minimum:
            acc.Value = kMinimumStart;
            ForEachValue(Lines, First, Last, [&](std::int64_t v) {
                if (v < acc.Value) acc.Value = v;
                ++acc.Count;
            });
            break;
        case TStatistic::Maximum:
            acc.Value = kMaximumStart;
            ForEachValue(Lines, First, Last, [&](std::int64_t v) {
                if (v > acc.Value) acc.Value = v;
                ++acc.Count;
            });
            break;
    }
    return acc;
}

TAccumulator CountStatistic(const TLineStore& Lines, TStatistic Statistic) {
    return CountStatistic(Lines, Statistic, 0, Lines.LineCount() - 1);
}

std::string FormatResult(const TAccumulator& Result, TDataFormat CurrentFormat) {
    const bool decimal = CurrentFormat == dfDEC || CurrentFormat == dfDW;
    // A value within 32 bits is passed as one, so that the sentinel of the
    // maximum reads $80000001 as ever; larger sums show all their digits.
    const bool fits32 = Result.Value >= std::numeric_limits<std::int32_t>::min() &&
                        Result.Value <= std::numeric_limits<std::int32_t>::max();
    const rtl::TVarRec value = fits32 ? rtl::TVarRec(static_cast<int>(Result.Value))
                                      : rtl::TVarRec(static_cast<long long>(Result.Value));
    const std::string text = rtl::Format(decimal ? "%d" : "$%.4x", {value});
    return rtl::Format(ResultText, {text, static_cast<long long>(Result.Count)});
}

// --- searches ------------------------------------------------------------------

TSearchResult TListSearch::FindTimeGap(const TLineStore& Lines, int Selected,
                                       const std::string& Answer) {
    GapMs = rtl::StrToInt(Answer);
    return FindTimeGap(Lines, Selected);
}

TSearchResult TListSearch::FindTimeGap(const TLineStore& Lines, int Selected) {
    LastSearch = TSearchKind::TimeGap;
    const int count = Lines.LineCount();
    const int from = Selected < 0 ? 1 : Selected + 1;
    if (from >= count) return {true, -1};
    double previous = Lines.LineRecord(from - 1).Time;
    for (int i = from; i < count; ++i) {
        const double time = Lines.LineRecord(i).Time;
        if ((time - previous) * rtl::MSecsPerDay - GapMs > kGapTolerance) return {true, i};
        previous = time;
    }
    return {true, -1};
}

TSearchResult TListSearch::FindText(const TLineStore& Lines, const std::string& Text) {
    FindTextValue = Text;
    FindIndex = -1;
    FindDropped = Lines.DroppedLines();
    return FindTextAgain(Lines);
}

TSearchResult TListSearch::FindTextAgain(const TLineStore& Lines) {
    LastSearch = TSearchKind::Text;
    // Lines dropped at the front meanwhile moved the one the search stopped at.
    const std::uint64_t gone = Lines.DroppedLines() - FindDropped;
    FindDropped = Lines.DroppedLines();
    FindIndex = gone > static_cast<std::uint64_t>(FindIndex + 1) ? -1 : FindIndex - static_cast<int>(gone);
    const int count = Lines.LineCount();
    const std::string wanted = rtl::AnsiUpperCase(FindTextValue);
    // Nothing to look for is never found, as a search for an empty text
    // never was.
    if (!wanted.empty()) {
        while (FindIndex + 1 < count) {
            ++FindIndex;
            if (rtl::AnsiUpperCase(Lines.GetLine(FindIndex)).find(wanted) != std::string::npos)
                return {true, FindIndex};
        }
    }
    // Past the end: the last line stays behind us, so "Find next" says "Not
    // found" again, yet reaches lines that arrive later.
    FindIndex = count - 1;
    return {true, -1};
}

TSearchResult TListSearch::FindError(const TLineStore& Lines, int Selected) {
    LastSearch = TSearchKind::Error;
    const int count = Lines.LineCount();
    for (int i = Selected < 0 ? 0 : Selected + 1; i < count; ++i)
        if (Lines.LineRecord(i).Format == dfERR) return {true, i};
    return {true, -1};
}

TSearchResult TListSearch::FindNext(const TLineStore& Lines, int Selected) {
    switch (LastSearch) {
        case TSearchKind::TimeGap: return FindTimeGap(Lines, Selected);
        case TSearchKind::Text: return FindTextAgain(Lines);
        case TSearchKind::Error: return FindError(Lines, Selected);
        case TSearchKind::None: break;
    }
    return {};
}

void TListSearch::FindTwoLineDifference() {
    throw rtl::Exception(NotImplementedText);
}

}  // namespace terminal
