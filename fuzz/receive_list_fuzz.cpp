// A receive list (".cp") file of any bytes either loads into the receive
// panel or is refused with "Wrong line format at line N" (the lines before
// it kept); then a message line and a chunk of data join the list. Saved in
// the internal format, the list loads back with every line as it was (text,
// direction, format, time stamp and prefix), and saves again to the same
// bytes. Saved as text it holds every line; saved as bytes, what the lines
// read back as.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "receive_panel_support.h"
#include "terminal/receive_list_files.h"
#include "terminal/receive_panel.h"

namespace {

using fuzz_support::Check;
using namespace terminal;

void SetOptions(TReceivePanel& panel, std::uint8_t options, const std::string& freeFormat) {
    panel.RVPnlTime = options % 5;
    panel.RVPnlTimeFormat = freeFormat;
    panel.ShowWrites = (options & 0x08) != 0;
    panel.SecondPortSelected = (options & 0x10) != 0;
    panel.DataFormat = static_cast<TDataFormat>((options >> 5) % 6);
}

// A load that fails keeps the lines before the bad one; only its own error
// may come out.
void Load(const std::string& file, TReceivePanel& panel, bool mustLoad) {
    const TLineStore& lines = panel.Lines();
    const int before = lines.LineCount();
    const std::string last = before > 0 ? lines.GetLine(before - 1) : std::string();
    try {
        LoadPanelList(file, panel);
    } catch (const rtl::Exception& e) {
        Check(!mustLoad && e.Message.rfind("Wrong line format at line ", 0) == 0);
        // A file refused at its first line changes nothing.
        if (e.Message == rtl::Format(WrongLineFormatText, {1})) {
            Check(lines.LineCount() == before && (before == 0 || lines.GetLine(before - 1) == last));
            return;
        }
    }
    // Otherwise a fresh, empty current line ends the list.
    Check(lines.LineCount() >= 1 && lines.LineLength(lines.LineCount() - 1) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // The options come from the end, so that a seed file is mostly itself.
    const auto options = in.ConsumeIntegral<std::uint8_t>();
    const double now = fuzz_support::CalendarTime(in.ConsumeIntegral<std::uint64_t>());
    const std::string content = in.ConsumeRemainingBytesAsString();
    const std::string freeFormat = content.substr(0, options & 7);
    const std::string file = fuzz_support::File("in.cp");
    const std::string saved = fuzz_support::File("saved.cp");
    const std::string again = fuzz_support::File("again.cp");
    fuzz_support::WriteFile(file, content);

    fuzz_support::TSetClock clock;
    clock.Now = now;
    TReceivePanel panel(clock);
    SetOptions(panel, options, freeFormat);
    Load(file, panel, false);
    // A message may hold line breaks: the saved list still loads back.
    panel.AddTextLine(content.substr(0, 40), options & 1, 0, (options & 2) ? dfMSG : dfERR);
    panel.ShowData(content.substr(content.size() / 2, 24), options % 3);

    SaveList(panel.Lines(), saved, TListFileType::Internal);
    TReceivePanel back(clock);
    SetOptions(back, options, freeFormat);
    Load(saved, back, true);
    const TLineStore& a = panel.Lines();
    const TLineStore& b = back.Lines();
    // Saving leaves out the empty current line, loading starts one.
    const int count = a.LineCount() - (a.LineLength(a.LineCount() - 1) == 0 ? 1 : 0);
    Check(b.LineCount() == count + 1);
    for (int i = 0; i < count; ++i) {
        Check(fuzz_support::SameRecord(a.LineRecord(i), b.LineRecord(i)));
        Check(a.GetLine(i) == b.GetLine(i));
    }
    SaveList(back.Lines(), again, TListFileType::Internal);
    Check(fuzz_support::ReadFile(again) == fuzz_support::ReadFile(saved));

    // As text: every line with its prefix; as bytes: what every line reads
    // back as, or the conversion error of a line that holds no numbers.
    const std::string text = fuzz_support::File("saved.txt"), binary = fuzz_support::File("saved.bin");
    SaveList(a, text, TListFileType::Text);
    Check(fuzz_support::ReadFile(text) == a.AllText());
    std::string bytes;
    bool numbers = true;
    for (int i = 0; i < a.LineCount() && numbers; ++i) {
        try {
            bytes += a.LineBytes(i);
        } catch (const rtl::EConvertError&) {
            numbers = false;
        }
    }
    try {
        SaveList(a, binary, TListFileType::Binary);
        Check(numbers && fuzz_support::ReadFile(binary) == bytes);
    } catch (const rtl::EConvertError&) {
        Check(!numbers);
    }
    return 0;
}
