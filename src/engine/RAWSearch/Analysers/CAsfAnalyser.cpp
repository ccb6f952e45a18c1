#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace asf_layout;

namespace BruteForce {

namespace {
bool IsGuid(const ByteReader& bytes, const Guid& guid) { return bytes.Equals(0, guid, sizeof(Guid)); }

bool IsTopLevel(const ByteReader& object) {
    for (const Guid& guid : kTopLevel) {
        if (IsGuid(object, guid)) return true;
    }
    return false;
}
}  // namespace

CAsfAnalyser::CAsfAnalyser() : IRawFileAnalyser(-1) {}

int CAsfAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !IsGuid(ByteReader(sector, sizeof(Guid)), kHeader)) return 0;
    info.m_type = RAW_TYPE_ASF;
    return 1;
}

CRawFileInfo* CAsfAnalyser::CreateRawFileInfo() { return new CAsfRawFileInfo(); }

RAW_FILE_TYPE CAsfRawFileInfo::StreamKind(int videos, int audioOrVideo, int others) {
    if (others == 0 && videos == 1) return RAW_TYPE_WMV;
    if (others == 0 && audioOrVideo >= 1) return RAW_TYPE_WMA;
    return RAW_TYPE_ASF;
}

int CAsfRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    if (m_headerEnd == 0) {
        const std::optional<ByteReader> head = source.Bytes(0, kFirstChild);
        if (!head) return EndUnnamed(0);
        m_headerEnd = *head->Le64(kObjectSize);
        if (m_headerEnd < kFirstChild || m_headerEnd > kCap) return EndUnnamed(0);
        m_child = kFirstChild;
        m_walked = m_headerEnd;
    }
    // The header's children: its streams counted by their kind.
    while (!m_childrenDone && m_child < m_headerEnd) {
        const std::optional<ByteReader> child = source.Bytes(m_child, kObjectHeader + sizeof(Guid));
        if (!child) {
            if (source.Awaits(m_child)) return RAW_SIZE_CONTINUE;
            break;
        }
        const u64 size = *child->Le64(kObjectSize);
        if (size == 0) break;
        if (IsGuid(*child, kStreamProperties)) {
            const ByteReader type(child->data() + kStreamType, sizeof(Guid));
            if (IsGuid(type, kVideoMedia)) {
                ++m_videos;
                ++m_audioOrVideo;
            } else if (IsGuid(type, kAudioMedia)) {
                ++m_audioOrVideo;
            } else {
                ++m_others;
            }
        }
        if (size > m_headerEnd - m_child) break;
        m_child += size;
    }
    m_childrenDone = true;
    // The objects after the header, while they are data or index objects.
    int objects = 0;
    while (m_walked < static_cast<u64>(w.SectorEnd()) && ++objects <= kObjectsPerCall) {
        const std::optional<ByteReader> object = source.Bytes(m_walked, kObjectHeader);
        if (!object) {
            if (source.Awaits(m_walked)) return RAW_SIZE_CONTINUE;
            break;
        }
        if (!IsTopLevel(*object)) break;
        const u64 size = *object->Le64(kObjectSize);
        if (size == 0) return RAW_SIZE_CONTINUE;
        // An object reaching past the largest file believed ends the file where it stands.
        if (size > kCap - m_walked) break;
        m_walked += size;
    }
    if (m_walked >= static_cast<u64>(w.SectorEnd())) return RAW_SIZE_CONTINUE;
    m_type = StreamKind(m_videos, m_audioOrVideo, m_others);
    return EndUnnamed(m_walked);
}

}  // namespace BruteForce

IRawFileAnalyser* CreateCAsfAnalyser() { return new BruteForce::CAsfAnalyser(); }
