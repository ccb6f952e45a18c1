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
    if (p > m_rule.cap) {
        m_size = static_cast<u64>(p);
        SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
        return RAW_SIZE_FINISHED;
    }
    if (ctx.trailingZeroBytes < 8 || p < m_startOffset + m_rule.minimum) return RAW_SIZE_CONTINUE;
    // The bytes added never reach past this sector.
    m_size = static_cast<u64>(std::min<i64>(p + BruteForce::RawUtility::Binary_Compare(sector, sectorSize) + m_rule.adds,
                                            p + sectorSize));
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed
