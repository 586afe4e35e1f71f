#include "platform/vcl/resources.h"

#include <map>

#include "platform/rtl/cp1251.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/streams.h"

namespace vcl {

namespace {

std::map<std::string, std::span<const std::uint8_t>>& Resources() {
    static std::map<std::string, std::span<const std::uint8_t>> resources;
    return resources;
}

}  // namespace

void RegisterBitmapResource(const std::string& name, std::span<const std::uint8_t> file) {
    Resources()[rtl::AnsiUpperCase(name)] = file;
}

bool HasBitmapResource(const std::string& name) { return Resources().count(rtl::AnsiUpperCase(name)) != 0; }

void LoadBitmapResource(TBitmap& bitmap, const std::string& name) {
    const auto it = Resources().find(rtl::AnsiUpperCase(name));
    if (it == Resources().end()) throw EResNotFound("Resource " + name + " not found");
    TMemoryStream stream;
    stream.WriteBuffer(it->second.data(), static_cast<std::int32_t>(it->second.size()));
    stream.SetPosition(0);
    bitmap.LoadFromStream(stream);
}

}  // namespace vcl
