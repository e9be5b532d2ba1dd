#pragma once
// Which system the tests run on, where a test must know it.
#ifdef _WIN32
#include <windows.h>
#endif

namespace vestrel::testing {

// True for a Windows build running under Wine, whose WinHTTP lacks a few features of the real one.
inline bool running_under_wine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace vestrel::testing
