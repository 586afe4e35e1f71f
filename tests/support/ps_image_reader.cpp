#include "support/ps_image_reader.h"

#include "script/compiler/image_format.h"

namespace script::test_support {

namespace {

// A bounded cursor: every read checks that its bytes remain.
class Cursor {
public:
    Cursor(std::string_view data, int short_read_code) : data_(data), short_code_(short_read_code) {}

    std::size_t Pos() const { return pos_; }
    std::size_t Left() const { return data_.size() - pos_; }

    std::string_view Take(std::size_t n, const char* what) {
        if (n > Left()) throw PSImageError(short_code_, std::string("short read: ") + what);
        std::string_view bytes = data_.substr(pos_, n);
        pos_ += n;
        return bytes;
    }
    std::string_view Since(std::size_t start) const { return data_.substr(start, pos_ - start); }
    std::uint8_t Byte(const char* what) { return static_cast<std::uint8_t>(Take(1, what)[0]); }
    std::uint32_t Long(const char* what) {
        std::string_view b = Take(4, what);
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[i])) << (8 * i);
        return v;
    }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
    int short_code_;
};

std::uint32_t SetBytesOf(const PSType& type) { return SetByteSize(type.SetBits); }

PSConstant ReadConstant(Cursor& in, const std::vector<PSType>& types) {
    PSConstant c;
    c.TypeNo = in.Long("constant type");
    if (c.TypeNo >= types.size()) throw PSImageError(kErrInvalidType, "constant of an unknown type");
    const PSType& type = types[c.TypeNo];
    c.BaseType = type.BaseType;
    switch (type.BaseType) {
    case btString:
    case btPChar: {
        const std::size_t start = in.Pos();
        c.Text = std::string(in.Take(in.Long("text length"), "text"));
        c.Bytes = std::string(in.Since(start));
        break;
    }
    case btSet:
        c.Bytes = std::string(in.Take(SetBytesOf(type), "set"));
        break;
    default: {
        const std::uint32_t n = FixedConstantBytes(type.BaseType);
        if (n == 0) throw PSImageError(kErrInvalidType, "type without a constant form");
        c.Bytes = std::string(in.Take(n, "constant"));
        break;
    }
    }
    return c;
}

std::vector<PSAttribute> ReadAttributes(Cursor& in, const std::vector<PSType>& types) {
    std::vector<PSAttribute> list;
    const std::uint32_t count = in.Long("attribute count");
    for (std::uint32_t i = 0; i < count; ++i) {
        PSAttribute a;
        a.Name = std::string(in.Take(in.Long("attribute name length"), "attribute name"));
        const std::uint32_t values = in.Long("attribute value count");
        for (std::uint32_t v = 0; v < values; ++v) a.Values.push_back(ReadConstant(in, types));
        list.push_back(std::move(a));
    }
    return list;
}

std::uint32_t ReadElementType(Cursor& in, const std::vector<PSType>& loaded) {
    const std::uint32_t element = in.Long("element type");
    if (element >= loaded.size()) throw PSImageError(kErrTypeMismatch, "element type not yet loaded");
    return element;
}

PSType ReadType(Cursor& in, std::uint32_t build, const std::vector<PSType>& loaded) {
    PSType t;
    t.RawCode = in.Byte("type code");
    t.HasExportName = (t.RawCode & kTypeExportNameFlag) != 0;
    t.BaseType = static_cast<std::uint8_t>(t.RawCode & ~kTypeExportNameFlag);
    switch (t.BaseType) {
    case btU8: case btS8: case btU16: case btS16: case btU32: case btS32: case btSingle:
    case btDouble: case btExtended: case btString: case btPointer: case btPChar: case btVariant:
    case btS64: case btChar: case btCurrency:
        break;
    case btRecord: {
        const std::uint32_t n = in.Long("field count");
        if (n == 0) throw PSImageError(kErrUnexpectedEof, "record without fields");
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint32_t field = in.Long("field type");
            if (field >= loaded.size()) throw PSImageError(kErrOutOfRange, "field type not yet loaded");
            t.FieldTypes.push_back(field);
        }
        break;
    }
    case btArray:
        t.ElementType = ReadElementType(in, loaded);
        break;
    case btProcPtr: {
        const std::uint32_t n = in.Long("signature length");
        if (n > kMaxProcSignatureLength) throw PSImageError(kErrUnexpectedEof, "signature too long");
        t.ProcSignature = std::string(in.Take(n, "signature"));
        break;
    }
    case btStaticArray:
        t.ElementType = ReadElementType(in, loaded);
        t.ElementCount = in.Long("element count");
        if (t.ElementCount > kMaxStaticArrayCount) throw PSImageError(kErrUnexpectedEof, "static array too large");
        t.StartOffset = in.Long("start offset");
        break;
    case btSet:
        t.SetBits = in.Long("set bits");
        if (t.SetBits > kMaxSetBits) throw PSImageError(kErrTypeMismatch, "set too large");
        break;
    case btClass: {
        const std::uint32_t n = in.Long("class name length");
        if (n > kMaxClassNameLength) throw PSImageError(kErrUnexpectedEof, "class name too long");
        t.ClassName = std::string(in.Take(n, "class name"));
        break;
    }
    case btInterface:
        for (auto& word : t.Guid) word = in.Long("GUID");
        break;
    default:
        throw PSImageError(kErrInvalidType, "invalid type code " + std::to_string(t.BaseType));
    }
    if (t.HasExportName) {
        const std::uint32_t n = in.Long("export name length");
        if (n > kMaxLoadedNameLength) throw PSImageError(kErrInvalidType, "export name too long");
        t.ExportName = std::string(in.Take(n, "export name"));
    }
    if (build >= kImageAttributesBuild) t.Attributes = ReadAttributes(in, loaded);
    return t;
}

PSProc ReadProc(Cursor& in, std::string_view image, const std::vector<PSType>& types) {
    PSProc p;
    p.Flags = in.Byte("procedure flags");
    if (p.Flags & pfExternal) {
        p.External = true;
        const std::uint8_t n = in.Byte("name length");
        p.Name = std::string(in.Take(n, "name"));
        if (p.Flags & pfExportOrDecl) {
            const std::uint32_t d = in.Long("declaration length");
            if (d > in.Left()) throw PSImageError(kErrUnexpectedEof, "declaration beyond the image");
            p.Decl = std::string(in.Take(d, "declaration"));
        }
    } else {
        p.CodeOffset = in.Long("code offset");
        p.CodeLength = in.Long("code length");
        if (p.CodeOffset >= image.size() || p.CodeLength == 0 || p.CodeLength > image.size() - p.CodeOffset)
            throw PSImageError(kErrUnexpectedEof, "code outside the image");
        p.Code = std::string(image.substr(p.CodeOffset, p.CodeLength));
        if (p.Flags & pfExportOrDecl) {
            std::uint32_t n = in.Long("export name length");
            if (n > kMaxLoadedNameLength) throw PSImageError(kErrUnexpectedEof, "export name too long");
            p.ExportName = std::string(in.Take(n, "export name"));
            n = in.Long("export declaration length");
            if (n > kMaxLoadedNameLength) throw PSImageError(kErrUnexpectedEof, "export declaration too long");
            p.ExportDecl = std::string(in.Take(n, "export declaration"));
        }
    }
    if (p.Flags & pfAttributes) p.Attributes = ReadAttributes(in, types);
    return p;
}

}  // namespace

std::uint64_t PSConstant::AsUnsigned() const {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < Bytes.size() && i < 8; ++i)
        v |= static_cast<std::uint64_t>(static_cast<unsigned char>(Bytes[i])) << (8 * i);
    return v;
}

const PSProc& PSImage::ProcNamed(std::string_view name) const {
    for (const auto& p : Procs)
        if (!p.External && p.ExportName == name) return p;
    throw std::out_of_range("no procedure " + std::string(name));
}

PSImage ReadImage(std::string_view image) {
    Cursor in(image, kErrUnexpectedEof);
    PSImage out;
    if (image.size() < kImageHeaderSize) throw PSImageError(kErrInvalidHeader, "short header");
    const std::uint32_t magic = in.Long("magic");
    out.Build = in.Long("build");
    if (magic != kImageMagic || out.Build < kImageOldestBuild || out.Build > kImageBuildNumber)
        throw PSImageError(kErrInvalidHeader, "invalid header");
    const std::uint32_t type_count = in.Long("type count");
    const std::uint32_t proc_count = in.Long("procedure count");
    const std::uint32_t var_count = in.Long("variable count");
    out.MainProc = in.Long("main procedure");
    out.Reserved = in.Long("reserved");

    for (std::uint32_t i = 0; i < type_count; ++i) out.Types.push_back(ReadType(in, out.Build, out.Types));
    for (std::uint32_t i = 0; i < proc_count; ++i) out.Procs.push_back(ReadProc(in, image, out.Types));
    for (std::uint32_t i = 0; i < var_count; ++i) {
        PSVar v;
        v.TypeNo = in.Long("variable type");
        const std::uint8_t flags = in.Byte("variable flags");
        if (v.TypeNo >= out.Types.size()) throw PSImageError(kErrInvalidType, "variable of an unknown type");
        if (flags & 1) {
            v.Exported = true;
            v.ExportName = std::string(in.Take(in.Long("variable name length"), "variable name"));
        }
        out.Vars.push_back(std::move(v));
    }
    if (out.MainProc != kNoMainProc && out.MainProc >= out.Procs.size())
        throw PSImageError(kErrNoMainProc, "no main procedure");
    return out;
}

// ------------------------------------------------------------ byte code

namespace {

PSOperand ReadOperand(Cursor& in, const PSImage& image) {
    PSOperand op;
    op.Kind = in.Byte("operand kind");
    switch (op.Kind) {
    case okVariable:
        op.Address = in.Long("address");
        break;
    case okConstant:
        op.Constant = ReadConstant(in, image.Types);
        break;
    case okElementNumber:
    case okElementIndex:
        op.Address = in.Long("address");
        op.Second = in.Long("element");
        break;
    default:
        throw PSImageError(kErrInvalidOpcode, "invalid operand kind " + std::to_string(op.Kind));
    }
    return op;
}

void ReadJump(Cursor& in, PSInstruction& ins) {
    ins.IsJump = true;
    ins.Distance = static_cast<std::int32_t>(in.Long("jump distance"));
}

}  // namespace

std::vector<PSInstruction> DecodeCode(const PSImage& image, std::string_view code) {
    Cursor in(code, kErrOutOfRange);
    std::vector<PSInstruction> list;
    while (in.Left() > 0) {
        PSInstruction ins;
        ins.Pos = static_cast<std::uint32_t>(in.Pos());
        ins.Opcode = in.Byte("opcode");
        switch (ins.Opcode) {
        case opAssign:
        case opSetPtr:
        case opSetPtrToCopy:
            ins.Operands.push_back(ReadOperand(in, image));
            ins.Operands.push_back(ReadOperand(in, image));
            break;
        case opCalc:
            ins.SubCode = in.Byte("calc operator");
            ins.Operands.push_back(ReadOperand(in, image));
            ins.Operands.push_back(ReadOperand(in, image));
            break;
        case opCompare:
            ins.SubCode = in.Byte("compare operator");
            for (int i = 0; i < 3; ++i) ins.Operands.push_back(ReadOperand(in, image));
            break;
        case opPush: case opPushVar: case opCallVar: case opBoolNot: case opNeg: case opIntNot:
        case opInc: case opDec:
            ins.Operands.push_back(ReadOperand(in, image));
            break;
        case opSetFlag:
            ins.Operands.push_back(ReadOperand(in, image));
            ins.SubCode = in.Byte("invert");
            break;
        case opPop: case opRet: case opNop:
            break;
        case opCall:
        case opPushType:
            ins.Number = in.Long("number");
            break;
        case opGoto: case opFlagGoto: case opPopGoto: case opPop2Goto:
            ReadJump(in, ins);
            break;
        case opCondGoto:
        case opCondNotGoto:
            ReadJump(in, ins);
            ins.Operands.push_back(ReadOperand(in, image));
            break;
        case opPushExceptionHandler:
            for (auto& offset : ins.HandlerOffsets) offset = in.Long("handler offset");
            break;
        case opPopExceptionHandler:
            ins.SubCode = in.Byte("handler kind");
            break;
        default:
            throw PSImageError(kErrInvalidOpcode, "invalid opcode " + std::to_string(ins.Opcode));
        }
        ins.End = static_cast<std::uint32_t>(in.Pos());
        if (ins.IsJump) ins.Target = ins.End + static_cast<std::uint32_t>(ins.Distance);
        list.push_back(std::move(ins));
    }
    return list;
}

}  // namespace script::test_support
