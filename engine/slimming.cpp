#include "engine/slimming.h"

#include "engine/duplicate_finder.h"
#include "engine/logid.h"
#include "script/json_object.h"
#include "script/regex_object.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace vestrel {

namespace {

constexpr std::int32_t listing_idle = 1;
constexpr std::int32_t listing_working = 0;
constexpr std::int32_t deletion_idle = 0;
constexpr std::int32_t deletion_working = 1;

// The token as the home page writes it: "bdstoken":"VALUE", the shortest value up to the next quote.
constexpr std::string_view token_pattern = "\"bdstoken\":\"(.*?)\"";

} // namespace

void SlotWords::build(std::size_t count, std::int32_t state, std::int32_t job) {
    count_ = count;
    state_ = std::make_unique<std::atomic<std::int32_t>[]>(count);
    job_ = std::make_unique<std::atomic<std::int32_t>[]>(count);
    for (std::size_t i = 0; i < count; ++i) {
        state_[i].store(state);
        job_[i].store(job);
    }
}

void ScanState::release_scan_lists() {
    std::lock_guard<std::mutex> lock(scan_lock);
    std::deque<std::string>().swap(directory_list);
    std::deque<FileEntry>().swap(file_list);
    std::vector<std::string>().swap(duplicate_list);
    std::vector<DuplicateDetail>().swap(duplicate_details);
    slots.build(0, 0, 0);
    directory_count = 0;
    file_count = 0;
    duplicate_count = 0;
}

std::string outcome_message(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::token_failed:
        return "参数获取失败,请重试!";
    case RunOutcome::listing_failed:
        return "解析出现错误,请重试!";
    default:
        return {};
    }
}

std::int32_t read_decimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    if (value < INT_MIN)
        value = INT_MIN;
    return static_cast<std::int32_t>(value);
}

SlimmingRun::SlimmingRun(ScanState& state, ProgressView& view, ServiceHttp& http, SlimmingOptions options)
    : state_(state), view_(view), http_(http), options_(std::move(options)) {
    options_.origin = normalise_origin(options_.origin);
}

SlimmingRun::~SlimmingRun() {
    // run_slimming joins its threads before it returns; a quit request here would stay with the caller's
    // thread for good.
    join_workers();
}

// ---- waits -----------------------------------------------------------------------------------------------

void SlimmingRun::pause(int milliseconds) {
    if (milliseconds > 0)
        pump_wait(milliseconds, 1, 0);
}

std::uint64_t SlimmingRun::change_count() {
    std::lock_guard<std::mutex> lock(change_lock_);
    return changes_;
}

void SlimmingRun::signal_change() {
    {
        std::lock_guard<std::mutex> lock(change_lock_);
        ++changes_;
    }
    change_.notify_all();
}

// Blocks until a worker has freed its slot (or the token or finder thread has ended, or a stop was asked)
// since `seen` was read, then handles the messages that arrived meanwhile.
void SlimmingRun::wait_for_change(std::uint64_t seen) {
    {
        std::unique_lock<std::mutex> lock(change_lock_);
        change_.wait(lock, [&] { return changes_ != seen || stopping_.load(); });
    }
    process_messages();
}

// Waits `milliseconds`, or less when a worker frees its slot (or a stop is asked) since `seen` was read.
void SlimmingRun::pause_unless_changed(int milliseconds, std::uint64_t seen) {
    if (milliseconds > 0) {
        std::unique_lock<std::mutex> lock(change_lock_);
        change_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                         [&] { return changes_ != seen || stopping_.load(); });
    }
    process_messages();
}

void SlimmingRun::register_thread(ThreadMessages& place) {
    ThreadMessages mine = current_thread_messages();
    {
        std::lock_guard<std::mutex> lock(threads_lock_);
        place = mine;
    }
    // A stop asked before the handle was in place still reaches this thread.
    if (stopping_.load())
        mine.request_quit();
}

void SlimmingRun::request_stop() {
    stopping_.store(true);
    {
        std::lock_guard<std::mutex> lock(threads_lock_);
        run_messages_.request_quit();
        token_messages_.request_quit();
        finder_messages_.request_quit();
        for (const auto& handle : worker_messages_)
            handle.request_quit();
    }
    http_.cancel_all();
    signal_change();
}

void SlimmingRun::join_workers() {
    for (auto& worker : workers_)
        if (worker.joinable())
            worker.join();
    if (token_thread_.joinable())
        token_thread_.join();
    if (finder_thread_.joinable())
        finder_thread_.join();
}

bool SlimmingRun::skip_errors() {
    return view_.is_checked(CheckBox::skip_errors);
}

bool SlimmingRun::listing_stops() {
    return state_.listing_error.load() != 0 && !skip_errors();
}

bool SlimmingRun::all_slots_idle(std::int32_t idle) {
    for (std::size_t j = 1; j <= state_.slots.size(); ++j)
        if (state_.slots.state(j).load() != idle)
            return false;
    return true;
}

int SlimmingRun::first_idle_slot(std::int32_t idle) {
    for (std::size_t j = 1; j <= state_.slots.size(); ++j)
        if (state_.slots.state(j).load() == idle)
            return static_cast<int>(j);
    return 0;
}

// Hands the next job of the phase to `slot` and starts its worker.
void SlimmingRun::start_worker(int slot, bool listing) {
    auto& thread = workers_[static_cast<std::size_t>(slot)];
    // The slot's previous worker marked it idle as its last act; it is ending, if not gone.
    if (thread.joinable())
        thread.join();
    state_.slots.state(static_cast<std::size_t>(slot)).store(listing ? listing_working : deletion_working);
    state_.slots.job(static_cast<std::size_t>(slot)).store(state_.dispatched_count.load() + 1);
    state_.dispatched_count.fetch_add(1);
    if (options_.on_dispatch)
        options_.on_dispatch(slot, listing);
    thread = std::thread([this, slot, listing] {
        register_thread(worker_messages_[static_cast<std::size_t>(slot)]);
        if (listing)
            list_worker(slot);
        else
            delete_worker(slot);
        signal_change();
    });
}

// ---- the run -------------------------------------------------------------------------------------------

RunOutcome SlimmingRun::run_slimming(int thread_count) {
    const auto n = static_cast<std::size_t>(thread_count < 1 ? 1 : thread_count);
    register_thread(run_messages_);
    {
        std::lock_guard<std::mutex> lock(threads_lock_);
        workers_.clear();
        workers_.resize(n + 1);
        worker_messages_.assign(n + 1, ThreadMessages());
    }
    auto finish = [&](RunOutcome outcome) {
        join_workers();
        return stopping_.load() && outcome != RunOutcome::finished ? RunOutcome::stopped : outcome;
    };

    // 1-3: the token, fetched on a thread of its own.
    std::uint64_t seen = change_count();
    token_thread_ = std::thread([this] {
        register_thread(token_messages_);
        fetch_token();
        signal_change();
    });
    view_.move_loading_mark(42);
    view_.show_mark(Stage::initialise);
    while (state_.token_state.load() == 0) {
        if (stopping_.load())
            return finish(RunOutcome::stopped);
        process_messages();
        if (options_.token_poll_ms > 0)
            pump_wait(options_.token_poll_ms, 1, 0);
        else
            wait_for_change(seen);
        seen = change_count();
    }
    token_thread_.join();
    if (state_.token_state.load() != 1)
        return finish(RunOutcome::token_failed);
    if (stopping_.load())
        return finish(RunOutcome::stopped);

    // 4-6: the root directory, on this thread.
    view_.append_log(">>参数获取成功\r\n");
    view_.append_output("\r\n[遍历文件]\r\n");
    if (!list_root())
        return finish(stopping_.load() ? RunOutcome::stopped : RunOutcome::root_failed);

    // 7-9: the listing phase. Each busy slot passed over costs a pause of pause_ms, which ends early once a
    // worker has freed its slot since the last dispatch: the pauses pace the run while every worker is busy,
    // but never keep a free slot waiting. When every slot is busy the run sleeps until a worker frees one.
    state_.slots.build(n, listing_idle, 0);
    view_.show_mark(Stage::read_main_directory);
    view_.move_loading_mark(74);
    seen = change_count();
    for (;;) {
        if (stopping_.load())
            break;
        if (static_cast<std::size_t>(state_.dispatched_count.load()) == state_.directory_count.load())
            break;
        if (listing_stops())
            break;
        process_messages();
        bool dispatched = false;
        for (std::size_t j = 1; j <= n && !stopping_.load(); ++j) {
            if (state_.slots.state(j).load() == listing_idle) {
                seen = change_count();
                start_worker(static_cast<int>(j), true);
                dispatched = true;
                break;
            }
            pause_unless_changed(options_.pause_ms, seen);
        }
        if (!dispatched)
            wait_for_change(seen);
    }

    // 10-11: the drain. Directories that running workers record now are dispatched too, so that every
    // directory is listed; the stage ends when every slot is idle and nothing is left to dispatch.
    view_.show_mark(Stage::read_subdirectories);
    view_.move_loading_mark(107);
    for (;;) {
        seen = change_count();
        bool more = !stopping_.load() && !listing_stops() &&
                    static_cast<std::size_t>(state_.dispatched_count.load()) < state_.directory_count.load();
        if (more) {
            int slot = first_idle_slot(listing_idle);
            if (slot != 0) {
                start_worker(slot, true);
                continue;
            }
        } else if (all_slots_idle(listing_idle)) {
            break;
        }
        wait_for_change(seen);
    }
    join_workers();
    state_.dispatched_count.store(0);
    if (stopping_.load())
        return finish(RunOutcome::stopped);
    // A listing error that is not skipped ends the run here, before anything is deleted.
    if (listing_stops())
        return finish(RunOutcome::listing_failed);

    // 12-13: the finder, on a thread of its own.
    view_.stop_data_timer();
    view_.append_log(">>查找重复文件中,等等\r\n");
    state_.finder_running.store(1);
    seen = change_count();
    finder_thread_ = std::thread([this] {
        register_thread(finder_messages_);
        find_duplicates();
        signal_change();
    });
    while (state_.finder_running.load() != 0) {
        process_messages();
        if (options_.pause_ms > 0)
            pump_wait(options_.pause_ms, 1, 0);
        else
            wait_for_change(seen);
        seen = change_count();
    }
    finder_thread_.join();
    pause(options_.finder_settle_ms);

    // 14-17: the report of the duplicates.
    const std::size_t duplicates = state_.duplicate_list.size();
    view_.set_duplicate_label("重复数目: " + std::to_string(duplicates));
    view_.show_mark(Stage::find_duplicates);
    view_.move_loading_mark(139);
    if (duplicates == 0) {
        view_.append_log(">>查找完辣,你的网盘很干净,没有重复的文件哟~\r\n");
    } else {
        view_.append_output("\r\n[重复文件]\r\n");
        if (view_.is_checked(CheckBox::output_duplicates)) {
            for (const auto& path : state_.duplicate_list)
                view_.append_output(path + "\r\n");
        } else {
            view_.append_output("用户选择不输出");
        }
    }
    view_.append_log(">>开始删除文件\r\n");
    view_.append_output("\r\n[文件删除]\r\n");

    // 18-19: the deletion phase, one dispatch per delay.
    state_.dispatched_count.store(0);
    state_.slots.build(n, deletion_idle, 0);
    for (;;) {
        if (stopping_.load())
            break;
        if (static_cast<std::size_t>(state_.dispatched_count.load()) == duplicates)
            break;
        process_messages();
        seen = change_count();
        int slot = first_idle_slot(deletion_idle);
        if (slot == 0) {
            wait_for_change(seen);
            continue;
        }
        start_worker(slot, false);
        if (!options_.dry_run)
            pause(read_decimal(view_.read_delay_text()));
    }
    // Every delete in flight is counted before the total is written.
    for (;;) {
        seen = change_count();
        if (all_slots_idle(deletion_idle))
            break;
        wait_for_change(seen);
    }
    join_workers();
    if (stopping_.load())
        return finish(RunOutcome::stopped);

    // 20-21: the total.
    view_.append_log(">>成功干掉了" + std::to_string(state_.deleted_count.load()) + "个重复文件哦~\r\n");
    view_.append_log(">>程序运行完毕\r\n");
    view_.show_mark(Stage::delete_duplicates);
    view_.move_loading_mark(170);
    view_.show_mark(Stage::done);
    view_.hide_loading_mark();
    return finish(RunOutcome::finished);
}

// ---- token ---------------------------------------------------------------------------------------------

void SlimmingRun::fetch_token() {
    RegexObject regex;
    std::string status;
    std::string page = http_.request(home_page_url(options_.origin), method_get, {}, &state_.login_cookies,
                                     status, options_.http_timeout_seconds);
    regex.execute(token_pattern, page);
    std::string token = regex.submatch_text(1, 1);
    state_.page_token = token;
    state_.token_state.store(token.empty() ? 2 : 1);
}

// ---- listing -------------------------------------------------------------------------------------------

bool SlimmingRun::list_root() {
    {
        std::lock_guard<std::mutex> lock(state_.scan_lock);
        recorded_directories_.insert("/");
    }
    root_status_.clear();
    std::string status;
    list_directory("/", state_.login_cookies, true, &status);
    root_status_ = status;
    return !root_failed_;
}

void SlimmingRun::list_worker(int slot) {
    if (slot == 0) {
        view_.append_log(">>多线程出现异常");
        return;
    }
    auto& slot_state = state_.slots.state(static_cast<std::size_t>(slot));
    std::int32_t job = state_.slots.job(static_cast<std::size_t>(slot)).load();
    if (job <= 0) {
        slot_state.store(listing_idle);
        return;
    }
    std::string path;
    {
        std::lock_guard<std::mutex> lock(state_.scan_lock);
        if (static_cast<std::size_t>(job) <= state_.directory_list.size())
            path = state_.directory_list[static_cast<std::size_t>(job) - 1];
    }
    std::string cookies = state_.login_cookies;
    list_directory(path, cookies, false, nullptr);
    slot_state.store(listing_idle);
}

// Lists every page of one directory: page 2, 3, ... follow while a page is full.
void SlimmingRun::list_directory(const std::string& path, std::string& cookies, bool is_root,
                                 std::string* first_status) {
    std::unordered_set<std::string> seen;
    if (is_root)
        root_failed_ = false;
    for (int page = 1;; ++page) {
        std::string status;
        std::string response = http_.request(list_url(options_.origin, path, page), method_get, {}, &cookies,
                                             status, options_.http_timeout_seconds);
        if (page == 1 && first_status != nullptr)
            *first_status = status;
        if (is_root && page == 1 && response.empty()) {
            root_failed_ = true;
            return;
        }
        process_messages();
        ListingPage result = parse_listing(response, &seen);
        // A full page that held nothing new means the listing repeats itself: going on would never end.
        if (!result.ok || result.size < static_cast<std::size_t>(list_page_size) || result.added == 0)
            return;
        if (stopping_.load() || quit_requested())
            return;
    }
}

ListingPage SlimmingRun::parse_listing(const std::string& response, std::unordered_set<std::string>* seen) {
    ListingPage page;
    JsonObject json;
    if (!json.parse(response)) {
        std::lock_guard<std::mutex> lock(state_.scan_lock);
        state_.listing_error.store(1);
        state_.listing_errors.push_back(">>>解析文件错误.");
        view_.append_log(">>>解析文件错误.\r\n");
        return page;
    }
    if (json.get_text("errno") != "0") {
        std::lock_guard<std::mutex> lock(state_.scan_lock);
        state_.listing_error.store(1);
        state_.listing_errors.push_back(">>>请求提交错误. 错误参考→" + response);
        view_.append_log(">>>请求提交错误. 错误参考→" + response + "\r\n");
        return page;
    }
    page.ok = true;
    page.size = static_cast<std::size_t>(std::max(json.get_count("list"), 0));
    for (std::size_t i = 0;; ++i) {
        const std::string prefix = "list[" + std::to_string(i) + "].";
        if (json.get_text(prefix + "unlist").empty())
            break;
        if (stopping_.load())
            break;
        process_messages();
        std::string md5 = json.get_text(prefix + "md5");
        std::string entry_path = json.get_text(prefix + "path");
        // An entry without a path names nothing that could be listed or deleted.
        if (!entry_path.empty() && (seen == nullptr || seen->insert(entry_path).second)) {
            ++page.added;
            if (!md5.empty()) {
                FileEntry entry{std::move(md5), std::move(entry_path),
                                json.get_text(prefix + "server_filename")};
                std::lock_guard<std::mutex> lock(state_.scan_lock);
                state_.file_list.push_back(std::move(entry));
                state_.file_count.store(state_.file_list.size());
            } else {
                std::lock_guard<std::mutex> lock(state_.scan_lock);
                // Each directory is listed once, however often listings name it.
                if (recorded_directories_.insert(entry_path).second) {
                    state_.directory_list.push_back(std::move(entry_path));
                    state_.directory_count.store(state_.directory_list.size());
                }
            }
        }
        pause(options_.pause_ms);
    }
    return page;
}

// ---- finder --------------------------------------------------------------------------------------------

void SlimmingRun::find_duplicates() {
    std::vector<PlannedDeletion> plan = plan_deletions(state_.file_list);
    state_.duplicate_list.reserve(plan.size());
    state_.duplicate_details.reserve(plan.size());
    for (const auto& planned : plan) {
        const FileEntry& entry = state_.file_list[planned.entry];
        state_.duplicate_list.push_back(entry.path);
        state_.duplicate_details.push_back(
            {entry.md5, state_.file_list[planned.kept].path, DeleteOutcome::pending, {}});
    }
    state_.duplicate_count.store(state_.duplicate_list.size());
    state_.finder_running.store(0);
}

// ---- deletion ------------------------------------------------------------------------------------------

void SlimmingRun::delete_worker(int slot) {
    auto& slot_state = state_.slots.state(static_cast<std::size_t>(slot));
    std::int32_t job = state_.slots.job(static_cast<std::size_t>(slot)).load();
    if (job > 0 && static_cast<std::size_t>(job) <= state_.duplicate_list.size())
        delete_file(static_cast<std::size_t>(job) - 1);
    slot_state.store(deletion_idle);
}

void SlimmingRun::delete_file(std::size_t index) {
    const std::string& path = state_.duplicate_list[index];
    DuplicateDetail* detail =
        index < state_.duplicate_details.size() ? &state_.duplicate_details[index] : nullptr;
    if (options_.dry_run) {
        if (detail != nullptr)
            detail->outcome = DeleteOutcome::planned;
        return;
    }
    std::string cookies = state_.login_cookies;
    std::string logid = make_logid();
    std::string status;
    std::string response = http_.request(delete_url(options_.origin, state_.page_token, logid), method_post,
                                         delete_body(path), &cookies, status, options_.http_timeout_seconds);
    if (delete_succeeded(response)) {
        state_.deleted_count.fetch_add(1);
        if (detail != nullptr)
            detail->outcome = DeleteOutcome::deleted;
        view_.append_output("删除文件+1\r\n");
    } else {
        state_.failed_count.fetch_add(1);
        if (detail != nullptr) {
            detail->outcome = DeleteOutcome::failed;
            detail->failure = delete_failure_text(response, status);
        }
    }
}

} // namespace vestrel
