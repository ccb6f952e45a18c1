// The last blocks of a deep scan kept in a ring in memory and read as a device, so that a file that
// began a few blocks back can be sized without reading the disk again. Reads outside the ring go to
// the real device.
#pragma once

#include <vector>

#include "engine/StorageDevice/IStorageDevice.h"

class CBufferStorageDevice : public IStorageDevice {
public:
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

    // Allocates a zeroed ring of sectorsPerBlock x blockCount sectors; false when the sizes are 0.
    bool InitBufferDevice(IStorageDevice* device, unsigned long long startSector, unsigned sectorSize,
                          unsigned sectorsPerBlock, unsigned blockCount);
    // Appends one block (sectors per block sectors); once the ring is full the oldest block goes.
    void AddBlockToBuffer(const char* block);
    bool IsFullBuffer() const { return m_initialised && m_held == m_capacity; }
    u64 GetDeviceStartSector() const { return m_startSector; }

private:
    std::vector<unsigned char> m_ring;
    u64 m_startSector = 0;
    u64 m_held = 0;
    u32 m_writePosition = 0;
    u32 m_sectorsPerBlock = 0;
    u32 m_blockCount = 0;
    u32 m_capacity = 0;
    bool m_initialised = false;
    IStorageDevice* m_device = nullptr;
    u32 m_sectorSize = 512;
};
