#include "chart/engine/chart_filer.h"

#include <algorithm>
#include <cstdint>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/color_names.h"

namespace chart::engine {

void TPropertyWriter::DefineProperty(const std::string& Name, const TReaderProc&, const TWriterProc& WriteData,
                                     bool HasData) {
    if (!HasData || !WriteData) return;
    writer_.WritePropName(Name);
    WriteData(writer_);
}

void TPropertyWriter::DefineBinaryProperty(const std::string& Name, const TStreamProc&,
                                           const TStreamProc& WriteData, bool HasData) {
    if (!HasData || !WriteData) return;
    vcl::TMemoryStream block;
    WriteData(block);
    writer_.WritePropName(Name);
    writer_.WriteBinary({reinterpret_cast<const char*>(block.Memory()), static_cast<std::size_t>(block.Size())});
}

int ReadInt32(chart::TReader& Reader) {
    return static_cast<int>(std::clamp<long long>(Reader.ReadInteger(), INT32_MIN, INT32_MAX));
}

vcl::TColor ReadColorValue(chart::TReader& Reader) {
    if (Reader.NextValue() != chart::TValueType::vaIdent) return static_cast<vcl::TColor>(Reader.ReadInteger());
    const std::string ident = Reader.ReadIdent();
    vcl::TColor color;
    if (!vcl::IdentToColor(ident, color)) throw rtl::EReadError("Invalid property value " + ident);
    return color;
}

void TPropertyReader::DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc&,
                                     bool) {
    if (found_ || !ReadData || !rtl::AnsiSameText(Name, name_)) return;
    found_ = true;
    ReadData(reader_);
}

void TPropertyReader::DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                                           const TStreamProc&, bool) {
    if (found_ || !ReadData || !rtl::AnsiSameText(Name, name_)) return;
    found_ = true;
    const std::string bytes = reader_.ReadBinary();
    vcl::TMemoryStream block;
    if (!bytes.empty()) block.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    block.SetPosition(0);
    ReadData(block);
}

}  // namespace chart::engine
