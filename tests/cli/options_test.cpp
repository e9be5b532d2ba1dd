// The client's command line, cookie rules and report, in-process and without a service.
#include "cli/client.h"
#include "cli/console.h"
#include "cli/options.h"
#include "cli/report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

namespace vestrel::cli {
namespace {

struct Capture : Console {
    std::string out, err, input;
    std::map<std::string, std::string> env;
    void write_out(std::string_view t) override { out += t; }
    void write_err(std::string_view t) override { err += t; }
    std::string read_input() override { return input; }
    bool err_is_terminal() override { return false; }
    std::string environment(const char* name) override { return env.count(name) ? env[name] : ""; }
    bool interrupted() override { return false; }
    std::string_view line_end() override { return platform_line_end(); }
};

TEST(ClientOptions, ReadsEverySettingAndItsDefaults) {
    CommandLine line;
    std::string message;
    ASSERT_TRUE(parse_command_line({"run"}, line, message));
    EXPECT_EQ(line.settings.origin, "https://pan.nimbara.com");
    EXPECT_EQ(line.settings.threads, 20);
    EXPECT_EQ(line.settings.delay_text, "500");
    EXPECT_EQ(line.settings.pause_ms, 50);
    EXPECT_FALSE(line.settings.skip_errors || line.settings.output_duplicates || line.settings.dry_run);
    ASSERT_TRUE(parse_command_line({"run", "--service", "http://127.0.0.1:9/", "--threads=12x", "--delay",
                                    " 7abc", "--skip-errors", "--output-duplicates", "--dry-run", "--report",
                                    "r.json", "--pause-ms", "0", "--cookies-file", "-"},
                                   line, message))
        << message;
    EXPECT_EQ(line.settings.origin, "http://127.0.0.1:9");
    EXPECT_EQ(line.settings.threads, 12);
    EXPECT_EQ(line.settings.delay_text, " 7abc");
    EXPECT_TRUE(line.settings.skip_errors && line.settings.output_duplicates && line.settings.dry_run);
    EXPECT_EQ(line.settings.report_file, "r.json");
    EXPECT_EQ(line.settings.pause_ms, 0);
    EXPECT_EQ(line.settings.cookies_file, "-");
}

TEST(ClientOptions, BadUsageExitsWith64AndOneClearLine) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"scan"},
        {"run", "--bogus"},
        {"run", "--threads"},
        {"run", "--service", "pan.nimbara.com"},
        {"run", "--pause-ms", "-1"},
        {"run", "--cookie", "PANWEB=1"},
        {"run", "--dry-run=yes"},
        {"demo", "--delay", "5"},
    };
    for (const auto& args : bad) {
        Capture console;
        EXPECT_EQ(client_main(args, console), exit_usage) << (args.empty() ? "" : args.back());
        EXPECT_EQ(console.err.rfind("vestrel: ", 0), 0u) << console.err;
        EXPECT_TRUE(console.out.empty());
    }
}

TEST(ClientOptions, FewerThanTenThreadsGetTheHint) {
    for (std::string threads : {"9", "", "abc", "-20"}) {
        Capture console;
        console.env["VESTREL_COOKIES"] = "PANWEB=1";
        EXPECT_EQ(client_main({"run", "--threads", threads}, console), exit_usage);
        std::string end(platform_line_end());
        EXPECT_EQ(console.err,
                  "为保证多线程稳定性,线程数不得低于 10 条." + end + "推荐食用 10-20 条线程数哦!" + end);
    }
}

TEST(ClientOptions, LoginCookiesMustHoldPanweb) {
    std::string end(platform_line_end());
    {
        Capture console; // nothing anywhere
        EXPECT_EQ(client_main({"run"}, console), exit_no_cookie);
        EXPECT_EQ(console.err, "读取网盘参数失败,请重试!" + end);
    }
    {
        Capture console;
        console.input = "BDUSS=1; other=2\n";
        EXPECT_EQ(client_main({"run", "--cookies-file", "-"}, console), exit_no_cookie);
        EXPECT_EQ(console.err, "读取网盘参数失败,请重试!" + end);
    }
    {
        Capture console;
        EXPECT_EQ(client_main({"run", "--cookies-file", "no/such/file"}, console), exit_no_cookie);
        EXPECT_NE(console.err.find("cannot read the cookie file no/such/file"), std::string::npos);
    }
}

TEST(ClientReport, IsWrittenWholeOverAnOldFile) {
    auto path = (std::filesystem::temp_directory_path() / "vestrel-report-test.json").string();
    {
        std::ofstream old(path);
        old << "old";
    }
    ScanState state;
    state.duplicate_list = {"/a \"q\".txt", "/b"};
    state.duplicate_details = {{"m1", "/keep", DeleteOutcome::deleted, {}},
                               {"m2", "/keep2", DeleteOutcome::failed, "errno 111"}};
    state.deleted_count = 1;
    state.failed_count = 1;
    state.listing_errors = {"bad \xff bytes"};
    RunSettings settings;
    std::string message;
    ASSERT_TRUE(write_file_atomically(path, report_json(settings, state, RunOutcome::finished, 1.5), message))
        << message;
    nlohmann::json report;
    {
        std::ifstream in(path);
        report = nlohmann::json::parse(in);
    }
    EXPECT_EQ(report["origin"], "https://pan.nimbara.com");
    EXPECT_EQ(report["counts"]["deleted"], 1);
    EXPECT_EQ(report["counts"]["failed"], 1);
    EXPECT_EQ(report["duplicates"][0]["path"], "/a \"q\".txt");
    EXPECT_EQ(report["duplicates"][0]["outcome"], "deleted");
    EXPECT_EQ(report["duplicates"][1]["error"], "errno 111");
    EXPECT_EQ(report["listing_errors"].size(), 1u);
    std::filesystem::remove(path);
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
        EXPECT_EQ(entry.path().filename().string().find("vestrel-report-test.json.tmp"), std::string::npos);
}

} // namespace
} // namespace vestrel::cli
