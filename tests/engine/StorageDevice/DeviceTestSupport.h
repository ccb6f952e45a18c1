// Helpers of the storage-device tests: patterned image files, their expected bytes and device records.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace devtest {

// A byte that depends on its file offset, so a read from the wrong place never matches.
inline u8 PatternByte(u64 offset) { return static_cast<u8>((offset * 2654435761u) >> 13 ^ offset >> 9); }

// Writes size bytes of the pattern.
inline void WritePatternFile(const std::filesystem::path& path, u64 size) {
    std::vector<u8> bytes(size);
    for (u64 i = 0; i < size; ++i) bytes[i] = PatternByte(i);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    (void)written;
    ::close(fd);
}

// The bytes of a file range as dd reads them (zeros past the end are not added).
inline std::vector<u8> DdRange(const std::filesystem::path& path, u64 offset, u64 length) {
    std::vector<u8> out(length);
    int fd = ::open(path.c_str(), O_RDONLY);
    ssize_t got = fd >= 0 ? ::pread(fd, out.data(), length, static_cast<off_t>(offset)) : -1;
    if (fd >= 0) ::close(fd);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

inline IDiskDeviceData* DiskData(i64 sectorSize, i64 totalSectors, u32 kind = 0) {
    auto* record = new CCollectDiskDeviceInfoStruct{};
    record->kind = kind;
    record->sectorSize = sectorSize;
    record->totalSectors = totalSectors;
    return CreateDiskDeviceData(record);
}

inline IVolumeDeviceData* VolumeData(i64 sectorSize, i64 totalSectors) {
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->sectorSize = sectorSize;
    record->totalSectors = totalSectors;
    return CreateVolumeDeviceData(record);
}

inline IPartitionDeviceData* PartitionData(IStorageDevice* parent, i64 sectorSize, i64 start, i64 count,
                                           u32 kind = 0) {
    auto* record = new CCollectedPartitionDeviceInfoStruct{};
    record->kind = kind;
    record->sectorSize = sectorSize;
    record->sectorCount = count;
    record->startSector = start;
    record->parentDisk = parent;
    return CreatePartitionDeviceData(record);
}

inline IEDIDeviceData* EdiData(u64 sectorSize, u64 totalSectors, u64 dataOffset) {
    auto* record = new CEDIDeviceInfoStruct{};
    record->sectorSize = sectorSize;
    record->totalSectors = totalSectors;
    record->dataOffset = dataOffset;
    return CreateEDIDeviceData(record);
}

inline IDmgDeviceData* DmgData(u64 sectorSize, u64 totalSectors, u64 dataOffset) {
    auto* record = new CDMGDeviceInfoStruct{};
    record->sectorSize = sectorSize;
    record->totalSectors = totalSectors;
    record->dataOffset = dataOffset;
    return CreateDMGDeviceData(record);
}

}  // namespace devtest
