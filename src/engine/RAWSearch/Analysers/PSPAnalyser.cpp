#include "engine/RAWSearch/Analysers/PSPAnalyser.h"

#include <algorithm>
#include <cstring>

#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace psp_layout;

std::optional<i64> PspBlockLength(const ByteReader& header) {
    if (!header.Equals(0, "~BK\0", 4)) return std::nullopt;
    const std::optional<u32> length = header.Le32(kBlockLength);
    if (!length) return std::nullopt;
    return i64{*length} + static_cast<i64>(kBlockHeader);
}

namespace RawSpeed {

PSPAnalyser::PSPAnalyser() : IRawFileAnalyser(RAW_TYPE_PSP), m_fallback(std::make_unique<FilePSPAnalyser>()) {}
PSPAnalyser::~PSPAnalyser() = default;

int PSPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || memcmp(sector, kSignature, kSignatureSize) != 0) return 0;
    info.m_type = RAW_TYPE_PSP;
    return 1;
}

CRawFileInfo* PSPAnalyser::CreateRawFileInfo() { return new PSPRawFileInfo(m_fallback.get()); }

PSPRawFileInfo::PSPRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback), m_position(kFirstBlock) {
    m_type = RAW_TYPE_PSP;
}

int PSPRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    if (w.SectorStart() > kMaxCovered) {
        // The position reached, within the device fallback's cap.
        m_size = static_cast<u64>(std::min(m_position, FilePSPAnalyser::kMaxPosition));
        return RAW_SIZE_FINISHED;
    }
    // Block headers that start in this sector; one running past the bytes held is read at the next call.
    while (m_position <= w.SectorEnd()) {
        const auto header = w.Bytes(m_position, kBlockHeader);
        if (!header) return RAW_SIZE_CONTINUE;
        const std::optional<i64> length = PspBlockLength(*header);
        if (!length) {
            SetRawFileName(SectorSpanName(m_startSector, s, "."));
            m_size = static_cast<u64>(m_position);
            return RAW_SIZE_FINISHED;
        }
        m_position += *length;
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreatePSPAnalyser() { return new RawSpeed::PSPAnalyser(); }
