#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace rm_layout;

namespace Brance {

RM_RMVBAnalyser::RM_RMVBAnalyser() : IRawFileAnalyser(RAW_TYPE_RM), m_device(std::make_unique<FileRM_RMVBAnalyser>()) {}

int RM_RMVBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) { return m_device->AnalyseBuffer(sector, info); }

CRawFileInfo* RM_RMVBAnalyser::CreateRawFileInfo() { return new RM_RMVBRawFileInfo(m_device.get()); }

RM_RMVBRawFileInfo::RM_RMVBRawFileInfo(IRawFileAnalyser* device) : m_device(device) { m_type = RAW_TYPE_RM; }

int RM_RMVBRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    if (!m_kindKnown) {
        const std::optional<ByteReader> head = source.Bytes(0, kHead);
        if (!head) return End(s, 0);
        m_type = RealMediaKind(*head);
        m_kindKnown = true;
    }
    if (static_cast<u64>(w.SectorEnd()) >= 20 * kCap) return End(s, kCap);
    if (m_type == RAW_TYPE_RMVB) {
        // Not walked: its end record, in a sector that ends in zeros or across this sector's end.
        const bool zeroTail = ctx.trailingZeroBytes >= kZeroTail;
        const i64 from = zeroTail ? w.SectorStart() : w.SectorEnd() - static_cast<i64>(kStraddle);
        const ByteReader held = w.From(from);
        const u64 span = zeroTail ? static_cast<u64>(n) : 2 * kStraddle;
        const i64 end = FindRmvbEnd(ByteReader(held.data(), std::min<u64>(held.size(), span)));
        if (end >= 0) return End(s, static_cast<u64>(from + end) + kEndRecord);
        return RAW_SIZE_CONTINUE;
    }
    for (int chunks = 0; m_walked < static_cast<u64>(w.SectorEnd());) {
        if (m_walked >= 20 * kCap) return End(s, kCap);
        switch (RmChunk(source, m_walked, m_data)) {
            case WalkStep::Next:
                if (++chunks > kChunksPerCall) return End(s, m_walked);
                break;
            case WalkStep::Wait: return RAW_SIZE_CONTINUE;
            // A file that spans twenty times the cap is cut to the cap.
            case WalkStep::End: return End(s, m_walked >= 20 * kCap ? kCap : m_walked);
        }
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace Brance

IRawFileAnalyser* CreateRM_RMVBAnalyser() { return new Brance::RM_RMVBAnalyser(); }
