// Thread messages on Windows: the thread's own Win32 message queue. A posted callable travels as a thread
// message of a registered message number; everything else in the queue is translated and dispatched as usual.
// pump_wait waits on a waitable timer with MsgWaitForMultipleObjects; a quit request is a manual-reset event
// waited on beside the timer, so it stays signalled for every later wait.
#include "engine/pump_wait.h"

#include <windows.h>

#include <mutex>

namespace vestrel {

namespace detail {
struct ThreadQueue {
    DWORD thread_id = 0;
    HANDLE quit_event = nullptr;
    std::mutex mutex; // guards `closed` against a post racing the thread's end
    bool closed = false;
    ~ThreadQueue() {
        if (quit_event != nullptr)
            CloseHandle(quit_event);
    }
};
} // namespace detail

namespace {

using Message = std::function<void()>;

// Marks our own thread messages apart from any the program or the system posts.
constexpr WPARAM message_tag = 0x7665u; // "ve"

UINT run_message() {
    static const UINT id = [] {
        const UINT registered = RegisterWindowMessageW(L"vestrel.thread-message");
        return registered != 0 ? registered : static_cast<UINT>(WM_APP + 0x3761);
    }();
    return id;
}

// The calling thread's queue lives in a fiber-local slot whose callback runs when the thread ends. (A C++
// thread_local with a destructor is not safe here: with mingw's emulated TLS its storage can be freed before
// the destructor runs.)
void WINAPI release_queue(void* data) {
    auto* queue = static_cast<std::shared_ptr<detail::ThreadQueue>*>(data);
    if (queue == nullptr)
        return;
    {
        std::lock_guard lock((*queue)->mutex);
        (*queue)->closed = true;
    }
    // Free the callables still queued; the thread's Win32 queue goes with the thread.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, run_message(), run_message(), PM_REMOVE))
        if (msg.hwnd == nullptr && msg.wParam == message_tag)
            delete reinterpret_cast<Message*>(msg.lParam);
    delete queue;
}

DWORD queue_slot() {
    static const DWORD slot = FlsAlloc(&release_queue);
    return slot;
}

const std::shared_ptr<detail::ThreadQueue>& calling_thread_queue_pointer() {
    // Used only when no fiber-local slot can be had: the queue then lives on unowned (it is never closed),
    // which costs a little memory per thread.
    static thread_local std::shared_ptr<detail::ThreadQueue>* unowned = nullptr;
    if (unowned != nullptr)
        return *unowned;
    const DWORD slot = queue_slot();
    if (slot != FLS_OUT_OF_INDEXES) {
        if (auto* held = static_cast<std::shared_ptr<detail::ThreadQueue>*>(FlsGetValue(slot)))
            return *held;
    }
    auto queue = std::make_shared<detail::ThreadQueue>();
    queue->thread_id = GetCurrentThreadId();
    queue->quit_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A thread has no Win32 queue until it calls a window function; peeking makes one, so that
    // PostThreadMessage to it succeeds from now on.
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    auto* held = new std::shared_ptr<detail::ThreadQueue>(std::move(queue));
    if (slot == FLS_OUT_OF_INDEXES || !FlsSetValue(slot, held))
        unowned = held;
    return *held;
}

detail::ThreadQueue& calling_thread_queue() {
    return *calling_thread_queue_pointer();
}

} // namespace

bool ThreadMessages::post(std::function<void()> message) const {
    if (!queue_ || !message)
        return false;
    std::lock_guard lock(queue_->mutex);
    if (queue_->closed)
        return false;
    auto* boxed = new Message(std::move(message));
    if (!PostThreadMessageW(queue_->thread_id, run_message(), message_tag, reinterpret_cast<LPARAM>(boxed))) {
        delete boxed;
        return false;
    }
    return true;
}

void ThreadMessages::request_quit() const {
    if (queue_ && queue_->quit_event != nullptr)
        SetEvent(queue_->quit_event);
}

bool ThreadMessages::quit_requested() const {
    return queue_ && queue_->quit_event != nullptr &&
           WaitForSingleObject(queue_->quit_event, 0) == WAIT_OBJECT_0;
}

bool ThreadMessages::alive() const {
    if (!queue_)
        return false;
    std::lock_guard lock(queue_->mutex);
    return !queue_->closed;
}

ThreadMessages current_thread_messages() {
    return ThreadMessages(calling_thread_queue_pointer());
}

bool quit_requested() {
    return current_thread_messages().quit_requested();
}

void process_messages() {
    calling_thread_queue();
    const UINT run = run_message();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == nullptr && msg.message == run && msg.wParam == message_tag) {
            std::unique_ptr<Message> message(reinterpret_cast<Message*>(msg.lParam));
            try {
                (*message)();
            } catch (...) {
                // A message's failure is its own; the thread goes on handling the rest.
            }
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

std::int32_t pump_wait(std::int32_t amount, std::int32_t unit_given, std::int32_t unit) {
    auto& queue = calling_thread_queue();
    LARGE_INTEGER due;
    due.QuadPart = pump_wait_due_time(amount, unit_given, unit);

    HANDLE timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
    if (timer == nullptr)
        return 1;
    if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
        CloseHandle(timer);
        return 1;
    }
    HANDLE handles[2] = {timer, queue.quit_event};
    const DWORD count = queue.quit_event != nullptr ? 2 : 1;
    constexpr DWORD all_input = 255; // every kind of input, posted and sent messages included
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, all_input);
        if (result == WAIT_OBJECT_0 + count) {
            process_messages();
            continue;
        }
        // The timer fired, a quit was requested, or the wait itself failed: in each case waiting on would
        // not end well, so return.
        break;
    }
    CloseHandle(timer);
    return 1;
}

} // namespace vestrel
