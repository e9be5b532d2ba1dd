#pragma once
// nimbara-sim: a local stand-in for the Nimbara cloud-disk service, a real HTTP server on 127.0.0.1.
//
// Embedding:
//     vestrel::SimulatorOptions options;
//     options.generator.files = 5000;           // or options.account_file / options.account_json
//     vestrel::Simulator sim(options);
//     if (sim.start() == 0) { report(sim.error()); }
//     use(sim.url(), sim.login_cookies(), sim.token());
//     std::string state = sim.state_json();     // what GET /sim/state answers
//     sim.stop();                               // also done by the destructor
//
// The service it offers:
//     GET  /disk/home                      login page, or with the login cookies the disk page holding
//                                          "bdstoken":"<token>" on one line
//     POST /passport/login                 form fields username, password; sets PANWEB=1 and the
//                                          HttpOnly session cookie, 302 to /disk/home
//     GET  /api/list?dir=..&order=time&desc=1&num=100&page=1
//     POST /api/filemanager?opera=delete&bdstoken=..   body filelist=<JSON array of paths>
//     GET  /sim/state                      files left, recycle bin, request counts (?files=0 leaves out
//                                          the file paths)
// Errnos: -6 not logged in, -4 wrong token, -9 no such directory, 2 malformed parameters,
// 12 a path to delete does not exist, 111 delete sooner than the delete interval after the previous one,
// 31034 an injected server fault.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

// Settings of the deterministic account generator: the same settings and seed give the same account.
struct GeneratorOptions {
    std::uint32_t files = 2000;
    std::uint32_t directories = 200;     // the root included
    std::uint32_t depth = 5;             // deepest directory level below the root
    double duplicate_share = 0.25;       // share of files whose digest repeats an earlier file's
    double non_ascii_share = 0.1;        // share of names with non-ASCII letters (some outside the BMP)
    double special_share = 0.02;         // share of names with " ", "+", "%", quotes, backslashes, "&"
    std::uint32_t large_directories = 2; // directories holding more than 100 entries
};

struct SimulatorOptions {
    // The account: account_json if not empty, else account_file if not empty, else the generator.
    std::string account_json;
    std::string account_file;
    GeneratorOptions generator;
    std::string user;     // overrides the account's user when not empty (default "demo")
    std::string password; // overrides the account's password when not empty (default "demo")

    int port = 0;                 // 0 picks a free port; the server binds 127.0.0.1 only
    int latency_ms = 0;           // added to every request
    int jitter_ms = 0;            // plus 0..jitter_ms, deterministic for the seed
    int delete_interval_ms = 100; // a delete sooner than this after the previous one fails (errno 111)
    double error_rate = 0.0;      // share of list and delete requests answered with an injected fault
    std::uint64_t seed = 1;       // generator, jitter and error rate
    std::string log_file;         // one JSON line per request when not empty
    int threads = 256;            // connections served at once (threads are started as needed)
};

// One deleted item as the recycle bin holds it.
struct RecycledEntry {
    std::string path;
    bool is_directory = false;
    std::string md5; // empty for a directory
    std::uint64_t size = 0;
    std::uint32_t files = 0; // files that went with it (1 for a file)
};

class SimulatorCore;

class Simulator {
public:
    explicit Simulator(SimulatorOptions options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Loads the account named by the options (unless one is loaded already). False, with error(), when the
    // account file or text is unusable. start() calls it.
    bool load();
    // Replaces the account by an account text (the account file format); allowed while running.
    bool load_account_json(std::string_view text);

    // Binds 127.0.0.1 and serves on background threads. Returns the port, or 0 with error().
    int start();
    // Stops serving and waits for the server threads. Idempotent.
    void stop();
    bool running() const;

    int port() const;
    std::string url() const; // "http://127.0.0.1:PORT"
    const std::string& error() const;

    // The account's user, password and delete token, and the cookie text a browser holds after logging in
    // ("PANWEB=1; NBSID=..."): what a client would have after POST /passport/login.
    std::string user() const;
    std::string password() const;
    std::string token() const;
    std::string login_cookies() const;

    // GET /sim/state as text: {"files":[...],"directories":[...],"recycle":[...],"requests":{...},...}
    std::string state_json(bool with_files = true) const;
    std::vector<std::string> file_paths() const; // files still in the account, sorted by path
    std::vector<RecycledEntry> recycle_bin() const;
    std::size_t file_count() const;

    // The account as account-file text (for a generated account: what the generator made).
    std::string account_json() const;

private:
    std::unique_ptr<SimulatorCore> core_;
};

// The account text the generator makes for these settings and seed (the account file format).
std::string generate_account_json(const GeneratorOptions& options, std::uint64_t seed);

// Command line of nimbara-sim. Returns true with the options filled, or false with a message naming the
// problem. Also reports --help (help set, message holds the usage text).
struct SimulatorCommandLine {
    SimulatorOptions options;
    bool help = false;
    std::string dump_account; // --dump-account FILE: write the account and exit
};
bool parse_simulator_arguments(const std::vector<std::string>& args, SimulatorCommandLine& out,
                               std::string& message);

} // namespace vestrel
