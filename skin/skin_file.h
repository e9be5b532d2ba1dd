#pragma once
// Writes ".SHE" skin files (the format is described in skin_format.h).

#include "skin/skin_format.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vestrel::skin {

// A colour as the engine stores it (a Windows COLORREF, 0x00BBGGRR).
constexpr std::uint32_t rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return std::uint32_t{r} | std::uint32_t{g} << 8 | std::uint32_t{b} << 16;
}

struct SkinDescription {
    std::string name;
    std::array<std::uint32_t, colour_count> colours{};
    std::int32_t font_height = -12;
    std::uint16_t font_weight = 400;
    bool font_italic = false;
    std::u16string font_face = u"Tahoma";
    std::uint32_t band_height = 0;
};

std::vector<std::uint8_t> encode_skin(const SkinDescription& skin);

// A chunk as written, for files a caller assembles itself (tests of the reader).
struct SkinChunk {
    std::uint32_t tag;
    std::vector<std::uint8_t> data;
};
// Header (with its length and checksum computed) and chunks, each padded to 4 bytes.
std::vector<std::uint8_t> assemble_skin(const std::vector<SkinChunk>& chunks);
// Recomputes the length and checksum fields after an edit.
void reseal_skin(std::vector<std::uint8_t>& file);

} // namespace vestrel::skin
