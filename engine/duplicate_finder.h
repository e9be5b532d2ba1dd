#pragma once
// The duplicate finder's core: which listed files are copies of another. Two files are copies when the
// service reports the same md5 text for both (compared exactly, letter case included); an empty md5 is no
// digest. Entries with the same path are one file, whatever else they say: a directory listed twice, or a
// page that repeats an entry of the page before, never makes a file a copy of itself.

#include "engine/scan_state.h"

#include <cstddef>
#include <deque>
#include <vector>

namespace vestrel {

struct PlannedDeletion {
    std::size_t entry; // position (from 0) in the file list of the copy to delete
    std::size_t kept;  // position of the copy of that digest that stays
};

// Walks `files` from the last entry to the first. Of each digest the entry met first (the one recorded last)
// stays; every other entry with that digest and a path not met before is planned for deletion, in the order
// of the walk. An entry whose path was met before is the same file again and is passed over.
std::vector<PlannedDeletion> plan_deletions(const std::deque<FileEntry>& files);

} // namespace vestrel
