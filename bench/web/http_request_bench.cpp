// http_request against the loopback fixture server, beside plain libcurl doing the same exchange (a new
// handle, and so a new connection, for every request, as the routine does):
//   - 2,000 GETs of a 20 KB body, one after the other, and from 20 threads at once (requests per second);
//   - one GET of a 100 MB body (bytes per second).
// The benchmark starts the fixture itself (VESTREL_HTTP_FIXTURE) on a free loopback port.
#include "web/http_request.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string base_url;

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

std::string plain_curl_get(const std::string& url) {
    std::string body;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &append_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(easy) != CURLE_OK)
        body.clear();
    curl_easy_cleanup(easy);
    return body;
}

std::string routine_get(const std::string& url) {
    std::string cookies = "session=bench; token=abc";
    return vestrel::http_request(url, 0, {}, cookies);
}

template <std::string (*Get)(const std::string&)>
void get_20kb(benchmark::State& state) {
    const std::string url = base_url + "/bytes?n=20480";
    for (auto _ : state) {
        const std::string body = Get(url);
        if (body.size() != 20480) {
            state.SkipWithError("short body");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

template <std::string (*Get)(const std::string&)>
void get_100mb(benchmark::State& state) {
    constexpr std::size_t size = 100u << 20;
    const std::string url = base_url + "/bytes?n=" + std::to_string(size);
    for (auto _ : state) {
        const std::string body = Get(url);
        if (body.size() != size) {
            state.SkipWithError("short body");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

BENCHMARK(get_20kb<routine_get>)->Name("http_request/20KB/sequential")->Iterations(2000)->UseRealTime();
BENCHMARK(get_20kb<plain_curl_get>)->Name("plain_libcurl/20KB/sequential")->Iterations(2000)->UseRealTime();
// 20 threads of 100 requests each.
BENCHMARK(get_20kb<routine_get>)->Name("http_request/20KB")->Threads(20)->Iterations(100)->UseRealTime();
BENCHMARK(get_20kb<plain_curl_get>)->Name("plain_libcurl/20KB")->Threads(20)->Iterations(100)->UseRealTime();
BENCHMARK(get_100mb<routine_get>)
    ->Name("http_request/100MB")
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(get_100mb<plain_curl_get>)
    ->Name("plain_libcurl/100MB")
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int out[2];
    if (pipe(out) != 0)
        return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* fixture_argv[] = {const_cast<char*>(VESTREL_HTTP_FIXTURE), nullptr};
    pid_t fixture = 0;
    if (posix_spawn(&fixture, VESTREL_HTTP_FIXTURE, &actions, nullptr, fixture_argv, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", VESTREL_HTTP_FIXTURE);
        return 1;
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char line[256] = {};
    if (lines == nullptr || std::fgets(line, sizeof line, lines) == nullptr) {
        kill(fixture, SIGTERM);
        return 1;
    }
    base_url = line;
    base_url = base_url.substr(base_url.find("http://"));
    while (!base_url.empty() && (base_url.back() == '\n' || base_url.back() == '\r'))
        base_url.pop_back();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    kill(fixture, SIGTERM);
    waitpid(fixture, nullptr, 0);
    return 0;
}
