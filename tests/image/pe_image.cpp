#include "pe_image.h"

#include <fstream>
#include <iterator>

namespace pe {

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t Image::u32(size_t offset) const {
    return offset + 4 <= bytes_.size() ? le32(&bytes_[offset]) : 0;
}
uint16_t Image::u16(size_t offset) const {
    return offset + 2 <= bytes_.size() ? le16(&bytes_[offset]) : 0;
}

std::optional<Image> Image::read(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "no file at " + path;
        return std::nullopt;
    }
    Image image;
    image.bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    const size_t nt = image.u32(0x3C);
    if (image.u16(0) != 0x5A4D || image.u32(nt) != 0x00004550) {
        error = path + " is not a PE image";
        return std::nullopt;
    }
    const size_t coff = nt + 4;
    image.machine_ = image.u16(coff);
    const uint16_t section_count = image.u16(coff + 2);
    image.symbol_table_ = image.u32(coff + 8);
    image.symbol_count_ = image.u32(coff + 12);
    const uint16_t optional_size = image.u16(coff + 16);
    image.characteristics_ = image.u16(coff + 18);

    const size_t optional = coff + 20;
    const uint16_t magic = image.u16(optional);
    if (magic != 0x10B && magic != 0x20B) {
        error = path + " has an unknown optional header";
        return std::nullopt;
    }
    image.pe32_plus_ = magic == 0x20B;
    image.subsystem_version_ = image.u16(optional + 48) * 100u + image.u16(optional + 50);
    image.directory_count_ = image.u32(optional + (image.pe32_plus_ ? 108 : 92));
    image.directories_ = optional + (image.pe32_plus_ ? 112 : 96);

    for (size_t i = 0, at = optional + optional_size; i < section_count; ++i, at += 40) {
        if (at + 40 > image.bytes_.size()) break;
        Section s;
        for (size_t c = 0; c < 8 && image.bytes_[at + c]; ++c)
            s.name += static_cast<char>(image.bytes_[at + c]);
        s.virtual_size = image.u32(at + 8);
        s.virtual_address = image.u32(at + 12);
        s.raw_size = image.u32(at + 16);
        s.raw_offset = image.u32(at + 20);
        s.characteristics = image.u32(at + 36);
        image.sections_.push_back(s);
    }
    return image;
}

uint32_t Image::directory_rva(int index) const {
    if (static_cast<uint32_t>(index) >= directory_count_) return 0;
    return u32(directories_ + 8 * static_cast<size_t>(index));
}

uint32_t Image::directory_size(int index) const {
    if (static_cast<uint32_t>(index) >= directory_count_) return 0;
    return u32(directories_ + 8 * static_cast<size_t>(index) + 4);
}

const Section* Image::section_of(uint32_t rva) const {
    for (const Section& s : sections_) {
        if (rva >= s.virtual_address && rva - s.virtual_address < s.virtual_size) return &s;
    }
    return nullptr;
}

Bytes Image::at(uint32_t rva, size_t size) const {
    const Section* s = section_of(rva);
    if (!s) return {};
    const uint64_t inside = rva - s->virtual_address;
    if (inside + size > s->raw_size) return {};
    const uint64_t offset = uint64_t{s->raw_offset} + inside;
    if (offset + size > bytes_.size()) return {};
    return {bytes_.data() + offset, size};
}

std::string Image::text(uint32_t rva) const {
    std::string out;
    for (Bytes b; (b = at(rva, 1)) && *b.data != 0; ++rva) out += static_cast<char>(*b.data);
    return out;
}

std::optional<Export> Image::exports() const {
    const Bytes dir = at(directory_rva(0), 40);
    if (!dir) return std::nullopt;
    Export e;
    e.module_name = text(le32(dir.data + 12));
    e.ordinal_base = le32(dir.data + 16);
    e.function_count = le32(dir.data + 20);
    const uint32_t name_count = le32(dir.data + 24);
    const uint32_t functions = le32(dir.data + 28);
    const uint32_t names = le32(dir.data + 32);
    const uint32_t ordinals = le32(dir.data + 36);
    for (uint32_t i = 0; i < e.function_count && i < 4096; ++i) {
        const Bytes f = at(functions + 4 * i, 4);
        if (!f) return std::nullopt;
        e.function_rvas.push_back(le32(f.data));
    }
    for (uint32_t i = 0; i < name_count && i < 4096; ++i) {
        const Bytes n = at(names + 4 * i, 4);
        const Bytes o = at(ordinals + 2 * i, 2);
        if (!n || !o) return std::nullopt;
        e.names.push_back(text(le32(n.data)));
        e.name_ordinals.push_back(le16(o.data));
    }
    return e;
}

std::vector<ImportedDll> Image::imports() const {
    std::vector<ImportedDll> out;
    const size_t thunk = pe32_plus_ ? 8 : 4;
    uint32_t rva = directory_rva(1);
    if (rva == 0) return out;
    for (Bytes d; (d = at(rva, 20)) && le32(d.data + 12) != 0; rva += 20) {
        ImportedDll dll{text(le32(d.data + 12)), {}};
        // The lookup table when there is one, else the address table as the file has it.
        uint32_t entry = le32(d.data) ? le32(d.data) : le32(d.data + 16);
        for (Bytes t; entry != 0 && (t = at(entry, thunk)); entry += static_cast<uint32_t>(thunk)) {
            const uint32_t low = le32(t.data);
            const uint32_t high = pe32_plus_ ? le32(t.data + 4) : 0;
            const bool by_ordinal =
                pe32_plus_ ? (high & 0x80000000u) != 0 : (low & 0x80000000u) != 0;
            if (low == 0 && high == 0) break;
            dll.functions.push_back(by_ordinal ? "#" + std::to_string(low & 0xFFFFu)
                                               : text(low + 2));  // after the hint
            if (dll.functions.size() > 4096) break;
        }
        out.push_back(std::move(dll));
    }
    return out;
}

std::vector<uint32_t> Image::resource_ids(uint32_t offset) const {
    std::vector<uint32_t> out;
    const uint32_t root = directory_rva(2);
    const Bytes dir = at(root + offset, 16);
    if (!dir) return out;
    const uint32_t named = le16(dir.data + 12);
    const uint32_t numbered = le16(dir.data + 14);
    for (uint32_t i = named; i < named + numbered; ++i) {
        const Bytes entry = at(root + offset + 16 + 8 * i, 8);
        if (!entry) break;
        out.push_back(le32(entry.data));
    }
    return out;
}

std::optional<uint32_t> Image::resource_entry(uint32_t offset, uint32_t id) const {
    const uint32_t root = directory_rva(2);
    const Bytes dir = at(root + offset, 16);
    if (!dir) return std::nullopt;
    const uint32_t count = uint32_t{le16(dir.data + 12)} + le16(dir.data + 14);
    for (uint32_t i = 0; i < count; ++i) {
        const Bytes entry = at(root + offset + 16 + 8 * i, 8);
        if (!entry) return std::nullopt;
        if (le32(entry.data) == id) return le32(entry.data + 4);
    }
    return std::nullopt;
}

Bytes Image::resource(uint32_t type, uint32_t number, uint32_t language) const {
    constexpr uint32_t subdirectory = 0x80000000u;
    const auto types = resource_entry(0, type);
    if (!types || !(*types & subdirectory)) return {};
    const auto numbers = resource_entry(*types & ~subdirectory, number);
    if (!numbers || !(*numbers & subdirectory)) return {};
    const auto leaf = resource_entry(*numbers & ~subdirectory, language);
    if (!leaf || (*leaf & subdirectory)) return {};
    const Bytes data_entry = at(directory_rva(2) + *leaf, 16);
    if (!data_entry) return {};
    return at(le32(data_entry.data), le32(data_entry.data + 4));
}

std::vector<uint32_t> Image::resource_languages(uint32_t type, uint32_t number) const {
    constexpr uint32_t subdirectory = 0x80000000u;
    const auto types = resource_entry(0, type);
    if (!types || !(*types & subdirectory)) return {};
    const auto numbers = resource_entry(*types & ~subdirectory, number);
    if (!numbers || !(*numbers & subdirectory)) return {};
    return resource_ids(*numbers & ~subdirectory);
}

}  // namespace pe
