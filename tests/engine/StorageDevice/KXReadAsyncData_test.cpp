#include "engine/StorageDevice/KXReadAsyncData.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/StorageDevice/DeviceTestSupport.h"
#include "support/StuckRead.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;
constexpr i64 MiB = 1024 * 1024;
// The time-out of a read that a test holds up on purpose.
constexpr std::chrono::milliseconds kStuckReadTimeout{1000};

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
        {nullptr, fd, 0, 1}, {&byte, -1, 0, 1}, {&byte, fd, -1, 1},
        {&byte, fd, 0, -1},  {&byte, fd, 0, 0}, {&byte, fd, std::numeric_limits<i64>::max(), 2},
    };
    for (const Case& c : cases) EXPECT_EQ(KXReadAsyncData(c.buffer, c.fd, c.offset, c.length), 0);
}

// A read that never returns in time: the caller gets zeros, and when the read finally writes its bytes
// they land in the abandoned buffer, never in what a later read returns.
TEST_F(KXRead, TimedOutReadNeverCorruptsALaterRead) {
    testsupport::StuckRead stuck;
    // A short time-out for the stuck read at 0 only: the reads that must succeed have the product's.
    // It is long enough for the worker to begin the read on a loaded machine: a read abandoned before
    // it began never writes, and the test would prove nothing.
    kxread::SetChunkTimeout(kStuckReadTimeout, 0);
    kxread::SetChunkReader([&](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        if (off != 0) return platform::disks::ReadOnce(f, b, n, off);
        return stuck.Hold(b, n);
    });
    const size_t abandonedBefore = kxread::AbandonedBufferCount();
    std::vector<u8> first(MiB, 0xCC);
    EXPECT_EQ(KXReadAsyncData(first.data(), fd, 0, MiB), 0);
    EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](u8 b) { return b == 0; }));
    EXPECT_EQ(kxread::AbandonedBufferCount(), abandonedBefore + 1);

    // A later read of other bytes, with the stuck read let go while it is being copied out.
    std::thread releaser([&] { stuck.LetGo(); });
    std::vector<u8> second(4 * MiB);
    const std::vector<u8> expected = devtest::DdRange(image, 2 * MiB, 4 * MiB);
    int good = 0;
    for (int round = 0; round < 4; ++round) {
        if (KXReadAsyncData(second.data(), fd, 2 * MiB, 4 * MiB) == 4 * MiB && second == expected) ++good;
    }
    // Joined before anything is asserted: a failed assertion must not leave the thread joinable.
    releaser.join();
    EXPECT_EQ(good, 4);
    // The stuck read returns once let go; the limit only keeps a broken build from hanging.
    EXPECT_TRUE(stuck.WaitReturned());
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
    // The short time-out was for the stuck read alone.
    kxread::SetChunkTimeout(kxread::kDefaultChunkTimeout);
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

// Reads that lie inside a registered buffer are read straight into it; every other read of the thread
// (and every read of other threads) goes through the shared buffer. The bytes are the same either way.
TEST_F(KXRead, DirectTargetTakesOnlyReadsInsideIt) {
    std::shared_ptr<u8[]> block(new u8[8 * MiB]);  // the target is its first 6 MiB
    std::vector<u8> outside(MiB);
    std::mutex mutex;
    std::vector<std::pair<const u8*, size_t>> seen;
    kxread::SetChunkReader([&](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        {
            std::lock_guard<std::mutex> hold(mutex);
            seen.emplace_back(static_cast<const u8*>(b), n);
        }
        return platform::disks::ReadOnce(f, b, n, off);
    });
    auto inBlock = [&](const std::pair<const u8*, size_t>& read) {
        return read.first >= block.get() && read.first + read.second <= block.get() + 6 * MiB;
    };
    {
        kxread::DirectTarget direct(block, 6 * MiB);
        // 1 MiB into the block, two chunks: each is read into the block as two halves at once.
        ASSERT_EQ(KXReadAsyncData(block.get() + MiB, fd, 3 * MiB, 5 * MiB), 5 * MiB);
        EXPECT_TRUE(
            std::equal(block.get() + MiB, block.get() + 6 * MiB, devtest::DdRange(image, 3 * MiB, 5 * MiB).begin()));
        std::sort(seen.begin(), seen.end());
        const u8* b = block.get();
        const std::vector<std::pair<const u8*, size_t>> halves = {
            {b + MiB, 2 * MiB}, {b + 3 * MiB, 2 * MiB}, {b + 5 * MiB, MiB / 2}, {b + 5 * MiB + MiB / 2, MiB / 2}};
        EXPECT_EQ(seen, halves);
        seen.clear();
        // Not inside the block: the shared buffer, in pieces.
        ASSERT_EQ(KXReadAsyncData(outside.data(), fd, 0, MiB), MiB);
        ASSERT_EQ(KXReadAsyncData(block.get() + 5 * MiB, fd, 0, MiB + 1), MiB + 1);  // runs past its end
        EXPECT_FALSE(seen.empty());
        for (const auto& read : seen) EXPECT_FALSE(inBlock(read));
        seen.clear();
        // Another thread is not affected by this thread's target.
        std::thread other([&] { EXPECT_EQ(KXReadAsyncData(block.get(), fd, 0, MiB), MiB); });
        other.join();
        for (const auto& read : seen) EXPECT_FALSE(inBlock(read));
        EXPECT_FALSE(direct.Abandoned());
        seen.clear();
    }
    // Once the target is gone, nothing is read into the block directly.
    ASSERT_EQ(KXReadAsyncData(block.get(), fd, 0, MiB), MiB);
    for (const auto& read : seen) EXPECT_FALSE(inBlock(read));
    EXPECT_EQ(outside, devtest::DdRange(image, 0, MiB));
}

// Direct reads that meet the end of the file: bytes up to the end, zeros after, whichever half the end
// falls in; a chunk wholly past the end fails. The same answers as through the shared buffer.
TEST_F(KXRead, DirectReadsAtTheEndOfTheFile) {
    struct Case {
        i64 offset;
        i64 length;
    } cases[] = {{8 * MiB, 4 * MiB},
                 {9 * MiB, 4 * MiB},
                 {6 * MiB + 4096, 4 * MiB + 100},
                 {10 * MiB - 10, 600 * 1024},
                 {10 * MiB, MiB}};
    for (const Case& c : cases) {
        std::shared_ptr<u8[]> block(new u8[static_cast<size_t>(c.length)]);
        std::memset(block.get(), 0xCC, static_cast<size_t>(c.length));
        std::vector<u8> shared(static_cast<size_t>(c.length), 0xCC);
        const i64 plain = KXReadAsyncData(shared.data(), fd, c.offset, c.length);
        kxread::DirectTarget direct(block, static_cast<size_t>(c.length));
        EXPECT_EQ(KXReadAsyncData(block.get(), fd, c.offset, c.length), plain) << c.offset << "+" << c.length;
        EXPECT_TRUE(std::equal(shared.begin(), shared.end(), block.get())) << c.offset << "+" << c.length;
        std::vector<u8> expected = devtest::DdRange(image, static_cast<u64>(c.offset), static_cast<u64>(c.length));
        expected.resize(static_cast<size_t>(c.length), 0);
        EXPECT_EQ(shared, expected) << c.offset << "+" << c.length;
    }
}

// A direct chunk that times out leaves the buffer to the stuck read: the owner's usable copy has the
// good chunks and zeros for the stuck one, the buffer stays alive after the owner drops it, and the
// late bytes reach neither the copy nor any later read.
TEST_F(KXRead, TimedOutDirectChunkAbandonsTheBuffer) {
    testsupport::StuckRead stuck;
    std::atomic<bool> freed{false};
    std::atomic<bool> stuckTaken{false};
    // A failed assertion must not leave the stuck read waiting for ever.
    std::unique_ptr<void, std::function<void(void*)>> guard(&stuck, [&](void*) { stuck.LetGo(); });
    // A short time-out for the stuck chunk only (long enough for its other half, and for the stuck
    // half to begin, on a loaded machine); the chunks before and after it have the product's.
    kxread::SetChunkTimeout(kStuckReadTimeout, 4 * MiB);
    kxread::SetChunkReader([&](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        // The first read at 4 MiB (the direct chunk's first half) never returns in time.
        if (off != 4 * MiB || stuckTaken.exchange(true)) return platform::disks::ReadOnce(f, b, n, off);
        return stuck.Hold(b, n);
    });
    std::shared_ptr<u8[]> block(new u8[10 * MiB], [&](u8* p) {
        delete[] p;
        freed = true;
    });
    std::memset(block.get(), 0xCC, 10 * MiB);
    std::vector<u8> usable(10 * MiB);
    const size_t abandonedBefore = kxread::AbandonedBufferCount();
    {
        kxread::DirectTarget direct(block, 10 * MiB);
        EXPECT_EQ(KXReadAsyncData(block.get(), fd, 0, 10 * MiB), 0);
        ASSERT_TRUE(direct.Abandoned());
        direct.CopyUsable(usable.data());
    }
    // The stuck read is over: every later read, at 4 MiB too, has the product's time-out.
    kxread::SetChunkTimeout(kxread::kDefaultChunkTimeout);
    EXPECT_EQ(kxread::AbandonedBufferCount(), abandonedBefore + 1);
    const std::vector<u8> expected = devtest::DdRange(image, 0, 10 * MiB);
    for (i64 i = 0; i < 10 * MiB; i += 4093) {
        const bool stuckChunk = i >= 4 * MiB && i < 8 * MiB;
        ASSERT_EQ(usable[i], stuckChunk ? 0 : expected[i]) << "offset " << i;
    }
    block.reset();  // the owner drops it; the stuck read keeps it alive
    EXPECT_FALSE(freed);

    std::vector<u8> later(4 * MiB);
    ASSERT_EQ(KXReadAsyncData(later.data(), fd, 2 * MiB, 4 * MiB), 4 * MiB);
    stuck.LetGo();
    testsupport::WaitUntil([&] { return freed.load(); }, 60s);  // the limit only keeps a broken build from hanging
    EXPECT_TRUE(stuck.Returned());
    EXPECT_TRUE(freed);  // freed only once the stuck read had returned
    EXPECT_EQ(later, devtest::DdRange(image, 2 * MiB, 4 * MiB));
    ASSERT_EQ(KXReadAsyncData(later.data(), fd, 4 * MiB, 4 * MiB), 4 * MiB);
    EXPECT_EQ(later, devtest::DdRange(image, 4 * MiB, 4 * MiB));
}

}  // namespace
