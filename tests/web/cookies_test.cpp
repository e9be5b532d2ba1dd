#include "web/cookies.h"

#include <gtest/gtest.h>

namespace vestrel {
namespace {

TEST(MergeCookies, Cases) {
    struct Case {
        std::string kept;
        std::string incoming;
        std::string expected;
    };
    const Case cases[] = {
        {"a=1; b=1", "a=2", "a=2; b=1"},
        {"a=1; b=1", "b=deleted", "a=1"},
        {"a = 1 ;b=2", "", "a=1; b=2"},
        {"", "a=1;a=2", "a=1; a=2"},
        {"", "a=1;a=1", "a=1"},
        {"a=1; a=2", "", "a=1"},
        {"a=1", "A=2", "A=2; a=1"},
        {"a=1; b=2", "c=3; d=4", "c=3; d=4; a=1; b=2"},
        {"", "", ""},
        {"a=deleted", "", ""},
        // Every space goes, inside values too, the ideographic one included.
        {"a=x y\xE3\x80\x80z", "", "a=xyz"},
        // A tab is not a space.
        {"a=\t1", "", "a=\t1"},
        {"a=1;", "b=2;", "b=2; a=1"},
    };
    for (const auto& c : cases) {
        std::string kept = c.kept;
        EXPECT_EQ(merge_cookies(kept, c.incoming), c.expected)
            << "[" << c.kept << "] + [" << c.incoming << "]";
        EXPECT_EQ(kept, c.expected);
    }
}

TEST(SplitText, PieceRules) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split_text("", ";"), V{});
    EXPECT_EQ(split_text("a;;b", ";"), (V{"a", "", "b"}));
    EXPECT_EQ(split_text("a;b;", ";"), (V{"a", "b"}));
    EXPECT_EQ(split_text(";a", ";"), (V{"", "a"}));
    EXPECT_EQ(split_text("a; b", "; "), (V{"a", "b"}));
}

TEST(RemoveDuplicateItems, KeepsFirstOfEachExactRepeat) {
    EXPECT_EQ(remove_duplicate_items("a; b; a; c; b", "; "), "a; b; c");
    EXPECT_EQ(remove_duplicate_items("a=1|A=1|a=1", "|"), "a=1|A=1");
    EXPECT_EQ(remove_duplicate_items("", "; "), "");
}

TEST(UrlDomain, Cases) {
    struct Case {
        std::string text;
        bool last_two;
        bool keep_port;
        std::string expected;
    };
    const Case cases[] = {
        {"pan.nimbara.com", true, false, "nimbara.com"},
        {"localhost", true, false, "localhost"},
        {"https://Pan.Nimbara.com:8080/disk/home", false, true, "pan.nimbara.com:8080"},
        {"https://pan.nimbara.com:8080/disk/home", false, false, "pan.nimbara.com"},
        {"http://a.b.c/x", false, false, "a.b.c"},
        {"a.b.c:81", false, true, "a.b.c:81"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(url_domain(c.text, c.last_two, c.keep_port), c.expected) << c.text;
}

TEST(TextBetween, FirstLeftThenFirstRightAfterIt) {
    EXPECT_EQ(text_between("x[a]y[b]", "[", "]"), "a");
    EXPECT_EQ(text_between("]x[a", "[", "]"), "");
    EXPECT_EQ(text_between("no marker", "[", "]"), "");
    EXPECT_EQ(text_between("\"bdstoken\":\"t0k\"", "\"bdstoken\":\"", "\""), "t0k");
    EXPECT_EQ(text_between("ab", "a", "b"), "");
}

TEST(CookiePairName, TrimsSpacesOfBothKinds) {
    EXPECT_EQ(cookie_pair_name(" a =1"), "a");
    EXPECT_EQ(cookie_pair_name("\xE3\x80\x80name\xE3\x80\x80=v=w"), "name");
    EXPECT_EQ(cookie_pair_name(" flag "), "flag");
    EXPECT_EQ(cookie_pair_name("\tb=1"), "\tb");
    EXPECT_EQ(cookie_pair_name("=v"), "");
}

} // namespace
} // namespace vestrel
