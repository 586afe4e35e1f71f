#include "terminal/file_send_formats.h"

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "terminal/receive_format.h"
#include "terminal/receive_list_files.h"

namespace terminal {

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A tag's contents in an error message. A "<" in binary data can find its
// ">" megabytes later; a message box holding all of that would hang the
// window, so long contents are cut.
constexpr std::size_t MaxShownTagLength = 100;

std::string WrongFormatting(std::size_t Position, std::string_view What) {
    return rtl::Format("Wrong formatting at position %d (%s)",
                       {static_cast<long long>(Position), What});
}

std::string WrongTag(std::string_view Contents) {
    std::string text = "Wrong tag ";
    if (Contents.size() > MaxShownTagLength) {
        text.append(Contents.substr(0, MaxShownTagLength));
        text += "...";
    } else {
        text.append(Contents);
    }
    return text;
}

// "p=N" with N decimal digits from 0 to MaxTagPauseMs; nothing else.
std::optional<std::uint32_t> PauseTag(std::string_view Contents) {
    if (Contents.size() < 3 || Contents[0] != 'p' || Contents[1] != '=') return std::nullopt;
    std::uint32_t value = 0;
    for (char c : Contents.substr(2)) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > MaxTagPauseMs) return std::nullopt;
    }
    return value;
}

}  // namespace

std::size_t TSendPlan::TotalBytes() const {
    std::size_t total = 0;
    for (const TSendChunk& c : Chunks) total += c.Length;
    return total;
}

bool SendTaggedPlan(const TSendPlan& Plan, const TSendHooks& Hooks) {
    // Between chunks the window is kept alive, but not so often that a file
    // of many short pauses spends its time in the message loop.
    constexpr std::uint64_t MessageGapMs = 500;
    std::uint64_t last_messages = Hooks.NowMs();
    for (const TSendChunk& chunk : Plan.Chunks) {
        if (!chunk.PauseMs) {
            if (Hooks.Cancelled()) return false;
            Hooks.Write(Plan.Bytes(chunk));
            continue;
        }
        Hooks.Write(Plan.Bytes(chunk));
        const std::uint64_t start = Hooks.NowMs();
        if (start - last_messages > MessageGapMs) {
            Hooks.ProcessMessages();
            last_messages = start;
        }
        while (Hooks.NowMs() - start < *chunk.PauseMs) {
            Hooks.ProcessMessages();
            last_messages = Hooks.NowMs();
            if (Hooks.Cancelled()) return false;
            Hooks.Sleep(1);
        }
    }
    if (!Plan.Error.empty()) throw rtl::Exception(Plan.Error);
    return true;
}

std::string ParseAsciiHexFile(std::string Text) {
    // Two digits of input make at most one byte of output, so the bytes are
    // written over the text already read.
    std::size_t out = 0;
    int pending = -1;
    for (char c : Text) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            if (pending >= 0) Text[out++] = static_cast<char>(pending);
            pending = -1;
        } else if (pending < 0) {
            pending = digit;
        } else {
            Text[out++] = static_cast<char>(pending * 16 + digit);
            pending = -1;
        }
    }
    if (pending >= 0) Text[out++] = static_cast<char>(pending);
    Text.resize(out);
    return Text;
}

TSendPlan PlanBinaryFile(std::string Data) {
    TSendPlan plan;
    plan.Data = std::move(Data);
    if (!plan.Data.empty()) plan.Chunks.push_back({0, plan.Data.size(), std::nullopt});
    return plan;
}

TSendPlan PlanTaggedBinaryFile(std::string Data) {
    TSendPlan plan;
    plan.Data = std::move(Data);
    std::string& d = plan.Data;
    const std::size_t size = d.size();
    // Bytes to send are compacted at the front: out is the next write
    // position, sent the first byte not yet in a chunk.
    std::size_t out = 0;
    std::size_t sent = 0;
    std::size_t i = 0;
    while (i < size) {
        if (d[i] != '<') {
            d[out++] = d[i++];
            continue;
        }
        if (i + 1 == size) {
            plan.Error = WrongFormatting(i, "No close tag");
            break;
        }
        if (d[i + 1] == '<') {
            d[out++] = '<';
            i += 2;
            continue;
        }
        const std::size_t close = d.find('>', i + 1);
        if (close == std::string::npos) {
            plan.Error = WrongFormatting(i, "No close tag");
            break;
        }
        const std::string_view contents = std::string_view(d).substr(i + 1, close - i - 1);
        i = close + 1;
        if (contents.empty() || contents[0] == '!') continue;
        if (const auto pause = PauseTag(contents)) {
            plan.Chunks.push_back({sent, out - sent, pause});
            sent = out;
            continue;
        }
        plan.Error = WrongFormatting(i, WrongTag(contents));
        break;
    }
    if (plan.Error.empty() && out > sent) plan.Chunks.push_back({sent, out - sent, std::nullopt});
    // Nothing past the last chunk is ever sent.
    d.resize(plan.Error.empty() ? out : sent);
    return plan;
}

std::string SelfLogSendBytes(std::string_view Text) {
    std::string bytes;
    int number = 0;
    while (!Text.empty()) {
        const std::size_t lf = Text.find('\n');
        std::string_view line = Text.substr(0, lf);
        Text.remove_prefix(lf == std::string_view::npos ? Text.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number;
        TLineRecord record;
        std::string_view data;
        if (!ParseSelfLogLine(line, record, data))
            throw rtl::Exception(rtl::Format(WrongLineFormatText, {number}));
        if (record.Dir == 2 || record.Format == dfERR || record.Format == dfMSG) continue;
        try {
            bytes += DecodeLineBytes(record.Format, data);
        } catch (const rtl::EConvertError& e) {
            // Which of many thousand lines holds the bad token.
            throw rtl::EConvertError(e.Message + rtl::Format(" at line %d", {number}));
        }
    }
    return bytes;
}

}  // namespace terminal
