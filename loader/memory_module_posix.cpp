// Linux back end of the loader's seams. Image memory is mapped below 4 GiB so that a 32-bit address holds
// it; 32-bit Windows code cannot run here, so libraries come from a table and calls are recorded.

#include "loader/loader_seams.h"

#include <sys/mman.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace vestrel {

namespace {

constexpr std::uint64_t four_gib = std::uint64_t{1} << 32;
constexpr int protection = PROT_READ | PROT_WRITE | PROT_EXEC;

class LowImageMemory : public ImageMemory {
public:
    Address allocate_at(Address address, std::uint32_t size) override {
        if (address == 0 || size == 0 || std::uint64_t{address} + size > four_gib)
            return 0;
        void* wanted = host_pointer(address);
        void* got = map(wanted, size, MAP_FIXED_NOREPLACE);
        if (got == nullptr)
            return 0;
        if (got != wanted) { // a kernel without MAP_FIXED_NOREPLACE took it as a hint
            ::munmap(got, size);
            return 0;
        }
        return remember(got, size);
    }

    Address allocate_anywhere(std::uint32_t size) override {
        if (size == 0)
            return 0;
#ifdef MAP_32BIT
        if (void* got = map(nullptr, size, MAP_32BIT); got != nullptr) {
            if (reinterpret_cast<std::uintptr_t>(got) + size <= four_gib)
                return remember(got, size);
            ::munmap(got, size);
        }
#endif
        // Hints from 256 MiB upward, 16 MiB apart.
        for (std::uint64_t hint = 0x10000000; hint + size <= four_gib; hint += 0x1000000) {
            void* got = map(host_pointer(static_cast<Address>(hint)), size, MAP_FIXED_NOREPLACE);
            if (got == host_pointer(static_cast<Address>(hint)))
                return remember(got, size);
            if (got != nullptr)
                ::munmap(got, size);
        }
        return 0;
    }

    bool release(Address base) override {
        std::lock_guard lock(mutex_);
        const auto found = blocks_.find(base);
        if (found == blocks_.end())
            return false;
        if (::munmap(host_pointer(base), found->second) != 0)
            return false;
        blocks_.erase(found);
        return true;
    }

    std::uint32_t block_size(Address base) const override {
        std::lock_guard lock(mutex_);
        const auto found = blocks_.find(base);
        return found == blocks_.end() ? 0 : found->second;
    }

private:
    static void* map(void* address, std::uint32_t size, int extra) {
        void* got = ::mmap(address, size, protection, MAP_PRIVATE | MAP_ANONYMOUS | extra, -1, 0);
        if (got == MAP_FAILED) // where writable code is refused, the data still maps; nothing runs here
            got = ::mmap(address, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | extra, -1, 0);
        return got == MAP_FAILED ? nullptr : got;
    }

    Address remember(void* got, std::uint32_t size) {
        const auto base = static_cast<Address>(reinterpret_cast<std::uintptr_t>(got));
        std::lock_guard lock(mutex_);
        blocks_[base] = size;
        return base;
    }

    mutable std::mutex mutex_;
    std::map<Address, std::uint32_t> blocks_;
};

} // namespace

LoaderSeams system_loader_seams() {
    static LowImageMemory memory;
    static RoutineTable libraries;
    static RecordingCaller caller;
    return LoaderSeams{&memory, &libraries, &caller};
}

} // namespace vestrel
