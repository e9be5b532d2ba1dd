#include "web/code_page.h"
#include "web/encodings.h"

#include <gtest/gtest.h>

namespace vestrel {
namespace {

const std::string zhong_utf8 = "\xE4\xB8\xAD"; // 中
const std::string zhong_gbk = "\xD6\xD0";
const std::string grin_utf8 = "\xF0\x9F\x98\x80"; // U+1F600, outside GBK

struct EncodeCase {
    std::string text;
    bool keep_safe;
    bool as_utf8;
    std::string expected;
};

TEST(UrlEncode, Cases) {
    const EncodeCase cases[] = {
        {"", false, false, ""},
        {"", true, true, ""},
        {"a-b.c_d~e f/g+h", true, true, "a-b.c%5Fd%7Ee%20f%2Fg%2Bh"},
        {"a", false, false, "%61"},
        {"AZaz09-.", true, false, "AZaz09-."},
        {"\x01\x7F*", true, true, "%01%7F%2A"},
        {zhong_utf8, true, true, "%E4%B8%AD"},
        {zhong_utf8, true, false, "%D6%D0"},
        {zhong_utf8, false, false, "%D6%D0"},
        {grin_utf8, true, true, "%F0%9F%98%80"},
        // GBK cannot hold it: the default character for each of its two UTF-16 units.
        {grin_utf8, true, false, "%3F%3F"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(url_encode(c.text, c.keep_safe, c.as_utf8), c.expected) << c.text;
}

TEST(UrlDecode, Cases) {
    struct Case {
        std::string text;
        bool from_utf8;
        std::string expected;
    };
    const Case cases[] = {
        {"%e4%b8%ad", true, zhong_utf8},
        {"%E4%B8%AD", true, zhong_utf8},
        {"%D6%D0", false, zhong_utf8},
        {"a+b", true, "a+b"},
        {"a%20b", false, "a b"},
        {"a%00b", true, "ab"},
        {"100%", true, "100%"},
        {"%4", true, "%4"},
        {"%zz1", true, "%zz1"},
        {"%%41", true, "%A"},
        {"", false, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(url_decode(c.text, c.from_utf8), c.expected) << c.text;
}

TEST(UrlEncoding, RoundTripsAnyPath) {
    const std::string path = "/a b+c/\"q\"\\" + zhong_utf8 + grin_utf8 + "/%41~_";
    EXPECT_EQ(url_decode(url_encode(path, true, true), true), path);
}

TEST(Utf16, GbkConversionsAndTerminator) {
    EXPECT_TRUE(gbk_to_utf16("").empty());
    EXPECT_EQ(gbk_to_utf16("ab"), std::u16string(u"ab\0", 3));
    EXPECT_EQ(gbk_to_utf16(zhong_gbk), std::u16string(u"\u4E2D\0", 2));
    EXPECT_EQ(gbk_to_utf16(zhong_gbk, true), u"\u4E2D");
    // 0x80 is the euro sign in code page 936.
    EXPECT_EQ(gbk_to_utf16("\x80", true), u"\u20AC");
    EXPECT_EQ(utf16_to_gbk(u"\u20AC"), "\x80");
    EXPECT_EQ(utf16_to_gbk(std::u16string(u"\u4E2Dx\0y", 4)), zhong_gbk + "x");
    EXPECT_EQ(utf16_to_gbk(u""), "");
}

TEST(Utf16, MultibyteConversions) {
    EXPECT_TRUE(multibyte_to_utf16("").empty());
    EXPECT_EQ(multibyte_to_utf16(zhong_utf8), std::u16string(u"\u4E2D\0", 2));
    EXPECT_EQ(multibyte_to_utf16(grin_utf8, 0), std::u16string(u"\U0001F600\0", 3));
    EXPECT_EQ(multibyte_to_utf16(zhong_gbk, 936), std::u16string(u"\u4E2D\0", 2));
    EXPECT_EQ(utf16_to_multibyte(u"\U0001F600"), grin_utf8);
    EXPECT_EQ(utf16_to_multibyte(std::u16string(u"a\0b", 3), 65001), "a");
    EXPECT_EQ(utf16_to_multibyte(u"\u4E2D", 936), zhong_gbk);
}

TEST(Utf16, InvalidUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(multibyte_to_utf16("a\xFF"
                                 "b"),
              std::u16string(u"a\uFFFDb\0", 4));
    EXPECT_EQ(multibyte_to_utf16("a\xC0\xAF"
                                 "b")
                  .front(),
              u'a');
    std::u16string cut = multibyte_to_utf16("x\xE4\xB8");
    ASSERT_GE(cut.size(), 3u);
    EXPECT_EQ(cut[0], u'x');
    EXPECT_EQ(cut[1], u'\uFFFD');
    EXPECT_EQ(cut.back(), u'\0');
    // And GBK has no U+FFFD: its default character.
    EXPECT_EQ(utf8_to_gbk("a\xFF"
                          "b"),
              "a?b");
}

TEST(Gbk, Utf8RoundTripAndDefaultCharacter) {
    const std::string text = "\xE4\xB8\xAD\xE6\x96\x87 path \xE2\x82\xAC"; // 中文 path €
    EXPECT_EQ(gbk_to_utf8(utf8_to_gbk(text)), text);
    EXPECT_EQ(utf8_to_gbk(zhong_utf8), zhong_gbk);
    EXPECT_EQ(gbk_to_utf8(zhong_gbk), zhong_utf8);
    EXPECT_EQ(utf8_to_gbk("a" + grin_utf8 + "b"), "a??b");
    EXPECT_EQ(gbk_to_utf8(""), "");
}

TEST(Charsets, NamesToCodePages) {
    EXPECT_EQ(charset_code_page("GBK"), 936u);
    EXPECT_EQ(charset_code_page("gb2312"), 936u);
    EXPECT_EQ(charset_code_page("Big5"), 950u);
    EXPECT_EQ(charset_code_page("shift_jis"), 932u);
    EXPECT_EQ(charset_code_page("ISO-8859-1"), 28591u);
    EXPECT_EQ(charset_code_page("windows-1252"), 1252u);
    EXPECT_EQ(charset_code_page("UTF-8"), 65001u);
    EXPECT_EQ(charset_code_page("x-unknown"), 0u);
    for (unsigned cp : {936u, 950u, 932u, 28591u, 1252u, 65001u})
        EXPECT_TRUE(code_page_supported(cp)) << cp;
    // Big5 and Shift_JIS read the same characters on both platforms.
    EXPECT_EQ(utf16_to_multibyte(multibyte_to_utf16("\xA4\xA4", 950)), zhong_utf8);
    EXPECT_EQ(utf16_to_multibyte(multibyte_to_utf16("\x93\xfa", 932)), "\xE6\x97\xA5"); // 日
    EXPECT_EQ(utf16_to_multibyte(multibyte_to_utf16("caf\xE9", 1252)), "caf\xC3\xA9");
}

} // namespace
} // namespace vestrel
