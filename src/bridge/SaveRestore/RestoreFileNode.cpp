#include "bridge/SaveRestore/RestoreFileNode.h"

#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "bridge/SaveRestore/HFSPlusVolumeCache.h"
#include "bridge/SaveRestore/SavedResultFormat.h"
#include "engine/Common/ByteReader.h"
#include "engine/HFSPlusLib/HFSPlusCompressFileReader.h"
#include "engine/NTFSLib/CompressFileReader.h"
#include "engine/NTFSLib/ResidentDataStream.h"
#include "engine/Utility/DataRunList.h"

namespace SaveRestoreResult {

using namespace saved_result;

namespace {

// The longest prefix of name shorter than limit bytes that ends on a UTF-8 character boundary.
std::string CutAtCharacter(const char* name, size_t limit) {
    std::string text = name ? name : "";
    if (text.size() < limit) return text;
    size_t end = limit - 1;
    while (end > 0 && (static_cast<u8>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

bool IsSavedSearcherType(u32 type) { return type >= SEARCHER_HFSPLUS && type <= SEARCHER_APFS; }

}  // namespace

IDataRunList* CRestoredRunList::Clone() {
    auto* copy = new (std::nothrow) CRestoredRunList(m_resident);
    if (!copy) return nullptr;
    for (const auto& run : m_runs) copy->AppendExact(*run);
    return copy;
}

IFileNode* RestoreFileNode::Clone() { return new (std::nothrow) RestoreFileNode(*this); }

IFileNode* RestoreSystemNode::Clone() { return new (std::nothrow) RestoreSystemNode(*this); }

IFileNode* TopmostAncestor(IFileNode* node) {
    IFileNode* top = nullptr;
    // The walk is bounded: a tree deeper than this is not one the builder made.
    IFileNode* at = node ? node->GetParent() : nullptr;
    for (int steps = 0; at && steps < (1 << 20); ++steps) {
        top = at;
        at = at->GetParent();
    }
    return top;
}

IFileReader* RestoreFileNode::CreateCompressFileReader(void*) {
    IFileNode* top = TopmostAncestor(this);
    if (!top) return nullptr;
    switch (top->GetSearcheType()) {
        case SEARCHER_HFSPLUS: {
            CHFSPlusVolume* volume = HFSPlusVolumeCache::Instance().Find(top);
            return volume ? new (std::nothrow) CHFSPlusCompressFileReader(volume, this) : nullptr;
        }
        case SEARCHER_NTFS:
            return new (std::nothrow) CCompressFileReader();
        default:
            return nullptr;
    }
}

int RestoreFileNode::ReadResidentData(IStorageDevice& device, u8* buffer, u32 capacity, i64* length) {
    IDataRunList* runs = GetDataRunList();
    DataRun* first = runs ? runs->GetFirst() : nullptr;
    if (!first || first->start < 0) return 0;
    return GetResidentDataRunsStream(u64(first->start), device, length, buffer, capacity);
}

void RestoreFileNode::WriteFileNode(IFileNode* node, SavedFrameWriter& out) {
    auto* base = dynamic_cast<CFileNode*>(node);
    IDataRunList* runs = base ? base->GetDataRunList() : nullptr;
    std::vector<DataRun> list;
    if (runs) {
        for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext()) list.push_back(*run);
    }

    u8 head[node_layout::kHeadSize] = {};
    ByteWriter w(head, sizeof head);
    w.Le64(node_layout::kId, static_cast<u64>(node->GetCurrentNodeID()));
    w.Le64(node_layout::kParentId, static_cast<u64>(node->GetParentNodeID()));
    w.Le64(node_layout::kSize, static_cast<u64>(node->GetFileSize()));
    w.Le16(node_layout::kAttribute, node->GetAttribute());
    w.Le64(node_layout::kCreation, static_cast<u64>(node->GetCreationTime()));
    w.Le64(node_layout::kModification, static_cast<u64>(node->GetModificationTime()));
    w.Le64(node_layout::kAccess, static_cast<u64>(node->GetLastAccessTime()));
    w.Le32(node_layout::kDirectory, node->IsDirectory());
    w.Le32(node_layout::kDeleted, node->IsDeleted());
    w.Le32(node_layout::kRunCount, static_cast<u32>(list.size()));
    w.Le32(node_layout::kResident, runs ? runs->IsResident() : 0);
    out.Bytes(head, sizeof head);

    for (const DataRun& run : list) {
        u8 bytes[node_layout::kRunSize];
        ByteWriter rw(bytes, sizeof bytes);
        rw.Le64(node_layout::kRunStart, static_cast<u64>(run.start));
        rw.Le64(node_layout::kRunLength, run.length);
        out.Bytes(bytes, sizeof bytes);
    }

    const std::string name = CutAtCharacter(node->GetFileName(), kMaxNodeName);
    out.U32(static_cast<u32>(name.size()));
    out.Bytes(name.data(), name.size());

    u8 tail[node_layout::kTailSize] = {};
    ByteWriter t(tail, sizeof tail);
    t.Le32(node_layout::kShown, static_cast<u32>(node->IsNodeShow()));
    t.Le16(node_layout::kPartition, base ? base->GetBelongedPartition() : CFileNode::kNoPartition);
    t.Le64(node_layout::kMetadata, static_cast<u64>(base ? base->GetMetadataStartPosition() : -1));
    t.Le32(node_layout::kCompressed, node->IsCompressed());
    out.Bytes(tail, sizeof tail);
}

RestoreFileNode* RestoreFileNode::ReadFileNode(SavedFrameReader& in, RestoreFileNode* into) {
    const i64 start = in.Position();
    u8 head[node_layout::kHeadSize];
    in.Read(head, sizeof head, "file-node record");
    const ByteReader h(head, sizeof head);
    const u32 runCount = h.Le32(node_layout::kRunCount).value_or(0);
    // Many runs occur (fragmented files): any count whose runs fit in the frame is taken.
    if (u64{runCount} * node_layout::kRunSize > in.Left()) {
        in.Fail("run count", start + static_cast<i64>(node_layout::kRunCount));
    }
    std::vector<u8> runBytes(size_t{runCount} * node_layout::kRunSize);
    in.Read(runBytes.data(), runBytes.size(), "data runs");
    const i64 nameAt = in.Position();
    const u32 nameLength = in.U32("name length");
    if (nameLength >= kMaxNodeName || nameLength > in.Left()) in.Fail("name length", nameAt);
    std::string name(nameLength, '\0');
    in.Read(name.data(), nameLength, "name");
    u8 tail[node_layout::kTailSize];
    in.Read(tail, sizeof tail, "file-node record tail");
    const ByteReader t(tail, sizeof tail);

    RestoreFileNode* node = into ? into : new RestoreFileNode();
    node->SetCurrentNodeID(static_cast<i64>(h.Le64(node_layout::kId).value_or(0)));
    node->SetParentNodeID(static_cast<i64>(h.Le64(node_layout::kParentId).value_or(0)));
    node->m_size = h.Le64(node_layout::kSize).value_or(0);
    node->m_attribute = h.Le16(node_layout::kAttribute).value_or(0);
    node->m_creation = static_cast<_FILETIME>(h.Le64(node_layout::kCreation).value_or(0));
    node->m_modification = static_cast<_FILETIME>(h.Le64(node_layout::kModification).value_or(0));
    node->m_access = static_cast<_FILETIME>(h.Le64(node_layout::kAccess).value_or(0));
    node->m_directory = h.Le32(node_layout::kDirectory).value_or(0);
    node->m_deleted = h.Le32(node_layout::kDeleted).value_or(0);
    if (runCount > 0) {
        auto* list = new CRestoredRunList(h.Le32(node_layout::kResident).value_or(0));
        const ByteReader r(runBytes.data(), runBytes.size());
        for (u32 i = 0; i < runCount; ++i) {
            const size_t at = size_t{i} * node_layout::kRunSize;
            DataRun run;
            run.start = static_cast<i64>(r.Le64(at + node_layout::kRunStart).value_or(0));
            run.length = r.Le64(at + node_layout::kRunLength).value_or(0);
            list->AppendExact(run);
        }
        node->SetDataRunList(list);
    } else {
        node->SetDataRunList(nullptr);
    }
    node->m_name = std::move(name);
    node->ShowNode(static_cast<int>(t.Le32(node_layout::kShown).value_or(0)));
    node->SetBelongedPartition(t.Le16(node_layout::kPartition).value_or(CFileNode::kNoPartition));
    node->SetMetaDataSector(t.Le64(node_layout::kMetadata).value_or(0));
    node->m_compressed = t.Le32(node_layout::kCompressed).value_or(0);
    return node;
}

void RestoreSystemNode::WriteSystemNode(IFilesystemNode* root, SavedFrameWriter& out) {
    WriteFileNode(root, out);
    out.U32(static_cast<u32>(root->GetSearcheType()));
    const std::string volume = CutAtCharacter(root->GetVolumeName(), kMaxVolumeName);
    out.U32(static_cast<u32>(volume.size()));
    out.Bytes(volume.data(), volume.size());
}

RestoreSystemNode* RestoreSystemNode::ReadSystemNode(SavedFrameReader& in) {
    auto node = std::make_unique<RestoreSystemNode>();
    ReadFileNode(in, node.get());
    const i64 typeAt = in.Position();
    const u32 type = in.U32("searcher type");
    if (!IsSavedSearcherType(type)) in.Fail("searcher type", typeAt);
    const i64 lengthAt = in.Position();
    const u32 length = in.U32("volume name length");
    if (length >= kMaxVolumeName || length > in.Left()) in.Fail("volume name length", lengthAt);
    std::string volume(length, '\0');
    in.Read(volume.data(), length, "volume name");
    node->m_searcherType = static_cast<_tagSearcherType>(type);
    node->m_volumeName = std::move(volume);
    return node.release();
}

void WritePartitionRecord(CSearchedPartitionInfo& record, SavedFrameWriter& out) {
    out.U32(record.GetType());
    u8 bytes[partition_layout::kSize] = {};
    ByteWriter w(bytes, sizeof bytes);
    w.Le16(partition_layout::kIndex, static_cast<u16>(record.m_partitionIndex));
    w.Le32(partition_layout::kFileSystem, record.m_fileSystemType);
    w.Le32(partition_layout::kSectorsPerCluster, record.m_sectorsPerCluster);
    w.Le64(partition_layout::kCluster0Sector, static_cast<u64>(record.m_cluster0Sector));
    w.Le64(partition_layout::kStartSector, static_cast<u64>(record.m_partitionStartSector));
    w.Le64(partition_layout::kMatchCount1, static_cast<u64>(record.m_matchCount1));
    w.Le64(partition_layout::kMatchCount2, static_cast<u64>(record.m_matchCount2));
    w.Le32(partition_layout::kSectorSize, record.m_sectorSize);
    w.Le64(partition_layout::kTotalSectors, static_cast<u64>(record.m_totalSectors));
    w.Le64(partition_layout::kScore, static_cast<u64>(record.m_score));
    w.Le64(partition_layout::kWeight, std::bit_cast<u64>(record.m_weight));
    out.Bytes(bytes, sizeof bytes);
}

CSearchedPartitionInfo* ReadPartitionRecord(SavedFrameReader& in) {
    const i64 kindAt = in.Position();
    const u32 kind = in.U32("partition kind");
    if (kind > kMaxPartitionKind) in.Fail("partition kind", kindAt);
    u8 bytes[partition_layout::kSize];
    in.Read(bytes, sizeof bytes, "partition record");
    const ByteReader r(bytes, sizeof bytes);
    auto* record = new CSearchedPartitionInfo(512);
    record->m_privateData = nullptr;
    record->m_partitionIndex = r.Le16(partition_layout::kIndex).value_or(0);
    record->m_fileSystemType = r.Le32(partition_layout::kFileSystem).value_or(0);
    record->m_sectorsPerCluster = r.Le32(partition_layout::kSectorsPerCluster).value_or(0);
    record->m_cluster0Sector = static_cast<i64>(r.Le64(partition_layout::kCluster0Sector).value_or(0));
    record->m_partitionStartSector = static_cast<i64>(r.Le64(partition_layout::kStartSector).value_or(0));
    record->m_matchCount1 = static_cast<i64>(r.Le64(partition_layout::kMatchCount1).value_or(0));
    record->m_matchCount2 = static_cast<i64>(r.Le64(partition_layout::kMatchCount2).value_or(0));
    record->m_sectorSize = r.Le32(partition_layout::kSectorSize).value_or(0);
    record->m_totalSectors = static_cast<i64>(r.Le64(partition_layout::kTotalSectors).value_or(0));
    record->m_score = static_cast<i64>(r.Le64(partition_layout::kScore).value_or(0));
    record->m_weight = std::bit_cast<double>(r.Le64(partition_layout::kWeight).value_or(0));
    return record;
}

}  // namespace SaveRestoreResult
