// Whole runs of the client against nimbara-sim: the account afterwards, the texts, the exit codes, and the
// requests as the simulator logged them.
#include "cli/client.h"
#include "cli/console.h"
#include "support/test_server.h"
#include "web/encodings.h"
#include "web/http_request.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

namespace vestrel::cli {
namespace {

using json = nlohmann::json;

struct Capture : Console {
    std::mutex lock;
    std::string out, err;
    void write_out(std::string_view t) override {
        std::lock_guard<std::mutex> g(lock);
        out += t;
    }
    void write_err(std::string_view t) override {
        std::lock_guard<std::mutex> g(lock);
        err += t;
    }
    std::string read_input() override { return {}; }
    bool err_is_terminal() override { return false; }
    std::string environment(const char*) override { return {}; }
    // The interrupt key, pressed once the log holds `interrupt_after`.
    std::string interrupt_after;
    bool interrupted() override {
        std::lock_guard<std::mutex> g(lock);
        return !interrupt_after.empty() && err.find(interrupt_after) != std::string::npos;
    }
    std::string_view line_end() override { return platform_line_end(); }
};

std::string unix_path_for_this_platform(std::string path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
#endif
    return path;
}

std::string temp_file(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("vestrel-e2e-" + name)).string();
}

struct RunResult {
    int code = -1;
    std::string out, err;
};

class ClientEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        url_ = vestrel::testing::test_server_url("nimbara_sim_e2e");
        ASSERT_FALSE(url_.empty()) << "the nimbara_sim_e2e fixture is not running";
    }

    // Loads an account into the simulator and logs in through its form.
    void load(const json& account) {
        // The simulator spaces deletes across accounts too: let the last test's last delete age.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        std::string status;
        std::string answer = http_request(url_ + "/sim/account", 1, account.dump(), {}, {},
                                          std::string_view("Content-Type: application/json"), {}, {}, {}, {},
                                          {}, {}, {}, {}, {}, status);
        ASSERT_NE(answer.find("\"errno\":0"), std::string::npos) << answer << status;
        std::string ignored, fresh;
        http_request(url_ + "/passport/login", 1, std::string_view("username=demo&password=demo"), ignored,
                     fresh, {}, {}, true, {}, {}, {}, {}, {}, {}, {}, status);
        ASSERT_NE(fresh.find("PANWEB"), std::string::npos) << status;
        cookies_ = fresh;
        log_start_ = log_size();
    }

    json state() { return json::parse(http_request(url_ + "/sim/state")); }

    std::vector<std::string> files_left() { return state()["files"].get<std::vector<std::string>>(); }

    std::string log_path() const {
        const char* dir = std::getenv("VESTREL_FIXTURES");
        return dir == nullptr ? std::string()
                              : unix_path_for_this_platform(std::string(dir) + "/nimbara_sim_e2e.log");
    }
    std::uintmax_t log_size() const {
        std::error_code ec;
        auto size = std::filesystem::file_size(log_path(), ec);
        return ec ? 0 : size;
    }
    // The requests the simulator logged since the account was loaded.
    std::vector<json> requests(const std::string& kind = {}) {
        std::ifstream in(log_path(), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(log_start_));
        std::vector<json> out;
        std::string line;
        while (std::getline(in, line)) {
            auto item = json::parse(line, nullptr, false);
            if (item.is_object() && (kind.empty() || item["kind"] == kind))
                out.push_back(item);
        }
        return out;
    }

    RunResult run(std::vector<std::string> options, const std::string& cookies_override = "\x01",
                  const std::string& interrupt_after = {}) {
        std::string cookie_file = temp_file("cookies.txt");
        {
            std::ofstream out(cookie_file, std::ios::binary);
            out << (cookies_override == "\x01" ? cookies_ : cookies_override) << "\n";
        }
        std::vector<std::string> args = {"run", "--service", url_, "--cookies-file", cookie_file};
        args.insert(args.end(), options.begin(), options.end());
        Capture console;
        console.interrupt_after = interrupt_after;
        RunResult result;
        result.code = client_main(args, console);
        result.out = console.out;
        result.err = console.err;
        std::filesystem::remove(cookie_file);
        return result;
    }

    static std::string lines(std::string text) {
        std::string end(platform_line_end());
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "\r\n") == 0) {
                out += end;
                ++i;
            } else {
                out += text[i];
            }
        }
        return out;
    }

    std::string url_;
    std::string cookies_;
    std::uintmax_t log_start_ = 0;
};

// Reads a report and removes the file (closed first: Windows refuses to remove an open file).
json take_report(const std::string& path) {
    json report;
    {
        std::ifstream in(path);
        report = json::parse(in, nullptr, false);
    }
    std::filesystem::remove(path);
    return report;
}

json file(const std::string& path, const std::string& md5, long long mtime = 1600000000) {
    return {{"path", path}, {"md5", md5}, {"size", 10}, {"mtime", mtime}};
}

TEST_F(ClientEndToEnd, AnEmptyAccountRunsToTheEnd) {
    load({{"files", json::array()}, {"dirs", json::array()}});
    RunResult r = run({"--pause-ms", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, lines("\r\n[遍历文件]\r\n\r\n[文件删除]\r\n"));
    EXPECT_NE(r.err.find(lines(">>参数获取成功\r\n>>查找重复文件中,等等\r\n重复数目: 0\r\n"
                               ">>查找完辣,你的网盘很干净,没有重复的文件哟~\r\n>>开始删除文件\r\n"
                               ">>成功干掉了0个重复文件哦~\r\n>>程序运行完毕\r\n")),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(requests("delete").empty());
}

TEST_F(ClientEndToEnd, AMixedAccountKeepsExactlyOneCopyOfEachDigest) {
    json files = json::array();
    // One directory, three copies of a digest: the oldest stays.
    files.push_back(file("/same dir/new copy.txt", "d1", 1700000300));
    files.push_back(file("/same dir/old copy.txt", "d1", 1700000100));
    files.push_back(file("/same dir/middle copy.txt", "d1", 1700000200));
    // The root's copy goes when a copy exists elsewhere.
    files.push_back(file("/root copy.bin", "d2"));
    files.push_back(file("/deep/a/b/c/d/e/f/g/deep copy.bin", "d2"));
    // Names that need care in a URL, a form and a JSON string.
    files.push_back(file("/odd/a b+c.txt", "d3", 1700000500));
    files.push_back(file("/odd/say \"hi\".txt", "d3", 1700000400));
    files.push_back(file("/odd/back\\slash.txt", "d3", 1700000300));
    files.push_back(file("/odd/100% & more=yes.txt", "d3", 1700000200));
    files.push_back(file("/odd/表情😀 𠀀𪚥.txt", "d3", 1700000100));
    // Digests that differ only in letter case are different digests.
    files.push_back(file("/case/upper", "ABCDEF"));
    files.push_back(file("/case/lower", "abcdef"));
    // A directory of 150 entries with duplicates spread over both pages.
    for (int i = 0; i < 150; ++i)
        files.push_back(
            file("/big/f" + std::to_string(1000 + i), "big" + std::to_string(i % 140), 1600000000 + i));
    // Copies across directories.
    files.push_back(file("/x/one", "d4"));
    files.push_back(file("/y/two", "d4"));
    files.push_back(file("/z/unique", "u1"));
    load({{"files", files}});
    const std::size_t digests = 4 + 2 + 140 + 1;
    const std::size_t total = files.size();

    std::string report = temp_file("mixed-report.json");
    RunResult r = run({"--pause-ms", "0", "--delay", "150", "--output-duplicates", "--report", report});
    ASSERT_EQ(r.code, 0) << r.err;

    std::vector<std::string> left = files_left();
    EXPECT_EQ(left.size(), digests);
    std::map<std::string, std::string> md5_of;
    for (const auto& f : files)
        md5_of[f["path"]] = f["md5"];
    std::map<std::string, int> copies;
    for (const auto& path : left)
        ++copies[md5_of.at(path)];
    EXPECT_EQ(copies.size(), digests);
    for (const auto& [md5, count] : copies)
        EXPECT_EQ(count, 1) << md5;
    std::set<std::string> kept(left.begin(), left.end());
    EXPECT_TRUE(kept.count("/same dir/old copy.txt"));
    EXPECT_TRUE(kept.count("/deep/a/b/c/d/e/f/g/deep copy.bin"));
    EXPECT_FALSE(kept.count("/root copy.bin"));
    EXPECT_TRUE(kept.count("/odd/表情😀 𠀀𪚥.txt"));
    EXPECT_TRUE(kept.count("/case/upper") && kept.count("/case/lower"));
    // Nothing else went: the recycle bin holds exactly the removed files.
    json s = state();
    EXPECT_EQ(s["recycle"].size(), total - digests);
    for (const auto& item : s["recycle"])
        EXPECT_EQ(item["isdir"], 0);

    EXPECT_NE(r.err.find(lines(">>成功干掉了" + std::to_string(total - digests) + "个重复文件哦~\r\n")),
              std::string::npos);
    EXPECT_NE(r.out.find(lines("/odd/say \"hi\".txt\r\n")), std::string::npos);

    json rep = take_report(report);
    EXPECT_EQ(rep["counts"]["files"], total);
    EXPECT_EQ(rep["counts"]["duplicates"], total - digests);
    EXPECT_EQ(rep["counts"]["deleted"], total - digests);
    EXPECT_EQ(rep["counts"]["failed"], 0);
    for (const auto& d : rep["duplicates"]) {
        EXPECT_EQ(d["outcome"], "deleted") << d.dump();
        EXPECT_EQ(md5_of.at(d["kept"]), d["md5"]);
        EXPECT_TRUE(kept.count(d["kept"]));
    }

    // The 150-entry directory was read in two pages.
    int big_pages = 0;
    for (const auto& req : requests("list"))
        big_pages += req["target"].get<std::string>().find("dir=%2Fbig&") != std::string::npos;
    EXPECT_EQ(big_pages, 2);
}

TEST_F(ClientEndToEnd, RequestsAreSentToTheByte) {
    load({{"files", {file("/a b+c.txt", "m1", 1600000000), file("/d/x.txt", "m1", 1600000000)}}});
    RunResult r = run({"--pause-ms", "0", "--delay", "0"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files_left(), std::vector<std::string>{"/d/x.txt"});

    std::vector<json> home = requests("home");
    ASSERT_EQ(home.size(), 1u);
    EXPECT_EQ(home[0]["method"], "GET");
    EXPECT_EQ(home[0]["target"], "/disk/home");
    std::string token;
    {
        std::string cookies = cookies_;
        std::smatch m;
        std::string page = http_request(url_ + "/disk/home", 0, {}, cookies);
        ASSERT_TRUE(std::regex_search(page, m, std::regex("\"bdstoken\":\"([^\"]*)\"")));
        token = m[1];
    }
    std::set<std::string> lists;
    for (const auto& req : requests("list")) {
        EXPECT_EQ(req["method"], "GET");
        lists.insert(req["target"]);
    }
    const std::string rest =
        "&bdstoken=&logid=UjdYc0xvZ0lkRGVtb1ZhbHVlRm9yVGhlTGlzdENhbGw=&num=100&order=time"
        "&desc=1&clienttype=0&showempty=0&web=1&page=1&channel=chunlei&web=1&app_id=250528";
    EXPECT_EQ(lists, (std::set<std::string>{"/api/list?dir=%2F" + rest, "/api/list?dir=%2Fd" + rest}));

    std::vector<json> deletes = requests("delete");
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0]["method"], "POST");
    EXPECT_EQ(deletes[0]["body"], "filelist=%5B%22%2Fa+b%2Bc.txt%22%5D");
    std::smatch m;
    std::string target = deletes[0]["target"];
    ASSERT_TRUE(std::regex_match(target, m,
                                 std::regex("/api/filemanager\\?opera=delete&async=2&channel=chunlei&web=1"
                                            "&app_id=250528&bdstoken=([^&]*)&logid=([A-Za-z0-9+/=]{40,48})"
                                            "&clienttype=0")))
        << target;
    EXPECT_EQ(m[1].str(), token);
    for (const auto& req : requests()) {
        if (req["kind"] == "state")
            continue;
        bool has_cookie = false;
        for (const auto& header : req["headers"])
            has_cookie |= header[0] == "Cookie";
        EXPECT_TRUE(has_cookie) << req.dump();
    }
}

TEST_F(ClientEndToEnd, AListingErrorStopsTheRunUnlessSkipped) {
    json account = {
        {"files", {file("/ok/a", "m1"), file("/ok/b", "m1"), file("/bad1/c", "m1"), file("/bad2/d", "m1")}},
        {"faults", {{"/bad1", {{"errno", -9}}}, {"/bad2", {{"body", "<html>garbage"}}}}}};
    load(account);
    RunResult r = run({"--pause-ms", "0", "--delay", "150"});
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_NE(r.err.find(lines("解析出现错误,请重试!\r\n")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(">>>请求提交错误. 错误参考→{"), std::string::npos);
    EXPECT_NE(r.err.find("\"errno\":-9"), std::string::npos);
    EXPECT_NE(r.err.find(lines(">>>解析文件错误.\r\n")), std::string::npos);
    EXPECT_TRUE(requests("delete").empty());
    EXPECT_EQ(files_left().size(), 4u);

    load(account);
    std::string report = temp_file("skip-report.json");
    r = run({"--pause-ms", "0", "--delay", "150", "--skip-errors", "--report", report});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files_left(), (std::vector<std::string>{"/bad1/c", "/bad2/d", "/ok/b"}));
    json rep = take_report(report);
    EXPECT_EQ(rep["listing_errors"].size(), 2u);
}

TEST_F(ClientEndToEnd, WithoutALoginThereIsNoTokenAndNoListing) {
    load({{"files", {file("/a", "m"), file("/b", "m")}}});
    RunResult r = run({"--pause-ms", "0"}, "PANWEB=1");
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find(lines("参数获取失败,请重试!\r\n")), std::string::npos) << r.err;
    EXPECT_TRUE(requests("list").empty());
    r = run({"--pause-ms", "0"}, "NBSID=only");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, lines("读取网盘参数失败,请重试!\r\n"));
}

TEST_F(ClientEndToEnd, AnEntryRepeatedAcrossPagesIsNeverItsOwnCopy) {
    // 151 files; the first page answered is the listing as it stood before the newest file came, so the
    // second page repeats the last entry of the first.
    json files = json::array();
    for (int i = 0; i < 151; ++i)
        files.push_back(file("/shift/f" + std::to_string(100 + i), "s" + std::to_string(i), 1600000000 + i));
    files.push_back(file("/root copy", "s3", 1500000000));
    json page1 = {{"errno", 0}, {"list", json::array()}, {"request_id", 1}};
    // Newest first: f250 is the newest; the old listing lacks it and starts at f249.
    for (int i = 149; i >= 50; --i)
        page1["list"].push_back({{"unlist", 0},
                                 {"isdir", 0},
                                 {"path", "/shift/f" + std::to_string(100 + i)},
                                 {"server_filename", "f" + std::to_string(100 + i)},
                                 {"md5", "s" + std::to_string(i)}});
    load({{"files", files}, {"faults", {{"/shift", {{"body", page1.dump()}, {"times", 1}}}}}});
    RunResult r = run({"--pause-ms", "0", "--delay", "150"});
    ASSERT_EQ(r.code, 0) << r.err;
    // f150 stood last on page 1 and first on page 2; it stays, as does every other file of /shift.
    std::vector<std::string> left = files_left();
    EXPECT_EQ(left.size(), 151u);
    std::vector<json> deletes = requests("delete");
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0]["body"], "filelist=%5B%22%2Froot+copy%22%5D");
}

TEST_F(ClientEndToEnd, TheRateLimitFailsDeletesSentTooFast) {
    json files = json::array();
    for (int i = 0; i < 6; ++i)
        files.push_back(file("/r/f" + std::to_string(i), "same", 1600000000 + i));
    load({{"files", files}});
    std::string report = temp_file("rate-report.json");
    RunResult r = run({"--pause-ms", "0", "--delay", "0", "--report", report});
    ASSERT_EQ(r.code, 0) << r.err;
    json s = state();
    std::size_t deleted = s["recycle"].size();
    EXPECT_LT(deleted, 5u);
    EXPECT_NE(r.err.find(">>成功干掉了" + std::to_string(deleted) + "个重复文件哦~"), std::string::npos)
        << r.err;
    json rep = take_report(report);
    EXPECT_EQ(rep["counts"]["deleted"], deleted);
    EXPECT_EQ(rep["counts"]["failed"], 5 - deleted);
    std::size_t failed = 0;
    for (const auto& d : rep["duplicates"])
        if (d["outcome"] == "failed") {
            ++failed;
            EXPECT_EQ(d["error"], "errno 111");
        }
    EXPECT_EQ(failed, 5 - deleted);

    load({{"files", files}});
    r = run({"--pause-ms", "0"}); // the default delay of 500 ms
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files_left(), std::vector<std::string>{"/r/f0"});
    EXPECT_NE(r.err.find(">>成功干掉了5个重复文件哦~"), std::string::npos);
}

TEST_F(ClientEndToEnd, TheInterruptKeyStopsTheRunBetweenDeletes) {
    json files = json::array();
    for (int i = 0; i < 8; ++i)
        files.push_back(file("/i/f" + std::to_string(i), "same", 1600000000 + i));
    load({{"files", files}});
    RunResult r = run({"--pause-ms", "0", "--delay", "400"}, "\x01", "开始删除文件");
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_NE(r.err.find("vestrel: stopped before the end"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(">>程序运行完毕"), std::string::npos);
    // The data timer looks every 150 ms: one or two deletes went before the stop, never all seven.
    std::size_t sent = requests("delete").size();
    EXPECT_GE(sent, 1u);
    EXPECT_LT(sent, 7u);
    EXPECT_EQ(files_left().size(), 8 - sent);
}

TEST_F(ClientEndToEnd, ADryRunSendsNoDelete) {
    load({{"files", {file("/a/x", "m", 1600000002), file("/a/y", "m", 1600000001), file("/b/z", "n")}}});
    std::string report = temp_file("dry-report.json");
    RunResult r = run({"--pause-ms", "0", "--dry-run", "--report", report});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(requests("delete").empty());
    EXPECT_EQ(files_left().size(), 3u);
    EXPECT_NE(r.out.find(lines("[dry run: would delete, keeping]\r\n/a/x\t/a/y\r\n")), std::string::npos)
        << r.out;
    json rep = take_report(report);
    ASSERT_EQ(rep["duplicates"].size(), 1u);
    EXPECT_EQ(rep["duplicates"][0]["outcome"], "planned");
    EXPECT_EQ(rep["duplicates"][0]["kept"], "/a/y");
}

TEST_F(ClientEndToEnd, TheProgramItselfReportsByExitCode) {
    std::string client;
    {
        const char* dir = std::getenv("VESTREL_FIXTURES");
        ASSERT_NE(dir, nullptr);
        std::ifstream in(unix_path_for_this_platform(std::string(dir) + "/vestrel_client.path"));
        std::getline(in, client);
    }
    ASSERT_FALSE(client.empty());
    load({{"files", json::array()}});
    std::string out = temp_file("exe-out.txt"), err = temp_file("exe-err.txt");
    std::string cookies = temp_file("exe-cookies.txt");
    {
        std::ofstream c(cookies);
        c << cookies_;
    }
    auto run_exe = [&](const std::string& args) {
        std::string command =
            "\"" + unix_path_for_this_platform(client) + "\" " + args + " >\"" + out + "\" 2>\"" + err + "\"";
#ifdef _WIN32
        command = "\"" + command + "\""; // cmd /c strips one pair of quotes
#endif
        int status = std::system(command.c_str());
#ifndef _WIN32
        status = (status >> 8) & 0xFF; // a wait status: the exit code in its second byte
#endif
        return status;
    };
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(run_exe("run --service " + url_ + " --pause-ms 0 --cookies-file \"" + cookies + "\""), 0)
        << read(err);
    EXPECT_NE(read(err).find(lines(">>程序运行完毕\r\n")), std::string::npos) << read(err);
    EXPECT_EQ(read(out), lines("\r\n[遍历文件]\r\n\r\n[文件删除]\r\n"));
    EXPECT_EQ(run_exe("run --threads 9"), 64);
    EXPECT_EQ(run_exe("run --service ftp://x"), 64);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    std::filesystem::remove(cookies);
}

} // namespace
} // namespace vestrel::cli
