#include "ui/kit/DescriptorWatcher.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <thread>

#include "bridge/Device/USBNotifier.h"
#include "bridge/UIController/UINotifications.h"
#include "support/FakeBlockEventSource.h"

namespace {

using testsupport::FakeBlockEventSource;

// Runs the event loop until done() or a bound passes.
template <typename Done>
bool Spin(Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(QtDescriptorWatcher, DeliversMediaEventsOnTheGuiThreadAndStopsCleanly) {
    kit::QtDescriptorWatcher watcher;
    EXPECT_EQ(watcher.Watch(-1, [] {}), 0u);
    brelvox::foundation::NotificationCenter centre;
    std::vector<std::string> paths;
    std::vector<std::thread::id> threads;
    centre.AddObserver(&paths, ui_notification::kRefreshAttachDevice, nullptr, [&](const auto& note) {
        threads.push_back(std::this_thread::get_id());
        for (const auto& record : std::any_cast<usb_notifier::AttachRecords>(note.userInfo))
            paths.push_back(record.VolumePath);
    });
    FakeBlockEventSource source;
    {
        usb_notifier::USBNotifier notifier(source, watcher, centre, false);
        ASSERT_TRUE(notifier.Register());
        EXPECT_EQ(watcher.WatchCount(), 1u);
        std::thread kernel([&] {
            for (int i = 0; i < 100; ++i) source.Push(FakeBlockEventSource::Disk("add", "sd" + std::to_string(i), 512));
        });
        ASSERT_TRUE(Spin([&] { return paths.size() == 100; })) << paths.size() << " of 100 arrivals";
        kernel.join();
    }
    EXPECT_EQ(watcher.WatchCount(), 0u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(paths[i], "/dev/sd" + std::to_string(i));
    for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
    // After the watch ended a readable descriptor calls nothing.
    source.Push(FakeBlockEventSource::Disk("add", "sdz", 512));
    Spin([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(paths.size(), 100u);
}

}  // namespace
