// The record of an NTFS volume found by a search: the base partition record plus the evidence that
// produced it. Its saved form is 96 bytes, each field written on its own.
#pragma once

#include "engine/Utility/SearchedPartitionInfo.h"

class IRSData;

class CSearchedNTFSPartitionInfo : public CSearchedPartitionInfo {
public:
    static constexpr u32 kSavedSize = 96;

    explicit CSearchedNTFSPartitionInfo(u32 sectorSize = 512) : CSearchedPartitionInfo(sectorSize) {}

    u32 GetType() override { return 0; }
    // The 96-byte form (the base record is not part of it).
    virtual bool Save(IRSData& data);
    // Reads the fields back in the same order; false when the frame ends early.
    virtual bool Restore(IRSData& data);
    virtual int IsFileNodeBelongSelf(class CFileNode*) { return 0; }
    virtual int UpdateFileNodeProperty(class CFileNode*) { return 0; }

    i64 GetSerialNumber() const { return m_serialNumber; }
    void SetSerialNumber(i64 v) { m_serialNumber = v; }
    u32 GetSectorsperFileRecord() const { return m_sectorsPerRecord; }
    void SetSectorsperFileRecord(u32 v) { m_sectorsPerRecord = v; }
    u32 GetPartitionBuildFromFlags() const { return m_buildFrom; }
    void SetPartitionBuildFromFlag(u32 v) { m_buildFrom = v; }
    void AddPartitionBuildFromFlag(u32 v) { m_buildFrom |= v; }

    i64 m_serialNumber = 0;
    u32 m_sectorsPerRecord = 2;
    u32 m_buildFrom = 0;
    u32 m_keep = 0;
    u32 m_reservedNTFS = 0;
    i64 m_clusterCount = -1;
    i64 m_logFileMatches = -1;
    i64 m_attrDefMatches = -1;
    i64 m_upCaseMatches = -1;
    i64 m_mftSector = -1;
    i64 m_logFileSector = -1;
    i64 m_attrDefSector = -1;
    i64 m_upCaseSector = -1;
    i64 m_adjustedSectors = -1;
};
