// The deep search's analysers of system files of lost volumes: the sector-range store they share, the
// $AttrDef and $UpCase analysers (the files' records, and every sector holding their content as a
// formatter writes it), and the analyser of the first records of a master file table, which turns
// each group of them into partition candidates.
#pragma once

#include <array>
#include <list>
#include <memory>
#include <vector>

#include <algorithm>

#include "engine/Common/Types.h"
#include "engine/NTFSLib/NTFSFindings.h"
#include "engine/NTFSLib/SearchedNTFSPartitionInfo.h"
#include "engine/Common/ByteReader.h"
#include "engine/NTFSSearch/NTFSPartitionInfoBuilder.h"
#include "engine/NTFSSearch/NTFSUpCaseTable.h"

class CNTFSFileRecord;
struct FindFileMFTAndLogx;

namespace ntfsdeep {
inline constexpr u32 kSector = 512;
// Records of the system files: $LogFile is record 2, $AttrDef 4, $UpCase 10 (1024-byte records on
// 512-byte sectors).
inline constexpr i64 kLogFileRecordOffset = 4;
inline constexpr i64 kAttrDefRecordOffset = 8;
inline constexpr i64 kUpCaseRecordOffset = 20;
}  // namespace ntfsdeep

// Sector ranges seen holding some content, kept sorted and apart.
class CMetaFileAnalyzer {
public:
    void CombineSectorOfRange(u64 sector);
    void CombineSectorsOfRange(u64 first, u64 count);
    // Sectors of the inclusive range first..last that lie in the stored ranges.
    u64 GetSectorRangeCount(u64 first, u64 last) const;
    // The sum over the runs (sparse ones skipped) of GetSectorRangeCount(f, f + length x spc) with
    // f = LCN x spc + cluster0.
    i64 GetMatchCount(const CNTFSDataRunList& runs, i64 cluster0, u32 sectorsPerCluster) const;
    static bool CompareSectorBuffer(const u8* a, const u8* b);
    size_t RangeCount() const { return m_ranges.size(); }

private:
    struct Range {
        u64 first;
        u64 count;
    };
    std::vector<Range> m_ranges;
};

// The sectors of one run on the device: first = LCN x spc + cluster 0, span = length x spc; false for a
// sparse run or one whose sectors overflow.
bool RunSectors(const CDataRun& run, i64 cluster0, u32 sectorsPerCluster, i64& first, i64& span);

// A system file's record: appended unless the list is full or the record makes no info.
template <class Info>
void AddMetaFileInfo(std::vector<std::unique_ptr<Info>>& infos, i64 sector, const CNTFSFileRecord& record) {
    if (infos.size() >= ntfsdeep::kMaxListEntries) return;
    auto info = std::make_unique<Info>();
    if (info->InitFromBuffer(record, sector)) infos.push_back(std::move(info));
}

// Which system-file record of a list serves a candidate: the one at exactly its $MFT sector + offset
// when that is known, else the first one inside the volume. The list is in ascending sector order.
template <class Info>
const Info* FindMetaFileRecordOfVolume(const std::vector<std::unique_ptr<Info>>& infos,
                                       const CSearchedNTFSPartitionInfo& candidate, i64 recordOffset) {
    auto atOrAfter = [&](i64 sector) {
        return std::lower_bound(infos.begin(), infos.end(), sector,
                                [](const std::unique_ptr<Info>& info, i64 s) { return info->GetSectorAddress() < s; });
    };
    if (candidate.m_mftSector >= 0) {
        const auto it = atOrAfter(candidate.m_mftSector + recordOffset);
        if (it != infos.end() && (*it)->GetSectorAddress() == candidate.m_mftSector + recordOffset) return it->get();
    }
    const auto it = atOrAfter(candidate.m_cluster0Sector);
    if (it == infos.end() || (*it)->GetSectorAddress() - candidate.m_cluster0Sector >= candidate.m_totalSectors)
        return nullptr;
    return it->get();
}

// The record of a system file that serves a candidate (its sector goes to recordSector), and in
// `matches` the sectors of the file's runs that the store recorded: 0 without a record.
template <class Info>
const Info* CalcMetaFileMatch(const std::vector<std::unique_ptr<Info>>& infos, const CMetaFileAnalyzer& store,
                              CSearchedNTFSPartitionInfo& candidate, i64 recordOffset, i64& recordSector,
                              i64& matches) {
    const Info* info = FindMetaFileRecordOfVolume(infos, candidate, recordOffset);
    matches = 0;
    if (!info) return nullptr;
    recordSector = info->GetSectorAddress();
    matches = store.GetMatchCount(info->GetDataRunList(), candidate.m_cluster0Sector, candidate.m_sectorsPerCluster);
    return info;
}

class CAttrDefFileAnalyzer {
public:
    static constexpr u32 kTemplateSectors = 5;
    // The five sectors of $AttrDef as formatters write them: 15 definitions of 160 bytes, then zeros.
    static const std::array<u8, kTemplateSectors * ntfsdeep::kSector>& Template();

    void AnalyzeAttrDefFileRecord(i64 sector, const CNTFSFileRecord& record);
    // A 512-byte sector equal to one of the template sectors is recorded.
    void AnalyzeSectorBuffer(i64 sector, const u8* buffer);
    // A word of each template sector that is not zero, where it lies and its eight bytes there
    // (little-endian): the first word for the sectors that start with one, else a word of the first
    // line (sector 3) or of the line that holds the $UpCase vote's unit 192 (sectors 1 and 2), so that
    // a sector starting with zeros has no other line read than those the vote reads. The template is
    // checked against them where it is built.
    struct Key {
        size_t offset;
        u64 value;
    };
    static constexpr std::array<Key, kTemplateSectors> kKeys{
        {{0, 0x0041005400530024ULL}, {416, 0x60}, {384, 0x90}, {32, 0xA0}, {0, 0xD0}}};
    // False for a sector that equals no template sector, told by its first eight bytes (`head`) and the
    // keys of the template sectors that start with zeros; true sends it to the whole compare.
    static bool MayMatch(const ByteReader& sector, u64 head) {
#pragma GCC unroll 5
        for (const Key& key : kKeys) {
            if (key.offset == 0 ? head == key.value : head == 0 && sector.Le64(key.offset) == key.value) return true;
        }
        return false;
    }
    const CAttrDefFileInfo* FindAttrDefFile(const CSearchedNTFSPartitionInfo& candidate) const;
    // The candidate's $AttrDef record sector and match count (0 without a record).
    void CalcAttrDefMatch(CSearchedNTFSPartitionInfo& candidate) const;
    const CMetaFileAnalyzer& Store() const { return m_store; }
    size_t InfoCount() const { return m_infos.size(); }

private:
    std::vector<std::unique_ptr<CAttrDefFileInfo>> m_infos;
    CMetaFileAnalyzer m_store;
};

// $UpCase: each sector is compared with the template sector its content names: the high byte that at
// least three of its code units 0, 64, 192 and 255 share (its first unit alone would miss mkntfs's
// sector 45, which begins with 0x10A0; its last one, sector 0, which ends with 0x0178). A sector equal
// to it is recorded; so is one that agrees in at least half its entries, with its number of
// disagreeing entries. A volume's match count takes the nearly equal sectors only when at least 99 %
// of the entries of all its recorded sectors agree with the template (our table is generated, and
// formatters differ from it in a few hundred entries), else only the equal ones.
class CUpCaseFileAnalyzer {
public:
    static constexpr u32 kMinAgreeingEntries = 128;
    static constexpr u32 kAgreementPercent = 99;
    // The code units of a sector that the vote samples (two bytes each, little-endian) and their
    // places in the sector.
    static constexpr u32 kVoteUnits[4] = {0, 64, 192, 255};
    static constexpr size_t VoteUnitAt(size_t i) { return 2 * size_t(kVoteUnits[i]); }
    static constexpr size_t VoteHighByteAt(size_t i) { return VoteUnitAt(i) + 1; }

    void AnalyzeUpCaseFileRecord(i64 sector, const CNTFSFileRecord& record);
    // Called for every sector of the scan: the test that rejects almost all of them stays inline.
    void AnalyzeSectorBuffer(i64 sector, const u8* buffer) {
        const int k = TemplateSectorOf(buffer);
        if (k >= 0) RecordSector(sector, buffer, u32(k));
    }
    const CUpCaseFileInfo* FindUpCaseFileInfo(const CSearchedNTFSPartitionInfo& candidate) const;
    void CalcUpcaseMatch(CSearchedNTFSPartitionInfo& candidate) const;
    // Agreeing entries of a 512-byte sector with template sector k.
    static u32 AgreeingEntries(const u8* buffer, u32 templateSector);
    // The template sector a sector's content names, or -1 when its units 0, 64, 192 and 255 share no
    // high byte or fewer than two of them agree with that sector of the table.
    static int TemplateSectorOf(const u8* buffer) {
        if (!buffer) return -1;
        const ByteReader r(buffer, ntfsdeep::kSector);
        const u8 ha = r.U8(VoteHighByteAt(0)).value_or(0), hc = r.U8(VoteHighByteAt(2)).value_or(2),
                 hd = r.U8(VoteHighByteAt(3)).value_or(3);
        // Three of four share a value only if two of units 0, 192 and 255 do: almost every other
        // sector ends here, before unit 64's line is read (units 192 and 255 lie in one 128-byte pair
        // of lines, which the processor fetches together).
        if (ha != hc && ha != hd && hc != hd) return -1;
        const int k = ha == hc || ha == hd ? ha : hc;
        const u8 hb = r.U8(VoteHighByteAt(1)).value_or(1);
        if ((ha == k) + (hb == k) + (hc == k) + (hd == k) < 3) return -1;
        // Two of the four units at least agree with that sector of the table (mkntfs's agree in three).
        const u16* model = s_table + size_t(k) * kUpCaseEntriesPerSector;
        int agreeing = 0;
        for (size_t i = 0; i < std::size(kVoteUnits); ++i) agreeing += r.Le16(VoteUnitAt(i)) == model[kVoteUnits[i]];
        return agreeing >= 2 ? k : -1;
    }
    const CMetaFileAnalyzer& Store() const { return m_store; }

private:
    struct Near {
        i64 sector;
        u32 disagreeing;
    };
    void RecordSector(i64 sector, const u8* buffer, u32 k);
    static inline const u16* const s_table = UP_CASE_FILE_CONTENTS_DEFINE().data();
    std::vector<std::unique_ptr<CUpCaseFileInfo>> m_infos;
    CMetaFileAnalyzer m_store;
    std::vector<Near> m_near;  // ascending sectors
};

// An $MFT info and the $MFTMirr info of the same group (not owned).
struct CMFTFilesPair {
    CMFTInfo* mft = nullptr;
    CMFTMirrInfo* mirror = nullptr;
};

// The lists that the group analyser fills and the controller owns.
struct CNTFSMetaFileLists {
    std::list<CMFTInfo*>* mftInfos = nullptr;
    std::list<std::unique_ptr<CMFTMirrInfo>>* mirrorInfos = nullptr;
    std::list<CMFTFilesPair>* pairs = nullptr;
    std::vector<FindFileMFTAndLogx>* logReaders = nullptr;
};

class CMetaFileRecordGroupinMFTAnalyzer {
public:
    CMetaFileRecordGroupinMFTAnalyzer(CNTFSPartitionInfoBuilder& builder, const CNTFSMetaFileLists& lists)
        : m_builder(builder), m_lists(lists) {}

    void SetDeviceTotalSectors(i64 total) { m_deviceTotal = total; }
    // Called for every sector of the scan with the record there (valid or not); index is the record's
    // system-file number (CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex) when the caller has it.
    void AnalyzeNTFSMetaFileRecord(i64 sector, const CNTFSFileRecord& record);
    void AnalyzeNTFSMetaFileRecord(i64 sector, const CNTFSFileRecord& record, u32 index);
    // A group is open: every sector counts, records or not.
    bool IsOpen() const { return m_first >= 0; }
    // Analyses the group still open at the end of the scan.
    void Flush() { EndGroup(); }
    // 1 for an $MFT or $MFTMirr record whose list is full.
    int IsaMetaFileRecordNotNeedtoCount(const CNTFSFileRecord& record) const;
    int IsaMetaFileRecordNotNeedtoCount(u32 index) const;

private:
    void EndGroup();
    void AnalyzeGroup();
    void AnalyzeMFTFilesPair(const CMFTFilesPair& pair);
    void AnalyzeSingleMFT();
    void AdjustPartitionSizeandMFTSector(CSearchedNTFSPartitionInfo& candidate) const;

    CNTFSPartitionInfoBuilder& m_builder;
    CNTFSMetaFileLists m_lists;
    i64 m_deviceTotal = 0;
    CMFTInfo* m_mft = nullptr;
    CMFTMirrInfo* m_mirror = nullptr;
    i64 m_first = -1;
    i64 m_bitmapClusters = -1;
};
