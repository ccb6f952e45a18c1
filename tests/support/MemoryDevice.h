// An in-memory IStorageDevice for tests: bytes in a vector, a chosen sector size and device type,
// reads counted, and reads that can be made to fail (single sectors, or any range through a hook).
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "engine/StorageDevice/IStorageDevice.h"

namespace testsupport {

class MemoryDevice : public IStorageDevice {
public:
    explicit MemoryDevice(std::vector<u8> bytes, u32 sectorSize = 512, u32 type = STORAGE_DEVICE_VOLUME);
    // A zeroed device of the given number of sectors.
    MemoryDevice(i64 sectors, u32 sectorSize, u32 type = STORAGE_DEVICE_VOLUME);
    // The whole content of a file (an unpacked image). Throws when it cannot be read.
    static std::unique_ptr<MemoryDevice> FromFile(const std::filesystem::path& path, u32 sectorSize = 512,
                                                  u32 type = STORAGE_DEVICE_VOLUME);
    ~MemoryDevice() override;

    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    // Whole sectors inside the device only; a failing sector, or a range the hook refuses, fails the read.
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return static_cast<i64>(m_bytes.size() / m_sectorSize); }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_data; }
    void SetPrivateData(IStorageDeviceData* data) override;
    u32 GetType() override { return m_type; }
    u64 GetLastError() override { return m_lastError; }

    std::vector<u8>& Bytes() { return m_bytes; }
    // Writes bytes at a byte offset (grows nothing: the range must lie inside).
    void Put(u64 offset, const void* data, size_t length);
    void FailSector(i64 sector) { m_failing.insert(sector); }
    // Called before each read; returning true makes it fail.
    void SetFailHook(std::function<bool(i64 firstSector, i64 sectorCount)> hook);
    int ReadCount() const { return m_reads.load(); }

private:
    std::vector<u8> m_bytes;
    u32 m_sectorSize;
    u32 m_type;
    IStorageDeviceData* m_data = nullptr;
    std::set<i64> m_failing;
    std::mutex m_hookMutex;
    std::function<bool(i64, i64)> m_failHook;
    std::atomic<int> m_reads{0};
    std::atomic<u64> m_lastError{0};
};

}  // namespace testsupport
