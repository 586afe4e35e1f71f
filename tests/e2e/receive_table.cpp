#include "e2e/receive_table.h"

#include <algorithm>
#include <array>
#include <set>

#include "e2e/receive_table/cells.h"
#include "e2e/receive_table/records.h"
#include "e2e/receive_table/run.h"

// The cells of the table and the plug-ins they load.
namespace receive_table {

namespace detail {

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
    const std::string hold_tail = "  SetV('UNTIL', IntToStr(GetTickCount));\n  SetV('WAIT', '0');\nend;\n" + settle;
    const std::string send_size = Ethernet(C.source) ? "60000" : "100000";
    const std::string loop = "  SetV('BEGUN', '1');\n  SetV('WAIT', '1');\n  T := GetTickCount;\n"
                             "  SetV('SINCE', IntToStr(T));\n  G := '';\n"
                             "  while GetTickCount - T < 1500 do begin\n    Recv(0, 50, S);\n    G := G + S;\n  end;\n"
                             "  SetV('UNTIL', IntToStr(GetTickCount));\n  SetV('GOT', G);\n  SetV('WAIT', '0');\n";
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

// How many steps the user takes, and whether each must land inside the wait.
int Steps(User U) {
    switch (U) {
        case User::OutputOffOn:
        case User::LineSetting:
        case User::PortButton:
        case User::F10:
        case User::ClearThenOff:
        case User::ClientsLeaveJoin:
        case User::OffThenClose:
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
           U == User::ClientsLeaveJoin || U == User::OffThenClose;
}

int ReaderGoesAfter(User U, View V) {
    switch (U) {
        case User::Close: return -1;
        case User::OffThenClose: return 0;
        case User::OutputResumed: return V == View::PipeStops ? 0 : 1;
        default: return Steps(U) - 1;
    }
}

}  // namespace detail

namespace {

using namespace detail;

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
                                            "output off and on into the same file", "output off, then close"};
    return names[static_cast<int>(U)];
}
const char* ViewName(View V) {
    static constexpr const char* names[] = {"",      "graph open", "text output", "words", "output onto a slow pipe",
                                            "words and text output", "output onto a pipe whose reader leaves",
                                            "output onto a pipe whose reader stops", "words and the graph open"};
    return names[static_cast<int>(V)];
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
    // source and plug-in action, and the user actions that bear on it (the
    // close after a switch-off among them); the pipes whose reader leaves or
    // stops with every action.
    std::vector<Cell> out;
    for (int v = 0; v < kViews; ++v) {
        const bool every = v != static_cast<int>(View::Pipe);
        for (int s = 0; s < kSources; ++s)
            for (int p = 0; p < kPlugins; ++p)
                for (int u = 0; u < kUsers; ++u) {
                    const User user = static_cast<User>(u);
                    if (every || user == User::Nothing || user == User::Clear || user == User::OutputOffOn ||
                        user == User::OffThenClose)
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
    std::vector<Cell> out;
    std::set<int> held;
    const auto choose = [&](std::set<int> wanted) {
        for (int k : held) wanted.erase(k);
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
            for (int k : pairs(*best)) {
                wanted.erase(k);
                held.insert(k);
            }
        }
    };
    // The pairs of the views the table had before the graph in a word
    // view, then those that view adds: a view added later leaves the cells
    // chosen before it as they were.
    std::set<int> before, added;
    for (const Cell& c : cells)
        for (int k : pairs(c)) (c.view == View::GraphWords ? added : before).insert(k);
    choose(before);
    choose(added);
    // A plug-in's lines under their peer's name in a text file, with the
    // switches that open new files: each peer named anew in each file, the
    // lines going to the list meanwhile. Then cells that faults of their
    // kind show in more surely than in the cells the pairs chose.
    const Cell named[] = {{Source::TcpServer, Plugin::EventLines, User::Nothing, View::TextOutput},
                          {Source::Udp, Plugin::EventLines, User::OutputOffOn, View::TextOutput},
                          {Source::TcpServer, Plugin::EventLines, User::OutputTwice, View::TextOutput},
                          {Source::Udp, Plugin::EventLines, User::Clear, View::TextOutput},
                          {Source::TcpServer, Plugin::EventLines, User::ClearThenOff, View::TextOutput},
                          // A switch-off that the close follows while the pipe
                          // is behind, and peers' lone bytes while one leaves.
                          {Source::BothSerial, Plugin::NBSleep, User::OffThenClose, View::Pipe},
                          {Source::TcpServer, Plugin::NBSleep, User::ClientsLeaveJoin, View::Words},
                          {Source::TcpServer, Plugin::RecvLoopOnLoad, User::ClientsLeaveJoin, View::Words},
                          // A UDP port the user closes, whose senders' lone
                          // bytes nothing but the port's own end shows; the
                          // graph's words after a port's lone byte.
                          {Source::Udp, Plugin::None, User::PortButton, View::Words},
                          {Source::MainSerial, Plugin::None, User::PortButton, View::GraphWords},
                          {Source::BothSerial, Plugin::None, User::F10, View::GraphWords}};
    for (const Cell& c : named)
        if (std::none_of(out.begin(), out.end(), [&](const Cell& o) { return Name(o) == Name(c); })) out.push_back(c);
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
