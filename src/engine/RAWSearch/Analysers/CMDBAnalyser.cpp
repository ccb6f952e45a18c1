#include "engine/RAWSearch/Analysers/CMDBAnalyser.h"

#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace mdb_layout;

RAW_FILE_TYPE FileMDBAnalyser::Kind(const unsigned char* sector) {
    const ByteReader h(sector, 512);
    if (!h.Equals(0, "\x00\x01\x00\x00", 4)) return 0;
    if (h.Equals(4, "Standard Jet DB", 16)) return RAW_TYPE_MDB;
    if (h.Equals(4, "Standard ACE DB", 16)) return RAW_TYPE_ACCDB;
    return 0;
}

int FileMDBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    const RAW_FILE_TYPE kind = sector != nullptr ? Kind(sector) : 0;
    if (kind == 0) return 0;
    info.m_type = kind;
    return 1;
}

bool FileMDBAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char first[512];
    if (!window.CopyOut(0, first, sizeof(first))) return false;
    if (const RAW_FILE_TYPE kind = Kind(first); kind != 0) info.m_type = kind;
    unsigned char head[2];
    u64 offset = kPage;
    for (; offset < kDeviceCap; offset += kPage) {
        if (!window.CopyOut(offset, head, sizeof(head))) break;
        if (head[0] == 0 || *ByteReader(head, sizeof(head)).Le16(0) >= kDeviceEndSignature) break;
    }
    info.m_size = offset;
    return true;
}

namespace RawSpeed {

CMDBAnalyser::CMDBAnalyser() : IRawFileAnalyser(RAW_TYPE_MDB), m_fallback(std::make_unique<FileMDBAnalyser>()) {}
CMDBAnalyser::~CMDBAnalyser() = default;

int CMDBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) { return m_fallback->AnalyseBuffer(sector, info); }

CRawFileInfo* CMDBAnalyser::CreateRawFileInfo() { return new CMDBRawFileInfo(m_fallback.get()); }

int CMDBAnalyser::CMDBRawFileInfo::Finish(i64 p, long long sectorNumber) {
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    m_size = static_cast<u64>(m_emptyRun == 0 ? p : p - static_cast<i64>(m_emptyRun - 1) * static_cast<i64>(kPage));
    return RAW_SIZE_FINISHED;
}

int CMDBAnalyser::CMDBRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                               SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const i64 p = (sectorNumber - m_startSector) * sectorSize;
    if (p == 0 || p % static_cast<i64>(kPage) != 0) return RAW_SIZE_CONTINUE;
    if (p > static_cast<i64>(kGuessCap)) {
        m_emptyRun = 0;
        return Finish(p, sectorNumber);
    }
    if (!m_pageCheck) {
        if (ctx.trailingZeroBytes < 9) return RAW_SIZE_CONTINUE;
        m_emptyRun = 0;
        return Finish(p, sectorNumber);
    }
    const u16 s = ByteReader(sector, static_cast<size_t>(sectorSize)).Le16(0).value_or(0);
    if (s != 0 && (s < kFirstSignature || s > kLastSignature)) {
        m_foreignPage = true;
        if (p == static_cast<i64>(kPage)) {
            m_pageCheck = false;
            return RAW_SIZE_CONTINUE;
        }
        return Finish(p, sectorNumber);
    }
    if (s != 0) {
        m_emptyRun = 0;
        if (!m_foreignPage) return RAW_SIZE_CONTINUE;
        return Finish(p, sectorNumber);
    }
    ++m_emptyRun;
    if (m_emptyRun < kEmptyRun && !m_foreignPage) return RAW_SIZE_CONTINUE;
    return Finish(p, sectorNumber);
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateCMDBAnalyser() { return new RawSpeed::CMDBAnalyser(); }
