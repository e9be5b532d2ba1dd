#include "engine/service_http.h"

#include "web/http_request.h"

namespace vestrel {

std::string HttpRequestService::request(const std::string& url, int method, const std::string& body,
                                        std::string* cookies, std::string& status, int timeout_seconds) {
    OutParam<std::string> cookie_param;
    if (cookies != nullptr)
        cookie_param = OutParam<std::string>(*cookies);
    std::optional<std::string_view> body_param;
    if (!body.empty())
        body_param = body;
    std::optional<std::int32_t> timeout;
    if (timeout_seconds > 0)
        timeout = timeout_seconds;
    return http_request(url, method, body_param, cookie_param, {}, {}, {}, {}, {}, {}, {}, {}, {}, timeout,
                        {}, status);
}

} // namespace vestrel
