#pragma once
// A chart object's extra stream properties as the property stream keeps
// them: written to bytes, and read back from bytes. Header only: the
// programs that use it link the chart engine.
#include <cstdint>
#include <string>

#include "chart/drawing/property_stream.h"
#include "chart/engine/chart_filer.h"
#include "platform/vcl/streams.h"

namespace test_support {

template <class T>
std::string WrittenProperties(T& Object) {
    vcl::TMemoryStream stream;
    chart::TWriter writer(stream);
    chart::engine::TPropertyWriter filer(writer);
    Object.DefineProperties(filer);
    return {reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size())};
}

// Reads every property of such bytes into Object; false when one of them
// has no definition there (the rest is then left unread).
template <class T>
bool ReadProperties(T& Object, const std::string& Bytes) {
    vcl::TMemoryStream stream;
    if (!Bytes.empty()) stream.WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
    stream.SetPosition(0);
    chart::TReader reader(stream);
    while (stream.Position() < stream.Size()) {
        chart::engine::TPropertyReader filer(reader, reader.ReadPropName());
        Object.DefineProperties(filer);
        if (!filer.Found()) return false;
    }
    return true;
}

}  // namespace test_support
