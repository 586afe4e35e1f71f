#pragma once
// What the run and the oracle ask about a cell: its source's kind, what its
// plug-in does and declares, and the steps of its user's action.
#include <string>

#include "e2e/receive_table.h"

namespace receive_table::detail {

constexpr int kSources = 6, kPlugins = 15, kUsers = 13, kViews = 9;

inline bool Serial(Source S) { return S == Source::MainSerial || S == Source::Port2Serial || S == Source::BothSerial; }
inline bool Ethernet(Source S) { return !Serial(S); }
// Whether the list shows words (HW), and whether output goes to a text file.
inline bool WordView(View V) { return V == View::Words || V == View::WordsText || V == View::GraphWords; }
// Whether the graph window is open.
inline bool GraphView(View V) { return V == View::Graph || V == View::GraphWords; }
inline bool TextView(View V) { return V == View::TextOutput || V == View::WordsText; }
// Whether output goes onto a FIFO, and whether its reader goes part-way.
inline bool FailingPipe(View V) { return V == View::PipeLeaves || V == View::PipeStops; }
inline bool PipeView(View V) { return V == View::Pipe || FailingPipe(V); }

// The slot (1 main, 2 Port2) whose bytes a Recv of the plug-in reads: the
// main port, or the Ethernet server's current client (3, one of Port2's).
inline int RecvSlot(const Cell& C) { return C.source == Source::TcpServer ? 2 : 1; }
// Whether the plug-in's receive events return at once (no wait of theirs
// for the user to act in).
bool EventsReturnAtOnce(Plugin P);
bool Rewrites(Plugin P);
// Whether the plug-in's ONLOAD waits a little (its receive events' ports
// then wait for it, from the load on).
bool SettlesOnLoad(Plugin P);
// The plug-in's source (empty: none).
std::string PluginSource(const Cell& C);
// Whether the plug-in declares the receive event of a slot (1 main, 2 Port2).
bool Declares(const Cell& C, int Slot);
// Whether the plug-in's action is a wait during which the user acts (a Send
// to the Ethernet port is over at once).
bool Waits(const Cell& C);

// How many steps the user takes, and whether each must land inside the wait.
int Steps(User U);
bool StepInWait(User U, int Step);
// After which of the user's steps a failing pipe's reader goes (-1: before
// the first): once output has been switched as the action means to, and
// before a close; a reader that stops, before output comes on again into
// the same pipe (which fails while switched off, and is opened anew).
int ReaderGoesAfter(User U, View V);

}  // namespace receive_table::detail
