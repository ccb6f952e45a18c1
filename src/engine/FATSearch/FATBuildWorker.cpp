#include "engine/FATSearch/FATBuildWorker.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/ResultCode.h"
#include "engine/FATLib/FATBuildDataRun.h"
#include "engine/FATLib/FATDirEntry.h"
#include "engine/FATLib/FATFileNode.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATSearch/FATBuildChildren.h"
#include "engine/FATSearch/FATSearchedPartitionInfo.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace {

constexpr u32 kEntry = fat_dir_entry_layout::kSize;
// Room before a lost cluster for the long-name pieces of its first entry (20 pieces at most).
constexpr u32 kCarryRoom = 1024;

bool IsPiece(const u8* entry) {
    return CTempFATDirEntry(entry).IsLongFileNameEntry();
}

u8 ChecksumOf(const u8* piece) {
    return piece[fat_dir_entry_layout::kChecksum];
}

// The first character of the name that whole pieces spell (their last piece on disk holds it), as the
// upper-case byte its 8.3 name starts with; 0 when it is no plain ASCII letter or digit.
u8 ShortNameStart(const std::vector<u8>& pieces) {
    char16_t units[13];
    const size_t count = CTempFATDirEntry(pieces.data() + pieces.size() - kEntry).GetLongFileNameUnits(units);
    if (count == 0 || units[0] > 0x7F || !std::isalnum(static_cast<int>(units[0]))) return 0;
    return static_cast<u8>(std::toupper(static_cast<int>(units[0])));
}

}  // namespace

// A folder cluster can end inside the long-name pieces of an entry whose 8.3 part opens the folder's next
// cluster, which a lost folder no longer names. Those open runs are kept here by the checksum their pieces
// carry; a lost cluster that begins with the rest of such a name takes its run back before its first
// entry, as the read of a folder's chain carries it: of the runs that fit, the nearest before it.
class CFATBuildWorker::OpenRuns {
public:
    // Whole pieces of one name, left open by the cluster that ends at lastSector; anything else is ignored.
    void Add(i64 lastSector, const u8* bytes, size_t length) {
        if (length == 0 || length % kEntry != 0 || length >= kCarryRoom) return;
        for (size_t k = 0; k < length; k += kEntry) {
            if (!IsPiece(bytes + k) || ChecksumOf(bytes + k) != ChecksumOf(bytes)) return;
        }
        Run run{{bytes, bytes + length}, 0};
        run.start = ShortNameStart(run.bytes);
        if (run.start != 0) m_starts.insert(run.start);
        m_byChecksum[ChecksumOf(bytes)].emplace(lastSector, std::move(run));
    }

    // The run that a cluster at sector continues, taken out (empty when none): the cluster opens with
    // pieces of that checksum, or with an 8.3 entry whose name has it.
    std::vector<u8> Take(const u8* cluster, i64 sector) {
        if (m_byChecksum.empty()) return {};
        if (IsPiece(cluster)) return TakeNearest(ChecksumOf(cluster), sector, 0);
        const CTempFATDirEntry entry(cluster);
        if (!entry.IsValidFATDirEntry(true) || entry.IsVolumeLabel() || cluster[0] == '.') return {};
        if (!entry.IsErased()) return TakeNearest(fat::ShortNameChecksum(cluster, cluster[0]), sector, 0);
        // A deleted entry lost its first byte: each run offers the one its name starts with.
        std::vector<u8> best;
        i64 bestSector = -1;
        u8 bestChecksum = 0;
        u8 bestStart = 0;
        for (u8 start : m_starts) {
            const u8 checksum = fat::ShortNameChecksum(cluster, start);
            const auto bucket = m_byChecksum.find(checksum);
            if (bucket == m_byChecksum.end()) continue;
            const auto it = Nearest(bucket->second, sector, start);
            if (it != bucket->second.end() && it->first > bestSector) {
                bestSector = it->first;
                bestChecksum = checksum;
                bestStart = start;
            }
        }
        return bestSector >= 0 ? TakeNearest(bestChecksum, sector, bestStart) : best;
    }

private:
    struct Run {
        std::vector<u8> bytes;
        u8 start;  // the first byte of the 8.3 name its name gives, or 0
    };
    using Bucket = std::multimap<i64, Run>;

    // The run nearest before sector (with that start byte, unless 0), or end.
    static Bucket::iterator Nearest(Bucket& bucket, i64 sector, u8 start) {
        for (auto it = bucket.lower_bound(sector); it != bucket.begin();) {
            --it;
            if (start == 0 || it->second.start == start) return it;
        }
        return bucket.end();
    }
    std::vector<u8> TakeNearest(u8 checksum, i64 sector, u8 start) {
        const auto bucket = m_byChecksum.find(checksum);
        if (bucket == m_byChecksum.end()) return {};
        const auto it = Nearest(bucket->second, sector, start);
        if (it == bucket->second.end()) return {};
        std::vector<u8> bytes = std::move(it->second.bytes);
        bucket->second.erase(it);
        if (bucket->second.empty()) m_byChecksum.erase(bucket);
        return bytes;
    }

    std::map<u8, Bucket> m_byChecksum;
    std::set<u8> m_starts;
};

CFATBuildWorker::CFATBuildWorker(IDirecotryTreeBuilder* builder, IProgress* progress, CFATSearchedPartitionInfo* record,
                                 IStorageDevice* device, const FATWorkerGeometry& geometry, IFATTable* table,
                                 FATSearchState* state)
    : m_builder(builder),
      m_progress(progress),
      m_record(record),
      m_device(device),
      m_geometry(geometry),
      m_table(table),
      m_state(state != nullptr ? state : &m_ownState),
      m_sectorSize(device != nullptr ? device->GetSectorSize() : 512) {}

CFATBuildWorker::~CFATBuildWorker() {
    for (CFATFileNode* folder : m_ownedFolders) folder->Release();
}

IDataRunList* CFATBuildWorker::BuildDataRunList(u64 firstCluster, u64 size, bool deleted) {
    CFATBuildDataRun runs(m_table, m_sectorSize, m_geometry.sectorsPerCluster, m_geometry.totalSectors);
    return runs.BuildDataRunList(firstCluster, size, deleted);
}

u64 CFATBuildWorker::ConvertSectorToClusterNum(u64 sector) const {
    if (m_geometry.sectorsPerCluster == 0 || sector < m_geometry.dataStart) return 0;
    return (sector - m_geometry.dataStart) / m_geometry.sectorsPerCluster + 2;
}

u64 CFATBuildWorker::ConvertClusterNumToSector(u64 cluster) const {
    if (cluster < 2) return 0;
    return (cluster - 2) * m_geometry.sectorsPerCluster + m_geometry.dataStart;
}

bool CFATBuildWorker::IsFirsectorInCluster(u64 sector) const {
    if (m_geometry.sectorsPerCluster == 0 || sector < m_geometry.dataStart) return false;
    return (sector - m_geometry.dataStart) % m_geometry.sectorsPerCluster == 0;
}

CFATFileNode* CFATBuildWorker::CreateTempFileNode(u32 cluster, u32 parentCluster) {
    return MakeLostFolder("DIR" + std::to_string(m_state->lostFolderCounter++), cluster, parentCluster);
}

CFATFileNode* CFATBuildWorker::MakeLostFolder(const std::string& name, u32 cluster, u32 parentCluster) {
    CFATFileProperties* p = CFATFileProperties::Create();
    if (p == nullptr) return nullptr;
    p->m_name = name;
    p->m_attribute |= 0x10;
    p->m_state = 9;
    p->m_firstCluster = cluster;
    p->m_parentFirstCluster = parentCluster;
    p->m_metadataSector = ConvertClusterNumToSector(parentCluster);
    auto* node = new (std::nothrow) CFATFileNode();
    if (node == nullptr) {
        delete p;
        return nullptr;
    }
    node->SetFileProperties(p);
    return node;
}

void CFATBuildWorker::SendProgress(u32 status, u64 current) {
    if (m_progress == nullptr) return;
    _PROGRESS_INFO info = MakeProgressInfo(status, 100, current);
    m_progress->UpdateProgress(&info);
}

FATBuildContext CFATBuildWorker::Context() {
    FATBuildContext ctx;
    ctx.builder = m_builder;
    ctx.progress = m_progress;
    ctx.record = m_record;
    ctx.device = m_device;
    ctx.builtClusters = &m_builtClusters;
    ctx.folderMap = &m_folderMap;
    ctx.totalSectors = m_geometry.totalSectors;
    ctx.type = m_geometry.type;
    ctx.table = m_table;
    ctx.sectorsPerCluster = m_geometry.sectorsPerCluster;
    ctx.rootCluster = m_geometry.rootCluster;
    ctx.rootStart = m_geometry.rootStart;
    ctx.rootSectors = m_geometry.rootSectors;
    ctx.dataStart = m_geometry.dataStart;
    ctx.volumeStart = m_geometry.start;
    ctx.state = m_state;
    return ctx;
}

u64 CFATBuildWorker::QuickBuildDirectoryTree(int flag) {
    m_state->virtualClusters.ResetVirtualClusterNum();
    CFATBuildChildren children(Context());
    children.SetFileSectorMap(m_fileSectorMap);
    children.SetQuickScan(false);

    std::vector<IFileNode*> found;
    if (children.BuildRoot(found, flag, 1) == 0) return result::Make(result::kModuleFATSearch, 0x008e, 1);
    std::deque<IFileNode*> pending(found.begin(), found.end());
    u64 visited = 0;
    u64 lastPercent = 0;
    u64 outcome = 0;
    while (!pending.empty()) {
        if (m_progress != nullptr && m_progress->Continued() == 0) {
            outcome = result::Make(result::kModuleFATSearch, 0x0098, 0xd);
            break;
        }
        ++visited;
        const u64 percent = visited * 100 / (visited + pending.size());
        if (percent > lastPercent) {
            lastPercent = percent;
            SendProgress(PROGRESS_RUNNING, percent);
        }
        IFileNode* folder = pending.front();
        pending.pop_front();
        if (folder->GetFirstChild() != nullptr) continue;
        auto* fatFolder = dynamic_cast<CFATFileNode*>(folder);
        if (fatFolder == nullptr || fatFolder->GetFileProperties() == nullptr) continue;
        found.clear();
        // Sub-folders list every entry too; the tree builder decides what to show of existing files.
        children.BuildChildren(folder, static_cast<u32>(fatFolder->GetFileProperties()->m_firstCluster), found, 0, 1);
        pending.insert(pending.end(), found.begin(), found.end());
    }
    SendProgress(PROGRESS_RUNNING, 100);
    return outcome;
}

u64 CFATBuildWorker::LostRootLookBack() const {
    const bool fixedRoot = m_geometry.type == FILE_SYSTEM_FAT12 || m_geometry.type == FILE_SYSTEM_FAT16;
    return fixedRoot && m_geometry.rootFlag == 0 ? 0x20000 / m_sectorSize : 0;
}

int CFATBuildWorker::CompleteBuildDirectoryTree(const std::vector<FIRSTFOLDERSECTOR>& records) {
    m_state->virtualClusters.ResetVirtualClusterNum();
    CFATBuildChildren children(Context());
    children.SetFileSectorMap(m_fileSectorMap);
    children.SetQuickScan(true);
    std::vector<IFileNode*> found;
    children.BuildRoot(found, 1, static_cast<int>(m_geometry.rootFlag));
    found.clear();

    // The records on this volume: from the data start (or the lost root's sectors below it) to its end.
    const u64 dataStart = m_geometry.dataStart;
    const u64 lookBack = LostRootLookBack();
    const i64 lower = static_cast<i64>(dataStart > lookBack ? dataStart - lookBack : 0);
    const i64 upper = static_cast<i64>(m_geometry.start + m_geometry.totalSectors);
    const auto first = std::lower_bound(records.begin(), records.end(), FIRSTFOLDERSECTOR{lower},
                                        FIRSTFOLDERSECTORLESS{});
    const auto last = std::upper_bound(first, records.end(), FIRSTFOLDERSECTOR{upper}, FIRSTFOLDERSECTORLESS{});
    if (first == last || m_device == nullptr) return 1;
    const std::span<const FIRSTFOLDERSECTOR> range(&*first, static_cast<size_t>(last - first));

    // A lost root sector after the sector before it takes the long-name pieces that one left open.
    std::vector<u8> sector(kCarryRoom + fat::kMaxSectorSize);
    std::vector<u8> rootRun;
    i64 rootRunSector = -1;
    OpenRuns openRuns;
    for (const FIRSTFOLDERSECTOR& record : range) {
        const u64 at = static_cast<u64>(record.sector);
        if (at < dataStart) {
            // A sector of a lost FAT16 root directory: its entries hang from the volume's top.
            u8* read = sector.data() + kCarryRoom;
            std::fill(read, read + fat::kMaxSectorSize, 0);
            if (m_sectorSize > fat::kMaxSectorSize || m_device->ReadSector(read, record.sector, 1) == 0) continue;
            u8* from = read;
            if (rootRunSector + 1 == record.sector && !rootRun.empty()) {
                from -= rootRun.size();
                std::memcpy(from, rootRun.data(), rootRun.size());
            }
            const u32 length = static_cast<u32>(read + m_sectorSize - from);
            FATSecondaryLists secondary;
            const u32 used = children.BuildChildrenFromBuffer(from, length, nullptr, found, secondary, 1, 1);
            found.clear();
            rootRun.clear();
            rootRunSector = record.sector;
            if (used < length && length - used < kCarryRoom) rootRun.assign(from + used, from + length);
            continue;
        }
        // A sub-folder's first sector, where its "." entry says it is.
        if (record.cluster == FIRSTFOLDERSECTOR::kUnknownCluster || !IsFirsectorInCluster(at) ||
            ConvertSectorToClusterNum(at) != record.cluster) {
            continue;
        }
        CFATFileNode* folder = nullptr;
        const auto known = m_folderMap.find(record.cluster);
        if (known != m_folderMap.end()) {
            folder = known->second;
        } else {
            // No entry of a folder built so far names it: a lost folder "DIRn" under its parent's cluster.
            folder = CreateTempFileNode(record.cluster, record.parentCluster);
            if (folder == nullptr) continue;
            if (m_record != nullptr) folder->SetBelongedPartition(static_cast<u16>(m_record->m_partitionIndex));
            if (m_builder == nullptr) {
                m_ownedFolders.emplace_back(folder);
            } else if (m_builder->AddNode(folder, SEARCHER_FAT) == 0) {
                folder->Release();
                continue;
            }
            m_folderMap.emplace(record.cluster, folder);
        }
        FATOpenRun open;
        children.BuildChildren(folder, record.cluster, found, 0, 1, &open);
        found.clear();
        openRuns.Add(open.lastSector, open.bytes.data(), open.bytes.size());
    }
    return BuildLostNode(children, range, openRuns);
}

int CFATBuildWorker::BuildLostNode(CFATBuildChildren& children, std::span<const FIRSTFOLDERSECTOR> records,
                                   OpenRuns& openRuns) {
    const u32 spc = m_geometry.sectorsPerCluster;
    if (spc == 0 || spc > 128 || m_device == nullptr) return 1;
    const u32 clusterBytes = spc * m_sectorSize;
    std::vector<u8> buffer(kCarryRoom + clusterBytes);
    u8* cluster = buffer.data() + kCarryRoom;
    std::vector<IFileNode*> found;
    for (const FIRSTFOLDERSECTOR& record : records) {
        const u64 at = static_cast<u64>(record.sector);
        if (record.cluster != FIRSTFOLDERSECTOR::kUnknownCluster || !IsFirsectorInCluster(at)) continue;
        const u64 number = ConvertSectorToClusterNum(at);
        if (number > 0xFFFFFFFFULL || m_builtClusters.count(static_cast<u32>(number)) != 0) continue;
        if (m_device->ReadSector(cluster, record.sector, spc) == 0) continue;

        u32 from = kCarryRoom;
        const std::vector<u8> carried = openRuns.Take(cluster, record.sector);
        if (!carried.empty()) {
            from -= static_cast<u32>(carried.size());
            std::memcpy(buffer.data() + from, carried.data(), carried.size());
        } else if (IsPiece(cluster)) {
            // Pieces whose name's start was found nowhere: when the first is full, they are not the
            // start of a name and would spell a cut one; the 8.3 entry's own name stands instead.
            char16_t units[13];
            if (CTempFATDirEntry(cluster).GetLongFileNameUnits(units) == 13) {
                while (from - kCarryRoom + kEntry <= clusterBytes && IsPiece(buffer.data() + from)) from += kEntry;
            }
        }

        // Never published: it takes no number from the lost folders' names.
        CFATFileNode* lost = MakeLostFolder("DIR", FIRSTFOLDERSECTOR::kUnknownCluster, record.parentCluster);
        if (lost == nullptr) continue;
        FATSecondaryLists secondary;
        const u32 length = kCarryRoom + clusterBytes - from;
        const u32 used =
            children.BuildChildrenFromBuffer(buffer.data() + from, length, lost, found, secondary, 1, 1);
        found.clear();
        lost->Release();
        // An open run at the cluster's end waits for the cluster of its entry.
        if (used != CFATBuildChildren::kFailed && used < length) {
            openRuns.Add(record.sector + spc - 1, buffer.data() + from + used, length - used);
        }
    }
    return 1;
}
