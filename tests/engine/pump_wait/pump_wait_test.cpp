#include "engine/pump_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <thread>
#include <vector>

namespace vestrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds elapsed_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

TEST(PumpWaitDueTime, UnitsAndTheNoUnitCase) {
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    struct Case {
        std::int32_t amount, unit_given, unit;
        std::int64_t due;
    };
    const Case cases[] = {
        {50, 1, 0, -500000},
        {2, 1, 1, -20000000},
        {1, 1, 2, -600000000},
        {1, 1, 3, -36000000000},
        {3, 1, 7, -210000},              // any other unit is that many milliseconds
        {3, 0, 7, -210000},              // a unit of its own counts even when not marked as given
        {0, 1, 0, 0},                    // already due
        {-5, 1, 0, 50000},               // positive: an absolute time long past
        {3, 1, -7, 210000},              // a negative unit gives a past time as well
        {5, 0, 0, -3240000000000000000}, // no unit: 18000000 units of 18000000 ms, whatever the amount
        {-5, 0, 0, -3240000000000000000},
        {std::numeric_limits<std::int32_t>::max(), 1, 3, lowest}, // beyond 64 bits: saturates
        {std::numeric_limits<std::int32_t>::min(), 1, 3, std::numeric_limits<std::int64_t>::max()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pump_wait_due_time(c.amount, c.unit_given, c.unit), c.due)
            << c.amount << ", " << c.unit_given << ", " << c.unit;
}

TEST(PumpWait, HandlesMessagesPostedDuringTheWaitBeforeReturning) {
    auto self = current_thread_messages();
    const auto waiting_thread = std::this_thread::get_id();
    std::atomic<int> handled{0};
    std::atomic<bool> on_waiting_thread{true};
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(8ms);
            EXPECT_TRUE(self.post([&] {
                if (std::this_thread::get_id() != waiting_thread)
                    on_waiting_thread = false;
                ++handled;
            }));
        }
    });
    const auto start = Clock::now();
    EXPECT_EQ(pump_wait(50, 1, 0), 1);
    const auto took = elapsed_since(start);
    poster.join();
    EXPECT_EQ(handled.load(), 3);
    EXPECT_TRUE(on_waiting_thread.load());
    EXPECT_GE(took, 45ms);
    EXPECT_LT(took, 5000ms);
}

TEST(PumpWait, WaitsTheAmountInItsUnit) {
    struct Case {
        std::int32_t amount, unit_given, unit;
        std::chrono::milliseconds at_least, below;
    };
    // Upper bounds are loose: they only catch a wait in the wrong unit, not scheduling delays.
    const Case cases[] = {
        {3, 1, 7, 19ms, 1000ms},
        {2, 1, 1, 1950ms, 6000ms},
        {0, 1, 0, 0ms, 500ms},
        {-5, 1, 0, 0ms, 500ms},
        {std::numeric_limits<std::int32_t>::min(), 1, 0, 0ms, 500ms},
    };
    for (const auto& c : cases) {
        const auto start = Clock::now();
        EXPECT_EQ(pump_wait(c.amount, c.unit_given, c.unit), 1);
        const auto took = elapsed_since(start);
        EXPECT_GE(took, c.at_least) << c.amount << ", " << c.unit;
        EXPECT_LT(took, c.below) << c.amount << ", " << c.unit;
    }
}

TEST(ProcessMessages, RunsWaitingMessagesInOrderAndOnlyTheCallingThreads) {
    std::vector<int> order;
    auto self = current_thread_messages();
    ASSERT_TRUE(self.post([&] { order.push_back(1); }));
    ASSERT_TRUE(self.post([&] {
        order.push_back(2);
        // Posted while handling: still handled before process_messages returns.
        self.post([&] { order.push_back(3); });
    }));

    // Another thread's process_messages does not touch this queue.
    std::thread([] { process_messages(); }).join();
    EXPECT_TRUE(order.empty());

    process_messages();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    process_messages(); // empty queue: returns at once
    EXPECT_EQ(order.size(), 3u);
}

TEST(ProcessMessages, AThrowingMessageDoesNotStopTheOthers) {
    auto self = current_thread_messages();
    int after = 0;
    self.post([] { throw 42; });
    self.post([&] { ++after; });
    EXPECT_NO_THROW(process_messages());
    EXPECT_EQ(after, 1);
}

TEST(ThreadMessages, EmptyHandlesAndEndedThreadsRefusePosts) {
    ThreadMessages empty;
    EXPECT_FALSE(empty.post([] {}));
    EXPECT_FALSE(empty.alive());
    empty.request_quit(); // ignored
    EXPECT_FALSE(empty.quit_requested());

    ThreadMessages ended;
    std::thread([&] { ended = current_thread_messages(); }).join();
    ASSERT_TRUE(ended);
    EXPECT_FALSE(ended.alive());
    EXPECT_FALSE(ended.post([] { ADD_FAILURE() << "ran on an ended thread"; }));
    ended.request_quit(); // harmless

    EXPECT_TRUE(current_thread_messages().alive());
    EXPECT_TRUE(current_thread_messages() == current_thread_messages());
}

TEST(QuitRequest, EndsTheCurrentWaitAndEveryLaterOne) {
    std::promise<ThreadMessages> handle;
    std::promise<void> posted_after_quit;
    std::atomic<int> handled{0};
    auto worker = std::async(std::launch::async, [&] {
        const auto start = Clock::now();
        handle.set_value(current_thread_messages());
        EXPECT_FALSE(quit_requested());
        pump_wait(0, 0, 0); // the endless wait
        const auto first = elapsed_since(start);
        EXPECT_TRUE(quit_requested());
        const auto later = Clock::now();
        pump_wait(10, 1, 1); // ten seconds, but the quit stands
        const auto second = elapsed_since(later);
        posted_after_quit.get_future().wait();
        process_messages(); // messages are still handled after a quit
        return std::pair{first, second};
    });
    auto target = handle.get_future().get();
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(target.post([&] { ++handled; })); // handled during the endless wait
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(target.quit_requested());
    target.request_quit();
    EXPECT_TRUE(target.post([&] { ++handled; }));
    posted_after_quit.set_value();
    ASSERT_EQ(worker.wait_for(5s), std::future_status::ready) << "the quit request did not end the wait";
    const auto [first, second] = worker.get();
    EXPECT_GE(first, 55ms);
    EXPECT_LT(second, 1000ms);
    EXPECT_EQ(handled.load(), 2);
    EXPECT_TRUE(target.quit_requested());
}

TEST(QuitRequest, ReachesManyWaitingThreadsAtOnce) {
    constexpr int threads = 20;
    std::vector<std::promise<ThreadMessages>> handles(threads);
    std::vector<std::thread> waiters;
    std::atomic<int> returned{0};
    for (int i = 0; i < threads; ++i)
        waiters.emplace_back([&, i] {
            handles[i].set_value(current_thread_messages());
            while (!quit_requested())
                pump_wait(100, 1, 0); // the engine's polling loop
            ++returned;
        });
    std::vector<ThreadMessages> targets;
    for (auto& h : handles)
        targets.push_back(h.get_future().get());
    for (auto& t : targets)
        t.request_quit();
    for (auto& w : waiters)
        w.join();
    EXPECT_EQ(returned.load(), threads);
}

} // namespace
} // namespace vestrel
