// A read-only IStorageDevice over an image file with any sector size; reads go straight to the file,
// so sparse images of any size cost no memory.
#pragma once

#include <filesystem>
#include <functional>

#include "engine/StorageDevice/IStorageDevice.h"

namespace testsupport {

class ImageFileDevice : public IStorageDevice {
public:
    // The file's whole sectors; a file that cannot be opened gives a device of 0 sectors.
    ImageFileDevice(const std::filesystem::path& path, u32 sectorSize);
    ~ImageFileDevice() override;
    ImageFileDevice(const ImageFileDevice&) = delete;
    ImageFileDevice& operator=(const ImageFileDevice&) = delete;

    int Open(const char*) override { return m_fd >= 0 ? 1 : 0; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return m_sectors; }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_data; }
    void SetPrivateData(IStorageDeviceData* data) override;
    u32 GetType() override { return STORAGE_DEVICE_DISK; }
    u64 GetLastError() override { return 0; }

    int Reads() const { return m_reads; }
    // Called with each read's first sector and count before it is made.
    std::function<void(i64 firstSector, i64 sectorCount)> onRead;

private:
    int m_fd = -1;
    u32 m_sectorSize;
    i64 m_sectors = 0;
    IStorageDeviceData* m_data = nullptr;
    int m_reads = 0;
};

}  // namespace testsupport
