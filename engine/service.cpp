#include "engine/service.h"

#include "web/encodings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

namespace vestrel {

namespace {

char lower_ascii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool contains_ignoring_case(std::string_view text, std::string_view needle) {
    auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return lower_ascii(a) == lower_ascii(b); });
    return it != text.end();
}

} // namespace

std::string normalise_origin(std::string_view origin) {
    std::string out(origin);
    while (!out.empty() && out.back() == '/')
        out.pop_back();
    return out;
}

bool is_valid_origin(std::string_view origin) {
    std::string_view rest;
    if (origin.starts_with("http://"))
        rest = origin.substr(7);
    else if (origin.starts_with("https://"))
        rest = origin.substr(8);
    else
        return false;
    while (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    if (rest.empty())
        return false;
    std::size_t colon = rest.find(':');
    std::string_view host = rest.substr(0, colon);
    if (host.empty())
        return false;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'))
            return false;
    if (colon != std::string_view::npos) {
        std::string_view port = rest.substr(colon + 1);
        if (port.empty() || port.size() > 5)
            return false;
        for (char c : port)
            if (c < '0' || c > '9')
                return false;
    }
    return true;
}

std::string home_page_url(std::string_view origin) {
    return normalise_origin(origin) + "/disk/home";
}

std::string list_url(std::string_view origin, std::string_view path, int page) {
    std::string url = normalise_origin(origin);
    url += "/api/list?dir=";
    url += url_encode(path, true, true);
    url += "&bdstoken=&logid=";
    url += list_logid;
    url += "&num=100&order=time&desc=1&clienttype=0&showempty=0&web=1&page=";
    url += std::to_string(page);
    url += "&channel=chunlei&web=1&app_id=250528";
    return url;
}

std::string delete_url(std::string_view origin, std::string_view token, std::string_view logid) {
    std::string url = normalise_origin(origin);
    url += "/api/filemanager?opera=delete&async=2&channel=chunlei&web=1&app_id=250528&bdstoken=";
    url += token;
    url += "&logid=";
    url += logid;
    url += "&clienttype=0";
    return url;
}

std::string json_escape(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
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
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xF];
            } else {
                out += ch;
            }
        }
    }
    return out;
}

std::string delete_body(std::string_view path) {
    // The form encoding of a space is "+". url_encode writes every byte it escapes as one "%XX" group, so a
    // "%20" group in its output always stands for a space.
    std::string encoded = url_encode(json_escape(path), true, true);
    std::string body = "filelist=%5B%22";
    body.reserve(body.size() + encoded.size() + 6);
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && encoded.compare(i, 3, "%20") == 0) {
            body += '+';
            i += 2;
        } else {
            body += encoded[i];
        }
    }
    body += "%22%5D";
    return body;
}

bool delete_succeeded(std::string_view response) {
    if (response.empty())
        return false;
    return contains_ignoring_case(url_decode(response, true), delete_success_marker);
}

std::string delete_failure_text(std::string_view response, std::string_view status) {
    if (response.empty())
        return status.empty() ? std::string("no answer") : std::string(status);
    auto value = nlohmann::json::parse(response, nullptr, false);
    if (value.is_object()) {
        auto it = value.find("errno");
        if (it != value.end()) {
            if (it->is_number_integer())
                return "errno " + std::to_string(it->get<long long>());
            if (it->is_string())
                return "errno " + it->get<std::string>();
        }
    }
    constexpr std::size_t shown = 120;
    std::string text(response.substr(0, shown));
    // Keep the account on one line.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    if (response.size() > shown)
        text += "...";
    return "answer: " + text;
}

} // namespace vestrel
