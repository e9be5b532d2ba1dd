#pragma once
// Maps a 32-bit Windows library image (PE/COFF, PE32) held as a byte string into the process without the
// system's loader: allocates the image, copies headers and sections, applies base relocations, resolves
// imports, calls the entry point; then finds exports by name or ordinal and releases the image.
//
// Every read is checked against the byte string or the mapped block, so a malformed image is refused
// (load gives false, get_export 0) with nothing left allocated.

#include "loader/loader_seams.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>

namespace vestrel {

class MemoryModule {
public:
    MemoryModule(); // this platform's seams
    explicit MemoryModule(const LoaderSeams& seams);
    MemoryModule(const MemoryModule&) = default;
    MemoryModule& operator=(const MemoryModule&) = default;

    // The virtual operations, in slot order.

    // Ends the object and nothing else: a mapped image stays mapped.
    virtual ~MemoryModule();
    // A new object with the same module_base; both then name one mapping.
    virtual std::unique_ptr<MemoryModule> copy() const;
    // Maps image; an image held before is unloaded first (its result disregarded). import_resolver, when
    // not 0, is a routine asked first for every import: resolver(library name address, routine name
    // address, resolver_value) -> address or 0; an import by ordinal is named by its decimal digits.
    virtual bool load(std::span<const std::uint8_t> image, Address import_resolver = 0,
                      std::uint32_t resolver_value = 0);
    // Releases the image; true when no image is held afterwards.
    virtual bool unload();
    // The export named name, or of ordinal name when name is the canonical decimal text of a 32-bit
    // integer ("7", not "07", " 7" or "+7"); 0 when none.
    virtual Address get_export(std::string_view name) const;
    // module_base + AddressOfEntryPoint, 0 when no image is held.
    virtual Address get_entry_point() const;
    virtual Address get_module_base() const;

    const LoaderSeams& seams() const { return seams_; }

private:
    LoaderSeams seams_;
    Address module_base_ = 0;
};

// The loader's steps, for the seams given.
Address map_image(std::span<const std::uint8_t> image, Address resolver, std::uint32_t resolver_value,
                  const LoaderSeams& seams);
bool apply_relocations(Address base, const LoaderSeams& seams);
bool resolve_imports(Address base, Address resolver, std::uint32_t resolver_value, const LoaderSeams& seams);
Address find_export(Address base, std::string_view name, const LoaderSeams& seams);
bool release_image(Address base, const LoaderSeams& seams);

// Calls the routine at address with at most ten 32-bit arguments through this platform's caller. Nothing
// is called through address 0 or with more than ten arguments; the result is then 0.
std::uint32_t call_address(Address address, std::span<const std::uint32_t> arguments);
std::uint32_t call_address(Address address, std::initializer_list<std::uint32_t> arguments);

// A 32-bit address for constant bytes that live for the whole process: their own address when it fits in
// 32 bits (always on 32-bit Windows), else that of a copy below 4 GiB made once and kept. 0 when no memory.
Address constant_address(std::span<const std::uint8_t> bytes);

} // namespace vestrel
