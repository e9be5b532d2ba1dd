#pragma once
// The slimming run: fetch the account's token, walk its directory tree with numbered listing workers, find
// the files whose digests repeat, and delete every copy but one with numbered deletion workers spaced by the
// user's delay. The run reports only through a ProgressView and talks to the service only through a
// ServiceHttp, so it runs the same under a window, a console or a test.
//
// Threads: run_slimming runs on the caller's thread (the run thread). It starts the token fetch, each listing
// worker, the finder and each deletion worker on a thread of its own, at most N workers at a time, and joins
// every thread it started before it returns; so the state may be released as soon as it has returned.

#include "engine/pump_wait.h"
#include "engine/scan_state.h"
#include "engine/service.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace vestrel {

struct SlimmingOptions {
    std::string origin = std::string(default_service_origin);
    int pause_ms = 50;            // the pause after each listed entry and for each busy slot passed over
    int token_poll_ms = 100;      // the pause between looks at the token
    int finder_settle_ms = 1000;  // the pause after the finder has finished
    int http_timeout_seconds = 0; // 0: the request routine's own (30 s)
    bool dry_run = false;         // everything but the delete requests
    // Called on the run thread as each worker is dispatched (slot 1 to N; true in the listing phase).
    std::function<void(int slot, bool listing)> on_dispatch;
};

enum class RunOutcome {
    finished,     // every stage ran
    token_failed, // no token could be had ("参数获取失败,请重试!")
    root_failed,  // the root directory's request gave no answer
    listing_failed, // a listing error while errors are not skipped ("解析出现错误,请重试!"); nothing deleted
    stopped, // request_stop() ended the run early
};

// The message a front end shows for an outcome that ends the program with an error box; empty otherwise.
std::string outcome_message(RunOutcome outcome);

// A text read as an integer: leading blanks and a sign allowed, reading stops at the first non-digit, a text
// that does not begin with a number gives 0. Values beyond the 32-bit range saturate.
std::int32_t read_decimal(const std::string& text);

// What one list response held, for the caller's paging.
struct ListingPage {
    bool ok = false;       // the response was read and its errno was "0"
    std::size_t size = 0;  // entries in its list
    std::size_t added = 0; // entries recorded that the directory's earlier pages did not hold
};

class SlimmingRun {
public:
    SlimmingRun(ScanState& state, ProgressView& view, ServiceHttp& http, SlimmingOptions options = {});
    ~SlimmingRun();
    SlimmingRun(const SlimmingRun&) = delete;
    SlimmingRun& operator=(const SlimmingRun&) = delete;

    // The run, on the calling thread, with `thread_count` slots (the front end checks that it is 10 or more;
    // any count of 1 or more works).
    RunOutcome run_slimming(int thread_count);

    // From any thread: stop dispatching, ask every thread of the run to quit, and let run_slimming return
    // (with RunOutcome::stopped unless it had finished) once its threads have ended. Requests in flight end
    // within the request time-out. The quit request stays with the run thread for good, so run_slimming
    // should have a thread of its own. A front end that closes during a run calls this, waits for
    // run_slimming to return, and only then releases the lists.
    void request_stop();
    bool stop_requested() const { return stopping_.load(); }

    // The status text of the root listing request (for a front end's report of RunOutcome::root_failed).
    const std::string& root_status() const { return root_status_; }

    // The stages, public for tests. Each works on the shared state as the run does.
    void fetch_token();
    bool list_root();
    void list_worker(int slot);
    // Records one list response. `seen` holds the paths the directory's earlier pages gave (may be null).
    ListingPage parse_listing(const std::string& response, std::unordered_set<std::string>* seen = nullptr);
    void find_duplicates();
    void delete_worker(int slot);
    void delete_file(std::size_t index);

private:
    void list_directory(const std::string& path, std::string& cookies, bool is_root,
                        std::string* first_status);
    void pause(int milliseconds);
    void wait_for_change(std::uint64_t seen);
    void pause_unless_changed(int milliseconds, std::uint64_t seen);
    std::uint64_t change_count();
    void signal_change();
    bool skip_errors();
    bool listing_stops();
    void start_worker(int slot, bool listing);
    void join_workers();
    bool all_slots_idle(std::int32_t idle);
    int first_idle_slot(std::int32_t idle);

    ScanState& state_;
    ProgressView& view_;
    ServiceHttp& http_;
    SlimmingOptions options_;
    std::string root_status_;
    bool root_failed_ = false;

    std::atomic<bool> stopping_{false};
    std::mutex change_lock_;
    std::condition_variable change_;
    std::uint64_t changes_ = 0;

    // Threads of the run: slot threads by slot number, plus the token and finder threads. Each thread leaves
    // its message handle here as it starts, so that request_stop can ask it to quit.
    std::mutex threads_lock_;
    std::vector<std::thread> workers_;
    std::vector<ThreadMessages> worker_messages_;
    std::thread token_thread_;
    std::thread finder_thread_;
    ThreadMessages run_messages_;
    ThreadMessages token_messages_;
    ThreadMessages finder_messages_;
    void register_thread(ThreadMessages& place);

    // Directory paths recorded so far ("/" included): each directory is listed once.
    std::unordered_set<std::string> recorded_directories_;
};

} // namespace vestrel
