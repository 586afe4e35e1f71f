// A settings file of any bytes reads: every key a section lists exists and
// reads as its line says. A key written to it (a section, key and value
// from the input's last line, or the first key of the first section) reads
// back as written and whole, plainly when the value has no blanks or quotes
// around it and always when written in double quotes; every other key reads as
// before, every line that was not that key's stays, in order; and writes
// held in memory until the file is updated give the same file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "platform/rtl/cp1251.h"
#include "platform/vcl/ini_files.h"
#include "platform/vcl/string_list.h"

namespace {

using fuzz_support::Check;
using TValues = std::map<std::pair<std::string, std::string>, std::string>;

// Every value the file holds for its sections' keys, by upper-case names.
TValues ReadAll(const vcl::TIniFile& ini) {
    TValues values;
    vcl::TStringList sections;
    ini.ReadSections(sections);
    for (int s = 0; s < sections.Count() && s < 32; ++s) {
        const std::string section = sections.Strings(s);
        Check(ini.SectionExists(section));
        vcl::TStringList keys, pairs;
        ini.ReadSection(section, keys);
        ini.ReadSectionValues(section, pairs);
        Check(pairs.Count() == keys.Count());
        for (int k = 0; k < keys.Count() && k < 64; ++k) {
            const std::string key = keys.Strings(k);
            Check(ini.ValueExists(section, key));
            const std::string value = ini.ReadString(section, key, "\x01");
            Check(pairs.Strings(k) == key + "=" + value);
            (void)ini.ReadInteger(section, key, 0);
            (void)ini.ReadFloat(section, key, 0);
            values.emplace(std::make_pair(rtl::AnsiUpperCase(section), rtl::AnsiUpperCase(key)), value);
        }
    }
    return values;
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && Blank(s[b])) ++b;
    while (e > b && Blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool OneLine(const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; }

// A name the file keeps as written: on one line, without blanks around it.
bool PlainName(const std::string& s) {
    return OneLine(s) && (s.empty() || (!Blank(s.front()) && !Blank(s.back())));
}

// A value that reads back as written without quotes.
bool PlainValue(const std::string& s) {
    const bool quoted = s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
    return PlainName(s) && !quoted;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// Whether `before` stands in `after` in order, but for the line of the key.
bool LinesKept(const std::vector<std::string>& before, const std::vector<std::string>& after, const std::string& key) {
    std::size_t j = 0;
    for (const std::string& line : before) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && rtl::AnsiSameText(Trimmed(line.substr(0, eq)), key)) continue;
        while (j < after.size() && after[j] != line) ++j;
        if (j == after.size()) return false;
        ++j;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(fuzz_support::Bytes(data, size));
    const std::string file = fuzz_support::File("settings.ini");
    const std::string held = fuzz_support::File("held.ini");
    fuzz_support::WriteFile(file, text);
    fuzz_support::WriteFile(held, text);
    const TValues before = ReadAll(vcl::TIniFile(file));

    // "section|key|value" after the last NUL names the key to write.
    std::string section = "Main", key = "Key", value = text.substr(0, 16);
    if (const auto nul = text.rfind('\0'); nul != std::string::npos) {
        const std::string order = text.substr(nul + 1);
        const auto a = order.find('|'), b = order.find('|', a == std::string::npos ? a : a + 1);
        if (b != std::string::npos) {
            section = order.substr(0, a);
            key = order.substr(a + 1, b - a - 1);
            value = order.substr(b + 1);
        }
    } else if (!before.empty()) {
        section = before.begin()->first.first;
        key = before.begin()->first.second;
    }
    const bool plainKey = PlainName(section) && section.find(']') == std::string::npos && PlainName(key) &&
                          !key.empty() && key.find('=') == std::string::npos && key[0] != ';' && key[0] != '[';
    const bool quote = (size & 1) != 0;
    const std::string written = quote ? "\"" + value + "\"" : value;
    {
        vcl::TIniFile ini(file);
        ini.WriteString(section, key, written);
        vcl::TMemIniFile memory(held);
        memory.WriteString(section, key, written);
        memory.UpdateFile();
    }
    const std::string after = fuzz_support::ReadFile(file);
    Check(fuzz_support::ReadFile(held) == after);
    if (!plainKey) return 0;

    const vcl::TIniFile again(file);
    // Read whole, however long.
    if (OneLine(value) && (quote || PlainValue(value))) Check(again.ReadString(section, key, "\x01") == value);
    const auto changed = std::make_pair(rtl::AnsiUpperCase(section), rtl::AnsiUpperCase(key));
    const TValues now = ReadAll(again);
    for (const auto& [name, old] : before) {
        if (name == changed) continue;
        const auto it = now.find(name);
        Check(it != now.end() && it->second == old);
    }
    Check(LinesKept(Lines(text), Lines(after), key));
    return 0;
}
