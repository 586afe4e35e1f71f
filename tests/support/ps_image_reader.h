#pragma once
// A test-side reader of compiled script images. It decodes an image into
// plain structs with the loader's own checks (every read bounded, the same
// error codes), and decodes byte code into instructions, so that tests can
// check what the compiler wrote without comparing byte blobs.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace script::test_support {

// Loader error codes used by the reader.
inline constexpr int kErrCannotImport = 1;
inline constexpr int kErrInvalidType = 2;
inline constexpr int kErrInvalidHeader = 4;
inline constexpr int kErrInvalidOpcode = 5;
inline constexpr int kErrNoMainProc = 7;
inline constexpr int kErrOutOfProcRange = 9;
inline constexpr int kErrOutOfRange = 10;
inline constexpr int kErrTypeMismatch = 12;
inline constexpr int kErrUnexpectedEof = 13;

class PSImageError : public std::runtime_error {
public:
    PSImageError(int code, const std::string& what) : std::runtime_error(what), Code(code) {}
    int Code;
};

// A typed constant: its type number, the image base code of that type and
// the value bytes exactly as stored (for texts: the characters, in Text).
struct PSConstant {
    std::uint32_t TypeNo = 0;
    std::uint8_t BaseType = 0;
    std::string Bytes;  // the raw value bytes after the type number (count included for texts)
    std::string Text;   // String and PChar: the characters
    // The value bytes read as a little-endian unsigned number (up to 8 bytes).
    std::uint64_t AsUnsigned() const;
};

struct PSAttribute {
    std::string Name;
    std::vector<PSConstant> Values;
};

struct PSType {
    std::uint8_t RawCode = 0;   // the byte as stored
    std::uint8_t BaseType = 0;  // without the export flag
    bool HasExportName = false;
    std::string ExportName;
    std::array<std::uint32_t, 4> Guid{};  // Interface
    std::string ClassName;                // Class
    std::string ProcSignature;            // ProcPtr
    std::uint32_t SetBits = 0;            // Set
    std::uint32_t ElementType = 0;        // Array, StaticArray
    std::uint32_t ElementCount = 0;       // StaticArray
    std::uint32_t StartOffset = 0;        // StaticArray
    std::vector<std::uint32_t> FieldTypes;  // Record
    std::vector<PSAttribute> Attributes;
};

struct PSProc {
    std::uint8_t Flags = 0;
    bool External = false;
    // External: the byte-counted name and the import declaration.
    std::string Name;
    std::string Decl;
    // Internal: where its code lies and a copy of it; name and declaration text.
    std::uint32_t CodeOffset = 0;
    std::uint32_t CodeLength = 0;
    std::string Code;
    std::string ExportName;
    std::string ExportDecl;
    std::vector<PSAttribute> Attributes;
};

struct PSVar {
    std::uint32_t TypeNo = 0;
    bool Exported = false;
    std::string ExportName;
};

struct PSImage {
    std::uint32_t Build = 0;
    std::uint32_t MainProc = 0;
    std::uint32_t Reserved = 0;
    std::vector<PSType> Types;
    std::vector<PSProc> Procs;
    std::vector<PSVar> Vars;

    // The internal procedure with the given name; throws when absent.
    const PSProc& ProcNamed(std::string_view name) const;
};

// Decodes the whole image; throws PSImageError with the loader's code.
PSImage ReadImage(std::string_view image);

// ------------------------------------------------------------ byte code

struct PSOperand {
    std::uint8_t Kind = 0;
    std::uint32_t Address = 0;  // kinds 0, 2, 3
    std::uint32_t Second = 0;   // kind 2: element number; kind 3: index variable address
    PSConstant Constant;        // kind 1
};

struct PSInstruction {
    std::uint32_t Pos = 0;      // of the opcode byte
    std::uint32_t End = 0;      // first byte after the instruction
    std::uint8_t Opcode = 0;
    std::uint8_t SubCode = 0;   // calc or compare operator, SetFlag invert, handler kind
    std::uint32_t Number = 0;   // Call: procedure; PushType: type
    std::vector<PSOperand> Operands;
    bool IsJump = false;
    std::int32_t Distance = 0;       // jumps: counted from End
    std::uint32_t Target = 0;        // jumps: End + Distance
    std::array<std::uint32_t, 4> HandlerOffsets{};  // PushExceptionHandler
};

// Decodes a procedure's code with the image's types (for constant sizes);
// throws PSImageError on an unknown opcode (5), a truncated instruction (10)
// or a constant of a type that has no constant form (2).
std::vector<PSInstruction> DecodeCode(const PSImage& image, std::string_view code);

}  // namespace script::test_support
