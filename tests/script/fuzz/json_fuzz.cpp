// libFuzzer target: JsonObject::parse, then reads over fuzzed paths.
// Input: a JSON text, then a NUL byte, then paths one per line.
#include "script/json_object.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view text = input.substr(0, split);
    std::string_view paths = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    vestrel::JsonObject json;
    const bool parsed = json.parse(text);
    std::vector<std::string> keys;
    while (!paths.empty()) {
        const std::size_t end = paths.find('\n');
        const std::string_view path = paths.substr(0, end);
        paths = end == std::string_view::npos ? std::string_view() : paths.substr(end + 1);
        (void)json.get_text(path);
        (void)json.get_text(path, true);
        (void)json.get_type(path);
        (void)json.get_count(path);
        (void)json.has_member(path);
        (void)json.get_number(path);
        (void)json.list_keys(keys, path);
        (void)json.get_object(path).to_json();
    }
    if (parsed) {
        // What the object writes it reads back the same.
        const std::string written = json.to_json();
        vestrel::JsonObject again;
        if (!again.parse(written) || again.to_json() != written) {
            std::abort();
        }
    }
    return 0;
}
