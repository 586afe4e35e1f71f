#pragma once
// The preprocessor of plug-in scripts. It turns a main file into one text of
// the same shape: conditional directives are evaluated, include directives are
// replaced by the included files' texts, and every directive and every
// inactive region becomes blanks of the same length (line breaks are kept), so
// positions inside active text keep their offsets and rows. Beside the output
// it keeps a map from output positions back to file, row and column, through
// which compiler messages are rewritten.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "script/compiler/messages.h"
#include "script/compiler/ps_utils.h"

namespace script::compiler {

// One open IFDEF/IFNDEF block.
struct TPSDefineState {
    bool InElse = false;
    bool DoWrite = false;
};

class TPSDefineStates {
public:
    TPSDefineState& Add();
    void Delete(std::size_t index);
    void Clear() { states_.clear(); }
    std::size_t Count() const { return states_.size(); }
    TPSDefineState& Item(std::size_t index) { return states_.at(index); }
    // Text is written when no block is open or the innermost block writes.
    bool DoWrite() const { return states_.empty() || states_.back().DoWrite; }
    // Whether the block around the innermost one writes.
    bool DoPrevWrite() const {
        return states_.size() < 2 || states_[states_.size() - 2].DoWrite;
    }

private:
    std::vector<TPSDefineState> states_;
};

// Where one file's text lies in the output.
struct TPSLineInfo {
    std::uint32_t EndPos = 0;    // output position after the file's last byte
    std::uint32_t StartPos = 0;  // output position of the file's first byte
    std::string FileName;
    // Offsets in the file's own text at which its lines begin; the first is 0.
    std::vector<std::uint32_t> LineStarts;
    // Where the file's text resumes in the output after each include:
    // (output offset from StartPos, offset in the file). The first is (0, 0).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Segments;
};

struct TPSLineInfoResults {
    std::uint32_t Row = 0;
    std::uint32_t Col = 0;
    std::uint32_t Pos = 0;  // offset in the file's own text
    std::string Name;
};

class TPSLineInfoList {
public:
    TPSLineInfo& Add();
    void Clear() {
        items_.clear();
        current_ = -1;
    }
    std::size_t Count() const { return items_.size(); }
    TPSLineInfo& Item(std::size_t index) { return *items_.at(index); }
    const TPSLineInfo& Item(std::size_t index) const { return *items_.at(index); }
    int Current() const { return current_; }
    void SetCurrent(int index) { current_ = index; }

    // Maps an output position (moduleName empty) to the innermost file that
    // holds it, with row and column from 1; false when no file holds it. The
    // end of the whole output maps to the main file's end. With a module name,
    // the last file of that name (case-insensitive) is taken.
    bool GetLineInfo(const std::string& moduleName, std::uint32_t pos,
                     TPSLineInfoResults& res) const;

private:
    std::vector<std::unique_ptr<TPSLineInfo>> items_;
    int current_ = -1;
};

// A coarse scanner over one file: text runs, quoted strings, comments and
// "{$...}" directives, with a callback at every line start.
class TPSPascalPreProcessorParser {
public:
    enum TokenKind : std::uint8_t { ptEOF = 0, ptText = 1, ptDirective = 2 };
    // (row, position of the line's first byte, column)
    using TNewLineCallback = std::function<void(std::uint32_t, std::uint32_t, std::uint32_t)>;

    TNewLineCallback OnNewLine;

    void SetText(std::string_view text);
    void Next();

    TokenKind Kind() const { return kind_; }
    const std::string& Token() const { return token_; }
    std::uint32_t Position() const { return position_; }
    std::uint32_t TokenLength() const { return tokenLength_; }
    // Row and column (from 1) where the current token starts.
    std::uint32_t Row() const { return tokenRow_; }
    std::uint32_t Col() const { return tokenCol_; }

private:
    char At(std::uint32_t i) const { return i < text_.size() ? text_[i] : '\0'; }
    void NewLine(std::uint32_t after);
    // Counts a line break at i when there is one; answers the index after it.
    std::uint32_t TakeLineBreak(std::uint32_t i);

    std::string text_;
    std::string token_;
    TokenKind kind_ = ptEOF;
    std::uint32_t lineStart_ = 0;
    std::uint32_t tokenLength_ = 0;
    std::uint32_t row_ = 1;
    std::uint32_t tokenRow_ = 1;
    std::uint32_t tokenCol_ = 1;
    std::uint32_t position_ = 0;
};

class TPSPreProcessor {
public:
    // (preprocessor, including file name, file name (may be changed), text).
    // While it runs, LineInfo.Current() is the including file's item, and
    // the file it supplies becomes the next item (LineInfo.Count()): a host
    // can tell apart two readings of one file name by its place.
    using TNeedFile = std::function<bool(TPSPreProcessor& sender, const std::string& callingFile,
                                         std::string& fileName, std::string& output)>;
    // (preprocessor, parser, active, continue, parameter, name)
    using TDirective =
        std::function<void(TPSPreProcessor& sender, TPSPascalPreProcessorParser& parser,
                           bool active, bool& doContinue, const std::string& parameter,
                           const std::string& name)>;

    TPSPreProcessor();
    virtual ~TPSPreProcessor() = default;
    TPSPreProcessor(const TPSPreProcessor&) = delete;
    TPSPreProcessor& operator=(const TPSPreProcessor&) = delete;

    virtual void AddDefaultDefines();
    void Clear();

    // Preprocesses fileName (MainFileText when it equals MainFileName, else
    // through OnNeedFile) and answers the whole output; raises EPSPreProcessor.
    void PreProcess(const std::string& fileName, std::string& output);

    // Rewrites a message's position, row, column and module name to the file
    // that holds its position.
    void AdjustMessage(TPSPascalCompilerMessage& message) const;
    // The same for every message of a compiler (GetMsgCount / GetMsg).
    template <class Compiler>
    void AdjustMessages(Compiler& compiler) const {
        for (std::size_t i = 0, n = compiler.GetMsgCount(); i < n; ++i) {
            auto&& msg = compiler.GetMsg(i);
            if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(msg)>>) {
                if (msg) AdjustMessage(*msg);
            } else {
                AdjustMessage(msg);
            }
        }
    }

    TPSStringList ActiveDefines;
    TPSStringList DefineList;
    TPSLineInfoList LineInfo;
    TNeedFile OnNeedFile;
    TPSDefineStates DefineStates;
    std::int32_t IncludeDepthLimit = 20;
    std::string MainFileName;
    std::string MainFileText;
    TDirective OnDirective;
    TDirective OnUnhandledDirective;

    // Guards against include expansion that would exhaust memory (a file that
    // includes itself twice doubles at every level): at most this many files
    // read in one run and this many bytes of output.
    std::uint32_t IncludeCountLimit = 4096;
    std::uint32_t OutputSizeLimit = 64u << 20;

private:
    void ProcessFile(int level, const std::string& callingFile, std::string fileName,
                     std::string& out);
    void Write(std::string& out, std::string_view text, bool blank, const std::string& fileName,
               const std::string& callingFile);

    std::uint32_t filesRead_ = 0;
};

}  // namespace script::compiler
