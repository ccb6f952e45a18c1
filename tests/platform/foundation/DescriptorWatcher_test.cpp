#include "platform/foundation/DescriptorWatcher.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

using brelvox::foundation::PolledDescriptorWatcher;

namespace {

struct EventFd {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ~EventFd() { close(fd); }
    void Signal() const {
        const std::uint64_t one = 1;
        ASSERT_EQ(write(fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    }
    void Drain() const {
        std::uint64_t count = 0;
        (void)!read(fd, &count, sizeof count);
    }
};

TEST(PolledDescriptorWatcher, RunsTheHandlersOfReadableDescriptorsInWatchOrder) {
    EventFd a, b, idle;
    PolledDescriptorWatcher watcher;
    std::vector<std::string> calls;
    ASSERT_NE(watcher.Watch(b.fd, [&] { calls.push_back("b"), b.Drain(); }), 0u);
    ASSERT_NE(watcher.Watch(a.fd, [&] { calls.push_back("a"), a.Drain(); }), 0u);
    ASSERT_NE(watcher.Watch(idle.fd, [&] { calls.push_back("idle"); }), 0u);
    EXPECT_EQ(watcher.Pump(), 0u);  // nothing readable: no handler runs
    a.Signal();
    b.Signal();
    EXPECT_EQ(watcher.Pump(), 2u);
    EXPECT_EQ(calls, (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(watcher.Pump(), 0u);  // the handlers read what waited
}

TEST(PolledDescriptorWatcher, RefusesBadWatchesAndStopsAWatchEvenFromInsideItsHandler) {
    PolledDescriptorWatcher watcher;
    EXPECT_EQ(watcher.Watch(-1, [] {}), 0u);
    EventFd fd;
    EXPECT_EQ(watcher.Watch(fd.fd, nullptr), 0u);

    int first = 0, second = 0;
    std::uint64_t secondToken = 0;
    const std::uint64_t firstToken = watcher.Watch(fd.fd, [&] {
        ++first;
        watcher.Unwatch(secondToken);  // both are readable: the second must not run after this
    });
    secondToken = watcher.Watch(fd.fd, [&] { ++second; });
    fd.Signal();
    EXPECT_EQ(watcher.Pump(), 1u);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    watcher.Unwatch(firstToken);
    watcher.Unwatch(firstToken);  // twice is harmless
    watcher.Unwatch(12345);
    EXPECT_EQ(watcher.WatchCount(), 0u);
    EXPECT_EQ(watcher.Pump(), 0u);  // still readable, but nobody watches
}

}  // namespace
