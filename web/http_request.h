#pragma once
// http_request: the one HTTP operation of the program. One synchronous exchange on the calling thread: the
// request is built from a URL, a method number, a body, a cookie text and extra header lines, the program's
// browser-like default headers are added, the whole response is read, its cookies are pulled out and merged
// into the caller's cookie text, and the body comes back as UTF-8 text (converted from the charset a page
// declares in a <meta> element, when that is another one).
//
// Failures are not raised: the result is empty and `status` holds one of the numbered error texts below.
//
// Threads: the routine is reentrant and shares nothing between calls (a new session and connection every
// call), so any number of threads may call it at once. It blocks the caller for the exchange, bounded by the
// time-outs (30 s each by default); a quit request (engine/pump_wait.h) does not cut it short. It reads and
// then replaces `cookies` without a lock: a cookie text that several threads could pass at the same time must
// be a private copy per call. While it works it handles the calling thread's messages (process_messages).
//
// Optional parameters know whether the caller supplied them: pass std::nullopt (or {}) to leave one out.
// Out-parameters bind to the caller's variable, so a call reads like
//     std::string cookies = login_cookies, status;
//     std::string page = http_request(url, 0, {}, cookies, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {},
//     status);
// Cookies are merged only into a supplied `cookies`. After a failure the outputs other than `status` keep
// what the caller passed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vestrel {

class HttpTransport;

// An optional out (or in/out) parameter: bound to the caller's variable, or absent.
template <class T>
class OutParam {
public:
    OutParam() = default;
    OutParam(std::nullopt_t) {}
    OutParam(T& target) : target_(&target) {}
    bool supplied() const { return target_ != nullptr; }
    T* get() const { return target_; }

private:
    T* target_ = nullptr;
};

// The error texts written to `status`. There is no 706.
inline constexpr std::string_view http_error_no_platform = "700 当前系统不支持WinHttp服务!";
inline constexpr std::string_view http_error_bad_url = "701 解析URL地址失败!";
inline constexpr std::string_view http_error_session = "702 创建WinHttp会话失败!";
inline constexpr std::string_view http_error_connection = "703 创建WinHttp连接失败!";
inline constexpr std::string_view http_error_request = "704 创建WinHttp请求失败!";
inline constexpr std::string_view http_error_timeouts = "705 设置超时时间失败!";
inline constexpr std::string_view http_error_credentials = "707 设置代理凭证失败!";
inline constexpr std::string_view http_error_cookie_option = "708 禁止自动设置Cookies失败!";
inline constexpr std::string_view http_error_redirects = "709 重定向设置失败!";
inline constexpr std::string_view http_error_headers = "710 设置协议头失败!";
inline constexpr std::string_view http_error_send = "711 发送请求失败!";
inline constexpr std::string_view http_error_no_response = "712 服务器未响应!";
inline constexpr std::string_view http_error_read = "713 读取数据失败!";

// Parameters, in order (all but `url` optional):
//  url              "http://" or "https://", host, optional port, path and query
//  method           0 GET, 1 POST, 2 HEAD, 3 PUT; any other value GET. Default 0
//  body             sent as it is, for every method. Default empty
//  cookies          in/out: sent as "Cookie: "; when supplied, the response's cookies are merged into it
//  new_cookies      out: the cookies this response set, as a cookie text ("a=1; b=2")
//  extra_headers    the caller's header lines, separated by "\r\n"; a line of the caller's suppresses the
//                   default of the same name (the Content-Type probe is exact-case "Content-Type:")
//  response_headers out: the final response's raw header block, status line first, lines ended by "\r\n"
//  no_redirect      true: redirects are not followed. Default false (followed, cookies carried along when
//                   `cookies` is supplied)
//  auth_user, auth_password     basic authentication at the server, used when both are non-empty
//  proxy            "host:port"; empty: no proxy (not even one from the environment)
//  proxy_user, proxy_password   basic authentication at the proxy, used when both are non-empty
//  timeout          seconds for each of resolving, connecting, sending and receiving; 0 or less: 30
//  location         out: the response's "Location: " value, empty when it has none
//  status           out: "200 OK" and the like, or an error text
//  response_bytes   out: the body exactly as received (zero bytes included)
// Result: the body up to its first zero byte, converted to UTF-8 from a declared charset; empty on failure.
std::string http_request(std::string_view url, std::optional<std::int32_t> method = std::nullopt,
                         std::optional<std::string_view> body = std::nullopt,
                         OutParam<std::string> cookies = {}, OutParam<std::string> new_cookies = {},
                         std::optional<std::string_view> extra_headers = std::nullopt,
                         OutParam<std::string> response_headers = {},
                         std::optional<bool> no_redirect = std::nullopt,
                         std::optional<std::string_view> auth_user = std::nullopt,
                         std::optional<std::string_view> auth_password = std::nullopt,
                         std::optional<std::string_view> proxy = std::nullopt,
                         std::optional<std::string_view> proxy_user = std::nullopt,
                         std::optional<std::string_view> proxy_password = std::nullopt,
                         std::optional<std::int32_t> timeout = std::nullopt,
                         OutParam<std::string> location = {}, OutParam<std::string> status = {},
                         OutParam<std::string> response_bytes = {});

// The same over a given transport (a test's fake, or a back end chosen by the caller).
std::string http_request(
    HttpTransport& transport, std::string_view url, std::optional<std::int32_t> method = std::nullopt,
    std::optional<std::string_view> body = std::nullopt, OutParam<std::string> cookies = {},
    OutParam<std::string> new_cookies = {}, std::optional<std::string_view> extra_headers = std::nullopt,
    OutParam<std::string> response_headers = {}, std::optional<bool> no_redirect = std::nullopt,
    std::optional<std::string_view> auth_user = std::nullopt,
    std::optional<std::string_view> auth_password = std::nullopt,
    std::optional<std::string_view> proxy = std::nullopt,
    std::optional<std::string_view> proxy_user = std::nullopt,
    std::optional<std::string_view> proxy_password = std::nullopt,
    std::optional<std::int32_t> timeout = std::nullopt, OutParam<std::string> location = {},
    OutParam<std::string> status = {}, OutParam<std::string> response_bytes = {});

// Pieces of the routine, exposed for tests and benchmarks.

// The header block sent: `extra_headers` plus "\r\n" (when not empty), then each default whose probe it
// lacks, the Cookie line only for a non-empty `cookies`.
std::string http_header_block(std::string_view extra_headers, std::string_view cookies);

// What the response's header block says: the cookies it sets, as a cookie text, and its Location value
// (empty when none). Runs process_messages now and then, as the routine does while parsing.
struct ResponseHeaderFacts {
    std::string new_cookies;
    std::string location;
    bool has_location = false;
};
ResponseHeaderFacts parse_response_headers(std::string_view header_block);

// The status text of a header block: from its 10th character up to the first "\r\n" after it.
std::string http_status_text(std::string_view header_block);

// The charset a page declares in a <meta> element within its first 1024 bytes; empty when none.
std::string declared_charset(std::string_view page);

// `page` converted to UTF-8 from the charset it declares; unchanged when it declares UTF-8, nothing, or a
// charset this platform does not know.
std::string page_text_as_utf8(std::string page);

} // namespace vestrel
