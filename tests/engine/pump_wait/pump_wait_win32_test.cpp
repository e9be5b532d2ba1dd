// Windows only: pump_wait pumps the thread's Win32 queue, so window messages reach their window procedure.
#include "engine/pump_wait.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

namespace vestrel {
namespace {

std::atomic<int> window_messages{0};
constexpr UINT test_message = WM_APP + 7;

LRESULT CALLBACK test_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == test_message) {
        ++window_messages;
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

TEST(PumpWaitWin32, DispatchesWindowMessagesWhileWaiting) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = test_window_procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"vestrel.pump-wait-test";
    ASSERT_NE(RegisterClassW(&window_class), 0);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  window_class.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    window_messages = 0;
    std::thread poster([window] {
        Sleep(10);
        PostMessageW(window, test_message, 0, 0);
        Sleep(10);
        PostMessageW(window, test_message, 0, 0);
    });
    pump_wait(60, 1, 0);
    poster.join();
    EXPECT_EQ(window_messages.load(), 2);

    // process_messages does the same without waiting.
    PostMessageW(window, test_message, 0, 0);
    process_messages();
    EXPECT_EQ(window_messages.load(), 3);
    DestroyWindow(window);
    UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
}

TEST(PumpWaitWin32, ForeignThreadMessagesAreTakenFromTheQueue) {
    // A thread message that is not ours (no window) is removed and handed to DispatchMessage, which ignores
    // it.
    current_thread_messages();
    PostThreadMessageW(GetCurrentThreadId(), WM_APP + 9, 1, 2);
    process_messages();
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

} // namespace
} // namespace vestrel
