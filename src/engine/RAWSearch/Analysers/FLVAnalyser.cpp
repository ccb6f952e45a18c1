#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace flv_layout;

bool IsFlvHead(const ByteReader& head) {
    return head.Equals(0, "FLV") && head.U8(kVersion) == 1 && head.Be32(kFirstTag) == 0u;
}

bool FlvWalk::Step(const ByteReader& tag) {
    const u64 previous = tag.Be32(0).value_or(0);
    const u8 type = tag.U8(kTagType).value_or(0);
    const u64 data = tag.BeN(kDataSize, 3).value_or(0);
    if (previous == lastData || Brance::FLVAnalyser::GetFlvTagType(type) == 16) {
        // The last previous-tag size belongs to the file; what follows it is no tag.
        walked += 4;
        return false;
    }
    const bool chained = previous == expectedPrevious;
    walked += data + kTagStep;
    expectedPrevious = data + kTagBytes;
    lastData = data;
    return chained;
}

namespace Brance {

FLVAnalyser::FLVAnalyser() : IRawFileAnalyser(RAW_TYPE_FLV), m_device(std::make_unique<FileFLVAnalyser>()) {}

int FLVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !ByteReader(sector, 4).Equals(0, "FLV")) return 0;
    info.m_type = RAW_TYPE_FLV;
    return 1;
}

CRawFileInfo* FLVAnalyser::CreateRawFileInfo() { return new FLVRawFileInfo(m_device.get()); }

int FLVAnalyser::GetFlvTagType(u8 type) {
    switch (type) {
        case 8: return 2;
        case 9: return 4;
        case 18: return 8;
        default: return 16;
    }
}

FLVRawFileInfo::FLVRawFileInfo(IRawFileAnalyser* device) : m_device(device) { m_type = RAW_TYPE_FLV; }

void FLVRawFileInfo::initFLVFileInfoMemValue() {
    m_walk = FlvWalk();
    m_headChecked = false;
}

int FLVRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    if (!m_headChecked) {
        const std::optional<ByteReader> head = source.Bytes(0, kFirstTag + 4);
        if (!head || !IsFlvHead(*head)) return End(s, 0);
        m_headChecked = true;
    }
    int tags = 0;
    while (m_walk.walked < static_cast<u64>(w.SectorEnd())) {
        if (m_walk.walked >= 10 * kCap) return End(s, kCap);
        const std::optional<ByteReader> tag = source.Bytes(m_walk.walked, kTagHeader);
        if (!tag) {
            if (source.Awaits(m_walk.walked)) return RAW_SIZE_CONTINUE;
            return End(s, m_walk.walked);
        }
        if (!m_walk.Step(*tag) || ++tags > kTagsPerCall) return End(s, m_walk.walked);
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace Brance

IRawFileAnalyser* CreateFLVAnalyser() { return new Brance::FLVAnalyser(); }
