// The finder: which copy stays, what counts as a digest, and one file never being its own copy.
#include "engine/duplicate_finder.h"

#include <gtest/gtest.h>

namespace vestrel {
namespace {

std::vector<std::string> planned_paths(const std::deque<FileEntry>& files) {
    std::vector<std::string> out;
    for (const auto& p : plan_deletions(files))
        out.push_back(files[p.entry].path + " keeps " + files[p.kept].path);
    return out;
}

TEST(DuplicateFinder, TheEntryRecordedLastStays) {
    std::deque<FileEntry> files{{"d1", "/A", "A"}, {"d1", "/B", "B"}, {"d2", "/x", "x"}, {"d1", "/C", "C"}};
    EXPECT_EQ(planned_paths(files), (std::vector<std::string>{"/B keeps /C", "/A keeps /C"}));
    EXPECT_TRUE(plan_deletions({}).empty());
}

TEST(DuplicateFinder, DigestsCompareExactlyAndNamesPlayNoPart) {
    std::deque<FileEntry> files{{"abc", "/1/same.txt", "same.txt"},
                                {"ABC", "/2/same.txt", "same.txt"},
                                {"", "/3/e", "e"},
                                {"", "/4/e", "e"},
                                {"abc", "/5/other", "other"}};
    EXPECT_EQ(planned_paths(files), (std::vector<std::string>{"/1/same.txt keeps /5/other"}));
}

TEST(DuplicateFinder, OneFileListedTwiceIsNotItsOwnCopy) {
    // A directory listed twice, and a page repeating an entry of the page before.
    std::deque<FileEntry> files{{"d", "/a/x", "x"}, {"d", "/a/y", "y"}, {"e", "/b/z", "z"},
                                {"d", "/a/x", "x"}, {"d", "/a/y", "y"}, {"e", "/b/z", "z"}};
    EXPECT_EQ(planned_paths(files), (std::vector<std::string>{"/a/x keeps /a/y"}));
    std::deque<FileEntry> alone{{"d", "/only", "only"}, {"d", "/only", "only"}, {"d", "/only", "only"}};
    EXPECT_TRUE(plan_deletions(alone).empty());
}

TEST(DuplicateFinder, ManyDigestsKeepExactlyOneEach) {
    std::deque<FileEntry> files;
    for (int i = 0; i < 5000; ++i)
        files.push_back({"md5-" + std::to_string(i % 1000), "/f" + std::to_string(i), ""});
    auto plan = plan_deletions(files);
    EXPECT_EQ(plan.size(), 4000u);
    for (const auto& p : plan) {
        EXPECT_EQ(files[p.entry].md5, files[p.kept].md5);
        EXPECT_GE(p.kept, 4000u); // the last of each digest
    }
}

} // namespace
} // namespace vestrel
