// An in-memory cookie store with WinINet's contract, as far as the login relies on it: host-only and domain
// cookies (RFC 6265 domain matching), HttpOnly cookies visible only to the HttpOnly read, deletion through an
// expiry in the past.
#include "web/cookie_store.h"

#include "web/cookies.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vestrel {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A cookie date as browsers read it (RFC 6265 section 5.1.1, leniently): day, month name, year and
// hh:mm:ss in any order. std::nullopt when it has no year or month.
std::optional<std::int64_t> parse_cookie_date(std::string_view text) {
    static constexpr const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                             "jul", "aug", "sep", "oct", "nov", "dec"};
    int day = -1, month = -1, year = -1, hh = 0, mm = 0, ss = 0;
    std::string t = lower(text);
    std::size_t i = 0;
    while (i < t.size()) {
        std::size_t j = i;
        while (j < t.size() && t[j] != ' ' && t[j] != ',' && t[j] != '-' && t[j] != '\t')
            ++j;
        std::string tok = t.substr(i, j - i);
        i = j + 1;
        if (tok.empty())
            continue;
        if (tok.find(':') != std::string::npos) {
            std::vector<std::string> parts = split_text(tok, ":");
            if (parts.size() == 3) {
                hh = std::atoi(parts[0].c_str());
                mm = std::atoi(parts[1].c_str());
                ss = std::atoi(parts[2].c_str());
            }
            continue;
        }
        bool digits = tok.find_first_not_of("0123456789") == std::string::npos;
        if (digits) {
            int v = std::atoi(tok.c_str());
            if (tok.size() <= 2 && day < 0)
                day = v;
            else
                year = tok.size() == 2 ? (v < 70 ? 2000 + v : 1900 + v) : v;
            continue;
        }
        for (int m = 0; m < 12; ++m)
            if (tok.starts_with(months[m]))
                month = m + 1;
    }
    if (year < 0 || month < 0)
        return std::nullopt;
    if (day < 1)
        day = 1;
    return days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hh * 3600 + mm * 60 + ss;
}

struct StoredCookie {
    std::string name;
    std::string value;
    std::string domain; // lower case, no leading dot
    bool host_only = true;
    std::string path = "/";
    bool http_only = false;
};

class MemoryCookieStore : public CookieStore {
public:
    std::optional<std::string> get_cookies(const std::string& url, bool include_http_only) override {
        std::string host = url_domain(url, false, false);
        std::string path = request_path(url);
        std::lock_guard lock(mutex_);
        std::string out;
        for (const StoredCookie& c : cookies_) {
            if (c.http_only && !include_http_only)
                continue;
            if (!domain_matches(host, c) || !path.starts_with(c.path))
                continue;
            if (!out.empty())
                out += "; ";
            out += c.name + "=" + c.value;
        }
        if (out.empty())
            return std::nullopt;
        return out;
    }

    bool set_cookie(const std::string& url, const std::string& name, const std::string& data,
                    bool http_only) override {
        std::string host = url_domain(url, false, false);
        if (host.empty())
            return false;
        StoredCookie c;
        c.name = name;
        c.domain = host;
        c.http_only = http_only;
        bool expired = false;
        std::vector<std::string> parts = split_text(data, ";");
        c.value = parts.empty() ? std::string() : std::string(trim(parts[0]));
        for (std::size_t i = 1; i < parts.size(); ++i) {
            std::string_view attr = trim(parts[i]);
            std::size_t eq = attr.find('=');
            std::string key = lower(trim(attr.substr(0, eq)));
            std::string value =
                eq == std::string_view::npos ? std::string() : std::string(trim(attr.substr(eq + 1)));
            if (key == "expires") {
                auto when = parse_cookie_date(value);
                auto now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
                if (when && *when <= now)
                    expired = true;
            } else if (key == "max-age") {
                if (!value.empty() && (value[0] == '-' || value == "0"))
                    expired = true;
            } else if (key == "domain" && !value.empty()) {
                std::string d = lower(value);
                if (d.front() == '.')
                    d.erase(0, 1);
                // A domain attribute must cover the host that sets it (RFC 6265 section 5.3, step 6).
                if (!(host == d || (host.size() > d.size() && host.ends_with("." + d))))
                    return false;
                c.domain = d;
                c.host_only = false;
            } else if (key == "path" && !value.empty() && value[0] == '/') {
                c.path = value;
            } else if (key == "httponly") {
                c.http_only = true;
            }
        }
        std::lock_guard lock(mutex_);
        for (auto it = cookies_.begin(); it != cookies_.end(); ++it) {
            if (it->name == c.name && it->domain == c.domain && it->host_only == c.host_only &&
                it->path == c.path) {
                cookies_.erase(it);
                break;
            }
        }
        if (!expired)
            cookies_.push_back(std::move(c));
        return true;
    }

private:
    static bool domain_matches(const std::string& host, const StoredCookie& c) {
        if (c.host_only)
            return host == c.domain;
        return host == c.domain || (host.size() > c.domain.size() && host.ends_with("." + c.domain));
    }

    static std::string request_path(const std::string& url) {
        std::size_t scheme = url.find("://");
        std::size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
        return slash == std::string::npos ? "/" : url.substr(slash);
    }

    std::mutex mutex_;
    std::vector<StoredCookie> cookies_;
};

} // namespace

std::unique_ptr<CookieStore> make_memory_cookie_store() {
    return std::make_unique<MemoryCookieStore>();
}

} // namespace vestrel
