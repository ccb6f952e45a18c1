// The last blocks of a deep scan kept in a ring in memory and read as a device, so that a file that
// began a few blocks back can be sized without reading the disk again. Reads outside the ring go to
// the real device.
//
// The ring is also the search's reading window: the next block is read straight into its slot
// (IncomingBlock), where the block added last lies just before it in memory and zero spare bytes just
// after it, so that a block is copied once, not into a window and then into the ring. The slots are
// the held blocks, the incoming one and free ones after it (whose first spare bytes are zeroed); one
// lead block before the first slot repeats the last slot whenever the incoming slot wraps to the first.
#pragma once

#include <cstddef>
#include <memory>

#include "engine/StorageDevice/IStorageDevice.h"

class CBufferStorageDevice : public IStorageDevice {
public:
    // Zero bytes after the incoming block that a reader of its last sector may look at.
    static constexpr u32 kSpareBytes = 4096;

    CBufferStorageDevice() = default;
    ~CBufferStorageDevice() override = default;

    int Open(const char*) override { return 1; }
    int Close() override;
    // 1 when all sectors were read (from the ring or the device), else 0.
    int ReadSector(void* out, i64 sector, i64 count) override;
    u32 GetSectorSize() override { return m_sectorSize == 0 ? 512 : m_sectorSize; }
    // The number of sectors held in the ring.
    i64 GetTotalSectors() override { return static_cast<i64>(m_held); }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData* data) override { delete data; }
    u32 GetType() override { return STORAGE_DEVICE_CACHE; }
    u64 GetLastError() override { return 0; }

    // Allocates a ring of sectorsPerBlock x blockCount sectors; false when the sizes are 0. Only the
    // bytes read before a block is written there are zeroed (the lead block and the spare bytes): the
    // rest is left to the blocks, so a small scan does not pay for filling a ring it never uses.
    bool InitBufferDevice(IStorageDevice* device, unsigned long long startSector, unsigned sectorSize,
                          unsigned sectorsPerBlock, unsigned blockCount);
    bool IsInitialised() const { return m_initialised; }
    // Appends one block (sectors per block sectors); once the ring is full the oldest block goes.
    void AddBlockToBuffer(const char* block);
    // Where the next block is to be written (one block of bytes), null before initialisation. The
    // block added last (zeros before the first) lies just before it, kSpareBytes of zeros just after.
    // Not part of the ring until AddIncomingBlock.
    unsigned char* IncomingBlock() { return m_initialised ? SlotData(m_incoming) : nullptr; }
    // Appends the incoming block as AddBlockToBuffer would, without a copy.
    void AddIncomingBlock();
    bool IsFullBuffer() const { return m_initialised && m_held == m_capacity; }
    u64 GetDeviceStartSector() const { return m_startSector; }

private:
    size_t BlockBytes() const { return size_t{m_sectorsPerBlock} * m_sectorSize; }
    unsigned char* SlotData(u32 slot) { return m_ring.get() + BlockBytes() * (size_t{slot} + 1); }

    std::unique_ptr<unsigned char[]> m_ring;  // lead block, m_slots slots, spare bytes
    u64 m_startSector = 0;
    u64 m_held = 0;
    u32 m_incoming = 0;  // slot of the next block; the held ones are the slots before it
    u32 m_slots = 0;
    u32 m_sectorsPerBlock = 0;
    u32 m_blockCount = 0;
    u32 m_capacity = 0;
    bool m_initialised = false;
    IStorageDevice* m_device = nullptr;
    u32 m_sectorSize = 512;
};
