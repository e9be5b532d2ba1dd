// Writes the loader fuzz target's seed images (synthetic PE32 libraries and executables, well formed and
// not) into the folder given: make_loader_seeds <folder>.

#include "loader/pe_writer.h"

#include <cstdio>
#include <fstream>
#include <string>

using namespace vestrel::testing;

namespace {

PeImage library() {
    PeImage pe;
    pe.entry_point = 0x1000;
    pe.sections.push_back(PeSection{0x1000, 0x40, std::vector<std::uint8_t>(0x40, 0xC3), {}, {}, ".text"});
    Blob data;
    for (std::uint32_t i = 0; i < 4; ++i)
        data.u32(4 * i, pe.image_base + 0x1000 + 0x10 * i);
    pe.sections.push_back(PeSection{0x2000, 0x100, data.bytes, {}, {}, ".data"});
    return pe;
}

void add(PeImage& pe, unsigned directory, std::uint32_t rva, std::vector<std::uint8_t> bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    pe.sections.push_back(PeSection{rva, size, std::move(bytes), {}, {}, ".table"});
    pe.directories[directory] = {rva, size};
}

PeImage full() {
    PeImage pe = library();
    add(pe, 1, 0x3000,
        build_imports(0x3000, {{"kernel32.dll", {std::string("Sleep"), std::uint16_t{17}}},
                               {"user32.dll", {std::string("MessageBoxW")}}})
            .bytes);
    ExportTableSpec exports;
    exports.functions = {0x1000, 0, 0x1020};
    exports.names = {{"Alpha", 0}, {"SkinH_AttachRes", 2}};
    add(pe, 0, 0x4000, build_exports(0x4000, exports));
    add(pe, 5, 0x5000,
        build_relocations({RelocationBlock{0x2000, {highlow(0), highlow(4), 0x1008, 0}},
                           RelocationBlock{0x2000, {highlow(12)}}}));
    return pe;
}

bool write(const std::string& folder, const std::string& name, std::vector<std::uint8_t> bytes,
           std::uint8_t mode) {
    bytes.push_back(mode);
    std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_loader_seeds <folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = write(dir, "library", library().build(), 0);
    ok &= write(dir, "full", full().build(), 0);
    ok &= write(dir, "full-resolver", full().build(), 1);
    ok &= write(dir, "full-refused", full().build(), 2);
    PeImage exe = full();
    exe.characteristics = characteristics::executable | characteristics::machine_32bit;
    ok &= write(dir, "executable", exe.build(), 0);
    PeImage moved = full();
    moved.image_base = 0xF0000000;
    ok &= write(dir, "high-base", moved.build(), 0);
    PeImage short_block = library();
    add(short_block, 5, 0x3000, build_relocations({RelocationBlock{0x2000, {}, 4}}));
    ok &= write(dir, "short-relocation-block", short_block.build(), 0);
    PeImage no_alignment = library();
    no_alignment.section_alignment = 0;
    ok &= write(dir, "no-alignment", no_alignment.build(), 0);
    auto truncated = full().build();
    truncated.resize(truncated.size() / 2);
    ok &= write(dir, "truncated", truncated, 0);
    return ok ? 0 : 1;
}
