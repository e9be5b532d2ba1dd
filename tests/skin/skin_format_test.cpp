// The ".SHE" skin format: its reader (the one the engine library runs) against the writer and against damaged
// files, and the two skins built into the program.

#include "assets/constant_data.h"
#include "skin/skin_file.h"

#include <gtest/gtest.h>

#include <functional>

namespace vestrel::skin {
namespace {

SkinDescription sample() {
    SkinDescription s;
    s.name = "Sample";
    for (std::uint32_t i = 0; i < colour_count; ++i)
        s.colours[i] = rgb(static_cast<std::uint8_t>(10 * i), static_cast<std::uint8_t>(20 + i), 0x80);
    s.font_height = -15;
    s.font_weight = 700;
    s.font_italic = true;
    s.font_face = u"Verdana";
    s.band_height = 5;
    return s;
}

std::vector<std::uint8_t> u32le(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

SkinChunk colours_chunk(std::uint32_t count = colour_count) {
    SkinChunk c{colours_tag, {}};
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto w = u32le(rgb(1, 2, static_cast<std::uint8_t>(i)));
        c.data.insert(c.data.end(), w.begin(), w.end());
    }
    return c;
}

SkinChunk font_chunk(std::int32_t height = -12, std::uint16_t weight = 400, std::u16string face = u"Tahoma",
                     std::uint8_t italic = 0) {
    SkinChunk c{font_tag, u32le(static_cast<std::uint32_t>(height))};
    c.data.push_back(static_cast<std::uint8_t>(weight));
    c.data.push_back(static_cast<std::uint8_t>(weight >> 8));
    c.data.push_back(italic);
    c.data.push_back(0);
    for (const char16_t u : face) {
        c.data.push_back(static_cast<std::uint8_t>(u));
        c.data.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return c;
}

SkinResult read(const std::vector<std::uint8_t>& file, SkinTheme& theme) {
    return read_skin(file.data(), static_cast<std::uint32_t>(file.size()), theme);
}

TEST(SkinFormat, WriterAndReaderAgree) {
    const SkinDescription s = sample();
    const auto file = encode_skin(s);
    SkinTheme theme{};
    ASSERT_EQ(read(file, theme), skin_attached);
    for (std::uint32_t i = 0; i < colour_count; ++i)
        EXPECT_EQ(theme.colours[i], s.colours[i]) << "colour " << i;
    EXPECT_EQ(theme.font_height, -15);
    EXPECT_EQ(theme.font_weight, 700);
    EXPECT_EQ(theme.font_italic, 1);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(theme.font_face)), u"Verdana");
    EXPECT_EQ(theme.band_height, 5u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), ".SHE");
}

TEST(SkinFormat, UnknownChunksAreSkippedAndExtraColoursAllowed) {
    SkinTheme theme{};
    const auto file =
        assemble_skin({SkinChunk{tag('X', 'T', 'R', 'A'), {1, 2, 3}}, colours_chunk(colour_count + 3),
                       font_chunk(), SkinChunk{name_tag, {'n'}}});
    EXPECT_EQ(read(file, theme), skin_attached);
    EXPECT_EQ(theme.band_height, 0u);
}

TEST(SkinFormat, DamagedFilesAreRefusedWithTheirReasonAndLeaveTheThemeAlone) {
    const auto good = [] { return assemble_skin({colours_chunk(), font_chunk()}); };
    struct Case {
        const char* what;
        std::function<std::vector<std::uint8_t>()> make;
        SkinResult expected;
    };
    const std::vector<Case> cases = {
        {"empty", [] { return std::vector<std::uint8_t>{}; }, skin_no_data},
        {"short",
         [&] {
             auto f = good();
             f.resize(15);
             return f;
         },
         skin_too_short},
        {"wrong magic",
         [&] {
             auto f = good();
             f[1] = 's';
             reseal_skin(f);
             return f;
         },
         skin_bad_magic},
        {"other version",
         [&] {
             auto f = good();
             f[4] = 2;
             reseal_skin(f);
             return f;
         },
         skin_bad_version},
        {"length field larger",
         [&] {
             auto f = good();
             f[8] += 4;
             return f;
         },
         skin_bad_length},
        {"file cut short",
         [&] {
             auto f = good();
             f.resize(f.size() - 4);
             return f;
         },
         skin_bad_length},
        {"checksum",
         [&] {
             auto f = good();
             f[20] ^= 1;
             return f;
         },
         skin_bad_checksum},
        {"chunk count too high",
         [&] {
             auto f = good();
             f[6] = 3;
             reseal_skin(f);
             return f;
         },
         skin_bad_chunk},
        {"chunk count too low",
         [&] {
             auto f = good();
             f[6] = 1;
             reseal_skin(f);
             return f;
         },
         skin_bad_chunk},
        {"chunk past the end",
         [&] {
             auto f = good();
             f[20] = 0xF0;
             reseal_skin(f);
             return f;
         },
         skin_bad_chunk},
        {"huge chunk length",
         [&] {
             auto f = good();
             f[20] = f[21] = f[22] = f[23] = 0xFF;
             reseal_skin(f);
             return f;
         },
         skin_bad_chunk},
        {"no colours", [] { return assemble_skin({font_chunk()}); }, skin_bad_colours},
        {"too few colours",
         [] {
             return assemble_skin({colours_chunk(colour_count - 1), font_chunk()});
         },
         skin_bad_colours},
        {"colour with a high byte",
         [] {
             auto c = colours_chunk();
             c.data[3] = 1;
             return assemble_skin({c, font_chunk()});
         },
         skin_bad_colours},
        {"no font", [] { return assemble_skin({colours_chunk()}); }, skin_bad_font},
        {"font height 0",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(0)});
         },
         skin_bad_font},
        {"font height 500",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(500)});
         },
         skin_bad_font},
        {"font weight 2000",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(-12, 2000)});
         },
         skin_bad_font},
        {"font italic 2",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(-12, 400, u"Tahoma", 2)});
         },
         skin_bad_font},
        {"font without face",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(-12, 400, u"")});
         },
         skin_bad_font},
        {"face of 32 units",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(-12, 400, std::u16string(32, u'A'))});
         },
         skin_bad_font},
        {"face with a zero unit",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(-12, 400, std::u16string(u"Ta\0ma", 5))});
         },
         skin_bad_font},
        {"band too high",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(), SkinChunk{band_tag, u32le(65)}});
         },
         skin_bad_band},
        {"band of 2 bytes",
         [] {
             return assemble_skin({colours_chunk(), font_chunk(), SkinChunk{band_tag, {1, 0}}});
         },
         skin_bad_band},
    };
    for (const auto& c : cases) {
        SkinTheme theme{};
        theme.colours[0] = 0x123456;
        const auto file = c.make();
        EXPECT_EQ(read(file, theme), c.expected) << c.what;
        EXPECT_EQ(theme.colours[0], 0x123456u) << c.what;
    }
    SkinTheme theme{};
    EXPECT_EQ(read_skin(nullptr, 100, theme), skin_no_data);
    // A face of 31 units is the longest that fits.
    EXPECT_EQ(read(assemble_skin({colours_chunk(), font_chunk(-12, 400, std::u16string(31, u'A'))}), theme),
              skin_attached);
}

TEST(SkinFormat, TheProgramsSkinsRead) {
    for (const auto& [name, block] : {std::pair{"login_skin", assets::login_skin()},
                                      std::pair{"donation_skin", assets::donation_skin()}}) {
        SkinTheme theme{};
        ASSERT_GE(block.size(), 4u) << name;
        EXPECT_EQ(std::string(block.begin(), block.begin() + 4), ".SHE") << name;
        EXPECT_EQ(read_skin(block.data(), static_cast<std::uint32_t>(block.size()), theme), skin_attached)
            << name;
        EXPECT_NE(theme.colours[window_background], theme.colours[window_text]) << name;
    }
    SkinTheme login{}, donation{};
    read_skin(assets::login_skin().data(), static_cast<std::uint32_t>(assets::login_skin().size()), login);
    read_skin(assets::donation_skin().data(), static_cast<std::uint32_t>(assets::donation_skin().size()),
              donation);
    EXPECT_NE(login.colours[window_background], donation.colours[window_background]);
}

TEST(SkinFormat, TheSkinLibraryImageIsALibraryWhereOneIsBuilt) {
    const auto image = assets::skin_library_image();
#ifdef _WIN32
    ASSERT_GT(image.size(), 64u);
    EXPECT_EQ(image[0], 'M');
    EXPECT_EQ(image[1], 'Z');
#else
    EXPECT_TRUE(image.empty());
#endif
}

} // namespace
} // namespace vestrel::skin
