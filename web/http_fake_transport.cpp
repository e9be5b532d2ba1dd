// The scripted transport for tests. Its URL cracking follows WinHttpCrackUrl's results for the URLs the
// program uses: scheme, host, optional port, path and "?query"; a fragment is not part of the request.
#include "web/http_fake_transport.h"

#include <algorithm>
#include <cstdlib>

namespace vestrel {

bool FakeHttpTransport::step(Step which, const char* name) {
    calls.emplace_back(name);
    return fail_at != which;
}

bool FakeHttpTransport::check_platform() {
    return step(Step::check_platform, "check_platform");
}

bool FakeHttpTransport::crack_url(std::string_view url, CrackedUrl& parts) {
    if (!step(Step::crack_url, "crack_url"))
        return false;
    std::string_view rest;
    CrackedUrl out;
    if (url.substr(0, 7) == "http://") {
        rest = url.substr(7);
        out.port = 80;
    } else if (url.substr(0, 8) == "https://") {
        rest = url.substr(8);
        out.port = 443;
        out.secure = true;
    } else {
        return false;
    }
    rest = rest.substr(0, rest.find('#'));
    const std::size_t path_at = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, path_at);
    std::string_view tail = path_at == std::string_view::npos ? std::string_view() : rest.substr(path_at);
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        const std::string port_text(authority.substr(colon + 1));
        const long number = std::strtol(port_text.c_str(), nullptr, 10);
        if (number <= 0 || number > 65535)
            return false;
        out.port = static_cast<std::uint16_t>(number);
        authority = authority.substr(0, colon);
    }
    if (authority.empty())
        return false;
    out.host = authority;
    const std::size_t query_at = tail.find('?');
    out.path = tail.substr(0, query_at);
    if (query_at != std::string_view::npos)
        out.extra = tail.substr(query_at);
    cracked = out;
    parts = out;
    return true;
}

bool FakeHttpTransport::open_session(ProxyAccess a, std::string_view name) {
    access = a;
    proxy_name = name;
    return step(Step::open_session, "open_session");
}

bool FakeHttpTransport::connect(std::string_view h, std::uint16_t p) {
    host = h;
    port = p;
    return step(Step::connect, "connect");
}

bool FakeHttpTransport::open_request(std::string_view m, std::string_view object, bool s) {
    method = m;
    object_name = object;
    secure = s;
    return step(Step::open_request, "open_request");
}

bool FakeHttpTransport::set_timeouts(int milliseconds) {
    timeout_ms = milliseconds;
    return step(Step::set_timeouts, "set_timeouts");
}

bool FakeHttpTransport::set_credentials(AuthTarget target, std::string_view user, std::string_view password) {
    if (target == AuthTarget::server) {
        server_user = user;
        server_password = password;
        return step(Step::set_server_credentials, "set_server_credentials");
    }
    proxy_user = user;
    proxy_password = password;
    return step(Step::set_proxy_credentials, "set_proxy_credentials");
}

bool FakeHttpTransport::set_cookie_handling(bool enabled) {
    cookie_handling = enabled;
    return step(Step::set_cookie_handling, "set_cookie_handling");
}

bool FakeHttpTransport::disable_redirects() {
    redirects_disabled = true;
    return step(Step::disable_redirects, "disable_redirects");
}

bool FakeHttpTransport::add_headers(std::string_view block) {
    headers_sent = block;
    return step(Step::add_headers, "add_headers");
}

bool FakeHttpTransport::send(std::string_view b) {
    body_sent = b;
    return step(Step::send, "send");
}

bool FakeHttpTransport::receive_response() {
    return step(Step::receive_response, "receive_response");
}

std::size_t FakeHttpTransport::query_data_available() {
    const std::size_t limit =
        (fail_at == Step::read_data && break_after) ? std::min(*break_after, body.size()) : body.size();
    if (delivered_ < limit)
        return std::min(chunk == 0 ? limit : chunk, limit - delivered_);
    // One more read when it is to fail.
    return fail_at == Step::read_data && !broke_ ? 1 : 0;
}

bool FakeHttpTransport::read_data(std::string& out, std::size_t available) {
    const std::size_t limit =
        (fail_at == Step::read_data && break_after) ? std::min(*break_after, body.size()) : body.size();
    if (delivered_ >= limit) {
        calls.emplace_back("read_data");
        broke_ = true;
        return fail_at != Step::read_data;
    }
    const std::size_t n = std::min(available, limit - delivered_);
    out.append(body, delivered_, n);
    delivered_ += n;
    return true;
}

bool FakeHttpTransport::query_raw_headers(std::string& block) {
    if (!step(Step::query_raw_headers, "query_raw_headers") || headers_fail)
        return false;
    block = header_block;
    return true;
}

void FakeHttpTransport::close() {
    ++closes;
}

} // namespace vestrel
