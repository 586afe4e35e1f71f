#pragma once
// Little-endian fields of the file formats this layer writes and reads
// (bitmaps, metafiles), whatever the byte order of the machine.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gdi {

// Appends fields to a byte vector.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    std::size_t Size() const { return out_.size(); }
    void U8(std::uint8_t v) { out_.push_back(v); }
    void U16(std::uint16_t v) {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void I16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void F32(float v) { U32(std::bit_cast<std::uint32_t>(v)); }
    void Bytes(std::span<const std::uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    void Zeros(std::size_t count) { out_.resize(out_.size() + count, 0); }
    // Zero bytes up to the next multiple of n.
    void Align(std::size_t n) { Zeros((n - out_.size() % n) % n); }
    void PatchU32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void PatchU16(std::size_t at, std::uint16_t v) {
        out_[at] = static_cast<std::uint8_t>(v);
        out_[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }

private:
    std::vector<std::uint8_t>& out_;
};

// Reads fields at offsets of a byte span; a field beyond the end reads as
// missing (Fits answers whether it is there).
inline bool Fits(std::span<const std::uint8_t> data, std::size_t at, std::size_t size) {
    return at <= data.size() && size <= data.size() - at;
}
inline std::uint16_t GetU16(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}
inline std::uint32_t GetU32(std::span<const std::uint8_t> data, std::size_t at) {
    return GetU16(data, at) | (std::uint32_t{GetU16(data, at + 2)} << 16);
}
inline std::int32_t GetI32(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::int32_t>(GetU32(data, at));
}
inline std::int16_t GetI16(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::int16_t>(GetU16(data, at));
}

}  // namespace gdi
