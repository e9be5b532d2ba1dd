// A loopback HTTP server for the HTTP request tests and benchmarks (Linux; the Windows tests reach it from
// Wine). It prints "listening on http://127.0.0.1:PORT" first, then serves until it is killed.
//
//   /echo...              the request as text: method, target, header lines, body
//   /cookies/set          a lower-case set-cookie line for a=1 with a path, then Set-Cookie b=2
//   /redirect/cookie      sets r=1 and redirects to /redirect/check, which echoes the Cookie header
//   /redirect/location    302 to /x
//   /charset/NAME         a page declaring NAME, its text in that charset ("none": no declaration)
//   /zero                 a body with a zero byte inside; /zeros?n=N a body of N zero bytes
//   /auth                 basic authentication as user:pass
//   /stall?ms=N           answers after N ms (at most 10 s)
//   /stall-body?ms=N      sends headers and part of the body, then stalls N ms and breaks off
//   /cut                  announces 100000 bytes, sends 1000 and closes
//   /chunked              a chunked body of ten pieces
//   /bytes?n=N            a body of N bytes (a repeating pattern)
//   /huge-headers?mb=N    a header block of about N MB
//   /many-cookies?n=N     N Set-Cookie lines
//   http://...            a request in absolute form, as a proxy receives it: echoes target and
//   Proxy-Authorization
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

std::size_t number_param(const httplib::Request& req, const char* name, std::size_t fallback,
                         std::size_t most) {
    if (!req.has_param(name))
        return fallback;
    const std::size_t n = std::strtoull(req.get_param_value(name).c_str(), nullptr, 10);
    return std::min(n, most);
}

std::string echo(const httplib::Request& req) {
    std::string text = "method=" + req.method + "\ntarget=" + req.target + "\n";
    for (const auto& [name, value] : req.headers)
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
            text += name + ": " + value + "\n";
    text += "body=" + req.body;
    return text;
}

struct CharsetPage {
    const char* name;
    const char* meta;
    std::string text;
};

std::string charset_page(const std::string& name) {
    // "中文" (or the sample named) in each charset.
    static const CharsetPage pages[] = {
        {"utf-8", "<meta charset=\"utf-8\">", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"UTF-8", "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">",
         "\xE4\xB8\xAD\xE6\x96\x87"},
        {"gbk", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">", "\xD6\xD0\xCE\xC4"},
        {"gb2312", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />",
         "\xD6\xD0\xCE\xC4"},
        {"big5", "<meta charset='big5'>", "\xA4\xA4\xA4\xE5"},
        {"shift_jis", "<meta charset=shift_jis>", "\x93\xFA\x96\x7B"}, // 日本
        {"iso-8859-1", "<meta charset=\"iso-8859-1\">", "caf\xE9"},    // café
        {"windows-1252", "<meta charset=\"windows-1252\">", "\x80 5"}, // € 5
        {"x-unknown", "<meta charset=\"x-unknown\">", "\xD6\xD0\xCE\xC4"},
        {"none", "", "\xE4\xB8\xAD\xE6\x96\x87"},
    };
    for (const auto& page : pages)
        if (name == page.name)
            return std::string("<html><head><title>t</title>") + page.meta + "</head><body>" + page.text +
                   "</body></html>";
    return {};
}

} // namespace

int main() {
    httplib::Server server;
    // Fifty clients at once and a few stalled ones must all be served.
    server.new_task_queue = [] { return new httplib::ThreadPool(96); };
    server.set_payload_max_length(64 * 1024 * 1024);
    // A client under a sanitizer, or many at once, can be slow to read a large body; give it time.
    server.set_write_timeout(60);
    server.set_read_timeout(60);

    const auto echo_handler = [](const httplib::Request& req, httplib::Response& res) {
        res.set_header("X-Method", req.method);
        res.set_content(echo(req), "text/plain");
    };
    server.Get(R"(/echo.*)", echo_handler);
    server.Post(R"(/echo.*)", echo_handler);
    server.Put(R"(/echo.*)", echo_handler);
    server.Get(R"(/)", echo_handler);

    server.Get("/cookies/set", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("set-cookie", "a=1; Path=/");
        res.set_header("Set-Cookie", "b=2");
        res.set_content("cookies", "text/plain");
    });
    server.Get("/redirect/cookie", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "r=1; Path=/");
        res.set_redirect("/redirect/check");
    });
    server.Get("/redirect/check", [](const httplib::Request& req, httplib::Response& res) {
        std::string cookies;
        for (std::size_t i = 0; i < req.get_header_value_count("Cookie"); ++i)
            cookies += (i ? " | " : "") + req.get_header_value("Cookie", i);
        res.set_content("cookie=" + cookies, "text/plain");
    });
    server.Get("/redirect/location",
               [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/x"); });
    server.Get("/x",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("x", "text/plain"); });

    server.Get(R"(/charset/([-\w]+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::string page = charset_page(req.matches[1]);
        if (page.empty()) {
            res.status = 404;
            return;
        }
        res.set_content(page, "text/html");
    });
    server.Get("/zero", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("abc\0def", 7), "text/plain");
    });
    server.Get("/zeros", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(std::string(number_param(req, "n", 16, 1 << 20), '\0'), "application/octet-stream");
    });
    server.Get("/auth", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") == "Basic dXNlcjpwYXNz") { // user:pass
            res.set_content("welcome", "text/plain");
            return;
        }
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"fixture\"");
        res.set_content("who are you", "text/plain");
    });
    server.Get("/stall", [](const httplib::Request& req, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(number_param(req, "ms", 3000, 10000)));
        res.set_content("late", "text/plain");
    });
    server.Get("/stall-body", [](const httplib::Request& req, httplib::Response& res) {
        const auto pause = std::chrono::milliseconds(number_param(req, "ms", 3000, 10000));
        res.set_content_provider(2000, "text/plain",
                                 [pause](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset > 0) {
                                         std::this_thread::sleep_for(pause);
                                         return false;
                                     }
                                     const std::string part(500, 'p');
                                     sink.write(part.data(), part.size());
                                     return true;
                                 });
    });
    server.Get("/cut", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100000, "text/plain",
                                 [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset > 0)
                                         return false; // breaks the connection
                                     const std::string part(1000, 'c');
                                     sink.write(part.data(), part.size());
                                     return true;
                                 });
    });
    server.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [n = 0](std::size_t, httplib::DataSink& sink) mutable {
            if (n == 10) {
                sink.done();
                return true;
            }
            const std::string piece = "piece" + std::to_string(n++) + ";";
            sink.write(piece.data(), piece.size());
            return true;
        });
    });
    server.Get("/bytes", [](const httplib::Request& req, httplib::Response& res) {
        const std::size_t total = number_param(req, "n", 20480, std::size_t{1} << 31);
        res.set_content_provider(total, "application/octet-stream",
                                 [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     static const std::string block = [] {
                                         std::string b(65536, '\0');
                                         for (std::size_t i = 0; i < b.size(); ++i)
                                             b[i] = static_cast<char>('a' + i % 26);
                                         return b;
                                     }();
                                     // Every piece starts at a multiple of 26 within the pattern.
                                     const std::size_t start = offset % 26;
                                     const std::size_t n = std::min(length, block.size() - 26);
                                     sink.write(block.data() + start, n);
                                     return true;
                                 });
    });
    server.Get("/huge-headers", [](const httplib::Request& req, httplib::Response& res) {
        const std::size_t bytes = number_param(req, "mb", 10, 64) << 20;
        const std::string filler(1000, 'h');
        for (std::size_t i = 0, n = 0; n < bytes; ++i, n += filler.size() + 16)
            res.set_header("X-Filler-" + std::to_string(i), filler);
        res.set_content("after the headers", "text/plain");
    });
    server.Get("/many-cookies", [](const httplib::Request& req, httplib::Response& res) {
        const std::size_t n = number_param(req, "n", 1000, 2000000);
        for (std::size_t i = 0; i < n; ++i)
            res.set_header("Set-Cookie", "c" + std::to_string(i) + "=" + std::to_string(i) + "; Path=/");
        res.set_content("cookies", "text/plain");
    });
    // A request in absolute form reaches us only as a proxy; like one, it asks for credentials when none
    // came.
    server.Get(R"(http://.*)", [](const httplib::Request& req, httplib::Response& res) {
        if (!req.has_header("Proxy-Authorization")) {
            res.status = 407;
            res.set_header("Proxy-Authenticate", "Basic realm=\"fixture proxy\"");
            res.set_content("proxy credentials needed", "text/plain");
            return;
        }
        res.set_content("proxied target=" + req.target +
                            "\nproxy-authorization=" + req.get_header_value("Proxy-Authorization"),
                        "text/plain");
    });

    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "cannot bind a loopback port\n");
        return 1;
    }
    std::printf("listening on http://127.0.0.1:%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
