// The script objects share nothing: many threads, each with its own objects, work at once. Run under
// ThreadSanitizer in the linux-tsan build.
#include "script/json_object.h"
#include "script/regex_object.h"
#include "script/xml_document.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string listing_response(int worker, int round) {
    std::string text = R"({"errno":0,"request_id":)" + std::to_string(worker * 1000 + round) + R"(,"list":[)";
    for (int i = 0; i < 20; ++i) {
        if (i > 0) {
            text += ',';
        }
        const std::string name = "文件" + std::to_string(worker) + "-" + std::to_string(i);
        text += R"({"server_filename":")" + name + R"(","path":"/目录/)" + name + R"(")";
        if (i % 4 != 0) {
            text += R"(,"md5":"md5-)" + std::to_string((worker + i) % 7) + R"(")";
        }
        text += '}';
    }
    text += "]}";
    return text;
}

TEST(ScriptObjects, ThirtyTwoThreadsEachWithTheirOwnObjects) {
    constexpr int threads = 32;
    constexpr int rounds = 20;
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < threads; ++w) {
        workers.emplace_back([w, &failures] {
            for (int round = 0; round < rounds; ++round) {
                vestrel::JsonObject json;
                if (!json.parse(listing_response(w, round)) || json.get_text("errno") != "0" ||
                    json.get_text("request_id") != std::to_string(w * 1000 + round)) {
                    ++failures;
                    continue;
                }
                int files = 0;
                int directories = 0;
                vestrel::XmlDocument doc;
                doc.new_document("array");
                doc.add_element("array", "CDS", "");
                vestrel::XmlNode cds = doc.select_node("array/CDS");
                vestrel::XmlNode document = doc.get_document();
                int repeats = 0;
                for (int i = 0;; ++i) {
                    const std::string entry = "list[" + std::to_string(i) + "].";
                    const std::string path = json.get_text(entry + "path");
                    if (path.empty()) {
                        break;
                    }
                    const std::string md5 = json.get_text(entry + "md5");
                    if (md5.empty()) {
                        ++directories;
                        continue;
                    }
                    ++files;
                    if (!cds.setAttributeNode(document.createAttribute("a" + md5)).empty()) {
                        ++repeats;
                    }
                }
                vestrel::RegexObject re;
                const std::string page =
                    R"(<meta charset="gbk"> "bdstoken":"tok)" + std::to_string(w) + R"(")";
                const bool ok = re.execute(R"re(bdstoken":"(.*?)")re", page) &&
                                re.submatch_text(1, 1) == "tok" + std::to_string(w) &&
                                re.execute(R"(<meta.+?charset=[^\w]?([-\w]+))", page) &&
                                re.submatch_text(1, 1) == "gbk";
                if (!ok || files != 15 || directories != 5 ||
                    repeats != 15 - doc.attribute_count("array/CDS")) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : workers) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
