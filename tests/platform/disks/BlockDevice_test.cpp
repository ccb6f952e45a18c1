#include "platform/disks/BlockDevice.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <mutex>

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

}  // namespace
