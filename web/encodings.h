#pragma once
// Text and URL encodings. Every text of the program is UTF-8 in a std::string; these functions convert
// where a text crosses into another encoding (UTF-16 for Windows calls, GBK where a caller asks for it) and
// percent-encode texts for URLs and form bodies (RFC 3986 unreserved set, minus "_" and "~").
//
// UTF-16 values are std::u16string. Where a rule says the terminating zero code unit "stays", it is the
// last element of the value (size() counts it), as the byte arrays the Windows calls take.

#include <string>
#include <string_view>

namespace vestrel {

// GBK bytes to UTF-16; the terminating zero unit is kept unless `drop_terminator`. Empty gives empty.
std::u16string gbk_to_utf16(std::string_view gbk, bool drop_terminator = false);

// UTF-16 to GBK bytes, up to the first zero unit; characters outside GBK become "?".
std::string utf16_to_gbk(std::u16string_view units);

// Text in `code_page` (0: UTF-8) to UTF-16, terminator included. Empty gives empty.
std::u16string multibyte_to_utf16(std::string_view text, unsigned code_page = 65001);

// UTF-16 to text in `code_page` (0: UTF-8), up to the first zero unit.
std::string utf16_to_multibyte(std::u16string_view units, unsigned code_page = 0);

// GBK bytes to UTF-8, and back. Invalid UTF-8 reads as U+FFFD, which GBK cannot hold: "?".
std::string gbk_to_utf8(std::string_view gbk);
std::string utf8_to_gbk(std::string_view utf8);

// Percent-encoding. With `as_utf8` the text's own UTF-8 bytes are encoded; without it the text is first
// converted to GBK. With `keep_safe`, "-", ".", digits and ASCII letters stay; every other byte, space
// included, becomes "%XX" with upper-case hex digits. Empty gives empty.
std::string url_encode(std::string_view text, bool keep_safe = false, bool as_utf8 = false);

// Percent-decoding. Hex digits of either case; "+" stays "+"; %00 appends nothing; a "%" not followed by two
// hex digits is copied through. With `from_utf8` the decoded bytes are UTF-8 and stay so; without it they are
// GBK and come back converted to UTF-8.
std::string url_decode(std::string_view text, bool from_utf8 = false);

} // namespace vestrel
