#include "engine/Common/SerialWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Tasks run one at a time, in order, on one thread that is not the caller's; no more than `depth` wait;
// Settle returns only when all have run.
TEST(SerialWorker, RunsTasksInOrderOnItsThreadWithABoundedQueue) {
    for (size_t depth : {size_t(0), size_t(1), size_t(3)}) {
        SCOPED_TRACE(depth);
        CSerialWorker worker(depth);
        std::vector<int> ran;  // written by the worker only, read after Settle
        std::atomic<int> started{0}, finished{0}, running{0}, overlap{0};
        std::atomic<int> maxAhead{0};
        std::thread::id caller = std::this_thread::get_id(), first;
        bool sameThread = true;
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(worker.Post([&, i] {
                overlap += running++ != 0;
                if (i == 0) first = std::this_thread::get_id();
                sameThread = sameThread && std::this_thread::get_id() == first && first != caller;
                ++started;
                std::this_thread::sleep_for(i % 7 == 0 ? 2ms : 50us);
                ran.push_back(i);
                --running;
                ++finished;
            }));
            // Posted but not started: at most depth (a depth of 0 acts as 1).
            const int ahead = i + 1 - started;
            if (ahead > maxAhead) maxAhead = ahead;
        }
        worker.Settle();
        EXPECT_EQ(finished, 40);
        EXPECT_EQ(overlap, 0);
        EXPECT_TRUE(sameThread);
        EXPECT_LE(maxAhead, int(std::max<size_t>(depth, 1)) + 1);
        std::vector<int> expected(40);
        for (int i = 0; i < 40; ++i) expected[size_t(i)] = i;
        EXPECT_EQ(ran, expected);
        EXPECT_FALSE(worker.Busy());
    }
}

// A task that throws: the exception reaches the caller once (at the next Post or at Settle), the tasks
// behind it are dropped, and the worker runs tasks again after Settle. Settle inside a task returns.
TEST(SerialWorker, ATaskThatThrowsReachesTheCallerOnceAndTheWorkerGoesOn) {
    CSerialWorker worker(4);
    std::atomic<int> ran{0};
    std::atomic<bool> go{false};
    ASSERT_TRUE(worker.Post([&] {
        while (!go) std::this_thread::sleep_for(100us);
        throw std::runtime_error("bad block");
    }));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(worker.Post([&] { ++ran; }));
    go = true;
    EXPECT_THROW(worker.Settle(), std::runtime_error);
    EXPECT_NO_THROW(worker.Settle());
    EXPECT_EQ(ran, 0);

    // A worker that wakes for every task: the failure shows at the next Post.
    CSerialWorker eager(1);
    bool threw = false;
    ASSERT_TRUE(eager.Post([&] { throw std::length_error("late"); }));
    try {
        while (eager.Busy()) std::this_thread::sleep_for(100us);
        eager.Post([&] { ++ran; });
    } catch (const std::length_error&) {
        threw = true;
    }
    EXPECT_TRUE(threw);
    EXPECT_NO_THROW(eager.Settle());
    EXPECT_EQ(ran, 0);

    ASSERT_TRUE(worker.Post([&] {
        worker.Settle();  // on the worker's own thread: no wait for itself
        ++ran;
    }));
    worker.Settle();
    EXPECT_EQ(ran, 1);
}

// A sleeping thread is woken once half the queue waits: fewer tasks run when Settle or the destructor
// asks for them, never later than that.
TEST(SerialWorker, SettleAndTheDestructorRunWhatWasPosted) {
    for (int count : {1, 3, 8, 20}) {
        SCOPED_TRACE(count);
        std::atomic<int> ran{0};
        {
            CSerialWorker worker(8);
            for (int i = 0; i < count; ++i)
                ASSERT_TRUE(worker.Post([&] {
                    std::this_thread::sleep_for(1ms);
                    ++ran;
                }));
            worker.Settle();
            EXPECT_EQ(ran, count);
            for (int i = 0; i < count; ++i) ASSERT_TRUE(worker.Post([&] { ++ran; }));
        }
        EXPECT_EQ(ran, 2 * count);
    }
}

}  // namespace
