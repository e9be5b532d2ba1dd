#pragma once
// The ".SHE" skin file format of the skin engine, and its reader. Freestanding: the engine library is built
// without a C runtime, so this header uses nothing but fixed-width integers.
//
// Layout, little-endian:
//   header, 16 bytes: magic ".SHE" | u16 version (1) | u16 chunk count | u32 file length |
//                     u32 FNV-1a (32-bit) of every byte after the header
//   chunks, one after another up to the file's end: u32 tag | u32 data length | data | zero padding to 4
//     "COLR" (required): u32 colours 0x00BBGGRR, one per ColourRole in order; more are allowed
//     "FONT" (required): i32 height (as a LOGFONT height) | u16 weight | u8 italic | u8 0 |
//                        face name in UTF-16LE, 1 to 31 code units, up to the chunk's end
//     "BAND" (optional): u32 height in pixels of the accent band along a top-level window's top (0..64)
//     "NAME" (optional): the skin's name in UTF-8
//   chunks with other tags are skipped.

#include <stdint.h>

namespace vestrel::skin {

// The engine's answers to SkinH_AttachRes.
enum SkinResult : uint32_t {
    skin_attached = 0,
    skin_no_data = 1,   // a null address or a length of 0
    skin_too_short = 2, // shorter than the header
    skin_bad_magic = 3, // not ".SHE"
    skin_bad_version = 4,
    skin_bad_length = 5, // the length in the header is not the length given
    skin_bad_checksum = 6,
    skin_bad_chunk = 7,   // a chunk runs past the end, or the chunks and their count disagree
    skin_bad_colours = 8, // no "COLR", or fewer colours than the roles
    skin_bad_font = 9,    // no "FONT", or its values are out of range
    skin_bad_band = 10,
    skin_system_refused = 11, // the system gave no brush, font or hook
};

enum ColourRole : uint32_t {
    window_background,
    window_text,
    button_face,
    button_text,
    button_border,
    button_pressed,
    edit_background,
    edit_text,
    accent,
    colour_count
};

constexpr uint32_t header_size = 16;
constexpr uint16_t format_version = 1;
constexpr uint32_t face_capacity = 32; // LF_FACESIZE, terminator included
constexpr uint32_t max_band_height = 64;

constexpr uint32_t tag(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
constexpr uint32_t magic = tag('.', 'S', 'H', 'E');
constexpr uint32_t colours_tag = tag('C', 'O', 'L', 'R');
constexpr uint32_t font_tag = tag('F', 'O', 'N', 'T');
constexpr uint32_t band_tag = tag('B', 'A', 'N', 'D');
constexpr uint32_t name_tag = tag('N', 'A', 'M', 'E');

struct SkinTheme {
    uint32_t colours[colour_count];
    int32_t font_height;
    uint16_t font_weight;
    uint8_t font_italic;
    uint16_t font_face[face_capacity]; // zero-terminated
    uint32_t band_height;
};

inline uint32_t read_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t read_u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t fnv1a(const uint8_t* data, uint32_t length) {
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < length; ++i) {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}

inline uint32_t padded(uint32_t length) {
    return (length + 3u) & ~3u;
}

// Reads a skin file. out is written only when the answer is skin_attached.
inline SkinResult read_skin(const uint8_t* data, uint32_t length, SkinTheme& out) {
    if (data == nullptr || length == 0)
        return skin_no_data;
    if (length < header_size)
        return skin_too_short;
    if (read_u32(data) != magic)
        return skin_bad_magic;
    if (read_u16(data + 4) != format_version)
        return skin_bad_version;
    if (read_u32(data + 8) != length)
        return skin_bad_length;
    if (read_u32(data + 12) != fnv1a(data + header_size, length - header_size))
        return skin_bad_checksum;

    SkinTheme theme;
    bool have_colours = false;
    bool have_font = false;
    theme.band_height = 0;
    const uint32_t chunk_count = read_u16(data + 6);
    uint32_t at = header_size;
    for (uint32_t chunk = 0; chunk < chunk_count; ++chunk) {
        if (length - at < 8)
            return skin_bad_chunk;
        const uint32_t chunk_tag = read_u32(data + at);
        const uint32_t size = read_u32(data + at + 4);
        at += 8;
        if (size > length - at || padded(size) > length - at)
            return skin_bad_chunk;
        const uint8_t* body = data + at;
        if (chunk_tag == colours_tag) {
            if (size % 4 != 0 || size / 4 < colour_count)
                return skin_bad_colours;
            for (uint32_t i = 0; i < colour_count; ++i) {
                theme.colours[i] = read_u32(body + 4 * i);
                if (theme.colours[i] > 0x00FFFFFFu)
                    return skin_bad_colours;
            }
            have_colours = true;
        } else if (chunk_tag == font_tag) {
            if (size < 10 || size % 2 != 0 || (size - 8) / 2 >= face_capacity)
                return skin_bad_font;
            theme.font_height = static_cast<int32_t>(read_u32(body));
            theme.font_weight = read_u16(body + 4);
            theme.font_italic = body[6];
            if (theme.font_height == 0 || theme.font_height < -200 || theme.font_height > 200 ||
                theme.font_weight > 1000 || theme.font_italic > 1)
                return skin_bad_font;
            const uint32_t units = (size - 8) / 2;
            for (uint32_t i = 0; i < face_capacity; ++i)
                theme.font_face[i] = i < units ? read_u16(body + 8 + 2 * i) : 0;
            for (uint32_t i = 0; i < units; ++i) {
                if (theme.font_face[i] == 0)
                    return skin_bad_font;
            }
            have_font = true;
        } else if (chunk_tag == band_tag) {
            if (size != 4 || read_u32(body) > max_band_height)
                return skin_bad_band;
            theme.band_height = read_u32(body);
        }
        at += padded(size);
    }
    if (at != length)
        return skin_bad_chunk;
    if (!have_colours)
        return skin_bad_colours;
    if (!have_font)
        return skin_bad_font;
    out = theme;
    return skin_attached;
}

} // namespace vestrel::skin
