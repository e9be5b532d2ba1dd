#include "script/regex_object.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using vestrel::RegexObject;

namespace {

constexpr const char* token_pattern = R"re(bdstoken":"(.*?)")re";
constexpr const char* charset_pattern = R"(<meta.+?charset=[^\w]?([-\w]+))";

TEST(RegexObject, TokenPatternReadsFirstGroupOfFirstMatch) {
    RegexObject re;
    ASSERT_TRUE(re.execute(token_pattern, R"(var a={"bdstoken":"9f3c01ab","x":1}; "bdstoken":"second")"));
    EXPECT_EQ(re.submatch_text(1, 1), "9f3c01ab");
    EXPECT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.match_text(1), R"(bdstoken":"9f3c01ab")");
    EXPECT_EQ(re.submatch_text(2, 1), "second");
    EXPECT_EQ(re.submatch_count(), 1);
    EXPECT_EQ(re.get_pattern(), token_pattern);
}

TEST(RegexObject, DefaultsIgnoreCaseAndDotStopsAtLineBreak) {
    RegexObject re;
    ASSERT_TRUE(re.execute(token_pattern, R"({"BDSTOKEN":"up"})"));
    EXPECT_EQ(re.submatch_text(1, 1), "up");

    ASSERT_TRUE(re.execute(token_pattern, R"({"BDSTOKEN":"up"})", /*case_sensitive=*/true));
    EXPECT_EQ(re.match_count(), 0);

    for (const char* broken : {"bdstoken\":\"ab\ncd\"", "bdstoken\":\"ab\rcd\"", "bdstoken\":\"ab\r\ncd\""}) {
        ASSERT_TRUE(re.execute(token_pattern, broken));
        EXPECT_EQ(re.match_count(), 0) << broken;
        EXPECT_EQ(re.submatch_text(1, 1), "");
    }
}

TEST(RegexObject, CharsetPattern) {
    struct Case {
        const char* page;
        const char* charset;
    } cases[] = {
        {R"(<html><head><meta http-equiv="Content-Type" content="text/html; charset=gbk">)", "gbk"},
        {R"(<META charset="UTF-8"/>)", "UTF-8"},
        {R"(<meta charset=big5>)", "big5"},
        {R"(<meta name="x"><title>none</title>)", ""},
        // Raw bytes of a GBK page (not UTF-8) are still searched.
        {"<title>\xC4\xE3\xBA\xC3</title><meta content=\"\xC4\xE3 charset=gb2312\">", "gb2312"},
    };
    for (const auto& c : cases) {
        RegexObject re;
        ASSERT_TRUE(re.execute(charset_pattern, c.page)) << c.page;
        EXPECT_EQ(re.submatch_text(1, 1), c.charset) << c.page;
    }
}

TEST(RegexObject, NoMatchAndInvalidPattern) {
    RegexObject re;
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.get_pattern(), "");
    EXPECT_EQ(re.replace("x"), "");

    ASSERT_TRUE(re.execute("zzz", "abc"));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.submatch_text(1, 1), "");
    EXPECT_EQ(re.submatch_count(), 0);
    EXPECT_EQ(re.replace("x"), "abc");

    for (const char* bad : {"(abc", "a)", "[a", "a{2,1}", "*a"}) {
        EXPECT_FALSE(re.execute(bad, "abc (abc")) << bad;
        EXPECT_EQ(re.match_count(), 0);
        EXPECT_EQ(re.match_text(1), "");
        EXPECT_EQ(re.submatch_text(1, 1), "");
        EXPECT_EQ(re.submatch_count(), 0);
        EXPECT_EQ(re.replace("x"), "");
        EXPECT_EQ(re.get_pattern(), bad);
    }
}

TEST(RegexObject, GlobalAndMultilineOptions) {
    RegexObject re;
    ASSERT_TRUE(re.execute("a(\\d)", "a1 a2 A3"));
    EXPECT_EQ(re.match_count(), 3);
    EXPECT_EQ(re.submatch_text(3, 1), "3");
    ASSERT_TRUE(re.execute("a(\\d)", "a1 a2 A3", false, true, /*global=*/false));
    EXPECT_EQ(re.match_count(), 1);
    EXPECT_EQ(re.match_text(2), "");

    ASSERT_TRUE(re.execute("^x\\w*$", "xa\nxb\r\nxc"));
    EXPECT_EQ(re.match_count(), 3);
    EXPECT_EQ(re.match_text(3), "xc");
    ASSERT_TRUE(re.execute("^x\\w*$", "xa\nxb", false, /*multiline=*/false));
    EXPECT_EQ(re.match_count(), 0);
    // Without multiline $ is the very end only, not before a final line break.
    ASSERT_TRUE(re.execute("b$", "ab\n", false, false));
    EXPECT_EQ(re.match_count(), 0);
}

TEST(RegexObject, QuotePlaceholder) {
    RegexObject re;
    ASSERT_TRUE(
        re.execute("bdstoken#引号:#引号(.*?)#引号", R"(x "bdstoken":"tok" y)", false, true, true, true));
    EXPECT_EQ(re.submatch_text(1, 1), "tok");
    EXPECT_EQ(re.get_pattern(), token_pattern);
    // Without the flag the placeholder is ordinary text.
    ASSERT_TRUE(re.execute("#引号", "#引号\"", false, true, true, false));
    EXPECT_EQ(re.match_text(1), "#引号");
}

TEST(RegexObject, DialectDetails) {
    struct Case {
        const char* pattern;
        const char* subject;
        const char* first_match;
    } cases[] = {
        {"\\w+", "été_x1", "t"}, // \w is ASCII only
        {"a+?", "aaa", "a"},
        {"a.c",
         "a\xE4\xBD\xA0"
         "c",
         "a\xE4\xBD\xA0"
         "c"}, // "." is one character, not one byte
        {"\\u0041", "xA", "A"},
        {"[^]b", "\nb", "\nb"},
        {"(x)?\\1y", "y", "y"},
        {"中文", "这是中文", "中文"},
        {"ÉTÉ", "un été", "été"}, // case folding beyond ASCII
    };
    for (const auto& c : cases) {
        RegexObject re;
        ASSERT_TRUE(re.execute(c.pattern, c.subject)) << c.pattern;
        EXPECT_EQ(re.match_text(1), c.first_match) << c.pattern;
    }
}

TEST(RegexObject, GroupsAndPositions) {
    RegexObject re;
    ASSERT_TRUE(re.execute("(a)|(b)", "xba"));
    ASSERT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.submatch_count(), 2);
    EXPECT_EQ(re.submatch_text(1, 1), ""); // group 1 took no part in the first match
    EXPECT_EQ(re.submatch_text(1, 2), "b");
    EXPECT_EQ(re.submatch_text(1, 3), "");
    EXPECT_EQ(re.submatch_text(1, 0), "");
    EXPECT_EQ(re.submatch_text(0, 1), "");

    int position = 99;
    EXPECT_EQ(re.match_text(2, position), "a");
    EXPECT_EQ(position, 2);
    EXPECT_EQ(re.submatch_text(1, 2, position), "b");
    EXPECT_EQ(position, 1);
    EXPECT_EQ(re.submatch_text(1, 1, position), "");
    EXPECT_EQ(position, -2);
    EXPECT_EQ(re.match_text(3, position), "");
    EXPECT_EQ(position, -2);

    // The real position of the match, also where the same text occurs just before it.
    ASSERT_TRUE(re.execute("a", "aab"));
    EXPECT_EQ(re.match_text(2, position), "a");
    EXPECT_EQ(position, 1);
    // Positions are byte offsets into the UTF-8 subject.
    ASSERT_TRUE(re.execute("(x)", "中x"));
    EXPECT_EQ(re.submatch_text(1, 1, position), "x");
    EXPECT_EQ(position, 3);
}

TEST(RegexObject, EmptyMatchesAdvanceOneCharacter) {
    RegexObject re;
    ASSERT_TRUE(re.execute("x*", "中a"));
    EXPECT_EQ(re.match_count(), 3); // before 中, before a, at the end
    ASSERT_TRUE(re.execute("a*", "aa"));
    EXPECT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.match_text(1), "aa");
    ASSERT_TRUE(re.execute("", ""));
    EXPECT_EQ(re.match_count(), 1);
}

TEST(RegexObject, Replace) {
    struct Case {
        const char* pattern;
        const char* subject;
        bool global;
        const char* replacement;
        const char* result;
    } cases[] = {
        {"(\\w+)@(\\w+)", "ann@home bob@work", true, "$2:$1", "home:ann work:bob"},
        {"(\\w+)@(\\w+)", "ann@home bob@work", false, "$2:$1", "home:ann bob@work"},
        {"o", "foo", true, "[$&]", "f[o][o]"},
        {"o", "foo", true, "$$", "f$$"},
        {"b", "abc", true, "$`|$'", "aa|cc"},
        {"(b)", "abc", true, "$0$2$1$", "a$0$2b$c"},
        {"(b)", "abc", true, "$10", "ab0c"}, // $1 then 0: there is no group 10
        {"(x)?b", "abc", true, "<$1>", "a<>c"},
        {"Z", "abc", true, "-", "abc"},
        {"", "ab", true, "-", "-a-b-"},
    };
    for (const auto& c : cases) {
        RegexObject re;
        ASSERT_TRUE(re.execute(c.pattern, c.subject, false, true, c.global)) << c.pattern;
        EXPECT_EQ(re.replace(c.replacement), c.result) << c.pattern << " " << c.replacement;
    }
}

TEST(RegexObject, CopiesShareTheRunAndExecuteReplacesIt) {
    RegexObject a;
    ASSERT_TRUE(a.execute("(b)", "abc"));
    RegexObject b = a;
    EXPECT_EQ(b.submatch_text(1, 1), "b");
    ASSERT_TRUE(a.execute("(c)", "abc"));
    EXPECT_EQ(a.submatch_text(1, 1), "c");
    EXPECT_EQ(b.submatch_text(1, 1), "b"); // the copy keeps the run it shared
    RegexObject moved = std::move(b);
    EXPECT_EQ(moved.replace("x"), "axc");
}

// A pattern that backtracks exponentially over a long subject ends as a failed run, promptly.
TEST(RegexObject, CatastrophicBacktrackingHitsTheLimit) {
    const std::string subject = std::string(5000, 'a') + "!";
    for (const char* pattern : {"(a+)+$", "(a|aa)+$", "(.*a){12}$", "^(a|a?)+$", "(\\w+\\s?)+$"}) {
        RegexObject re;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(re.execute(pattern, subject)) << pattern;
        EXPECT_EQ(re.match_count(), 0);
        EXPECT_EQ(re.submatch_text(1, 1), "");
        // Generous bound: the limit is what ends the run, not a timer.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << pattern;
    }
}

TEST(RegexObject, HostileSubjects) {
    RegexObject re;
    // Each repetition of a group with alternatives keeps a backtracking frame: a long run stops at the
    // depth limit instead of growing without bound; a moderate one matches.
    const std::string moderate = std::string(5000, 'a') + "c";
    ASSERT_TRUE(re.execute("(a|b)*c", moderate));
    EXPECT_EQ(re.match_text(1), moderate);
    EXPECT_FALSE(re.execute("(a|b)*c", std::string(3 * RegexObject::match_depth_limit, 'a') + "c"));
    EXPECT_EQ(re.match_count(), 0);
    // The callers' lazy patterns run in a loop, whatever the length.
    const std::string token(500000, 't');
    ASSERT_TRUE(re.execute(token_pattern, std::string(100000, 'x') + R"("bdstoken":")" + token + "\""));
    EXPECT_EQ(re.submatch_text(1, 1), token);
    // Too many matches for one run.
    EXPECT_FALSE(re.execute("", std::string(RegexObject::max_matches + 5, 'x')));
    EXPECT_EQ(re.match_count(), 0);
    // Invalid UTF-8 in the middle is matched bytewise.
    ASSERT_TRUE(re.execute("b(.)d", "a\xFF"
                                    "b\xFE"
                                    "d"));
    EXPECT_EQ(re.submatch_text(1, 1), "\xFE");
    // A large subject with a simple pattern.
    const std::string big = std::string(20'000'000, 'x') + R"("bdstoken":"end")";
    ASSERT_TRUE(re.execute(token_pattern, big));
    EXPECT_EQ(re.submatch_text(1, 1), "end");
}

} // namespace
