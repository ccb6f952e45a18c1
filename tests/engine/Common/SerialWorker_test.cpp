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
    for (auto [depth, spin] : {std::pair{size_t(0), 0us}, std::pair{size_t(1), 0us}, std::pair{size_t(3), 0us},
                               std::pair{size_t(3), 3000us}}) {
        SCOPED_TRACE(testing::Message() << "depth " << depth << ", spin " << spin.count() << " us");
        CSerialWorker worker(depth, spin);
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
    for (auto [count, spin] : {std::pair{1, 0us}, std::pair{3, 0us}, std::pair{8, 0us}, std::pair{20, 0us},
                               std::pair{3, 50000us}}) {
        SCOPED_TRACE(testing::Message() << count << " tasks, spin " << spin.count() << " us");
        std::atomic<int> ran{0};
        {
            CSerialWorker worker(8, spin);
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

// A thread that spins looks for the next task before it sleeps: a task posted meanwhile starts at once,
// though no Post woke the thread (one task of a queue of 8); one posted after the spin wakes the thread.
// A thread without a spin leaves a lone task to Settle. The destructor stops a spinning thread without
// waiting out its spin.
TEST(SerialWorker, ASpinningThreadStartsATaskPostedMeanwhile) {
    auto startsAlone = [](std::chrono::microseconds spin, std::chrono::milliseconds gap) {
        CSerialWorker worker(8, spin);
        std::atomic<int> ran{0};
        EXPECT_TRUE(worker.Post([&] { ++ran; }));
        worker.Settle();
        std::this_thread::sleep_for(gap);
        EXPECT_TRUE(worker.Post([&] { ++ran; }));
        const auto until = std::chrono::steady_clock::now() + 500ms;
        while (ran < 2 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(100us);
        const bool alone = ran == 2;
        worker.Settle();
        EXPECT_EQ(ran, 2);
        return alone;
    };
    EXPECT_TRUE(startsAlone(std::chrono::seconds(5), 2ms));
    EXPECT_TRUE(startsAlone(1ms, 50ms)) << "asleep after its spin";
    EXPECT_FALSE(startsAlone(0us, 2ms));

    const auto start = std::chrono::steady_clock::now();
    {
        CSerialWorker spinning(2, std::chrono::seconds(30));
        EXPECT_TRUE(spinning.Post([] {}));
        spinning.Settle();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

// A task that destroys its own worker ends the process at once, with the reason on standard error,
// instead of leaving the thread in the destroyed object.
TEST(SerialWorkerDeathTest, ATaskThatDestroysItsOwnWorkerEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* worker = new CSerialWorker(2);
            worker->Post([worker] { delete worker; });
            worker->Settle();
        },
        "destroyed by one of its own tasks");
}

}  // namespace
