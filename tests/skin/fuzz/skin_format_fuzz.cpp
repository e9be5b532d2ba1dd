// libFuzzer target: the skin engine's reader of ".SHE" files over arbitrary bytes. It must never read past
// the data, and a skin it accepts must have every value in range. The checksum is resealed first so that
// the fuzzer reaches the chunks.

#include "skin/skin_file.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vestrel::skin;
    std::vector<std::uint8_t> file(data, data + size);
    if (!file.empty() && (file.back() & 1) != 0) {
        file.pop_back();
        reseal_skin(file);
    }
    // An exact-size heap copy, so that a read one byte past the end is caught.
    auto* exact = static_cast<std::uint8_t*>(std::malloc(file.empty() ? 1 : file.size()));
    std::copy(file.begin(), file.end(), exact);
    SkinTheme theme{};
    if (read_skin(exact, static_cast<std::uint32_t>(file.size()), theme) == skin_attached) {
        for (const auto colour : theme.colours) {
            if (colour > 0xFFFFFF)
                std::abort();
        }
        if (theme.font_face[0] == 0 || theme.font_face[face_capacity - 1] != 0 ||
            theme.band_height > max_band_height)
            std::abort();
    }
    std::free(exact);
    return 0;
}
