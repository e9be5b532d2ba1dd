#pragma once
// A scripted HttpTransport for tests: it fails at a chosen step or answers with a canned response, and it
// records what the routine asked of it. No network.

#include "web/http_transport.h"

#include <optional>
#include <string>
#include <vector>

namespace vestrel {

class FakeHttpTransport final : public HttpTransport {
public:
    enum class Step {
        none,
        check_platform,
        crack_url,
        open_session,
        connect,
        open_request,
        set_timeouts,
        set_server_credentials,
        set_proxy_credentials,
        set_cookie_handling,
        disable_redirects,
        add_headers,
        send,
        receive_response,
        read_data, // after the body has been delivered, or at once with `break_after`
        query_raw_headers,
    };

    // The scripted behaviour.
    Step fail_at = Step::none;
    std::string header_block = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    std::string body;
    std::size_t chunk = 8192;               // bytes offered per query_data_available
    std::optional<std::size_t> break_after; // with fail_at read_data: bytes delivered before the break
    bool headers_fail = false;              // the header query fails too, whatever `fail_at` says

    // What the routine did.
    std::vector<std::string> calls; // step names in call order
    CrackedUrl cracked;
    ProxyAccess access = ProxyAccess::none;
    std::string proxy_name, host, method, object_name, headers_sent, body_sent;
    std::uint16_t port = 0;
    bool secure = false;
    int timeout_ms = 0;
    std::string server_user, server_password, proxy_user, proxy_password;
    std::optional<bool> cookie_handling;
    bool redirects_disabled = false;
    int closes = 0;

    bool check_platform() override;
    bool crack_url(std::string_view url, CrackedUrl& parts) override;
    bool open_session(ProxyAccess access, std::string_view proxy_name) override;
    bool connect(std::string_view host, std::uint16_t port) override;
    bool open_request(std::string_view method, std::string_view object_name, bool secure) override;
    bool set_timeouts(int milliseconds) override;
    bool set_credentials(AuthTarget target, std::string_view user, std::string_view password) override;
    bool set_cookie_handling(bool enabled) override;
    bool disable_redirects() override;
    bool add_headers(std::string_view header_block) override;
    bool send(std::string_view body) override;
    bool receive_response() override;
    std::size_t query_data_available() override;
    bool read_data(std::string& body, std::size_t available) override;
    bool query_raw_headers(std::string& block) override;
    void close() override;

private:
    bool step(Step which, const char* name);
    std::size_t delivered_ = 0;
    bool broke_ = false;
};

} // namespace vestrel
