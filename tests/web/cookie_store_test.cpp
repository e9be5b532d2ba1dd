// The login's cookie handover over both stores: the in-memory one (Linux's) and the platform's own
// (WinINet under Wine; on Linux the same in-memory implementation).
#include "web/cookie_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace vestrel {
namespace {

struct StoreKind {
    const char* name;
    std::function<CookieStore&()> get;
};

void PrintTo(const StoreKind& kind, std::ostream* os) {
    *os << kind.name;
}

class CookieStoreTest : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        // The system store outlives the test process under Wine: a host of our own per run.
        auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
        host_ = "pan" + std::to_string(tick % 1000000007) + ".nimbara.test";
        store_ = &GetParam().get();
    }
    void TearDown() override { clear_host_cookies(host_, *store_); }

    std::string host_;
    CookieStore* store_ = nullptr;
};

TEST_P(CookieStoreTest, ReadsNothingForAnUnknownHost) {
    EXPECT_EQ(read_host_cookies(host_, *store_), "");
}

TEST_P(CookieStoreTest, ReadsPlainAndHttpOnlyCookiesTogether) {
    const std::string url = "http://" + host_;
    ASSERT_TRUE(store_->set_cookie(url, "PANWEB", "1; path=/"));
    ASSERT_TRUE(store_->set_cookie(url, "SESSION", "s3cr3t; path=/", true));
    std::string all = read_host_cookies(host_, *store_);
    EXPECT_NE(all.find("PANWEB=1"), std::string::npos) << all;
    EXPECT_NE(all.find("SESSION=s3cr3t"), std::string::npos) << all;
    EXPECT_EQ(all.find(' ', all.find("; ") + 2), std::string::npos) << all;
}

TEST_P(CookieStoreTest, ClearRemovesHostAndDomainCookiesButNotOtherHosts) {
    const std::string url = "http://" + host_;
    const std::string other = "http://other-" + host_.substr(0, host_.find('.')) + ".example.test";
    ASSERT_TRUE(store_->set_cookie(url, "PANWEB", "1; path=/"));
    ASSERT_TRUE(store_->set_cookie(url, "LOGIN", "x; path=/; domain=nimbara.test", true));
    ASSERT_TRUE(store_->set_cookie(other, "KEEP", "1; path=/"));
    clear_host_cookies(host_, *store_);
    EXPECT_EQ(read_host_cookies(host_, *store_), "");
    EXPECT_EQ(store_->get_cookies(other, false).value_or(""), "KEEP=1");
    store_->set_cookie(other, "KEEP", cookie_deletion_data());
    EXPECT_EQ(store_->get_cookies(other, false).value_or(""), "");
}

TEST_P(CookieStoreTest, ReadsACookieSetLargerThanTheUsualBuffer) {
    const std::string url = "http://" + host_;
    const std::string big(2500, 'v');
    ASSERT_TRUE(store_->set_cookie(url, "BIG1", big + "; path=/"));
    ASSERT_TRUE(store_->set_cookie(url, "BIG2", big + "; path=/"));
    std::string all = read_host_cookies(host_, *store_);
    EXPECT_NE(all.find("BIG1=" + big), std::string::npos);
    EXPECT_NE(all.find("BIG2=" + big), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Stores, CookieStoreTest,
                         ::testing::Values(StoreKind{"memory",
                                                     []() -> CookieStore& {
                                                         static auto s = make_memory_cookie_store();
                                                         return *s;
                                                     }},
                                           StoreKind{"system",
                                                     []() -> CookieStore& { return system_cookie_store(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MemoryCookieStore, HttpOnlyCookiesOnlyForTheHttpOnlyRead) {
    auto store = make_memory_cookie_store();
    store->set_cookie("http://pan.nimbara.test", "PANWEB", "1");
    store->set_cookie("http://pan.nimbara.test", "SESSION", "s; HttpOnly");
    store->set_cookie("http://pan.nimbara.test", "LOGIN", "l; domain=.nimbara.test", true);
    EXPECT_EQ(store->get_cookies("http://pan.nimbara.test", false).value_or(""), "PANWEB=1");
    EXPECT_EQ(store->get_cookies("http://pan.nimbara.test", true).value_or(""),
              "PANWEB=1; SESSION=s; LOGIN=l");
    EXPECT_EQ(store->get_cookies("http://www.nimbara.test", true).value_or(""), "LOGIN=l");
    // A domain attribute that does not cover the host is refused.
    EXPECT_FALSE(store->set_cookie("http://pan.nimbara.test", "X", "1; domain=example.test"));
    // Deletion through an expiry in the past, and through Max-Age.
    store->set_cookie("http://pan.nimbara.test", "PANWEB", cookie_deletion_data());
    store->set_cookie("http://pan.nimbara.test", "SESSION", "x; Max-Age=0");
    EXPECT_EQ(read_host_cookies("pan.nimbara.test", *store), "LOGIN=l");
}

TEST(CookieDeletionData, Texts) {
    EXPECT_EQ(cookie_deletion_data(), "deleted; expires=Fri, 1-Jan-1999 1:1:1 GMT; path=/;");
    EXPECT_EQ(cookie_deletion_data_with_domain("pan.nimbara.com"),
              "deleted; expires=Fri, 1-Jan-1999 1:1:1 GMT; path=/; domain=nimbara.com");
}

} // namespace
} // namespace vestrel
