// attach_skin over a synthetic library that exports SkinH_AttachRes, with a recording caller.

#include "app/skin_attachment.h"
#include "assets/constant_data.h"
#include "loader/pe_writer.h"
#include "loader/test_seams.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vestrel {
namespace {

using testing::PeImage;
using testing::PeSection;
using Call = RecordingCaller::Call;

constexpr std::uint32_t attach_rva = 0x1010;

std::vector<std::uint8_t> engine_image(const std::string& export_name) {
    PeImage pe;
    pe.entry_point = 0x1000;
    pe.sections.push_back(PeSection{0x1000, 0x40, std::vector<std::uint8_t>(0x40, 0xC3), {}, {}, ".text"});
    testing::ExportTableSpec exports;
    exports.functions = {attach_rva};
    exports.names = {{export_name, 0}};
    auto table = testing::build_exports(0x2000, exports);
    const auto size = static_cast<std::uint32_t>(table.size());
    pe.sections.push_back(PeSection{0x2000, size, std::move(table), {}, {}, ".edata"});
    pe.directories[0] = {0x2000, size};
    return pe.build();
}

struct Engine {
    testing::TestSeams t;
    MemoryModule library{t.seams()};
    std::vector<std::vector<std::uint8_t>> skins_seen;
    std::vector<std::string> passwords_seen;

    explicit Engine(const std::string& export_name = "SkinH_AttachRes") {
        t.caller.respond([this](const Call& c) -> std::uint32_t {
            if (c.arguments.size() != 6)
                return 1; // the library's entry point
            const std::uint8_t* skin = host_pointer(c.arguments[0]);
            skins_seen.emplace_back(skin, skin + c.arguments[1]);
            passwords_seen.push_back(
                c.arguments[2] == 0 ? "<null>" : reinterpret_cast<const char*>(host_pointer(c.arguments[2])));
            return 0x1234;
        });
        EXPECT_TRUE(library.load(engine_image(export_name)));
        t.caller.clear();
    }
    std::vector<Call> attach_calls() const {
        std::vector<Call> out;
        for (const auto& c : t.caller.calls())
            if (c.arguments.size() == 6)
                out.push_back(c);
        return out;
    }
};

TEST(AttachSkin, CallsTheExportWithTheSkinAndANullPassword) {
    Engine engine;
    const auto skin = assets::login_skin();
    EXPECT_EQ(attach_skin(engine.library, skin, "", 0, 0, 0), 0x1234);
    const auto calls = engine.attach_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].address, engine.library.get_module_base() + attach_rva);
    EXPECT_EQ(calls[0].arguments[1], skin.size());
    EXPECT_EQ(calls[0].arguments[2], 0u) << "an empty password goes over as a null address";
    EXPECT_EQ(calls[0].arguments[3], 0u);
    EXPECT_EQ(calls[0].arguments[4], 0u);
    EXPECT_EQ(calls[0].arguments[5], 0u);
    ASSERT_EQ(engine.skins_seen.size(), 1u);
    EXPECT_EQ(engine.skins_seen[0], std::vector<std::uint8_t>(skin.begin(), skin.end()));
}

TEST(AttachSkin, EveryAttachIsOneCallAndTheSkinAddressStaysTheSame) {
    // The donation window opened twice: donation_skin attached twice, one call each, nothing in between.
    Engine engine;
    attach_skin(engine.library, assets::login_skin(), "", 0, 0, 0);
    attach_skin(engine.library, assets::donation_skin(), "", 0, 0, 0);
    attach_skin(engine.library, assets::donation_skin(), "", 0, 0, 0);
    const auto calls = engine.attach_calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(engine.t.caller.calls().size(), 3u) << "no detach, no other export";
    EXPECT_EQ(calls[1].arguments[0], calls[2].arguments[0]) << "the engine may keep the address";
    EXPECT_NE(calls[0].arguments[0], calls[1].arguments[0]);
    EXPECT_EQ(engine.skins_seen[2],
              std::vector<std::uint8_t>(assets::donation_skin().begin(), assets::donation_skin().end()));
}

TEST(AttachSkin, PasswordAndIntegersArePassedThrough) {
    Engine engine;
    EXPECT_EQ(attach_skin(engine.library, assets::login_skin(), "secret", 7, -1, 3), 0x1234);
    const auto calls = engine.attach_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(engine.passwords_seen, std::vector<std::string>{"secret"});
    EXPECT_EQ(calls[0].arguments[3], 7u);
    EXPECT_EQ(calls[0].arguments[4], 0xFFFFFFFFu);
    EXPECT_EQ(calls[0].arguments[5], 3u);
    EXPECT_EQ(engine.t.memory.live(), 1u) << "a password copy lives for the call only";
}

TEST(AttachSkin, NothingIsCalledWithoutTheLibraryOrItsExport) {
    testing::TestSeams t;
    MemoryModule unmapped(t.seams());
    EXPECT_EQ(attach_skin(unmapped, assets::login_skin(), "", 0, 0, 0), 0);
    EXPECT_TRUE(t.caller.calls().empty());

    Engine other("SkinH_Attach");
    EXPECT_EQ(attach_skin(other.library, assets::login_skin(), "", 0, 0, 0), 0);
    EXPECT_TRUE(other.t.caller.calls().empty());
}

} // namespace
} // namespace vestrel
