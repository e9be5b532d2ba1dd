// The HTTP request routine over the scripted transport: every step's failure, what each step is given, the
// default headers, and what is taken out of a response. No network.
#include "web/http_fake_transport.h"
#include "web/http_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vestrel {
namespace {

using Step = FakeHttpTransport::Step;

const std::string default_headers =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
    "Accept: text/html, application/xhtml+xml, */*\r\n"
    "Accept-Encoding: gbk, GB2312\r\n"
    "Accept-Language: zh-cn\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "Cache-Control: no-cache\r\n";

// Every output preset, so that a test sees what the routine wrote and what it left alone.
struct Outputs {
    std::string cookies = "k=1", new_cookies = "old-new", headers = "old-headers", location = "old-location",
                status = "old-status", bytes = "old-bytes";
};

std::string run_full(FakeHttpTransport& fake, Outputs& o, std::string_view url = "http://example.test/p",
                     std::optional<bool> no_redirect = std::nullopt) {
    return http_request(fake, url, 0, std::nullopt, o.cookies, o.new_cookies, std::nullopt, o.headers,
                        no_redirect, "user", "secret", "127.0.0.1:3128", "puser", "psecret", 5, o.location,
                        o.status, o.bytes);
}

TEST(HttpRequestFailures, EachStepFailsWithItsOwnTextAndLeavesTheOtherOutputs) {
    struct Case {
        Step step;
        const char* text;
    };
    const Case cases[] = {
        {Step::check_platform, "700 当前系统不支持WinHttp服务!"},
        {Step::crack_url, "701 解析URL地址失败!"},
        {Step::open_session, "702 创建WinHttp会话失败!"},
        {Step::connect, "703 创建WinHttp连接失败!"},
        {Step::open_request, "704 创建WinHttp请求失败!"},
        {Step::set_timeouts, "705 设置超时时间失败!"},
        {Step::set_server_credentials, "707 设置代理凭证失败!"},
        {Step::set_proxy_credentials, "707 设置代理凭证失败!"},
        {Step::set_cookie_handling, "708 禁止自动设置Cookies失败!"},
        {Step::disable_redirects, "709 重定向设置失败!"},
        {Step::add_headers, "710 设置协议头失败!"},
        {Step::send, "711 发送请求失败!"},
        {Step::receive_response, "712 服务器未响应!"},
    };
    for (const auto& c : cases) {
        FakeHttpTransport fake;
        fake.fail_at = c.step;
        fake.header_block = "HTTP/1.1 200 OK\r\nSet-Cookie: n=1\r\nLocation: /x\r\n\r\n";
        fake.body = "body";
        Outputs o;
        EXPECT_EQ(run_full(fake, o, "http://example.test/p", true), "") << c.text;
        EXPECT_EQ(o.status, c.text);
        EXPECT_EQ(o.cookies, "k=1") << c.text;
        EXPECT_EQ(o.new_cookies, "old-new") << c.text;
        EXPECT_EQ(o.headers, "old-headers") << c.text;
        EXPECT_EQ(o.location, "old-location") << c.text;
        EXPECT_EQ(o.bytes, "old-bytes") << c.text;
        EXPECT_GE(fake.closes, 1) << c.text << ": handles not closed";
    }
}

TEST(HttpRequestFailures, AnEmptyUrlFailsWithoutAsking) {
    FakeHttpTransport fake;
    std::string status;
    EXPECT_EQ(http_request(fake, "", {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, status), "");
    EXPECT_EQ(status, "701 解析URL地址失败!");
}

TEST(HttpRequestFailures, ABrokenBodyKeepsWhatWasReadAndTheStatusReplacesTheError) {
    FakeHttpTransport fake;
    fake.fail_at = Step::read_data;
    fake.body = "0123456789";
    fake.break_after = 4;
    fake.chunk = 3;
    Outputs o;
    EXPECT_EQ(run_full(fake, o), "0123");
    EXPECT_EQ(o.status, "200 OK");
    EXPECT_EQ(o.bytes, "0123");

    // When the header query then fails too, the result is empty and the read error stays.
    FakeHttpTransport both;
    both.fail_at = Step::read_data;
    both.headers_fail = true;
    both.body = "0123456789";
    both.break_after = 4;
    Outputs p;
    EXPECT_EQ(run_full(both, p), "");
    EXPECT_EQ(p.status, "713 读取数据失败!");
    EXPECT_EQ(p.bytes, "old-bytes");
}

TEST(HttpRequestFailures, AFailedHeaderQueryGivesAnEmptyResultEvenWithABody) {
    FakeHttpTransport fake;
    fake.fail_at = Step::query_raw_headers;
    fake.body = "a body";
    Outputs o;
    EXPECT_EQ(run_full(fake, o), "");
    EXPECT_EQ(o.status, "old-status");
    EXPECT_EQ(o.cookies, "k=1");
}

TEST(HttpRequestSteps, SecureFlagAndProxyForm) {
    struct Case {
        const char* url;
        const char* proxy;
        bool secure;
        ProxyAccess access;
        const char* proxy_name;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"https://example.test/a", "10.0.0.1:8080", true, ProxyAccess::named, "10.0.0.1:8080", 443},
        {"http://example.test/a", "10.0.0.1:8080", false, ProxyAccess::named, "http=10.0.0.1:8080", 80},
        {"https://example.test:8443/a", "", true, ProxyAccess::none, "", 8443},
        {"http://example.test/a", nullptr, false, ProxyAccess::none, "", 80},
    };
    for (const auto& c : cases) {
        FakeHttpTransport fake;
        std::optional<std::string_view> proxy;
        if (c.proxy)
            proxy = c.proxy;
        http_request(fake, c.url, {}, {}, {}, {}, {}, {}, {}, {}, {}, proxy);
        EXPECT_EQ(fake.secure, c.secure) << c.url;
        EXPECT_EQ(fake.access, c.access) << c.url;
        EXPECT_EQ(fake.proxy_name, c.proxy_name) << c.url;
        EXPECT_EQ(fake.host, "example.test");
        EXPECT_EQ(fake.port, c.port) << c.url;
    }
}

TEST(HttpRequestSteps, MethodNamesAndObjectNames) {
    struct MethodCase {
        std::optional<std::int32_t> method;
        const char* name;
    };
    const MethodCase methods[] = {
        {std::nullopt, "GET"}, {0, "GET"}, {1, "POST"}, {2, "HEAD"}, {3, "PUT"}, {4, "GET"}, {-1, "GET"}};
    for (const auto& m : methods) {
        FakeHttpTransport fake;
        http_request(fake, "http://h/", m.method, "payload");
        EXPECT_EQ(fake.method, m.name);
        EXPECT_EQ(fake.body_sent, "payload");
    }
    struct ObjectCase {
        const char* url;
        const char* object;
    };
    const ObjectCase objects[] = {
        {"http://h", "/"},
        {"http://h:8080", "/"},
        {"http://h/a/b?x=1&y=2", "/a/b?x=1&y=2"},
        {"http://h/api/list?dir=%2F&page=1", "/api/list?dir=%2F&page=1"},
        {"http://h?x=1", "/"}, // no path: the query is not used
    };
    for (const auto& o : objects) {
        FakeHttpTransport fake;
        http_request(fake, o.url);
        EXPECT_EQ(fake.object_name, o.object) << o.url;
    }
}

TEST(HttpRequestSteps, TimeoutsCredentialsAndOptions) {
    struct TimeoutCase {
        std::optional<std::int32_t> seconds;
        int ms;
    };
    const TimeoutCase timeouts[] = {
        {std::nullopt, 30000}, {0, 30000}, {-3, 30000}, {5, 5000}, {2147483647, 2147483647}};
    for (const auto& t : timeouts) {
        FakeHttpTransport fake;
        http_request(fake, "http://h/", {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, t.seconds);
        EXPECT_EQ(fake.timeout_ms, t.ms);
    }

    // Credentials only when both halves are given.
    FakeHttpTransport half;
    http_request(half, "http://h/", {}, {}, {}, {}, {}, {}, {}, "user", "", {}, "puser", {});
    EXPECT_EQ(half.calls.end(), std::find(half.calls.begin(), half.calls.end(), "set_server_credentials"));
    EXPECT_EQ(half.calls.end(), std::find(half.calls.begin(), half.calls.end(), "set_proxy_credentials"));
    FakeHttpTransport both;
    http_request(both, "http://h/", {}, {}, {}, {}, {}, {}, {}, "user", "pw", {}, "puser", "ppw");
    EXPECT_EQ(both.server_user, "user");
    EXPECT_EQ(both.server_password, "pw");
    EXPECT_EQ(both.proxy_user, "puser");
    EXPECT_EQ(both.proxy_password, "ppw");

    // Cookie handling follows whether cookies were supplied, not their value; redirects stay on by default.
    std::string empty_cookies;
    FakeHttpTransport with;
    http_request(with, "http://h/", {}, {}, empty_cookies);
    EXPECT_EQ(with.cookie_handling, true);
    EXPECT_FALSE(with.redirects_disabled);
    EXPECT_EQ(with.headers_sent.find("Cookie"), std::string::npos)
        << "an empty cookie text adds no Cookie header";
    FakeHttpTransport without;
    http_request(without, "http://h/", {}, {}, {}, {}, {}, {}, true);
    EXPECT_EQ(without.cookie_handling, false);
    EXPECT_TRUE(without.redirects_disabled);
}

TEST(HttpHeaderBlock, DefaultsAndTheirProbes) {
    struct Case {
        const char* extra;
        const char* cookies;
        std::string expected;
    };
    const Case cases[] = {
        {"", "", default_headers},
        {"", "a=1; b=2", default_headers + "Cookie: a=1; b=2\r\n"},
        {"X-A: 1", "a=1", "X-A: 1\r\n" + default_headers + "Cookie: a=1\r\n"},
        // "\r\n" is appended once, whatever the caller's text ends with.
        {"X-A: 1\r\n", "", "X-A: 1\r\n\r\n" + default_headers},
        // Probes that ignore case.
        {"user-agent: me", "",
         "user-agent: me\r\n" + default_headers.substr(default_headers.find("Accept: "))},
        {"COOKIE: z=9", "a=1", "COOKIE: z=9\r\n" + default_headers},
        // Content-Type is probed with exact case: a lower-case line does not suppress the default.
        {"content-type: text/plain", "", "content-type: text/plain\r\n" + default_headers},
        {"Content-Type: text/plain", "",
         "Content-Type: text/plain\r\n" +
             std::string(default_headers)
                 .replace(default_headers.find("Content-Type: application"),
                          std::string("Content-Type: application/x-www-form-urlencoded\r\n").size(), "")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(http_header_block(c.extra, c.cookies), c.expected) << c.extra << " / " << c.cookies;
}

TEST(HttpHeaderBlock, TheRoutineSendsItWithTheSuppliedCookies) {
    FakeHttpTransport fake;
    std::string cookies = "s=1";
    http_request(fake, "http://h/", 1, "x=1", cookies, {}, "X-Requested-With: XMLHttpRequest");
    EXPECT_EQ(fake.headers_sent,
              "X-Requested-With: XMLHttpRequest\r\n" + default_headers + "Cookie: s=1\r\n");
}

TEST(HttpResponseHeaders, CookiesAndLocation) {
    struct Case {
        std::string block;
        const char* new_cookies;
        const char* location;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nset-cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n", "a=1; b=2", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", ""},
        {"HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n", "", "/x"},
        {"HTTP/1.1 302 Found\r\nlocation: /first\r\nLOCATION: /second\r\n\r\n", "", "/second"},
        {"HTTP/1.1 200 OK\r\nSET-COOKIE:c=3;\r\nSet-Cookie:   d=4   \r\n\r\n", "c=3; d=4", ""},
        // A header line without a colon is no cookie and no location, and does no harm.
        {"HTTP/1.1 200 OK\r\nthis line has no colon\r\nSet-Cookie: e=5; HttpOnly\r\n\r\n", "e=5", ""},
        // A block cut short and one that is not HTTP at all.
        {"HTTP/1.1 200 OK\r\nSet-Cookie: f=6", "f=6", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        const auto facts = parse_response_headers(c.block);
        EXPECT_EQ(facts.new_cookies, c.new_cookies) << c.block;
        EXPECT_EQ(facts.location, c.location) << c.block;
    }
}

TEST(HttpResponseHeaders, StatusText) {
    EXPECT_EQ(http_status_text("HTTP/1.1 200 OK\r\nA: b\r\n\r\n"), "200 OK");
    EXPECT_EQ(http_status_text("HTTP/1.1 404 Not Found\r\n\r\n"), "404 Not Found");
    EXPECT_EQ(http_status_text("HTTP/1.1 204 No Content"), "204 No Content");
    EXPECT_EQ(http_status_text("HTTP/1.1"), "");
    EXPECT_EQ(http_status_text(""), "");
}

TEST(HttpRequestResponse, OutputsOfASuccessfulExchange) {
    FakeHttpTransport fake;
    fake.header_block = "HTTP/1.1 200 OK\r\nset-cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n";
    fake.body = std::string("abc\0def", 7);
    fake.chunk = 2;
    Outputs o;
    o.cookies = "a=0; k=1";
    EXPECT_EQ(run_full(fake, o), "abc"); // the text ends before the zero byte
    EXPECT_EQ(o.bytes, std::string("abc\0def", 7));
    EXPECT_EQ(o.status, "200 OK");
    EXPECT_EQ(o.headers, fake.header_block);
    EXPECT_EQ(o.new_cookies, "a=1; b=2");
    EXPECT_EQ(o.cookies, "a=1; b=2; k=1");
    EXPECT_EQ(o.location, ""); // no Location: no stale value from an earlier call

    // Without Set-Cookie lines the supplied cookies are merged with an empty text: normalised, nothing lost.
    FakeHttpTransport plain;
    std::string cookies = "a = 1 ;b=2", new_cookies = "stale";
    http_request(plain, "http://h/", {}, {}, cookies, new_cookies);
    EXPECT_EQ(cookies, "a=1; b=2");
    EXPECT_EQ(new_cookies, "");
}

TEST(HttpRequestResponse, CookiesAreMergedOnlyIntoASuppliedText) {
    FakeHttpTransport fake;
    fake.header_block = "HTTP/1.1 200 OK\r\nSet-Cookie: n=1\r\n\r\n";
    std::string new_cookies;
    http_request(fake, "http://h/", {}, {}, {}, new_cookies);
    EXPECT_EQ(new_cookies, "n=1");
}

TEST(HttpCharset, DeclaredCharsetWithinTheFirst1024Bytes) {
    struct Case {
        std::string page;
        const char* charset;
    };
    const Case cases[] = {
        {"<html><meta charset=\"gbk\"></html>", "gbk"},
        {"<META http-equiv=\"Content-Type\" content=\"text/html; charset=GB2312\">", "GB2312"},
        {"<meta charset=utf-8>", "utf-8"},
        {"<meta content=\"text/html;charset='big5'\">", "big5"},
        {"<html><body>no declaration</body></html>", ""},
        {"<meta\ncharset=gbk>", ""}, // "." does not cross a line break
        {std::string(1100, ' ') + "<meta charset=\"gbk\">", ""},
        {std::string(1010, ' ') + "<meta charset=\"gbk\">", ""}, // cut inside the declaration
        {std::string(1007, ' ') + "<meta charset=big5>", "big"}, // the window ends within the name
    };
    for (const auto& c : cases)
        EXPECT_EQ(declared_charset(c.page), c.charset) << c.page.substr(0, 80);
}

TEST(HttpCharset, PagesComeBackInUtf8) {
    const std::string utf8_text = "\xE4\xB8\xAD\xE6\x96\x87"; // 中文
    struct Case {
        std::string page;
        std::string expected;
    };
    const Case cases[] = {
        {"<meta charset=\"gbk\">\xD6\xD0\xCE\xC4", "<meta charset=\"gbk\">" + utf8_text},
        {"<meta charset=\"gb2312\">\xD6\xD0\xCE\xC4", "<meta charset=\"gb2312\">" + utf8_text},
        {"<meta charset=\"big5\">\xA4\xA4\xA4\xE5", "<meta charset=\"big5\">" + utf8_text},
        {"<meta charset=\"utf-8\">" + utf8_text, "<meta charset=\"utf-8\">" + utf8_text},
        {"<p>" + utf8_text, "<p>" + utf8_text},
        // An unknown charset leaves the bytes as they came.
        {"<meta charset=\"x-unknown\">\xD6\xD0", "<meta charset=\"x-unknown\">\xD6\xD0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(page_text_as_utf8(c.page), c.expected) << c.page;

    FakeHttpTransport fake;
    fake.body = cases[0].page;
    EXPECT_EQ(http_request(fake, "http://h/"), cases[0].expected);
}

TEST(HttpHostileResponses, HugeHeaderBlocksAndManyCookiesStayLinear) {
    // A 10 MB header block of long lines.
    FakeHttpTransport huge;
    huge.header_block = "HTTP/1.1 200 OK\r\n";
    const std::string filler(1000, 'h');
    while (huge.header_block.size() < 10u << 20)
        huge.header_block += "X-Filler: " + filler + "\r\n";
    huge.header_block += "Location: /after\r\n\r\n";
    Outputs o;
    EXPECT_EQ(run_full(huge, o), "");
    EXPECT_EQ(o.status, "200 OK");
    EXPECT_EQ(o.location, "/after");

    // A million Set-Cookie lines merged into a supplied cookie text.
    FakeHttpTransport many;
    many.header_block = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 1000000; ++i)
        many.header_block += "Set-Cookie: c" + std::to_string(i) + "=1; Path=/\r\n";
    many.header_block += "\r\n";
    std::string cookies = "keep=1", new_cookies;
    http_request(many, "http://h/", {}, {}, cookies, new_cookies);
    EXPECT_EQ(new_cookies.substr(0, 14), "c0=1; c1=1; c2");
    EXPECT_EQ(std::count(cookies.begin(), cookies.end(), ';'), 1000000);
    EXPECT_TRUE(cookies.ends_with("c999999=1; keep=1"));
}

TEST(HttpHostileResponses, BodiesOfZeroBytes) {
    FakeHttpTransport fake;
    fake.body = std::string(1 << 20, '\0');
    Outputs o;
    EXPECT_EQ(run_full(fake, o), "");
    EXPECT_EQ(o.bytes.size(), 1u << 20);
    EXPECT_EQ(o.status, "200 OK");
}

} // namespace
} // namespace vestrel
