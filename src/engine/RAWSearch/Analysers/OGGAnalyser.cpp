#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace ogg_layout;

namespace Brance {

OGGAnalyser::OGGAnalyser() : IRawFileAnalyser(RAW_TYPE_OGG), m_device(std::make_unique<CFileOggAnalyser>()) {}

int OGGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    // A page of the file being followed is no new file.
    if (sector == nullptr || m_followed >= 0 || !ByteReader(sector, 4).Equals(0, "OggS")) return 0;
    info.m_type = RAW_TYPE_OGG;
    return 1;
}

CRawFileInfo* OGGAnalyser::CreateRawFileInfo() { return new OGGRawFileInfo(this); }

OGGRawFileInfo::OGGRawFileInfo(OGGAnalyser* owner) : m_owner(owner) { m_type = RAW_TYPE_OGG; }

int OGGRawFileInfo::Finish(long long s, u64 size) {
    m_owner->FileEnded(m_startSector);
    return End(s, size);
}

void OGGRawFileInfo::WillBeRemove(unsigned char*, long long) {
    m_owner->FileEnded(m_startSector);
    m_analyser = m_owner->Device();
}

int OGGRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    if (s == m_startSector) m_owner->Follow(m_startSector);
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    int pages = 0;
    while (m_walked < static_cast<u64>(w.SectorEnd())) {
        if (m_walked >= 10 * kCap) return Finish(s, kCap);
        switch (OggPage(source, m_walked)) {
            case WalkStep::Next:
                if (++pages > kPagesPerCall) return Finish(s, m_walked);
                break;
            case WalkStep::Wait: return RAW_SIZE_CONTINUE;
            case WalkStep::End: return Finish(s, m_walked);
        }
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace Brance

IRawFileAnalyser* CreateOGGAnalyser() { return new Brance::OGGAnalyser(); }
