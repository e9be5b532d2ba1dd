#pragma once
// The HTTP exchange underneath http_request, one step per call so that each step can fail on its own and map
// to its own error number. A transport serves exactly one exchange: http_request makes a fresh one for every
// call and drops it at the end, so nothing is shared between calls (or threads).
//
// Back ends: WinHTTP on Windows (bound by name from "Winhttp.dll" at run time), libcurl on Linux, and
// FakeHttpTransport (http_fake_transport.h) for tests. Texts are UTF-8; the Windows back end converts to
// UTF-16 at its calls.
//
// The steps, in the order http_request calls them (each returns false on failure):
//   check_platform     700   open_session   702   open_request    704   set_credentials 707
//   crack_url          701   connect        703   set_timeouts    705   set_cookie_handling 708
//   disable_redirects  709   add_headers    710   send            711   receive_response    712
//   read_data          713 (what was read is kept)   query_raw_headers (no number: an empty result)
// close() releases whatever the steps opened; it is called once, whatever happened, and may be called again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vestrel {

// What URL cracking gives, as WinHttpCrackUrl reports it.
struct CrackedUrl {
    std::string host;
    std::uint16_t port = 0;
    bool secure = false; // the scheme is https
    std::string path;    // "/a/b", empty for a URL without one
    std::string extra;   // "?query" (with its "?"), empty when there is none
};

enum class ProxyAccess { none, named };
enum class AuthTarget { server, proxy };

class HttpTransport {
public:
    virtual ~HttpTransport() = default;

    virtual bool check_platform() = 0;
    virtual bool crack_url(std::string_view url, CrackedUrl& parts) = 0;
    // `proxy_name`: empty for no proxy; "host:port" for a secure URL, "http=host:port" for a plain one.
    virtual bool open_session(ProxyAccess access, std::string_view proxy_name) = 0;
    virtual bool connect(std::string_view host, std::uint16_t port) = 0;
    virtual bool open_request(std::string_view method, std::string_view object_name, bool secure) = 0;
    // The same value for resolving, connecting, sending and receiving, in milliseconds.
    virtual bool set_timeouts(int milliseconds) = 0;
    virtual bool set_credentials(AuthTarget target, std::string_view user, std::string_view password) = 0;
    // On: the transport keeps the cookies that responses set for the redirects inside this one exchange.
    virtual bool set_cookie_handling(bool enabled) = 0;
    virtual bool disable_redirects() = 0;
    // Header lines, each ended by "\r\n" (empty lines are ignored).
    virtual bool add_headers(std::string_view header_block) = 0;
    virtual bool send(std::string_view body) = 0;
    virtual bool receive_response() = 0;
    // Bytes ready to read now; 0 at the end of the body (or when asking failed).
    virtual std::size_t query_data_available() = 0;
    // Appends at most `available` bytes of the body to `body`. False when reading failed.
    virtual bool read_data(std::string& body, std::size_t available) = 0;
    // The final response's header block: status line first, every line ended by "\r\n", a blank line last.
    virtual bool query_raw_headers(std::string& block) = 0;
    virtual void close() = 0;
};

// The back end of this platform, for one exchange.
std::unique_ptr<HttpTransport> make_platform_transport();

} // namespace vestrel
