#include "engine/RAWSearch/Analysers/TARAnalyser.h"

#include <cassert>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace tar_layout;

u64 OctStringToint(const char* field) {
    u64 value = 0;
    for (u64 i = 0; i < kSizeDigits; ++i) {
        const char c = field[i];
        value = value * 8 + (c >= '0' && c <= '9' ? static_cast<u64>(c - '0') : 0);
    }
    return value;
}

namespace {

bool IsHeader(const unsigned char* record) { return ByteReader(record, kRecord).Equals(kMagic, "ustar"); }

bool IsZero(const unsigned char* record) {
    static constexpr unsigned char kZero[kRecord] = {};
    return memcmp(record, kZero, kRecord) == 0;
}

}  // namespace

bool TarWalk::Take(const unsigned char* record) {
    if (m_done) return true;
    if (m_zeroStart == 0 && IsHeader(record)) {
        // Entries of size 0 (folders, empty files, links) are followed by the next header at once.
        const u64 size = OctStringToint(reinterpret_cast<const char*>(record + kSize));
        m_next += kRecord + (size + kRecord - 1) / kRecord * kRecord;
        return true;
    }
    if (m_next == 0) {
        m_done = true;
        return false;
    }
    if (!IsZero(record)) {
        m_size = m_next;
        m_done = true;
        return true;
    }
    if (m_zeroStart == 0) m_zeroStart = m_next;
    m_next += kRecord;
    // Two zero records end the archive; tar's padding to its blocking is taken in while it is zero.
    if (m_next >= m_zeroStart + 2 * kRecord && m_next % kBlocking == 0) {
        m_size = m_next;
        m_done = true;
    }
    return true;
}

FileTARAnalyser::FileTARAnalyser() : IRawFileAnalyser(RAW_TYPE_TAR) {}

int FileTARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || !IsHeader(sector)) return 0;
    info.m_type = RAW_TYPE_TAR;
    return 1;
}

bool FileTARAnalyser::GetRequiredWord(u32& offset, u32& value) const {
    offset = static_cast<u32>(kMagic);
    value = ByteReader("usta", 4).Le32(0).value_or(0);
    return true;
}

bool FileTARAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    TarWalk walk;
    unsigned char record[kRecord];
    while (!walk.Done()) {
        if (walk.NextRecord() >= kDeviceCap || !window.CopyOut(walk.NextRecord(), record, kRecord)) {
            if (walk.NextRecord() == 0) return false;
            walk.Stop();
            break;
        }
        if (!walk.Take(record)) return false;
    }
    info.m_type = RAW_TYPE_TAR;
    info.m_size = std::min<u64>(walk.Size(), kDeviceCap);
    return info.m_size != 0;
}

namespace RawSpeed {

TARAnalyser::TARAnalyser() : IRawFileAnalyser(RAW_TYPE_TAR), m_fallback(std::make_unique<FileTARAnalyser>()) {}
TARAnalyser::~TARAnalyser() = default;

int TARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) { return m_fallback->AnalyseBuffer(sector, info); }

bool TARAnalyser::GetRequiredWord(u32& offset, u32& value) const { return m_fallback->GetRequiredWord(offset, value); }

CRawFileInfo* TARAnalyser::CreateRawFileInfo() { return new TARRawFileInfo(m_fallback.get()); }

TARRawFileInfo::TARRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_TAR; }

int TARRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    if (m_member) {
        m_size = 0;
        m_analyser = nullptr;
        return RAW_SIZE_FINISHED;
    }
    const StreamWindow w(sector, sectorSize, sectorNumber, m_startSector, ctx);
    // Each entry header starts a sector and reads as a tar of its own: the one this walk expects is
    // taken as this archive's, so an archive of n entries is not found n times.
    if (ctx.newFileHere != nullptr && ctx.newFileHere->m_startSector == sectorNumber && m_walk.WantsHeader() &&
        static_cast<i64>(m_walk.NextRecord()) == w.SectorStart()) {
        if (auto* member = dynamic_cast<TARRawFileInfo*>(ctx.newFileHere)) member->m_member = true;
    }
    // The records of this sector (and any held before it that the walk still wants).
    while (!m_walk.Done() && static_cast<i64>(m_walk.NextRecord() + kRecord) <= w.SectorEnd()) {
        const auto record = w.Bytes(static_cast<i64>(m_walk.NextRecord()), kRecord);
        if (!record) return RAW_SIZE_CONTINUE;  // behind the window: the device sizes it once dropped
        if (!m_walk.Take(record->data())) {
            m_size = 0;
            return RAW_SIZE_FINISHED;
        }
    }
    if (!m_walk.Done()) return RAW_SIZE_CONTINUE;
    m_size = m_walk.Size();
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateTARAnalyser() { return new RawSpeed::TARAnalyser(); }
