#include "engine/RAWSearch/Analysers/New3DSAnalyser.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace tds_layout;

namespace {

std::optional<i64> Step(i64 position, const ByteReader& record) {
    return NextRecord(position, *record.Le16(0), *record.Le16(kRecordLength), *record.Le16(kLookAhead));
}

}  // namespace

File3DSAnalyser::File3DSAnalyser() : IRawFileAnalyser(RAW_TYPE_3DS) {}

int File3DSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader head(sector, 512);
    if (head.Le16(0) != kRecordMark && head.Le16(kEditorMark) != kEditorMarkValue) return 0;
    info.m_type = RAW_TYPE_3DS;
    info.m_size = 0;
    return 1;
}

bool File3DSAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr) return false;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_startSector));
    i64 position = 0;
    unsigned char record[kRecordRead];
    // Every step moves the position on by at least one byte, and the walk stops at the cap, at the
    // device's end and on a stop request (the buffer reads nothing then).
    while (position <= kMaxChain) {
        if (!buffer.CopyOut(static_cast<u64>(position), record, sizeof(record))) return false;
        const auto next = Step(position, ByteReader(record, sizeof(record)));
        if (!next) break;
        position = *next;
    }
    info.m_type = RAW_TYPE_3DS;
    info.m_size = static_cast<u64>(position);
    return true;
}

namespace RawSpeed {

New3DSAnalyser::New3DSAnalyser(bool listRow) : IRawFileAnalyser(RAW_TYPE_3DS), m_listRow(listRow) {}

bool New3DSAnalyser::GetRequiredWord(u32& offset, u32& value) const {
    if (!m_listRow) return false;
    offset = kNcsdMark;
    value = *ByteReader(reinterpret_cast<const unsigned char*>("NCSD"), 4).Le32(0);
    return true;
}

int New3DSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader head(sector, 512);
    const bool chain = head.Le16(0) == kRecordMark && head.Le16(kEditorMark) == kEditorMarkValue;
    if (!chain && !head.Equals(kNcsdMark, "NCSD", 4)) return 0;
    info.m_type = RAW_TYPE_3DS;
    return 1;
}

CRawFileInfo* New3DSAnalyser::CreateRawFileInfo() { return new New3DSRawFileInfo(m_fallback.get()); }

New3DSRawFileInfo::New3DSRawFileInfo(File3DSAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_3DS; }

int New3DSRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow window(sector, n, s, m_startSector, ctx);
    if (m_firstCall) {
        m_firstCall = false;
        m_ncsd = window.Sector().Le16(0) != kRecordMark;
    }
    if (window.SectorStart() > kMaxChain) {
        m_size = 0;
        return RAW_SIZE_FINISHED;
    }
    if (m_ncsd) {
        const auto units = window.Sector().Le32(kNcsdUnits);
        if (!units) {
            m_size = 0;
            return RAW_SIZE_FINISHED;
        }
        m_size = *units > kNcsdMaxSize ? kNcsdOversize : std::min<u64>(kNcsdUnit * *units, kNcsdMaxSize);
        return RAW_SIZE_FINISHED;
    }
    // A record is settled once all the bytes its step reads are held: a look-ahead that runs past this
    // sector (or this block) waits for the sector that holds it, so the walk takes the device walk's
    // steps exactly.
    while (m_position < window.SectorEnd()) {
        const auto record = window.Bytes(m_position, kRecordRead);
        if (!record) {
            if (m_position + static_cast<i64>(kRecordRead) > window.End()) return RAW_SIZE_CONTINUE;
            m_size = 0;  // behind the window: cannot happen while sectors arrive in order
            return RAW_SIZE_FINISHED;
        }
        const auto next = Step(m_position, *record);
        if (!next) {
            SetRawFileName(SectorSpanName(m_startSector, s, "_"));
            m_size = static_cast<u64>(m_position);
            return RAW_SIZE_FINISHED;
        }
        m_position = *next;
        if (m_position > kMaxChain) {
            SetRawFileName(SectorSpanName(m_startSector, s, "_"));
            m_size = static_cast<u64>(m_position);
            return RAW_SIZE_FINISHED;
        }
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateNew3DSAnalyser() { return new RawSpeed::New3DSAnalyser(); }
IRawFileAnalyser* CreateNew3DSListAnalyser() { return new RawSpeed::New3DSAnalyser(true); }
