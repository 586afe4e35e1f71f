#include "script/compiler/preprocessor.h"

#include <algorithm>

#include "script/compiler/tokenizer.h"

namespace script::compiler {

namespace {

std::string TrimRight(std::string s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.pop_back();
    return s;
}

std::int32_t IndexOfDefine(const TPSStringList& list, const std::string& name) {
    for (std::uint32_t i = 0; i < list.Count(); ++i) {
        if (list.GetItem(i) == name) return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::string RowCol(const char* fmt, const TPSPascalPreProcessorParser& p) {
    return FormatText(fmt, {std::to_string(p.Row()), std::to_string(p.Col())});
}

}  // namespace

// ---- TPSDefineStates ----

TPSDefineState& TPSDefineStates::Add() { return states_.emplace_back(); }

void TPSDefineStates::Delete(std::size_t index) {
    if (index < states_.size()) states_.erase(states_.begin() + static_cast<std::ptrdiff_t>(index));
}

// ---- TPSLineInfoList ----

TPSLineInfo& TPSLineInfoList::Add() {
    items_.push_back(std::make_unique<TPSLineInfo>());
    return *items_.back();
}

bool TPSLineInfoList::GetLineInfo(const std::string& moduleName, std::uint32_t pos,
                                  TPSLineInfoResults& res) const {
    const std::string module = FastUpperCase(moduleName);
    const TPSLineInfo* found = nullptr;
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        const TPSLineInfo& item = **it;
        if (module.empty() ? (item.StartPos <= pos && pos < item.EndPos)
                           : module == FastUpperCase(item.FileName)) {
            found = &item;
            break;
        }
    }
    // The very end of the output (where "Unexpected end of file" is reported)
    // belongs to the main file.
    if (!found && module.empty() && !items_.empty() && pos == items_.front()->EndPos) {
        found = items_.front().get();
    }
    if (!found) return false;

    // Output offset -> offset in the file's own text: find the run of the
    // file's text that holds the offset (included texts sit between runs).
    const std::uint32_t offset = pos >= found->StartPos ? pos - found->StartPos : 0;
    std::uint32_t fileOffset = offset;
    if (!found->Segments.empty()) {
        auto seg = std::upper_bound(found->Segments.begin(), found->Segments.end(), offset,
                                    [](std::uint32_t o, const auto& s) { return o < s.first; });
        if (seg != found->Segments.begin()) --seg;
        fileOffset = seg->second + (offset - seg->first);
    }
    res.Name = found->FileName;
    res.Pos = fileOffset;
    res.Row = 1;
    res.Col = fileOffset + 1;
    const auto& starts = found->LineStarts;
    auto line = std::upper_bound(starts.begin(), starts.end(), fileOffset);
    if (line != starts.begin()) {
        res.Row = static_cast<std::uint32_t>(line - starts.begin());
        res.Col = fileOffset - *(line - 1) + 1;
    }
    return true;
}

// ---- TPSPascalPreProcessorParser ----

void TPSPascalPreProcessorParser::SetText(std::string_view text) {
    text_.assign(text);
    const std::size_t zero = text_.find('\0');
    if (zero != std::string::npos) text_.resize(zero);
    position_ = 0;
    tokenLength_ = 0;
    lineStart_ = 0;
    row_ = 1;
    tokenRow_ = 1;
    tokenCol_ = 1;
    if (OnNewLine) OnNewLine(1, 0, 1);
    Next();
}

void TPSPascalPreProcessorParser::NewLine(std::uint32_t after) {
    ++row_;
    lineStart_ = after;
    if (OnNewLine) OnNewLine(row_, after, 1);
}

std::uint32_t TPSPascalPreProcessorParser::TakeLineBreak(std::uint32_t i) {
    const std::uint32_t br = LineBreakLength(text_, i);
    if (br != 0) NewLine(i + br);
    return i + br;
}

void TPSPascalPreProcessorParser::Next() {
    position_ += tokenLength_;
    tokenRow_ = row_;
    tokenCol_ = position_ - lineStart_ + 1;
    const std::uint32_t start = position_;
    std::uint32_t i = start;
    const char c = At(i);
    kind_ = ptText;
    if (c == '\0') {
        kind_ = ptEOF;
    } else if (c == '\'') {
        ++i;
        while (At(i) != '\0') {
            const char b = At(i);
            if (b == '\r' || b == '\n') {  // an unterminated string ends at the break
                i = TakeLineBreak(i);
                break;
            }
            ++i;
            if (b == '\'') {
                if (At(i) != '\'') break;
                ++i;
            }
        }
    } else if (c == '(' && At(i + 1) == '*') {
        // The search for "*)" starts at the opening "*".
        i = ScanCommentBody(text_, i + 1, "*)", [this](std::uint32_t after) { NewLine(after); }).end;
    } else if (c == '/' && At(i + 1) == '/') {
        while (At(i) != '\0' && At(i) != '\r' && At(i) != '\n') ++i;
    } else if (c == '(' || c == '/') {
        ++i;
    } else if (c == '{') {
        if (At(i + 1) == '$') kind_ = ptDirective;
        i = ScanCommentBody(text_, i + 1, "}", [this](std::uint32_t after) { NewLine(after); }).end;
    } else {
        while (true) {
            const char b = At(i);
            if (b == '\0' || b == '\'' || b == '(' || b == '/' || b == '{') break;
            const std::uint32_t after = TakeLineBreak(i);
            i = after != i ? after : i + 1;
        }
    }
    tokenLength_ = i - start;
    token_.assign(text_, start, tokenLength_);
}

// ---- TPSPreProcessor ----

TPSPreProcessor::TPSPreProcessor() { AddDefaultDefines(); }

void TPSPreProcessor::AddDefaultDefines() {
    ActiveDefines.Add(FormatText("VER%d", {std::to_string(23)}));
    ActiveDefines.Add("CPU386");
    ActiveDefines.Add("MSWINDOWS");
    ActiveDefines.Add("WIN32");
}

void TPSPreProcessor::Clear() {
    DefineStates.Clear();
    DefineList.Clear();
    ActiveDefines.Clear();
    LineInfo.Clear();
    MainFileText.clear();
}

void TPSPreProcessor::PreProcess(const std::string& fileName, std::string& output) {
    DefineStates.Clear();
    LineInfo.Clear();
    filesRead_ = 0;
    ActiveDefines.Clear();
    for (std::uint32_t i = 0; i < DefineList.Count(); ++i) {
        ActiveDefines.Add(FastUpperCase(DefineList.GetItem(i)));
    }
    std::string out;
    ProcessFile(0, std::string(), fileName, out);
    output = std::move(out);
    if (DefineStates.Count() > 0) throw EPSPreProcessor(kDefineNotClosed);
}

void TPSPreProcessor::Write(std::string& out, std::string_view text, bool blank,
                            const std::string& fileName, const std::string& callingFile) {
    if (text.size() > OutputSizeLimit - std::min<std::size_t>(out.size(), OutputSizeLimit)) {
        throw EPSPreProcessor(FormatText(kOutputTooLarge, {fileName, callingFile}));
    }
    if (!blank) {
        out.append(text);
        return;
    }
    // Keep line breaks so that rows and columns of the active text stay.
    for (char c : text) out.push_back(c == '\r' || c == '\n' ? c : ' ');
}

void TPSPreProcessor::ProcessFile(int level, const std::string& callingFile, std::string fileName,
                                  std::string& out) {
    if (level > IncludeDepthLimit) {
        throw EPSPreProcessor(FormatText(kTooManyNestedIncludes, {fileName, callingFile}));
    }
    if (++filesRead_ > IncludeCountLimit) {
        throw EPSPreProcessor(FormatText(kTooManyIncludeFiles, {fileName, callingFile}));
    }
    std::string text;
    if (fileName == MainFileName) {
        text = MainFileText;
    } else if (!OnNeedFile || !OnNeedFile(*this, callingFile, fileName, text)) {
        throw EPSPreProcessor(FormatText(kUnableToFindFile, {fileName, callingFile}));
    }

    const int index = static_cast<int>(LineInfo.Count());
    {
        TPSLineInfo& info = LineInfo.Add();
        info.StartPos = static_cast<std::uint32_t>(out.size());
        info.FileName = fileName;
        info.Segments.emplace_back(0, 0);
    }
    LineInfo.SetCurrent(index);

    TPSPascalPreProcessorParser parser;
    parser.OnNewLine = [this, index](std::uint32_t, std::uint32_t pos, std::uint32_t) {
        if (LineInfo.Current() == index) LineInfo.Item(index).LineStarts.push_back(pos);
    };
    parser.SetText(text);

    for (;; parser.Next()) {
        const auto kind = parser.Kind();
        if (kind == TPSPascalPreProcessorParser::ptEOF) break;
        if (kind == TPSPascalPreProcessorParser::ptDirective) {
            std::string s = parser.Token().substr(2);
            if (!s.empty() && s.back() == '}') s.pop_back();
            s = TrimRight(std::move(s));
            std::string name, param;
            const std::size_t blank = s.find(' ');
            if (blank != std::string::npos) {
                name = FastUpperCase(std::string_view(s).substr(0, blank));
                param = s.substr(blank + 1);
            } else {
                name = FastUpperCase(s);
            }
            const bool active = DefineStates.DoWrite();
            bool doContinue = true;
            if (OnDirective) OnDirective(*this, parser, active, doContinue, param, name);
            if (doContinue) {
                if (name == "I" || name == "INCLUDE") {
                    if (active) {
                        ProcessFile(level + 1, fileName, param, out);
                        LineInfo.SetCurrent(index);
                        // This file's text resumes, at the directive, after the
                        // included text.
                        TPSLineInfo& info = LineInfo.Item(index);
                        info.Segments.emplace_back(
                            static_cast<std::uint32_t>(out.size()) - info.StartPos,
                            parser.Position());
                    }
                } else if (name == "DEFINE" || name == "UNDEF") {
                    if (active) {
                        if (param.find(' ') != std::string::npos) {
                            throw EPSPreProcessor(RowCol(kTooManyParameters, parser));
                        }
                        const std::string define = FastUpperCase(param);
                        const std::int32_t at = IndexOfDefine(ActiveDefines, define);
                        if (name == "DEFINE") {
                            ActiveDefines.Add(define);
                        } else if (at >= 0) {
                            ActiveDefines.Delete(static_cast<std::uint32_t>(at));
                        }
                    }
                } else if (name == "IFDEF" || name == "IFNDEF") {
                    if (param.find(' ') != std::string::npos) {
                        throw EPSPreProcessor(RowCol(kTooManyParameters, parser));
                    }
                    const bool defined = IndexOfDefine(ActiveDefines, FastUpperCase(param)) >= 0;
                    DefineStates.Add().DoWrite = (name == "IFDEF" ? defined : !defined) && active;
                } else if (name == "ENDIF") {
                    if (DefineStates.Count() == 0) {
                        throw EPSPreProcessor(RowCol(kNoIfdefForEndif, parser));
                    }
                    DefineStates.Delete(DefineStates.Count() - 1);
                } else if (name == "ELSE") {
                    if (!param.empty()) throw EPSPreProcessor(RowCol(kTooManyParameters, parser));
                    if (DefineStates.Count() == 0) {
                        throw EPSPreProcessor(RowCol(kNoIfdefForElse, parser));
                    }
                    TPSDefineState& top = DefineStates.Item(DefineStates.Count() - 1);
                    if (top.InElse) throw EPSPreProcessor(RowCol(kElseTwice, parser));
                    top.InElse = true;
                    top.DoWrite = !top.DoWrite && DefineStates.DoPrevWrite();
                } else {
                    if (OnUnhandledDirective) {
                        OnUnhandledDirective(*this, parser, active, doContinue, param, name);
                    }
                    if (doContinue) throw EPSPreProcessor(RowCol(kUnknownDirective, parser));
                }
            }
        }
        const bool blank = kind == TPSPascalPreProcessorParser::ptDirective || !DefineStates.DoWrite();
        Write(out, parser.Token(), blank, fileName, callingFile);
    }
    LineInfo.Item(index).EndPos = static_cast<std::uint32_t>(out.size());
}

void TPSPreProcessor::AdjustMessage(TPSPascalCompilerMessage& message) const {
    TPSLineInfoResults res;
    if (!LineInfo.GetLineInfo(message.ModuleName(), message.Pos(), res)) return;
    message.SetCustomPos(res.Pos, res.Row, res.Col);
    message.SetModuleName(res.Name);
}

}  // namespace script::compiler
