// Windows back end of the loader's seams: VirtualAlloc and VirtualFree, LoadLibraryA and GetProcAddress,
// and real stdcall calls.

#include "loader/loader_seams.h"

#include <windows.h>

#include <utility>

namespace vestrel {

namespace {

class VirtualImageMemory : public ImageMemory {
public:
    Address allocate_at(Address address, std::uint32_t size) override {
        if (address == 0) // VirtualAlloc would take 0 as "anywhere"
            return 0;
        return allocate(host_pointer(address), size);
    }

    Address allocate_anywhere(std::uint32_t size) override { return allocate(nullptr, size); }

    bool release(Address base) override {
        return block_size(base) != 0 && VirtualFree(host_pointer(base), 0, MEM_RELEASE) != 0;
    }

    std::uint32_t block_size(Address base) const override {
        // The committed regions of the one allocation that begins at base.
        if (base == 0)
            return 0;
        std::uint64_t size = 0;
        for (;;) {
            MEMORY_BASIC_INFORMATION info{};
            std::uint8_t* at = host_pointer(base) + size;
            if (VirtualQuery(at, &info, sizeof info) != sizeof info ||
                info.AllocationBase != host_pointer(base) || info.State != MEM_COMMIT)
                break;
            size += info.RegionSize;
            if (size >= 0xFFFFFFFFu)
                break;
        }
        return size >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
    }

private:
    static Address allocate(void* address, std::uint32_t size) {
        if (size == 0)
            return 0;
        void* got = VirtualAlloc(address, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
        return static_cast<Address>(reinterpret_cast<std::uintptr_t>(got));
    }
};

class SystemLibraries : public LibraryLookup {
public:
    std::uint32_t load_library(const std::string& name) override {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(LoadLibraryA(name.c_str())));
    }
    Address find_routine(std::uint32_t library, const std::string& name) override {
        return address_of(GetProcAddress(module(library), name.c_str()));
    }
    Address find_routine(std::uint32_t library, std::uint16_t ordinal) override {
        return address_of(GetProcAddress(module(library), MAKEINTRESOURCEA(ordinal)));
    }

private:
    static HMODULE module(std::uint32_t library) {
        return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(library));
    }
    static Address address_of(FARPROC routine) {
        return static_cast<Address>(reinterpret_cast<std::uintptr_t>(routine));
    }
};

class StdcallCaller : public RoutineCaller {
public:
    std::uint32_t call(Address address, std::span<const std::uint32_t> arguments) override {
        if (address == 0 || arguments.size() > max_arguments)
            return 0;
        return dispatch(address, arguments.data(), arguments.size(),
                        std::make_index_sequence<max_arguments + 1>{});
    }

private:
    using Word = std::uint32_t;

    template <std::size_t... I>
    static Word invoke(Address address, const Word* arguments, std::index_sequence<I...>) {
        using Routine = Word(__stdcall*)(decltype((void)I, Word{})...);
        return reinterpret_cast<Routine>(static_cast<std::uintptr_t>(address))(arguments[I]...);
    }

    template <std::size_t... N>
    static Word dispatch(Address address, const Word* arguments, std::size_t count,
                         std::index_sequence<N...>) {
        Word result = 0;
        // The routine's own signature: a stdcall routine pops exactly the arguments it takes.
        ((count == N ? (result = invoke(address, arguments, std::make_index_sequence<N>{}), 0) : 0), ...);
        return result;
    }
};

} // namespace

LoaderSeams system_loader_seams() {
    static VirtualImageMemory memory;
    static SystemLibraries libraries;
    static StdcallCaller caller;
    return LoaderSeams{&memory, &libraries, &caller};
}

} // namespace vestrel
