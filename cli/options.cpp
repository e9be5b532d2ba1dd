#include "cli/options.h"

#include "engine/slimming.h"

#include <charconv>

namespace vestrel::cli {

namespace {

bool whole_number(const std::string& text, std::uint64_t& value) {
    if (text.empty())
        return false;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

} // namespace

std::string usage_text() {
    return "usage: vestrel run [--service ORIGIN] [--cookies-file FILE|-] [--threads N] [--delay MS]\n"
           "                   [--skip-errors] [--output-duplicates] [--dry-run] [--report FILE]\n"
           "                   [--pause-ms N] [--timeout S]\n"
           "       vestrel demo [--files N] [--directories N] [--seed N] [--threads N] [--report FILE]\n"
           "                    [--output-duplicates]\n"
           "       vestrel --help | --version\n"
           "\n"
           "run    removes duplicate files from a Nimbara account: every file whose md5 another file has is\n"
           "       deleted, one copy of each stays. The login cookies come from --cookies-file (\"-\" reads\n"
           "       standard input) or the environment variable VESTREL_COOKIES, never from the command "
           "line.\n"
           "       The log goes to standard error, the list output to standard output.\n"
           "demo   runs against a built-in simulated account on 127.0.0.1 and checks the result.\n"
           "\n"
           "  --service ORIGIN     the service's origin (default https://pan.nimbara.com)\n"
           "  --threads N          worker threads, at least 10 (default 20)\n"
           "  --delay MS           pause after each delete request (default 500)\n"
           "  --skip-errors        go on when a directory cannot be listed\n"
           "  --output-duplicates  write every duplicate's path to standard output\n"
           "  --dry-run            send no delete request; list what would go and what stays\n"
           "  --report FILE        write a JSON account of the run to FILE\n"
           "  --pause-ms N         the engine's short pauses (default 50)\n"
           "  --timeout S          time-out of each request in seconds (default 30)\n"
           "\n"
           "exit codes: 0 finished, 2 no login cookie, 3 no token, 4 listing error, 5 root not listed,\n"
           "            6 demo check failed, 64 bad usage, 130 interrupted\n";
}

bool parse_command_line(const std::vector<std::string>& args, CommandLine& out, std::string& message) {
    out = CommandLine();
    if (args.empty()) {
        message = "a command is needed: run or demo";
        return false;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out.command = Command::help;
        return true;
    }
    if (command == "--version" || command == "version") {
        out.command = Command::version;
        return true;
    }
    if (command == "run")
        out.command = Command::run;
    else if (command == "demo")
        out.command = Command::demo;
    else {
        message = "unknown command \"" + command + "\"";
        return false;
    }
    const bool demo = out.command == Command::demo;
    RunSettings& s = out.settings;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_value = false;
        std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            has_value = true;
        }
        auto take_value = [&]() -> bool {
            if (has_value)
                return true;
            if (i + 1 >= args.size()) {
                message = name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto flag = [&](bool& target) -> bool {
            if (has_value) {
                message = name + " takes no value";
                return false;
            }
            target = true;
            return true;
        };
        if (name == "--help" || name == "-h") {
            out.command = Command::help;
            return true;
        }
        if (name == "--threads") {
            if (!take_value())
                return false;
            s.threads = read_decimal(value);
        } else if (name == "--report") {
            if (!take_value())
                return false;
            if (value.empty()) {
                message = "--report needs a file name";
                return false;
            }
            s.report_file = value;
        } else if (name == "--output-duplicates") {
            if (!flag(s.output_duplicates))
                return false;
        } else if (!demo && name == "--service") {
            if (!take_value())
                return false;
            if (!is_valid_origin(value)) {
                message =
                    "--service needs an origin such as https://pan.nimbara.com or http://127.0.0.1:8080, "
                    "not \"" +
                    value + "\"";
                return false;
            }
            s.origin = normalise_origin(value);
            s.origin_given = true;
        } else if (!demo && name == "--cookies-file") {
            if (!take_value())
                return false;
            if (value.empty()) {
                message = "--cookies-file needs a file name or -";
                return false;
            }
            s.cookies_file = value;
            s.cookies_from_file = true;
        } else if (!demo && name == "--delay") {
            if (!take_value())
                return false;
            s.delay_text = value;
        } else if (!demo && name == "--skip-errors") {
            if (!flag(s.skip_errors))
                return false;
        } else if (!demo && name == "--dry-run") {
            if (!flag(s.dry_run))
                return false;
        } else if (!demo && (name == "--pause-ms" || name == "--timeout")) {
            if (!take_value())
                return false;
            std::uint64_t number = 0;
            if (!whole_number(value, number) || number > 600000) {
                message = name + " needs a whole number from 0 to 600000, not \"" + value + "\"";
                return false;
            }
            (name == "--pause-ms" ? s.pause_ms : s.timeout_seconds) = static_cast<std::int32_t>(number);
        } else if (demo && (name == "--files" || name == "--directories" || name == "--seed")) {
            if (!take_value())
                return false;
            std::uint64_t number = 0;
            std::uint64_t limit = name == "--seed" ? UINT64_MAX : 1000000;
            if (!whole_number(value, number) || number > limit || (name == "--directories" && number == 0)) {
                message = name + " needs a whole number, not \"" + value + "\"";
                return false;
            }
            if (name == "--files")
                s.demo_files = static_cast<std::uint32_t>(number);
            else if (name == "--directories")
                s.demo_directories = static_cast<std::uint32_t>(number);
            else
                s.demo_seed = number;
        } else if (name.rfind("--cookie", 0) == 0 && !demo) {
            message = "login cookies are never taken from the command line: use --cookies-file FILE, "
                      "--cookies-file - or VESTREL_COOKIES";
            return false;
        } else {
            message = "unknown option \"" + args[i] + "\" for " + command;
            return false;
        }
    }
    return true;
}

} // namespace vestrel::cli
