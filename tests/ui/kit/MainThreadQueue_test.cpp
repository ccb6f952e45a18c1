// Work posted from worker threads runs on the GUI thread, in each thread's order; the notification
// centre's main-thread posts go through the same queue.
#include <gtest/gtest.h>

#include <QThread>
#include <QtTest/QTest>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "ui/kit/Application.h"

namespace {

using brelvox::foundation::Notification;
using brelvox::foundation::NotificationCenter;

TEST(MainThreadQueue, PostsFromWorkersArriveOnTheGuiThreadInOrder) {
    kit::QtMainThreadQueue queue;
    constexpr int kWorkers = 3;
    constexpr int kPosts = 400;
    std::vector<std::vector<int>> seen(kWorkers);
    std::atomic<int> offThread{0};
    int ran = 0;

    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < kPosts; ++i) {
                queue.Post([&, w, i] {
                    if (QThread::currentThread() != qApp->thread()) ++offThread;
                    seen[size_t(w)].push_back(i);
                    ++ran;
                });
            }
        });
    }
    for (auto& t : workers) t.join();
    EXPECT_EQ(ran, 0) << "nothing runs inside Post";
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran == kWorkers * kPosts; }, 5000));
    EXPECT_EQ(offThread.load(), 0);
    for (const auto& order : seen) {
        ASSERT_EQ(order.size(), size_t(kPosts));
        for (int i = 0; i < kPosts; ++i) ASSERT_EQ(order[size_t(i)], i);
    }
}

TEST(MainThreadQueue, TheDefaultCentresMainThreadPostsReachObserversOnTheGuiThread) {
    kit::Application::shared().installMainThreadQueue();
    std::vector<int> values;
    bool onGui = true;
    const int token = 0;
    NotificationCenter::Default().AddObserver(&token, "WorkerProgress", nullptr, [&](const Notification& n) {
        onGui = onGui && QThread::currentThread() == qApp->thread();
        values.push_back(std::any_cast<int>(n.userInfo));
    });
    std::thread worker([] {
        for (int i = 0; i < 50; ++i) NotificationCenter::Default().PostOnMainThread("WorkerProgress", nullptr, i);
    });
    worker.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return values.size() == 50; }, 5000));
    NotificationCenter::Default().RemoveObserver(&token);
    EXPECT_TRUE(onGui);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(values[size_t(i)], i);
}

TEST(MainThreadQueue, WorkStillQueuedWhenTheQueueEndsIsDropped) {
    int ran = 0;
    {
        kit::QtMainThreadQueue queue;
        queue.Post([&] { ++ran; });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 0);
}

}  // namespace
