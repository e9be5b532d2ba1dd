// UTF-8 checks and decoding shared by the script objects (internal; not part of their interface).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vestrel::utf8 {

// Length in bytes of the well-formed UTF-8 sequence at text[i] (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when the bytes there are not one. On success *code_point is
// the decoded character.
inline std::size_t decode(std::string_view text, std::size_t i, char32_t* code_point) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        *code_point = b0;
        return 1;
    }
    std::size_t length;
    char32_t cp;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    *code_point = cp;
    return length;
}

inline bool is_valid(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        // ASCII runs are the common case in every text the program reads.
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        char32_t cp;
        const std::size_t n = decode(text, i, &cp);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

} // namespace vestrel::utf8
