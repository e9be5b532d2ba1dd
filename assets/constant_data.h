#pragma once
// The constant data blocks built into the program, held for the whole life of the process.

#include <cstdint>
#include <span>

namespace vestrel::assets {

// The skin engine library's image (a 32-bit Windows library, "MZ"); empty where the build makes no such
// library (Linux).
std::span<const std::uint8_t> skin_library_image();
// The skins, ".SHE" files: the login window's, and the donation window's.
std::span<const std::uint8_t> login_skin();
std::span<const std::uint8_t> donation_skin();

} // namespace vestrel::assets
