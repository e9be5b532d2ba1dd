#pragma once
// A small writer of synthetic PE32 images (PE/COFF, 32-bit form) for the loader's tests: headers, sections
// and the three tables the loader reads (imports, exports, base relocations), each laid out for a given
// relative virtual address. Fields can be set to anything, malformed values included.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vestrel::testing {

// Little-endian bytes that grow as they are written.
class Blob {
public:
    std::vector<std::uint8_t> bytes;

    void u8(std::size_t at, std::uint8_t v) {
        grow(at + 1);
        bytes[at] = v;
    }
    void u16(std::size_t at, std::uint16_t v) {
        u8(at, static_cast<std::uint8_t>(v));
        u8(at + 1, static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::size_t at, std::uint32_t v) {
        u16(at, static_cast<std::uint16_t>(v));
        u16(at + 2, static_cast<std::uint16_t>(v >> 16));
    }
    // A zero-terminated text.
    void text(std::size_t at, const std::string& s) {
        for (std::size_t i = 0; i < s.size(); ++i)
            u8(at + i, static_cast<std::uint8_t>(s[i]));
        u8(at + s.size(), 0);
    }
    void put(std::size_t at, const std::vector<std::uint8_t>& data) {
        grow(at + data.size());
        std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void grow(std::size_t size) {
        if (bytes.size() < size)
            bytes.resize(size);
    }
    std::size_t size() const { return bytes.size(); }
};

inline std::uint32_t read_u32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

struct PeSection {
    std::uint32_t rva = 0;
    std::uint32_t virtual_size = 0;
    std::vector<std::uint8_t> raw;
    std::optional<std::uint32_t> raw_pointer; // default: the next file-aligned offset
    std::optional<std::uint32_t> raw_size;    // default: raw.size()
    std::string name = ".sect";
};

namespace characteristics {
constexpr std::uint16_t executable = 0x0002;
constexpr std::uint16_t machine_32bit = 0x0100;
constexpr std::uint16_t library = 0x2000;
} // namespace characteristics

struct PeImage {
    std::uint32_t nt_offset = 0x80; // e_lfanew
    std::uint16_t characteristics =
        characteristics::library | characteristics::machine_32bit | characteristics::executable;
    std::uint32_t entry_point = 0;
    std::uint32_t image_base = 0x10000000;
    std::uint32_t section_alignment = 0x1000;
    std::uint32_t file_alignment = 0x200;
    std::optional<std::uint32_t> size_of_image; // default: end of the last section, aligned
    std::optional<std::uint16_t> section_count; // default: sections.size()
    std::optional<std::uint32_t> signature;     // default: "PE\0\0"
    std::array<std::pair<std::uint32_t, std::uint32_t>, 16> directories{};
    std::vector<PeSection> sections;
    // Bytes written into the header area right after the section table (the loader must not copy them).
    std::vector<std::uint8_t> after_section_table;

    std::uint32_t headers_end() const {
        return nt_offset + 248 + 40 * static_cast<std::uint32_t>(sections.size());
    }

    std::vector<std::uint8_t> build() const {
        Blob out;
        out.u16(0, 0x5A4D);
        out.u32(60, nt_offset);
        const std::size_t nt = nt_offset;
        out.u32(nt, signature.value_or(0x4550));
        out.u16(nt + 4, 0x014C); // i386
        out.u16(nt + 6, section_count.value_or(static_cast<std::uint16_t>(sections.size())));
        out.u16(nt + 20, 224);
        out.u16(nt + 22, characteristics);
        const std::size_t opt = nt + 24;
        out.u16(opt, 0x010B);
        out.u32(opt + 16, entry_point);
        out.u32(opt + 28, image_base);
        out.u32(opt + 32, section_alignment);
        out.u32(opt + 36, file_alignment);
        out.u16(opt + 40, 4); // operating system and subsystem version 4.0
        out.u16(opt + 48, 4);
        std::uint32_t end = 0;
        for (const auto& s : sections)
            end = std::max<std::uint32_t>(
                end,
                s.rva + std::max<std::uint32_t>(s.virtual_size, static_cast<std::uint32_t>(s.raw.size())));
        const std::uint32_t align = section_alignment == 0 ? 1 : section_alignment;
        out.u32(opt + 56, size_of_image.value_or((end + align - 1) / align * align));
        const std::uint32_t header_size =
            (headers_end() + file_alignment - 1) / file_alignment * file_alignment;
        out.u32(opt + 60, header_size);
        out.u16(opt + 68, 2); // GUI subsystem
        out.u32(opt + 72, 0x100000);
        out.u32(opt + 76, 0x1000);
        out.u32(opt + 80, 0x100000);
        out.u32(opt + 84, 0x1000);
        out.u32(opt + 92, 16);
        for (std::size_t i = 0; i < directories.size(); ++i) {
            out.u32(opt + 96 + 8 * i, directories[i].first);
            out.u32(opt + 100 + 8 * i, directories[i].second);
        }
        std::uint32_t file_at = header_size;
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const PeSection& s = sections[i];
            const std::size_t h = nt + 248 + 40 * i;
            for (std::size_t c = 0; c < 8 && c < s.name.size(); ++c)
                out.u8(h + c, static_cast<std::uint8_t>(s.name[c]));
            out.u32(h + 8, s.virtual_size);
            out.u32(h + 12, s.rva);
            out.u32(h + 16, s.raw_size.value_or(static_cast<std::uint32_t>(s.raw.size())));
            const std::uint32_t pointer = s.raw_pointer.value_or(s.raw.empty() ? 0 : file_at);
            out.u32(h + 20, pointer);
            out.u32(h + 36, 0xE0000060); // code, data, read, write, execute
            if (!s.raw.empty()) {
                out.put(pointer, s.raw);
                if (!s.raw_pointer)
                    file_at += (static_cast<std::uint32_t>(s.raw.size()) + file_alignment - 1) /
                               file_alignment * file_alignment;
            }
        }
        out.put(headers_end(), after_section_table);
        out.grow(header_size);
        return out.bytes;
    }
};

// Imports: descriptors (terminated by a zero one), then library names, hint/name entries and one import
// address table per library. No import lookup table is written (OriginalFirstThunk 0): the loader reads the
// address table alone.
struct ImportedLibrary {
    std::string name;
    std::vector<std::variant<std::string, std::uint16_t>> routines; // a name, or an ordinal
};

struct ImportTable {
    std::vector<std::uint8_t> bytes;
    std::vector<std::vector<std::uint32_t>> slots; // rva of each routine's address-table entry
};

inline ImportTable build_imports(std::uint32_t rva, const std::vector<ImportedLibrary>& libraries) {
    Blob b;
    ImportTable table;
    std::size_t at = 20 * (libraries.size() + 1);
    for (std::size_t i = 0; i < libraries.size(); ++i) {
        const auto& library = libraries[i];
        b.u32(20 * i + 12, rva + static_cast<std::uint32_t>(at));
        b.text(at, library.name);
        at += library.name.size() + 1;
        std::vector<std::uint32_t> entries;
        for (const auto& routine : library.routines) {
            if (const auto* name = std::get_if<std::string>(&routine)) {
                at = (at + 1) & ~std::size_t{1};
                entries.push_back(rva + static_cast<std::uint32_t>(at));
                b.u16(at, 0); // hint
                b.text(at + 2, *name);
                at += 2 + name->size() + 1;
            } else {
                entries.push_back(0x80000000u | std::get<std::uint16_t>(routine));
            }
        }
        at = (at + 3) & ~std::size_t{3};
        b.u32(20 * i + 16, rva + static_cast<std::uint32_t>(at));
        std::vector<std::uint32_t> slots;
        for (const auto entry : entries) {
            slots.push_back(rva + static_cast<std::uint32_t>(at));
            b.u32(at, entry);
            at += 4;
        }
        b.u32(at, 0);
        at += 4;
        table.slots.push_back(slots);
    }
    b.grow(at);
    table.bytes = b.bytes;
    return table;
}

// Exports: the directory, the function table, the name pointers, the name ordinals, then the names one after
// another in table order.
struct ExportTableSpec {
    std::uint32_t ordinal_base = 1;
    std::vector<std::uint32_t> functions;                     // rva per index, 0 for none
    std::vector<std::pair<std::string, std::uint16_t>> names; // name -> function index
    std::optional<std::uint32_t> function_count;              // default: functions.size()
    std::optional<std::uint32_t> name_count;                  // default: names.size()
    bool scramble_later_name_pointers = false; // only the first name pointer is meant to be read
};

inline std::vector<std::uint8_t> build_exports(std::uint32_t rva, const ExportTableSpec& spec) {
    Blob b;
    const auto n_functions = static_cast<std::uint32_t>(spec.functions.size());
    const auto n_names = static_cast<std::uint32_t>(spec.names.size());
    const std::uint32_t functions = 40;
    const std::uint32_t names = functions + 4 * n_functions;
    const std::uint32_t ordinals = names + 4 * n_names;
    std::uint32_t text = ordinals + 2 * n_names;
    b.u32(12, rva + text); // the library's own name
    b.text(text, "synthetic.dll");
    text += 14;
    b.u32(16, spec.ordinal_base);
    b.u32(20, spec.function_count.value_or(n_functions));
    b.u32(24, spec.name_count.value_or(n_names));
    b.u32(28, rva + functions);
    b.u32(32, rva + names);
    b.u32(36, rva + ordinals);
    for (std::uint32_t i = 0; i < n_functions; ++i)
        b.u32(functions + 4 * i, spec.functions[i]);
    for (std::uint32_t i = 0; i < n_names; ++i) {
        b.u32(names + 4 * i, spec.scramble_later_name_pointers && i > 0 ? 0xDEAD0000u : rva + text);
        b.u16(ordinals + 2 * i, spec.names[i].second);
        b.text(text, spec.names[i].first);
        text += static_cast<std::uint32_t>(spec.names[i].first.size()) + 1;
    }
    b.grow(text);
    return b.bytes;
}

// Base relocation blocks; a zero block header ends the table unless told otherwise.
struct RelocationBlock {
    RelocationBlock(std::uint32_t page, std::vector<std::uint16_t> entries,
                    std::optional<std::uint32_t> size = {})
        : page(page), entries(std::move(entries)), size(size) {}
    std::uint32_t page;
    std::vector<std::uint16_t> entries;
    std::optional<std::uint32_t> size; // default: 8 + 2 * entries
};

inline std::uint16_t highlow(std::uint16_t offset) {
    return static_cast<std::uint16_t>(0x3000 | offset);
}

inline std::vector<std::uint8_t> build_relocations(const std::vector<RelocationBlock>& blocks,
                                                   bool terminate = true) {
    Blob b;
    std::size_t at = 0;
    for (const auto& block : blocks) {
        const auto natural = static_cast<std::uint32_t>(8 + 2 * block.entries.size());
        b.u32(at, block.page);
        b.u32(at + 4, block.size.value_or(natural));
        for (std::size_t i = 0; i < block.entries.size(); ++i)
            b.u16(at + 8 + 2 * i, block.entries[i]);
        at += natural; // a size that lies is only written, never followed here
    }
    if (terminate)
        b.u32(at + 4, 0); // eight zero bytes
    b.grow(at + (terminate ? 8 : 0));
    return b.bytes;
}

} // namespace vestrel::testing
