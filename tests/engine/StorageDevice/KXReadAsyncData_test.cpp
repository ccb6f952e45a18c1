#include "engine/StorageDevice/KXReadAsyncData.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/StorageDevice/DeviceTestSupport.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
constexpr i64 MiB = 1024 * 1024;

// Restores the plain read path after each test.
class KXRead : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "image.bin";
        devtest::WritePatternFile(image, 10 * MiB);
        fd = ::open(image.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        kxread::SetChunkReader({});
        kxread::SetChunkTimeout(kxread::kDefaultChunkTimeout);
        ::close(fd);
    }
    testsupport::TempDir dir;
    std::filesystem::path image;
    int fd = -1;
};

TEST_F(KXRead, ReadsExactBytesAcrossChunks) {
    std::vector<u8> buffer(10 * MiB - 4096);
    ASSERT_EQ(KXReadAsyncData(buffer.data(), fd, 4096, static_cast<i64>(buffer.size())),
              static_cast<i64>(buffer.size()));
    EXPECT_EQ(buffer, devtest::DdRange(image, 4096, buffer.size()));
}

TEST_F(KXRead, FailedMiddleChunkIsZeroAndTheRestIsRead) {
    // Every piece that belongs to the second 4 MiB chunk fails.
    kxread::SetChunkReader([](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        if (off >= 4 * MiB && off < 8 * MiB) {
            errno = EIO;
            return -1;
        }
        return platform::disks::ReadOnce(f, b, n, off);
    });
    std::vector<u8> buffer(10 * MiB, 0xCC);
    EXPECT_EQ(KXReadAsyncData(buffer.data(), fd, 0, 10 * MiB), 0);
    const std::vector<u8> expected = devtest::DdRange(image, 0, 10 * MiB);
    for (i64 i = 0; i < 10 * MiB; i += 4093) {
        const bool inFailedChunk = i >= 4 * MiB && i < 8 * MiB;
        ASSERT_EQ(buffer[i], inFailedChunk ? 0 : expected[i]) << "offset " << i;
    }
}

TEST_F(KXRead, ShortReadLeavesZerosAfterItAndSucceeds) {
    // The read at 1 MiB stops after 1000 bytes, as at the end of a file.
    kxread::SetChunkReader([](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        if (off == 1 * MiB) return platform::disks::ReadOnce(f, b, 1000, off);
        return platform::disks::ReadOnce(f, b, n, off);
    });
    std::vector<u8> buffer(4 * MiB, 0xCC);
    EXPECT_EQ(KXReadAsyncData(buffer.data(), fd, 0, 4 * MiB), 4 * MiB);
    const std::vector<u8> expected = devtest::DdRange(image, 0, 4 * MiB);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + MiB + 1000, expected.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + MiB + 1000, buffer.end(), [](u8 b) { return b == 0; }));
}

TEST_F(KXRead, ReadPastTheEndOfAFileFailsWithZeros) {
    std::vector<u8> buffer(8192, 0xCC);
    EXPECT_EQ(KXReadAsyncData(buffer.data(), fd, 10 * MiB, 8192), 0);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](u8 b) { return b == 0; }));
}

TEST_F(KXRead, RefusesBadArguments) {
    u8 byte = 0;
    struct Case {
        void* buffer;
        int fd;
        i64 offset;
        i64 length;
    } cases[] = {
        {nullptr, fd, 0, 1}, {&byte, -1, 0, 1}, {&byte, fd, -1, 1}, {&byte, fd, 0, -1},
        {&byte, fd, 0, 0},   {&byte, fd, std::numeric_limits<i64>::max(), 2},
    };
    for (const Case& c : cases) EXPECT_EQ(KXReadAsyncData(c.buffer, c.fd, c.offset, c.length), 0);
}

// A read that never returns in time: the caller gets zeros, and when the read finally writes its bytes
// they land in the abandoned buffer, never in what a later read returns.
TEST_F(KXRead, TimedOutReadNeverCorruptsALaterRead) {
    std::mutex mutex;
    std::condition_variable cond;
    bool release = false;
    std::atomic<bool> stuckReturned{false};
    kxread::SetChunkTimeout(50ms);
    kxread::SetChunkReader([&](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        if (off != 0) return platform::disks::ReadOnce(f, b, n, off);
        {
            std::unique_lock<std::mutex> hold(mutex);
            cond.wait(hold, [&] { return release; });
        }
        std::memset(b, 0xEE, n);  // the late bytes of the stuck read
        stuckReturned = true;      // the last touch of the test's objects
        return static_cast<ssize_t>(n);
    });
    const size_t abandonedBefore = kxread::AbandonedBufferCount();
    std::vector<u8> first(MiB, 0xCC);
    EXPECT_EQ(KXReadAsyncData(first.data(), fd, 0, MiB), 0);
    EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](u8 b) { return b == 0; }));
    EXPECT_EQ(kxread::AbandonedBufferCount(), abandonedBefore + 1);

    // A later read of other bytes, with the stuck read let go while it is being copied out.
    std::thread releaser([&] {
        std::lock_guard<std::mutex> hold(mutex);
        release = true;
        cond.notify_all();
    });
    std::vector<u8> second(4 * MiB);
    for (int round = 0; round < 4; ++round) {
        ASSERT_EQ(KXReadAsyncData(second.data(), fd, 2 * MiB, 4 * MiB), 4 * MiB);
        ASSERT_EQ(second, devtest::DdRange(image, 2 * MiB, 4 * MiB));
    }
    releaser.join();
    for (int i = 0; i < 1000 && !stuckReturned; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(stuckReturned);
    ASSERT_EQ(KXReadAsyncData(second.data(), fd, 2 * MiB, 4 * MiB), 4 * MiB);
    EXPECT_EQ(second, devtest::DdRange(image, 2 * MiB, 4 * MiB));
}

// The same with a real read that cannot be cancelled: a socket with no data blocks in the kernel.
TEST_F(KXRead, UncancellableSocketReadTimesOutAndIsRetired) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    kxread::SetChunkTimeout(50ms);
    std::vector<u8> buffer(64 * 1024, 0xCC);
    EXPECT_EQ(KXReadAsyncData(buffer.data(), pair[0], 0, static_cast<i64>(buffer.size())), 0);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](u8 b) { return b == 0; }));
    // The stuck read now receives bytes; they must not show up in the next read of the image.
    const std::string late(64 * 1024, 'L');
    ASSERT_EQ(::write(pair[1], late.data(), late.size()), static_cast<ssize_t>(late.size()));
    std::vector<u8> next(MiB);
    ASSERT_EQ(KXReadAsyncData(next.data(), fd, 0, MiB), MiB);
    EXPECT_EQ(next, devtest::DdRange(image, 0, MiB));
    // pair[0] stays open: the abandoned read may still be using it when the test ends.
    ::close(pair[1]);
}

}  // namespace
