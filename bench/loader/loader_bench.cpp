// The loader over a synthetic library about the size of a real one: 256 KiB of code and data, a relocation
// for every 16 bytes of it, 200 imports, and 2000 exports.

#include "loader/memory_module.h"
#include "loader/pe_writer.h"
#include "loader/test_seams.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace vestrel;
using namespace vestrel::testing;

constexpr std::uint32_t code_size = 0x40000;
constexpr std::uint32_t import_count = 200;
constexpr std::uint32_t export_count = 2000;

std::string export_name(std::uint32_t i) {
    return "Routine_" + std::to_string(i);
}

struct Library {
    std::vector<std::uint8_t> image;
    RoutineTable libraries;
    RecordingCaller caller;
    CountingMemory memory{*system_loader_seams().memory};

    Library() {
        PeImage pe;
        pe.entry_point = 0x1000;
        Blob code;
        for (std::uint32_t at = 0; at < code_size; at += 16)
            code.u32(at, pe.image_base + 0x1000 + at);
        pe.sections.push_back(PeSection{0x1000, code_size, code.bytes, {}, {}, ".text"});
        std::uint32_t rva = 0x1000 + code_size;

        ImportedLibrary kernel{"kernel32.dll", {}};
        for (std::uint32_t i = 0; i < import_count; ++i) {
            kernel.routines.push_back("Import_" + std::to_string(i));
            libraries.add("kernel32.dll", "Import_" + std::to_string(i), 0x7100'0000 + i);
        }
        const auto imports = build_imports(rva, {kernel});
        pe.sections.push_back(PeSection{
            rva, static_cast<std::uint32_t>(imports.bytes.size()), imports.bytes, {}, {}, ".idata"});
        pe.directories[1] = {rva, static_cast<std::uint32_t>(imports.bytes.size())};
        rva += 0x10000;

        ExportTableSpec exports;
        for (std::uint32_t i = 0; i < export_count; ++i) {
            exports.functions.push_back(0x1000 + 16 * i);
            exports.names.emplace_back(export_name(i), static_cast<std::uint16_t>(i));
        }
        const auto table = build_exports(rva, exports);
        pe.sections.push_back(
            PeSection{rva, static_cast<std::uint32_t>(table.size()), table, {}, {}, ".edata"});
        pe.directories[0] = {rva, static_cast<std::uint32_t>(table.size())};
        rva += 0x20000;

        std::vector<RelocationBlock> blocks;
        for (std::uint32_t page = 0; page < code_size; page += 0x1000) {
            std::vector<std::uint16_t> entries;
            for (std::uint32_t at = 0; at < 0x1000; at += 16)
                entries.push_back(highlow(static_cast<std::uint16_t>(at)));
            blocks.emplace_back(0x1000 + page, entries);
        }
        const auto relocations = build_relocations(blocks);
        pe.sections.push_back(
            PeSection{rva, static_cast<std::uint32_t>(relocations.size()), relocations, {}, {}, ".reloc"});
        pe.directories[5] = {rva, static_cast<std::uint32_t>(relocations.size())};
        image = pe.build();
        caller.respond([](const RecordingCaller::Call&) { return 1u; });
        memory.refuse_preferred = true; // every run relocates
    }
    LoaderSeams seams() { return LoaderSeams{&memory, &libraries, &caller}; }
};

void load_and_unload(benchmark::State& state) {
    Library library;
    MemoryModule module(library.seams());
    for (auto _ : state) {
        if (!module.load(library.image) || !module.unload())
            state.SkipWithError("load failed");
        library.caller.clear();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * library.image.size()));
}
BENCHMARK(load_and_unload)->Unit(benchmark::kMicrosecond);

void export_by_name(benchmark::State& state) {
    Library library;
    MemoryModule module(library.seams());
    module.load(library.image);
    const std::string name = export_name(static_cast<std::uint32_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(module.get_export(name));
}
BENCHMARK(export_by_name)->Arg(0)->Arg(export_count / 2)->Arg(export_count - 1);

void export_by_ordinal(benchmark::State& state) {
    Library library;
    MemoryModule module(library.seams());
    module.load(library.image);
    for (auto _ : state)
        benchmark::DoNotOptimize(module.get_export("1500"));
}
BENCHMARK(export_by_ordinal);

} // namespace

BENCHMARK_MAIN();
