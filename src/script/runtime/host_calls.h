#pragma once
// Calls of host routines from scripts, and of script procedures from the
// host.
//
// A host routine is an ordinary C++ function or member function. Its
// signature tells the runtime what it takes: a parameter of a reference
// type that is not const is a var parameter, every other one a value
// parameter; the C++ types name the kinds of script values they take. At
// each call the signature is checked against the import's mode text (result
// or not, and which parameters are var) and against the types of the values
// on the run stack; a mismatch fails the call with error 17 "Could not call
// proc", as does a routine registered under an unknown convention.
//
// The five calling conventions keep what a caller can observe of them:
// parameters arrive in declaration order, a method gets its object as Self,
// var parameters are written back after the call, and a result of any kind
// reaches the script's result variable. Under safecall the routine answers
// an HResult and takes a function's result as a last var parameter; a
// negative HResult is raised as EPSSafecallException.
//
// Host types for script values:
//   integers, bool, char      integer bases (var: one of the same width)
//   float, double, long double  Single, Double, Extended (values: any number)
//   PSCurrency                Currency (the amount times 10000)
//   std::string, const char*  String, PChar (and Char for values)
//   Variant                   any value as a Variant (var: a Variant)
//   IPSInterface*, IPSObject* Interface, Class
//   trivially copyable types  records, static arrays and sets of exactly
//                             their size that hold no strings, arrays or
//                             references
//   PSOpenArray<T>            an open array (High+1 elements); of
//                             TPSVarRec for "array of const"
//   TPSMethod                 a procedure value, a script procedure as a
//                             method the host may call
//   PSValueRef, PSVarRef      any value or variable as it is
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "script/runtime/exec.h"
#include "script/runtime/value_access.h"
#include "script/runtime/variant.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {

enum TPSCallingConvention : std::uint8_t {
    cdRegister = 0,
    cdPascal = 1,
    cdCdecl = 2,
    cdStdCall = 3,
    cdSafeCall = 4,
};

// What a safecall routine answers: negative for a failure.
using HResult = std::int32_t;

// A safecall routine answered a failure code.
class EPSSafecallException : public EPSError {
public:
    explicit EPSSafecallException(HResult code);
    HResult Code;
};

// A Currency value: the amount times 10000.
struct PSCurrency {
    std::int64_t Scaled = 0;
    friend bool operator==(const PSCurrency&, const PSCurrency&) = default;
};

// A script value or variable as it is, read and written with the typed
// access (value_access.h).
struct PSValueRef {
    void* Data = nullptr;
    const TPSTypeRec* Type = nullptr;
};
struct PSVarRef {
    void* Data = nullptr;
    const TPSTypeRec* Type = nullptr;
};

// An open array parameter: its elements converted to T. As a var
// parameter, the elements are written back after the call.
template <typename T>
struct PSOpenArray {
    std::vector<T> Items;
    std::int32_t High() const { return static_cast<std::int32_t>(Items.size()) - 1; }
};

// The kinds of "array of const" entries.
enum TPSVarRecKind : std::uint8_t {
    vtInteger = 0,
    vtChar = 2,
    vtExtended = 3,
    vtPointer = 5,
    vtPChar = 6,
    vtObject = 7,
    vtAnsiString = 11,
    vtVariant = 13,
    vtInterface = 14,
    vtInt64 = 16,
};

// One entry of an "array of const": the script's element (an owned copy
// of the value given) by its kind. A nil element is vtPointer.
struct TPSVarRec {
    std::uint8_t VType = vtPointer;
    std::int32_t VInteger = 0;
    char VChar = 0;
    long double VExtended = 0;
    std::string VString;  // vtAnsiString, vtPChar
    Variant VVariant;
    std::int64_t VInt64 = 0;
    IPSObject* VObject = nullptr;
    IPSInterface* VInterface = nullptr;  // valid during the call
};

// A routine that scripts can call: the typed invoker of one C++ signature
// (or the entry of script methods).
class TPSHostRoutine {
public:
    virtual ~TPSHostRoutine() = default;
    // Performs one call with the parameters in declaration order (each
    // marked var or not) and the result variable (nil for a procedure).
    // False when the routine does not take them.
    virtual bool Invoke(TPSExec& exec, void* object, const THostParam* result, std::span<const THostParam> params,
                        std::uint8_t cc) const = 0;
};

// A method value: the routine and the object it is called for. Procedure
// values that a script passes to a host routine arrive as script methods.
struct TPSMethod {
    const TPSHostRoutine* Code = nullptr;
    void* Data = nullptr;

    // Runs the script procedure of a script method with Variant parameters
    // (TPSExec::CallProc): its result, Null for a procedure; the script's
    // error is raised. EPSError when this is no script method.
    Variant Call(const std::vector<Variant>& args) const;
};

// A script method's data: the executor and the procedure.
struct TPSScriptMethodRecord {
    TPSExec* Exec = nullptr;
    std::uint32_t ProcNo = 0;
};

// The method through which host code calls script procedure proc_no of
// exec; numbers 0 and kNoProc give an empty method.
TPSMethod MakeScriptMethod(TPSExec& exec, std::uint32_t proc_no);
// The procedure number of a script method of exec; 0 for any other method.
std::uint32_t ScriptMethodProcNo(const TPSExec& exec, const TPSMethod& method);

// The handler of a registered routine: takes the parameters from the run
// stack as the import's mode text lays them out and calls the routine.
bool CallHostFunction(TPSExec& exec, TPSExternalProcRec& proc, TPSStack& stack,
                      const std::shared_ptr<const TPSHostRoutine>& routine, void* object, std::uint8_t cc);

// The parameters of a call laid out by a mode text (result flag, then one
// var flag per parameter) below the top of the run stack; extra_first
// more parameters come first (an interface's Self). False when the items
// are not all in the current frame.
bool TakeHostParams(TPSExec& exec, TPSStack& stack, const std::string& modes, std::uint32_t extra_first,
                    std::vector<THostParam>& params, THostParam& result, bool& has_result);

// Binds "intf:." imports: calls of interface methods by their slot.
bool BindInterfaceMethod(TPSExec& exec, TPSExternalProcRec& proc, void* tag);

// ------------------------------------------------------------ conversions

namespace host_detail {

template <typename T>
using Bare = std::remove_cvref_t<T>;

template <typename P>
inline constexpr bool kIsVarParam = (std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>) ||
                                    std::is_same_v<Bare<P>, PSVarRef>;

bool IsIntegerBase(std::uint8_t base);
bool IsNumberBase(std::uint8_t base);

// Conversions by host type: whether a script type fits as a value and as a
// variable (the same storage), reading a value, writing one back.
template <typename T, typename Enable = void>
struct Conv {
    static_assert(sizeof(T) == 0, "no script type for this host type");
};

template <typename T>
struct Conv<T, std::enable_if_t<std::is_integral_v<T>>> {
    static bool AcceptsValue(const TPSTypeRec* t) { return IsIntegerBase(t->BaseType) || t->BaseType == btChar; }
    static bool AcceptsVar(const TPSTypeRec* t) {
        if constexpr (sizeof(T) == 1) return t->BaseType == btU8 || t->BaseType == btS8 || t->BaseType == btChar;
        if constexpr (sizeof(T) == 2) return t->BaseType == btU16 || t->BaseType == btS16;
        if constexpr (sizeof(T) == 4) return t->BaseType == btU32 || t->BaseType == btS32;
        return t->BaseType == btS64;
    }
    static bool Read(TPSExec&, const void* data, const TPSTypeRec* t, T& out) {
        std::int64_t v = 0;
        if (!ReadIntegerValue(data, t->BaseType, v)) return false;
        if constexpr (std::is_same_v<T, bool>) {
            out = v != 0;
        } else {
            out = static_cast<T>(v);
        }
        return true;
    }
    static bool Write(TPSExec&, void* data, const TPSTypeRec* t, const T& v) {
        bool ok = true;
        PSWriteInt64(data, t, ok, static_cast<std::int64_t>(v));
        return ok;
    }
};

template <typename T>
struct Conv<T, std::enable_if_t<std::is_floating_point_v<T>>> {
    static bool AcceptsValue(const TPSTypeRec* t) { return IsNumberBase(t->BaseType) || t->BaseType == btCurrency; }
    static bool AcceptsVar(const TPSTypeRec* t) {
        if constexpr (std::is_same_v<T, float>) return t->BaseType == btSingle;
        if constexpr (std::is_same_v<T, double>) return t->BaseType == btDouble;
        return t->BaseType == btExtended;
    }
    static bool Read(TPSExec&, const void* data, const TPSTypeRec* t, T& out) {
        out = static_cast<T>(PSReadReal(data, t));
        return true;
    }
    static bool Write(TPSExec&, void* data, const TPSTypeRec* t, const T& v) {
        bool ok = true;
        PSWriteReal(data, t, ok, v);
        return ok;
    }
};

// Records, static arrays and sets without references: their bytes.
template <typename T>
inline constexpr bool kIsPlainBlock = std::is_trivially_copyable_v<T> && std::is_class_v<T> &&
                                      !std::is_same_v<T, PSCurrency> && !std::is_same_v<T, PSValueRef> &&
                                      !std::is_same_v<T, PSVarRef> && !std::is_same_v<T, TPSMethod>;

template <typename T>
struct Conv<T, std::enable_if_t<kIsPlainBlock<T>>> {
    static bool AcceptsValue(const TPSTypeRec* t) {
        const std::uint8_t b = t->BaseType;
        return (b == btRecord || b == btStaticArray || b == btSet) && t->RealSize == sizeof(T) &&
               !t->NeedsFinalization();
    }
    static bool AcceptsVar(const TPSTypeRec* t) { return AcceptsValue(t); }
    static bool Read(TPSExec&, const void* data, const TPSTypeRec*, T& out) {
        std::memcpy(&out, data, sizeof(T));
        return true;
    }
    static bool Write(TPSExec&, void* data, const TPSTypeRec*, const T& v) {
        std::memcpy(data, &v, sizeof(T));
        return true;
    }
};

// The types with conversions of their own (host_calls.cpp).
template <typename T>
struct OwnConv {
    static bool AcceptsValue(const TPSTypeRec* t);
    static bool AcceptsVar(const TPSTypeRec* t);
    static bool Read(TPSExec& exec, const void* data, const TPSTypeRec* t, T& out);
    static bool Write(TPSExec& exec, void* data, const TPSTypeRec* t, const T& v);
};
template <>
struct Conv<PSCurrency> : OwnConv<PSCurrency> {};
template <>
struct Conv<std::string> : OwnConv<std::string> {};
template <>
struct Conv<const char*> : OwnConv<const char*> {};
template <>
struct Conv<Variant> : OwnConv<Variant> {};
template <>
struct Conv<IPSInterface*> : OwnConv<IPSInterface*> {};
template <>
struct Conv<IPSObject*> : OwnConv<IPSObject*> {};
template <>
struct Conv<TPSVarRec> : OwnConv<TPSVarRec> {};
template <>
struct Conv<TPSMethod> : OwnConv<TPSMethod> {};
template <>
struct Conv<PSValueRef> : OwnConv<PSValueRef> {};
template <>
struct Conv<PSVarRef> : OwnConv<PSVarRef> {};

// The element list of a dynamic array value.
struct ArrayElements {
    std::byte* Data;
    std::int32_t Count;
    const TPSTypeRec* Element;
};
ArrayElements ElementsOf(const void* data, const TPSTypeRec* t);

template <typename E>
struct Conv<PSOpenArray<E>> {
    static bool AcceptsValue(const TPSTypeRec* t) {
        return t->BaseType == btArray && Conv<E>::AcceptsValue(AsArray(t).ArrayType);
    }
    static bool AcceptsVar(const TPSTypeRec* t) {
        return t->BaseType == btArray && Conv<E>::AcceptsVar(AsArray(t).ArrayType);
    }
    static bool Read(TPSExec& exec, const void* data, const TPSTypeRec* t, PSOpenArray<E>& out) {
        const ArrayElements a = ElementsOf(data, t);
        out.Items.clear();
        out.Items.resize(static_cast<std::size_t>(a.Count));
        for (std::int32_t i = 0; i < a.Count; ++i)
            if (!Conv<E>::Read(exec, a.Data + std::size_t(i) * a.Element->RealSize, a.Element, out.Items[i])) return false;
        return true;
    }
    // The elements that are there get their values back; the length stays.
    static bool Write(TPSExec& exec, void* data, const TPSTypeRec* t, const PSOpenArray<E>& v) {
        const ArrayElements a = ElementsOf(data, t);
        const auto n = std::min<std::size_t>(static_cast<std::size_t>(a.Count), v.Items.size());
        for (std::size_t i = 0; i < n; ++i)
            if (!Conv<E>::Write(exec, a.Data + i * a.Element->RealSize, a.Element, v.Items[i])) return false;
        return true;
    }
};

// One parameter of a C++ signature, held for the call.
template <typename P>
struct Arg {
    using T = Bare<P>;
    static constexpr bool kVar = kIsVarParam<P>;
    T Value{};
    const THostParam* From = nullptr;

    bool Load(TPSExec& exec, const THostParam& p) {
        From = &p;
        if (p.Data == nullptr || p.Type == nullptr) return false;
        if (kVar ? !Conv<T>::AcceptsVar(p.Type) : !Conv<T>::AcceptsValue(p.Type)) return false;
        return Conv<T>::Read(exec, p.Data, p.Type, Value);
    }
    P Get() {
        if constexpr (std::is_lvalue_reference_v<P>) {
            return Value;
        } else {
            return std::move(Value);
        }
    }
    bool WriteBack(TPSExec& exec) {
        if constexpr (kVar && !std::is_same_v<T, PSVarRef>) return Conv<T>::Write(exec, From->Data, From->Type, Value);
        return true;
    }
};

// The typed invoker of one signature. Call is (executor, object, args...)
// -> R.
template <typename Call, typename R, typename... P>
class TypedRoutine final : public TPSHostRoutine {
public:
    explicit TypedRoutine(Call call) : call_(std::move(call)) {}

    bool Invoke(TPSExec& exec, void* object, const THostParam* result, std::span<const THostParam> params,
                std::uint8_t cc) const override {
        constexpr std::size_t kCount = sizeof...(P);
        if (cc > cdSafeCall) return false;
        // Which host parameter each script value goes to: under safecall a
        // function's result is the routine's last parameter.
        std::vector<const THostParam*> order;
        order.reserve(kCount);
        for (const THostParam& p : params) order.push_back(&p);
        if (cc == cdSafeCall) {
            if constexpr (!std::is_same_v<R, HResult>) {
                return false;
            } else {
                if (result != nullptr) order.push_back(result);
            }
        } else if ((result != nullptr) == std::is_void_v<R>) {
            return false;
        }
        if (order.size() != kCount) return false;
        return InvokeWith(exec, object, result, order, cc, std::index_sequence_for<P...>{});
    }

private:
    template <std::size_t... I>
    bool InvokeWith(TPSExec& exec, void* object, const THostParam* result, const std::vector<const THostParam*>& order,
                    std::uint8_t cc, std::index_sequence<I...>) const {
        std::tuple<Arg<P>...> args;
        // Var flags of the mode text against the signature; the safecall
        // result is a var parameter of the routine.
        const bool modes_fit = ((std::get<I>(args).kVar == order[I]->VarParam) && ...);
        if (!modes_fit) return false;
        if (!(std::get<I>(args).Load(exec, *order[I]) && ...)) return false;
        if constexpr (std::is_void_v<R>) {
            call_(exec, object, std::get<I>(args).Get()...);
        } else if constexpr (std::is_same_v<R, HResult>) {
            const R value = call_(exec, object, std::get<I>(args).Get()...);
            if (cc == cdSafeCall) {
                if (!(std::get<I>(args).WriteBack(exec) && ...)) return false;
                if (value < 0) throw EPSSafecallException(value);
                return true;
            }
            if (!(std::get<I>(args).WriteBack(exec) && ...)) return false;
            return Conv<R>::AcceptsVar(result->Type) && Conv<R>::Write(exec, result->Data, result->Type, value);
        } else {
            R value = call_(exec, object, std::get<I>(args).Get()...);
            if (!(std::get<I>(args).WriteBack(exec) && ...)) return false;
            if (result->Data == nullptr || result->Type == nullptr || !Conv<Bare<R>>::AcceptsVar(result->Type))
                return false;
            return Conv<Bare<R>>::Write(exec, result->Data, result->Type, value);
        }
        return (std::get<I>(args).WriteBack(exec) && ...);
    }

    Call call_;
};

// Routines of plain functions; one whose first parameter is TPSExec& gets
// the executor that calls it there (no script parameter of its own).
template <typename R, typename... P>
std::shared_ptr<const TPSHostRoutine> MakeFunctionRoutine(R (*fn)(P...)) {
    auto call = [fn](TPSExec&, void*, P... args) -> R { return fn(std::forward<P>(args)...); };
    return std::make_shared<TypedRoutine<decltype(call), R, P...>>(call);
}

template <typename R, typename... P>
std::shared_ptr<const TPSHostRoutine> MakeFunctionRoutine(R (*fn)(TPSExec&, P...)) {
    auto call = [fn](TPSExec& exec, void*, P... args) -> R { return fn(exec, std::forward<P>(args)...); };
    return std::make_shared<TypedRoutine<decltype(call), R, P...>>(call);
}

// Routines of methods; Base is what the object pointer handed to the
// routine points at (the class itself, or the interface it implements).
template <typename Base, typename C, typename R, typename... P>
std::shared_ptr<const TPSHostRoutine> MakeMethodRoutine(R (C::*fn)(P...)) {
    auto call = [fn](TPSExec&, void* self, P... args) -> R {
        return (static_cast<C*>(static_cast<Base*>(self))->*fn)(std::forward<P>(args)...);
    };
    return std::make_shared<TypedRoutine<decltype(call), R, P...>>(call);
}

template <typename Base, typename C, typename R, typename... P>
std::shared_ptr<const TPSHostRoutine> MakeMethodRoutine(R (C::*fn)(P...) const) {
    auto call = [fn](TPSExec&, void* self, P... args) -> R {
        return (static_cast<const C*>(static_cast<Base*>(self))->*fn)(std::forward<P>(args)...);
    };
    return std::make_shared<TypedRoutine<decltype(call), R, P...>>(call);
}

// Registers a routine under a script name: nothing for an unknown
// convention.
TPSRegisteredFunction* RegisterRoutine(TPSExec& exec, std::shared_ptr<const TPSHostRoutine> routine, void* object,
                                       std::uint8_t cc, std::string_view name);

}  // namespace host_detail

template <typename R, typename... P>
TPSRegisteredFunction* TPSExec::RegisterHostFunction(R (*fn)(P...), std::string_view name, std::uint8_t cc) {
    return host_detail::RegisterRoutine(*this, host_detail::MakeFunctionRoutine(fn), nullptr, cc, name);
}

template <typename C, typename M>
TPSRegisteredFunction* TPSExec::RegisterHostMethod(C* obj, M method, std::uint8_t cc, std::string_view name) {
    return host_detail::RegisterRoutine(*this, host_detail::MakeMethodRoutine<C>(method), static_cast<void*>(obj), cc, name);
}

// The routine of a method of an interface implementation, for its
// IPSInterface::MethodAt.
template <typename M>
std::shared_ptr<const TPSHostRoutine> MakeInterfaceMethod(M method) {
    return host_detail::MakeMethodRoutine<IPSInterface>(method);
}

}  // namespace script::runtime
