#include "engine/NTFSSearch/NTFSMetaFileAnalyzers.h"

#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "engine/NTFSSearch/FindFileFromLogFile.h"
#include "engine/NTFSSearch/NTFSPartitionInfoBuilder.h"
#include "engine/NTFSSearch/NTFSUpCaseTable.h"

using namespace ntfsdeep;

// ---------------------------------------------------------------------------------------------------
// Sector ranges

void CMetaFileAnalyzer::CombineSectorOfRange(u64 sector) { CombineSectorsOfRange(sector, 1); }

void CMetaFileAnalyzer::CombineSectorsOfRange(u64 first, u64 count) {
    if (count == 0 || first > UINT64_MAX - count) return;
    for (u64 s = first; s < first + count; ++s) {
        // Ranges come in ascending order during a scan: the last one grows, or a new one follows it.
        if (!m_ranges.empty()) {
            Range& last = m_ranges.back();
            if (last.first + last.count == s) {
                ++last.count;
                continue;
            }
            if (s < last.first + last.count) {
                // Out of order: find its place, keeping the ranges sorted and apart.
                auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), s,
                                           [](u64 v, const Range& r) { return v < r.first; });
                if (it != m_ranges.begin()) {
                    Range& before = *std::prev(it);
                    if (s < before.first + before.count) continue;  // already recorded
                    if (before.first + before.count == s) {
                        ++before.count;
                        if (it != m_ranges.end() && before.first + before.count == it->first) {
                            before.count += it->count;
                            m_ranges.erase(it);
                        }
                        continue;
                    }
                }
                if (it != m_ranges.end() && it->first == s + 1) {
                    it->first = s;
                    ++it->count;
                    continue;
                }
                if (m_ranges.size() < kMaxListEntries) m_ranges.insert(it, Range{s, 1});
                continue;
            }
        }
        if (m_ranges.size() >= kMaxListEntries) return;
        m_ranges.push_back(Range{s, 1});
    }
}

u64 CMetaFileAnalyzer::GetSectorRangeCount(u64 first, u64 last) const {
    if (last < first) return 0;
    // The first range that may reach first: the one before the first range starting after it.
    auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), first, [](u64 v, const Range& r) { return v < r.first; });
    if (it != m_ranges.begin()) --it;
    u64 total = 0;
    for (; it != m_ranges.end() && it->first <= last; ++it) {
        const u64 end = it->first + it->count - 1;  // inclusive
        const u64 from = std::max(first, it->first);
        const u64 to = std::min(last, end);
        if (from <= to) total += to - from + 1;
    }
    return total;
}

bool RunSectors(const CDataRun& run, i64 cluster0, u32 spc, i64& first, i64& span) {
    if (run.lcn < 0 || run.length <= 0) return false;
    return !__builtin_mul_overflow(run.lcn, i64(spc), &first) && !__builtin_add_overflow(first, cluster0, &first) &&
           !__builtin_mul_overflow(run.length, i64(spc), &span) && first >= 0 && first <= INT64_MAX - span;
}

i64 CMetaFileAnalyzer::GetMatchCount(const CNTFSDataRunList& runs, i64 cluster0, u32 spc) const {
    i64 total = 0;
    for (const CDataRun& run : runs.Runs()) {
        i64 first = 0, span = 0;
        if (RunSectors(run, cluster0, spc, first, span)) total += i64(GetSectorRangeCount(u64(first), u64(first + span)));
    }
    return total;
}

bool CMetaFileAnalyzer::CompareSectorBuffer(const u8* a, const u8* b) {
    return a && b && std::memcmp(a, b, kSector) == 0;
}

// ---------------------------------------------------------------------------------------------------
// $AttrDef

namespace {

struct AttrDefRow {
    const char* name;
    u32 type;
    u32 flags;
    i64 minimum;
    i64 maximum;
};

constexpr AttrDefRow kAttrDefRows[] = {
    {"$STANDARD_INFORMATION", 0x10, 0x40, 48, 72}, {"$ATTRIBUTE_LIST", 0x20, 0x80, 0, -1},
    {"$FILE_NAME", 0x30, 0x42, 68, 578},           {"$OBJECT_ID", 0x40, 0x40, 0, 256},
    {"$SECURITY_DESCRIPTOR", 0x50, 0x80, 0, -1},   {"$VOLUME_NAME", 0x60, 0x40, 2, 256},
    {"$VOLUME_INFORMATION", 0x70, 0x40, 12, 12},   {"$DATA", 0x80, 0, 0, -1},
    {"$INDEX_ROOT", 0x90, 0x40, 0, -1},            {"$INDEX_ALLOCATION", 0xA0, 0x80, 0, -1},
    {"$BITMAP", 0xB0, 0x80, 0, -1},                {"$REPARSE_POINT", 0xC0, 0x80, 0, 16384},
    {"$EA_INFORMATION", 0xD0, 0x40, 8, 8},         {"$EA", 0xE0, 0, 0, 65536},
    {"$LOGGED_UTILITY_STREAM", 0x100, 0x80, 0, 65536},
};

// One definition: the name in 64 UTF-16LE units, then type, display rule, collation rule and flags
// (32-bit), minimum and maximum size (64-bit).
constexpr size_t kAttrDefRowSize = 160;
constexpr size_t kAttrDefType = 128;
constexpr size_t kAttrDefFlags = 140;
constexpr size_t kAttrDefMinimum = 144;
constexpr size_t kAttrDefMaximum = 152;

constexpr void PutLe(std::array<u8, CAttrDefFileAnalyzer::kTemplateSectors * kSector>& out, size_t at, u64 v,
                     int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + size_t(i)] = u8(v >> (8 * i));
}

constexpr std::array<u8, CAttrDefFileAnalyzer::kTemplateSectors * kSector> BuildAttrDefTemplate() {
    std::array<u8, CAttrDefFileAnalyzer::kTemplateSectors * kSector> out{};
    size_t at = 0;
    for (const AttrDefRow& row : kAttrDefRows) {
        for (size_t i = 0; row.name[i]; ++i) out[at + 2 * i] = u8(row.name[i]);
        PutLe(out, at + kAttrDefType, row.type, 4);
        PutLe(out, at + kAttrDefFlags, row.flags, 4);
        PutLe(out, at + kAttrDefMinimum, u64(row.minimum), 8);
        PutLe(out, at + kAttrDefMaximum, u64(row.maximum), 8);
        at += kAttrDefRowSize;
    }
    return out;
}

constexpr auto kAttrDefTemplate = BuildAttrDefTemplate();

// Each template sector's key (a word that is not zero, and where it lies) as the class names it: one
// compare sets almost every sector apart, zeroed sectors included, before the whole compare. A key past
// the first word belongs to a sector whose first word is zero (the test asks for a zero head there).
constexpr bool KeysMatchTemplate() {
    auto word = [](size_t k, size_t at) {
        u64 v = 0;
        for (size_t i = 0; i < 8; ++i) v |= u64(kAttrDefTemplate[k * kSector + at + i]) << (8 * i);
        return v;
    };
    for (size_t k = 0; k < CAttrDefFileAnalyzer::kTemplateSectors; ++k) {
        const CAttrDefFileAnalyzer::Key& key = CAttrDefFileAnalyzer::kKeys[k];
        if (key.value == 0 || key.offset % 8 != 0 || key.offset + 8 > kSector || word(k, key.offset) != key.value)
            return false;
        if (key.offset != 0 && word(k, 0) != 0) return false;
    }
    return true;
}
static_assert(KeysMatchTemplate(), "the $AttrDef keys are those of the template");

}  // namespace

const std::array<u8, CAttrDefFileAnalyzer::kTemplateSectors * kSector>& CAttrDefFileAnalyzer::Template() {
    return kAttrDefTemplate;
}

void CAttrDefFileAnalyzer::AnalyzeAttrDefFileRecord(i64 sector, const CNTFSFileRecord& record) {
    AddMetaFileInfo(m_infos, sector, record);
}

void CAttrDefFileAnalyzer::AnalyzeSectorBuffer(i64 sector, const u8* buffer) {
    const ByteReader r(buffer, kSector);
    // A template sector that starts with its key is told by its first word, one that starts with zeros
    // by the word at its key: almost every sector is set apart before the whole compare.
    const u64 head = r.Le64(0).value_or(1);
#pragma GCC unroll 5
    for (u32 k = 0; k < kTemplateSectors; ++k) {
        const Key& key = kKeys[k];
        const bool candidate = key.offset == 0 ? head == key.value : head == 0 && r.Le64(key.offset) == key.value;
        if (candidate && CMetaFileAnalyzer::CompareSectorBuffer(buffer, kAttrDefTemplate.data() + size_t(k) * kSector)) {
            m_store.CombineSectorOfRange(u64(sector));
            return;
        }
    }
}

const CAttrDefFileInfo* CAttrDefFileAnalyzer::FindAttrDefFile(const CSearchedNTFSPartitionInfo& candidate) const {
    return FindMetaFileRecordOfVolume(m_infos, candidate, kAttrDefRecordOffset);
}

void CAttrDefFileAnalyzer::CalcAttrDefMatch(CSearchedNTFSPartitionInfo& candidate) const {
    CalcMetaFileMatch(m_infos, m_store, candidate, kAttrDefRecordOffset, candidate.m_attrDefSector,
                      candidate.m_attrDefMatches);
}

// ---------------------------------------------------------------------------------------------------
// $UpCase

u32 CUpCaseFileAnalyzer::AgreeingEntries(const u8* buffer, u32 k) {
    const auto& table = UP_CASE_FILE_CONTENTS_DEFINE();
    const ByteReader r(buffer, kSector);
    const size_t base = size_t(k) * kUpCaseEntriesPerSector;
    u32 agreeing = 0;
    for (u32 i = 0; i < kUpCaseEntriesPerSector; ++i) agreeing += r.Le16(2 * size_t(i)) == table[base + i];
    return agreeing;
}

void CUpCaseFileAnalyzer::AnalyzeUpCaseFileRecord(i64 sector, const CNTFSFileRecord& record) {
    AddMetaFileInfo(m_infos, sector, record);
}

void CUpCaseFileAnalyzer::RecordSector(i64 sector, const u8* buffer, u32 k) {
    const u32 agreeing = AgreeingEntries(buffer, k);
    if (agreeing < kMinAgreeingEntries) return;
    if (agreeing < kUpCaseEntriesPerSector) {
        if (m_near.size() >= kMaxListEntries) return;
        if (m_near.empty() || m_near.back().sector < sector) m_near.push_back({sector, kUpCaseEntriesPerSector - agreeing});
    }
    m_store.CombineSectorOfRange(u64(sector));
}

const CUpCaseFileInfo* CUpCaseFileAnalyzer::FindUpCaseFileInfo(const CSearchedNTFSPartitionInfo& candidate) const {
    return FindMetaFileRecordOfVolume(m_infos, candidate, kUpCaseRecordOffset);
}

void CUpCaseFileAnalyzer::CalcUpcaseMatch(CSearchedNTFSPartitionInfo& candidate) const {
    i64 recorded = 0;
    const CUpCaseFileInfo* info =
        CalcMetaFileMatch(m_infos, m_store, candidate, kUpCaseRecordOffset, candidate.m_upCaseSector, recorded);
    candidate.m_upCaseMatches = recorded;
    if (!info) return;
    // The nearly equal sectors among them, and their disagreeing entries (the same ranges as the count).
    i64 nearSectors = 0;
    i64 disagreeing = 0;
    for (const CDataRun& run : info->GetDataRunList().Runs()) {
        i64 first = 0, span = 0;
        if (!RunSectors(run, candidate.m_cluster0Sector, candidate.m_sectorsPerCluster, first, span)) continue;
        auto it = std::lower_bound(m_near.begin(), m_near.end(), first, [](const Near& n, i64 s) { return n.sector < s; });
        for (; it != m_near.end() && it->sector <= first + span; ++it) {
            ++nearSectors;
            disagreeing += it->disagreeing;
        }
    }
    const bool agrees = disagreeing * 100 <= recorded * i64(kUpCaseEntriesPerSector) * (100 - kAgreementPercent);
    candidate.m_upCaseMatches = agrees ? recorded : recorded - nearSectors;
}

// ---------------------------------------------------------------------------------------------------
// Groups of system records

int CMetaFileRecordGroupinMFTAnalyzer::IsaMetaFileRecordNotNeedtoCount(const CNTFSFileRecord& record) const {
    return IsaMetaFileRecordNotNeedtoCount(CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(record));
}

int CMetaFileRecordGroupinMFTAnalyzer::IsaMetaFileRecordNotNeedtoCount(u32 index) const {
    if (index == 0 && m_lists.mftInfos->size() >= kMaxListEntries) return 1;
    if (index == 1 && m_lists.mirrorInfos->size() >= kMaxListEntries) return 1;
    return 0;
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeNTFSMetaFileRecord(i64 s, const CNTFSFileRecord& record) {
    AnalyzeNTFSMetaFileRecord(s, record,
                              record.IsValid() ? CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(record) : 0xFFFFFFFF);
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeNTFSMetaFileRecord(i64 s, const CNTFSFileRecord& record, u32 index) {
    const bool open = m_first >= 0;
    const i64 distance = open ? s - m_first : -1;
    // The second half of a record of the open group.
    if (!record.IsValid() && open && distance > 0 && distance < 17 && distance % 2 == 1) return;
    if (!record.IsValid()) index = 0xFFFFFFFF;
    if (index == 0xFFFFFFFF || !open || distance > 16 || distance / 2 != i64(index)) EndGroup();
    if (index == 0xFFFFFFFF) return;
    switch (index) {
        case 0: {
            m_first = s;
            CMFTInfo* info = m_lists.mftInfos->size() < kMaxListEntries ? CMFTInfo::Build(record, s, m_builder.GetSectorSize()) : nullptr;
            if (!info) {
                EndGroup();
                return;
            }
            m_lists.mftInfos->push_back(info);
            // Its $LogFile reader is made when a tree is built from this table.
            m_lists.logReaders->push_back(FindFileMFTAndLogx{info, nullptr});
            m_mft = info;
            break;
        }
        case 1: {
            CMFTMirrInfo* info =
                m_lists.mirrorInfos->size() < kMaxListEntries ? CMFTMirrInfo::Build(record, s, m_builder.GetSectorSize()) : nullptr;
            if (!info) {
                EndGroup();
                return;
            }
            m_lists.mirrorInfos->emplace_back(info);
            m_mirror = info;
            break;
        }
        case 6: {
            CBitmapFileInfo bitmap;
            if (bitmap.InitFromBuffer(record, s) && bitmap.GetFileSize() <= INT64_MAX / 8)
                m_bitmapClusters = bitmap.GetFileSize() * 8;
            break;
        }
        default: break;
    }
}

void CMetaFileRecordGroupinMFTAnalyzer::EndGroup() {
    AnalyzeGroup();
    m_mft = nullptr;
    m_mirror = nullptr;
    m_first = -1;
    m_bitmapClusters = -1;
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeGroup() {
    if (!m_mft) return;
    if (!m_mirror) {
        AnalyzeSingleMFT();
        return;
    }
    const CMFTFilesPair pair{m_mft, m_mirror};
    AnalyzeMFTFilesPair(pair);
    m_lists.pairs->push_back(pair);
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeMFTFilesPair(const CMFTFilesPair& pair) {
    // Read as the mirror: cluster 0 lies where the group would be the copy at the mirror's cluster.
    const u32 spc = pair.mft->GetSectorsPerCluster();
    const i64 mirrorCluster = pair.mirror->GetFirstClusterNO();
    NTFSCandidate probe;
    if (mirrorCluster >= 0 && spc != 0)
        probe = BuildPartitionInfoAccordingtoFileRecord(pair.mft->GetSectorAddress(), mirrorCluster, spc,
                                                        kFlagMirrorGroup, m_deviceTotal, m_builder.GetSectorSize());
    if (!probe) {
        AnalyzeSingleMFT();
        return;
    }
    AdjustPartitionSizeandMFTSector(*probe);
    i64 offset = 0, mftAt = 0;
    const bool located = !__builtin_mul_overflow(pair.mft->GetFirstClusterNO(), i64(spc), &offset) &&
                         !__builtin_add_overflow(probe->m_cluster0Sector, offset, &mftAt);
    bool consistent = false;
    for (const CMFTFilesPair& known : *m_lists.pairs)
        consistent = consistent || (located && known.mft->GetSectorAddress() == mftAt);
    if (consistent) {
        m_builder.AdjustPartitionBuildFromFlag(*probe, kFlagMFTPair, kFlagMFTGroup);
        return;
    }
    const auto equal = m_builder.EqualTo(*probe);
    if (equal.empty()) {
        AnalyzeSingleMFT();
        return;
    }
    for (CSearchedNTFSPartitionInfo* c : equal) {
        c->AddPartitionBuildFromFlag(kFlagMirrorGroup);
        AdjustPartitionSizeandMFTSector(*c);
    }
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeSingleMFT() {
    std::vector<NTFSCandidate> list;
    const i64 sector = m_mft->GetSectorAddress();
    const i64 cluster = m_mft->GetFirstClusterNO();
    const u32 sectorSize = m_builder.GetSectorSize();
    if (m_mft->GetSectorsPerCluster() != 0) {
        if (auto c = BuildPartitionInfoAccordingtoFileRecord(sector, cluster, m_mft->GetSectorsPerCluster(),
                                                             kFlagMFTGroup, m_deviceTotal, sectorSize))
            list.push_back(std::move(c));
    } else {
        BuildPartitionInfoAccordingtoFileRecord(sector, cluster, kFlagMFTGroup, m_deviceTotal, list, sectorSize);
    }
    for (NTFSCandidate& c : list) {
        AdjustPartitionSizeandMFTSector(*c);
        const auto equal = m_builder.EqualTo(*c);
        if (!equal.empty()) {
            for (CSearchedNTFSPartitionInfo* e : equal) {
                e->AddPartitionBuildFromFlag(kFlagMFTGroup);
                AdjustPartitionSizeandMFTSector(*e);
            }
            return;
        }
        m_builder.Insert(std::move(c));
    }
}

void CMetaFileRecordGroupinMFTAnalyzer::AdjustPartitionSizeandMFTSector(CSearchedNTFSPartitionInfo& c) const {
    if (c.m_mftSector == -1) c.m_mftSector = m_first;
    if (m_bitmapClusters < 1) return;  // the size stands as the evidence gave it
    if (!(c.GetPartitionBuildFromFlags() & kFlagBoot)) {
        c.m_clusterCount = std::min(m_bitmapClusters, c.m_clusterCount);
        c.m_totalSectors = c.m_clusterCount * i64(c.m_sectorsPerCluster);
    }
    if (m_bitmapClusters <= INT64_MAX / 128) c.m_adjustedSectors = i64(c.m_sectorsPerCluster) * m_bitmapClusters;
}
