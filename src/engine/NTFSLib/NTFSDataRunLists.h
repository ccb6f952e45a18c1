// The engine's extent lists of NTFS files (resident and non-resident) and their compact encoded
// form, kept per found file and written into saved scan results.
#pragma once

#include <optional>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Utility/DataRunList.h"

class CNTFSDataRunList;
class IRSData;

// A resident $DATA value: one run {sector of the file record, 1} and the value's offset in the record.
class CResidentNTFSDataRunList : public CDataRunList {
public:
    CResidentNTFSDataRunList() { m_resident = 1; }
    void InitList(i64 start, i64 length, u32 offset);
    i64 GetOffset() override { return m_offset; }
    u32 GetDataRunListType() override { return 1; }
    IDataRunList* Clone() override;

private:
    u32 m_offset = 0;
};

// Runs {LCN or -1, clusters} in file order.
class CNoneResidentNTFSDataRunList : public CDataRunList {
public:
    // Decodes mapping pairs (fields of up to 8 bytes); a size below 1 gives an empty list.
    bool InitFromBuffer(const u8* pairs, int size);
    u32 GetDataRunListType() override { return 2; }
    IDataRunList* Clone() override;
};

// The smallest n (1..8) such that v fits in n bytes as a signed value.
int GetNeedBytes(i64 v);
// Appends one run in mapping-pairs form: header, L bytes of length, F bytes of offset.
void CompressOneDataRun(u8 offsetBytes, u8 lengthBytes, i64 offset, i64 length, std::vector<u8>& out);
// The list in mapping-pairs form with its terminator; empty when the list has no run.
std::vector<u8> CreateCompressedDataRun(IDataRunList* list);

class CCompressedDataRunList {
public:
    // Null for a null list, a resident list without offset, or no runs.
    static CCompressedDataRunList* Compress(IDataRunList* list);
    // The same for the resident list {recordSector, 1} with the value at offsetInRecord, built without it.
    static CCompressedDataRunList* CompressResident(i64 recordSector, u32 offsetInRecord);
    // The same list as a value (no allocation for a record at a sector of 0 or more).
    static std::optional<CCompressedDataRunList> Resident(i64 recordSector, u32 offsetInRecord);
    // A new extent list (resident when a data offset is kept); null when nothing decodes.
    IDataRunList* Decompress() const;
    u32 GetCompressedDataRunSize() const;
    // The encoded runs and their end mark.
    std::vector<u8> Bytes() const;
    u16 GetDataOffset() const { return m_dataOffset; }
    CCompressedDataRunList* Clone() const { return new CCompressedDataRunList(*this); }

    // u32 byte count, the bytes, the u16 data offset.
    bool Save(IRSData* data) const;
    // Null when the saved form is damaged (a count the frame cannot hold allocates nothing).
    static CCompressedDataRunList* Restore(IRSData* data);

private:
    u16 m_dataOffset = 0;
    std::vector<u8> m_bytes;
    // The record sector of a list made by CompressResident (-1 otherwise): its bytes are encoded only
    // when asked for, and Decompress builds its list from it.
    i64 m_residentSector = -1;
};

// Runs of an NTFS list as a non-resident extent list; *totalClusters gets their sum. Null without runs.
IDataRunList* BuildNonResidentDataRunListfromNTFSDataRunList(const CNTFSDataRunList& runs, i64* totalClusters);
// The extent list of a resident attribute at offsetInRecord of the record at recordSector.
IDataRunList* GetDataRunListfromResidentAttributeBuffer(const ByteReader& a, i64 recordSector, u32 offsetInRecord,
                                                        i64* valueLength);
