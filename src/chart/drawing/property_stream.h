#pragma once
// The binary stream of published properties in which forms keep their
// components: each value starts with a byte saying its kind, lists end
// with a null byte, and a property is its name (a length byte and the
// characters) followed by its value. What is written comes from the
// classes' published-property tables (platform/vcl/properties.h), so that
// only values other than their defaults are kept.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/vcl/properties.h"
#include "platform/vcl/streams.h"

namespace chart {

enum class TValueType : std::uint8_t {
    vaNull = 0,  // end of a list
    vaList = 1,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaString = 6,  // up to 255 characters
    vaIdent = 7,
    vaFalse = 8,
    vaTrue = 9,
    vaBinary = 10,  // a 32-bit length, then that many bytes
    vaLString = 12,  // a 32-bit length
    vaNil = 13,
    vaCollection = 14,
    vaInt64 = 19,
    vaDouble = 21,
};

class TWriter {
public:
    explicit TWriter(vcl::TStream& Stream) : stream_(Stream) {}

    void WriteValue(TValueType Value);
    void WriteListBegin() { WriteValue(TValueType::vaList); }
    void WriteListEnd() { WriteValue(TValueType::vaNull); }
    // At most 255 characters.
    void WritePropName(std::string_view Name);
    // In the fewest bytes that hold it.
    void WriteInteger(long long Value);
    void WriteBoolean(bool Value);
    void WriteFloat(double Value);
    void WriteString(std::string_view Value);
    void WriteIdent(std::string_view Value);
    // A block of bytes.
    void WriteBinary(std::string_view Bytes);
    // The published properties of Instance (by its class's table) that
    // differ from their defaults; those of objects it holds as
    // "Object.Property". A class without a table writes nothing.
    void WriteProperties(const vcl::TPersistent& Instance);

private:
    void WriteProperties(const vcl::TPersistent& Instance, const std::string& Prefix);
    void WriteProperty(const vcl::TPersistent& Instance, const vcl::TPropInfo& Info, const std::string& Prefix);
    void WriteRaw(const void* Data, std::int32_t Count) { stream_.WriteBuffer(Data, Count); }
    vcl::TStream& stream_;
};

// Every malformed or cut-off stream raises rtl::EReadError, naming what did
// not fit where a name is known.
class TReader {
public:
    explicit TReader(vcl::TStream& Stream) : stream_(Stream) {}

    TValueType ReadValue();
    // The kind of the next value, without reading it.
    TValueType NextValue();
    bool EndOfList() { return NextValue() == TValueType::vaNull; }
    void ReadListBegin() { CheckValue(TValueType::vaList); }
    void ReadListEnd() { CheckValue(TValueType::vaNull); }
    std::string ReadPropName();
    long long ReadInteger();
    bool ReadBoolean();
    double ReadFloat();
    std::string ReadString();
    std::string ReadIdent();
    // A block of bytes; a length beyond the stream raises EReadError
    // before anything is allocated.
    std::string ReadBinary();
    // Reads one property (its name, then its value) into Instance; names of
    // objects' properties lead through the objects (made as needed).
    // Integers are held to 32 bits, enumerations to their values.
    void ReadProperty(vcl::TPersistent& Instance);
    // Properties until the end of the list (which is left to be read).
    void ReadProperties(vcl::TPersistent& Instance);

private:
    void CheckValue(TValueType Expected);
    void ReadRaw(void* Data, std::int32_t Count) { stream_.ReadBuffer(Data, Count); }
    std::string ReadShortString();
    vcl::TStream& stream_;
};

}  // namespace chart
