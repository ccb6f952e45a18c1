// A read-ahead cache over a device for the deep scan: the block in hand is kept in memory while a
// background thread reads the following blocks into a queue of up to 10.
//
// One mutex guards the queue, the read-ahead position and the "device busy" flag that keeps the wrapped
// device (which is not thread-safe) to one thread at a time: the cache thread and the worker's
// pass-through reads both use it, and read without holding the mutex so that the worker can take a
// queued block while the next one is read. Two condition variables signal "a block is queued or the
// device was released by the thread" and "a block was taken or the device was released by the worker".
// Every wait has its predicate.
//
// A searcher may hold the current block to read it on another thread later: a held buffer is never
// written again; its last hold (the cache's own while the block is current, or a searcher's) hands it
// back through a small lock of its own, and the cache takes it for a new block only then.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "engine/Common/Locks.h"
#include "engine/StorageDevice/IStorageDevice.h"

class CStorageDeviceWithCache : public IStorageDevice {
public:
    static constexpr u32 kDefaultBlockSize = 1000;
    static constexpr u32 kQueueDepth = 10;

    explicit CStorageDeviceWithCache(IStorageDevice* wrapped);
    ~CStorageDeviceWithCache() override;
    CStorageDeviceWithCache(const CStorageDeviceWithCache&) = delete;
    CStorageDeviceWithCache& operator=(const CStorageDeviceWithCache&) = delete;

    int Open(const char* path) override { return m_device ? 1 : 0; }
    int Close() override { return m_device ? 1 : 0; }
    // Sectors of the current block come from memory; everything else from the wrapped device.
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_device ? m_device->GetSectorSize() : 512; }
    i64 GetTotalSectors() override { return m_device ? m_device->GetTotalSectors() : 0; }
    int IOCtl(u64 code, void* data) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_privateData; }
    void SetPrivateData(IStorageDeviceData* data) override { m_privateData = data; }  // not owned
    u32 GetType() override { return STORAGE_DEVICE_CACHE; }
    u64 GetLastError() override { return 0; }

    // The block size in sectors; no block is current afterwards. 0 while the cache runs or when the
    // buffer cannot be allocated.
    int SetBlockSize(u32 sectors);
    // Reads the first blocks synchronously and starts the read-ahead thread.
    void BeginCache();
    // Stops the thread and frees the queue.
    void EndCache();
    // Makes block b current. Blocks are meant to be asked in order from 0; any other block is read
    // directly, so the current block always holds block b's bytes. 0 when b is out of range.
    int SetCurCacheBlock(i64 block);
    int IsBlockInValidRange(i64 block);
    // 1 when nothing is queued.
    int IsNeedCatchBuffer();

    u32 GetBlockSize() const { return m_blockSize; }
    i64 GetCurrentBlock() const { return m_curBlock; }
    // The device under the cache.
    IStorageDevice* GetWrappedDevice() const { return m_device; }
    // The bytes of sectors first..first+count-1 where they all lie in the current block, read in place
    // (valid until the next SetCurCacheBlock); null otherwise.
    const u8* CurrentBlockSectors(i64 firstSector, i64 sectorCount) const;

    // The same sectors, held: their bytes stay as they are, on any thread, until `hold` is released (the
    // cache then reuses the buffer), also past the next SetCurCacheBlock and past the cache itself.
    // Empty (null data) where CurrentBlockSectors answers null or no memory is left.
    struct HeldSectors {
        const u8* data = nullptr;
        std::shared_ptr<const void> hold;
    };
    HeldSectors HoldCurrentBlockSectors(i64 firstSector, i64 sectorCount);

private:
    // Block buffers are shared with the reads that fill them: a read that timed out keeps its buffer
    // alive and may still write into it, so such a buffer is replaced, never used again.
    using BlockBuffer = std::shared_ptr<u8[]>;
    struct QueuedBlock {
        i64 index;
        BlockBuffer data;
    };
    // Where held buffers come back when their last hold is released; shared with the holds, which may
    // outlive the cache. A buffer of an earlier block size (another generation) is not taken back.
    struct Lending {
        std::mutex lock;
        std::vector<BlockBuffer> returned;
        u64 generation = 0;
    };
    struct Hold;

    size_t BlockBytes() const { return static_cast<size_t>(m_blockSize) * m_sectorSize; }
    i64 BlockCount(i64 totalSectors) const;
    i64 SectorsInBlock(i64 block) const;
    BlockBuffer TakeFreeBuffer();
    // Reads block `index` (its sectors inside the device) into buffer, zeros after them, letting the
    // device read straight into it. When a read timed out, buffer becomes a new one with the good bytes
    // (zeros where the read was abandoned); false when that one cannot be allocated (buffer is then
    // null). The caller holds the device (m_deviceBusy set by it), not the lock.
    bool ReadBlock(i64 index, BlockBuffer& buffer);
    // Waits until the wrapped device is free and takes it; returns with the lock released.
    void AcquireDevice(std::unique_lock<std::mutex>& hold);
    // Takes the lock again and frees the device.
    void ReleaseDevice(std::unique_lock<std::mutex>& hold);
    void CacheThread();
    void StopThread();

    IStorageDevice* m_device;  // not owned
    IStorageDeviceData* m_privateData = nullptr;
    BlockBuffer m_curBuffer;
    std::shared_ptr<Lending> m_lending = std::make_shared<Lending>();
    // The hold of m_curBuffer once it was lent (the cache's own share): a lent buffer is never written
    // again, only given up.
    std::shared_ptr<Hold> m_curHold;
    u32 m_blockSize = kDefaultBlockSize;
    u32 m_sectorSize = 512;
    i64 m_totalSectors = 0;  // taken when the block size is set and when caching begins
    i64 m_curBlock = -1;
    i64 m_curValidSectors = 0;  // sectors of the current block inside the device

    // Guarded by m_queueLock.
    bool m_running = false;
    std::deque<QueuedBlock> m_queue;
    u32 m_queuedCount = 0;
    u32 m_requests = 0;               // blocks taken and not yet replaced by the thread
    bool m_deviceBusy = false;        // a thread is reading the wrapped device
    i64 m_inFlightBlock = -1;         // the block the cache thread is reading
    i64 m_nextSector = 0;             // where the thread reads next
    std::vector<BlockBuffer> m_free;  // block buffers for reuse

    mutex_locker m_queueLock;
    std::condition_variable m_dataReady;
    std::condition_variable m_needData;
    std::thread m_thread;
};
