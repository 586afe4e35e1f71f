// The file-sending readers on any bytes. The ASCII-hex reader gives at most
// one byte per digit, and what it gives, written as hexadecimal text again,
// reads back the same. The tagged-binary reader cuts the file into chunks
// that cover its bytes in order, each but the last ending in a pause of at
// most the longest allowed; the bytes and pauses written back as a tagged
// file read the same, and sending the plan writes exactly its bytes, then
// raises its error, if any. "Send Self Log" sends what the receive list
// reader would load: the bytes of every received data line in order, or the
// same error.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "terminal/file_send_formats.h"
#include "terminal/receive_list_files.h"

namespace {

using fuzz_support::Check;
using namespace terminal;

void AsciiHex(const std::string& text) {
    std::size_t digits = 0;
    for (char c : text) digits += std::isxdigit(static_cast<unsigned char>(c)) ? 1 : 0;
    const std::string bytes = ParseAsciiHexFile(text);
    Check(bytes.size() <= digits && (digits == 0) == bytes.empty());
    std::string written;
    for (unsigned char b : bytes) written += rtl::Format("%.2x\r\n", {static_cast<int>(b)});
    Check(ParseAsciiHexFile(written) == bytes);
}

// The plan as a tagged file again: every "<" doubled, a pause tag after
// each chunk that has one.
std::string Retagged(const TSendPlan& plan) {
    std::string file;
    for (const TSendChunk& chunk : plan.Chunks) {
        for (char c : plan.Bytes(chunk)) file += c == '<' ? std::string("<<") : std::string(1, c);
        if (chunk.PauseMs) file += "<p=" + std::to_string(*chunk.PauseMs) + ">";
    }
    return file;
}

void Tagged(const std::string& text) {
    const TSendPlan plan = PlanTaggedBinaryFile(text);
    std::size_t at = 0;
    for (std::size_t i = 0; i < plan.Chunks.size(); ++i) {
        const TSendChunk& chunk = plan.Chunks[i];
        Check(chunk.Offset == at);
        at += chunk.Length;
        Check(chunk.PauseMs ? *chunk.PauseMs <= MaxTagPauseMs : i + 1 == plan.Chunks.size());
    }
    Check(at == plan.Data.size() && plan.TotalBytes() == at);
    Check(plan.Error.empty() || plan.Error.rfind("Wrong formatting at position ", 0) == 0);

    const TSendPlan again = PlanTaggedBinaryFile(Retagged(plan));
    Check(again.Error.empty() && again.Data == plan.Data);
    Check(again.Chunks.size() == plan.Chunks.size());
    for (std::size_t i = 0; i < plan.Chunks.size(); ++i)
        Check(again.Chunks[i].PauseMs == plan.Chunks[i].PauseMs);

    // Sent against a clock that only moves when the sender sleeps.
    std::string written;
    std::uint64_t now = 0;
    TSendHooks hooks;
    hooks.Write = [&](std::string_view bytes) { written.append(bytes); };
    hooks.ProcessMessages = [] {};
    hooks.Cancelled = [] { return false; };
    hooks.NowMs = [&] { return now; };
    hooks.Sleep = [&](std::uint32_t ms) { now += ms; };
    bool raised = false;
    try {
        Check(SendTaggedPlan(plan, hooks));
    } catch (const rtl::Exception& e) {
        raised = true;
        Check(e.Message == plan.Error);
    }
    Check(raised == !plan.Error.empty() && written == plan.Data);
}

// What the receive list reader makes of the file: the bytes "Send Self Log"
// must send, or the message it must raise.
std::string LoadedBytes(const std::string& text, std::string& error) {
    const std::string file = fuzz_support::File("log.cp");
    fuzz_support::WriteFile(file, text);
    TLineStore lines;
    try {
        LoadSelfLog(file, lines, TPrefixStyle{});
    } catch (const rtl::Exception& e) {
        error = e.Message;
    }
    std::string bytes;
    for (int i = 0; i < lines.LineCount(); ++i) {
        const TLineRecord record = lines.LineRecord(i);
        if (record.Dir == 2 || record.Format == dfERR || record.Format == dfMSG) continue;
        try {
            bytes += lines.LineBytes(i);
        } catch (const rtl::EConvertError& e) {
            error = e.Message;
            break;
        }
    }
    return bytes;
}

void SelfLog(const std::string& text) {
    std::string expectedError;
    const std::string expected = LoadedBytes(text, expectedError);
    std::string sent, error;
    try {
        sent = SelfLogSendBytes(text);
    } catch (const rtl::Exception& e) {
        error = e.Message;
    }
    // Sending names the file's line of a token it cannot convert; the list
    // it is checked against knows no file lines.
    Check(error == expectedError ||
          (!expectedError.empty() && error.rfind(expectedError + " at line ", 0) == 0));
    if (error.empty()) Check(sent == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(fuzz_support::Bytes(data, size));
    AsciiHex(text);
    Tagged(text);
    SelfLog(text);
    return 0;
}
