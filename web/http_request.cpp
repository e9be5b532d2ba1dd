// The HTTP request routine over a transport: the steps of one exchange in order, the default headers, and
// what the program takes out of the response (status, cookies, redirect target, text in UTF-8).
#include "web/http_request.h"

#include "engine/pump_wait.h"
#include "script/regex_object.h"
#include "web/code_page.h"
#include "web/cookies.h"
#include "web/http_transport.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace vestrel {

namespace {

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ascii_lower(x) == ascii_lower(y);
           });
}

// Position of `needle` in `haystack` ignoring ASCII case, or npos.
std::size_t find_ignoring_case(std::string_view haystack, std::string_view needle, std::size_t from = 0) {
    if (needle.empty())
        return from <= haystack.size() ? from : std::string_view::npos;
    const char first = ascii_lower(needle.front());
    for (std::size_t i = from; i + needle.size() <= haystack.size(); ++i) {
        if (ascii_lower(haystack[i]) != first)
            continue;
        if (equal_ignoring_case(haystack.substr(i, needle.size()), needle))
            return i;
    }
    return std::string_view::npos;
}

std::string_view trim_spaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

// The cookie item of one Set-Cookie line (its name already in canonical case).
std::string_view set_cookie_item(std::string_view line, std::string& scratch) {
    constexpr std::string_view marker = "Set-Cookie:";
    if (line.find(';') != std::string_view::npos) {
        const std::size_t left = line.find(marker);
        if (left == std::string_view::npos)
            return {};
        const std::size_t start = left + marker.size();
        const std::size_t right = line.find(';', start);
        if (right == std::string_view::npos)
            return {};
        return trim_spaces(line.substr(start, right - start));
    }
    scratch.clear();
    std::size_t at = 0;
    for (;;) {
        const std::size_t hit = find_ignoring_case(line, marker, at);
        scratch.append(line.substr(at, hit == std::string_view::npos ? std::string_view::npos : hit - at));
        if (hit == std::string_view::npos)
            break;
        at = hit + marker.size();
    }
    return trim_spaces(scratch);
}

// Handling the thread's messages costs a system call on Windows; a block of a million lines must not make a
// million of them, so they are handled every so many lines and once at the end.
constexpr std::size_t lines_between_message_handling = 256;

struct Outputs {
    OutParam<std::string> cookies, new_cookies, response_headers, location, status, response_bytes;
};

std::string fail(HttpTransport& transport, const Outputs& out, std::string_view error, bool handle_messages) {
    if (auto* status = out.status.get())
        *status = error;
    transport.close();
    if (handle_messages)
        process_messages();
    return {};
}

} // namespace

std::string http_header_block(std::string_view extra_headers, std::string_view cookies) {
    std::string block(extra_headers);
    if (!block.empty())
        block += "\r\n";
    struct Default {
        std::string_view probe;
        bool ignore_case;
        std::string_view line;
    };
    static constexpr std::array<Default, 6> defaults{{
        {"User-Agent: ", true,
         "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"},
        {"Accept: ", true, "Accept: text/html, application/xhtml+xml, */*\r\n"},
        {"Accept-Encoding: ", true, "Accept-Encoding: gbk, GB2312\r\n"},
        {"Accept-Language: ", true, "Accept-Language: zh-cn\r\n"},
        {"Content-Type:", false, "Content-Type: application/x-www-form-urlencoded\r\n"},
        {"Cache-Control: ", true, "Cache-Control: no-cache\r\n"},
    }};
    for (const auto& d : defaults) {
        const bool present = d.ignore_case ? find_ignoring_case(block, d.probe) != std::string::npos
                                           : block.find(d.probe) != std::string::npos;
        if (!present)
            block += d.line;
    }
    if (!cookies.empty() && find_ignoring_case(block, "Cookie: ") == std::string::npos) {
        block += "Cookie: ";
        block += cookies;
        block += "\r\n";
    }
    return block;
}

std::string http_status_text(std::string_view header_block) {
    if (header_block.size() <= 9)
        return {};
    const std::string_view rest = header_block.substr(9);
    return std::string(rest.substr(0, rest.find("\r\n")));
}

ResponseHeaderFacts parse_response_headers(std::string_view header_block) {
    ResponseHeaderFacts facts;
    std::string scratch;
    std::size_t lines = 0;
    std::size_t at = 0;
    while (at < header_block.size()) {
        std::size_t end = header_block.find("\r\n", at);
        if (end == std::string_view::npos)
            end = header_block.size();
        const std::string_view line = header_block.substr(at, end - at);
        at = end + 2;

        // The name of the header in any case counts, as if every "set-cookie" were written "Set-Cookie".
        if (find_ignoring_case(line, "Set-Cookie") != std::string_view::npos) {
            std::string canonical(line);
            for (std::size_t hit = 0;
                 (hit = find_ignoring_case(canonical, "Set-Cookie", hit)) != std::string::npos; hit += 10)
                canonical.replace(hit, 10, "Set-Cookie");
            if (canonical.find("Set-Cookie") != std::string::npos) {
                const std::string_view item = set_cookie_item(canonical, scratch);
                // A line that names Set-Cookie without setting anything adds no empty item.
                if (!item.empty()) {
                    facts.new_cookies.append(item);
                    facts.new_cookies += "; ";
                }
            }
        }
        if (line.size() >= 10 && equal_ignoring_case(line.substr(0, 10), "Location: ")) {
            facts.location = std::string(line.substr(10));
            facts.has_location = true;
        }
        if (++lines % lines_between_message_handling == 0)
            process_messages();
    }
    process_messages();
    if (facts.new_cookies.size() >= 2)
        facts.new_cookies.resize(facts.new_cookies.size() - 2);
    return facts;
}

std::string declared_charset(std::string_view page) {
    RegexObject regex;
    if (!regex.execute("<meta.+?charset=[^\\w]?([-\\w]+)", page.substr(0, 1024)))
        return {};
    return regex.submatch_text(1, 1);
}

std::string page_text_as_utf8(std::string page) {
    const std::string charset = declared_charset(page);
    if (charset.empty())
        return page;
    const unsigned code_page = charset_code_page(charset);
    if (code_page == 0 || code_page == code_page_utf8 || !code_page_supported(code_page))
        return page;
    return utf16_to_code_page(code_page_to_utf16(page, code_page), code_page_utf8);
}

std::string http_request(std::string_view url, std::optional<std::int32_t> method,
                         std::optional<std::string_view> body, OutParam<std::string> cookies,
                         OutParam<std::string> new_cookies, std::optional<std::string_view> extra_headers,
                         OutParam<std::string> response_headers, std::optional<bool> no_redirect,
                         std::optional<std::string_view> auth_user,
                         std::optional<std::string_view> auth_password, std::optional<std::string_view> proxy,
                         std::optional<std::string_view> proxy_user,
                         std::optional<std::string_view> proxy_password, std::optional<std::int32_t> timeout,
                         OutParam<std::string> location, OutParam<std::string> status,
                         OutParam<std::string> response_bytes) {
    auto transport = make_platform_transport();
    return http_request(*transport, url, method, body, cookies, new_cookies, extra_headers, response_headers,
                        no_redirect, auth_user, auth_password, proxy, proxy_user, proxy_password, timeout,
                        location, status, response_bytes);
}

std::string http_request(HttpTransport& transport, std::string_view url, std::optional<std::int32_t> method,
                         std::optional<std::string_view> body, OutParam<std::string> cookies,
                         OutParam<std::string> new_cookies, std::optional<std::string_view> extra_headers,
                         OutParam<std::string> response_headers, std::optional<bool> no_redirect,
                         std::optional<std::string_view> auth_user,
                         std::optional<std::string_view> auth_password, std::optional<std::string_view> proxy,
                         std::optional<std::string_view> proxy_user,
                         std::optional<std::string_view> proxy_password, std::optional<std::int32_t> timeout,
                         OutParam<std::string> location, OutParam<std::string> status,
                         OutParam<std::string> response_bytes) {
    const Outputs out{cookies, new_cookies, response_headers, location, status, response_bytes};

    if (!transport.check_platform())
        return fail(transport, out, http_error_no_platform, false);

    CrackedUrl parts;
    if (url.empty() || !transport.crack_url(url, parts))
        return fail(transport, out, http_error_bad_url, true);
    std::string object_name = parts.path.empty() ? std::string("/") : parts.path + parts.extra;

    const std::string_view proxy_address = proxy.value_or("");
    std::string proxy_name;
    if (!proxy_address.empty())
        proxy_name = parts.secure ? std::string(proxy_address) : "http=" + std::string(proxy_address);
    if (!transport.open_session(proxy_address.empty() ? ProxyAccess::none : ProxyAccess::named, proxy_name))
        return fail(transport, out, http_error_session, true);

    if (!transport.connect(parts.host, parts.port))
        return fail(transport, out, http_error_connection, true);

    static constexpr std::array<std::string_view, 4> method_names{"GET", "POST", "HEAD", "PUT"};
    const std::int32_t method_number = method.value_or(0);
    const std::string_view method_name = (method_number >= 0 && method_number < 4)
                                             ? method_names[static_cast<std::size_t>(method_number)]
                                             : "GET";
    if (!transport.open_request(method_name, object_name, parts.secure))
        return fail(transport, out, http_error_request, true);

    const std::int32_t seconds = timeout.value_or(0);
    // Seconds beyond what fits in milliseconds are as good as forever; clamp rather than overflow.
    const int milliseconds = seconds > 0 ? (seconds > 2147483 ? 2147483647 : seconds * 1000) : 30000;
    if (!transport.set_timeouts(milliseconds))
        return fail(transport, out, http_error_timeouts, true);

    const std::string_view user = auth_user.value_or(""), password = auth_password.value_or("");
    if (!user.empty() && !password.empty() && !transport.set_credentials(AuthTarget::server, user, password))
        return fail(transport, out, http_error_credentials, false);
    const std::string_view puser = proxy_user.value_or(""), ppassword = proxy_password.value_or("");
    if (!puser.empty() && !ppassword.empty() &&
        !transport.set_credentials(AuthTarget::proxy, puser, ppassword))
        return fail(transport, out, http_error_credentials, false);

    if (!transport.set_cookie_handling(cookies.supplied()))
        return fail(transport, out, http_error_cookie_option, false);
    if (no_redirect.value_or(false) && !transport.disable_redirects())
        return fail(transport, out, http_error_redirects, false);

    const std::string header_block = http_header_block(
        extra_headers.value_or(""), cookies.supplied() ? std::string_view(*cookies.get()) : "");
    if (!transport.add_headers(header_block))
        return fail(transport, out, http_error_headers, true);

    if (!transport.send(body.value_or("")))
        return fail(transport, out, http_error_send, true);
    if (!transport.receive_response())
        return fail(transport, out, http_error_no_response, true);

    std::string received;
    for (;;) {
        const std::size_t available = transport.query_data_available();
        if (available < 1)
            break;
        if (!transport.read_data(received, available)) {
            if (auto* s = status.get())
                *s = http_error_read;
            break;
        }
    }

    std::string block;
    if (!transport.query_raw_headers(block)) {
        transport.close();
        process_messages();
        return {};
    }
    transport.close();

    if (auto* s = status.get())
        *s = http_status_text(block);
    ResponseHeaderFacts facts = parse_response_headers(block);
    if (auto* h = response_headers.get())
        *h = std::move(block);
    if (auto* c = cookies.get())
        merge_cookies(*c, facts.new_cookies);
    if (auto* l = location.get())
        *l = std::move(facts.location);
    if (auto* n = new_cookies.get())
        *n = std::move(facts.new_cookies);

    // The text is the body up to its first zero byte. The body is held once: it becomes the text itself
    // unless the caller wants the bytes too.
    const std::size_t zero = received.find('\0');
    std::string text;
    if (auto* bytes = response_bytes.get()) {
        text.assign(received, 0, zero);
        *bytes = std::move(received);
    } else {
        text = std::move(received);
        if (zero != std::string::npos)
            text.resize(zero);
    }
    text = page_text_as_utf8(std::move(text));

    process_messages();
    return text;
}

} // namespace vestrel
