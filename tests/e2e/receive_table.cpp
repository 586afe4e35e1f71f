#include "e2e/receive_table.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "platform/rtl/numbers.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/ini_files.h"
#include "platform/win/message_window.h"
#include "platform/win/timers.h"
#include "ports/ethernet_port.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"
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
                                            "Recv loop in ONSEND", "slow Send", "other port's event"};
    return names[static_cast<int>(P)];
}
const char* UserName(User U) {
    static constexpr const char* names[] = {"nothing", "Clear", "output off and on", "line setting",
                                            "port button", "F10", "Unload", "close"};
    return names[static_cast<int>(U)];
}

constexpr int kSources = 6, kPlugins = 10, kUsers = 8;

bool Serial(Source S) { return S == Source::MainSerial || S == Source::Port2Serial || S == Source::BothSerial; }
bool Ethernet(Source S) { return !Serial(S); }

// ---- Records

struct Alphabet {
    const char* digits;
    char separator;
};
constexpr Alphabet kAlphabets[] = {{"abcdefghij", ';'}, {"klmnopqrst", ':'}, {"ABCDEFGHIJ", ','}};
constexpr int kStreamsMax = 3;
constexpr std::size_t kDigits = 16;  // 7 of sequence, 9 of time
constexpr std::size_t kRecord = kDigits + 1;

long MsOfDay(double Days) {
    const double ms = std::fmod(Days, 1.0) * 86400000.0;
    return std::lround(ms) % 86400000;
}
long NowMsOfDay() {
    terminal::TSystemReceiveClock clock;
    return MsOfDay(clock.LocalNow());
}

std::string Record(int Stream, std::uint32_t Seq) {
    const Alphabet& a = kAlphabets[Stream];
    char text[kDigits + 1];
    std::snprintf(text, sizeof text, "%07u%09ld", Seq % 10000000u, NowMsOfDay());
    std::string out;
    for (std::size_t i = 0; i < kDigits; ++i) out.push_back(a.digits[text[i] - '0']);
    out.push_back(a.separator);
    return out;
}

// Takes one stream's records back out of bytes that may hold others too.
class Decoder {
public:
    explicit Decoder(int Stream) : a_(kAlphabets[Stream]) {}
    struct Rec {
        long seq, written;
        double stamp;  // NaN: from a file, no stamp
        int segment;   // the destination it was found in, in their order
    };
    std::vector<Rec> records;
    std::size_t bytes = 0;     // the stream's characters seen
    std::size_t partials = 0;  // records cut short (a gap inside a record)

    void Feed(char C, double Stamp) {
        const char* d = std::strchr(a_.digits, C);
        if (C != '\0' && d) {
            ++bytes;
            if (digits_.empty()) stamp_ = Stamp;
            digits_.push_back(static_cast<char>('0' + (d - a_.digits)));
            return;
        }
        if (C != a_.separator) return;
        ++bytes;
        if (digits_.size() != kDigits) {
            ++partials;
        } else {
            records.push_back({std::stol(digits_.substr(0, 7)), std::stol(digits_.substr(7)), stamp_, segment_});
        }
        digits_.clear();
    }
    // A part of the stream that was lost (a list cleared) leaves what was
    // begun unfinished.
    void Break() {
        if (!digits_.empty()) ++partials;
        digits_.clear();
        ++segment_;
    }

private:
    Alphabet a_;
    std::string digits_;
    double stamp_ = 0;
    int segment_ = 0;
};

// ---- The devices

// A device that sends its records every 5 ms (at the pace of a busy serial
// line) and reads what the program sends it, fast or slowly.
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
    std::size_t Written() const { return written_; }
    std::uint32_t Records() const { return seq_; }
    int Stream() const { return stream_; }
    bool Broken() const { return broken_; }

protected:
    // Writes what it can of Bytes now: the count taken, -1 when the device
    // can take nothing any more.
    virtual long Put(const std::string& Bytes) = 0;
    virtual void Take(std::size_t Max) = 0;
    // One record a write (a datagram each).
    virtual bool Whole() const { return false; }

private:
    void Run() {
        std::string pending;
        while (!stop_) {
            Take(read_per_tick_);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                pending += std::exchange(extra_, {});
            }
            if (stream_ >= 0 && !broken_)
                for (int i = 0; i < per_tick_; ++i) pending += Record(stream_, seq_++);
            if (Whole()) {
                while (!pending.empty() && !broken_) {
                    const std::size_t n = std::min(pending.size(), pending[0] == '!' ? std::size_t(1) : kRecord);
                    if (Put(pending.substr(0, n)) < 0) broken_ = true;
                    written_ += n;
                    pending.erase(0, n);
                }
            } else if (!pending.empty() && !broken_) {
                const long n = Put(pending);
                if (n < 0) {
                    broken_ = true;
                } else {
                    written_ += static_cast<std::size_t>(n);
                    pending.erase(0, static_cast<std::size_t>(n));
                }
            }
            std::this_thread::sleep_for(5ms);
        }
    }

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> broken_{false};
    std::atomic<std::size_t> written_{0};
    std::atomic<std::uint32_t> seq_{0};
    int stream_ = -1;
    int per_tick_ = 0;
    std::size_t read_per_tick_ = 0;
    std::mutex mutex_;
    std::string extra_;
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

std::string PluginSource(const Cell& C) {
    // The waits happen once, on the first chunk, and say when they begin
    // and end through the plug-in's variables.
    const std::string hold_head = "var Done: Boolean;\nprocedure Hold;\nvar S: string; Z: Integer;\nbegin\n"
                                  "  if Done then Exit;\n  Done := True;\n  SetV('BEGUN', '1');\n  SetV('WAIT', '1');\n";
    const std::string hold_tail = "  SetV('WAIT', '0');\nend;\n";
    const std::string send_size = Ethernet(C.source) ? "60000" : "100000";
    const std::string loop = "  SetV('BEGUN', '1');\n  SetV('WAIT', '1');\n  T := GetTickCount;\n"
                             "  while GetTickCount - T < 1500 do Recv(0, 50, S);\n  SetV('WAIT', '0');\n";
    const std::string both = "procedure OnReceive;\nbegin\n  Hold;\nend;\n"
                             "procedure OnReceive2;\nbegin\n  Hold;\nend;\n";
    switch (C.plugin) {
        case Plugin::None: return {};
        case Plugin::Immediate:
            return "procedure OnReceive;\nbegin\nend;\nprocedure OnReceive2;\nbegin\nend;\n";
        case Plugin::NBSleep: return hold_head + "  NBSleep(1500);\n" + hold_tail + both;
        case Plugin::Box: return hold_head + "  ShowMessage('look');\n" + hold_tail + both;
        case Plugin::FailingBox: return hold_head + "  Z := 0;\n  Z := 1 div Z;\n" + hold_tail + both;
        case Plugin::RecvInEvent: return hold_head + "  Recv(100000, 1500, S);\n" + hold_tail + both;
        case Plugin::SlowSend: return hold_head + "  Send(StringOfChar('x', " + send_size + "));\n" + hold_tail + both;
        case Plugin::RecvLoopOnLoad:
            return "procedure OnLoad;\nvar S: string; T: Cardinal;\nbegin\n" + loop + "end;\n";
        case Plugin::RecvLoopOnSend:
            return "var Done: Boolean;\nprocedure OnSend;\nvar S: string; T: Cardinal;\nbegin\n  TD := '';\n"
                   "  if Done then Exit;\n  Done := True;\n" + loop + "end;\n";
        case Plugin::OtherPortEvent: {
            // Main-slot sources get an event on Port2 only, Port2 sources one
            // on the main port only.
            const bool other_is_main = C.source == Source::Port2Serial;
            return hold_head + "  NBSleep(1500);\n" + hold_tail +
                   (other_is_main ? "procedure OnReceive;\nbegin\n  Hold;\nend;\n"
                                  : "procedure OnReceive2;\nbegin\n  Hold;\nend;\n");
        }
    }
    return {};
}

// ---- One run

struct Segment {
    bool list = false;
    std::string file;   // the output file it was (empty: the list)
    std::string bytes;  // a file's bytes
    struct Line {
        int dir;
        double time;
        std::string bytes;
    };
    std::vector<Line> lines;
};

std::string HexBytes(const std::string& Text) {
    std::string out;
    std::istringstream in(Text);
    for (std::string token; in >> token;) out.push_back(static_cast<char>(std::stoi(token, nullptr, 16)));
    return out;
}

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
    void ActionStart();
    void ActionSecond();
    bool InEffect();
    bool PluginDone() const;
    // A Recv loop whose port the user closes meanwhile: its next Recv fails
    // ("Port is not connected"), which ends its event with the error's box;
    // a load event that fails so leaves no plug-in loaded.
    bool RecvLosesItsPort() const;
    void Snapshot();
    void OpenOutput(const std::string& File);
    void Verify(Result& R);
    void Fail(const std::string& Why) { failures_.push_back(Why); }
    std::vector<TReceiveSource> StreamsToWatch() const;
    void Cut() {
        cut_at_ = m_->CurrentTime();
        cut_segment_ = static_cast<int>(segments_.size());
    }
    std::string PluginVar(const std::string& Name) const {
        return w_->main->GetPluginVar(Name);
    }
    std::uint64_t SerialRead(bool Main) const {
        return (Main ? w_->main->cp1 : w_->main->cp2)->DeviceBytesRead();
    }

    Cell c_;
    std::unique_ptr<Window> w_;
    TMain* m_ = nullptr;
    std::unique_ptr<PtyDevice> main_dev_, second_dev_;
    std::vector<std::unique_ptr<SocketDevice>> peers_;
    test_support::Fd listener_;
    std::string plugin_file_;
    std::vector<std::string> failures_;
    std::vector<Segment> segments_;
    std::vector<std::string> files_;
    bool to_file_ = false;
    std::string ethernet_ip_;

    // The script of the cell.
    enum class Stage { Flooding, Effect, Second, Settle, Done } stage_ = Stage::Flooding;
    Clock::time_point start_, effect_at_, second_at_;
    Clock::time_point last_tick_;
    std::chrono::milliseconds max_gap_{0};
    std::size_t max_cost_ = 0;
    long close_ms_ = -1;
    bool closed_ = false;
    bool unloaded_ = false;
    int lossy_ = 0;
    // A Clear or output switched off: when (as a read time), and the
    // destination that follows it.
    double cut_at_ = 0;
    int cut_segment_ = -1;
    long lost_told_ = 0;  // datagrams the port said it lost
    // The slot whose receive event ran when the plug-in's action began
    // (-1: none), and both slots' counts then and when the user acted.
    int event_slot_ = -1;
    std::uint64_t counted_at_effect_[2] = {0, 0}, counted_at_action_[2] = {0, 0};
    int recv_slot_ = 1;  // whose bytes the plug-in's Recv takes
    bool SlotFloods(int Slot) const;
    std::size_t messages_at_start_ = 0;
};

std::vector<TReceiveSource> Run::StreamsToWatch() const {
    if (Serial(c_.source)) return {{.IsMain = true}, {.IsMain = false}};
    return {{.IsMain = true, .Client = 1}, {.IsMain = false, .Client = 2}, {.IsMain = false, .Client = 3}};
}

bool Run::SetUpSerial() {
    main_dev_ = std::make_unique<PtyDevice>(5);
    second_dev_ = std::make_unique<PtyDevice>(6);
    vcl::SaveStrToFile("[Main]\r\nDataFormat=1\r\n[Config11]\r\nPort=5\r\nPort2=6\r\nSpeed=115200\r\n", w_->ini);
    m_ = w_->Start();
    return m_->cp1->Connected() && m_->cp2->Connected();
}

bool Run::SetUpEthernet() {
    m_ = w_->Start();
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
    const std::uint16_t port = test_support::FreePort(SOCK_STREAM);
    frame->edLocalPort->SetText(std::to_string(port));
    m_->sbPort->Click();
    if (!m_->ForeignPort->Active()) return false;
    // Three clients, numbered 1 to 3 in the order they come.
    for (int i = 1; i <= 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = test_support::LoopbackAddress(port);
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
    w_ = std::make_unique<Window>(test_support::MainWindowOptions{.Start = false});
    const bool ok = Serial(c_.source) ? SetUpSerial() : SetUpEthernet();
    if (!ok) return false;
    m_->RVPnlTime = terminal::tpMilliseconds;
    m_->mTimecaninterruptdatarow->SetChecked(true);
    m_->m1000msClick(m_->PollingEntry(1));  // 5 ms, and a setting the close must save
    m_->DataFormat = 1;
    m_->ASCII1Click(nullptr);
    // Boxes the plug-in's event opens stay up for a while, the loop going on.
    vcl::Application->MessageHook = [this](const vcl::TMessageRequest& r) {
        w_->Messages.push_back(r.Text);
        const auto until = Clock::now() + 1500ms;
        while (Clock::now() < until && !m_->Closing) {
            win::ProcessMessages();
            win::Sleep(1);
        }
        return vcl::IDOK;
    };
    to_file_ = c_.user == User::Close || c_.user == User::OutputOffOn;
    if (to_file_) OpenOutput(w_->dir.File("out1.bin"));
    return true;
}

void Run::OpenOutput(const std::string& File) {
    files_.push_back(File);
    Segment s;
    s.file = File;
    segments_.push_back(std::move(s));
    vcl::Application->DialogHook = [File](vcl::TCommonDialog& d) {
        auto* save = dynamic_cast<vcl::TOpenDialog*>(&d);
        if (!save) return false;
        save->FileName = File;
        save->FilterIndex = 2;  // binary: the bytes as they came
        return true;
    };
    m_->Outputtofile1Click(nullptr);
    vcl::Application->DialogHook = nullptr;
    if (!m_->OutputFile.IsOpen()) Fail("output to " + File + " did not open");
}

void Run::StartFloods() {
    // 3 records of 17 bytes every 5 ms: about 10 KB/s a stream.
    const std::size_t fast = 1 << 20, slow = c_.plugin == Plugin::SlowSend ? 200 : fast;
    switch (c_.source) {
        case Source::MainSerial:
            main_dev_->Start(0, 3, slow);
            second_dev_->Start(c_.plugin == Plugin::OtherPortEvent ? -1 : -1, 0, fast);
            if (c_.plugin == Plugin::OtherPortEvent) second_dev_->SendNow("!");
            break;
        case Source::Port2Serial:
            main_dev_->Start(-1, 0, slow);
            second_dev_->Start(1, 3, fast);
            if (c_.plugin == Plugin::OtherPortEvent) main_dev_->SendNow("!");
            break;
        case Source::BothSerial:
            main_dev_->Start(0, 3, slow);
            second_dev_->Start(1, 3, fast);
            break;
        default:
            for (std::size_t i = 0; i < peers_.size(); ++i)
                peers_[i]->Start(static_cast<int>(i), c_.source == Source::Udp ? 2 : 3, slow);
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

bool Run::InEffect() {
    switch (c_.plugin) {
        case Plugin::None:
        case Plugin::Immediate: return Clock::now() - start_ > 500ms;
        // A Send that need not wait (the Ethernet port's) is over at once.
        case Plugin::SlowSend: return PluginVar("BEGUN") == "1";
        default: return PluginVar("WAIT") == "1";
    }
}

bool Run::PluginDone() const {
    // An event that failed (on purpose, or on a port the user closed) ends
    // with its box, its wait not ended.
    return !m_->PluginBusy && (c_.plugin == Plugin::None || c_.plugin == Plugin::Immediate ||
                               m_->GetPluginVar("WAIT") != "1" || !m_->Script || closed_ || unloaded_ ||
                               w_->Messages.size() > messages_at_start_);
}

bool Run::RecvLosesItsPort() const {
    return (c_.plugin == Plugin::RecvLoopOnLoad || c_.plugin == Plugin::RecvLoopOnSend) && c_.user == User::PortButton &&
           c_.source != Source::Port2Serial;
}

void Run::Snapshot() {
    Segment s;
    s.list = true;
    const terminal::TLineStore& lines = m_->RxPanel->Lines();
    for (int i = 0; i < lines.LineCount(); ++i) {
        const terminal::TLineRecord r = lines.LineRecord(i);
        if (r.Format == terminal::dfERR) {
            // "Error: Receive: N datagrams lost, ...", folded into "... [k]"
            // when it came k times.
            const std::string text = lines.LineData(i);
            const std::size_t at = text.find("Error: Receive: ");
            if (at != std::string::npos && text.find(" lost") != std::string::npos) {
                long n = std::atol(text.c_str() + at + 16);
                const std::size_t open = text.rfind(" [");
                if (open != std::string::npos) n *= std::max(1L, std::atol(text.c_str() + open + 2));
                lost_told_ += n;
            }
        }
        if (r.Format != terminal::dfHEX || r.Dir > 1) continue;
        s.lines.push_back({r.Dir, r.Time, HexBytes(lines.LineData(i))});
    }
    segments_.push_back(std::move(s));
}

void Run::ActionStart() {
    switch (c_.user) {
        case User::Nothing: break;
        case User::Clear:
            Snapshot();
            ++lossy_;
            Cut();
            m_->ClearmClick(nullptr);
            break;
        case User::OutputOffOn:
            Cut();
            m_->Outputtofile1Click(nullptr);
            break;
        case User::LineSetting:
            if (Serial(c_.source)) {
                m_->speedcb->SelectByUser(m_->speedcb->Items().IndexOf("57600"));
            } else {
                auto* frame = static_cast<ports::TfrmForPEth*>(m_->ForeignPort->Frame());
                if (c_.source == Source::TcpServer)
                    frame->edCurCliIdx->SetText("1");
                else
                    frame->edDstPort->SetText("7");
            }
            break;
        case User::PortButton:
            ++lossy_;
            (c_.source == Source::Port2Serial ? m_->sbPort2 : m_->sbPort)->Click();
            break;
        case User::F10: {
            ++lossy_;
            std::uint16_t key = vcl::VK_F10;
            m_->FormKeyDown(m_, key, {});
            if (m_->ReceptionEnabled) Fail("F10 did not disable reception");
            break;
        }
        case User::Unload:
            unloaded_ = m_->Script != nullptr;
            m_->mUnloadPluginClick(nullptr);
            break;
        case User::Close: {
            Snapshot();
            const auto at = Clock::now();
            m_->Close();
            close_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - at).count();
            closed_ = true;
            if (m_->Visible()) Fail("the window did not close");
            break;
        }
    }
}

void Run::ActionSecond() {
    switch (c_.user) {
        case User::OutputOffOn:
            // Opening output clears the list: what it holds is kept first.
            Snapshot();
            ++lossy_;
            OpenOutput(w_->dir.File("out2.bin"));
            break;
        case User::LineSetting:
            if (Serial(c_.source)) {
                m_->Parcb->SelectByUser(2);
            } else if (c_.source == Source::TcpServer) {
                static_cast<ports::TfrmForPEth*>(m_->ForeignPort->Frame())->edCurCliIdx->SetText("3");
            }
            break;
        case User::PortButton: (c_.source == Source::Port2Serial ? m_->sbPort2 : m_->sbPort)->Click(); break;
        case User::F10: {
            std::uint16_t key = vcl::VK_F10;
            m_->FormKeyDown(m_, key, {});
            break;
        }
        default: break;
    }
}

void Run::Tick() {
    const auto now = Clock::now();
    max_gap_ = std::max(max_gap_, std::chrono::duration_cast<std::chrono::milliseconds>(now - last_tick_));
    last_tick_ = now;
    if (!closed_)
        for (const TReceiveSource& s : StreamsToWatch()) max_cost_ = std::max(max_cost_, m_->RxQueue.Cost(s));
    switch (stage_) {
        case Stage::Flooding:
            if (InEffect()) {
                effect_at_ = now;
                event_slot_ = m_->RxRouter.EventSlot();
                recv_slot_ = m_->RecvSource().IsMain ? 1 : 0;
                for (int slot : {0, 1}) counted_at_effect_[slot] = m_->PortSlots[slot].RxCount;
                stage_ = Stage::Effect;
            } else if (now - start_ > 10s) {
                Fail("the plug-in's action never began");
                stage_ = Stage::Settle;
            }
            break;
        case Stage::Effect:
            if (now - effect_at_ < 200ms) break;
            for (int slot : {0, 1}) counted_at_action_[slot] = m_->PortSlots[slot].RxCount;
            ActionStart();
            second_at_ = now;
            stage_ = Stage::Second;
            break;
        case Stage::Second:
            if (now - second_at_ < 300ms) break;
            // Output comes on again once the plug-in's wait is over, so that
            // the file switched off gets what was read for it and waited.
            if (c_.user == User::OutputOffOn && !PluginDone() && now - second_at_ < 5s) break;
            if (!closed_) ActionSecond();
            stage_ = Stage::Settle;
            break;
        case Stage::Settle:
            if (now - start_ > 2500ms && PluginDone()) stage_ = Stage::Done;
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
    start_ = last_tick_ = Clock::now();
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [this] { Tick(); });
    timer.start();
    StartFloods();
    if (LoadPlugin()) {
        if (c_.plugin == Plugin::RecvLoopOnSend) {
            m_->TrBCB->SetText("0");
            m_->TrBCBChange(m_->TrBCB);
            m_->Transb->Click();
        }
        if (!test_support::PumpUntil([&] { return stage_ == Stage::Done; }, 40s)) Fail("the cell did not end");
    }
    StopFloods();
    // What was sent is read and handed on; then nothing moves for a while.
    std::uint64_t last = ~0ull;
    auto moved = Clock::now();
    test_support::PumpUntil(
        [&] {
            const std::uint64_t now = closed_ ? 0 : SerialRead(true) + SerialRead(false) + m_->PortSlots[0].RxCount + m_->PortSlots[1].RxCount;
            if (now != last) {
                last = now;
                moved = Clock::now();
            }
            return m_->RxQueue.Empty() && !m_->PluginBusy && Clock::now() - moved > 400ms;
        },
        30s);
    timer.stop();
    if (!closed_) {
        Snapshot();
        const auto at = Clock::now();
        m_->Close();
        close_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - at).count();
        closed_ = true;
    }
    // A plug-in event the close stopped returns at once.
    if (!test_support::PumpUntil([&] { return !m_->PluginBusy; }, 1s)) Fail("the plug-in's event went on after the close");
    // The segments stand in the order they were the destination: a cell
    // with output on, off and on again filled out1, the list, out2.
    for (Segment& s : segments_)
        if (!s.file.empty()) s.bytes = test_support::Slurp(s.file);
    Verify(r);
    StopFloods();
    w_.reset();
    return r;
}

void Run::Verify(Result& R) {
    // Which streams the devices sent, and how much each program port read.
    struct Stream {
        int index;
        std::size_t sent_bytes;
        std::uint32_t sent_records;
        std::uint64_t read;  // serial: the port's bytes read; 0: unknown
        bool datagrams;
    };
    std::vector<Stream> streams;
    switch (c_.source) {
        case Source::MainSerial:
            streams.push_back({0, main_dev_->Written(), main_dev_->Records(), SerialRead(true), false});
            break;
        case Source::Port2Serial:
            streams.push_back({1, second_dev_->Written(), second_dev_->Records(), SerialRead(false), false});
            break;
        case Source::BothSerial:
            streams.push_back({0, main_dev_->Written(), main_dev_->Records(), SerialRead(true), false});
            streams.push_back({1, second_dev_->Written(), second_dev_->Records(), SerialRead(false), false});
            break;
        default:
            for (auto& p : peers_)
                streams.push_back({p->Stream(), p->Written(), p->Records(), 0, c_.source == Source::Udp});
            break;
    }
    const bool lossless = lossy_ == 0;
    std::size_t seen_total = 0;
    double worst_lag = 0;
    long datagrams_missing = 0;
    for (const Stream& s : streams) {
        Decoder d(s.index);
        for (const Segment& seg : segments_) {
            if (seg.list) {
                for (const Segment::Line& l : seg.lines)
                    for (char ch : l.bytes) d.Feed(ch, l.time);
            } else {
                for (char ch : seg.bytes) d.Feed(ch, std::nan(""));
            }
            d.Break();
        }
        seen_total += d.bytes;
        const std::string tag = "stream " + std::to_string(s.index) + ": ";
        // Once each, in order.
        long gaps = 0, missing = 0;
        for (std::size_t i = 1; i < d.records.size(); ++i) {
            const long step = d.records[i].seq - d.records[i - 1].seq;
            if (step <= 0) {
                Fail(tag + "record " + std::to_string(d.records[i].seq) + " after " +
                     std::to_string(d.records[i - 1].seq) + " (twice or out of order)");
                break;
            }
            if (step > 1) {
                ++gaps;
                missing += step - 1;
            }
        }
        if (!d.records.empty() && d.records.front().seq != 0) {
            ++gaps;
            missing += d.records.front().seq;
        }
        if (d.records.empty()) Fail(tag + "nothing arrived");
        if (s.datagrams) {
            datagrams_missing += static_cast<long>(s.sent_records) - static_cast<long>(d.records.size());
        } else if (lossless && gaps > 0) {
            Fail(tag + std::to_string(missing) + " records missing in " + std::to_string(gaps) + " places");
        } else if (gaps > lossy_ + static_cast<long>(d.partials)) {
            Fail(tag + std::to_string(gaps) + " gaps for " + std::to_string(lossy_) + " losing actions");
        }
        if (lossless && d.partials > 0) Fail(tag + std::to_string(d.partials) + " records cut short");
        // Every serial byte the port read is shown or written; every byte a
        // TCP peer sent is read.
        if (s.read != 0 && lossless && d.bytes != s.read)
            Fail(tag + std::to_string(s.read) + " bytes read, " + std::to_string(d.bytes) + " shown or written");
        // (A close leaves what a peer sent and the port had not read yet to
        // the system, which drops it with the connection.)
        if (s.read == 0 && !s.datagrams && lossless && c_.user != User::Close && d.bytes != s.sent_bytes)
            Fail(tag + std::to_string(s.sent_bytes) + " bytes sent, " + std::to_string(d.bytes) + " shown or written");
        // A Clear or output switched off acts on what was read before it:
        // the list after it shows only what was read later, and the file
        // switched off holds nothing written later.
        if (cut_segment_ >= 0) {
            for (const Decoder::Rec& rec : d.records) {
                if (rec.segment == cut_segment_ && rec.stamp < cut_at_) {
                    Fail(tag + "record " + std::to_string(rec.seq) + ", read before " +
                         (c_.user == User::Clear ? "the Clear" : "output was switched off") + ", shows after it");
                    break;
                }
                long after = rec.written - MsOfDay(cut_at_);
                if (after < -43200000) after += 86400000;
                if (c_.user == User::OutputOffOn && rec.segment == 0 && after > 5) {
                    Fail(tag + "record " + std::to_string(rec.seq) + ", written after output was switched off, is in its file");
                    break;
                }
            }
        }
        // Stamped when read: the devices' records are read within a tick.
        for (const Decoder::Rec& rec : d.records) {
            if (std::isnan(rec.stamp)) continue;
            long lag = MsOfDay(rec.stamp) - rec.written;
            if (lag < -43200000) lag += 86400000;
            worst_lag = std::max(worst_lag, static_cast<double>(lag));
            // The time the loop could not run is no stamp's fault: a port
            // is read when the loop gets its turn.
            if (lag > 100 + max_gap_.count() || lag < -5) {
                Fail(tag + "record " + std::to_string(rec.seq) + " stamped " + std::to_string(lag) +
                     " ms after it was written");
                break;
            }
        }
    }
    // A datagram the port had no room for is lost and told; nothing else is.
    if (c_.source == Source::Udp && lossless && c_.user != User::Close && datagrams_missing > lost_told_)
        Fail(std::to_string(datagrams_missing) + " datagrams missing, " + std::to_string(lost_told_) + " told lost");
    // A receive event that waits holds its own port's bytes, and those of
    // the other port when the plug-in declares that port's event too (they
    // wait for it); without one, the other port's go on meanwhile (counted
    // as they come).
    if (event_slot_ >= 0 && m_->PluginBusy == false) {
        const int other = 1 - event_slot_;
        const bool declared = PluginSource(c_).find(other == 1 ? "procedure OnReceive;" : "procedure OnReceive2;") !=
                              std::string::npos;
        const std::string during = std::string("while the ") + (event_slot_ == 1 ? "main port's" : "Port2's") +
                                   " event waited, the other port's bytes ";
        if (SlotFloods(other) && !declared && counted_at_action_[other] == counted_at_effect_[other])
            Fail(during + "waited too");
        // (A Recv takes the bytes of its source, which may be the other
        // port's: an Ethernet server's current client.)
        const bool taken = c_.plugin == Plugin::RecvInEvent && recv_slot_ == other;
        if (SlotFloods(other) && declared && !taken && counted_at_action_[other] != counted_at_effect_[other])
            Fail(during + "went on without their own event");
    }
    // What waits stays within a port's input buffer.
    if (max_cost_ > 1000000 + 65536) Fail("the receive queue held " + std::to_string(max_cost_) + " bytes");
    if (max_gap_ > 1000ms) Fail("the window did not answer for " + std::to_string(max_gap_.count()) + " ms");
    if (close_ms_ > 1000) Fail("closing took " + std::to_string(close_ms_) + " ms");
    // Boxes: only the plug-in's own.
    std::vector<std::string> boxes(w_->Messages.begin() + static_cast<std::ptrdiff_t>(messages_at_start_), w_->Messages.end());
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
    std::ostringstream sum;
    sum << "seen " << seen_total << " B, queue max " << max_cost_ << " B, loop gap max " << max_gap_.count()
        << " ms, stamp lag max " << worst_lag << " ms, close " << close_ms_ << " ms";
    R.Summary = sum.str();
}

}  // namespace

std::string Name(const Cell& C) {
    return std::string(SourceName(C.source)) + " | " + PluginName(C.plugin) + " | " + UserName(C.user);
}

void PrintTo(const Cell& C, std::ostream* Out) { *Out << Name(C); }

bool Applicable(const Cell& C, std::string* Why) {
    if (C.plugin == Plugin::OtherPortEvent && (C.source == Source::Udp || C.source == Source::TcpClient)) {
        if (Why) *Why = "the role has one peer: there is no other port";
        return false;
    }
    return true;
}

std::vector<Cell> AllCells() {
    std::vector<Cell> out;
    for (int s = 0; s < kSources; ++s)
        for (int p = 0; p < kPlugins; ++p)
            for (int u = 0; u < kUsers; ++u)
                out.push_back({static_cast<Source>(s), static_cast<Plugin>(p), static_cast<User>(u)});
    return out;
}

std::vector<Cell> CoverCells() {
    // Greedy: the cell that holds most pairs not yet held, until every pair
    // an applicable cell holds is held.
    auto pairs = [](const Cell& c) {
        const int s = static_cast<int>(c.source), p = static_cast<int>(c.plugin), u = static_cast<int>(c.user);
        return std::array<int, 3>{s * kPlugins + p, 1000 + s * kUsers + u, 2000 + p * kUsers + u};
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
    if (!Applicable(C, &why)) return {true, {}, "n/a: " + why};
    Run run(C);
    return run.Go();
}

}  // namespace receive_table
