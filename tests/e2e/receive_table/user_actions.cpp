#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "e2e/receive_table/run.h"
#include "platform/vcl/dialogs.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "terminal/receive_format.h"

// The user's actions in a cell, and what the run keeps of each destination
// before an action changes it: a snapshot of the list, the bytes of a file.
namespace receive_table::detail {

void Run::OpenOutput(const std::string& File) {
    Segment s;
    s.file = File;
    s.text = TextView(c_.view);
    s.from = segments_.empty() ? kNoStamp : Now();
    segments_.push_back(std::move(s));
    // (Output coming on clears the list.)
    cleared_.push_back(NowMsOfDay());
    ++outputs_;
    const int filter = TextView(c_.view) ? 1 : 2;  // text, or the bytes as they came
    vcl::Application->DialogHook = [File, filter](vcl::TCommonDialog& d) {
        auto* save = dynamic_cast<vcl::TOpenDialog*>(&d);
        if (!save) return false;
        save->FileName = File;
        save->FilterIndex = filter;
        return true;
    };
    m_->Outputtofile1Click(nullptr);
    vcl::Application->DialogHook = nullptr;
    if (!m_->OutputOn()) Fail("output to " + File + " did not open");
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
    again.text = TextView(c_.view);
    again.after_clear = true;
    again.from = Now();
    segments_.push_back(std::move(again));
}

std::vector<Segment::Line> Run::ListLines() {
    std::vector<Segment::Line> out;
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
            out.push_back({-3, MsOfDay(r.Time), r.Format, text});
            continue;
        }
        if (r.Format == terminal::dfMSG) {
            // A peer's name line; a plug-in's line about its event's chunk
            // ("event " and the chunk's first letters); any other line.
            if (text.find("RV data from CliIdx") != std::string::npos || text.find("UDP data from") != std::string::npos)
                out.push_back({-1, MsOfDay(r.Time), r.Format, text});
            else if (text.rfind("event ", 0) == 0)
                out.push_back({-2, MsOfDay(r.Time), r.Format, text.substr(6)});
            else
                out.push_back({-3, MsOfDay(r.Time), r.Format, text});
            continue;
        }
        if (r.Dir > 1) continue;
        std::string bytes;
        try {
            bytes = terminal::DecodeLineBytes(r.Format, text);
        } catch (const std::exception& e) {
            Fail("a line that reads back as no bytes: \"" + text.substr(0, 60) + "\"");
        }
        out.push_back({r.Dir, MsOfDay(r.Time), r.Format, bytes});
    }
    return out;
}

void Run::Snapshot() {
    Segment s;
    s.list = true;
    s.lines = ListLines();
    // The list from the last Clear (or the start) until now.
    for (auto it = segments_.rbegin(); it != segments_.rend(); ++it)
        if (it->list && it->lines.empty() && it->to == kForever) {
            s.from = it->from;
            s.joins = it->joins;
            s.after_clear = it->after_clear;
            segments_.erase(std::next(it).base());
            break;
        }
    s.to = Now();
    if (GraphView(c_.view)) VerifyGraph(s);
    segments_.push_back(std::move(s));
}

void Run::CloseWindow() {
    CollectEvents();
    Snapshot();
    stillness_.Sample();
    const auto at = Clock::now();
    close_from_ = NowMsOfDay();
    polling_at_close_ = m_->PollingIndex;
    SampleUdpDrops();
    // (What the close hands on to the list is not seen: the close empties
    // the list. With output on, all of it goes to the file.)
    output_on_at_close_ = m_->OutputOn() != nullptr;
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
            list.after_clear = true;
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
                // (A pipe has nothing to empty: its reader has what it took.)
                if (!pipe_) Capture(w_->dir.File("out1.bin"));
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
            if (Step == 0) {
                Lossy(LossFrom(now), kForever, true, true, "the port closed");
                port_closed_ms_ = now;
            }
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
        case User::OffThenClose:
            // (The file switched off still takes what was read for it,
            // through the close: it is the program's to finish.)
            if (Step == 0) {
                SwitchOutputOff();
                break;
            }
            [[fallthrough]];
        case User::Close: {
            // What the ports had not read when they closed is the system's;
            // what was read for a pipe whose reader stopped is given up.
            Lossy(LossFrom(now), kForever, true, true, "the close");
            if (c_.view == View::PipeStops && reader_gone_)
                Lossy(LossFrom(reader_gone_ms_), kForever, true, false, "the pipe's reader stopped before the close");
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

}  // namespace receive_table::detail
