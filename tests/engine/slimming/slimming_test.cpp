// The run against a fake service: stage order and texts, the slot rules, paging, errors, and the deletions.
#include "engine/slimming.h"
#include "mock/fake_service.h"
#include "mock/recording_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

namespace vestrel {
namespace {

using testing::FakeRequest;
using testing::FakeService;
using testing::RecordingView;

struct Harness {
    ScanState state;
    RecordingView view;
    FakeService service;
    SlimmingOptions options;

    Harness() {
        options.origin = service.origin;
        options.pause_ms = 0;
        options.token_poll_ms = 0;
        options.finder_settle_ms = 0;
        state.login_cookies = "PANWEB=1; NBSID=s";
    }
    RunOutcome run(int threads = 10) {
        SlimmingRun run(state, view, service, options);
        return run.run_slimming(threads);
    }
    std::vector<FakeRequest> requests_of(const std::string& kind) const {
        std::vector<FakeRequest> out;
        for (auto& r : service.requests())
            if (r.url.find(kind) != std::string::npos)
                out.push_back(r);
        return out;
    }
    std::map<std::string, int> lists_per_dir() const {
        std::map<std::string, int> count;
        for (auto& r : requests_of("/api/list?"))
            if (FakeService::query_value(r.url.substr(r.url.find('?') + 1), "page") == "1")
                ++count[url_decode(FakeService::query_value(r.url.substr(r.url.find('?') + 1), "dir"), true)];
        return count;
    }
};

const std::vector<std::string> full_stage_order = {"top:42",  "mark:0", "mark:1", "top:74",  "mark:2",
                                                   "top:107", "timer:", "mark:3", "top:139", "mark:4",
                                                   "top:170", "mark:5", "hide:"};

TEST(SlimmingRun, EmptyAccountRunsEveryStageWithItsTexts) {
    Harness h;
    EXPECT_EQ(h.run(), RunOutcome::finished);
    EXPECT_EQ(h.view.stages(), full_stage_order);
    EXPECT_EQ(h.view.log(),
              ">>参数获取成功\r\n>>查找重复文件中,等等\r\n>>查找完辣,你的网盘很干净,没有重复的文件哟~\r\n"
              ">>开始删除文件\r\n>>成功干掉了0个重复文件哦~\r\n>>程序运行完毕\r\n");
    EXPECT_EQ(h.view.output(), "\r\n[遍历文件]\r\n\r\n[文件删除]\r\n");
    EXPECT_EQ(h.view.of("label"), std::vector<std::string>{"重复数目: 0"});
    EXPECT_TRUE(h.requests_of("/api/filemanager").empty());
}

TEST(SlimmingRun, KeepsOneCopyPerDigestAndDeletesTheRest) {
    Harness h;
    h.view.output_duplicates = true;
    h.service.add_file("/", "root-copy.txt", "aaa");
    h.service.add_dir("/", "docs");
    h.service.add_dir("/", "pics");
    h.service.add_file("/docs", "newest.txt", "aaa");
    h.service.add_file("/docs", "oldest.txt", "aaa");
    h.service.add_file("/docs", "Case.txt", "AAA"); // another digest
    h.service.add_file("/pics", "p1.jpg", "bbb");
    h.service.add_file("/pics", "p2.jpg", "bbb");
    EXPECT_EQ(h.run(), RunOutcome::finished);
    // Of each digest the entry recorded last stays: the oldest within a directory, never the root's when a
    // copy exists elsewhere.
    std::vector<std::string> expected_left = {"/docs/Case.txt", "/docs/oldest.txt", "/pics/p2.jpg"};
    EXPECT_EQ(h.service.remaining_files(), expected_left);
    EXPECT_EQ(h.state.deleted_count.load(), 3);
    EXPECT_NE(h.view.log().find(">>成功干掉了3个重复文件哦~\r\n>>程序运行完毕\r\n"), std::string::npos);
    EXPECT_EQ(h.view.of("label"), std::vector<std::string>{"重复数目: 3"});
    std::string out = h.view.output();
    EXPECT_NE(out.find("\r\n[重复文件]\r\n"), std::string::npos);
    for (const auto& path : h.state.duplicate_list)
        EXPECT_NE(out.find(path + "\r\n"), std::string::npos);
    auto outputs = h.view.of("output");
    EXPECT_EQ(std::count(outputs.begin(), outputs.end(), "删除文件+1\r\n"), 3);
    // Every delete carries the token and a fresh logid.
    std::set<std::string> logids;
    for (auto& r : h.requests_of("/api/filemanager")) {
        EXPECT_EQ(r.method, method_post);
        EXPECT_NE(r.url.find("&bdstoken=tok123&logid="), std::string::npos);
        std::string logid = FakeService::query_value(r.url.substr(r.url.find('?') + 1), "logid");
        // 44 in the usual case; a random number written with fewer digits makes it shorter.
        EXPECT_TRUE(logid.size() >= 40 && logid.size() <= 48) << logid;
        logids.insert(logid);
    }
    EXPECT_EQ(logids.size(), 3u);
    for (const auto& d : h.state.duplicate_details)
        EXPECT_EQ(d.outcome, DeleteOutcome::deleted);
}

TEST(SlimmingRun, WithoutOutputDuplicatesTheListIsNotWritten) {
    Harness h;
    h.service.add_file("/", "a", "x");
    h.service.add_file("/", "b", "x");
    EXPECT_EQ(h.run(), RunOutcome::finished);
    EXPECT_NE(h.view.output().find("\r\n[重复文件]\r\n用户选择不输出\r\n[文件删除]\r\n"), std::string::npos);
}

TEST(SlimmingRun, NoMoreThanNWorkersAndSlotsNumberedOneToN) {
    Harness h;
    h.service.latency_ms = 5;
    for (int d = 0; d < 40; ++d) {
        h.service.add_dir("/", "d" + std::to_string(d));
        for (int f = 0; f < 3; ++f)
            h.service.add_file("/d" + std::to_string(d), "f" + std::to_string(f), "m" + std::to_string(f));
    }
    std::mutex lock;
    std::set<int> listing_slots, deletion_slots;
    h.options.on_dispatch = [&](int slot, bool listing) {
        std::lock_guard<std::mutex> guard(lock);
        (listing ? listing_slots : deletion_slots).insert(slot);
    };
    EXPECT_EQ(h.run(4), RunOutcome::finished);
    EXPECT_LE(h.service.max_lists_in_flight(), 4);
    EXPECT_LE(h.service.max_deletes_in_flight(), 4);
    EXPECT_FALSE(h.service.lists_and_deletes_overlapped());
    EXPECT_EQ(*listing_slots.begin(), 1);
    EXPECT_LE(*listing_slots.rbegin(), 4);
    EXPECT_EQ(*deletion_slots.begin(), 1);
    EXPECT_LE(*deletion_slots.rbegin(), 4);
    EXPECT_EQ(h.service.remaining_files().size(), 3u);
}

TEST(SlimmingRun, EveryDirectoryIsListedOnceEvenWhenFoundLate) {
    Harness h;
    h.service.latency_ms = 10;
    // A deep chain: each directory appears only in its parent's listing, after the dispatch loop has caught
    // up.
    std::string dir = "/";
    for (int level = 0; level < 8; ++level) {
        h.service.add_dir(dir, "L" + std::to_string(level));
        h.service.add_dir(dir, "side" + std::to_string(level));
        dir = (dir == "/" ? "" : dir) + "/L" + std::to_string(level);
        h.service.add_file(dir, "f", "digest" + std::to_string(level % 2));
    }
    // A listing that names a directory twice, and one that names its own parent.
    h.service.add_raw("/L0", {"/L0/L1", ""});
    h.service.add_raw("/L0/L1", {"/L0", ""});
    EXPECT_EQ(h.run(10), RunOutcome::finished);
    auto lists = h.lists_per_dir();
    EXPECT_EQ(lists.size(), 17u); // the root, 8 chain levels, 8 side directories
    for (const auto& [path, count] : lists)
        EXPECT_EQ(count, 1) << path;
    EXPECT_EQ(h.state.directory_count.load(), 16u);
    EXPECT_EQ(h.service.remaining_files().size(), 2u);
}

TEST(SlimmingRun, ADirectoryOfManyEntriesIsReadPageByPage) {
    Harness h;
    for (int i = 0; i < 150; ++i)
        h.service.add_file("/", "f" + std::to_string(i), "m" + std::to_string(i));
    h.service.add_dir("/", "exactly100");
    for (int i = 0; i < 100; ++i)
        h.service.add_file("/exactly100", "g" + std::to_string(i), "n" + std::to_string(i));
    EXPECT_EQ(h.run(), RunOutcome::finished);
    EXPECT_EQ(h.state.file_count.load(), 250u);
    std::vector<std::string> pages;
    for (auto& r : h.requests_of("/api/list?"))
        pages.push_back(url_decode(FakeService::query_value(r.url.substr(r.url.find('?') + 1), "dir"), true) +
                        "#" + FakeService::query_value(r.url.substr(r.url.find('?') + 1), "page"));
    std::sort(pages.begin(), pages.end());
    EXPECT_EQ(pages, (std::vector<std::string>{"/#1", "/#2", "/exactly100#1", "/exactly100#2"}));
}

TEST(SlimmingRun, AnEntryRepeatedAcrossPagesIsOneFile) {
    Harness h;
    // 100 files on page 1; page 2 repeats the last one (the listing shifted) and adds one more copy
    // elsewhere.
    for (int i = 0; i < 100; ++i)
        h.service.add_file("/", "f" + std::to_string(i), "m" + std::to_string(i));
    h.service.add_raw("/", {"/f99", "m99"});
    h.service.add_file("/", "copy-of-f5", "m5");
    EXPECT_EQ(h.run(), RunOutcome::finished);
    EXPECT_EQ(h.state.file_count.load(), 101u);
    EXPECT_EQ(h.service.deleted(), std::vector<std::string>{"/f5"});
}

TEST(SlimmingRun, AListingErrorStopsTheRunBeforeAnyDelete) {
    for (std::string answer :
         {std::string(R"({"errno":-9,"request_id":1})"), std::string("<html>oops</html>")}) {
        Harness h;
        h.service.add_file("/", "a", "x");
        h.service.add_dir("/", "bad");
        h.service.add_dir("/", "good");
        h.service.add_file("/good", "b", "x");
        h.service.list_overrides["/bad"] = answer;
        EXPECT_EQ(h.run(), RunOutcome::listing_failed);
        EXPECT_TRUE(h.requests_of("/api/filemanager").empty());
        EXPECT_EQ(h.state.listing_error.load(), 1);
        std::string expected =
            answer[0] == '{' ? ">>>请求提交错误. 错误参考→" + answer + "\r\n" : ">>>解析文件错误.\r\n";
        EXPECT_NE(h.view.log().find(expected), std::string::npos) << h.view.log();
        EXPECT_EQ(h.view.log().find(">>查找重复文件中"), std::string::npos);
        EXPECT_EQ(outcome_message(RunOutcome::listing_failed), "解析出现错误,请重试!");
    }
}

TEST(SlimmingRun, SkippedListingErrorsOnlyAddTheirLine) {
    Harness h;
    h.view.skip_errors = true;
    h.service.add_file("/", "a", "x");
    h.service.add_dir("/", "bad");
    h.service.add_dir("/", "good");
    h.service.add_file("/good", "b", "x");
    h.service.list_overrides["/bad"] = "";
    EXPECT_EQ(h.run(), RunOutcome::finished);
    EXPECT_NE(h.view.log().find(">>>解析文件错误.\r\n"), std::string::npos);
    EXPECT_EQ(h.service.deleted(), std::vector<std::string>{"/a"});
    EXPECT_EQ(h.state.listing_errors.size(), 1u);
}

TEST(SlimmingRun, WithoutATokenNothingIsListed) {
    for (std::string page :
         {std::string(""), std::string("<html>no token</html>"), std::string(R"("bdstoken":"")")}) {
        Harness h;
        h.service.home_page = page;
        EXPECT_EQ(h.run(), RunOutcome::token_failed);
        EXPECT_TRUE(h.requests_of("/api/list").empty());
        EXPECT_EQ(h.view.log(), "");
        EXPECT_EQ(outcome_message(RunOutcome::token_failed), "参数获取失败,请重试!");
    }
}

TEST(SlimmingRun, TheTokenIsTheFirstMatchIgnoringCase) {
    Harness h;
    h.service.home_page = "x\n\"BDSTOKEN\":\"first\"\n\"bdstoken\":\"second\"";
    SlimmingRun run(h.state, h.view, h.service, h.options);
    run.fetch_token();
    EXPECT_EQ(h.state.page_token, "first");
    EXPECT_EQ(h.state.token_state.load(), 1);
}

TEST(SlimmingRun, AnUnansweredRootEndsTheRunSilently) {
    Harness h;
    h.service.list_overrides["/"] = "";
    EXPECT_EQ(h.run(), RunOutcome::root_failed);
    EXPECT_EQ(h.view.log(), ">>参数获取成功\r\n");
    EXPECT_EQ(h.view.stages(), (std::vector<std::string>{"top:42", "mark:0"}));
}

TEST(SlimmingRun, OnlyTheTokenAndRootRequestsUpdateTheLoginCookies) {
    Harness h;
    h.service.set_cookie = "fresh=1";
    h.service.add_dir("/", "d");
    h.service.add_file("/", "a", "x");
    h.service.add_file("/d", "b", "x");
    EXPECT_EQ(h.run(), RunOutcome::finished);
    EXPECT_EQ(h.state.login_cookies, "fresh=1; fresh=1; PANWEB=1; NBSID=s");
    auto requests = h.service.requests();
    for (auto& r : requests)
        EXPECT_TRUE(r.cookies_supplied);
    // Workers send the cookies as the root listing left them; their own merges are dropped.
    for (auto& r : h.requests_of("/api/filemanager"))
        EXPECT_EQ(r.cookies, "fresh=1; fresh=1; PANWEB=1; NBSID=s");
}

TEST(SlimmingRun, FailedDeletesAreNeitherCountedNorLogged) {
    Harness h;
    for (int i = 0; i < 6; ++i)
        h.service.add_file("/", "f" + std::to_string(i), "same");
    h.service.delete_answer = [](const std::string& path) -> std::string {
        if (path == "/f1")
            return R"({"errno":111,"info":[]})";
        if (path == "/f2")
            return "";
        return R"({"errno":0,"info":[],"taskid":3})";
    };
    EXPECT_EQ(h.run(), RunOutcome::finished);
    EXPECT_EQ(h.state.deleted_count.load(), 3);
    EXPECT_EQ(h.state.failed_count.load(), 2);
    EXPECT_NE(h.view.log().find(">>成功干掉了3个重复文件哦~"), std::string::npos);
    std::map<std::string, std::string> failures;
    for (std::size_t i = 0; i < h.state.duplicate_list.size(); ++i)
        if (h.state.duplicate_details[i].outcome == DeleteOutcome::failed)
            failures[h.state.duplicate_list[i]] = h.state.duplicate_details[i].failure;
    EXPECT_EQ(failures, (std::map<std::string, std::string>{{"/f1", "errno 111"}, {"/f2", "200 OK"}}));
}

TEST(SlimmingRun, TheTotalCountsDeletesStillInFlight) {
    Harness h;
    h.service.latency_ms = 150;
    for (int i = 0; i < 5; ++i)
        h.service.add_file("/", "f" + std::to_string(i), "same");
    h.view.delay_text = "abc"; // no pause between dispatches
    EXPECT_EQ(h.run(10), RunOutcome::finished);
    EXPECT_NE(h.view.log().find(">>成功干掉了4个重复文件哦~"), std::string::npos);
}

TEST(SlimmingRun, TheDelayIsReadBeforeEachDispatch) {
    Harness h;
    for (int i = 0; i < 4; ++i)
        h.service.add_file("/", "f" + std::to_string(i), "same");
    h.view.delay_text = " 60ms";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(h.run(10), RunOutcome::finished);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(170));
    EXPECT_EQ(read_decimal(" -12x"), -12);
    EXPECT_EQ(read_decimal("+7"), 7);
    EXPECT_EQ(read_decimal(""), 0);
    EXPECT_EQ(read_decimal("x5"), 0);
    EXPECT_EQ(read_decimal("99999999999"), 2147483647);
}

TEST(SlimmingRun, ADryRunSendsNoDelete) {
    Harness h;
    h.options.dry_run = true;
    h.service.add_file("/", "a", "x");
    h.service.add_file("/", "b", "x");
    EXPECT_EQ(h.run(), RunOutcome::finished);
    EXPECT_TRUE(h.requests_of("/api/filemanager").empty());
    ASSERT_EQ(h.state.duplicate_details.size(), 1u);
    EXPECT_EQ(h.state.duplicate_details[0].outcome, DeleteOutcome::planned);
    EXPECT_EQ(h.state.duplicate_details[0].kept_path, "/b");
    EXPECT_EQ(h.state.duplicate_list[0], "/a");
    EXPECT_EQ(h.service.remaining_files().size(), 2u);
}

TEST(SlimmingRun, StoppingEndsEveryThreadBeforeTheListsGo) {
    Harness h;
    h.options.pause_ms = 50; // workers sit in their pauses
    h.service.latency_ms = 20;
    for (int d = 0; d < 30; ++d) {
        h.service.add_dir("/", "d" + std::to_string(d));
        for (int f = 0; f < 20; ++f)
            h.service.add_file("/d" + std::to_string(d), "f" + std::to_string(f), "m");
    }
    SlimmingRun run(h.state, h.view, h.service, h.options);
    RunOutcome outcome = RunOutcome::finished;
    std::thread runner([&] { outcome = run.run_slimming(10); });
    while (h.state.file_count.load() < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto asked = std::chrono::steady_clock::now();
    run.request_stop();
    runner.join();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(2000));
    EXPECT_EQ(outcome, RunOutcome::stopped);
    EXPECT_TRUE(h.requests_of("/api/filemanager").empty());
    h.state.release_scan_lists();
    EXPECT_EQ(h.state.file_list.size(), 0u);
}

TEST(SlimmingRun, ParseListingRecordsFilesAndDirectoriesAsTheyCome) {
    Harness h;
    SlimmingRun run(h.state, h.view, h.service, h.options);
    ListingPage empty = run.parse_listing(R"({"errno":0,"list":[]})");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(h.state.listing_error.load(), 0);
    run.parse_listing(R"({"errno":"0","list":[{"unlist":0,"path":"/d","md5":"","isdir":0},)"
                      R"({"unlist":0,"path":"/f","md5":"m","server_filename":"f"},)"
                      R"({"path":"/not-read","md5":"m2"},{"unlist":0,"path":"/after","md5":"m3"}]})");
    EXPECT_EQ(h.state.directory_list, std::deque<std::string>{"/d"});
    ASSERT_EQ(h.state.file_list.size(), 1u);
    EXPECT_EQ(h.state.file_list[0].server_filename, "f");
    EXPECT_EQ(h.state.listing_error.load(), 0);
    run.list_worker(0);
    EXPECT_EQ(h.view.log(), ">>多线程出现异常");
}

} // namespace
} // namespace vestrel
