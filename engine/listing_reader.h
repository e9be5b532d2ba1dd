#pragma once
// Reads one list response: a JSON object with "errno" and "list", an array of entries. Members read as text
// the way the listing relies on: a string as itself, a number in decimal ("0" for errno 0), a missing member,
// null and every unreadable value as empty text.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace vestrel {

class ListingReader {
public:
    // False for an empty text, text that is not JSON, and null (the value is then null).
    bool parse(std::string_view text);
    // A top-level member as text.
    std::string get_text(std::string_view member) const;
    // Member `key` of list entry `index` as text; empty when there is no such entry or member.
    std::string entry_text(std::size_t index, std::string_view key) const;
    // The number of elements of "list"; 0 when it is missing or not an array.
    std::size_t list_size() const;

    static std::string value_text(const nlohmann::json& value);

private:
    nlohmann::json value_;
};

} // namespace vestrel
