// The HTTP exchange over WinHTTP, synchronous, one session per exchange. The functions are bound by name
// from "Winhttp.dll" at run time (once per process); a system without them fails the platform check.
#include "web/http_transport.h"

#include "web/code_page.h"

#include <windows.h>
#include <winhttp.h>

#include <mutex>
#include <new>

namespace vestrel {

namespace {

struct WinHttpFunctions {
    decltype(&::WinHttpCheckPlatform) check_platform = nullptr;
    decltype(&::WinHttpCrackUrl) crack_url = nullptr;
    decltype(&::WinHttpOpen) open = nullptr;
    decltype(&::WinHttpConnect) connect = nullptr;
    decltype(&::WinHttpOpenRequest) open_request = nullptr;
    decltype(&::WinHttpSetTimeouts) set_timeouts = nullptr;
    decltype(&::WinHttpSetCredentials) set_credentials = nullptr;
    decltype(&::WinHttpCloseHandle) close_handle = nullptr;
    decltype(&::WinHttpSetOption) set_option = nullptr;
    decltype(&::WinHttpAddRequestHeaders) add_request_headers = nullptr;
    decltype(&::WinHttpSendRequest) send_request = nullptr;
    decltype(&::WinHttpReceiveResponse) receive_response = nullptr;
    decltype(&::WinHttpQueryDataAvailable) query_data_available = nullptr;
    decltype(&::WinHttpReadData) read_data = nullptr;
    decltype(&::WinHttpQueryHeaders) query_headers = nullptr;
    bool complete = false;
};

template <class F>
bool bind(HMODULE library, const char* name, F& target) {
    target = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return target != nullptr;
}

const WinHttpFunctions& winhttp() {
    static WinHttpFunctions functions;
    static std::once_flag once;
    std::call_once(once, [] {
        HMODULE library = LoadLibraryW(L"Winhttp.dll");
        if (library == nullptr)
            return;
        WinHttpFunctions& f = functions;
        f.complete = bind(library, "WinHttpCheckPlatform", f.check_platform) &&
                     bind(library, "WinHttpCrackUrl", f.crack_url) && bind(library, "WinHttpOpen", f.open) &&
                     bind(library, "WinHttpConnect", f.connect) &&
                     bind(library, "WinHttpOpenRequest", f.open_request) &&
                     bind(library, "WinHttpSetTimeouts", f.set_timeouts) &&
                     bind(library, "WinHttpSetCredentials", f.set_credentials) &&
                     bind(library, "WinHttpCloseHandle", f.close_handle) &&
                     bind(library, "WinHttpSetOption", f.set_option) &&
                     bind(library, "WinHttpAddRequestHeaders", f.add_request_headers) &&
                     bind(library, "WinHttpSendRequest", f.send_request) &&
                     bind(library, "WinHttpReceiveResponse", f.receive_response) &&
                     bind(library, "WinHttpQueryDataAvailable", f.query_data_available) &&
                     bind(library, "WinHttpReadData", f.read_data) &&
                     bind(library, "WinHttpQueryHeaders", f.query_headers);
    });
    return functions;
}

std::wstring wide(std::string_view utf8) {
    const std::u16string units = code_page_to_utf16(utf8, code_page_utf8);
    return std::wstring(units.begin(), units.end());
}

std::string narrow(const wchar_t* text, std::size_t length) {
    std::u16string units(length, u'\0');
    for (std::size_t i = 0; i < length; ++i)
        units[i] = static_cast<char16_t>(text[i]);
    return utf16_to_code_page(units, code_page_utf8);
}

class WinHttpTransport final : public HttpTransport {
public:
    ~WinHttpTransport() override { close(); }

    bool check_platform() override {
        const auto& f = winhttp();
        return f.complete && f.check_platform();
    }

    bool crack_url(std::string_view url, CrackedUrl& parts) override {
        const std::wstring text = wide(url);
        URL_COMPONENTS components{};
        components.dwStructSize = sizeof(components);
        components.dwSchemeLength = static_cast<DWORD>(-1);
        components.dwHostNameLength = static_cast<DWORD>(-1);
        components.dwUrlPathLength = static_cast<DWORD>(-1);
        components.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!winhttp().crack_url(text.c_str(), 0, 0, &components))
            return false;
        parts.host =
            components.lpszHostName ? narrow(components.lpszHostName, components.dwHostNameLength) : "";
        parts.port = components.nPort;
        parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
        parts.path = components.lpszUrlPath ? narrow(components.lpszUrlPath, components.dwUrlPathLength) : "";
        parts.extra =
            components.lpszExtraInfo ? narrow(components.lpszExtraInfo, components.dwExtraInfoLength) : "";
        return true;
    }

    bool open_session(ProxyAccess access, std::string_view proxy_name) override {
        const std::wstring name = wide(proxy_name);
        if (access == ProxyAccess::named)
            session_ = winhttp().open(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(),
                                      WINHTTP_NO_PROXY_BYPASS, 0);
        else
            session_ = winhttp().open(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0);
        return session_ != nullptr;
    }

    bool connect(std::string_view host, std::uint16_t port) override {
        connection_ = winhttp().connect(session_, wide(host).c_str(), port, 0);
        return connection_ != nullptr;
    }

    bool open_request(std::string_view method, std::string_view object_name, bool secure) override {
        request_ = winhttp().open_request(connection_, wide(method).c_str(), wide(object_name).c_str(),
                                          nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          secure ? WINHTTP_FLAG_SECURE : 0);
        return request_ != nullptr;
    }

    bool set_timeouts(int milliseconds) override {
        if (!winhttp().set_timeouts(request_, milliseconds, milliseconds, milliseconds, milliseconds))
            return false;
        // The wait for the response headers has a time-out of its own (90 s unless set), and some WinHTTP
        // versions apply only that one there; a stalled server must give up within the caller's time-out.
        DWORD value = static_cast<DWORD>(milliseconds);
        winhttp().set_option(request_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &value, sizeof(value));
        return true;
    }

    bool set_credentials(AuthTarget target, std::string_view user, std::string_view password) override {
        const DWORD which =
            target == AuthTarget::server ? WINHTTP_AUTH_TARGET_SERVER : WINHTTP_AUTH_TARGET_PROXY;
        return winhttp().set_credentials(request_, which, WINHTTP_AUTH_SCHEME_BASIC, wide(user).c_str(),
                                         wide(password).c_str(), nullptr);
    }

    bool set_cookie_handling(bool enabled) override {
        // With cookies, WinHTTP's own cookie handling stays on for the redirects inside this exchange (and
        // certificate revocation checks are switched on); without, it is switched off.
        DWORD value = enabled ? WINHTTP_ENABLE_SSL_REVOCATION : WINHTTP_DISABLE_COOKIES;
        return winhttp().set_option(request_,
                                    enabled ? WINHTTP_OPTION_ENABLE_FEATURE : WINHTTP_OPTION_DISABLE_FEATURE,
                                    &value, sizeof(value));
    }

    bool disable_redirects() override {
        DWORD value = WINHTTP_DISABLE_REDIRECTS;
        return winhttp().set_option(request_, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof(value));
    }

    bool add_headers(std::string_view block) override {
        const std::wstring text = wide(block);
        return winhttp().add_request_headers(request_, text.c_str(), static_cast<DWORD>(text.size()),
                                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    bool send(std::string_view body) override {
        body_ = body;
        void* data = body_.empty() ? WINHTTP_NO_REQUEST_DATA : body_.data();
        const auto length = static_cast<DWORD>(body_.size());
        return winhttp().send_request(request_, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0);
    }

    bool receive_response() override { return winhttp().receive_response(request_, nullptr); }

    std::size_t query_data_available() override {
        DWORD available = 0;
        if (!winhttp().query_data_available(request_, &available))
            return 0;
        return available;
    }

    bool read_data(std::string& body, std::size_t available) override {
        const std::size_t old_size = body.size();
        try {
            body.resize(old_size + available);
        } catch (const std::bad_alloc&) {
            return false;
        }
        DWORD read = 0;
        const bool ok =
            winhttp().read_data(request_, body.data() + old_size, static_cast<DWORD>(available), &read);
        body.resize(old_size + (ok ? read : 0));
        return ok;
    }

    bool query_raw_headers(std::string& block) override {
        DWORD size = 0;
        winhttp().query_headers(request_, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                                nullptr, &size, WINHTTP_NO_HEADER_INDEX);
        if (size == 0)
            return false;
        std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
        if (!winhttp().query_headers(request_, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                                     buffer.data(), &size, WINHTTP_NO_HEADER_INDEX))
            return false;
        block = narrow(buffer.c_str(), size / sizeof(wchar_t));
        return true;
    }

    void close() override {
        const auto& f = winhttp();
        for (HINTERNET* handle : {&request_, &connection_, &session_}) {
            if (*handle != nullptr && f.close_handle != nullptr)
                f.close_handle(*handle);
            *handle = nullptr;
        }
    }

private:
    HINTERNET session_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    std::string body_;
};

} // namespace

std::unique_ptr<HttpTransport> make_platform_transport() {
    return std::make_unique<WinHttpTransport>();
}

} // namespace vestrel
