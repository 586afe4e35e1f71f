#pragma once
// The records the table's devices send, and the times they carry: each
// stream's records in letters of its own, so that one file or list holding
// several streams can be taken apart again.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "terminal/receive_panel_clock.h"

namespace receive_table::detail {

// ---- Times: ms of the day, as the records carry them

inline long MsOfDay(double Days) {
    const double ms = std::fmod(Days, 1.0) * 86400000.0;
    return std::lround(ms) % 86400000;
}
inline long NowMsOfDay() {
    terminal::TSystemReceiveClock clock;
    return MsOfDay(clock.LocalNow());
}
// A - B in ms, across midnight.
inline long Minus(long A, long B) {
    long d = A - B;
    if (d < -43200000) d += 86400000;
    if (d > 43200000) d -= 86400000;
    return d;
}
constexpr long kNoStamp = LONG_MIN;
constexpr long kForever = 86400000;

// ---- Records

struct Alphabet {
    const char* digits;
    char separator;
};
constexpr Alphabet kAlphabets[] = {
    {"abcdefghij", ';'}, {"klmnopqrst", ':'}, {"ABCDEFGHIJ", ','}, {"KLMNOPQRST", '.'}};
constexpr int kStreamsMax = 4;
constexpr std::size_t kDigits = 16;  // 7 of sequence, 9 of time
constexpr std::size_t kRecord = kDigits + 1;

// What the rewriting plug-ins turn a stream's letters into: a byte of its
// own for each digit (kRewrittenBase + 16 x the stream + the digit) and for
// the separator (as a digit 10), none of them a letter of any stream; and
// the mark the longer rewrite puts after every separator, which belongs to
// no stream.
constexpr int kRewrittenBase = 0xA0;
constexpr char kLongerMark = '~';

inline std::string Record(int Stream, std::uint32_t Seq, long Time) {
    const Alphabet& a = kAlphabets[Stream];
    char text[kDigits + 1];
    std::snprintf(text, sizeof text, "%07u%09ld", Seq % 10000000u, Time);
    std::string out;
    for (std::size_t i = 0; i < kDigits; ++i) out.push_back(a.digits[text[i] - '0']);
    out.push_back(a.separator);
    return out;
}

// A rewritten byte's stream and digit (10: the separator); false: none.
inline bool RewrittenDigit(char C, int& Stream, int& Digit) {
    const int b = static_cast<std::uint8_t>(C) - kRewrittenBase;
    if (b < 0 || b >= kStreamsMax * 16 || b % 16 > 10) return false;
    Stream = b / 16;
    Digit = b % 16;
    return true;
}

// The stream whose letter C is (as it came or rewritten); -1: none.
inline int StreamOf(char C) {
    if (C == '\0') return -1;
    for (int s = 0; s < kStreamsMax; ++s)
        if (std::strchr(kAlphabets[s].digits, C) || C == kAlphabets[s].separator) return s;
    int stream = -1, digit = 0;
    return RewrittenDigit(C, stream, digit) ? stream : -1;
}

// Whether C ends a record (of any stream, as it came or rewritten).
inline bool Separator(char C) {
    int stream = -1, digit = 0;
    if (RewrittenDigit(C, stream, digit)) return digit == 10;
    for (const Alphabet& a : kAlphabets)
        if (C == a.separator) return true;
    return false;
}

// When a device wrote each record, by sequence number: the time the record
// carries (when it was made, its first byte written right after) and when
// the write of its first byte had returned.
struct Written {
    long at = kNoStamp, put = kNoStamp;
};
using WriteLog = std::vector<Written>;

// Takes one stream's records back out of bytes that may hold others too.
// With its device's log, a run of letters that makes a record the device
// never wrote (the start of one record and the end of another, the bytes
// between them lost) is no record but a cut one.
class Decoder {
public:
    explicit Decoder(int Stream, const WriteLog* Log = nullptr) : stream_(Stream), a_(kAlphabets[Stream]), log_(Log) {}
    struct Rec {
        long seq, written;
        long stamp;   // ms of the day; kNoStamp: from a file
        int segment;  // the destination it was found in, in their order
        int began;    // the destination it began in (the one before, when output was switched off in it)
        long ended;   // the stamp where it ended (of the line in the list that ends it)
        int plain = 0, rewritten = 0;  // its letters as they came, and rewritten by a receive event
    };
    std::vector<Rec> records;
    std::size_t bytes = 0;  // the stream's characters seen
    // Where a record was cut short (a gap inside it): the number of whole
    // records before it.
    std::vector<std::size_t> partials;

    void Feed(char C, long Stamp) {
        int digit = -1;
        bool rewritten = false;
        if (const char* d = C != '\0' ? std::strchr(a_.digits, C) : nullptr) {
            digit = static_cast<int>(d - a_.digits);
        } else if (C == a_.separator) {
            digit = 10;
        } else {
            int stream = -1;
            if (!RewrittenDigit(C, stream, digit) || stream != stream_) return;
            rewritten = true;
        }
        ++bytes;
        if (digit < 10) {
            if (digits_.empty()) {
                stamp_ = Stamp;
                began_ = segment_;
                plain_ = rewritten_ = 0;
            }
            digits_.push_back(static_cast<char>('0' + digit));
            ++(rewritten ? rewritten_ : plain_);
            return;
        }
        ++(rewritten ? rewritten_ : plain_);
        if (digits_.size() != kDigits) {
            partials.push_back(records.size());
        } else {
            const long seq = std::stol(digits_.substr(0, 7)), written = std::stol(digits_.substr(7));
            if (log_ && (seq >= static_cast<long>(log_->size()) || (*log_)[static_cast<std::size_t>(seq)].at != written))
                partials.push_back(records.size());
            else
                records.push_back({seq, written, stamp_, segment_, began_, Stamp, plain_, rewritten_});
        }
        digits_.clear();
    }
    void Feed(const std::string& Bytes, long Stamp) {
        for (char c : Bytes) Feed(c, Stamp);
    }
    // A loss between two destinations: what was begun is unfinished.
    void Break() {
        if (!digits_.empty()) partials.push_back(records.size());
        digits_.clear();
    }
    // The destination the records that follow are found in.
    void Into(int Segment) { segment_ = Segment; }
    // A word format starts its pairs anew here (a line of its own came in
    // between): a byte a word had begun is not shown. The records before
    // the next whole one may be cut so.
    void MayLose() { loss_points.push_back(records.size()); }
    std::vector<std::size_t> loss_points;
    // The letters of a record begun and not finished yet.
    std::size_t Begun() const { return digits_.size(); }

private:
    int stream_;
    Alphabet a_;
    const WriteLog* log_;
    std::string digits_;
    long stamp_ = 0;
    int segment_ = 0, began_ = 0;
    int plain_ = 0, rewritten_ = 0;
};
}  // namespace receive_table::detail
