// Fuzzes what the routine reads out of a response: the header block (status, cookies, Location) and the
// page's charset declaration and conversion, over the scripted transport.
#include "web/http_fake_transport.h"
#include "web/http_request.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The first half is the header block, the rest the body.
    const std::size_t split = input.find("\r\n\r\n");
    vestrel::FakeHttpTransport fake;
    fake.header_block = split == std::string::npos ? input : input.substr(0, split + 4);
    fake.body = split == std::string::npos ? std::string() : input.substr(split + 4);
    fake.chunk = 7;
    std::string cookies = "k=1; a=0", new_cookies, headers, location, status, bytes;
    vestrel::http_request(fake, "http://h/p?q=1", 0, {}, cookies, new_cookies, {}, headers, {}, {}, {}, {},
                          {}, {}, {}, location, status, bytes);
    return 0;
}
