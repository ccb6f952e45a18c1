// A reading window over a device for sizing found files: 128 sectors at a time from the file's start,
// with one more sector behind the window so that short structures crossing its end can be read.
#pragma once

#include <vector>

#include "engine/Common/Types.h"

class IStorageDevice;

// The largest sector size the signature search handles.
inline constexpr u32 kRawMaxSectorSize = 4096;

class RawFileBuffer {
public:
    static constexpr u32 kWindowSectors = 128;

    RawFileBuffer(IStorageDevice* device, unsigned long long startSector);

    // The byte at offset from the file start; readable up to Available(offset) bytes. Null when the
    // search was cancelled, the device cannot be read there or its sector size is not supported.
    unsigned char* GetRawFileBuffer(unsigned long long offset);
    // Bytes readable from the pointer GetRawFileBuffer(offset) returned (window end plus one sector).
    u64 Available(unsigned long long offset) const;
    // Copies length bytes at offset (across windows as needed); false when any part cannot be read.
    bool CopyOut(unsigned long long offset, void* out, u64 length);

    u32 GetSectorSize() const { return m_sectorSize; }
    u64 GetWindowSize() const { return m_windowSize; }

private:
    IStorageDevice* m_device;
    u64 m_startSector;
    i64 m_window = -1;
    u32 m_sectorSize = 512;
    u64 m_windowSize = 65536;
    std::vector<unsigned char> m_area;
};

// The end signature handed to SearchSignFileAnalyser::SearchEndSignCode.
struct SearchSignCodeInfo {
    unsigned char sign[64] = {};
    u32 length = 0;
    u64 maxSize = 0;  // 0 means 0xD000000 bytes
};

class CRawFileInfo;

namespace SearchSignFileAnalyser {
// Sizes info by searching forward for the end signature in sectors that end zero-padded. With
// caseSensitive 0 the signature is searched in lower and then upper case. Always 1.
int SearchEndSignCode(CRawFileInfo& info, IStorageDevice* device, const SearchSignCodeInfo& sign, int caseSensitive);
}  // namespace SearchSignFileAnalyser

// The first occurrence of pattern in data, or null (also for null pointers, lengths below 1 or data
// shorter than the pattern).
unsigned char* Apimemstr(unsigned char* data, int dataLength, const unsigned char* pattern, int patternLength);
