// The command line of nimbara-sim.
#include "sim/simulator.h"

#include <charconv>
#include <cstdlib>

namespace vestrel {

namespace {

const char* usage_text =
    "usage: nimbara-sim [--port N] [--account FILE | --generate SETTINGS] [--user U] [--password P]\n"
    "                   [--latency-ms N] [--jitter-ms N] [--delete-interval-ms N] [--error-rate P]\n"
    "                   [--seed N] [--log FILE] [--threads N] [--dump-account FILE]\n"
    "\n"
    "A local Nimbara service on 127.0.0.1. The first line written is \"listening on "
    "http://127.0.0.1:PORT\".\n"
    "  --port N                 port to listen on; 0 (the default) picks a free one\n"
    "  --account FILE           the account: {\"user\", \"password\", \"files\": [{\"path\", \"md5\", "
    "\"size\",\n"
    "                           \"mtime\"}], \"dirs\": [...], \"faults\": {\"/dir\": "
    "{\"errno\"|\"body\"|\"delay_ms\"|\"drop\"}}}\n"
    "  --generate SETTINGS      a generated account; SETTINGS is a comma-separated list of files=N, dirs=N,\n"
    "                           depth=N, duplicates=P, non_ascii=P, special=P, large=N (directories over\n"
    "                           100 entries); without --account the generator runs with its defaults\n"
    "  --user U, --password P   the login (default: the account's, else demo / demo)\n"
    "  --latency-ms N           added to every request; --jitter-ms N adds 0..N more\n"
    "  --delete-interval-ms N   a delete sooner than N ms after the previous one fails (default 100)\n"
    "  --error-rate P           share (0 to 1) of list and delete requests answered with a fault\n"
    "  --seed N                 seed of the generator, the jitter and the faults (default 1)\n"
    "  --log FILE               one JSON line per request\n"
    "  --threads N              connections served at once (default 256)\n"
    "  --dump-account FILE      write the account as an account file and exit\n";

bool whole_number(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty())
        return false;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && value >= low &&
           value <= high;
}

bool share(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && value >= 0.0 && value <= 1.0;
}

bool parse_generator(const std::string& settings, GeneratorOptions& g, std::string& message) {
    std::size_t start = 0;
    while (start <= settings.size()) {
        std::size_t end = settings.find(',', start);
        if (end == std::string::npos)
            end = settings.size();
        std::string item = settings.substr(start, end - start);
        start = end + 1;
        if (item.empty())
            continue;
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) {
            message = "--generate: \"" + item + "\" is not key=value";
            return false;
        }
        std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        long long n = 0;
        bool ok = true;
        if (key == "files") {
            ok = whole_number(value, 0, 50000000, n);
            g.files = static_cast<std::uint32_t>(n);
        } else if (key == "dirs" || key == "directories") {
            ok = whole_number(value, 1, 10000000, n);
            g.directories = static_cast<std::uint32_t>(n);
        } else if (key == "depth") {
            ok = whole_number(value, 0, 1000, n);
            g.depth = static_cast<std::uint32_t>(n);
        } else if (key == "large" || key == "large_dirs") {
            ok = whole_number(value, 0, 10000000, n);
            g.large_directories = static_cast<std::uint32_t>(n);
        } else if (key == "duplicates") {
            ok = share(value, g.duplicate_share);
        } else if (key == "non_ascii") {
            ok = share(value, g.non_ascii_share);
        } else if (key == "special") {
            ok = share(value, g.special_share);
        } else {
            message = "--generate: unknown setting \"" + key + "\"";
            return false;
        }
        if (!ok) {
            message = "--generate: bad value \"" + value + "\" for " + key;
            return false;
        }
    }
    return true;
}

} // namespace

bool parse_simulator_arguments(const std::vector<std::string>& args, SimulatorCommandLine& out,
                               std::string& message) {
    SimulatorOptions& o = out.options;
    bool generate = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out.help = true;
            message = usage_text;
            return true;
        }
        if (arg.rfind("--", 0) != 0) {
            message = "unexpected argument \"" + arg + "\"\n" + usage_text;
            return false;
        }
        std::string name = arg, value;
        bool inline_value = false;
        if (std::size_t eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inline_value = true;
        }
        static const char* known[] = {"--port",        "--account",    "--generate",  "--user",
                                      "--password",    "--latency-ms", "--jitter-ms", "--delete-interval-ms",
                                      "--error-rate",  "--seed",       "--log",       "--threads",
                                      "--dump-account"};
        bool is_known = false;
        for (const char* k : known)
            is_known = is_known || name == k;
        if (!is_known) {
            message = "unknown option " + name + "\n" + usage_text;
            return false;
        }
        if (!inline_value) {
            if (i + 1 >= args.size()) {
                message = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        long long n = 0;
        auto bad = [&] {
            message = "bad value \"" + value + "\" for " + name;
            return false;
        };
        if (name == "--port") {
            if (!whole_number(value, 0, 65535, n))
                return bad();
            o.port = static_cast<int>(n);
        } else if (name == "--account") {
            if (value.empty())
                return bad();
            o.account_file = value;
        } else if (name == "--generate") {
            generate = true;
            if (!parse_generator(value, o.generator, message))
                return false;
        } else if (name == "--user") {
            if (value.empty())
                return bad();
            o.user = value;
        } else if (name == "--password") {
            if (value.empty())
                return bad();
            o.password = value;
        } else if (name == "--latency-ms") {
            if (!whole_number(value, 0, 600000, n))
                return bad();
            o.latency_ms = static_cast<int>(n);
        } else if (name == "--jitter-ms") {
            if (!whole_number(value, 0, 600000, n))
                return bad();
            o.jitter_ms = static_cast<int>(n);
        } else if (name == "--delete-interval-ms") {
            if (!whole_number(value, 0, 3600000, n))
                return bad();
            o.delete_interval_ms = static_cast<int>(n);
        } else if (name == "--error-rate") {
            if (!share(value, o.error_rate))
                return bad();
        } else if (name == "--seed") {
            if (value.empty() || value[0] == '-')
                return bad();
            std::uint64_t seed = 0;
            auto result = std::from_chars(value.data(), value.data() + value.size(), seed);
            if (result.ec != std::errc() || result.ptr != value.data() + value.size())
                return bad();
            o.seed = seed;
        } else if (name == "--log") {
            if (value.empty())
                return bad();
            o.log_file = value;
        } else if (name == "--threads") {
            if (!whole_number(value, 1, 4096, n))
                return bad();
            o.threads = static_cast<int>(n);
        } else if (name == "--dump-account") {
            if (value.empty())
                return bad();
            out.dump_account = value;
        }
    }
    if (generate && !o.account_file.empty()) {
        message = "--account and --generate exclude each other";
        return false;
    }
    return true;
}

} // namespace vestrel
