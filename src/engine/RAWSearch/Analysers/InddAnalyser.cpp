#include "engine/RAWSearch/Analysers/InddAnalyser.h"

#include <cstring>

#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

namespace RawSpeed {

using namespace indd_layout;

namespace {

constexpr unsigned char kDocumentGuid[16] = {0x06, 0x06, 0xED, 0xF5, 0xD8, 0x1D, 0x46, 0xE5,
                                             0xBD, 0x31, 0xEF, 0xE7, 0xFE, 0x74, 0xB7, 0x1D};
constexpr unsigned char kObjectGuid[16] = {0xDE, 0x39, 0x39, 0x79, 0x51, 0x88, 0x4B, 0x6C,
                                           0x8E, 0x63, 0xEE, 0xF8, 0xAE, 0xE0, 0xDD, 0x38};

}  // namespace

InddAnalyser::InddAnalyser() : IRawFileAnalyser(RAW_TYPE_INDD) {}

int InddAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || memcmp(sector, kDocumentGuid, sizeof(kDocumentGuid)) != 0 ||
        memcmp(sector + kDocumentMark, "DOCUMENT", 8) != 0) {
        return 0;
    }
    info.m_type = RAW_TYPE_INDD;
    return 1;
}

bool InddAnalyser::GetRequiredWord(u32& offset, u32& value) const {
    offset = 0;
    value = *ByteReader(kDocumentGuid, 4).Le32(0);
    return true;
}

CRawFileInfo* InddAnalyser::CreateRawFileInfo() { return new InddRawFileInfo(); }

InddRawFileInfo::InddRawFileInfo() { m_type = RAW_TYPE_INDD; }

int InddRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow window(sector, n, s, m_startSector, ctx);
    if (window.SectorStart() > kMaxCovered) {
        m_size = 0;
        return RAW_SIZE_FINISHED;
    }
    if (m_firstCall) {
        m_firstCall = false;
        const auto pages = window.Sector().Le32(kFilePages);
        if (!pages) {
            m_size = 0;
            return RAW_SIZE_FINISHED;
        }
        m_position = static_cast<i64>(*pages * kPageSize);
    }
    // Each object moves the position on by at least 64 bytes.
    while (m_position < window.SectorEnd()) {
        if (m_position < window.SectorStart()) break;  // behind the window: cannot happen in order
        const auto header = window.Bytes(m_position, kObjectHeaderRead);
        if (!header) {
            if (m_position + static_cast<i64>(kObjectHeaderRead) > window.End()) return RAW_SIZE_CONTINUE;
            break;
        }
        if (!header->Equals(0, kObjectGuid, sizeof(kObjectGuid))) break;
        m_position += static_cast<i64>(*header->Le32(kObjectLength) + kObjectOverhead);
    }
    if (m_position >= window.SectorEnd()) return RAW_SIZE_CONTINUE;
    SetRawFileName(SectorSpanName(m_startSector, s, "_"));
    m_size = static_cast<u64>(m_position) / kPageSize * kPageSize + kPageSize;
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateInddAnalyser() { return new RawSpeed::InddAnalyser(); }
