#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace mpg_layout;

namespace Brance {

MPGAnalyser::MPGAnalyser() : IRawFileAnalyser(RAW_TYPE_MPG), m_device(std::make_unique<FileMPGAnalyser>()) {}

int MPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader head(sector, 8);
    bool listed = false;
    for (const auto& form : kAccepted) listed = listed || head.Equals(kPackBytes, form, 4);
    if (!listed || !m_device->AnalyseBuffer(sector, info)) return 0;
    info.m_type = RAW_TYPE_MPG;
    return 1;
}

int MPGAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long, long long sectorNumber,
                                 long long, long long) {
    // A pack inside a stream accepted less than 21 sectors before starts no file.
    if (m_previousStart >= 0 && sectorNumber >= m_previousStart && sectorNumber - m_previousStart < kMinStartDistance) {
        return 0;
    }
    if (AnalyseBuffer(sector, info) != 1) return 0;
    m_previousStart = sectorNumber;
    return 1;
}

CRawFileInfo* MPGAnalyser::CreateRawFileInfo() { return new MPGRawFileInfo(this); }

void MPGAnalyser::ResetFollowState() {
    m_previousStart = -1;
    m_device->ResetFollowState();
}

MPGRawFileInfo::MPGRawFileInfo(MPGAnalyser* owner) : m_owner(owner) { m_type = RAW_TYPE_MPG; }

int MPGRawFileInfo::Finish(long long s, u64 size) {
    m_owner->FileEnded(m_startSector);
    return End(s, size);
}

void MPGRawFileInfo::WillBeRemove(unsigned char*, long long) {
    m_owner->FileEnded(m_startSector);
    m_analyser = m_owner->Device();
}

int MPGRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    if (!m_walk) {
        const std::optional<ByteReader> head = source.Bytes(0, kPackBytes + 4);
        if (!head) return Finish(s, 0);
        m_walk = std::make_unique<MpgWalk>(MpgWalk::PackLength(*head));
    }
    if (m_walk->Walked() >= 10 * kCap) return Finish(s, kCap);
    switch (m_walk->Run(source, static_cast<u64>(w.SectorEnd()), MpgWalk::Until::Guess)) {
        case WalkStep::End: return Finish(s, m_walk->Size());
        default: return RAW_SIZE_CONTINUE;
    }
}

}  // namespace Brance

IRawFileAnalyser* CreateMPGAnalyser() { return new Brance::MPGAnalyser(); }
