#include "platform/disks/BlockDevice.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/disks/TimedReader.h"
#include "support/TempDir.h"

namespace {

using namespace platform::disks;
using namespace std::chrono_literals;

TEST(BlockDevice, NamesAndRefusals) {
    EXPECT_EQ(DevicePathForKernelName("sdb"), "/dev/sdb");
    EXPECT_TRUE(IsPermissionRefusal(EACCES));
    EXPECT_TRUE(IsPermissionRefusal(EPERM));
    EXPECT_FALSE(IsPermissionRefusal(ENOENT));
    EXPECT_EQ(OpenReadOnly(nullptr), -1);
}

// A regular file is opened read only and measured by its size; it has no sector size of its own.
TEST(BlockDevice, RegularFileGeometry) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "f", std::string(12345, 'x'));
    int fd = OpenReadOnly((dir / "f").c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    std::uint64_t bytes = 0;
    EXPECT_TRUE(QuerySizeBytes(fd, &bytes));
    EXPECT_EQ(bytes, 12345u);
    std::uint32_t sector = 0;
    EXPECT_FALSE(QuerySectorSize(fd, &sector));
    ::close(fd);
    EXPECT_FALSE(QuerySizeBytes(-1, &bytes));
}

// After a time-out the reader hands out a new buffer: the stuck read's late bytes never reach it.
TEST(TimedReader, AbandonsTheBufferOfAStuckRead) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "f", std::string(4096, 'a'));
    int fd = OpenReadOnly((dir / "f").c_str());
    ASSERT_GE(fd, 0);
    std::mutex mutex;
    std::condition_variable cond;
    bool release = false;
    bool wrote = false;
    TimedReader reader(4096);
    auto stuck = [&](int, void* buffer, size_t n, std::int64_t) -> ssize_t {
        std::unique_lock<std::mutex> hold(mutex);
        cond.wait(hold, [&] { return release; });
        std::memset(buffer, 'Z', n);
        wrote = true;
        cond.notify_all();
        return static_cast<ssize_t>(n);
    };
    EXPECT_EQ(reader.Read(fd, 0, 4096, 0, 20ms, stuck).status, TimedReader::Status::TimedOut);
    EXPECT_EQ(reader.AbandonedCount(), 1u);
    TimedReader::Outcome ok = reader.Read(fd, 0, 4096, 0, 5s, ReadOnce);
    ASSERT_EQ(ok.status, TimedReader::Status::Done);
    {
        std::unique_lock<std::mutex> hold(mutex);
        release = true;
        cond.notify_all();
        cond.wait_for(hold, 5s, [&] { return wrote; });
    }
    EXPECT_TRUE(wrote);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.Data()), 4096), std::string(4096, 'a'));
    EXPECT_EQ(reader.Read(fd, 1, 4096, 0, 5s, ReadOnce).status, TimedReader::Status::Failed);  // past capacity
    ::close(fd);
}

// A read into the caller's memory keeps that memory alive while it runs: the caller may let go of it
// after a time-out, the stuck read still writes into live memory, which is freed only after it returns.
TEST(TimedReader, ReadIntoCallersMemoryOutlivesATimeOut) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "f", std::string(8192, 'b'));
    int fd = OpenReadOnly((dir / "f").c_str());
    ASSERT_GE(fd, 0);
    std::mutex mutex;
    std::condition_variable cond;
    bool release = false;
    bool wrote = false;
    std::atomic<bool> freed{false};
    TimedReader reader(4096);

    // A plain read lands in the caller's memory, not in the reader's buffer.
    std::shared_ptr<std::uint8_t[]> mine(new std::uint8_t[8192]());
    ASSERT_TRUE(reader.StartInto(fd, mine, mine.get() + 100, 8000, 0, ReadOnce));
    TimedReader::Outcome ok = reader.Wait(std::chrono::steady_clock::now() + 5s);
    ASSERT_EQ(ok.status, TimedReader::Status::Done);
    EXPECT_EQ(ok.bytes, 8000);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mine.get() + 100), 8000), std::string(8000, 'b'));
    EXPECT_EQ(mine[99], 0);
    EXPECT_FALSE(reader.StartInto(fd, nullptr, mine.get(), 10, 0, ReadOnce));

    auto stuck = [&](int, void* buffer, size_t n, std::int64_t) -> ssize_t {
        std::unique_lock<std::mutex> hold(mutex);
        cond.wait(hold, [&] { return release; });
        std::memset(buffer, 'Z', n);  // ASan: must still be live memory
        wrote = true;
        cond.notify_all();
        return static_cast<ssize_t>(n);
    };
    std::shared_ptr<std::uint8_t[]> target(new std::uint8_t[4096], [&](std::uint8_t* p) {
        delete[] p;
        freed = true;
    });
    ASSERT_TRUE(reader.StartInto(fd, target, target.get(), 4096, 0, stuck));
    EXPECT_EQ(reader.Wait(std::chrono::steady_clock::now() + 20ms).status, TimedReader::Status::TimedOut);
    target.reset();  // the owner lets go; the stuck read still holds it
    EXPECT_FALSE(freed);
    ASSERT_EQ(reader.Read(fd, 0, 4096, 0, 5s, ReadOnce).status, TimedReader::Status::Done);
    {
        std::unique_lock<std::mutex> hold(mutex);
        release = true;
        cond.notify_all();
        cond.wait_for(hold, 5s, [&] { return wrote; });
    }
    EXPECT_TRUE(wrote);
    for (int i = 0; i < 5000 && !freed; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(freed);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.Data()), 4096), std::string(4096, 'b'));
    ::close(fd);
}

// Waiting for a read costs no processor time: the owner sleeps until the worker has the result. And a
// wait ends at its deadline, not before it.
TEST(TimedReader, WaitsSleepAndKeepTheirDeadline) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "f", std::string(4096, 'c'));
    int fd = OpenReadOnly((dir / "f").c_str());
    ASSERT_GE(fd, 0);
    TimedReader reader(4096);
    // Reads of a slow disk: each takes two milliseconds, asleep in the kernel.
    auto slow = [](int f, void* buffer, size_t n, std::int64_t at) -> ssize_t {
        std::this_thread::sleep_for(2ms);
        return ReadOnce(f, buffer, n, at);
    };
    auto threadCpu = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    };
    constexpr int kReads = 200;
    std::chrono::nanoseconds waiting{0};
    for (int i = 0; i < kReads; ++i) {
        ASSERT_TRUE(reader.Start(fd, 0, 4096, 0, slow));
        const auto before = threadCpu();
        const TimedReader::Outcome got = reader.Wait(std::chrono::steady_clock::now() + 5s);
        waiting += threadCpu() - before;
        ASSERT_EQ(got.status, TimedReader::Status::Done);
        ASSERT_EQ(got.bytes, 4096);
    }
    // A wait costs a few system calls (microseconds, a hundred under a sanitizer); one that polled would
    // cost its whole read.
    EXPECT_LT(waiting, std::chrono::microseconds(500) * kReads)
        << std::chrono::duration_cast<std::chrono::microseconds>(waiting).count() << " us of processor time waiting";

    // The stuck read's state outlives the test: the abandoned worker still wakes up after it.
    struct Gate {
        std::mutex mutex;
        std::condition_variable cond;
        bool release = false;
    };
    auto gate = std::make_shared<Gate>();
    auto stuck = [gate](int, void*, size_t n, std::int64_t) -> ssize_t {
        std::unique_lock<std::mutex> hold(gate->mutex);
        gate->cond.wait(hold, [&] { return gate->release; });
        return static_cast<ssize_t>(n);
    };
    ASSERT_TRUE(reader.Start(fd, 0, 4096, 0, stuck));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(reader.Wait(start + 50ms).status, TimedReader::Status::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms) << "the wait gave up before its deadline";
    {
        std::lock_guard<std::mutex> hold(gate->mutex);
        gate->release = true;
    }
    gate->cond.notify_all();
    ::close(fd);
}

}  // namespace
