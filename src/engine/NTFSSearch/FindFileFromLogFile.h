// Files rebuilt from the $LogFile: the whole log of one volume is read into memory, whole FILE
// records that the log wrote and every log record with its undo data are collected, and a deleted
// file whose record shows a size of 0 gets its size and runs back from them.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileProperties.h"

class CFindFileFromLogFile;
class CMFTInfo;
class IStorageDevice;

// A file built from a FILE record found in the log, and the record number it reported.
struct _FilePropertiesExt {
    std::unique_ptr<CNTFSFileProperties> properties;
    i64 number = -1;
};

// A master file table found by the deep search and the reader of its volume's $LogFile.
struct FindFileMFTAndLogx {
    CMFTInfo* mft = nullptr;  // not owned
    std::unique_ptr<CFindFileFromLogFile> reader;
};

// One log record kept for the undo search: its first 88 bytes and where its copy lies.
struct RecordSegInfo {
    std::array<u8, 88> header{};
    size_t copyOffset = 0;
    u32 length = 0;
};

class CFindFileFromLogFile {
public:
    // The log image is never larger than this, whatever its runs claim.
    static constexpr u64 kMaxLogBytes = u64{64} << 20;
    static constexpr u32 kPageSize = 4096;

    CFindFileFromLogFile() = default;
    ~CFindFileFromLogFile() { Reset(); }
    CFindFileFromLogFile(const CFindFileFromLogFile&) = delete;
    CFindFileFromLogFile& operator=(const CFindFileFromLogFile&) = delete;

    // Finds the $LogFile record through the master file table's first run; false when a pointer is
    // null or its sectors cannot be read. Clusters count from cluster0Sector of the device (a volume
    // inside a whole disk in the deep search).
    bool Init(IStorageDevice* device, const CNTFSDataRunList* mftRuns, u32 sectorsPerCluster, i64 cluster0Sector = 0);
    // 4096-byte pages of the log, bounded by the volume and kMaxLogBytes.
    u64 GetLogPageCount() const;
    // Loads the image on first use; false without a log or memory.
    bool GetLogPageBuffer(u64 page, const u8** out);
    bool Analyzer();
    // Gives a deleted file of size 0 its size and runs from the log (see the class comment); false for a
    // null record, or without a twin for a plain folder or a file not marked deleted.
    bool ReplaceFileRecordInfo(const u8* record, CNTFSFileProperties& properties, i64 mftNumber,
                               const CExtendFileRecordInfoList* extensions);
    void Reset();

    bool IsFound() const { return m_found; }
    bool IsDone() const { return m_done; }
    const std::vector<_FilePropertiesExt>& GetFoundFiles() const { return m_foundFiles; }
    std::vector<_FilePropertiesExt>* GetFoundFileContainer() { return &m_foundFiles; }
    const std::vector<RecordSegInfo>& GetLogRecords() const { return m_records; }
    // Rebuilds the $DATA attributes of a record copy (at least 1024 bytes) from the undo data; used by
    // ReplaceFileRecordInfo and the tests.
    void RebuildFileRecord(u8* record, size_t size, i64 recordNumber);

private:
    template <class Visit>
    void WalkLog(Visit&& visit);
    void AnalyzerFileRecord(const u8* rec, size_t length, size_t pageOffset);
    void AnalyzerAllLogRecord(const u8* rec, size_t length);
    bool BuildFileDataAttributeBuffer(u8* record, size_t size, u32 offset, i64 recordNumber);
    // Properties of a 1024-byte FILE record (not a folder or an extension) with a size; null otherwise.
    std::unique_ptr<CNTFSFileProperties> BuildFileProperties(const u8* buffer, size_t size, i64* number);
    u32 SectorSize() const;

    bool m_found = false;
    bool m_done = false;
    IStorageDevice* m_device = nullptr;
    std::vector<DataRun> m_logRuns;  // clusters of the $LogFile, in file order
    u32 m_sectorsPerCluster = 8;
    i64 m_cluster0Sector = 0;
    std::vector<u8> m_image;
    bool m_imageTried = false;
    std::vector<u8> m_copies;
    std::unique_ptr<CNTFSFileProperties> m_logProperties;
    std::vector<_FilePropertiesExt> m_foundFiles;
    std::vector<RecordSegInfo> m_records;
    bool m_compressed = false;
};
