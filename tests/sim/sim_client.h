#pragma once
// A small libcurl client for the simulator tests, and the encodings the program uses on its requests.

#include "sim/simulator.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace vestrel::testing {

struct HttpReply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::vector<std::string> headers; // "Name: value" lines of the response
    double seconds = 0;

    // Values of the response headers called `name` (letter case ignored).
    std::vector<std::string> header(const std::string& name) const {
        std::vector<std::string> values;
        for (const std::string& line : headers) {
            if (line.size() > name.size() && line[name.size()] == ':' &&
                strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
                std::string value = line.substr(name.size() + 1);
                while (!value.empty() && value.front() == ' ')
                    value.erase(0, 1);
                values.push_back(value);
            }
        }
        return values;
    }
    nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
};

inline std::size_t collect_text(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

inline std::size_t collect_header(char* data, std::size_t size, std::size_t count, void* target) {
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (!line.empty())
        static_cast<std::vector<std::string>*>(target)->push_back(line);
    return size * count;
}

// One exchange; no redirects followed. `post` sends `body` as a form (the program's Content-Type).
inline HttpReply http(const std::string& url, const std::string& cookies = {}, bool post = false,
                      const std::string& body = {}) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    HttpReply reply;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 15000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect_text);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    if (!cookies.empty())
        curl_easy_setopt(curl, CURLOPT_COOKIE, cookies.c_str());
    if (post) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    auto begin = std::chrono::steady_clock::now();
    reply.code = curl_easy_perform(curl);
    reply.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_cleanup(curl);
    return reply;
}

// Percent-encoding as the program writes a path: UTF-8 bytes; letters, digits, "-" and "." kept; every
// other byte "%" and two upper-case hex digits; with `form`, a space is "+" (the delete body's form).
inline std::string encode_path(const std::string& path, bool form = false) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.')
            out += static_cast<char>(c);
        else if (c == ' ' && form)
            out += '+';
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The program's list request for a directory, with the keys it sends.
inline std::string list_url(const std::string& base, const std::string& dir, int num = 100, int page = 1) {
    return base + "/api/list?dir=" + encode_path(dir) +
           "&bdstoken=&logid=UjdYc0xvZ0lkRGVtb1ZhbHVlRm9yVGhlTGlzdENhbGw=&num=" + std::to_string(num) +
           "&order=time&desc=1&clienttype=0&showempty=0&web=1&page=" + std::to_string(page) +
           "&channel=chunlei&web=1&app_id=250528";
}

inline std::string delete_url(const std::string& base, const std::string& token) {
    return base +
           "/api/filemanager?opera=delete&async=2&channel=chunlei&web=1&app_id=250528&bdstoken=" + token +
           "&logid=MTcwMDAwMDAwMDAwMDAuMTIzNDU2Nzg5MDEyMzQ1Njc=&clienttype=0";
}

// The program's delete body for one path.
inline std::string delete_body(const std::string& path) {
    return "filelist=%5B%22" + encode_path(path, true) + "%22%5D";
}

// A delete body for a JSON array of paths, form-encoded.
inline std::string delete_body(const std::vector<std::string>& paths) {
    return "filelist=" + encode_path(nlohmann::json(paths).dump(), true);
}

} // namespace vestrel::testing
