#pragma once
// The simulated account: a directory tree held compactly (one node record per file or directory, names and
// digests in one text arena) so that a million files fit in about a hundred megabytes.

#include "sim/simulator.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vestrel {

class AccountError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a list or delete request of one path meets besides the normal answer (from the account file).
struct PathFault {
    int delay_ms = 0;
    bool drop = false;     // close the connection without an answer
    bool has_body = false; // answer this body instead
    std::string body;
    int status = 200;       // HTTP status with the body
    bool has_errno = false; // answer {"errno":N}
    int errno_value = 0;
    int times = -1; // only the first N requests meet it; -1 always
    std::atomic<int> used{0};

    PathFault() = default;
    PathFault(const PathFault& other)
        : delay_ms(other.delay_ms), drop(other.drop), has_body(other.has_body), body(other.body),
          status(other.status), has_errno(other.has_errno), errno_value(other.errno_value),
          times(other.times), used(other.used.load()) {}
    // True when this request meets the fault (counts it).
    bool applies() { return times < 0 || used.fetch_add(1) < times; }
};

// Sort orders of /api/list.
enum class ListOrder { time, name, size };

class Account {
public:
    static constexpr std::uint32_t none = 0xffffffffu;

    Account();

    // The account file format (see sim/simulator.h). Throws AccountError naming the problem.
    static Account from_json(std::string_view text);
    static Account generate(const GeneratorOptions& options, std::uint64_t seed);

    std::string user = "demo";
    std::string password = "demo";

    // Node of a full path ("/" is the root), or none.
    std::uint32_t find(std::string_view path) const;
    bool is_directory(std::uint32_t node) const { return nodes_[node].dir != none; }
    bool exists(std::uint32_t node) const { return !nodes_[node].deleted; }
    std::string path_of(std::uint32_t node) const;
    std::string_view name_of(std::uint32_t node) const;
    std::string_view md5_of(std::uint32_t node) const;

    // Appends the "list" array's entries of one page of a directory (no brackets) to out; returns the count.
    std::size_t append_listing(std::string& out, std::uint32_t dir_node, ListOrder order, bool descending,
                               std::size_t page, std::size_t per_page) const;

    // Moves a file or a directory with its contents to the recycle bin.
    void remove(std::uint32_t node);
    const std::vector<RecycledEntry>& recycle() const { return recycle_; }

    std::size_t file_count() const { return live_files_; }
    std::size_t directory_count() const { return live_dirs_; }
    std::vector<std::string> file_paths() const;
    std::vector<std::string> directory_paths() const;

    // Fault of a path (list of a directory, delete of a path), or nullptr.
    PathFault* fault_of(std::uint32_t node);

    std::string to_json() const;
    std::size_t memory_bytes() const;

private:
    struct Node {
        std::uint64_t fs_id = 0;
        std::uint64_t size = 0;
        std::int64_t mtime = 0;
        std::uint64_t text = 0; // name, then md5, in arena_
        std::uint32_t name_len = 0;
        std::uint32_t md5_len = 0;
        std::uint32_t parent = none;
        std::uint32_t dir = none; // index into dirs_ for a directory
        bool deleted = false;
    };
    struct Dir {
        std::uint32_t node = none;
        std::vector<std::uint32_t> by_name; // children, by name (bytes)
        std::vector<std::uint32_t> by_time; // children, newest first, ties by name
    };

    std::uint32_t add_node(std::uint32_t parent, std::string_view name, std::string_view md5, bool directory);
    std::uint32_t child(std::uint32_t dir_node, std::string_view name) const;
    void finish(); // sorts the children and checks names; throws AccountError on a repeated path
    bool time_before(std::uint32_t a, std::uint32_t b) const;
    void append_entry(std::string& out, std::uint32_t node, const std::string& dir_path) const;
    void collect(std::uint32_t node, std::vector<std::string>& out, bool directories) const;

    std::vector<Node> nodes_;
    std::vector<Dir> dirs_;
    std::string arena_;
    std::unordered_map<std::uint32_t, PathFault> faults_;
    std::vector<RecycledEntry> recycle_;
    std::size_t live_files_ = 0;
    std::size_t live_dirs_ = 1;
};

// JSON string literal of a UTF-8 text (quotes included), appended to out.
void append_json_string(std::string& out, std::string_view text);

// Deterministic 64-bit mixing (SplitMix64), the simulator's one source of pseudo-random numbers.
std::uint64_t mix64(std::uint64_t x);

} // namespace vestrel
