#pragma once
// The browser cookie store the login takes its cookies from. On Windows it is WinINet's, which the embedded
// browser control shares; on Linux, until a browser control hosts its own store, an in-memory store with the
// same contract. Both are reached through CookieStore so tests can use a store of their own.

#include <memory>
#include <optional>
#include <string>

namespace vestrel {

class CookieStore {
public:
    virtual ~CookieStore() = default;

    // The cookies the store would send to `url` ("http://host"), as "a=1; b=2". HttpOnly cookies only when
    // `include_http_only`. std::nullopt when the store has none for the URL or the read fails.
    virtual std::optional<std::string> get_cookies(const std::string& url, bool include_http_only) = 0;

    // Sets cookie `name` for `url` from `data`, a Set-Cookie value without the name: "value; expires=...;
    // path=/; domain=...". An expiry in the past deletes the cookie. `http_only` marks it HttpOnly.
    virtual bool set_cookie(const std::string& url, const std::string& name, const std::string& data,
                            bool http_only = false) = 0;
};

// The platform's store: WinINet on Windows; on Linux the process's in-memory store.
CookieStore& system_cookie_store();

// A fresh in-memory store (the Linux store's implementation), for tests and the command-line client.
std::unique_ptr<CookieStore> make_memory_cookie_store();

// Deletion data written for a cookie: the plain text, and the one naming the host's last two labels.
std::string cookie_deletion_data();
std::string cookie_deletion_data_with_domain(const std::string& host);

// Every cookie the store holds for `host` (a host name, no scheme), plain and HttpOnly together: the
// HttpOnly-inclusive list first, the plain list adding what it lacks. Empty when there are none.
std::string read_host_cookies(const std::string& host, CookieStore& store = system_cookie_store());

// Overwrites every cookie the store holds for `host` with the deletion data, once for the host and once
// for its domain. What the store refuses stays, silently.
void clear_host_cookies(const std::string& host, CookieStore& store = system_cookie_store());

} // namespace vestrel
