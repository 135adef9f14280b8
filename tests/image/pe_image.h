// A Windows PE image read from its file's bytes on any platform: the headers, the sections,
// the export and import directories and the resource tree. Every read is bounds-checked; a
// malformed image reads as absent pieces, never out of range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pe {

// A run of bytes inside the image (empty when absent).
struct Bytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
    explicit operator bool() const { return data != nullptr; }
};

struct Section {
    std::string name;
    uint32_t virtual_address;
    uint32_t virtual_size;
    uint32_t raw_offset;
    uint32_t raw_size;
    uint32_t characteristics;
};

struct Export {
    std::string module_name;
    uint32_t ordinal_base;
    uint32_t function_count;
    std::vector<std::string> names;
    std::vector<uint16_t> name_ordinals;  // indexes into the function table
    std::vector<uint32_t> function_rvas;
};

// A DLL the image imports from, and the functions it takes from it: by name, or "#N" for an
// ordinal.
struct ImportedDll {
    std::string name;
    std::vector<std::string> functions;
};

class Image {
  public:
    // Reads the file; std::nullopt (with `error`) when it is missing or no PE image.
    static std::optional<Image> read(const std::string& path, std::string& error);

    size_t file_size() const { return bytes_.size(); }
    uint16_t machine() const { return machine_; }
    uint16_t characteristics() const { return characteristics_; }
    bool pe32_plus() const { return pe32_plus_; }
    // The oldest Windows it says it runs on, as major * 100 + minor (501 for Windows XP).
    unsigned subsystem_version() const { return subsystem_version_; }
    uint32_t symbol_table_offset() const { return symbol_table_; }
    uint32_t symbol_count() const { return symbol_count_; }
    const std::vector<Section>& sections() const { return sections_; }

    // Data directory `index` (0 export, 1 import, 2 resource, 13 delay import).
    uint32_t directory_rva(int index) const;
    uint32_t directory_size(int index) const;

    // `size` bytes at an RVA, when they all lie in one section's file data.
    Bytes at(uint32_t rva, size_t size) const;
    // The NUL-terminated text at an RVA, or "" when there is none.
    std::string text(uint32_t rva) const;
    const Section* section_of(uint32_t rva) const;

    std::optional<Export> exports() const;
    std::vector<ImportedDll> imports() const;

    // The resource of this type, number and language, or empty.
    Bytes resource(uint32_t type, uint32_t number, uint32_t language) const;
    // Every language a resource of this type and number exists in.
    std::vector<uint32_t> resource_languages(uint32_t type, uint32_t number) const;

  private:
    uint32_t u32(size_t offset) const;
    uint16_t u16(size_t offset) const;
    // The entry with this id in the resource directory at `offset` (from the resource
    // section's start); its target offset, high bit marking a subdirectory.
    std::optional<uint32_t> resource_entry(uint32_t offset, uint32_t id) const;
    std::vector<uint32_t> resource_ids(uint32_t offset) const;

    std::vector<uint8_t> bytes_;
    uint16_t machine_ = 0;
    uint16_t characteristics_ = 0;
    bool pe32_plus_ = false;
    unsigned subsystem_version_ = 0;
    uint32_t symbol_table_ = 0;
    uint32_t symbol_count_ = 0;
    size_t directories_ = 0;  // file offset of the data directories
    uint32_t directory_count_ = 0;
    std::vector<Section> sections_;
};

// Little-endian reads from resource data.
uint16_t le16(const uint8_t* p);
uint32_t le32(const uint8_t* p);

}  // namespace pe
