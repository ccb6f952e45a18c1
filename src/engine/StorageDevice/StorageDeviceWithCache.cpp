#include "engine/StorageDevice/StorageDeviceWithCache.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "engine/Common/HugePages.h"
#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/SectorMath.h"

namespace {
// Blocks of 256 KiB or more are on huge pages (the allocator's rule): the reads into them and every
// searcher's pass over them then meet a page fault and a translation miss per 2 MiB instead of per
// 4 KiB (a fifth of the raw search's time).
std::shared_ptr<u8[]> AllocateBlock(size_t bytes) {
    hugepages::Allocator<u8> memory;
    u8* block = nullptr;
    try {
        block = memory.allocate(bytes);
        return std::shared_ptr<u8[]>(block, [bytes](u8* p) { hugepages::Allocator<u8>().deallocate(p, bytes); });
    } catch (...) {
        if (block) memory.deallocate(block, bytes);
        return nullptr;
    }
}
}  // namespace

CStorageDeviceWithCache::CStorageDeviceWithCache(IStorageDevice* wrapped) : m_device(wrapped) {
    if (m_device) {
        m_sectorSize = m_device->GetSectorSize();
        m_totalSectors = m_device->GetTotalSectors();
    }
    m_curBuffer = AllocateBlock(BlockBytes());
    if (m_curBuffer) std::memset(m_curBuffer.get(), 0, BlockBytes());
}

CStorageDeviceWithCache::~CStorageDeviceWithCache() {
    EndCache();
}

i64 CStorageDeviceWithCache::BlockCount(i64 totalSectors) const {
    if (m_blockSize == 0 || totalSectors <= 0) return 0;
    return (totalSectors - 1) / m_blockSize + 1;
}

i64 CStorageDeviceWithCache::SectorsInBlock(i64 block) const {
    const i64 start = block * m_blockSize;
    return std::clamp<i64>(m_totalSectors - start, 0, m_blockSize);
}

int CStorageDeviceWithCache::IsBlockInValidRange(i64 block) {
    if (!m_device || m_blockSize == 0) return 0;
    return block >= 0 && block < BlockCount(m_device->GetTotalSectors()) ? 1 : 0;
}

int CStorageDeviceWithCache::IsNeedCatchBuffer() {
    autolocker<> hold(m_queueLock);
    return m_queuedCount == 0 ? 1 : 0;
}

int CStorageDeviceWithCache::SetBlockSize(u32 sectors) {
    {
        autolocker<> hold(m_queueLock);
        if (m_running || m_thread.joinable()) return 0;
    }
    if (m_device) {
        m_sectorSize = m_device->GetSectorSize();
        m_totalSectors = m_device->GetTotalSectors();
    }
    m_blockSize = sectors;
    m_curBlock = -1;
    m_curValidSectors = 0;
    m_free.clear();
    {
        std::lock_guard<std::mutex> lent(m_lending->lock);
        ++m_lending->generation;
        m_lending->returned.clear();
    }
    m_curHold.reset();  // of the old generation: its buffer goes when its holders let go
    m_curBuffer = AllocateBlock(BlockBytes());
    if (!m_curBuffer) return 0;
    std::memset(m_curBuffer.get(), 0, BlockBytes());
    return 1;
}

CStorageDeviceWithCache::BlockBuffer CStorageDeviceWithCache::TakeFreeBuffer() {
    // A free buffer, else one whose holds were all released, else a new one.
    auto takeLast = [](std::vector<BlockBuffer>& from) {
        BlockBuffer buffer = std::move(from.back());
        from.pop_back();
        return buffer;
    };
    if (!m_free.empty()) return takeLast(m_free);
    {
        std::lock_guard<std::mutex> lent(m_lending->lock);
        if (!m_lending->returned.empty()) return takeLast(m_lending->returned);
    }
    return AllocateBlock(BlockBytes());
}

bool CStorageDeviceWithCache::ReadBlock(i64 index, BlockBuffer& buffer) {
    const i64 sectors = SectorsInBlock(index);
    const size_t validBytes = static_cast<size_t>(sectors) * m_sectorSize;
    // The device reads into the block buffer itself: the copy through the shared buffer would cost a
    // good part of a deep scan's read rate.
    kxread::DirectTarget direct(buffer, validBytes);
    // A failed read leaves what the device left (zeros); the searchers go on.
    if (sectors > 0) m_device->ReadSector(buffer.get(), index * m_blockSize, sectors);
    std::memset(buffer.get() + validBytes, 0, BlockBytes() - validBytes);
    if (!direct.Abandoned()) return true;
    // A read that timed out may still write into this buffer: leave it to that read.
    BlockBuffer fresh = AllocateBlock(BlockBytes());
    if (fresh) {
        direct.CopyUsable(fresh.get());
        std::memset(fresh.get() + validBytes, 0, BlockBytes() - validBytes);
    }
    buffer = std::move(fresh);
    return buffer != nullptr;
}

void CStorageDeviceWithCache::BeginCache() {
    EndCache();
    std::unique_lock<std::mutex> hold(m_queueLock.native());
    m_running = true;
    m_nextSector = 0;
    m_requests = 0;
    if (!m_device || m_blockSize == 0 || !m_curBuffer) return;
    m_sectorSize = m_device->GetSectorSize();
    m_totalSectors = m_device->GetTotalSectors();
    // Nothing is read past the device's end: a device shorter than the queue queues fewer blocks.
    for (u32 i = 0; i < kQueueDepth && m_nextSector < m_totalSectors; ++i) {
        BlockBuffer buffer = TakeFreeBuffer();
        if (!buffer) break;
        const i64 index = m_nextSector / m_blockSize;
        if (!ReadBlock(index, buffer)) break;
        m_queue.push_back({index, std::move(buffer)});
        m_nextSector += SectorsInBlock(index);
    }
    m_queuedCount = static_cast<u32>(m_queue.size());
    m_requests = kQueueDepth - m_queuedCount;
    if (m_nextSector >= m_totalSectors) {
        m_running = false;  // everything is queued: no thread needed
        return;
    }
    try {
        m_thread = std::thread(&CStorageDeviceWithCache::CacheThread, this);
    } catch (...) {
        m_running = false;  // blocks beyond the queue are then read directly
    }
}

void CStorageDeviceWithCache::CacheThread() {
    std::unique_lock<std::mutex> hold(m_queueLock.native());
    for (;;) {
        m_needData.wait(hold, [this] { return (m_requests > 0 && !m_deviceBusy) || !m_running; });
        if (!m_running) break;
        const i64 remaining = m_totalSectors - m_nextSector;
        if (remaining <= 0) break;
        BlockBuffer buffer = TakeFreeBuffer();
        if (!buffer) break;
        const i64 index = m_nextSector / m_blockSize;
        m_nextSector += SectorsInBlock(index);
        // The read runs without the lock, so the worker can take queued blocks meanwhile; the busy
        // flag keeps the wrapped device to one thread.
        m_deviceBusy = true;
        m_inFlightBlock = index;
        hold.unlock();
        const bool read = ReadBlock(index, buffer);
        hold.lock();
        m_deviceBusy = false;
        m_inFlightBlock = -1;
        if (!read) {
            // No memory for a replacement buffer: the worker reads the blocks from here on itself.
            m_dataReady.notify_all();
            break;
        }
        m_queue.push_back({index, std::move(buffer)});
        ++m_queuedCount;
        --m_requests;
        m_dataReady.notify_all();
    }
    m_running = false;
    m_dataReady.notify_all();
}

void CStorageDeviceWithCache::AcquireDevice(std::unique_lock<std::mutex>& hold) {
    m_dataReady.wait(hold, [this] { return !m_deviceBusy; });
    m_deviceBusy = true;
    hold.unlock();
}

void CStorageDeviceWithCache::ReleaseDevice(std::unique_lock<std::mutex>& hold) {
    hold.lock();
    m_deviceBusy = false;
    m_needData.notify_all();
}

void CStorageDeviceWithCache::StopThread() {
    {
        autolocker<> hold(m_queueLock);
        m_running = false;
    }
    m_needData.notify_all();
    m_dataReady.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void CStorageDeviceWithCache::EndCache() {
    StopThread();
    autolocker<> hold(m_queueLock);
    for (QueuedBlock& queued : m_queue) m_free.push_back(std::move(queued.data));
    m_queue.clear();
    m_queuedCount = 0;
    m_requests = 0;
}

int CStorageDeviceWithCache::SetCurCacheBlock(i64 block) {
    if (!IsBlockInValidRange(block) || !m_curBuffer) return 0;
    const i64 first = block * m_blockSize;
    std::unique_lock<std::mutex> hold(m_queueLock.native());
    for (;;) {
        // Queued blocks before the one asked can no longer be asked in order: make room for new ones.
        while (!m_queue.empty() && m_queue.front().index < block) {
            m_free.push_back(std::move(m_queue.front().data));
            m_queue.pop_front();
            --m_queuedCount;
            ++m_requests;
        }
        if (!m_queue.empty() || !m_running) break;
        // Wait only for a block the thread is reading or will read; a skip forward moves it on.
        const bool inFlight = m_inFlightBlock == block;
        if (!inFlight && m_nextSector > first) break;
        if (!inFlight) m_nextSector = first;
        m_needData.notify_all();
        m_dataReady.wait(hold, [this] { return m_queuedCount > 0 || !m_running; });
    }
    if (!m_queue.empty() && m_queue.front().index == block) {
        std::swap(m_curBuffer, m_queue.front().data);
        // A held buffer comes back when its holds are released (the cache's own share goes now).
        if (m_curHold) {
            m_queue.front().data.reset();
            m_curHold.reset();
        } else {
            m_free.push_back(std::move(m_queue.front().data));
        }
        m_queue.pop_front();
        --m_queuedCount;
        ++m_requests;
        m_needData.notify_all();
    } else {
        // Asked out of order, or the thread has stopped: read the block itself (into another buffer
        // when the current one is held).
        if (m_curHold) {
            m_curBuffer = TakeFreeBuffer();
            m_curHold.reset();
            if (!m_curBuffer) {
                m_curBlock = -1;
                m_curValidSectors = 0;
                return 0;
            }
        }
        AcquireDevice(hold);
        const bool read = ReadBlock(block, m_curBuffer);
        ReleaseDevice(hold);
        if (!read) {
            m_curBlock = -1;  // the current buffer is gone
            m_curValidSectors = 0;
            return 0;
        }
    }
    m_curBlock = block;
    m_curValidSectors = SectorsInBlock(block);
    return 1;
}

const u8* CStorageDeviceWithCache::CurrentBlockSectors(i64 firstSector, i64 sectorCount) const {
    if (m_curBlock < 0 || !m_curBuffer || firstSector < 0 || sectorCount <= 0) return nullptr;
    const i64 blockStart = m_curBlock * m_blockSize;
    if (firstSector < blockStart || firstSector - blockStart > m_curValidSectors - sectorCount) return nullptr;
    return m_curBuffer.get() + (firstSector - blockStart) * m_sectorSize;
}

// Gives its buffer back to the cache's lending (for reuse) when the last hold is released.
struct CStorageDeviceWithCache::Hold {
    Hold(std::shared_ptr<Lending> from, BlockBuffer held, u64 ofGeneration)
        : lending(std::move(from)), buffer(std::move(held)), generation(ofGeneration) {}
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    std::shared_ptr<Lending> lending;
    BlockBuffer buffer;
    u64 generation = 0;
    ~Hold() {
        std::lock_guard<std::mutex> lent(lending->lock);
        if (generation == lending->generation) lending->returned.push_back(std::move(buffer));
    }
};

CStorageDeviceWithCache::HeldSectors CStorageDeviceWithCache::HoldCurrentBlockSectors(i64 firstSector,
                                                                                      i64 sectorCount) {
    const u8* data = CurrentBlockSectors(firstSector, sectorCount);
    if (!data) return {};
    // One hold per buffer, shared by the cache while the buffer is current and by every holder: it
    // comes back only when all of them are done with it.
    if (!m_curHold) {
        u64 generation = 0;
        {
            std::lock_guard<std::mutex> lent(m_lending->lock);
            generation = m_lending->generation;
        }
        try {
            m_curHold = std::make_shared<Hold>(m_lending, m_curBuffer, generation);
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    return {data, std::shared_ptr<const void>(m_curHold, data)};
}

int CStorageDeviceWithCache::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    if (!m_device) return 0;
    i64 requestBytes = 0;
    i64 end = 0;
    const bool sane = buffer && firstSector >= 0 && sectorCount > 0 &&
                      sector_math::Multiply(sectorCount, m_sectorSize, &requestBytes) &&
                      sector_math::Add(firstSector, sectorCount, &end);
    auto passThrough = [&](u8* out, i64 first, i64 count) {
        std::unique_lock<std::mutex> hold(m_queueLock.native());
        AcquireDevice(hold);
        int done = m_device->ReadSector(out, first, count);
        ReleaseDevice(hold);
        return done;
    };
    if (!sane || m_curBlock < 0) return passThrough(static_cast<u8*>(buffer), firstSector, sectorCount);

    u8* out = static_cast<u8*>(buffer);
    const i64 blockStart = m_curBlock * m_blockSize;
    const i64 blockEnd = blockStart + m_curValidSectors;
    if (firstSector >= blockStart && firstSector < blockEnd) {
        const i64 inMemory = std::min(end, blockEnd) - firstSector;
        std::memcpy(out, m_curBuffer.get() + (firstSector - blockStart) * m_sectorSize,
                    static_cast<size_t>(inMemory) * m_sectorSize);
        if (inMemory == sectorCount) return 1;
        return passThrough(out + inMemory * m_sectorSize, firstSector + inMemory, sectorCount - inMemory);
    }
    if (firstSector < blockStart) {
        const i64 before = std::min(sectorCount, blockStart - firstSector);
        int done = passThrough(out, firstSector, before);
        if (before == sectorCount) return done;
        int rest = passThrough(out + before * m_sectorSize, firstSector + before, sectorCount - before);
        return done && rest ? 1 : 0;
    }
    return passThrough(out, firstSector, sectorCount);
}
