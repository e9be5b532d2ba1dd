// The HTTP exchange over libcurl's easy interface: one handle per exchange, nothing shared between calls.
//
// libcurl runs the whole exchange in one call, so the steps before send() only record settings, send() runs
// the transfer, and the failure is then reported by the step WinHTTP would have failed in: 711 when the
// request could not be sent (resolve, connect or write failed), 712 when no final response arrived (timed
// out, nothing or garbage received, too many redirects), 713 when the body broke off after the headers.
#include "web/http_transport.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>

namespace vestrel {

namespace {

bool curl_ready() {
    static std::once_flag once;
    static bool ready = false;
    // curl_global_init is not thread-safe before 7.84; do it once for the process.
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (ascii_lower(text[i]) != ascii_lower(prefix[i]))
            return false;
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Unsafe characters of a request target become escapes, as WinHTTP does by default (RFC 3986 section 2.1).
std::string escape_unsafe(std::string_view target) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (const char ch : target) {
        const auto byte = static_cast<unsigned char>(ch);
        const bool unsafe = byte <= 0x20 || byte >= 0x7F || ch == '"' || ch == '<' || ch == '>' ||
                            ch == '\\' || ch == '^' || ch == '`' || ch == '{' || ch == '|' || ch == '}';
        if (unsafe) {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

class CurlUrl {
public:
    CurlUrl() : handle_(curl_url()) {}
    ~CurlUrl() { curl_url_cleanup(handle_); }
    CurlUrl(const CurlUrl&) = delete;
    CurlUrl& operator=(const CurlUrl&) = delete;
    CURLU* get() const { return handle_; }
    bool part(CURLUPart which, std::string& value, unsigned flags = 0) const {
        char* text = nullptr;
        if (curl_url_get(handle_, which, &text, flags) != CURLUE_OK)
            return false;
        value = text;
        curl_free(text);
        return true;
    }

private:
    CURLU* handle_;
};

class CurlTransport final : public HttpTransport {
public:
    ~CurlTransport() override { close(); }

    bool check_platform() override { return curl_ready(); }

    bool crack_url(std::string_view url, CrackedUrl& parts) override {
        CurlUrl u;
        if (u.get() == nullptr)
            return false;
        const std::string text(url);
        if (text.find('\0') != std::string::npos)
            return false;
        if (curl_url_set(u.get(), CURLUPART_URL, text.c_str(), CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE) !=
            CURLUE_OK)
            return false;
        std::string scheme, host, port, path, query;
        if (!u.part(CURLUPART_SCHEME, scheme) || !u.part(CURLUPART_HOST, host) ||
            !u.part(CURLUPART_PORT, port, CURLU_DEFAULT_PORT))
            return false;
        if (scheme != "http" && scheme != "https")
            return false;
        u.part(CURLUPART_PATH, path);
        u.part(CURLUPART_QUERY, query);
        const unsigned long number = std::strtoul(port.c_str(), nullptr, 10);
        if (host.empty() || number == 0 || number > 65535)
            return false;
        parts.host = host;
        parts.port = static_cast<std::uint16_t>(number);
        parts.secure = scheme == "https";
        parts.path = path;
        parts.extra = query.empty() ? std::string() : "?" + query;
        return true;
    }

    bool open_session(ProxyAccess access, std::string_view proxy_name) override {
        easy_ = curl_easy_init();
        if (easy_ == nullptr)
            return false;
        if (access == ProxyAccess::named) {
            std::string_view address = proxy_name;
            if (starts_with_ignoring_case(address, "http="))
                address.remove_prefix(5);
            proxy_ = "http://" + std::string(address);
        }
        return true;
    }

    bool connect(std::string_view host, std::uint16_t port) override {
        if (easy_ == nullptr || host.empty() || port == 0)
            return false;
        host_ = host;
        port_ = port;
        return true;
    }

    bool open_request(std::string_view method, std::string_view object_name, bool secure) override {
        if (easy_ == nullptr)
            return false;
        method_ = method;
        std::string host = host_;
        if (host.find(':') != std::string::npos && host.front() != '[')
            host = "[" + host + "]";
        url_ = (secure ? "https://" : "http://") + host + ":" + std::to_string(port_) +
               escape_unsafe(object_name);
        return true;
    }

    bool set_timeouts(int milliseconds) override {
        timeout_ms_ = milliseconds > 0 ? milliseconds : 30000;
        return true;
    }

    bool set_credentials(AuthTarget target, std::string_view user, std::string_view password) override {
        if (easy_ == nullptr)
            return false;
        if (target == AuthTarget::server) {
            server_user_ = user;
            server_password_ = password;
        } else {
            proxy_user_ = user;
            proxy_password_ = password;
        }
        return true;
    }

    bool set_cookie_handling(bool enabled) override {
        cookie_engine_ = enabled;
        return easy_ != nullptr;
    }

    bool disable_redirects() override {
        follow_redirects_ = false;
        return easy_ != nullptr;
    }

    bool add_headers(std::string_view block) override {
        if (easy_ == nullptr)
            return false;
        std::size_t at = 0;
        while (at < block.size()) {
            std::size_t end = block.find("\r\n", at);
            if (end == std::string_view::npos)
                end = block.size();
            const std::string_view line = block.substr(at, end - at);
            at = end + 2;
            if (line.empty())
                continue;
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos || trim(line.substr(0, colon)).empty())
                return false; // not a header line
            const std::string_view name = trim(line.substr(0, colon));
            const std::string_view value = trim(line.substr(colon + 1));
            if (name.size() == 6 && starts_with_ignoring_case(name, "cookie")) {
                // Through curl's own cookie option, so that cookies a redirect sets join the same header.
                if (!value.empty()) {
                    if (!cookie_line_.empty())
                        cookie_line_ += "; ";
                    cookie_line_ += value;
                }
                continue;
            }
            // For curl "Name:" removes a header; "Name;" sends it empty.
            const std::string entry = value.empty() ? std::string(name) + ";" : std::string(line);
            if (!append_header(entry))
                return false;
        }
        // A request body goes out at once, as WinHTTP sends it, without waiting for "100 Continue".
        return append_header("Expect:");
    }

    bool send(std::string_view body) override {
        if (easy_ == nullptr)
            return false;
        body_ = body;
        configure();
        last_activity_ = Clock::now();
        const CURLcode result = curl_easy_perform(easy_);
        if (result == CURLE_OK) {
            outcome_ = Outcome::complete;
        } else if (final_headers_ && result != CURLE_TOO_MANY_REDIRECTS) {
            outcome_ = Outcome::body_broke;
        } else if (result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_RESOLVE_PROXY ||
                   result == CURLE_COULDNT_CONNECT || result == CURLE_SEND_ERROR ||
                   result == CURLE_SSL_CONNECT_ERROR || result == CURLE_PEER_FAILED_VERIFICATION ||
                   result == CURLE_URL_MALFORMAT || result == CURLE_UNSUPPORTED_PROTOCOL || !request_sent()) {
            outcome_ = Outcome::not_sent;
        } else {
            outcome_ = Outcome::no_response;
        }
        return outcome_ != Outcome::not_sent;
    }

    bool receive_response() override {
        return outcome_ == Outcome::complete || outcome_ == Outcome::body_broke;
    }

    std::size_t query_data_available() override {
        const std::size_t left = received_.size() - read_at_;
        if (left > 0)
            return left;
        // One more read, so that it can report the break.
        return outcome_ == Outcome::body_broke && !break_reported_ ? 1 : 0;
    }

    bool read_data(std::string& body, std::size_t available) override {
        const std::size_t left = received_.size() - read_at_;
        if (left == 0) {
            if (outcome_ == Outcome::body_broke) {
                break_reported_ = true;
                return false;
            }
            return true;
        }
        const std::size_t n = available < left ? available : left;
        if (body.empty() && read_at_ == 0 && n == received_.size()) {
            body.swap(received_); // hand the whole body over without a copy
            received_.clear();
            read_at_ = 0;
            return true;
        }
        body.append(received_, read_at_, n);
        read_at_ += n;
        return true;
    }

    bool query_raw_headers(std::string& block) override {
        if (!final_headers_)
            return false;
        block = header_block_;
        return true;
    }

    void close() override {
        if (easy_ != nullptr) {
            curl_easy_cleanup(easy_);
            easy_ = nullptr;
        }
        if (header_list_ != nullptr) {
            curl_slist_free_all(header_list_);
            header_list_ = nullptr;
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    enum class Outcome { not_run, complete, not_sent, no_response, body_broke };

    bool append_header(const std::string& entry) {
        curl_slist* grown = curl_slist_append(header_list_, entry.c_str());
        if (grown == nullptr)
            return false;
        header_list_ = grown;
        return true;
    }

    bool request_sent() const {
        long request_size = 0;
        return curl_easy_getinfo(easy_, CURLINFO_REQUEST_SIZE, &request_size) == CURLE_OK && request_size > 0;
    }

    void configure() {
        curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        // WinHTTP speaks HTTP/1.1; so does this back end, whatever TLS offers, so status lines read alike.
        curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, follow_redirects_ ? 1L : 0L);
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
        // An empty proxy also keeps curl from taking one from the environment.
        curl_easy_setopt(easy_, CURLOPT_PROXY, proxy_.c_str());
        curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_ms_));
        if (!server_user_.empty()) {
            curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            curl_easy_setopt(easy_, CURLOPT_USERNAME, server_user_.c_str());
            curl_easy_setopt(easy_, CURLOPT_PASSWORD, server_password_.c_str());
        }
        if (!proxy_user_.empty()) {
            curl_easy_setopt(easy_, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
            curl_easy_setopt(easy_, CURLOPT_PROXYUSERNAME, proxy_user_.c_str());
            curl_easy_setopt(easy_, CURLOPT_PROXYPASSWORD, proxy_password_.c_str());
        }
        if (cookie_engine_)
            curl_easy_setopt(easy_, CURLOPT_COOKIEFILE, ""); // in memory, for this exchange only
        if (!cookie_line_.empty())
            curl_easy_setopt(easy_, CURLOPT_COOKIE, cookie_line_.c_str());
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, header_list_);

        if (method_ == "HEAD") {
            curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        } else if (method_ == "POST") {
            curl_easy_setopt(easy_, CURLOPT_POST, 1L);
            set_body();
        } else if (method_ == "PUT" || !body_.empty()) {
            curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method_.c_str());
            set_body();
        } else {
            curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
        }

        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransport::on_header);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransport::on_body);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlTransport::on_progress);
        curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
    }

    void set_body() {
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.data());
    }

    static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* self_pointer) {
        auto* self = static_cast<CurlTransport*>(self_pointer);
        const std::size_t n = size * count;
        try {
            self->header_line(std::string_view(data, n));
        } catch (...) {
            return 0; // out of memory: the transfer fails
        }
        self->last_activity_ = Clock::now();
        return n;
    }

    void header_line(std::string_view line) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
            // A new response: an interim one, a redirect being followed, or the final one.
            header_block_.assign(line);
            header_block_ += "\r\n";
            in_headers_ = true;
            final_headers_ = false;
            has_location_ = false;
            status_code_ = 0;
            const std::size_t space = line.find(' ');
            if (space != std::string_view::npos)
                status_code_ = std::atoi(std::string(line.substr(space + 1, 3)).c_str());
            return;
        }
        if (!in_headers_)
            return; // trailers after a chunked body are not part of the header block
        header_block_.append(line);
        header_block_ += "\r\n";
        if (!line.empty()) {
            if (starts_with_ignoring_case(line, "location:"))
                has_location_ = true;
            return;
        }
        in_headers_ = false;
        const bool interim = status_code_ >= 100 && status_code_ < 200;
        const bool followed = follow_redirects_ && has_location_ && status_code_ >= 300 &&
                              status_code_ < 400 && status_code_ != 304;
        final_headers_ = !interim && !followed;
    }

    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* self_pointer) {
        auto* self = static_cast<CurlTransport*>(self_pointer);
        const std::size_t n = size * count;
        try {
            self->received_.append(data, n);
        } catch (...) {
            return 0; // out of memory: the body breaks off here
        }
        self->last_activity_ = Clock::now();
        return n;
    }

    // Send and receive time-outs as WinHTTP has them: time without progress, not the length of the exchange.
    static int on_progress(void* self_pointer, curl_off_t, curl_off_t downloaded, curl_off_t,
                           curl_off_t uploaded) {
        auto* self = static_cast<CurlTransport*>(self_pointer);
        const auto now = Clock::now();
        if (downloaded != self->seen_down_ || uploaded != self->seen_up_) {
            self->seen_down_ = downloaded;
            self->seen_up_ = uploaded;
            self->last_activity_ = now;
            return 0;
        }
        return now - self->last_activity_ > std::chrono::milliseconds(self->timeout_ms_) ? 1 : 0;
    }

    CURL* easy_ = nullptr;
    curl_slist* header_list_ = nullptr;
    std::string proxy_, host_, method_, url_, body_, cookie_line_;
    std::string server_user_, server_password_, proxy_user_, proxy_password_;
    std::uint16_t port_ = 0;
    int timeout_ms_ = 30000;
    bool cookie_engine_ = false;
    bool follow_redirects_ = true;

    Outcome outcome_ = Outcome::not_run;
    std::string header_block_;
    bool in_headers_ = false;
    bool final_headers_ = false;
    bool has_location_ = false;
    int status_code_ = 0;
    std::string received_;
    std::size_t read_at_ = 0;
    bool break_reported_ = false;
    Clock::time_point last_activity_{};
    curl_off_t seen_down_ = 0, seen_up_ = 0;
};

} // namespace

std::unique_ptr<HttpTransport> make_platform_transport() {
    return std::make_unique<CurlTransport>();
}

} // namespace vestrel
