#include "script/json_object.h"

#include "script/utf8_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>
#include <unordered_map>

namespace vestrel {

using Json = nlohmann::ordered_json;

struct JsonObject::Value {
    Json json = Json::object();
};

namespace {

// ---------------------------------------------------------------------------------------------------------
// Reading JSON texts, with limits: the text comes from the network.

// Builds the value through the SAX interface so that depth and size are bounded before anything is
// allocated for them, and so that objects with many members do not cost a linear search per member.
class Builder : public nlohmann::json_sax<Json> {
public:
    Json root;

    bool null() override { return add(Json(nullptr)) != nullptr; }
    bool boolean(bool v) override { return add(Json(v)) != nullptr; }
    bool number_integer(number_integer_t v) override { return add(Json(v)) != nullptr; }
    bool number_unsigned(number_unsigned_t v) override { return add(Json(v)) != nullptr; }
    bool number_float(number_float_t v, const string_t&) override { return add(Json(v)) != nullptr; }
    bool string(string_t& v) override { return add(Json(std::move(v))) != nullptr; }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool key(string_t& k) override {
        key_ = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    // Objects with more members than this get a hash index of their keys while they are read.
    static constexpr std::size_t index_from = 16;

    struct Open {
        Json* container;
        std::unique_ptr<std::unordered_map<std::string, std::size_t>> keys;
    };
    std::vector<Open> stack_;
    std::string key_;
    std::size_t values_ = 0;

    bool open(Json container) {
        if (stack_.size() >= JsonObject::max_depth) {
            return false;
        }
        Json* added = add(std::move(container));
        if (added == nullptr) {
            return false;
        }
        stack_.push_back({added, nullptr});
        return true;
    }

    bool close() {
        stack_.pop_back();
        return true;
    }

    Json* add(Json v) {
        if (++values_ > JsonObject::max_values) {
            return nullptr;
        }
        if (stack_.empty()) {
            root = std::move(v);
            return &root;
        }
        Open& top = stack_.back();
        if (top.container->is_array()) {
            auto& array = top.container->get_ref<Json::array_t&>();
            array.push_back(std::move(v));
            return &array.back();
        }
        // A repeated key keeps its first place and takes the last value, as in ECMAScript.
        auto& object = top.container->get_ref<Json::object_t&>();
        if (top.keys) {
            const auto [it, inserted] = top.keys->try_emplace(key_, object.size());
            if (!inserted) {
                (object.begin() + static_cast<std::ptrdiff_t>(it->second))->second = std::move(v);
                return &(object.begin() + static_cast<std::ptrdiff_t>(it->second))->second;
            }
        } else {
            for (auto& member : object) {
                if (member.first == key_) {
                    member.second = std::move(v);
                    return &member.second;
                }
            }
            if (object.size() + 1 > index_from) {
                top.keys = std::make_unique<std::unordered_map<std::string, std::size_t>>();
                for (std::size_t i = 0; i < object.size(); ++i) {
                    top.keys->emplace((object.begin() + static_cast<std::ptrdiff_t>(i))->first, i);
                }
                top.keys->emplace(key_, object.size());
            }
        }
        object.emplace_back(std::move(key_), std::move(v));
        return &object.back().second;
    }
};

std::optional<Json> read_json(std::string_view text) {
    if (text.size() > JsonObject::max_text_bytes) {
        return std::nullopt;
    }
    try {
        Builder builder;
        if (!Json::sax_parse(text.data(), text.data() + text.size(), &builder,
                             nlohmann::json::input_format_t::json,
                             /*strict=*/true, /*ignore_comments=*/false)) {
            return std::nullopt;
        }
        return std::move(builder.root);
    } catch (...) {
        return std::nullopt; // out of memory, or anything else the reader throws
    }
}

// ---------------------------------------------------------------------------------------------------------
// Writing texts: compact JSON, and numbers in the ECMAScript Number-to-String form.

void append_number(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-Infinity" : "Infinity";
        return;
    }
    if (v == 0) {
        out += '0'; // also for -0
        return;
    }
    // Shortest digits that read back as the same double, then placed as ECMAScript does.
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(result.ptr - buf));
    if (sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    const std::size_t e_at = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_at)) {
        if (c != '.') {
            digits += c;
        }
    }
    int exponent = 0;
    std::string_view exp_text = sci.substr(e_at + 1);
    const bool negative_exp = exp_text.front() == '-';
    if (exp_text.front() == '+' || exp_text.front() == '-') {
        exp_text.remove_prefix(1);
    }
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    if (negative_exp) {
        exponent = -exponent;
    }
    const int k = static_cast<int>(digits.size());
    const int n = exponent + 1; // the decimal point follows the first n digits
    if (k <= n && n <= 21) {
        out += digits;
        out.append(static_cast<std::size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out.append(digits, 0, static_cast<std::size_t>(n));
        out += '.';
        out.append(digits, static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
        out += digits;
    } else {
        out += digits[0];
        if (k > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'e';
        out += n - 1 < 0 ? '-' : '+';
        out += std::to_string(std::abs(n - 1));
    }
}

template <class Integer>
void append_integer(std::string& out, Integer v) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, result.ptr);
}

// Characters that JSON texts of this program carry escaped: the control characters with their short
// escapes where there is one, and invisible or line-separating characters as \u escapes.
bool escaped_invisibly(char32_t c) {
    return (c >= 0x7F && c <= 0x9F) || c == 0xAD || (c >= 0x600 && c <= 0x604) || c == 0x70F || c == 0x17B4 ||
           c == 0x17B5 || (c >= 0x200C && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
           (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF0 && c <= 0xFFFF);
}

void append_u_escape(std::string& out, char32_t c) {
    static constexpr char hex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += hex[(c >> shift) & 0xF];
    }
}

void append_quoted(std::string& out, std::string_view s) {
    out += '"';
    std::size_t i = 0;
    while (i < s.size()) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (byte < 0x80) {
            switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    append_u_escape(out, byte);
                } else {
                    out += static_cast<char>(byte);
                }
            }
            ++i;
            continue;
        }
        char32_t c;
        const std::size_t n = utf8::decode(s, i, &c);
        if (n == 0) {
            out += "\\ufffd"; // not UTF-8: never written out as it stands
            ++i;
        } else if (escaped_invisibly(c)) {
            append_u_escape(out, c);
            i += n;
        } else {
            out.append(s, i, n);
            i += n;
        }
    }
    out += '"';
}

void append_json(std::string& out, const Json& v) {
    switch (v.type()) {
    case Json::value_t::null:
        out += "null";
        break;
    case Json::value_t::boolean:
        out += v.get<bool>() ? "true" : "false";
        break;
    case Json::value_t::number_integer:
        append_integer(out, v.get<std::int64_t>());
        break;
    case Json::value_t::number_unsigned:
        append_integer(out, v.get<std::uint64_t>());
        break;
    case Json::value_t::number_float: {
        const double d = v.get<double>();
        if (std::isfinite(d)) {
            append_number(out, d);
        } else {
            out += "null";
        }
        break;
    }
    case Json::value_t::string:
        append_quoted(out, v.get_ref<const std::string&>());
        break;
    case Json::value_t::array: {
        out += '[';
        bool first = true;
        for (const Json& item : v.get_ref<const Json::array_t&>()) {
            if (!first) {
                out += ',';
            }
            first = false;
            append_json(out, item);
        }
        out += ']';
        break;
    }
    case Json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : v.get_ref<const Json::object_t&>()) {
            if (!first) {
                out += ',';
            }
            first = false;
            append_quoted(out, key);
            out += ':';
            append_json(out, item);
        }
        out += '}';
        break;
    }
    default:
        out += "null";
        break; // binary and discarded values never come out of the reader
    }
}

std::string to_json_text(const Json& v) {
    std::string out;
    append_json(out, v);
    return out;
}

// The member as plain text.
std::string to_text(const Json& v) {
    std::string out;
    switch (v.type()) {
    case Json::value_t::null:
        break;
    case Json::value_t::string:
        return v.get<std::string>();
    case Json::value_t::boolean:
        out = v.get<bool>() ? "true" : "false";
        break;
    case Json::value_t::number_integer:
        append_integer(out, v.get<std::int64_t>());
        break;
    case Json::value_t::number_unsigned:
        append_integer(out, v.get<std::uint64_t>());
        break;
    case Json::value_t::number_float:
        append_number(out, v.get<double>());
        break;
    default:
        append_json(out, v);
        break;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// Paths.

enum class Form { joined, dotted, optional };

struct Step {
    std::string_view name; // a member name, when is_index is false
    std::size_t index = 0;
    bool is_index = false;
    bool index_fits = true; // false for an index too large for size_t: such an element never exists
};

bool name_start(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$' || c >= 0x80;
}
bool name_char(unsigned char c) {
    return name_start(c) || (c >= '0' && c <= '9');
}

// Reads one member name at path[i].
bool read_name(std::string_view path, std::size_t& i, Step& step) {
    const std::size_t begin = i;
    if (i >= path.size() || !name_start(static_cast<unsigned char>(path[i]))) {
        return false;
    }
    while (i < path.size() && name_char(static_cast<unsigned char>(path[i]))) {
        ++i;
    }
    step = Step{path.substr(begin, i - begin)};
    return true;
}

// Reads "[digits]", "['name']" or "[\"name\"]" at path[i].
bool read_bracket(std::string_view path, std::size_t& i, Step& step) {
    ++i; // '['
    if (i >= path.size()) {
        return false;
    }
    const char c = path[i];
    if (c == '\'' || c == '"') {
        const std::size_t close = path.find(c, i + 1);
        if (close == std::string_view::npos || close + 1 >= path.size() || path[close + 1] != ']') {
            return false;
        }
        const std::string_view name = path.substr(i + 1, close - i - 1);
        if (name.find('\\') != std::string_view::npos) {
            return false;
        }
        step = Step{name};
        i = close + 2;
        return true;
    }
    const std::size_t begin = i;
    while (i < path.size() && path[i] >= '0' && path[i] <= '9') {
        ++i;
    }
    if (i == begin || i >= path.size() || path[i] != ']') {
        return false;
    }
    step = Step{};
    step.is_index = true;
    const auto result = std::from_chars(path.data() + begin, path.data() + i, step.index);
    step.index_fits = result.ec == std::errc();
    ++i;
    return true;
}

// Calls visit(step) for each step of the path in the given form; false when the path is malformed
// (visit may then have seen the steps before the fault). visit returns false to stop early.
template <class Visit>
bool walk_path(Form form, std::string_view path, Visit&& visit) {
    if (form == Form::optional && path.empty()) {
        return true;
    }
    std::size_t i = 0;
    Step step;
    if (!(form == Form::joined && !path.empty() && path.front() == '[')) {
        if (!read_name(path, i, step)) {
            return false;
        }
        if (!visit(step)) {
            return true;
        }
    }
    while (i < path.size()) {
        if (path[i] == '.') {
            ++i;
            if (!read_name(path, i, step)) {
                return false;
            }
        } else if (path[i] == '[') {
            if (!read_bracket(path, i, step)) {
                return false;
            }
        } else {
            return false;
        }
        if (!visit(step)) {
            return true;
        }
    }
    return true;
}

// A name that is an array index in ECMAScript terms ("0", "17"; not "07" or "-1").
bool canonical_index(std::string_view name, std::size_t& index) {
    if (name.empty() || (name.size() > 1 && name.front() == '0')) {
        return false;
    }
    const auto result = std::from_chars(name.data(), name.data() + name.size(), index);
    return result.ec == std::errc() && result.ptr == name.data() + name.size();
}

// The member name a step stands for on an object.
std::string_view key_of(const Step& step, char (&buf)[24]) {
    if (!step.is_index) {
        return step.name;
    }
    const auto result = std::to_chars(buf, buf + sizeof buf, step.index);
    return {buf, static_cast<std::size_t>(result.ptr - buf)};
}

template <class J>
J* member_of(J& object, std::string_view key) {
    for (auto& member : object.template get_ref<
                        std::conditional_t<std::is_const_v<J>, const Json::object_t&, Json::object_t&>>()) {
        if (member.first == key) {
            return &member.second;
        }
    }
    return nullptr;
}

// One step down from a container: the member or element, or nullptr when there is none.
template <class J>
J* child_of(J& parent, const Step& step) {
    if (parent.is_object()) {
        char buf[24];
        return member_of(parent, key_of(step, buf));
    }
    if (parent.is_array()) {
        std::size_t index = step.index;
        if (step.is_index ? !step.index_fits : !canonical_index(step.name, index)) {
            return nullptr;
        }
        return index < parent.size() ? &parent[index] : nullptr;
    }
    return nullptr; // members of strings, numbers and booleans read as absent
}

enum class Found { value, absent, failed };

struct Lookup {
    Found state = Found::failed;
    const Json* value = nullptr;
};

// Reads the member a path names, with the rules of script member access: reading through null or a
// missing member fails; a missing member at the end is absent.
Lookup find(const Json& root, Form form, std::string_view path) {
    Lookup at{Found::value, &root};
    const bool well_formed = walk_path(form, path, [&](const Step& step) {
        if (at.state != Found::value || at.value->is_null()) {
            at.state = Found::failed;
            return false;
        }
        at.value = child_of(*at.value, step);
        if (at.value == nullptr) {
            at.state = Found::absent;
        }
        return true;
    });
    if (!well_formed) {
        return {};
    }
    return at;
}

// The slot a write goes to, creating a missing last member when its parent is an object or an array;
// nullptr when the write cannot be made (malformed path, missing intermediate member, primitive parent).
Json* slot(Json& root, Form form, std::string_view path) {
    if (!utf8::is_valid(path)) {
        return nullptr;
    }
    std::vector<Step> steps;
    if (!walk_path(form, path, [&](const Step& step) {
            steps.push_back(step);
            return true;
        })) {
        return nullptr;
    }
    Json* at = &root;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        if (at->is_null()) {
            return nullptr;
        }
        at = child_of(*at, steps[i]);
        if (at == nullptr) {
            return nullptr;
        }
    }
    if (steps.empty()) {
        return at;
    }
    const Step& last = steps.back();
    if (Json* existing = child_of(*at, last)) {
        return existing;
    }
    if (at->is_object()) {
        char buf[24];
        auto& object = at->get_ref<Json::object_t&>();
        object.emplace_back(std::string(key_of(last, buf)), Json());
        return &object.back().second;
    }
    if (at->is_array()) {
        // Writing past the end fills the gap with nulls; a bounded gap, so a hostile index cannot make
        // the array huge.
        static constexpr std::size_t max_gap = 1u << 16;
        std::size_t index = last.index;
        if ((last.is_index && !last.index_fits) || (!last.is_index && !canonical_index(last.name, index)) ||
            index - at->size() > max_gap) {
            return nullptr;
        }
        auto& array = at->get_ref<Json::array_t&>();
        array.resize(index + 1);
        return &array[index];
    }
    return nullptr;
}

// The value that a write stores: the text itself, or the value of a JSON text when raw.
std::optional<Json> value_of(std::string_view text, bool raw) {
    if (raw) {
        return read_json(text);
    }
    if (!utf8::is_valid(text)) {
        return std::nullopt;
    }
    return Json(std::string(text));
}

// The element expression of get_item and get_item_text: the path in the optional form, then "[index]".
// A path of the optional form never begins with an index, so such a path names nothing.
std::string index_path(int index, std::string_view path) {
    if (!path.empty() && path.front() == '[') {
        return "[";
    }
    std::string out(path);
    out += '[';
    out += std::to_string(index);
    out += ']';
    return out;
}

} // namespace

JsonObject::JsonObject() : value_(std::make_shared<Value>()) {}
JsonObject::~JsonObject() = default;

bool JsonObject::parse(std::string_view json_text) {
    if (!value_) {
        value_ = std::make_shared<Value>();
    }
    auto parsed = read_json(json_text);
    value_->json = parsed ? std::move(*parsed) : Json();
    return !value_->json.is_null();
}

std::string JsonObject::to_json() const {
    return value_ ? to_json_text(value_->json) : std::string();
}

void JsonObject::set_value(std::string_view path, std::string_view value, bool as_json) {
    if (as_json && value.empty()) {
        value = "{}";
    }
    auto v = value_of(value, as_json);
    if (!value_ || !v) {
        return;
    }
    if (Json* target = slot(value_->json, Form::dotted, path)) {
        *target = std::move(*v);
    }
}

void JsonObject::set_json(std::string_view path, std::string_view json_text) {
    set_value(path, json_text, true);
}

void JsonObject::set_number(std::string_view path, double number) {
    if (!value_) {
        return;
    }
    if (Json* target = slot(value_->json, Form::dotted, path)) {
        *target = number;
    }
}

double JsonObject::get_number(std::string_view path) const {
    if (!value_) {
        return 0;
    }
    const Lookup at = find(value_->json, Form::dotted, path);
    if (at.state != Found::value) {
        return 0;
    }
    const Json& v = *at.value;
    if (v.is_number()) {
        return v.get<double>();
    }
    if (v.is_boolean()) {
        return v.get<bool>() ? 1 : 0;
    }
    if (v.is_string()) {
        std::string_view s = v.get_ref<const std::string&>();
        while (!s.empty() &&
               (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
            s.remove_prefix(1);
        }
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
            s.remove_suffix(1);
        }
        if (!s.empty() && s.front() == '+') {
            s.remove_prefix(1);
        }
        double d = 0;
        const auto result = std::from_chars(s.data(), s.data() + s.size(), d, std::chars_format::general);
        if (!s.empty() && result.ec == std::errc() && result.ptr == s.data() + s.size()) {
            return d;
        }
    }
    return 0;
}

std::string JsonObject::get_json(std::string_view path) const {
    if (!value_) {
        return {};
    }
    const Lookup at = find(value_->json, Form::dotted, path);
    return at.state == Found::value ? to_json_text(*at.value) : std::string();
}

std::string JsonObject::get_text(std::string_view path, bool as_json) const {
    if (!value_) {
        return {};
    }
    const Lookup at = find(value_->json, Form::joined, path);
    if (at.state != Found::value) {
        return {};
    }
    return as_json ? to_json_text(*at.value) : to_text(*at.value);
}

JsonObject JsonObject::get_object(std::string_view path) const {
    JsonObject out;
    out.value_->json = Json();
    if (value_) {
        const Lookup at = find(value_->json, Form::joined, path);
        if (at.state == Found::value) {
            out.value_->json = *at.value;
        }
    }
    return out;
}

int JsonObject::get_count(std::string_view path) const {
    if (!value_) {
        return 0;
    }
    const Lookup at = find(value_->json, path.empty() ? Form::optional : Form::joined, path);
    if (at.state != Found::value || !(at.value->is_object() || at.value->is_array())) {
        return 0;
    }
    return static_cast<int>(at.value->size());
}

void JsonObject::push_item(std::string_view value, std::string_view path, bool raw) {
    std::optional<Json> v;
    if (!(raw && value.empty())) { // a raw empty text appends nothing
        v = value_of(value, raw);
        if (!v) {
            return;
        }
    }
    if (!value_) {
        return;
    }
    Json* target = slot(value_->json, Form::optional, path);
    if (target == nullptr) {
        return;
    }
    if (!target->is_array()) {
        *target = Json::array();
    }
    if (v) {
        target->push_back(std::move(*v));
    }
}

JsonObject JsonObject::get_item(int index, std::string_view path) const {
    return get_object(index_path(index, path));
}

std::string JsonObject::get_item_text(int index, std::string_view path, bool as_json) const {
    if (!value_ || index < 0) {
        return {};
    }
    return get_text(index_path(index, path), as_json);
}

void JsonObject::set_item(int index, std::string_view value, bool raw) {
    auto v = value_of(value, raw);
    if (!value_ || !v || index < 0) {
        return;
    }
    if (Json* target = slot(value_->json, Form::joined, index_path(index, {}))) {
        *target = std::move(*v);
    }
}

void JsonObject::remove_item(int index) {
    if (!value_ || !value_->json.is_array()) {
        return;
    }
    auto& array = value_->json.get_ref<Json::array_t&>();
    const auto size = static_cast<long long>(array.size());
    long long at = index;
    if (at < 0) {
        at = std::max(size + at, 0LL);
    }
    if (at < size) {
        array.erase(array.begin() + at);
    }
}

void JsonObject::reset(int type) {
    if (!value_) {
        return;
    }
    if (type == 0 || type == 4) {
        value_->json = Json::object();
    } else if (type == 5) {
        value_->json = Json::array();
    }
}

void JsonObject::assign(std::string_view value, bool raw) {
    auto v = value_of(value, raw);
    if (value_ && v) {
        value_->json = std::move(*v);
    }
}

bool JsonObject::has_member(std::string_view path) const {
    if (!value_) {
        return false;
    }
    const Lookup at = find(value_->json, Form::dotted, path);
    return at.state == Found::value && !at.value->is_null();
}

int JsonObject::list_keys(std::vector<std::string>& keys, std::string_view path) const {
    keys.clear();
    if (!value_) {
        return 0;
    }
    const Lookup at = find(value_->json, Form::optional, path);
    if (at.state != Found::value) {
        return 0;
    }
    if (at.value->is_object()) {
        for (const auto& member : at.value->get_ref<const Json::object_t&>()) {
            keys.push_back(member.first);
        }
    } else if (at.value->is_array()) {
        for (std::size_t i = 0; i < at.value->size(); ++i) {
            keys.push_back(std::to_string(i));
        }
    }
    return static_cast<int>(keys.size());
}

JsonValueType JsonObject::get_type(std::string_view path) const {
    if (!value_) {
        return JsonValueType::other;
    }
    const Lookup at = find(value_->json, Form::optional, path);
    switch (at.state) {
    case Found::failed:
        return JsonValueType::other;
    case Found::absent:
        return JsonValueType::null;
    case Found::value:
        break;
    }
    switch (at.value->type()) {
    case Json::value_t::null:
        return JsonValueType::null;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return JsonValueType::number;
    case Json::value_t::string:
        return JsonValueType::string;
    case Json::value_t::object:
        return JsonValueType::object;
    case Json::value_t::array:
        return JsonValueType::array;
    default:
        return JsonValueType::other;
    }
}

void JsonObject::clear() {
    if (value_) {
        value_->json = Json::object();
    }
}

} // namespace vestrel
