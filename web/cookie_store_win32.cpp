// Windows: WinINet's cookie store, the one the embedded browser control writes to.
#include "web/cookie_store.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

namespace vestrel {

namespace {

// Reads with a 3000-byte buffer first, as almost every cookie set fits; a larger set is read again with the
// size WinINet asks for instead of being lost (a long login cookie would otherwise fail the login).
std::optional<std::string> read_cookies(const std::string& url, bool http_only) {
    std::vector<char> buf(3000, ' ');
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD size = static_cast<DWORD>(buf.size());
        BOOL ok = http_only ? InternetGetCookieExA(url.c_str(), nullptr, buf.data(), &size,
                                                   INTERNET_COOKIE_HTTPONLY, nullptr)
                            : InternetGetCookieA(url.c_str(), nullptr, buf.data(), &size);
        if (ok) {
            std::size_t n = 0;
            while (n < buf.size() && buf[n] != '\0')
                ++n;
            return std::string(buf.data(), n);
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buf.size())
            return std::nullopt;
        buf.assign(size + 1, ' ');
    }
    return std::nullopt;
}

class WinInetCookieStore : public CookieStore {
public:
    std::optional<std::string> get_cookies(const std::string& url, bool include_http_only) override {
        return read_cookies(url, include_http_only);
    }

    bool set_cookie(const std::string& url, const std::string& name, const std::string& data,
                    bool http_only) override {
        if (http_only)
            return InternetSetCookieExA(url.c_str(), name.c_str(), data.c_str(), INTERNET_COOKIE_HTTPONLY,
                                        0) != 0;
        return InternetSetCookieA(url.c_str(), name.c_str(), data.c_str()) != 0;
    }
};

} // namespace

CookieStore& system_cookie_store() {
    static WinInetCookieStore store;
    return store;
}

} // namespace vestrel
