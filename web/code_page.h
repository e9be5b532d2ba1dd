#pragma once
// Code-page conversions, the one platform edge of the text encodings: iconv on Linux,
// MultiByteToWideChar / WideCharToMultiByte on Windows. Code pages are Windows code page numbers.

#include <string>
#include <string_view>

namespace vestrel {

inline constexpr unsigned code_page_working = 0; // the program's own encoding: UTF-8
inline constexpr unsigned code_page_gbk = 936;
inline constexpr unsigned code_page_utf8 = 65001;

// Text in `code_page` to UTF-16 code units, as MultiByteToWideChar with flags 0 gives them: what cannot be
// read becomes U+FFFD (UTF-8) or the code page's default. No terminator is added. Code page 0 is UTF-8.
std::u16string code_page_to_utf16(std::string_view bytes, unsigned code_page);

// UTF-16 code units to text in `code_page`, as WideCharToMultiByte gives it: a character the code page
// cannot hold becomes its default character ("?"). Code page 0 is UTF-8. `composite_check` asks Windows to
// fold a base letter and a combining mark into one precomposed character first (WC_COMPOSITECHECK); iconv
// has no such step, so on Linux it changes nothing.
std::string utf16_to_code_page(std::u16string_view units, unsigned code_page, bool composite_check = false);

// Whether this platform can convert `code_page` at all.
bool code_page_supported(unsigned code_page);

// The Windows code page of a charset name as pages declare it ("gbk", "Big5", "shift_jis", "iso-8859-1",
// "windows-1252", "utf-8", ...), compared without case; 0 when the name is unknown.
unsigned charset_code_page(std::string_view charset);

} // namespace vestrel
