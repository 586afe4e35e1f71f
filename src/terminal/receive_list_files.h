#pragma once
// The receive list on disk and the list's editing commands: saving as text,
// as the bytes the lines stand for, or in the internal line format (".cp"),
// and loading ".cp" files back (the output-to-file sink is list_output.h).
// The main window's menu handlers ask the user (dialogs, Shift key) and call
// these.
//
// The internal format holds one text line per list line:
//   direction digit, format digit, the 64 bits of the time stamp (a double)
//   as 16 upper-case hexadecimal digits, TAB, the text without its prefix,
//   CR LF.
// The prefix is not stored; it is made again when the file is loaded.
#include <functional>
#include <string>
#include <string_view>

#include "terminal/list_output.h"
#include "terminal/receive_format.h"
#include "terminal/receive_panel.h"
#include "terminal/receive_panel_lines.h"

namespace terminal {

// The filter index of the dialog as a file type; any other index raises
// rtl::EConvertError.
TListFileType ListFileTypeOfFilter(int FilterIndex);

inline constexpr const char* SaveDialogTitle = "Choose output file name";
inline constexpr const char* SaveDialogFilter =
    "Text File (*.txt)|*.txt|Binary File (*.bin)|*.bin|Internal Format (*.cp)|*.cp";
inline constexpr const char* SaveDialogDefaultExt = "bin";
inline constexpr const char* LoadDialogTitle = "Choose file";
inline constexpr const char* LoadDialogFilter = "Internal Format (*.cp)|*.cp";

inline constexpr const char* WrongLineFormatText = "Wrong line format at line %d";

// --- the internal line format --------------------------------------------------

// One line of a ".cp" file, CR LF included.
std::string FormatSelfLogLine(const TLineRecord& Record, std::string_view Data);

// Reads one line of a ".cp" file (without its line end). The line is refused
// (false) unless it has two leading digits naming a known direction (0-2)
// and format (0-7), sixteen hexadecimal digits whose bits make a finite time
// stamp inside the calendar's range, and a TAB. On success Record holds
// Dir, Time and Format (PrefixLen 0) and Data the rest of the line.
bool ParseSelfLogLine(std::string_view Line, TLineRecord& Record, std::string_view& Data);

// --- saving and loading --------------------------------------------------------

// Writes the whole list to FileName: Text - every line with its prefix
// followed by CR LF; Binary - the bytes of every line in order (message and
// error lines give none); Internal - one ".cp" line per list line. The file
// is replaced only once all of it is written (vcl::SaveWholeFile): a full
// disk raises vcl::EFileSaveError naming the file and the reason (and the
// bytes the file never got), and a
// line whose text no longer reads as numbers the conversion error, both
// leaving an existing file as it was.
void SaveList(const TLineStore& Lines, const std::string& FileName, TListFileType Type);

// Reads the ".cp" file FileName into List: every line gets the prefix of
// Style for its direction and time. Nothing changes until the file is open
// and its first line read and accepted; then Accepted runs (when given) and
// List is cleared, and the lines are appended. A line that is not in the
// format raises rtl::Exception "Wrong line format at line %d" (counting from
// 1): refused at line 1, the list is as it was; later, the lines before it
// stay. A file that cannot be opened or read raises the file's error, which
// names the file and the system's reason; anything but a regular file (a
// FIFO, a device, a folder) is refused so without being opened. An empty
// file is an empty list.
void LoadSelfLog(const std::string& FileName, TLineStore& List, const TPrefixStyle& Style,
                 const std::function<void()>& Accepted = {});

// Loads a ".cp" file into the receive panel with its current prefix
// settings: repainting held off; once the first line is accepted, Accepted
// runs and the list is cleared; then the lines are read, and a fresh current
// line is started whether the file was read to its end or not, so that
// received data never writes over a loaded line. A file refused at its first
// line, or that cannot be opened or read, leaves the panel untouched. Errors
// are raised after that.
void LoadPanelList(const std::string& FileName, TReceivePanel& Panel,
                   const std::function<void()>& Accepted = {});

// --- editing -------------------------------------------------------------------

// Deletes line Index of the panel as "Delete Line" does: the current (last)
// line is emptied by starting a fresh one when it holds text, and when it is
// empty the line before it goes instead. Returns the index to select again.
// An index outside the list raises the list's index error.
int DeletePanelLine(TReceivePanel& Panel, int Index);

// The text "Copy Line" puts on the clipboard: the line, or its text without
// prefix (Shift held).
std::string CopyLineText(const TLineStore& Lines, int Index, bool WithoutPrefix);
// The text "Copy All" puts on the clipboard: every line (or its text without
// prefix) followed by CR LF.
std::string CopyAllText(const TLineStore& Lines, bool WithoutPrefix);

}  // namespace terminal
