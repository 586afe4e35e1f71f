#pragma once
// The export declaration of a script procedure: "result @type !type ...",
// the result's type number ("-1" for none), then a mode character ("@"
// value, "!" var) and a type number per parameter.
#include <charconv>
#include <cstdint>
#include <string_view>
#include <vector>

namespace script::runtime {

struct ExportSignature {
    bool Valid = false;
    std::int64_t Result = -1;
    std::vector<std::int64_t> Params;  // type numbers; -1 when unreadable
    std::vector<bool> VarParams;
};

inline std::int64_t ParseExportNumber(std::string_view text) {
    std::int64_t v = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc() || end != text.data() + text.size()) return -1;
    return v;
}

inline ExportSignature ParseExportDecl(std::string_view decl) {
    ExportSignature sig;
    bool first = true;
    while (!decl.empty()) {
        const std::size_t blank = decl.find(' ');
        const std::string_view word = decl.substr(0, blank);
        decl = blank == std::string_view::npos ? std::string_view() : decl.substr(blank + 1);
        if (word.empty()) continue;
        if (first) {
            sig.Result = word == "-1" ? -1 : ParseExportNumber(word);
            if (word != "-1" && sig.Result < 0) return sig;
            first = false;
            continue;
        }
        sig.Params.push_back(word.size() > 1 ? ParseExportNumber(word.substr(1)) : -1);
        sig.VarParams.push_back(word[0] == '!');
    }
    sig.Valid = !first;
    return sig;
}

}  // namespace script::runtime
