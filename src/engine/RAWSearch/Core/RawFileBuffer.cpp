#include "engine/RAWSearch/Core/RawFileBuffer.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstring>

#include "engine/RAWSearch/Core/NotifyCenter.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/StorageDevice/IStorageDevice.h"

RawFileBuffer::RawFileBuffer(IStorageDevice* device, unsigned long long startSector)
    : m_device(device), m_startSector(startSector) {
    if (m_device != nullptr) {
        m_sectorSize = m_device->GetSectorSize();
        if (m_sectorSize == 0) m_sectorSize = 512;
        m_windowSize = u64{kWindowSectors} * m_sectorSize;
    }
}

unsigned char* RawFileBuffer::GetRawFileBuffer(unsigned long long offset) {
    if (CNotifyCenter::Instance().isContinue() == 0) return nullptr;
    if (m_device == nullptr || m_sectorSize > kRawMaxSectorSize || m_sectorSize % 512 != 0) return nullptr;
    const i64 window = static_cast<i64>(offset / m_windowSize);
    if (window != m_window) {
        m_window = -1;
        m_area.assign(size_t{kWindowSectors + 1} * m_sectorSize, 0);
        const u64 first = m_startSector + static_cast<u64>(window) * kWindowSectors;
        if (m_device->ReadSector(m_area.data(), static_cast<i64>(first), kWindowSectors + 1) == 0) {
            // Near the device end: read what is left of it, sector by sector (a device read through the
            // search's look-back ring counts only the sectors of the ring as its own).
            std::fill(m_area.begin(), m_area.end(), 0);
            u32 read = 0;
            while (read < kWindowSectors + 1 &&
                   m_device->ReadSector(m_area.data() + size_t{read} * m_sectorSize, static_cast<i64>(first + read), 1) != 0) {
                ++read;
            }
            // A sector that cannot be read before the end of the device fails the window, as before.
            unsigned char probe[kRawMaxSectorSize];
            if (read == 0 || (read < kWindowSectors &&
                              m_device->ReadSector(probe, static_cast<i64>(first + kWindowSectors), 1) != 0)) {
                return nullptr;
            }
        }
        m_window = window;
    }
    return m_area.data() + offset % m_windowSize;
}

u64 RawFileBuffer::Available(unsigned long long offset) const {
    return m_windowSize + m_sectorSize - offset % m_windowSize;
}

bool RawFileBuffer::CopyOut(unsigned long long offset, void* out, u64 length) {
    auto* dst = static_cast<unsigned char*>(out);
    while (length > 0) {
        unsigned char* p = GetRawFileBuffer(offset);
        if (p == nullptr) return false;
        const u64 n = std::min<u64>(length, m_windowSize - offset % m_windowSize);
        memcpy(dst, p, n);
        dst += n;
        offset += n;
        length -= n;
    }
    return true;
}

unsigned char* Apimemstr(unsigned char* data, int dataLength, const unsigned char* pattern, int patternLength) {
    if (data == nullptr || pattern == nullptr || dataLength < 1 || patternLength < 1) return nullptr;
    if (dataLength < patternLength) return nullptr;
    const unsigned char* end = data + dataLength - patternLength;
    for (unsigned char* p = data; p <= end; ++p) {
        p = static_cast<unsigned char*>(memchr(p, pattern[0], static_cast<size_t>(end - p) + 1));
        if (p == nullptr) return nullptr;
        if (memcmp(p, pattern, static_cast<size_t>(patternLength)) == 0) return p;
    }
    return nullptr;
}

namespace SearchSignFileAnalyser {
namespace {

// Looks for the signature across the boundary between the previous sector's tail and this sector.
// Returns the number of bytes of this sector that the match covers, or 0.
u32 MatchAcrossBoundary(const unsigned char* prevTail, u32 prevLength, const unsigned char* sector,
                        const unsigned char* sign, u32 length) {
    if (length < 2 || prevLength == 0) return 0;
    unsigned char joined[128];
    const u32 before = std::min(prevLength, length - 1);
    memcpy(joined, prevTail + prevLength - before, before);
    memcpy(joined + before, sector, length - 1);
    const u32 joinedLength = before + length - 1;
    for (u32 i = 0; i + length <= joinedLength; ++i) {
        // Only matches that start before the boundary and end after it.
        if (i >= before) break;
        if (i + length <= before) continue;
        if (memcmp(joined + i, sign, length) == 0) return i + length - before;
    }
    return 0;
}

}  // namespace

int SearchEndSignCode(CRawFileInfo& info, IStorageDevice* device, const SearchSignCodeInfo& sign, int caseSensitive) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return 1;
    u32 sectorSize = device->GetSectorSize();
    if (sectorSize == 0) sectorSize = 512;
    const u32 length = std::min<u32>(sign.length, sizeof(sign.sign));
    const u64 cap = sign.maxSize != 0 ? sign.maxSize : 0xD000000ULL;
    // The caller's signature stays as given; case forms are copies.
    unsigned char lower[64], upper[64];
    for (u32 i = 0; i < length; ++i) {
        lower[i] = static_cast<unsigned char>(tolower(sign.sign[i]));
        upper[i] = static_cast<unsigned char>(toupper(sign.sign[i]));
    }
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char prevTail[64];
    u32 prevLength = 0;
    u64 offset = 0;
    auto found = [&](unsigned char* sector, const unsigned char* s) -> unsigned char* {
        return length == 0 ? nullptr : Apimemstr(sector, static_cast<int>(sectorSize), s, static_cast<int>(length));
    };
    while (offset <= cap) {
        unsigned char* p = window.GetRawFileBuffer(offset);
        if (p == nullptr) break;
        if (p[sectorSize - 2] == 0 && p[sectorSize - 1] == 0 && length > 0) {
            const unsigned char* forms[2] = {caseSensitive != 0 ? sign.sign : lower, upper};
            const int formCount = caseSensitive != 0 ? 1 : 2;
            for (int f = 0; f < formCount; ++f) {
                if (unsigned char* m = found(p, forms[f])) {
                    info.m_size = offset + static_cast<u64>(m - p) + length;
                    return 1;
                }
            }
            const unsigned char* across = caseSensitive != 0 ? sign.sign : upper;
            const u32 covered = MatchAcrossBoundary(prevTail, prevLength, p, across, length);
            static constexpr unsigned char kZero8[8] = {};
            if (memcmp(p + sectorSize - 8, kZero8, 8) == 0) {
                // The file ends in this zero-padded sector.
                info.m_size = offset + covered;
                return 1;
            }
            if (covered != 0) {
                info.m_size = offset + covered;
                return 1;
            }
        }
        prevLength = std::min<u32>(sizeof(prevTail), sectorSize);
        memcpy(prevTail, p + sectorSize - prevLength, prevLength);
        offset += sectorSize;
    }
    info.m_size = offset;
    return 1;
}

}  // namespace SearchSignFileAnalyser
