#pragma once
// The command line of vestrel.

#include "engine/service.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vestrel::cli {

// Exit codes.
inline constexpr int exit_finished = 0;
inline constexpr int exit_no_cookie = 2;
inline constexpr int exit_no_token = 3;
inline constexpr int exit_listing_error = 4;
inline constexpr int exit_no_root = 5;
inline constexpr int exit_check_failed = 6; // vestrel demo: the account is not as it should be afterwards
inline constexpr int exit_usage = 64;
inline constexpr int exit_unavailable = 69; // vestrel demo: the simulator cannot start
inline constexpr int exit_interrupted = 130;

enum class Command { run, demo, help, version };

struct RunSettings {
    std::string origin = std::string(default_service_origin);
    bool origin_given = false;
    bool cookies_from_file = false;
    std::string cookies_file; // "-" for standard input
    std::int32_t threads = 20;
    std::string delay_text = "500";
    bool skip_errors = false;
    bool output_duplicates = false;
    bool dry_run = false;
    std::string report_file;
    std::int32_t pause_ms = 50;
    std::int32_t timeout_seconds = 0;

    // vestrel demo only.
    std::uint32_t demo_files = 3000;
    std::uint32_t demo_directories = 300;
    std::uint64_t demo_seed = 7;
};

struct CommandLine {
    Command command = Command::help;
    RunSettings settings;
};

// Reads the arguments (program name excluded). False with a one-line message for bad usage. The thread
// count's lower bound is the caller's check (its message is the system's own).
bool parse_command_line(const std::vector<std::string>& args, CommandLine& out, std::string& message);

// The usage text.
std::string usage_text();

// The hint shown for a thread count below 10.
inline constexpr const char* thread_count_hint =
    "为保证多线程稳定性,线程数不得低于 10 条.\r\n推荐食用 10-20 条线程数哦!";

} // namespace vestrel::cli
