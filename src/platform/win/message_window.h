#pragma once
// Hidden message windows, posted messages and window timers in the shape of
// the Win32 calls the components use, on top of the application's event
// loop. Windows live on the GUI thread; PostMessage may be called from any
// thread (the multimedia timer thread posts its ticks through it).
#include <cstdint>
#include <functional>
#include <string>

#include "platform/win/loop_entry.h"

namespace win {

using HWND = std::uintptr_t;  // 0 = none
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using WndProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

constexpr UINT WM_TIMER = 0x113;
constexpr UINT WM_USER = 0x400;

// Creates a hidden window whose messages go to proc. Handles are never
// reused, so a message meant for a destroyed window cannot reach a new one.
HWND AllocateHWnd(WndProc proc, const std::string& windowText);
// Destroys the window and its timers; messages still queued for it are dropped.
// May be called from inside the window's own procedure.
void DeallocateHWnd(HWND wnd);

// Queues a message for the window; thread-safe. False when no such window,
// or when the message cannot be queued (out of memory); never throws.
// WM_TIMER is a timer message (below).
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The same for a caller that must say why a message was lost: raises
// std::runtime_error when there is no such window, std::bad_alloc when the
// message cannot be queued.
void PostMessageOrThrow(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the window procedure at once (GUI thread); 0 when no such window.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
std::string GetWindowText(HWND wnd);

// Window timers: WM_TIMER with wParam = id every elapseMs; setting an id
// again restarts it with the new period. Returns id, or 0 when there is no
// such window. KillTimer also takes back a tick that waits.
//
// Timer messages (a window timer's ticks and a WM_TIMER posted from any
// thread, such as a multimedia timer's) are handed out only when nothing
// else waits: input, painting and other posted messages always go first.
// They never pile up: while one waits, another for the same window and
// wParam is dropped. Waiting timer messages take turns in the order they
// came, so one busy timer cannot starve another.
std::uintptr_t SetTimer(HWND wnd, std::uintptr_t id, UINT elapseMs);
bool KillTimer(HWND wnd, std::uintptr_t id);
// Takes back the tick of a window timer that has come due and not been
// handled yet, as PeekMessage with PM_REMOVE does; the timer goes on with
// its next tick. True when there was one.
bool RemoveTimerMessage(HWND wnd, std::uintptr_t id);
// Whether any timer message for the window waits to be handed out (a
// window timer's tick or a WM_TIMER posted from any thread); thread-safe.
bool TimerMessageWaiting(HWND wnd);

// Every entry from the loop made here (a window procedure handling a posted
// message or a timer message) runs through the loop's guard (loop_entry.h).

// Runs the pending messages of the loop once (a nested pump).
void ProcessMessages();
// Runs the pending input and painting of the loop once. Posted messages and
// timer messages wait meanwhile, also in a modal loop that the input opens,
// and are handed out in their order by the next pump that takes them.
void ProcessInputMessages();
// Runs what the window system asks of the loop once: painting, a window
// manager's ping, a close request. The user's input is dropped, and posted
// and timer messages wait, as for ProcessInputMessages: for a wait that
// nothing the program does may enter (a save whose data must not change).
void ProcessWindowMessages();
// Blocks the calling thread.
void Sleep(UINT ms);

}  // namespace win
