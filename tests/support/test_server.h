#pragma once
// Finds the loopback servers that ctest fixtures start (cmake/testing.cmake, vestrel_server_fixture).

#include <cstdlib>
#include <fstream>
#include <string>

namespace vestrel::testing {

// The folder fixture servers write their URLs to: $VESTREL_FIXTURES, else the build tree's own.
inline std::string fixtures_dir() {
    const char* dir = std::getenv("VESTREL_FIXTURES");
    if (dir != nullptr && *dir != '\0')
        return dir;
#ifdef VESTREL_FIXTURES_DIR
    return VESTREL_FIXTURES_DIR;
#else
    return {};
#endif
}

// The URL ("http://127.0.0.1:PORT") of the fixture server NAME, or "" when it is not running.
inline std::string test_server_url(const std::string& name) {
    std::string dir = fixtures_dir();
    if (dir.empty())
        return {};
    std::string path = dir + "/" + name + ".url";
#ifdef _WIN32
    // Under Wine the Unix root is drive Z:.
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
#endif
    std::ifstream in(path);
    std::string url;
    std::getline(in, url);
    while (!url.empty() && (url.back() == '\r' || url.back() == '\n' || url.back() == ' '))
        url.pop_back();
    return url;
}

} // namespace vestrel::testing
