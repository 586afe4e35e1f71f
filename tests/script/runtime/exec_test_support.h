#pragma once
// Loaded images in tests: compiling a script to an image, writing a decoded
// (and perhaps altered) image back to bytes, and an executor whose inner
// state tests reach.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

#include "../compiler/compiler_test_support.h"
#include "runtime_test_support.h"
#include "script/compiler/image_format.h"
#include "script/runtime/exec.h"
#include "script/runtime/value_layout.h"
#include "support/ps_image_reader.h"

namespace script::runtime::testing {

// ------------------------------------------------------------ image bytes

inline void PutByte(std::string& out, std::uint8_t v) { out.push_back(static_cast<char>(v)); }
inline void PutLong(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void PutText(std::string& out, std::string_view text) {
    PutLong(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

// Hand-written byte code: an opcode, a u32, a variable operand.
inline std::string CodeOp(std::uint8_t op) { return std::string(1, static_cast<char>(op)); }
inline std::string CodeLong(std::uint32_t v) {
    std::string out;
    PutLong(out, v);
    return out;
}
inline std::string CodeVar(std::uint32_t address) {
    std::string out;
    PutByte(out, okVariable);
    PutLong(out, address);
    return out;
}

inline void PutAttributes(std::string& out, const std::vector<test_support::PSAttribute>& list) {
    PutLong(out, static_cast<std::uint32_t>(list.size()));
    for (const auto& a : list) {
        PutText(out, a.Name);
        PutLong(out, static_cast<std::uint32_t>(a.Values.size()));
        for (const auto& v : a.Values) {
            PutLong(out, v.TypeNo);
            out += v.Bytes;
        }
    }
}

// The bytes of a decoded image, laid out as the compiler lays them out: the
// tables, then the code of every script procedure in order (offsets and
// lengths recomputed from each procedure's Code).
inline std::string WriteImage(const test_support::PSImage& image) {
    std::string out;
    PutLong(out, kImageMagic);
    PutLong(out, image.Build);
    PutLong(out, static_cast<std::uint32_t>(image.Types.size()));
    PutLong(out, static_cast<std::uint32_t>(image.Procs.size()));
    PutLong(out, static_cast<std::uint32_t>(image.Vars.size()));
    PutLong(out, image.MainProc);
    PutLong(out, image.Reserved);
    for (const auto& t : image.Types) {
        PutByte(out, static_cast<std::uint8_t>(t.BaseType | (t.HasExportName ? kTypeExportNameFlag : 0)));
        switch (t.BaseType) {
        case btRecord:
            PutLong(out, static_cast<std::uint32_t>(t.FieldTypes.size()));
            for (std::uint32_t f : t.FieldTypes) PutLong(out, f);
            break;
        case btArray: PutLong(out, t.ElementType); break;
        case btStaticArray:
            PutLong(out, t.ElementType);
            PutLong(out, t.ElementCount);
            PutLong(out, t.StartOffset);
            break;
        case btSet: PutLong(out, t.SetBits); break;
        case btProcPtr: PutText(out, t.ProcSignature); break;
        case btClass: PutText(out, t.ClassName); break;
        case btInterface:
            for (std::uint32_t w : t.Guid) PutLong(out, w);
            break;
        default: break;
        }
        if (t.HasExportName) PutText(out, t.ExportName);
        if (image.Build >= kImageAttributesBuild) PutAttributes(out, t.Attributes);
    }
    std::vector<std::size_t> code_fields;
    for (const auto& p : image.Procs) {
        PutByte(out, p.Flags);
        if (p.Flags & pfExternal) {
            PutByte(out, static_cast<std::uint8_t>(p.Name.size()));
            out += p.Name;
            if (p.Flags & pfExportOrDecl) PutText(out, p.Decl);
        } else {
            code_fields.push_back(out.size());
            PutLong(out, 0);
            PutLong(out, 0);
            if (p.Flags & pfExportOrDecl) {
                PutText(out, p.ExportName);
                PutText(out, p.ExportDecl);
            }
        }
        if (p.Flags & pfAttributes) PutAttributes(out, p.Attributes);
    }
    for (const auto& v : image.Vars) {
        PutLong(out, v.TypeNo);
        PutByte(out, v.Exported ? 1 : 0);
        if (v.Exported) PutText(out, v.ExportName);
    }
    std::size_t field = 0;
    for (const auto& p : image.Procs) {
        if (p.Flags & pfExternal) continue;
        std::string at;
        PutLong(at, static_cast<std::uint32_t>(out.size()));
        PutLong(at, static_cast<std::uint32_t>(p.Code.size()));
        out.replace(code_fields[field++], 8, at);
        out += p.Code;
    }
    return out;
}

// An image with no procedures: only types and globals.
inline test_support::PSImage EmptyImage() {
    test_support::PSImage image;
    image.Build = kImageBuildNumber;
    image.MainProc = kNoMainProc;
    return image;
}

inline test_support::PSType PlainType(std::uint8_t base) {
    test_support::PSType t;
    t.BaseType = base;
    return t;
}

inline compiler::testing::CompileResult CompileOk(std::string_view source,
                                                  const std::function<void(compiler::TPSPascalCompiler&)>& setup = {}) {
    auto r = compiler::testing::CompileScript(source, setup);
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    return r;
}

// ------------------------------------------------------------ executor state

// An executor whose stacks, position and stack base tests reach, and whose
// current code a test may set to bytes of its own for the operand decoder.
class StepExec : public TestExec {
public:
    TPSStack& RunStack() { return stack_; }
    TPSStack& Temporaries() { return temporaries_; }
    std::uint32_t Position() const { return position_; }
    void SetStackBase(std::int32_t base) { stack_base_ = base; }

    // Makes bytes the current code (kept by the executor), at position 0.
    void SetCode(std::string bytes) {
        own_code_.assign(bytes.begin(), bytes.end());
        code_ = own_code_.data();
        code_length_ = static_cast<std::uint32_t>(own_code_.size());
        position_ = 0;
    }

private:
    std::vector<std::uint8_t> own_code_;
};

// The plug-ins of the compiler's tests and their include files, by path
// relative to tests/script/compiler ("plugins/x.pas").
inline std::map<std::string, std::string> PluginFiles() {
    const std::filesystem::path root = std::string(VOSTREL_SOURCE_DIR_DEFAULT) + "/tests/script/compiler";
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "plugins")) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files[entry.path().lexically_relative(root).generic_string()] = text.str();
    }
    return files;
}

// Registers a handler that does nothing under every name the image imports.
inline void RegisterStubs(TPSExec& exec, const test_support::PSImage& image) {
    for (const auto& p : image.Procs) {
        if (!p.External || p.Name.empty()) continue;
        exec.RegisterFunction(p.Name, [](TPSExec&, TPSExternalProcRec&, TPSStack&, TPSStack&) { return true; });
    }
}

}  // namespace script::runtime::testing
