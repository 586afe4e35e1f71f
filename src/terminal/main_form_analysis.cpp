// The receive list's "Special" menu: statistics over the values of the
// whole list, the searches by text, time gap and error line with "Find
// next", and the data tip shown while Ctrl is held over a line.
#include <string>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/dialogs.h"
#include "terminal/data_tip_form.h"
#include "terminal/main_form.h"

namespace terminal {

namespace {

constexpr const char* kCaption = "VOSTREL";

}  // namespace

void TMain::BuildAnalysisCommands() {
    struct Hook {
        const char* name;
        void (TMain::*handler)(vcl::TComponent*);
    };
    static const Hook kHooks[] = {
        {"mCountSum", &TMain::mCountSumClick},
        {"mCountAverage", &TMain::mCountAverageClick},
        {"CountMin1", &TMain::CountMin1Click},
        {"CountMaximum1", &TMain::CountMaximum1Click},
        {"FindText1", &TMain::FindText1Click},
        {"mFindTimeGap", &TMain::mFindTimeGapClick},
        {"Finddifference1", &TMain::Finddifference1Click},
        {"Finderror1", &TMain::Finderror1Click},
        {"Findnext1", &TMain::Findnext1Click},
    };
    for (const Hook& h : kHooks) {
        auto* item = dynamic_cast<vcl::TMenuItem*>(FindComponent(h.name));
        if (!item) throw rtl::Exception(rtl::Format("Menu entry %s is missing", {h.name}));
        item->OnClick = [this, handler = h.handler](vcl::TComponent* s) { (this->*handler)(s); };
    }
    lb1->OnMouseMove = [this](vcl::TComponent* s, vcl::TShiftState Shift, int X, int Y) {
        lb1MouseMove(s, Shift, X, Y);
    };
}

// ---- Statistics --------------------------------------------------------------

void TMain::ShowResult(const TAccumulator& Result) {
    vcl::Application->MessageBox(FormatResult(Result, static_cast<TDataFormat>(DataFormat)),
                                 kCaption, vcl::MB_OK | vcl::MB_ICONINFORMATION);
}

void TMain::ShowStatistic(TStatistic Statistic) {
    ShowResult(CountStatistic(RxPanel->Lines(), Statistic));
}

void TMain::mCountSumClick(vcl::TComponent*) { ShowStatistic(TStatistic::Sum); }
void TMain::mCountAverageClick(vcl::TComponent*) { ShowStatistic(TStatistic::Average); }
void TMain::CountMin1Click(vcl::TComponent*) { ShowStatistic(TStatistic::Minimum); }
void TMain::CountMaximum1Click(vcl::TComponent*) { ShowStatistic(TStatistic::Maximum); }

// ---- Searches ----------------------------------------------------------------

void TMain::ShowSearchResult(const TSearchResult& Result) {
    if (!Result.Ran) return;
    if (!Result.Found()) {
        vcl::Application->MessageBox(NotFoundText, kCaption, vcl::MB_OK);
        return;
    }
    // The list's count follows the lines; a line found is always in it.
    lb1->SetItemIndex(Result.Index);
}

void TMain::FindText1Click(vcl::TComponent*) {
    std::string answer = ListSearch.FindTextValue;
    if (!vcl::InputQuery("Find text", "Text to find:", answer)) return;
    ShowSearchResult(ListSearch.FindText(RxPanel->Lines(), answer));
}

void TMain::mFindTimeGapClick(vcl::TComponent*) {
    std::string answer = rtl::IntToStr(ListSearch.GapMs);
    if (!vcl::InputQuery("Search parameter", "Interval, ms", answer)) return;
    ShowSearchResult(ListSearch.FindTimeGap(RxPanel->Lines(), lb1->ItemIndex(), answer));
}

void TMain::Finddifference1Click(vcl::TComponent*) { TListSearch::FindTwoLineDifference(); }

void TMain::Finderror1Click(vcl::TComponent*) {
    ShowSearchResult(ListSearch.FindError(RxPanel->Lines(), lb1->ItemIndex()));
}

void TMain::Findnext1Click(vcl::TComponent*) {
    ShowSearchResult(ListSearch.FindNext(RxPanel->Lines(), lb1->ItemIndex()));
}

// ---- Data tip ----------------------------------------------------------------

void TMain::lb1MouseMove(vcl::TComponent*, vcl::TShiftState Shift, int X, int Y) {
    if (!(Shift & vcl::ssCtrl) || !frmData) return;
    const TLineStore& lines = RxPanel->Lines();
    const int index = lb1->ItemAtPos({X, Y}, true);
    if (index < 0 || index >= lines.LineCount()) {
        frmData->HideTip();
        return;
    }
    const vcl::TRect item = lb1->ItemRect(index);
    const vcl::TPoint corner = lb1->ClientToScreen({item.Left, item.Top});
    const vcl::TRect onScreen{corner.X, corner.Y, corner.X + item.Width(),
                              corner.Y + item.Height()};
    const std::string data = lines.LineData(index);
    frmData->ShowTip(lines.LineRecord(index), data, X, RxPanel->CharWidth(),
                     mShowASCIInonvisiblecodes->Checked(), onScreen);
}

}  // namespace terminal
