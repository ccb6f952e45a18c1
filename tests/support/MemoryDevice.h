// A storage device over bytes in memory, for tests: any sector size and device type, optional private
// data, a hook that makes chosen reads fail, and a count of reads.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/StorageDevice/IStorageDevice.h"

namespace testsupport {

class MemoryDevice : public IStorageDevice {
public:
    explicit MemoryDevice(std::vector<u8> bytes, u32 sectorSize = 512, u32 type = STORAGE_DEVICE_VOLUME);
    // The whole content of a file (an unpacked image).
    static std::unique_ptr<MemoryDevice> FromFile(const std::filesystem::path& path, u32 sectorSize = 512,
                                                  u32 type = STORAGE_DEVICE_VOLUME);
    ~MemoryDevice() override;

    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    // Fails (0) for a range outside the device or one the fail hook refuses.
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return i64(m_bytes.size() / m_sectorSize); }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_data; }
    void SetPrivateData(IStorageDeviceData* data) override;
    u32 GetType() override { return m_type; }
    u64 GetLastError() override { return 0; }

    // Called before each read; returning true makes it fail.
    void SetFailHook(std::function<bool(i64 firstSector, i64 sectorCount)> hook);
    int ReadCount() const { return m_reads.load(); }
    std::vector<u8>& Bytes() { return m_bytes; }

private:
    std::vector<u8> m_bytes;
    u32 m_sectorSize;
    u32 m_type;
    IStorageDeviceData* m_data = nullptr;
    std::mutex m_hookMutex;
    std::function<bool(i64, i64)> m_failHook;
    std::atomic<int> m_reads{0};
};

}  // namespace testsupport
