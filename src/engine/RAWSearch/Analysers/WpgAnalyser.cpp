#include "engine/RAWSearch/Analysers/WpgAnalyser.h"

#include <cstring>

#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

namespace RawSpeed {

WpgAnalyser::WpgAnalyser() : IRawFileAnalyser(RAW_TYPE_WPG) {}

int WpgAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr unsigned char kMagic[4] = {0x77, 0x70, 0x67, 0x00};
    if (sector == nullptr || memcmp(sector, kMagic, sizeof(kMagic)) != 0) return 0;
    info.m_type = RAW_TYPE_WPG;
    return 1;
}

CRawFileInfo* WpgAnalyser::CreateRawFileInfo() { return new WPGRawFileInfo(); }

WPGRawFileInfo::WPGRawFileInfo() { m_type = RAW_TYPE_WPG; }

int WPGRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const i64 covered = (s - m_startSector) * n;
    if (covered > kMaxCovered) {
        m_size = 0;
        return RAW_SIZE_FINISHED;
    }
    if (ctx.trailingZeroBytes < 16) return RAW_SIZE_CONTINUE;
    SetRawFileName(SectorSpanName(m_startSector, s, "."));
    m_size = static_cast<u64>(covered + BruteForce::RawUtility::Binary_Compare(sector, n));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateWpgAnalyser() { return new RawSpeed::WpgAnalyser(); }
