// JsonObject: one JSON value, read and written through member paths such as list[3].md5.
//
// A path is member names joined by "." with element indices in square brackets ("list[0].path", "[2]",
// "a['odd key']"). Each operation joins the path to the value in one of three forms:
//   joined   ("[" paths index the value, others name a member): get_text, get_object, get_count
//   dotted   (always a member name first; an empty path names nothing): set_value, set_json, set_number,
//            get_number, get_json, has_member
//   optional (an empty path is the whole value): push_item, get_item, get_item_text, list_keys, get_type
// A path that names a missing member at its end reads as absent; one that runs through a missing member,
// or is not a path at all, makes the call fail. Failures are silent: empty text, 0, false, or an object
// whose value is null.
//
// Only JSON is read (RFC 8259, UTF-8); nothing in a text is ever run. Texts are UTF-8 throughout. Copies
// share one value: a change through one shows through every copy. An object belongs to the thread that
// made it; objects made separately share nothing.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

// Type codes of get_type and reset.
enum class JsonValueType : int {
    null = 0, // null or absent
    number = 2,
    object = 4,
    array = 5,
    string = 6,
    other = -1, // boolean, and every failure
};

class JsonObject {
public:
    JsonObject(); // an empty object
    ~JsonObject();
    JsonObject(const JsonObject&) = default;
    JsonObject& operator=(const JsonObject&) = default;
    JsonObject(JsonObject&&) noexcept = default;
    JsonObject& operator=(JsonObject&&) noexcept = default;

    // Replaces the value by the JSON text. False for an empty, unreadable or too large text and for
    // "null"; the value is then null.
    bool parse(std::string_view json_text);
    // Compact JSON text of the whole value.
    std::string to_json() const;

    // Sets the member to the text as a string, or with as_json to the value of the JSON text (an empty
    // text standing for {}). A missing member at the end of the path is created.
    void set_value(std::string_view path, std::string_view value, bool as_json = false);
    void set_json(std::string_view path, std::string_view json_text);
    void set_number(std::string_view path, double number);
    // The member as a number (a numeric string converts); 0 when absent or not a number.
    double get_number(std::string_view path) const;
    // Compact JSON text of the member; empty when absent.
    std::string get_json(std::string_view path) const;
    // The member as text: a string's characters, a number's decimal text (integers plainly, other
    // numbers as the shortest text that reads back the same), true/false, the compact JSON text of an
    // object or array; empty for null, absent and on failure. With as_json, its compact JSON text.
    std::string get_text(std::string_view path, bool as_json = false) const;
    // A new object holding a copy of the member; its value is null when the member is absent.
    JsonObject get_object(std::string_view path) const;
    // Elements of an array or members of an object; 0 for anything else.
    int get_count(std::string_view path = {}) const;
    // Appends the text (as a string, or raw as JSON) to the array at path; a member that is not an array
    // is first replaced by an empty one.
    void push_item(std::string_view value, std::string_view path = {}, bool raw = false);
    JsonObject get_item(int index, std::string_view path = {}) const;
    std::string get_item_text(int index, std::string_view path = {}, bool as_json = false) const;
    // Sets element `index` of the whole value (member "index" when the value is an object).
    void set_item(int index, std::string_view value, bool raw = false);
    // Removes element `index` of the whole value, which must be an array (a negative index counts from
    // the end).
    void remove_item(int index);
    // The value becomes an empty object (type 0 or 4) or an empty array (5); other types change nothing.
    void reset(int type);
    void reset(JsonValueType type) { reset(static_cast<int>(type)); }
    // Replaces the whole value by the text as a string, or raw by the value of the JSON text.
    void assign(std::string_view value, bool raw = false);
    // True when the member exists and is not null.
    bool has_member(std::string_view path) const;
    // Replaces keys by the member names (element indices for an array) in order; returns their number.
    int list_keys(std::vector<std::string>& keys, std::string_view path = {}) const;
    JsonValueType get_type(std::string_view path = {}) const;
    // The value becomes an empty object.
    void clear();

    // Limits on what parse accepts from the network.
    static constexpr std::size_t max_text_bytes = 16u << 20;
    static constexpr std::size_t max_depth = 512;
    static constexpr std::size_t max_values = 4u << 20;

    struct Value; // the shared value (defined in json_object.cpp)

private:
    std::shared_ptr<Value> value_;
};

} // namespace vestrel
