#include "cli/console.h"

#include "web/encodings.h"

#include <windows.h>

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

namespace vestrel::cli {

namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        interrupted.store(true);
        return TRUE;
    }
    return FALSE;
}

std::wstring wide(const std::string& utf8) {
    std::u16string units = multibyte_to_utf16(utf8, 65001);
    if (!units.empty() && units.back() == u'\0')
        units.pop_back();
    return std::wstring(units.begin(), units.end());
}

std::string narrow(const wchar_t* text) {
    std::u16string units;
    for (; *text != 0; ++text)
        units.push_back(static_cast<char16_t>(*text));
    return utf16_to_multibyte(units, 65001);
}

} // namespace

void prepare_console() {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
}

bool is_terminal(int stream) {
    HANDLE handle = GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

std::vector<std::string> utf8_arguments(int, char**) {
    std::vector<std::string> out;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr)
        return out;
    for (int i = 1; i < count; ++i)
        out.push_back(narrow(args[i]));
    LocalFree(args);
    return out;
}

std::string environment_variable(const char* name) {
    std::wstring wide_name = wide(name);
    DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    DWORD got = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
    value.resize(got);
    return narrow(value.c_str());
}

void install_interrupt_handler() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupt_requested() {
    return interrupted.load();
}

std::FILE* open_file(const std::string& path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

bool replace_file(const std::string& from, const std::string& to) {
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string_view platform_line_end() {
    return "\r\n";
}

unsigned long process_id() {
    return GetCurrentProcessId();
}

} // namespace vestrel::cli
