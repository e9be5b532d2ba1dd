// Benchmarks of the slimming engine.
//   BM_FindDuplicates      the finder over 1,000,000 entries, a quarter of them duplicates: time, and the
//   bytes
//                          it holds at its peak beyond the entries themselves (per entry)
//   BM_FileListMemory      bytes held per listed file with 1,000,000 files recorded through parse_listing
//   BM_ScanSimulated       a scan of a simulated account (1,000 directories, 20,000 files, 20 ms latency,
//                          20 threads) against its bound: directories x latency / threads, plus the pauses
//   BM_WaitProcessorTime   processor time of the run while it drains slow listings and spaces deletions
#include "engine/duplicate_finder.h"
#include "engine/service_http.h"
#include "engine/slimming.h"
#include "mock/fake_service.h"
#include "mock/recording_view.h"

#ifdef VESTREL_HAVE_SIMULATOR
#include "sim/simulator.h"
#endif

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <new>

// Counts the bytes the program holds, and their peak, through the global allocation functions.
namespace {
std::atomic<long long> bytes_now{0};
std::atomic<long long> bytes_peak{0};
constexpr std::size_t header = alignof(std::max_align_t);

void* counted_allocate(std::size_t size) {
    void* block = std::malloc(size + header);
    if (block == nullptr)
        throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = size;
    long long now = bytes_now.fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
    long long peak = bytes_peak.load();
    while (now > peak && !bytes_peak.compare_exchange_weak(peak, now)) {
    }
    return static_cast<char*>(block) + header;
}

void counted_free(void* p) {
    if (p == nullptr)
        return;
    void* block = static_cast<char*>(p) - header;
    bytes_now.fetch_sub(static_cast<long long>(*static_cast<std::size_t*>(block)));
    std::free(block);
}
} // namespace

void* operator new(std::size_t size) {
    return counted_allocate(size);
}
void* operator new[](std::size_t size) {
    return counted_allocate(size);
}
void operator delete(void* p) noexcept {
    counted_free(p);
}
void operator delete[](void* p) noexcept {
    counted_free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    counted_free(p);
}

namespace vestrel {
namespace {

std::string hex_digest(std::uint64_t n) {
    static const char hex[] = "0123456789abcdef";
    std::string out(32, '0');
    std::uint64_t a = n * 0x9E3779B97F4A7C15ull + 1, b = (n + 7) * 0xC2B2AE3D27D4EB4Full;
    for (int i = 0; i < 16; ++i) {
        out[static_cast<std::size_t>(i)] = hex[(a >> (i * 4)) & 15];
        out[static_cast<std::size_t>(16 + i)] = hex[(b >> (i * 4)) & 15];
    }
    return out;
}

// 1,000,000 entries in 10,000 directories; every fourth entry repeats the digest of an earlier one.
std::deque<FileEntry> million_entries() {
    std::deque<FileEntry> files;
    for (std::uint64_t i = 0; i < 1000000; ++i) {
        std::uint64_t digest = i % 4 == 3 ? (i * 7919) % (i - i % 4 + 1) : i;
        std::string name = "photo_" + std::to_string(i) + ".jpg";
        files.push_back({hex_digest(digest),
                         "/albums/year" + std::to_string(i % 10000 / 100) + "/event" +
                             std::to_string(i % 100) + "/" + name,
                         name});
    }
    return files;
}

void BM_FindDuplicates(benchmark::State& state) {
    ScanState scan;
    scan.file_list = million_entries();
    testing::RecordingView view;
    testing::FakeService service;
    SlimmingRun run(scan, view, service);
    double extra_per_entry = 0;
    for (auto _ : state) {
        scan.duplicate_list.clear();
        scan.duplicate_list.shrink_to_fit();
        scan.duplicate_details.clear();
        scan.duplicate_details.shrink_to_fit();
        long long before = bytes_now.load();
        bytes_peak.store(before);
        run.find_duplicates();
        extra_per_entry = static_cast<double>(bytes_peak.load() - before) / 1e6;
        benchmark::DoNotOptimize(scan.duplicate_list.data());
    }
    state.counters["duplicates"] = static_cast<double>(scan.duplicate_list.size());
    state.counters["peak_bytes_per_entry"] = extra_per_entry;
}
BENCHMARK(BM_FindDuplicates)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FileListMemory(benchmark::State& state) {
    // Pages as the service sends them, 100 files each.
    std::vector<std::string> pages;
    for (int p = 0; p < 10000; ++p) {
        std::string page = "{\"errno\":0,\"list\":[";
        for (int k = 0; k < 100; ++k) {
            int i = p * 100 + k;
            std::string name = "photo_" + std::to_string(i) + ".jpg";
            std::string path =
                "/albums/year" + std::to_string(p / 100) + "/event" + std::to_string(p % 100) + "/" + name;
            page += std::string(k ? "," : "") + "{\"unlist\":0,\"isdir\":0,\"size\":123456,\"path\":\"" +
                    path + "\",\"server_filename\":\"" + name + "\",\"md5\":\"" +
                    hex_digest(static_cast<std::uint64_t>(i)) + "\",\"fs_id\":" + std::to_string(900000 + i) +
                    "}";
        }
        pages.push_back(page + "],\"request_id\":1}");
    }
    double per_file = 0;
    for (auto _ : state) {
        ScanState scan;
        testing::RecordingView view;
        testing::FakeService service;
        SlimmingOptions options;
        options.pause_ms = 0;
        SlimmingRun run(scan, view, service, options);
        long long before = bytes_now.load();
        for (const auto& page : pages)
            run.parse_listing(page);
        per_file =
            static_cast<double>(bytes_now.load() - before) / static_cast<double>(scan.file_list.size());
    }
    state.counters["bytes_per_file"] = per_file;
}
BENCHMARK(BM_FileListMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

// The scan's own view: the time from the start to the end of the listing stage.
struct TimingView : testing::RecordingView {
    std::chrono::steady_clock::time_point listing_done;
    void stop_data_timer() override { listing_done = std::chrono::steady_clock::now(); }
};

#ifdef VESTREL_HAVE_SIMULATOR
void BM_ScanSimulated(benchmark::State& state) {
    const int pause_ms = static_cast<int>(state.range(0));
    SimulatorOptions sim_options;
    sim_options.generator.files = 20000;
    sim_options.generator.directories = 1000;
    sim_options.generator.large_directories = 0;
    sim_options.latency_ms = 20;
    Simulator sim(sim_options);
    if (sim.start() == 0) {
        state.SkipWithError(sim.error().c_str());
        return;
    }
    double ratio = 0, seconds = 0, bound = 0;
    for (auto _ : state) {
        ScanState scan;
        scan.login_cookies = sim.login_cookies();
        TimingView view;
        HttpRequestService http;
        SlimmingOptions options;
        options.origin = sim.url();
        options.pause_ms = pause_ms;
        options.token_poll_ms = 0;
        options.finder_settle_ms = 0;
        options.dry_run = true;
        SlimmingRun run(scan, view, http, options);
        auto start = std::chrono::steady_clock::now();
        run.run_slimming(20);
        seconds = std::chrono::duration<double>(view.listing_done - start).count();
        // One request per directory at 20 ms, 20 at a time, and with pauses the 50 ms after each entry.
        double entries = static_cast<double>(scan.file_count.load() + scan.directory_count.load());
        double directories = static_cast<double>(scan.directory_count.load() + 1);
        bound = (directories * 0.020 + entries * pause_ms / 1000.0) / 20;
        ratio = seconds / bound;
        state.SetIterationTime(seconds);
    }
    state.counters["scan_s"] = seconds;
    state.counters["bound_s"] = bound;
    state.counters["ratio"] = ratio;
}
BENCHMARK(BM_ScanSimulated)->Arg(0)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
#endif

// Processor time of the whole process while the run waits: a drain of slow listings (one request each of
// 400 ms, more directories than slots) and 40 deletions 50 ms apart.
void BM_WaitProcessorTime(benchmark::State& state) {
    double drain_cpu_per_s = 0, delete_cpu_per_s = 0;
    for (auto _ : state) {
        struct PhaseView : testing::RecordingView {
            std::clock_t cpu_at_drain = 0, cpu_at_finder = 0, cpu_at_delete = 0, cpu_at_end = 0;
            std::chrono::steady_clock::time_point t_drain, t_finder, t_delete, t_end;
            void move_loading_mark(int top) override {
                auto now = std::chrono::steady_clock::now();
                if (top == 107) {
                    cpu_at_drain = std::clock();
                    t_drain = now;
                } else if (top == 139) {
                    cpu_at_delete = std::clock();
                    t_delete = now;
                } else if (top == 170) {
                    cpu_at_end = std::clock();
                    t_end = now;
                }
            }
            void stop_data_timer() override {
                cpu_at_finder = std::clock();
                t_finder = std::chrono::steady_clock::now();
            }
        } view;
        view.delay_text = "50";
        testing::FakeService service;
        for (int d = 0; d < 30; ++d)
            service.add_dir("/", "d" + std::to_string(d));
        for (int f = 0; f < 41; ++f)
            service.add_file("/d0", "f" + std::to_string(f), "same");
        service.latency_ms = 0;
        ScanState scan;
        SlimmingOptions options;
        options.origin = service.origin;
        options.pause_ms = 0;
        options.token_poll_ms = 0;
        options.finder_settle_ms = 0;
        service.latency_ms = 400;
        SlimmingRun run(scan, view, service, options);
        run.run_slimming(10);
        auto cpu_ms = [](std::clock_t a, std::clock_t b) {
            return 1000.0 * static_cast<double>(b - a) / CLOCKS_PER_SEC;
        };
        drain_cpu_per_s = cpu_ms(view.cpu_at_drain, view.cpu_at_finder) /
                          std::chrono::duration<double>(view.t_finder - view.t_drain).count();
        delete_cpu_per_s = cpu_ms(view.cpu_at_delete, view.cpu_at_end) /
                           std::chrono::duration<double>(view.t_end - view.t_delete).count();
    }
    state.counters["drain_cpu_ms_per_s"] = drain_cpu_per_s;
    state.counters["delete_cpu_ms_per_s"] = delete_cpu_per_s;
}
BENCHMARK(BM_WaitProcessorTime)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
} // namespace vestrel

BENCHMARK_MAIN();
