#include "engine/RAWSearch/Analysers/ZeroRunRecord.h"

#include <algorithm>

#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

namespace RawSpeed {

ZeroRunRawFileInfo::ZeroRunRawFileInfo(RAW_FILE_TYPE type, const ZeroRunRule& rule, IRawFileAnalyser* fallback)
    : m_rule(rule), m_fallback(fallback) {
    m_type = type;
}

int ZeroRunRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                    SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const i64 p = (sectorNumber - m_startSector) * sectorSize;
    if (p == 0) m_utf16 = sector[0] == 0xFF && sector[1] == 0xFE;
    if (p > m_rule.cap) {
        m_size = static_cast<u64>(p);
        SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
        return RAW_SIZE_FINISHED;
    }
    if (ctx.trailingZeroBytes < 8) return RAW_SIZE_CONTINUE;
    // The data of this sector counts towards the minimum, so a file shorter than a sector ends in its
    // first one. The bytes added never reach past this sector.
    i64 data = BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    // UTF-16LE text (a byte order mark first) ends in whole characters, the last one's high byte zero.
    if (m_utf16 && (p + data) % 2 != 0) ++data;
    if (p + data < m_startOffset + m_rule.minimum) return RAW_SIZE_CONTINUE;
    m_size = static_cast<u64>(std::min<i64>(p + data + m_rule.adds, p + sectorSize));
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed
