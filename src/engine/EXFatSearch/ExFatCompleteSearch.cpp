#include "engine/EXFatSearch/ExFatCompleteSearch.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <new>
#include <unordered_set>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/EXFatSearch/ExFatDBR.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace exfatdeep {

namespace {
// The reserved entries 0 and 1 that begin every exFAT FAT.
constexpr u32 kFatMediaEntry = 0xFFFFFFF8u;
constexpr u32 kFatSecondEntry = 0xFFFFFFFFu;
// An up-case table begins with the identity mapping of 0, 1, 2, ...: its first eight values are probed.
constexpr u16 kUpCaseProbe = 8;
static_assert(kFatHead == (u64{kFatSecondEntry} << 32 | kFatMediaEntry));
// How many sectors ahead the block loop prefetches; the quiet-sector loop also asks far ahead (into the
// outer caches), so that more of the block's lines are on their way at once.
constexpr size_t kPrefetchSectors = 16;
constexpr size_t kFarPrefetchSectors = 64;
}  // namespace

SectorKind ClassifySector(ByteReader sector, u32 sectorSize) {
    if (sector.U8(0).value_or(0) == 0) {
        for (u16 k = 0; k < kUpCaseProbe; ++k) {
            if (sector.Le16(size_t{k} * 2) != k) return SectorKind::Zero;
        }
        return SectorKind::UpCase;
    }
    const auto whole = sector.Sub(0, sectorSize);
    if (whole && sector.U8(exfat::boot::kSignature) == 0x55 && sector.U8(exfat::boot::kSignature + 1) == 0xAA &&
        CExFatDBR(*whole).IsValid(sectorSize)) {
        return SectorKind::Boot;
    }
    if (sector.Le32(0) == kFatMediaEntry && sector.Le32(4) == kFatSecondEntry) return SectorKind::Fat;
    return SectorKind::Entries;
}

}  // namespace exfatdeep

CExFatCompleteSearch::CExFatCompleteSearch() = default;

CExFatCompleteSearch::~CExFatCompleteSearch() {
    for (CSearchedPartitionInfo* record : m_records) delete record;
}

void CExFatCompleteSearch::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_cache = dynamic_cast<CStorageDeviceWithCache*>(device);
}

int CExFatCompleteSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    const int count = static_cast<int>(m_records.size());
    // A count of 0 (or too small) asks for the number.
    if (out == nullptr || capacity == 0 || capacity < count) return count;
    return CopySearchedPartitionInfo(m_records, out, capacity);
}

int CExFatCompleteSearch::PreparetoSearch() {
    for (CSearchedPartitionInfo* record : m_records) delete record;
    m_records.clear();
    m_chosen.clear();
    m_builder.Clear();
    m_pre.Clear();
    m_folderClusters.clear();
    m_buffer.clear();
    m_edge.clear();
    m_bootSectors = m_fatSectors = m_upcaseSectors = 0;
    m_endSeconds = 0;
    m_blockSeconds = 0;
    m_carriedFrom = -1;
    m_prepared = false;
    m_ended = false;
    return 1;
}

bool CExFatCompleteSearch::Prepare() {
    if (m_prepared) return true;
    const u32 sectorSize = m_device->GetSectorSize();
    // Boot sectors are checked in views of up to 4096 bytes, and the pre-analyser counts in powers of two.
    if (sectorSize < 512 || sectorSize > exfat::kMaxSectorSize || !std::has_single_bit(sectorSize)) return false;
    m_sectorSize = sectorSize;
    m_totalSectors = std::max<i64>(m_device->GetTotalSectors(), 0);
    // A new search: the pre-analyser's process-wide record and the builder start empty.
    m_pre.PrepareAnayze(static_cast<unsigned>(std::countr_zero(sectorSize)), exfatdeep::kDeepClusterShift,
                        static_cast<u64>(m_totalSectors));
    m_builder.PrepareBuild(sectorSize, static_cast<u64>(m_totalSectors));
    // The block buffer is made when a block cannot be read in place (most are, through the deep scan's
    // cache).
    m_buffer.clear();
    try {
        m_edge.assign(static_cast<size_t>(2 * exfatdeep::kCarriedSectors) * sectorSize, 0);
    } catch (const std::bad_alloc&) {
        m_buffer.clear();
        m_edge.clear();
        return false;
    }
    m_carriedFrom = -1;
    m_prepared = true;
    return true;
}

int CExFatCompleteSearch::AnalyzeBlock(i64 firstSector, i64 sectorCount) {
    const auto started = std::chrono::steady_clock::now();
    const int done = AnalyzeBlockIn(firstSector, sectorCount);
    m_blockSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return done;
}

int CExFatCompleteSearch::AnalyzeBlockIn(i64 firstSector, i64 sectorCount) {
    if (m_device == nullptr || m_tree == nullptr || m_blockSectors <= 0) return 0;
    if (!Prepare()) return 0;
    if (firstSector < 0 || sectorCount <= 0 || firstSector >= m_totalSectors) return 1;
    // Never more than the buffer holds, never past the device's end.
    const i64 count = std::min({sectorCount, m_blockSectors, m_totalSectors - firstSector});
    constexpr i64 kCarried = exfatdeep::kCarriedSectors;
    const size_t sectorSize = m_sectorSize;
    const size_t carried = static_cast<size_t>(kCarried) * sectorSize;
    // The previous block's last two sectors are analysed only when they are the two just before this
    // block (not before the first block, after a failed read or a gap).
    const bool carriedFits = m_carriedFrom >= 0 && m_carriedFrom + kCarried == firstSector;
    // The block where the read-ahead cache holds it, else read out of the device.
    const u8* block = m_cache != nullptr ? m_cache->CurrentBlockSectors(firstSector, count) : nullptr;
    if (block == nullptr) {
        const size_t bufferBytes = static_cast<size_t>(m_blockSectors) * sectorSize;
        if (m_buffer.size() != bufferBytes) {
            try {
                m_buffer.assign(bufferBytes, 0);
            } catch (const std::bad_alloc&) {
                m_buffer.clear();
                m_carriedFrom = -1;
                return 0;
            }
        }
        if (m_device->ReadSector(m_buffer.data(), firstSector, count) == 0) {
            m_carriedFrom = -1;
            return 0;
        }
        block = m_buffer.data();
    }
    const size_t blockBytes = static_cast<size_t>(count) * sectorSize;
    u8* edge = m_edge.data();
    // Sectors first - 2 and first - 1, with the block's first two sectors behind them in memory.
    if (carriedFits) {
        const size_t head = std::min(blockBytes, carried);
        std::memcpy(edge + carried, block, head);
        for (i64 i = 0; i < std::min(kCarried, count); ++i) {
            const size_t at = static_cast<size_t>(i) * sectorSize;
            AnalyzeSector(firstSector - kCarried + i, ByteReader(edge + at, carried + head - at));
        }
    }
    // Sectors first .. first + count - 3: the last two wait for the next block. Most sectors of a disk
    // give no evidence; those are told by their first bytes and only move the builder on, a run at a time.
    const bool quick = m_pre.QuickRefusal();
    const size_t ahead = exfatdeep::kPrefetchSectors * sectorSize;
    const i64 end = count - kCarried;
    for (i64 i = 0; i < end;) {
        if (quick) {
            const i64 quietEnd = QuietRunEnd(block, i, end, blockBytes);
            if (quietEnd > i) {
                m_builder.BuildRange(firstSector + i, firstSector + quietEnd);
                i = quietEnd;
                continue;
            }
        }
        const size_t at = static_cast<size_t>(i) * sectorSize;
        if (at + ahead < blockBytes) __builtin_prefetch(block + at + ahead);
        AnalyzeSector(firstSector + i, ByteReader(block + at, blockBytes - at));
        ++i;
    }
    if (count >= kCarried) {
        std::memcpy(edge, block + blockBytes - carried, carried);
    } else {
        // A block of one sector: it follows the second carried sector.
        std::memmove(edge, edge + sectorSize, sectorSize);
        std::memcpy(edge + sectorSize, block, sectorSize);
    }
    m_carriedFrom = carriedFits || count >= kCarried ? firstSector + count - kCarried : -1;
    return 1;
}

i64 CExFatCompleteSearch::QuietRunEnd(const u8* block, i64 from, i64 end, size_t blockBytes) const {
    // An idle pre-analyser stays idle through a sector that gives no evidence. Otherwise only a sector
    // starting with 0 that is no up-case table is passed over, and only when no finished set waits to be
    // handed over.
    const bool idle = m_pre.Idle();
    if (!idle && m_pre.HasFileSet()) return from;
    const size_t sectorSize = m_sectorSize;
    // The first bytes of a sector a little ahead are asked for early: one cache line per sector is all
    // most sectors cost, and waiting for it would be most of that cost.
    const size_t ahead = exfatdeep::kPrefetchSectors * sectorSize;
    const size_t farAhead = exfatdeep::kFarPrefetchSectors * sectorSize;
    const ByteReader view(block, blockBytes);
    i64 i = from;
    for (size_t at = static_cast<size_t>(i) * sectorSize; i < end; ++i, at += sectorSize) {
        if (at + farAhead < blockBytes) __builtin_prefetch(block + at + farAhead, 0, 1);
        if (at + ahead < blockBytes) __builtin_prefetch(block + at + ahead);
        // Most such sectors start with 0 (free space, the tails of clusters).
        const u64 first = view.Le64(at).value_or(0);
        if (static_cast<u8>(first) == 0) {
            if (first == exfatdeep::kUpCaseHead) break;
            continue;
        }
        if (!idle || exfatdeep::MayGiveEvidence(block + at)) break;
    }
    return i;
}

void CExFatCompleteSearch::AnalyzeSector(i64 sector, ByteReader window) {
    bool take = false;
    switch (exfatdeep::ClassifySector(window, m_sectorSize)) {
        case exfatdeep::SectorKind::UpCase:
            m_builder.RecordUpCaseTable(sector);
            ++m_upcaseSectors;
            take = true;
            break;
        case exfatdeep::SectorKind::Zero:
            take = true;
            break;
        case exfatdeep::SectorKind::Boot: {
            CExFatDBR dbr(window.Sub(0, m_sectorSize).value_or(ByteReader()));
            m_builder.Build(sector, &dbr);
            ++m_bootSectors;
            take = true;
            break;
        }
        case exfatdeep::SectorKind::Fat:
            m_builder.RecordFAT(sector);
            ++m_fatSectors;
            take = true;
            break;
        case exfatdeep::SectorKind::Entries:
            take = m_pre.Analyze(sector, window);
            break;
    }
    // Most sectors (file data, zeros) finish no set that holds anything.
    if (take && m_pre.HasFileSet()) {
        CFileSet* set = nullptr;
        m_pre.GetFileSet(&set);
        if (set != nullptr) {
            const i64 at = set->GetFirstSector();
            const i64 next = set->IsNotEnd() ? m_pre.GetNext(at) : -1;
            const i64 previous = set->IsAbridged() ? m_pre.GetLast(at) : -1;
            m_builder.PushFileSet(set, previous, next);
        }
    }
    m_builder.Build(sector);
}

int CExFatCompleteSearch::EndSearch(int build) {
    // Built once per search: a second end would hand the same partitions over again.
    if (build == 0 || m_ended) return 1;
    m_ended = true;
    const auto started = std::chrono::steady_clock::now();
    m_pre.Clear();
    m_builder.FinishBuid(m_chosen);
    BuildNodes();
    if (m_tree != nullptr) {
        m_tree->SetPartitonDevice(nullptr, m_device);
        m_tree->FlashBuild(SEARCHER_EXFAT);
    }
    // The chosen partitions keep only their geometry: the sets they point to leave with the builder.
    for (const auto& partition : m_chosen) partition->ForgetMatched();
    m_builder.Clear();
    m_prepared = false;
    m_endSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return 1;
}

void CExFatCompleteSearch::BuildNodes() {
    if (m_chosen.empty()) return;
    if (m_tree != nullptr) m_tree->AddSearcherInfo(SEARCHER_EXFAT, -1);
    i32 index = 0;
    // Empty files of every partition draw from one counter, so no two share an ID in the search.
    i64 nextVirtualId = CExFatPartition::kFirstVirtualId;
    // One list for the nodes of each partition in turn, made once with room for all of them.
    std::vector<CExFatFileNode*> nodes;
    nodes.reserve(m_builder.PushedFiles());
    for (const auto& partition : m_chosen) {
        auto* record = new (std::nothrow) CSearchedPartitionInfo(partition->GetSectorSize());
        if (record != nullptr) {
            record->m_fileSystemType = FILE_SYSTEM_EXFAT;
            record->m_sectorsPerCluster = partition->GetSectorsPerCluster();
            record->m_cluster0Sector = partition->GetDataRegionStart();
            record->m_partitionStartSector = partition->GetPartitionStart();
            record->SetTotalSectors(static_cast<u64>(std::max<i64>(partition->GetPartitionLength(), 0)));
            record->m_partitionIndex = index;
            m_records.push_back(record);
        }
        // Without the first FAT's first sector among the evidence every chain ends after its first cluster.
        if ((partition->GetFlags() & CExFatPartitionEx::kFirstFat) != 0 && m_device != nullptr) {
            partition->CreateFatTable(m_device, partition->GetPartitionStart() + partition->GetFatOffset(),
                                      partition->GetFatLength(), partition->GetClusterBound());
        }
        partition->UseAllocationBitmap(m_device);
        nodes.clear();
        partition->ResetVirtualIds(nextVirtualId);
        BuildFileTree(*partition, nodes);
        nextVirtualId = partition->NextVirtualId();
        if (m_tree != nullptr) m_tree->ExpectNodes(SEARCHER_EXFAT, nodes.size());
        for (CExFatFileNode* node : nodes) {
            node->SetBelongedPartition(static_cast<u16>(index));
            if (m_tree == nullptr || m_tree->AddNode(node, SEARCHER_EXFAT) == 0) node->Release();
        }
        partition->ClearFatData();
        ++index;
    }
}

i64 CExFatCompleteSearch::FolderOwning(i64 sector) const {
    auto it = m_folderClusters.upper_bound(sector);
    if (it == m_folderClusters.begin()) return -1;
    --it;
    return sector < it->second.first ? it->second.second : -1;
}

void CExFatCompleteSearch::MakeNodes(CExFatPartitionEx& partition, const CFileSet& set,
                                     const std::vector<CExFatSetFile>& files, i64 parent,
                                     std::vector<CExFatFileNode*>& nodes) {
    const u64 spc = partition.GetSectorsPerCluster();
    const u64 clusterBytes = partition.GetClusterSize();
    for (const CExFatSetFile& record : files) {
        CExFatFileNode* node = partition.BuildFile(record, set.NameBytes(record));
        if (node == nullptr) continue;
        const i64 id = partition.NodeIdOf(record);
        node->SetID(id);
        node->SetParentID(parent);
        nodes.push_back(node);
        if (!record.IsDirectory() || record.dataLength > exfatdeep::kMaxFolderBytes || clusterBytes == 0) continue;
        // The folder's clusters, as far as its length reaches: through the FAT, or one after the other
        // for a folder written without a chain.
        i64 remaining = record.dataLength;
        u32 cluster = record.firstCluster;
        do {
            if (!exfat::IsCluster(cluster)) break;
            const i64 first = partition.ConvertClusterNumToSector(cluster);
            // A cluster claimed by two folders stays with the first one built.
            m_folderClusters.emplace(first, std::make_pair(first + static_cast<i64>(spc), id));
            remaining -= static_cast<i64>(clusterBytes);
            if (remaining <= 0) break;
            cluster = record.noFatChain != 0 ? cluster + 1 : partition.GetNextCluster(cluster, 0);
        } while (true);
    }
}

void CExFatCompleteSearch::MakeNodesOfSet(CExFatPartitionEx& partition, const CFileSet& set, i64 parent,
                                          std::vector<CExFatFileNode*>& nodes) {
    MakeNodes(partition, set, set.InUseFiles(), parent, nodes);
    MakeNodes(partition, set, set.DeletedFiles(), parent, nodes);
}

void CExFatCompleteSearch::BuildFileTree(CExFatPartitionEx& partition, std::vector<CExFatFileNode*>& nodes) {
    m_folderClusters.clear();
    const u32 rootCluster = partition.GetRootCluster();
    const i64 rootSector = exfat::IsCluster(rootCluster) ? partition.ConvertClusterNumToSector(rootCluster) : -2;
    std::unordered_set<const CFileSet*> built;
    std::vector<const CFileSet*> aside;
    auto visit = [&](i64 sector) {
        const CFileSet* set = m_builder.FindFileSet(sector);
        if (set == nullptr || built.count(set) != 0) return;
        if (set->GetLast() != nullptr) {
            aside.push_back(set);
            return;
        }
        i64 parent = set->GetFirstSector() == rootSector ? -1 : FolderOwning(set->GetFirstSector());
        if (parent == -1 && set->GetFirstSector() != rootSector) parent = set->GetFirstSector();
        set->ForChain([&](const CFileSet& member) {
            if (!built.insert(&member).second) return;
            MakeNodesOfSet(partition, member, parent, nodes);
        });
    };
    // The sectors that begin a cluster, then those the completion added.
    for (const i64 sector : partition.AlignedDataSectors()) visit(sector);
    // Sets that continue another whose start was never reached.
    for (const CFileSet* set : aside) {
        if (!built.insert(set).second) continue;
        const i64 parent = set->GetFirstSector() == rootSector ? -1 : set->GetFirstSector();
        MakeNodesOfSet(partition, *set, parent, nodes);
    }
    m_folderClusters.clear();
}

ICompleteFileSystemSearchController* CreateEXFatSearcher() {
    return new (std::nothrow) CExFatCompleteSearch();
}
