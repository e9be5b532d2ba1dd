// Windows only: the WinHTTP back end's steps, driven directly against the loopback fixture.
#include "web/http_transport.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

#include <string>

namespace vestrel {
namespace {

TEST(WinHttpTransport, ReachesANamedProxyWithItsCredentials) {
    const std::string base = vestrel::testing::test_server_url("http_fixture");
    ASSERT_FALSE(base.empty());
    auto t = make_platform_transport();
    ASSERT_TRUE(t->check_platform());
    CrackedUrl parts;
    ASSERT_TRUE(t->crack_url("http://proxied.test/p?q=1", parts));
    EXPECT_EQ(parts.host, "proxied.test");
    EXPECT_EQ(parts.port, 80);
    EXPECT_EQ(parts.path, "/p");
    EXPECT_EQ(parts.extra, "?q=1");
    // The bare "host:port" form, as the routine passes it for https URLs.
    ASSERT_TRUE(t->open_session(ProxyAccess::named, base.substr(std::string("http://").size())));
    ASSERT_TRUE(t->connect(parts.host, parts.port));
    ASSERT_TRUE(t->open_request("GET", "/p?q=1", false));
    ASSERT_TRUE(t->set_timeouts(10000));
    ASSERT_TRUE(t->set_credentials(AuthTarget::proxy, "puser", "ppass"));
    ASSERT_TRUE(t->set_cookie_handling(false));
    ASSERT_TRUE(t->add_headers("X-Test: 1\r\n"));
    ASSERT_TRUE(t->send(""));
    ASSERT_TRUE(t->receive_response());
    std::string body;
    while (const std::size_t n = t->query_data_available())
        ASSERT_TRUE(t->read_data(body, n));
    std::string headers;
    ASSERT_TRUE(t->query_raw_headers(headers));
    t->close();
    EXPECT_TRUE(headers.starts_with("HTTP/1.1 200 OK\r\n")) << headers;
    // A port of 80 may be spelled out in the target.
    EXPECT_NE(body.find("proxied target=http://proxied.test"), std::string::npos) << body;
    EXPECT_NE(body.find("/p?q=1\n"), std::string::npos) << body;
    EXPECT_NE(body.find("proxy-authorization=Basic cHVzZXI6cHBhc3M="), std::string::npos) << body;
}

TEST(WinHttpTransport, CracksUrlsAsTheRoutineNeeds) {
    auto t = make_platform_transport();
    ASSERT_TRUE(t->check_platform());
    CrackedUrl parts;
    ASSERT_TRUE(t->crack_url("https://example.test:8443/a/b?x=1&y=2", parts));
    EXPECT_TRUE(parts.secure);
    EXPECT_EQ(parts.port, 8443);
    EXPECT_EQ(parts.path, "/a/b");
    EXPECT_EQ(parts.extra, "?x=1&y=2");
    ASSERT_TRUE(t->crack_url("http://example.test", parts));
    EXPECT_FALSE(parts.secure);
    EXPECT_EQ(parts.port, 80);
    EXPECT_EQ(parts.path, "");
    EXPECT_FALSE(t->crack_url("ftp://example.test/", parts));
    t->close();
}

} // namespace
} // namespace vestrel
