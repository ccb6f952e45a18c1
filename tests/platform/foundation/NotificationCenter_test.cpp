#include <gtest/gtest.h>

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

}  // namespace
