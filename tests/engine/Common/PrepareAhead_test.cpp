#include "engine/Common/PrepareAhead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A result that counts the ones alive, so that a test sees every one destroyed.
struct Counted {
    explicit Counted(size_t k, std::atomic<int>& alive) : k(k), alive(&alive) { ++alive; }
    Counted(Counted&& other) noexcept : k(other.k), alive(std::exchange(other.alive, nullptr)) {}
    Counted& operator=(Counted&&) = delete;
    ~Counted() {
        if (alive) --*alive;
    }
    size_t k;
    std::atomic<int>* alive;
};

// Items are prepared in order on one other thread, handed in order on the caller's, and the next one
// is prepared while one is handed.
TEST(PrepareAhead, PreparesOnAnotherThreadAndHandsInOrderHere) {
    for (size_t count : {size_t(0), size_t(1), size_t(5)}) {
        SCOPED_TRACE(testing::Message() << count << " items");
        const std::thread::id caller = std::this_thread::get_id();
        std::atomic<int> alive{0};
        std::vector<size_t> prepared, handed;  // each written by one thread, read after the call
        std::vector<std::thread::id> preparers;
        std::atomic<size_t> preparedCount{0};
        bool overlapped = false;
        PrepareAhead<Counted>(
            count,
            [&](size_t k) {
                prepared.push_back(k);
                preparers.push_back(std::this_thread::get_id());
                ++preparedCount;
                return Counted(k, alive);
            },
            [&](size_t k, Counted& result) {
                EXPECT_EQ(std::this_thread::get_id(), caller);
                EXPECT_EQ(result.k, k);
                handed.push_back(k);
                // Handing the first item takes a while: the second is prepared meanwhile.
                if (k == 0 && count > 1) {
                    for (int i = 0; i < 2000 && preparedCount < 2; ++i) std::this_thread::sleep_for(1ms);
                    overlapped = preparedCount >= 2;
                }
            });
        std::vector<size_t> expected;
        for (size_t k = 0; k < count; ++k) expected.push_back(k);
        EXPECT_EQ(prepared, expected);
        EXPECT_EQ(handed, expected);
        for (std::thread::id id : preparers) EXPECT_NE(id, caller);
        EXPECT_EQ(overlapped, count > 1);
        EXPECT_EQ(alive, 0);
    }
}

// A failed preparation reaches the caller after the items before it were handed, and none after it
// is prepared; a failed hand-over stops the preparing and leaves. No result is left behind either way.
TEST(PrepareAhead, AFailureOnEitherSideEndsTheWorkAndReachesTheCaller) {
    struct Case {
        const char* name;
        size_t failPrepare;  // the item whose preparation throws (or past the end)
        size_t failHand;     // the item whose hand-over throws (or past the end)
        std::vector<size_t> handed;
    };
    const Case cases[] = {
        {"prepare of item 2 fails", 2, 99, {0, 1}},
        {"prepare of item 0 fails", 0, 99, {}},
        {"hand-over of item 1 fails", 99, 1, {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> alive{0};
        std::atomic<size_t> highestPrepared{0};
        std::vector<size_t> handed;
        EXPECT_THROW(PrepareAhead<Counted>(
                         6,
                         [&](size_t k) {
                             if (k == c.failPrepare) throw std::runtime_error("prepare");
                             highestPrepared = k;
                             return Counted(k, alive);
                         },
                         [&](size_t k, Counted&) {
                             handed.push_back(k);
                             if (k == c.failHand) throw std::runtime_error("hand");
                         }),
                     std::runtime_error);
        EXPECT_EQ(handed, c.handed);
        // Nothing is prepared past an item that failed.
        if (c.failPrepare > 0 && c.failPrepare < 6) {
            EXPECT_EQ(highestPrepared, c.failPrepare - 1);
        }
        EXPECT_EQ(alive, 0) << "every result prepared was destroyed";
    }
}

// One item ahead, never more: while item k is handed, item k + 1 may be prepared (and is: the hand-over
// of item k waits for it), item k + 2 is not, and at most those two results are alive.
TEST(PrepareAhead, PreparesOneItemAheadAndNoMore) {
    constexpr size_t kCount = 50;
    std::mutex lock;
    std::condition_variable started;
    size_t highestStarted = 0;  // the highest item whose result was made, + 1
    std::atomic<int> alive{0};
    int mostAlive = 0;
    std::vector<size_t> aheadWhileHanding;
    PrepareAhead<Counted>(
        kCount,
        [&](size_t k) {
            Counted made(k, alive);
            {
                std::lock_guard<std::mutex> hold(lock);
                highestStarted = std::max(highestStarted, k + 1);
            }
            started.notify_all();
            return made;
        },
        [&](size_t k, Counted& result) {
            EXPECT_EQ(result.k, k);
            std::unique_lock<std::mutex> hold(lock);
            // The next item is prepared while this one is handed.
            if (k + 1 < kCount) started.wait(hold, [&] { return highestStarted >= k + 2; });
            aheadWhileHanding.push_back(highestStarted - 1 - k);
            mostAlive = std::max(mostAlive, alive.load());
        });
    const std::vector<size_t> expected = [&] {
        std::vector<size_t> ahead(kCount, 1);
        ahead.back() = 0;
        return ahead;
    }();
    EXPECT_EQ(aheadWhileHanding, expected);
    EXPECT_EQ(mostAlive, 2);
    EXPECT_EQ(alive, 0);
}

}  // namespace
