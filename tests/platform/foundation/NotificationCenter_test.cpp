#include <gtest/gtest.h>

#include <atomic>
#include <utility>

#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"

using brelvox::foundation::Notification;
using brelvox::foundation::NotificationCenter;
using brelvox::foundation::PumpedMainThreadQueue;

namespace {

TEST(NotificationCenter, DeliversByNameAndSenderFilter) {
    NotificationCenter centre;
    int a = 0, b = 0;
    int senderX = 0, senderY = 0;
    std::vector<std::string> seen;
    centre.AddObserver(&a, "Scan", nullptr, [&](const Notification& n) { seen.push_back("a:" + n.name); });
    centre.AddObserver(&b, "Scan", &senderX, [&](const Notification& n) { seen.push_back("b:" + n.name); });
    centre.Post("Scan", &senderY);
    centre.Post("Other", &senderX);
    centre.Post("Scan", &senderX);
    EXPECT_EQ(seen, (std::vector<std::string>{"a:Scan", "a:Scan", "b:Scan"}));
}

TEST(NotificationCenter, RemovingAnObserverRemovesAllItsNames) {
    NotificationCenter centre;
    int observer = 0;
    int calls = 0;
    centre.AddObserver(&observer, "One", nullptr, [&](const Notification&) { ++calls; });
    centre.AddObserver(&observer, "Two", nullptr, [&](const Notification&) { ++calls; });
    centre.RemoveObserver(&observer);
    centre.Post("One");
    centre.Post("Two");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(centre.ObserverCount(), 0u);
}

TEST(NotificationCenter, ObserverRemovedDuringAPostIsNotCalled) {
    NotificationCenter centre;
    int first = 0, second = 0;
    int secondCalls = 0;
    centre.AddObserver(&first, "N", nullptr, [&](const Notification&) { centre.RemoveObserver(&second); });
    centre.AddObserver(&second, "N", nullptr, [&](const Notification&) { ++secondCalls; });
    centre.Post("N");
    EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenter, WorkerPostsArriveOnTheMainThreadInOrderAfterTheCall) {
    NotificationCenter centre;
    PumpedMainThreadQueue queue;
    centre.SetMainThreadQueue(&queue);
    std::vector<int> order;
    std::thread::id deliveredOn;
    int observer = 0;
    centre.AddObserver(&observer, "Progress", nullptr, [&](const Notification& n) {
        order.push_back(std::any_cast<int>(n.userInfo));
        deliveredOn = std::this_thread::get_id();
    });
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) centre.PostOnMainThread("Progress", nullptr, i);
    });
    worker.join();
    EXPECT_TRUE(order.empty()) << "nothing is delivered inside the worker's call";
    EXPECT_EQ(queue.Pump(), 5u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
}

TEST(NotificationCenter, PostsQueuedByAnEndedCentreAreDropped) {
    PumpedMainThreadQueue queue;
    int calls = 0;
    {
        NotificationCenter centre;
        centre.SetMainThreadQueue(&queue);
        int observer = 0;
        centre.AddObserver(&observer, "Late", nullptr, [&](const Notification&) { ++calls; });
        centre.PostOnMainThread("Late");
    }
    EXPECT_EQ(queue.Pump(), 1u);
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, SeveralWorkersKeepTheirOwnOrder) {
    NotificationCenter centre;
    PumpedMainThreadQueue queue;
    centre.SetMainThreadQueue(&queue);
    constexpr int kWorkers = 4, kPosts = 200;
    std::vector<std::vector<int>> seen(kWorkers);
    int observer = 0;
    centre.AddObserver(&observer, "Step", nullptr, [&](const Notification& n) {
        const auto [worker, i] = std::any_cast<std::pair<int, int>>(n.userInfo);
        seen[worker].push_back(i);
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < kPosts; ++i) centre.PostOnMainThread("Step", nullptr, std::make_pair(w, i));
        });
    }
    // The main thread pumps while the workers post.
    size_t delivered = 0;
    while (delivered < size_t{kWorkers} * kPosts) delivered += queue.Pump();
    for (auto& t : workers) t.join();
    for (int w = 0; w < kWorkers; ++w) {
        ASSERT_EQ(seen[w].size(), size_t{kPosts});
        for (int i = 0; i < kPosts; ++i) EXPECT_EQ(seen[w][i], i);
    }
}

TEST(NotificationCenter, ObserversComeAndGoWhileWorkersPost) {
    NotificationCenter centre;
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread poster([&] {
        while (!stop.load()) centre.Post("Tick");
    });
    for (int round = 0; round < 500; ++round) {
        int observer = 0;
        centre.AddObserver(&observer, "Tick", nullptr, [&](const Notification&) { calls.fetch_add(1); });
        centre.AddObserver(&observer, "Tock", nullptr, [&](const Notification&) { calls.fetch_add(1); });
        centre.RemoveObserver(&observer, "Tock");
        centre.RemoveObserver(&observer);
    }
    stop.store(true);
    poster.join();
    EXPECT_EQ(centre.ObserverCount(), 0u);
}

}  // namespace
