// Files whose attributes spread over a base record and extension records (listed in $ATTRIBUTE_LIST):
// locating the extension records, searching attributes across them, and the resident $DATA readers.
#pragma once

#include <memory>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/NTFSFileProperties.h"

class CNTFSDataRunList;
class CNTFSFileRecord;
class CNTFSFileNode;
class IStorageDevice;

// The cap on an $ATTRIBUTE_LIST read from clusters: lists are a few KiB; a size from disk above this
// is damage.
inline constexpr u32 kMaxAttributeListSize = 1u << 20;
// At most this many extension records are followed.
inline constexpr size_t kMaxExtensionRecords = 7;

i64 GetClusterStartSector(i64 cluster, i64 cluster0Sector, int sectorsPerCluster);
// The sector of record `number` through the master file table's runs; -1 when no run holds it.
i64 GetFileRecordStartSectorfromMFTNumber(i64 number, u32 sectorsPerCluster, i64 cluster0Sector,
                                          const CNTFSDataRunList* mftRuns, u8 sectorsPerRecord);
// The extension records named by the record's attribute list (sectors still -1); null when none.
std::unique_ptr<CExtendFileRecordInfoList> GetExtendFileRecordInfoList(const u8* record, u32 size, i64 cluster0Sector,
                                                                      int sectorsPerCluster, IStorageDevice& device);
void CalcFileRecordStartSectorinExtendFileRecordInfoList(CExtendFileRecordInfoList& list, u32 sectorsPerCluster,
                                                         i64 cluster0Sector, const CNTFSDataRunList* mftRuns,
                                                         u8 sectorsPerRecord);
// Drops the entries at the main record's sector or still unlocated.
void RemoveMainFileRecordInfofromFileRecordInfoList(CExtendFileRecordInfoList& list, i64 mainSector);
bool HasSameExtendFileRecordInfoList(const CExtendFileRecordInfoList& list, i64 recordNumber);
// The three steps above; null when nothing is left.
std::unique_ptr<CExtendFileRecordInfoList> InitExtendFileRecord(const u8* record, u32 size, i64 recordSector,
                                                               u32 sectorsPerCluster, i64 cluster0Sector,
                                                               IStorageDevice& device, const CNTFSDataRunList* mftRuns,
                                                               u8 sectorsPerRecord);
// Reads the runs of the pairs into out (at most outSize bytes); sparse runs read as zeros. False when a
// read fails or the pairs do not decode.
bool GetAttributeDatafromNonResidentAttributeBuffer(const u8* pairs, u32 pairsSize, u8* out, u32 outSize,
                                                    i64 cluster0Sector, int sectorsPerCluster, IStorageDevice& device);

class CAttributeListExtendFileRecordBufferInfo {
public:
    CAttributeListExtendFileRecordBufferInfo(IStorageDevice* device, i64 sector, i64 number)
        : m_device(device), m_sector(sector), m_number(number) {}
    // The record read at its sector with its protection removed; null when unreadable or invalid.
    u8* GetExtendFileRecordBuffer();
    int GetSize() const { return int(m_buffer.size()); }
    i64 GetSector() const { return m_sector; }
    i64 GetNumber() const { return m_number; }

private:
    IStorageDevice* m_device;
    std::vector<u8> m_buffer;
    bool m_tried = false;
    bool m_valid = false;
    i64 m_sector;
    i64 m_number;
};

class CNTFSMultiFileRecord {
public:
    // Copies the record and removes its protection; holds nothing for an invalid record.
    CNTFSMultiFileRecord(const u8* record, u32 size, i64 sector, IStorageDevice* device,
                         const CExtendFileRecordInfoList* extensions);
    // From a record already wrapped (validated, protection removed): its bytes are read where they
    // lie, so the wrapped record must outlive this one.
    CNTFSMultiFileRecord(const CNTFSFileRecord& record, i64 sector, IStorageDevice* device,
                         const CExtendFileRecordInfoList* extensions);

    bool IsValid() const { return m_size != 0; }
    bool IsinUse() const;
    u64 GetMainFileRecordIndex() const;
    i64 GetSector() const { return m_sector; }
    ByteReader GetMainRecord() const { return ByteReader(m_record, m_size); }
    // The n-th attribute of the type across the base record and then its extension records.
    ByteReader FindAttibute(u32 type, u32 n, u32* offsetInRecord, i64* recordSector);

private:
    void AddExtensions(const CExtendFileRecordInfoList* extensions);

    std::vector<u8> m_copy;  // the record's bytes when they were copied
    const u8* m_record = nullptr;
    u32 m_size = 0;
    const CNTFSFileRecord* m_wrapped = nullptr;  // the record read in place, whose walk answers lookups
    i64 m_sector = 0;
    IStorageDevice* m_device = nullptr;
    std::vector<CAttributeListExtendFileRecordBufferInfo> m_extensions;
};

std::unique_ptr<CNTFSMultiFileRecord> GetResidentFileRecord(u64 sector, IStorageDevice& device);
std::unique_ptr<CNTFSMultiFileRecord> GetMultiFileRecord(CNTFSFileNode& node, IStorageDevice& device);
// The first unnamed $DATA across the records; empty when none.
ByteReader FindMainDataRunsAttribute(CNTFSMultiFileRecord& multi, u32* offsetInRecord, i64* recordSector);
// Copies a resident value into out; false when it is longer than outSize or not resident.
bool GetResidentAttributeDatafromAttributeBuffer(const ByteReader& a, u8* out, u32 outSize, i64* length);
// A resident attribute is copied; a non-resident one is read run by run (512-byte sectors) while it
// fits, and length gets min(outSize, initialized size).
bool GetAttributeDatafromAttributeBuffer(const ByteReader& a, i64* length, u8* out, u32 outSize, i64 cluster0Sector,
                                         int sectorsPerCluster, IStorageDevice& device);
