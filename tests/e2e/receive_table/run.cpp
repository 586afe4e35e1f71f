#include "e2e/receive_table/run.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/vcl/dialogs.h"
#include "platform/vcl/file_text.h"
#include "platform/win/message_window.h"
#include "platform/win/timers.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/qt_app.h"
#include "support/processor_share.h"

// The run that drives a cell: setting up the window and its ports, the
// floods, the plug-in, the test's tick that follows the plug-in's wait and
// takes the user's steps in it, and the drain and close at the end.
namespace receive_table::detail {

using namespace std::chrono_literals;

namespace {

// How many descriptors of this process (the program runs in it) write into
// the named file: the test's own reader only reads.
int WritersOnto(const std::string& Path) {
    int n = 0;
    DIR* d = ::opendir("/proc/self/fd");
    if (!d) return -1;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        char target[4096];
        const std::string fd = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t size = ::readlink(fd.c_str(), target, sizeof target - 1);
        if (size <= 0 || std::string(target, static_cast<std::size_t>(size)) != Path) continue;
        std::ifstream info(std::string("/proc/self/fdinfo/") + e->d_name);
        for (std::string key; info >> key;) {
            if (key != "flags:") continue;
            std::string octal;
            info >> octal;
            if ((std::stoi(octal, nullptr, 8) & O_ACCMODE) != O_RDONLY) ++n;
            break;
        }
    }
    ::closedir(d);
    return n;
}

}  // namespace

void Run::CheckPipeLetGo(bool Closed) {
    // A file onto the pipe that failed, or that took the last of what it
    // was owed, is let go: a reader waiting for the end of its data gets
    // it, and the name is free for a Save as or a new output. Only the
    // output that is on may hold it still; after the close, nothing.
    if (!pipe_) return;
    const terminal::TListOutput* on = Closed ? nullptr : m_->OutputOn();
    const int allowed = on && on->Holds(pipe_path_) ? 1 : 0;
    int writers = 0;
    const auto letGo = [&] { return (writers = WritersOnto(pipe_path_)) <= allowed; };
    test_support::ProcessorShare share;
    if (test_support::PumpUntil(letGo, 3s)) return;
    const bool late = test_support::PumpUntil(letGo, 30s);
    share.Sample();
    const std::string why =
        std::string(Closed ? "after the close and the outputs finished, " : "once everything was read, ") +
        std::to_string(writers) + " descriptor(s) of the program still write into the pipe (" +
        std::to_string(allowed) + " expected: " + (allowed ? "the output that is on" : "none") + ")";
    if (test_support::Judge(share, 3s, late).verdict == test_support::Timely::kVoid)
        Void(why + " for 3 s, let go only " + share.Account());
    else
        Fail(why);
}

bool Run::PipeHolds() const {
    if (!pipe_) return false;
    if (m_->OutputOn() && m_->OutputOn()->Holds(pipe_path_) && m_->OutputOn()->Holding()) return true;
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
        // (What a socket holds may have been written long before it is
        // read: a burst runs ahead of the port's reads.)
        const long written = FirstReadAfter(s, At);
        if (written != kNoStamp && Minus(written - 20, floor) < 0) floor = written - 20;
    }
    return floor;
}

long Run::FirstReadAfter(int Stream, long At) const {
    const auto it = reads_.find(ReadKey(Stream));
    if (it == reads_.end()) return kNoStamp;
    const std::vector<Read>& reads = it->second;
    std::size_t i = 0;
    while (i < reads.size() && Minus(reads[i].at, At) < 0) ++i;
    // The first whole record read from then on, by the time it carries
    // (the device's log is its own while it runs); the one before it, being
    // read, was made at most a tick of the device before.
    Decoder first(Stream);
    for (; i < reads.size() && first.records.empty(); ++i) first.Feed(reads[i].bytes, kNoStamp);
    return first.records.empty() ? kNoStamp : first.records.front().written - 10;
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
    if (!m_->cp1->Connected() || !m_->cp2->Connected())
        return SetUpFails(std::string("the serial ports did not open (main ") + (m_->cp1->Connected() ? "open" : "closed") +
                          ", Port2 " + (m_->cp2->Connected() ? "open" : "closed") + ")");
    if (m_->cp1->InBufSize() != kSerialInBuf)
        return SetUpFails("the main port's input buffer is " + std::to_string(m_->cp1->InBufSize()) + " B, not " +
                          std::to_string(kSerialInBuf));
    return true;
}

bool Run::SetUpEthernet() {
    m_ = w_->Start();
    m_->FormActivate(m_);
    bound_ = kClientBound;
    const int ethernet = m_->ComNcb->Items().IndexOfObject(ports::EthernetPortId);
    if (ethernet <= 0) return SetUpFails("the port list has no Ethernet port");
    m_->ComNcb->SelectByUser(ethernet);
    if (!m_->ForeignPort) return SetUpFails("choosing the Ethernet port made no port");
    auto* frame = static_cast<ports::TfrmForPEth*>(m_->ForeignPort->Frame());
    const int role = c_.source == Source::Udp ? ports::erUDP
                     : c_.source == Source::TcpClient ? ports::erTCPClient
                                                      : ports::erTCPServer;
    frame->cbbRole->SelectByUser(role);
    if (c_.source == Source::Udp) {
        frame->edLocalPort->SetText("0");
        frame->edDstIp->SetText("0.0.0.0");
        m_->sbPort->Click();
        if (!m_->ForeignPort->Active()) return SetUpFails("the UDP port did not open");
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
            return SetUpFails("the TCP client did not connect to the test's listener in 10 s");
        peers_.push_back(std::make_unique<SocketDevice>(peer, false, 0));
        return true;
    }
    server_port_ = test_support::FreePort(SOCK_STREAM);
    frame->edLocalPort->SetText(std::to_string(server_port_));
    m_->sbPort->Click();
    if (!m_->ForeignPort->Active()) return SetUpFails("the TCP server did not listen on " + std::to_string(server_port_));
    // Three clients, numbered 1 to 3 in the order they come.
    for (int i = 1; i <= 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = test_support::LoopbackAddress(server_port_);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return SetUpFails("client " + std::to_string(i) + " could not connect: " + std::strerror(errno));
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
            return SetUpFails("the server did not tell of client " + std::to_string(i) + " in 10 s");
    }
    // The current client is another than client 1.
    frame->edCurCliIdx->SetText("3");
    if (m_->ForeignPort->CurrentClient() != 3)
        return SetUpFails("the current client is " + std::to_string(m_->ForeignPort->CurrentClient()) + ", not 3");
    return true;
}

bool Run::SetUp() {
    w_ = std::make_unique<Window>(
        test_support::MainWindowOptions{
            .Start = false, .Activate = false, .Graph = GraphView(c_.view), .Title = true});
    const bool ok = Serial(c_.source) ? SetUpSerial() : SetUpEthernet();
    if (!ok) return false;
    WatchReads();
    m_->RVPnlTime = terminal::tpMilliseconds;
    m_->mTimecaninterruptdatarow->SetChecked(true);
    m_->m1000msClick(m_->PollingEntry(1));  // 5 ms, and a setting the close must save
    m_->DataFormat = WordView(c_.view) ? terminal::dfHW : terminal::dfHEX;
    m_->ASCII1Click(nullptr);
    if (GraphView(c_.view)) {
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
               c_.user == User::ClearThenOff || c_.user == User::OutputResumed || TextView(c_.view) ||
               c_.user == User::OffThenClose || PipeView(c_.view);
    if (PipeView(c_.view)) {
        // The first output is a FIFO whose reader takes from it steadily
        // from before output comes on until the cell ends.
        pipe_path_ = w_->dir.File("out1.bin");
        if (::mkfifo(pipe_path_.c_str(), 0600) != 0) return SetUpFails("no FIFO: " + std::string(std::strerror(errno)));
        pipe_ = std::make_unique<test_support::FifoReader>(pipe_path_);
        if (!pipe_->Open() || !pipe_->SetCapacity(Serial(c_.source) ? kSerialPipeCapacity : kEthernetPipeCapacity))
            return SetUpFails("the FIFO's reader did not open it or set its size");
        if (Serial(c_.source))
            pipe_->TakeEvery(kSerialPipeTake, kSerialPipePace);
        else
            pipe_->TakeEvery(kEthernetPipeTake, kEthernetPipePace);
    }
    if (to_file_) OpenOutput(w_->dir.File("out1.bin"));
    return true;
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
                                 c_.source != Source::Udp ? per_tick : WordView(c_.view) ? 1 : 2, slow);
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
    recv_since_ = PluginVar("SINCE");
    recv_until_ = PluginVar("UNTIL");
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
    if (!closed_) SampleUdpDrops();
    if (pipe_ && Serial(c_.source) && !closed_ && (step_ == 0 || c_.user == User::Nothing)) {
        // (The pipe's content first: a take meanwhile is then counted
        // twice, never missed.)
        const long in_pipe = pipe_->Queued();
        const long got = static_cast<long>(pipe_->Taken().size()) + in_pipe;
        const long counted = static_cast<long>(m_->PortSlots[0].RxCount + m_->PortSlots[1].RxCount);
        pipe_unread_max_ = std::max(pipe_unread_max_, counted - got);
    }
    if (FailingPipe(c_.view) && !reader_gone_ && stage_ >= Stage::Effect && stage_ != Stage::Done) {
        const int after = ReaderGoesAfter(c_.user, c_.view);
        if (after < 0 ? now - effect_at_ >= 100ms : step_ > after && now - acted_at_ >= 100ms) ReaderGoes();
    }
    if (pipe_ && !closed_) NotePipeFailure();
    // The window's pump may run at any turn of the loop, also one that
    // read something just before it: while a Recv of the plug-in waits,
    // the tick is such a turn (what the Recv's port read meanwhile waits
    // for the Recv all the same). Only where the Recv reads every stream:
    // another stream the pump handed on then would stand ahead of what the
    // Recv takes next, read before it.
    if (!closed_ && RecvWaits() && InWait() &&
        (c_.source == Source::MainSerial || c_.source == Source::Udp || c_.source == Source::TcpClient))
        m_->PumpReceived();
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
                if (PipeView(c_.view) && (c_.source == Source::TcpServer || c_.source == Source::TcpClient)) {
                    peers_[0]->Burst(kPipeBurst);
                }
                stage_ = Stage::Effect;
            } else if (now - start_ > 10s) {
                FailUnlessStill("the plug-in's action never began in 10 s (BEGUN \"" + PluginVar("BEGUN") + "\", WAIT \"" +
                                    PluginVar("WAIT") + "\"): " + StateNow(),
                                run_start_, NowMsOfDay(), 5000);
                stage_ = Stage::Settle;
            }
            break;
        }
        case Stage::Effect:
            if (now - effect_at_ < 200ms || SendersEndFirst()) break;
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
            // The floods stop at the planned time whatever the plug-in does:
            // a tick may run inside a receive event that pumps the loop while
            // it computes, and sees it busy however long the floods last.
            if (!floods_stopped_ && now >= FloodsEnd()) {
                // (In a word format each stream then leaves a byte for the
                // close to show alone, where it was read for.)
                if (WordView(c_.view))
                    for (Device* d : {static_cast<Device*>(main_dev_.get()), static_cast<Device*>(second_dev_.get())})
                        if (d) d->StopOdd();
                if (WordView(c_.view))
                    for (auto& p : peers_) p->StopOdd();
                StopFloods();
                floods_stopped_ = true;
            }
            if (floods_stopped_ && PluginDone()) stage_ = Stage::Done;
            break;
        case Stage::Done: break;
    }
}

Result Run::Go() {
    Result r;
    // A reader that stops is given up after a second, not the usual five;
    // the setting is the process's, put back when the cell ends.
    const char* stall = std::getenv("VOSTREL_TEST_WRITE_STALL_MS");
    const std::string stall_before = stall ? stall : "";
    if (c_.view == View::PipeStops) ::setenv("VOSTREL_TEST_WRITE_STALL_MS", "1000", 1);
    struct PutBack {
        bool was;
        std::string value;
        ~PutBack() {
            if (was)
                ::setenv("VOSTREL_TEST_WRITE_STALL_MS", value.c_str(), 1);
            else
                ::unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
        }
    } put_back{stall != nullptr, stall_before};
    if (!SetUp()) {
        r.Ok = false;
        r.Failures.push_back("the cell could not be set up: " + setup_failure_);
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
            FailUnlessStill("the cell did not end in 40 s: " + StateNow(), run_start_, NowMsOfDay(), 20000);
    }
    StopFloods();
    // What was sent is read and handed on; then nothing moves for a while.
    std::uint64_t last = ~0ull;
    auto moved = Clock::now();
    const long drain_from = NowMsOfDay();
    const bool drained = test_support::PumpUntil(
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
    // A drain that did not end leaves the list half read: judged so, it
    // would say that each stream's tail is missing. The window's thread that
    // waited for a processor meanwhile had no turn to read it.
    const std::size_t voids_before = voids_.size();
    if (!drained)
        FailUnlessStill("what was read did not drain in 30 s: " + StateNow(), drain_from, NowMsOfDay(), 3000);
    const bool undecided = voids_.size() > voids_before;
    if (pipe_) NotePipeFailure();
    if (!closed_ && !undecided) CheckPipeLetGo(false);
    timer.stop();
    if (!closed_) CloseWindow();
    // A plug-in event the close stopped returns at once.
    {
        test_support::ProcessorShare share;
        if (!test_support::PumpUntil([&] { return !m_->PluginBusy; }, 1s)) {
            const bool ended = test_support::PumpUntil([&] { return !m_->PluginBusy; }, 30s);
            share.Sample();
            if (test_support::Judge(share, 1s, ended).verdict == test_support::Timely::kVoid)
                Void("the plug-in's event ended after the close only when it " + share.Account());
            else
                Fail("the plug-in's event went on after the close");
        }
    }
    // What the program still owes its outputs once the window has gone it
    // writes then, to a reader that goes on taking; the pipe's reader takes
    // what is left once the program let go of it.
    m_->FinishOutputs();
    CheckPipeLetGo(true);
    std::string piped;
    if (pipe_) {
        pipe_->StopTaking();
        piped = pipe_->Taken() + pipe_->Take();
    }
    for (Segment& s : segments_)
        if (!s.list && !s.captured) s.bytes = s.file == pipe_path_ ? piped : test_support::Slurp(s.file);
    if (undecided) {
        // Nothing else is judged on what was not read.
        r.Void = true;
        r.Voids = voids_;
        r.Ok = failures_.empty();
        r.Failures = failures_;
        r.Summary = "undecided: the drain did not end";
    } else {
        Verify(r);
    }
    StopFloods();
    w_.reset();
    return r;
}

bool Run::SendersEndFirst() {
    if (c_.source != Source::Udp || c_.user != User::PortButton || !WordView(c_.view)) return false;
    const auto now = Clock::now();
    std::size_t read = 0;
    for (int s : Streams()) read += BytesRead(s);
    if (senders_ended_ == Clock::time_point{}) {
        for (auto& p : peers_) p->StopOdd();
        senders_ended_ = senders_read_moved_ = now;
        senders_read_ = read;
        return true;
    }
    if (read != senders_read_) {
        senders_read_ = read;
        senders_read_moved_ = now;
    }
    // (Read to the end once nothing more came for a while.)
    return now - senders_read_moved_ < 150ms && now - senders_ended_ < 1s;
}

void Run::ReaderGoes() {
    reader_gone_ = true;
    reader_gone_ms_ = Now();
    if (c_.view == View::PipeLeaves)
        pipe_->LeaveNow();
    else
        pipe_->StopTaking();
}

void Run::NotePipeFailure() {
    if (pipe_failed_ms_ != kNoStamp) return;
    const auto notices = Window::Notices();
    if (std::none_of(notices.begin(), notices.end(), [](vcl::TForm* f) {
            return Window::NoticeText(f).find("Cannot write") != std::string::npos;
        }))
        return;
    pipe_failed_ms_ = Now();
    // Output that was on into the pipe is off now: what the pipe had not
    // taken, and what is read from now on, go to the list, without a loss
    // between. (A file switched off gives its rest to the list after what
    // the list has now.)
    const std::size_t on = OutputOn();
    if (on && segments_[on - 1].file == pipe_path_) {
        segments_[on - 1].to = pipe_failed_ms_;
        Segment list;
        list.list = true;
        list.joins = true;
        segments_.push_back(std::move(list));
    }
}

Clock::time_point Run::FloodsEnd() const {
    // (Onto the slow pipe the flood goes on longer: a port that read on
    // while the pipe was behind would have read far more than its input
    // buffer by then.) A wait that began late floods on until it is over,
    // as it would have on time: 1500 ms from its start.
    Clock::time_point end = start_ + (pipe_ ? 5000ms : 2500ms);
    if (Waits(c_) && stage_ > Stage::Flooding && hold_lo_ != kNoStamp) end = std::max(end, effect_at_ + 1800ms);
    return end;
}

void Run::SampleUdpDrops() {
    if (c_.source != Source::Udp || !m_->ForeignPort || !m_->ForeignPort->Active()) return;
    const auto* port = static_cast<ports::TEthernetPort*>(m_->ForeignPort.get());
    if (!port->Transport()) return;
    const unsigned local = test_support::SocketPort(port->Transport()->Socket());
    // "sl local_address rem_address ... drops": the local address as hex
    // address:port, the drops last.
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, address, last;
        fields >> slot >> address;
        for (std::string f; fields >> f;) last = f;
        const std::size_t colon = address.find(':');
        if (colon == std::string::npos || std::stoul(address.substr(colon + 1), nullptr, 16) != local) continue;
        long& seen = udp_drops_[local];
        seen = std::max(seen, std::atol(last.c_str()));
    }
}

std::string Run::StateNow() const {
    std::size_t bytes = 0, pieces = 0;
    m_->RxQueue.Any([&](const terminal::TReceivedPiece& p) {
        bytes += p.Bytes.size();
        ++pieces;
        return false;
    });
    std::string s = std::to_string(pieces) + " pieces (" + std::to_string(bytes) + " B) wait, the plug-in " +
                    (m_->PluginBusy ? "runs an event" : "is idle");
    if (Waits(c_)) s += " (its wait " + std::string(PluginVar("WAIT") == "1" ? "goes on" : "is over") + ")";
    if (pipe_) s += PipeHolds() ? ", the pipe holds back" : ", the pipe takes all";
    s += ", the ports counted " + std::to_string(m_->PortSlots[0].RxCount) + " and " +
         std::to_string(m_->PortSlots[1].RxCount) + " B, " +
         std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count()) +
         " ms into the cell, the floods " + (floods_stopped_ ? "stopped" : "on");
    return s;
}

ports::TfrmForPEth* Run::ForeignFrame() const {
    return m_->ForeignPort ? static_cast<ports::TfrmForPEth*>(m_->ForeignPort->Frame()) : nullptr;
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

}  // namespace receive_table::detail
