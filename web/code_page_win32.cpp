// Code pages through MultiByteToWideChar and WideCharToMultiByte.
#include "web/code_page.h"

#include <windows.h>

namespace vestrel {

namespace {

UINT windows_code_page(unsigned code_page) {
    return code_page == code_page_working ? CP_UTF8 : code_page;
}

} // namespace

bool code_page_supported(unsigned code_page) {
    return IsValidCodePage(windows_code_page(code_page)) != 0;
}

std::u16string code_page_to_utf16(std::string_view bytes, unsigned code_page) {
    if (bytes.empty() || bytes.size() > 0x7FFFFFFF)
        return {};
    UINT cp = windows_code_page(code_page);
    int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0)
        return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

std::string utf16_to_code_page(std::u16string_view units, unsigned code_page, bool composite_check) {
    if (units.empty() || units.size() > 0x3FFFFFFF)
        return {};
    UINT cp = windows_code_page(code_page);
    // UTF-8 and a few other code pages take no flags; the composite check is only for the DBCS pages.
    DWORD flags = (composite_check && cp != CP_UTF8) ? WC_COMPOSITECHECK : 0;
    auto src = reinterpret_cast<const wchar_t*>(units.data());
    int n = WideCharToMultiByte(cp, flags, src, static_cast<int>(units.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(cp, flags, src, static_cast<int>(units.size()), out.data(), n, nullptr, nullptr);
    return out;
}

} // namespace vestrel
