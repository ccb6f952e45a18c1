#include "engine/RAWSearch/Analysers/OneAnalyser.h"

#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace one_layout;

namespace {

bool HasIdentifier(const ByteReader& section) {
    return section.Equals(kIdentifier, kIdentifierBytes, sizeof(kIdentifierBytes));
}

}  // namespace

int FileONEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (!HasIdentifier(ByteReader(sector, 512))) return 0;
    info.m_type = RAW_TYPE_ONE;
    return 1;
}

bool FileONEAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char header[kNeeds];
    u64 offset = 0;
    while (window.CopyOut(offset, header, sizeof(header)) && HasIdentifier(ByteReader(header, sizeof(header)))) {
        const u64 length = RawSpeed::OneAnalyser::ONERawFileInfo::SectionFileLength(header);
        if (length > kDeviceStop || offset + length > kDeviceStop) {
            offset = kDeviceStop;
            break;
        }
        if (length == 0) break;  // a section that does not move on ends the walk where it stands
        offset += length;
    }
    if (offset == 0) return false;
    info.m_type = RAW_TYPE_ONE;
    info.m_size = offset;
    return true;
}

namespace RawSpeed {

OneAnalyser::OneAnalyser() : IRawFileAnalyser(RAW_TYPE_ONE), m_fallback(std::make_unique<FileONEAnalyser>()) {}
OneAnalyser::~OneAnalyser() = default;

int OneAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) { return m_fallback->AnalyseBuffer(sector, info); }

CRawFileInfo* OneAnalyser::CreateRawFileInfo() { return new ONERawFileInfo(m_fallback.get()); }

u64 OneAnalyser::ONERawFileInfo::SectionFileLength(const unsigned char* header) {
    const ByteReader h(header, kNeeds);
    const u64 length = h.Le64(kLength).value_or(0);
    return length != 0 ? length : h.Le64(kLengthAlternative).value_or(0);
}

// The sections whose headers are held are walked; a section that does not begin with the identifier
// ends the file at its offset.
int OneAnalyser::ONERawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, sectorSize, sectorNumber, m_startSector, ctx);
    if (w.SectorStart() > static_cast<i64>(kGuessCap)) return RAW_SIZE_FINISHED;
    while (static_cast<i64>(m_nextSection) < w.SectorEnd()) {
        const auto header = w.Bytes(static_cast<i64>(m_nextSection), kNeeds);
        if (!header) {
            const auto identifier = w.Bytes(static_cast<i64>(m_nextSection), kIdentifier + sizeof(kIdentifierBytes));
            if (!identifier || HasIdentifier(*identifier)) return RAW_SIZE_CONTINUE;
        }
        if (!header || !HasIdentifier(*header)) {
            if (m_nextSection == 0) return RAW_SIZE_FINISHED;
            m_size = m_nextSection;
            SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
            return RAW_SIZE_FINISHED;
        }
        const u64 length = SectionFileLength(header->data());
        if (length == 0 || length > kGuessCap || m_nextSection + length > kGuessCap) return RAW_SIZE_CONTINUE;
        m_nextSection += length;
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateOneAnalyser() { return new RawSpeed::OneAnalyser(); }
