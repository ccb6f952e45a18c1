#include "engine/RAWSearch/Analysers/PSDAnalyser.h"

#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

using namespace psd_layout;

void PsdSections::Take(u32 length) {
    switch (read) {
        case 0: position = kColourModeData + length; break;
        case 1:
            resourcesLength = length;
            position += i64{length} + static_cast<i64>(kLengthField);
            break;
        case 2:
            layerLength = length;
            position += i64{length} + static_cast<i64>(kLengthField + kCompressionField);
            break;
        default: return;
    }
    ++read;
}

namespace RawSpeed {

PSDAnalyser::PSDAnalyser() : IRawFileAnalyser(RAW_TYPE_PSD), m_fallback(std::make_unique<FilePSDAnalyser>()) {}
PSDAnalyser::~PSDAnalyser() = default;

int PSDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr unsigned char kReservedZero[6] = {};
    const ByteReader header(sector, kColourModeLength);
    if (!header.Equals(0, "8BPS", 4) || !header.Equals(kVersion, "\x00\x01", 2) ||
        !header.Equals(kReserved, kReservedZero, sizeof(kReservedZero))) {
        return 0;
    }
    info.m_type = RAW_TYPE_PSD;
    return 1;
}

CRawFileInfo* PSDAnalyser::CreateRawFileInfo() { return new PSDRawFileInfo(m_fallback.get()); }

PSDRawFileInfo::PSDRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_PSD; }

int PSDRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    if (w.SectorStart() > kMaxCovered) {
        m_size = 0;
        return RAW_SIZE_FINISHED;
    }
    // A length field in a later sector is taken up when that sector arrives; one running past the bytes
    // held, at the next call.
    while (!m_sections.Done() && m_sections.NextField() < w.SectorEnd()) {
        const auto field = w.Bytes(m_sections.NextField(), kLengthField);
        if (!field) break;
        m_sections.Take(*field->Be32(0));
    }
    // The file ends in the first sector past the image data's start whose data runs into zeros.
    if (!m_sections.Done() || w.SectorEnd() <= m_sections.position || ctx.trailingZeroBytes < 8) {
        return RAW_SIZE_CONTINUE;
    }
    SetRawFileName(SectorSpanName(m_startSector, s, ""));
    m_size = static_cast<u64>(w.SectorStart() + BruteForce::RawUtility::Binary_Compare(sector, n));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreatePSDAnalyser() { return new RawSpeed::PSDAnalyser(); }
