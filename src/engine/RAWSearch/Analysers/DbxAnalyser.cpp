#include "engine/RAWSearch/Analysers/DbxAnalyser.h"

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

using namespace dbx_layout;

namespace RawSpeed {

int DbxAnalyser::HeaderKind(const unsigned char* sector) {
    static constexpr unsigned char kTails[4][12] = {
        {0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0xC6, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0xC7, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0x30, 0x9D, 0xFE, 0x26, 0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF, 0x00, 0x60},
    };
    static constexpr unsigned char kZeroEnd[16] = {0xF7, 0x89, 0x34, 0x2C, 0xF7, 0xF0, 0xEE, 0x6D,
                                                   0xAF, 0x22, 0x89, 0xD1, 0x00, 0xFF, 0xF0, 0xB0};
    const ByteReader h(sector, 512);
    if (h.Equals(0, "\xCF\xAD\x12\xFE", 4)) {
        for (const auto& tail : kTails) {
            if (h.Equals(4, tail, sizeof(tail))) return 1;
        }
        return 0;
    }
    if (h.Equals(0, "JMF6\x03\x00\x01\x00", 8)) return 1;
    if (h.Equals(0, kZeroEnd, sizeof(kZeroEnd))) return 2;
    return 0;
}

int DbxAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || HeaderKind(sector) == 0) return 0;
    info.m_type = RAW_TYPE_DBX;
    return 1;
}

CRawFileInfo* DbxAnalyser::CreateRawFileInfo() { return new DBXRawFileInfo(); }

int DbxAnalyser::DBXRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const i64 p = (sectorNumber - m_startSector) * sectorSize;
    if (p > static_cast<i64>(kCap)) return RAW_SIZE_FINISHED;
    if (m_firstCall) {
        m_firstCall = false;
        m_zeroEnd = HeaderKind(sector) == 2;
        if (!m_zeroEnd) {
            m_size = std::min<u64>(kCap, ByteReader(sector, static_cast<size_t>(sectorSize)).Le32(kSize).value_or(0));
            return RAW_SIZE_FINISHED;
        }
    }
    if (ctx.trailingZeroBytes < 9) return RAW_SIZE_CONTINUE;
    m_size = static_cast<u64>(p + BruteForce::RawUtility::Binary_Compare(sector, sectorSize));
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "."));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateDbxAnalyser() { return new RawSpeed::DbxAnalyser(); }
