// logid: Base64 of the millisecond time and a random fraction written as a script engine writes numbers.
#include "engine/logid.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace vestrel {
namespace {

std::string base64_decode(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        buffer = (buffer << 6) | static_cast<unsigned>(alphabet.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

TEST(Logid, Base64FollowsRfc4648) {
    const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"},
                                                           {"\xff\xfe", "//4="}};
    for (const auto& [in, out] : vectors)
        EXPECT_EQ(base64_encode(in), out);
}

TEST(Logid, NumbersAreWrittenAsAScriptEngineWritesThem) {
    const std::pair<double, std::string> cases[] = {{0.5, "0.5"},
                                                    {0.1, "0.1"},
                                                    {0.7080694986582083, "0.7080694986582083"},
                                                    {0.000001, "0.000001"},
                                                    {1e-7, "1e-7"},
                                                    {1.5e-9, "1.5e-9"},
                                                    {0, "0"},
                                                    {123, "123"},
                                                    {0.0123, "0.0123"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(script_number_text(value), text);
    EXPECT_EQ(logid_from(1700000000000, 0.7080694986582083),
              base64_encode("17000000000000.7080694986582083"));
    EXPECT_EQ(logid_from(1700000000000, 0.7080694986582083).size(), 44u);
}

TEST(Logid, FreshValuesDifferAndDecodeToTimeAndFraction) {
    std::set<std::string> values;
    std::mutex lock;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                std::string id = make_logid();
                std::lock_guard<std::mutex> guard(lock);
                values.insert(id);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(values.size(), 1600u);
    std::size_t usual = 0;
    for (const auto& id : values) {
        std::string text = base64_decode(id);
        ASSERT_GE(text.size(), 15u) << id;
        for (std::size_t i = 0; i < 13; ++i)
            ASSERT_TRUE(text[i] >= '0' && text[i] <= '9') << text;
        EXPECT_EQ(text.substr(13, 2), "0.") << text;
        EXPECT_EQ(base64_encode(text), id);
        usual += id.size() == 44;
    }
    EXPECT_GT(usual, values.size() * 9 / 10);
}

} // namespace
} // namespace vestrel
