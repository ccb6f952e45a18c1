// A fake machine for the enumeration tests: a kernel tree whose device nodes are sparse image files,
// partition tables written byte by byte, and a volume analyser that recognises a marker sector.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/RecordText.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"
#include "engine/VolumeAnalyze/VolumeLabel.h"
#include "support/FakeKernelTree.h"
#include "support/TempDir.h"

namespace enumtest {

constexpr char kMarker[8] = {'F', 'A', 'K', 'E', 'F', 'S', '!', '\0'};

// Recognises sector 0 = marker, type byte at 8, label from 16.
class MarkerAnalyzer : public IVolumeAnalyze {
public:
    MarkerAnalyzer(IStorageDevice* device, u64 start) {
        std::vector<u8> sector(device ? device->GetSectorSize() : 512);
        if (!device || sector.size() < 512 || !device->ReadSector(sector.data(), static_cast<i64>(start), 1)) return;
        if (std::memcmp(sector.data(), kMarker, sizeof kMarker) != 0) return;
        m_type = static_cast<enumFILE_SYSTEM_TYPE>(sector[8]);
        std::memcpy(m_label, sector.data() + 16, 100);
    }
    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return m_type; }
    i64 GetTotalSector() override { return 0; }
    void GetLabel(char* buffer, int length) override { volumelabel::Copy(buffer, length, m_label, sizeof m_label); }

private:
    enumFILE_SYSTEM_TYPE m_type = FILE_SYSTEM_UNKNOWN;
    char m_label[100] = {};
};

// Puts the marker analyser in place of the real ones for the life of the object.
class MarkerAnalyzers {
public:
    MarkerAnalyzers() : m_saved(VolumeAnalyzers()) {
        VolumeAnalyzers() = VolumeAnalyzerFactories{
            [](IStorageDevice* d, u64 s) -> IVolumeAnalyze* { return new MarkerAnalyzer(d, s); }, nullptr, nullptr,
            nullptr, nullptr};
    }
    ~MarkerAnalyzers() { VolumeAnalyzers() = m_saved; }

private:
    VolumeAnalyzerFactories m_saved;
};

inline void PutLe(std::vector<u8>& b, size_t at, u64 value, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<u8>(value >> (8 * i));
}

// Writes bytes at offset of a file, which grows as needed.
inline void WriteAt(const std::filesystem::path& file, u64 offset, const std::vector<u8>& bytes) {
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(out) << file;
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The marker sector of a file system of the given type and label.
inline std::vector<u8> MarkerSector(u8 type, const std::string& label, size_t sectorSize = 512) {
    std::vector<u8> s(sectorSize, 0);
    std::memcpy(s.data(), kMarker, sizeof kMarker);
    s[8] = type;
    std::memcpy(s.data() + 16, label.data(), std::min<size_t>(label.size(), 100));
    return s;
}

struct MbrEntry {
    u8 type;
    u32 start;
    u32 count;
};

inline std::vector<u8> MbrSector(const std::vector<MbrEntry>& entries) {
    std::vector<u8> s(512, 0);
    for (size_t k = 0; k < entries.size() && k < 4; ++k) {
        size_t at = 446 + 16 * k;
        s[at + 4] = entries[k].type;
        PutLe(s, at + 8, entries[k].start, 4);
        PutLe(s, at + 12, entries[k].count, 4);
    }
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

struct GptEntry {
    u8 typeGuid[16];
    u8 uniqueGuid[16];
    u64 first;
    u64 last;
};

// A protective MBR and the entry array of sectors 2-33 (the reader does not look at the header).
inline void WriteGpt(const std::filesystem::path& disk, u64 totalSectors, const std::vector<GptEntry>& entries) {
    WriteAt(disk, 0, MbrSector({{0xEE, 1, static_cast<u32>(totalSectors - 1)}}));
    std::vector<u8> array(32 * 512, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        size_t at = i * 128;
        std::memcpy(&array[at], entries[i].typeGuid, 16);
        std::memcpy(&array[at + 16], entries[i].uniqueGuid, 16);
        PutLe(array, at + 32, entries[i].first, 8);
        PutLe(array, at + 40, entries[i].last, 8);
    }
    WriteAt(disk, 2 * 512, array);
}

inline const CCollectDiskDeviceInfoStruct* DiskInfo(IStorageDevice* d) {
    auto* data = d ? dynamic_cast<IDiskDeviceData*>(d->GetPrivateData()) : nullptr;
    return data ? data->GetDiskInfo() : nullptr;
}
inline const CCollectedPartitionDeviceInfoStruct* PartitionInfo(IStorageDevice* d) {
    auto* data = d ? dynamic_cast<IPartitionDeviceData*>(d->GetPrivateData()) : nullptr;
    return data ? data->GetPartitionInfo() : nullptr;
}
inline const CCollectedVolumeDeviceInfoStruct* VolumeInfo(IStorageDevice* d) {
    auto* data = d ? dynamic_cast<IVolumeDeviceData*>(d->GetPrivateData()) : nullptr;
    return data ? data->GetVolumeInfo() : nullptr;
}

}  // namespace enumtest
