#include "engine/NTFSLib/NTFSFindings.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "engine/FileArchive/IRSData.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"

using namespace ntfs;

bool CMetaFileInfo::InitFromBuffer(const CNTFSFileRecord& record, i64 sector) {
    if (!record.IsValid()) return false;
    CNTFSDataRunList runs;
    CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, 0, nullptr);
    if (runs.IsEmpty()) return false;
    m_runs = runs;
    m_sector = sector;
    m_logSequence = record.GetLogFileSequenceNumber();
    return true;
}

bool CMetaFileInfo::InitFromBuffer(const u8* buf, int size, i64 sector) {
    CNTFSFileRecord record(buf, size, 0);
    return InitFromBuffer(record, sector);
}

bool CMetaFileInfo::Equals(const CMetaFileInfo* other) const {
    return other && other->m_sector == m_sector && other->m_logSequence == m_logSequence && other->m_runs.IsEqual(m_runs);
}

bool CLogFileInfo::InitFromBuffer(const CNTFSFileRecord& record, i64 sector, u32 sectorSize) {
    return CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(record, m_sectorsPerCluster, sectorSize) &&
           CMetaFileInfo::InitFromBuffer(record, sector);
}
bool CLogFileInfo::InitFromBuffer(const u8* buf, int size, i64 sector, u32 sectorSize) {
    CNTFSFileRecord record(buf, size, 0);
    return InitFromBuffer(record, sector, sectorSize);
}

CMFTMirrInfo* CMFTMirrInfo::Build(const CNTFSFileRecord& record, i64 sector, u32 sectorSize) {
    auto* info = new (std::nothrow) CMFTMirrInfo();
    if (info && info->InitFromBuffer(record, sector, sectorSize)) return info;
    delete info;
    return nullptr;
}
bool CMFTMirrInfo::InitFromBuffer(const CNTFSFileRecord& record, i64 sector, u32 sectorSize) {
    return CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(record, m_sectorsPerCluster, sectorSize) &&
           CMetaFileInfo::InitFromBuffer(record, sector);
}
bool CMFTMirrInfo::InitFromBuffer(const u8* buf, int size, i64 sector, u32 sectorSize) {
    CNTFSFileRecord record(buf, size, 0);
    return InitFromBuffer(record, sector, sectorSize);
}

CMFTInfo* CMFTInfo::Build(const CNTFSFileRecord& record, i64 sector, u32 sectorSize) {
    auto* info = new (std::nothrow) CMFTInfo();
    if (info && info->InitFromBuffer(record, sector, sectorSize) && info->GetFirstClusterNO() >= 0) return info;
    delete info;
    return nullptr;
}

bool CMFTInfo::InitFromBuffer(const CNTFSFileRecord& record, i64 sector, u32 sectorSize) {
    u8 spc = 0;
    if (!CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(record, spc, sectorSize) || spc == 0) return false;
    m_sectorsPerCluster = spc;
    m_runs.ClearDataRunList();
    CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, m_runs, 0, nullptr);
    m_sector = sector;
    return !m_runs.IsEmpty();
}

bool CMFTInfo::InitFromBuffer(const u8* buf, int size, i64 sector, u32 sectorSize) {
    CNTFSFileRecord record(buf, size, 0);
    return InitFromBuffer(record, sector, sectorSize);
}

bool CMFTInfo::Save(IRSData& data) const {
    return data.WriteCurFrame(&m_sector, 8) && data.WriteCurFrame(&m_sectorsPerRecord, 1) &&
           data.WriteCurFrame(&m_sectorsPerCluster, 1) && m_runs.Save(data);
}

bool CMFTInfo::Restore(IRSData& data) {
    return data.ReadCurFrame(&m_sector, 8) && data.ReadCurFrame(&m_sectorsPerRecord, 1) &&
           data.ReadCurFrame(&m_sectorsPerCluster, 1) && m_runs.Restore(data);
}

bool CBitmapFileInfo::InitFromBuffer(const CNTFSFileRecord& record, i64 sector) {
    if (!record.IsValid()) return false;
    CNTFSDataRunList runs;
    i64 size = 0;
    if (!CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, 1, &size)) return false;
    if (size < 1 || runs.GetTotalClusters() < 1) return false;
    m_size = size;
    m_sector = sector;
    return true;
}

bool CFolderIndexAllocationInfo::InitFromBuffer(const u8* buf, int size, i64 sector, u32 sectorSize) {
    CNTFSFileRecord record(buf, size, 0);
    return InitFromBuffer(record, sector, sectorSize);
}

bool CFolderIndexAllocationInfo::InitFromBuffer(const CNTFSFileRecord& record, i64 sector, u32 sectorSize) {
    if (!record.IsValid() || record.IsExtendFileRecord()) return false;
    const ByteReader root = record.FindAttibute(attr::kIndexRoot, 0);
    if (!root.empty()) m_directory = CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(root);
    const ByteReader a = record.FindAttibute(attr::kIndexAllocation, 0);
    if (a.empty() || CNTFSFileRecordAttribute::GetLength(a) < 1 || CNTFSFileRecordAttribute::IsResident(a)) return false;
    if (!CNTFSFileRecordDataRunsAttribute::GetDataRunList(a, m_runs)) return false;
    m_sectorsPerCluster = CNTFSFileRecordDataRunsAttribute::GetSectorsPerCluster(a, sectorSize);
    if (m_sectorsPerCluster == 0) return false;
    m_sector = sector;
    m_logSequence = record.GetLogFileSequenceNumber();
    if (record.HasXPNumberOfthisMFTRecord()) {
        m_hasNumber = 1;
        m_number = record.GetXPNumberOfthisMFTRecord();
        if (m_directory == -1 || m_directory == -2) m_directory = m_number;
    }
    return m_directory >= 0 && m_directory != 5;
}

i64 CFolderIndexAllocationInfo::GetFirstClusterNO() const {
    for (const CDataRun& run : m_runs.Runs()) {
        if (run.vcn == 0) return run.lcn;
    }
    return -1;
}

bool CCommonFileRecordPositionInfo::Merge(i64 sector) {
    if (sector != m_first + 2 * m_count) return false;
    ++m_count;
    return true;
}

bool CCommonFileRecordPositionInfo::Save(IRSData& data) const {
    return data.WriteCurFrame(&m_first, 8) && data.WriteCurFrame(&m_count, 8);
}
bool CCommonFileRecordPositionInfo::Restore(IRSData& data) {
    return data.ReadCurFrame(&m_first, 8) && data.ReadCurFrame(&m_count, 8);
}

bool CCommonFileRecordInfo::InitFromBuffer(const CNTFSFileRecord& record, i64 sector) {
    if (!record.IsValid()) return false;
    m_directory = record.IsFolder() ? 1 : 0;
    if (record.HasXPNumberOfthisMFTRecord()) m_number = record.GetXPNumberOfthisMFTRecord();
    const ByteReader a = record.FindAttibute(attr::kFileName, 0);
    const ByteReader b = record.FindAttibute(attr::kFileName, 1);
    const i64 parentA = a.empty() ? -1 : CNTFSFileRecordFileNameAttribute::GetFileRecordNumberofParentDirectory(a);
    const i64 parentB = b.empty() ? -1 : CNTFSFileRecordFileNameAttribute::GetFileRecordNumberofParentDirectory(b);
    m_parent = parentB >= 5 ? parentB : (parentA >= 5 ? parentA : -1);
    const ByteReader& named = (m_parent != -1 && m_parent == parentB) ? b : a;
    m_parentSequence =
        named.empty() ? 0 : u16(named.Le64(filename::kParent).value_or(0) >> record::kReferenceSequenceShift);
    m_sequence = record.View().Le16(record::kSequence).value_or(0);
    m_inUse = record.IsinUse();
    m_sector = sector;
    return true;
}

bool CCommonFileRecordInfo::InitFromBuffer(const u8* buf, int size, i64 sector) {
    CNTFSFileRecord record(buf, size, 0);
    return InitFromBuffer(record, sector);
}

void CValidFileRecordSectors::Add(i64 sector) {
    if (!m_runs.empty()) {
        Run& last = m_runs.back();
        const i64 next = last.first + last.count * m_step;
        if (sector == next) {
            ++last.count;
            return;
        }
        if (sector < next) return;
    }
    if (sector >= 0 && m_runs.size() < kMaxRuns) m_runs.push_back({sector, 1});
}

bool CValidFileRecordSectors::Contains(i64 sector) const {
    auto after = std::upper_bound(m_runs.begin(), m_runs.end(), sector,
                                  [](i64 s, const Run& run) { return s < run.first; });
    if (after == m_runs.begin()) return false;
    const Run& run = *std::prev(after);
    const i64 d = sector - run.first;
    return d % m_step == 0 && d / m_step < run.count;
}
