// A test window skinned by the skin engine library mapped from memory, for a look (and a screenshot) under
// Wine: skin_showcase [login|donation] [seconds]. The window closes by itself after the seconds given.

#include "app/skin_attachment.h"
#include "assets/constant_data.h"
#include "loader/memory_module.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LRESULT CALLBACK showcase_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_TIMER || message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND control(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, int x, int y, int w, int h) {
    HWND c = CreateWindowExW(0, kind, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return c;
}

} // namespace

int main(int argc, char** argv) {
    const bool donation = argc > 1 && std::strcmp(argv[1], "donation") == 0;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;

    // The library's preferred range is taken first, so that it is mapped elsewhere and relocated.
    const auto image = vestrel::assets::skin_library_image();
    void* blocker = nullptr;
    if (image.size() >= 64) {
        std::uint32_t nt = 0, preferred = 0, size = 0;
        std::memcpy(&nt, image.data() + 60, 4);
        if (nt + 84 <= image.size()) {
            std::memcpy(&preferred, image.data() + nt + 52, 4);
            std::memcpy(&size, image.data() + nt + 80, 4);
            blocker = VirtualAlloc(vestrel::host_pointer(preferred), size, MEM_RESERVE, PAGE_NOACCESS);
        }
    }
    vestrel::MemoryModule skin_library;
    if (!skin_library.load(image))
        std::fprintf(stderr, "skin_showcase: the skin library did not map\n");
    if (blocker != nullptr)
        VirtualFree(blocker, 0, MEM_RELEASE);

    WNDCLASSW kind{};
    kind.lpfnWndProc = showcase_procedure;
    kind.hInstance = GetModuleHandleW(nullptr);
    kind.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    kind.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    kind.lpszClassName = L"VestrelSkinShowcase";
    RegisterClassW(&kind);
    HWND frame = CreateWindowExW(0, kind.lpszClassName, L"Vestrel", WS_POPUP | WS_VISIBLE | WS_BORDER, 40, 40,
                                 460, 300, nullptr, nullptr, kind.hInstance, nullptr);
    if (frame == nullptr) {
        std::fprintf(stderr, "skin_showcase: no window (is there a display?)\n");
        return 1;
    }
    control(frame, L"Static", L"Vestrel: duplicate files on your cloud disk", SS_LEFT, 20, 20, 400, 20);
    control(frame, L"Button", L"Settings", BS_GROUPBOX, 20, 50, 420, 130);
    control(frame, L"Static", L"Worker threads", SS_LEFT, 40, 80, 128, 20);
    control(frame, L"Edit", L"20", WS_BORDER | ES_LEFT, 170, 78, 80, 22);
    control(frame, L"Static", L"Delete delay (ms)", SS_LEFT, 40, 112, 128, 20);
    control(frame, L"Edit", L"500", WS_BORDER | ES_LEFT, 170, 110, 80, 22);
    control(frame, L"Button", L"Skip errors", BS_AUTOCHECKBOX, 40, 144, 120, 20);
    control(frame, L"Button", L"Output duplicates", BS_AUTOCHECKBOX, 170, 144, 150, 20);
    control(frame, L"Edit", L"Log lines appear here.", WS_BORDER | ES_LEFT | ES_READONLY, 20, 196, 420, 40);
    HWND start = control(frame, L"Button", L"Start", BS_DEFPUSHBUTTON, 240, 250, 95, 30);
    control(frame, L"Button", L"Exit", BS_PUSHBUTTON, 345, 250, 95, 30);

    const auto skin = donation ? vestrel::assets::donation_skin() : vestrel::assets::login_skin();
    const std::int32_t result = vestrel::attach_skin(skin_library, skin, "", 0, 0, 0);
    std::printf("skin_showcase: library at 0x%08x, attach answered %d\n",
                static_cast<unsigned>(skin_library.get_module_base()), static_cast<int>(result));
    // A window made after the attach is skinned too.
    control(frame, L"Button", L"Donate", BS_PUSHBUTTON, 20, 250, 95, 30);
    SetFocus(start);

    SetTimer(frame, 1, static_cast<UINT>(seconds * 1000), nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(frame);
    std::printf("skin_showcase: released %s\n", skin_library.unload() ? "yes" : "no");
    return 0;
}
