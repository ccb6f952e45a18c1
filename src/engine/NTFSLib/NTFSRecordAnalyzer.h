// Record-level readers: the system ("meta") files by name, the $DATA runs of a record, cluster-size
// estimates, folders with an external index, and the volume label.
#pragma once

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"

class CNTFSFileRecord;
class CNTFSDataRunList;

inline constexpr const wchar_t* FILE_NAME_MFT = L"$MFT";
inline constexpr const wchar_t* FILE_NAME_MFTMIRROR = L"$MFTMirr";
inline constexpr const wchar_t* FILE_NAME_LOGFILE = L"$LogFile";
inline constexpr const wchar_t* FILE_NAME_VOLUME = L"$Volume";
inline constexpr const wchar_t* FILE_NAME_ATTRDEF = L"$AttrDef";
inline constexpr const wchar_t* FILE_NAME_ROOT = L".";
inline constexpr const wchar_t* FILE_NAME_BITMAP = L"$Bitmap";
inline constexpr const wchar_t* FILE_NAME_BOOT = L"$Boot";
inline constexpr const wchar_t* FILE_NAME_BADCLUS = L"$BadClus";
inline constexpr const wchar_t* FILE_NAME_SECURE = L"$Secure";
inline constexpr const wchar_t* FILE_NAME_UPCASE = L"$UpCase";
inline constexpr const wchar_t* FILE_NAME_EXTEND = L"$Extend";
inline constexpr const wchar_t* FILE_NAME_QUOTA = L"$Quota";
inline constexpr const wchar_t* FILE_NAME_OBJID = L"$ObjId";
inline constexpr const wchar_t* FILE_NAME_REPARSE = L"$Reparse";

struct MetaFileRecordEntry {
    u32 number;
    const wchar_t* name;
};
inline constexpr MetaFileRecordEntry metaFileRecordMFTNumberandFileNameArray[] = {
    {0, FILE_NAME_MFT},      {1, FILE_NAME_MFTMIRROR}, {2, FILE_NAME_LOGFILE}, {3, FILE_NAME_VOLUME},
    {4, FILE_NAME_ATTRDEF},  {5, FILE_NAME_ROOT},      {6, FILE_NAME_BITMAP},  {7, FILE_NAME_BOOT},
    {8, FILE_NAME_BADCLUS},  {9, FILE_NAME_SECURE},    {10, FILE_NAME_UPCASE}, {11, FILE_NAME_EXTEND},
    {32, FILE_NAME_QUOTA},   {33, FILE_NAME_OBJID},    {34, FILE_NAME_REPARSE},
};

class CMetaFileRecordTypeAnalyzer {
public:
    // The table number whose name the record's first $FILE_NAME carries, or 0xFFFFFFFF.
    static u32 GetMetaFileRecordIndex(const CNTFSFileRecord& record);
    // A table name, and hidden + system in the first $STANDARD_INFORMATION.
    static bool IsValidMetaFileRecord(const CNTFSFileRecord& record);
    // The same with the record's GetMetaFileRecordIndex already known.
    static bool IsValidMetaFileRecordOfIndex(const CNTFSFileRecord& record, u32 index);
    static bool IsValidMetaFileRecord(const CNTFSFileRecord& record, const wchar_t* name);
    // The buffer forms wrap the first 1024 bytes without copying (the buffer is left as it was).
    static bool IsValidMetaFileRecord(const u8* buf, const wchar_t* name);
    static bool IsValidMFTFileRecord(const u8* buf) { return IsValidMetaFileRecord(buf, FILE_NAME_MFT); }
    static bool IsValidMFTMirrFileRecord(const u8* buf) { return IsValidMetaFileRecord(buf, FILE_NAME_MFTMIRROR); }
    static bool IsValidLogFileRecord(const u8* buf) { return IsValidMetaFileRecord(buf, FILE_NAME_LOGFILE); }
    static bool IsValidVolumeFileRecord(const u8* buf) { return IsValidMetaFileRecord(buf, FILE_NAME_VOLUME); }
    static bool IsValidAttrDefFileRecord(const u8* buf) { return IsValidMetaFileRecord(buf, FILE_NAME_ATTRDEF); }
    static bool IsValidBitmapFileRecord(const u8* buf) { return IsValidMetaFileRecord(buf, FILE_NAME_BITMAP); }
    static bool IsValidUpCaseFileRecord(const u8* buf) { return IsValidMetaFileRecord(buf, FILE_NAME_UPCASE); }
};

class CFolderFileRecordAnalyzer {
public:
    // A directory record whose first $INDEX_ALLOCATION exists and is non-resident.
    static bool IsValidFolderFileRecordHavingIndexAllocation(const CNTFSFileRecord& record);
};

class CNTFSFileRecordAnalyzer {
public:
    // Appends the runs of the unnamed $DATA pieces; false for an invalid record, a resident unnamed
    // $DATA, or (with the check) a piece whose clusters disagree with its VCN range.
    static bool AddDataRunListfromFileRecordBuffer(const CNTFSFileRecord& record, CNTFSDataRunList& list,
                                                   int checkClusters, i64* realSize);
    static bool AddDataRunListfromFileRecordBuffer(const u8* buf, int size, CNTFSDataRunList& list, int checkClusters,
                                                   i64* realSize);
    // One unnamed non-resident attribute: its first VCN, its runs shifted to it, its real size.
    static bool AddDataRunListfromNonResidentAttributeBuffer(const ByteReader& a, i64* realSize, i64& startVCN,
                                                             CNTFSDataRunList& list);
    // The cluster size of the unnamed $DATA, in sectors of sectorSize bytes, estimated from its real size
    // and clusters (0 when unknown); false for a record whose $DATA runs cannot be read.
    static bool GetSectorsPerClusterfrom0x80(const CNTFSFileRecord& record, u8& sectorsPerCluster, u32 sectorSize);
    static bool GetSectorsPerClusterfrom0x80(const u8* buf, u8& sectorsPerCluster, u32 sectorSize);
    static bool IsValidFolderFileRecordHavingIndexAllocation(const CNTFSFileRecord& record) {
        return CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(record);
    }
};

class CIsMetaFileRecord {
public:
    static bool IsMetaFileRecord(i64 recordNumber) { return recordNumber >= 0 && recordNumber < 25; }
    static bool IsMetaFileRecord(const u8* buf, int size);
};

class CVolumeFileAnalyzer {
public:
    // The $VOLUME_NAME of a $Volume record as UTF-8 into label (at most labelSize - 1 bytes and a
    // terminator); false when the record is not a valid $Volume record.
    static bool GetLabel(const u8* record, char* label, int labelSize, int recordSize);
};
