#pragma once
// The shared state of one slimming run, its file record, and the view through which the engine reports.
//
// The lists are appended to by many listing workers while the run thread and a front end's timer read
// their lengths, so every list is a deque (its elements never move on append) guarded by scan_lock, and
// its length is mirrored in an atomic word that readers may take at any moment without the lock.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vestrel {

// One listed file. `server_filename` is kept with the record; nothing reads it again.
struct FileEntry {
    std::string md5;
    std::string path;
    std::string server_filename;
};

// The stage rows of a front end; each has a mark that the run shows as it passes.
enum class Stage {
    initialise,          // "初始化:"
    read_main_directory, // "读取主目录:"
    read_subdirectories, // "读取子目录:"
    find_duplicates,     // "查找重复:"
    delete_duplicates,   // "删除重复:"
    done,                // "完成:"
};

// The two check boxes a front end offers.
enum class CheckBox {
    skip_errors,       // "跳过错误"
    output_duplicates, // "输出重复"
};

// The window operations the engine calls. The engine calls them from the run thread and from worker
// threads: every implementation must be safe to call from any thread, and the lines one thread appends must
// appear in the order of its calls.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void append_log(const std::string& text) = 0;
    virtual void append_output(const std::string& text) = 0;
    virtual void set_duplicate_label(const std::string& text) = 0;
    virtual void show_mark(Stage stage) = 0;
    virtual void move_loading_mark(int top) = 0;
    virtual void hide_loading_mark() = 0;
    virtual void stop_data_timer() = 0;
    virtual bool is_checked(CheckBox box) = 0;
    virtual std::string read_delay_text() = 0;
};

// What became of one planned deletion.
enum class DeleteOutcome : std::int32_t {
    pending, // not dispatched (the run stopped first)
    deleted, // the service confirmed it
    failed,  // the service refused it, or the request failed
    planned, // a dry run: no request was sent
};

// One entry of duplicate_list with what the report needs beside the path.
struct DuplicateDetail {
    std::string md5;
    std::string kept_path; // the copy of this digest that stays
    DeleteOutcome outcome = DeleteOutcome::pending;
    std::string failure; // the answer's errno ("errno 12"), the request's error text, or the answer itself
};

// Slot words. In the listing phase 1 is idle and 0 working; in the deletion phase 0 is idle and 1 working.
class SlotWords {
public:
    void build(std::size_t count, std::int32_t state, std::int32_t job);
    std::size_t size() const { return count_; }
    // Slots count from 1.
    std::atomic<std::int32_t>& state(std::size_t slot) { return state_[slot - 1]; }
    std::atomic<std::int32_t>& job(std::size_t slot) { return job_[slot - 1]; }

private:
    std::size_t count_ = 0;
    std::unique_ptr<std::atomic<std::int32_t>[]> state_;
    std::unique_ptr<std::atomic<std::int32_t>[]> job_;
};

struct ScanState {
    // The logged-in account's cookie text. The token request and then the root listing merge response cookies
    // into it, strictly one after the other; workers copy it.
    std::string login_cookies;
    // Raised (never cleared) when a listing response cannot be read or reports an error.
    std::atomic<std::int32_t> listing_error{0};

    // Appended under scan_lock only; read an element under scan_lock (elements never move).
    std::deque<std::string> directory_list;
    std::deque<FileEntry> file_list;
    // Written by the finder alone, read after it has finished.
    std::vector<std::string> duplicate_list;
    std::vector<DuplicateDetail> duplicate_details; // one per duplicate_list entry, same order

    SlotWords slots;
    std::mutex scan_lock;

    // Written once by the token fetch; read after token_state says it is there.
    std::string page_token;
    std::atomic<std::int32_t> token_state{0}; // 0 fetching, 1 stored, 2 no token

    std::atomic<std::int32_t> dispatched_count{0};
    std::atomic<std::int32_t> finder_running{0};
    std::atomic<std::int32_t> deleted_count{0};
    std::atomic<std::int32_t> failed_count{0};

    // List lengths for readers without the lock (a front end's timer, the driver).
    std::atomic<std::size_t> directory_count{0};
    std::atomic<std::size_t> file_count{0};
    std::atomic<std::size_t> duplicate_count{0};

    // Listing errors as logged, for the report (guarded by scan_lock).
    std::vector<std::string> listing_errors;

    // Releases the five lists and leaves them empty. Call only when no worker runs.
    void release_scan_lists();
};

} // namespace vestrel
