#pragma once
// A fake cloud-disk service behind the engine's ServiceHttp seam: a directory tree in memory, the list API
// with pages of 100, the delete API, the home page with a token, per-directory faults, a request log and
// counts of requests in flight. No HTTP is involved.

#include "engine/service.h"
#include "web/encodings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vestrel::testing {

struct FakeEntry {
    std::string path;
    std::string md5; // empty for a directory
};

struct FakeRequest {
    std::string url;
    int method = 0;
    std::string body;
    std::string cookies;
    bool cookies_supplied = false;
};

class FakeService : public ServiceHttp {
public:
    std::string origin = "http://fake.test";
    std::string home_page = "<html><script>var yunData={\"bdstoken\":\"tok123\",\"x\":1};</script></html>";
    std::string set_cookie; // merged into the caller's cookies by every answer (e.g. "fresh=1")
    int latency_ms = 0;     // per request
    int page_size = 100;
    // Raw answers that replace a directory's listing (garbage, an errno), by directory path.
    std::map<std::string, std::string> list_overrides;
    // The answer to a delete of `path`; by default success, and the file leaves the tree.
    std::function<std::string(const std::string& path)> delete_answer;

    // Adds a file or directory under `dir`, after its earlier entries (the service's order).
    void add_file(const std::string& dir, const std::string& name, const std::string& md5) {
        std::lock_guard<std::mutex> lock(lock_);
        tree_[dir].push_back({join(dir, name), md5});
    }
    void add_dir(const std::string& dir, const std::string& name) {
        std::lock_guard<std::mutex> lock(lock_);
        tree_[dir].push_back({join(dir, name), ""});
        tree_.try_emplace(join(dir, name));
    }
    // Adds an entry exactly as given (for repeated or odd entries).
    void add_raw(const std::string& dir, FakeEntry entry) {
        std::lock_guard<std::mutex> lock(lock_);
        tree_[dir].push_back(std::move(entry));
    }

    std::vector<FakeRequest> requests() const {
        std::lock_guard<std::mutex> lock(lock_);
        return requests_;
    }
    std::vector<std::string> deleted() const {
        std::lock_guard<std::mutex> lock(lock_);
        return deleted_;
    }
    // Every file path still in the tree, sorted.
    std::vector<std::string> remaining_files() const {
        std::lock_guard<std::mutex> lock(lock_);
        std::vector<std::string> out;
        for (const auto& [dir, entries] : tree_)
            for (const auto& e : entries)
                if (!e.md5.empty())
                    out.push_back(e.path);
        std::sort(out.begin(), out.end());
        return out;
    }
    int max_lists_in_flight() const { return max_lists_.load(); }
    int max_deletes_in_flight() const { return max_deletes_.load(); }
    bool lists_and_deletes_overlapped() const { return overlap_.load(); }

    std::string request(const std::string& url, int method, const std::string& body, std::string* cookies,
                        std::string& status, int) override {
        {
            std::lock_guard<std::mutex> lock(lock_);
            requests_.push_back({url, method, body, cookies ? *cookies : std::string(), cookies != nullptr});
        }
        status = "200 OK";
        std::string answer;
        if (url.rfind(origin + "/api/list?", 0) == 0) {
            Flight flight(lists_, max_lists_, deletes_, overlap_);
            wait();
            answer = list(url.substr(origin.size() + 10));
        } else if (url.rfind(origin + "/api/filemanager?", 0) == 0) {
            Flight flight(deletes_, max_deletes_, lists_, overlap_);
            wait();
            answer = remove(body);
        } else if (url == origin + "/disk/home") {
            wait();
            answer = home_page;
        } else {
            status = "404 Not Found";
        }
        if (cookies != nullptr && !set_cookie.empty())
            *cookies = set_cookie + (cookies->empty() ? "" : "; " + *cookies);
        return answer;
    }

    static std::string query_value(const std::string& query, const std::string& key) {
        std::size_t pos = 0;
        while (pos <= query.size()) {
            std::size_t end = query.find('&', pos);
            if (end == std::string::npos)
                end = query.size();
            std::string item = query.substr(pos, end - pos);
            if (item.rfind(key + "=", 0) == 0)
                return item.substr(key.size() + 1);
            pos = end + 1;
        }
        return {};
    }

    // The path a delete body names: "filelist=" + percent-encoded JSON array, "+" for spaces.
    static std::string body_path(const std::string& body) {
        std::string value = body.substr(body.find('=') + 1);
        std::replace(value.begin(), value.end(), '+', ' ');
        auto array = nlohmann::json::parse(url_decode(value, true), nullptr, false);
        if (!array.is_array() || array.size() != 1 || !array[0].is_string())
            return "\x01invalid";
        return array[0].get<std::string>();
    }

private:
    struct Flight {
        Flight(std::atomic<int>& mine, std::atomic<int>& max, std::atomic<int>& other,
               std::atomic<bool>& overlap)
            : mine_(mine) {
            int now = ++mine_;
            int seen = max.load();
            while (now > seen && !max.compare_exchange_weak(seen, now)) {
            }
            if (other.load() > 0)
                overlap = true;
        }
        ~Flight() { --mine_; }
        std::atomic<int>& mine_;
    };

    void wait() const {
        if (latency_ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(latency_ms));
    }

    static std::string join(const std::string& dir, const std::string& name) {
        return dir == "/" ? "/" + name : dir + "/" + name;
    }

    std::string list(const std::string& query) {
        std::string dir = url_decode(query_value(query, "dir"), true);
        int page = std::stoi(query_value(query, "page"));
        std::lock_guard<std::mutex> lock(lock_);
        auto over = list_overrides.find(dir);
        if (over != list_overrides.end())
            return over->second;
        auto it = tree_.find(dir);
        if (it == tree_.end())
            return R"({"errno":-9,"list":[]})";
        nlohmann::ordered_json answer = {{"errno", 0}, {"list", nlohmann::ordered_json::array()}};
        std::size_t first = static_cast<std::size_t>((page - 1) * page_size);
        for (std::size_t i = first; i < it->second.size() && i < first + static_cast<std::size_t>(page_size);
             ++i) {
            const auto& e = it->second[i];
            nlohmann::ordered_json item = {{"unlist", 0},
                                           {"path", e.path},
                                           {"server_filename", e.path.substr(e.path.rfind('/') + 1)},
                                           {"isdir", e.md5.empty() ? 1 : 0}};
            if (!e.md5.empty())
                item["md5"] = e.md5;
            answer["list"].push_back(item);
        }
        return answer.dump();
    }

    std::string remove(const std::string& body) {
        std::string path = body_path(body);
        if (delete_answer)
            return delete_answer(path);
        std::lock_guard<std::mutex> lock(lock_);
        for (auto& [dir, entries] : tree_) {
            auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const FakeEntry& e) { return e.path == path && !e.md5.empty(); });
            if (it != entries.end()) {
                entries.erase(it);
                deleted_.push_back(path);
                return R"({"errno":0,"info":[],"request_id":77,"taskid":1})";
            }
        }
        return R"({"errno":12,"info":[]})";
    }

    mutable std::mutex lock_;
    std::map<std::string, std::vector<FakeEntry>> tree_{{"/", {}}};
    std::vector<FakeRequest> requests_;
    std::vector<std::string> deleted_;
    std::atomic<int> lists_{0}, deletes_{0}, max_lists_{0}, max_deletes_{0};
    std::atomic<bool> overlap_{false};
};

} // namespace vestrel::testing
