#pragma once
// Script values to Variants and back: the hand-over between the host's
// Variants (CallProc parameters and results, Variant Assign rows) and typed
// script values.
#include "script/runtime/exec.h"
#include "script/runtime/variant.h"

namespace script::runtime {

// A value handed to or from the host: its address and type record, and
// whether it is passed by reference.
struct THostParam {
    void* Data = nullptr;
    const TPSTypeRec* Type = nullptr;
    bool VarParam = false;
};

// Converts a script value: integers keep their width (U8 a Byte, or a
// Boolean for the type named "BOOLEAN"; S8 ShortInt; U16 Word; S16
// SmallInt; U32 LongWord; S32 Integer; S64 Int64), Single and Extended
// become Double, Double a Date for the type named "TDATETIME", strings and
// PChar and Char a String, Currency a Currency, dynamic and static arrays an
// array 0..count-1 of their converted elements, a Variant its copy, a
// Pointer what it points at. A nil type gives Null (Empty when data is nil
// too). False for any other type or an element that does not convert;
// value faults (an Extended beyond Double, an array beyond the cap) raise.
bool PSValueToVariant(const void* data, const TPSTypeRec* type, Variant& v);

// Assigns v to the parameter's value (to its target when it is a Pointer)
// with the conversions of TPSExec::AssignValue; false with the error
// reported when it does not convert.
bool VariantToPSValue(TPSExec& exec, const Variant& v, const THostParam& param);

// Makes the dynamic array at dest (of dest_type) hold the elements of the
// Variant array src, each assigned with TPSExec::AssignValue. False when src
// is no array or an element fails (with the error reported).
bool VariantArrayToDynArray(TPSExec& exec, void* dest, const Variant& src, const TPSTypeRec* dest_type);

}  // namespace script::runtime
