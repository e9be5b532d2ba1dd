#include "web/cookie_store.h"

#include "web/cookies.h"

namespace vestrel {

std::string cookie_deletion_data() {
    return "deleted; expires=Fri, 1-Jan-1999 1:1:1 GMT; path=/;";
}

std::string cookie_deletion_data_with_domain(const std::string& host) {
    return cookie_deletion_data() + " domain=" + url_domain(host, true, false);
}

std::string read_host_cookies(const std::string& host, CookieStore& store) {
    std::string url = "http://" + host;
    std::string plain = store.get_cookies(url, false).value_or("");
    std::string all = store.get_cookies(url, true).value_or("");
    return merge_cookies(plain, all);
}

void clear_host_cookies(const std::string& host, CookieStore& store) {
    std::string url = "http://" + host;
    std::string plain = cookie_deletion_data();
    std::string with_domain = cookie_deletion_data_with_domain(host);
    for (const std::string& item : split_text(read_host_cookies(host, store), ";")) {
        std::string name = cookie_pair_name(item);
        store.set_cookie(url, name, plain);
        store.set_cookie(url, name, with_domain);
    }
}

} // namespace vestrel
