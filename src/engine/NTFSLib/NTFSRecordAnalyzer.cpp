#include "engine/NTFSLib/NTFSRecordAnalyzer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/Common/SafeName.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"

using namespace ntfs;

namespace {

using Attribute = CNTFSFileRecordAttribute;
using FileName = CNTFSFileRecordFileNameAttribute;
using StdInfo = CNTFSFileRecordStandardInformationAttribute;

bool HiddenAndSystem(const CNTFSFileRecord& record) {
    const ByteReader si = record.FindAttibute(attr::kStandardInformation, 0);
    return !si.empty() && (StdInfo::GetDosFilePermission(si) & 0x06) == 0x06;
}

}  // namespace

u32 CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(const CNTFSFileRecord& record) {
    if (!record.IsValid() || record.IsExtendFileRecord()) return 0xFFFFFFFF;
    const ByteReader name = record.FindAttibute(attr::kFileName, 0);
    if (name.empty()) return 0xFFFFFFFF;
    // Every name of the table begins with "$" but the root's ".": other records end here.
    const auto first = FileName::GetFileName(name).Le16(0);
    if (first != u16('$') && first != u16('.')) return 0xFFFFFFFF;
    for (const MetaFileRecordEntry& e : metaFileRecordMFTNumberandFileNameArray) {
        if (FileName::IsFileNameEqual(name, e.name)) return e.number;
    }
    return 0xFFFFFFFF;
}

bool CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(const CNTFSFileRecord& record) {
    return IsValidMetaFileRecordOfIndex(record, GetMetaFileRecordIndex(record));
}

bool CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecordOfIndex(const CNTFSFileRecord& record, u32 index) {
    return index != 0xFFFFFFFF && HiddenAndSystem(record);
}

bool CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(const CNTFSFileRecord& record, const wchar_t* name) {
    if (!record.IsValid() || !HiddenAndSystem(record)) return false;
    const ByteReader first = record.FindAttibute(attr::kFileName, 0);
    return !first.empty() && FileName::IsFileNameEqual(first, name);
}

bool CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(const u8* buf, const wchar_t* name) {
    if (!buf) return false;
    CNTFSFileRecord record(buf, int(record::kHandledSize), 0);
    return IsValidMetaFileRecord(record, name);
}

bool CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(const CNTFSFileRecord& record) {
    if (!record.IsValid() || !record.IsFolder()) return false;
    const ByteReader a = record.FindAttibute(attr::kIndexAllocation, 0);
    return !a.empty() && !Attribute::IsResident(a);
}

bool CNTFSFileRecordAnalyzer::AddDataRunListfromNonResidentAttributeBuffer(const ByteReader& a, i64* realSize,
                                                                         i64& startVCN, CNTFSDataRunList& list) {
    if (Attribute::IsNamed(a) || Attribute::IsResident(a) || !Attribute::IsValid(a, a.size())) return false;
    startVCN = CNTFSFileRecordDataRunsAttribute::GetStartVCN(a);
    const ByteReader pairs = CNTFSFileRecordDataRunsAttribute::GetDataRunsBuffer(a);
    if (pairs.size() > 0) list.AddDataRunsfromBuffer(pairs.data(), int(pairs.size()), startVCN);
    if (realSize) *realSize = pairs.size() > 0 ? Attribute::GetRealSizeOfAttribute(a) : 0;
    return true;
}

bool CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(const CNTFSFileRecord& record, CNTFSDataRunList& list,
                                                               int checkClusters, i64* realSize) {
    if (!record.IsValid()) return false;
    for (u32 n = 0;; ++n) {
        const ByteReader a = record.FindAttibute(attr::kData, n);
        if (a.empty()) return true;
        if (Attribute::GetLength(a) == 0) return false;
        if (Attribute::IsNamed(a)) continue;
        if (Attribute::IsResident(a)) return false;
        if (checkClusters && !Attribute::IsCompressed(a)) {
            const i64 first = i64(a.Le64(attr::kFirstVcn).value_or(0));
            const i64 last = i64(a.Le64(attr::kLastVcn).value_or(0));
            i64 span = 0;
            if (__builtin_sub_overflow(last, first, &span) || __builtin_add_overflow(span, 1, &span)) return false;
            if (CNTFSFileRecordDataRunsAttribute::GetTotalClusters(a) != span) return false;
        }
        i64 startVCN = 0;
        i64 size = 0;
        if (!AddDataRunListfromNonResidentAttributeBuffer(a, &size, startVCN, list)) continue;
        if (startVCN == 0 && realSize) *realSize = size;
    }
}

bool CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(const u8* buf, int size, CNTFSDataRunList& list,
                                                               int checkClusters, i64* realSize) {
    CNTFSFileRecord record(buf, size, 0);
    return AddDataRunListfromFileRecordBuffer(record, list, checkClusters, realSize);
}

bool CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(const CNTFSFileRecord& record, u8& sectorsPerCluster,
                                                           u32 sectorSize) {
    sectorsPerCluster = 0;
    CNTFSDataRunList runs;
    i64 realSize = 0;
    if (!AddDataRunListfromFileRecordBuffer(record, runs, 1, &realSize)) return false;
    const i64 clusters = runs.GetTotalClusters();
    if (clusters > 0 && realSize > 0)
        sectorsPerCluster = GetSectorsPerCluster::RoundUp(double(realSize) / double(clusters) /
                                                          GetSectorsPerCluster::EffectiveSectorSize(sectorSize));
    return true;
}

bool CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(const u8* buf, u8& sectorsPerCluster, u32 sectorSize) {
    CNTFSFileRecord record(buf, int(record::kHandledSize), 0);
    return GetSectorsPerClusterfrom0x80(record, sectorsPerCluster, sectorSize);
}

bool CIsMetaFileRecord::IsMetaFileRecord(const u8* buf, int size) {
    if (!buf || size < int(record::kHandledSize)) return false;
    CNTFSFileRecord record(buf, int(record::kHandledSize), 0);
    return CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record);
}

bool CVolumeFileAnalyzer::GetLabel(const u8* buf, char* label, int labelSize, int recordSize) {
    if (!buf || !label || labelSize < 1 || recordSize < int(record::kHandledSize)) return false;
    CNTFSFileRecord record(buf, recordSize, 0);
    if (!CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record, FILE_NAME_VOLUME)) return false;
    const ByteReader a = record.FindAttibute(attr::kVolumeName, 0);
    if (a.empty()) return false;
    const ByteReader value = Attribute::Value(a);
    std::string text;
    if (!Utf16LeToUtf8(value.data(), value.size(), text)) return false;
    text = safename::CutAtUtf8Boundary(text, size_t(labelSize - 1));
    const size_t n = text.size();
    std::memcpy(label, text.data(), n);
    label[n] = '\0';
    return true;
}
