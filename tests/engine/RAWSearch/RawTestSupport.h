// Helpers of the signature-search tests: a device over bytes in memory and a builder of small JPEGs.
#pragma once

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/StorageDevice/IStorageDevice.h"

namespace rawtest {

// A read-only device over a byte vector; sectors listed in failing make any read touching them fail.
class MemoryDevice : public IStorageDevice {
public:
    MemoryDevice(std::vector<unsigned char> bytes, unsigned sectorSize = 512) : m_sectorSize(sectorSize) {
        bytes.resize((bytes.size() + sectorSize - 1) / sectorSize * sectorSize, 0);
        m_bytes = std::move(bytes);
    }
    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* out, i64 first, i64 count) override {
        ++reads;
        if (first < 0 || count < 0 || first + count > GetTotalSectors()) return 0;
        for (i64 s = first; s < first + count; ++s) {
            if (failing.count(s) != 0) return 0;
        }
        memcpy(out, m_bytes.data() + first * m_sectorSize, static_cast<size_t>(count) * m_sectorSize);
        return 1;
    }
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return static_cast<i64>(m_bytes.size() / m_sectorSize); }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData* data) override { delete data; }
    u32 GetType() override { return STORAGE_DEVICE_DISK; }
    u64 GetLastError() override { return 0; }

    std::vector<unsigned char>& bytes() { return m_bytes; }
    std::set<i64> failing;
    int reads = 0;

private:
    std::vector<unsigned char> m_bytes;
    unsigned m_sectorSize;
};

struct JpegRecipe {
    bool exif = true;         // an Exif APP1 first (else a JFIF APP0)
    bool exifAfterJfif = false;  // JFIF APP0 followed by an Exif APP1
    std::string make, model, date;
    unsigned exifWidth = 0, exifHeight = 0;  // 0xA002/0xA003 in the Exif directory when non-zero
    bool thumbnail = false;   // a small embedded JPEG (ending FF D9) in the thumbnail directory
    unsigned width = 64, height = 48;  // the frame header
    bool progressive = false;
    size_t scanBytes = 4000;  // entropy-coded bytes (never FF D9 inside)
    unsigned seed = 1;
};

// A structurally valid JPEG (markers, Exif, frame, scan, end marker); its pixels are noise.
std::vector<unsigned char> MakeJpeg(const JpegRecipe& recipe);

}  // namespace rawtest
