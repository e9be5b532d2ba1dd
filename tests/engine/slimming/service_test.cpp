// The service requests to the byte, the delete body's encoding and the success marker.
#include "engine/service.h"
#include "mock/fake_service.h"

#include <gtest/gtest.h>

namespace vestrel {
namespace {

TEST(ServiceRequests, ListUrlHasTheFixedFormAndPage) {
    EXPECT_EQ(
        list_url("http://h.test", "/"),
        "http://h.test/api/list?dir=%2F&bdstoken=&logid=UjdYc0xvZ0lkRGVtb1ZhbHVlRm9yVGhlTGlzdENhbGw=&num=100"
        "&order=time&desc=1&clienttype=0&showempty=0&web=1&page=1&channel=chunlei&web=1&app_id=250528");
    std::string second = list_url("http://h.test/", "/我的 资料/a+b", 2);
    EXPECT_NE(second.find("?dir=%2F%E6%88%91%E7%9A%84%20%E8%B5%84%E6%96%99%2Fa%2Bb&bdstoken=&"),
              std::string::npos)
        << second;
    EXPECT_NE(second.find("&page=2&channel=chunlei&"), std::string::npos);
    EXPECT_EQ(second.rfind("http://h.test/api/list?", 0), 0u);
}

TEST(ServiceRequests, DeleteUrlCarriesTokenAndLogidUnescaped) {
    EXPECT_EQ(
        delete_url("https://pan.nimbara.com", "ab12", "MTYx+/Mw=="),
        "https://pan.nimbara.com/api/filemanager?opera=delete&async=2&channel=chunlei&web=1&app_id=250528"
        "&bdstoken=ab12&logid=MTYx+/Mw==&clienttype=0");
    EXPECT_EQ(home_page_url("http://127.0.0.1:8080/"), "http://127.0.0.1:8080/disk/home");
}

TEST(ServiceRequests, DeleteBodyEncodesThePathAsAJsonString) {
    struct Case {
        std::string path, body;
    };
    const Case cases[] = {
        {"/a b+c.txt", "filelist=%5B%22%2Fa+b%2Bc.txt%22%5D"},
        {"/中.txt", "filelist=%5B%22%2F%E4%B8%AD.txt%22%5D"},
        // A quote would end the JSON string; a backslash would escape what follows.
        {"/say \"hi\".txt", "filelist=%5B%22%2Fsay+%5C%22hi%5C%22.txt%22%5D"},
        {"/dir\\n.txt", "filelist=%5B%22%2Fdir%5C%5Cn.txt%22%5D"},
        {"/tab\there", "filelist=%5B%22%2Ftab%5Cthere%22%5D"},
        {"/bell\x07", "filelist=%5B%22%2Fbell%5Cu0007%22%5D"},
        {"/100% sure&x=1", "filelist=%5B%22%2F100%25+sure%26x%3D1%22%5D"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(delete_body(c.path), c.body) << c.path;
        // What the service reads back is the path itself.
        EXPECT_EQ(testing::FakeService::body_path(delete_body(c.path)), c.path);
    }
    EXPECT_EQ(testing::FakeService::body_path(delete_body("/😀 𠀀.txt")), "/😀 𠀀.txt");
}

TEST(ServiceRequests, SuccessMarkerIsFoundAnywhereIgnoringCase) {
    struct Case {
        std::string answer;
        bool ok;
    };
    const Case cases[] = {
        {R"({"errno":0,"info":[],"request_id":5})", true},
        {R"(xx{"ERRNO":0,"INFO":[],"TASKID":1})", true},
        {"%7B%22errno%22%3A0%2C%22info%22%3A%5B%5D%2C%22r%22%3A1%7D", true},
        {R"({"errno":12,"info":[],"request_id":5})", false},
        {R"({"errno":0,"info":[]})", false}, // the marker ends with the quote after the last comma
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(delete_succeeded(c.answer), c.ok) << c.answer;
}

TEST(ServiceRequests, FailureTextNamesErrnoOrRequestError) {
    EXPECT_EQ(delete_failure_text(R"({"errno":111,"info":[]})", "200 OK"), "errno 111");
    EXPECT_EQ(delete_failure_text("", "712 服务器未响应!"), "712 服务器未响应!");
    EXPECT_EQ(delete_failure_text("<html>busy\r\n</html>", "503"), "answer: <html>busy  </html>");
}

TEST(ServiceRequests, OriginsAreCheckedAndNormalised) {
    EXPECT_TRUE(is_valid_origin("https://pan.nimbara.com"));
    EXPECT_TRUE(is_valid_origin("http://127.0.0.1:43210/"));
    EXPECT_FALSE(is_valid_origin("ftp://x"));
    EXPECT_FALSE(is_valid_origin("http://"));
    EXPECT_FALSE(is_valid_origin("http://host/path"));
    EXPECT_FALSE(is_valid_origin("http://host:99999x"));
    EXPECT_FALSE(is_valid_origin("http://user@host"));
    EXPECT_EQ(normalise_origin("http://a.test//"), "http://a.test");
}

} // namespace
} // namespace vestrel
