#pragma once
// The cloud-disk service as the engine uses it: the origin, the three requests it sends (home page, list one
// directory, delete one file), and the one seam through which every request goes.

#include <string>
#include <string_view>

namespace vestrel {

// The service's own origin. Front ends may replace it with a full origin the user gives (scheme, host and
// an optional port, no path), such as the simulator's "http://127.0.0.1:PORT".
inline constexpr std::string_view default_service_origin = "https://pan.nimbara.com";

// The fixed logid of every list request.
inline constexpr std::string_view list_logid = "UjdYc0xvZ0lkRGVtb1ZhbHVlRm9yVGhlTGlzdENhbGw=";

// Entries per list page; a page with fewer is the directory's last.
inline constexpr int list_page_size = 100;

// The delete answer's success marker, found anywhere in the answer, letter case ignored.
inline constexpr std::string_view delete_success_marker = "{\"errno\":0,\"info\":[],\"";

// Request methods, as http_request numbers them.
inline constexpr int method_get = 0;
inline constexpr int method_post = 1;

// One HTTP exchange in http_request's shape. The engine sends every request through this seam so that it can
// run against a fake service. `cookies` is null when the caller supplies none; otherwise it is sent and the
// cookies the response sets are merged into it. `status` receives the response's status ("200 OK") or the
// numbered error text of a failed request. The result is the response text, empty on failure.
class ServiceHttp {
public:
    virtual ~ServiceHttp() = default;
    virtual std::string request(const std::string& url, int method, const std::string& body,
                                std::string* cookies, std::string& status, int timeout_seconds) = 0;
    // Asks requests now running on other threads to end soon (a front end closes). Optional.
    virtual void cancel_all() {}
};

// Removes a trailing "/" so that paths can be appended; the origin is otherwise used as given.
std::string normalise_origin(std::string_view origin);

// Whether `origin` is a usable origin: "http://" or "https://", a host, an optional ":port", no path.
bool is_valid_origin(std::string_view origin);

// origin + "/disk/home".
std::string home_page_url(std::string_view origin);

// The list request of one page of directory `path` (page counts from 1).
std::string list_url(std::string_view origin, std::string_view path, int page = 1);

// The file-manager delete request; token and logid stand unescaped.
std::string delete_url(std::string_view origin, std::string_view token, std::string_view logid);

// The delete request's form body for `path`: the path as a JSON string inside a JSON array, percent-encoded
// as UTF-8 with spaces written "+". The path is JSON-escaped first, so a quote or a backslash in it cannot
// end the string or escape what follows.
std::string delete_body(std::string_view path);

// Whether a delete answer reports success: it holds the success marker once percent-decoded, case ignored.
bool delete_succeeded(std::string_view response);

// A short account of a delete answer that lacks the marker: "errno N" when the answer is JSON with an errno,
// the request's error text when the answer is empty, else the start of the answer.
std::string delete_failure_text(std::string_view response, std::string_view status);

// The body of a JSON string literal for `text` (no quotes): quote, backslash and control characters escaped.
std::string json_escape(std::string_view text);

} // namespace vestrel
