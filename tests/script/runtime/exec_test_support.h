#pragma once
// Loaded images in tests: compiling a script to an image, writing a decoded
// (and perhaps altered) image back to bytes, and an executor that tests
// drive through straight-line code the way the interpreter will, with the
// operand decoder and the value operations of the runtime.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
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

// ------------------------------------------------------------ stepping

// An executor that tests drive: it enters a procedure's code (or code that
// the test writes) and executes straight-line instructions (assignments,
// operators, temporaries, pointers to elements) with the runtime's own
// operand decoder and value operations. Calls and jumps belong to the
// interpreter loop and are not taken here.
class StepExec : public TestExec {
public:
    TPSStack& RunStack() { return stack_; }
    TPSStack& Temporaries() { return temporaries_; }
    std::uint32_t Position() const { return position_; }
    void SetStackBase(std::int32_t base) { stack_base_ = base; }

    // Runs procedure no from its first instruction, at the top level.
    void Enter(std::uint32_t no) {
        const auto& proc = AsInternal(*procs_.at(no));
        current_proc_ = &proc;
        code_ = proc.Code.data();
        code_length_ = static_cast<std::uint32_t>(proc.Code.size());
        position_ = 0;
        stack_base_ = -1;
        status_ = TPSStatus::isRunning;
    }
    // Makes bytes the current code (kept by the executor), at position 0.
    void SetCode(std::string bytes) {
        own_code_.assign(bytes.begin(), bytes.end());
        code_ = own_code_.data();
        code_length_ = static_cast<std::uint32_t>(own_code_.size());
        position_ = 0;
    }

    // Executes one instruction; false at Ret or after an error.
    bool Step() {
        if (position_ >= code_length_) {
            RaiseError(ErOutOfRange);
            return false;
        }
        const std::uint8_t op = code_[position_++];
        switch (op) {
        case opAssign: return Binary([&](TPSOperand& d, TPSOperand& s) { return AssignValue(d.Address, s.Address, d.Type, s.Type); });
        case opCalc: {
            const std::uint8_t calc = code_[position_++];
            return Binary([&](TPSOperand& d, TPSOperand& s) { return CalcValues(d.Address, s.Address, d.Type, s.Type, calc); });
        }
        case opCompare: {
            const std::uint8_t cmp = code_[position_++];
            TPSOperand dest, left, right;
            if (!ReadOperand(dest, true)) return false;
            if (!ReadOperand(left, true)) return Release({&dest});
            if (!ReadOperand(right, true)) return Release({&left, &dest});
            const bool ok = CompareValues(left.Address, right.Address, dest.Address, left.Type, right.Type, dest.Type, cmp);
            Release({&right, &left, &dest});
            return ok;
        }
        case opPushType: {
            const std::uint32_t no = LoadAs<std::uint32_t>(code_ + position_);
            position_ += 4;
            stack_.PushType(GetType(no));
            return true;
        }
        case opPop: stack_.Pop(); return true;
        case opSetPtr: {
            // The pointer refers to the variable or element itself.
            TPSOperand dest, src;
            if (!ReadOperand(dest, false)) return false;
            if (!ReadOperand(src, false)) return false;
            if (src.Type->BaseType == btPointer) {
                const auto p = LoadAs<PSPointerValue>(src.Address);
                src.Address = p.Address;
                src.Type = p.Type;
            }
            StoreAs(dest.Address, PSPointerValue{src.Address, src.Type, 0});
            return true;
        }
        case opNeg: return Unary([&](TPSOperand& v) { return NegateValue(v.Address, v.Type); });
        case opBoolNot: return Unary([&](TPSOperand& v) { return BooleanNotValue(v.Address, v.Type); });
        case opIntNot: return Unary([&](TPSOperand& v) { return IntNotValue(v.Address, v.Type); });
        case opRet: return false;
        default:
            ADD_FAILURE() << "opcode " << int(op) << " is not straight-line code";
            return false;
        }
    }
    // Steps until Ret or an error; true when no error was reported.
    bool RunStraight() {
        while (Step()) {
        }
        return LastErrorCode() == ErNoError;
    }

private:
    bool Release(std::initializer_list<TPSOperand*> operands) {
        for (TPSOperand* o : operands) ReleaseOperand(*o);
        return false;
    }
    template <typename F>
    bool Binary(F f) {
        TPSOperand dest, src;
        if (!ReadOperand(dest, true)) return false;
        if (!ReadOperand(src, true)) return Release({&dest});
        const bool ok = f(dest, src);
        ReleaseOperand(src);
        ReleaseOperand(dest);
        return ok;
    }
    template <typename F>
    bool Unary(F f) {
        TPSOperand v;
        if (!ReadOperand(v, true)) return false;
        const bool ok = f(v);
        ReleaseOperand(v);
        return ok;
    }

    std::vector<std::uint8_t> own_code_;
};

// Registers a handler that does nothing under every name the image imports.
inline void RegisterStubs(TPSExec& exec, const test_support::PSImage& image) {
    for (const auto& p : image.Procs) {
        if (!p.External || p.Name.empty()) continue;
        exec.RegisterFunction(p.Name, [](TPSExec&, TPSExternalProcRec&, TPSStack&, TPSStack&) { return true; });
    }
}

}  // namespace script::runtime::testing
