// The portable core of the in-memory module loader. Structures and field offsets follow the PE/COFF
// specification (32-bit form, little-endian).

#include "loader/memory_module.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace vestrel {

namespace {

constexpr std::uint32_t dos_header_size = 64;
constexpr std::uint32_t nt_headers_size = 248; // signature, file header, 32-bit optional header
constexpr std::uint32_t section_header_size = 40;
constexpr std::uint32_t import_descriptor_size = 20;
constexpr std::uint32_t export_directory_size = 40;
constexpr std::uint32_t relocation_header_size = 8;

constexpr std::uint16_t mz_magic = 0x5A4D;
constexpr std::uint32_t pe_signature = 0x4550;
constexpr std::uint16_t executable_image = 0x0002;
constexpr std::uint16_t library_image = 0x2000;
constexpr unsigned relocation_highlow = 3;

constexpr unsigned export_directory = 0;
constexpr unsigned import_directory = 1;
constexpr unsigned relocation_directory = 5;

constexpr std::uint32_t process_detach = 0;
constexpr std::uint32_t process_attach = 1;

// Checked little-endian access to a range of bytes.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::uint64_t size) : data_(data), size_(size) {}

    std::uint64_t size() const { return size_; }
    bool holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    bool u16(std::uint64_t offset, std::uint16_t& out) const {
        if (!holds(offset, 2))
            return false;
        out = static_cast<std::uint16_t>(data_[offset] | data_[offset + 1] << 8);
        return true;
    }
    bool u32(std::uint64_t offset, std::uint32_t& out) const {
        if (!holds(offset, 4))
            return false;
        out = static_cast<std::uint32_t>(data_[offset]) | static_cast<std::uint32_t>(data_[offset + 1]) << 8 |
              static_cast<std::uint32_t>(data_[offset + 2]) << 16 |
              static_cast<std::uint32_t>(data_[offset + 3]) << 24;
        return true;
    }
    // A zero-terminated text starting at offset that ends inside the range.
    bool text(std::uint64_t offset, std::string_view& out) const {
        if (offset >= size_)
            return false;
        const auto* start = data_ + offset;
        const void* end = std::memchr(start, 0, static_cast<std::size_t>(size_ - offset));
        if (end == nullptr)
            return false;
        out = std::string_view(reinterpret_cast<const char*>(start),
                               static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - start));
        return true;
    }

private:
    const std::uint8_t* data_;
    std::uint64_t size_;
};

void write_u32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

struct DataDirectory {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

struct Headers {
    std::uint32_t nt_offset = 0; // e_lfanew
    std::uint16_t section_count = 0;
    std::uint16_t characteristics = 0;
    std::uint32_t entry_point = 0;
    std::uint32_t image_base = 0;
    std::uint32_t section_alignment = 0;
    std::uint32_t size_of_image = 0;
    std::array<DataDirectory, 16> directories{};

    std::uint64_t section_table() const { return std::uint64_t{nt_offset} + nt_headers_size; }
    std::uint64_t headers_end() const {
        return section_table() + std::uint64_t{section_header_size} * section_count;
    }
    bool is_library() const { return (characteristics & library_image) != 0; }
};

// The DOS header and the NT headers: "MZ", e_lfanew, "PE\0\0" and the fields the loader uses.
bool read_headers(const Bytes& bytes, Headers& out) {
    std::uint16_t magic = 0;
    if (bytes.size() < dos_header_size || !bytes.u16(0, magic) || magic != mz_magic)
        return false;
    if (!bytes.u32(60, out.nt_offset))
        return false;
    const std::uint64_t nt = out.nt_offset;
    std::uint32_t signature = 0;
    if (!bytes.holds(nt, nt_headers_size) || !bytes.u32(nt, signature) || signature != pe_signature)
        return false;
    bytes.u16(nt + 6, out.section_count);
    bytes.u16(nt + 22, out.characteristics);
    bytes.u32(nt + 40, out.entry_point);
    bytes.u32(nt + 52, out.image_base);
    bytes.u32(nt + 56, out.section_alignment);
    bytes.u32(nt + 80, out.size_of_image);
    for (unsigned i = 0; i < out.directories.size(); ++i) {
        bytes.u32(nt + 120 + 8 * i, out.directories[i].address);
        bytes.u32(nt + 124 + 8 * i, out.directories[i].size);
    }
    return true;
}

struct Section {
    std::uint32_t virtual_size = 0;
    std::uint32_t virtual_address = 0;
    std::uint32_t raw_size = 0;
    std::uint32_t raw_pointer = 0;
};

Section read_section(const Bytes& bytes, const Headers& headers, unsigned index) {
    const std::uint64_t at = headers.section_table() + std::uint64_t{section_header_size} * index;
    Section s;
    bytes.u32(at + 8, s.virtual_size);
    bytes.u32(at + 12, s.virtual_address);
    bytes.u32(at + 16, s.raw_size);
    bytes.u32(at + 20, s.raw_pointer);
    return s;
}

// The mapped block at base, as far as the image memory knows it.
Bytes mapped_block(Address base, const LoaderSeams& seams) {
    if (base == 0)
        return Bytes(nullptr, 0);
    return Bytes(host_pointer(base), seams.memory->block_size(base));
}

std::uint32_t call(const LoaderSeams& seams, Address address, std::initializer_list<std::uint32_t> args) {
    return seams.caller->call(address, std::span<const std::uint32_t>(args.begin(), args.size()));
}

// The entry point of a mapped library, or 0 when it would not be code inside the image.
Address library_entry(Address base, const Headers& headers, const Bytes& block) {
    if (headers.entry_point == 0 || headers.entry_point >= block.size())
        return 0;
    return base + headers.entry_point;
}

// The image size: SizeOfImage, raised to the aligned end of every section. 0 when the sizes overflow
// 32 bits, the alignment is 0 or the headers would not fit.
std::uint32_t image_size(const Bytes& image, const Headers& headers) {
    if (headers.section_alignment == 0)
        return 0;
    std::uint64_t size = headers.size_of_image;
    for (unsigned i = 0; i < headers.section_count; ++i) {
        const Section s = read_section(image, headers, i);
        const std::uint64_t end = std::uint64_t{s.virtual_address} + std::max(s.raw_size, s.virtual_size);
        const std::uint64_t alignment = headers.section_alignment;
        const std::uint64_t aligned = (end + alignment - 1) / alignment * alignment; // align_up
        size = std::max(size, aligned);
    }
    if (size > 0xFFFFFFFFu || size < headers.headers_end())
        return 0;
    return static_cast<std::uint32_t>(size);
}

// Releases a block unless disarmed.
class BlockGuard {
public:
    BlockGuard(ImageMemory& memory, Address base) : memory_(memory), base_(base) {}
    ~BlockGuard() {
        if (base_ != 0)
            memory_.release(base_);
    }
    BlockGuard(const BlockGuard&) = delete;
    BlockGuard& operator=(const BlockGuard&) = delete;
    Address keep() { return std::exchange(base_, 0); }
    void release_now() {
        if (base_ != 0)
            memory_.release(std::exchange(base_, 0));
    }

private:
    ImageMemory& memory_;
    Address base_;
};

// The ordinal that name denotes: the canonical decimal text of a 32-bit signed integer.
bool ordinal_of(std::string_view name, std::int32_t& out) {
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), value);
    if (error != std::errc() || end != name.data() + name.size())
        return false;
    char text[16];
    const auto printed = std::to_chars(std::begin(text), std::end(text), value);
    if (std::string_view(text, static_cast<std::size_t>(printed.ptr - text)) != name)
        return false;
    out = value;
    return true;
}

} // namespace

Address map_image(std::span<const std::uint8_t> image, Address resolver, std::uint32_t resolver_value,
                  const LoaderSeams& seams) {
    const Bytes bytes(image.data(), image.size());
    Headers headers;
    if (!read_headers(bytes, headers))
        return 0;
    if ((headers.characteristics & executable_image) == 0)
        return 0;
    if (!bytes.holds(0, headers.headers_end()))
        return 0;

    const std::uint32_t size = image_size(bytes, headers);
    if (size == 0)
        return 0;
    // Raw data must come from inside the byte string.
    for (unsigned i = 0; i < headers.section_count; ++i) {
        const Section s = read_section(bytes, headers, i);
        if (s.raw_size > 0 && s.virtual_address != 0 && !bytes.holds(s.raw_pointer, s.raw_size))
            return 0;
    }
    // A library's entry point is called at once; it has to be code inside the image.
    if (headers.is_library() && (headers.entry_point == 0 || headers.entry_point >= size))
        return 0;

    Address base = seams.memory->allocate_at(headers.image_base, size);
    if (base == 0)
        base = seams.memory->allocate_anywhere(size);
    if (base == 0)
        return 0;
    BlockGuard guard(*seams.memory, base);
    std::uint8_t* const target = host_pointer(base);

    // Headers up to the end of the section table, and nothing beyond it.
    std::memcpy(target, image.data(), static_cast<std::size_t>(headers.headers_end()));
    for (unsigned i = 0; i < headers.section_count; ++i) {
        const Section s = read_section(bytes, headers, i);
        if (s.raw_size == 0 || s.virtual_address == 0)
            continue;
        // Sections may reach past SizeOfImage only as far as the computed size, which covers them.
        std::memcpy(target + s.virtual_address, image.data() + s.raw_pointer, s.raw_size);
    }

    if (headers.directories[relocation_directory].size > 0 && !apply_relocations(base, seams))
        return 0;
    if (headers.directories[import_directory].address > 0 &&
        !resolve_imports(base, resolver, resolver_value, seams))
        return 0;

    // Sections, relocations or import addresses that landed on the headers would leave an image that can
    // neither be searched nor released.
    if (std::memcmp(target, image.data(), static_cast<std::size_t>(headers.headers_end())) != 0)
        return 0;

    if (headers.is_library()) {
        const Address entry = base + headers.entry_point;
        if (call(seams, entry, {0, process_attach, 0}) == 0) {
            call(seams, entry, {0, process_detach, 0});
            guard.release_now();
            return 0;
        }
    }
    return guard.keep();
}

bool apply_relocations(Address base, const LoaderSeams& seams) {
    const Bytes block = mapped_block(base, seams);
    Headers headers;
    if (!read_headers(block, headers))
        return false;
    const Address delta = base - headers.image_base;
    const DataDirectory directory = headers.directories[relocation_directory];
    const std::uint64_t directory_end = std::uint64_t{directory.address} + directory.size;
    std::uint8_t* const image = host_pointer(base);

    std::uint64_t offset = directory.address;
    for (;;) {
        std::uint32_t page = 0;
        std::uint32_t block_size = 0;
        if (!block.holds(offset, relocation_header_size)) {
            // A table that fills its directory up to the image's end has no zero block after it.
            return offset >= directory_end && directory.size > 0;
        }
        block.u32(offset, page);
        block.u32(offset + 4, block_size);
        if (page == 0)
            return true;
        if (block_size < relocation_header_size || !block.holds(offset, block_size))
            return false;
        const std::uint32_t count = (block_size - relocation_header_size) / 2;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint16_t entry = 0;
            block.u16(offset + relocation_header_size + 2 * i, entry);
            if ((entry >> 12) != relocation_highlow)
                continue;
            const std::uint64_t at = std::uint64_t{page} + (entry & 0xFFFu);
            std::uint32_t value = 0;
            if (!block.u32(at, value))
                return false;
            write_u32(image + at, value + delta);
        }
        offset += block_size;
    }
}

bool resolve_imports(Address base, Address resolver, std::uint32_t resolver_value, const LoaderSeams& seams) {
    const Bytes block = mapped_block(base, seams);
    Headers headers;
    if (!read_headers(block, headers))
        return false;
    std::uint8_t* const image = host_pointer(base);

    // The resolver reads an ordinal's decimal text through a 32-bit address.
    Address ordinal_text = 0;
    struct ScratchGuard {
        ImageMemory& memory;
        Address& block;
        ~ScratchGuard() {
            if (block != 0)
                memory.release(block);
        }
    } scratch_guard{*seams.memory, ordinal_text};

    std::uint64_t offset = headers.directories[import_directory].address;
    for (;;) {
        std::uint32_t name = 0;
        std::uint32_t thunk = 0;
        if (!block.holds(offset, import_descriptor_size))
            return false;
        block.u32(offset + 12, name);
        block.u32(offset + 16, thunk);
        if (thunk == 0)
            return true;
        std::string_view library_name;
        if (!block.text(name, library_name))
            return false;
        const std::uint32_t library = seams.libraries->load_library(std::string(library_name));

        for (std::uint64_t entry_at = thunk;; entry_at += 4) {
            std::uint32_t entry = 0;
            if (!block.u32(entry_at, entry))
                return false;
            if (entry == 0)
                break;
            Address address = 0;
            if ((entry & 0x80000000u) != 0) {
                const auto ordinal = static_cast<std::uint16_t>(entry & 0xFFFF);
                if (resolver != 0) {
                    if (ordinal_text == 0 && (ordinal_text = seams.memory->allocate_anywhere(16)) == 0)
                        return false;
                    char* text = reinterpret_cast<char*>(host_pointer(ordinal_text));
                    *std::to_chars(text, text + 15, ordinal).ptr = '\0';
                    address = call(seams, resolver, {base + name, ordinal_text, resolver_value});
                }
                // A library that could not be loaded has no routines; never ask the system about handle 0,
                // which would search the program's own module.
                if (address == 0 && library != 0)
                    address = seams.libraries->find_routine(library, ordinal);
            } else {
                std::string_view routine;
                if (!block.text(std::uint64_t{entry} + 2, routine))
                    return false;
                if (resolver != 0)
                    address = call(seams, resolver, {base + name, base + entry + 2, resolver_value});
                if (address == 0 && library != 0)
                    address = seams.libraries->find_routine(library, std::string(routine));
            }
            if (address == 0)
                return false;
            write_u32(image + entry_at, address);
        }
        offset += import_descriptor_size;
    }
}

Address find_export(Address base, std::string_view name, const LoaderSeams& seams) {
    const Bytes block = mapped_block(base, seams);
    Headers headers;
    if (base == 0 || !read_headers(block, headers))
        return 0;
    const std::uint32_t directory = headers.directories[export_directory].address;
    if (directory == 0 || !block.holds(directory, export_directory_size))
        return 0;
    std::uint32_t ordinal_base = 0, function_count = 0, name_count = 0, functions = 0, names = 0,
                  ordinals = 0;
    block.u32(directory + 16, ordinal_base);
    block.u32(directory + 20, function_count);
    block.u32(directory + 24, name_count);
    block.u32(directory + 28, functions);
    block.u32(directory + 32, names);
    block.u32(directory + 36, ordinals);

    // The routine of function-table index; forwarders are not followed.
    const auto function_at = [&](std::uint64_t index) -> Address {
        std::uint32_t rva = 0;
        if (!block.u32(functions + 4 * index, rva) || rva == 0 || rva >= block.size())
            return 0;
        return base + rva;
    };

    std::int32_t number = 0;
    if (ordinal_of(name, number)) {
        const std::int64_t index = std::int64_t{number} - ordinal_base;
        if (index < 0 || index >= function_count)
            return 0;
        return function_at(static_cast<std::uint64_t>(index));
    }

    // The names lie one after another from the first name pointer, as a linker lays them out.
    std::uint32_t first_name = 0;
    if (name_count == 0 || !block.u32(names, first_name))
        return 0;
    std::uint64_t name_at = first_name;
    std::uint64_t ordinal_at = ordinals;
    for (std::uint32_t i = 0; i < name_count; ++i) {
        std::string_view candidate;
        std::uint16_t index = 0;
        if (!block.text(name_at, candidate) || !block.u16(ordinal_at, index))
            return 0;
        if (index < function_count && candidate == name) {
            const Address found = function_at(index);
            if (found != 0)
                return found;
        }
        name_at += candidate.size() + 1;
        ordinal_at += 2;
    }
    return 0;
}

bool release_image(Address base, const LoaderSeams& seams) {
    const Bytes block = mapped_block(base, seams);
    Headers headers;
    if (base == 0 || !read_headers(block, headers))
        return false;
    if (headers.is_library()) {
        if (const Address entry = library_entry(base, headers, block); entry != 0)
            call(seams, entry, {0, process_detach, 0});
    }
    return seams.memory->release(base);
}

MemoryModule::MemoryModule() : seams_(system_loader_seams()) {}

MemoryModule::MemoryModule(const LoaderSeams& seams) : seams_(seams) {}

MemoryModule::~MemoryModule() = default;

std::unique_ptr<MemoryModule> MemoryModule::copy() const {
    return std::make_unique<MemoryModule>(*this);
}

bool MemoryModule::load(std::span<const std::uint8_t> image, Address import_resolver,
                        std::uint32_t resolver_value) {
    if (module_base_ != 0)
        unload();
    module_base_ = map_image(image, import_resolver, resolver_value, seams_);
    return module_base_ != 0;
}

bool MemoryModule::unload() {
    if (module_base_ != 0 && release_image(module_base_, seams_))
        module_base_ = 0;
    return module_base_ == 0;
}

Address MemoryModule::get_export(std::string_view name) const {
    if (module_base_ == 0)
        return 0;
    return find_export(module_base_, name, seams_);
}

Address MemoryModule::get_entry_point() const {
    if (module_base_ == 0)
        return 0;
    const Bytes block = mapped_block(module_base_, seams_);
    std::uint32_t nt_offset = 0;
    std::uint32_t entry = 0;
    if (!block.u32(60, nt_offset) || !block.u32(std::uint64_t{nt_offset} + 40, entry))
        return 0;
    return module_base_ + entry;
}

Address MemoryModule::get_module_base() const {
    return module_base_;
}

std::uint32_t call_address(Address address, std::span<const std::uint32_t> arguments) {
    if (address == 0 || arguments.size() > RoutineCaller::max_arguments)
        return 0;
    return system_loader_seams().caller->call(address, arguments);
}

std::uint32_t call_address(Address address, std::initializer_list<std::uint32_t> arguments) {
    return call_address(address, std::span<const std::uint32_t>(arguments.begin(), arguments.size()));
}

Address constant_address(std::span<const std::uint8_t> bytes) {
    const auto own = reinterpret_cast<std::uintptr_t>(bytes.data());
    if (own + bytes.size() <= 0xFFFFFFFFu)
        return static_cast<Address>(own);
    static std::mutex mutex;
    static std::map<std::pair<std::uintptr_t, std::size_t>, Address> copies;
    std::lock_guard lock(mutex);
    auto& copy = copies[{own, bytes.size()}];
    if (copy == 0 && bytes.size() < 0xFFFFFFFFu) {
        ImageMemory& memory = *system_loader_seams().memory;
        copy = memory.allocate_anywhere(static_cast<std::uint32_t>(std::max<std::size_t>(bytes.size(), 1)));
        if (copy != 0 && !bytes.empty())
            std::memcpy(host_pointer(copy), bytes.data(), bytes.size());
    }
    return copy;
}

// Routine table and recording caller.

namespace {
std::string lower_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}
} // namespace

void RoutineTable::add(const std::string& library, const std::string& name, Address address) {
    std::lock_guard lock(mutex_);
    by_name_[{lower_ascii(library), name}] = address;
}

void RoutineTable::add(const std::string& library, std::uint16_t ordinal, Address address) {
    std::lock_guard lock(mutex_);
    by_ordinal_[{lower_ascii(library), ordinal}] = address;
}

std::vector<std::string> RoutineTable::loaded() const {
    std::lock_guard lock(mutex_);
    return loaded_;
}

std::uint32_t RoutineTable::load_library(const std::string& name) {
    std::lock_guard lock(mutex_);
    loaded_.push_back(name);
    const std::string key = lower_ascii(name);
    const auto known = [&](const auto& table) {
        return std::any_of(table.begin(), table.end(),
                           [&](const auto& item) { return item.first.first == key; });
    };
    if (!known(by_name_) && !known(by_ordinal_))
        return 0;
    const auto at = std::find(libraries_.begin(), libraries_.end(), key);
    if (at != libraries_.end())
        return static_cast<std::uint32_t>(at - libraries_.begin()) + 1;
    libraries_.push_back(key);
    return static_cast<std::uint32_t>(libraries_.size());
}

Address RoutineTable::find_routine(std::uint32_t library, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (library == 0 || library > libraries_.size())
        return 0;
    const auto found = by_name_.find({libraries_[library - 1], name});
    return found == by_name_.end() ? 0 : found->second;
}

Address RoutineTable::find_routine(std::uint32_t library, std::uint16_t ordinal) {
    std::lock_guard lock(mutex_);
    if (library == 0 || library > libraries_.size())
        return 0;
    const auto found = by_ordinal_.find({libraries_[library - 1], ordinal});
    return found == by_ordinal_.end() ? 0 : found->second;
}

void RecordingCaller::respond(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

std::vector<RecordingCaller::Call> RecordingCaller::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void RecordingCaller::clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

std::uint32_t RecordingCaller::call(Address address, std::span<const std::uint32_t> arguments) {
    Call made{address, std::vector<std::uint32_t>(arguments.begin(), arguments.end())};
    Responder responder;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(made);
        responder = responder_;
    }
    // Outside the lock: a responder may look at the calls so far.
    return responder ? responder(made) : 0;
}

} // namespace vestrel
