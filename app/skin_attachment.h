#pragma once
// Hands a skin to the skin engine library mapped into the process.

#include "loader/memory_module.h"

#include <cstdint>
#include <span>
#include <string>

namespace vestrel {

// The engine's one export that the program calls.
inline constexpr const char* skin_attach_export = "SkinH_AttachRes";

// Calls SkinH_AttachRes of the library held by skin_library with the skin's address and length, the
// password's address (0 for an empty password) and a, b, c, and returns its result. When no library is
// mapped or it lacks the export, nothing is called and the result is 0. skin must stay valid for the whole
// process (the engine may keep its address).
std::int32_t attach_skin(const MemoryModule& skin_library, std::span<const std::uint8_t> skin,
                         const std::string& password, std::int32_t a, std::int32_t b, std::int32_t c);

} // namespace vestrel
