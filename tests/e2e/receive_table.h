#pragma once
// One table of end-to-end cases for the way received bytes go: each source
// (serial ports, the Ethernet port's roles) under a paced flood, crossed with
// what a plug-in does meanwhile and with what the user does meanwhile. A cell
// runs the main window on ptys and local sockets with a real plug-in and
// checks what every cell must keep: every byte read reaches the list or the
// output file once and in order (or the plug-in's Recv, which shows it too),
// stamped with the time it was read, what waits stays within a port's input
// buffer, the window keeps answering, and a close ends everything at once
// with the settings saved.
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
};
enum class User { Nothing, Clear, OutputOffOn, LineSetting, PortButton, F10, Unload, Close };

struct Cell {
    Source source;
    Plugin plugin;
    User user;
};

std::string Name(const Cell& C);
// For the test's listing: the cell's name.
void PrintTo(const Cell& C, std::ostream* Out);
// Whether the cell means anything (the Ethernet port's UDP and TCP client
// roles have no other port); Why says why not.
bool Applicable(const Cell& C, std::string* Why = nullptr);
// Every cell, in order.
std::vector<Cell> AllCells();
// Applicable cells that together hold every pair of a source, a plug-in
// action and a user action that an applicable cell holds.
std::vector<Cell> CoverCells();

struct Result {
    bool Ok = true;
    std::vector<std::string> Failures;
    std::string Summary;  // the figures of the run, one line
};
Result RunCell(const Cell& C);

}  // namespace receive_table
