#include "engine/NTFSSearch/NTFSSearchController.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <thread>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/PrepareAhead.h"
#include "engine/FileArchive/IRSData.h"
#include "engine/NTFSLib/NTFSDBR.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSIndexRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "engine/NTFSSearch/NTFSDirectoryTreeBuilder.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"

using namespace ntfsdeep;

namespace {

constexpr u32 Magic(const char (&text)[5]) {
    return u32(u8(text[0])) | u32(u8(text[1])) << 8 | u32(u8(text[2])) << 16 | u32(u8(text[3])) << 24;
}
constexpr u32 kFileMagic = Magic("FILE");
constexpr u32 kIndexMagic = Magic("INDX");
constexpr u32 kRestartMagic = Magic("RSTR");
constexpr u64 kBootOem = 0x202020205346544EULL;  // "NTFS    "
// How far ahead of the sector loop the lines of a sector are asked for.
constexpr i64 kPrefetchSectors = 16;

}  // namespace

void CNTFSJoiningBuffers::Reset() {
    file.fill(0);
    filePending = false;
    fileSector = -1;
    index.fill(0);
    indexPending = false;
    indexSector = -1;
    indexBytes = 0;
}

std::chrono::microseconds ntfsdeep::AnalysisSpin() {
    // A block handed over while the thread looks for work is analysed at once, still in the processor's
    // caches, and the thread keeps pace with the scan. A thread that sleeps between blocks is woken for
    // several at a time; it then reads them from memory again, beside the scan's own reads, and falls
    // behind where records lie densely, so that the scan waits for it. Blocks come a fraction of a
    // millisecond apart.
    static const std::chrono::microseconds spin =
        std::thread::hardware_concurrency() >= 4 ? std::chrono::microseconds(2000) : std::chrono::microseconds(0);
    return spin;
}

CNTFSSearchController::CNTFSSearchController() = default;

CNTFSSearchController::~CNTFSSearchController() {
    try {
        m_beside.Settle();
    } catch (...) {
        // A failure of the last blocks has no one to go to.
    }
    ClearFindings();
    for (CMFTInfo* info : m_mftInfos) delete info;
    m_mftInfos.clear();
}

void CNTFSSearchController::ClearFindings() {
    ReleaseAnalyzers();
    m_block.clear();
    m_block.shrink_to_fit();
    m_mirrorInfos.clear();
    m_pairs.clear();
    m_folders.clear();
    m_indexRecords.clear();
    m_validRecords.Reset(1);
    m_prebuilt.Reset();
}

void CNTFSSearchController::ReleaseAnalyzers() {
    m_group.reset();
    m_attrDef.reset();
    m_upCase.reset();
    m_log.reset();
}

int CNTFSSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    m_beside.Settle();
    std::vector<CSearchedNTFSPartitionInfo*> records;
    for (const NTFSCandidate& c : m_partitions.Candidates()) records.push_back(c.get());
    return CopySearchedPartitionInfo(records, out, capacity);
}

void CNTFSSearchController::SetDevice(IStorageDevice* device) {
    m_beside.Settle();
    if (!device) return;
    m_device = device;
    m_cache = dynamic_cast<CStorageDeviceWithCache*>(device);
    m_partitions.SetDeviceTotalSectors(device->GetTotalSectors());
}

void CNTFSSearchController::SetBlockSize(int sectors) {
    m_beside.Settle();
    if (sectors > 0) m_iSectorsperBlock = sectors;
}

int CNTFSSearchController::PreparetoSearch() {
    m_beside.Settle();
    if (m_iSectorsperBlock <= 0 || !m_device) return 0;
    // Records, index blocks and log pages are read in 512-byte steps: sectors of 512 to 4096 bytes.
    const u32 sectorSize = m_device->GetSectorSize();
    if (sectorSize < kSector || sectorSize > kLogPageSize || sectorSize % kSector != 0) return 0;
    ClearFindings();
    for (CMFTInfo* info : m_mftInfos) delete info;
    m_mftInfos.clear();
    m_positions.clear();
    m_logReaders.clear();
    m_partitions.Clear();
    m_indexPairings = 0;
    m_analyzedBlocks = m_failedBlocks = m_inPlaceBlocks = 0;

    m_sectorSize = sectorSize;
    m_validRecords.Reset(std::max<i64>(1, i64(kFileRecordSize / sectorSize)));
    const i64 total = m_device->GetTotalSectors();
    m_partitions.SetDeviceTotalSectors(total);
    m_partitions.SetSectorSize(sectorSize);
    m_attrDef = std::make_unique<CAttrDefFileAnalyzer>();
    m_upCase = std::make_unique<CUpCaseFileAnalyzer>();
    m_log = std::make_unique<CLogFileAnalyzer>(m_partitions);
    m_group = std::make_unique<CMetaFileRecordGroupinMFTAnalyzer>(
        m_partitions, CNTFSMetaFileLists{&m_mftInfos, &m_mirrorInfos, &m_pairs, &m_logReaders});
    m_group->SetDeviceTotalSectors(total);
    m_join.Reset();
    if (m_treeBuilder) m_treeBuilder->AddSearcherInfo(SEARCHER_NTFS, 5);
    return 1;
}

int CNTFSSearchController::AnalyzeBlock(i64 first, i64 count) {
    if (!m_device || m_iSectorsperBlock <= 0 || count > m_iSectorsperBlock || count <= 0 || first < 0 || !m_group)
        return 1;
    // The cache's current block is held and analysed on our own thread, in order, while the scan goes
    // on with the other searchers and the next block.
    if (m_cache) {
        CStorageDeviceWithCache::HeldSectors held = m_cache->HoldCurrentBlockSectors(first, count);
        if (held.data && m_beside.Post([this, first, count, held] { AnalyzeBlockAt(held.data, first, count, true); }))
            return 1;
    }
    // Any other block (or without a thread) is analysed here, after the blocks handed over. A block
    // that cannot be read is not analysed.
    m_beside.Settle();
    const u8* block = m_cache ? m_cache->CurrentBlockSectors(first, count) : nullptr;
    const bool inPlace = block != nullptr;
    if (!block) {
        m_block.resize(size_t(m_iSectorsperBlock) * m_sectorSize);
        if (!m_device->ReadSector(m_block.data(), first, count)) {
            ++m_failedBlocks;
            return 1;
        }
        block = m_block.data();
    }
    AnalyzeBlockAt(block, first, count, inPlace);
    return 1;
}

void CNTFSSearchController::AnalyzeBlockAt(const u8* block, i64 first, i64 count, bool inPlace) {
    m_inPlaceBlocks += inPlace;
    ++m_analyzedBlocks;
    m_prebuilt.Scanned(first, count);
    // Only the analysis of a sector opens or closes a join or a group of system records. The log
    // record pages are looked for in the same pass, while each sector's first line is in the cache.
    bool open = !MayBeQuiet();
    i64 nextPage = m_log->BeginRCRDBlock(block, first, count);
    const size_t step = m_sectorSize;
    const u8* sector = block;
    for (i64 i = 0; i < count; ++i, sector += step) {
        if (i + kPrefetchSectors < count) {
            // The block has left the caches since the searchers before us read it: the lines that the
            // quick tests read of every sector (the first, and the one of the $UpCase vote's unit 192,
            // whose neighbour the processor brings along) are asked for a few sectors ahead, as lines
            // read once (kept out of the outer caches).
            const u8* ahead = sector + size_t(kPrefetchSectors) * step;
            __builtin_prefetch(ahead, 0, 0);
            __builtin_prefetch(ahead + CUpCaseFileAnalyzer::VoteUnitAt(2), 0, 0);
        }
        if (i >= nextPage && CLogFileAnalyzer::IsRCRDMagic(ByteReader(sector, kSector).Le32(0).value_or(0)))
            nextPage = m_log->AnalyzeRCRDAt(block, first, count, i, m_sectorSize);
        if (open || !IsQuietSector(sector)) {
            AnalyzeSector(sector, first + i, i64(step) * std::min<i64>(count - i, kSectorsAvailable));
            open = !MayBeQuiet();
        }
    }
}

bool CNTFSSearchController::MayBeQuiet() const {
    return !m_join.indexPending && !m_join.filePending && !m_group->IsOpen();
}

bool CNTFSSearchController::HasNoMark(const u8* sector) {
    if (!sector) return false;
    const ByteReader r(sector, kSector);
    const u64 head = r.Le64(0).value_or(0);
    const u32 magic = u32(head);
    return magic != kFileMagic && magic != kIndexMagic && magic != kRestartMagic &&
           r.Le64(ntfs::boot::kOemId) != kBootOem && !CAttrDefFileAnalyzer::MayMatch(r, head) &&
           CUpCaseFileAnalyzer::TemplateSectorOf(sector) < 0;
}

namespace {

// HasNoMark reads the sector only here: its first 11 bytes (magic, boot identifier), the words of
// the $AttrDef keys and the $UpCase vote's units 0, 64, 192 and 255.
bool IsFilledAtProbes(const ByteReader& r, u64 fill) {
    // Offsets past the sector never hold: a missing value reads as the complement of fill.
    u64 differ = r.Le64(ntfs::boot::kOemId).value_or(~fill) ^ fill;
#pragma GCC unroll 5
    for (const CAttrDefFileAnalyzer::Key& key : CAttrDefFileAnalyzer::kKeys)
        if (key.offset != 0) differ |= r.Le64(key.offset).value_or(~fill) ^ fill;
    const u16 unit = u16(fill);
    for (size_t i = 1; i < std::size(CUpCaseFileAnalyzer::kVoteUnits); ++i)
        differ |= u16(r.Le16(CUpCaseFileAnalyzer::VoteUnitAt(i)).value_or(u16(~unit)) ^ unit);
    return differ == 0;
}

// HasNoMark of a sector holding byte value b everywhere, by b.
const std::array<bool, 256>& FilledSectorsWithoutMark() {
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> quiet{};
        std::array<u8, kSector> sector{};
        for (size_t b = 0; b < 256; ++b) {
            sector.fill(u8(b));
            quiet[b] = CNTFSSearchController::HasNoMark(sector.data());
        }
        return quiet;
    }();
    return table;
}

}  // namespace

bool CNTFSSearchController::IsQuietSector(const u8* sector) {
    if (!sector) return false;
    const ByteReader r(sector, kSector);
    const u64 head = r.Le64(0).value_or(0);
    const u64 fill = (head & 0xFF) * 0x0101010101010101ULL;
    if (head == fill && IsFilledAtProbes(r, fill)) return FilledSectorsWithoutMark()[head & 0xFF];
    return HasNoMark(sector);
}

void CNTFSSearchController::AnalyzeSector(const u8* sector, i64 s, i64 available) {
    // Nearly every sector holds none of these structures: its magic (or the boot sector's identifier
    // at 3) sends it only to the tests that can hold; a held part of a record, or an open group of
    // system records, has every sector looked at.
    if (!sector) return;
    const ByteReader r(sector, kSector);
    const u64 head = r.Le64(0).value_or(0);
    const u32 magic = u32(head);
    const CNTFSJoiningBuffers& join = m_join;
    if (r.Le64(ntfs::boot::kOemId) == kBootOem) {
        if (CNTFSDBR::IsFullValidDBR(sector)) AnalyzeNTFSDBRSector(sector, s);
    } else if (magic == kRestartMagic && CLogFileAnalyzer::IsValidRSTRRecord(sector, size_t(available))) {
        m_log->AnalyzeRSTRRecord(s, sector, size_t(available));
    } else if (magic == kIndexMagic || join.indexPending) {
        AnalyzeIndexRecord(sector, s, available);
    }
    if (magic == kFileMagic || join.filePending || m_group->IsOpen()) AnalyzeNTFSFileRecordSector(sector, s, available);
    if (CAttrDefFileAnalyzer::MayMatch(r, head)) m_attrDef->AnalyzeSectorBuffer(s, sector);
    m_upCase->AnalyzeSectorBuffer(s, sector);
}

void CNTFSSearchController::AnalyzeNTFSDBRSector(const u8* sector, i64 s) {
    CNTFSDBR boot;
    if (!boot.InitFromBuffer(sector)) return;
    const i64 total = boot.GetTotalSectors();
    const i64 device = m_partitions.GetDeviceTotalSectors();
    const u32 spc = boot.GetSectorsperCluster();
    // Read as the backup at the end of a volume that starts T sectors earlier.
    i64 start = -1;
    NTFSCandidate backup;
    if (!__builtin_sub_overflow(s, total, &start))
        backup = BuildPartitionInfoFromDBR(boot, start, kFlagBootCopy, device, m_sectorSize);
    if (backup) {
        const auto equal = m_partitions.EqualTo(*backup);
        bool known = false;
        for (CSearchedNTFSPartitionInfo* e : equal) {
            e->AddPartitionBuildFromFlag(kFlagBootCopy);
            const bool same = e->m_totalSectors == backup->m_totalSectors && e->GetSerialNumber() == backup->GetSerialNumber();
            known = known || same || (e->GetPartitionBuildFromFlags() & kFlagBoot);
        }
        if (known) {
            // The backup of a known volume: that volume's own boot sector was also read as a backup,
            // of a volume T sectors before it; that reading is withdrawn.
            i64 earlier = 0;
            if (!__builtin_sub_overflow(start, total, &earlier)) {
                CSearchedNTFSPartitionInfo probe(m_sectorSize);
                probe.m_cluster0Sector = earlier;
                probe.m_sectorsPerCluster = spc;
                m_partitions.Withdraw(probe, kFlagBootCopy);
            }
            return;
        }
        for (CSearchedNTFSPartitionInfo* e : equal) {
            if (e->m_totalSectors != 0) continue;
            e->m_totalSectors = backup->m_totalSectors;
            e->m_clusterCount = backup->m_clusterCount;
        }
        m_partitions.Insert(std::move(backup));
    }
    m_partitions.Insert(BuildPartitionInfoFromDBR(boot, s, kFlagBoot, device, m_sectorSize));
}

void CNTFSSearchController::AnalyzeIndexRecord(const u8* sector, i64 s, i64 available) {
    CNTFSJoiningBuffers& join = m_join;
    if (join.indexPending) {
        const i64 heldSectors = join.indexBytes / m_sectorSize;
        const i64 next = join.indexSector + heldSectors;
        if (s >= join.indexSector && s < next) return;
        join.indexPending = false;
        const u32 missing = kIndexRecordSize - join.indexBytes;
        if (s == next && available >= i64(missing)) {
            std::memcpy(join.index.data() + join.indexBytes, sector, missing);
            AnalyzeIndexRecordBuffer(join.index.data(), join.indexSector);
            return;
        }
    }
    if (available < i64(kIndexRecordSize)) {
        if (CStandardIndexHeader::IsValidMagicNumber(sector, kSector)) {
            std::memcpy(join.index.data(), sector, size_t(available));
            join.indexBytes = u32(available);
            join.indexSector = s;
            join.indexPending = true;
        }
        return;
    }
    if (!CStandardIndexHeader::IsValid(sector, kIndexRecordSize)) return;
    AnalyzeIndexRecordBuffer(sector, s);
}

void CNTFSSearchController::AnalyzeIndexRecordBuffer(const u8* record, i64 s) {
    const i64 parent = CIndexRecord::GetParentFileReference(record, kIndexRecordSize);
    if (parent < 0 || parent == 5) return;
    CIndexRecordInfo info;
    info.sector = s;
    info.vcn = CIndexRecord::GetVCN(record, kIndexRecordSize);
    info.logSequence = CIndexRecord::GetLogFileSequenceNumber(record, kIndexRecordSize);
    info.parent = parent;
    const auto [first, last] = m_folders.equal_range(parent);
    for (auto it = first; it != last && m_indexPairings++ < kMaxIndexPairings; ++it)
        LocateIndexRecord(s, info.vcn, *it->second);
    if (m_indexRecords.size() < kMaxListEntries) m_indexRecords.insert(info);
}

void CNTFSSearchController::LocateIndexRecord(i64 s, i64 vcn, const CFolderIndexAllocationInfo& folder) {
    const i64 lcn = folder.GetLCN(vcn);
    if (lcn < 0) return;
    NTFSCandidate probe = BuildPartitionInfoAccordingtoFileRecord(s, lcn, folder.GetSectorsPerCluster(), kFlagIndex,
                                                                  m_partitions.GetDeviceTotalSectors(), m_sectorSize);
    if (!probe) return;
    const auto equal = m_partitions.EqualTo(*probe);
    if (equal.empty()) {
        m_partitions.Insert(std::move(probe));
        return;
    }
    for (CSearchedNTFSPartitionInfo* e : equal) {
        e->AddPartitionBuildFromFlag(kFlagIndex);
        ++e->m_matchCount2;
    }
}

void CNTFSSearchController::AnalyzeNTFSFileRecordSector(const u8* sector, i64 s, i64 available) {
    CNTFSJoiningBuffers& join = m_join;
    if (join.filePending) {
        join.filePending = false;
        if (s == join.fileSector + 1) {
            std::memcpy(join.file.data() + kSector, sector, kSector);
            AnalyzeFileRecord(join.file.data(), kFileRecordSize, join.fileSector);
            return;
        }
    }
    if (available < i64(kFileRecordSize)) {
        // Only with 512-byte sectors: the first half of a record that the next block completes.
        if (CNTFSFileRecordHeader::IsValid(sector, kSector)) {
            std::memcpy(join.file.data(), sector, kSector);
            join.fileSector = s;
            join.filePending = true;
            return;
        }
        CNTFSFileRecord none(nullptr, 0, 0);
        m_group->AnalyzeNTFSMetaFileRecord(s, none);
        return;
    }
    // A record is analysed; any other sector only tells an open group of system records that it ends.
    const u32 size = std::max(kFileRecordSize, m_sectorSize);
    if (!CNTFSFileRecordHeader::IsValid(sector, size)) {
        CNTFSFileRecord none(nullptr, 0, 0);
        m_group->AnalyzeNTFSMetaFileRecord(s, none);
        return;
    }
    AnalyzeFileRecord(sector, int(size), s);
}

void CNTFSSearchController::AnalyzeFileRecord(const u8* buffer, int size, i64 s) {
    // Validated and unprotected once, in the record's own copy.
    CNTFSFileRecord record(buffer, size, 0);
    // Its system-file number, looked up once for every test below.
    const u32 index = record.IsValid() ? CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(record) : 0xFFFFFFFF;
    m_group->AnalyzeNTFSMetaFileRecord(s, record, index);
    if (!record.IsValid()) return;
    // The tree build reads records of this size where they start (1024 bytes or one larger sector).
    if (size == int(std::max(kFileRecordSize, m_sectorSize))) {
        m_validRecords.Add(s);
        // Kept only for a tree build that will take them.
        if (m_treeBuilder && m_keepScanRecords) m_prebuilt.Add(record, s, index);
    }
    // $LogFile, $AttrDef and $UpCase: their name in the first $FILE_NAME, hidden and system.
    const bool system = (index == 2 || index == 4 || index == 10) && CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record);
    if (CNTFSFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(record)) {
        AnalyzeFolderFileRecordHavingIndexAllocation(record, s);
    } else if (system && index == 2) {
        m_log->AnalyzeLogFileFileRecord(s, record);
    } else if (system && index == 4) {
        m_attrDef->AnalyzeAttrDefFileRecord(s, record);
    } else if (system && index == 10) {
        m_upCase->AnalyzeUpCaseFileRecord(s, record);
    } else {
        if (record.IsExtendFileRecord()) return;
        if (m_group->IsaMetaFileRecordNotNeedtoCount(index) || m_log->IsaMetaFileRecordNotNeedtoCount(record)) return;
        AddPosition(s, true);
    }
}

void CNTFSSearchController::AnalyzeFolderFileRecordHavingIndexAllocation(const CNTFSFileRecord& record, i64 s) {
    auto folder = std::make_unique<CFolderIndexAllocationInfo>();
    if (folder->InitFromBuffer(record, s, m_sectorSize) && m_folders.size() < kMaxListEntries) {
        const i64 number = folder->GetMFTFileRecordNumber();
        CIndexRecordInfo key;
        key.parent = number;
        const auto [first, last] = m_indexRecords.equal_range(key);
        for (auto it = first; it != last && m_indexPairings++ < kMaxIndexPairings; ++it)
            LocateIndexRecord(it->sector, it->vcn, *folder);
        m_folders.emplace(number, std::move(folder));
    }
    // Its record is read again for the tree whether or not the folder's index could be followed.
    AddPosition(s, false);
}

void CNTFSSearchController::AddPosition(i64 s, bool mergeable) {
    if (mergeable && !m_positions.empty() && m_positions.back().Merge(s)) return;
    if (m_positions.size() < kMaxPositions) m_positions.emplace_back(s);
}

int CNTFSSearchController::EndSearch(int build) {
    m_beside.Settle();
    if (!build || !m_group) return 1;
    m_group->Flush();
    auto& set = m_partitions.Candidates();
    // First pass: the match counts and the score; from the third candidate on, one that nothing but
    // weak evidence found is dropped. A volume confirmed by its boot sector (or its copy) and by its
    // $MFT/$MFTMirr pair stays although no folder index confirmed it (fresh volumes have none).
    i64 i = 0;
    for (auto it = set.begin(); it != set.end(); ++i) {
        CSearchedNTFSPartitionInfo& c = **it;
        m_attrDef->CalcAttrDefMatch(c);
        m_upCase->CalcUpcaseMatch(c);
        m_log->CalcLogFileMatch(c);
        if (c.m_mftSector != -1) c.m_keep = 1;
        c.m_score = CalcFileSystemReliabilityScore(c);
        const u32 flags = c.GetPartitionBuildFromFlags();
        const bool confirmed = (flags & (kFlagBoot | kFlagBootCopy)) &&
                               ((flags & kFlagMFTPair) || (flags & (kFlagMFTGroup | kFlagMirrorGroup)) ==
                                                              (kFlagMFTGroup | kFlagMirrorGroup));
        if (i >= 2 && !confirmed && (c.m_score < 11 || (c.m_matchCount1 == 0 && c.m_matchCount2 == 0))) {
            it = set.erase(it);
            continue;
        }
        c.m_partitionStartSector = c.m_cluster0Sector;
        ++it;
    }
    // One record per volume: of the candidates at one start (read with other cluster sizes, or met
    // twice), the best scored stays (the first of equals).
    for (auto it = set.begin(); it != set.end();) {
        const auto next = std::next(it);
        if (next == set.end() || (*next)->m_cluster0Sector != (*it)->m_cluster0Sector) {
            it = next;
        } else if ((*next)->m_score > (*it)->m_score) {
            it = set.erase(it);
        } else {
            set.erase(next);
        }
    }
    // Inside a volume that its boot sector places, a weaker candidate that no boot sector and no folder
    // index found is a reading of that volume's own structures (its $MFTMirr taken for a $MFT).
    const auto placedInside = [&set](const CSearchedNTFSPartitionInfo& c) {
        if ((c.GetPartitionBuildFromFlags() & (kFlagBoot | kFlagBootCopy)) || c.m_matchCount1 != 0 || c.m_matchCount2 != 0)
            return false;
        return std::any_of(set.begin(), set.end(), [&c](const NTFSCandidate& o) {
            return o.get() != &c && (o->GetPartitionBuildFromFlags() & (kFlagBoot | kFlagBootCopy)) &&
                   o->m_score > c.m_score && c.m_cluster0Sector > o->m_cluster0Sector &&
                   c.m_cluster0Sector - o->m_cluster0Sector < o->m_totalSectors;
        });
    };
    for (auto it = set.begin(); it != set.end();) it = placedInside(**it) ? set.erase(it) : std::next(it);
    // Second pass, with three candidates or more: the weak ones without a known $MFT go.
    if (set.size() >= 3) {
        for (auto it = set.begin(); it != set.end();) {
            it = ((*it)->m_score <= 50 && (*it)->m_keep == 0) ? set.erase(it) : std::next(it);
        }
    }
    if (m_treeBuilder && m_device) {
        CNTFSIntelligentSearchInfo info;
        info.Init(&m_mftInfos, &m_positions, &m_logReaders);
        if (m_keepScanRecords) {
            info.SetValidFileRecordSectors(&m_validRecords);
            info.SetPrebuiltRecords(&m_prebuilt);
        }
        m_treeBuilder->ExpectNodes(SEARCHER_NTFS, m_prebuilt.Size());
        std::vector<CSearchedNTFSPartitionInfo*> chosen;
        for (const NTFSCandidate& c : set) {
            c->m_weight = double(set.size() - chosen.size());
            // Nodes carry their partition's index; the copy-out finds the partition by it.
            c->m_partitionIndex = i32(chosen.size());
            chosen.push_back(c.get());
        }
        // The next partition's records are read and their nodes made while this thread hands the nodes
        // of one over: only the handing touches the tree builder. The partitions are prepared in their
        // order, as each may take records the scan kept that a later one would otherwise read again.
        CNTFSDirectoryTreeBuilder trees;
        PrepareAhead<CNTFSPreparedPartition>(
            chosen.size(),
            [&](size_t k) { return trees.Prepare(&info, chosen[k], m_device, int(k), nullptr); },
            [&](size_t, CNTFSPreparedPartition& partition) {
                CNTFSDirectoryTreeBuilder::Hand(partition, m_treeBuilder);
            });
    }
    ClearFindings();
    if (m_treeBuilder) {
        m_treeBuilder->SetPartitonDevice(nullptr, m_device);
        m_treeBuilder->FlashBuild(SEARCHER_NTFS);
    }
    return 1;
}

namespace {

// A count (8 bytes), then each item as save writes it.
template <class List, class Save>
bool SaveCounted(IRSData& data, const List& list, Save&& save) {
    const u64 count = list.size();
    if (!data.WriteCurFrame(&count, 8)) return false;
    for (const auto& item : list) {
        if (!save(item)) return false;
    }
    return true;
}

// Reads the count back and restores that many items; a count below 1 restores nothing, a count the
// frame cannot hold (each item takes at least itemBytes) is damage.
template <class RestoreOne>
bool RestoreCounted(IRSData& data, u32 itemBytes, RestoreOne&& restoreOne) {
    i64 count = 0;
    if (!data.ReadCurFrame(&count, 8)) return false;
    if (count < 1) return true;
    if (u64(count) > data.GetFrameSize() / itemBytes) return false;
    for (i64 i = 0; i < count; ++i) {
        if (!restoreOne()) return false;
    }
    return true;
}

}  // namespace

bool CNTFSSearchController::SaveMFTInfoContainer(IRSData& data) const {
    m_beside.Settle();
    return SaveCounted(data, m_mftInfos, [&](const CMFTInfo* info) { return info->Save(data); });
}

bool CNTFSSearchController::SaveCommonFileRecordPositionInfo(IRSData& data) const {
    m_beside.Settle();
    return SaveCounted(data, m_positions, [&](const CCommonFileRecordPositionInfo& p) { return p.Save(data); });
}

bool CNTFSSearchController::RestoreMFTInfoContainer(IRSData& data) {
    m_beside.Settle();
    // An info takes at least 18 bytes: sector, two sizes and a run count.
    return RestoreCounted(data, 18, [&] {
        auto info = std::make_unique<CMFTInfo>();
        if (!info->Restore(data)) return false;
        m_mftInfos.push_back(info.release());
        return true;
    });
}

bool CNTFSSearchController::RestoreCommonFileRecordPositionInfo(IRSData& data) {
    m_beside.Settle();
    return RestoreCounted(data, 16, [&] {
        CCommonFileRecordPositionInfo p;
        if (!p.Restore(data)) return false;
        m_positions.push_back(p);
        return true;
    });
}

ICompleteFileSystemSearchController* CreateNTFSSearcher() { return new (std::nothrow) CNTFSSearchController(); }
