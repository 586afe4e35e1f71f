// A series' side of its marks: the text of each point's mark, the marks
// pass over the visible points, and the widest mark.
#include <algorithm>
#include <cmath>

#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/panel_routines.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"

namespace chart::engine {

std::string TChartSeries::GetMarkText(int ValueIndex) {
    if (ValueIndex < 0 || ValueIndex >= Count()) return {};
    std::string text;
    const TMarksItem* item = marks_->Items().ItemIfAny(ValueIndex);
    if (item && item->TextIfAny() && item->TextIfAny()->Count() > 0) {
        text = item->TextIfAny()->Text();
        // Without its final line break.
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
            text.resize(text.size() - 2);
        else if (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
    } else {
        const TSeriesMarks& marks = *marks_;
        const std::string sep(1, marks.MultiLine() ? kPlotLineSeparator : ' ');
        const double value = GetMarkValue(ValueIndex);
        const std::string valueText = rtl::FormatFloat(value_format_, value);
        auto label = [&] {
            const std::string own = labels_.Labels(ValueIndex);
            return own.empty() ? valueText : own;
        };
        auto percent = [&] {
            const double total = MandatoryValueList().TotalABS();
            return rtl::FormatFloat(percent_format_, total == 0 ? 100.0 : std::fabs(value) * 100 / total);
        };
        auto percentTotal = [&] {
            const std::string sum = rtl::FormatFloat(value_format_, MandatoryValueList().Total());
            return marks.MultiLine() ? percent() + kPlotLineSeparator + "of " + sum : percent() + " of " + sum;
        };
        auto columnsAsBlanks = [](std::string t) {
            std::replace(t.begin(), t.end(), kPlotColumnSeparator, ' ');
            return t;
        };
        switch (marks.Style()) {
            case smsValue: text = valueText; break;
            case smsPercent: text = percent(); break;
            case smsLabel: text = label(); break;
            case smsLabelPercent: text = label() + sep + percent(); break;
            case smsLabelValue: text = label() + sep + valueText; break;
            case smsLegend:
                if (TCustomAxisPanel* chart = ParentChart()) text = chart->GetLegendValueText(this, ValueIndex);
                if (!marks.MultiLine()) text = columnsAsBlanks(text);
                break;
            case smsPercentTotal: text = percentTotal(); break;
            case smsLabelPercentTotal: text = label() + sep + percentTotal(); break;
            case smsXValue: text = LegendXText(ValueIndex); break;
            case smsXY: text = LegendXText(ValueIndex) + sep + valueText; break;
            case smsSeriesTitle: text = Title().empty() ? NameOrNumber() : columnsAsBlanks(Title()); break;
            case smsPointIndex: text = std::to_string(ValueIndex); break;
            case smsPercentRelative: {
                const double first = GetMarkValue(0);
                if (ValueIndex == 0)
                    text = rtl::FormatFloat(percent_format_, 100.0);
                else if (first != 0)
                    text = rtl::FormatFloat(percent_format_, value * 100 / first);
                // Relative to a first point of 0 there is no ratio: no mark.
                break;
            }
        }
    }
    if (OnGetMarkText) OnGetMarkText(this, ValueIndex, text);
    return text;
}

void TChartSeries::DrawMark(int ValueIndex, const std::string& Text, TSeriesMarkPosition* Position) {
    if (Position) marks_->DrawItem(ValueIndex, ValueColor(ValueIndex), *Position, Text);
}

void TChartSeries::DrawMarks() {
    if (!ParentChart() || FirstVisibleIndex < 0) return;
    TSeriesMarks& marks = *marks_;
    marks.ZPosition = MiddleZ;
    const int every = marks.EffectiveDrawEvery();
    const int last = std::min(LastVisibleIndex, Count() - 1);
    for (int i = FirstVisibleIndex; i <= last; ++i) {
        if (i % every != 0 || IsNull(i)) continue;
        const std::string text = GetMarkText(i);
        if (text.empty() || !marks.Item(i).Visible()) continue;
        TSeriesMarkPosition position;
        marks.CalcPosition(i, CalcXPos(i), CalcYPos(i), text, position);
        DrawMark(i, text, &position);
    }
}

int TChartSeries::MaxMarkWidth() {
    int widest = 0;
    for (int i = 0; i < Count(); ++i)
        if (marks_->Item(i).Visible()) widest = std::max(widest, marks_->TextWidth(i));
    return widest;
}

int TCustomAxisPanel::MaxMarkWidth() {
    int widest = 0;
    for (int i = 0; i < SeriesCount(); ++i)
        if (GetSeries(i)->Active()) widest = std::max(widest, GetSeries(i)->MaxMarkWidth());
    return widest;
}

}  // namespace chart::engine
