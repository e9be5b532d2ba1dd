// Code pages through glibc's iconv. UTF-8 <-> UTF-16 is done here directly, so that invalid UTF-8 reads
// the way MultiByteToWideChar reads it (each invalid sequence one U+FFFD).
#include "web/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vestrel {

namespace {

const char* iconv_name(unsigned code_page) {
    switch (code_page) {
    case 936:
        return "CP936";
    case 54936:
        return "GB18030";
    case 950:
        return "CP950";
    case 932:
        return "CP932";
    case 949:
        return "CP949";
    case 20932:
        return "EUC-JP";
    case 51949:
        return "EUC-KR";
    case 874:
        return "CP874";
    case 1250:
        return "CP1250";
    case 1251:
        return "CP1251";
    case 1252:
        return "CP1252";
    case 1253:
        return "CP1253";
    case 1254:
        return "CP1254";
    case 1255:
        return "CP1255";
    case 1256:
        return "CP1256";
    case 1257:
        return "CP1257";
    case 1258:
        return "CP1258";
    case 20127:
        return "ASCII";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 28591:
        return "ISO-8859-1";
    case 28592:
        return "ISO-8859-2";
    case 28593:
        return "ISO-8859-3";
    case 28594:
        return "ISO-8859-4";
    case 28595:
        return "ISO-8859-5";
    case 28596:
        return "ISO-8859-6";
    case 28597:
        return "ISO-8859-7";
    case 28598:
        return "ISO-8859-8";
    case 28599:
        return "ISO-8859-9";
    case 28603:
        return "ISO-8859-13";
    case 28605:
        return "ISO-8859-15";
    default:
        return nullptr;
    }
}

// RFC 3629 decoding; an ill-formed sequence (its maximal invalid prefix) becomes one U+FFFD.
std::u16string utf8_to_utf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    std::size_t i = 0;
    auto cont = [&](std::size_t k) {
        return k < in.size() && (static_cast<unsigned char>(in[k]) & 0xC0) == 0x80;
    };
    while (i < in.size()) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        std::size_t need;
        char32_t cp, min;
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1, cp = c & 0x1F, min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2, cp = c & 0x0F, min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3, cp = c & 0x07, min = 0x10000;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        std::size_t k = 1;
        bool ok = true;
        for (; k <= need; ++k) {
            if (!cont(i + k)) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(in[i + k]) & 0x3F);
            // Reject overlong forms, surrogates and values past U+10FFFF as soon as the second byte shows
            // them.
            if (k == 1) {
                unsigned char b = static_cast<unsigned char>(in[i + 1]);
                if ((c == 0xE0 && b < 0xA0) || (c == 0xED && b > 0x9F) || (c == 0xF0 && b < 0x90) ||
                    (c == 0xF4 && b > 0x8F)) {
                    ok = false;
                    break;
                }
            }
        }
        if (!ok || cp < min) {
            out.push_back(u'\uFFFD');
            i += k; // the lead byte and the continuation bytes that belonged to it
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += need + 1;
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size() * 3);
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

bool code_page_supported(unsigned code_page) {
    if (code_page == code_page_working || code_page == code_page_utf8)
        return true;
    const char* name = iconv_name(code_page);
    if (name == nullptr)
        return false;
    Converter c("UTF-16LE", name);
    return c.ok();
}

std::u16string code_page_to_utf16(std::string_view bytes, unsigned code_page) {
    if (code_page == code_page_working || code_page == code_page_utf8)
        return utf8_to_utf16(bytes);
    const char* name = iconv_name(code_page);
    if (name == nullptr || bytes.empty())
        return {};
    Converter conv("UTF-16LE", name);
    if (!conv.ok())
        return {};
    std::u16string out;
    std::vector<char16_t> buf(bytes.size() + 8);
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    while (in_left > 0) {
        char* dst = reinterpret_cast<char*>(buf.data());
        std::size_t dst_left = buf.size() * sizeof(char16_t);
        std::size_t r = iconv(conv.get(), &in, &in_left, &dst, &dst_left);
        out.append(buf.data(), (reinterpret_cast<char16_t*>(dst) - buf.data()));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // A byte the code page cannot read (EILSEQ), or a lead byte cut off at the end (EINVAL): the
            // code page's default character, then on with the next byte.
            out.push_back(u'?');
            ++in;
            --in_left;
        }
    }
    return out;
}

std::string utf16_to_code_page(std::u16string_view units, unsigned code_page, bool /*composite_check*/) {
    if (code_page == code_page_working || code_page == code_page_utf8)
        return utf16_to_utf8(units);
    const char* name = iconv_name(code_page);
    if (name == nullptr || units.empty())
        return {};
    Converter conv(name, "UTF-16LE");
    if (!conv.ok())
        return {};
    std::string out;
    std::vector<char> buf(units.size() * 4 + 16);
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(units.data()));
    std::size_t in_left = units.size() * sizeof(char16_t);
    while (in_left > 0) {
        char* dst = buf.data();
        std::size_t dst_left = buf.size();
        std::size_t r = iconv(conv.get(), &in, &in_left, &dst, &dst_left);
        out.append(buf.data(), static_cast<std::size_t>(dst - buf.data()));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // A character the code page cannot hold: its default character, one for each UTF-16 unit, as
            // WideCharToMultiByte writes it (a character outside the BMP gives two).
            out.push_back('?');
            std::size_t skip = in_left < 2 ? in_left : 2;
            in += skip;
            in_left -= skip;
        }
    }
    return out;
}

} // namespace vestrel
