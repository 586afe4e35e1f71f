#pragma once
// Waiting for the real program run on a virtual display, and finding its
// windows there, for the tests that drive it with xdotool.
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/command.h"

namespace test_support {

// Polls Done until it holds (true) or Limit has passed (false).
template <class Pred>
bool WaitUntil(Pred Done, std::chrono::milliseconds Limit) {
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Whether process Pid holds the file Path open (a port, once it is opened).
inline bool HoldsOpen(pid_t Pid, const std::string& Path) {
    const std::string dir = "/proc/" + std::to_string(Pid) + "/fd";
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (std::filesystem::read_symlink(e.path(), ec) == Path) return true;
    return false;
}

// The files below Folder that process Pid holds open, for a message.
inline std::string OpenFilesBelow(pid_t Pid, const std::string& Folder) {
    std::string found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(Pid) + "/fd", ec)) {
        const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        if (target.rfind(Folder, 0) == 0) found += (found.empty() ? "" : ", ") + target;
    }
    return found.empty() ? "none" : found;
}

// The visible windows of process Pid on Display whose name is exactly Name
// (any name when it is empty).
inline std::vector<std::string> ProcessWindows(const std::string& Display, pid_t Pid, const std::string& Name = {}) {
    const std::string xdo = "DISPLAY=" + Display + " xdotool ";
    std::istringstream ids(CommandOutput(xdo + "search --all --onlyvisible --pid " + std::to_string(Pid) + " --name . 2>/dev/null"));
    std::vector<std::string> found;
    for (std::string id; std::getline(ids, id);)
        if (Name.empty() || CommandOutput(xdo + "getwindowname " + id + " 2>/dev/null") == Name + "\n")
            found.push_back(id);
    return found;
}

// The visible windows of process Pid on Display, named or not (a pop-up
// menu has no name).
inline std::vector<std::string> AllProcessWindows(const std::string& Display, pid_t Pid) {
    std::istringstream ids(CommandOutput("DISPLAY=" + Display + " xdotool search --all --onlyvisible --pid " +
                                         std::to_string(Pid) + " 2>/dev/null"));
    std::vector<std::string> found;
    for (std::string id; std::getline(ids, id);) found.push_back(id);
    return found;
}

// Right-clicks the point (X, Y) of Window as the user opens its pop-up menu;
// with Entry above 0, chooses the Entry-th entry from the top (separators
// not counted) with the arrow keys and Return. The keys go to the menu's
// own window: one that has just shown may not have the keyboard yet. A
// click right after another window showed may open nothing: it is given
// again. False when no menu showed.
inline bool ChooseFromPopup(const std::string& Display, pid_t Pid, const std::string& Window, int X, int Y, int Entry) {
    const std::string xdo = "DISPLAY=" + Display + " xdotool ";
    const std::vector<std::string> before = AllProcessWindows(Display, Pid);
    std::string menu;
    bool shown = false;
    for (int tries = 0; tries < 10 && !shown; ++tries) {
        CommandOutput(xdo + "mousemove --window " + Window + " " + std::to_string(X) + " " + std::to_string(Y) +
                      " click 3");
        shown = WaitUntil(
            [&] {
                for (const std::string& id : AllProcessWindows(Display, Pid))
                    if (std::find(before.begin(), before.end(), id) == before.end()) menu = id;
                return !menu.empty();
            },
            std::chrono::seconds(2));
    }
    if (!shown || Entry <= 0) return shown;
    std::string keys;
    for (int i = 0; i < Entry; ++i) keys += " Down";
    CommandOutput(xdo + "key --window " + menu + keys + " Return 2>/dev/null");
    return true;
}

// Types File into the open file dialog titled Title, as the user does it,
// and confirms it: true once the dialog is gone, or a box of the program
// (titled "Vostrel") came beyond the Boxes open before.
inline bool ChooseFile(const std::string& Display, pid_t Pid, const std::string& Title, const std::string& File,
                       std::size_t Boxes) {
    const std::string xdo = "DISPLAY=" + Display + " xdotool ";
    std::vector<std::string> dialog;
    // The name is typed as keys of the display to the window with the focus
    // (the list the name box pops up takes keys sent to the dialog itself),
    // and typed again over itself while the dialog is alone: a dialog that
    // has just shown may lose the first keys. Return then goes to the newest
    // window of the dialog's title until the dialog is gone: the first may
    // only take the name the name box offers, and a file that is there is
    // asked about in a box of the same title ("Do you want to replace it?",
    // Yes the default) whose buttons would answer to typed letters. A new
    // box of the program's own (an error) ends it too.
    // A loaded display may miss the dialog for one look: it has gone only
    // once the name was typed into it and a second look agrees (before
    // that, Return would take whatever name the dialog offers).
    bool typed = false;
    for (int tries = 0; tries < 15; ++tries) {
        if (ProcessWindows(Display, Pid, "Vostrel").size() > Boxes) return true;
        dialog = ProcessWindows(Display, Pid, Title);
        if (dialog.empty() &&
            !WaitUntil([&] { return !(dialog = ProcessWindows(Display, Pid, Title)).empty(); },
                       std::chrono::seconds(typed ? 1 : 3)))
            return typed;
        if (dialog.size() == 1 && tries % 4 == 0) {
            CommandOutput(xdo + "windowfocus --sync " + dialog[0] + " key ctrl+a type '" + File + "'");
            typed = true;
        }
        const auto newest = std::max_element(dialog.begin(), dialog.end(), [](const auto& a, const auto& b) {
            return std::stoul(a) < std::stoul(b);
        });
        CommandOutput(xdo + "windowfocus --sync " + *newest + " key Return");
        // What the key did: the dialog went, another window of its title
        // came (the question about a file that is there), or a box.
        const std::vector<std::string> before = dialog;
        WaitUntil(
            [&] {
                return ProcessWindows(Display, Pid, Title) != before ||
                       ProcessWindows(Display, Pid, "Vostrel").size() > Boxes;
            },
            std::chrono::seconds(2));
    }
    return false;
}

// Picks the Type-th file type (from 1) in the open file dialog titled Title
// with the keyboard, as the user does it: Alt+N puts the caret in the name
// box, the list of types comes next in the tab order, Home takes its first
// entry and Down the next; Alt+N then gives the name box the keys again.
// The keys are given twice (a dialog that has just shown may lose the
// first): they pick the same entry each time. False when no such dialog.
inline bool ChooseFileType(const std::string& Display, pid_t Pid, const std::string& Title, int Type) {
    std::vector<std::string> dialog;
    if (!WaitUntil([&] { return !(dialog = ProcessWindows(Display, Pid, Title)).empty(); }, std::chrono::seconds(10)))
        return false;
    std::string keys = "alt+n Tab Home";
    for (int i = 1; i < Type; ++i) keys += " Down";
    keys += " alt+n";
    for (int i = 0; i < 2; ++i) {
        CommandOutput("DISPLAY=" + Display + " xdotool windowfocus --sync " + dialog[0] + " key " + keys);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

// Ctrl+F in the program's main window, then File typed into the dialog that
// it opens, as the user does it, of the Type-th file type when Type is above
// 0 (else the one the dialog offers); false when a window did not show.
inline bool OutputToFile(const std::string& Display, pid_t Pid, const std::string& File, int Type = 0) {
    const std::string xdo = "DISPLAY=" + Display + " xdotool ";
    // A loaded display may miss a window for one look: looked for again.
    const std::size_t boxes = ProcessWindows(Display, Pid, "Vostrel").size();
    std::vector<std::string> main;
    if (!WaitUntil([&] { return !(main = ProcessWindows(Display, Pid, "VOSTREL")).empty(); }, std::chrono::seconds(10))) return false;
    // A window that has just shown may not take keys yet: the key is given
    // again until the dialog is there.
    std::vector<std::string> dialog;
    for (int tries = 0; tries < 10 && dialog.empty(); ++tries) {
        CommandOutput(xdo + "windowfocus " + main[0] + " key --window " + main[0] + " ctrl+f");
        WaitUntil([&] { return !(dialog = ProcessWindows(Display, Pid, "Choose output file name")).empty(); }, std::chrono::seconds(3));
    }
    if (dialog.empty()) return false;
    if (Type > 0 && !ChooseFileType(Display, Pid, "Choose output file name", Type)) return false;
    return ChooseFile(Display, Pid, "Choose output file name", File, boxes);
}

}  // namespace test_support
