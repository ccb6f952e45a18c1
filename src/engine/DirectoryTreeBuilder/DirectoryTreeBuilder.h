// Builds one result tree per searcher type under a synthetic root, links nodes under their parents as
// their chains reach the root, drops duplicates and hidden entries, handles trash and recycle-bin
// folders and publishes finished nodes in batches to the receiver.
//
// Ownership: a node handed to AddNode is the builder's exactly when AddNode answers 1; it is then kept
// in one owning set and released once (by ReleaseNodeByFilter when it was never published and is
// linked nowhere, else by the destructor). A refused node is the caller's and is never referenced.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/Common/HugePages.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/DirectoryTreeBuilder/FilesystemNode.h"
#include "engine/DirectoryTreeBuilder/NodeList.h"
#include "engine/DirectoryTreeBuilder/NodesById.h"
#include "engine/DirectoryTreeBuilder/PendingNodes.h"
#include "engine/DirectoryTreeBuilder/ReleasedFiles.h"

// The nodes recorded per ID (lookups by ID; a walk in ID order sorts first).
using NodesById = CNodesById;

struct _DIRECTORY_TREE_INFO {
    _tagSearcherType type = SEARCHER_NONE;
    CPendingNodes pending;
    // What the next build climbs (arrival numbers: those queued in rising order, the rest in a min-heap):
    // the pending nodes whose climb could do something. A node whose climb did nothing waits under the
    // parent ID it looked up until a folder of that ID is recorded or marked deleted. Woken during a
    // build behind the node being climbed: climbed in the next build. Nodes that came in already linked
    // are checked once for the tree.
    std::vector<u64> climbRising;
    std::vector<u64> climbHeap;
    std::vector<u64> climbLater;
    std::unordered_map<i64, std::vector<u64>> waiting;
    std::vector<u64> arrivedLinked;
    bool building = false;
    u64 climbing = 0;
    bool climbAll = false;
    std::vector<CFileNode*> trashCandidates;
    NodesById folders;
    NodesById files;
    // For an ID under which many files are recorded (cross-linked FAT entries share their first
    // cluster): those files by parent ID and name, in the order they were recorded. A file equals a
    // recorded one only with both the same, so its duplicate test looks at those alone. Made when the
    // ID's list grows long; dropped when a node leaves the list.
    std::unordered_map<i64, std::unordered_map<std::string, CNodeList>> fileIndexes;
    std::vector<i64> privateDataIds;
    // The live files released as they came (a quick scan lists none of them).
    CReleasedFiles released;
    std::unique_ptr<CFilesystemNode> root;
    i64 rootId = 0;
    i64 trashId = 0;
    i32 pendingCount = 0;
    i64 publishedCount = 0;
    i64 addedCount = 0;
    i64 lastBuild = 0;
    bool rootPublished = false;
    bool trashSettled = false;
};

class CDirectoryTreeBuilder : public IDirecotryTreeBuilder {
public:
    static constexpr i32 kBuildBatch = 1024;
    static constexpr i64 kBuildSeconds = 3;
    static constexpr int kFirstPublishSleepMs = 1000;

    explicit CDirectoryTreeBuilder(bool restoring);
    ~CDirectoryTreeBuilder() override;
    CDirectoryTreeBuilder(const CDirectoryTreeBuilder&) = delete;
    CDirectoryTreeBuilder& operator=(const CDirectoryTreeBuilder&) = delete;

    int Initialize(const char* deviceName, IDrirectoryTree* tree, IRecoveryFilter* filter) override;
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) override;
    void FlashBuild(_tagSearcherType type) override;
    void Release() override { delete this; }
    void SetPartitonDevice(CSearchedPartitionInfo* record, IStorageDevice* device) override;
    // Makes room for `count` more nodes of the searcher's tree at once (at most kMostExpected): its file
    // table, pending list and climb queue, and the node states. Folders are left to grow (few).
    void ExpectNodes(_tagSearcherType type, u64 count) override;
    static constexpr u64 kMostExpected = u64(1) << 22;

    // The clock (whole seconds) and the sleep of the builder; tests make them instant.
    void SetClock(std::function<i64()> nowSeconds, std::function<void(int ms)> sleepMs);
    // The clock and sleep that builders made from now on start with (benchmarks time the scan without
    // the first-publish pause); empty functions restore the real ones.
    static void SetDefaultClock(std::function<i64()> nowSeconds, std::function<void(int ms)> sleepMs);
    // Every build climbs every pending node instead of only those whose climb can change something.
    // Both give the same trees and publish order; tests compare them.
    void SetClimbEveryPending(bool every) { m_climbEveryPending = every; }
    // Live files of a quick scan that nothing will list are released as they come (the default), or kept
    // to the end. Both give the same trees and publish order; tests compare them.
    void SetReleaseLiveFiles(bool release) { m_releaseLiveFiles = release; }
    u64 ClimbCount() const { return m_climbs; }
    // Recorded nodes a new node was compared with in the duplicate test, in all.
    u64 DuplicateTestCount() const { return m_duplicateTests; }

    const std::string& GetDeviceName() const { return m_deviceName; }
    _DIRECTORY_TREE_INFO* FindRecord(_tagSearcherType type);
    size_t OwnedNodeCount() const { return m_ownedCount; }
    // Live files of a quick scan that were released as they came, of every tree.
    size_t ReleasedFileCount() const { return m_releasedCount; }

    static CFileNode* GetCorrectParent(i64 trashId, const std::vector<CFileNode*>& candidates, CFileNode* node);
    // True when no node below folder is a file (a walk of everything below it).
    static bool IsEmptyFolder(CFileNode* folder);
    static CFileNode* GetCorrectParent(i64 trashId, CFileNode* const* candidates, size_t count, CFileNode* node);

private:
    // What the builder knows of one node, found through the node's slot number: owned, published, its
    // arrival number while pending, and what the climbs know of the tree's shape.
    struct NodeState {
        CFileNode* node = nullptr;     // null once released
        CFileNode* topHint = nullptr;  // the highest ancestor found so far
        u64 seq = 0;
        u64 seen = 0;  // the walk of TakeNewlyInTree that last passed here
        bool pending = false;
        bool owned = false;
        bool published = false;
        bool holdsFile = false;
        bool trashCandidate = false;  // a folder that the end of the scan may still make the trash
        bool settled = false;         // a folder that stays live whatever comes: see InSettledFolder
    };
    NodeState* StateOf(CFileNode* node) {
        const u32 slot = node->GetBuilderSlot();
        return slot < m_states.size() && m_states[slot].node == node ? &m_states[slot] : nullptr;
    }
    NodeState& StateFor(CFileNode* node);
    bool FindPending(_DIRECTORY_TREE_INFO& record, CFileNode* node, u64& seq);

    struct Held {
        CFileNode* node;
        _tagSearcherType type;
    };

    CFileNode* AsFileNode(IFileNode* in);
    int AddNodeInternal(CFileNode* node, _tagSearcherType type);
    int Accept(_DIRECTORY_TREE_INFO& record, CFileNode* node, _tagSearcherType type);
    bool TakePrivateDataFolder(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    using FileIndexes = std::unordered_map<i64, std::unordered_map<std::string, CNodeList>>;
    // Records node under its ID unless it duplicates a recorded node (0 then). fileIndexes: the
    // record's indexes when node is a file.
    int RecordFileNode(NodesById& map, CFileNode* node, FileIndexes* fileIndexes = nullptr);
    // True when a node equal to node (the duplicate test) was recorded, merging node into it where the
    // test says so.
    bool IsRecordedDuplicate(NodesById& map, CFileNode* node, FileIndexes* fileIndexes = nullptr);
    // Adds node to its ID's list, and to the ID's index when it has one.
    void AddRecorded(NodesById& map, CFileNode* node, FileIndexes* fileIndexes);
    // A file's place in its ID's index: its parent ID and name.
    static std::string IndexKeyOf(CFileNode* node);
    // A live file that no listing or tree can ever need: answers 0 for it, as for a refused node, and
    // remembers it for the duplicate test.
    bool ReleaseUnlistedLiveFile(_DIRECTORY_TREE_INFO& record, CFileNode* node, _tagSearcherType type);
    bool InSettledFolder(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    CFileNode* FindParent(_DIRECTORY_TREE_INFO& record, CFileNode* node, bool rootToo, bool* onlyOne = nullptr);
    size_t BuildTree(_DIRECTORY_TREE_INFO& record, std::vector<CFileNode*>& out, _tagSearcherType type, bool force);
    enum class ClimbStart { Linked, Waits, Retry };
    ClimbStart Climb(_DIRECTORY_TREE_INFO& record, CFileNode* node, _tagSearcherType type);
    void ClimbEveryPending(_DIRECTORY_TREE_INFO& record, _tagSearcherType type);
    void ClimbWoken(_DIRECTORY_TREE_INFO& record, _tagSearcherType type, u64 walk);
    void TakeNewlyInTree(_DIRECTORY_TREE_INFO& record, std::vector<CFileNode*>& out, u64 walk);
    void AddPending(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    void ErasePending(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    void ClearPending(_DIRECTORY_TREE_INFO& record);
    void Wake(_DIRECTORY_TREE_INFO& record, i64 parentId);
    void WakeNode(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    void QueueClimb(_DIRECTORY_TREE_INFO& record, u64 seq);
    bool IsInTree(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    CFileNode* TopOf(CFileNode* node);
    bool IsKnownEmptyFolder(CFileNode* folder);
    void ForgetTreeShape();
    void BuildForcedUntilDone(_DIRECTORY_TREE_INFO& record, _tagSearcherType type);
    void ShowNodes(_DIRECTORY_TREE_INFO& record, std::vector<CFileNode*>& nodes, int lost);
    bool IsPublished(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    void MarkAllDeletedFiles(_DIRECTORY_TREE_INFO& record);
    void BuildLostNodes(_DIRECTORY_TREE_INFO& record, _tagSearcherType type);
    void ReleaseNodeByFilter(_DIRECTORY_TREE_INFO& record);
    void Forget(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    void ReleaseOwned(CFileNode* node);
    static std::string NameOf(CFileNode* node);

    // Trash and recycle bin (TrashAndRecycleBin.cpp).
    static bool IsTrashName(std::string_view name);
    bool IsUserTrashFolder(_DIRECTORY_TREE_INFO& record, CFileNode* node);
    void SettleTrashFromCandidates(_DIRECTORY_TREE_INFO& record);
    bool InsertToRecycleBin(CFileNode* node, _tagSearcherType type);
    void RestoreRecycleName(_tagSearcherType type);
    void RestorFileName(CFileNode* node, _tagSearcherType type);

    bool m_restoring;
    std::vector<std::unique_ptr<_DIRECTORY_TREE_INFO>> m_records;
    IDrirectoryTree* m_tree = nullptr;
    IRecoveryFilter* m_filter = nullptr;
    std::string m_deviceName;
    std::vector<Held> m_recycleContent;
    std::vector<Held> m_recycleFolders;
    std::vector<Held> m_recycleIndexes;
    std::vector<std::pair<_tagSearcherType, i64>> m_recycleFolderIds;
    IStorageDevice* m_device = nullptr;
    CSearchedPartitionInfo* m_partition = nullptr;
    bool m_flushing = false;
    bool m_climbEveryPending = false;
    bool m_releaseLiveFiles = true;
    u64 m_climbs = 0;
    u64 m_duplicateTests = 0;
    std::vector<CFileNode*> m_linkedNow;  // linked by the running build
    // What the climbs know of the trees' shape. Until the lost files are gathered, links are only ever
    // added, so an ancestor of a node stays its ancestor and a folder with a file below it keeps it:
    // each node remembers the highest ancestor found so far, and folders known to hold a file are kept.
    // With these a climb costs about as much as the links it makes, however deep the folders nest.
    std::vector<NodeState, hugepages::Allocator<NodeState>> m_states;  // by slot number; a released node's slot stays empty
    std::vector<CFileNode*> m_walk;   // scratch of TakeNewlyInTree
    std::vector<CFileNode*> m_chain;  // scratch of InSettledFolder
    std::vector<std::pair<u64, CFileNode*>> m_taken;  // (arrival number, node) taken by the running build
    u64 m_seenWalk = 0;

    size_t m_ownedCount = 0;
    size_t m_releasedCount = 0;
    static constexpr size_t kKnownNodeTypes = 8;
    std::vector<const std::type_info*> m_fileNodeTypes;  // node types known to be CFileNodes
    // Empty: the system's coarse monotonic clock, read without a call through std::function (a read per
    // node).
    std::function<i64()> m_now;
    std::function<void(int)> m_sleep;
    i64 Now() const;
};
