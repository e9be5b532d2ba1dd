#include "script/json_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using vestrel::JsonObject;
using vestrel::JsonValueType;

namespace {

constexpr const char* listing = R"({"errno":0,"guid_info":"","list":[
 {"server_filename":"照片","path":"/照片","unlist":0,"isdir":1,"fs_id":123456789012345},
 {"server_filename":"a.txt","path":"/照片/a.txt","md5":"0cc175b9c0f1b6a831c399e269772661","size":1},
 {"server_filename":"😀.jpg","path":"/照片/\ud83d\ude00.jpg","md5":"92eb5ffee6ae2fec3ad71c777531578f"}
],"request_id":8841})";

TEST(JsonObject, ReadsAListingTheWayTheWorkersDo) {
    JsonObject json;
    ASSERT_TRUE(json.parse(listing));
    EXPECT_EQ(json.get_text("errno"), "0");
    std::vector<std::string> md5s;
    for (int i = 0;; ++i) {
        const std::string prefix = "list[" + std::to_string(i) + "].";
        const std::string path = json.get_text(prefix + "path");
        if (path.empty()) {
            break;
        }
        md5s.push_back(json.get_text(prefix + "md5"));
    }
    EXPECT_EQ(md5s, (std::vector<std::string>{"", "0cc175b9c0f1b6a831c399e269772661",
                                              "92eb5ffee6ae2fec3ad71c777531578f"}));
    // Characters outside GBK come back unchanged.
    EXPECT_EQ(json.get_text("list[2].path"), "/照片/😀.jpg");
    EXPECT_EQ(json.get_text("list[2].server_filename"), "😀.jpg");
    EXPECT_EQ(json.get_text("list[0].fs_id"), "123456789012345");
}

TEST(JsonObject, EmptyListAndErrno) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"errno":0,"list":[]})"));
    EXPECT_EQ(json.get_text("errno"), "0");
    EXPECT_EQ(json.get_text("list[0].md5"), ""); // through a missing entry
    EXPECT_EQ(json.get_type("list[0].md5"), JsonValueType::other);
    EXPECT_EQ(json.get_type("list[0]"), JsonValueType::null);
    EXPECT_EQ(json.get_count("list"), 0);
    ASSERT_TRUE(json.parse(R"({"errno":-6})"));
    EXPECT_EQ(json.get_text("errno"), "-6");
}

// Only JSON is read: script that is not JSON is refused like any unreadable text, and nothing runs.
TEST(JsonObject, ParseAcceptsJsonOnly) {
    const char* refused[] = {
        "",
        "   ",
        "null",
        " null ",
        "{",
        R"({"a":1,})",
        "[1,]",
        "{'a':1}",
        "{a:1}",
        "alert(1)",
        R"({"a":1}//x)",
        "/*c*/{}",
        "(function(){return {}})()",
        "0x10",
        "NaN",
        "Infinity",
        "undefined",
        R"({"a":1} {"b":2})",
        "\"\\x41\"",
        "1e400",
        "[1] garbage",
    };
    for (const char* text : refused) {
        JsonObject json;
        EXPECT_FALSE(json.parse(text)) << text;
        EXPECT_EQ(json.get_type(), JsonValueType::null) << text;
        EXPECT_EQ(json.to_json(), "null");
        EXPECT_EQ(json.get_text("a"), "");
        EXPECT_EQ(json.get_count(), 0);
    }
    const char* accepted[] = {"0", "[]", "{}", "\"text\"", "false", " {\"a\" : [ 1 , 2 ] } \n", "-1.5e3"};
    for (const char* text : accepted) {
        JsonObject json;
        EXPECT_TRUE(json.parse(text)) << text;
    }
}

TEST(JsonObject, FailedParseLeavesNull) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"errno":0})"));
    EXPECT_FALSE(json.parse("{broken"));
    EXPECT_EQ(json.get_text("errno"), "");
    EXPECT_FALSE(json.has_member("errno"));
    EXPECT_EQ(json.get_type("errno"), JsonValueType::other); // a member of null
    json.set_value("x", "1");                                // a member of null cannot be written
    EXPECT_EQ(json.to_json(), "null");
}

TEST(JsonObject, TextOfValues) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"s":"a\"b\\c","t":true,"f":false,"n":null,"o":{"k":[1,"2"]},"a":[]})"));
    EXPECT_EQ(json.get_text("s"), "a\"b\\c");
    EXPECT_EQ(json.get_text("t"), "true");
    EXPECT_EQ(json.get_text("n"), "");
    EXPECT_EQ(json.get_text("o"), R"({"k":[1,"2"]})");
    EXPECT_EQ(json.get_text("o.k[1]"), "2");
    EXPECT_EQ(json.get_text("o.k[1]", true), R"("2")");
    EXPECT_EQ(json.get_text("n", true), "null");
    EXPECT_EQ(json.get_text("missing", true), "");
    EXPECT_EQ(json.get_text(""), ""); // names nothing
    EXPECT_EQ(json.get_text("a", true), "[]");

    struct Number {
        const char* json;
        const char* text;
    } numbers[] = {
        {"0", "0"},
        {"-0", "0"},
        {"0.0", "0"},
        {"-0.0", "0"},
        {"7", "7"},
        {"-2147483648", "-2147483648"},
        {"2147483647", "2147483647"},
        {"4294967296", "4294967296"},
        {"1.5", "1.5"},
        {"0.1", "0.1"},
        {"100.0", "100"},
        {"1e21", "1e+21"},
        {"1e20", "100000000000000000000"},
        {"1.25e-7", "1.25e-7"},
        {"0.000001", "0.000001"},
        {"-3.5e300", "-3.5e+300"},
        {"0.30000000000000004", "0.30000000000000004"},
        // Integers the text holds exactly are kept exactly (ids beyond 2^53).
        {"9007199254740993", "9007199254740993"},
        {"18446744073709551615", "18446744073709551615"},
        {"-9223372036854775808", "-9223372036854775808"},
    };
    for (const auto& n : numbers) {
        JsonObject value;
        ASSERT_TRUE(value.parse(std::string("{\"v\":") + n.json + "}")) << n.json;
        EXPECT_EQ(value.get_text("v"), n.text) << n.json;
        EXPECT_EQ(value.get_json("v"), n.text) << n.json;
    }
}

TEST(JsonObject, PathForms) {
    JsonObject top;
    ASSERT_TRUE(top.parse(R"([{"path":"/a"},{"path":"/b","x y":{"0":"zero"}}])"));
    EXPECT_EQ(top.get_text("[0].path"), "/a");
    EXPECT_EQ(top.get_text("[1]['x y'][0]"), "zero"); // an index names member "0" of an object
    EXPECT_EQ(top.get_text("[1][\"x y\"]['0']"), "zero");
    EXPECT_EQ(top.get_count(), 2);
    EXPECT_EQ(top.get_count("[1]"), 2);
    EXPECT_EQ(top.get_item_text(1, "", false), R"({"path":"/b","x y":{"0":"zero"}})");
    EXPECT_EQ(top.get_item_text(0, "[1]"), ""); // the optional form has no leading index
    EXPECT_EQ(top.get_item(0, "[1]").get_type(), JsonValueType::null);
    EXPECT_EQ(top.get_json("[0]"), ""); // the dotted form has no leading index
    EXPECT_FALSE(top.has_member("[0]"));

    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"list":[{"md5":"m"}],"键":"值","$x_1":2})"));
    const char* failing[] = {"list.",         "list..md5",  ".list",          "list[0",
                             "list[a]",       "list[0]md5", "list md5",       "list[-1]",
                             "list['a\\'b']", "1list",      "list[0].md5.x.y"};
    for (const char* path : failing) {
        EXPECT_EQ(json.get_text(path), "") << path;
        EXPECT_EQ(json.get_type(path), JsonValueType::other) << path;
    }
    EXPECT_EQ(json.get_text("键"), "值");
    EXPECT_EQ(json.get_text("$x_1"), "2");
    EXPECT_EQ(json.get_text("list['0'].md5"), "m"); // an element is also its array's member "0"
    EXPECT_EQ(json.get_text("list['00'].md5"), "");
    EXPECT_EQ(json.get_type("list[99999999999999999999999]"), JsonValueType::null);
    EXPECT_EQ(json.get_type("list[0].md5.x"), JsonValueType::null); // a member of a string is absent
}

TEST(JsonObject, TypesCountsAndKeys) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"arr":[1,2,3],"obj":{"b":1,"a":2},"s":"x","n":5,"t":true,"z":null})"));
    struct Case {
        const char* path;
        JsonValueType type;
        int count;
    } cases[] = {
        {"", JsonValueType::object, 6},        {"arr", JsonValueType::array, 3},
        {"obj", JsonValueType::object, 2},     {"s", JsonValueType::string, 0},
        {"n", JsonValueType::number, 0},       {"t", JsonValueType::other, 0},
        {"z", JsonValueType::null, 0},         {"absent", JsonValueType::null, 0},
        {"absent.x", JsonValueType::other, 0}, {"arr[1]", JsonValueType::number, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json.get_type(c.path), c.type) << c.path;
        EXPECT_EQ(json.get_count(c.path), c.count) << c.path;
    }
    std::vector<std::string> keys{"stale"};
    EXPECT_EQ(json.list_keys(keys, "obj"), 2);
    EXPECT_EQ(keys, (std::vector<std::string>{"b", "a"})); // insertion order
    EXPECT_EQ(json.list_keys(keys, "arr"), 3);
    EXPECT_EQ(keys, (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(json.list_keys(keys), 6);
    EXPECT_EQ(keys.front(), "arr");
    EXPECT_EQ(json.list_keys(keys, "absent.x"), 0);
    EXPECT_TRUE(keys.empty());
    // Names that the script engine's helpers would have mangled or split come back whole.
    ASSERT_TRUE(json.parse(R"({"mytoJSONString":1,"a,b":2,"parseJSON":3})"));
    EXPECT_EQ(json.list_keys(keys), 3);
    EXPECT_EQ(keys, (std::vector<std::string>{"mytoJSONString", "a,b", "parseJSON"}));
    EXPECT_EQ(json.get_count(), 3);
}

TEST(JsonObject, SetOperations) {
    JsonObject json;
    EXPECT_EQ(json.to_json(), "{}");
    json.set_value("name", "it's \"quoted\"\\n\r\nline");
    EXPECT_EQ(json.get_text("name"), "it's \"quoted\"\\n\r\nline"); // stored as given, nothing interpreted
    EXPECT_EQ(json.get_json("name"), R"("it's \"quoted\"\\n\r\nline")");
    json.set_value("obj", "", true);
    EXPECT_EQ(json.get_type("obj"), JsonValueType::object);
    json.set_value("obj.inner", R"({"k":[1]})", true);
    EXPECT_EQ(json.get_text("obj.inner.k[0]"), "1");
    json.set_json("arr", "[1,2]");
    json.set_number("obj.n", 2.5);
    json.set_number("arr[3]", 4); // past the end: the gap holds null
    EXPECT_EQ(json.get_json("arr"), "[1,2,null,4]");
    EXPECT_EQ(json.get_number("obj.n"), 2.5);

    const std::string before = json.to_json();
    json.set_value("missing.deeper", "x"); // missing intermediate member
    json.set_value("name.x", "x");         // a member of a string
    json.set_value("", "x");               // names nothing
    json.set_value("[0]", "x");            // the dotted form has no leading index
    json.set_json("arr", "{bad json");     // unreadable: nothing changes
    json.set_json("arr", "alert(1)");
    json.set_value("arr[99999999]", "x"); // too far past the end
    json.set_value("bad\xFF", "x");       // not UTF-8
    json.set_value("ok", "bad\xFF");
    EXPECT_EQ(json.to_json(), before);

    EXPECT_TRUE(json.has_member("obj.n"));
    json.set_json("obj.n", "null");
    EXPECT_FALSE(json.has_member("obj.n"));
    EXPECT_EQ(json.get_type("obj.n"), JsonValueType::null);
    EXPECT_FALSE(json.has_member("nothing.at.all"));
}

TEST(JsonObject, NumbersFromText) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"a":"42","b":" -1.5e2 ","c":"12px","d":"","e":true,"f":[1],"g":3})"));
    EXPECT_EQ(json.get_number("a"), 42);
    EXPECT_EQ(json.get_number("b"), -150);
    EXPECT_EQ(json.get_number("c"), 0);
    EXPECT_EQ(json.get_number("d"), 0);
    EXPECT_EQ(json.get_number("f"), 0);
    EXPECT_EQ(json.get_number("g"), 3);
    EXPECT_EQ(json.get_number("zz.yy"), 0);
}

TEST(JsonObject, ArrayOperations) {
    JsonObject json;
    json.push_item("a"); // the whole value (an object) becomes an array first
    json.push_item(R"({"k":1})", "", true);
    json.push_item("not json", "", true); // refused
    EXPECT_EQ(json.to_json(), R"(["a",{"k":1}])");
    EXPECT_EQ(json.get_item_text(0), "a");
    EXPECT_EQ(json.get_item_text(1, "", true), R"({"k":1})");
    EXPECT_EQ(json.get_item_text(5), "");
    EXPECT_EQ(json.get_item(1).get_text("k"), "1");
    EXPECT_EQ(json.get_item(9).get_type(), JsonValueType::null);

    json.set_item(0, "b");
    json.set_item(2, "[true]", true);
    EXPECT_EQ(json.to_json(), R"(["b",{"k":1},[true]])");
    json.remove_item(1);
    json.remove_item(-1);
    json.remove_item(7);
    EXPECT_EQ(json.to_json(), R"(["b"])");

    json.assign(R"({"list":"x"})", true);
    json.push_item("1", "list", true); // a member that is not an array is replaced
    json.push_item("2", "list", true);
    json.push_item("e", "fresh");
    EXPECT_EQ(json.to_json(), R"({"list":[1,2],"fresh":["e"]})");
    EXPECT_EQ(json.get_item_text(1, "list"), "2");
    json.push_item("x", "missing.deeper"); // through a missing member: nothing happens
    json.remove_item(0);                   // the value is not an array
    json.set_item(3, "three");             // on an object: member "3"
    EXPECT_EQ(json.to_json(), R"({"list":[1,2],"fresh":["e"],"3":"three"})");

    json.reset(JsonValueType::array);
    EXPECT_EQ(json.to_json(), "[]");
    json.reset(6); // not a container type: nothing changes
    EXPECT_EQ(json.to_json(), "[]");
    json.reset(0);
    EXPECT_EQ(json.to_json(), "{}");
    json.assign("just text");
    EXPECT_EQ(json.get_type(), JsonValueType::string);
    EXPECT_EQ(json.to_json(), R"("just text")");
    json.assign("{bad", true);
    EXPECT_EQ(json.to_json(), R"("just text")");
    json.clear();
    EXPECT_EQ(json.to_json(), "{}");
}

TEST(JsonObject, JsonTextEscapesControlAndInvisibleCharacters) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"s":"\b\f\n\r\t\u0001\u001f\u007f/\u00ad\u2028\u200c\ufeff中😀"})"));
    EXPECT_EQ(json.to_json(),
              "{\"s\":\"\\b\\f\\n\\r\\t\\u0001\\u001f\\u007f/\\u00ad\\u2028\\u200c\\ufeff中😀\"}");
    // Repeated keys: the last value, at the first place.
    ASSERT_TRUE(json.parse(R"({"a":1,"b":2,"a":3})"));
    EXPECT_EQ(json.to_json(), R"({"a":3,"b":2})");
}

TEST(JsonObject, CopiesShareTheValueAndGetObjectCopiesIt) {
    JsonObject a;
    ASSERT_TRUE(a.parse(R"({"o":{"k":1}})"));
    JsonObject b = a;
    b.set_number("o.k", 2);
    EXPECT_EQ(a.get_text("o.k"), "2");
    JsonObject part = a.get_object("o");
    part.set_number("k", 3);
    EXPECT_EQ(a.get_text("o.k"), "2");
    EXPECT_EQ(part.to_json(), R"({"k":3})");
    EXPECT_EQ(a.get_object("nothing").get_type(), JsonValueType::null);
    EXPECT_EQ(a.get_object("nothing.x").to_json(), "null");
    a.parse("[1]");
    EXPECT_EQ(b.to_json(), "[1]");
}

// What the network may send: every case fails silently and promptly, within bounded memory.
TEST(JsonObject, HostileTexts) {
    JsonObject json;
    EXPECT_FALSE(json.parse(std::string(1'000'000, '[') + std::string(1'000'000, ']')));
    EXPECT_FALSE(json.parse(std::string(1'000'000, '[')));
    std::string objects;
    for (int i = 0; i < 100'000; ++i) {
        objects += "{\"a\":";
    }
    EXPECT_FALSE(json.parse(objects));
    // Up to the depth limit is fine.
    const std::size_t depth = JsonObject::max_depth;
    ASSERT_TRUE(json.parse(std::string(depth, '[') + std::string(depth, ']')));
    EXPECT_FALSE(json.parse(std::string(depth + 1, '[') + std::string(depth + 1, ']')));

    // A text over the size limit is refused before it is read.
    std::string big = "[\"" + std::string(100u << 20, 'x') + "\"]";
    EXPECT_FALSE(json.parse(big));
    big.clear();
    big.shrink_to_fit();

    // Too many values.
    std::string many = "[";
    for (std::size_t i = 0; i <= JsonObject::max_values; ++i) {
        many += "0,";
    }
    many += "0]";
    EXPECT_FALSE(json.parse(many));

    for (const char* bad_utf8 : {"{\"a\":\"\xFF\"}", "{\"a\":\"\xC0\xAF\"}", "{\"a\":\"\xED\xA0\x80\"}",
                                 "{\"\xE4\xB8\":1}", "\"\\ud800\""}) {
        EXPECT_FALSE(json.parse(bad_utf8)) << bad_utf8;
    }

    // An object with many members, most repeated: read in linear time, last value wins.
    std::string wide = "{";
    for (int i = 0; i < 200'000; ++i) {
        wide += "\"k" + std::to_string(i % 50'000) + "\":" + std::to_string(i) + ",";
    }
    wide += "\"end\":1}";
    ASSERT_TRUE(json.parse(wide));
    EXPECT_EQ(json.get_count(), 50'001);
    EXPECT_EQ(json.get_text("k7"), "150007");
}

} // namespace
