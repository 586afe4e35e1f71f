#include "support/metafile_reader.h"

#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/gdi/bytes.h"
#include "support/temp_dir.h"

namespace test_support {

namespace {

void Require(bool ok, const std::string& what) {
    if (!ok) throw EMetafileLayout(what);
}

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrEof = 14;
constexpr std::uint32_t kEmrExtTextOutW = 84;

}  // namespace

std::uint32_t EmfRecord::U32(std::size_t at) const {
    Require(gdi::Fits(bytes, at, 4), "field beyond the record");
    return gdi::GetU32(bytes, at);
}
std::int32_t EmfRecord::I32(std::size_t at) const { return static_cast<std::int32_t>(U32(at)); }
std::uint16_t EmfRecord::U16(std::size_t at) const {
    Require(gdi::Fits(bytes, at, 2), "field beyond the record");
    return gdi::GetU16(bytes, at);
}
std::int16_t EmfRecord::I16(std::size_t at) const { return static_cast<std::int16_t>(U16(at)); }
float EmfRecord::F32(std::size_t at) const { return std::bit_cast<float>(U32(at)); }

std::vector<EmfRecord> EmfFile::Of(std::uint32_t type) const {
    std::vector<EmfRecord> out;
    for (const EmfRecord& r : list)
        if (r.type == type) out.push_back(r);
    return out;
}

std::vector<std::size_t> EmfFile::Where(std::uint32_t type) const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].type == type) out.push_back(i);
    return out;
}

namespace {

// The kind of object a record makes ("" for none).
std::string EmfKind(std::uint32_t type) {
    switch (type) {
        case 38: case 95: return "pen";
        case 39: case 94: return "brush";
        case 82: return "font";
        default: return "";
    }
}

std::string WmfKind(std::uint16_t function) {
    switch (function) {
        case 0x02FA: return "pen";
        case 0x02FC: case 0x0142: return "brush";
        case 0x02FB: return "font";
        default: return "";
    }
}

// Stock objects by index: brushes 0 to 5 and 18, pens 6 to 8 and 19,
// fonts from 10 to 17.
std::string StockKind(std::uint32_t index) {
    if (index <= 5 || index == 18) return "brush";
    if ((index >= 6 && index <= 8) || index == 19) return "pen";
    return "font";
}

template <class Record, class Selection>
void Put(Selection& s, const std::string& kind, const Record* r) {
    if (kind == "pen") s.pen = r;
    else if (kind == "brush") s.brush = r;
    else s.font = r;
}

}  // namespace

EmfFile::Selection EmfFile::SelectedAt(std::size_t index) const {
    Selection s;
    std::map<std::uint32_t, const EmfRecord*> handles;
    std::map<std::string, std::uint32_t> selected;
    for (std::size_t i = 0; i < index && i < list.size(); ++i) {
        const EmfRecord& r = list[i];
        if (!EmfKind(r.type).empty()) {
            if (handles.count(r.U32(8))) s.errors.push_back("handle made twice at record " + std::to_string(i));
            handles[r.U32(8)] = &r;
        } else if (r.type == 37) {
            const std::uint32_t h = r.U32(8);
            if (h & 0x80000000u) {
                const std::string kind = StockKind(h & 0x7FFFFFFFu);
                Put<EmfRecord>(s, kind, nullptr);
                selected[kind] = h;
            } else if (!handles.count(h)) {
                s.errors.push_back("selects missing handle " + std::to_string(h) + " at record " + std::to_string(i));
            } else {
                const std::string kind = EmfKind(handles[h]->type);
                Put(s, kind, handles[h]);
                selected[kind] = h;
            }
        } else if (r.type == 40) {
            const std::uint32_t h = r.U32(8);
            for (const auto& [kind, sel] : selected)
                if (sel == h) s.errors.push_back("deletes the selected " + kind + " at record " + std::to_string(i));
            handles.erase(h);
        }
    }
    return s;
}

std::u16string EmfFile::Text(const EmfRecord& r) {
    Require(r.type == kEmrExtTextOutW, "not a text record");
    const std::uint32_t count = r.U32(44), at = r.U32(48);
    std::u16string s;
    for (std::uint32_t i = 0; i < count; ++i) s.push_back(static_cast<char16_t>(r.U16(at + 2 * i)));
    return s;
}

std::vector<std::int32_t> EmfFile::Advances(const EmfRecord& r) {
    const std::uint32_t count = r.U32(44), at = r.U32(72);
    std::vector<std::int32_t> out;
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(r.I32(at + 4 * i));
    return out;
}

EmfFile ReadEmf(std::span<const std::uint8_t> file) {
    EmfFile f;
    f.data = std::make_shared<const std::vector<std::uint8_t>>(file.begin(), file.end());
    const std::span<const std::uint8_t> bytes(*f.data);
    std::size_t at = 0;
    while (at < bytes.size()) {
        Require(gdi::Fits(bytes, at, 8), "record header beyond the file at " + std::to_string(at));
        const std::uint32_t type = gdi::GetU32(bytes, at), size = gdi::GetU32(bytes, at + 4);
        Require(size >= 8 && size % 4 == 0, "record " + std::to_string(type) + " of size " +
                                                std::to_string(size) + " at " + std::to_string(at));
        Require(gdi::Fits(bytes, at, size), "record beyond the file at " + std::to_string(at));
        f.list.push_back({type, bytes.subspan(at, size)});
        at += size;
        if (type == kEmrEof) break;
    }
    Require(at == bytes.size(), "bytes after the end record");
    Require(!f.list.empty() && f.list.front().type == kEmrHeader, "no header record first");
    Require(f.list.back().type == kEmrEof, "no end record last");
    const EmfRecord& h = f.list.front();
    Require(h.U32(40) == 0x464D4520u, "no EMF signature");
    auto rect = [&](std::size_t o) { return EmfFile::Rect{h.I32(o), h.I32(o + 4), h.I32(o + 8), h.I32(o + 12)}; };
    f.bounds = rect(8);
    f.frame = rect(24);
    f.version = h.U32(44);
    f.bytes = h.U32(48);
    f.records = h.U32(52);
    f.handles = h.U16(56);
    Require(f.bytes == bytes.size(), "header byte count " + std::to_string(f.bytes) + " for " +
                                         std::to_string(bytes.size()) + " bytes");
    Require(f.records == f.list.size(), "header record count " + std::to_string(f.records) + " for " +
                                            std::to_string(f.list.size()) + " records");
    const std::uint32_t chars = h.U32(60), off = h.U32(64);
    for (std::uint32_t i = 0; i < chars; ++i) f.description.push_back(static_cast<char16_t>(h.U16(off + 2 * i)));
    const EmfRecord& eof = f.list.back();
    Require(eof.U32(eof.bytes.size() - 4) == eof.bytes.size(), "end record does not repeat its size");
    return f;
}

std::int16_t WmfRecord::Param(std::size_t n) const {
    Require(gdi::Fits(bytes, 6 + 2 * n, 2), "parameter beyond the record");
    return gdi::GetI16(bytes, 6 + 2 * n);
}

std::uint32_t WmfRecord::U32Param(std::size_t n) const {
    return static_cast<std::uint16_t>(Param(n)) | std::uint32_t(static_cast<std::uint16_t>(Param(n + 1))) << 16;
}

std::vector<WmfRecord> WmfFile::Of(std::uint16_t function) const {
    std::vector<WmfRecord> out;
    for (const WmfRecord& r : list)
        if (r.function == function) out.push_back(r);
    return out;
}

std::vector<std::size_t> WmfFile::Where(std::uint16_t function) const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].function == function) out.push_back(i);
    return out;
}

WmfFile::Selection WmfFile::SelectedAt(std::size_t index) const {
    Selection s;
    std::map<std::uint16_t, const WmfRecord*> slots;
    struct State {
        const WmfRecord *pen, *brush, *font;
    };
    std::vector<State> saved;
    auto holds = [&](std::uint16_t slot) {
        std::vector<std::string> where;
        for (const State& st : saved)
            for (const WmfRecord* r : {st.pen, st.brush, st.font})
                if (r && slots.count(slot) && slots[slot] == r) where.push_back("saved");
        for (const WmfRecord* r : {s.pen, s.brush, s.font})
            if (r && slots.count(slot) && slots[slot] == r) where.push_back("selected");
        return where;
    };
    for (std::size_t i = 0; i < index && i < list.size(); ++i) {
        const WmfRecord& r = list[i];
        const std::string at = " at record " + std::to_string(i);
        if (!WmfKind(r.function).empty()) {
            std::uint16_t slot = 0;
            while (slots.count(slot)) ++slot;  // the lowest free slot
            slots[slot] = &r;
        } else if (r.function == 0x012D) {
            const std::uint16_t slot = static_cast<std::uint16_t>(r.Param(0));
            if (!slots.count(slot)) s.errors.push_back("selects a missing object" + at);
            else Put(s, WmfKind(slots[slot]->function), slots[slot]);
        } else if (r.function == 0x01F0) {
            const std::uint16_t slot = static_cast<std::uint16_t>(r.Param(0));
            for (const std::string& w : holds(slot)) s.errors.push_back("deletes a " + w + " object" + at);
            slots.erase(slot);
        } else if (r.function == 0x001E) {
            saved.push_back({s.pen, s.brush, s.font});
        } else if (r.function == 0x0127) {
            if (saved.empty()) {
                s.errors.push_back("restores nothing saved" + at);
            } else {
                s.pen = saved.back().pen, s.brush = saved.back().brush, s.font = saved.back().font;
                saved.pop_back();
            }
        }
    }
    return s;
}

WmfFile ReadWmf(std::span<const std::uint8_t> file) {
    WmfFile f;
    f.data = std::make_shared<const std::vector<std::uint8_t>>(file.begin(), file.end());
    const std::span<const std::uint8_t> bytes(*f.data);
    Require(gdi::Fits(bytes, 0, 22 + 18), "shorter than the headers");
    Require(gdi::GetU32(bytes, 0) == 0x9AC6CDD7u, "no placeable key");
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2) sum ^= gdi::GetU16(bytes, i);
    Require(sum == gdi::GetU16(bytes, 20), "placeable checksum wrong");
    f.left = gdi::GetI16(bytes, 6), f.top = gdi::GetI16(bytes, 8);
    f.right = gdi::GetI16(bytes, 10), f.bottom = gdi::GetI16(bytes, 12);
    f.inch = gdi::GetU16(bytes, 14);
    const auto meta = bytes.subspan(22);
    Require(gdi::GetU16(meta, 0) == 1 && gdi::GetU16(meta, 2) == 9, "not a memory metafile header");
    Require(gdi::GetU16(meta, 4) == 0x300, "version not 0x300");
    f.sizeWords = gdi::GetU16(meta, 6) | std::uint32_t(gdi::GetU16(meta, 8)) << 16;
    f.objects = gdi::GetU16(meta, 10);
    f.maxRecord = gdi::GetU32(meta, 12);
    Require(f.sizeWords * 2 == meta.size(), "header size " + std::to_string(f.sizeWords) + " words for " +
                                                 std::to_string(meta.size()) + " bytes");
    std::size_t at = 18;
    std::uint32_t largest = 0;
    while (at < meta.size()) {
        Require(gdi::Fits(meta, at, 6), "record beyond the file");
        const std::uint32_t words = gdi::GetU32(meta, at);
        Require(words >= 3 && gdi::Fits(meta, at, std::size_t{words} * 2), "record of bad size at " + std::to_string(at));
        const std::uint16_t function = gdi::GetU16(meta, at + 4);
        f.list.push_back({function, meta.subspan(at, std::size_t{words} * 2)});
        largest = std::max(largest, words);
        at += std::size_t{words} * 2;
        if (function == 0) break;
    }
    Require(at == meta.size(), "bytes after the end record");
    Require(!f.list.empty() && f.list.back().function == 0, "no end record last");
    Require(largest == f.maxRecord, "largest record " + std::to_string(largest) + " words, header says " +
                                        std::to_string(f.maxRecord));
    return f;
}

std::string ConvertToSvg(const std::string& program, const std::vector<std::uint8_t>& file,
                         const std::string& suffix) {
    TempDir dir;
    const std::string in = dir.File("in" + suffix), out = dir.File("out.svg");
    {
        std::ofstream s(in, std::ios::binary);
        s.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    const std::string command = program == "emf2svg-conv" ? program + " -i " + in + " -o " + out
                                                          : program + " -o " + out + " " + in;
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return {};
    std::ifstream s(out);
    std::stringstream text;
    text << s.rdbuf();
    return text.str();
}

}  // namespace test_support
