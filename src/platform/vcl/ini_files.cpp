#include "platform/vcl/ini_files.h"

#include <sys/stat.h>

#include <set>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/regular_file.h"
#include "platform/vcl/streams.h"
#include "platform/vcl/string_list.h"

namespace vcl {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b])) ++b;
    while (e > b && IsSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// A leading UTF-8 byte order mark (left by some editors) is not part of the first line's text.
std::string_view Content(const std::string& line, bool first) {
    std::string_view v(line);
    if (first && v.substr(0, 3) == "\xEF\xBB\xBF") v.remove_prefix(3);
    return v;
}

bool ParseSection(std::string_view line, std::string& name) {
    size_t i = 0;
    while (i < line.size() && IsSpace(line[i])) ++i;
    if (i >= line.size() || line[i] != '[') return false;
    const auto close = line.find(']', i + 1);
    name = TrimBlanks(std::string(line.substr(i + 1, close == std::string_view::npos ? std::string_view::npos
                                                                                   : close - i - 1)));
    return true;
}

bool ParseKey(std::string_view line, std::string& key, std::string& value) {
    size_t i = 0;
    while (i < line.size() && IsSpace(line[i])) ++i;
    if (i >= line.size() || line[i] == ';' || line[i] == '[') return false;
    const auto eq = line.find('=', i);
    if (eq == std::string_view::npos) return false;
    key = TrimBlanks(std::string(line.substr(i, eq - i)));
    value = TrimBlanks(std::string(line.substr(eq + 1)));
    return true;
}

std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

// Line breaks inside a name or value would split the line and could forge
// other keys or sections when the file is read back; they become blanks.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

}  // namespace

TIniFile::TIniFile(const std::string& FileName) : fileName_(FileName) {
    // Only a regular file is read, and that without waiting: a FIFO in its
    // place would hold the program until something writes into it, a device
    // might never end. A missing file, or anything else there, reads as an
    // empty one (every value has its default).
    std::string data;
    try {
        data = LoadRegularFile(FileName);
    } catch (const rtl::Exception& e) {
        // A file that is there but could not be read (no read permission, a
        // failing disk) must not be written anew from what little this
        // object would hold: everything else it keeps would be lost. Why it
        // could not be read is kept for the owner to tell.
        struct stat st {};
        if (::stat(rtl::SysPath(FileName).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            readFailure_ = e.Message.empty() ? std::string("it could not be read") : e.Message;
        return;
    }
    size_t i = 0;
    while (i < data.size()) {
        size_t e = i;
        while (e < data.size() && data[e] != '\r' && data[e] != '\n') ++e;
        TLine line{data.substr(i, e - i), {}};
        if (e < data.size()) {
            const size_t len = data[e] == '\r' && e + 1 < data.size() && data[e + 1] == '\n' ? 2 : 1;
            line.eol = data.substr(e, len);
            e += len;
        }
        lines_.push_back(std::move(line));
        i = e;
    }
}

int TIniFile::FindSection(const std::string& Section) const {
    std::string name;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (ParseSection(Content(lines_[i].text, i == 0), name) && rtl::AnsiSameText(name, Section))
            return static_cast<int>(i);
    return -1;
}

int TIniFile::SectionEnd(int header) const {
    std::string name;
    int i = header + 1;
    while (i < static_cast<int>(lines_.size()) && !ParseSection(lines_[static_cast<size_t>(i)].text, name)) ++i;
    return i;
}

int TIniFile::FindKey(int header, const std::string& Ident) const {
    if (header < 0) return -1;
    std::string key, value;
    const int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i)
        if (ParseKey(lines_[static_cast<size_t>(i)].text, key, value) && rtl::AnsiSameText(key, Ident))
            return i;
    return -1;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident,
                                 const std::string& Default) const {
    const int line = FindKey(FindSection(Section), Ident);
    std::string result = Default;
    if (line >= 0) {
        std::string key, value;
        ParseKey(lines_[static_cast<size_t>(line)].text, key, value);
        result = Unquote(value);
    }
    return result;
}

std::int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Ident,
                                   std::int32_t Default) const {
    return rtl::StrToIntDef(ReadString(Section, Ident, ""), Default);
}

bool TIniFile::ReadBool(const std::string& Section, const std::string& Ident, bool Default) const {
    return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

double TIniFile::ReadFloat(const std::string& Section, const std::string& Ident, double Default) const {
    return rtl::StrToFloatDef(ReadString(Section, Ident, ""), Default);
}

void TIniFile::WriteString(const std::string& Section, const std::string& Ident,
                           const std::string& Value) {
    // Deferred writes change the lines in place; others change a copy that
    // replaces them only once the file took it.
    std::vector<TLine> copy;
    std::vector<TLine>& lines = deferred_ ? lines_ : (copy = lines_);
    const std::string text = OneLine(Ident) + "=" + OneLine(Value);
    const int header = FindSection(Section);
    const int line = FindKey(header, Ident);
    if (line >= 0) {
        lines[static_cast<size_t>(line)].text = text;
    } else if (header >= 0) {
        // After the last non-blank line of the section.
        int at = SectionEnd(header);
        while (at > header + 1 && TrimBlanks(lines[static_cast<size_t>(at - 1)].text).empty()) --at;
        if (lines[static_cast<size_t>(at - 1)].eol.empty()) lines[static_cast<size_t>(at - 1)].eol = "\r\n";
        lines.insert(lines.begin() + at, TLine{text, "\r\n"});
    } else {
        if (!lines.empty()) {
            if (lines.back().eol.empty()) lines.back().eol = "\r\n";
            if (!TrimBlanks(lines.back().text).empty()) lines.push_back(TLine{"", "\r\n"});
        }
        lines.push_back(TLine{"[" + OneLine(Section) + "]", "\r\n"});
        lines.push_back(TLine{text, "\r\n"});
    }
    if (deferred_)
        dirty_ = true;
    else
        Commit(std::move(copy));
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Ident, std::int32_t Value) {
    WriteString(Section, Ident, rtl::IntToStr(Value));
}

void TIniFile::WriteBool(const std::string& Section, const std::string& Ident, bool Value) {
    WriteString(Section, Ident, Value ? "1" : "0");
}

void TIniFile::WriteFloat(const std::string& Section, const std::string& Ident, double Value) {
    WriteString(Section, Ident, rtl::FloatToStr(Value));
}

bool TIniFile::SectionExists(const std::string& Section) const { return FindSection(Section) >= 0; }

bool TIniFile::ValueExists(const std::string& Section, const std::string& Ident) const {
    return FindKey(FindSection(Section), Ident) >= 0;
}

void TIniFile::ReadSection(const std::string& Section, TStrings& Strings) const {
    Strings.BeginUpdate();
    Strings.Clear();
    const int header = FindSection(Section);
    if (header >= 0) {
        std::string key, value;
        std::set<std::string> seen;  // a repeated key is listed once, as reading sees only the first
        const int end = SectionEnd(header);
        for (int i = header + 1; i < end; ++i)
            if (ParseKey(lines_[static_cast<size_t>(i)].text, key, value) &&
                seen.insert(rtl::AnsiUpperCase(key)).second)
                Strings.Add(key);
    }
    Strings.EndUpdate();
}

void TIniFile::ReadSections(TStrings& Strings) const {
    Strings.BeginUpdate();
    Strings.Clear();
    std::string name;
    std::set<std::string> seen;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (ParseSection(Content(lines_[i].text, i == 0), name) && seen.insert(rtl::AnsiUpperCase(name)).second)
            Strings.Add(name);
    Strings.EndUpdate();
}

void TIniFile::ReadSectionValues(const std::string& Section, TStrings& Strings) const {
    TStringList keys;
    ReadSection(Section, keys);
    Strings.BeginUpdate();
    Strings.Clear();
    for (int i = 0; i < keys.Count(); ++i)
        Strings.Add(keys.Get(i) + "=" + ReadString(Section, keys.Get(i), ""));
    Strings.EndUpdate();
}

void TIniFile::EraseSection(const std::string& Section) {
    const int header = FindSection(Section);
    if (header < 0) return;
    std::vector<TLine> lines = lines_;
    lines.erase(lines.begin() + header, lines.begin() + SectionEnd(header));
    Store(std::move(lines));
}

void TIniFile::DeleteKey(const std::string& Section, const std::string& Ident) {
    const int line = FindKey(FindSection(Section), Ident);
    if (line < 0) return;
    std::vector<TLine> lines = lines_;
    lines.erase(lines.begin() + line);
    Store(std::move(lines));
}

void TIniFile::Store(std::vector<TLine> lines) {
    if (!deferred_) {
        Commit(std::move(lines));
        return;
    }
    lines_ = std::move(lines);
    dirty_ = true;
}

void TIniFile::UpdateFile() {
    if (!dirty_) return;
    Commit(lines_);
    dirty_ = false;
}

void TIniFile::Commit(std::vector<TLine> lines) {
    // Settings go into a regular file (through a link, if one is there) or
    // nowhere: a FIFO in its place would hold the writer until something
    // reads it, and a device would take them as data and keep nothing. A
    // folder is refused by the save itself, which says so.
    struct stat st {};
    if (::stat(rtl::SysPath(fileName_).c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
        !S_ISDIR(st.st_mode))
        throw EIniFileException("Unable to write to " + fileName_ +
                                ": it is not a regular file (a device or a pipe)");
    if (!readFailure_.empty() && ::stat(rtl::SysPath(fileName_).c_str(), &st) == 0)
        throw EIniFileException("Unable to write to " + fileName_ +
                                ": it could not be read, and writing it anew would lose what it holds");
    try {
        SaveWholeFile(fileName_, [&](TSaveOutput& out) {
            for (const auto& l : lines) {
                out.Write(l.text);
                out.Write(l.eol);
            }
        });
    } catch (const EFileSaveError& e) {
        throw EIniFileException("Unable to write to " + fileName_ + ": " + SysErrorMessage(e.ErrorCode));
    }
    lines_ = std::move(lines);
}

}  // namespace vcl
