#include "skin/skin_file.h"

namespace vestrel::skin {

namespace {

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put_u16(out, static_cast<std::uint16_t>(v));
    put_u16(out, static_cast<std::uint16_t>(v >> 16));
}

void set_u32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

std::vector<std::uint8_t> assemble_skin(const std::vector<SkinChunk>& chunks) {
    std::vector<std::uint8_t> out;
    put_u32(out, magic);
    put_u16(out, format_version);
    put_u16(out, static_cast<std::uint16_t>(chunks.size()));
    put_u32(out, 0); // length and checksum, sealed below
    put_u32(out, 0);
    for (const auto& chunk : chunks) {
        put_u32(out, chunk.tag);
        put_u32(out, static_cast<std::uint32_t>(chunk.data.size()));
        out.insert(out.end(), chunk.data.begin(), chunk.data.end());
        while (out.size() % 4 != 0)
            out.push_back(0);
    }
    reseal_skin(out);
    return out;
}

void reseal_skin(std::vector<std::uint8_t>& file) {
    if (file.size() < header_size)
        return;
    set_u32(file, 8, static_cast<std::uint32_t>(file.size()));
    set_u32(file, 12,
            fnv1a(file.data() + header_size, static_cast<std::uint32_t>(file.size() - header_size)));
}

std::vector<std::uint8_t> encode_skin(const SkinDescription& skin) {
    std::vector<SkinChunk> chunks;
    SkinChunk colours{colours_tag, {}};
    for (const auto colour : skin.colours)
        put_u32(colours.data, colour);
    chunks.push_back(colours);
    SkinChunk font{font_tag, {}};
    put_u32(font.data, static_cast<std::uint32_t>(skin.font_height));
    put_u16(font.data, skin.font_weight);
    font.data.push_back(skin.font_italic ? 1 : 0);
    font.data.push_back(0);
    for (const char16_t unit : skin.font_face)
        put_u16(font.data, static_cast<std::uint16_t>(unit));
    chunks.push_back(font);
    if (skin.band_height != 0) {
        SkinChunk band{band_tag, {}};
        put_u32(band.data, skin.band_height);
        chunks.push_back(band);
    }
    if (!skin.name.empty())
        chunks.push_back(SkinChunk{name_tag, std::vector<std::uint8_t>(skin.name.begin(), skin.name.end())});
    return assemble_skin(chunks);
}

} // namespace vestrel::skin
