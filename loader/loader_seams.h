#pragma once
// The three platform seams of the in-memory module loader: image memory, library lookup and the call of a
// routine at a 32-bit address. The loader's core is portable; each platform gives one back end
// (memory_module_posix.cpp, memory_module_win32.cpp), and tests put their own in.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace vestrel {

// A 32-bit address in this process. Image memory always lies below 4 GiB, so an image's addresses fit.
using Address = std::uint32_t;

// The host pointer for a 32-bit address.
inline std::uint8_t* host_pointer(Address address) {
    return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
}

// Blocks of read-write-execute memory below 4 GiB, reserved and committed in one request.
class ImageMemory {
public:
    virtual ~ImageMemory() = default;
    // A block of size bytes starting exactly at address, or 0 when that range is not available.
    virtual Address allocate_at(Address address, std::uint32_t size) = 0;
    // A block of size bytes anywhere below 4 GiB, or 0.
    virtual Address allocate_anywhere(std::uint32_t size) = 0;
    // Releases the block that starts at base; false when there is none.
    virtual bool release(Address base) = 0;
    // Bytes usable from base when base starts a live block, else 0.
    virtual std::uint32_t block_size(Address base) const = 0;
};

// The system's libraries: LoadLibraryA and GetProcAddress, or a table of routines.
class LibraryLookup {
public:
    virtual ~LibraryLookup() = default;
    // A handle for the named library, or 0 when it cannot be loaded.
    virtual std::uint32_t load_library(const std::string& name) = 0;
    virtual Address find_routine(std::uint32_t library, const std::string& name) = 0;
    virtual Address find_routine(std::uint32_t library, std::uint16_t ordinal) = 0;
};

// Calls the routine at an address with 32-bit arguments in the platform's library calling convention
// (stdcall on 32-bit Windows) and returns its 32-bit result.
class RoutineCaller {
public:
    static constexpr std::size_t max_arguments = 10;
    virtual ~RoutineCaller() = default;
    virtual std::uint32_t call(Address address, std::span<const std::uint32_t> arguments) = 0;
};

// A library lookup over a table of routines, for platforms that cannot load 32-bit Windows libraries.
// Library names compare without regard to ASCII case, as Windows does; routine names exactly.
class RoutineTable : public LibraryLookup {
public:
    void add(const std::string& library, const std::string& name, Address address);
    void add(const std::string& library, std::uint16_t ordinal, Address address);
    // Every name given to load_library, in order, the unknown ones included.
    std::vector<std::string> loaded() const;

    std::uint32_t load_library(const std::string& name) override;
    Address find_routine(std::uint32_t library, const std::string& name) override;
    Address find_routine(std::uint32_t library, std::uint16_t ordinal) override;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> libraries_; // handle - 1 -> lower-case name
    std::map<std::pair<std::string, std::string>, Address> by_name_;
    std::map<std::pair<std::string, std::uint16_t>, Address> by_ordinal_;
    std::vector<std::string> loaded_;
};

// A routine caller that runs nothing: it records each call and answers what its responder says
// (0 when there is none). On Linux, where 32-bit Windows code cannot run in the process, it is the
// platform's caller; tests use it on both platforms.
class RecordingCaller : public RoutineCaller {
public:
    struct Call {
        Address address;
        std::vector<std::uint32_t> arguments;
        bool operator==(const Call&) const = default;
    };
    using Responder = std::function<std::uint32_t(const Call&)>;

    void respond(Responder responder);
    std::vector<Call> calls() const;
    void clear();

    std::uint32_t call(Address address, std::span<const std::uint32_t> arguments) override;

private:
    mutable std::mutex mutex_;
    Responder responder_;
    std::vector<Call> calls_;
};

// The seams a loader uses; none is owned.
struct LoaderSeams {
    ImageMemory* memory = nullptr;
    LibraryLookup* libraries = nullptr;
    RoutineCaller* caller = nullptr;
};

// This platform's seams: VirtualAlloc, LoadLibraryA and real calls on Windows; on Linux memory mapped
// below 4 GiB, a process-wide RoutineTable and a process-wide RecordingCaller.
LoaderSeams system_loader_seams();

} // namespace vestrel
