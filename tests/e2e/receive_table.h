#pragma once
// One table of end-to-end cases for the way received bytes go: each source
// (serial ports, the Ethernet port's roles) under a paced flood, crossed with
// what a plug-in does meanwhile and with what the user does meanwhile. A cell
// runs the main window on ptys and local sockets with a real plug-in and
// checks what each device wrote against where it went:
// - every record once and in order in the list or the output files, each
//   line under its port's mark and its peer's name, the streams in the order
//   they were read, stamped with the time of the read that took it; a loss
//   only where an action loses data by design, around that action, and
//   counted;
// - every record once in what the receive events got (RD) or a Recv took,
//   one peer's in each chunk, and shown as the event left it; a plug-in's
//   own line about its chunk under that peer's name;
// - a word format's byte shown alone only when its peer or its port goes,
//   stamped with the read that took it, and a port's every byte shown by
//   the time it goes; every byte a port read kept at a close, and in the
//   file it was read for when that was switched off before the close; after
//   a Clear no word of a byte read before it;
// - the graph's points the values the list shows, words too;
// - no byte shown more often than its port read it;
// - a pipe whose reader leaves or stops fails, and what it never got goes
//   to the list, once;
// - every record a waiting Recv's port read in what the Recv returned;
// - the user's action landed while the plug-in's wait ran;
// - what waits stays within a port's input buffer (the serial ports' are
//   lowered so that a wait drives a stream past it), and the port is then
//   not read;
// - the window keeps answering, and a close ends everything at once with the
//   settings saved.
// Times are judged by what the ports read: the test sees every read the
// window gets, with its bytes, so a record's stamp must be the time of the
// read that took its first byte, and a loss window reaches back to the
// port's last read before the action. A cell that cannot decide because the
// machine gave the test's threads no turn for longer than a check allows
// says void, with the reason.
//
// Where each part lives: the cells and their plug-ins in receive_table.cpp;
// in receive_table/, the records and times (records.h), the devices
// (devices.*), the run that drives a cell (run.*, user_actions.cpp) and the
// oracle's checks by kind: the views' lines and the graph (check_lines.cpp),
// each stream's records (check_records.cpp), what the plug-in got and did
// (check_plugin.cpp), and the bounds, the pipe and the window
// (check_window.cpp, with the order of the checks).
//
// The devices send numbered records, each stream in letters of its own, so
// that one file or list holding several streams can be taken apart again:
// seven digits of sequence, nine of the time it was written (ms of the day)
// and a separator.
#include <ostream>
#include <string>
#include <vector>

namespace receive_table {

enum class Source { MainSerial, Port2Serial, BothSerial, Udp, TcpClient, TcpServer };
enum class Plugin {
    None,            // no plug-in
    Immediate,       // a receive event that returns at once
    NBSleep,         // the event waits in NBSleep
    Box,             // the event shows a box (answered after a while)
    FailingBox,      // the event fails, and its error box is up a while
    RecvInEvent,     // the event waits in Recv
    RecvLoopOnLoad,  // ONLOAD reads with Recv in a loop
    RecvLoopOnSend,  // ONSEND reads with Recv in a loop
    SlowSend,        // the event sends to a device that takes its time
    OtherPortEvent,  // only the other port has an event, which waits
    RecvBytesInEvent,  // the event takes its port's bytes one at a time with Recv
    RecvThenPurge,     // the event takes a reply with Recv, then PurgeRx, then waits
    RewriteSame,       // the event turns RD into other letters of the same length
    RewriteLonger,     // ... and makes it longer (a mark after every record)
    EventLines,        // the event writes a line about its chunk (AddMsg)
};
enum class User {
    Nothing,
    Clear,
    OutputOffOn,       // output off, and on into a second file once the wait is over
    LineSetting,
    PortButton,
    F10,
    Unload,
    Close,
    OutputTwice,       // output off, on into a second file, off again, all in one wait
    ClearThenOff,      // Clear, then output off, in one wait
    ClientsLeaveJoin,  // a server's client leaves and a newcomer joins during the wait
    OutputResumed,     // output off, and on again into the same file, in one wait
    OffThenClose,      // output off, then the close, in one wait
};
// How the received bytes are seen besides: the list in HEX and output in
// binary, or one of the other ways.
enum class View {
    Plain,
    Graph,       // the graph window open (time axis)
    TextOutput,  // output to a file as text
    Words,       // the list in a word format (HW)
    Pipe,        // output onto a FIFO whose reader takes slowly, at a steady pace
    WordsText,   // the list in a word format, and output to a file as text
    PipeLeaves,  // output onto a FIFO whose reader takes steadily, then leaves
    PipeStops,   // ... then stops taking, its end left open
    GraphWords,  // the list in a word format, and the graph window open
};

struct Cell {
    Source source;
    Plugin plugin;
    User user;
    View view = View::Plain;
};

std::string Name(const Cell& C);
// For the test's listing: the cell's name.
void PrintTo(const Cell& C, std::ostream* Out);
// Whether the cell means anything (the Ethernet port's UDP and TCP client
// roles have no other port; only a server has clients that come and go);
// Why says why not.
bool Applicable(const Cell& C, std::string* Why = nullptr);
// Every cell, in order.
std::vector<Cell> AllCells();
// Applicable cells that together hold every pair of a source, a plug-in
// action, a user action and a view that an applicable cell holds.
std::vector<Cell> CoverCells();

struct Result {
    bool Ok = true;
    bool Applicable = true;
    // No failure, but a check could not decide: the machine stood still
    // (threads of the test waited for a processor) past what it allows.
    bool Void = false;
    std::vector<std::string> Voids;  // why, one line each
    std::vector<std::string> Failures;
    std::string Summary;  // the figures of the run, one line
};
Result RunCell(const Cell& C);

}  // namespace receive_table
