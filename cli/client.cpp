#include "cli/client.h"

#include "cli/console.h"
#include "cli/console_view.h"
#include "cli/options.h"
#include "cli/report.h"
#include "engine/engine_version.h"
#include "engine/service_http.h"
#include "engine/slimming.h"
#include "web/encodings.h"
#include "web/http_request.h"

#ifdef VESTREL_HAVE_SIMULATOR
#include "sim/simulator.h"
#endif

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

namespace vestrel::cli {

// ---- the process's console ------------------------------------------------------------------------------

void SystemConsole::write_out(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void SystemConsole::write_err(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::string SystemConsole::read_input() {
    std::string text;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
        text.append(buffer, got);
    return text;
}

bool SystemConsole::err_is_terminal() {
    return is_terminal(2);
}
std::string SystemConsole::environment(const char* name) {
    return environment_variable(name);
}
bool SystemConsole::interrupted() {
    return interrupt_requested();
}
std::string_view SystemConsole::line_end() {
    return platform_line_end();
}

namespace {

std::string trim(std::string text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.back()))
        text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && blank(text[start]))
        ++start;
    return text.substr(start);
}

bool read_file(const std::string& path, std::string& text) {
    std::FILE* file = open_file(path, "rb");
    if (file == nullptr)
        return false;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

struct SessionResult {
    RunOutcome outcome = RunOutcome::finished;
    int exit_code = exit_finished;
};

// One slimming run with the given settings and login cookies, from the start to the report.
SessionResult run_session(const RunSettings& settings, const std::string& cookies, Console& console,
                          ScanState& state) {
    state.login_cookies = cookies;
    ConsoleView view(console, settings, state);
    HttpRequestService http;
    SlimmingOptions options;
    options.origin = settings.origin;
    options.pause_ms = settings.pause_ms;
    options.http_timeout_seconds = settings.timeout_seconds;
    options.dry_run = settings.dry_run;
    SlimmingRun run(state, view, http, options);

    auto started = std::chrono::steady_clock::now();
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    RunOutcome outcome = RunOutcome::finished;
    std::thread runner([&] {
        RunOutcome result = run.run_slimming(settings.threads);
        std::lock_guard<std::mutex> guard(lock);
        outcome = result;
        done = true;
        ended.notify_all();
    });
    // The data timer: every 150 ms the status line, and a look at the interrupt key.
    bool stop_sent = false;
    {
        std::unique_lock<std::mutex> guard(lock);
        while (!done) {
            ended.wait_for(guard, std::chrono::milliseconds(150));
            if (done)
                break;
            guard.unlock();
            view.refresh_status();
            if (!stop_sent && console.interrupted()) {
                stop_sent = true;
                view.note("vestrel: stopping: waiting for the requests in flight");
                run.request_stop();
            }
            guard.lock();
        }
    }
    runner.join();
    view.finish_status();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    SessionResult result;
    result.outcome = outcome;
    switch (outcome) {
    case RunOutcome::finished:
        result.exit_code = exit_finished;
        break;
    case RunOutcome::token_failed:
        view.note(outcome_message(outcome));
        result.exit_code = exit_no_token;
        break;
    case RunOutcome::listing_failed:
        view.note(outcome_message(outcome));
        result.exit_code = exit_listing_error;
        break;
    case RunOutcome::root_failed:
        view.note("vestrel: the root directory could not be listed (" +
                  (run.root_status().empty() ? std::string("no answer") : one_line(run.root_status())) + ")");
        result.exit_code = exit_no_root;
        break;
    case RunOutcome::stopped:
        view.note("vestrel: stopped before the end; nothing more was sent");
        result.exit_code = exit_interrupted;
        break;
    }

    if (settings.dry_run && outcome == RunOutcome::finished) {
        std::string_view end = console.line_end();
        std::string text = std::string(end) + "[dry run: would delete, keeping]" + std::string(end);
        for (std::size_t i = 0; i < state.duplicate_list.size(); ++i)
            text += state.duplicate_list[i] + "\t" + state.duplicate_details[i].kept_path + std::string(end);
        console.write_out(text);
    }
    if (outcome != RunOutcome::token_failed) {
        std::string summary = "vestrel: " + std::to_string(state.directory_count.load()) + " directories, " +
                              std::to_string(state.file_count.load()) + " files, " +
                              std::to_string(state.duplicate_list.size()) + " duplicates, ";
        if (settings.dry_run)
            summary += std::to_string(state.duplicate_list.size()) + " planned (dry run), 0 deleted";
        else
            summary += std::to_string(state.deleted_count.load()) + " deleted, " +
                       std::to_string(state.failed_count.load()) + " failed";
        view.note(summary + " in " + seconds_text(seconds));
    }
    if (!settings.report_file.empty()) {
        std::string message;
        if (!write_file_atomically(settings.report_file, report_json(settings, state, outcome, seconds),
                                   message))
            view.note("vestrel: the report was not written: " + message);
    }
    return result;
}

int usage_error(Console& console, const std::string& message) {
    std::string end(console.line_end());
    console.write_err("vestrel: " + message + end + "run \"vestrel --help\" for the options" + end);
    return exit_usage;
}

int run_command(const RunSettings& settings, Console& console) {
    std::string end(console.line_end());
    std::string cookies;
    if (settings.cookies_from_file) {
        if (settings.cookies_file == "-") {
            cookies = console.read_input();
        } else if (!read_file(settings.cookies_file, cookies)) {
            console.write_err("vestrel: cannot read the cookie file " + settings.cookies_file + end);
            return exit_no_cookie;
        }
    } else {
        cookies = console.environment("VESTREL_COOKIES");
    }
    cookies = trim(cookies);
    if (cookies.find("PANWEB") == std::string::npos) {
        console.write_err("读取网盘参数失败,请重试!" + end);
        return exit_no_cookie;
    }
    ScanState state;
    return run_session(settings, cookies, console, state).exit_code;
}

#ifdef VESTREL_HAVE_SIMULATOR

// The files of an account text: path and md5.
std::map<std::string, std::string> account_files(const std::string& account) {
    std::map<std::string, std::string> files;
    auto doc = nlohmann::json::parse(account, nullptr, false);
    if (doc.is_object() && doc.contains("files"))
        for (const auto& item : doc["files"])
            if (item.is_object() && item.contains("path") && item.contains("md5"))
                files[item["path"].get<std::string>()] = item["md5"].get<std::string>();
    return files;
}

int demo_command(RunSettings settings, Console& console) {
    std::string end(console.line_end());
    SimulatorOptions options;
    options.generator.files = settings.demo_files;
    options.generator.directories = settings.demo_directories;
    options.generator.duplicate_share = 0.25;
    options.generator.large_directories = 1;
    options.seed = settings.demo_seed;
    options.delete_interval_ms = 10;
    Simulator simulator(options);
    if (simulator.start() == 0) {
        console.write_err("vestrel demo: the simulator could not start: " + simulator.error() + end);
        return exit_unavailable;
    }
    const std::map<std::string, std::string> before = account_files(simulator.account_json());
    std::map<std::string, std::size_t> copies_before;
    for (const auto& [path, md5] : before)
        ++copies_before[md5];
    console.write_err("vestrel demo: a simulated account at " + simulator.url() + ": " +
                      std::to_string(before.size()) + " files, " + std::to_string(copies_before.size()) +
                      " distinct digests" + end);

    // The login form, as a person would fill it in.
    std::string login_cookies, status;
    std::string form = "username=" + url_encode(simulator.user(), true, true) +
                       "&password=" + url_encode(simulator.password(), true, true);
    std::string ignored_cookies;
    http_request(simulator.url() + "/passport/login", 1, std::string_view(form), ignored_cookies,
                 login_cookies, {}, {}, true, {}, {}, {}, {}, {}, {}, {}, status);
    if (login_cookies.find("PANWEB") == std::string::npos) {
        console.write_err("vestrel demo: the login failed (" + one_line(status) + ")" + end);
        return exit_no_cookie;
    }
    console.write_err("vestrel demo: logged in as \"" + simulator.user() + "\"" + end);

    settings.origin = simulator.url();
    settings.pause_ms = 0;
    settings.delay_text = "40"; // the simulator refuses deletes less than 10 ms apart
    ScanState state;
    SessionResult result = run_session(settings, login_cookies, console, state);
    if (result.exit_code != exit_finished)
        return result.exit_code;

    // The check: every digest has exactly one copy left, and nothing else went.
    std::map<std::string, std::size_t> copies_after;
    std::size_t unknown = 0;
    for (const auto& path : simulator.file_paths()) {
        auto it = before.find(path);
        if (it == before.end())
            ++unknown;
        else
            ++copies_after[it->second];
    }
    std::size_t wrong = 0;
    for (const auto& [md5, count] : copies_before)
        if (copies_after[md5] != 1)
            ++wrong;
    std::size_t recycled_directories = 0;
    for (const auto& item : simulator.recycle_bin())
        recycled_directories += item.is_directory ? 1 : 0;
    std::size_t removed = before.size() - simulator.file_count();
    std::size_t expected_removed = before.size() - copies_before.size();
    if (wrong != 0 || unknown != 0 || recycled_directories != 0 || removed != expected_removed) {
        console.write_err("vestrel demo: check FAILED: " + std::to_string(wrong) +
                          " digests without exactly one copy, " + std::to_string(removed) +
                          " files removed of " + std::to_string(expected_removed) + " duplicates" + end);
        return exit_check_failed;
    }
    console.write_err("vestrel demo: check passed: each of the " + std::to_string(copies_before.size()) +
                      " digests has exactly one copy left; " + std::to_string(removed) +
                      " duplicates removed, nothing else" + end);
    return exit_finished;
}

#else

int demo_command(const RunSettings&, Console& console) {
    console.write_err("vestrel demo: the embedded simulator is part of the Linux build only; run nimbara-sim "
                      "and \"vestrel run --service http://127.0.0.1:PORT\" instead" +
                      std::string(console.line_end()));
    return exit_unavailable;
}

#endif

} // namespace

int client_main(const std::vector<std::string>& args, Console& console) {
    CommandLine command;
    std::string message;
    if (!parse_command_line(args, command, message))
        return usage_error(console, message);
    switch (command.command) {
    case Command::help:
        console.write_out(usage_text());
        return exit_finished;
    case Command::version:
        console.write_out(std::string("vestrel ") + engine_version() + std::string(console.line_end()));
        return exit_finished;
    default:
        break;
    }
    if (command.settings.threads < 10) {
        std::string hint = thread_count_hint;
        std::string_view end = console.line_end();
        if (end != "\r\n")
            hint.replace(hint.find("\r\n"), 2, end);
        console.write_err(hint + std::string(end));
        return exit_usage;
    }
    if (command.command == Command::demo)
        return demo_command(command.settings, console);
    return run_command(command.settings, console);
}

} // namespace vestrel::cli
