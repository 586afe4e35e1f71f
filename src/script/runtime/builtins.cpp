// The runtime's own functions, registered by every executor: most share one
// dispatcher that picks the operation by the case number in the record's
// first extra word; a few have handlers of their own, and the Variant
// routines are plain host routines.
//
// Handlers follow the host function contract: a function's result is the
// run stack's top item, its first parameter the item below it; a
// procedure's first parameter is the top item.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/numbers.h"
#include "script/runtime/host_calls.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

// An argument: the item's value, or what a Pointer item points at (nil
// value and type for a nil Pointer).
struct TypedArg {
    void* Value = nullptr;
    const TPSTypeRec* Type = nullptr;
};

TypedArg Arg(const TPSStack& stack, std::int32_t index) {
    void* item = stack.ItemAt(index);
    TypedArg a{ValueOfTypedValue(item), TypeOfTypedValue(item)};
    if (a.Type != nullptr && a.Type->BaseType == btPointer) {
        const auto p = LoadAs<PSPointerValue>(a.Value);
        a = TypedArg{p.Address, p.Type};
    }
    return a;
}

// Whether the items that the import's mode text gives the call lie in the
// calling procedure's frame; an import without one is not checked.
bool ParamsInFrame(const TPSExec& exec, const TPSExternalProcRec& proc) {
    if (proc.Decl.empty()) return true;
    const auto items = static_cast<std::uint32_t>(proc.Decl.size() - 1) + (proc.Decl[0] != 0 ? 1 : 0);
    return exec.FrameHasItems(items);
}

// New characters are zero bytes.
void SetStringLength(void* slot, std::int32_t length) {
    std::string text(StringSlotView(slot));
    const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
    CheckValueBytes(std::uint64_t{n} + 1);
    text.resize(n, '\0');
    SetStringSlot(slot, text);
}

constexpr char kOutOfStringRange[] = "Out of string range";

enum BuiltinCase : std::uint32_t {
    bcIntToStr = 0,
    bcStrToInt = 1,
    bcStrToIntDef = 2,
    bcPos = 3,
    bcCopy = 4,
    bcDelete = 5,
    bcInsert = 6,
    bcStrGet = 7,
    bcStrSet = 8,
    bcUpperCase = 10,
    bcLowerCase = 11,
    bcTrim = 12,
    bcStringLength = 13,
    bcSetStringLength = 14,
    bcSin = 15,
    bcCos = 16,
    bcSqrt = 17,
    bcRound = 18,
    bcTrunc = 19,
    bcInt = 20,
    bcPi = 21,
    bcAbs = 22,
    bcStrToFloat = 23,
    bcFloatToStr = 24,
    bcPadL = 25,
    bcPadR = 26,
    bcPadZ = 27,
    bcReplicate = 28,
    bcAssigned = 29,
    bcRaiseLastException = 30,
    bcRaiseException = 31,
    bcExceptionType = 32,
    bcExceptionParam = 33,
    bcExceptionProc = 34,
    bcExceptionPos = 35,
    bcExceptionToString = 36,
    bcAnsiUpperCase = 37,
    bcAnsiLowerCase = 38,
    bcStrToInt64 = 39,
    bcInt64ToStr = 40,
    bcSizeOf = 41,
};

// ------------------------------------------------------------ texts

std::int32_t Position(std::string_view sub, std::string_view s) {
    if (sub.empty()) return 0;
    const std::size_t at = s.find(sub);
    return at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at + 1);
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

std::string Trimmed(std::string_view s) {
    std::size_t first = 0;
    std::size_t last = s.size();
    while (first < last && static_cast<unsigned char>(s[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ') --last;
    return std::string(s.substr(first, last - first));
}

// Pads to length width, never shortening; at most the value cap.
std::string Padded(std::string_view s, std::int32_t width, char pad, bool in_front) {
    if (width <= static_cast<std::int64_t>(s.size())) return std::string(s);
    CheckValueBytes(static_cast<std::uint64_t>(width) + 1);
    const std::string fill(static_cast<std::size_t>(width) - s.size(), pad);
    return in_front ? fill + std::string(s) : std::string(s) + fill;
}

// ------------------------------------------------------------ numbers

// A float argument or result that is not a finite number is a math error.
long double Finite(long double v) {
    if (!std::isfinite(v)) throw EPSMathError("Invalid floating point operation");
    return v;
}

std::int32_t Low32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

std::int64_t Truncated(long double v) {
    // Beyond 64 bits the conversion would be undefined.
    if (!std::isfinite(v) || v >= 9223372036854775808.0L || v < -9223372036854775808.0L)
        throw EPSMathError("Invalid floating point operation");
    return static_cast<std::int64_t>(v);
}

// ------------------------------------------------------------ the dispatcher

bool Dispatch(TPSExec& exec, TPSExternalProcRec& proc, TPSStack& stack) {
    // Texts that a parameter holds are read where they lie: a plug-in reads
    // a long string (RD) a character or a piece at a time, and a copy per
    // call would make that cost grow with the square of its length.
    std::string made;
    std::string made2;
    switch (proc.Ext1) {
    case bcIntToStr:
    case bcInt64ToStr: stack.SetString(-1, IntegerText(PSReadInt64(Arg(stack, -2).Value, Arg(stack, -2).Type))); return true;
    case bcStrToInt: stack.SetInt(-1, PSStrToInt(stack.GetString(-2))); return true;
    case bcStrToIntDef: stack.SetInt(-1, PSStrToIntDef(stack.GetString(-2), stack.GetInt(-3))); return true;
    case bcPos: stack.SetInt(-1, Position(stack.GetText(-2, made), stack.GetText(-3, made2))); return true;
    case bcCopy: stack.SetString(-1, CopySlice(stack.GetText(-2, made), stack.GetInt(-3), stack.GetInt(-4))); return true;
    case bcDelete: {
        const TypedArg s = Arg(stack, -1);
        if (s.Type == nullptr || s.Type->BaseType != btString) return false;
        const std::int32_t from = stack.GetInt(-2);
        const std::int32_t count = stack.GetInt(-3);
        const std::int64_t length = BlockCount(LoadStr(s.Value));
        if (from < 1 || from > length || count <= 0) return true;
        // In place, or one copy of what is left when the text is shared: a
        // plug-in splitting a long line field by field deletes from its
        // front again and again.
        DeleteFromStringSlot(s.Value, static_cast<std::size_t>(from - 1),
                             static_cast<std::size_t>(std::min<std::int64_t>(count, length - from + 1)));
        return true;
    }
    case bcInsert: {
        const std::string piece = stack.GetString(-1);
        const TypedArg s = Arg(stack, -2);
        if (s.Type == nullptr || s.Type->BaseType != btString) return false;
        std::string text(StringSlotView(s.Value));
        std::int64_t at = stack.GetInt(-3);
        if (piece.empty()) return true;
        at = std::clamp<std::int64_t>(at, 1, static_cast<std::int64_t>(text.size()) + 1);
        CheckValueBytes(std::uint64_t{text.size()} + piece.size() + 1);
        text.insert(static_cast<std::size_t>(at - 1), piece);
        SetStringSlot(s.Value, text);
        return true;
    }
    case bcStrGet: {
        const std::string_view s = stack.GetText(-2, made);
        const std::int32_t i = stack.GetInt(-3);
        if (i < 1 || i > static_cast<std::int64_t>(s.size())) {
            exec.RaiseErrorParam(erCustomError, kOutOfStringRange);
            return false;
        }
        stack.SetString(-1, std::string(1, s[static_cast<std::size_t>(i - 1)]));
        return true;
    }
    case bcStrSet: {
        const std::string c = stack.GetString(-1);
        const std::int32_t i = stack.GetInt(-2);
        const TypedArg s = Arg(stack, -3);
        if (s.Type == nullptr || s.Type->BaseType != btString) return false;
        if (i < 1 || i > static_cast<std::int64_t>(StringSlotView(s.Value).size())) {
            exec.RaiseErrorParam(erCustomError, kOutOfStringRange);
            return false;
        }
        UniqueStringSlot(s.Value)[i - 1] = c.empty() ? '\0' : c[0];
        return true;
    }
    case bcUpperCase: stack.SetString(-1, FastUpperCase(stack.GetString(-2))); return true;
    case bcLowerCase: stack.SetString(-1, LowerAscii(stack.GetString(-2))); return true;
    case bcTrim: stack.SetString(-1, Trimmed(stack.GetString(-2))); return true;
    case bcStringLength: stack.SetInt(-1, static_cast<std::int32_t>(stack.GetText(-2, made).size())); return true;
    case bcSetStringLength: {
        const TypedArg s = Arg(stack, -1);
        if (s.Type == nullptr || s.Type->BaseType != btString) return false;
        SetStringLength(s.Value, stack.GetInt(-2));
        return true;
    }
    case bcSin: stack.SetReal(-1, Finite(std::sin(Finite(stack.GetReal(-2))))); return true;
    case bcCos: stack.SetReal(-1, Finite(std::cos(Finite(stack.GetReal(-2))))); return true;
    case bcSqrt: stack.SetReal(-1, Finite(std::sqrt(Finite(stack.GetReal(-2))))); return true;
    case bcRound: stack.SetInt(-1, Low32(RoundToInt64(stack.GetReal(-2)))); return true;
    case bcTrunc: stack.SetInt(-1, Low32(Truncated(stack.GetReal(-2)))); return true;
    case bcInt: stack.SetReal(-1, std::trunc(Finite(stack.GetReal(-2)))); return true;
    case bcPi: stack.SetReal(-1, 3.14159265358979323846264338327950288L); return true;
    case bcAbs: stack.SetReal(-1, std::fabs(Finite(stack.GetReal(-2)))); return true;
    case bcStrToFloat: stack.SetReal(-1, PSStrToFloat(stack.GetString(-2))); return true;
    case bcFloatToStr: stack.SetString(-1, PSFloatToStr(stack.GetReal(-2))); return true;
    case bcPadL: stack.SetString(-1, Padded(stack.GetString(-2), stack.GetInt(-3), ' ', true)); return true;
    case bcPadR: stack.SetString(-1, Padded(stack.GetString(-2), stack.GetInt(-3), ' ', false)); return true;
    case bcPadZ: stack.SetString(-1, Padded(stack.GetString(-2), stack.GetInt(-3), '0', true)); return true;
    case bcReplicate: {
        const std::string c = stack.GetString(-2);
        const std::int32_t count = stack.GetInt(-3);
        stack.SetString(-1, Padded({}, count, c.empty() ? '\0' : c[0], true));
        return true;
    }
    case bcAssigned: {
        const TypedArg a = Arg(stack, -2);
        if (a.Type == nullptr) return false;
        bool assigned = false;
        switch (a.Type->BaseType) {
        case btU8: case btS8: case btU16: case btS16: case btU32: case btS32: {
            std::int64_t v = 0;
            ReadIntegerValue(a.Value, a.Type->BaseType, v);
            assigned = v != 0;
            break;
        }
        case btString: case btPChar: assigned = !StringSlotView(a.Value).empty(); break;
        case btArray: case btClass: case btInterface: assigned = LoadAs<void*>(a.Value) != nullptr; break;
        default: return false;
        }
        stack.SetInt(-1, assigned ? 1 : 0);
        return true;
    }
    case bcRaiseLastException:
        // Outside an except block there is nothing to raise again.
        return !exec.RaiseFrameError();
    case bcRaiseException:
        exec.RaiseErrorParam(static_cast<std::uint8_t>(stack.GetInt(-1)), stack.GetString(-2));
        return false;
    case bcExceptionType: stack.SetInt(-1, exec.LastErrorCode()); return true;
    case bcExceptionParam: stack.SetString(-1, exec.LastErrorParam()); return true;
    case bcExceptionProc: stack.SetUInt(-1, exec.LastErrorProc()); return true;
    case bcExceptionPos: stack.SetUInt(-1, exec.LastErrorPos()); return true;
    case bcExceptionToString:
        stack.SetString(-1, PSErrorText(static_cast<std::uint8_t>(stack.GetInt(-2)), stack.GetString(-3)));
        return true;
    case bcAnsiUpperCase: stack.SetString(-1, rtl::AnsiUpperCase(stack.GetString(-2))); return true;
    case bcAnsiLowerCase: stack.SetString(-1, rtl::AnsiLowerCase(stack.GetString(-2))); return true;
    case bcStrToInt64: stack.SetInt64(-1, rtl::StrToInt64(stack.GetString(-2))); return true;
    case bcSizeOf: {
        const void* item = stack.ItemAt(-2);
        const TPSTypeRec* type = TypeOfTypedValue(item);
        if (type != nullptr && type->BaseType == btPointer) type = LoadAs<PSPointerValue>(ValueOfTypedValue(item)).Type;
        stack.SetInt(-1, type != nullptr ? static_cast<std::int32_t>(type->RealSize) : 0);
        return true;
    }
    default:
        return false;
    }
}

// ------------------------------------------------------------ own handlers

bool Length(TPSExec& exec, TPSStack& stack) {
    const TypedArg a = Arg(stack, -2);
    std::int64_t length = 0;
    switch (a.Type != nullptr ? a.Type->BaseType : btReturnAddress) {
    case btString: length = static_cast<std::int64_t>(StringSlotView(a.Value).size()); break;
    case btPChar: length = static_cast<std::int64_t>(PCharSlotView(a.Value).size()); break;
    case btArray: length = BlockCount(LoadAs<void*>(a.Value)); break;
    case btStaticArray: length = AsStaticArray(a.Type).Size; break;
    case btVariant: length = static_cast<std::int64_t>(Variant::CopyFromSlot(a.Value).ToString().size()); break;
    default:
        exec.RaiseError(ErTypeMismatch);
        return false;
    }
    stack.SetInt64(-1, length);
    return true;
}

bool SetLength(TPSStack& stack, std::int32_t var_index, std::int32_t length_index, bool strings) {
    const TypedArg a = Arg(stack, var_index);
    if (a.Type == nullptr) return false;
    const std::int32_t length = stack.GetInt(length_index);
    if (strings && a.Type->BaseType == btString) {
        SetStringLength(a.Value, length);
        return true;
    }
    if (a.Type->BaseType != btArray) return false;
    SetDynArrayLength(a.Value, a.Type, length);
    return true;
}

bool ArrayLength(TPSStack& stack) {
    const TypedArg a = Arg(stack, -2);
    if (a.Type == nullptr || a.Type->BaseType != btArray) return false;
    stack.SetInt(-1, BlockCount(LoadAs<void*>(a.Value)));
    return true;
}

bool Bound(TPSStack& stack, bool high) {
    const TypedArg a = Arg(stack, -2);
    if (a.Type == nullptr) return false;
    std::int64_t low = 0;
    std::int64_t top = 0;
    switch (a.Type->BaseType) {
    case btU8: top = 255; break;
    case btS8: low = -128; top = 127; break;
    case btU16: top = 65535; break;
    case btS16: low = -32768; top = 32767; break;
    case btU32: top = 4294967295LL; break;
    case btS32: low = -2147483648LL; top = 2147483647; break;
    case btString: low = 1; top = static_cast<std::int64_t>(StringSlotView(a.Value).size()); break;
    case btArray: top = std::int64_t{BlockCount(LoadAs<void*>(a.Value))} - 1; break;
    case btStaticArray:
        low = AsStaticArray(a.Type).StartOffset;
        top = low + std::int64_t{AsStaticArray(a.Type).Size} - 1;
        break;
    default: return false;
    }
    stack.SetInt64(-1, high ? top : low);
    return true;
}

bool Step(TPSStack& stack, std::int64_t delta) {
    const TypedArg a = Arg(stack, -1);
    if (a.Type == nullptr) return false;
    std::int64_t v = 0;
    switch (a.Type->BaseType) {
    case btU8: case btS8: case btU16: case btS16: case btU32: case btS32: case btS64:
        ReadIntegerValue(a.Value, a.Type->BaseType, v);
        break;
    default: return false;
    }
    bool ok = true;
    PSWriteInt64(a.Value, a.Type, ok, static_cast<std::int64_t>(static_cast<std::uint64_t>(v) + static_cast<std::uint64_t>(delta)));
    return ok;
}

// Indexing a Variant array: one dimension, an index outside its bounds is
// error 10.
bool VariantElement(TPSExec& exec, const TypedArg& array, std::int32_t index, Variant* get, const Variant* set) {
    if (array.Type == nullptr || array.Type->BaseType != btVariant) return false;
    Variant v = Variant::CopyFromSlot(array.Value);
    if (!v.IsArray()) {
        exec.RaiseError(ErTypeMismatch);
        return false;
    }
    if (index < v.LowBound() || index > v.HighBound()) {
        exec.RaiseError(ErOutOfRange);
        return false;
    }
    if (get != nullptr) {
        *get = v.GetElement(index);
        return true;
    }
    v.SetElement(index, *set);
    Variant::StoreIntoSlot(array.Value, std::move(v));
    return true;
}

// ------------------------------------------------------------ Variant routines

Variant Unassigned() { return Variant(); }
bool VarIsEmpty(const Variant& v) { return v.IsEmpty(); }
Variant NullVariant() { return Variant::Null(); }
bool VarIsNull(const Variant& v) { return v.IsNull(); }
std::uint16_t VarTypeOf(const Variant& v) { return v.VType(); }

Variant IDispatchInvoke(TPSExec& exec, IPSInterface* self, bool property_set, const std::string& name,
                        const PSOpenArray<Variant>& par) {
    if (self == nullptr) throw exec.ScriptException("Variant is null, cannot invoke");
    auto* dispatch = dynamic_cast<IPSDispatch*>(self);
    if (dispatch == nullptr) throw EPSError(PSErrorText(erInterfaceNotSupported, {}));
    std::int32_t id = 0;
    if (!name.empty() && !dispatch->GetMemberId(name, id)) throw EPSError("Unknown method");
    std::vector<Variant> args = par.Items;
    return dispatch->Invoke(id, property_set, args);
}

}  // namespace

void TPSExec::RegisterBuiltins() {
    static constexpr struct {
        const char* Name;
        BuiltinCase Case;
    } kCases[] = {
        {"INTTOSTR", bcIntToStr},       {"STRTOINT", bcStrToInt},
        {"STRTOINTDEF", bcStrToIntDef}, {"POS", bcPos},
        {"COPY", bcCopy},               {"DELETE", bcDelete},
        {"INSERT", bcInsert},           {"STRGET", bcStrGet},
        {"STRGET2", bcStrGet},          {"STRSET", bcStrSet},
        {"UPPERCASE", bcUpperCase},     {"LOWERCASE", bcLowerCase},
        {"TRIM", bcTrim},               {"SIN", bcSin},
        {"COS", bcCos},                 {"SQRT", bcSqrt},
        {"ROUND", bcRound},             {"TRUNC", bcTrunc},
        {"INT", bcInt},                 {"PI", bcPi},
        {"ABS", bcAbs},                 {"STRTOFLOAT", bcStrToFloat},
        {"FLOATTOSTR", bcFloatToStr},   {"PADL", bcPadL},
        {"PADR", bcPadR},               {"PADZ", bcPadZ},
        {"REPLICATE", bcReplicate},     {"STRINGOFCHAR", bcReplicate},
        {"!ASSIGNED", bcAssigned},      {"RAISELASTEXCEPTION", bcRaiseLastException},
        {"RAISEEXCEPTION", bcRaiseException}, {"EXCEPTIONTYPE", bcExceptionType},
        {"EXCEPTIONPARAM", bcExceptionParam}, {"EXCEPTIONPROC", bcExceptionProc},
        {"EXCEPTIONPOS", bcExceptionPos}, {"EXCEPTIONTOSTRING", bcExceptionToString},
        {"ANSIUPPERCASE", bcAnsiUpperCase}, {"ANSILOWERCASE", bcAnsiLowerCase},
        {"STRTOINT64", bcStrToInt64},   {"INT64TOSTR", bcInt64ToStr},
        {"SIZEOF", bcSizeOf},
    };
    for (const auto& c : kCases) {
        TPSRegisteredFunction& f = RegisterFunction(
            c.Name,
            [](TPSExec& exec, TPSExternalProcRec& proc, TPSStack&, TPSStack& stack) {
                return ParamsInFrame(exec, proc) && Dispatch(exec, proc, stack);
            },
            c.Case);
        // S[i] compiles to a call of StrGet, which proven code reads in place,
        // and so do a piece Copy(S, i, n) and IntToStr(n) that a plug-in
        // reads or appends.
        if (c.Case == bcStrGet) f.Intrinsic = TPSIntrinsic::StrGet;
        if (c.Case == bcCopy) f.Intrinsic = TPSIntrinsic::Copy;
        if (c.Case == bcIntToStr || c.Case == bcInt64ToStr) f.Intrinsic = TPSIntrinsic::IntToStr;
    }
    // Handlers of their own, with the frame checked first.
    auto own = [this](const char* name, bool (*handler)(TPSExec&, TPSStack&)) -> TPSRegisteredFunction& {
        return RegisterFunction(name, [handler](TPSExec& exec, TPSExternalProcRec& proc, TPSStack&, TPSStack& stack) {
            return ParamsInFrame(exec, proc) && handler(exec, stack);
        });
    };
    // A loop's bound Length(S) is called at every step: proven code reads it.
    own("LENGTH", Length).Intrinsic = TPSIntrinsic::Length;
    own("SETLENGTH", [](TPSExec&, TPSStack& s) { return SetLength(s, -1, -2, true); });
    own("GETARRAYLENGTH", [](TPSExec&, TPSStack& s) { return ArrayLength(s); });
    own("SETARRAYLENGTH", [](TPSExec&, TPSStack& s) { return SetLength(s, -1, -2, false); });
    own("LOW", [](TPSExec&, TPSStack& s) { return Bound(s, false); });
    own("HIGH", [](TPSExec&, TPSStack& s) { return Bound(s, true); });
    own("INC", [](TPSExec&, TPSStack& s) { return Step(s, 1); });
    own("DEC", [](TPSExec&, TPSStack& s) { return Step(s, -1); });
    own("!NOTIFICATIONVARIANTSET", [](TPSExec& exec, TPSStack& s) {
        if (!exec.OnSetNotificationVariant) return false;
        const TypedArg v = Arg(s, -2);
        Variant value;
        if (v.Type == nullptr || !PSValueToVariant(v.Value, v.Type, value)) return false;
        exec.OnSetNotificationVariant(exec, s.GetString(-1), value);
        return true;
    });
    own("!NOTIFICATIONVARIANTGET", [](TPSExec& exec, TPSStack& s) {
        if (!exec.OnGetNotificationVariant) return false;
        const Variant value = exec.OnGetNotificationVariant(exec, s.GetString(-2));
        const TypedArg result = Arg(s, -1);
        return result.Type != nullptr && exec.AssignValue(result.Value, &value.Cell(), result.Type, exec.VariantType());
    });
    own("VARARRAYGET", [](TPSExec& exec, TPSStack& s) {
        Variant element;
        if (!VariantElement(exec, Arg(s, -2), s.GetInt(-3), &element, nullptr)) return false;
        const TypedArg result = Arg(s, -1);
        return result.Type != nullptr && exec.AssignValue(result.Value, &element.Cell(), result.Type, exec.VariantType());
    });
    own("VARARRAYSET", [](TPSExec& exec, TPSStack& s) {
        const TypedArg value = Arg(s, -1);
        Variant element;
        if (value.Type == nullptr || !PSValueToVariant(value.Value, value.Type, element)) return false;
        return VariantElement(exec, Arg(s, -3), s.GetInt(-2), nullptr, &element);
    });

    RegisterHostFunction(Unassigned, "UNASSIGNED", cdRegister);
    RegisterHostFunction(VarIsEmpty, "VARISEMPTY", cdRegister);
    RegisterHostFunction(NullVariant, "NULL", cdRegister);
    RegisterHostFunction(VarIsNull, "VARISNULL", cdRegister);
    RegisterHostFunction(VarTypeOf, "VARTYPE", cdRegister);
    RegisterHostFunction(IDispatchInvoke, "IDISPATCHINVOKE", cdRegister);
    RegisterSpecialProcImport("intf", BindInterfaceMethod, nullptr);
}

}  // namespace script::runtime
