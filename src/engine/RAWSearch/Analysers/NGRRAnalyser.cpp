#include "engine/RAWSearch/Analysers/NGRRAnalyser.h"

#include <cassert>
#include <strings.h>

#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

namespace RawSpeed {

using namespace ngrr_layout;

NGRRAnalyser::NGRRAnalyser() : IRawFileAnalyser(RAW_TYPE_NGRR) {}

int NGRRAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || strncasecmp(reinterpret_cast<const char*>(sector), "-in-", 4) != 0) return 0;
    info.m_type = RAW_TYPE_NGRR;
    return 1;
}

CRawFileInfo* NGRRAnalyser::CreateRawFileInfo() { return new NGRRRawFileInfo(); }

NGRRRawFileInfo::NGRRRawFileInfo() { m_type = RAW_TYPE_NGRR; }

int NGRRRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow window(sector, n, s, m_startSector, ctx);
    const i64 covered = window.SectorStart();
    if (covered > kMaxSize) {
        m_size = static_cast<u64>(covered);
        return RAW_SIZE_FINISHED;
    }
    // Each step moves the position on by at least 24 bytes; positions are checked against the window.
    while (m_position < window.SectorEnd()) {
        const auto chunk = window.Bytes(m_position, kChunkHeaderRead);
        if (!chunk) {
            if (m_position + static_cast<i64>(kChunkHeaderRead) > window.End()) return RAW_SIZE_CONTINUE;
            break;  // behind the window: cannot happen while sectors arrive in order
        }
        if (!chunk->Equals(kChunkName, "data", 4)) break;
        m_position += static_cast<i64>(*chunk->Le32(kChunkLength) + kChunkOverhead);
    }
    if (m_position >= window.SectorEnd()) return RAW_SIZE_CONTINUE;
    SetRawFileName(SectorSpanName(m_startSector, s, "_"));
    m_size = static_cast<u64>(m_position);
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateNGRRAnalyser() { return new RawSpeed::NGRRAnalyser(); }
