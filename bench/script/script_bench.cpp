#include "script/json_object.h"
#include "script/regex_object.h"
#include "script/xml_document.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A list response of the service with 100 entries (about 20 KB), some with non-ASCII paths, a quarter of
// them directories (no md5).
const std::string& listing_response() {
    static const std::string text = [] {
        std::string out = R"({"errno":0,"guid_info":"","list":[)";
        for (int i = 0; i < 100; ++i) {
            if (i > 0) {
                out += ',';
            }
            const bool directory = i % 4 == 0;
            const std::string name =
                (i % 3 == 0 ? "照片_" : "document-") + std::to_string(i) + (directory ? "" : ".jpg");
            char md5[33];
            std::snprintf(md5, sizeof md5, "%08x%08x%08x%08x", i * 2654435761u, i * 40503u + 7,
                          i ^ 0x5bd1e995, i * 97);
            out +=
                R"({"category":)" + std::to_string(directory ? 6 : 3) + R"(,"fs_id":)" +
                std::to_string(1000000000000LL + i * 7919LL) + R"(,"isdir":)" + (directory ? "1" : "0") +
                R"(,"local_ctime":1590000000,"local_mtime":1590000000,"oper_id":0,"path":"/我的资源/相册/)" +
                name + R"(","server_ctime":1590000001,"server_filename":")" + name +
                R"(","server_mtime":1590000002,"size":)" + std::to_string(directory ? 0 : 1000 + i * 37) +
                R"(,"unlist":0)";
            if (!directory) {
                out += R"(,"md5":")" + std::string(md5) + R"(")";
            }
            out += '}';
        }
        out += R"(],"request_id":5812345678901234567})";
        return out;
    }();
    return text;
}

// The reads the listing makes: errno, then each entry's four members by path until the entries end.
std::size_t read_listing(const vestrel::JsonObject& json) {
    std::size_t bytes = json.get_text("errno").size();
    for (int i = 0;; ++i) {
        const std::string entry = "list[" + std::to_string(i) + "].";
        const std::string path = json.get_text(entry + "path");
        if (path.empty()) {
            break;
        }
        bytes += path.size() + json.get_text(entry + "unlist").size() + json.get_text(entry + "md5").size() +
                 json.get_text(entry + "server_filename").size();
    }
    return bytes;
}

void BM_ListingThroughJsonObject(benchmark::State& state) {
    const std::string& text = listing_response();
    for (auto _ : state) {
        vestrel::JsonObject json;
        benchmark::DoNotOptimize(json.parse(text));
        benchmark::DoNotOptimize(read_listing(json));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ListingThroughJsonObject);

void BM_ListingParseOnly(benchmark::State& state) {
    const std::string& text = listing_response();
    for (auto _ : state) {
        vestrel::JsonObject json;
        benchmark::DoNotOptimize(json.parse(text));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ListingParseOnly);

void BM_ListingPathReadsOnly(benchmark::State& state) {
    vestrel::JsonObject json;
    json.parse(listing_response());
    for (auto _ : state) {
        benchmark::DoNotOptimize(read_listing(json));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ListingPathReadsOnly);

// The same work directly with nlohmann: parse, then the same members as text.
void BM_ListingDirectNlohmann(benchmark::State& state) {
    const std::string& text = listing_response();
    const auto as_text = [](const nlohmann::ordered_json& v) -> std::string {
        if (v.is_string()) {
            return v.get<std::string>();
        }
        if (v.is_number_integer()) {
            return std::to_string(v.get<long long>());
        }
        return v.is_null() ? std::string() : v.dump();
    };
    for (auto _ : state) {
        const auto json = nlohmann::ordered_json::parse(text, nullptr, false);
        std::size_t bytes = as_text(json["errno"]).size();
        for (const auto& entry : json["list"]) {
            const std::string path = entry.contains("path") ? as_text(entry["path"]) : std::string();
            if (path.empty()) {
                break;
            }
            bytes += path.size() + as_text(entry.value("unlist", nlohmann::ordered_json())).size() +
                     as_text(entry.value("md5", nlohmann::ordered_json())).size() +
                     as_text(entry.value("server_filename", nlohmann::ordered_json())).size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ListingDirectNlohmann);

// The token step: the token pattern over a 60 KB home page.
void BM_TokenPattern(benchmark::State& state) {
    std::string page(60000, 'x');
    page += R"("bdstoken":"0123456789abcdef0123456789abcdef")";
    for (auto _ : state) {
        vestrel::RegexObject re;
        re.execute(R"re(bdstoken":"(.*?)")re", page);
        benchmark::DoNotOptimize(re.submatch_text(1, 1));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TokenPattern);

// 100,000 setAttributeNode calls with distinct names on one element, as the finder would make them.
void BM_SetAttributeNode100k(benchmark::State& state) {
    std::vector<std::string> names;
    for (int i = 0; i < 100000; ++i) {
        char md5[34];
        std::snprintf(md5, sizeof md5, "a%08x%08x%08x%08x", i * 2654435761u, i ^ 0x5bd1e995, i * 40503u, i);
        names.emplace_back(md5);
    }
    for (auto _ : state) {
        vestrel::XmlDocument doc;
        doc.new_document("array");
        doc.add_element("array", "CDS", "");
        vestrel::XmlNode cds = doc.select_node("array/CDS");
        vestrel::XmlNode document = doc.get_document();
        int repeats = 0;
        for (const std::string& name : names) {
            repeats += cds.setAttributeNode(document.createAttribute(name)).empty() ? 0 : 1;
        }
        benchmark::DoNotOptimize(repeats);
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_SetAttributeNode100k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
