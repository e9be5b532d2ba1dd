// The simulator's account: the account file format, its errors, and the deterministic generator.
#include "sim/account.h"
#include "sim/simulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>

using nlohmann::json;
using vestrel::Account;
using vestrel::AccountError;
using vestrel::GeneratorOptions;

namespace {

TEST(AccountFile, RejectsWhatItCannotServeNamingTheProblem) {
    struct Case {
        const char* text;
        const char* names;
    } cases[] = {
        {"{", "not valid JSON"},
        {"[]", "JSON object"},
        {R"({"files": {}})", "\"files\" must be an array"},
        {R"({"files": [{"md5": "x"}]})", "with a \"path\""},
        {R"({"files": [{"path": "a.txt"}]})", "\"a.txt\": a path must begin"},
        {R"({"files": [{"path": "/a//b"}]})", "empty name"},
        {R"({"files": [{"path": "/a/"}]})", "empty name"},
        {R"({"files": [{"path": "/a/../b"}]})", "are not names"},
        {R"({"files": [{"path": "/"}]})", "the root"},
        {R"({"files": [{"path": "/a\u0000b"}]})", "NUL"},
        {R"({"files": [{"path": "/a", "size": -1}]})", "size of /a"},
        {R"({"files": [{"path": "/a", "mtime": "today"}]})", "mtime of /a"},
        {R"({"files": [{"path": "/a", "md5": 5}]})", "md5 of /a"},
        {R"({"files": [{"path": "/a", "owner": 5}]})", "unknown member \"owner\" of file /a"},
        {R"({"files": [{"path": "/a"}, {"path": "/a"}]})", "\"/a\" is given twice"},
        {R"({"files": [{"path": "/a"}, {"path": "/a/b"}]})", "\"/a\" is given twice"},
        {R"({"files": [{"path": "/a"}], "dirs": ["/a"]})", "\"/a\" is given twice"},
        {R"({"dirs": [3]})", "each of \"dirs\""},
        {R"({"faults": {"/nowhere": {"errno": -9}}})", "\"/nowhere\": no such file or directory"},
        {R"({"dirs": ["/d"], "faults": {"/d": {"colour": 1}}})", "unknown fault \"colour\" of /d"},
        {R"({"dirs": ["/d"], "faults": {"/d": {"status": 99, "body": ""}}})", "HTTP status"},
        {R"({"dirs": ["/d"], "faults": {"/d": {"drop": 1}}})", "true or false"},
        {R"({"user": 1})", "\"user\" must be a text"},
        {R"({"users": "x"})", "unknown member \"users\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            Account::from_json(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const AccountError& e) {
            EXPECT_NE(std::string(e.what()).find(c.names), std::string::npos) << e.what();
        }
    }
}

TEST(AccountFile, KeepsAnyDigestTextAndImplicitDirectories) {
    Account a = Account::from_json(R"({"user": "u", "password": "p",
        "files": [{"path": "/x/y/z.bin", "md5": "NOT-HEX but text", "size": 5, "mtime": 7, "fs_id": 42},
                  {"path": "/no-digest"}],
        "dirs": ["/empty", "/x"]})");
    EXPECT_EQ(a.user, "u");
    EXPECT_EQ(a.password, "p");
    EXPECT_EQ(a.file_count(), 2u);
    EXPECT_EQ(a.directory_paths(), (std::vector<std::string>{"/empty", "/x", "/x/y"}));
    std::uint32_t z = a.find("/x/y/z.bin");
    ASSERT_NE(z, Account::none);
    EXPECT_EQ(a.md5_of(z), "NOT-HEX but text");
    EXPECT_EQ(a.md5_of(a.find("/no-digest")).size(), 32u);
    EXPECT_EQ(a.find("/x/y/"), Account::none);
    EXPECT_EQ(a.find("x"), Account::none);

    // The text it writes reads back into the same account.
    std::string text = a.to_json();
    EXPECT_EQ(Account::from_json(text).to_json(), text);
    EXPECT_NE(text.find("\"fs_id\":42"), std::string::npos);
}

struct Shape {
    std::size_t files = 0, dirs = 0, max_depth = 0, over_hundred = 0, repeated_digests = 0, non_ascii = 0,
                outside_bmp = 0, special = 0;
};

Shape shape_of(const std::string& text) {
    json doc = json::parse(text);
    Shape s;
    std::map<std::string, std::size_t> entries;
    auto parent = [](const std::string& p) {
        std::size_t slash = p.rfind('/');
        return slash == 0 ? std::string("/") : p.substr(0, slash);
    };
    for (const json& d : doc["dirs"]) {
        std::string p = d["path"];
        ++s.dirs;
        ++entries[parent(p)];
        s.max_depth = std::max<std::size_t>(s.max_depth, std::count(p.begin(), p.end(), '/'));
    }
    std::set<std::string> digests;
    for (const json& f : doc["files"]) {
        std::string p = f["path"];
        ++s.files;
        ++entries[parent(p)];
        if (!digests.insert(f["md5"].get<std::string>()).second)
            ++s.repeated_digests;
        std::string name = p.substr(p.rfind('/') + 1);
        bool high = false, four = false;
        for (unsigned char c : name) {
            high = high || c >= 0x80;
            four = four || c >= 0xf0;
        }
        s.non_ascii += high;
        s.outside_bmp += four;
        s.special += name.find_first_of(" +%'\"\\&") != std::string::npos &&
                     name.rfind("track ", 0) == std::string::npos;
    }
    for (const auto& [dir, n] : entries)
        s.over_hundred += n > 100;
    return s;
}

TEST(AccountGenerator, SameSeedSameAccountOtherSeedOther) {
    GeneratorOptions g;
    g.files = 3000;
    g.directories = 120;
    std::string first = vestrel::generate_account_json(g, 11);
    EXPECT_EQ(vestrel::generate_account_json(g, 11), first);
    EXPECT_NE(vestrel::generate_account_json(g, 12), first);
    EXPECT_EQ(Account::from_json(first).to_json(), first);
}

TEST(AccountGenerator, FollowsItsSettings) {
    GeneratorOptions g;
    g.files = 20000;
    g.directories = 400;
    g.depth = 4;
    g.duplicate_share = 0.3;
    g.non_ascii_share = 0.2;
    g.special_share = 0.05;
    g.large_directories = 5;
    Shape s = shape_of(vestrel::generate_account_json(g, 3));
    EXPECT_EQ(s.files, 20000u);
    EXPECT_EQ(s.dirs, 399u); // the root is not listed
    EXPECT_LE(s.max_depth, 4u);
    EXPECT_GE(s.max_depth, 3u);
    EXPECT_EQ(s.over_hundred, 5u);
    EXPECT_NEAR(double(s.repeated_digests) / s.files, 0.3, 0.03);
    EXPECT_NEAR(double(s.non_ascii) / s.files, 0.2, 0.03);
    EXPECT_GT(s.outside_bmp, 0u);
    EXPECT_GT(s.special, 0u);
}

TEST(AccountGenerator, EdgeSettings) {
    struct Case {
        std::uint32_t files, dirs, depth, large;
        std::size_t want_dirs;
    } cases[] = {
        {0, 1, 0, 0, 1},    // an empty account
        {50, 30, 0, 0, 1},  // depth 0: everything in the root
        {300, 5, 1, 50, 5}, // more large directories asked for than there are
        {5000, 3, 2, 0, 3}, // more files than ordinary directories hold: some get more than 100
        {10, 2000, 60, 0, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.files << " files, " << c.dirs << " dirs");
        GeneratorOptions g;
        g.files = c.files;
        g.directories = c.dirs;
        g.depth = c.depth;
        g.large_directories = c.large;
        Account a = Account::generate(g, 1);
        EXPECT_EQ(a.file_count(), c.files);
        EXPECT_EQ(a.directory_count(), c.want_dirs);
    }
}

} // namespace
