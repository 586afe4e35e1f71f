#pragma once
// The compiled script image: the one byte layout that the compiler writes and
// the runtime loads. Everything here is shared by both sides, so it depends on
// nothing but the standard library and holds no compiler internals.
//
// All multi-byte numbers in the image and in the code are little-endian.
//
//   header      7 x u32: magic "VSCR", build, #types, #procs, #vars, main proc, 0
//   types       one entry per used type, in type-number order
//   procedures  one entry per procedure, in procedure-number order
//   variables   one entry per global variable
//   code        the byte code of every internal procedure, in procedure order
#include <cstdint>

namespace script {

// ---------------------------------------------------------------- header
inline constexpr std::uint32_t kImageMagic = 0x52435356;  // "VSCR"
inline constexpr std::uint32_t kImageBuildNumber = 23;
inline constexpr std::uint32_t kImageOldestBuild = 12;    // oldest build the loader accepts
inline constexpr std::uint32_t kImageAttributesBuild = 21;  // types carry attributes from here on
inline constexpr std::uint32_t kImageHeaderSize = 28;
inline constexpr std::uint32_t kNoMainProc = 0xFFFFFFFF;

// Byte offsets of the header words.
inline constexpr std::uint32_t kHeaderMagicAt = 0;
inline constexpr std::uint32_t kHeaderBuildAt = 4;
inline constexpr std::uint32_t kHeaderTypeCountAt = 8;
inline constexpr std::uint32_t kHeaderProcCountAt = 12;
inline constexpr std::uint32_t kHeaderVarCountAt = 16;
inline constexpr std::uint32_t kHeaderMainProcAt = 20;
inline constexpr std::uint32_t kHeaderReservedAt = 24;

// ---------------------------------------------------------------- base types
// One byte in every compile-time type and every runtime type record.
inline constexpr std::uint8_t btReturnAddress = 0;  // runtime only
inline constexpr std::uint8_t btU8 = 1;              // also Boolean and small enumerations
inline constexpr std::uint8_t btS8 = 2;
inline constexpr std::uint8_t btU16 = 3;
inline constexpr std::uint8_t btS16 = 4;
inline constexpr std::uint8_t btU32 = 5;
inline constexpr std::uint8_t btS32 = 6;
inline constexpr std::uint8_t btSingle = 7;
inline constexpr std::uint8_t btDouble = 8;
inline constexpr std::uint8_t btExtended = 9;
inline constexpr std::uint8_t btString = 10;
inline constexpr std::uint8_t btRecord = 11;
inline constexpr std::uint8_t btArray = 12;  // dynamic array
inline constexpr std::uint8_t btPointer = 13;
inline constexpr std::uint8_t btPChar = 14;
inline constexpr std::uint8_t btVariant = 16;
inline constexpr std::uint8_t btS64 = 17;
inline constexpr std::uint8_t btChar = 18;
inline constexpr std::uint8_t btProcPtr = 21;
inline constexpr std::uint8_t btStaticArray = 22;
inline constexpr std::uint8_t btSet = 23;
inline constexpr std::uint8_t btCurrency = 24;
inline constexpr std::uint8_t btClass = 25;
inline constexpr std::uint8_t btInterface = 26;
inline constexpr std::uint8_t btNotificationVariant = 27;  // written as btU32
// Compile-time only codes; the writer maps or resolves them.
inline constexpr std::uint8_t btEnum = 129;            // written as U8, U16 or U32 by size
inline constexpr std::uint8_t btTypeRef = 130;         // written as btU32
inline constexpr std::uint8_t btUndefinedClass = 131;  // resolved to its class before writing
inline constexpr std::uint8_t btTypeLink = 255;        // never written

// The high bit of a type entry's first byte: an export name follows the payload.
inline constexpr std::uint8_t kTypeExportNameFlag = 128;

// Storage of an enumeration by its highest value. The ordinal must fit: an
// enumeration of 257 names (highest value 256) needs two bytes, one of 65537
// names four.
constexpr std::uint32_t EnumStorageBytes(std::uint32_t highest_value) {
    if (highest_value <= 0xFF) return 1;
    if (highest_value <= 0xFFFF) return 2;
    return 4;
}

// The base code that the image carries for a compile-time base code (without
// the export-name flag). An enumeration needs its highest value; other codes
// ignore it. btUndefinedClass and btTypeLink have no image code (answer 0).
constexpr std::uint8_t ImageBaseCode(std::uint8_t base_type, std::uint32_t enum_highest = 0) {
    switch (base_type) {
    case btNotificationVariant:
    case btTypeRef:
        return btU32;
    case btEnum:
        switch (EnumStorageBytes(enum_highest)) {
        case 1: return btU8;
        case 2: return btU16;
        default: return btU32;
        }
    case btUndefinedClass:
    case btTypeLink:
        return 0;
    default:
        return base_type;
    }
}

// Value bytes of a constant of fixed size by image base code; 0 for the codes
// whose constants are variable-length (String, PChar, Set) or carry no bytes.
constexpr std::uint32_t FixedConstantBytes(std::uint8_t image_base_type) {
    switch (image_base_type) {
    case btU8: case btS8: case btChar: return 1;
    case btU16: case btS16: return 2;
    case btU32: case btS32: case btSingle: case btProcPtr: return 4;
    case btDouble: case btS64: case btCurrency: return 8;
    case btExtended: return 10;
    default: return 0;
    }
}

// Byte size of a set of the given number of bits (any remainder is one more byte).
constexpr std::uint32_t SetByteSize(std::uint32_t bit_size) { return (bit_size + 7) / 8; }

// ---------------------------------------------------------------- limits
inline constexpr std::uint32_t kMaxByteCountedText = 255;   // one length byte
inline constexpr std::uint32_t kMaxSetBits = 256;
inline constexpr std::uint32_t kMaxStaticArrayCount = 0x1FFFFFFF;  // below 0x20000000
inline constexpr std::uint32_t kMaxProcSignatureLength = 255;      // loader: below 256
inline constexpr std::uint32_t kMaxClassNameLength = 255;          // loader: below 256
inline constexpr std::uint32_t kMaxLoadedNameLength = 0x40000000;  // export names

// ---------------------------------------------------------------- procedures
// Flags byte of a procedure entry.
inline constexpr std::uint8_t pfExternal = 1;       // imported host function
inline constexpr std::uint8_t pfExportOrDecl = 2;   // internal: always; external: import declaration follows
inline constexpr std::uint8_t pfAttributes = 4;     // an attribute list ends the entry

inline constexpr char kMainProcName[] = "!MAIN";

// ---------------------------------------------------------------- instructions
// One opcode byte followed by its operands. op = operand, var-op = operand that
// is not a constant, off = s32 distance counted from the first byte after the
// whole instruction.
enum Opcode : std::uint8_t {
    opAssign = 0,                 // var-op dest, op source       dest := source (converting)
    opCalc = 1,                   // u8 calc, var-op dest, op src dest := dest <calc> src
    opPush = 2,                   // op                           push a copy
    opPushVar = 3,                // var-op                       push a reference (var parameter)
    opPop = 4,                    //                              drop the top item
    opCall = 5,                   // u32 procedure number
    opGoto = 6,                   // off
    opCondGoto = 7,               // off, op                      jump when true
    opCondNotGoto = 8,            // off, op                      jump when false
    opRet = 9,                    //
    // 10 is unused; the interpreter rejects it.
    opPushType = 11,              // u32 type number              push a zeroed value
    opCompare = 12,               // u8 cmp, var-op dest, op l, op r   dest := l <cmp> r
    opCallVar = 13,               // op                           call through a procedural value
    opSetPtr = 14,                // var-op dest, var-op source   dest refers to source
    opBoolNot = 15,               // var-op
    opNeg = 16,                   // var-op
    opSetFlag = 17,               // var-op, u8 invert            flag := (value <> 0) xor invert
    opFlagGoto = 18,              // off                          jump when the flag is set
    opPushExceptionHandler = 19,  // 4 x u32: finally, except, finally2, end (from after the four)
    opPopExceptionHandler = 20,   // u8 kind (PopHandlerKind)
    opIntNot = 21,                // var-op
    opSetPtrToCopy = 22,          // var-op dest, op source       assignment to a Pointer-typed dest
    opInc = 23,                   // var-op
    opDec = 24,                   // var-op
    opPopGoto = 25,               // off                          pop one, then jump
    opPop2Goto = 26,              // off                          pop two, then jump
    opNop = 255,
};

// Byte of opPopExceptionHandler.
enum PopHandlerKind : std::uint8_t {
    phEndOfTry = 0,
    phEndOfFinally = 1,
    phEndOfExcept = 2,
    phEndOfSecondFinally = 3,
};

// Offsets of opPushExceptionHandler count from the byte after the four words;
// this one means "no such section".
inline constexpr std::uint32_t kNoHandlerOffset = 0xFFFFFFFF;

// The distance every jump is first written with, patched once the target is known.
inline constexpr std::uint32_t kJumpPlaceholder = 0x12345678;

// ---------------------------------------------------------------- operators
// The expression compiler's operator numbers. ORDER OPERATOR
enum ExprOperator : std::uint8_t {
    otAdd = 0, otSub = 1, otMul = 2, otDivide = 3, otMod = 4, otShl = 5, otShr = 6,
    otAnd = 7, otOr = 8, otXor = 9, otAs = 10, otIntDiv = 11,
    otGreaterEqual = 12, otLessEqual = 13, otGreater = 14, otLess = 15,
    otEqual = 16, otNotEqual = 17, otIs = 18, otIn = 19,
};

// Operator byte of opCalc.
enum CalcOperator : std::uint8_t {
    caAdd = 0, caSub = 1, caMul = 2, caDiv = 3, caMod = 4, caShl = 5, caShr = 6,
    caAnd = 7, caOr = 8, caXor = 9,
};

// Operator byte of opCompare. Note "<>" is 4 and "=" is 5.
enum CompareOperator : std::uint8_t {
    coGreaterEqual = 0, coLessEqual = 1, coGreater = 2, coLess = 3,
    coNotEqual = 4, coEqual = 5, coIn = 6, coIs = 7,
};

// Calc byte of an arithmetic expression operator: the same number, except that
// integer division shares the byte of "/" (the interpreter picks integer or
// real division by the operands). False for operators that are not arithmetic.
constexpr bool CalcByteOf(std::uint8_t expr_operator, std::uint8_t& calc) {
    if (expr_operator <= otXor) {
        calc = expr_operator;
        return true;
    }
    if (expr_operator == otIntDiv) {
        calc = caDiv;
        return true;
    }
    return false;
}

// Compare byte of a comparison expression operator; false for the others.
constexpr bool CompareByteOf(std::uint8_t expr_operator, std::uint8_t& compare) {
    switch (expr_operator) {
    case otGreaterEqual: compare = coGreaterEqual; return true;
    case otLessEqual: compare = coLessEqual; return true;
    case otGreater: compare = coGreater; return true;
    case otLess: compare = coLess; return true;
    case otNotEqual: compare = coNotEqual; return true;
    case otEqual: compare = coEqual; return true;
    case otIn: compare = coIn; return true;
    case otIs: compare = coIs; return true;
    default: return false;
    }
}

// ---------------------------------------------------------------- operands
enum OperandKind : std::uint8_t {
    okVariable = 0,       // u32 address
    okConstant = 1,       // u32 type number, value bytes by base code
    okElementNumber = 2,  // u32 address, u32 field or element number
    okElementIndex = 3,   // u32 address, u32 address of the index variable
};

// Variable addresses. Globals are numbered from 0; locals (and compiler
// temporaries) and parameters sit around the procedure's stack base, which the
// address minus kStackBaseAddress gives as a signed offset (+1+n for local n,
// -(1+n) for parameter n).
inline constexpr std::uint32_t kStackBaseAddress = 0x60000000;
inline constexpr std::uint32_t kGlobalAddressLimit = 0x40000000;  // below: a global number
inline constexpr std::uint32_t kInvalidAddress = 0xFFFFFFFF;

constexpr std::uint32_t GlobalVarAddress(std::uint32_t n) { return n; }
constexpr std::uint32_t LocalVarAddress(std::uint32_t n) { return kStackBaseAddress + 1 + n; }
constexpr std::uint32_t ParamVarAddress(std::uint32_t n) { return kStackBaseAddress - 1 - n; }

}  // namespace script
