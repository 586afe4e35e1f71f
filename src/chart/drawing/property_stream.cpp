#include "chart/drawing/property_stream.h"

#include <bit>
#include <cstring>
#include <algorithm>
#include <limits>
#include <utility>

#include "platform/rtl/cp1251.h"

namespace chart {

// ---- Writing

void TWriter::WriteValue(TValueType Value) {
    const auto b = static_cast<std::uint8_t>(Value);
    WriteRaw(&b, 1);
}

void TWriter::WritePropName(std::string_view Name) {
    if (Name.size() > 255) throw rtl::EWriteError("Property name too long: " + std::string(Name.substr(0, 40)));
    const auto n = static_cast<std::uint8_t>(Name.size());
    WriteRaw(&n, 1);
    WriteRaw(Name.data(), n);
}

namespace {

template <class T>
void PutLE(vcl::TStream& s, T v) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &v, sizeof(T));
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    s.WriteBuffer(bytes, sizeof(T));
}

template <class T>
T GetLE(vcl::TStream& s) {
    unsigned char bytes[sizeof(T)];
    s.ReadBuffer(bytes, sizeof(T));
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    T v;
    std::memcpy(&v, bytes, sizeof(T));
    return v;
}

}  // namespace

void TWriter::WriteInteger(long long Value) {
    if (Value >= INT8_MIN && Value <= INT8_MAX) {
        WriteValue(TValueType::vaInt8);
        PutLE(stream_, static_cast<std::int8_t>(Value));
    } else if (Value >= INT16_MIN && Value <= INT16_MAX) {
        WriteValue(TValueType::vaInt16);
        PutLE(stream_, static_cast<std::int16_t>(Value));
    } else if (Value >= INT32_MIN && Value <= INT32_MAX) {
        WriteValue(TValueType::vaInt32);
        PutLE(stream_, static_cast<std::int32_t>(Value));
    } else {
        WriteValue(TValueType::vaInt64);
        PutLE(stream_, static_cast<std::int64_t>(Value));
    }
}

void TWriter::WriteBoolean(bool Value) { WriteValue(Value ? TValueType::vaTrue : TValueType::vaFalse); }

void TWriter::WriteFloat(double Value) {
    WriteValue(TValueType::vaDouble);
    PutLE(stream_, std::bit_cast<std::uint64_t>(Value));
}

void TWriter::WriteString(std::string_view Value) {
    if (Value.size() <= 255) {
        WriteValue(TValueType::vaString);
        const auto n = static_cast<std::uint8_t>(Value.size());
        WriteRaw(&n, 1);
    } else {
        if (Value.size() > static_cast<std::size_t>(INT32_MAX)) throw rtl::EWriteError("String too long to write");
        WriteValue(TValueType::vaLString);
        PutLE(stream_, static_cast<std::int32_t>(Value.size()));
    }
    WriteRaw(Value.data(), static_cast<std::int32_t>(Value.size()));
}

void TWriter::WriteIdent(std::string_view Value) {
    WriteValue(TValueType::vaIdent);
    if (Value.size() > 255) throw rtl::EWriteError("Identifier too long: " + std::string(Value.substr(0, 40)));
    const auto n = static_cast<std::uint8_t>(Value.size());
    WriteRaw(&n, 1);
    WriteRaw(Value.data(), n);
}

void TWriter::WriteBinary(std::string_view Bytes) {
    if (Bytes.size() > static_cast<std::size_t>(INT32_MAX)) throw rtl::EWriteError("Block too long to write");
    WriteValue(TValueType::vaBinary);
    PutLE(stream_, static_cast<std::int32_t>(Bytes.size()));
    WriteRaw(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
}

void TWriter::WriteProperties(const vcl::TPersistent& Instance) { WriteProperties(Instance, ""); }

void TWriter::WriteProperties(const vcl::TPersistent& Instance, const std::string& Prefix) {
    if (const vcl::TPropertyTable* table = vcl::PropertyTableOf(Instance))
        for (const vcl::TPropInfo* p : table->All()) WriteProperty(Instance, *p, Prefix);
}

void TWriter::WriteProperty(const vcl::TPersistent& Instance, const vcl::TPropInfo& Info, const std::string& Prefix) {
    using vcl::TTypeKind;
    switch (Info.Kind) {
        case TTypeKind::tkClass: {
            // An object that was never made has only defaults.
            if (vcl::TPersistent* object = Info.GetObject(const_cast<vcl::TPersistent&>(Instance), false))
                WriteProperties(*object, Prefix + Info.Name + ".");
            return;
        }
        case TTypeKind::tkFloat: {
            const double v = Info.GetFloat(Instance);
            if (Info.FloatDefault && v == *Info.FloatDefault) return;
            WritePropName(Prefix + Info.Name);
            WriteFloat(v);
            return;
        }
        case TTypeKind::tkString:
            WritePropName(Prefix + Info.Name);
            WriteString(Info.GetStr(Instance));
            return;
        case TTypeKind::tkInteger:
        case TTypeKind::tkEnumeration: {
            const std::int64_t v = Info.GetOrd(Instance);
            if (Info.Default && v == *Info.Default) return;
            WritePropName(Prefix + Info.Name);
            if (Info.EnumType == &vcl::BooleanTypeInfo()) WriteBoolean(v != 0);
            else if (Info.EnumType && !vcl::GetEnumName(*Info.EnumType, v).empty())
                WriteIdent(vcl::GetEnumName(*Info.EnumType, v));
            else
                WriteInteger(v);
            return;
        }
    }
}

// ---- Reading

TValueType TReader::ReadValue() {
    std::uint8_t b;
    ReadRaw(&b, 1);
    return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
    const TValueType v = ReadValue();
    stream_.Seek(-1, vcl::TSeekOrigin::soCurrent);
    return v;
}

void TReader::CheckValue(TValueType Expected) {
    if (ReadValue() != Expected) throw rtl::EReadError("Invalid stream format");
}

std::string TReader::ReadShortString() {
    std::uint8_t n;
    ReadRaw(&n, 1);
    std::string s(n, '\0');
    if (n) ReadRaw(s.data(), n);
    return s;
}

std::string TReader::ReadPropName() { return ReadShortString(); }

long long TReader::ReadInteger() {
    switch (ReadValue()) {
        case TValueType::vaInt8: return GetLE<std::int8_t>(stream_);
        case TValueType::vaInt16: return GetLE<std::int16_t>(stream_);
        case TValueType::vaInt32: return GetLE<std::int32_t>(stream_);
        case TValueType::vaInt64: return GetLE<std::int64_t>(stream_);
        default: throw rtl::EReadError("Invalid property value");
    }
}

bool TReader::ReadBoolean() {
    switch (ReadValue()) {
        case TValueType::vaTrue: return true;
        case TValueType::vaFalse: return false;
        default: throw rtl::EReadError("Invalid property value");
    }
}

double TReader::ReadFloat() {
    switch (NextValue()) {
        case TValueType::vaDouble:
            ReadValue();
            return std::bit_cast<double>(GetLE<std::uint64_t>(stream_));
        case TValueType::vaInt8:
        case TValueType::vaInt16:
        case TValueType::vaInt32:
        case TValueType::vaInt64: return static_cast<double>(ReadInteger());
        default: throw rtl::EReadError("Invalid property value");
    }
}

std::string TReader::ReadString() {
    switch (ReadValue()) {
        case TValueType::vaString: return ReadShortString();
        case TValueType::vaLString: {
            const std::int32_t n = GetLE<std::int32_t>(stream_);
            if (n < 0 || n > stream_.Size() - stream_.Position()) throw rtl::EReadError("Stream read error");
            std::string s(static_cast<std::size_t>(n), '\0');
            if (n) ReadRaw(s.data(), n);
            return s;
        }
        default: throw rtl::EReadError("Invalid property value");
    }
}

std::string TReader::ReadBinary() {
    CheckValue(TValueType::vaBinary);
    const std::int32_t n = GetLE<std::int32_t>(stream_);
    if (n < 0 || n > stream_.Size() - stream_.Position()) throw rtl::EReadError("Stream read error");
    std::string bytes(static_cast<std::size_t>(n), '\0');
    if (n) ReadRaw(bytes.data(), n);
    return bytes;
}

std::string TReader::ReadIdent() {
    switch (ReadValue()) {
        case TValueType::vaIdent: return ReadShortString();
        case TValueType::vaFalse: return "False";
        case TValueType::vaTrue: return "True";
        case TValueType::vaNil: return "nil";
        case TValueType::vaNull: return "Null";
        default: throw rtl::EReadError("Invalid property value");
    }
}

void TReader::ReadProperty(vcl::TPersistent& Instance) {
    using vcl::TTypeKind;
    const std::string name = ReadPropName();
    auto missing = [&] { return rtl::EReadError("Property " + name + " does not exist"); };
    vcl::TPersistent* target = &Instance;
    std::string_view rest = name;
    // "Region.Left": through the object.
    for (std::size_t dot; (dot = rest.find('.')) != std::string_view::npos;) {
        const vcl::TPropInfo* object = vcl::GetPropInfo(*target, rest.substr(0, dot));
        if (!object || object->Kind != TTypeKind::tkClass) throw missing();
        target = object->GetObject(*target, true);
        if (!target) throw missing();
        rest = rest.substr(dot + 1);
    }
    const vcl::TPropInfo* p = vcl::GetPropInfo(*target, rest);
    if (!p || p->Kind == TTypeKind::tkClass) throw missing();
    auto invalid = [&] { return rtl::EReadError("Invalid property value for " + name); };
    switch (p->Kind) {
        case TTypeKind::tkFloat: p->SetFloat(*target, ReadFloat()); break;
        case TTypeKind::tkString: p->SetStr(*target, ReadString()); break;
        case TTypeKind::tkEnumeration: {
            const std::int64_t last = static_cast<std::int64_t>(p->EnumType->Names.size()) - 1;
            std::int64_t v;
            switch (NextValue()) {
                case TValueType::vaIdent:
                case TValueType::vaTrue:
                case TValueType::vaFalse: {
                    const std::string ident = ReadIdent();
                    const auto& names = p->EnumType->Names;
                    const auto it = std::find_if(names.begin(), names.end(),
                                                 [&](const std::string& n) { return rtl::AnsiSameText(n, ident); });
                    if (it == names.end()) throw invalid();
                    v = it - names.begin();
                    break;
                }
                default: v = std::clamp<std::int64_t>(ReadInteger(), 0, last); break;
            }
            p->SetOrd(*target, v);
            break;
        }
        default: p->SetOrd(*target, std::clamp<std::int64_t>(ReadInteger(), INT32_MIN, INT32_MAX)); break;
    }
}

void TReader::ReadProperties(vcl::TPersistent& Instance) {
    while (!EndOfList()) ReadProperty(Instance);
}

}  // namespace chart
