// The deterministic account generator: the same options and seed give the same tree, names, digests, sizes
// and times on every machine (only our own mixing function is used, never the standard distributions).
#include "sim/account.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace vestrel {

namespace {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(mix64(seed ^ 0x6e696d62617261ull)) {}
    std::uint64_t next() {
        state_ += 0x9e3779b97f4a7c15ull;
        return mix64(state_);
    }
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    bool chance(double p) { return p > 0 && unit() < p; }

private:
    std::uint64_t state_;
};

constexpr std::array<const char*, 18> non_ascii_words = {
    "照片",   "文档",   "备份",    "音乐",  "Übersicht",  "café", "résumé", "Ελληνικά", "русский",
    "日本語", "한국어", "العربية", "עברית", "🎵 playlist", "😀",    "𠀋𠮷",   "ñandú",    "Ωmega"};
constexpr std::array<const char*, 18> special_parts = {" ", "+", "%", "%2F", "'", "\"",  "\\",  "&",   "=",
                                                       "#", "?", ";", "~",   "!", "(1)", "[a]", "{b}", ","};
constexpr std::array<const char*, 4> file_stems = {"IMG_", "doc-", "track ", "report_"};
constexpr std::array<const char*, 9> extensions = {".jpg", ".png", ".mp4", ".pdf", ".docx",
                                                   ".txt", ".zip", ".mp3", ""};

void append_number(std::string& out, std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// A name unique within the account (it holds the entry's number).
void make_name(std::string& name, Random& random, const GeneratorOptions& options, bool directory,
               std::uint64_t number) {
    name.clear();
    if (random.chance(options.non_ascii_share)) {
        name += non_ascii_words[random.below(non_ascii_words.size())];
        name += '-';
    }
    if (directory)
        name += "dir-";
    else
        name += file_stems[random.below(file_stems.size())];
    if (random.chance(options.special_share)) {
        name += special_parts[random.below(special_parts.size())];
        name += 'x';
        name += special_parts[random.below(special_parts.size())];
    }
    append_number(name, number);
    if (!directory)
        name += extensions[random.below(extensions.size())];
}

} // namespace

Account Account::generate(const GeneratorOptions& options, std::uint64_t seed) {
    constexpr std::uint32_t full = 100; // entries of an ordinary directory, at most
    constexpr std::int64_t epoch = 1400000000;
    constexpr std::int64_t span = 300000000;

    Random random(seed);
    Account account;
    std::uint32_t directory_count = std::max<std::uint32_t>(1, options.directories);
    if (options.depth == 0)
        directory_count = 1;
    account.nodes_.reserve(std::size_t(directory_count) + options.files);
    account.dirs_.reserve(directory_count);
    account.arena_.reserve((std::size_t(directory_count) + options.files) * 48);

    // Directory i is node dir_nodes[i]; dir 0 is the root.
    std::vector<std::uint32_t> dir_nodes{0};
    std::vector<std::uint32_t> depth{0};
    std::vector<std::uint32_t> entries{0};
    std::vector<std::uint32_t> eligible{0}; // directories that may still take subdirectories (not too deep)
    std::vector<char> large(directory_count, 0);
    std::string name;

    // Picks a random directory of `open` (those that may take more entries), or of `fallback` when none is
    // open; a directory leaves `open` when it is full.
    auto pick = [&](std::vector<std::uint32_t>& open, const std::vector<std::uint32_t>& fallback,
                    std::size_t& slot) -> std::uint32_t {
        if (open.empty()) {
            slot = std::size_t(-1);
            return fallback[random.below(fallback.size())];
        }
        slot = random.below(open.size());
        return open[slot];
    };
    auto took_one = [&](std::vector<std::uint32_t>& open, std::size_t slot, std::uint32_t d) {
        ++entries[d];
        if (slot != std::size_t(-1) && !large[d] && entries[d] >= full) {
            open[slot] = open.back();
            open.pop_back();
        }
    };

    // Which directories are large is settled first, so that the tree below does not fill them.
    std::uint32_t large_count = std::min(options.large_directories, directory_count);
    {
        std::vector<std::uint32_t> order(directory_count);
        for (std::uint32_t i = 0; i < directory_count; ++i)
            order[i] = i;
        for (std::uint32_t i = 0; i < large_count; ++i) {
            std::uint32_t j = i + static_cast<std::uint32_t>(random.below(directory_count - i));
            std::swap(order[i], order[j]);
            large[order[i]] = 1;
        }
    }

    std::vector<std::uint32_t> open{0};
    for (std::uint32_t i = 1; i < directory_count; ++i) {
        std::size_t slot;
        std::uint32_t parent = pick(open, eligible, slot);
        make_name(name, random, options, true, i);
        std::uint32_t node = account.add_node(dir_nodes[parent], name, {}, true);
        account.nodes_[node].mtime = epoch + static_cast<std::int64_t>(random.below(span));
        account.nodes_[node].fs_id = 200000000000ull + node;
        took_one(open, slot, parent);
        dir_nodes.push_back(node);
        depth.push_back(depth[parent] + 1);
        entries.push_back(0);
        if (depth.back() < options.depth) {
            eligible.push_back(i);
            open.push_back(i);
        }
    }

    std::vector<std::uint32_t> all(directory_count);
    std::vector<std::uint32_t> ordinary; // not large and not full
    for (std::uint32_t i = 0; i < directory_count; ++i) {
        all[i] = i;
        if (!large[i] && entries[i] < full)
            ordinary.push_back(i);
    }
    std::vector<std::int64_t> last_mtime(directory_count, 0);
    std::vector<std::array<std::uint64_t, 2>> digests;
    digests.reserve(options.files);
    static const char hex[] = "0123456789abcdef";
    char md5[32];

    // Large directories take a share of the files first: 101 to 300 entries each.
    std::vector<std::uint32_t> large_targets;
    for (std::uint32_t d = 0; d < directory_count; ++d) {
        if (large[d])
            large_targets.push_back(d);
    }
    std::vector<std::uint32_t> large_quota(directory_count, 0);
    std::uint64_t remaining = options.files;
    for (std::uint32_t d : large_targets) {
        std::uint32_t want = 101 + static_cast<std::uint32_t>(random.below(200));
        std::uint32_t need = want > entries[d] ? want - entries[d] : 0;
        std::uint32_t take = static_cast<std::uint32_t>(std::min<std::uint64_t>(need, remaining));
        large_quota[d] = take;
        remaining -= take;
    }
    std::size_t large_cursor = 0;

    for (std::uint64_t f = 0; f < options.files; ++f) {
        std::uint32_t d;
        std::size_t slot = std::size_t(-1);
        while (large_cursor < large_targets.size() && large_quota[large_targets[large_cursor]] == 0)
            ++large_cursor;
        if (large_cursor < large_targets.size()) {
            d = large_targets[large_cursor];
            --large_quota[d];
        } else {
            d = pick(ordinary, all, slot);
        }

        std::array<std::uint64_t, 2> digest;
        if (!digests.empty() && random.chance(options.duplicate_share))
            digest = digests[random.below(digests.size())];
        else
            digest = {random.next(), random.next()};
        digests.push_back(digest);
        for (int i = 0; i < 32; ++i)
            md5[i] = hex[(digest[i / 16] >> ((15 - i % 16) * 4)) & 15];

        make_name(name, random, options, false, f + 1);
        std::uint32_t node = account.add_node(dir_nodes[d], name, std::string_view(md5, 32), false);
        Node& record = account.nodes_[node];
        // Equal content, equal size.
        record.size = mix64(digest[0] ^ digest[1]) % 50000000;
        // Now and then a file shares its directory's previous time, so ties are ordered by name.
        if (last_mtime[d] != 0 && random.below(16) == 0)
            record.mtime = last_mtime[d];
        else
            record.mtime = epoch + static_cast<std::int64_t>(random.below(span));
        last_mtime[d] = record.mtime;
        record.fs_id = 300000000000ull + f;
        if (slot != std::size_t(-1))
            took_one(ordinary, slot, d);
    }
    account.finish();
    return account;
}

} // namespace vestrel
