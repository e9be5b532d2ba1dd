#include "app/skin_attachment.h"

#include <cstring>

namespace vestrel {

std::int32_t attach_skin(const MemoryModule& skin_library, std::span<const std::uint8_t> skin,
                         const std::string& password, std::int32_t a, std::int32_t b, std::int32_t c) {
    const Address attach = skin_library.get_export(skin_attach_export);
    if (attach == 0)
        return 0;
    const Address skin_address = constant_address(skin);
    if (skin_address == 0 && !skin.empty())
        return 0;

    // The password goes over as a zero-terminated text at a 32-bit address, for the call only.
    const LoaderSeams& seams = skin_library.seams();
    Address password_address = 0;
    Address password_copy = 0;
    if (!password.empty()) {
        const auto own = reinterpret_cast<std::uintptr_t>(password.c_str());
        if (own + password.size() < 0xFFFFFFFFu) {
            password_address = static_cast<Address>(own);
        } else {
            password_copy = seams.memory->allocate_anywhere(static_cast<std::uint32_t>(password.size() + 1));
            if (password_copy == 0)
                return 0;
            std::memcpy(host_pointer(password_copy), password.c_str(), password.size() + 1);
            password_address = password_copy;
        }
    }
    const std::uint32_t arguments[] = {skin_address,
                                       static_cast<std::uint32_t>(skin.size()),
                                       password_address,
                                       static_cast<std::uint32_t>(a),
                                       static_cast<std::uint32_t>(b),
                                       static_cast<std::uint32_t>(c)};
    const auto result = static_cast<std::int32_t>(seams.caller->call(attach, arguments));
    if (password_copy != 0)
        seams.memory->release(password_copy);
    return result;
}

} // namespace vestrel
