#include "engine/listing_reader.h"

#include "engine/logid.h"

#include <cmath>

namespace vestrel {

bool ListingReader::parse(std::string_view text) {
    value_ = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (value_.is_discarded())
        value_ = nullptr;
    return !value_.is_null();
}

std::string ListingReader::value_text(const nlohmann::json& value) {
    switch (value.type()) {
    case nlohmann::json::value_t::string:
        return value.get<std::string>();
    case nlohmann::json::value_t::number_integer:
        return std::to_string(value.get<long long>());
    case nlohmann::json::value_t::number_unsigned:
        return std::to_string(value.get<unsigned long long>());
    case nlohmann::json::value_t::number_float: {
        double d = value.get<double>();
        if (!std::isfinite(d))
            return d != d ? "NaN" : (d < 0 ? "-Infinity" : "Infinity");
        return script_number_text(d);
    }
    case nlohmann::json::value_t::boolean:
        return value.get<bool>() ? "true" : "false";
    case nlohmann::json::value_t::object:
        return "[object Object]";
    case nlohmann::json::value_t::array: {
        // As a script engine joins an array: elements' texts separated by ",".
        std::string out;
        bool first = true;
        for (const auto& element : value) {
            if (!first)
                out += ',';
            first = false;
            out += value_text(element);
        }
        return out;
    }
    default:
        return {};
    }
}

std::string ListingReader::get_text(std::string_view member) const {
    if (!value_.is_object())
        return {};
    auto it = value_.find(member);
    return it == value_.end() ? std::string() : value_text(*it);
}

std::size_t ListingReader::list_size() const {
    if (!value_.is_object())
        return 0;
    auto it = value_.find("list");
    return it != value_.end() && it->is_array() ? it->size() : 0;
}

std::string ListingReader::entry_text(std::size_t index, std::string_view key) const {
    if (!value_.is_object())
        return {};
    auto list = value_.find("list");
    if (list == value_.end())
        return {};
    const nlohmann::json* entry = nullptr;
    if (list->is_array()) {
        if (index >= list->size())
            return {};
        entry = &(*list)[index];
    } else if (list->is_object()) {
        // list[0] of an object reads its member "0".
        auto it = list->find(std::to_string(index));
        if (it == list->end())
            return {};
        entry = &*it;
    } else {
        return {};
    }
    if (!entry->is_object())
        return {};
    auto it = entry->find(key);
    return it == entry->end() ? std::string() : value_text(*it);
}

} // namespace vestrel
