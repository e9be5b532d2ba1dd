#pragma once
// Thread messages and the message-pumping wait.
//
// Every thread has a message queue. Other threads post messages to it: a callable to run on that thread, or a
// quit request. A thread handles the messages waiting in its own queue with process_messages(), and waits
// with pump_wait(), which keeps handling them while it waits. Engine threads never sleep in any other way, so
// a run can be stopped by asking each of its threads to quit.
//
// Windows: the queue is the thread's own Win32 message queue; process_messages() also translates and
// dispatches window messages (PeekMessage / TranslateMessage / DispatchMessage), and pump_wait() sleeps in
// MsgWaitForMultipleObjects on a waitable timer. Linux: a queue per thread with a condition variable and a
// steady-clock deadline. Neither uses processor time between messages.
//
// Stopping a run (for the engine):
//   - each thread that must be stoppable takes its handle with current_thread_messages() and hands it to the
//     run (a copy of a ThreadMessages may be kept and used from any thread);
//   - the run calls request_quit() on each handle: the thread's pump_wait() in progress returns at once, and
//     every later pump_wait() on that thread returns at once without waiting; the thread reads
//     quit_requested() after a wait to learn that it should give up;
//   - a quit request is sticky (there is no undo) and does not stop message handling: process_messages() and
//     pump_wait() still run messages posted before or after it;
//   - a quit request does not interrupt an http_request() in progress: the exchange ends within its time-out
//     and the thread sees the request at its next wait.

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

namespace vestrel {

namespace detail {
struct ThreadQueue;
}

// A handle to one thread's message queue. Copyable and cheap; every operation may be called from any thread.
// An empty handle (default-constructed) refuses posts and ignores quit requests.
class ThreadMessages {
public:
    ThreadMessages() = default;

    // Queues `message` to run on the target thread, in posting order, the next time that thread handles its
    // messages. False when the handle is empty, the thread has ended, or the system refused the message; the
    // message is then dropped. An exception thrown by a message is caught and dropped where it runs.
    bool post(std::function<void()> message) const;

    // Asks the thread to quit (see the header's comment). Safe to call more than once and after the thread
    // ended.
    void request_quit() const;

    // Whether request_quit() was called on this thread's queue.
    bool quit_requested() const;

    // False for an empty handle and once the thread has ended.
    bool alive() const;

    explicit operator bool() const { return static_cast<bool>(queue_); }
    friend bool operator==(const ThreadMessages& a, const ThreadMessages& b) { return a.queue_ == b.queue_; }

private:
    explicit ThreadMessages(std::shared_ptr<detail::ThreadQueue> queue) : queue_(std::move(queue)) {}
    std::shared_ptr<detail::ThreadQueue> queue_;
    friend ThreadMessages current_thread_messages();
};

// The calling thread's queue (made on first use: on Windows this also makes the thread's Win32 queue, so that
// posts to it cannot fail for want of one).
ThreadMessages current_thread_messages();

// Whether a quit was requested for the calling thread.
bool quit_requested();

// Handles every message waiting in the calling thread's queue, including those posted meanwhile, and returns
// when the queue is empty.
void process_messages();

// Waits `amount` units, handling the calling thread's messages meanwhile, and returns 1 in every case.
// `unit`: 0 milliseconds, 1 seconds, 2 minutes, 3 hours; any other value is that many milliseconds per unit.
// `unit_given` says whether the caller passes a unit; when it and `unit` are both 0 the wait is 18000000
// units of 18000000 ms (it does not end in practice, except through a quit request). An amount of 0 or less
// returns at once. The engine's waits are all pump_wait(ms, 1, 0).
std::int32_t pump_wait(std::int32_t amount, std::int32_t unit_given, std::int32_t unit);

// The due time of pump_wait(amount, unit_given, unit) in 100-nanosecond steps, as the waitable timer takes
// it: negative is relative to now; 0 or more is an absolute time already past, so the wait ends at once.
// Products beyond the 64-bit range saturate instead of overflowing.
inline std::int64_t pump_wait_due_time(std::int32_t amount, std::int32_t unit_given, std::int32_t unit) {
    double per_unit;
    switch (unit) {
    case 0:
        per_unit = 1;
        break;
    case 1:
        per_unit = 1000;
        break;
    case 2:
        per_unit = 60000;
        break;
    case 3:
        per_unit = 3600000;
        break;
    default:
        per_unit = unit;
        break;
    }
    double units = amount;
    if (unit_given == 0 && unit == 0) {
        units = 18000000;
        per_unit = 18000000;
    }
    const double due = units * per_unit * -10000.0;
    // 2^63 is exact in a double; anything at or past it does not fit in a signed 64-bit integer.
    constexpr double limit = 9223372036854775808.0;
    if (due <= -limit)
        return std::numeric_limits<std::int64_t>::min();
    if (due >= limit)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(due);
}

} // namespace vestrel
