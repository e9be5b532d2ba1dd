// libFuzzer target: RegexObject::execute and the reads of its result.
// Input: one byte of options, a pattern, a NUL byte, the subject.
#include "script/regex_object.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const unsigned options = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t split = input.find('\0');
    const std::string_view pattern = input.substr(0, split);
    const std::string_view subject =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    vestrel::RegexObject re;
    const bool ran = re.execute(pattern, subject, options & 1, options & 2, options & 4, options & 8);
    const int matches = re.match_count();
    if (!ran && matches != 0) {
        std::abort();
    }
    const int groups = re.submatch_count();
    for (int m = 0; m <= matches + 1 && m < 64; ++m) {
        int position = 0;
        const auto text = re.match_text(m, position);
        // A match's text is the subject at its position.
        if (position >= 0 && subject.substr(static_cast<std::size_t>(position), text.size()) != text) {
            std::abort();
        }
        for (int g = 0; g <= groups + 1 && g < 16; ++g) {
            (void)re.submatch_text(m, g, position);
        }
    }
    (void)re.replace("[$1$&$`$'$$$12]");
    (void)re.get_pattern();
    return 0;
}
