// What an NTFS search recognises in file records: copies of the master file table's record and its
// mirror, the system files, directories owning index blocks, runs of file records, and one file's
// record. Each initialises itself from a record at a sector; the ones that outlive a scan save
// themselves into a framed archive.
#pragma once

#include <list>
#include <vector>

#include "engine/NTFSLib/NTFSDataRun.h"

class CNTFSFileRecord;
class CNTFSPrebuiltRecords;
class IFileProperties;
class IRSData;
struct FindFileMFTAndLogx;

class CMetaFileInfo {
public:
    virtual ~CMetaFileInfo() = default;
    // A valid record whose unnamed $DATA has runs (collected without the cluster check).
    bool InitFromBuffer(const CNTFSFileRecord& record, i64 sector);
    bool InitFromBuffer(const u8* buf, int size, i64 sector);
    bool Equals(const CMetaFileInfo* other) const;
    i64 GetSectorAddress() const { return m_sector; }
    i64 GetFirstClusterNO() const { return m_runs.GetLCN(0); }
    const CNTFSDataRunList& GetDataRunList() const { return m_runs; }
    void GetDataRunList(CNTFSDataRunList& out) const { out = m_runs; }
    const CNTFSDataRunList& GetNTFSDataRunList() const { return m_runs; }

protected:
    i64 m_sector = -1;
    CNTFSDataRunList m_runs;
    i64 m_logSequence = 0;
};

class CAttrDefFileInfo : public CMetaFileInfo {};
class CUpCaseFileInfo : public CMetaFileInfo {};

// $LogFile and $MFTMirr: the cluster-size estimate from $DATA must succeed (it may give 0) first.
// (Cluster sizes are estimated in sectors of sectorSize bytes, the scanned device's.)
class CLogFileInfo : public CMetaFileInfo {
public:
    bool InitFromBuffer(const CNTFSFileRecord& record, i64 sector, u32 sectorSize);
    bool InitFromBuffer(const u8* buf, int size, i64 sector, u32 sectorSize);
    u8 GetSectorsPerCluster() const { return m_sectorsPerCluster; }

private:
    u8 m_sectorsPerCluster = 0;
};

class CMFTMirrInfo : public CMetaFileInfo {
public:
    static CMFTMirrInfo* Build(const CNTFSFileRecord& record, i64 sector, u32 sectorSize);
    bool InitFromBuffer(const CNTFSFileRecord& record, i64 sector, u32 sectorSize);
    bool InitFromBuffer(const u8* buf, int size, i64 sector, u32 sectorSize);
    u8 GetSectorsPerCluster() const { return m_sectorsPerCluster; }

private:
    u8 m_sectorsPerCluster = 0;
};

class CMFTInfo {
public:
    // Initialised and with a known LCN at VCN 0, else null.
    static CMFTInfo* Build(const CNTFSFileRecord& record, i64 sector, u32 sectorSize);
    // A non-zero cluster-size estimate and runs.
    bool InitFromBuffer(const CNTFSFileRecord& record, i64 sector, u32 sectorSize);
    bool InitFromBuffer(const u8* buf, int size, i64 sector, u32 sectorSize);
    i64 GetSectorAddress() const { return m_sector; }
    i64 GetFirstClusterNO() const { return m_runs.GetLCN(0); }
    u8 GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    u8 GetSectorsPerFileRecord() const { return m_sectorsPerRecord; }
    void SetSectorsPerFileRecord(u8 v) { m_sectorsPerRecord = v; }
    CNTFSDataRunList& GetDataRunList() { return m_runs; }
    const CNTFSDataRunList& GetDataRunList() const { return m_runs; }
    // sector (8), sectors per record (1), sectors per cluster (1), then the run list.
    bool Save(IRSData& data) const;
    bool Restore(IRSData& data);

private:
    i64 m_sector = -1;
    CNTFSDataRunList m_runs;
    u8 m_sectorsPerRecord = 2;
    u8 m_sectorsPerCluster = 0;
};

class CBitmapFileInfo {
public:
    bool InitFromBuffer(const CNTFSFileRecord& record, i64 sector);
    i64 GetSectorAddress() const { return m_sector; }
    i64 GetFileSize() const { return m_size; }

private:
    i64 m_sector = -1;
    i64 m_size = -1;
};

class CFolderIndexAllocationInfo {
public:
    bool InitFromBuffer(const CNTFSFileRecord& record, i64 sector, u32 sectorSize);
    bool InitFromBuffer(const u8* buf, int size, i64 sector, u32 sectorSize);
    i64 GetLCN(i64 vcn) const { return m_runs.GetLCN(vcn); }
    i64 GetFirstClusterNO() const;
    u32 GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    bool HasXPNumberOfthisMFTRecord() const { return m_hasNumber != 0; }
    u32 GetXPNumberOfthisMFTRecord() const { return m_number; }
    i64 GetMFTFileRecordNumber() const { return m_directory; }
    void SetMFTFileRecordNumber(i64 v) { m_directory = v; }
    i64 GetLogFileSequenceNumber() const { return m_logSequence; }
    i64 GetSectorAddress() const { return m_sector; }

private:
    i64 m_sector = -1;
    CNTFSDataRunList m_runs;
    i64 m_logSequence = 0;
    i64 m_directory = -1;
    u32 m_number = 0;
    u32 m_hasNumber = 0;
    u32 m_sectorsPerCluster = 0;
};

// A run of consecutive 1024-byte records on 512-byte sectors.
class CCommonFileRecordPositionInfo {
public:
    CCommonFileRecordPositionInfo() = default;
    explicit CCommonFileRecordPositionInfo(i64 sector) : m_first(sector), m_count(1) {}
    // True (and one more record) when sector follows the run.
    bool Merge(i64 sector);
    i64 GetFileRecordStartSector() const { return m_first; }
    void SetFileRecordStartSector(i64 v) { m_first = v; }
    i64 GetFileRecordCount() const { return m_count; }
    bool Save(IRSData& data) const;
    bool Restore(IRSData& data);

private:
    i64 m_first = -1;
    i64 m_count = 0;
};

// The sectors at which a scan found a valid FILE record (of the size the tree build reads there), as
// runs of records `step` sectors apart in rising order. The tree build reads those records again and
// needs not check their attributes a second time. Only what was found is kept: a sector added out of
// order, or past the cap, is left out and its record is checked in full.
class CValidFileRecordSectors {
public:
    static constexpr size_t kMaxRuns = 1u << 20;
    void Reset(i64 step) {
        m_runs.clear();
        m_step = step > 0 ? step : 1;
    }
    void Add(i64 sector);
    bool Contains(i64 sector) const;
    size_t RunCount() const { return m_runs.size(); }

private:
    struct Run {
        i64 first;
        i64 count;
    };
    std::vector<Run> m_runs;
    i64 m_step = 1;
};

class CCommonFileRecordInfo {
public:
    bool InitFromBuffer(const CNTFSFileRecord& record, i64 sector);
    bool InitFromBuffer(const u8* buf, int size, i64 sector);
    bool IsDirectory() const { return m_directory != 0; }
    i64 GetSectorAddress() const { return m_sector; }
    i64 GetFileRecordNumberofParentDirectory() const { return m_parent; }
    void SetFileRecordNumberofParentDirectory(i64 v) { m_parent = v; }
    i64 GetMFTFileRecordNumber() const { return m_number; }
    void SetMFTFileRecordNumber(i64 v) { m_number = v; }
    IFileProperties* GetNTFSFileProperties() const { return m_properties; }
    void SetNTFSFileProperties(IFileProperties* p) { m_properties = p; }
    // The record's own sequence number and use, and the sequence number its parent reference names.
    u16 GetSequence() const { return m_sequence; }
    bool IsInUse() const { return m_inUse; }
    u16 GetParentSequence() const { return m_parentSequence; }
    // Whether a reference naming sequence `referenced` still names a record of this sequence and use:
    // the same sequence, or, the record being free, the next one (freeing a record raises its
    // sequence, so a deleted folder still holds its deleted files). A record freed and taken again
    // holds something else. Sequence 0 in a reference checks nothing.
    static bool ReferenceHolds(u16 referenced, u16 sequence, bool inUse) {
        return referenced == 0 || sequence == referenced || (!inUse && sequence == u16(referenced + 1));
    }

private:
    u32 m_directory = 0;
    u16 m_sequence = 0;
    u16 m_parentSequence = 0;
    bool m_inUse = false;
    i64 m_sector = 0;
    i64 m_parent = -1;
    IFileProperties* m_properties = nullptr;  // not owned
    i64 m_number = -1;
};

class CNTFSIntelligentSearchInfo {
public:
    void Init(std::list<CMFTInfo*>* mftInfos, std::list<CCommonFileRecordPositionInfo>* positions,
              std::vector<FindFileMFTAndLogx>* logFindings) {
        m_mftInfos = mftInfos;
        m_positions = positions;
        m_logFindings = logFindings;
    }
    std::list<CMFTInfo*>* GetMFTInfoContainer() const { return m_mftInfos; }
    std::list<CCommonFileRecordPositionInfo>* GetCommonFileRecordPositionInfoList() const { return m_positions; }
    std::vector<FindFileMFTAndLogx>* GetFindFileContainer() const { return m_logFindings; }
    // The records the scan found valid (may be null: every record is checked).
    void SetValidFileRecordSectors(const CValidFileRecordSectors* valid) { m_valid = valid; }
    const CValidFileRecordSectors* GetValidFileRecordSectors() const { return m_valid; }
    // What the scan built of the records (may be null: every record is read again).
    void SetPrebuiltRecords(CNTFSPrebuiltRecords* prebuilt) { m_prebuilt = prebuilt; }
    CNTFSPrebuiltRecords* GetPrebuiltRecords() const { return m_prebuilt; }

private:
    std::list<CMFTInfo*>* m_mftInfos = nullptr;
    std::list<CCommonFileRecordPositionInfo>* m_positions = nullptr;
    std::vector<FindFileMFTAndLogx>* m_logFindings = nullptr;
    const CValidFileRecordSectors* m_valid = nullptr;
    CNTFSPrebuiltRecords* m_prebuilt = nullptr;
};
