// The simulator must never be what a scan benchmark measures: list requests per second with 20 concurrent
// clients against a 100,000-file account, and the time and memory of a 1,000,000-file account.
#include "sim/account.h"
#include "sim/simulator.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

std::size_t collect(char*, std::size_t size, std::size_t count, void* bytes) {
    *static_cast<std::size_t*>(bytes) += size * count;
    return size * count;
}

struct Served {
    std::unique_ptr<vestrel::Simulator> sim;
    std::vector<std::string> dirs; // percent-encoded directory paths
};

Served& served() {
    static Served s;
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        vestrel::SimulatorOptions options;
        options.generator.files = 100000;
        options.generator.directories = 2000;
        options.generator.depth = 6;
        s.sim = std::make_unique<vestrel::Simulator>(options);
        if (s.sim->start() == 0)
            std::abort();
        // Every directory of the account, encoded as the program encodes them.
        vestrel::Account account = vestrel::Account::generate(options.generator, options.seed);
        for (const std::string& dir : account.directory_paths()) {
            static const char hex[] = "0123456789ABCDEF";
            std::string out;
            for (unsigned char c : dir) {
                if (std::isalnum(c) || c == '-' || c == '.') {
                    out += static_cast<char>(c);
                } else {
                    out += '%';
                    out += hex[c >> 4];
                    out += hex[c & 15];
                }
            }
            s.dirs.push_back(out);
        }
    });
    return s;
}

// One connection per client kept alive (reuse = 1), or a new connection per request as the program's
// one-WinHttpOpen-per-request makes them (reuse = 0).
void BM_ListRequests(benchmark::State& state) {
    Served& s = served();
    bool reuse = state.range(0) != 0;
    CURL* curl = curl_easy_init();
    std::string cookies = s.sim->login_cookies();
    std::size_t bytes = 0, failures = 0;
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_COOKIE, cookies.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bytes);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, reuse ? 0L : 1L);
    std::size_t i = static_cast<std::size_t>(state.thread_index()) * 7919;
    const std::string base = s.sim->url() + "/api/list?dir=";
    const std::string rest =
        "&bdstoken=&logid=UjdYc0xvZ0lkRGVtb1ZhbHVlRm9yVGhlTGlzdENhbGw=&num=100&order=time"
        "&desc=1&clienttype=0&showempty=0&web=1&page=1&channel=chunlei&web=1&app_id=250528";
    for (auto _ : state) {
        std::string url = base + s.dirs[i++ % s.dirs.size()] + rest;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        long status = 0;
        if (curl_easy_perform(curl) != CURLE_OK ||
            (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status), status != 200))
            ++failures;
    }
    curl_easy_cleanup(curl);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["failures"] =
        benchmark::Counter(static_cast<double>(failures), benchmark::Counter::kAvgThreads);
}
BENCHMARK(BM_ListRequests)->Arg(1)->Arg(0)->Threads(20)->UseRealTime()->MinTime(2.0);

std::size_t resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

void BM_GenerateMillionFiles(benchmark::State& state) {
    vestrel::GeneratorOptions g;
    g.files = 1000000;
    g.directories = 20000;
    g.depth = 8;
    g.large_directories = 20;
    for (auto _ : state) {
        std::size_t before = resident_bytes();
        vestrel::Account account = vestrel::Account::generate(g, 1);
        state.counters["account_MB"] = static_cast<double>(account.memory_bytes()) / 1e6;
        state.counters["resident_growth_MB"] = static_cast<double>(resident_bytes() - before) / 1e6;
        benchmark::DoNotOptimize(account.file_count());
    }
}
BENCHMARK(BM_GenerateMillionFiles)->Unit(benchmark::kMillisecond)->Iterations(2);

// Peak memory of a serving simulator with a million files: the account plus the server.
void BM_ServeMillionFiles(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t before = resident_bytes();
        vestrel::SimulatorOptions options;
        options.generator.files = 1000000;
        options.generator.directories = 20000;
        options.generator.depth = 8;
        vestrel::Simulator sim(options);
        if (sim.start() == 0)
            state.SkipWithError("cannot start");
        state.counters["resident_growth_MB"] = static_cast<double>(resident_bytes() - before) / 1e6;
        sim.stop();
    }
}
BENCHMARK(BM_ServeMillionFiles)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
