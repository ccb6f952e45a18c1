#include "bridge/SaveRestore/RestoreScanSink.h"

#include <memory>

#include "bridge/SaveRestore/HFSPlusVolumeCache.h"
#include "bridge/SaveRestore/RestoreFileNode.h"
#include "bridge/SaveRestore/SavedResultFormat.h"
#include "bridge/SaveRestore/SavedResultFrames.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Common/ResultCode.h"
#include "engine/HFSPlusLib/HFSPlusJournal.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace SaveRestoreResult {

using namespace saved_result;

namespace {

// The smallest root: marker, a system-node record with empty names and no runs, P = 0, end marker.
constexpr u64 kMinRootBytes = 4 + 88 + 8 + 4 + 4;

struct NodeReleaser {
    void operator()(IFileNode* node) const {
        if (node) node->Release();
    }
};
using NodePtr = std::unique_ptr<IFileNode, NodeReleaser>;

// The volume that compressed files of a loaded HFS+ root read through: without its catalog, but with
// the deleted extent and attribute records of its journal, where a deleted file's compression
// attribute and overflow extents are found (as the scan found them).
std::unique_ptr<CHFSPlusVolume> OpenCompressedFilesVolume(IStorageDevice* device) {
    auto volume = std::make_unique<CHFSPlusVolume>(device, true);
    if (volume->ServesReads() && volume->GetJournal()) {
        volume->GetJournal()->GetDeleteRecord(nullptr, volume->DeletedCatalog(), volume->DeletedExtents(),
                                              volume->DeletedAttributes());
    }
    return volume;
}

}  // namespace

void CRestoreScanSink::ClearMapCell() {
    for (auto& [type, records] : m_partitions) {
        for (CSearchedPartitionInfo* record : records) delete record;
    }
    m_partitions.clear();
}

std::vector<CSearchedPartitionInfo*>& CRestoreScanSink::GetSearchedPartition(int searcherType) {
    return m_partitions[searcherType];
}

u64 CRestoreScanSink::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                              IStorageDevice* device) {
    m_device = device;
    m_errorCode = 0;
    m_errorField.clear();
    m_errorOffset = -1;
    m_stopped = false;
    if (!m_archive || !builder || !progress) return result::Make(result::kModuleController, 0x103, result::kKindBadArgument);
    if (m_selector) {
        std::optional<Selection> selection = m_selector(device);
        if (!selection) return result::kSuccess;
        m_selection = std::move(*selection);
    }
    try {
        Replay(builder, progress);
    } catch (const CSavedResultError& e) {
        m_errorCode = e.GetErrorcode();
        m_errorField = e.Field();
        m_errorOffset = e.Offset();
    } catch (const CRSException& e) {
        // The archive's own failures while reading (I/O errors) refuse the file as well.
        m_errorCode = kCodeFormat;
        m_errorField = "frame 3 (archive error " + std::to_string(e.GetErrorcode()) + ")";
    } catch (const std::bad_alloc&) {
        m_errorCode = kCodeFormat;
        m_errorField = "frame 3 (out of memory)";
    }
    try {
        m_archive->CloseFrame();
    } catch (const CRSException&) {
    }
    if (m_errorCode != 0) return result::Make(result::kModuleController, 0x104, m_errorCode);
    return result::kSuccess;
}

void CRestoreScanSink::Replay(IDirecotryTreeBuilder* builder, IProgress* progress) {
    OpenSavedFrame(*m_archive, _frFileSystemNode, kCodeFormat, "frame 3 (nodes)");
    ClearMapCell();
    SavedFrameReader in(*m_archive, kCodeFormat);
    const i64 countAt = in.Position();
    const u64 roots = in.U64("root count");
    if (roots > in.Left() / kMinRootBytes) in.Fail("root count", countAt);
    Step();

    bool volumeTaken = false;
    for (u64 r = 0; r < roots; ++r) {
        if (!progress->Continued()) {
            m_stopped = true;
            return;
        }
        const i64 markerAt = in.Position();
        if (in.U32("root marker") != kRootMarker) in.Fail("root marker", markerAt);
        std::unique_ptr<RestoreSystemNode> root(RestoreSystemNode::ReadSystemNode(in));
        const _tagSearcherType type = root->GetSearcheType();
        const std::string volume = root->GetVolumeName();
        bool taken = m_selection.takeAll;
        if (!taken && !volumeTaken && volume == m_selection.volumeName && !m_takenRoots.count(r)) {
            taken = volumeTaken = true;
            m_takenRoots.insert(r);
        }
        if (taken) {
            builder->AddSearcherInfo(type, root->GetCurrentNodeID());
            Step();
        }
        // Its place in the tree is taken by the builder's own root.
        root.reset();

        IFileNode* firstTaken = nullptr;
        const i64 partitionsAt = in.Position();
        const u32 partitions = in.U32("partition count");
        if (partitions > kMaxPartitions) in.Fail("partition count", partitionsAt);
        for (u32 p = 0; p < partitions; ++p) {
            std::unique_ptr<CSearchedPartitionInfo> record(ReadPartitionRecord(in));
            if (taken) m_partitions[type].push_back(record.release());
        }

        for (;;) {
            const i64 nodeAt = in.Position();
            const u32 marker = in.U32("node marker");
            if (marker == kEndMarker) break;
            if (marker != kNodeMarker) in.Fail("node marker", nodeAt);
            if (!progress->Continued()) {
                m_stopped = true;
                break;
            }
            NodePtr node(RestoreFileNode::ReadFileNode(in));
            if (taken && builder->AddNode(node.get(), type)) {
                if (!firstTaken) firstTaken = node.get();
                node.release();
            }
            Step();
        }
        if (taken) {
            builder->FlashBuild(type);
            // Compressed HFS+ files read through a volume of their own root, found from the tree's root.
            IFileNode* top = TopmostAncestor(firstTaken);
            if (type == SEARCHER_HFSPLUS && m_device && top)
                HFSPlusVolumeCache::Instance().Put(top, OpenCompressedFilesVolume(m_device));
        }
        if (m_stopped) return;
    }
}

}  // namespace SaveRestoreResult
