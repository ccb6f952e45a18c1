#include "engine/RAWSearch/Analysers/AEPAnalyser.h"

#include <cstring>

#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

namespace RawSpeed {

using namespace aep_layout;

namespace {
constexpr char kXmpPacket[] = "<?xpacket";
}

AEPAnalyser::AEPAnalyser() : IRawFileAnalyser(RAW_TYPE_AEP) {}

int AEPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr unsigned char kForm[3] = {0x45, 0x67, 0x67};
    if (sector == nullptr || memcmp(sector, "RIFX", 4) != 0 || memcmp(sector + kFormType, kForm, 3) != 0) return 0;
    info.m_type = RAW_TYPE_AEP;
    return 1;
}

CRawFileInfo* AEPAnalyser::CreateRawFileInfo() { return new AEPRawFileInfo(); }

AEPRawFileInfo::AEPRawFileInfo() { m_type = RAW_TYPE_AEP; }

int AEPRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow window(sector, n, s, m_startSector, ctx);
    if (m_firstCall) {
        m_firstCall = false;
        const auto length = window.Sector().Be32(kRifxLength);
        // A negative length can never be reached: no file.
        if (!length || static_cast<i32>(*length) < 0) {
            m_size = 0;
            return RAW_SIZE_FINISHED;
        }
        m_position = static_cast<i32>(*length);
    }
    if (window.SectorStart() > kMaxCovered) {
        m_size = 0;
        return RAW_SIZE_FINISHED;
    }
    if (!m_xmp) {
        // The chunk's end is looked at once the bytes after it are held (they may lie in the next
        // block: a position in a block's last sector waits for it rather than being passed by).
        if (m_position >= window.SectorEnd()) return RAW_SIZE_CONTINUE;
        const i64 after = m_position + kChunkHeader;
        const u64 packetLength = sizeof(kXmpPacket) - 1;
        const auto packet = window.Bytes(after, packetLength);
        if (!packet && after + static_cast<i64>(packetLength) > window.End()) return RAW_SIZE_CONTINUE;
        if (!packet || !packet->Equals(0, kXmpPacket, packetLength)) {
            SetRawFileName(SectorSpanName(m_startSector, s, "_"));
            m_size = static_cast<u64>(after);
            return RAW_SIZE_FINISHED;
        }
        m_xmp = true;
    }
    if (ctx.trailingZeroBytes < kXmpZeroTail) return RAW_SIZE_CONTINUE;
    SetRawFileName(SectorSpanName(m_startSector, s, "_"));
    m_size = static_cast<u64>(window.SectorStart() + BruteForce::RawUtility::Binary_Compare(sector, n) + kChunkHeader);
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateAEPAnalyser() { return new RawSpeed::AEPAnalyser(); }
