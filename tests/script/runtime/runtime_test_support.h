#pragma once
// Runtime tests work on values of the types that real images declare: a
// script is compiled, its type table read back with the test image reader,
// and type records are built from it the way the loader builds them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/compiler/compiler.h"
#include "script/runtime/exec.h"
#include "script/runtime/type_records.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/value_lifetime.h"
#include "script/runtime/variant.h"
#include "support/ps_image_reader.h"

namespace script::runtime::testing {

// The type records of one compiled script, in image order.
struct ImageTypes {
    test_support::PSImage Image;
    std::vector<std::unique_ptr<TPSTypeRec>> Types;
    bool AllAccepted = true;  // every CalcSize answered true

    const TPSTypeRec* operator[](std::size_t n) const { return Types.at(n).get(); }
    // The type of global variable n.
    const TPSTypeRec* Var(std::size_t n) const { return Types.at(Image.Vars.at(n).TypeNo).get(); }
    // The first type of a base code (the standard types come first).
    const TPSTypeRec* FirstOf(std::uint8_t base) const {
        for (const auto& t : Types)
            if (t->BaseType == base) return t.get();
        return nullptr;
    }
    const TPSTypeRec* Named(std::string_view export_name) const {
        for (const auto& t : Types)
            if (t->ExportName == export_name) return t.get();
        return nullptr;
    }
};

inline ImageTypes BuildTypes(const test_support::PSImage& image) {
    ImageTypes out;
    out.Image = image;
    for (const auto& t : image.Types) {
        std::unique_ptr<TPSTypeRec> rec = CreateTypeRec(t.BaseType);
        switch (t.BaseType) {
        case btRecord: {
            auto& r = static_cast<TPSTypeRec_Record&>(*rec);
            for (std::uint32_t f : t.FieldTypes) r.FieldTypes.push_back(out.Types.at(f).get());
            break;
        }
        case btArray:
            static_cast<TPSTypeRec_Array&>(*rec).ArrayType = out.Types.at(t.ElementType).get();
            break;
        case btStaticArray: {
            auto& a = static_cast<TPSTypeRec_StaticArray&>(*rec);
            a.ArrayType = out.Types.at(t.ElementType).get();
            a.Size = t.ElementCount;
            a.StartOffset = t.StartOffset;
            break;
        }
        case btSet: static_cast<TPSTypeRec_Set&>(*rec).BitSize = t.SetBits; break;
        case btProcPtr: static_cast<TPSTypeRec_ProcPtr&>(*rec).ParamInfo = t.ProcSignature; break;
        case btClass: static_cast<TPSTypeRec_Class&>(*rec).CN = t.ClassName; break;
        case btInterface:
            std::memcpy(static_cast<TPSTypeRec_Interface&>(*rec).Guid.Bytes.data(), t.Guid.data(), 16);
            break;
        default: break;
        }
        rec->ExportName = t.ExportName;
        rec->ExportNameHash = MakeHash(t.ExportName);
        if (!rec->CalcSize()) out.AllAccepted = false;
        out.Types.push_back(std::move(rec));
    }
    return out;
}

// Compiles a script (a program with globals) and builds its types.
inline ImageTypes CompileTypes(std::string_view source) {
    compiler::TPSPascalCompiler compiler;
    EXPECT_TRUE(compiler.Compile(source)) << (compiler.GetMsgCount() ? compiler.GetMsg(0).MessageToString() : "");
    std::string image;
    EXPECT_TRUE(compiler.GetOutput(image));
    return BuildTypes(test_support::ReadImage(image));
}

// One script value of a type, initialised, finalised when it goes.
class Value {
public:
    explicit Value(const TPSTypeRec* type) : type_(type), bytes_(type->RealSize + 1) {
        InitializeValue(bytes_.data(), type);
    }
    ~Value() { FinalizeValue(bytes_.data(), type_); }
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;

    void* Addr() { return bytes_.data(); }
    const TPSTypeRec* Type() const { return type_; }
    template <typename T>
    T Get() const {
        return LoadAs<T>(bytes_.data());
    }
    template <typename T>
    void Set(const T& v) {
        StoreAs(bytes_.data(), v);
    }

private:
    const TPSTypeRec* type_;
    std::vector<std::byte> bytes_;
};

// An executor whose status a test may set, as a run would.
class TestExec : public TPSExec {
public:
    void SetStatus(TPSStatus s) { status_ = s; }
    // Makes procedure n (of count placeholder procedures) the current one at
    // a code position.
    void SetCurrent(std::size_t count, std::size_t n, std::uint32_t position) {
        procs_.clear();
        for (std::size_t i = 0; i < count; ++i) procs_.push_back(std::make_unique<TPSProcRec>());
        current_proc_ = procs_[n].get();
        position_ = position;
    }
};

// A dispatch interface that counts its references (and never deletes
// itself), so tests see every AddRef and Release.
class CountedDispatch final : public IPSDispatch {
public:
    void AddRef() noexcept override {
        if (refs == 0 && released) revived = true;
        ++refs;
    }
    void Release() noexcept override {
        if (--refs == 0) released = true;
    }
    bool GetMemberId(std::string_view, std::int32_t&) override { return false; }
    Variant Invoke(std::int32_t, bool, std::vector<Variant>&) override;
    int refs = 0;           // references that values hold
    bool released = false;  // the count reached 0 (a real object is gone)
    bool revived = false;   // a reference was taken after that
};

inline Variant CountedDispatch::Invoke(std::int32_t, bool, std::vector<Variant>&) { return Variant(); }

// An object that hands out one interface for one identity.
class TestObject final : public IPSObject {
public:
    IPSInterface* GetInterface(const TPSGuid& guid) override {
        if (on_ask) on_ask();
        if (intf == nullptr || !(guid == provides)) return nullptr;
        intf->AddRef();
        return intf;
    }
    CountedDispatch* intf = nullptr;
    TPSGuid provides;
    std::function<void()> on_ask;  // host code run when asked; may raise
};

}  // namespace script::runtime::testing
