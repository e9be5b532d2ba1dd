#include "web/encodings.h"

#include "web/code_page.h"

namespace vestrel {

namespace {

std::u16string_view up_to_zero(std::u16string_view units) {
    auto zero = units.find(u'\0');
    return zero == std::u16string_view::npos ? units : units.substr(0, zero);
}

} // namespace

std::u16string gbk_to_utf16(std::string_view gbk, bool drop_terminator) {
    if (gbk.empty())
        return {};
    std::u16string units = code_page_to_utf16(gbk, code_page_gbk);
    if (!drop_terminator)
        units.push_back(u'\0');
    return units;
}

std::string utf16_to_gbk(std::u16string_view units) {
    return utf16_to_code_page(up_to_zero(units), code_page_gbk, true);
}

std::u16string multibyte_to_utf16(std::string_view text, unsigned code_page) {
    if (text.empty())
        return {};
    std::u16string units = code_page_to_utf16(text, code_page);
    units.push_back(u'\0');
    return units;
}

std::string utf16_to_multibyte(std::u16string_view units, unsigned code_page) {
    return utf16_to_code_page(up_to_zero(units), code_page);
}

std::string gbk_to_utf8(std::string_view gbk) {
    return utf16_to_multibyte(multibyte_to_utf16(gbk, code_page_gbk), code_page_utf8);
}

std::string utf8_to_gbk(std::string_view utf8) {
    return utf16_to_multibyte(multibyte_to_utf16(utf8, code_page_utf8), code_page_gbk);
}

std::string url_encode(std::string_view text, bool keep_safe, bool as_utf8) {
    if (text.empty())
        return {};
    std::string gbk;
    if (!as_utf8) {
        gbk = utf8_to_gbk(text);
        text = gbk;
    }
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        bool safe = c == '-' || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                    (c >= 'a' && c <= 'z');
        if (keep_safe && safe) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
    }
    return out;
}

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string url_decode(std::string_view text, bool from_utf8) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            int high = i + 1 < text.size() ? hex_value(text[i + 1]) : -1;
            int low = i + 2 < text.size() ? hex_value(text[i + 2]) : -1;
            if (high >= 0 && low >= 0) {
                // A text holds no zero byte: %00 appends nothing.
                if (high != 0 || low != 0)
                    bytes.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        bytes.push_back(c);
    }
    return from_utf8 ? bytes : gbk_to_utf8(bytes);
}

unsigned charset_code_page(std::string_view charset) {
    std::string name;
    for (char c : charset) {
        if (c != ' ' && c != '\t')
            name.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    struct Alias {
        const char* name;
        unsigned code_page;
    };
    // Names as pages declare them (WHATWG encoding labels, the common ones), to Windows code pages.
    static constexpr Alias aliases[] = {
        {"utf-8", 65001},       {"utf8", 65001},        {"unicode-1-1-utf-8", 65001},
        {"gbk", 936},           {"gb2312", 936},        {"cp936", 936},
        {"x-gbk", 936},         {"gb_2312-80", 936},    {"chinese", 936},
        {"gb18030", 54936},     {"big5", 950},          {"big5-hkscs", 950},
        {"cp950", 950},         {"x-x-big5", 950},      {"shift_jis", 932},
        {"shift-jis", 932},     {"sjis", 932},          {"x-sjis", 932},
        {"ms_kanji", 932},      {"windows-31j", 932},   {"cp932", 932},
        {"euc-jp", 20932},      {"euc-kr", 51949},      {"ks_c_5601-1987", 949},
        {"windows-949", 949},   {"cp949", 949},         {"windows-874", 874},
        {"tis-620", 874},       {"windows-1250", 1250}, {"windows-1251", 1251},
        {"windows-1252", 1252}, {"cp1252", 1252},       {"windows-1253", 1253},
        {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},
        {"windows-1257", 1257}, {"windows-1258", 1258}, {"us-ascii", 20127},
        {"ascii", 20127},       {"koi8-r", 20866},      {"koi8-u", 21866},
        {"iso-8859-1", 28591},  {"iso8859-1", 28591},   {"latin1", 28591},
        {"l1", 28591},          {"iso-8859-2", 28592},  {"iso-8859-3", 28593},
        {"iso-8859-4", 28594},  {"iso-8859-5", 28595},  {"iso-8859-6", 28596},
        {"iso-8859-7", 28597},  {"iso-8859-8", 28598},  {"iso-8859-9", 28599},
        {"iso-8859-13", 28603}, {"iso-8859-15", 28605},
    };
    for (const Alias& a : aliases) {
        if (name == a.name)
            return a.code_page;
    }
    return 0;
}

} // namespace vestrel
