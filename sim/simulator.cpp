#include "sim/simulator.h"

#include "sim/account.h"
#include "sim/service_pages.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <thread>

namespace vestrel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* session_cookie = "NBSID";
constexpr int errno_not_logged_in = -6;
constexpr int errno_wrong_token = -4;
constexpr int errno_no_such_path = -9;
constexpr int errno_bad_parameter = 2;
constexpr int errno_missing_file = 12;
constexpr int errno_too_fast = 111;
constexpr int errno_server_fault = 31034;

enum class Kind { home, login, logout, list, filemanager, state, account, other, count_ };
constexpr const char* kind_names[] = {"home",   "login", "logout",  "list",
                                      "delete", "state", "account", "other"};

std::string hex_of(std::uint64_t a, std::uint64_t b) {
    static const char hex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 32; ++i)
        out[i] = hex[((i < 16 ? a : b) >> ((15 - i % 16) * 4)) & 15];
    return out;
}

std::uint64_t text_hash(std::string_view text, std::uint64_t seed) {
    std::uint64_t h = mix64(seed ^ 0x5eedull);
    for (unsigned char c : text)
        h = mix64(h ^ c);
    return h;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// RFC 3986 percent-decoding; with plus_is_space also the form encoding's "+"
// (application/x-www-form-urlencoded). False for a malformed escape.
bool percent_decode(std::string_view in, bool plus_is_space, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            if (i + 2 >= in.size())
                return false;
            int hi = hex_digit(in[i + 1]);
            int lo = hex_digit(in[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (c == '+' && plus_is_space) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return true;
}

// Splits "a=1&b=2" into raw (still encoded) pairs, in order.
std::vector<std::pair<std::string_view, std::string_view>> split_pairs(std::string_view text) {
    std::vector<std::pair<std::string_view, std::string_view>> pairs;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view item = text.substr(start, end - start);
        if (!item.empty()) {
            std::size_t eq = item.find('=');
            if (eq == std::string_view::npos)
                pairs.emplace_back(item, std::string_view());
            else
                pairs.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        }
        start = end + 1;
    }
    return pairs;
}

struct Query {
    std::vector<std::pair<std::string_view, std::string_view>> pairs;
    // The raw value of the first `key`, or nullptr.
    const std::string_view* raw(std::string_view key) const {
        for (const auto& p : pairs) {
            if (p.first == key)
                return &p.second;
        }
        return nullptr;
    }
};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Cookie header items (RFC 6265 section 5.4: name=value pairs separated by "; ").
std::vector<std::pair<std::string, std::string>> request_cookies(const httplib::Request& req) {
    std::vector<std::pair<std::string, std::string>> cookies;
    auto range = req.headers.equal_range("Cookie");
    for (auto it = range.first; it != range.second; ++it) {
        std::string_view text = it->second;
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(';', start);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view item = trim(text.substr(start, end - start));
            if (!item.empty()) {
                std::size_t eq = item.find('=');
                if (eq == std::string_view::npos)
                    cookies.emplace_back(std::string(item), std::string());
                else
                    cookies.emplace_back(std::string(trim(item.substr(0, eq))),
                                         std::string(trim(item.substr(eq + 1))));
            }
            start = end + 1;
        }
    }
    return cookies;
}

std::string masked_cookie(std::string_view text) {
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view item = trim(text.substr(start, end - start));
        if (!item.empty()) {
            if (!out.empty())
                out += "; ";
            std::size_t eq = item.find('=');
            out += item.substr(0, eq);
            if (eq != std::string_view::npos)
                out += "=***";
        }
        start = end + 1;
    }
    return out;
}

// Shuts down the accepted connections on local port `port` whose peer port is `peer_port` (any when 0).
// The handlers have no socket of their own, so sockets are found by their loopback ports.
bool shutdown_connections(int port, int peer_port) {
    DIR* fds = opendir("/proc/self/fd");
    if (!fds)
        return false;
    bool done = false;
    while (dirent* entry = readdir(fds)) {
        int fd = std::atoi(entry->d_name);
        if (fd <= 2)
            continue;
        sockaddr_storage local{}, peer{};
        socklen_t local_len = sizeof local, peer_len = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_len) != 0 ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0)
            continue;
        if (local.ss_family != AF_INET || peer.ss_family != AF_INET)
            continue;
        auto* l = reinterpret_cast<sockaddr_in*>(&local);
        auto* p = reinterpret_cast<sockaddr_in*>(&peer);
        if (ntohs(l->sin_port) == port && (peer_port == 0 || ntohs(p->sin_port) == peer_port)) {
            ::shutdown(fd, SHUT_RDWR);
            done = true;
            if (peer_port != 0)
                break;
        }
    }
    closedir(fds);
    return done;
}

// Closes the connection of this request at once, before any answer: what a dropped connection looks like to
// the client.
bool drop_connection(const httplib::Request& req) {
    return shutdown_connections(req.local_port, req.remote_port);
}

// Connection threads, started as connections come and kept for the next ones: each keep-alive connection
// holds a thread, so the pool grows up to `limit` instead of queueing the 65th client behind the first 64.
class GrowingPool : public httplib::TaskQueue {
public:
    explicit GrowingPool(std::size_t limit) : limit_(limit) {}
    void enqueue(std::function<void()> fn) override {
        std::unique_lock lock(mutex_);
        jobs_.push_back(std::move(fn));
        if (idle_ == 0 && threads_.size() < limit_)
            threads_.emplace_back([this] { work(); });
        else
            ready_.notify_one();
    }
    void shutdown() override {
        {
            std::unique_lock lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (auto& t : threads_)
            t.join();
        threads_.clear();
    }

private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            ready_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (jobs_.empty())
                return;
            auto fn = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            fn();
            lock.lock();
        }
    }
    std::size_t limit_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

class HttpServer : public httplib::Server {
public:
    // cpp-httplib listens with a backlog of 5; a burst of connecting clients (one connection per request, as
    // the program makes them) would see refused or retried connections. listen(2) on a listening socket
    // only updates its backlog.
    void widen_backlog() { ::listen(svr_sock_, 1024); }
};

struct Exchange {
    Kind kind = Kind::other;
    int errno_value = INT_MIN;
    bool dropped = false;
};

} // namespace

class SimulatorCore {
public:
    explicit SimulatorCore(SimulatorOptions options) : options_(std::move(options)) {
        if (options_.threads < 1)
            options_.threads = 1;
        request_id_base_ = 100000000000000ull + mix64(options_.seed) % 100000000000000ull;
    }
    ~SimulatorCore() { stop(); }

    bool load() {
        if (account_)
            return true;
        try {
            std::unique_ptr<Account> account;
            if (!options_.account_json.empty()) {
                account = std::make_unique<Account>(Account::from_json(options_.account_json));
            } else if (!options_.account_file.empty()) {
                std::ifstream in(options_.account_file, std::ios::binary);
                if (!in) {
                    error_ = "cannot read the account file " + options_.account_file;
                    return false;
                }
                std::stringstream text;
                text << in.rdbuf();
                account = std::make_unique<Account>(Account::from_json(text.str()));
            } else {
                account = std::make_unique<Account>(Account::generate(options_.generator, options_.seed));
            }
            install(std::move(account));
            return true;
        } catch (const AccountError& e) {
            error_ = (options_.account_file.empty() ? std::string("account: ")
                                                    : "account file " + options_.account_file + ": ") +
                     e.what();
        } catch (const std::bad_alloc&) {
            error_ = "account: not enough memory";
        }
        return false;
    }

    bool load_json(std::string_view text) {
        try {
            install(std::make_unique<Account>(Account::from_json(text)));
            return true;
        } catch (const AccountError& e) {
            error_ = std::string("account: ") + e.what();
            return false;
        }
    }

    int start() {
        if (running_)
            return port_;
        if (!load())
            return 0;
        if (!options_.log_file.empty()) {
            log_ = std::fopen(options_.log_file.c_str(), "w");
            if (!log_) {
                error_ = "cannot write the request log " + options_.log_file;
                return 0;
            }
        }
        server_ = std::make_unique<HttpServer>();
        std::size_t threads = static_cast<std::size_t>(options_.threads);
        server_->new_task_queue = [threads] { return new GrowingPool(threads); };
        server_->set_tcp_nodelay(true);
        // SO_REUSEADDR only: cpp-httplib's default SO_REUSEPORT would let a second server share a taken port.
        server_->set_socket_options([](int sock) {
            int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        server_->set_keep_alive_max_count(100000);
        server_->set_keep_alive_timeout(2);
        server_->set_read_timeout(10);
        server_->set_write_timeout(10);
        install_routes();
        {
            std::lock_guard lock(sleep_mutex_);
            stopping_ = false;
        }
        int port = 0;
        if (options_.port == 0) {
            port = server_->bind_to_any_port("127.0.0.1");
        } else if (server_->bind_to_port("127.0.0.1", options_.port)) {
            port = options_.port;
        }
        if (port <= 0) {
            error_ = "cannot listen on 127.0.0.1:" + std::to_string(options_.port);
            server_.reset();
            close_log();
            return 0;
        }
        server_->widen_backlog();
        port_ = port;
        started_ = Clock::now();
        listen_ended_ = false;
        listener_ = std::thread([this] {
            server_->listen_after_bind();
            listen_ended_ = true;
        });
        // cpp-httplib's stop() does nothing until its accept loop has begun: wait for it, so that a stop()
        // right after start() cannot leave the listener blocked in accept.
        while (!server_->is_running() && !listen_ended_)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        running_ = true;
        return port_;
    }

    void stop() {
        if (!running_)
            return;
        {
            std::lock_guard lock(sleep_mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        server_->stop();
        // Idle keep-alive connections would hold their threads until their time-out.
        shutdown_connections(port_, 0);
        if (listener_.joinable())
            listener_.join();
        server_.reset();
        close_log();
        running_ = false;
    }

    bool running() const { return running_; }
    int port() const { return port_; }
    const std::string& error() const { return error_; }

    std::string user() const {
        std::shared_lock lock(account_mutex_);
        return user_;
    }
    std::string password() const {
        std::shared_lock lock(account_mutex_);
        return password_;
    }
    std::string token() const {
        std::shared_lock lock(account_mutex_);
        return token_;
    }
    std::string login_cookies() const {
        std::shared_lock lock(account_mutex_);
        return std::string("PANWEB=1; ") + session_cookie + "=" + session_;
    }

    std::string state_json(bool with_files) const {
        std::string out = "{";
        {
            std::shared_lock lock(account_mutex_);
            if (!account_)
                return "{}";
            if (with_files) {
                out += "\"files\":[";
                bool first = true;
                for (const std::string& path : account_->file_paths()) {
                    if (!first)
                        out += ',';
                    first = false;
                    append_json_string(out, path);
                }
                out += "],\"directories\":[";
                first = true;
                for (const std::string& path : account_->directory_paths()) {
                    if (!first)
                        out += ',';
                    first = false;
                    append_json_string(out, path);
                }
                out += "],";
            }
            out += "\"file_count\":" + std::to_string(account_->file_count());
            out += ",\"directory_count\":" + std::to_string(account_->directory_count());
            out += ",\"recycle\":[";
            bool first = true;
            for (const RecycledEntry& e : account_->recycle()) {
                if (!first)
                    out += ',';
                first = false;
                out += "{\"path\":";
                append_json_string(out, e.path);
                out += e.is_directory ? ",\"isdir\":1" : ",\"isdir\":0";
                if (!e.is_directory) {
                    out += ",\"md5\":";
                    append_json_string(out, e.md5);
                }
                out += ",\"size\":" + std::to_string(e.size) + ",\"files\":" + std::to_string(e.files) + "}";
            }
            out += "]";
        }
        out += ",\"requests\":{";
        std::uint64_t total = 0;
        for (int k = 0; k < static_cast<int>(Kind::count_); ++k) {
            std::uint64_t n = counts_[k].load();
            total += n;
            out += std::string("\"") + kind_names[k] + "\":" + std::to_string(n) + ",";
        }
        out += "\"total\":" + std::to_string(total) + "}";
        out += ",\"outcomes\":{\"list_ok\":" + std::to_string(list_ok_.load()) +
               ",\"delete_ok\":" + std::to_string(delete_ok_.load()) +
               ",\"delete_too_fast\":" + std::to_string(delete_too_fast_.load()) +
               ",\"faults\":" + std::to_string(faults_.load()) + "}}";
        return out;
    }

    std::vector<std::string> file_paths() const {
        std::shared_lock lock(account_mutex_);
        return account_ ? account_->file_paths() : std::vector<std::string>();
    }
    std::vector<RecycledEntry> recycle_bin() const {
        std::shared_lock lock(account_mutex_);
        return account_ ? account_->recycle() : std::vector<RecycledEntry>();
    }
    std::size_t file_count() const {
        std::shared_lock lock(account_mutex_);
        return account_ ? account_->file_count() : 0;
    }
    std::string account_json() const {
        std::shared_lock lock(account_mutex_);
        return account_ ? account_->to_json() : std::string();
    }

private:
    void install(std::unique_ptr<Account> account) {
        if (!options_.user.empty())
            account->user = options_.user;
        if (!options_.password.empty())
            account->password = options_.password;
        std::unique_lock lock(account_mutex_);
        user_ = account->user;
        password_ = account->password;
        std::uint64_t h = text_hash(user_ + '\n' + password_, options_.seed);
        token_ = hex_of(mix64(h ^ 1), mix64(h ^ 2));
        session_ = hex_of(mix64(h ^ 3), mix64(h ^ 4)) + hex_of(mix64(h ^ 5), mix64(h ^ 6));
        account_ = std::shared_ptr<Account>(std::move(account));
    }

    void close_log() {
        if (log_) {
            std::fclose(log_);
            log_ = nullptr;
        }
    }

    // Sleeps, but returns at once when the server stops. False when stopping.
    bool pause(int ms) {
        if (ms <= 0)
            return true;
        std::unique_lock lock(sleep_mutex_);
        return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
    }

    std::uint64_t next_request_id() { return request_id_base_ + request_seq_.fetch_add(1); }

    void json(httplib::Response& res, Exchange& ex, int errno_value, const std::string& body) {
        ex.errno_value = errno_value;
        res.status = 200;
        res.set_content(body, "application/json; charset=utf-8");
    }
    void json_errno(httplib::Response& res, Exchange& ex, int errno_value) {
        json(res, ex, errno_value,
             "{\"errno\":" + std::to_string(errno_value) +
                 ",\"request_id\":" + std::to_string(next_request_id()) + "}");
    }

    bool logged_in(const httplib::Request& req) {
        bool panweb = false, session = false;
        std::string expected;
        {
            std::shared_lock lock(account_mutex_);
            expected = session_;
        }
        for (const auto& [name, value] : request_cookies(req)) {
            if (name == "PANWEB" && !value.empty())
                panweb = true;
            if (name == session_cookie && value == expected)
                session = true;
        }
        return panweb && session;
    }

    // An injected fault for the n-th request of this kind and key: deterministic for the seed, whatever the
    // order in which concurrent requests arrive. Returns the variant (0..variants-1) or -1.
    int injected_fault(std::string_view kind, std::string_view key, int variants) {
        if (options_.error_rate <= 0)
            return -1;
        std::uint64_t n;
        std::string full = std::string(kind) + '\n' + std::string(key);
        {
            std::lock_guard lock(fault_mutex_);
            n = ++fault_counts_[full];
        }
        std::uint64_t h = mix64(text_hash(full, options_.seed) ^ (n * 0x2545f4914f6cdd1dull));
        double u = static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
        if (u >= options_.error_rate)
            return -1;
        return static_cast<int>(mix64(h) % static_cast<std::uint64_t>(variants));
    }

    // Answers an injected server fault. Variant 2 of a list is a listing cut short.
    void answer_fault(httplib::Response& res, Exchange& ex, int variant, const std::string& partial) {
        ++faults_;
        switch (variant) {
        case 0:
            res.status = 500;
            res.set_content("<html><body><h1>500 Internal Server Error</h1></body></html>", "text/html");
            break;
        case 1:
            json_errno(res, ex, errno_server_fault);
            break;
        case 2:
            if (!partial.empty()) {
                res.status = 200;
                res.set_content(partial.substr(0, partial.size() / 2), "application/json; charset=utf-8");
                break;
            }
            [[fallthrough]];
        default:
            res.status = 502;
            res.set_content("<html><body><h1>502 Bad Gateway</h1></body></html>", "text/html");
        }
    }

    // A fault from the account file. True when it answered the request.
    bool answer_path_fault(const httplib::Request& req, httplib::Response& res, Exchange& ex,
                           PathFault& fault) {
        if (!fault.applies())
            return false;
        ++faults_;
        if (fault.delay_ms > 0 && !pause(fault.delay_ms)) {
            ex.dropped = drop_connection(req);
            return true;
        }
        if (fault.drop) {
            ex.dropped = true;
            if (!drop_connection(req)) {
                res.status = 500;
                res.set_content_provider(1, "text/plain",
                                         [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
            }
            return true;
        }
        if (fault.has_body) {
            res.status = fault.status;
            res.set_content(fault.body, fault.body.rfind("{", 0) == 0 ? "application/json; charset=utf-8"
                                                                      : "text/html; charset=utf-8");
            return true;
        }
        if (fault.has_errno) {
            json_errno(res, ex, fault.errno_value);
            return true;
        }
        return false; // a delay alone: then the normal answer
    }

    // The fault the account file sets for `path`, if any.
    PathFault* fault_at(Account& account, std::string_view path) const {
        std::shared_lock lock(account_mutex_);
        std::uint32_t node = account.find(path);
        return node == Account::none ? nullptr : account.fault_of(node);
    }

    // The account a request works on: held for the whole request, so that an account replaced meanwhile
    // (POST /sim/account) cannot vanish under it.
    std::shared_ptr<Account> current_account() const {
        std::shared_lock lock(account_mutex_);
        return account_;
    }

    void handle_list(const httplib::Request& req, const Query& query, httplib::Response& res, Exchange& ex) {
        std::shared_ptr<Account> account = current_account();
        if (!logged_in(req))
            return json_errno(res, ex, errno_not_logged_in);
        const std::string_view* raw_dir = query.raw("dir");
        std::string dir;
        if (!raw_dir || !percent_decode(*raw_dir, false, dir))
            return json_errno(res, ex, errno_bad_parameter);

        auto number = [&](const char* key, long fallback, long low, long high, long& value) {
            const std::string_view* raw = query.raw(key);
            if (!raw) {
                value = fallback;
                return true;
            }
            if (raw->empty() || raw->size() > 9)
                return false;
            value = 0;
            for (char c : *raw) {
                if (c < '0' || c > '9')
                    return false;
                value = value * 10 + (c - '0');
            }
            return value >= low && value <= high;
        };
        long num = 0, page = 0;
        if (!number("num", 1000, 1, 1000, num) || !number("page", 1, 1, 100000000, page))
            return json_errno(res, ex, errno_bad_parameter);
        ListOrder order = ListOrder::name;
        if (const std::string_view* raw = query.raw("order")) {
            if (*raw == "time")
                order = ListOrder::time;
            else if (*raw == "size")
                order = ListOrder::size;
        }
        bool descending = false;
        if (const std::string_view* raw = query.raw("desc"))
            descending = *raw == "1";

        PathFault* fault = fault_at(*account, dir);
        if (fault && answer_path_fault(req, res, ex, *fault))
            return;
        int injected = injected_fault("list", dir, 4);

        std::string body = "{\"errno\":0,\"guid_info\":\"\",\"list\":[";
        {
            std::shared_lock lock(account_mutex_);
            std::uint32_t node = account->find(dir);
            if (node == Account::none || !account->is_directory(node)) {
                lock.unlock();
                if (injected >= 0)
                    return answer_fault(res, ex, injected, {});
                return json_errno(res, ex, errno_no_such_path);
            }
            account->append_listing(body, node, order, descending, static_cast<std::size_t>(page),
                                    static_cast<std::size_t>(num));
        }
        body += "],\"request_id\":" + std::to_string(next_request_id()) + ",\"guid\":0}";
        if (injected >= 0)
            return answer_fault(res, ex, injected, body);
        ++list_ok_;
        json(res, ex, 0, body);
    }

    void handle_filemanager(const httplib::Request& req, const Query& query, const std::string& body,
                            Clock::time_point arrival, httplib::Response& res, Exchange& ex) {
        std::shared_ptr<Account> account = current_account();
        if (!logged_in(req))
            return json_errno(res, ex, errno_not_logged_in);
        const std::string_view* opera = query.raw("opera");
        if (!opera || *opera != "delete")
            return json_errno(res, ex, errno_bad_parameter);
        const std::string_view* raw_token = query.raw("bdstoken");
        std::string token;
        if (!raw_token || !percent_decode(*raw_token, false, token) || token.empty())
            return json_errno(res, ex, errno_not_logged_in);
        if (token != this->token())
            return json_errno(res, ex, errno_wrong_token);

        // Deletions must be spaced: one sooner than the interval after the previous accepted one fails.
        {
            std::lock_guard lock(delete_mutex_);
            auto interval = std::chrono::milliseconds(options_.delete_interval_ms);
            if (have_last_delete_ && arrival < last_delete_ + interval) {
                ++delete_too_fast_;
                return json_errno(res, ex, errno_too_fast);
            }
            have_last_delete_ = true;
            last_delete_ = std::max(last_delete_, arrival);
        }

        std::string filelist_text;
        bool have_filelist = false;
        for (const auto& [key, value] : split_pairs(body)) {
            std::string name;
            if (percent_decode(key, true, name) && name == "filelist") {
                have_filelist = percent_decode(value, true, filelist_text);
                break;
            }
        }
        std::vector<std::string> paths;
        if (have_filelist) {
            auto list = nlohmann::json::parse(filelist_text, nullptr, false);
            if (list.is_array() && !list.empty()) {
                for (const auto& item : list) {
                    if (!item.is_string()) {
                        paths.clear();
                        break;
                    }
                    paths.push_back(item.get<std::string>());
                }
            }
        }
        for (const std::string& p : paths) {
            if (p == "/") {
                paths.clear();
                break;
            }
        }
        if (paths.empty())
            return json_errno(res, ex, errno_bad_parameter);

        for (const std::string& p : paths) {
            PathFault* fault = fault_at(*account, p);
            if (fault && answer_path_fault(req, res, ex, *fault))
                return;
        }
        int injected = injected_fault("delete", filelist_text, 3);
        if (injected >= 0)
            return answer_fault(res, ex, injected == 2 ? 3 : injected, {});

        std::uint64_t request_id = next_request_id();
        std::uint64_t task_id = request_id_base_ / 7 + request_seq_.load() * 13;
        std::unique_lock lock(account_mutex_);
        std::vector<std::uint32_t> nodes;
        bool missing = false;
        for (const std::string& p : paths) {
            std::uint32_t node = account->find(p);
            nodes.push_back(node);
            if (node == Account::none)
                missing = true;
        }
        if (missing) {
            lock.unlock();
            std::string out = "{\"errno\":12,\"info\":[";
            for (std::size_t i = 0; i < paths.size(); ++i) {
                if (i)
                    out += ',';
                out += "{\"errno\":";
                out += nodes[i] == Account::none ? std::to_string(errno_no_such_path) : "0";
                out += ",\"path\":";
                append_json_string(out, paths[i]);
                out += '}';
            }
            out += "],\"request_id\":" + std::to_string(request_id) +
                   ",\"taskid\":" + std::to_string(task_id) + "}";
            return json(res, ex, errno_missing_file, out);
        }
        for (std::uint32_t node : nodes)
            account->remove(node); // a path inside one removed before it is gone already: nothing more
        lock.unlock();
        ++delete_ok_;
        json(res, ex, 0,
             "{\"errno\":0,\"info\":[],\"request_id\":" + std::to_string(request_id) +
                 ",\"taskid\":" + std::to_string(task_id) + "}");
    }

    void handle_login(const httplib::Request& req, const std::string& body, httplib::Response& res) {
        if (req.method != "POST") {
            res.status = 200;
            res.set_content(login_page(""), "text/html; charset=utf-8");
            return;
        }
        std::string user, password;
        for (const auto& [key, value] : split_pairs(body)) {
            std::string name, decoded;
            if (!percent_decode(key, true, name) || !percent_decode(value, true, decoded))
                continue;
            if (name == "username")
                user = decoded;
            else if (name == "password")
                password = decoded;
        }
        std::string right_user, right_password, session;
        {
            std::shared_lock lock(account_mutex_);
            right_user = user_;
            right_password = password_;
            session = session_;
        }
        if (user != right_user || password != right_password) {
            res.status = 200;
            res.set_content(login_page("The user name or the password is wrong."),
                            "text/html; charset=utf-8");
            return;
        }
        res.set_header("Set-Cookie", "PANWEB=1; Path=/");
        res.set_header("Set-Cookie", std::string(session_cookie) + "=" + session + "; Path=/; HttpOnly");
        res.set_redirect("/disk/home", 302);
        res.set_content("<html><body><a href=\"/disk/home\">/disk/home</a></body></html>", "text/html");
    }

    void handle_home(const httplib::Request& req, httplib::Response& res) {
        res.status = 200;
        if (!logged_in(req)) {
            res.set_content(login_page(""), "text/html; charset=utf-8");
            return;
        }
        std::vector<HomeEntry> entries;
        std::string user, token;
        {
            std::shared_lock lock(account_mutex_);
            user = user_;
            token = token_;
            std::string listing;
            account_->append_listing(listing, 0, ListOrder::time, true, 1, 100);
            auto parsed = nlohmann::json::parse("[" + listing + "]", nullptr, false);
            if (parsed.is_array()) {
                for (const auto& e : parsed)
                    entries.push_back({e.value("server_filename", ""), e.value("isdir", 0) == 1,
                                       e.value("size", std::uint64_t(0)),
                                       e.value("server_mtime", std::int64_t(0))});
            }
        }
        res.set_content(home_page(user, token, entries), "text/html; charset=utf-8");
    }

    void handle_account(const std::string& body, httplib::Response& res, Exchange& ex) {
        if (load_json(body)) {
            json(res, ex, 0, "{\"errno\":0}");
        } else {
            res.status = 400;
            std::string out = "{\"errno\":2,\"error\":";
            append_json_string(out, error_);
            out += "}";
            res.set_content(out, "application/json; charset=utf-8");
            ex.errno_value = 2;
        }
    }

    void serve(const httplib::Request& req, httplib::Response& res, const std::string& body) {
        Clock::time_point arrival = Clock::now();
        std::uint64_t seq = arrivals_.fetch_add(1);
        Exchange ex;
        const std::string& path = req.path;
        if (path == "/disk/home")
            ex.kind = Kind::home;
        else if (path == "/passport/login")
            ex.kind = Kind::login;
        else if (path == "/passport/logout")
            ex.kind = Kind::logout;
        else if (path == "/api/list")
            ex.kind = Kind::list;
        else if (path == "/api/filemanager")
            ex.kind = Kind::filemanager;
        else if (path == "/sim/state")
            ex.kind = Kind::state;
        else if (path == "/sim/account")
            ex.kind = Kind::account;
        ++counts_[static_cast<int>(ex.kind)];

        int delay = options_.latency_ms;
        if (options_.jitter_ms > 0)
            delay += static_cast<int>(mix64(options_.seed * 0x9e3779b97f4a7c15ull + seq) %
                                      (static_cast<std::uint64_t>(options_.jitter_ms) + 1));
        bool is_sim = ex.kind == Kind::state || ex.kind == Kind::account;
        if (!is_sim && !pause(delay)) {
            ex.dropped = drop_connection(req);
        } else {
            std::string_view target = req.target;
            std::size_t q = target.find('?');
            Query query;
            if (q != std::string_view::npos)
                query.pairs = split_pairs(target.substr(q + 1));
            bool get = req.method == "GET" || req.method == "HEAD";
            switch (ex.kind) {
            case Kind::home:
                handle_home(req, res);
                break;
            case Kind::login:
                handle_login(req, body, res);
                break;
            case Kind::logout:
                res.set_header("Set-Cookie", "PANWEB=; Path=/; Max-Age=0");
                res.set_header("Set-Cookie", std::string(session_cookie) + "=; Path=/; Max-Age=0; HttpOnly");
                res.set_redirect("/disk/home", 302);
                break;
            case Kind::list:
                if (get)
                    handle_list(req, query, res, ex);
                else
                    not_allowed(res);
                break;
            case Kind::filemanager:
                if (req.method == "POST")
                    handle_filemanager(req, query, body, arrival, res, ex);
                else
                    not_allowed(res);
                break;
            case Kind::state:
                res.status = 200;
                res.set_content(state_json(!query.raw("files") || *query.raw("files") != "0"),
                                "application/json; charset=utf-8");
                break;
            case Kind::account:
                if (req.method == "POST")
                    handle_account(body, res, ex);
                else
                    not_allowed(res);
                break;
            default:
                res.status = 404;
                res.set_content("<html><body><h1>404 Not Found</h1></body></html>", "text/html");
            }
        }
        if (log_)
            write_log(req, res, body, ex, arrival);
    }

    static void not_allowed(httplib::Response& res) {
        res.status = 405;
        res.set_content("<html><body><h1>405 Method Not Allowed</h1></body></html>", "text/html");
    }

    void write_log(const httplib::Request& req, const httplib::Response& res, const std::string& body,
                   const Exchange& ex, Clock::time_point arrival) {
        nlohmann::ordered_json line;
        line["time_ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(arrival - started_).count();
        line["kind"] = kind_names[static_cast<int>(ex.kind)];
        line["method"] = req.method;
        line["target"] = req.target;
        nlohmann::ordered_json headers = nlohmann::ordered_json::array();
        for (const auto& [name, value] : req.headers) {
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
                name == "LOCAL_PORT")
                continue;
            bool cookie = name.size() == 6 && strcasecmp(name.c_str(), "cookie") == 0;
            headers.push_back({name, cookie ? masked_cookie(value) : value});
        }
        line["headers"] = std::move(headers);
        if (ex.kind == Kind::login) {
            // The password stays out of the log.
            std::string masked;
            for (const auto& [key, value] : split_pairs(body)) {
                if (!masked.empty())
                    masked += '&';
                masked += key;
                masked += '=';
                masked += key == "password" ? std::string_view("***") : value;
            }
            line["body"] = masked;
        } else if (ex.kind == Kind::account) {
            line["body"] = std::to_string(body.size()) + " bytes";
        } else {
            line["body"] = body;
        }
        line["status"] = ex.dropped ? 0 : res.status;
        if (ex.errno_value != INT_MIN)
            line["errno"] = ex.errno_value;
        if (ex.dropped)
            line["dropped"] = true;
        std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        text += '\n';
        std::lock_guard lock(log_mutex_);
        if (log_) {
            std::fwrite(text.data(), 1, text.size(), log_);
            std::fflush(log_);
        }
    }

    void install_routes() {
        auto get = [this](const httplib::Request& req, httplib::Response& res) { serve(req, res, req.body); };
        server_->Get(".*", get);
        server_->Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
            std::string body;
            reader([&](const char* data, std::size_t length) {
                body.append(data, length);
                return true;
            });
            serve(req, res, body);
        });
        server_->Post(".*", get);
        server_->Put(".*", get);
        server_->Delete(".*", get);
        server_->Patch(".*", get);
        server_->set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
                res.status = 500;
                res.set_content("<html><body><h1>500 Internal Server Error</h1></body></html>", "text/html");
            });
    }

    SimulatorOptions options_;
    mutable std::shared_mutex account_mutex_;
    std::shared_ptr<Account> account_;
    std::string user_, password_, token_, session_;
    std::string error_;

    std::unique_ptr<HttpServer> server_;
    std::thread listener_;
    std::atomic<bool> listen_ended_{false};
    bool running_ = false;
    int port_ = 0;
    Clock::time_point started_ = Clock::now();

    std::mutex sleep_mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;

    std::mutex delete_mutex_;
    bool have_last_delete_ = false;
    Clock::time_point last_delete_{};

    std::mutex fault_mutex_;
    std::unordered_map<std::string, std::uint64_t> fault_counts_;

    std::mutex log_mutex_;
    std::FILE* log_ = nullptr;

    std::atomic<std::uint64_t> counts_[static_cast<int>(Kind::count_)] = {};
    std::atomic<std::uint64_t> arrivals_{0}, request_seq_{0};
    std::atomic<std::uint64_t> list_ok_{0}, delete_ok_{0}, delete_too_fast_{0}, faults_{0};
    std::uint64_t request_id_base_ = 0;
};

Simulator::Simulator(SimulatorOptions options) : core_(std::make_unique<SimulatorCore>(std::move(options))) {}
Simulator::~Simulator() = default;
bool Simulator::load() {
    return core_->load();
}
bool Simulator::load_account_json(std::string_view text) {
    return core_->load_json(text);
}
int Simulator::start() {
    return core_->start();
}
void Simulator::stop() {
    core_->stop();
}
bool Simulator::running() const {
    return core_->running();
}
int Simulator::port() const {
    return core_->port();
}
std::string Simulator::url() const {
    return "http://127.0.0.1:" + std::to_string(core_->port());
}
const std::string& Simulator::error() const {
    return core_->error();
}
std::string Simulator::user() const {
    return core_->user();
}
std::string Simulator::password() const {
    return core_->password();
}
std::string Simulator::token() const {
    return core_->token();
}
std::string Simulator::login_cookies() const {
    return core_->login_cookies();
}
std::string Simulator::state_json(bool with_files) const {
    return core_->state_json(with_files);
}
std::vector<std::string> Simulator::file_paths() const {
    return core_->file_paths();
}
std::vector<RecycledEntry> Simulator::recycle_bin() const {
    return core_->recycle_bin();
}
std::size_t Simulator::file_count() const {
    return core_->file_count();
}
std::string Simulator::account_json() const {
    return core_->account_json();
}

std::string generate_account_json(const GeneratorOptions& options, std::uint64_t seed) {
    return Account::generate(options, seed).to_json();
}

} // namespace vestrel
