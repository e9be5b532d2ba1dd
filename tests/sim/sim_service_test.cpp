// The simulated service over HTTP: login, home page, listing, deletion, rate limit, faults, log, state.
#include "sim_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

using vestrel::Simulator;
using vestrel::SimulatorOptions;
using namespace vestrel::testing;
using nlohmann::json;

namespace {

const std::string digest_a = "0123456789abcdef0123456789abcdef";
const std::string digest_b = "fedcba9876543210fedcba9876543210";

json file(const std::string& path, std::int64_t mtime, const std::string& md5 = digest_a,
          std::uint64_t size = 3) {
    return {{"path", path}, {"md5", md5}, {"size", size}, {"mtime", mtime}};
}

class Service : public ::testing::Test {
protected:
    // Starts a simulator on `account` (an account-file object) and keeps its URL.
    void start(json account, SimulatorOptions options = {}) {
        options.account_json = account.dump();
        sim_ = std::make_unique<Simulator>(options);
        ASSERT_NE(sim_->start(), 0) << sim_->error();
        url_ = sim_->url();
        cookies_ = sim_->login_cookies();
    }
    HttpReply list(const std::string& dir, int num = 100, int page = 1) {
        return http(list_url(url_, dir, num, page), cookies_);
    }
    HttpReply remove(const std::string& body) {
        return http(delete_url(url_, sim_->token()), cookies_, true, body);
    }
    json state() { return json::parse(sim_->state_json()); }

    std::unique_ptr<Simulator> sim_;
    std::string url_;
    std::string cookies_;
};

std::string cookie_text_from(const HttpReply& reply) {
    std::string text;
    for (const std::string& set : reply.header("Set-Cookie")) {
        if (!text.empty())
            text += "; ";
        text += set.substr(0, set.find(';'));
    }
    return text;
}

TEST_F(Service, LoginSetsCookiesOnlyForTheRightPassword) {
    SimulatorOptions options;
    options.user = "ann";
    options.password = "s3cret +%&";
    start({{"files", json::array({file("/a.txt", 1)})}}, options);

    struct Case {
        std::string body;
        bool right;
    } cases[] = {
        {"username=ann&password=s3cret+%2B%25%26", true},
        {"username=ann&password=s3cret", false},
        {"username=Ann&password=s3cret+%2B%25%26", false},
        {"username=ann", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        HttpReply reply = http(url_ + "/passport/login", {}, true, c.body);
        ASSERT_EQ(reply.code, CURLE_OK);
        auto cookies = reply.header("Set-Cookie");
        if (c.right) {
            EXPECT_EQ(reply.status, 302);
            EXPECT_EQ(reply.header("Location"), std::vector<std::string>{"/disk/home"});
            ASSERT_EQ(cookies.size(), 2u);
            EXPECT_EQ(cookies[0], "PANWEB=1; Path=/");
            EXPECT_NE(cookies[1].find("; HttpOnly"), std::string::npos);
            EXPECT_EQ(cookie_text_from(reply), sim_->login_cookies());
        } else {
            EXPECT_EQ(reply.status, 200);
            EXPECT_TRUE(cookies.empty());
            EXPECT_NE(reply.body.find("action=\"/passport/login\""), std::string::npos);
            EXPECT_NE(reply.body.find("wrong"), std::string::npos);
        }
    }
}

TEST_F(Service, HomePageHoldsTheTokenOnlyWhenLoggedIn) {
    start({{"user", "zoë"}, {"files", json::array({file("/a.txt", 1)})}});

    HttpReply anonymous = http(url_ + "/disk/home");
    EXPECT_EQ(anonymous.status, 200);
    EXPECT_EQ(anonymous.body.find("bdstoken"), std::string::npos);
    EXPECT_NE(anonymous.body.find("name=\"username\""), std::string::npos);
    EXPECT_NE(anonymous.body.find("name=\"password\""), std::string::npos);
    EXPECT_NE(anonymous.body.find("method=\"post\" action=\"/passport/login\""), std::string::npos);

    // PANWEB alone, or a forged session, is no login.
    for (const std::string& cookies : {std::string("PANWEB=1"), std::string("PANWEB=1; NBSID=forged")})
        EXPECT_EQ(http(url_ + "/disk/home", cookies).body.find("bdstoken"), std::string::npos) << cookies;

    HttpReply login = http(url_ + "/passport/login", {}, true, "username=zo%C3%AB&password=demo");
    ASSERT_EQ(login.status, 302);
    HttpReply home = http(url_ + "/disk/home", cookie_text_from(login));
    EXPECT_EQ(home.status, 200);
    const std::string line = "\"bdstoken\":\"" + sim_->token() + "\"";
    std::istringstream lines(home.body);
    std::string text;
    bool found = false;
    while (std::getline(lines, text))
        found = found || text.find(line) != std::string::npos;
    EXPECT_TRUE(found) << home.body;
    EXPECT_EQ(sim_->token().size(), 32u);
    std::size_t meta = home.body.find("<meta charset=\"utf-8\">");
    EXPECT_LT(meta, 1024u);
    EXPECT_NE(home.body.find("width: 1160px"), std::string::npos);
    EXPECT_NE(home.body.find("class=\"avatar\""), std::string::npos);
    EXPECT_NE(home.body.find("zoë"), std::string::npos);
}

TEST_F(Service, ListNeedsBothLoginCookiesAndAnExistingDirectory) {
    start({{"files", json::array({file("/docs/a.txt", 1)})}, {"dirs", json::array({"/empty"})}});
    struct Case {
        std::string target;
        std::string cookies;
        int errno_value;
    } cases[] = {
        {list_url(url_, "/"), "", -6},
        {list_url(url_, "/"), "PANWEB=1", -6},
        {list_url(url_, "/"), "NBSID=" + cookies_.substr(cookies_.find("NBSID=") + 6), -6},
        {list_url(url_, "/nowhere"), cookies_, -9},
        {list_url(url_, "/docs/a.txt"), cookies_, -9},
        {list_url(url_, "/docs/"), cookies_, -9},
        {list_url(url_, "docs"), cookies_, -9},
        {url_ + "/api/list?order=time", cookies_, 2},
        {url_ + "/api/list?dir=%2", cookies_, 2},
        {list_url(url_, "/", 0), cookies_, 2},
        {list_url(url_, "/", 1001), cookies_, 2},
        {list_url(url_, "/", 1, 0), cookies_, 2},
        {url_ + "/api/list?dir=%2F&num=ten", cookies_, 2},
        {list_url(url_, "/empty"), cookies_, 0},
        {list_url(url_, "/docs"), cookies_, 0},
        {list_url(url_, "/", 1000), cookies_, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + " / " + c.cookies);
        HttpReply reply = http(c.target, c.cookies);
        EXPECT_EQ(reply.status, 200);
        json body = reply.json();
        ASSERT_TRUE(body.is_object()) << reply.body;
        EXPECT_EQ(body["errno"], c.errno_value);
        EXPECT_TRUE(body.contains("request_id"));
    }
    EXPECT_EQ(list("/empty").json()["list"], json::array());
}

TEST_F(Service, ListsNewestFirstWithTiesByNameAndEveryMember) {
    start(
        {{"files", json::array({file("/d/old.txt", 100), file("/d/b.txt", 300), file("/d/a.txt", 300),
                                file("/d/sub/x.txt", 200, digest_b, 7), file("/d/new.txt", 400, digest_b)})},
         {"dirs", json::array({json{{"path", "/d/later"}, {"mtime", 500}}})}});
    json body = list("/d").json();
    ASSERT_EQ(body["errno"], 0);
    std::vector<std::string> names;
    for (const json& e : body["list"])
        names.push_back(e["server_filename"]);
    EXPECT_EQ(names, (std::vector<std::string>{"later", "new.txt", "a.txt", "b.txt", "sub", "old.txt"}));

    for (const json& e : body["list"]) {
        SCOPED_TRACE(e.dump());
        EXPECT_EQ(e["unlist"], 0);
        EXPECT_EQ(e["path"], "/d/" + e["server_filename"].get<std::string>());
        for (const char* key : {"isdir", "size", "server_mtime", "fs_id"})
            EXPECT_TRUE(e[key].is_number()) << key;
        EXPECT_EQ(e.contains("md5"), e["isdir"] == 0);
    }
    EXPECT_EQ(body["list"][1]["md5"], digest_b);
    EXPECT_EQ(body["list"][4]["server_mtime"], 200); // a directory takes its newest content's time
    std::set<std::uint64_t> ids;
    for (const json& e : body["list"])
        ids.insert(e["fs_id"].get<std::uint64_t>());
    EXPECT_EQ(ids.size(), 6u);

    // Other orders are accepted as well: by name, ascending.
    json by_name = http(url_ + "/api/list?dir=%2Fd&order=name", cookies_).json();
    EXPECT_EQ(by_name["list"][0]["server_filename"], "a.txt");
    EXPECT_EQ(by_name["list"][5]["server_filename"], "sub");
}

TEST_F(Service, PagesOfAHundredAndThirty) {
    json files = json::array();
    for (int i = 0; i < 130; ++i)
        files.push_back(file("/big/f" + std::to_string(i), 1000 + i));
    for (int i = 0; i < 100; ++i)
        files.push_back(file("/hundred/f" + std::to_string(i), 1000 + i));
    start({{"files", files}});

    auto names = [](const HttpReply& reply) {
        std::vector<std::string> out;
        json body = reply.json();
        for (const json& e : body["list"])
            out.push_back(e["server_filename"]);
        return out;
    };
    auto first = names(list("/big", 100, 1));
    auto second = names(list("/big", 100, 2));
    ASSERT_EQ(first.size(), 100u);
    ASSERT_EQ(second.size(), 30u);
    EXPECT_EQ(first.front(), "f129"); // newest first
    EXPECT_EQ(second.back(), "f0");
    std::set<std::string> all(first.begin(), first.end());
    all.insert(second.begin(), second.end());
    EXPECT_EQ(all.size(), 130u);
    EXPECT_TRUE(names(list("/big", 100, 3)).empty());
    EXPECT_EQ(names(list("/big", 1000, 1)).size(), 130u);

    EXPECT_EQ(names(list("/hundred", 100, 1)).size(), 100u);
    EXPECT_TRUE(names(list("/hundred", 100, 2)).empty());
    EXPECT_EQ(names(list("/hundred", 7, 15)).size(), 2u);
}

TEST_F(Service, SpecialPathsRoundTripThroughListAndDelete) {
    const std::vector<std::string> paths = {
        "/a b+c.txt",          "/100% sure.txt",  "/quote\" and 'single'.txt",
        "/back\\slash\\",      "/emoji 😀 𠀋.png", "/中文 目录/照片 %2F 1.jpg",
        "/amp&eq=hash#q?.txt", "/plus+/+x"};
    json files = json::array();
    for (std::size_t i = 0; i < paths.size(); ++i)
        files.push_back(file(paths[i], 10 + static_cast<int>(i)));
    SimulatorOptions options;
    options.delete_interval_ms = 0;
    start({{"files", files}}, options);

    std::set<std::string> listed;
    for (const std::string& dir : {std::string("/"), std::string("/中文 目录"), std::string("/plus+")}) {
        json body = list(dir).json();
        ASSERT_EQ(body["errno"], 0) << dir;
        for (const json& e : body["list"]) {
            if (e["isdir"] == 0)
                listed.insert(e["path"].get<std::string>());
        }
    }
    EXPECT_EQ(listed, std::set<std::string>(paths.begin(), paths.end()));

    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        // The program's own body form holds the path inside a JSON string: valid for paths without
        // quotes and backslashes; a client escapes those (here through the JSON array form).
        bool plain = path.find_first_of("\"\\") == std::string::npos;
        HttpReply reply = remove(plain ? delete_body(path) : delete_body(std::vector<std::string>{path}));
        EXPECT_EQ(reply.body.rfind("{\"errno\":0,\"info\":[],\"request_id\":", 0), 0u) << reply.body;
    }
    std::vector<std::string> recycled;
    for (const auto& e : sim_->recycle_bin())
        recycled.push_back(e.path);
    EXPECT_EQ(recycled, paths);
    EXPECT_EQ(sim_->file_count(), 0u);
}

TEST_F(Service, DeleteAnswersAndEffects) {
    SimulatorOptions options;
    options.delete_interval_ms = 0;
    start({{"files", json::array({file("/keep.txt", 1), file("/x.txt", 2), file("/y.txt", 3, digest_b, 9),
                                  file("/dir/one.txt", 4), file("/dir/sub/two.txt", 5)})}},
          options);
    const std::string token = sim_->token();
    const std::string query = delete_url(url_, token);

    struct Case {
        std::string url;
        std::string cookies;
        std::string body;
        int errno_value;
    } refused[] = {
        {query, "", delete_body("/x.txt"), -6},
        {query, "PANWEB=1", delete_body("/x.txt"), -6},
        {delete_url(url_, ""), cookies_, delete_body("/x.txt"), -6},
        {delete_url(url_, "0" + token.substr(1)), cookies_, delete_body("/x.txt"), -4},
        {url_ + "/api/filemanager?opera=rename&bdstoken=" + token, cookies_, delete_body("/x.txt"), 2},
        {query, cookies_, "filelist=%5B%22%2Fx.txt", 2},
        {query, cookies_, "filelist=%5B%5D", 2},
        {query, cookies_, "filelist=%5B1%5D", 2},
        {query, cookies_, "filelist=%7B%7D", 2},
        {query, cookies_, "other=1", 2},
        {query, cookies_, delete_body("/"), 2},
        {query, cookies_, delete_body(std::vector<std::string>{"/x.txt", "/nowhere"}), 12},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.url + " " + c.body);
        json body = http(c.url, c.cookies, true, c.body).json();
        EXPECT_EQ(body["errno"], c.errno_value);
    }
    EXPECT_EQ(sim_->file_count(), 5u);
    EXPECT_TRUE(sim_->recycle_bin().empty());

    // Errno 12 names every path with its own errno.
    json missing = remove(delete_body(std::vector<std::string>{"/x.txt", "/nowhere"})).json();
    EXPECT_EQ(missing["info"],
              json::parse(R"([{"errno":0,"path":"/x.txt"},{"errno":-9,"path":"/nowhere"}])"));

    HttpReply done = remove(delete_body("/y.txt"));
    EXPECT_EQ(done.body.rfind("{\"errno\":0,\"info\":[],\"request_id\":", 0), 0u);
    EXPECT_TRUE(done.json()["taskid"].is_number());
    EXPECT_EQ(remove(delete_body("/y.txt")).json()["errno"], 12); // gone already

    // A directory goes with its contents, as one recycle-bin entry; a path inside it in the same list
    // is gone with it.
    EXPECT_EQ(remove(delete_body(std::vector<std::string>{"/dir", "/dir/sub/two.txt"})).json()["errno"], 0);
    EXPECT_EQ(list("/dir").json()["errno"], -9);
    EXPECT_EQ(sim_->file_paths(), (std::vector<std::string>{"/keep.txt", "/x.txt"}));
    auto bin = sim_->recycle_bin();
    ASSERT_EQ(bin.size(), 2u);
    EXPECT_EQ(bin[0].path, "/y.txt");
    EXPECT_EQ(bin[0].md5, digest_b);
    EXPECT_EQ(bin[0].size, 9u);
    EXPECT_EQ(bin[1].path, "/dir");
    EXPECT_TRUE(bin[1].is_directory);
    EXPECT_EQ(bin[1].files, 2u);

    json s = state();
    EXPECT_EQ(s["files"], json::array({"/keep.txt", "/x.txt"}));
    EXPECT_EQ(s["recycle"][0]["path"], "/y.txt");
    EXPECT_EQ(s["recycle"][1]["isdir"], 1);
}

TEST_F(Service, DeletesSoonerThanTheIntervalFail) {
    SimulatorOptions options;
    options.delete_interval_ms = 400;
    start({{"files", json::array({file("/a", 1), file("/b", 2), file("/c", 3)})}}, options);

    EXPECT_EQ(remove(delete_body("/a")).json()["errno"], 0);
    json fast = remove(delete_body("/b")).json();
    EXPECT_EQ(fast["errno"], 111);
    EXPECT_EQ(sim_->file_count(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    EXPECT_EQ(remove(delete_body("/b")).json()["errno"], 0);

    // Ten at once: one goes through.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    std::atomic<int> ok{0}, too_fast{0}, other{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 10; ++i) {
        threads.emplace_back([&] {
            int e = remove(delete_body("/c")).json()["errno"];
            ++(e == 0 ? ok : e == 111 ? too_fast : other);
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(too_fast, 9);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(state()["outcomes"]["delete_too_fast"], 10);
}

TEST_F(Service, FaultsFromTheAccount) {
    start({{"files", json::array({file("/gone/a", 1), file("/html/a", 1), file("/slow/a", 1),
                                  file("/drop/a", 1), file("/twice/a", 1), file("/file.txt", 1)})},
           {"faults",
            {{"/gone", {{"errno", -9}}},
             {"/html", {{"body", "<html>502</html>"}, {"status", 502}}},
             {"/slow", {{"delay_ms", 300}}},
             {"/drop", {{"drop", true}}},
             {"/twice", {{"errno", 31034}, {"times", 2}}},
             {"/file.txt", {{"errno", 12}}}}}});

    EXPECT_EQ(list("/gone").json()["errno"], -9);
    HttpReply html = list("/html");
    EXPECT_EQ(html.status, 502);
    EXPECT_EQ(html.body, "<html>502</html>");
    HttpReply slow = list("/slow");
    EXPECT_EQ(slow.json()["errno"], 0);
    EXPECT_GE(slow.seconds, 0.3);
    HttpReply dropped = list("/drop");
    EXPECT_NE(dropped.code, CURLE_OK);
    EXPECT_TRUE(dropped.body.empty());
    EXPECT_EQ(list("/twice").json()["errno"], 31034);
    EXPECT_EQ(list("/twice").json()["errno"], 31034);
    EXPECT_EQ(list("/twice").json()["errno"], 0);
    // A fault of a file meets its delete, which then changes nothing.
    EXPECT_EQ(remove(delete_body("/file.txt")).json()["errno"], 12);
    EXPECT_EQ(sim_->file_count(), 6u);
    EXPECT_EQ(list("/").json()["errno"], 0); // the server is still there after the drop
}

TEST_F(Service, ErrorRateIsDeterministicForASeed) {
    json files = json::array();
    for (int d = 0; d < 20; ++d)
        files.push_back(file("/d" + std::to_string(d) + "/f", d));
    auto outcomes = [&](std::uint64_t seed, double rate) {
        SimulatorOptions options;
        options.seed = seed;
        options.error_rate = rate;
        start({{"files", files}}, options);
        std::string seen;
        for (int round = 0; round < 3; ++round) {
            for (int d = 0; d < 20; ++d) {
                HttpReply reply = list("/d" + std::to_string(d));
                json body = reply.json();
                seen += body.is_object() && body["errno"] == 0 ? '.' : 'x';
            }
        }
        sim_->stop();
        return seen;
    };
    std::string first = outcomes(7, 0.3);
    EXPECT_EQ(outcomes(7, 0.3), first);
    EXPECT_NE(outcomes(8, 0.3), first);
    std::size_t faults = std::count(first.begin(), first.end(), 'x');
    EXPECT_GT(faults, 5u);
    EXPECT_LT(faults, 35u);
    EXPECT_EQ(outcomes(7, 1.0), std::string(60, 'x'));
    EXPECT_EQ(outcomes(7, 0.0), std::string(60, '.'));
}

TEST_F(Service, InjectedDeleteFaultsNeverLookLikeSuccess) {
    json files = json::array();
    for (int i = 0; i < 30; ++i)
        files.push_back(file("/f" + std::to_string(i), i));
    SimulatorOptions options;
    options.error_rate = 1.0;
    options.delete_interval_ms = 0;
    start({{"files", files}}, options);
    for (int i = 0; i < 30; ++i) {
        HttpReply reply = remove(delete_body("/f" + std::to_string(i)));
        EXPECT_EQ(reply.body.find("{\"errno\":0,\"info\":[],\""), std::string::npos) << reply.body;
    }
    EXPECT_EQ(sim_->file_count(), 30u);
}

TEST_F(Service, LatencyDelaysEveryRequest) {
    SimulatorOptions options;
    options.latency_ms = 150;
    options.jitter_ms = 50;
    start({{"files", json::array({file("/a", 1)})}}, options);
    for (const std::string& target : {url_ + "/disk/home", list_url(url_, "/")})
        EXPECT_GE(http(target, cookies_).seconds, 0.15) << target;
}

TEST_F(Service, RequestLogMasksCookiesAndPasswords) {
    std::string log_path = ::testing::TempDir() + "sim-request-log.jsonl";
    SimulatorOptions options;
    options.log_file = log_path;
    options.password = "hunter2";
    start({{"files", json::array({file("/a b", 1)})}}, options);
    http(url_ + "/passport/login", {}, true, "username=demo&password=hunter2");
    list("/");
    remove(delete_body("/a b"));
    sim_->stop();

    std::ifstream in(log_path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("hunter2"), std::string::npos);
    std::string session = cookies_.substr(cookies_.find("NBSID=") + 6);
    EXPECT_EQ(text.find(session), std::string::npos);

    std::istringstream lines(text);
    std::vector<json> entries;
    for (std::string line; std::getline(lines, line);)
        entries.push_back(json::parse(line));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]["method"], "POST");
    EXPECT_EQ(entries[0]["target"], "/passport/login");
    EXPECT_EQ(entries[0]["body"], "username=demo&password=***");
    EXPECT_EQ(entries[1]["method"], "GET");
    EXPECT_EQ(entries[1]["target"], list_url("", "/"));
    bool cookie_seen = false;
    for (const json& h : entries[1]["headers"]) {
        if (h[0] == "Cookie") {
            cookie_seen = true;
            EXPECT_EQ(h[1], "PANWEB=***; NBSID=***");
        }
    }
    EXPECT_TRUE(cookie_seen);
    EXPECT_EQ(entries[2]["body"], delete_body("/a b"));
    EXPECT_EQ(entries[2]["errno"], 0);
}

TEST_F(Service, StateCountsRequestsByKind) {
    start({{"files", json::array({file("/a", 1)})}});
    http(url_ + "/disk/home");
    list("/");
    list("/");
    http(url_ + "/nothing/here");
    json counts = json::parse(http(url_ + "/sim/state?files=0").body)["requests"];
    EXPECT_EQ(counts["home"], 1);
    EXPECT_EQ(counts["list"], 2);
    EXPECT_EQ(counts["other"], 1);
    EXPECT_EQ(counts["state"], 1);
    EXPECT_FALSE(json::parse(http(url_ + "/sim/state?files=0").body).contains("files"));
}

TEST_F(Service, AccountCanBeReplacedOverHttp) {
    start({{"files", json::array({file("/a", 1)})}});
    HttpReply bad = http(url_ + "/sim/account", {}, true, "{\"files\":[{\"path\":\"relative\"}]}");
    EXPECT_EQ(bad.status, 400);
    EXPECT_NE(bad.json()["error"].get<std::string>().find("relative"), std::string::npos);
    HttpReply good =
        http(url_ + "/sim/account", {}, true, json{{"files", json::array({file("/b/c", 1)})}}.dump());
    EXPECT_EQ(good.status, 200);
    EXPECT_EQ(sim_->file_paths(), std::vector<std::string>{"/b/c"});
}

TEST_F(Service, ServesManyConnectionsAtOnce) {
    json files = json::array();
    for (int i = 0; i < 50; ++i)
        files.push_back(file("/d/f" + std::to_string(i), i));
    start({{"files", files}});
    // 80 clients at once, each keeping its connection open for five requests, then each making a new
    // connection per request (as the program does: one WinHttpOpen per request).
    constexpr int clients = 80;
    for (long reuse : {1L, 0L}) {
        SCOPED_TRACE(reuse ? "keep-alive" : "a connection per request");
        std::atomic<int> good{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&] {
                CURL* curl = curl_easy_init();
                std::string body;
                std::string url = list_url(url_, "/d");
                curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
                curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
                curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 20000L);
                curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L - reuse);
                curl_easy_setopt(curl, CURLOPT_COOKIE, cookies_.c_str());
                curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect_text);
                curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
                for (int r = 0; r < 5; ++r) {
                    body.clear();
                    if (curl_easy_perform(curl) == CURLE_OK &&
                        json::parse(body, nullptr, false)["errno"] == 0)
                        ++good;
                }
                curl_easy_cleanup(curl);
            });
        }
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(good, clients * 5);
    }
}

TEST(SimulatorLifecycle, StartsStopsAndRestartsOnAFreePort) {
    SimulatorOptions options;
    options.generator.files = 10;
    options.generator.directories = 3;
    Simulator sim(options);
    int port = sim.start();
    ASSERT_GT(port, 0) << sim.error();
    EXPECT_EQ(sim.url(), "http://127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(http(sim.url() + "/sim/state").status, 200);
    sim.stop();
    sim.stop();
    EXPECT_FALSE(sim.running());
    EXPECT_NE(http(sim.url() + "/sim/state").code, CURLE_OK);
    ASSERT_GT(sim.start(), 0) << sim.error();
    EXPECT_EQ(http(sim.url() + "/sim/state").status, 200);

    // A taken port is an error, not a crash.
    SimulatorOptions same = options;
    same.port = sim.port();
    Simulator second(same);
    EXPECT_EQ(second.start(), 0);
    EXPECT_NE(second.error().find("cannot listen"), std::string::npos);
}

} // namespace
