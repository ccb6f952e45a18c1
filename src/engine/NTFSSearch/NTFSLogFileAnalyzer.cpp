#include "engine/NTFSSearch/NTFSLogFileAnalyzer.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/NTFSIndexRecord.h"
#include "engine/NTFSSearch/NTFSPartitionInfoBuilder.h"

using namespace ntfsdeep;

void CSavedBuffer::Reset(u32 sectorSize) {
    m_sectorSize = sectorSize >= 512 && sectorSize <= kLogPageSize && kLogPageSize % sectorSize == 0 ? sectorSize : 512;
    m_pageSectors = kLogPageSize / m_sectorSize;
    Clear();
    m_buffer.fill(0);
}

void CSavedBuffer::InitBuffer(const u8* buffer, i64 first, u32 count) {
    if (!buffer || count == 0 || count >= m_pageSectors) return;
    std::memcpy(m_buffer.data(), buffer, size_t(count) * m_sectorSize);
    m_first = first;
    m_held = count;
}

bool CSavedBuffer::AddBuffer(const u8* buffer, i64 first, i64 count, u32& consumed) {
    consumed = 0;
    if (!IsHeld() || !buffer || m_first + i64(m_held) != first || i64(m_held) + count < i64(m_pageSectors)) return false;
    consumed = m_pageSectors - m_held;
    std::memcpy(m_buffer.data() + size_t(m_held) * m_sectorSize, buffer, size_t(consumed) * m_sectorSize);
    m_held = m_pageSectors;
    return true;
}

CLogFileAnalyzer::CLogFileAnalyzer(CNTFSPartitionInfoBuilder& builder) : m_builder(builder) {
    m_saved.Reset(builder.GetSectorSize());
}

bool CLogFileAnalyzer::IsValidRSTRRecord(const u8* buffer, size_t size) {
    if (!buffer || size < kLogPageSize) return false;
    const ByteReader r(buffer, kLogPageSize);
    if (!r.Equals(0, "RSTR") || !r.Equals(kRestartName, "N\0T\0F\0S\0", 8)) return false;
    const auto sequence = r.Le16(kRestartSequence);
    for (size_t k = 0; k < kLogPageSize / kSector; ++k) {
        if (r.Le16(kSector * k + kSector - 2) != sequence) return false;
    }
    return true;
}

bool CLogFileAnalyzer::Pairing() { return m_pairings++ < kMaxLogPairings; }

void CLogFileAnalyzer::AnalyzeRSTRRecord(i64 s, const u8* buffer, size_t size) {
    if (m_restarts.size() >= kMaxListEntries || !IsValidRSTRRecord(buffer, size)) return;
    const i64 apart = m_saved.PageSectors();
    const bool paired = !m_restarts.empty() && m_restarts.back() == s - apart;
    for (const auto& info : m_infos) {
        const i64 c = info->GetFirstClusterNO();
        const u32 p = info->GetSectorsPerCluster();
        if (c == -1 || p == 0) continue;
        if (!Pairing()) break;
        if (!paired) {
            m_builder.ConfirmLocated(s, c, p, kFlagRestart1);
            // The page may be the second one.
            if (s - apart > 0) m_builder.ConfirmLocated(s - apart, c, p, kFlagRestart2);
            continue;
        }
        const i64 total = m_builder.GetDeviceTotalSectors();
        const u32 sectorSize = m_builder.GetSectorSize();
        if (auto second = BuildPartitionInfoAccordingtoFileRecord(s - apart, c, p, kFlagRestart2, total, sectorSize))
            m_builder.AdjustPartitionBuildFromFlag(*second, kFlagRestart2, 0);
        if (auto first = BuildPartitionInfoAccordingtoFileRecord(s, c, p, kFlagRestart1, total, sectorSize))
            m_builder.Withdraw(*first, kFlagRestart1);
    }
    m_restarts.push_back(s);
}

void CLogFileAnalyzer::AnalyzeLogFileFileRecord(i64 r, const CNTFSFileRecord& record) {
    if (m_infos.size() >= kMaxListEntries) return;
    auto info = std::make_unique<CLogFileInfo>();
    if (!info->InitFromBuffer(record, r, m_builder.GetSectorSize())) return;
    const i64 c = info->GetFirstClusterNO();
    const u32 p = info->GetSectorsPerCluster();
    if (p != 0 && c >= 0) {
        const i64 apart = m_saved.PageSectors();
        for (size_t i = 0; i < m_restarts.size() && Pairing(); ++i) {
            const i64 current = m_restarts[i];
            if (i + 1 < m_restarts.size() && m_restarts[i + 1] == current + apart) {
                m_builder.ConfirmLocated(current, c, p, kFlagRestart1 | kFlagRestart2);
                ++i;
                continue;
            }
            m_builder.ConfirmLocated(current, c, p, kFlagRestart1);
            if (current - apart != 0) m_builder.ConfirmLocated(current - apart, c, p, kFlagRestart2);
        }
    }
    m_infos.push_back(std::move(info));
}

void CLogFileAnalyzer::AnalyzePage(i64 q, const u8* page) {
    if (CRCRDRecord::IsValid(page, kLogPageSize)) m_store.CombineSectorsOfRange(u64(q), m_saved.PageSectors());
}

void CLogFileAnalyzer::AnalyzeRCRDRecord(const u8* block, i64 first, i64 count, u32 sectorSize) {
    i64 i = BeginRCRDBlock(block, first, count);
    while (i < count) {
        const u8* sector = block + size_t(i) * sectorSize;
        // Its magic read here first: nearly no sector is a record page.
        i = IsRCRDMagic(ByteReader(sector, kSector).Le32(0).value_or(0)) ? AnalyzeRCRDAt(block, first, count, i, sectorSize)
                                                                          : i + 1;
    }
}

i64 CLogFileAnalyzer::BeginRCRDBlock(const u8* block, i64 first, i64 count) {
    CSavedBuffer& saved = m_saved;
    u32 consumed = 0;
    if (!saved.AddBuffer(block, first, count, consumed)) return 0;
    const i64 at = saved.GetFirstSector();
    saved.Clear();
    AnalyzePage(at, saved.Page());
    return consumed;
}

i64 CLogFileAnalyzer::AnalyzeRCRDAt(const u8* block, i64 first, i64 count, i64 i, u32 sectorSize) {
    const u8* sector = block + size_t(i) * sectorSize;
    if (!CRCRDRecord::IsValidRCRDRecordFirstSector(sector, kSector)) return i + 1;
    CSavedBuffer& saved = m_saved;
    const i64 pageSectors = saved.PageSectors();
    if (count - i < pageSectors) {
        saved.InitBuffer(sector, first + i, u32(count - i));
        return count;
    }
    AnalyzePage(first + i, sector);
    return i + pageSectors;
}

void CLogFileAnalyzer::CalcLogFileMatch(CSearchedNTFSPartitionInfo& candidate) const {
    CalcMetaFileMatch(m_infos, m_store, candidate, kLogFileRecordOffset, candidate.m_logFileSector,
                      candidate.m_logFileMatches);
}
