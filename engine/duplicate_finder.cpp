#include "engine/duplicate_finder.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace vestrel {

namespace {

// An open-addressing set of entry positions keyed by one text field of the entry. A cell holds the key's
// hash in its upper half and the position plus one in its lower half (0 marks a free cell), so that most
// probes are settled without touching the entry; at most half the cells are used.
class PositionSet {
public:
    explicit PositionSet(std::size_t expected) {
        std::size_t capacity = 16;
        while (capacity < expected * 2)
            capacity <<= 1;
        cells_.assign(capacity, 0);
        mask_ = capacity - 1;
    }

    // Finds the stored position whose key equals `key`: (position, true); or the free cell where it would
    // go: (cell, false).
    template <class KeyOf>
    std::pair<std::size_t, bool> find(std::string_view key, KeyOf key_of) {
        std::uint64_t hash = std::hash<std::string_view>{}(key);
        std::uint64_t tag = hash >> 32;
        std::size_t cell = static_cast<std::size_t>(hash) & mask_;
        for (;;) {
            std::uint64_t stored = cells_[cell];
            if (stored == 0) {
                pending_tag_ = tag;
                return {cell, false};
            }
            if ((stored >> 32) == tag) {
                std::size_t position = static_cast<std::size_t>(stored & 0xFFFFFFFFu) - 1;
                if (key_of(position) == key)
                    return {position, true};
            }
            cell = (cell + 1) & mask_;
        }
    }

    // Stores `position` in the free cell the last find() returned.
    void put(std::size_t cell, std::size_t position) {
        cells_[cell] = (pending_tag_ << 32) | (static_cast<std::uint64_t>(position) + 1);
    }

private:
    std::vector<std::uint64_t> cells_;
    std::size_t mask_ = 0;
    std::uint64_t pending_tag_ = 0;
};

} // namespace

std::vector<PlannedDeletion> plan_deletions(const std::deque<FileEntry>& files) {
    std::vector<PlannedDeletion> plan;
    PositionSet digests(files.size());
    PositionSet paths(files.size());
    auto md5_of = [&](std::size_t i) -> std::string_view { return files[i].md5; };
    auto path_of = [&](std::size_t i) -> std::string_view { return files[i].path; };
    for (std::size_t i = files.size(); i-- > 0;) {
        const FileEntry& entry = files[i];
        if (entry.md5.empty())
            continue;
        auto [path_cell, path_seen] = paths.find(entry.path, path_of);
        if (path_seen)
            continue;
        paths.put(path_cell, i);
        auto [found, digest_seen] = digests.find(entry.md5, md5_of);
        if (digest_seen)
            plan.push_back({i, found});
        else
            digests.put(found, i);
    }
    return plan;
}

} // namespace vestrel
