#include "e2e/receive_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "chart/engine/value_list.h"
#include "graph/graph_form.h"
#include "graph/point_file.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/ini_files.h"
#include "platform/win/message_window.h"
#include "platform/win/timers.h"
#include "ports/ethernet_port.h"
#include "support/fifo_reader.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"
#include "terminal/receive_format.h"
#include "terminal/receive_panel_clock.h"

namespace receive_table {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using terminal::TMain;
using terminal::TReceiveSource;

// ---- Names and the table

const char* SourceName(Source S) {
    static constexpr const char* names[] = {"main serial", "Port2 serial", "both serial", "UDP two senders",
                                            "TCP client", "TCP server"};
    return names[static_cast<int>(S)];
}
const char* PluginName(Plugin P) {
    static constexpr const char* names[] = {"no plug-in",  "event at once", "NBSleep",   "box",
                                            "failing box", "Recv in event", "Recv loop in ONLOAD",
                                            "Recv loop in ONSEND", "slow Send", "other port's event",
                                            "Recv a byte at a time in the event", "Recv then PurgeRx in the event",
                                            "event rewrites RD", "event rewrites RD longer", "event writes lines"};
    return names[static_cast<int>(P)];
}
const char* UserName(User U) {
    static constexpr const char* names[] = {"nothing", "Clear", "output off and on", "line setting",
                                            "port button", "F10", "Unload", "close", "output off, on, off",
                                            "Clear then output off", "clients leave and join",
                                            "output off and on into the same file"};
    return names[static_cast<int>(U)];
}
const char* ViewName(View V) {
    static constexpr const char* names[] = {"", "graph open", "text output", "words", "output onto a slow pipe"};
    return names[static_cast<int>(V)];
}

constexpr int kSources = 6, kPlugins = 15, kUsers = 12, kViews = 5;

bool Serial(Source S) { return S == Source::MainSerial || S == Source::Port2Serial || S == Source::BothSerial; }
bool Ethernet(Source S) { return !Serial(S); }

// The serial ports' input buffer in the table: small enough that a wait of
// the plug-in drives a flooding stream past it.
constexpr std::uint32_t kSerialInBuf = 8192;
// What a piece that waits costs beyond its bytes and its name line, so that
// a flood of small pieces is bounded as bytes are.
constexpr std::size_t kPieceUpkeep = 64;
// What a server's client may have read and not handed on.
constexpr std::size_t kClientBound = 1000000;
// What one client sends at once when its port's wait begins, to drive its
// stream past that.
constexpr std::size_t kClientBurst = 1300000;
// What the main serial port's device sends at once while its port's Recv
// in the event waits: far more than a port held to what each Recv frees
// reads in the rest of the wait.
constexpr std::size_t kSerialBurst = 100000;
// What a TCP peer sends at once onto the slow pipe: read in pieces of up to
// the socket's read size, each far more than the pipe has room for.
constexpr std::size_t kPipeBurst = 40000;

// The slow pipe's reader: it takes at most so much every pace, steadily,
// from a pipe that holds one page (a serial port's) or four. A serial device
// floods faster than that, so the pipe sets the pace and the program's
// backlog builds all the time (the port is then held back, and the device
// with it); an Ethernet port reads on into its far larger bound whatever
// the pipe does, so its reader keeps up with a flood, and the backlog builds
// when a wait's release hands on more than the pipe holds (and for the
// server's three clients). A write of more than a page into a pipe takes
// what its free pages hold: a TCP peer's burst, read in pieces of many
// pages, is written in part.
constexpr int kSerialPipeCapacity = 4096, kEthernetPipeCapacity = 16384;
constexpr std::size_t kSerialPipeTake = 1024, kEthernetPipeTake = 2048;
constexpr std::chrono::milliseconds kSerialPipePace{200}, kEthernetPipePace{100};
// Ticks that saw the pipe holding, this far apart or closer, are one span:
// the port was not let read all it had between them.
constexpr long kPipeSpanJoin = 200;

// ---- Times: ms of the day, as the records carry them

long MsOfDay(double Days) {
    const double ms = std::fmod(Days, 1.0) * 86400000.0;
    return std::lround(ms) % 86400000;
}
long NowMsOfDay() {
    terminal::TSystemReceiveClock clock;
    return MsOfDay(clock.LocalNow());
}
// A - B in ms, across midnight.
long Minus(long A, long B) {
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

std::string Record(int Stream, std::uint32_t Seq, long Time) {
    const Alphabet& a = kAlphabets[Stream];
    char text[kDigits + 1];
    std::snprintf(text, sizeof text, "%07u%09ld", Seq % 10000000u, Time);
    std::string out;
    for (std::size_t i = 0; i < kDigits; ++i) out.push_back(a.digits[text[i] - '0']);
    out.push_back(a.separator);
    return out;
}

// A rewritten byte's stream and digit (10: the separator); false: none.
bool RewrittenDigit(char C, int& Stream, int& Digit) {
    const int b = static_cast<std::uint8_t>(C) - kRewrittenBase;
    if (b < 0 || b >= kStreamsMax * 16 || b % 16 > 10) return false;
    Stream = b / 16;
    Digit = b % 16;
    return true;
}

// The stream whose letter C is (as it came or rewritten); -1: none.
int StreamOf(char C) {
    if (C == '\0') return -1;
    for (int s = 0; s < kStreamsMax; ++s)
        if (std::strchr(kAlphabets[s].digits, C) || C == kAlphabets[s].separator) return s;
    int stream = -1, digit = 0;
    return RewrittenDigit(C, stream, digit) ? stream : -1;
}

// Whether C ends a record (of any stream, as it came or rewritten).
bool Separator(char C) {
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

// ---- The devices

// A device that sends its records every 5 ms (at the pace of a busy serial
// line) and reads what the program sends it, fast or slowly. A device held
// back makes nothing new meanwhile, so that each record carries the time its
// first byte was written; its log tells when each write returned.
class Device {
public:
    virtual ~Device() { Stop(); }
    void Start(int Stream, int RecordsPerTick, std::size_t ReadPerTick) {
        stream_ = Stream;
        per_tick_ = RecordsPerTick;
        read_per_tick_ = ReadPerTick;
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    void SendNow(const std::string& Bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        extra_ += Bytes;
    }
    // Sends about Bytes of records as fast as they are taken.
    void Burst(std::size_t Bytes) { burst_ = Bytes; }
    std::size_t BurstLeft() const { return burst_; }
    // Records written whole, and when the last of them began.
    std::uint32_t Complete() const { return complete_; }
    long LastWritten() const { return last_written_; }
    int Stream() const { return stream_; }
    // When each record was written (read once the device has stopped).
    const WriteLog& Log() const { return log_; }
    // The bytes of records written from From until To (ms of the day).
    std::size_t WrittenBetween(long From, long To) const {
        std::size_t n = 0;
        for (const Written& w : log_)
            if (w.at != kNoStamp && Minus(w.at, From) >= 0 && Minus(To, w.at) >= 0) n += kRecord;
        return n;
    }

protected:
    // Writes what it can of Bytes now: the count taken, -1 when the device
    // can take nothing any more.
    virtual long Put(const std::string& Bytes) = 0;
    virtual void Take(std::size_t Max) = 0;
    // One record a write (a datagram each).
    virtual bool Whole() const { return false; }
    // The stream's bytes written so far (once it has stopped).
    std::size_t BytesWritten() const { return written_; }

private:
    void Logged(std::uint32_t Seq, long At, long Put) {
        if (log_.size() <= Seq) log_.resize(Seq + 1);
        log_[Seq] = {At, Put};
    }
    void Run() {
        std::string pending;  // the rest of a record begun
        long pending_time = 0;
        while (!stop_) {
            Take(read_per_tick_);
            std::string extra;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                extra = std::exchange(extra_, {});
            }
            while (!extra.empty() && !broken_ && !stop_) {
                const long n = Put(extra);
                if (n < 0) broken_ = true;
                if (n > 0) extra.erase(0, static_cast<std::size_t>(n));
                if (n == 0) std::this_thread::sleep_for(1ms);
            }
            if (stream_ >= 0 && !broken_ && pending.empty()) {
                std::size_t want = static_cast<std::size_t>(per_tick_);
                if (burst_ > 0) want = std::max<std::size_t>(want, std::min<std::size_t>(burst_, 65536) / kRecord);
                std::string batch;
                const std::uint32_t first = seq_;
                std::vector<long> times;
                for (std::size_t i = 0; i < want; ++i) {
                    times.push_back(NowMsOfDay());
                    batch += Record(stream_, seq_++, times.back());
                }
                burst_ = burst_ > batch.size() ? burst_ - batch.size() : 0;
                if (Whole()) {
                    for (std::size_t i = 0; i < want && !broken_; ++i) {
                        if (Put(batch.substr(i * kRecord, kRecord)) < 0) broken_ = true;
                        written_ += kRecord;
                        ++complete_;
                        last_written_ = NowMsOfDay();
                        Logged(first + static_cast<std::uint32_t>(i), times[i], last_written_);
                    }
                } else {
                    pending = std::move(batch);
                    pending_time = NowMsOfDay();
                    // Records not begun are made again later, with the time
                    // they are then written.
                    const std::size_t started = Write(pending, pending_time);
                    const long put = NowMsOfDay();
                    const std::size_t begun = (started + kRecord - 1) / kRecord;
                    for (std::size_t i = 0; i < begun; ++i)
                        Logged(first + static_cast<std::uint32_t>(i), times[i], put);
                    const std::size_t unstarted = (pending.size() - started) / kRecord;
                    seq_ -= static_cast<std::uint32_t>(unstarted);
                    burst_ += unstarted * kRecord;
                    pending.resize(pending.size() - unstarted * kRecord);
                    pending.erase(0, started);
                }
            } else if (!pending.empty() && !broken_) {
                const std::size_t n = Write(pending, pending_time);
                pending.erase(0, n);
            }
            std::this_thread::sleep_for(5ms);
        }
    }
    // Writes the front of Bytes (whole records, the first perhaps begun
    // before, at Time); counts the records finished. Returns the bytes
    // written.
    std::size_t Write(const std::string& Bytes, long Time) {
        const long n = Put(Bytes);
        if (n < 0) {
            broken_ = true;
            return 0;
        }
        const std::size_t done = static_cast<std::size_t>(n);
        written_ += done;
        // Each record ends with its separator.
        for (std::size_t i = 0; i < done; ++i)
            if (StreamOf(Bytes[i]) == stream_ && Bytes[i] == kAlphabets[stream_].separator) {
                ++complete_;
                last_written_ = Time;
            }
        return done;
    }

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> broken_{false};
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> burst_{0};
    std::atomic<std::uint32_t> complete_{0};
    std::atomic<long> last_written_{0};
    std::uint32_t seq_ = 0;
    int stream_ = -1;
    int per_tick_ = 0;
    std::size_t read_per_tick_ = 0;
    std::mutex mutex_;
    std::string extra_;
    WriteLog log_;
};

class PtyDevice : public Device {
public:
    explicit PtyDevice(int Com) {
        pty.MapAsCom(Com);
        ::fcntl(pty.MasterFd(), F_SETFL, ::fcntl(pty.MasterFd(), F_GETFL) | O_NONBLOCK);
    }
    ~PtyDevice() override { Stop(); }
    test_support::PtyPair pty;

protected:
    long Put(const std::string& Bytes) override {
        const ssize_t n = ::write(pty.MasterFd(), Bytes.data(), Bytes.size());
        return n < 0 ? (errno == EAGAIN || errno == EIO ? 0 : -1) : n;
    }
    void Take(std::size_t Max) override {
        char buf[4096];
        for (std::size_t got = 0; got < Max;) {
            const ssize_t n = ::read(pty.MasterFd(), buf, std::min(sizeof buf, Max - got));
            if (n <= 0) return;
            got += static_cast<std::size_t>(n);
        }
    }
};

class SocketDevice : public Device {
public:
    SocketDevice(int Fd, bool Datagrams, std::uint16_t To) : fd_(Fd), datagrams_(Datagrams), to_(To) {
        ::fcntl(fd_.fd, F_SETFL, ::fcntl(fd_.fd, F_GETFL) | O_NONBLOCK);
    }
    ~SocketDevice() override { Stop(); }
    std::uint16_t LocalPort() const { return test_support::BoundPort(fd_.fd); }
    // Leaves: what was sent stays the peer's to read. Its stream ends in an
    // odd number of bytes (a letter of a record never finished is added when
    // it is even), so that in a word format a byte of it is left waiting for
    // a pair that never comes.
    void Leave() {
        Stop();
        if (Stream() >= 0 && BytesWritten() % 2 == 0) {
            const std::string one(1, kAlphabets[Stream()].digits[0]);
            for (int i = 0; i < 100 && Put(one) == 0; ++i) std::this_thread::sleep_for(1ms);
        }
        fd_ = test_support::Fd();
    }

protected:
    long Put(const std::string& Bytes) override {
        ssize_t n;
        if (datagrams_) {
            const sockaddr_in a = test_support::LoopbackAddress(to_);
            n = ::sendto(fd_.fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a),
                         sizeof a);
            // Nobody listens there now (the port closed): what is sent is lost.
            if (n < 0 && (errno == ECONNREFUSED || errno == EAGAIN)) return static_cast<long>(Bytes.size());
        } else {
            n = ::send(fd_.fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EAGAIN) return 0;
        }
        return n < 0 ? -1 : n;
    }
    void Take(std::size_t Max) override {
        char buf[4096];
        for (std::size_t got = 0; got < Max;) {
            const ssize_t n = ::recv(fd_.fd, buf, std::min(sizeof buf, Max - got), 0);
            if (n <= 0) return;
            got += static_cast<std::size_t>(n);
        }
    }
    bool Whole() const override { return datagrams_; }

private:
    test_support::Fd fd_;
    bool datagrams_;
    std::uint16_t to_;
};

// ---- The plug-ins

// The slot (1 main, 2 Port2) whose bytes a Recv of the plug-in reads: the
// main port, or the Ethernet server's current client (3, one of Port2's).
int RecvSlot(const Cell& C) { return C.source == Source::TcpServer ? 2 : 1; }

// Whether the plug-in's receive events return at once (no wait of theirs
// for the user to act in).
bool EventsReturnAtOnce(Plugin P) {
    return P == Plugin::Immediate || P == Plugin::RewriteSame || P == Plugin::RewriteLonger ||
           P == Plugin::EventLines;
}
bool Rewrites(Plugin P) { return P == Plugin::RewriteSame || P == Plugin::RewriteLonger; }
// Whether the plug-in's ONLOAD waits a little (its receive events' ports
// then wait for it, from the load on).
bool SettlesOnLoad(Plugin P) {
    return P != Plugin::None && P != Plugin::Immediate && P != Plugin::RecvLoopOnLoad && P != Plugin::RecvLoopOnSend;
}

// Every plug-in with a receive event notes each chunk its event gets (RD1_n
// for the main port's, RD2_n for Port2's); what a Recv returns is kept in
// GOT. Waits happen once, on the first chunk, and say when they begin and end
// and whose event waits. The plug-ins whose events wait (and those that
// change what their events get) wait a little in ONLOAD first, so that their
// first chunk is many pieces read meanwhile: the close, the changes and the
// names then have more than one piece to keep in order.
std::string PluginSource(const Cell& C) {
    const std::string note =
        "var N1, N2: Integer;\nprocedure Note(Slot: Integer; const Chunk: string);\nbegin\n"
        "  if Slot = 1 then begin\n    N1 := N1 + 1;\n    SetV('RD1_' + IntToStr(N1), Chunk);\n"
        "    SetV('RD1N', IntToStr(N1));\n  end else begin\n    N2 := N2 + 1;\n"
        "    SetV('RD2_' + IntToStr(N2), Chunk);\n    SetV('RD2N', IntToStr(N2));\n  end;\nend;\n";
    const std::string settle = "procedure OnLoad;\nbegin\n  NBSleep(200);\nend;\n";
    const std::string hold_head = note +
                                  "var Done: Boolean;\nprocedure Hold(Slot: Integer);\nvar S: string; Z: Integer;\nbegin\n"
                                  "  if Done then Exit;\n  Done := True;\n  SetV('SLOT', IntToStr(Slot));\n"
                                  "  SetV('BEGUN', '1');\n  SetV('SINCE', IntToStr(GetTickCount));\n  SetV('WAIT', '1');\n";
    const std::string hold_tail = "  SetV('WAIT', '0');\nend;\n" + settle;
    const std::string send_size = Ethernet(C.source) ? "60000" : "100000";
    const std::string loop = "  SetV('BEGUN', '1');\n  SetV('WAIT', '1');\n  T := GetTickCount;\n  G := '';\n"
                             "  while GetTickCount - T < 1500 do begin\n    Recv(0, 50, S);\n    G := G + S;\n"
                             "    SetV('GOT', G);\n  end;\n  SetV('WAIT', '0');\n";
    const std::string both = "procedure OnReceive;\nbegin\n  Note(1, RD);\n  Hold(1);\nend;\n"
                             "procedure OnReceive2;\nbegin\n  Note(2, RD2);\n  Hold(2);\nend;\n";
    // Each letter of a stream becomes a byte of its own (Rewritten), and the
    // longer rewrite puts a mark after every separator.
    const auto rewrite = [&](bool Longer) {
        std::string letters;
        for (const Alphabet& a : kAlphabets) letters += std::string(a.digits) + a.separator;
        return note + "var Map: array[0..255] of Integer;\nprocedure OnLoad;\nvar i, k: Integer; A: string;\nbegin\n"
                      "  A := '" + letters + "';\n  for i := 0 to 255 do Map[i] := -1;\n"
                      "  for k := 0 to " + std::to_string(letters.size() - 1) + " do Map[Ord(A[k + 1])] := " +
               std::to_string(kRewrittenBase) + " + (k div 11) * 16 + (k mod 11);\n  NBSleep(200);\nend;\n"
               "function Rewrite(const S: string): string;\nvar i, j, c, n: Integer; R, L: string;\nbegin\n"
               "  R := S;\n  n := 0;\n  for i := 1 to Length(S) do begin\n    c := Map[Ord(S[i])];\n"
               "    if c >= 0 then begin\n      R[i] := Chr(c);\n      if c mod 16 = 10 then n := n + 1;\n    end;\n"
               "  end;\n" +
               (Longer ? "  SetLength(L, Length(R) + n);\n  j := 1;\n  for i := 1 to Length(R) do begin\n"
                         "    L[j] := R[i];\n    j := j + 1;\n    c := Map[Ord(S[i])];\n"
                         "    if (c >= 0) and (c mod 16 = 10) then begin\n      L[j] := '" +
                             std::string(1, kLongerMark) + "';\n      j := j + 1;\n    end;\n  end;\n  R := L;\n"
                       : "") +
               "  Result := R;\nend;\n"
               "procedure OnReceive;\nbegin\n  Note(1, RD);\n  RD := Rewrite(RD);\nend;\n"
               "procedure OnReceive2;\nbegin\n  Note(2, RD2);\n  RD2 := Rewrite(RD2);\nend;\n";
    };
    switch (C.plugin) {
        case Plugin::None: return {};
        case Plugin::Immediate:
            return note + "procedure OnReceive;\nbegin\n  Note(1, RD);\nend;\n"
                          "procedure OnReceive2;\nbegin\n  Note(2, RD2);\nend;\n";
        case Plugin::NBSleep: return hold_head + "  NBSleep(1500);\n" + hold_tail + both;
        case Plugin::Box: return hold_head + "  ShowMessage('look');\n" + hold_tail + both;
        case Plugin::FailingBox: return hold_head + "  Z := 0;\n  Z := 1 div Z;\n" + hold_tail + both;
        case Plugin::RecvInEvent:
            return hold_head + "  Recv(3000000, 1500, S);\n  SetV('GOT', S);\n" + hold_tail + both;
        case Plugin::RecvBytesInEvent:
            // As fast as the bytes come: those there already without a turn
            // of the loop, then a wait for the next.
            return "var G: string; T: Cardinal;\n" + hold_head +
                   "  T := GetTickCount;\n  while GetTickCount - T < 1500 do begin\n"
                   "    if not Recv(1, 0, S) then Recv(1, 20, S);\n    G := G + S;\n  end;\n  SetV('GOT', G);\n" +
                   hold_tail + both;
        case Plugin::RecvThenPurge: {
            // A reply read with Recv in the event of the port it reads waits
            // behind the event's chunk; PurgeRx then throws away only what
            // waits untaken. The event of the other slot only notes.
            const int slot = C.source == Source::Port2Serial ? 2 : RecvSlot(C);
            const std::string held = std::to_string(slot), other = slot == 1 ? "2" : "1";
            return hold_head +
                   "  Recv(1000, 150, S);\n  SetV('GOT', S);\n  SetV('PURGE', IntToStr(GetTickCount));\n"
                   "  PurgeRx;\n  SetV('PURGED', IntToStr(GetTickCount));\n  NBSleep(1300);\n" +
                   hold_tail + "procedure OnReceive" + (slot == 1 ? "" : "2") + ";\nbegin\n  Note(" + held +
                   ", RD" + (slot == 1 ? "" : "2") + ");\n  Hold(" + held + ");\nend;\nprocedure OnReceive" +
                   (slot == 1 ? "2" : "") + ";\nbegin\n  Note(" + other + ", RD" + (slot == 1 ? "2" : "") +
                   ");\nend;\n";
        }
        case Plugin::RewriteSame: return rewrite(false);
        case Plugin::RewriteLonger: return rewrite(true);
        case Plugin::EventLines:
            // The line names the chunk by its first letters: it must stand
            // under the name of the peer that sent them.
            return note + settle +
                   "procedure OnReceive;\nbegin\n  Note(1, RD);\n  AddMsg('event ' + Copy(RD, 1, 40));\nend;\n"
                   "procedure OnReceive2;\nbegin\n  Note(2, RD2);\n  AddMsg('event ' + Copy(RD2, 1, 40));\nend;\n";
        case Plugin::SlowSend:
            return hold_head + "  Send(StringOfChar('x', " + send_size + "));\n" + hold_tail + both;
        case Plugin::RecvLoopOnLoad:
            return "procedure OnLoad;\nvar S, G: string; T: Cardinal;\nbegin\n" + loop + "end;\n";
        case Plugin::RecvLoopOnSend:
            return "var Done: Boolean;\nprocedure OnSend;\nvar S, G: string; T: Cardinal;\nbegin\n  TD := '';\n"
                   "  if Done then Exit;\n  Done := True;\n" + loop + "end;\n";
        case Plugin::OtherPortEvent: {
            // Main-slot sources get an event on Port2 only, Port2 sources one
            // on the main port only.
            const bool other_is_main = C.source == Source::Port2Serial;
            return hold_head + "  NBSleep(1500);\n" + hold_tail +
                   (other_is_main ? "procedure OnReceive;\nbegin\n  Note(1, RD);\n  Hold(1);\nend;\n"
                                  : "procedure OnReceive2;\nbegin\n  Note(2, RD2);\n  Hold(2);\nend;\n");
        }
    }
    return {};
}

// Whether the plug-in declares the receive event of a slot (1 main, 2 Port2).
bool Declares(const Cell& C, int Slot) {
    switch (C.plugin) {
        case Plugin::Immediate:
        case Plugin::NBSleep:
        case Plugin::Box:
        case Plugin::FailingBox:
        case Plugin::RecvInEvent:
        case Plugin::RecvBytesInEvent:
        case Plugin::RecvThenPurge:
        case Plugin::RewriteSame:
        case Plugin::RewriteLonger:
        case Plugin::EventLines:
        case Plugin::SlowSend: return true;
        case Plugin::OtherPortEvent: return (Slot == 1) == (C.source == Source::Port2Serial);
        default: return false;
    }
}

// Whether the plug-in's action is a wait during which the user acts (a Send
// to the Ethernet port is over at once).
bool Waits(const Cell& C) {
    if (C.plugin == Plugin::None || EventsReturnAtOnce(C.plugin)) return false;
    return !(C.plugin == Plugin::SlowSend && Ethernet(C.source));
}

// ---- One run

// Where received data went, in the order it went there: the list (as a
// snapshot of its lines) or an output file; From and To are the read times
// (ms of the day) between which it was the destination.
struct Segment {
    bool list = false;
    std::string file;   // the output file it was (empty: the list)
    std::string bytes;  // a file's bytes
    bool captured = false;  // bytes taken while the file was still open
    bool joins = false;     // continues the one before it: nothing was lost between
    bool text = false;      // a file written as text
    // A file written in two turns (output switched on again into it): the
    // segment of its first turn, in the second turn's; that of its second,
    // in the first's (-1: none). The records of each turn are placed as the
    // program placed them: a text line by its stamp, a byte of a binary
    // file by where it stands.
    int first_turn = -1, second_turn = -1;
    long from = kNoStamp, to = kForever;
    struct Line {
        // 0 main port, 1 Port2; -1 a peer's name, -2 a plug-in's line about
        // its event's chunk, -3 any other message or error line
        int dir;
        long time;
        terminal::TDataFormat format;
        std::string bytes;  // data: its bytes; a message: its text
    };
    std::vector<Line> lines;
};

// A window of write times (ms of the day) in which an action loses data by
// design, and what loses it there; Stream -1: every stream's.
struct Loss {
    long lo, hi;
    bool list;    // the list and the output files lose it
    bool events;  // the receive events lose it
    std::string why;
    int stream = -1;
};

// How long the test's threads waited for a processor: the machine then kept
// them from running, not the program. Sampled on the test's ticks from the
// system's scheduling counters of every thread of the process; the main
// thread is the one that makes it.
class Stillness {
public:
    Stillness() : main_(static_cast<int>(::syscall(SYS_gettid))) {}
    void Sample() {
        const long now = NowMsOfDay();
        long main = 0, most = 0;
        DIR* dir = ::opendir("/proc/self/task");
        if (!dir) return;
        while (const dirent* e = ::readdir(dir)) {
            const int tid = std::atoi(e->d_name);
            if (tid <= 0) continue;
            std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
            long long ran = 0, waited = -1;
            if (!(stat >> ran >> waited) || waited < 0) continue;
            // A thread seen for the first time counts from now.
            const auto [it, fresh] = seen_.try_emplace(tid, waited);
            const long ms = static_cast<long>((waited - it->second) / 1000000);
            it->second = waited;
            if (fresh) continue;
            if (tid == main_) main = ms;
            most = std::max(most, ms);
        }
        ::closedir(dir);
        if (last_ != kNoStamp) looks_.push_back({last_, now, main, most});
        last_ = now;
    }
    // The ms that the main thread (Main) or, look by look, the thread that
    // waited most waited for a processor in the looks that overlap From to
    // To.
    long Waited(long From, long To, bool Main) const {
        long sum = 0;
        for (const Look& l : looks_)
            if (Minus(l.to, From) > 0 && Minus(To, l.from) > 0) sum += Main ? l.main : l.most;
        return sum;
    }
    long Total(bool Main) const {
        long sum = 0;
        for (const Look& l : looks_) sum += Main ? l.main : l.most;
        return sum;
    }

private:
    struct Look {
        long from, to, main, most;
    };
    int main_;
    std::map<int, long long> seen_;
    std::vector<Look> looks_;
    long last_ = kNoStamp;
};

class Run {
public:
    explicit Run(const Cell& C) : c_(C) {}
    Result Go();

private:
    using Window = test_support::MainWindow;

    bool SetUp();
    bool SetUpSerial();
    bool SetUpEthernet();
    void StartFloods();
    void StopFloods();
    bool LoadPlugin();
    void Tick();
    void Act(int Step);
    bool InWait() const;
    bool PluginDone() const;
    // A Recv loop whose port the user closes meanwhile: its next Recv fails
    // ("Port is not connected"), which ends its event with the error's box;
    // a load event that fails so leaves no plug-in loaded.
    bool RecvLosesItsPort() const;
    void Snapshot();
    void Capture(const std::string& File);
    void OpenOutput(const std::string& File);
    void SwitchOutputOn(const std::string& File);
    void SwitchOutputOff();
    void CloseWindow();
    void CollectEvents();
    void Verify(Result& R);
    void VerifyLines(const Segment& S);
    void VerifyGraph(const Segment& S);
    // Checks a receive event's records of a stream; returns the records
    // missing that no loss explains.
    long VerifyEvents(int Stream, std::uint32_t Complete, long LastWritten);
    // What a plug-in's event rewrote shows as it left it, and nothing else.
    void VerifyRewritten(int Stream, const Decoder& D);
    // Places the records of a binary file written in two turns: each stream's
    // bytes of the second turn follow its bytes of the first in the file.
    void FeedTurns(int Stream, std::size_t First, Decoder& D, std::size_t& Resume) const;
    void Fail(const std::string& Why) { failures_.push_back(Why); }
    // A check that cannot decide: the machine stood still past what it
    // allows.
    void Void(const std::string& Why) { voids_.push_back(Why); }
    // Fails with Why, unless the threads of the test waited for a processor
    // from From to To (ms of the day) at least Excess ms, which is then what
    // kept the check from holding: the cell is void.
    void FailUnlessStill(const std::string& Why, long From, long To, long Excess, bool Main = true) {
        const long waited = stillness_.Waited(From, To, Main);
        if (Excess > 0 && waited >= Excess)
            Void(Why + " (the " + (Main ? "window's thread" : "test's threads") + " waited " +
                 std::to_string(waited) + " ms for a processor meanwhile)");
        else
            Fail(Why);
    }
    void Lossy(long Lo, long Hi, bool List, bool Events, const std::string& Why) {
        losses_.push_back({Lo, Hi, List, Events, Why});
    }
    // The ports' reads, as the window got them: each port's (serial: its
    // slot 0 or 1; Ethernet: 100 + the client's index) bytes, and the times
    // (ms of the day, by the clock that stamps them) just before the window
    // took them and just after: it stamps them in between.
    struct Read {
        long at, after;
        std::string bytes;
    };
    void NoteRead(int Key, const void* Data, std::size_t Size, const std::function<void()>& Take) {
        const long at = Now();
        Take();
        reads_[Key].push_back({at, Now(), std::string(static_cast<const char*>(Data), Size)});
    }
    void WatchReads();
    int ReadKey(int Stream) const;
    // The first read of a port after At (kNoStamp: none), and the last before
    // At (kNoStamp: none).
    long ReadAfter(int Key, long At) const;
    long ReadBefore(int Key, long At) const;
    // The earliest write time of what a port can read from At on: whatever
    // was written after its last read before At (a port that stood still
    // reads late what was written long before). The earliest of the
    // streams' ports that read at all.
    long ReadFloor(long At) const;
    // The start of what an action at Now loses: what waited for a running
    // event was read since the wait began, and what waited for a slow pipe
    // since the pipe began to hold it back (a Clear drops it as it empties
    // a regular file: a pipe has nothing to empty); in write times, from the
    // ports' last reads before then.
    long LossFrom(long Now) const {
        long from = hold_lo_ != kNoStamp ? std::min(hold_lo_, Now) : Now;
        if (const long piped = PipeHeldSince(); piped != kNoStamp && Minus(piped, from) < 0) from = piped;
        return std::min(from - 150, ReadFloor(from));
    }
    // The output file that is on: its segment's place plus one (0: none).
    std::size_t OutputOn() const {
        for (std::size_t i = segments_.size(); i > 0; --i)
            if (!segments_[i - 1].list && segments_[i - 1].to == kForever) return i;
        return 0;
    }
    // Output coming on clears only the list, which holds what was read
    // since output was last switched off, wait or no wait: what was read
    // before belongs to that file, which keeps it; what a port read after,
    // however long it had waited to be read, is lost.
    long OpenedLossFrom(long Now) const {
        return last_off_ == kNoStamp ? LossFrom(Now) : std::min(last_off_ - 150, ReadFloor(last_off_));
    }
    // A time of the plug-in's clock (GetTickCount) as ms of the day.
    long PluginTime(const std::string& Ticks) const;
    std::vector<TReceiveSource> StreamsToWatch() const;
    std::size_t QueuedBytes(const TReceiveSource& S) const;
    std::string PluginVar(const std::string& Name) const { return w_->main->GetPluginVar(Name); }
    std::uint64_t SerialRead(bool Main) const {
        return (Main ? w_->main->cp1 : w_->main->cp2)->DeviceBytesRead();
    }
    long Now() const { return MsOfDay(m_->CurrentTime()); }
    // The slot (0 main, 1 Port2) and the direction mark of a stream's data;
    // the peers a name line may name for it.
    int SlotOf(int Stream) const;
    bool NameFits(const std::string& Name, int Stream) const;
    int NamedStream(const std::string& Line) const;
    Device* DeviceOf(int Stream) const;
    int GotStream() const;
    // The streams the cell's devices send.
    std::vector<int> Streams() const;
    // Whether a port of the slot read anything from From to To.
    bool SlotRead(int Slot, long From, long To) const;
    ports::TfrmForPEth* ForeignFrame() const;

    Cell c_;
    std::unique_ptr<Window> w_;
    TMain* m_ = nullptr;
    std::unique_ptr<PtyDevice> main_dev_, second_dev_;
    std::vector<std::unique_ptr<SocketDevice>> peers_;
    test_support::Fd listener_;
    std::uint16_t server_port_ = 0;
    std::string plugin_file_;
    std::vector<std::string> failures_, voids_;
    Stillness stillness_;
    std::map<int, std::vector<Read>> reads_;
    ports::TForeignPort* watched_port_ = nullptr;
    bool loaded_ = false;  // the plug-in has loaded (its ONLOAD is over)
    // The plug-in's clock and the time of day at the start, read together.
    std::uint32_t tick0_ = 0;
    long ms0_ = 0;
    // The server's client 2 has gone (its port said so), and the index the
    // newcomer got (0: none yet).
    bool client2_gone_ = false;
    int newcomer_index_ = 0;
    // The window's longest time without a turn of the test's timer: when it
    // began and ended (ms of the day).
    long max_gap_from_ = kNoStamp, max_gap_to_ = kNoStamp;
    std::vector<Segment> segments_;
    std::vector<Loss> losses_;
    bool to_file_ = false;
    int outputs_ = 0;

    // The script of the cell.
    enum class Stage { Flooding, Effect, Acting, Settle, Done } stage_ = Stage::Flooding;
    Clock::time_point start_, effect_at_, acted_at_;
    int step_ = 0;  // the user's steps taken
    Clock::time_point last_tick_;
    std::chrono::milliseconds max_gap_{0};
    std::size_t max_queued_[kStreamsMax + 1] = {};
    std::size_t bound_ = 0;
    long close_ms_ = -1;
    long close_from_ = kNoStamp;  // when the close began (ms of the day)
    bool closed_ = false;
    bool unloaded_ = false;
    bool box_open_ = false;
    bool late_ = false;  // a step came after the plug-in's wait
    long lost_told_ = 0;  // datagrams the port said it lost
    // The plug-in's wait (read times, ms of the day), and the slot whose
    // receive event waited (1 main, 2 Port2; 0 none).
    long hold_lo_ = kNoStamp, hold_hi_ = kNoStamp;
    long load_lo_ = kNoStamp;  // the plug-in's load began (less 150 ms)
    long last_off_ = kNoStamp;  // when output was last switched off
    std::vector<long> cleared_;  // when the list was cleared (a Clear, output coming on)
    int held_slot_ = 0;
    long run_start_ = 0;
    std::uint64_t counted_at_effect_[2] = {0, 0}, counted_at_action_[2] = {0, 0};
    bool SlotFloods(int Slot) const;
    // Whether the main port's device bursts as its Recv in the event begins,
    // and what of the burst was not written when the wait ended.
    bool RecvBursts() const {
        return c_.view == View::Plain && c_.user == User::Nothing && Serial(c_.source) &&
               c_.plugin == Plugin::RecvInEvent && held_slot_ == 1;
    }
    std::size_t burst_left_ = 0;
    bool burst_begun_ = false;
    std::size_t taken_waiting_ = 0;
    std::size_t messages_at_start_ = 0;
    // What the receive events got, per slot, and what Recv returned.
    std::vector<std::string> rd_[2];
    std::string got_;
    bool events_collected_ = false;
    bool told_chunk_ = false;
    // When the plug-in's PurgeRx began and ended (its clock; empty: never).
    std::string purge_, purged_;
    // The server's newcomer.
    int newcomer_ = -1;
    std::uint64_t read_at_close_[2] = {0, 0};
    std::uint64_t read_at_full_ = 0, read_while_full_ = 0;
    // Whether a slot's stream (0 main, 1 Port2) waits while the plug-in's
    // event waits: its own event's slot, and any slot whose event the
    // plug-in declares (it waits for that event).
    bool HeldInWait(int Slot) const {
        return held_slot_ != 0 && (Slot == held_slot_ - 1 || Declares(c_, Slot + 1));
    }
    // The slow pipe (View::Pipe): its reader, and the spans of read times
    // (ms of the day) in which the program held back what it had read for
    // the pipe, because the pipe had not taken what it was given.
    std::string pipe_path_;
    std::unique_ptr<test_support::FifoReader> pipe_;
    std::vector<std::pair<long, long>> pipe_spans_;
    long effect_ms_ = kNoStamp, action_ms_ = kNoStamp;
    // The most that was handed on to the pipe's output (counted on its port)
    // and the pipe's reader had not got: what the output kept for the pipe
    // (until the user's first action: a Clear sets the counts to 0).
    long pipe_unread_max_ = 0;
    // Whether the output onto the pipe (on, or switched off and still
    // taking what was read for it) holds back what goes to it now.
    bool PipeHolds() const;
    // Whether the pipe held back in some moment from Lo to Hi.
    bool PipeHeldBetween(long Lo, long Hi) const;
    // The span the pipe holds in now: when it began (kNoStamp: it holds
    // nothing now).
    long PipeHeldSince() const;
};

bool Run::PipeHolds() const {
    if (!pipe_) return false;
    if ((m_->OutputOn() != nullptr) && m_->OutputOn()->Holds(pipe_path_) && m_->OutputOn()->Holding()) return true;
    const terminal::TListOutput* draining = m_->RxRouter.WaitingFile(pipe_path_);
    return draining && draining->Holding();
}

bool Run::PipeHeldBetween(long Lo, long Hi) const {
    for (const auto& [from, to] : pipe_spans_)
        if (Minus(to, Lo) >= 0 && Minus(Hi, from) >= 0) return true;
    return false;
}

long Run::PipeHeldSince() const {
    if (pipe_spans_.empty() || Minus(Now(), pipe_spans_.back().second) > kPipeSpanJoin) return kNoStamp;
    return pipe_spans_.back().first;
}

void Run::WatchReads() {
    // Each read reaches the window through its port's handler: noted there,
    // before the window stamps it.
    if (Serial(c_.source)) {
        for (int slot : {0, 1}) {
            ports::TCommPortDriver* port = slot == 0 ? m_->cp1 : m_->cp2;
            ports::TReceiveDataEvent inner = port->OnReceiveData;
            port->OnReceiveData = [this, slot, inner](vcl::TComponent* Sender, const void* Data, std::uint32_t Size) {
                NoteRead(slot, Data, Size, [&] {
                    if (inner) inner(Sender, Data, Size);
                });
            };
        }
        return;
    }
    if (!m_->ForeignPort || m_->ForeignPort.get() == watched_port_) return;
    watched_port_ = m_->ForeignPort.get();
    ports::TForeignPortEvent inner = watched_port_->OnEvent;
    watched_port_->OnEvent = [this, inner](int Code, const std::string& Text, std::string& Reply) {
        if (Code == ports::fpeInfo && Text.find("Disconnect CliIdx=2 ") != std::string::npos) client2_gone_ = true;
        if (Code == ports::fpeInfo && newcomer_ >= 0 && newcomer_index_ == 0) {
            const std::size_t at = Text.find("(Idx=");
            if (at != std::string::npos) newcomer_index_ = std::atoi(Text.c_str() + at + 5);
        }
        const auto take = [&] {
            if (inner) inner(Code, Text, Reply);
        };
        if (Code == ports::fpeData && !Text.empty())
            NoteRead(100 + static_cast<std::uint8_t>(Text[0]), Text.data() + 1, Text.size() - 1, take);
        else
            take();
    };
}

int Run::ReadKey(int Stream) const {
    if (Serial(c_.source)) return SlotOf(Stream);
    if (c_.source != Source::TcpServer) return 101;
    if (Stream == kStreamsMax - 1) return 100 + (newcomer_index_ > 0 ? newcomer_index_ : 2);
    return 101 + Stream;
}

long Run::ReadAfter(int Key, long At) const {
    const auto it = reads_.find(Key);
    if (it == reads_.end()) return kNoStamp;
    const auto next = std::upper_bound(it->second.begin(), it->second.end(), At,
                                       [](long a, const Read& b) { return Minus(a, b.at) < 0; });
    return next == it->second.end() ? kNoStamp : next->at;
}

long Run::ReadBefore(int Key, long At) const {
    const auto it = reads_.find(Key);
    if (it == reads_.end()) return kNoStamp;
    const auto next = std::lower_bound(it->second.begin(), it->second.end(), At,
                                       [](const Read& a, long b) { return Minus(a.at, b) < 0; });
    return next == it->second.begin() ? kNoStamp : std::prev(next)->at;
}

long Run::ReadFloor(long At) const {
    long floor = At - 150;
    for (int s : Streams()) {
        const int key = ReadKey(s);
        if (!reads_.count(key)) continue;
        const long before = ReadBefore(key, At);
        // A port that had read nothing yet reads what was written from the
        // start.
        const long from = before == kNoStamp ? run_start_ : before;
        if (Minus(from - 20, floor) < 0) floor = from - 20;
    }
    return floor;
}

long Run::PluginTime(const std::string& Ticks) const {
    const std::uint32_t t = static_cast<std::uint32_t>(std::strtoll(Ticks.c_str(), nullptr, 10));
    return (ms0_ + static_cast<long>(t - tick0_)) % 86400000;
}

std::vector<TReceiveSource> Run::StreamsToWatch() const {
    if (Serial(c_.source)) return {{.IsMain = true}, {.IsMain = false}};
    return {{.IsMain = true, .Client = 1}, {.IsMain = false, .Client = 2}, {.IsMain = false, .Client = 3},
            {.IsMain = false, .Client = 4}};
}

std::size_t Run::QueuedBytes(const TReceiveSource& S) const {
    // Counted from the pieces themselves, not from the queue's own sum: each
    // with its upkeep and its name line.
    std::size_t cost = 0;
    m_->RxQueue.Any([&](const terminal::TReceivedPiece& p) {
        if (p.Source == S) cost += p.Bytes.size() + p.NameLine.size() + kPieceUpkeep;
        return false;
    });
    return cost;
}

int Run::SlotOf(int Stream) const {
    switch (c_.source) {
        case Source::MainSerial: return 0;
        case Source::Port2Serial: return 1;
        case Source::BothSerial: return Stream == 0 ? 0 : 1;
        case Source::Udp:
        case Source::TcpClient: return 0;
        case Source::TcpServer: return Stream == 0 ? 0 : 1;
    }
    return 0;
}

Device* Run::DeviceOf(int Stream) const {
    if (Serial(c_.source)) return Stream == 0 ? static_cast<Device*>(main_dev_.get()) : second_dev_.get();
    for (const auto& p : peers_)
        if (p->Stream() == Stream) return p.get();
    return nullptr;
}

// The stream a Recv reads: the main port, or the Ethernet port's current
// client (3 on the server); -1: several (the UDP senders share the port).
int Run::GotStream() const {
    switch (c_.source) {
        case Source::TcpServer: return 2;
        case Source::Udp: return -1;
        default: return 0;
    }
}

bool Run::NameFits(const std::string& Name, int Stream) const {
    if (c_.source == Source::TcpServer) {
        const std::size_t at = Name.find("CliIdx=");
        if (at == std::string::npos) return false;
        const int index = std::atoi(Name.c_str() + at + 7);
        // A newcomer takes a number another client left.
        if (Stream == kStreamsMax - 1) return index != 1 && index != 3 && index > 0;
        return index == Stream + 1;
    }
    return NamedStream(Name) == Stream;
}

int Run::NamedStream(const std::string& Line) const {
    const std::size_t at = Line.find("UDP data from ");
    if (at == std::string::npos) return -1;
    const std::size_t colon = Line.find(':', at + 14);
    if (colon == std::string::npos) return -1;
    const int port = std::atoi(Line.c_str() + colon + 1);
    for (const auto& p : peers_)
        if (p->LocalPort() == port) return p->Stream();
    return -1;
}

bool Run::SetUpSerial() {
    main_dev_ = std::make_unique<PtyDevice>(5);
    second_dev_ = std::make_unique<PtyDevice>(6);
    vcl::SaveStrToFile("[Main]\r\nDataFormat=1\r\n[Config11]\r\nPort=5\r\nPort2=6\r\nSpeed=115200\r\n", w_->ini);
    m_ = w_->Start();
    // Lowered before the ports open: a wait of the plug-in then drives a
    // stream past it.
    m_->cp1->SetInBufSize(kSerialInBuf);
    m_->cp2->SetInBufSize(kSerialInBuf);
    bound_ = kSerialInBuf;
    m_->FormActivate(m_);
    return m_->cp1->Connected() && m_->cp2->Connected() && m_->cp1->InBufSize() == kSerialInBuf;
}

bool Run::SetUpEthernet() {
    m_ = w_->Start();
    m_->FormActivate(m_);
    bound_ = kClientBound;
    const int ethernet = m_->ComNcb->Items().IndexOfObject(ports::EthernetPortId);
    if (ethernet <= 0) return false;
    m_->ComNcb->SelectByUser(ethernet);
    if (!m_->ForeignPort) return false;
    auto* frame = static_cast<ports::TfrmForPEth*>(m_->ForeignPort->Frame());
    const int role = c_.source == Source::Udp ? ports::erUDP
                     : c_.source == Source::TcpClient ? ports::erTCPClient
                                                      : ports::erTCPServer;
    frame->cbbRole->SelectByUser(role);
    if (c_.source == Source::Udp) {
        frame->edLocalPort->SetText("0");
        frame->edDstIp->SetText("0.0.0.0");
        m_->sbPort->Click();
        if (!m_->ForeignPort->Active()) return false;
        const auto* port = static_cast<ports::TEthernetPort*>(m_->ForeignPort.get());
        const std::uint16_t listen = test_support::SocketPort(port->Transport()->Socket());
        for (int i = 0; i < 2; ++i) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a = test_support::LoopbackAddress(0);
            ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            peers_.push_back(std::make_unique<SocketDevice>(fd, true, listen));
        }
        return true;
    }
    if (c_.source == Source::TcpClient) {
        listener_ = test_support::Fd(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a = test_support::LoopbackAddress(0);
        ::bind(listener_.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_.fd, 4);
        ::fcntl(listener_.fd, F_SETFL, O_NONBLOCK);
        frame->edDstIp->SetText("127.0.0.1");
        frame->edDstPort->SetText(std::to_string(test_support::BoundPort(listener_.fd)));
        m_->sbPort->Click();
        int peer = -1;
        if (!test_support::PumpUntil([&] { return (peer = ::accept(listener_.fd, nullptr, nullptr)) >= 0; }, 10s))
            return false;
        peers_.push_back(std::make_unique<SocketDevice>(peer, false, 0));
        return true;
    }
    server_port_ = test_support::FreePort(SOCK_STREAM);
    frame->edLocalPort->SetText(std::to_string(server_port_));
    m_->sbPort->Click();
    if (!m_->ForeignPort->Active()) return false;
    // Three clients, numbered 1 to 3 in the order they come.
    for (int i = 1; i <= 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = test_support::LoopbackAddress(server_port_);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        peers_.push_back(std::make_unique<SocketDevice>(fd, false, 0));
        const std::string idx = "(Idx=" + std::to_string(i) + ")";
        if (!test_support::PumpUntil(
                [&] {
                    const auto& lines = m_->RxPanel->Lines();
                    for (int l = 0; l < lines.LineCount(); ++l)
                        if (lines.LineData(l).find(idx) != std::string::npos) return true;
                    return false;
                },
                10s))
            return false;
    }
    // The current client is another than client 1.
    frame->edCurCliIdx->SetText("3");
    return m_->ForeignPort->CurrentClient() == 3;
}

bool Run::SetUp() {
    w_ = std::make_unique<Window>(
        test_support::MainWindowOptions{.Start = false, .Activate = false, .Graph = c_.view == View::Graph});
    const bool ok = Serial(c_.source) ? SetUpSerial() : SetUpEthernet();
    if (!ok) return false;
    WatchReads();
    m_->RVPnlTime = terminal::tpMilliseconds;
    m_->mTimecaninterruptdatarow->SetChecked(true);
    m_->m1000msClick(m_->PollingEntry(1));  // 5 ms, and a setting the close must save
    m_->DataFormat = c_.view == View::Words ? terminal::dfHW : terminal::dfHEX;
    m_->ASCII1Click(nullptr);
    if (c_.view == View::Graph) {
        w_->graph->Show();
        if (!w_->graph->Visible()) Fail("the graph window did not open");
        // Its points then stand at the times their bytes were read.
        if (!w_->graph->cbXATime->Checked()) Fail("the graph's axis is not time");
    }
    // Boxes the plug-in's event opens stay up for a while, the loop going on.
    vcl::Application->MessageHook = [this](const vcl::TMessageRequest& r) {
        w_->Messages.push_back(r.Text);
        box_open_ = true;
        const auto until = Clock::now() + 1500ms;
        while (Clock::now() < until && !m_->RxRouter.Closing()) {
            win::ProcessMessages();
            win::Sleep(1);
        }
        box_open_ = false;
        return vcl::IDOK;
    };
    to_file_ = c_.user == User::Close || c_.user == User::OutputOffOn || c_.user == User::OutputTwice ||
               c_.user == User::ClearThenOff || c_.user == User::OutputResumed || c_.view == View::TextOutput ||
               c_.view == View::Pipe;
    if (c_.view == View::Pipe) {
        // The first output is a FIFO whose reader takes from it steadily
        // from before output comes on until the cell ends.
        pipe_path_ = w_->dir.File("out1.bin");
        if (::mkfifo(pipe_path_.c_str(), 0600) != 0) return false;
        pipe_ = std::make_unique<test_support::FifoReader>(pipe_path_);
        if (!pipe_->Open() || !pipe_->SetCapacity(Serial(c_.source) ? kSerialPipeCapacity : kEthernetPipeCapacity))
            return false;
        if (Serial(c_.source))
            pipe_->TakeEvery(kSerialPipeTake, kSerialPipePace);
        else
            pipe_->TakeEvery(kEthernetPipeTake, kEthernetPipePace);
    }
    if (to_file_) OpenOutput(w_->dir.File("out1.bin"));
    return true;
}

void Run::OpenOutput(const std::string& File) {
    Segment s;
    s.file = File;
    s.text = c_.view == View::TextOutput;
    s.from = segments_.empty() ? kNoStamp : Now();
    segments_.push_back(std::move(s));
    // (Output coming on clears the list.)
    cleared_.push_back(NowMsOfDay());
    ++outputs_;
    const int filter = c_.view == View::TextOutput ? 1 : 2;  // text, or the bytes as they came
    vcl::Application->DialogHook = [File, filter](vcl::TCommonDialog& d) {
        auto* save = dynamic_cast<vcl::TOpenDialog*>(&d);
        if (!save) return false;
        save->FileName = File;
        save->FilterIndex = filter;
        return true;
    };
    m_->Outputtofile1Click(nullptr);
    vcl::Application->DialogHook = nullptr;
    if (!(m_->OutputOn() != nullptr)) Fail("output to " + File + " did not open");
}

void Run::SwitchOutputOn(const std::string& File) {
    // Opening output clears the list: what it holds is kept first.
    Snapshot();
    Lossy(OpenedLossFrom(Now()), Now() + 20, true, false, "output opened");
    OpenOutput(File);
}

void Run::SwitchOutputOff() {
    // The file switched off takes what was read until now; the list what is
    // read from now on.
    const long now = Now();
    last_off_ = now;
    for (Segment& s : segments_)
        if (!s.list && s.to == kForever) s.to = now;
    m_->Outputtofile1Click(nullptr);
    Segment list;
    list.list = true;
    list.joins = true;
    list.from = now;
    segments_.push_back(std::move(list));
}

void Run::Capture(const std::string& File) {
    // What the file holds now, before a Clear empties it.
    for (Segment& s : segments_)
        if (s.file == File && !s.captured) {
            s.bytes = test_support::Slurp(File);
            s.captured = true;
            s.to = Now();
        }
    Segment again;
    again.file = File;
    again.text = c_.view == View::TextOutput;
    again.from = Now();
    segments_.push_back(std::move(again));
}

void Run::StartFloods() {
    // 3 records of 17 bytes every 5 ms: about 10 KB/s a stream, in chunks
    // of an odd length (in a word format a low byte then waits for the next
    // chunk of its stream).
    const std::size_t fast = 1 << 20, slow = c_.plugin == Plugin::SlowSend ? 200 : fast;
    const int per_tick = 3;
    switch (c_.source) {
        case Source::MainSerial:
            main_dev_->Start(0, per_tick, slow);
            second_dev_->Start(-1, 0, fast);
            if (c_.plugin == Plugin::OtherPortEvent) second_dev_->SendNow("!");
            break;
        case Source::Port2Serial:
            main_dev_->Start(-1, 0, slow);
            second_dev_->Start(1, per_tick, fast);
            if (c_.plugin == Plugin::OtherPortEvent) main_dev_->SendNow("!");
            break;
        case Source::BothSerial:
            main_dev_->Start(0, per_tick, slow);
            second_dev_->Start(1, per_tick, fast);
            break;
        default:
            // (Datagrams two at a time; in a word format one at a time, so
            // that a sender's datagrams, 17 bytes each, leave a word begun
            // whenever the other sender's come next.)
            for (std::size_t i = 0; i < peers_.size(); ++i)
                peers_[i]->Start(static_cast<int>(i),
                                 c_.source != Source::Udp ? per_tick : c_.view == View::Words ? 1 : 2, slow);
            break;
    }
}

void Run::StopFloods() {
    if (main_dev_) main_dev_->Stop();
    if (second_dev_) second_dev_->Stop();
    for (auto& p : peers_) p->Stop();
}

bool Run::LoadPlugin() {
    const std::string source = PluginSource(c_);
    if (source.empty()) return true;
    plugin_file_ = w_->dir.File("cell.pas");
    vcl::SaveStrToFile(source, plugin_file_);
    try {
        m_->LoadPlugin(plugin_file_);
    } catch (const std::exception& e) {
        Fail(std::string("the plug-in did not load: ") + e.what());
        return false;
    }
    return true;
}

bool Run::SlotFloods(int Slot) const {
    switch (c_.source) {
        case Source::MainSerial:
        case Source::Udp:
        case Source::TcpClient: return Slot == terminal::PortSlotMain;
        case Source::Port2Serial: return Slot == terminal::PortSlot2;
        default: return true;
    }
}

bool Run::InWait() const {
    if (!Waits(c_)) return false;
    // The failing event's wait is its error's box.
    if (c_.plugin == Plugin::FailingBox) return box_open_;
    return PluginVar("WAIT") == "1";
}

bool Run::PluginDone() const {
    // An event that failed (on purpose, or on a port the user closed) ends
    // with its box, its wait not ended.
    return !m_->PluginBusy && (c_.plugin == Plugin::None || c_.plugin == Plugin::Immediate ||
                               m_->GetPluginVar("WAIT") != "1" || !m_->Script || closed_ || unloaded_ ||
                               w_->Messages.size() > messages_at_start_);
}

bool Run::RecvLosesItsPort() const {
    return (c_.plugin == Plugin::RecvLoopOnLoad || c_.plugin == Plugin::RecvLoopOnSend ||
            c_.plugin == Plugin::RecvBytesInEvent) &&
           c_.user == User::PortButton &&
           c_.source != Source::Port2Serial;
}

void Run::Snapshot() {
    Segment s;
    s.list = true;
    const terminal::TLineStore& lines = m_->RxPanel->Lines();
    for (int i = 0; i < lines.LineCount(); ++i) {
        const terminal::TLineRecord r = lines.LineRecord(i);
        const std::string text = lines.LineData(i);
        if (r.Format == terminal::dfERR) {
            // "Error: Receive: N datagrams lost, ...", folded into "... [k]"
            // when it came k times.
            const std::size_t at = text.find("Error: Receive: ");
            if (at != std::string::npos && text.find(" lost") != std::string::npos) {
                long n = std::atol(text.c_str() + at + 16);
                const std::size_t open = text.rfind(" [");
                if (open != std::string::npos) n *= std::max(1L, std::atol(text.c_str() + open + 2));
                lost_told_ += n;
            }
            s.lines.push_back({-3, MsOfDay(r.Time), r.Format, text});
            continue;
        }
        if (r.Format == terminal::dfMSG) {
            // A peer's name line; a plug-in's line about its event's chunk
            // ("event " and the chunk's first letters); any other line.
            if (text.find("RV data from CliIdx") != std::string::npos || text.find("UDP data from") != std::string::npos)
                s.lines.push_back({-1, MsOfDay(r.Time), r.Format, text});
            else if (text.rfind("event ", 0) == 0)
                s.lines.push_back({-2, MsOfDay(r.Time), r.Format, text.substr(6)});
            else
                s.lines.push_back({-3, MsOfDay(r.Time), r.Format, text});
            continue;
        }
        if (r.Dir > 1) continue;
        std::string bytes;
        try {
            bytes = terminal::DecodeLineBytes(r.Format, text);
        } catch (const std::exception& e) {
            Fail("a line that reads back as no bytes: \"" + text.substr(0, 60) + "\"");
        }
        s.lines.push_back({r.Dir, MsOfDay(r.Time), r.Format, bytes});
    }
    // The list from the last Clear (or the start) until now.
    for (auto it = segments_.rbegin(); it != segments_.rend(); ++it)
        if (it->list && it->lines.empty() && it->to == kForever) {
            s.from = it->from;
            s.joins = it->joins;
            segments_.erase(std::next(it).base());
            break;
        }
    s.to = Now();
    if (c_.view == View::Graph) VerifyGraph(s);
    segments_.push_back(std::move(s));
}

void Run::VerifyGraph(const Segment& S) {
    // The graph holds a point for every byte the list shows since it was
    // last cleared, at the time that byte was read, as a point file saved
    // from it says.
    const std::string file = w_->dir.File("points.txt");
    chart::engine::TChartValueList x, y;
    try {
        w_->graph->SavePoints(file);
        graph::ReadPointFile(file, INT_MAX, x, y);
    } catch (const std::exception& e) {
        Fail(std::string("the graph's points could not be saved and read: ") + e.what());
        return;
    }
    std::vector<std::pair<long, int>> points, shown;
    for (int i = 0; i < x.Count(); ++i)
        points.emplace_back(MsOfDay(x.Values()[static_cast<std::size_t>(i)]),
                            static_cast<int>(std::lround(y.Values()[static_cast<std::size_t>(i)])));
    for (const Segment::Line& l : S.lines)
        if (l.dir >= 0)
            for (char ch : l.bytes) shown.emplace_back(l.time, static_cast<std::uint8_t>(ch));
    std::sort(points.begin(), points.end());
    std::sort(shown.begin(), shown.end());
    if (points == shown) return;
    std::size_t i = 0;
    while (i < points.size() && i < shown.size() && points[i] == shown[i]) ++i;
    Fail("the graph holds " + std::to_string(points.size()) + " points (" + std::to_string(w_->graph->PendingCount()) +
         " queued) for " + std::to_string(shown.size()) + " bytes shown; the first that differs: " +
         (i < points.size() ? std::to_string(points[i].second) + " at " + std::to_string(points[i].first) : "none") +
         " against " + (i < shown.size() ? std::to_string(shown[i].second) + " at " + std::to_string(shown[i].first) : "none"));
}

void Run::CollectEvents() {
    if (events_collected_ || !w_ || !m_) return;
    events_collected_ = true;
    for (int slot : {1, 2}) {
        const std::string prefix = "RD" + std::to_string(slot);
        const int n = std::atoi(PluginVar(prefix + "N").c_str());
        for (int i = 1; i <= n; ++i) rd_[slot - 1].push_back(PluginVar(prefix + "_" + std::to_string(i)));
    }
    got_ = PluginVar("GOT");
    purge_ = PluginVar("PURGE");
    purged_ = PluginVar("PURGED");
}

void Run::CloseWindow() {
    CollectEvents();
    Snapshot();
    stillness_.Sample();
    const auto at = Clock::now();
    close_from_ = NowMsOfDay();
    m_->Close();
    close_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - at).count();
    stillness_.Sample();
    closed_ = true;
    // What the serial ports had read when they closed: all of it is kept.
    if (Serial(c_.source))
        for (int s : {0, 1}) read_at_close_[s] = SerialRead(s == 0);
}

// The user's steps: the first 200 ms into the plug-in's wait, the next ones
// 300 ms apart.
void Run::Act(int Step) {
    const long now = Now();
    auto* frame = ForeignFrame();
    switch (c_.user) {
        case User::Nothing: break;
        case User::Clear: {
            // (Taken when the Clear comes, after the test's own snapshot.)
            Snapshot();
            // The Clear empties the output file too: what it held is kept
            // first (a pipe's reader has it already).
            if (const std::size_t on = OutputOn(); on && segments_[on - 1].file != pipe_path_)
                Capture(segments_[on - 1].file);
            const long at = Now();
            Lossy(LossFrom(at), at + 20, true, false, "the Clear");
            cleared_.push_back(NowMsOfDay());
            m_->ClearmClick(nullptr);
            Segment list;
            list.list = true;
            list.from = at;
            segments_.push_back(std::move(list));
            break;
        }
        case User::OutputOffOn:
            if (Step == 0) {
                SwitchOutputOff();
            } else {
                SwitchOutputOn(w_->dir.File("out2.bin"));
            }
            break;
        case User::OutputTwice:
            if (Step == 1) {
                SwitchOutputOn(w_->dir.File("out2.bin"));
            } else {
                SwitchOutputOff();
            }
            break;
        case User::OutputResumed:
            if (Step == 0) {
                SwitchOutputOff();
            } else {
                // Output goes on into the file switched off, which still
                // waits for what was read for it: it holds what was read
                // until then and what is read from now on; the list what
                // came between, and it is cleared, as whenever output comes on.
                const std::string file = segments_.front().file;
                SwitchOutputOn(file);
                segments_.back().first_turn = 0;
                segments_.front().second_turn = static_cast<int>(segments_.size()) - 1;
            }
            break;
        case User::ClearThenOff:
            if (Step == 0) {
                Snapshot();
                Capture(w_->dir.File("out1.bin"));
                Lossy(LossFrom(Now()), Now() + 20, true, false, "the Clear");
                cleared_.push_back(NowMsOfDay());
            m_->ClearmClick(nullptr);
            } else {
                SwitchOutputOff();
            }
            break;
        case User::LineSetting:
            if (Serial(c_.source)) {
                if (Step == 0)
                    m_->speedcb->SelectByUser(m_->speedcb->Items().IndexOf("57600"));
                else
                    m_->Parcb->SelectByUser(2);
            } else if (c_.source == Source::TcpServer) {
                frame->edCurCliIdx->SetText(Step == 0 ? "1" : "3");
            } else if (Step == 0) {
                frame->edDstPort->SetText("7");
            }
            break;
        case User::PortButton:
            if (Step == 0) Lossy(LossFrom(now), kForever, true, true, "the port closed");
            // A UDP port opened again listens on another local port (0: any),
            // where the senders do not send.
            if (Step == 1 && c_.source != Source::Udp) losses_.back().hi = now + 150;
            (c_.source == Source::Port2Serial ? m_->sbPort2 : m_->sbPort)->Click();
            break;
        case User::F10: {
            if (Step == 0) Lossy(LossFrom(now), kForever, true, true, "reception disabled");
            if (Step == 1) losses_.back().hi = now + 150;
            std::uint16_t key = vcl::VK_F10;
            m_->FormKeyDown(m_, key, {});
            if (Step == 0 && m_->ReceptionEnabled) Fail("F10 did not disable reception");
            break;
        }
        case User::Unload:
            // The events get nothing from now on.
            unloaded_ = m_->Script != nullptr;
            Lossy(LossFrom(now), kForever, false, true, "the plug-in unloaded");
            m_->mUnloadPluginClick(nullptr);
            break;
        case User::Close: {
            // What the ports had not read when they closed is the system's.
            Lossy(LossFrom(now), kForever, true, true, "the close");
            for (Segment& s : segments_)
                if (!s.list && s.to == kForever) s.to = now;
            CloseWindow();
            if (m_->Visible()) Fail("the window did not close");
            break;
        }
        case User::ClientsLeaveJoin: {
            if (c_.source != Source::TcpServer) break;
            // Client 2 leaves (what it sent is still read); then a newcomer
            // comes, given the index it left.
            if (Step == 0) {
                peers_[1]->Leave();
                break;
            }
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a = test_support::LoopbackAddress(server_port_);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                Fail("the newcomer could not connect");
                ::close(fd);
                break;
            }
            peers_.push_back(std::make_unique<SocketDevice>(fd, false, 0));
            newcomer_ = kStreamsMax - 1;
            peers_.back()->Start(newcomer_, 3, 1 << 20);
            break;
        }
    }
}

// How many steps the user takes, and whether each must land inside the wait.
int Steps(User U) {
    switch (U) {
        case User::OutputOffOn:
        case User::LineSetting:
        case User::PortButton:
        case User::F10:
        case User::ClearThenOff:
        case User::ClientsLeaveJoin:
        case User::OutputResumed: return 2;
        case User::OutputTwice: return 3;
        default: return 1;
    }
}
bool StepInWait(User U, int Step) {
    // Two actions in one wait: both inside it. Otherwise the first: the
    // second may come after a wait the first ended (a port closed under a
    // Send), and output comes on again once the wait is over, so that the
    // file switched off gets what was read for it and waited.
    return Step == 0 || U == User::OutputTwice || U == User::ClearThenOff || U == User::OutputResumed ||
           U == User::ClientsLeaveJoin;
}

void Run::Tick() {
    const auto now = Clock::now();
    stillness_.Sample();
    if (const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_tick_); gap > max_gap_) {
        max_gap_ = gap;
        max_gap_to_ = NowMsOfDay();
        max_gap_from_ = max_gap_to_ - static_cast<long>(gap.count());
    }
    last_tick_ = now;
    if (!closed_ && Ethernet(c_.source)) WatchReads();
    if (pipe_ && Serial(c_.source) && !closed_ && (step_ == 0 || c_.user == User::Nothing)) {
        // (The pipe's content first: a take meanwhile is then counted
        // twice, never missed.)
        const long in_pipe = pipe_->Queued();
        const long got = static_cast<long>(pipe_->Taken().size()) + in_pipe;
        const long counted = static_cast<long>(m_->PortSlots[0].RxCount + m_->PortSlots[1].RxCount);
        pipe_unread_max_ = std::max(pipe_unread_max_, counted - got);
    }
    if (!closed_ && PipeHolds()) {
        const long at = Now();
        if (pipe_spans_.empty() || Minus(at, pipe_spans_.back().second) > kPipeSpanJoin)
            pipe_spans_.emplace_back(at, at);
        else
            pipe_spans_.back().second = at;
    }
    if (!closed_) {
        const std::vector<TReceiveSource> sources = StreamsToWatch();
        for (std::size_t i = 0; i < sources.size(); ++i) {
            max_queued_[i] = std::max(max_queued_[i], QueuedBytes(sources[i]));
        }
    }
    // Once a held serial stream is full, its port reads no more than its
    // own input buffer holds.
    const bool serial_hold = Serial(c_.source) && held_slot_ != 0 && hold_hi_ == kNoStamp && !closed_;
    const std::size_t held_index = held_slot_ == 1 ? 0 : 1;
    if (serial_hold && read_at_full_ == 0 && max_queued_[held_index] + 512 >= bound_)
        read_at_full_ = SerialRead(held_slot_ == 1) + 1;
    if (serial_hold && read_at_full_ != 0 && InWait())
        read_while_full_ = SerialRead(held_slot_ == 1) + 1 - read_at_full_;
    // What a Recv in the main port's event took and still waits behind the
    // event's chunk, in bytes.
    if (serial_hold && held_slot_ == 1 && InWait()) {
        std::size_t taken = 0;
        m_->RxQueue.Any([&](const terminal::TReceivedPiece& p) {
            if (p.Taken && p.Source.IsMain) taken += p.Bytes.size();
            return false;
        });
        taken_waiting_ = std::max(taken_waiting_, taken);
    }
    // A Recv in the main port's event reads on at full room once what it
    // took reached the bound (some 400 ms into the wait, in reads of the
    // flood's size): the device bursts after that, and all of it is read
    // within the wait.
    if (RecvBursts() && !burst_begun_ && stage_ >= Stage::Effect && now - effect_at_ >= 700ms) {
        burst_begun_ = true;
        main_dev_->Burst(kSerialBurst);
    }
    if (stage_ >= Stage::Effect && hold_lo_ != kNoStamp && hold_hi_ == kNoStamp && !closed_ && PluginDone()) {
        hold_hi_ = Now() + 50;
        if (RecvBursts()) burst_left_ = main_dev_->BurstLeft();
    }
    switch (stage_) {
        case Stage::Flooding: {
            // (Not while the plug-in's ONLOAD still waits.)
            const bool begun = c_.plugin == Plugin::None || EventsReturnAtOnce(c_.plugin)
                                   ? loaded_ && now - start_ > 500ms
                               : c_.plugin == Plugin::SlowSend ? PluginVar("BEGUN") == "1"
                                                               : PluginVar("WAIT") == "1";
            if (begun) {
                effect_at_ = now;
                effect_ms_ = Now();
                // (What waited for the plug-in's ONLOAD is the event's first
                // chunk: held since the load.)
                if (Waits(c_)) hold_lo_ = SettlesOnLoad(c_.plugin) ? load_lo_ : Now() - 150;
                held_slot_ = std::atoi(PluginVar("SLOT").c_str());
                for (int slot : {0, 1}) counted_at_effect_[slot] = m_->PortSlots[slot].RxCount;
                // A TCP peer whose event waits floods past its bound (in the
                // plain view: the bound is the same whatever shows the bytes).
                if (c_.view == View::Plain && (c_.source == Source::TcpServer || c_.source == Source::TcpClient) && held_slot_ != 0 &&
                    (c_.plugin == Plugin::NBSleep || c_.plugin == Plugin::Box || c_.plugin == Plugin::RecvInEvent ||
                     c_.plugin == Plugin::OtherPortEvent))
                {
                    SocketDevice& peer = *peers_[held_slot_ == 1 ? 0 : (c_.user == User::ClientsLeaveJoin ? 2 : 1)];
                    peer.Burst(kClientBurst);
                }
                // Onto the slow pipe a TCP peer sends a burst, read in pieces
                // far larger than the room the pipe has left.
                if (c_.view == View::Pipe && (c_.source == Source::TcpServer || c_.source == Source::TcpClient)) {
                    peers_[0]->Burst(kPipeBurst);
                }
                stage_ = Stage::Effect;
            } else if (now - start_ > 10s) {
                FailUnlessStill("the plug-in's action never began", run_start_, NowMsOfDay(), 5000);
                stage_ = Stage::Settle;
            }
            break;
        }
        case Stage::Effect:
            if (now - effect_at_ < 200ms) break;
            for (int slot : {0, 1}) counted_at_action_[slot] = m_->PortSlots[slot].RxCount;
            action_ms_ = Now();
            [[fallthrough]];
        case Stage::Acting: {
            if (stage_ == Stage::Acting && now - acted_at_ < 300ms) break;
            if (stage_ == Stage::Acting && c_.user == User::OutputOffOn && !PluginDone() && now - acted_at_ < 5s) break;
            // The newcomer comes once the server has let the client that left
            // go, so that it gets that client's index.
            if (stage_ == Stage::Acting && c_.user == User::ClientsLeaveJoin && step_ == 1 && !client2_gone_ &&
                now - acted_at_ < 1s)
                break;
            if (closed_ || step_ >= Steps(c_.user)) {
                stage_ = Stage::Settle;
                break;
            }
            if (Waits(c_) && StepInWait(c_.user, step_) && c_.user != User::Nothing && !InWait() && !late_) {
                late_ = true;
                // The wait lasts 1500 ms from when it began, and the step was
                // due some 220 ms into it and 300 ms after each step before:
                // came after it, it was late by that, or the wait ended early.
                const std::string since = PluginVar("SINCE");
                const long begun_ms = since.empty() ? effect_ms_ : PluginTime(since);
                const long now_ms = NowMsOfDay();
                const long due = 220 + 300 * step_ + (c_.user == User::ClientsLeaveJoin && step_ > 0 ? 700 : 0);
                const std::string why = "the user's action came after the plug-in's wait (step " +
                                        std::to_string(step_ + 1) + ", " + std::to_string(Minus(now_ms, begun_ms)) +
                                        " ms after it began)";
                if (Minus(now_ms, begun_ms) < 1500)
                    Fail(why);
                else
                    FailUnlessStill(why, begun_ms, now_ms, (Minus(now_ms, begun_ms) - due) / 2);
            }
            Act(step_++);
            acted_at_ = now;
            stage_ = Stage::Acting;
            break;
        }
        case Stage::Settle:
            // (Onto the slow pipe the flood goes on longer: a port that read
            // on while the pipe was behind would have read far more than its
            // input buffer by then.)
            if (now - start_ > (pipe_ ? 5000ms : 2500ms) && PluginDone()) stage_ = Stage::Done;
            break;
        case Stage::Done: break;
    }
}

Result Run::Go() {
    Result r;
    if (!SetUp()) {
        r.Ok = false;
        r.Failures.push_back("the ports did not open");
        for (const std::string& m : w_ ? w_->Messages : std::vector<std::string>{}) r.Failures.push_back(m);
        return r;
    }
    messages_at_start_ = w_->Messages.size();
    if (!to_file_) {
        Segment list;
        list.list = true;
        segments_.push_back(std::move(list));
    }
    run_start_ = Now();
    tick0_ = win::GetTickCount();
    ms0_ = NowMsOfDay();
    stillness_.Sample();
    start_ = last_tick_ = Clock::now();
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [this] { Tick(); });
    timer.start();
    StartFloods();
    load_lo_ = Now() - 150;
    const bool loaded = LoadPlugin();
    loaded_ = true;
    if (loaded) {
        if (c_.plugin == Plugin::RecvLoopOnSend) {
            m_->TrBCB->SetText("0");
            m_->TrBCBChange(m_->TrBCB);
            m_->Transb->Click();
        }
        if (!test_support::PumpUntil([&] { return stage_ == Stage::Done; }, 40s))
            FailUnlessStill("the cell did not end", run_start_, NowMsOfDay(), 20000);
    }
    StopFloods();
    // What was sent is read and handed on; then nothing moves for a while.
    std::uint64_t last = ~0ull;
    auto moved = Clock::now();
    test_support::PumpUntil(
        [&] {
            const std::uint64_t now = closed_ ? 0
                                              : SerialRead(true) + SerialRead(false) + m_->PortSlots[0].RxCount +
                                                    m_->PortSlots[1].RxCount;
            if (now != last) {
                last = now;
                moved = Clock::now();
            }
            // (What the pipe has not taken yet is waited for too: a close
            // would wait for it.)
            return m_->RxQueue.Empty() && !m_->PluginBusy && Clock::now() - moved > 400ms &&
                   (closed_ || !PipeHolds());
        },
        30s);
    timer.stop();
    if (!closed_) CloseWindow();
    // A plug-in event the close stopped returns at once.
    if (!test_support::PumpUntil([&] { return !m_->PluginBusy; }, 1s)) Fail("the plug-in's event went on after the close");
    // The pipe's reader takes what is left once the program let go of it.
    std::string piped;
    if (pipe_) {
        pipe_->StopTaking();
        piped = pipe_->Taken() + pipe_->Take();
    }
    for (Segment& s : segments_)
        if (!s.list && !s.captured) s.bytes = s.file == pipe_path_ ? piped : test_support::Slurp(s.file);
    Verify(r);
    StopFloods();
    w_.reset();
    return r;
}

ports::TfrmForPEth* Run::ForeignFrame() const {
    return m_->ForeignPort ? static_cast<ports::TfrmForPEth*>(m_->ForeignPort->Frame()) : nullptr;
}


// A text output file's lines, taken back as the list's: each line's time,
// port mark and bytes; a peer's name line as it is. A line that is none of
// these (two lines run together, the rest of a line begun in the list) is
// told in Bad: read back from the file, it stands for no bytes at all.
std::vector<Segment::Line> TextFileLines(const std::string& Text, terminal::TDataFormat Format,
                                         std::vector<std::string>& Bad) {
    std::vector<Segment::Line> out;
    std::size_t at = 0;
    while (at < Text.size()) {
        std::size_t end = Text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = Text.size();
        const std::string line = Text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) continue;
        const auto bad = [&] { Bad.push_back("\"" + line.substr(0, 60) + (line.size() > 60 ? "...\"" : "\"")); };
        // "hh:mm:ss.zzz" then the mark ("<" main port, "\xAB" Port2), then data.
        int h = 0, m = 0, s = 0, ms = 0;
        if (line.size() < 13 || std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d", &h, &m, &s, &ms) != 4) {
            bad();
            continue;
        }
        const long time = ((h * 60L + m) * 60 + s) * 1000 + ms;
        if (line.find("RV data from CliIdx") != std::string::npos || line.find("UDP data from") != std::string::npos) {
            out.push_back({-1, time, terminal::dfMSG, line});
            continue;
        }
        const char mark = line[12];
        std::string bytes;
        try {
            if (mark != '<' && mark != '\xAB') throw std::runtime_error("no port mark");
            bytes = terminal::DecodeLineBytes(Format, line.substr(13));
        } catch (const std::exception&) {
            bad();
            continue;
        }
        out.push_back({mark == '<' ? 0 : 1, time, Format, bytes});
    }
    return out;
}

void Run::VerifyLines(const Segment& S) {
    // Each line holds one stream's bytes under its port's mark, a peer's
    // under the name line that names it (anew after a Clear), and the lines
    // stand in the order their bytes were read, but for what waited for an
    // event: a stream held by a running event, or joined to an event's chunk.
    // A text file names its peers as the list does, each destination for
    // itself.
    const bool names = (S.list || S.text) && (c_.source == Source::TcpServer || c_.source == Source::Udp);
    std::string name;
    int named_stream = -1;
    const Segment::Line* last = nullptr;
    int last_stream = -1;
    bool told_order = false, told_name = false, told_mark = false, told_event = false, told_streams = false;
    for (const Segment::Line& l : S.lines) {
        if (l.dir == -1) {
            name = l.bytes;
            named_stream = -1;
            continue;
        }
        if (l.dir == -3) continue;
        if (l.dir == -2) {
            // A plug-in's line about its event's chunk stands under the name
            // of the peer that sent it: the peer is named before its event
            // says anything, in the list, where those lines go while text
            // output is on too. (A chunk read before a Clear is named
            // nowhere: it is not shown.)
            int s = -1;
            for (char ch : l.bytes)
                if ((s = StreamOf(ch)) >= 0) break;
            if (!names || told_event || s < 0) continue;
            long cleared = kNoStamp;
            for (long at : cleared_)
                if (Minus(at, l.time) <= 0) cleared = at;
            if (cleared != kNoStamp) {
                Decoder first(s, &DeviceOf(s)->Log());
                first.Feed(l.bytes, kNoStamp);
                if (first.records.empty() || Minus(first.records.front().written, cleared) <= 5) continue;
            }
            if (name.empty() || !NameFits(name, s) || (named_stream >= 0 && named_stream != s)) {
                told_event = true;
                Fail("the plug-in's line about stream " + std::to_string(s) + "'s chunk shown under " +
                     (name.empty() ? std::string("no name line") : "\"" + name + "\"") +
                     (named_stream >= 0 ? " after stream " + std::to_string(named_stream) + "'s bytes" : ""));
            }
            continue;
        }
        std::set<int> streams;
        for (char ch : l.bytes)
            if (StreamOf(ch) >= 0) streams.insert(StreamOf(ch));
        if (streams.empty()) continue;
        if (streams.size() > 1) {
            if (!told_streams) Fail("one line holds the bytes of " + std::to_string(streams.size()) + " streams");
            told_streams = true;
            continue;
        }
        const int s = *streams.begin();
        if (l.dir != SlotOf(s) && !told_mark) {
            told_mark = true;
            Fail("stream " + std::to_string(s) + "'s bytes shown under " + (l.dir == 0 ? "the main port's" : "Port2's") +
                 " mark");
        }
        if (names && !told_name) {
            if (name.empty()) {
                told_name = true;
                Fail("stream " + std::to_string(s) + "'s bytes shown under no name line");
            } else if (!NameFits(name, s) || (named_stream >= 0 && named_stream != s)) {
                told_name = true;
                Fail("stream " + std::to_string(s) + "'s bytes shown under \"" + name + "\"");
            }
            named_stream = s;
        }
        // A peer's lone low byte, shown on a byte line of its own when the
        // peer or its port goes, carries the time it was read: it may stand
        // after what other peers sent later.
        const bool lone = c_.view == View::Words && l.format != terminal::dfHW;
        if (last && last_stream != s && Minus(l.time, last->time) < 0 && !told_order && !lone) {
            const bool held = HeldInWait(SlotOf(s)) && hold_lo_ != kNoStamp &&
                              Minus(l.time, hold_lo_) >= 0 && (hold_hi_ == kNoStamp || Minus(hold_hi_, l.time) >= 0);
            const bool joined = Declares(c_, SlotOf(last_stream) + 1);
            if (!held && !joined) {
                told_order = true;
                Fail("stream " + std::to_string(s) + "'s bytes read at " + std::to_string(l.time) +
                     " shown after stream " + std::to_string(last_stream) + "'s read at " + std::to_string(last->time));
            }
        }
        last = &l;
        last_stream = s;
    }
}

namespace {

// Whether a loss window of the kind (Events: what the receive events lose;
// else what the list and the files lose) holds a record of Stream written
// at Written; where the device's log does not tell when the record was
// written, one written between the records around it (Prev and Next).
bool Explained(const std::vector<Loss>& Losses, int Stream, long Written, long Prev, long Next, bool Events) {
    const long lo = Written != kNoStamp ? Written : Prev, hi = Written != kNoStamp ? Written : Next;
    for (const Loss& l : Losses) {
        if (Events ? !l.events : !l.list) continue;
        if (l.stream >= 0 && l.stream != Stream) continue;
        if (Minus(lo, l.lo) < 0) continue;
        if (l.hi != kForever && Minus(l.hi, hi) < 0) continue;
        return true;
    }
    return false;
}

// When the device wrote a record; kNoStamp: its log does not tell.
long WrittenAt(const WriteLog* Log, long Seq) {
    if (!Log || Seq < 0 || Seq >= static_cast<long>(Log->size())) return kNoStamp;
    return (*Log)[static_cast<std::size_t>(Seq)].at;
}

}  // namespace

// Checks one view of a stream (the list and files, or what the events got)
// against what its device wrote: each record once and in order, and every
// one there but where a loss window explains it (each record missing by
// when its device wrote it, when its log tells). Exempt records may stand
// out of order. Returns the records missing.
long CheckRecords(const std::string& Tag, int Stream, const Decoder& D, const WriteLog* Log, std::uint32_t Complete,
                  long LastWritten, long Start, const std::vector<Loss>& Losses, bool Events, long Allowance,
                  const std::set<long>& Exempt, std::vector<std::string>& Failures, long* Unexplained = nullptr) {
    long missing = 0;
    std::vector<Decoder::Rec> recs;
    std::set<long> seen;
    for (const Decoder::Rec& r : D.records) {
        if (!seen.insert(r.seq).second) {
            Failures.push_back(Tag + "record " + std::to_string(r.seq) + " twice");
            return missing;
        }
        if (!Exempt.count(r.seq)) recs.push_back(r);
    }
    for (std::size_t i = 1; i < recs.size(); ++i)
        if (recs[i].seq < recs[i - 1].seq) {
            Failures.push_back(Tag + "record " + std::to_string(recs[i].seq) + " after " +
                               std::to_string(recs[i - 1].seq));
            return missing;
        }
    // The holes, with the records around them.
    long unexplained = 0;
    std::string first_hole;
    auto hole = [&](std::size_t at, long from, long to, long prev, long next) {
        missing += to - from;
        // (Each line in a word format loses a byte at most, which cuts one
        // record, or joins two when it was a separator.)
        const long lines = std::count(D.loss_points.begin(), D.loss_points.end(), at);
        long here = 0, first = -1;
        for (long q = from; q < to; ++q)
            if (!Explained(Losses, Stream, WrittenAt(Log, q), prev, next, Events)) {
                ++here;
                if (first < 0) first = q;
            }
        if (lines > 0) here = std::max(0L, here - (lines + 1));
        unexplained += here;
        if (here > 0 && first_hole.empty()) {
            const long written = WrittenAt(Log, first);
            first_hole = "records " + std::to_string(from) + " to " + std::to_string(to - 1) + " (written " +
                         std::to_string(prev) + " to " + std::to_string(next) + "; record " + std::to_string(first) +
                         (written != kNoStamp ? " written at " + std::to_string(written) : std::string()) + ")";
        }
    };
    long expected = 0, prev = Start;
    for (std::size_t i = 0; i < D.records.size(); ++i) {
        const Decoder::Rec& r = D.records[i];
        if (Exempt.count(r.seq)) continue;
        if (r.seq > expected) {
            // Exempt records fill a hole of their own.
            long from = expected;
            while (from < r.seq && Exempt.count(from)) ++from;
            if (from < r.seq) hole(i, from, r.seq, prev, r.written);
        }
        expected = std::max(expected, r.seq + 1);
        prev = r.written;
    }
    while (expected < static_cast<long>(Complete) && Exempt.count(expected)) ++expected;
    if (expected < static_cast<long>(Complete)) hole(D.records.size(), expected, Complete, prev, LastWritten);
    if (Unexplained) *Unexplained = unexplained;
    if (unexplained > Allowance)
        Failures.push_back(Tag + std::to_string(unexplained) + " records missing where nothing loses data: " +
                           first_hole);
    return missing;
}

long Run::VerifyEvents(int Stream, std::uint32_t Complete, long LastWritten) {
    // Every record of a port whose receive event the plug-in declares goes
    // to that event once (or to the Recv that took it), in order; one chunk
    // is one peer's (one stream's).
    const int slot = SlotOf(Stream);
    if (!Declares(c_, slot + 1)) return 0;
    const WriteLog& log = DeviceOf(Stream)->Log();
    Decoder rd(Stream, &log), got(Stream, &log);
    for (const std::string& chunk : rd_[slot]) {
        std::set<int> streams;
        for (char ch : chunk)
            if (StreamOf(ch) >= 0) streams.insert(StreamOf(ch));
        if (streams.size() > 1 && !told_chunk_) {
            told_chunk_ = true;
            Fail("one receive event's chunk holds the bytes of several streams");
        }
        rd.Feed(chunk, kNoStamp);
    }
    rd.Break();
    got.Feed(got_, kNoStamp);
    got.Break();
    Decoder both(Stream);
    both.records = rd.records;
    both.records.insert(both.records.end(), got.records.begin(), got.records.end());
    std::sort(both.records.begin(), both.records.end(),
              [](const Decoder::Rec& a, const Decoder::Rec& b) { return a.seq < b.seq; });
    // A record split between the event's chunk and the bytes its Recv took
    // (at either end of them) is whole in neither. Datagrams missing are
    // weighed against those told lost.
    const bool datagrams = c_.source == Source::Udp;
    const long split = got_.empty() ? 0 : 2;
    const std::string tag = "stream " + std::to_string(Stream) + " in the receive events: ";
    long unexplained = 0;
    CheckRecords(tag, Stream, both, &log, Complete, LastWritten, run_start_, losses_, true,
                 datagrams ? LONG_MAX : split, {}, failures_, &unexplained);
    return std::max(0L, unexplained - split);
}

void Run::VerifyRewritten(int Stream, const Decoder& D) {
    // A record its receive event got whole shows as the event left it,
    // rewritten; one no event got shows as it came.
    if (!Rewrites(c_.plugin)) return;
    Decoder got(Stream, &DeviceOf(Stream)->Log());
    for (const std::string& chunk : rd_[SlotOf(Stream)]) got.Feed(chunk, kNoStamp);
    std::set<long> rewrote;
    for (const Decoder::Rec& r : got.records) rewrote.insert(r.seq);
    const std::string tag = "stream " + std::to_string(Stream) + ": record ";
    for (const Decoder::Rec& r : D.records) {
        const bool by_event = rewrote.count(r.seq) > 0;
        if (by_event && r.plain > 0) {
            Fail(tag + std::to_string(r.seq) + ", which its receive event rewrote, shows " +
                 (r.rewritten > 0 ? "in part " : "") + "as it came");
            return;
        }
        if (!by_event && r.plain == 0) {
            Fail(tag + std::to_string(r.seq) + " shows rewritten, though no receive event got it");
            return;
        }
    }
}

void Run::FeedTurns(int Stream, std::size_t First, Decoder& D, std::size_t& Resume) const {
    // The stream's letters in the list between the two turns, and its first
    // separator there: what stands before it is the end of the record the
    // switch-off cut, whose start ends the first turn.
    const std::string& file = segments_[First].bytes;
    const WriteLog& log = DeviceOf(Stream)->Log();
    std::string listed;
    for (std::size_t i = First + 1; i < static_cast<std::size_t>(segments_[First].second_turn); ++i)
        for (const Segment::Line& l : segments_[i].lines)
            if (l.dir >= 0)
                for (char c : l.bytes)
                    if (StreamOf(c) == Stream) listed.push_back(c);
    Decoder between(Stream, &log);
    between.Feed(listed, kNoStamp);
    Decoder scan(Stream, &log);
    std::size_t split = 0;
    if (!between.records.empty()) {
        std::size_t cut = 0;  // letters of the cut record in the list before its separator
        while (cut < listed.size() && !Separator(listed[cut])) ++cut;
        const bool whole = cut == kDigits && (between.partials.empty() || between.partials.front() > 0);
        const std::size_t first_turn_letters = whole || cut > kDigits ? 0 : kDigits - cut;
        // Just after the last record of the first turn (all before the
        // list's first), then that many letters of the stream more.
        const long least = between.records.front().seq;
        for (std::size_t i = 0; i < file.size(); ++i) {
            const std::size_t n = scan.records.size();
            scan.Feed(file[i], kNoStamp);
            if (scan.records.size() > n) {
                if (scan.records.back().seq >= least) break;
                split = i + 1;
            }
        }
        for (std::size_t k = 0; k < first_turn_letters && split < file.size(); ++split)
            if (StreamOf(file[split]) == Stream) ++k;
    } else {
        // Nothing of the stream between the turns: the second begins where
        // the stream is first cut or skips records (what was read for the
        // list went when output came on again); where nothing went, the turns
        // cannot be told apart, and it is all the second's (whose file is not
        // switched off).
        long next = -1;
        std::size_t after = 0;
        for (std::size_t i = 0; i < file.size(); ++i) {
            const std::size_t n = scan.records.size(), cut = scan.partials.size();
            scan.Feed(file[i], kNoStamp);
            if (scan.partials.size() > cut || (scan.records.size() > n && next >= 0 && scan.records.back().seq != next)) {
                split = after;
                break;
            }
            if (scan.records.size() > n) {
                next = scan.records.back().seq + 1;
                after = i + 1;
            }
        }
    }
    D.Feed(file.substr(0, split), kNoStamp);
    Resume = split;
}

bool Run::SlotRead(int Slot, long From, long To) const {
    for (const auto& [key, reads] : reads_) {
        const bool main = Serial(c_.source) ? key == 0 : key == 101;
        if (main != (Slot == terminal::PortSlotMain)) continue;
        const long next = ReadAfter(key, From);
        if (next != kNoStamp && Minus(To, next) >= 0) return true;
    }
    return false;
}

std::vector<int> Run::Streams() const {
    switch (c_.source) {
        case Source::MainSerial: return {0};
        case Source::Port2Serial: return {1};
        case Source::BothSerial: return {0, 1};
        default: {
            std::vector<int> streams;
            for (const auto& p : peers_) streams.push_back(p->Stream());
            return streams;
        }
    }
}

void Run::Verify(Result& R) {
    const std::vector<int> streams = Streams();
    const bool datagrams = c_.source == Source::Udp;
    const terminal::TDataFormat format = c_.view == View::Words ? terminal::dfHW : terminal::dfHEX;
    for (Segment& s : segments_) {
        if (s.text) {
            std::vector<std::string> bad;
            s.lines = TextFileLines(s.bytes, format, bad);
            if (!bad.empty() && s.first_turn < 0)
                Fail(s.file + " holds " + std::to_string(bad.size()) + " line(s) that read back as no bytes, the first " +
                     bad.front());
        }
        // (A file written in two turns is looked at once, as the first.)
        if ((s.list || s.text) && s.first_turn < 0) VerifyLines(s);
    }
    // What the plug-in's PurgeRx threw away: the bytes of the stream its
    // Recv read that waited untaken then (after the last record the Recv
    // took), and what a serial port's system held unread.
    if (c_.plugin == Plugin::RecvThenPurge && !purged_.empty()) {
        const long purge = PluginTime(purge_), purged = PluginTime(purged_);
        for (int s : streams) {
            if (GotStream() >= 0 ? s != GotStream() : SlotOf(s) != 0) continue;
            if (c_.source == Source::Port2Serial) continue;
            Decoder got(s, &DeviceOf(s)->Log());
            got.Feed(got_, kNoStamp);
            const long after = got.records.empty() ? kNoStamp : WrittenAt(&DeviceOf(s)->Log(), got.records.back().seq + 1);
            const long lo = after != kNoStamp ? after : std::min(purge - 150, ReadFloor(purge));
            losses_.push_back({lo, purged + 20, true, true, "PurgeRx", s});
        }
    }
    // The records of the event's first chunk may show after the bytes a Recv
    // took meanwhile, once those reach the port's input buffer: each
    // stream's own records.
    std::map<int, std::set<long>> exempt;
    std::size_t queued_most = 0;
    for (std::size_t i = 0; i <= kStreamsMax; ++i) queued_most = std::max(queued_most, max_queued_[i]);
    // (The bytes a Recv took all waited until they reached the bound, so a
    // Recv that took as much reached it.)
    // (A Recv that takes a byte at a time reaches it within the wait; how
    // much it took first is checked below. What a Recv took before PurgeRx
    // reaches it with what the port reads on for the event's next chunk: the
    // bound counts all that its stream holds.)
    const bool bytewise = c_.plugin == Plugin::RecvBytesInEvent;
    if ((c_.plugin == Plugin::RecvInEvent || bytewise || c_.plugin == Plugin::RecvThenPurge) && held_slot_ != 0 &&
        !rd_[held_slot_ - 1].empty() &&
        (bytewise || queued_most + 1024 >= bound_ || got_.size() + 4096 >= bound_)) {
        for (int s : streams) {
            Decoder first(s);
            first.Feed(rd_[held_slot_ - 1].front(), kNoStamp);
            // With the records it cuts at its ends.
            if (first.records.empty()) continue;
            for (long q = first.records.front().seq - 1; q <= first.records.back().seq + 1; ++q) exempt[s].insert(q);
        }
    }
    std::size_t seen_total = 0;
    long worst_lag = 0, lost_by_design = 0, datagrams_missing = 0, datagrams_missing_in_events = 0;
    for (int s : streams) {
        Device* dev = DeviceOf(s);
        const WriteLog& log = dev->Log();
        Decoder d(s, &log);
        std::size_t resume = 0;  // where a binary file's second turn begins, for this stream
        for (std::size_t i = 0; i < segments_.size(); ++i) {
            const Segment& seg = segments_[i];
            if (!seg.joins) d.Break();
            d.Into(static_cast<int>(i));
            if (seg.list || seg.text) {
                // (A text file written in two turns holds both: a line is the
                // second turn's when read once output came on again.)
                const long second_from = seg.second_turn >= 0 ? segments_[seg.second_turn].from : kNoStamp;
                for (const Segment::Line& l : seg.lines) {
                    // (A name line keeps the words begun; any other line
                    // starts them anew.)
                    if (l.dir < 0) {
                        if (l.dir < -1 && c_.view == View::Words) d.MayLose();
                        continue;
                    }
                    if (second_from != kNoStamp && Minus(l.time, second_from) >= 0) continue;
                    if (seg.first_turn >= 0 && Minus(l.time, seg.from) < 0) continue;
                    d.Feed(l.bytes, l.time);
                }
            } else if (seg.second_turn >= 0) {
                FeedTurns(s, i, d, resume);
            } else if (seg.first_turn >= 0) {
                d.Feed(segments_[seg.first_turn].bytes.substr(resume), kNoStamp);
            } else {
                d.Feed(seg.bytes, kNoStamp);
            }
        }
        // Output switched off hands on to the list without a loss, so a
        // record may begin in the file and end in the list.
        d.Break();
        seen_total += d.bytes;
        const std::string tag = "stream " + std::to_string(s) + ": ";
        // Once each, in order, and what is missing lost by design around an
        // action (or told lost, for datagrams).
        // In a word format a stream's last byte may wait for its pair.
        std::uint32_t complete = dev->Complete();
        if (c_.view == View::Words && !d.partials.empty() && d.partials.back() == d.records.size() &&
            !d.records.empty() && d.records.back().seq + 2 == complete)
            --complete;
        long unexplained = 0;
        // (What a Recv in the event took shows ahead of the event's chunk
        // once it reached the bound. The queue may have been looked at just
        // before it did, and a Recv stopped by an Unload or the close never
        // tells what it took: what shows ahead of the chunk tells, when it
        // is at least the bound.)
        std::set<long> exempt_here = exempt[s];
        if (exempt_here.empty() && c_.plugin == Plugin::RecvInEvent && held_slot_ != 0 &&
            !rd_[held_slot_ - 1].empty()) {
            Decoder first(s);
            first.Feed(rd_[held_slot_ - 1].front(), kNoStamp);
            if (!first.records.empty()) {
                const long lo = first.records.front().seq, hi = first.records.back().seq;
                std::size_t ahead = 0;
                for (const Decoder::Rec& rec : d.records) {
                    if (rec.seq >= lo && rec.seq <= hi) break;
                    if (rec.seq > hi) ++ahead;
                }
                if (ahead * kRecord + 4096 >= bound_)
                    for (long q = lo - 1; q <= hi + 1; ++q) exempt_here.insert(q);
            }
        }
        // (The event's first chunk shown after what a Recv took may cut the
        // record it lands in two. Datagrams missing are weighed against those
        // told lost below.)
        const long missing =
            CheckRecords(tag, s, d, &log, complete, dev->LastWritten(), run_start_, losses_, false,
                         datagrams ? LONG_MAX : exempt_here.empty() ? 0 : 1, exempt_here, failures_, &unexplained);
        lost_by_design += missing - unexplained;
        datagrams_missing += datagrams ? unexplained : 0;
        VerifyRewritten(s, d);
        // Where each record went: the list after a Clear or output switched
        // off shows only what was read after it; a file switched off holds
        // nothing written after it. (A record begun in a text file switched
        // off carries that file's stamp: its end is what is in the list.)
        for (const Decoder::Rec& rec : d.records) {
            const Segment& seg = segments_[static_cast<std::size_t>(rec.segment)];
            const long read = rec.began == rec.segment ? rec.stamp : rec.ended;
            if (seg.list && read != kNoStamp && seg.from != kNoStamp && Minus(read, seg.from) < -1) {
                Fail(tag + "record " + std::to_string(rec.seq) + ", read at " + std::to_string(read) +
                     ", shows in the list begun at " + std::to_string(seg.from));
                break;
            }
            if (!seg.list && seg.to != kForever && Minus(rec.written, seg.to) > 5) {
                Fail(tag + "record " + std::to_string(rec.seq) + ", written at " + std::to_string(rec.written) +
                     ", is in " + seg.file + ", switched off at " + std::to_string(seg.to));
                break;
            }
            // (A text file's first turn holds what was read before its
            // switch-off.)
            if (seg.text && seg.second_turn >= 0 && rec.stamp != kNoStamp && rec.began == rec.segment &&
                Minus(rec.stamp, seg.to) > 1) {
                Fail(tag + "record " + std::to_string(rec.seq) + ", read at " + std::to_string(rec.stamp) +
                     ", is in " + seg.file + ", switched off at " + std::to_string(seg.to) +
                     " and on again at " + std::to_string(segments_[seg.second_turn].from));
                break;
            }
        }
        // Stamped when read: each record with the time its port's read that
        // took its first byte reached the window (the test saw every read,
        // with its bytes). A record an event rewrote carries the stamp of
        // its chunk's first piece, read before it perhaps; in a word format,
        // a byte that begins a word shows with the byte that ends it, read
        // next.
        static const std::vector<Read> none;
        const auto found = reads_.find(ReadKey(s));
        const std::vector<Read>& reads = found != reads_.end() ? found->second : none;
        Decoder read(s, &log);
        for (std::size_t i = 0; i < reads.size(); ++i) read.Feed(reads[i].bytes, static_cast<long>(i));
        // The read of each record's first byte, and the stream's next read.
        std::map<long, std::pair<const Read*, const Read*>> read_by;
        for (const Decoder::Rec& rec : read.records) {
            std::size_t i = static_cast<std::size_t>(rec.stamp), next = i + 1;
            while (next < reads.size() && std::none_of(reads[next].bytes.begin(), reads[next].bytes.end(),
                                                       [&](char c) { return StreamOf(c) == s; }))
                ++next;
            read_by[rec.seq] = {&reads[i], next < reads.size() ? &reads[next] : &reads[i]};
        }
        std::size_t stamped = 0, matched = 0;
        for (const Decoder::Rec& rec : d.records) {
            if (rec.stamp == kNoStamp) continue;
            ++stamped;
            const auto it = read_by.find(rec.seq);
            if (it == read_by.end()) continue;
            ++matched;
            const Read& r = *it->second.first;
            const long until = c_.view == View::Words ? it->second.second->after : r.after;
            const long put = static_cast<std::size_t>(rec.seq) < log.size() && log[rec.seq].put != kNoStamp
                                 ? log[rec.seq].put
                                 : rec.written;
            worst_lag = std::max(worst_lag, Minus(rec.stamp, put));
            if (Minus(rec.stamp, until) > 1 || (Minus(rec.stamp, r.at) < -1 && rec.rewritten == 0)) {
                Fail(tag + "record " + std::to_string(rec.seq) + " stamped at " + std::to_string(rec.stamp) +
                     ", read from " + std::to_string(r.at) + " to " + std::to_string(until) + " (" +
                     std::to_string(Minus(r.at, put)) + " ms after it was written)");
                break;
            }
        }
        if (stamped > 0 && matched == 0) Fail(tag + "none of the records shown is in what the test saw its port read");
        // A close loses only what the ports had not read: everything a
        // serial port read is in the file or the list.
        // (PurgeRx throws away what was read, and the longer rewrite adds
        // to it.)
        if (Serial(c_.source) && c_.user == User::Close && d.bytes != read_at_close_[s] && c_.view != View::Words &&
            c_.plugin != Plugin::RewriteLonger && c_.plugin != Plugin::RecvThenPurge)
            Fail(tag + std::to_string(read_at_close_[s]) + " bytes read when the port closed, " +
                 std::to_string(d.bytes) + " kept");
        const long events_missing = VerifyEvents(s, dev->Complete(), dev->LastWritten());
        datagrams_missing_in_events += datagrams ? events_missing : 0;
    }
    // A datagram the port had no room for is lost and told; nothing else is,
    // for the list nor for the events.
    if (datagrams && c_.user != User::Close && datagrams_missing > lost_told_)
        Fail(std::to_string(datagrams_missing) + " datagrams missing, " + std::to_string(lost_told_) + " told lost");
    if (datagrams && c_.user != User::Close && c_.user != User::Unload && datagrams_missing_in_events > lost_told_)
        Fail(std::to_string(datagrams_missing_in_events) + " datagrams missing in the receive events, " +
             std::to_string(lost_told_) + " told lost");
    // What a Recv returned: the bytes its port read, in order.
    const bool recv = c_.plugin == Plugin::RecvInEvent || bytewise || c_.plugin == Plugin::RecvLoopOnLoad ||
                      c_.plugin == Plugin::RecvLoopOnSend || c_.plugin == Plugin::RecvThenPurge;
    const int got_stream = GotStream();
    const bool recv_floods = c_.source != Source::Port2Serial;
    // (A Recv the close, Unload or its port's close ends keeps nothing.)
    const bool ended = c_.user == User::Close || c_.user == User::Unload || c_.user == User::PortButton;
    if (recv && recv_floods && !ended && got_.empty()) Fail("Recv returned nothing while its port flooded");
    for (int s : streams) {
        if (got_stream >= 0 && s != got_stream) continue;
        Decoder got(s, &DeviceOf(s)->Log());
        got.Feed(got_, kNoStamp);
        got.Break();
        if (got.records.empty()) continue;
        Decoder run(s);
        run.records = got.records;
        // Only the run it took: from its first record to its last.
        const long first = got.records.front().seq;
        for (Decoder::Rec& r : run.records) r.seq -= first;
        const auto last = static_cast<std::uint32_t>(got.records.back().seq - first + 1);
        // A server's Recv reads the current client: while the user made
        // another client current, a loop of Recv read that one.
        const bool turned = c_.source == Source::TcpServer && c_.user == User::LineSetting;
        CheckRecords("stream " + std::to_string(s) + " in what Recv returned: ", s, run, nullptr, last, 0, run_start_,
                     losses_, true, turned ? LONG_MAX : 0, {}, failures_);
    }
    // A receive event that waits holds its own port's bytes, and the other
    // port's when the plug-in declares that port's event too (they wait for
    // it); without one, the other port's go on meanwhile (counted as they
    // come). A Recv takes the bytes of its source, which may be the other
    // port's: an Ethernet server's current client.
    if (held_slot_ != 0 && Waits(c_) && !m_->PluginBusy) {
        const int held = held_slot_ == 1 ? terminal::PortSlotMain : terminal::PortSlot2;
        const int other = held == terminal::PortSlotMain ? terminal::PortSlot2 : terminal::PortSlotMain;
        const int other_slot = held_slot_ == 1 ? 2 : 1;
        const bool taken = (c_.plugin == Plugin::RecvInEvent || bytewise || c_.plugin == Plugin::RecvThenPurge) &&
                           RecvSlot(c_) == other_slot;
        const bool moved = counted_at_action_[other] != counted_at_effect_[other];
        const std::string during = std::string("while the ") + (held_slot_ == 1 ? "main port's" : "Port2's") +
                                   " event waited, the other port's bytes ";
        // (Unless they waited for a slow pipe that all received data goes
        // to: held back for it, as the waiting port's are. A port that read
        // nothing meanwhile had no turn.)
        if (SlotFloods(other) && !Declares(c_, other_slot) && !moved && !PipeHeldBetween(effect_ms_, action_ms_)) {
            if (SlotRead(other, effect_ms_, action_ms_))
                Fail(during + "waited too");
            else
                FailUnlessStill(during + "waited too: the port read nothing", effect_ms_, action_ms_,
                                Minus(action_ms_, effect_ms_) / 2, false);
        }
        if (SlotFloods(other) && Declares(c_, other_slot) && !taken && moved)
            Fail(during + "went on without their own event");
    }
    // What waits stays within a port's input buffer (the serial ports' is
    // lowered, so that a wait drives a flooding stream past it).
    std::size_t queued = 0;
    for (std::size_t i = 0; i <= kStreamsMax; ++i) queued = std::max(queued, max_queued_[i]);
    // (A serial port reads no more than the room left; a socket's read may
    // pass it by what one read takes.)
    const std::size_t over = Serial(c_.source) ? 256 : 65536;
    if (queued > bound_ + over)
        Fail("a stream held " + std::to_string(queued) + " bytes waiting, past its bound of " + std::to_string(bound_));
    const bool drives = Serial(c_.source) && held_slot_ != 0 &&
                        (c_.plugin == Plugin::NBSleep || c_.plugin == Plugin::Box || c_.plugin == Plugin::FailingBox ||
                         c_.plugin == Plugin::OtherPortEvent || c_.plugin == Plugin::RecvThenPurge) &&
                        (c_.user == User::Nothing || c_.user == User::Clear || c_.user == User::OutputOffOn ||
                         c_.user == User::LineSetting || c_.user == User::OutputTwice ||
                         c_.user == User::ClearThenOff) &&
                        SlotFloods(held_slot_ == 1 ? terminal::PortSlotMain : terminal::PortSlot2);
    if (drives && queued + 1024 < bound_) {
        // (A device that had no turn to write that much meanwhile drove
        // nothing.)
        const Device* held_dev = held_slot_ == 1 ? main_dev_.get() : second_dev_.get();
        const std::size_t wrote = hold_lo_ != kNoStamp && hold_hi_ != kNoStamp && held_dev
                                      ? held_dev->WrittenBetween(hold_lo_, hold_hi_)
                                      : bound_ * 2;
        const std::string why =
            "the wait drove no stream to its bound (" + std::to_string(queued) + " bytes waited at most)";
        if (wrote < bound_ + 2048)
            Void(why + ": its device wrote only " + std::to_string(wrote) + " bytes in the wait");
        else
            Fail(why);
    }
    // The event's chunk keeps its place ahead of what its Recv takes until
    // that reaches the port's input buffer, counted as the bytes it is with
    // an upkeep a read: a read of the flood (one write of the device, 51
    // bytes, at the least) costs no more than 115 with its upkeep, so about
    // 8192 * 51 / 115 = 3,600 bytes taken a byte at a time wait behind the
    // chunk before it gives way. (Each byte costing an upkeep of its own, 126
    // would.)
    if (c_.plugin == Plugin::RecvBytesInEvent && c_.user == User::Nothing && Serial(c_.source) && held_slot_ == 1 &&
        taken_waiting_ < bound_ / 4)
        Fail("what the Recv in the event took a byte at a time gave way to the event's chunk at " +
             std::to_string(taken_waiting_) + " bytes, far short of the input buffer");
    if (RecvBursts() && burst_left_ > 0)
        Fail("the Recv in the event read its port short of full room: " + std::to_string(burst_left_) + " of the " +
             std::to_string(kSerialBurst) + " bytes its device sent at once were not read in the wait");
    if (drives && read_while_full_ > kSerialInBuf + 512)
        Fail("the port read " + std::to_string(read_while_full_) + " bytes while its stream was full");
    // A serial device floods faster than the slow pipe's reader takes: the
    // program kept what the pipe could not take yet and held the port back,
    // instead of waiting for the pipe. (Output switched off early leaves the
    // pipe before it is full.)
    long pipe_held_ms = 0;
    for (const auto& [from, to] : pipe_spans_) pipe_held_ms += Minus(to, from) + 20;
    if (pipe_ && Serial(c_.source) && c_.user != User::OutputOffOn && pipe_spans_.empty())
        Fail("the slow pipe never held back what was read for it: nothing waited for its reader");
    // What the pipe has not taken holds back what comes after it, within
    // its port's input buffer: the output keeps no more for the pipe than
    // one hand-on gave it when the pipe filled (a piece, or an event's
    // chunk, each within its port's input buffer).
    if (pipe_ && Serial(c_.source)) {
        const long ports = c_.source == Source::BothSerial ? 2 : 1;
        const long most = ports * static_cast<long>(bound_) + 1024;
        if (pipe_unread_max_ > most)
            Fail("the output kept " + std::to_string(pipe_unread_max_) +
                 " bytes that the slow pipe's reader had not got, past the " + std::to_string(most) +
                 " one hand-on gives it: the port read on while the pipe was behind");
    }
    // The window answers, and the close ends everything at once (but for
    // the time the machine gave it no turn).
    if (max_gap_ > 1000ms)
        FailUnlessStill("the window did not answer for " + std::to_string(max_gap_.count()) + " ms", max_gap_from_,
                        max_gap_to_, static_cast<long>(max_gap_.count()) - 1000);
    if (close_ms_ > 1000)
        FailUnlessStill("closing took " + std::to_string(close_ms_) + " ms", close_from_, close_from_ + close_ms_,
                        close_ms_ - 1000);
    // Boxes: only the plug-in's own.
    std::vector<std::string> boxes(w_->Messages.begin() + static_cast<std::ptrdiff_t>(messages_at_start_),
                                   w_->Messages.end());
    const std::size_t expected_boxes =
        c_.plugin == Plugin::Box || c_.plugin == Plugin::FailingBox || RecvLosesItsPort() ? 1 : 0;
    if (boxes.size() > expected_boxes) Fail("unexpected box: " + boxes.back());
    if (!w_->Notices().empty()) Fail("a notice: " + Window::NoticeText(w_->Notices().front()));
    // The settings were saved, naming the plug-in unless the user unloaded it.
    vcl::TIniFile ini(w_->ini);
    if (ini.ReadInteger("Main", "PollingDelay", -1) != 1) Fail("the settings were not saved");
    const bool dropped = RecvLosesItsPort() && c_.plugin == Plugin::RecvLoopOnLoad;
    const std::string want_plugin = plugin_file_.empty() || unloaded_ || dropped ? "" : plugin_file_;
    if (ini.ReadString("Config11", "PlugPath", "?") != want_plugin)
        Fail("the settings name the plug-in \"" + ini.ReadString("Config11", "PlugPath", "?") + "\"");
    R.Ok = failures_.empty();
    R.Failures = failures_;
    R.Void = !voids_.empty();
    R.Voids = voids_;
    std::ostringstream sum;
    std::string why;
    for (const Loss& l : losses_) why += (why.empty() ? " (" : ", ") + l.why;
    if (!why.empty()) why += ")";
    sum << "seen " << seen_total << " B, lost by design " << lost_by_design << " records" << why << ", queue max " << queued
        << " B of " << bound_ << ", loop gap max " << max_gap_.count() << " ms, stamp lag max " << worst_lag
        << " ms, close " << close_ms_ << " ms, no turn " << stillness_.Total(true) << " ms";
    if (!Waits(c_)) sum << ", no wait";
    if (pipe_) sum << ", pipe held back " << pipe_held_ms << " ms, unread max " << pipe_unread_max_ << " B";
    R.Summary = sum.str();
}

}  // namespace

std::string Name(const Cell& C) {
    std::string name = std::string(SourceName(C.source)) + " | " + PluginName(C.plugin) + " | " + UserName(C.user);
    if (C.view != View::Plain) name += std::string(" | ") + ViewName(C.view);
    return name;
}

void PrintTo(const Cell& C, std::ostream* Out) { *Out << Name(C); }

bool Applicable(const Cell& C, std::string* Why) {
    if (C.plugin == Plugin::OtherPortEvent && (C.source == Source::Udp || C.source == Source::TcpClient)) {
        if (Why) *Why = "the role has one peer: there is no other port";
        return false;
    }
    if (C.user == User::ClientsLeaveJoin && C.source != Source::TcpServer) {
        if (Why) *Why = "only a server has clients that leave and join";
        return false;
    }
    if (C.user == User::ClientsLeaveJoin && !Waits(C)) {
        if (Why) *Why = "no wait for the clients to come and go in";
        return false;
    }
    if (C.user == User::OutputResumed &&
        (!Waits(C) || C.plugin == Plugin::RecvLoopOnLoad || C.plugin == Plugin::RecvLoopOnSend)) {
        if (Why) *Why = "no receive event's wait that keeps the file switched off open";
        return false;
    }
    return true;
}

std::vector<Cell> AllCells() {
    // Every source, plug-in action and user action in every view (text
    // output's lines every action that switches, clears or closes a file may
    // cut; the graph's points and the words' pairs every action that clears,
    // closes or makes a peer come and go may lose); the slow pipe with every
    // source and plug-in action, and the user actions that bear on it.
    std::vector<Cell> out;
    for (int v = 0; v < kViews; ++v) {
        const bool every = v != static_cast<int>(View::Pipe);
        for (int s = 0; s < kSources; ++s)
            for (int p = 0; p < kPlugins; ++p)
                for (int u = 0; u < kUsers; ++u) {
                    const User user = static_cast<User>(u);
                    if (every || user == User::Nothing || user == User::Clear || user == User::OutputOffOn)
                        out.push_back({static_cast<Source>(s), static_cast<Plugin>(p), user, static_cast<View>(v)});
                }
    }
    return out;
}

std::vector<Cell> CoverCells() {
    // Greedy: the cell that holds most pairs not yet held, until every pair
    // an applicable cell holds is held.
    auto pairs = [](const Cell& c) {
        const int s = static_cast<int>(c.source), p = static_cast<int>(c.plugin), u = static_cast<int>(c.user),
                  v = static_cast<int>(c.view);
        return std::array<int, 6>{s * kPlugins + p, 1000 + s * kUsers + u, 2000 + p * kUsers + u,
                                  3000 + s * kViews + v, 4000 + p * kViews + v, 5000 + u * kViews + v};
    };
    std::vector<Cell> cells;
    for (const Cell& c : AllCells())
        if (Applicable(c)) cells.push_back(c);
    std::set<int> wanted;
    for (const Cell& c : cells)
        for (int k : pairs(c)) wanted.insert(k);
    std::vector<Cell> out;
    while (!wanted.empty()) {
        const Cell* best = nullptr;
        int best_gain = 0;
        for (const Cell& c : cells) {
            int gain = 0;
            for (int k : pairs(c)) gain += wanted.count(k) ? 1 : 0;
            if (gain > best_gain) {
                best_gain = gain;
                best = &c;
            }
        }
        out.push_back(*best);
        for (int k : pairs(*best)) wanted.erase(k);
    }
    return out;
}

Result RunCell(const Cell& C) {
    std::string why;
    if (!Applicable(C, &why)) {
        Result r;
        r.Applicable = false;
        r.Summary = "n/a: " + why;
        return r;
    }
    Run run(C);
    return run.Go();
}

}  // namespace receive_table
