#include <sstream>

#include "e2e/receive_table/run.h"
#include "platform/vcl/ini_files.h"

// The oracle's checks of what waited and of the window: every stream within
// its bound (and driven to it where a wait should), what the slow pipe held
// back, a window that answers and closes at once, no box or notice of its
// own, and the settings saved. Then the oracle's order of checks.
namespace receive_table::detail {

using namespace std::chrono_literals;

std::size_t Run::VerifyBounds() {
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
    return queued;
}

long Run::VerifyPipe() {
    // A serial device floods faster than the slow pipe's reader takes: the
    // program kept what the pipe could not take yet and held the port back,
    // instead of waiting for the pipe. (Output switched off early leaves the
    // pipe before it is full.)
    long pipe_held_ms = 0;
    for (const auto& [from, to] : pipe_spans_) pipe_held_ms += Minus(to, from) + 20;
    if (c_.view == View::Pipe && Serial(c_.source) && c_.user != User::OutputOffOn && c_.user != User::OffThenClose &&
        pipe_spans_.empty())
        Fail("the slow pipe never held back what was read for it: nothing waited for its reader");
    // What the pipe has not taken holds back what comes after it, within
    // its port's input buffer: the output keeps no more for the pipe than
    // one hand-on gave it when the pipe filled (a piece, or an event's
    // chunk, each within its port's input buffer).
    if (c_.view == View::Pipe && Serial(c_.source)) {
        const long ports = c_.source == Source::BothSerial ? 2 : 1;
        const long most = ports * static_cast<long>(bound_) + 1024;
        if (pipe_unread_max_ > most)
            Fail("the output kept " + std::to_string(pipe_unread_max_) +
                 " bytes that the slow pipe's reader had not got, past the " + std::to_string(most) +
                 " one hand-on gives it: the port read on while the pipe was behind");
    }
    return pipe_held_ms;
}

void Run::VerifyWindow() {
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
    // The anti-hang watchdog raises the polling delay (and says so) when the
    // loop had no turn for seconds: on a machine that gave the window's
    // thread no processor meanwhile, that is the machine's doing.
    for (const auto& notice : w_->Notices()) {
        const std::string text = Window::NoticeText(notice);
        // (A pipe whose reader goes fails, and says so.)
        if (FailingPipe(c_.view) && text.find("Cannot write") != std::string::npos) continue;
        if (text.find("Polling delay was increased") != std::string::npos)
            FailUnlessStill("the anti-hang watchdog raised the polling delay to entry " +
                                std::to_string(polling_at_close_) + ": \"" + text.substr(0, 60) + "...\"",
                            run_start_, close_from_ != kNoStamp ? close_from_ : NowMsOfDay(), 2000);
        else
            Fail("a notice: " + text);
    }
    // The settings were saved as the window had them when it closed (the
    // polling delay the table set, or the one the watchdog raised it to),
    // naming the plug-in unless the user unloaded it.
    vcl::TIniFile ini(w_->ini);
    const int polling = ini.ReadInteger("Main", "PollingDelay", -1);
    if (polling != polling_at_close_)
        Fail("the settings were not saved: they hold PollingDelay=" + std::to_string(polling) +
             " where the window had entry " + std::to_string(polling_at_close_) + " when it closed");
    else if (polling != 1 && w_->Notices().empty())
        Fail("the polling delay is entry " + std::to_string(polling) + ", not the table's 1, and nothing said why");
    const bool dropped = RecvLosesItsPort() && c_.plugin == Plugin::RecvLoopOnLoad;
    const std::string want_plugin = plugin_file_.empty() || unloaded_ || dropped ? "" : plugin_file_;
    if (ini.ReadString("Config11", "PlugPath", "?") != want_plugin)
        Fail("the settings name the plug-in \"" + ini.ReadString("Config11", "PlugPath", "?") + "\"");
}

void Run::Verify(Result& R) {
    const std::vector<int> streams = Streams();
    const bool datagrams = c_.source == Source::Udp;
    VerifyViews();
    AddPurgeLoss(streams);
    std::map<int, std::set<long>> exempt = RecvExempt(streams);
    Figures f;
    for (int s : streams) VerifyStream(s, exempt[s], f);
    // A datagram the port had no room for is lost and told; nothing else is,
    // for the list nor for the events.
    // (Unless the system dropped them before the port could read them, its
    // socket's buffer full while the window's thread had no processor.)
    long dropped = 0;
    for (const auto& [port, n] : udp_drops_) dropped += n;
    const auto datagrams_told = [&](long Missing, const std::string& Where) {
        if (Missing <= lost_told_) return;
        const std::string why = std::to_string(Missing) + " datagrams missing" + Where + ", " +
                                std::to_string(lost_told_) + " told lost, " + std::to_string(dropped) +
                                " dropped by the system";
        if (Missing <= lost_told_ + dropped)
            FailUnlessStill(why, run_start_, close_from_ != kNoStamp ? close_from_ : NowMsOfDay(), 200);
        else
            Fail(why);
    };
    if (datagrams && c_.user != User::Close) datagrams_told(f.datagrams_missing, "");
    if (datagrams && c_.user != User::Close && c_.user != User::Unload)
        datagrams_told(f.datagrams_missing_in_events, " in the receive events");
    // (Datagrams missing in what a Recv returned too.)
    if (const long recv_missing = VerifyRecv(streams); datagrams)
        datagrams_told(recv_missing, " in what Recv returned");
    VerifyRecvTook(streams);
    VerifyHolding();
    f.queued = VerifyBounds();
    f.pipe_held_ms = VerifyPipe();
    VerifyWindow();
    Summarise(R, f);
}

void Run::Summarise(Result& R, const Figures& F) const {
    R.Ok = failures_.empty();
    R.Failures = failures_;
    R.Void = !voids_.empty();
    R.Voids = voids_;
    std::ostringstream sum;
    std::string why;
    for (const Loss& l : losses_) why += (why.empty() ? " (" : ", ") + l.why;
    if (!why.empty()) why += ")";
    sum << "seen " << F.seen << " B, lost by design " << F.lost_by_design << " records" << why << ", queue max " << F.queued
        << " B of " << bound_ << ", loop gap max " << max_gap_.count() << " ms, stamp lag max " << F.worst_lag
        << " ms, close " << close_ms_ << " ms, no turn " << stillness_.Total(true) << " ms";
    if (!Waits(c_)) sum << ", no wait";
    if (reader_gone_) sum << ", the pipe's reader went at " << reader_gone_ms_;
    if (pipe_failed_ms_ != kNoStamp) sum << ", the pipe failed at " << pipe_failed_ms_;
    if (pipe_) sum << ", pipe held back " << F.pipe_held_ms << " ms, unread max " << pipe_unread_max_ << " B";
    R.Summary = sum.str();
}

}  // namespace receive_table::detail
