#include "engine/RAWSearch/Analysers/PNGAnalyser.h"

#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace png_layout;

namespace RawSpeed {

PNGAnalyser::PNGAnalyser() : IRawFileAnalyser(RAW_TYPE_PNG), m_fallback(std::make_unique<FilePNGAnalyser>()) {}
PNGAnalyser::~PNGAnalyser() = default;

int PNGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!ByteReader(sector, 8).Equals(kSignatureTail, "\x0D\x0A\x1A\x0A", 4)) return 0;
    info.m_type = RAW_TYPE_PNG;
    return 1;
}

CRawFileInfo* PNGAnalyser::CreateRawFileInfo() { return new PNGRawFileInfo(m_fallback.get()); }

PNGRawFileInfo::PNGRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_PNG; }

int PNGRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    if (w.SectorStart() > kMaxCovered) {
        m_size = 0;  // the fallback measures it
        return RAW_SIZE_FINISHED;
    }
    if (m_first) {
        m_first = false;
        const auto ihdr = w.Bytes(kIhdrLength, 4);
        m_position = kIhdrData + (ihdr ? i64{*ihdr->Be32(0)} : 0);
    }
    // The chunks whose header starts in this sector; one that runs past the bytes held is read at the
    // next call, when the search holds it whole.
    while (m_position <= w.SectorEnd()) {
        const auto header = w.Bytes(m_position, kChunkHeader);
        if (!header) return RAW_SIZE_CONTINUE;
        m_position += i64{*header->Be32(kChunkLength)} + static_cast<i64>(kChunkOverhead);
        if (header->Equals(kChunkType, "IEND", 4)) {
            SetRawFileName(SectorSpanName(m_startSector, s, "_"));
            m_size = static_cast<u64>(m_position);
            return RAW_SIZE_FINISHED;
        }
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreatePNGAnalyser() { return new RawSpeed::PNGAnalyser(); }
