#include "script/runtime/host_calls.h"

#include <cstdio>

#include "script/runtime/export_decl.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/value_lifetime.h"

namespace script::runtime {

namespace {

std::string HexCode(HResult code) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(code));
    return text;
}

// A stack item as a host parameter: a Pointer stands for what it points at.
THostParam ParamOfItem(void* item, bool var) {
    THostParam p;
    p.VarParam = var;
    if (item == nullptr) return p;
    p.Data = ValueOfTypedValue(item);
    p.Type = TypeOfTypedValue(item);
    if (p.Type != nullptr && p.Type->BaseType == btPointer) {
        const auto target = LoadAs<PSPointerValue>(p.Data);
        p.Data = target.Address;
        p.Type = target.Type;
    }
    return p;
}

// The entry of script methods: runs the script procedure with the
// caller's values, variables by reference, others as copies.
class ScriptMethodEntry final : public TPSHostRoutine {
public:
    bool Invoke(TPSExec&, void* object, const THostParam* result, std::span<const THostParam> params,
                std::uint8_t) const override {
        auto* record = static_cast<TPSScriptMethodRecord*>(object);
        TPSExec& exec = *record->Exec;
        const TPSProcRec* proc = exec.GetProc(record->ProcNo);
        if (proc == nullptr || !proc->IsInternal()) return false;
        const ExportSignature sig = ParseExportDecl(AsInternal(*proc).ExportDecl);
        if (!sig.Valid || sig.Params.size() != params.size() || (result != nullptr) != (sig.Result >= 0)) return false;

        std::vector<TypedHeapValuePtr> owned;
        std::vector<void*> list;
        auto add = [&](const TPSTypeRec* type) {
            owned.emplace_back(CreateTypedHeapValue(type));
            list.push_back(owned.back().get());
            return ValueOfTypedValue(owned.back().get());
        };
        // The run stack takes the last parameter first.
        for (std::size_t k = params.size(); k > 0; --k) {
            const THostParam& p = params[k - 1];
            const TPSTypeRec* declared = sig.Params[k - 1] >= 0 && sig.Params[k - 1] < exec.TypeCount()
                                             ? exec.GetType(static_cast<std::uint32_t>(sig.Params[k - 1]))
                                             : nullptr;
            if (declared == nullptr || p.Data == nullptr || p.Type == nullptr) return false;
            if (sig.VarParams[k - 1] || p.VarParam) {
                if (exec.PointerType() == nullptr) return false;
                StoreAs(add(exec.PointerType()), PSPointerValue{p.Data, p.Type, 0});
            } else if (!exec.AssignValue(add(declared), p.Data, declared, p.Type)) {
                return false;
            }
        }
        void* value = nullptr;
        if (result != nullptr) {
            const TPSTypeRec* type = sig.Result < exec.TypeCount() ? exec.GetType(static_cast<std::uint32_t>(sig.Result)) : nullptr;
            if (type == nullptr) return false;
            value = add(type);
        }
        if (!exec.RunProc(list, record->ProcNo)) {
            // The script's error reaches the caller as its exception.
            exec.RaiseCurrentError();
            return false;
        }
        if (result == nullptr) return true;
        return exec.AssignValue(result->Data, value, result->Type, TypeOfTypedValue(list.back()));
    }
};

const ScriptMethodEntry kScriptMethodEntry;

bool CallInterfaceMethod(TPSExec& exec, TPSExternalProcRec& proc, TPSStack&, TPSStack& stack) {
    const std::string& decl = proc.Decl;
    const std::uint32_t slot = LoadAs<std::uint32_t>(decl.data());
    const auto cc = static_cast<std::uint8_t>(decl[4]);
    std::vector<THostParam> params;
    THostParam result;
    bool has_result = false;
    if (!TakeHostParams(exec, stack, decl.substr(5), 1, params, result, has_result)) return false;
    const THostParam& self = params.front();
    if (self.Type == nullptr || self.Type->BaseType != btInterface || LoadAs<IPSInterface*>(self.Data) == nullptr) {
        exec.RaiseError(erNullPointerException);
        return false;
    }
    IPSInterface* intf = LoadAs<IPSInterface*>(self.Data);
    const TPSHostRoutine* routine = intf->MethodAt(slot);
    if (routine == nullptr) return false;
    return routine->Invoke(exec, intf, has_result ? &result : nullptr, std::span(params).subspan(1), cc);
}

}  // namespace

EPSSafecallException::EPSSafecallException(HResult code)
    : EPSError("Safecall routine failed with code $" + HexCode(code)), Code(code) {}

// ------------------------------------------------------------ script methods

Variant TPSMethod::Call(const std::vector<Variant>& args) const {
    if (Code != &kScriptMethodEntry || Data == nullptr) throw EPSError("Not a script method");
    const auto* record = static_cast<const TPSScriptMethodRecord*>(Data);
    return record->Exec->CallProc(record->ProcNo, args);
}

TPSMethod MakeScriptMethod(TPSExec& exec, std::uint32_t proc_no) {
    if (proc_no == 0 || proc_no == kNoProc) return {};
    return TPSMethod{&kScriptMethodEntry, &exec.ScriptMethodRecord(proc_no)};
}

std::uint32_t ScriptMethodProcNo(const TPSExec& exec, const TPSMethod& method) {
    if (method.Code != &kScriptMethodEntry || !exec.OwnsScriptMethodRecord(method.Data)) return 0;
    return static_cast<const TPSScriptMethodRecord*>(method.Data)->ProcNo;
}

TPSScriptMethodRecord& TPSExec::ScriptMethodRecord(std::uint32_t proc_no) {
    for (const auto& r : script_methods_)
        if (r->ProcNo == proc_no) return *r;
    script_methods_.push_back(std::make_unique<TPSScriptMethodRecord>(TPSScriptMethodRecord{this, proc_no}));
    return *script_methods_.back();
}

bool TPSExec::OwnsScriptMethodRecord(const void* record) const {
    for (const auto& r : script_methods_)
        if (r.get() == record) return true;
    return false;
}

// ------------------------------------------------------------ calls

bool TakeHostParams(TPSExec& exec, TPSStack& stack, const std::string& modes, std::uint32_t extra_first,
                    std::vector<THostParam>& params, THostParam& result, bool& has_result) {
    if (modes.empty()) return false;
    const auto count = static_cast<std::uint32_t>(modes.size() - 1) + extra_first;
    has_result = modes[0] != 0;
    const std::uint32_t items = count + (has_result ? 1 : 0);
    // Parameters that are not there, or that belong to another frame, are
    // never read or written.
    if (!exec.FrameHasItems(items)) return false;
    const std::uint32_t first = stack.Count() - items;
    params.clear();
    params.reserve(count);
    // The last parameter lies lowest, the first right below the result.
    for (std::uint32_t k = 0; k < count; ++k) {
        const bool var = k >= extra_first && modes[1 + k - extra_first] != 0;
        params.push_back(ParamOfItem(stack.GetItem(first + count - 1 - k), var));
    }
    if (has_result) result = ParamOfItem(stack.GetItem(first + count), true);
    return true;
}

bool CallHostFunction(TPSExec& exec, TPSExternalProcRec& proc, TPSStack& stack,
                      const std::shared_ptr<const TPSHostRoutine>& routine, void* object, std::uint8_t cc) {
    std::vector<THostParam> params;
    THostParam result;
    bool has_result = false;
    if (!TakeHostParams(exec, stack, proc.Decl, 0, params, result, has_result)) return false;
    return routine->Invoke(exec, object, has_result ? &result : nullptr, params, cc);
}

bool TPSExec::CallHostMethodValue(const PSProcPtrValue& method, const std::string& param_info) {
    return RunHostCall([&] {
        const auto* routine = static_cast<const TPSHostRoutine*>(method.Code);
        std::vector<THostParam> params;
        THostParam result;
        bool has_result = false;
        if (routine == nullptr || !TakeHostParams(*this, stack_, param_info, 0, params, result, has_result)) return false;
        return routine->Invoke(*this, method.Object, has_result ? &result : nullptr, params, cdRegister);
    });
}

bool BindInterfaceMethod(TPSExec&, TPSExternalProcRec& proc, void*) {
    // "intf:." then the slot (4 bytes), the convention and the modes.
    constexpr std::string_view kPrefix = "intf:.";
    const std::string& decl = proc.Decl;
    if (decl.size() < kPrefix.size() + 6 || decl.compare(0, kPrefix.size(), kPrefix) != 0) return false;
    proc.Decl = decl.substr(kPrefix.size());
    proc.Handler = CallInterfaceMethod;
    return true;
}

namespace host_detail {

TPSRegisteredFunction* RegisterRoutine(TPSExec& exec, std::shared_ptr<const TPSHostRoutine> routine, void* object,
                                       std::uint8_t cc, std::string_view name) {
    if (cc > cdSafeCall) return nullptr;
    return &exec.RegisterFunction(
        name, [routine = std::move(routine), object, cc](TPSExec& e, TPSExternalProcRec& proc, TPSStack&, TPSStack& stack) {
            return CallHostFunction(e, proc, stack, routine, object, cc);
        });
}

// ------------------------------------------------------------ conversions

bool IsIntegerBase(std::uint8_t base) { return (base >= btU8 && base <= btS32) || base == btS64; }

bool IsNumberBase(std::uint8_t base) { return IsIntegerBase(base) || (base >= btSingle && base <= btExtended); }

ArrayElements ElementsOf(const void* data, const TPSTypeRec* t) {
    auto* handle = LoadAs<std::byte*>(data);
    return ArrayElements{handle, BlockCount(handle), AsArray(t).ArrayType};
}

template <>
bool OwnConv<PSCurrency>::AcceptsValue(const TPSTypeRec* t) {
    return IsNumberBase(t->BaseType) || t->BaseType == btCurrency;
}
template <>
bool OwnConv<PSCurrency>::AcceptsVar(const TPSTypeRec* t) { return t->BaseType == btCurrency; }
template <>
bool OwnConv<PSCurrency>::Read(TPSExec&, const void* data, const TPSTypeRec* t, PSCurrency& out) {
    out.Scaled = PSReadCurrency(data, t);
    return true;
}
template <>
bool OwnConv<PSCurrency>::Write(TPSExec&, void* data, const TPSTypeRec* t, const PSCurrency& v) {
    if (t->BaseType == btCurrency) {
        StoreAs(data, v.Scaled);
        return true;
    }
    bool ok = true;
    PSWriteReal(data, t, ok, CurrencyToReal(v.Scaled));
    return ok;
}

template <>
bool OwnConv<std::string>::AcceptsValue(const TPSTypeRec* t) {
    return t->BaseType == btString || t->BaseType == btPChar || t->BaseType == btChar;
}
template <>
bool OwnConv<std::string>::AcceptsVar(const TPSTypeRec* t) { return t->BaseType == btString || t->BaseType == btPChar; }
template <>
bool OwnConv<std::string>::Read(TPSExec&, const void* data, const TPSTypeRec* t, std::string& out) {
    out = PSReadString(data, t);
    return true;
}
template <>
bool OwnConv<std::string>::Write(TPSExec&, void* data, const TPSTypeRec*, const std::string& v) {
    SetStringSlot(data, v);
    return true;
}

template <>
bool OwnConv<const char*>::AcceptsValue(const TPSTypeRec* t) { return t->BaseType == btString || t->BaseType == btPChar; }
template <>
bool OwnConv<const char*>::AcceptsVar(const TPSTypeRec* t) { return AcceptsValue(t); }
template <>
bool OwnConv<const char*>::Read(TPSExec&, const void* data, const TPSTypeRec*, const char*& out) {
    // A nil text is an empty zero-terminated one.
    const char* text = LoadStr(data);
    out = text != nullptr ? text : "";
    return true;
}
template <>
bool OwnConv<const char*>::Write(TPSExec&, void* data, const TPSTypeRec*, const char* const& v) {
    SetStringSlot(data, v != nullptr ? std::string_view(v) : std::string_view());
    return true;
}

template <>
bool OwnConv<Variant>::AcceptsValue(const TPSTypeRec*) { return true; }
template <>
bool OwnConv<Variant>::AcceptsVar(const TPSTypeRec* t) { return t->BaseType == btVariant; }
template <>
bool OwnConv<Variant>::Read(TPSExec&, const void* data, const TPSTypeRec* t, Variant& out) {
    return PSValueToVariant(data, t, out);
}
template <>
bool OwnConv<Variant>::Write(TPSExec&, void* data, const TPSTypeRec*, const Variant& v) {
    Variant::StoreIntoSlot(data, v);
    return true;
}

template <>
bool OwnConv<IPSInterface*>::AcceptsValue(const TPSTypeRec* t) { return t->BaseType == btInterface; }
template <>
bool OwnConv<IPSInterface*>::AcceptsVar(const TPSTypeRec* t) { return t->BaseType == btInterface; }
template <>
bool OwnConv<IPSInterface*>::Read(TPSExec&, const void* data, const TPSTypeRec*, IPSInterface*& out) {
    out = LoadAs<IPSInterface*>(data);
    return true;
}
// The script's variable takes a reference of its own.
template <>
bool OwnConv<IPSInterface*>::Write(TPSExec&, void* data, const TPSTypeRec*, IPSInterface* const& v) {
    IPSInterface* old = LoadAs<IPSInterface*>(data);
    if (old == v) return true;
    if (v != nullptr) v->AddRef();
    StoreAs(data, v);
    if (old != nullptr) old->Release();
    return true;
}

template <>
bool OwnConv<IPSObject*>::AcceptsValue(const TPSTypeRec* t) { return t->BaseType == btClass; }
template <>
bool OwnConv<IPSObject*>::AcceptsVar(const TPSTypeRec* t) { return t->BaseType == btClass; }
template <>
bool OwnConv<IPSObject*>::Read(TPSExec&, const void* data, const TPSTypeRec*, IPSObject*& out) {
    out = LoadAs<IPSObject*>(data);
    return true;
}
template <>
bool OwnConv<IPSObject*>::Write(TPSExec&, void* data, const TPSTypeRec*, IPSObject* const& v) {
    StoreAs(data, v);
    return true;
}

// An "array of const" element is a Pointer to the value it was given.
template <>
bool OwnConv<TPSVarRec>::AcceptsValue(const TPSTypeRec* t) { return t->BaseType == btPointer; }
template <>
bool OwnConv<TPSVarRec>::AcceptsVar(const TPSTypeRec* t) { return t->BaseType == btPointer; }
template <>
bool OwnConv<TPSVarRec>::Read(TPSExec&, const void* data, const TPSTypeRec*, TPSVarRec& out) {
    const auto p = LoadAs<PSPointerValue>(data);
    out = TPSVarRec{};
    if (p.Address == nullptr || p.Type == nullptr) return true;
    const void* v = p.Address;
    switch (p.Type->BaseType) {
    case btU8: case btS8: case btU16: case btS16: case btU32: case btS32: {
        std::int64_t i = 0;
        ReadIntegerValue(v, p.Type->BaseType, i);
        out.VType = vtInteger;
        out.VInteger = static_cast<std::int32_t>(i);
        return true;
    }
    case btChar: out.VType = vtChar; out.VChar = LoadAs<char>(v); return true;
    case btSingle: case btDouble: case btExtended:
        out.VType = vtExtended;
        ReadFloatValue(v, p.Type->BaseType, out.VExtended);
        return true;
    case btString: out.VType = vtAnsiString; out.VString = std::string(StringSlotView(v)); return true;
    case btPChar: out.VType = vtPChar; out.VString = std::string(PCharSlotView(v)); return true;
    case btVariant: out.VType = vtVariant; out.VVariant = Variant::CopyFromSlot(v); return true;
    case btS64: out.VType = vtInt64; out.VInt64 = LoadAs<std::int64_t>(v); return true;
    case btClass: out.VType = vtObject; out.VObject = LoadAs<IPSObject*>(v); return true;
    case btInterface: out.VType = vtInterface; out.VInterface = LoadAs<IPSInterface*>(v); return true;
    default: return false;
    }
}
template <>
bool OwnConv<TPSVarRec>::Write(TPSExec& exec, void* data, const TPSTypeRec*, const TPSVarRec& v) {
    const auto p = LoadAs<PSPointerValue>(data);
    if (p.Address == nullptr || p.Type == nullptr) return true;
    bool ok = true;
    switch (v.VType) {
    case vtInteger: PSWriteInt(p.Address, p.Type, ok, v.VInteger); break;
    case vtChar: PSWriteString(p.Address, p.Type, ok, std::string(1, v.VChar)); break;
    case vtExtended: PSWriteReal(p.Address, p.Type, ok, v.VExtended); break;
    case vtAnsiString:
    case vtPChar:
        if (p.Type->BaseType == btString || p.Type->BaseType == btPChar) {
            SetStringSlot(p.Address, v.VString);
        } else {
            PSWriteString(p.Address, p.Type, ok, v.VString);
        }
        break;
    case vtVariant: ok = exec.AssignValue(p.Address, &v.VVariant.Cell(), p.Type, exec.VariantType()); break;
    case vtInt64: PSWriteInt64(p.Address, p.Type, ok, v.VInt64); break;
    case vtInterface:
        if (p.Type->BaseType != btInterface) return false;
        return OwnConv<IPSInterface*>::Write(exec, p.Address, p.Type, v.VInterface);
    default: break;
    }
    return ok;
}

template <>
bool OwnConv<TPSMethod>::AcceptsValue(const TPSTypeRec* t) { return t->BaseType == btProcPtr; }
template <>
bool OwnConv<TPSMethod>::AcceptsVar(const TPSTypeRec* t) { return t->BaseType == btProcPtr; }
template <>
bool OwnConv<TPSMethod>::Read(TPSExec& exec, const void* data, const TPSTypeRec*, TPSMethod& out) {
    const auto p = LoadAs<PSProcPtrValue>(data);
    if (p.ProcNo == 0 && p.Object != nullptr) {
        out = TPSMethod{static_cast<const TPSHostRoutine*>(p.Code), p.Object};
    } else {
        out = MakeScriptMethod(exec, p.ProcNo);
    }
    return true;
}
template <>
bool OwnConv<TPSMethod>::Write(TPSExec& exec, void* data, const TPSTypeRec*, const TPSMethod& v) {
    const std::uint32_t no = ScriptMethodProcNo(exec, v);
    if (no != 0) {
        StoreAs(data, PSProcPtrValue{no, 0, nullptr, nullptr});
    } else {
        StoreAs(data, PSProcPtrValue{0, 0, const_cast<TPSHostRoutine*>(v.Code), v.Data});
    }
    return true;
}

template <>
bool OwnConv<PSValueRef>::AcceptsValue(const TPSTypeRec*) { return true; }
template <>
bool OwnConv<PSValueRef>::AcceptsVar(const TPSTypeRec*) { return true; }
template <>
bool OwnConv<PSValueRef>::Read(TPSExec&, const void* data, const TPSTypeRec* t, PSValueRef& out) {
    out = PSValueRef{const_cast<void*>(data), t};
    return true;
}
template <>
bool OwnConv<PSValueRef>::Write(TPSExec&, void*, const TPSTypeRec*, const PSValueRef&) { return true; }

template <>
bool OwnConv<PSVarRef>::AcceptsValue(const TPSTypeRec*) { return true; }
template <>
bool OwnConv<PSVarRef>::AcceptsVar(const TPSTypeRec*) { return true; }
template <>
bool OwnConv<PSVarRef>::Read(TPSExec&, const void* data, const TPSTypeRec* t, PSVarRef& out) {
    out = PSVarRef{const_cast<void*>(data), t};
    return true;
}
template <>
bool OwnConv<PSVarRef>::Write(TPSExec&, void*, const TPSTypeRec*, const PSVarRef&) { return true; }

}  // namespace host_detail

}  // namespace script::runtime
