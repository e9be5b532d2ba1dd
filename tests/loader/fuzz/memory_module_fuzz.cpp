// libFuzzer target: load + get_export + get_entry_point + unload over arbitrary bytes, with real image
// memory (below 4 GiB), a routine table and a recording caller. The last input byte picks the mode: bit 0
// gives a resolver, bit 1 makes the entry point refuse the attach. Whatever the bytes, nothing may crash and
// no block may stay allocated.

#include "loader/memory_module.h"
#include "loader/test_seams.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Keeps each run quick: images above 64 MiB are refused as if the system had no room.
class SmallMemory : public vestrel::testing::CountingMemory {
public:
    using CountingMemory::CountingMemory;
    vestrel::Address allocate_at(vestrel::Address address, std::uint32_t size) override {
        return size > (64u << 20) ? 0 : CountingMemory::allocate_at(address, size);
    }
    vestrel::Address allocate_anywhere(std::uint32_t size) override {
        return size > (64u << 20) ? 0 : CountingMemory::allocate_anywhere(size);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vestrel;
    const std::uint8_t mode = size > 0 ? data[size - 1] : 0;
    SmallMemory memory(*system_loader_seams().memory);
    RoutineTable libraries;
    libraries.add("kernel32.dll", "Sleep", 0x7100'0020);
    libraries.add("kernel32.dll", 17, 0x7100'0017);
    libraries.add("user32.dll", "MessageBoxW", 0x7200'0001);
    RecordingCaller caller;
    constexpr Address resolver = 0x6000'0000;
    caller.respond([&](const RecordingCaller::Call& c) -> std::uint32_t {
        if (c.address == resolver)
            return 0;
        return (mode & 2) != 0 && c.arguments.size() == 3 && c.arguments[1] == 1 ? 0 : 1;
    });
    {
        MemoryModule module(LoaderSeams{&memory, &libraries, &caller});
        if (module.load(std::span<const std::uint8_t>(data, size), (mode & 1) != 0 ? resolver : 0, 5)) {
            for (const char* name : {"SkinH_AttachRes", "Alpha", "1", "2", "7", "-1", "2147483647"})
                (void)module.get_export(name);
            (void)module.get_entry_point();
            if (!module.unload()) {
                std::fprintf(stderr, "unload of a freshly loaded image failed\n");
                std::abort();
            }
        }
    }
    if (memory.live() != 0) {
        std::fprintf(stderr, "%zu blocks left allocated\n", memory.live());
        std::abort();
    }
    return 0;
}
