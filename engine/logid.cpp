#include "engine/logid.h"

#include <charconv>
#include <chrono>
#include <random>
#include <system_error>
#include <thread>

namespace vestrel {

std::string base64_encode(std::string_view bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                          (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                          static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string script_number_text(double value) {
    if (value == 0)
        return "0";
    std::string sign;
    if (value < 0) {
        sign = "-";
        value = -value;
    }
    // Shortest round-trip digits d1 d2 ... dk and the exponent e of d1.d2...dk × 10^e.
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(result.ptr - buf));
    std::size_t e_pos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_pos))
        if (c != '.')
            digits += c;
    int exponent = 0;
    std::string_view exp_text = sci.substr(e_pos + 1);
    if (!exp_text.empty() && exp_text.front() == '+')
        exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    int k = static_cast<int>(digits.size());
    int n = exponent + 1; // the position of the decimal point after the first n digits
    std::string out;
    if (k <= n && n <= 21) {
        out = digits + std::string(static_cast<std::size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out =
            digits.substr(0, static_cast<std::size_t>(n)) + "." + digits.substr(static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        out = "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
    } else {
        out = digits.substr(0, 1);
        if (k > 1)
            out += "." + digits.substr(1);
        out += 'e';
        out += n - 1 >= 0 ? "+" : "-";
        out += std::to_string(n - 1 >= 0 ? n - 1 : 1 - n);
    }
    return sign + out;
}

std::string logid_from(std::int64_t milliseconds, double fraction) {
    return base64_encode(std::to_string(milliseconds) + script_number_text(fraction));
}

std::string make_logid() {
    // One generator per thread, seeded apart: threads made in the same millisecond still draw differently.
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{
            device(), device(),
            static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())),
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    // 53 random bits, as a script engine's random numbers have.
    double fraction = static_cast<double>(generator() >> 11) * 0x1.0p-53;
    auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
    return logid_from(static_cast<std::int64_t>(now), fraction);
}

} // namespace vestrel
