// NTFS mapping pairs: validation, decoding into run lists, lookups, and the saved form of a list.
#pragma once

#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"

class IRSData;

// One run: first cluster on the volume (-1 for a sparse run), first cluster in the attribute, length.
struct CDataRun {
    i64 lcn = -1;
    i64 vcn = 0;
    i64 length = 0;
    bool operator==(const CDataRun&) const = default;
};

// The cluster-size estimates from an attribute's bytes and clusters, in sectors of the scan's size.
namespace GetSectorsPerCluster {
// The sector size an estimate divides by: 0, or a value that is not a multiple of 512, counts as 512.
u32 EffectiveSectorSize(u32 sectorSize);
// A quotient of sectors per cluster raised to the power of two the volume uses (0 above 128 or at 0).
u8 RoundUp(double sectorsPerCluster);
}  // namespace GetSectorsPerCluster

class CNTFSDataRunList {
public:
    // Headers with nibbles of at most 4 up to a 0 byte that lies inside size.
    static bool IsValid(const u8* pairs, int size);
    // Decodes the pairs (fields of up to 8 bytes); false when they end outside size or an LCN or VCN
    // would overflow (the runs decoded so far stay in out).
    static bool FormDataRunList(const u8* pairs, int size, std::vector<CDataRun>& out);
    // The sum of the run lengths, in 64 bits.
    static i64 GetTotalClusters(const u8* pairs, int size);

    bool InitFromBuffer(const u8* pairs, int size);
    bool AddDataRunsfromBuffer(const u8* pairs, int size, i64 startVCN);
    void AddRun(const CDataRun& run) { m_runs.push_back(run); }

    i64 GetLCN(i64 vcn) const;
    i64 GetVCN(i64 lcn) const;
    bool IsLCNContained(i64 lcn) const;
    i64 GetTotalClusters() const;
    void GetDataRunList(std::vector<CDataRun>& out) const { out.insert(out.end(), m_runs.begin(), m_runs.end()); }
    const std::vector<CDataRun>& Runs() const { return m_runs; }
    bool IsEmpty() const { return m_runs.empty(); }
    bool IsEqual(const CNTFSDataRunList& other) const { return m_runs == other.m_runs; }
    void Sort();
    auto GetBegin() const { return m_runs.begin(); }
    auto GetEnd() const { return m_runs.end(); }
    void ClearDataRunList() { m_runs.clear(); }

    // u64 count, then LCN, length and VCN per run.
    bool Save(IRSData& data) const;
    // Appends the runs read; a count that the frame cannot hold is refused before anything is read.
    bool Restore(IRSData& data);

private:
    std::vector<CDataRun> m_runs;
};

// Reader of a non-resident attribute's mapping pairs (callers check the attribute's validity first).
class CNTFSFileRecordDataRunsAttribute {
public:
    static ByteReader GetDataRunsBuffer(const ByteReader& a);
    static int GetDataRunsLength(const ByteReader& a);
    static i64 GetStartVCN(const ByteReader& a);
    static bool GetDataRunList(const ByteReader& a, CNTFSDataRunList& list);
    static i64 GetTotalClusters(const ByteReader& a);
    // The cluster size, in sectors of sectorSize bytes, estimated from the initialized size and the
    // clusters (0 when unknown).
    static u8 GetSectorsPerCluster(const ByteReader& a, u32 sectorSize);

    bool InitFromBuffer(const ByteReader& a) { return m_list.InitFromBuffer(GetDataRunsBuffer(a).data(), GetDataRunsLength(a)); }
    const CNTFSDataRunList& GetList() const { return m_list; }
    void ClearDataRunList() { m_list.ClearDataRunList(); }

private:
    CNTFSDataRunList m_list;
};
