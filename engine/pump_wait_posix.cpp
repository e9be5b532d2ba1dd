// Thread messages on POSIX: a queue per thread, guarded by a mutex, with a condition variable that wakes the
// owner when a message or a quit request arrives. pump_wait sleeps on it until a steady-clock deadline.
#include "engine/pump_wait.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace vestrel {

namespace detail {
struct ThreadQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> messages;
    bool quit = false;
    bool closed = false;
};
} // namespace detail

namespace {

// Owns the calling thread's queue; closes it when the thread ends, so later posts are refused.
struct QueueOwner {
    std::shared_ptr<detail::ThreadQueue> queue;
    ~QueueOwner() {
        if (!queue)
            return;
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(queue->mutex);
            queue->closed = true;
            dropped.swap(queue->messages);
        }
    }
};

thread_local QueueOwner own_queue;

detail::ThreadQueue& calling_thread_queue() {
    if (!own_queue.queue)
        own_queue.queue = std::make_shared<detail::ThreadQueue>();
    return *own_queue.queue;
}

} // namespace

bool ThreadMessages::post(std::function<void()> message) const {
    if (!queue_ || !message)
        return false;
    {
        std::lock_guard lock(queue_->mutex);
        if (queue_->closed)
            return false;
        queue_->messages.push_back(std::move(message));
    }
    queue_->wake.notify_all();
    return true;
}

void ThreadMessages::request_quit() const {
    if (!queue_)
        return;
    {
        std::lock_guard lock(queue_->mutex);
        queue_->quit = true;
    }
    queue_->wake.notify_all();
}

bool ThreadMessages::quit_requested() const {
    if (!queue_)
        return false;
    std::lock_guard lock(queue_->mutex);
    return queue_->quit;
}

bool ThreadMessages::alive() const {
    if (!queue_)
        return false;
    std::lock_guard lock(queue_->mutex);
    return !queue_->closed;
}

ThreadMessages current_thread_messages() {
    calling_thread_queue();
    return ThreadMessages(own_queue.queue);
}

bool quit_requested() {
    auto& queue = calling_thread_queue();
    std::lock_guard lock(queue.mutex);
    return queue.quit;
}

void process_messages() {
    auto& queue = calling_thread_queue();
    for (;;) {
        std::function<void()> message;
        {
            std::lock_guard lock(queue.mutex);
            if (queue.messages.empty())
                return;
            message = std::move(queue.messages.front());
            queue.messages.pop_front();
        }
        try {
            message();
        } catch (...) {
            // A message's failure is its own; the thread goes on handling the rest.
        }
    }
}

std::int32_t pump_wait(std::int32_t amount, std::int32_t unit_given, std::int32_t unit) {
    const std::int64_t due = pump_wait_due_time(amount, unit_given, unit);
    auto& queue = calling_thread_queue();
    if (due >= 0)
        return 1; // a due time already past: the timer is signalled before any message is looked at

    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>; // 100 ns, the timer's step
    // Waits beyond a century (the "no unit" wait runs ten thousand years) have no deadline that the clock can
    // represent; they end only through a quit request.
    const std::uint64_t relative = 0 - static_cast<std::uint64_t>(due);
    const bool endless = relative > std::uint64_t{100} * 365 * 24 * 3600 * 10000000;
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(Ticks(endless ? 0 : relative));

    std::unique_lock lock(queue.mutex);
    for (;;) {
        if (queue.quit)
            return 1;
        if (!endless && std::chrono::steady_clock::now() >= deadline)
            return 1;
        if (!queue.messages.empty()) {
            lock.unlock();
            process_messages();
            lock.lock();
            continue;
        }
        if (endless)
            queue.wake.wait(lock);
        else
            queue.wake.wait_until(lock, deadline);
    }
}

} // namespace vestrel
