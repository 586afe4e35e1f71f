#pragma once
// Our own readers of enhanced and placeable Windows metafiles, for tests:
// they check the layout (sizes, alignment, counts, signatures) as they go
// and hand out the records with their fields.
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace test_support {

// The records that made the pen, brush and font in force at a record (null
// for none or a stock object), and what broke the rules of the object
// table on the way there.
template <class Record>
struct ObjectSelection {
    const Record* pen = nullptr;
    const Record* brush = nullptr;
    const Record* font = nullptr;
    std::vector<std::string> errors;
};

// A file that breaks the layout: the reason in what().
struct EMetafileLayout : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct EmfRecord {
    std::uint32_t type = 0;
    std::span<const std::uint8_t> bytes;  // the whole record
    std::uint32_t U32(std::size_t at) const;
    std::int32_t I32(std::size_t at) const;
    std::int16_t I16(std::size_t at) const;
    std::uint16_t U16(std::size_t at) const;
    float F32(std::size_t at) const;
};

struct EmfFile {
    struct Rect {
        std::int32_t left, top, right, bottom;
        friend bool operator==(const Rect&, const Rect&) = default;
    };
    Rect bounds{}, frame{};
    std::uint32_t version = 0, bytes = 0, records = 0;
    std::uint16_t handles = 0;
    std::u16string description;
    std::vector<EmfRecord> list;  // every record, the header first
    std::shared_ptr<const std::vector<std::uint8_t>> data;  // the file the records point into

    std::vector<EmfRecord> Of(std::uint32_t type) const;
    std::vector<std::size_t> Where(std::uint32_t type) const;
    // The records that made the pen, brush and font in force before record
    // `index` (null for none or a stock object), played through the
    // file's handle table; what broke the table's rules in errors (an
    // object selected that is not there, one deleted while selected).
    using Selection = ObjectSelection<EmfRecord>;
    Selection SelectedAt(std::size_t index) const;
    // The text of an EMR_EXTTEXTOUTW record and its reference point.
    static std::u16string Text(const EmfRecord& r);
    static std::vector<std::int32_t> Advances(const EmfRecord& r);
};

// Raises EMetafileLayout when the bytes are not a well-formed file: the
// header record first with the " EMF" signature, every record a multiple
// of 4 bytes inside the file, the byte and record counts of the header
// right, the end-of-file record last.
EmfFile ReadEmf(std::span<const std::uint8_t> bytes);

struct WmfRecord {
    std::uint16_t function = 0;
    std::span<const std::uint8_t> bytes;  // the whole record
    std::size_t Words() const { return bytes.size() / 2; }
    // The n-th 16-bit parameter after the function.
    std::int16_t Param(std::size_t n) const;
    std::uint32_t U32Param(std::size_t n) const;  // two parameters, low first
};

struct WmfFile {
    std::int16_t left = 0, top = 0, right = 0, bottom = 0;  // placeable bounding box
    std::uint16_t inch = 0;
    std::uint32_t sizeWords = 0, maxRecord = 0;
    std::uint16_t objects = 0;
    std::vector<WmfRecord> list;  // after the header, up to and with the end record
    std::shared_ptr<const std::vector<std::uint8_t>> data;  // the file the records point into

    std::vector<WmfRecord> Of(std::uint16_t function) const;
    // Indices of the records with that function, in order.
    std::vector<std::size_t> Where(std::uint16_t function) const;
    // As EmfFile::SelectedAt, through the object table of this file: a new
    // object takes the lowest free slot, saved states keep what they held
    // (deleting that is an error too) and restoring brings it back.
    using Selection = ObjectSelection<WmfRecord>;
    Selection SelectedAt(std::size_t index) const;
};

// Raises EMetafileLayout unless: the placeable key and checksum, a memory
// metafile header of 9 words, version 0x300, records of at least 3 words
// inside the file, the size and largest record of the header right, the
// end record last. The file keeps its own copy of the bytes.
WmfFile ReadWmf(std::span<const std::uint8_t> file);

// Runs a converter program on a file and hands back what it wrote (empty
// when it failed or is not installed).
std::string ConvertToSvg(const std::string& program, const std::vector<std::uint8_t>& file,
                         const std::string& suffix);

}  // namespace test_support
