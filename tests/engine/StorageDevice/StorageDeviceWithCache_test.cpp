#include "engine/StorageDevice/StorageDeviceWithCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/StorageDevice/DeviceTestSupport.h"
#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "support/StuckRead.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;

// A wrapped device that is slow, so the worker really waits for the cache thread.
class SlowDevice : public IStorageDevice {
public:
    explicit SlowDevice(IStorageDevice* inner, std::chrono::microseconds delay) : m_inner(inner), m_delay(delay) {}
    int Open(const char* p) override { return m_inner->Open(p); }
    int Close() override { return m_inner->Close(); }
    int ReadSector(void* b, i64 f, i64 c) override {
        std::this_thread::sleep_for(m_delay);
        ++reads;
        return m_inner->ReadSector(b, f, c);
    }
    u32 GetSectorSize() override { return m_inner->GetSectorSize(); }
    i64 GetTotalSectors() override { return m_inner->GetTotalSectors(); }
    int IOCtl(u64 c, void* d) override { return m_inner->IOCtl(c, d); }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    u32 GetType() override { return 0; }
    u64 GetLastError() override { return m_inner->GetLastError(); }
    std::atomic<int> reads{0};

private:
    IStorageDevice* m_inner;
    std::chrono::microseconds m_delay;
};

class Cache : public ::testing::Test {
protected:
    // sectors of 512 bytes in the image
    void MakeImage(i64 sectors) {
        image = dir / "disk.img";
        devtest::WritePatternFile(image, static_cast<u64>(sectors) * 512);
        disk.reset(CreateDiskDevice(image.c_str()));
        ASSERT_TRUE(disk->Open(nullptr));
        // Devices are used by one thread at a time: the expected bytes come from a device of their own.
        reference.reset(CreateDiskDevice(image.c_str()));
        ASSERT_TRUE(reference->Open(nullptr));
    }
    std::vector<u8> Direct(i64 first, i64 count) {
        std::vector<u8> out(static_cast<size_t>(count) * 512);
        EXPECT_EQ(reference->ReadSector(out.data(), first, count), 1);
        return out;
    }
    testsupport::TempDir dir;
    std::filesystem::path image;
    std::unique_ptr<IStorageDevice> disk;
    std::unique_ptr<IStorageDevice> reference;
};

// A full pass over a slow device: every block equals a direct read, the last one is short, and no
// block past the end is handed out. Run under ThreadSanitizer too.
TEST_F(Cache, FullPassInOrderHandsOutEveryBlock) {
    MakeImage(64 * 37 + 20);  // 37 full blocks of 64 sectors and a short last one
    SlowDevice slow(disk.get(), 200us);
    CStorageDeviceWithCache cache(&slow);
    ASSERT_EQ(cache.SetBlockSize(64), 1);
    cache.BeginCache();
    std::vector<u8> got(64 * 512);
    for (i64 block = 0; block < 38; ++block) {
        ASSERT_EQ(cache.SetCurCacheBlock(block), 1) << block;
        const i64 count = block == 37 ? 20 : 64;
        ASSERT_EQ(cache.ReadSector(got.data(), block * 64, count), 1);
        got.resize(static_cast<size_t>(count) * 512);
        ASSERT_EQ(got, Direct(block * 64, count)) << "block " << block;
        got.resize(64 * 512);
    }
    EXPECT_EQ(cache.SetCurCacheBlock(38), 0);
    EXPECT_EQ(cache.GetCurrentBlock(), 37);
    EXPECT_EQ(cache.IsBlockInValidRange(38), 0);
    cache.EndCache();
    EXPECT_EQ(slow.reads, 38);  // each block read once: nothing read twice, nothing past the end
}

// A device of 2.5 blocks: fewer blocks than the queue holds, the thread must not read "negative"
// remaining sectors nor hang at the end.
TEST_F(Cache, DeviceShorterThanTheQueue) {
    MakeImage(250);
    CStorageDeviceWithCache cache(disk.get());
    cache.SetBlockSize(100);
    cache.BeginCache();
    EXPECT_EQ(cache.IsNeedCatchBuffer(), 0);
    std::vector<u8> got(100 * 512);
    for (i64 block : {0, 1, 2}) {
        ASSERT_EQ(cache.SetCurCacheBlock(block), 1);
        const i64 count = block == 2 ? 50 : 100;
        ASSERT_EQ(cache.ReadSector(got.data(), block * 100, count), 1);
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + count * 512, Direct(block * 100, count).begin()));
    }
    EXPECT_EQ(cache.IsNeedCatchBuffer(), 1);
    EXPECT_EQ(cache.SetCurCacheBlock(3), 0);
    cache.EndCache();
}

// Asking blocks out of order never yields another block's bytes: skipped, repeated and backward asks.
TEST_F(Cache, OutOfOrderAsksGetTheRightBlock) {
    MakeImage(64 * 40);
    SlowDevice slow(disk.get(), 100us);
    CStorageDeviceWithCache cache(&slow);
    cache.SetBlockSize(64);
    cache.BeginCache();
    std::vector<u8> got(64 * 512);
    for (i64 block : {3, 3, 1, 4, 25, 26, 0, 39, 38, 12}) {
        ASSERT_EQ(cache.SetCurCacheBlock(block), 1);
        ASSERT_EQ(cache.ReadSector(got.data(), block * 64, 64), 1);
        ASSERT_EQ(got, Direct(block * 64, 64)) << "block " << block;
    }
    cache.EndCache();
}

// Reads that start before, inside or after the current block, or run past its end.
TEST_F(Cache, ReadsAroundTheCurrentBlock) {
    MakeImage(64 * 12);
    CStorageDeviceWithCache cache(disk.get());
    cache.SetBlockSize(64);
    std::vector<u8> got;
    // With no current block the cache behaves like the device.
    got.resize(10 * 512);
    EXPECT_EQ(cache.ReadSector(got.data(), 5, 10), 1);
    EXPECT_EQ(got, Direct(5, 10));
    cache.BeginCache();
    ASSERT_EQ(cache.SetCurCacheBlock(0), 1);
    ASSERT_EQ(cache.SetCurCacheBlock(1), 1);
    const std::pair<i64, i64> ranges[] = {{64, 64}, {70, 10}, {100, 60}, {30, 20}, {30, 60}, {10, 200}, {200, 5}};
    for (auto [first, count] : ranges) {
        got.assign(static_cast<size_t>(count) * 512, 0xCC);
        EXPECT_EQ(cache.ReadSector(got.data(), first, count), 1);
        EXPECT_EQ(got, Direct(first, count)) << first << "+" << count;
    }
    EXPECT_EQ(cache.ReadSector(got.data(), 64 * 12, 1), 0);  // past the device: the device's answer
    cache.EndCache();
}

TEST_F(Cache, WithoutAWrappedDevice) {
    CStorageDeviceWithCache cache(nullptr);
    EXPECT_EQ(cache.Open(nullptr), 0);
    EXPECT_EQ(cache.Close(), 0);
    EXPECT_EQ(cache.GetSectorSize(), 512u);
    EXPECT_EQ(cache.GetType(), 3u);
    EXPECT_EQ(cache.GetBlockSize(), 1000u);
    EXPECT_EQ(cache.IsBlockInValidRange(0), 0);
    EXPECT_EQ(cache.SetCurCacheBlock(0), 0);
    cache.BeginCache();
    cache.EndCache();
}

// The worker reading around the current block while the thread reads ahead: the wrapped device is
// never used by both at once (ThreadSanitizer reports it otherwise).
TEST_F(Cache, PassThroughReadsDuringReadAhead) {
    MakeImage(32 * 60);
    CStorageDeviceWithCache cache(disk.get());
    cache.SetBlockSize(32);
    cache.BeginCache();
    std::vector<u8> got(40 * 512);
    for (i64 block = 0; block < 60; ++block) {
        ASSERT_EQ(cache.SetCurCacheBlock(block), 1);
        const i64 first = std::max<i64>(0, block * 32 - 4);
        const i64 inside = std::min<i64>(40, 60 * 32 - first);  // a file reads short at its end
        ASSERT_EQ(cache.ReadSector(got.data(), first, 40), 1);
        const std::vector<u8> expected = Direct(first, inside);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << block;
    }
    cache.EndCache();
    cache.BeginCache();  // a second pass on the same object
    ASSERT_EQ(cache.SetCurCacheBlock(0), 1);
    cache.EndCache();
}

// The cache thread's read of block 12 times out and cannot be stopped: that block reads as zeros, its
// buffer is left to the stuck read, and when the read finally writes its late bytes they show in no
// later block (a reused buffer would carry them into one of the blocks read after it).
TEST_F(Cache, TimedOutBlockReadNeverLeaksIntoALaterBlock) {
    constexpr i64 kBlocks = 40;
    constexpr i64 kStuckBlock = 12;
    constexpr size_t kBlockBytes = 64 * 512;
    MakeImage(64 * kBlocks);
    testsupport::StuckRead stuck;
    std::atomic<bool> stuckTaken{false};
    std::unique_ptr<void, std::function<void(void*)>> restore(&stuck, [&](void*) {
        stuck.LetGo();
        kxread::SetChunkReader({});
        kxread::SetChunkTimeout(kxread::kDefaultChunkTimeout);
    });
    // A short time-out for the stuck block's read only: every other block has the product's. It is
    // long enough for the read to begin on a loaded machine (one abandoned before it began never writes).
    kxread::SetChunkTimeout(1000ms, kStuckBlock * static_cast<i64>(kBlockBytes));
    kxread::SetChunkReader([&](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        const bool stuckOne = off == static_cast<std::int64_t>(kStuckBlock * kBlockBytes) && n == kBlockBytes;
        if (!stuckOne || stuckTaken.exchange(true)) return platform::disks::ReadOnce(f, b, n, off);
        return stuck.Hold(b, n);
    });

    CStorageDeviceWithCache cache(disk.get());
    ASSERT_EQ(cache.SetBlockSize(64), 1);
    cache.BeginCache();
    std::vector<u8> got(kBlockBytes);
    auto check = [&](i64 block) {
        ASSERT_EQ(cache.ReadSector(got.data(), block * 64, 64), 1);
        if (block == kStuckBlock)
            ASSERT_TRUE(std::all_of(got.begin(), got.end(), [](u8 b) { return b == 0; }));
        else
            ASSERT_EQ(got, Direct(block * 64, 64)) << "block " << block;
    };
    for (i64 block = 0; block < kBlocks; ++block) {
        ASSERT_EQ(cache.SetCurCacheBlock(block), 1) << block;
        ASSERT_NO_FATAL_FAILURE(check(block));
        if (block == 20) {
            // The stuck read writes now, while later blocks sit in the queue.
            ASSERT_TRUE(stuckTaken);
            stuck.LetGo();
            ASSERT_TRUE(stuck.WaitReturned());
            ASSERT_NO_FATAL_FAILURE(check(block));
        }
    }
    cache.EndCache();
}

// Blocks held while the pass goes on, as a searcher's own thread reads them: another thread checks each
// held block against the disk long after the cache moved on (through the queue, a skip forward, a step
// back and a second ask of one block, the last two read into another buffer), then releases it. The
// buffers come back for reuse; a hold that outlives a change of block size and the cache itself keeps
// its bytes, and its old-sized buffer is never handed out for the new size. Run under ThreadSanitizer
// and AddressSanitizer too.
TEST_F(Cache, HeldBlocksKeepTheirBytesWhileThePassGoesOn) {
    constexpr i64 kBlocks = 48;
    MakeImage(64 * kBlocks + 10);
    const std::vector<u8> bytes = Direct(0, 64 * kBlocks + 10);
    auto same = [&](const u8* held, i64 first, i64 count) {
        return std::memcmp(held, bytes.data() + first * 512, size_t(count) * 512) == 0;
    };
    auto cache = std::make_unique<CStorageDeviceWithCache>(disk.get());
    ASSERT_EQ(cache->SetBlockSize(64), 1);
    cache->BeginCache();

    std::mutex lock;
    std::condition_variable posted;
    std::deque<std::pair<i64, CStorageDeviceWithCache::HeldSectors>> handed;
    bool done = false;
    std::atomic<int> checked{0}, wrong{0};
    std::thread checker([&] {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            posted.wait(hold, [&] { return !handed.empty() || done; });
            if (handed.empty()) return;
            auto [block, held] = std::move(handed.front());
            handed.pop_front();
            hold.unlock();
            std::this_thread::sleep_for(std::chrono::microseconds(300));  // behind the pass
            const i64 count = block == kBlocks ? 10 : 64;
            wrong += !same(held.data, block * 64, count);
            ++checked;
            held = {};
            hold.lock();
        }
    });
    const i64 order[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 30, 31, 32, 12, 12, 13, 14, 40, 41, 42, 43, 44, 45, 46, 47, 48};
    for (i64 block : order) {
        ASSERT_EQ(cache->SetCurCacheBlock(block), 1) << block;
        const i64 count = block == kBlocks ? 10 : 64;
        CStorageDeviceWithCache::HeldSectors held = cache->HoldCurrentBlockSectors(block * 64, count);
        ASSERT_NE(held.data, nullptr) << block;
        ASSERT_EQ(held.data, cache->CurrentBlockSectors(block * 64, count));
        {
            std::lock_guard<std::mutex> hold(lock);
            handed.emplace_back(block, std::move(held));
        }
        posted.notify_one();
    }
    EXPECT_EQ(cache->HoldCurrentBlockSectors(47 * 64, 64).data, nullptr) << "not the current block";
    {
        std::lock_guard<std::mutex> hold(lock);
        done = true;
    }
    posted.notify_one();
    checker.join();
    EXPECT_EQ(checked, int(std::size(order)));
    EXPECT_EQ(wrong, 0);

    // A hold kept across a new block size and past the cache's end.
    ASSERT_EQ(cache->SetCurCacheBlock(48), 1);
    CStorageDeviceWithCache::HeldSectors kept = cache->HoldCurrentBlockSectors(48 * 64, 10);
    ASSERT_NE(kept.data, nullptr);
    cache->EndCache();
    ASSERT_EQ(cache->SetBlockSize(256), 1);
    cache->BeginCache();
    std::vector<u8> got(256 * 512);
    for (i64 block = 0; block * 256 < 64 * kBlocks + 10; ++block) {
        ASSERT_EQ(cache->SetCurCacheBlock(block), 1);
        const i64 count = std::min<i64>(256, 64 * kBlocks + 10 - block * 256);
        ASSERT_EQ(cache->ReadSector(got.data(), block * 256, count), 1);
        ASSERT_TRUE(same(got.data(), block * 256, count)) << block;
        if (block == 2) kept = {};  // an old-sized buffer comes back mid-pass
    }
    EXPECT_EQ(cache->HoldCurrentBlockSectors(2 * 256, 256).data, nullptr);
    ASSERT_EQ(cache->SetCurCacheBlock(4), 1);
    kept = cache->HoldCurrentBlockSectors(4 * 256, 256);
    ASSERT_NE(kept.data, nullptr);
    cache.reset();
    EXPECT_TRUE(same(kept.data, 4 * 256, 256));
}

// A hold released while its block is still current (a searcher done with it early, or two holds of one
// block) gives the buffer back only when the cache moves on: the searchers after it still read that
// block in place, while the read-ahead thread fills free buffers with later blocks.
TEST_F(Cache, AReleasedHoldLeavesTheCurrentBlockToTheCache) {
    MakeImage(64 * 24);
    SlowDevice slow(disk.get(), 2ms);
    CStorageDeviceWithCache cache(&slow);
    ASSERT_EQ(cache.SetBlockSize(64), 1);
    cache.BeginCache();
    std::vector<u8> got(64 * 512);
    for (i64 block = 0; block < 24; ++block) {
        ASSERT_EQ(cache.SetCurCacheBlock(block), 1);
        {
            CStorageDeviceWithCache::HeldSectors first = cache.HoldCurrentBlockSectors(block * 64, 64);
            CStorageDeviceWithCache::HeldSectors second = cache.HoldCurrentBlockSectors(block * 64, 32);
            ASSERT_NE(first.data, nullptr);
            ASSERT_EQ(second.data, first.data);
        }
        std::this_thread::sleep_for(10ms);  // the thread reads ahead meanwhile
        const u8* inPlace = cache.CurrentBlockSectors(block * 64, 64);
        ASSERT_NE(inPlace, nullptr);
        const std::vector<u8> expected = Direct(block * 64, 64);
        ASSERT_EQ(std::memcmp(inPlace, expected.data(), expected.size()), 0) << "block " << block;
        ASSERT_EQ(cache.ReadSector(got.data(), block * 64, 64), 1);
        ASSERT_EQ(got, expected) << "block " << block;
    }
    cache.EndCache();
}

}  // namespace
