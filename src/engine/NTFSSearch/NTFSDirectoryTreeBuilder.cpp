#include "engine/NTFSSearch/NTFSDirectoryTreeBuilder.h"

#include <algorithm>
#include <deque>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/Common/ByteReader.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/NTFSFilePropertiesBuilder.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSIndexRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "engine/NTFSLib/SearchedNTFSPartitionInfo.h"
#include "engine/NTFSSearch/FindFileFromLogFile.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace ntfsdeep;

namespace {

constexpr u32 kRecordSize = 1024;
constexpr i64 kSectorsTested = 16;

// The number of a record: its own when it carries one, else through the table.
i64 RecordNumber(const CNTFSRecordEntry& entry, const CMFTInfo* table, i64 cluster0, u32 spc) {
    const i64 own = entry.info.GetMFTFileRecordNumber();
    if (own != -1 || !table) return own;
    return CMFTDirectoryTreeBuilder::GetMFTNumber(entry.info.GetSectorAddress(), table, cluster0, spc);
}

// The nodes are made on another thread: the lines the tree builder reads first of each lie in another
// processor's cache. Those of the nodes a few places ahead of the one handed over now are asked for
// meanwhile: the node's, then its properties' (once the node's line has come), then its name's (once
// the properties' has). at(d) is the node d places ahead, or null.
template <class At>
void PrefetchAhead(At&& at) {
    if (const CNTFSFileNode* node = at(12)) {
        const char* bytes = reinterpret_cast<const char*>(node);
        __builtin_prefetch(bytes);
        __builtin_prefetch(bytes + 64);
        __builtin_prefetch(bytes + 128);
    }
    if (CNTFSFileNode* node = at(6)) {
        if (const IFileProperties* properties = node->GetFileProperties()) {
            __builtin_prefetch(properties);
            __builtin_prefetch(reinterpret_cast<const char*>(properties) + 64);
        }
    }
    if (CNTFSFileNode* node = at(3)) {
        if (const char* name = node->GetFileName()) __builtin_prefetch(name);
    }
}

// Forgets the parent of every record whose reference names a record of these that now holds
// something else (CCommonFileRecordInfo::ReferenceHolds): such a file is lost. number(i) is the number
// of records[i], or -1.
template <class Number>
void ForgetStaleParents(CNTFSRecordEntries& records, Number&& number) {
    struct State {
        i64 number;
        u16 sequence;
        bool inUse;
    };
    std::vector<State> states;
    states.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const i64 n = number(i);
        if (n >= 0) states.push_back({n, records[i].info.GetSequence(), records[i].info.IsInUse()});
    }
    std::sort(states.begin(), states.end(), [](const State& a, const State& b) { return a.number < b.number; });
    for (CNTFSRecordEntry& entry : records) {
        const i64 parent = entry.info.GetFileRecordNumberofParentDirectory();
        if (parent < 0 || entry.info.GetParentSequence() == 0) continue;
        auto it = std::lower_bound(states.begin(), states.end(), parent,
                                   [](const State& s, i64 key) { return s.number < key; });
        // Two records of one number (copies met twice) tell nothing.
        if (it == states.end() || it->number != parent || (it + 1 != states.end() && (it + 1)->number == parent)) continue;
        if (!CCommonFileRecordInfo::ReferenceHolds(entry.info.GetParentSequence(), it->sequence, it->inUse))
            entry.info.SetFileRecordNumberofParentDirectory(-1);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// One table

i64 CMFTDirectoryTreeBuilder::GetMFTNumber(i64 sector, const CMFTInfo* table, i64 cluster0, u32 spc) {
    if (!table || spc == 0 || sector < cluster0) return -1;
    const i64 d = sector - cluster0;
    const i64 vcn = table->GetDataRunList().GetVCN(d / i64(spc));
    const u32 perRecord = table->GetSectorsPerFileRecord();
    i64 virtualSector = 0;
    if (vcn < 0 || perRecord == 0 || __builtin_mul_overflow(vcn, i64(spc), &virtualSector)) return -1;
    virtualSector += d % i64(spc);
    return virtualSector % perRecord == 0 ? virtualSector / perRecord : -1;
}

CNTFSFileNode* CMFTDirectoryTreeBuilder::MakeNode(CNTFSRecordEntry& entry, i64 number, i64 parent) const {
    if (!entry.properties) return nullptr;
    auto* node = new (std::nothrow) CNTFSFileNode();
    if (!node) return nullptr;
    node->SetFileProperties(entry.properties.release());
    node->SetCurrentNodeID(number);
    node->SetParentNodeID(parent);
    node->SetBelongedPartition(u16(m_partition));
    node->SetMetadataStartPosition(entry.info.GetSectorAddress());
    return node;
}

void CMFTDirectoryTreeBuilder::AddPrepared(Items& items, CNTFSRecordEntry& entry, i64 number, i64 parent) const {
    if (CNTFSFileNode* node = MakeNode(entry, number, parent))
        items.push_back({parent, number, node, node->IsDirectory() != 0});
}

int CMFTDirectoryTreeBuilder::Hand(CNTFSFileNode* node) const {
    if (!node) return 0;
    const int taken = m_builder ? m_builder->AddNode(node, SEARCHER_NTFS) : 0;
    if (!taken) node->Release();
    return taken;
}

void CMFTDirectoryTreeBuilder::BuildChildren(Items& items, i64 folder, std::vector<i64>& queue) {
    auto first = std::lower_bound(items.begin(), items.end(), folder,
                                  [](const CNTFSPreparedNode& e, i64 key) { return e.parent < key; });
    for (auto it = first; it != items.end() && it->parent == folder; ++it) {
        PrefetchAhead([&](ptrdiff_t d) { return items.end() - it > d ? it[d].node : nullptr; });
        // A node handed over is spent.
        CNTFSFileNode* node = std::exchange(it->node, nullptr);
        if (!node) continue;
        // A folder without a number can own nothing (its children's parent numbers are known).
        if (Hand(node) && it->directory && it->number >= 0 && it->number != folder) queue.push_back(it->number);
    }
}

CNTFSPreparedNodes CMFTDirectoryTreeBuilder::PrepareTable(CMFTDirectoryTreeBuildInfo& table) const {
    CNTFSRecordEntries& records = table.records;
    ForgetStaleParents(records, [&](size_t i) { return RecordNumber(records[i], table.mft, m_cluster0, m_spc); });
    // By parent number, records of one parent in the order they were read.
    using RecordSet = std::vector<std::pair<i64, u32>, hugepages::Allocator<std::pair<i64, u32>>>;
    RecordSet set;
    set.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].properties) set.emplace_back(records[i].info.GetFileRecordNumberofParentDirectory(), u32(i));
    }
    // The indexes rise in reading order: sorting the pairs whole keeps that order within a parent, in
    // place (a stable sort would fault in a buffer as large as the set).
    std::sort(set.begin(), set.end());
    CNTFSPreparedNodes nodes;
    nodes.items.reserve(set.size());
    for (const auto& [parent, at] : set) {
        CNTFSRecordEntry& entry = records[at];
        AddPrepared(nodes.items, entry, RecordNumber(entry, table.mft, m_cluster0, m_spc), parent);
    }
    records.clear();
    return nodes;
}

CNTFSPreparedNodes CMFTDirectoryTreeBuilder::PrepareLoose(CNTFSRecordEntries& records) const {
    ForgetStaleParents(records, [&](size_t i) { return records[i].info.GetMFTFileRecordNumber(); });
    CNTFSPreparedNodes nodes;
    nodes.items.reserve(records.size());
    for (auto& entry : records)
        AddPrepared(nodes.items, entry, entry.info.GetMFTFileRecordNumber(),
                    entry.info.GetFileRecordNumberofParentDirectory());
    records.clear();
    // By parent number, records of one parent in the order they came.
    auto byParent = [](const CNTFSPreparedNode& a, const CNTFSPreparedNode& b) { return a.parent < b.parent; };
    if (!std::is_sorted(nodes.items.begin(), nodes.items.end(), byParent))
        std::stable_sort(nodes.items.begin(), nodes.items.end(), byParent);
    return nodes;
}

void CMFTDirectoryTreeBuilder::BuildDirectoryTree(CMFTDirectoryTreeBuildInfo& table) {
    CNTFSPreparedNodes nodes = PrepareTable(table);
    HandTable(nodes);
}

void CMFTDirectoryTreeBuilder::BuildLostFiles(CNTFSRecordEntries& records) {
    CNTFSPreparedNodes nodes = PrepareLoose(records);
    HandLostFiles(nodes);
}

void CMFTDirectoryTreeBuilder::HandTable(CNTFSPreparedNodes& nodes) {
    // Breadth first from the root; a folder is visited once however the numbers loop.
    std::vector<i64> queue;
    std::unordered_set<i64> visited{kRootRecord};
    BuildChildren(nodes.items, kRootRecord, queue);
    for (size_t at = 0; at < queue.size(); ++at) {
        if (!visited.insert(queue[at]).second) continue;
        BuildChildren(nodes.items, queue[at], queue);
    }
    // What the root does not reach, still by parent number.
    HandLostFiles(nodes);
}

void CMFTDirectoryTreeBuilder::HandLostFiles(CNTFSPreparedNodes& nodes) {
    struct Lost {
        CNTFSPreparedNode* item;
        bool handed = false;
        bool accepted = false;
    };
    // The nodes not handed over yet, by parent number (the order of the prepared list).
    std::vector<std::pair<i64, Lost>, hugepages::Allocator<std::pair<i64, Lost>>> lost;
    lost.reserve(nodes.items.size());
    for (CNTFSPreparedNode& item : nodes.items) {
        if (item.node) lost.emplace_back(item.parent, Lost{&item});
    }
    std::unordered_map<i64, const Lost*> folders;
    for (const auto& [parent, l] : lost) {
        if (l.item->directory && l.item->number >= 0) folders.emplace(l.item->number, &l);
    }
    auto hand = [this](Lost& l) {
        l.handed = true;
        l.accepted = Hand(std::exchange(l.item->node, nullptr)) != 0;
    };
    // A parent below kMinLostParent is a system record's ($Extend and the like): what lies below one is
    // system metadata. No parent at all (-1: none named, or a reference to a record that now holds
    // something else) is a lost one.
    const auto systemParent = [](i64 parent) { return parent >= 0 && parent < kMinLostParent; };
    for (auto& [key, folder] : lost) {
        if (!folder.item->directory || systemParent(folder.item->parent)) continue;
        if (!folder.handed) hand(folder);
        const i64 number = folder.item->number;
        if (!folder.accepted || number < 0) continue;
        // Its ancestors among the lost folders: none of them is handed over as its child.
        std::unordered_set<i64> ancestors;
        for (i64 p = folder.item->parent; ancestors.size() <= folders.size() && ancestors.insert(p).second;) {
            auto up = folders.find(p);
            if (up == folders.end()) break;
            p = up->second->item->parent;
        }
        auto child = std::lower_bound(lost.begin(), lost.end(), number,
                                      [](const auto& e, i64 key) { return e.first < key; });
        for (; child != lost.end() && child->first == number; ++child) {
            PrefetchAhead([&](ptrdiff_t d) { return lost.end() - child > d ? child[d].second.item->node : nullptr; });
            Lost& c = child->second;
            if (c.handed || &c == &folder || ancestors.count(c.item->number)) continue;
            hand(c);
        }
        if (m_progress) break;
    }
    // The files left (not below a system record) are lost files too, as the quick scan has them: their
    // parent is missing, holds a file, names the file itself, or is a folder the tree builder refused.
    // One whose parent is no folder of this volume is handed over without a parent, so that no folder of
    // another volume of that number takes it.
    for (auto& [parent, file] : lost) {
        if (m_progress) break;
        if (file.handed || file.item->directory || !file.item->node || systemParent(parent)) continue;
        auto folder = folders.find(parent);
        if (folder != folders.end() && systemParent(folder->second->item->parent)) continue;
        if (folder == folders.end() || parent == file.item->number) file.item->node->SetParentNodeID(-1);
        hand(file);
    }
    // What was not handed over goes with its record.
    nodes.Release();
}

CNTFSPreparedNodes& CNTFSPreparedNodes::operator=(CNTFSPreparedNodes&& other) noexcept {
    if (this != &other) {
        Release();
        items = std::move(other.items);
        other.items.clear();
    }
    return *this;
}

void CNTFSPreparedNodes::Release() {
    for (CNTFSPreparedNode& item : items) {
        if (item.node) item.node->Release();
    }
    items.clear();
}

// ---------------------------------------------------------------------------------------------------
// Node builders

IFilesystemNode* CNTFSFileSystemNodeBuilder::CreateNTFSFileSystemNode(i64, u32, int) { return nullptr; }

CNTFSFileNode* CNTFSLostFilesFolderNodeBuilder::CreateLostFilesFileNode() {
    CNTFSFilePropertiesStruct s;
    s.name = "LostFiles" + std::to_string(++m_count);
    s.nameLength = u16(s.name.size());
    s.attribute = ntfsattr::kDirectory;
    CNTFSFileProperties* properties = CNTFSFileProperties::Create();
    auto* node = properties ? new (std::nothrow) CNTFSFileNode() : nullptr;
    if (!node) {
        delete properties;
        return nullptr;
    }
    properties->Init(s);
    node->SetFileProperties(properties);
    return node;
}

// ---------------------------------------------------------------------------------------------------
// One candidate

IFilesystemNode* CNTFSDirectoryTreeBuilder::BuildDirectoryTree(CNTFSIntelligentSearchInfo* info,
                                                               CSearchedPartitionInfo* candidate, IStorageDevice* device,
                                                               int partitionIndex, IProgress* progress,
                                                               IDirecotryTreeBuilder* builder) {
    CNTFSPreparedPartition prepared = Prepare(info, candidate, device, partitionIndex, progress);
    Hand(prepared, builder);
    return m_result;
}

void CNTFSDirectoryTreeBuilder::Hand(CNTFSPreparedPartition& partition, IDirecotryTreeBuilder* builder) {
    CMFTDirectoryTreeBuilder tree(builder, partition.partitionIndex, partition.cluster0, partition.sectorsPerCluster,
                                  partition.progress);
    for (CNTFSPreparedNodes& nodes : partition.tables) tree.HandTable(nodes);
    // Records outside every table are handed over for the first partition only, as lost folders.
    if (partition.partitionIndex == 0) tree.HandLostFiles(partition.loose);
    partition.tables.clear();
    partition.loose.Release();
}

CNTFSPreparedPartition CNTFSDirectoryTreeBuilder::Prepare(CNTFSIntelligentSearchInfo* info,
                                                          CSearchedPartitionInfo* candidate, IStorageDevice* device,
                                                          int partitionIndex, IProgress* progress) {
    CNTFSPreparedPartition prepared;
    prepared.partitionIndex = partitionIndex;
    prepared.progress = progress;
    m_done = false;
    m_blocks.clear();
    m_pendingLogs.clear();
    m_result = nullptr;
    m_lostFolders.ResetLostFilesFolderCount();
    if (!device) return prepared;
    auto* ntfs = dynamic_cast<CSearchedNTFSPartitionInfo*>(candidate);
    if (!ntfs || !info || ntfs->m_sectorsPerCluster == 0) {
        m_done = true;
        return prepared;
    }
    m_info = info;
    m_candidate = candidate;
    m_device = device;
    m_partition = partitionIndex;
    m_progress = progress;
    m_cluster0 = candidate->m_cluster0Sector;
    m_spc = candidate->m_sectorsPerCluster;
    m_sectors = candidate->m_totalSectors;
    m_keep = ntfs->m_keep != 0;

    // The tables of this volume: an $MFT whose own record lies where its first cluster says, all of
    // whose clusters lie inside the volume.
    std::vector<FindFileMFTAndLogx>* pairs = info->GetFindFileContainer();
    for (size_t i = 0; pairs && i < pairs->size(); ++i) {
        FindFileMFTAndLogx& pair = (*pairs)[i];
        CMFTInfo* mft = pair.mft;
        if (!mft || !NTFSPublicFunction::IsClusterNOMatch(mft->GetSectorAddress(), mft->GetFirstClusterNO(), m_cluster0, m_spc))
            continue;
        i64 highest = -1;
        for (const CDataRun& run : mft->GetDataRunList().Runs()) {
            i64 end = 0;
            if (run.lcn >= 0 && run.length > 0 && !__builtin_add_overflow(run.lcn, run.length - 1, &end))
                highest = std::max(highest, end);
        }
        i64 reach = 0;
        if (highest < 0 || __builtin_mul_overflow(highest, i64(m_spc), &reach) || reach >= m_sectors) continue;
        if (!pair.reader) pair.reader.reset(new (std::nothrow) CFindFileFromLogFile());
        // The log is read and analysed when a record first needs it (most volumes have no deleted file
        // of size 0).
        if (pair.reader && !pair.reader->IsDone() &&
            pair.reader->Init(device, &mft->GetDataRunList(), mft->GetSectorsPerCluster(), m_cluster0))
            m_pendingLogs.push_back(pair.reader.get());
        auto table = std::make_unique<CMFTDirectoryTreeBuildInfo>();
        table->mft = mft;
        table->root.reset(new (std::nothrow) CNTFSFileNode());
        if (table->root) {
            table->root->SetCurrentNodeID(kRootRecord);
            table->root->SetBelongedPartition(u16(partitionIndex));
        }
        m_tables.push_back(std::move(table));
    }

    m_expected = 0;
    if (CNTFSPrebuiltRecords* prebuilt = info->GetPrebuiltRecords(); prebuilt && m_sectors > 0) {
        i64 last = 0;
        if (__builtin_add_overflow(m_cluster0, m_sectors, &last)) last = INT64_MAX;
        const auto [begin, end] = prebuilt->Range(m_cluster0, last);
        m_expected = end - begin;
    }
    ReadFileProperties();
    prepared.cluster0 = m_cluster0;
    prepared.sectorsPerCluster = m_spc;
    const CMFTDirectoryTreeBuilder tree(nullptr, partitionIndex, m_cluster0, m_spc, progress);
    for (auto& table : m_tables) prepared.tables.push_back(tree.PrepareTable(*table));
    m_result = CNTFSFileSystemNodeBuilder::CreateNTFSFileSystemNode(m_cluster0, m_spc, partitionIndex);
    // Records outside every table go over for the first partition only.
    if (partitionIndex == 0) prepared.loose = tree.PrepareLoose(m_loose);
    m_tables.clear();
    m_loose.clear();
    m_pendingLogs.clear();
    for (size_t i = 0; pairs && i < pairs->size(); ++i) {
        if ((*pairs)[i].reader) (*pairs)[i].reader->Reset();
    }
    m_done = true;
    return prepared;
}

void CNTFSDirectoryTreeBuilder::ReadFileProperties() {
    std::list<CCommonFileRecordPositionInfo>* positions = m_info->GetCommonFileRecordPositionInfoList();
    if (!positions || m_sectors <= 0) return;
    i64 end = 0;
    if (__builtin_add_overflow(m_cluster0, m_sectors, &end)) return;
    // The first record at or after `from` of the entry (its records lie 2 sectors apart), or -1.
    auto firstAtOrAfter = [](const CCommonFileRecordPositionInfo& p, i64 from) -> i64 {
        const i64 first = p.GetFileRecordStartSector();
        const i64 count = p.GetFileRecordCount();
        if (count <= 0) return -1;
        const i64 k = from <= first ? 0 : (from - first + 1) / 2;
        return k < count ? first + 2 * k : -1;
    };
    auto it = positions->begin();
    i64 current = -1;
    for (; it != positions->end(); ++it) {
        current = firstAtOrAfter(*it, m_cluster0);
        if (current >= 0 && current <= end) break;
    }
    if (it == positions->end()) return;
    const i64 total = m_device->GetTotalSectors();
    while (current >= 0 && current < end) {
        const i64 b = current;
        const i64 length = std::min<i64>(BLOCK_MAX_TOTAL_SECTORS, end - b);
        // On to the first record at or after the end of this block, across entries.
        const i64 next = std::min(b + BLOCK_MAX_TOTAL_SECTORS, end);
        current = -1;
        for (; it != positions->end(); ++it) {
            current = firstAtOrAfter(*it, next);
            if (current >= 0) break;
        }
        if (length > 0 && b < total) {
            ReadFilePropertiesfromBlock(b, u32(std::min(length, total - b)));
            if (m_progress) break;
        }
        if (it == positions->end()) break;
    }
}

void CNTFSDirectoryTreeBuilder::ReadFilePropertiesfromBlock(i64 first, u32 sectors) {
    if (sectors == 0 || sectors > BLOCK_MAX_TOTAL_SECTORS) return;
    const u32 s = m_device->GetSectorSize();
    if (s == 0) return;
    if (TakePrebuiltRecords(first, sectors)) {
        m_blocks.emplace_back(first, sectors);
        return;
    }
    // One buffer of 128 sectors serves every block; what a block does not fill is zeros.
    std::vector<u8>& buffer = m_blockBuffer;
    buffer.resize(size_t(BLOCK_MAX_TOTAL_SECTORS) * s);
    if (!m_device->ReadSector(buffer.data(), first, sectors)) return;
    std::fill(buffer.begin() + i64(sectors) * s, buffer.end(), 0);
    m_blocks.emplace_back(first, sectors);
    const int size = int(std::max(kRecordSize, s));
    for (u32 i = 0; i < sectors; ++i) {
        const i64 available = i64(s) * std::min<i64>(sectors - i, kSectorsTested);
        if (available < size) continue;
        u8* record = buffer.data() + size_t(i) * s;
        // The record is validated once, by the build below; a sector that is no record start ends here.
        if (!ByteReader(record, s).Equals(0, "FILE") || CNTFSFileRecord::IsExtendFileRecord(record, size)) continue;
        CMFTDirectoryTreeBuildInfo* table = m_keep ? FindMatchedMFT(first + i) : nullptr;
        BuildCommonFileRecordInfoandFileProperties(record, size, first + i, table);
    }
}

bool CNTFSDirectoryTreeBuilder::TakePrebuiltRecords(i64 first, u32 sectors) {
    CNTFSPrebuiltRecords* prebuilt = m_info->GetPrebuiltRecords();
    const u32 s = m_device->GetSectorSize();
    if (!prebuilt || !prebuilt->Covers(first, first + sectors)) return false;
    const i64 size = std::max(kRecordSize, s);
    // The records the block would build: those that fit the block as it would be read.
    auto fits = [&](i64 sector) { return i64(s) * std::min<i64>(first + sectors - sector, kSectorsTested) >= size; };
    const auto [begin, end] = prebuilt->Range(first, first + sectors);
    for (size_t i = begin; i != end; ++i) {
        const CNTFSPrebuiltRecords::Record& r = prebuilt->At(i);
        if (fits(r.sector) && (r.kind == CNTFSPrebuiltRecords::kNotBuilt ||
                               (r.kind == CNTFSPrebuiltRecords::kBuilt && !r.entry.properties)))
            return false;
    }
    // (Their data is resident or absent, which the size adjustment of the records read below leaves
    // alone: it only sizes lists of clusters.)
    for (size_t i = begin; i != end; ++i) {
        CNTFSPrebuiltRecords::Record& r = prebuilt->At(i);
        if (r.kind != CNTFSPrebuiltRecords::kBuilt || !fits(r.sector)) continue;
        CMFTDirectoryTreeBuildInfo* table = m_keep ? FindMatchedMFT(r.sector) : nullptr;
        AddEntry(std::move(r.entry), r.sector, table);
    }
    return true;
}

CMFTDirectoryTreeBuildInfo* CNTFSDirectoryTreeBuilder::FindMatchedMFT(i64 sector) {
    if (sector < m_cluster0) return nullptr;
    const i64 lcn = (sector - m_cluster0) / i64(m_spc);
    for (auto& table : m_tables) {
        if (table->mft->GetDataRunList().IsLCNContained(lcn)) return table.get();
    }
    return nullptr;
}

bool CNTFSDirectoryTreeBuilder::BuildRecordProperties(const CNTFSFileRecord& record, i64 s, IStorageDevice* device,
                                                      const CExtendFileRecordInfoList* extensions, i64 bytesPerCluster,
                                                      CNTFSRecordEntry& entry) {
    CNTFSMultiFileRecord multi(record, s, device, extensions);
    i64 parent = -1;
    std::unique_ptr<CNTFSFileProperties> properties(
        CNTFSFilePropertiesBuilder::BuildFileProperties(s, multi, bytesPerCluster, &parent));
    if (!properties) return false;
    if (entry.info.GetFileRecordNumberofParentDirectory() == -1 && parent != -1)
        entry.info.SetFileRecordNumberofParentDirectory(parent);
    entry.properties = std::move(properties);
    return true;
}

void CNTFSDirectoryTreeBuilder::BuildCommonFileRecordInfoandFileProperties(u8* buffer, int size, i64 s,
                                                                          CMFTDirectoryTreeBuildInfo* table) {
    // A record the scan found valid at this sector has its attributes walked, not checked again.
    const CValidFileRecordSectors* valid = m_info->GetValidFileRecordSectors();
    CNTFSFileRecord record(buffer, size, 0, valid && valid->Contains(s));
    CNTFSRecordEntry entry;
    if (!record.IsValid() || !entry.info.InitFromBuffer(record, s)) return;
    if (CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record)) return;
    std::unique_ptr<CExtendFileRecordInfoList> extensions;
    if (table && record.GetAttributeOffset(ntfs::attr::kAttributeList, 0) != 0xFFFFFFFF)
        extensions = InitExtendFileRecord(record.GetBuffer(), u32(size), s, m_spc, m_cluster0, *m_device,
                                          &table->mft->GetDataRunList(), table->mft->GetSectorsPerFileRecord());
    if (!BuildRecordProperties(record, s, m_device, extensions.get(), i64(m_spc) * m_device->GetSectorSize(), entry))
        return;
    CNTFSFileProperties* properties = entry.properties.get();
    CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(properties, m_spc);
    if (properties->GetFileSize() == 0 && !(properties->GetAttribute() & ntfsattr::kDirectory)) {
        for (CFindFileFromLogFile* log : m_pendingLogs) log->Analyzer();
        m_pendingLogs.clear();
        std::vector<FindFileMFTAndLogx>* pairs = m_info->GetFindFileContainer();
        for (size_t i = 0; pairs && i < pairs->size(); ++i) {
            CFindFileFromLogFile* reader = (*pairs)[i].reader.get();
            if (reader && reader->IsDone() && reader->ReplaceFileRecordInfo(record.GetBuffer(), *properties, -1, extensions.get()))
                break;
        }
    }
    properties->SetExtendFileRecordInfoList(std::move(extensions));
    AddEntry(std::move(entry), s, table);
}

void CNTFSDirectoryTreeBuilder::AddEntry(CNTFSRecordEntry entry, i64 s, CMFTDirectoryTreeBuildInfo* table) {
    if (table && entry.info.GetMFTFileRecordNumber() == -1)
        entry.info.SetMFTFileRecordNumber(CMFTDirectoryTreeBuilder::GetMFTNumber(s, table->mft, m_cluster0, m_spc));
    CNTFSRecordEntries& records = table ? table->records : m_loose;
    // Sized once for the records the scan kept of the volume when they all go to one list (room that
    // stays unused is never touched).
    if (records.empty() && m_tables.size() == (table ? 1u : 0u)) records.reserve(m_expected);
    records.push_back(std::move(entry));
}

// ---------------------------------------------------------------------------------------------------
// The scan's records

void CNTFSPrebuiltRecords::Drop() {
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_count = 0;
}

void CNTFSPrebuiltRecords::Reset() {
    Drop();
    m_scannedEnd = 0;
    m_usable = true;
}

void CNTFSPrebuiltRecords::Scanned(i64 first, i64 count) {
    if (first == m_scannedEnd && count > 0) m_scannedEnd = first + count;
}

void CNTFSPrebuiltRecords::Add(const CNTFSFileRecord& record, i64 sector, u32 metaFileIndex) {
    if (!m_usable || !record.IsValid()) return;
    if ((m_count != 0 && sector <= At(m_count - 1).sector) || m_count >= kMaxRecords) {
        // The store would miss records: the tree build reads every block.
        m_usable = false;
        Drop();
        return;
    }
    if (m_blocks.empty() || m_blocks.back().size() == kBlockRecords) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(kBlockRecords);
    }
    Record& r = m_blocks.back().emplace_back(Record{sector, kNothing, {}});
    ++m_count;
    // What the build makes of it, as it would make it from the block: extension and system records
    // make no entry; one with an attribute list, data in clusters (sized by the partition's clusters)
    // or of size 0 (the log may tell more) is read then.
    if (!CNTFSFileRecord::IsExtendFileRecord(record.GetBuffer(), record.GetSize()) &&
        r.entry.info.InitFromBuffer(record, sector) &&
        !CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecordOfIndex(record, metaFileIndex)) {
        bool clusters = false;
        for (u32 n = 0;; ++n) {
            const ByteReader a = record.FindAttibute(ntfs::attr::kData, n);
            if (a.empty()) break;
            if (CNTFSFileRecordAttribute::IsNamed(a)) continue;
            clusters = !CNTFSFileRecordAttribute::IsResident(a);
            break;
        }
        if (clusters || record.GetAttributeOffset(ntfs::attr::kAttributeList, 0) != 0xFFFFFFFF) {
            r.kind = kNotBuilt;
        } else if (CNTFSDirectoryTreeBuilder::BuildRecordProperties(record, sector, nullptr, nullptr, 512, r.entry)) {
            CNTFSFileProperties& p = *r.entry.properties;
            r.kind = kBuilt;
            if (p.GetFileSize() == 0 && !(p.GetAttribute() & ntfsattr::kDirectory)) {
                r.kind = kNotBuilt;
                r.entry.properties.reset();
            }
        }
    }
}

size_t CNTFSPrebuiltRecords::LowerBound(i64 sector) const {
    size_t low = 0, high = m_count;
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (At(mid).sector < sector) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

std::pair<size_t, size_t> CNTFSPrebuiltRecords::Range(i64 first, i64 end) const {
    const size_t begin = LowerBound(first);
    return {begin, std::max(begin, LowerBound(end))};
}

const CNTFSPrebuiltRecords::Record* CNTFSPrebuiltRecords::Find(i64 sector) const {
    const size_t at = LowerBound(sector);
    return at < m_count && At(at).sector == sector ? &At(at) : nullptr;
}
