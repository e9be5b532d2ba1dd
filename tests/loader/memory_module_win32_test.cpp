// The loader with the system's seams under Wine: synthetic images whose x86 code really runs, so that
// relocations, imports, the entry point calls and call_address are checked by what the code does.

#include "loader/memory_module.h"
#include "loader/pe_writer.h"
#include "loader/test_seams.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace vestrel {
namespace {

using testing::PeImage;
using testing::PeSection;

constexpr std::uint32_t code_rva = 0x1000;
constexpr std::uint32_t counters_rva = 0x2000; // one count per entry-point reason, 0 to 3
constexpr std::uint32_t pid_rva = 0x2010;      // what the imported routine answered at the last call
constexpr std::uint32_t answer_rva = 0x2014;   // what the entry point answers
constexpr std::uint32_t imports_rva = 0x3000;
constexpr std::uint32_t exports_rva = 0x4000;
constexpr std::uint32_t relocations_rva = 0x5000;

// Counts of a refusing library's entry point, which lives on after its image is released.
std::uint32_t outside_counters[4];

struct CodeImage {
    std::vector<std::uint8_t> bytes;
    std::uint32_t preferred = 0x10000000;
};

// The entry point (stdcall, 3 arguments):
//   mov eax,[esp+8]; inc dword [counters+eax*4]; call [import]; mov [pid],eax; mov eax,[answer]; ret 12
// and two exports: Tenth (10 arguments, answers the tenth) and Sum (10 arguments, answers their sum).
CodeImage code_image(std::uint32_t answer, bool counters_outside,
                     std::variant<std::string, std::uint16_t> import) {
    CodeImage out;
    PeImage pe;
    pe.image_base = out.preferred;
    pe.entry_point = code_rva;
    const auto imports = testing::build_imports(imports_rva, {{"kernel32.dll", {import}}});
    const std::uint32_t slot = imports.slots[0][0];
    const std::uint32_t counters =
        counters_outside ? static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(outside_counters))
                         : pe.image_base + counters_rva;
    testing::Blob code;
    std::size_t at = 0;
    const auto bytes = [&](std::initializer_list<std::uint8_t> b) {
        for (auto v : b)
            code.u8(at++, v);
    };
    std::vector<std::uint16_t> fixups;
    const auto absolute = [&](std::uint32_t value, bool relocated) {
        if (relocated)
            fixups.push_back(testing::highlow(static_cast<std::uint16_t>(at)));
        code.u32(at, value);
        at += 4;
    };
    bytes({0x8B, 0x44, 0x24, 0x08});
    bytes({0xFF, 0x04, 0x85});
    absolute(counters, !counters_outside);
    bytes({0xFF, 0x15});
    absolute(pe.image_base + slot, true);
    bytes({0xA3});
    absolute(pe.image_base + pid_rva, true);
    bytes({0xA1});
    absolute(pe.image_base + answer_rva, true);
    bytes({0xC2, 0x0C, 0x00});
    at = 0x40; // Tenth
    bytes({0x8B, 0x44, 0x24, 0x28, 0xC2, 0x28, 0x00});
    at = 0x50; // Sum
    bytes({0x31, 0xC0});
    for (std::uint8_t offset = 4; offset <= 40; offset += 4)
        bytes({0x03, 0x44, 0x24, offset});
    bytes({0xC2, 0x28, 0x00});
    pe.sections.push_back(PeSection{code_rva, 0x100, code.bytes, {}, {}, ".text"});

    testing::Blob data;
    data.u32(answer_rva - counters_rva, answer);
    pe.sections.push_back(PeSection{counters_rva, 0x100, data.bytes, {}, {}, ".data"});
    pe.sections.push_back(PeSection{
        imports_rva, static_cast<std::uint32_t>(imports.bytes.size()), imports.bytes, {}, {}, ".idata"});
    pe.directories[1] = {imports_rva, static_cast<std::uint32_t>(imports.bytes.size())};

    testing::ExportTableSpec spec;
    spec.functions = {code_rva + 0x40, code_rva + 0x50};
    spec.names = {{"Sum", 1}, {"Tenth", 0}};
    const auto exports = testing::build_exports(exports_rva, spec);
    pe.sections.push_back(
        PeSection{exports_rva, static_cast<std::uint32_t>(exports.size()), exports, {}, {}, ".edata"});
    pe.directories[0] = {exports_rva, static_cast<std::uint32_t>(exports.size())};

    const auto relocations = testing::build_relocations({testing::RelocationBlock{code_rva, fixups}});
    pe.sections.push_back(PeSection{
        relocations_rva, static_cast<std::uint32_t>(relocations.size()), relocations, {}, {}, ".reloc"});
    pe.directories[5] = {relocations_rva, static_cast<std::uint32_t>(relocations.size())};
    out.bytes = pe.build();
    return out;
}

std::uint32_t word(Address base, std::uint32_t rva) {
    return testing::read_u32(host_pointer(base + rva));
}

struct SystemSeams {
    testing::CountingMemory memory{*system_loader_seams().memory};
    LoaderSeams seams() {
        LoaderSeams s = system_loader_seams();
        s.memory = &memory;
        return s;
    }
};

TEST(MemoryModuleWin32, CodeRunsRelocatedWithItsImportsResolvedBySystem) {
    SystemSeams s;
    s.memory.refuse_preferred = true;
    const CodeImage image = code_image(1, false, std::string("GetCurrentProcessId"));
    MemoryModule module(s.seams());
    ASSERT_TRUE(module.load(image.bytes));
    const Address base = module.get_module_base();
    ASSERT_NE(base, image.preferred);
    EXPECT_EQ(word(base, counters_rva + 4), 1u) << "one attach call, through a relocated address";
    EXPECT_EQ(word(base, counters_rva), 0u);
    EXPECT_EQ(word(base, pid_rva), GetCurrentProcessId()) << "the import resolved and called";

    std::uint32_t arguments[10];
    for (std::uint32_t i = 0; i < 10; ++i)
        arguments[i] = 100 + i;
    EXPECT_EQ(call_address(module.get_export("Tenth"), arguments), 109u);
    EXPECT_EQ(call_address(module.get_export("Sum"), arguments), 1045u);
    EXPECT_EQ(call_address(module.get_export("2"), arguments), 1045u) << "Sum is ordinal 2";
    EXPECT_TRUE(module.unload());
    EXPECT_EQ(s.memory.live(), 0u);
}

TEST(MemoryModuleWin32, RefusingEntryPointIsDetachedAndReleased) {
    SystemSeams s;
    outside_counters[0] = outside_counters[1] = 0;
    const CodeImage image = code_image(0, true, std::string("GetCurrentProcessId"));
    MemoryModule module(s.seams());
    EXPECT_FALSE(module.load(image.bytes));
    EXPECT_EQ(outside_counters[1], 1u) << "attach";
    EXPECT_EQ(outside_counters[0], 1u) << "detach";
    EXPECT_EQ(s.memory.live(), 0u);
}

struct Asked {
    std::string library, routine;
    std::uint32_t value = 0;
    int calls = 0;
};
Asked asked;

std::uint32_t __stdcall resolver(std::uint32_t library, std::uint32_t routine, std::uint32_t value) {
    asked.library = reinterpret_cast<const char*>(host_pointer(library));
    asked.routine = reinterpret_cast<const char*>(host_pointer(routine));
    asked.value = value;
    ++asked.calls;
    if (asked.routine != "17")
        return 0;
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetCurrentProcessId")));
}

TEST(MemoryModuleWin32, ResolverRoutineIsCalledFirstWithTheOrdinalText) {
    SystemSeams s;
    asked = {};
    const CodeImage image = code_image(1, false, std::uint16_t{17});
    MemoryModule module(s.seams());
    ASSERT_TRUE(
        module.load(image.bytes, static_cast<Address>(reinterpret_cast<std::uintptr_t>(&resolver)), 4242));
    EXPECT_EQ(asked.calls, 1);
    EXPECT_EQ(asked.library, "kernel32.dll");
    EXPECT_EQ(asked.routine, "17");
    EXPECT_EQ(asked.value, 4242u);
    EXPECT_EQ(word(module.get_module_base(), pid_rva), GetCurrentProcessId());

    // By name, a resolver that answers 0 leaves the import to the system.
    asked = {};
    MemoryModule other(s.seams());
    ASSERT_TRUE(other.load(code_image(1, false, std::string("GetCurrentProcessId")).bytes,
                           static_cast<Address>(reinterpret_cast<std::uintptr_t>(&resolver)), 7));
    EXPECT_EQ(asked.routine, "GetCurrentProcessId");
    EXPECT_EQ(word(other.get_module_base(), pid_rva), GetCurrentProcessId());
}

TEST(MemoryModuleWin32, MissingSystemRoutineFailsTheLoad) {
    SystemSeams s;
    MemoryModule module(s.seams());
    EXPECT_FALSE(module.load(code_image(1, false, std::string("NoSuchRoutineAnywhere")).bytes));
    EXPECT_EQ(s.memory.live(), 0u);
}

} // namespace
} // namespace vestrel
