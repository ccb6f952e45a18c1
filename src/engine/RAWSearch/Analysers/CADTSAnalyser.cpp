#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/AvTypes.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace adts_layout;

namespace BruteForce {

std::optional<u64> AdtsFrameLength(const ByteReader& header) {
    if (header.size() < kHeader) return std::nullopt;
    const u8 b0 = *header.U8(0), b1 = *header.U8(1), b3 = *header.U8(3), b4 = *header.U8(4), b5 = *header.U8(5);
    // The 12-bit sync and layer 0; the 13-bit frame length (header included) spread over bytes 3 to 5.
    if (b0 != 0xFF || (b1 & 0xF0) != 0xF0 || (b1 & 0x06) != 0) return std::nullopt;
    const u64 length = (u64{b3 & 0x03u} << 11) | (u64{b4} << 3) | (b5 >> 5);
    if (length == 0) return std::nullopt;
    return length;
}

CADTSAnalyser::CADTSAnalyser() : IRawFileAnalyser(RAW_TYPE_AAC) {}

int CADTSAnalyser::AnalyseBuffer(unsigned char*, CRawFileInfo& info) {
    info.m_type = RAW_TYPE_AAC;
    return 1;
}

int CADTSAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                   long long sectorNumber, long long, long long blockEndSector) {
    if (sector == nullptr || sectorSize <= 0 || blockEndSector <= sectorNumber) return 0;
    // The frames the block holds from this sector on: five good ones, or the block's end after one.
    const u64 held = static_cast<u64>(blockEndSector - sectorNumber) * static_cast<u64>(sectorSize);
    u64 at = 0;
    for (int good = 0; good < kFramesToAccept; ++good) {
        if (at + kHeader > held) {
            if (good == 0) return 0;
            m_overflow = true;
            break;
        }
        const std::optional<u64> length = AdtsFrameLength(ByteReader(sector + at, kHeader));
        if (!length) return 0;
        at += *length;
    }
    info.m_type = RAW_TYPE_AAC;
    return 1;
}

CRawFileInfo* CADTSAnalyser::CreateRawFileInfo() {
    // The flag goes with the file it was raised for.
    const bool overflow = m_overflow;
    m_overflow = false;
    return new CADTSRawFileInfo(overflow);
}

CADTSRawFileInfo::CADTSRawFileInfo(bool acceptedAtBlockEnd) : m_acceptedAtBlockEnd(acceptedAtBlockEnd) {
    m_type = RAW_TYPE_AAC;
}

int CADTSRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    for (int frames = 0; m_walked < static_cast<u64>(w.SectorEnd());) {
        const std::optional<ByteReader> header = source.Bytes(m_walked, kHeader);
        if (!header && source.Awaits(m_walked)) return RAW_SIZE_CONTINUE;
        const std::optional<u64> length = header ? AdtsFrameLength(*header) : std::nullopt;
        if (!length || ++frames > kFramesPerCall) {
            // The stream ends where zeros follow it; a start taken at a block's end needs more frames.
            u64 size = ctx.trailingZeroBytes > 0 ? m_walked : 0;
            if (m_acceptedAtBlockEnd && m_frames <= static_cast<u64>(kFewFrames)) size = 0;
            return EndUnnamed(size);
        }
        m_walked += *length;
        ++m_frames;
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateCADTSAnalyser() { return new BruteForce::CADTSAnalyser(); }
