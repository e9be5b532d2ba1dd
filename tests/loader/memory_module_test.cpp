// The in-memory module loader over synthetic PE32 images, with real image memory, a routine table and a
// recording caller (portable: runs on Linux and under Wine).

#include "loader/memory_module.h"
#include "loader/pe_writer.h"
#include "loader/test_seams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vestrel {
namespace {

using testing::build_exports;
using testing::build_imports;
using testing::build_relocations;
using testing::highlow;
using testing::PeImage;
using testing::PeSection;
using testing::read_u32;
using testing::RelocationBlock;
using testing::TestSeams;
namespace bits = testing::characteristics;

constexpr std::uint32_t code_rva = 0x1000;
constexpr std::uint32_t data_rva = 0x2000;
constexpr std::uint32_t table_rva = 0x3000; // imports, exports or relocations, one per test image

// A library: code at 0x1000 (its entry point), data at 0x2000 holding absolute addresses into the image.
PeImage basic_library(std::uint32_t image_base = 0x10000000) {
    PeImage pe;
    pe.image_base = image_base;
    pe.entry_point = code_rva;
    std::vector<std::uint8_t> code(0x40, 0xC3);
    pe.sections.push_back(PeSection{code_rva, 0x40, code, {}, {}, ".text"});
    testing::Blob data;
    for (std::uint32_t i = 0; i < 8; ++i)
        data.u32(4 * i, image_base + code_rva + 0x10 * i);
    pe.sections.push_back(PeSection{data_rva, 0x100, data.bytes, {}, {}, ".data"});
    return pe;
}

void add_table(PeImage& pe, unsigned directory, std::vector<std::uint8_t> bytes,
               std::uint32_t rva = table_rva, std::optional<std::uint32_t> size = {}) {
    const auto length = static_cast<std::uint32_t>(bytes.size());
    pe.sections.push_back(PeSection{rva, length, std::move(bytes), {}, {}, ".table"});
    pe.directories[directory] = {rva, size.value_or(length)};
}

std::uint32_t at(Address base, std::uint32_t rva) {
    return read_u32(host_pointer(base + rva));
}

// Answers every call with result (1: an entry point that accepts the attach).
void answer(RecordingCaller& caller, std::uint32_t result) {
    caller.respond([result](const RecordingCaller::Call&) { return result; });
}

using Call = RecordingCaller::Call;

TEST(MemoryModule, MapsHeadersAndSectionsIntoZeroedMemory) {
    TestSeams t;
    answer(t.caller, 1);
    PeImage pe = basic_library();
    pe.after_section_table = {'N', 'O', 'T', 'C', 'O', 'P', 'I', 'E', 'D'};
    // Raw data shorter than the virtual size leaves the rest zero; a section without raw data stays zero.
    pe.sections[1].virtual_size = 0x800;
    pe.sections.push_back(PeSection{0x4000, 0x200, {}, {}, {}, ".bss"});
    const auto image = pe.build();

    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(image));
    const Address base = module.get_module_base();
    EXPECT_NE(base, 0u);
    const std::uint8_t* mapped = host_pointer(base);
    EXPECT_EQ(std::memcmp(mapped, image.data(), pe.headers_end()), 0);
    for (std::size_t i = 0; i < pe.after_section_table.size(); ++i)
        EXPECT_EQ(mapped[pe.headers_end() + i], 0) << "header bytes past the section table are not copied";
    EXPECT_EQ(std::memcmp(mapped + code_rva, pe.sections[0].raw.data(), pe.sections[0].raw.size()), 0);
    for (std::uint32_t off = static_cast<std::uint32_t>(pe.sections[1].raw.size()); off < 0x800; ++off)
        ASSERT_EQ(mapped[data_rva + off], 0);
    for (std::uint32_t off = 0; off < 0x200; ++off)
        ASSERT_EQ(mapped[0x4000 + off], 0);
    EXPECT_EQ(module.get_entry_point(), base + code_rva);
    EXPECT_EQ(t.memory.live(), 1u);
    EXPECT_TRUE(module.unload());
    EXPECT_EQ(t.memory.live(), 0u);
}

TEST(MemoryModule, ImageSizeIsRaisedToTheAlignedEndOfEverySection) {
    TestSeams t;
    answer(t.caller, 1);
    PeImage pe = basic_library();
    pe.size_of_image = 0x1000;            // smaller than the sections need
    pe.sections[1].virtual_size = 0x1234; // data ends at 0x3234, aligned up to 0x4000
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    ASSERT_FALSE(t.memory.requested_sizes.empty());
    EXPECT_EQ(t.memory.requested_sizes.front(), 0x4000u);

    // Raw data larger than the virtual size counts too, with an alignment that is not a power of two.
    TestSeams u;
    answer(u.caller, 1);
    PeImage odd = basic_library();
    odd.section_alignment = 0x1800;
    odd.sections = {PeSection{0x1800, 0x10, std::vector<std::uint8_t>(0x1900, 0x90), {}, {}, ".text"}};
    odd.entry_point = 0x1800;
    odd.size_of_image = 0;
    MemoryModule other(u.seams());
    ASSERT_TRUE(other.load(odd.build()));
    EXPECT_EQ(u.memory.requested_sizes.front(), 0x4800u);
}

TEST(MemoryModule, RelocationsAddTheDeltaToHighLowEntriesOnly) {
    TestSeams t;
    answer(t.caller, 1);
    t.memory.refuse_preferred = true;
    PeImage pe = basic_library(0x10000000);
    // Types 0 (filler), 1, 2, 4 and 10 are skipped; type 3 at offsets 0 and 8 of the data.
    add_table(
        pe, 5,
        build_relocations({RelocationBlock{data_rva, {highlow(0), 0x1004, 0x2008, highlow(8)}},
                           RelocationBlock{data_rva, {0x000C, 0x400C, 0xA010, highlow(0x14), 0x0000}}}));
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    const Address base = module.get_module_base();
    ASSERT_NE(base, pe.image_base);
    const std::uint32_t delta = base - pe.image_base;
    for (std::uint32_t i = 0; i < 8; ++i) {
        const std::uint32_t original = pe.image_base + code_rva + 0x10 * i;
        const bool adjusted = i == 0 || i == 2 || i == 5;
        EXPECT_EQ(at(base, data_rva + 4 * i), adjusted ? original + delta : original) << "word " << i;
    }
}

TEST(MemoryModule, RelocationArithmeticWrapsAt32Bits) {
    TestSeams t;
    answer(t.caller, 1);
    t.memory.refuse_preferred = true;
    PeImage pe = basic_library(0xF0000000); // the image lands far below: the delta wraps
    testing::Blob data;
    data.u32(0, 0xFFFFFFF0u);
    pe.sections[1].raw = data.bytes;
    add_table(pe, 5, build_relocations({RelocationBlock{data_rva, {highlow(0)}}}));
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    const Address base = module.get_module_base();
    EXPECT_EQ(at(base, data_rva), static_cast<std::uint32_t>(0xFFFFFFF0u + (base - 0xF0000000u)));
}

TEST(MemoryModule, RelocationsAreWalkedAtThePreferredBaseToo) {
    // At the preferred base every value stays as it is, but a broken block is still found.
    TestSeams t;
    answer(t.caller, 1);
    PeImage good = basic_library(0x10000000);
    add_table(good, 5, build_relocations({RelocationBlock{data_rva, {highlow(0), highlow(4)}}}));
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(good.build()));
    if (module.get_module_base() != good.image_base)
        GTEST_SKIP() << "the preferred base is taken in this process";
    EXPECT_EQ(at(module.get_module_base(), data_rva), good.image_base + code_rva);
    EXPECT_EQ(at(module.get_module_base(), data_rva + 4), good.image_base + code_rva + 0x10);
    ASSERT_TRUE(module.unload());

    PeImage broken = basic_library(0x10000000);
    add_table(broken, 5, build_relocations({RelocationBlock{0x7FFFF000, {highlow(0)}}}));
    EXPECT_FALSE(module.load(broken.build()));
    EXPECT_EQ(t.memory.live(), 0u);
}

TEST(MemoryModule, RelocationWalkEndsAtTheZeroBlockNotAtTheDirectorySize) {
    TestSeams t;
    answer(t.caller, 1);
    t.memory.refuse_preferred = true;
    PeImage pe = basic_library();
    // The directory claims 8 bytes; the second block lies beyond it and is still applied.
    add_table(pe, 5,
              build_relocations(
                  {RelocationBlock{data_rva, {highlow(0), 0}}, RelocationBlock{data_rva, {highlow(4), 0}}}),
              table_rva, 8);
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    const std::uint32_t delta = module.get_module_base() - pe.image_base;
    EXPECT_EQ(at(module.get_module_base(), data_rva + 4), pe.image_base + code_rva + 0x10 + delta);
}

TEST(MemoryModule, RelocationTableThatFillsTheImageToItsEndIsAccepted) {
    // A linked table that ends exactly at the image's end has no zero block after it.
    TestSeams t;
    answer(t.caller, 1);
    PeImage pe = basic_library();
    std::vector<std::uint16_t> entries(0x7FC, 0); // fills the page: 8 + 2 * 0x7FC = 0x1000
    entries[0] = highlow(0);
    auto table = build_relocations({RelocationBlock{data_rva, entries}}, false);
    ASSERT_EQ(table.size(), 0x1000u);
    add_table(pe, 5, table);
    MemoryModule module(t.seams());
    EXPECT_TRUE(module.load(pe.build()));

    // With the directory claiming more, the walk runs off the image: refused.
    TestSeams u;
    answer(u.caller, 1);
    pe.directories[5].second = 0x1008;
    MemoryModule other(u.seams());
    EXPECT_FALSE(other.load(pe.build()));
    EXPECT_EQ(u.memory.live(), 0u);
}

TEST(MemoryModule, ImportsAreResolvedThroughTheAddressTable) {
    TestSeams t;
    answer(t.caller, 1);
    t.libraries.add("KERNEL32.dll", "GetTickCount", 0x7100'0010);
    t.libraries.add("kernel32.dll", "Sleep", 0x7100'0020);
    t.libraries.add("user32.dll", 17, 0x7200'0017);
    PeImage pe = basic_library();
    const auto imports =
        build_imports(table_rva, {{"Kernel32.DLL", {std::string("GetTickCount"), std::string("Sleep")}},
                                  {"user32.dll", {std::uint16_t{17}}}});
    add_table(pe, 1, imports.bytes);
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    const Address base = module.get_module_base();
    EXPECT_EQ(at(base, imports.slots[0][0]), 0x7100'0010u);
    EXPECT_EQ(at(base, imports.slots[0][1]), 0x7100'0020u);
    EXPECT_EQ(at(base, imports.slots[1][0]), 0x7200'0017u);
    EXPECT_EQ(t.libraries.loaded(), (std::vector<std::string>{"Kernel32.DLL", "user32.dll"}));
}

TEST(MemoryModule, ResolverIsAskedFirstWithTheOrdinalAsDecimalText) {
    TestSeams t;
    constexpr Address resolver = 0x6000'0000;
    constexpr std::uint32_t resolver_value = 0xC0FFEE;
    t.libraries.add("user32.dll", "MessageBoxW", 0x7200'0001);
    t.libraries.add("user32.dll", 18, 0x7200'0018);
    std::vector<std::pair<std::string, std::string>> asked;
    t.caller.respond([&](const Call& c) -> std::uint32_t {
        if (c.address != resolver)
            return 1; // the entry point
        EXPECT_EQ(c.arguments.size(), 3u);
        EXPECT_EQ(c.arguments[2], resolver_value);
        const std::string library = reinterpret_cast<const char*>(host_pointer(c.arguments[0]));
        const std::string routine = reinterpret_cast<const char*>(host_pointer(c.arguments[1]));
        asked.emplace_back(library, routine);
        return routine == "17" ? 0x5000'0017 : 0; // everything else falls back to the system lookup
    });
    PeImage pe = basic_library();
    const auto imports = build_imports(
        table_rva, {{"user32.dll", {std::uint16_t{17}, std::string("MessageBoxW"), std::uint16_t{18}}}});
    add_table(pe, 1, imports.bytes);
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build(), resolver, resolver_value));
    const Address base = module.get_module_base();
    EXPECT_EQ(asked, (std::vector<std::pair<std::string, std::string>>{
                         {"user32.dll", "17"}, {"user32.dll", "MessageBoxW"}, {"user32.dll", "18"}}));
    EXPECT_EQ(at(base, imports.slots[0][0]), 0x5000'0017u);
    EXPECT_EQ(at(base, imports.slots[0][1]), 0x7200'0001u);
    EXPECT_EQ(at(base, imports.slots[0][2]), 0x7200'0018u);
    EXPECT_EQ(t.memory.live(), 1u) << "the ordinal's text buffer is released";
}

TEST(MemoryModule, UnresolvedImportReleasesTheBlockButKeepsLibraries) {
    struct Case {
        const char* what;
        std::vector<testing::ImportedLibrary> imports;
    };
    const std::vector<Case> cases = {
        {"unknown routine",
         {{"kernel32.dll", {std::string("Sleep")}}, {"kernel32.dll", {std::string("Nope")}}}},
        {"unknown ordinal", {{"kernel32.dll", {std::string("Sleep"), std::uint16_t{99}}}}},
        {"library that cannot be loaded",
         {{"kernel32.dll", {std::string("Sleep")}}, {"missing.dll", {std::string("Sleep")}}}},
    };
    for (const auto& c : cases) {
        TestSeams t;
        answer(t.caller, 1);
        t.libraries.add("kernel32.dll", "Sleep", 0x7100'0020);
        PeImage pe = basic_library();
        add_table(pe, 1, build_imports(table_rva, c.imports).bytes);
        MemoryModule module(t.seams());
        EXPECT_FALSE(module.load(pe.build())) << c.what;
        EXPECT_EQ(module.get_module_base(), 0u) << c.what;
        EXPECT_EQ(t.memory.live(), 0u) << c.what;
        EXPECT_EQ(t.libraries.loaded().size(), c.imports.size()) << c.what;
        EXPECT_TRUE(t.caller.calls().empty()) << c.what << ": the entry point is never reached";
    }
}

TEST(MemoryModule, LibraryEntryPointGetsAttachAndItsRefusalADetach) {
    TestSeams t;
    answer(t.caller, 1);
    PeImage pe = basic_library();
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    const Address entry = module.get_module_base() + code_rva;
    EXPECT_EQ(t.caller.calls(), (std::vector<Call>{{entry, {0, 1, 0}}}));
    t.caller.clear();
    EXPECT_TRUE(module.unload());
    EXPECT_EQ(t.caller.calls(), (std::vector<Call>{{entry, {0, 0, 0}}}));

    // An entry point that answers 0 to the attach is detached at once and the block released.
    TestSeams r;
    answer(r.caller, 0);
    MemoryModule refused(r.seams());
    EXPECT_FALSE(refused.load(pe.build()));
    const auto calls = r.caller.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].arguments, (std::vector<std::uint32_t>{0, 1, 0}));
    EXPECT_EQ(calls[1].arguments, (std::vector<std::uint32_t>{0, 0, 0}));
    EXPECT_EQ(calls[0].address, calls[1].address);
    EXPECT_EQ(r.memory.live(), 0u);
    EXPECT_EQ(r.memory.released.size(), 1u);
}

TEST(MemoryModule, ExecutableWithoutLibraryBitIsMappedWithoutEntryCall) {
    TestSeams t;
    t.memory.refuse_preferred = true;
    t.libraries.add("kernel32.dll", "Sleep", 0x7100'0020);
    PeImage pe = basic_library();
    pe.characteristics = bits::executable | bits::machine_32bit;
    pe.entry_point = 0; // never called, so never checked
    const auto imports = build_imports(0x4000, {{"kernel32.dll", {std::string("Sleep")}}});
    add_table(pe, 1, imports.bytes, 0x4000);
    add_table(pe, 5, build_relocations({RelocationBlock{data_rva, {highlow(0)}}}), 0x5000);
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    const Address base = module.get_module_base();
    EXPECT_EQ(at(base, data_rva), base + code_rva);
    EXPECT_EQ(at(base, imports.slots[0][0]), 0x7100'0020u);
    EXPECT_TRUE(t.caller.calls().empty());
    EXPECT_TRUE(module.unload());
    EXPECT_TRUE(t.caller.calls().empty()) << "no detach for an executable either";
}

TEST(MemoryModule, LoadingTwiceDetachesAndReleasesTheFirstImageFirst) {
    TestSeams t;
    std::vector<std::string> events;
    t.caller.respond([&](const Call& c) {
        events.push_back("call " + std::to_string(c.arguments[1]) + " live " +
                         std::to_string(t.memory.live()));
        return 1u;
    });
    PeImage pe = basic_library();
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    const Address first = module.get_module_base();
    ASSERT_TRUE(module.load(pe.build()));
    EXPECT_EQ(events, (std::vector<std::string>{"call 1 live 1", "call 0 live 1", "call 1 live 1"}));
    EXPECT_EQ(t.memory.released, (std::vector<Address>{first}));
    EXPECT_EQ(t.memory.live(), 1u);
}

TEST(MemoryModule, EmptyObjectAndItsCopies) {
    TestSeams t;
    answer(t.caller, 1);
    MemoryModule empty(t.seams());
    EXPECT_TRUE(empty.unload());
    EXPECT_EQ(empty.get_export("anything"), 0u);
    EXPECT_EQ(empty.get_export("1"), 0u);
    EXPECT_EQ(empty.get_entry_point(), 0u);
    EXPECT_EQ(empty.get_module_base(), 0u);

    auto module = std::make_unique<MemoryModule>(t.seams());
    ASSERT_TRUE(module->load(basic_library().build()));
    const Address base = module->get_module_base();
    auto copy = module->copy();
    EXPECT_EQ(copy->get_module_base(), base);
    // Destroying an object leaves its mapping in place, with no detach call.
    t.caller.clear();
    module.reset();
    EXPECT_EQ(t.memory.live(), 1u);
    EXPECT_TRUE(t.caller.calls().empty());
    // The copy names the same mapping and can release it.
    auto second = copy->copy();
    EXPECT_TRUE(copy->unload());
    EXPECT_EQ(t.memory.live(), 0u);
    // A copy left naming a released mapping reads nothing from it and cannot release it again.
    EXPECT_EQ(second->get_module_base(), base);
    EXPECT_EQ(second->get_export("1"), 0u);
    EXPECT_EQ(second->get_entry_point(), 0u);
    EXPECT_FALSE(second->unload());
}

TEST(MemoryModule, UnloadKeepsTheImageWhenItsHeadersNoLongerRead) {
    TestSeams t;
    answer(t.caller, 1);
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(basic_library().build()));
    std::uint8_t* mapped = host_pointer(module.get_module_base());
    mapped[0] = 'X';
    t.caller.clear();
    EXPECT_FALSE(module.unload());
    EXPECT_NE(module.get_module_base(), 0u);
    EXPECT_EQ(module.get_export("1"), 0u);
    EXPECT_TRUE(t.caller.calls().empty());
    mapped[0] = 'M';
    EXPECT_TRUE(module.unload());
    EXPECT_EQ(t.memory.live(), 0u);
}

// Exports: functions at 0x1000 + 0x10 * index, index 2 empty, ordinal base 5.
PeImage export_library(testing::ExportTableSpec spec) {
    PeImage pe = basic_library();
    add_table(pe, 0, build_exports(table_rva, spec));
    return pe;
}

testing::ExportTableSpec five_functions() {
    testing::ExportTableSpec spec;
    spec.ordinal_base = 5;
    spec.functions = {0x1000, 0x1010, 0, 0x1030, 0x1040};
    spec.names = {{"Alpha", 0}, {"07", 1}, {"Empty", 2}, {"beta", 3}, {"Beta", 4}};
    return spec;
}

TEST(MemoryModule, ExportsByNameAndByOrdinal) {
    TestSeams t;
    answer(t.caller, 1);
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(export_library(five_functions()).build()));
    const Address base = module.get_module_base();
    struct Case {
        const char* name;
        std::uint32_t rva; // 0: not found
    };
    const Case cases[] = {
        {"Alpha", 0x1000}, {"beta", 0x1030}, {"Beta", 0x1040},  {"BETA", 0},   {"Alph", 0},  {"", 0},
        {"5", 0x1000},     {"6", 0x1010},    {"8", 0x1030},     {"9", 0x1040}, {"4", 0},     {"10", 0},
        {"0", 0},          {"-1", 0},        {"07", 0x1010},    {"7", 0},      {"Empty", 0}, {" 6", 0},
        {"+6", 0},         {"06", 0},        {"2147483653", 0}, {"6 ", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(module.get_export(c.name), c.rva == 0 ? 0 : base + c.rva) << '"' << c.name << '"';
}

TEST(MemoryModule, ExportNamesAreReadOneAfterAnotherFromTheFirstPointer) {
    TestSeams t;
    answer(t.caller, 1);
    auto spec = five_functions();
    spec.scramble_later_name_pointers = true;
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(export_library(spec).build()));
    EXPECT_EQ(module.get_export("Beta"), module.get_module_base() + 0x1040);
}

TEST(MemoryModule, ExportTablesOutsideTheImageFindNothing) {
    struct Case {
        const char* what;
        std::function<void(testing::ExportTableSpec&)> change;
        const char* name;
    };
    const std::vector<Case> cases = {
        {"function count beyond the table", [](auto& s) { s.function_count = 0x40000000; }, "2147483646"},
        {"name count beyond the names", [](auto& s) { s.name_count = 0xFFFFFFFF; }, "Missing"},
        {"function outside the image", [](auto& s) { s.functions[0] = 0x00FF0000; }, "Alpha"},
        {"name index past the functions", [](auto& s) { s.names[0].second = 9; }, "Alpha"},
    };
    for (const auto& c : cases) {
        TestSeams t;
        answer(t.caller, 1);
        auto spec = five_functions();
        c.change(spec);
        MemoryModule module(t.seams());
        ASSERT_TRUE(module.load(export_library(spec).build())) << c.what;
        EXPECT_EQ(module.get_export(c.name), 0u) << c.what;
    }
    // The directory itself outside the image.
    TestSeams t;
    answer(t.caller, 1);
    PeImage pe = basic_library();
    pe.directories[0] = {0x7FFFFFF0, 40};
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(pe.build()));
    EXPECT_EQ(module.get_export("Alpha"), 0u);
    EXPECT_EQ(module.get_export("1"), 0u);
}

TEST(MemoryModule, ForwardedExportComesBackAsItsOwnAddress) {
    TestSeams t;
    answer(t.caller, 1);
    auto spec = five_functions();
    spec.functions[0] = table_rva + 0x20; // inside the export directory's own bytes
    MemoryModule module(t.seams());
    ASSERT_TRUE(module.load(export_library(spec).build()));
    EXPECT_EQ(module.get_export("Alpha"), module.get_module_base() + table_rva + 0x20);
}

// Images the loader refuses before or after allocating, leaving nothing allocated and calling nothing.
TEST(MemoryModule, MalformedImagesAreRefused) {
    struct Case {
        const char* what;
        std::function<void(PeImage&)> change;
        std::function<void(std::vector<std::uint8_t>&)> edit_bytes;
    };
    const auto truncate_to = [](std::size_t n) { return [n](std::vector<std::uint8_t>& b) { b.resize(n); }; };
    const std::vector<Case> cases = {
        {"empty", {}, truncate_to(0)},
        {"63 bytes", {}, truncate_to(63)},
        {"no MZ", {}, [](auto& b) { b[1] = 'Y'; }},
        {"NT headers past the end",
         {},
         [](auto& b) {
             b[60] = 0xF0;
             b[61] = 0xFF;
         }},
        {"NT headers cut short", {}, truncate_to(0x80 + 247)},
        {"wrong signature", [](PeImage& p) { p.signature = 0x00004550 | 0x01000000; }, {}},
        {"NE signature", [](PeImage& p) { p.signature = 0x454E; }, {}},
        {"not executable", [](PeImage& p) { p.characteristics = bits::library | bits::machine_32bit; }, {}},
        {"section table cut short", [](PeImage& p) { p.section_count = 60; }, {}},
        {"computed size 0",
         [](PeImage& p) {
             p.sections.clear();
             p.size_of_image = 0;
             p.entry_point = 0;
             p.characteristics = bits::executable;
         },
         {}},
        {"section alignment 0", [](PeImage& p) { p.section_alignment = 0; }, {}},
        {"section size overflows",
         [](PeImage& p) {
             p.sections[1].rva = 0xFFFFF000;
             p.sections[1].virtual_size = 0x2000;
         },
         {}},
        {"alignment overflows",
         [](PeImage& p) {
             p.section_alignment = 0x80000000;
             p.sections[1].rva = 0x80000001;
         },
         {}},
        {"raw data past the end", {}, [](auto& b) { b.pop_back(); }},
        {"raw data far past the end",
         [](PeImage& p) {
             p.sections.push_back(PeSection{0x3000, 0x10, {}, 0x100000, 0x10, ".far"});
         },
         {}},
        {"raw size past the end", [](PeImage& p) { p.sections[0].raw_size = 0x7FFFFFFF; }, {}},
        {"section over the headers", [](PeImage& p) { p.sections[0].rva = 0x40; }, {}},
        {"library entry point 0", [](PeImage& p) { p.entry_point = 0; }, {}},
        {"library entry point outside", [](PeImage& p) { p.entry_point = 0x00F00000; }, {}},
        {"relocation block below 8 bytes",
         [](PeImage& p) {
             add_table(p, 5, build_relocations({RelocationBlock{data_rva, {}, 4}}));
         },
         {}},
        {"relocation block past the image",
         [](PeImage& p) {
             add_table(p, 5, build_relocations({RelocationBlock{data_rva, {highlow(0)}, 0x10000}}));
         },
         {}},
        {"relocation target past the image",
         [](PeImage& p) {
             add_table(p, 5, build_relocations({RelocationBlock{0x3FFE, {highlow(0xFFE)}}}));
         },
         {}},
        {"relocation directory outside",
         [](PeImage& p) {
             p.directories[5] = {0x7FFFFFF8, 8};
         },
         {}},
        {"import descriptor outside",
         [](PeImage& p) {
             p.directories[1] = {0x7FFFFFF8, 20};
         },
         {}},
        {"import library name outside",
         [](PeImage& p) {
             auto imports = build_imports(table_rva, {{"kernel32.dll", {std::string("Sleep")}}});
             testing::Blob b{imports.bytes};
             b.u32(12, 0x7FFF0000);
             add_table(p, 1, b.bytes);
         },
         {}},
        {"import address table outside",
         [](PeImage& p) {
             auto imports = build_imports(table_rva, {{"kernel32.dll", {std::string("Sleep")}}});
             testing::Blob b{imports.bytes};
             b.u32(16, 0x7FFF0000);
             add_table(p, 1, b.bytes);
         },
         {}},
        {"import name outside",
         [](PeImage& p) {
             auto imports = build_imports(table_rva, {{"kernel32.dll", {std::string("Sleep")}}});
             testing::Blob b{imports.bytes};
             b.u32(imports.slots[0][0] - table_rva, 0x7FFF0000);
             add_table(p, 1, b.bytes);
         },
         {}},
        {"import descriptors up to the image's end",
         [](PeImage& p) {
             testing::Blob b; // every descriptor names one library with an empty address table
             b.text(0xFF0, "k.dll");
             b.u32(0xFFC, 0);
             for (std::uint32_t d = 0; d + 20 <= 0xFF0; d += 20) {
                 b.u32(d + 12, table_rva + 0xFF0);
                 b.u32(d + 16, table_rva + 0xFFC);
             }
             add_table(p, 1, b.bytes);
         },
         {}},
    };
    for (const auto& c : cases) {
        TestSeams t;
        answer(t.caller, 1);
        t.libraries.add("kernel32.dll", "Sleep", 0x7100'0020);
        PeImage pe = basic_library();
        if (c.change)
            c.change(pe);
        auto bytes = pe.build();
        if (c.edit_bytes)
            c.edit_bytes(bytes);
        MemoryModule module(t.seams());
        EXPECT_FALSE(module.load(bytes)) << c.what;
        EXPECT_EQ(module.get_module_base(), 0u) << c.what;
        EXPECT_EQ(t.memory.live(), 0u) << c.what;
        EXPECT_TRUE(t.caller.calls().empty()) << c.what;
    }
}

TEST(MemoryModule, RelocationIntoTheHeadersIsRefused) {
    // Adjusting e_lfanew would leave an image that can neither be searched nor released.
    TestSeams t;
    answer(t.caller, 1);
    t.memory.refuse_preferred = true;
    PeImage pe = basic_library();
    add_table(pe, 5, build_relocations({RelocationBlock{0x10, {highlow(0x2C)}}}));
    MemoryModule module(t.seams());
    EXPECT_FALSE(module.load(pe.build()));
    EXPECT_EQ(t.memory.live(), 0u);
    EXPECT_TRUE(t.caller.calls().empty());
}

TEST(MemoryModule, NoMemoryAnywhereFails) {
    TestSeams t;
    answer(t.caller, 1);
    t.memory.refuse_preferred = true;
    t.memory.refuse_anywhere = true;
    MemoryModule module(t.seams());
    EXPECT_FALSE(module.load(basic_library().build()));
    EXPECT_EQ(t.memory.requested_sizes.size(), 2u) << "asked at the preferred base, then anywhere";
    EXPECT_TRUE(t.caller.calls().empty());
}

TEST(MemoryModule, CallAddressNeverCallsThroughZeroOrWithTooManyArguments) {
    EXPECT_EQ(call_address(0, {1, 2, 3}), 0u);
    const std::vector<std::uint32_t> eleven(11, 1);
    EXPECT_EQ(call_address(0x1000, eleven), 0u);
}

TEST(MemoryModule, ConstantAddressIsA32BitAddressOfTheSameBytes) {
    static const std::uint8_t bytes[] = {'.', 'S', 'H', 'E', 1, 2, 3};
    const Address address = constant_address(bytes);
    ASSERT_NE(address, 0u);
    EXPECT_EQ(std::memcmp(host_pointer(address), bytes, sizeof bytes), 0);
    EXPECT_EQ(constant_address(bytes), address) << "made once";
}

} // namespace
} // namespace vestrel
