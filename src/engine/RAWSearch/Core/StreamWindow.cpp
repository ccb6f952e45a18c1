#include "engine/RAWSearch/Core/StreamWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

StreamWindow::StreamWindow(const unsigned char* sector, int sectorSize, long long sectorNumber, long long startSector,
                           const CRawFileInfo::SearchContext& ctx)
    : m_sector(sector), m_sectorSize(std::max(sectorSize, 0)) {
    const i64 index = std::max<i64>(sectorNumber - startSector, 0);
    m_sectorStart = index * m_sectorSize;
    // The buffer always holds the current sector; before it, back to the buffer's first sector or the
    // file's first, whichever is later; after it, to the end of the current block.
    const i64 firstHeld = std::clamp<i64>(ctx.bufferStartSector, startSector, startSector + index);
    const i64 endHeld = std::max<i64>(ctx.blockEndSector, sectorNumber + 1);
    m_begin = (firstHeld - startSector) * m_sectorSize;
    m_end = (endHeld - startSector) * m_sectorSize;
    if (sector == nullptr) m_begin = m_end = m_sectorStart;
}

u32 SectorZeroTail(const unsigned char* sector, u32 sectorSize) {
    static constexpr unsigned char kZeroWord[4] = {};
    u32 zero = 0;
    while (zero < 32 && zero + 4 <= sectorSize && memcmp(sector + sectorSize - zero - 4, kZeroWord, 4) == 0) zero += 4;
    return zero;
}

std::string SectorSpanName(long long startSector, long long currentSector, const char* suffix) {
    char name[64];
    snprintf(name, sizeof(name), "%lld-%lld%s", startSector, currentSector, suffix != nullptr ? suffix : "");
    return name;
}
