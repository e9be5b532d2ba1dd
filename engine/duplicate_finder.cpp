#include "engine/duplicate_finder.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace vestrel {

namespace {

// An open-addressing set of entry positions keyed by one text field of the entry. Positions are stored plus
// one (0 marks a free cell), four bytes a cell, at most half the cells used.
class PositionSet {
public:
    explicit PositionSet(std::size_t expected) {
        std::size_t capacity = 16;
        while (capacity < expected * 2)
            capacity <<= 1;
        cells_.assign(capacity, 0);
        mask_ = capacity - 1;
    }

    // The stored position whose key equals `key`, or the free cell where it would go: returns (position,
    // true) when found, (cell index, false) otherwise.
    template <class KeyOf>
    std::pair<std::size_t, bool> find(std::string_view key, KeyOf key_of) const {
        std::size_t cell = std::hash<std::string_view>{}(key)&mask_;
        for (;;) {
            std::uint32_t stored = cells_[cell];
            if (stored == 0)
                return {cell, false};
            if (key_of(stored - 1) == key)
                return {stored - 1, true};
            cell = (cell + 1) & mask_;
        }
    }

    void put(std::size_t cell, std::size_t position) {
        cells_[cell] = static_cast<std::uint32_t>(position + 1);
    }

private:
    std::vector<std::uint32_t> cells_;
    std::size_t mask_ = 0;
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
