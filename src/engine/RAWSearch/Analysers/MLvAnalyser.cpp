#include "engine/RAWSearch/Analysers/MLvAnalyser.h"

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

using namespace mlv_layout;

namespace RawSpeed {

namespace {
bool KnownBlock(const ByteReader& header) {
    for (const char* type : kBlockTypes) {
        if (header.Equals(0, type, 4)) return true;
    }
    return false;
}
}  // namespace

MLvAnalyser::MLvAnalyser() : IRawFileAnalyser(RAW_TYPE_MLV) {}

int MLvAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader head(sector, 512);
    if (!head.Equals(0, "MLVI") || !head.Equals(kRawInfo, "RAWI")) return 0;
    info.m_type = RAW_TYPE_MLV;
    return 1;
}

CRawFileInfo* MLvAnalyser::CreateRawFileInfo() { return new MLvRawFileInfo(); }

int MLvRawFileInfo::End(long long sectorNumber, u64 size) {
    m_ended = true;
    m_size = size;
    if (size != 0) SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

int MLvRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    bool blockHere = false;
    while (m_walked < static_cast<u64>(w.SectorEnd())) {
        if (m_walked >= kLimit) return End(s, m_walked);
        const std::optional<ByteReader> header = w.Bytes(static_cast<i64>(m_walked), kBlockHeader);
        if (!header && static_cast<i64>(m_walked) >= w.Begin()) return RAW_SIZE_CONTINUE;
        const u32 size = header ? header->Le32(kBlockSize).value_or(0) : 0;
        if (!header || size == 0 || !KnownBlock(*header)) return End(s, m_candidate != 0 ? m_candidate : m_walked);
        m_walked += size;
        blockHere = true;
    }
    if (m_walked >= kLimit) return End(s, m_walked);
    // A sector that ends in zeros after a block was read in it may hold the file's end.
    if (blockHere && ctx.trailingZeroBytes >= kZeroTail) {
        m_candidate = static_cast<u64>(w.SectorStart()) +
                      static_cast<u64>(BruteForce::RawUtility::Binary_Compare(sector, n));
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateMLvAnalyser() { return new RawSpeed::MLvAnalyser(); }
