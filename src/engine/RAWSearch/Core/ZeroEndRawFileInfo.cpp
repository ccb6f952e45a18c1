#include "engine/RAWSearch/Core/ZeroEndRawFileInfo.h"

#include <algorithm>

#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include <cstring>

CZeroEndRawFileInfo::CZeroEndRawFileInfo(u64 maxSize, u32 unit, const unsigned char* endPattern, u16 endPatternLength)
    : m_maxSize(maxSize), m_unit(unit == 0 ? 1 : unit) {
    if (endPattern != nullptr && endPatternLength > 0) {
        m_endPatternLength = std::min<u16>(endPatternLength, sizeof(m_endPattern));
        memcpy(m_endPattern, endPattern, m_endPatternLength);
    }
}

int CZeroEndRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long, SearchContext& ctx) {
    if (m_size < m_nextCheck) {
        m_size += static_cast<u64>(sectorSize);
        return RAW_SIZE_CONTINUE;
    }
    const int z = static_cast<int>(ctx.trailingZeroBytes);
    if (z == 0) {
        m_size += static_cast<u64>(sectorSize);
        return RAW_SIZE_CONTINUE;
    }
    if (z < sectorSize) {
        m_size += static_cast<u64>(extraZeroPos(sector, sectorSize, z));
    } else {
        m_size += static_cast<u64>(sectorSize);
    }
    if (m_size > m_maxSize) {
        m_size = m_maxSize;
        return RAW_SIZE_FINISHED;
    }
    if (m_endPatternLength > 0) return foundEndByte(sector, sectorSize);
    return RAW_SIZE_FINISHED;
}

int CZeroEndRawFileInfo::extraZeroPos(unsigned char* sector, int sectorSize, int z) const {
    if (z <= 31) return sectorSize - z;
    const int unit = static_cast<int>(m_unit);
    const int records = std::max(sectorSize - z, 0) / unit;
    auto recordIsZero = [&](int index) {
        const unsigned char* r = sector + index * unit;
        for (int i = 0; i < unit; ++i) {
            if (r[i] != 0) return false;
        }
        return true;
    };
    int lo = 0, hi = records;  // the first all-zero record lies in [lo, hi]
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (recordIsZero(mid)) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    int pos = lo * unit;
    while (pos > 0 && sector[pos - 1] == 0) --pos;
    return pos;
}

int CZeroEndRawFileInfo::foundEndByte(unsigned char* sector, int sectorSize) {
    const int length = m_endPatternLength;
    const int p = static_cast<int>(m_size % static_cast<u64>(sectorSize));
    const int from = std::max(p - length, 0);
    const int to = std::min(p + length, sectorSize);
    if (unsigned char* m = Apimemstr(sector + from, to - from, m_endPattern, length)) {
        const int i = static_cast<int>(m - sector);
        m_size = m_size - static_cast<u64>(p) + static_cast<u64>(i + length);
        return RAW_SIZE_FINISHED;
    }
    m_nextCheck = m_size - static_cast<u64>(p) + static_cast<u64>(sectorSize);
    return RAW_SIZE_CONTINUE;
}
