#include "chart/drawing/property_stream.h"

#include <bit>
#include <cstring>
#include <algorithm>
#include <limits>
#include <utility>

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

void TWriter::WriteProperties(const vcl::TPersistent& Instance, const TPropertyTable& Table) {
    for (const TPropInfo* p : Table.All()) WriteProperty(Instance, *p, "");
}

void TWriter::WriteProperty(const vcl::TPersistent& Instance, const TPropInfo& Info, const std::string& Prefix) {
    if (Info.Kind == TPropKind::Object) {
        // A sub-object that was never made has only defaults.
        vcl::TPersistent* sub = Info.Object(const_cast<vcl::TPersistent&>(Instance), false);
        if (!sub || !Info.ObjectProperties) return;
        for (const TPropInfo* p : Info.ObjectProperties->All()) WriteProperty(*sub, *p, Prefix + Info.Name + ".");
        return;
    }
    if (!Info.IsStored(Instance)) return;
    const TPropValue v = Info.Get(Instance);
    WritePropName(Prefix + Info.Name);
    switch (Info.Kind) {
        case TPropKind::Boolean: WriteBoolean(std::get<bool>(v)); break;
        case TPropKind::Float: WriteFloat(std::get<double>(v)); break;
        case TPropKind::String: WriteString(std::get<std::string>(v)); break;
        case TPropKind::Enumeration: {
            const long long i = std::get<long long>(v);
            if (i >= 0 && i < static_cast<long long>(Info.EnumNames.size()))
                WriteIdent(Info.EnumNames[static_cast<std::size_t>(i)]);
            else
                WriteInteger(i);
            break;
        }
        default: WriteInteger(std::get<long long>(v)); break;
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

void TReader::ReadProperty(vcl::TPersistent& Instance, const TPropertyTable& Table) {
    const std::string name = ReadPropName();
    vcl::TPersistent* target = &Instance;
    const TPropertyTable* table = &Table;
    std::string_view rest = name;
    // "Region.Left": through the sub-object.
    for (std::size_t dot; (dot = rest.find('.')) != std::string_view::npos;) {
        const TPropInfo* object = table->Find(rest.substr(0, dot));
        if (!object || object->Kind != TPropKind::Object || !object->ObjectProperties)
            throw rtl::EReadError("Property " + name + " does not exist");
        target = object->Object(*target, true);
        table = object->ObjectProperties;
        rest = rest.substr(dot + 1);
    }
    const TPropInfo* p = table->Find(rest);
    if (!p || p->Kind == TPropKind::Object) throw rtl::EReadError("Property " + name + " does not exist");
    try {
        switch (p->Kind) {
            case TPropKind::Boolean: p->Set(*target, ReadBoolean()); break;
            case TPropKind::Float: p->Set(*target, ReadFloat()); break;
            case TPropKind::String: p->Set(*target, ReadString()); break;
            case TPropKind::Enumeration:
                if (NextValue() == TValueType::vaIdent) SetPropValue(*target, *table, rest, ReadIdent());
                else SetPropValue(*target, *table, rest, ReadInteger());
                break;
            default: SetPropValue(*target, *table, rest, ReadInteger()); break;
        }
    } catch (const EPropertyError& e) {
        throw rtl::EReadError("Error reading " + name + ": " + e.Message);
    }
}

void TReader::ReadProperties(vcl::TPersistent& Instance, const TPropertyTable& Table) {
    while (!EndOfList()) ReadProperty(Instance, Table);
}

}  // namespace chart
