#pragma once
// The logid of a delete request: standard Base64 (RFC 4648, "=" padding) of the current time in milliseconds
// since 1970 in decimal followed by a random number between 0 and 1 written as a script engine writes it
// ("0.7080694986582083"). With a 13-digit time the value is 44 characters in the usual case.

#include <cstdint>
#include <string>
#include <string_view>

namespace vestrel {

// A fresh logid. Safe to call from many threads at once.
std::string make_logid();

// The parts of make_logid, for tests.
std::string base64_encode(std::string_view bytes);
// A number as ECMAScript's Number::toString writes it (shortest round trip; exponent form below 1e-6).
std::string script_number_text(double value);
std::string logid_from(std::int64_t milliseconds, double fraction);

} // namespace vestrel
