#pragma once
// The simulator's HTML pages: the login form and the disk home page.

#include <cstdint>
#include <string>
#include <vector>

namespace vestrel {

struct HomeEntry {
    std::string name;
    bool is_directory = false;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
};

// The login form (posts "username" and "password" to /passport/login), with a message when not empty.
std::string login_page(const std::string& message);

// The disk page of a logged-in user: UTF-8, declared in a meta element in its first bytes; the token on one
// line as "bdstoken":"<token>" in a script; 1160 px wide with the avatar at its right edge (the login window
// shows the page from 526 px rightwards).
std::string home_page(const std::string& user, const std::string& token,
                      const std::vector<HomeEntry>& entries);

std::string html_escape(const std::string& text);

} // namespace vestrel
