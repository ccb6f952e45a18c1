#include "engine/RAWSearch/Analysers/MOBIAnalyser.h"

#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

using namespace mobi_layout;

namespace {

// The offset of the record list's last entry; absent for a list without entries.
std::optional<u64> LastEntry(const ByteReader& header) {
    const u32 count = header.Be32(kRecordCount).value_or(0);
    if (count == 0) return std::nullopt;
    return kRecordList + (u64{count} - 1) * kEntry;
}

}  // namespace

namespace RawSpeed {

int FileMOBIAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (!ByteReader(sector, 512).Equals(kType, "BOOKMOBI")) return 0;
    info.m_type = RAW_TYPE_MOBI;
    return 1;
}

bool FileMOBIAnalyser::GetRequiredWord(u32& offset, u32& value) const {
    offset = kType;
    value = ByteReader("BOOK", 4).Le32(0).value_or(0);
    return true;
}

bool FileMOBIAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char header[kRecordList];
    unsigned char entry[4];
    if (!window.CopyOut(0, header, sizeof(header))) return false;
    const auto last = LastEntry(ByteReader(header, sizeof(header)));
    if (!last || !window.CopyOut(*last, entry, sizeof(entry))) return false;
    info.m_type = RAW_TYPE_MOBI;
    info.m_size = u64{*ByteReader(entry, sizeof(entry)).Be32(0)} + sizeof(kEndRecord);
    return true;
}

MOBIAnalyser::MOBIAnalyser() : IRawFileAnalyser(RAW_TYPE_MOBI), m_fallback(std::make_unique<FileMOBIAnalyser>()) {}
MOBIAnalyser::~MOBIAnalyser() = default;

int MOBIAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) { return m_fallback->AnalyseBuffer(sector, info); }

bool MOBIAnalyser::GetRequiredWord(u32& offset, u32& value) const { return m_fallback->GetRequiredWord(offset, value); }

CRawFileInfo* MOBIAnalyser::CreateRawFileInfo() { return new MOBIRawFileInfo(m_fallback.get()); }

// From the record list's last entry to the last record: the end record there ends the file 4 bytes on;
// a second position without it switches to the zero run.
int MOBIAnalyser::MOBIRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                               SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, sectorSize, sectorNumber, m_startSector, ctx);
    if (m_firstCall) {
        m_firstCall = false;
        const auto last = LastEntry(w.Sector());
        if (last) {
            m_next = *last;
        } else {
            m_zeroRun = true;
        }
    }
    while (!m_zeroRun && !m_endFound && static_cast<i64>(m_next + 4) <= w.SectorEnd()) {
        const auto word = w.Bytes(static_cast<i64>(m_next), 4);
        if (!word) {
            m_zeroRun = true;
            break;
        }
        ++m_looked;
        if (word->Equals(0, kEndRecord, sizeof(kEndRecord))) {
            m_endFound = true;
        } else if (m_looked >= 2) {
            m_zeroRun = true;
        } else {
            m_next = *word->Be32(0);
        }
    }
    if (w.SectorStart() > static_cast<i64>(kCap)) {
        m_size = 0;
        return RAW_SIZE_FINISHED;
    }
    if (m_zeroRun) {
        if (ctx.trailingZeroBytes < 9) return RAW_SIZE_CONTINUE;
        m_size = static_cast<u64>(w.SectorStart() + BruteForce::RawUtility::Binary_Compare(sector, sectorSize));
        SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
        return RAW_SIZE_FINISHED;
    }
    if (!m_endFound) return RAW_SIZE_CONTINUE;
    m_size = m_next + sizeof(kEndRecord);
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateMOBIAnalyser() { return new RawSpeed::MOBIAnalyser(); }
