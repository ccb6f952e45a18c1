#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <span>
#include <thread>
#include <time.h>

#include "engine/Common/DebugChannel.h"
#include "engine/Common/IDrirectoryTree.h"
#include "engine/Common/ReserveAtLeast.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/ResultTreeLock.h"

namespace {

const char* kPrivateDataName = "HFS+ Private Data";

const char* SuffixOf(_tagSearcherType type) {
    switch (type) {
        case SEARCHER_HFSPLUS:
            return "(HFS+)";
        case SEARCHER_FAT:
            return "(FAT/FAT32)";
        case SEARCHER_EXFAT:
            return "(ExFat)";
        case SEARCHER_RAW:
            return "(RAW Files)";
        case SEARCHER_NTFS:
            return "(NTFS)";
        case SEARCHER_RAW_TAG:
            return "(Label RAW Files)";
        case SEARCHER_APFS:
            return "(APFS)";
        default:
            return nullptr;
    }
}

template <class List>
void Erase(List& nodes, CFileNode* node) {
    nodes.erase(std::remove(nodes.begin(), nodes.end(), node), nodes.end());
}

void EraseFromMap(NodesById& map, CFileNode* node) {
    if (_PARENT_INFO* entry = map.Find(node->GetCurrentNodeID())) Erase(entry->nodes, node);
}

std::function<i64()>& DefaultNow() {
    static std::function<i64()> now;
    return now;
}

std::function<void(int)>& DefaultSleep() {
    static std::function<void(int)> sleep;
    return sleep;
}

}  // namespace

std::string CDirectoryTreeBuilder::NameOf(CFileNode* node) {
    const char* name = node->GetFileName();
    return name ? name : "";
}

IDirecotryTreeBuilder* CreateTreeBuilder(bool restoring) {
    return new CDirectoryTreeBuilder(restoring);
}

CDirectoryTreeBuilder::CDirectoryTreeBuilder(bool restoring) : m_restoring(restoring) {
    m_sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    if (DefaultNow()) m_now = DefaultNow();
    if (DefaultSleep()) m_sleep = DefaultSleep();
}

// Whole seconds of a monotonic clock. The builder reads it once per node for its three-second rule: the
// coarse clock (a few milliseconds behind at most) is read without the timer instruction.
i64 CDirectoryTreeBuilder::Now() const {
    if (m_now) return m_now();
#ifdef CLOCK_MONOTONIC_COARSE
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) == 0) return static_cast<i64>(now.tv_sec);
#endif
    return static_cast<i64>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

void CDirectoryTreeBuilder::SetDefaultClock(std::function<i64()> nowSeconds, std::function<void(int ms)> sleepMs) {
    DefaultNow() = std::move(nowSeconds);
    DefaultSleep() = std::move(sleepMs);
}

CDirectoryTreeBuilder::~CDirectoryTreeBuilder() {
    // The windows may still walk the trees: unlink and free under the result-tree lock.
    SimpleLock hold(&g_lockerAddData);
    for (NodeState& state : m_states) {
        if (state.node && state.owned) state.node->Release();
    }
    m_states.clear();
    m_ownedCount = 0;
    m_records.clear();  // the roots
}

void CDirectoryTreeBuilder::SetClock(std::function<i64()> nowSeconds, std::function<void(int ms)> sleepMs) {
    if (nowSeconds) m_now = std::move(nowSeconds);
    if (sleepMs) m_sleep = std::move(sleepMs);
}

int CDirectoryTreeBuilder::Initialize(const char* deviceName, IDrirectoryTree* tree, IRecoveryFilter* filter) {
    if (!deviceName || !tree || !filter) return 0;
    m_deviceName = *deviceName ? deviceName : "Disk";
    m_tree = tree;
    m_filter = filter;
    m_flushing = false;
    return 1;
}

void CDirectoryTreeBuilder::SetPartitonDevice(CSearchedPartitionInfo* record, IStorageDevice* device) {
    m_partition = record;
    m_device = device;
}

void CDirectoryTreeBuilder::ExpectNodes(_tagSearcherType type, u64 count) {
    _DIRECTORY_TREE_INFO* record = FindRecord(type);
    if (!record || count == 0) return;
    // A hint, not a promise: a wrong count costs room or growth, never another tree.
    const size_t more = static_cast<size_t>(std::min(count, kMostExpected));
    record->files.Reserve(record->files.size() + more);
    record->pending.Reserve(more);
    ReserveAtLeast(m_states, m_states.size() + more);
}

_DIRECTORY_TREE_INFO* CDirectoryTreeBuilder::FindRecord(_tagSearcherType type) {
    for (auto& record : m_records) {
        if (record->type == type) return record.get();
    }
    return nullptr;
}

int CDirectoryTreeBuilder::AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) {
    if (_DIRECTORY_TREE_INFO* existing = FindRecord(type)) {
        // Another root ID: the folders found settled were settled below the old one. (The quick
        // searchers, whose files are released, register their root once, before any node.)
        if (existing->rootId != rootFolderID) {
            for (NodeState& state : m_states) state.settled = false;
        }
        existing->rootId = rootFolderID;
        existing->root->SetCurrentNodeID(rootFolderID);
        existing->climbAll = true;  // every parent lookup may answer differently now
        return 1;
    }
    const char* suffix = SuffixOf(type);
    if (!suffix) return 0;
    auto record = std::make_unique<_DIRECTORY_TREE_INFO>();
    record->type = type;
    record->rootId = rootFolderID;
    record->root = std::make_unique<CFilesystemNode>(rootFolderID, type, m_deviceName + suffix, m_deviceName);
    record->lastBuild = Now();
    m_records.push_back(std::move(record));
    return 1;
}

// The node as a CFileNode, or null. The node types of a scan are few: a type found to be a CFileNode once is
// cast without dynamic_cast's walk of the class chain (IFileNode is a single, non-virtual base of CFileNode).
CFileNode* CDirectoryTreeBuilder::AsFileNode(IFileNode* in) {
    if (!in) return nullptr;
    const std::type_info& type = typeid(*in);
    // The same type_info object first: comparing two different types by name is a string compare.
    for (const std::type_info* known : m_fileNodeTypes) {
        if (known == &type) return static_cast<CFileNode*>(in);
    }
    for (const std::type_info* known : m_fileNodeTypes) {
        if (*known == type) return static_cast<CFileNode*>(in);
    }
    auto* node = dynamic_cast<CFileNode*>(in);
    if (node && m_fileNodeTypes.size() < kKnownNodeTypes) m_fileNodeTypes.push_back(&type);
    return node;
}

int CDirectoryTreeBuilder::AddNode(IFileNode* in, _tagSearcherType type) {
    CFileNode* node = AsFileNode(in);
    if (!node) return 0;
    // Handed over twice: it is already ours, once.
    if (const NodeState* state = StateOf(node); state && state->owned) return 1;
    const int taken = AddNodeInternal(node, type);
    if (taken) {
        NodeState& state = StateFor(node);
        if (!state.owned) ++m_ownedCount;
        state.owned = true;
    }
    return taken;
}

int CDirectoryTreeBuilder::AddNodeInternal(CFileNode* node, _tagSearcherType type) {
    _DIRECTORY_TREE_INFO* record = FindRecord(type);
    // Most nodes are files: their ID's slot is loaded while the tests below run.
    if (record) record->files.Prefetch(node->GetCurrentNodeID());
    if (!m_filter || !m_filter->IsFileNodeValid(node)) return 0;
    if (node->GetCurrentNodeID() == node->GetParentNodeID()) return 0;
    if (!record) return 0;
    if (!m_flushing && type != SEARCHER_APFS && InsertToRecycleBin(node, type)) {
        node->MarkDeleted();
        return 1;
    }
    return Accept(*record, node, type);
}

int CDirectoryTreeBuilder::Accept(_DIRECTORY_TREE_INFO& record, CFileNode* node, _tagSearcherType type) {
    ++record.addedCount;
    ++record.pendingCount;
    const char* rawName = node->GetFileName();
    const char* name = rawName ? rawName : "";

    if (type == SEARCHER_HFSPLUS && !m_restoring && record.privateDataIds.empty() &&
        std::strcmp(name, kPrivateDataName) == 0 && node->GetParentNodeID() == record.rootId) {
        TakePrivateDataFolder(record, node);
        return 0;
    }

    // Trash: decided here, but a candidate is remembered only once the node is accepted below, so a
    // refused node (the caller's) is never referenced later.
    bool trashCandidate = false;
    if (!record.trashSettled && name[0] == '.' && IsTrashName(name)) {
        if (node->GetParentNodeID() == record.rootId || IsUserTrashFolder(record, node)) {
            node->MarkDeleted();
            node->SetParentNodeID(record.rootId);
            record.trashId = node->GetCurrentNodeID();
            record.trashSettled = true;
        } else {
            trashCandidate = true;
        }
    }

    if (node->IsDirectory()) {
        const auto& ids = record.privateDataIds;
        if (std::find(ids.begin(), ids.end(), node->GetParentNodeID()) != ids.end()) return 0;
        if (name[0] == '.') node->FilterFileNameByDot();
        if (!RecordFileNode(record.folders, node)) return 0;
        if (trashCandidate) StateFor(node).trashCandidate = true;
        Wake(record, node->GetCurrentNodeID());
    } else {
        if (name[0] == '.') return 0;
        if (IsRecordedDuplicate(record.files, node, &record.fileIndexes)) return 0;
        // Equal to a live file released earlier: refused, as that file would have refused it.
        if (!m_restoring && record.released.size() != 0 && record.released.Matches(*node, type)) return 0;
        if (ReleaseUnlistedLiveFile(record, node, type)) {
            // The build this node would have set off runs all the same, so the others are published
            // in the batches they always were.
            std::vector<CFileNode*> out;
            BuildTree(record, out, type, false);
            ShowNodes(record, out, 0);
            return 0;
        }
        AddRecorded(record.files, node, &record.fileIndexes);
    }
    if (trashCandidate) record.trashCandidates.push_back(node);

    AddPending(record, node);
    std::vector<CFileNode*> out;
    BuildTree(record, out, type, false);
    ShowNodes(record, out, 0);
    return 1;
}

bool CDirectoryTreeBuilder::TakePrivateDataFolder(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    const i64 id = node->GetCurrentNodeID();
    record.privateDataIds.push_back(id);
    // The folders directly under it are hard-link bookkeeping, not user folders.
    std::vector<CFileNode*> drop;
    record.pending.ForEach([&](u64, CFileNode* pending) {
        if (pending->IsDirectory() && pending->GetParentNodeID() == id && !pending->GetParent() &&
            !pending->GetFirstChild())
            drop.push_back(pending);
    });
    for (CFileNode* folder : drop) {
        Forget(record, folder);
        ReleaseOwned(folder);
    }
    return true;
}

int CDirectoryTreeBuilder::RecordFileNode(NodesById& map, CFileNode* node, FileIndexes* fileIndexes) {
    if (IsRecordedDuplicate(map, node, fileIndexes)) return 0;
    AddRecorded(map, node, fileIndexes);
    return 1;
}

bool CDirectoryTreeBuilder::IsRecordedDuplicate(NodesById& map, CFileNode* node, FileIndexes* fileIndexes) {
    if (m_restoring) return false;
    const i64 id = node->GetCurrentNodeID();
    _PARENT_INFO* entry = map.Find(id);
    if (!entry) return false;
    // A file of this many recorded under one ID is looked for by parent ID and name.
    constexpr size_t kIndexedFrom = 32;
    std::unordered_map<std::string, CNodeList>* index = nullptr;
    if (fileIndexes && entry->nodes.size() >= kIndexedFrom) {
        index = &(*fileIndexes)[id];
        if (index->empty())
            for (CFileNode* recorded : entry->nodes) (*index)[IndexKeyOf(recorded)].push_back(recorded);
    }
    auto isDuplicate = [&](CFileNode* recorded) {
        ++m_duplicateTests;
        return *recorded == *node;
    };
    CFileNode* duplicate = nullptr;
    if (index) {
        // A file is no other recorded file's duplicate (it renames nothing either: only a folder
        // hands its properties to a folder of another name).
        if (auto same = index->find(IndexKeyOf(node)); same != index->end()) {
            for (CFileNode* recorded : same->second)
                if (isDuplicate(recorded)) {
                    duplicate = recorded;
                    break;
                }
        }
    } else {
        for (CFileNode* recorded : entry->nodes)
            if (isDuplicate(recorded)) {
                duplicate = recorded;
                break;
            }
    }
    if (!duplicate) return false;
    if (node->GetFileSize() == 0) return true;
    if (node->GetModificationTime() >= duplicate->GetModificationTime()) return true;
    // The earlier copy's extents win; the donor is refused and released by the caller, so its
    // list is detached from it first.
    SimpleLock hold(&g_lockerAddData);
    duplicate->MergeNode(*node);
    return true;
}

void CDirectoryTreeBuilder::AddRecorded(NodesById& map, CFileNode* node, FileIndexes* fileIndexes) {
    const i64 id = node->GetCurrentNodeID();
    map.Get(id).nodes.push_back(node);
    if (!fileIndexes) return;
    if (auto index = fileIndexes->find(id); index != fileIndexes->end() && !index->second.empty())
        index->second[IndexKeyOf(node)].push_back(node);
}

std::string CDirectoryTreeBuilder::IndexKeyOf(CFileNode* node) {
    const i64 parent = node->GetParentNodeID();
    const char* name = node->GetFileName();
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    if (name) key += name;
    return key;
}

// A quick scan lists deleted files only: a live file is listed when the end of the scan finds it in a
// deleted folder (the lookups of its parent ID choose one), never otherwise. Once its folder can never
// turn deleted (InSettledFolder), nothing will list it, and it is released at once rather than kept to
// the end: on a volume of millions of files these are nearly all of them.
bool CDirectoryTreeBuilder::ReleaseUnlistedLiveFile(_DIRECTORY_TREE_INFO& record, CFileNode* node,
                                                    _tagSearcherType type) {
    if (!m_releaseLiveFiles || m_restoring || m_flushing || type == SEARCHER_APFS || m_filter->ShowNormalFiles() != 0)
        return false;
    // A node the searcher linked itself is published as it stands at the end.
    if (node->IsDeleted() || node->IsDirectory() || node->GetParent() || node->GetFirstChild()) return false;
    if (!InSettledFolder(record, node)) return false;
    record.released.Add(*node);
    ++m_releasedCount;
    return true;
}

// True when the folder of node's parent ID stays live whatever the rest of the scan brings, and so do the
// folders above it, up to the root. Of several folders recorded under one ID, the lookups choose a live
// one in the trash or else the first of node's partition, so the first recorded one is the folder
// that matters: it must be of node's partition, live, and no folder that the scan's end may still make
// the trash. Folders only turn deleted by their own folder (so a settled chain stays live), as the trash,
// or when a FAT folder takes the state of a deleted copy of one ID (same parent, another name); the FAT
// searchers hand over a folder's copies, all entries of its parent, before its first child, and a
// folder is settled only when a child asks. Once known, a folder's answer is kept.
bool CDirectoryTreeBuilder::InSettledFolder(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    // The HFS+ builder drops folders under the private-data folder when that comes.
    if (record.type == SEARCHER_HFSPLUS && record.privateDataIds.empty()) return false;
    std::vector<CFileNode*>& chain = m_chain;
    chain.clear();
    bool settled = false;
    // Parent IDs in a cycle never reach the root: a folder met again ends the walk (Brent's way: the
    // folder at each power-of-two step is remembered and compared with those after it).
    CFileNode* remembered = nullptr;
    size_t nextRemember = 1;
    for (CFileNode* current = node;;) {
        const i64 parentId = current->GetParentNodeID();
        if (parentId == record.rootId) {
            settled = true;
            break;
        }
        const _PARENT_INFO* entry = record.folders.Find(parentId);
        if (!entry || entry->nodes.empty()) break;
        CFileNode* folder = entry->nodes.front();
        if (folder->GetBelongedPartition() != current->GetBelongedPartition()) break;
        const NodeState* state = StateOf(folder);
        if (state && state->settled) {
            settled = true;
            break;
        }
        if (folder->IsDeleted() || (state && state->trashCandidate) || folder == remembered) break;
        chain.push_back(folder);
        if (chain.size() == nextRemember) {
            remembered = folder;
            nextRemember *= 2;
        }
        current = folder;
    }
    if (settled) {
        for (CFileNode* folder : chain) StateFor(folder).settled = true;
    }
    return settled;
}

CFileNode* CDirectoryTreeBuilder::GetCorrectParent(i64 trashId, const std::vector<CFileNode*>& candidates,
                                                   CFileNode* node) {
    return GetCorrectParent(trashId, candidates.data(), candidates.size(), node);
}

CFileNode* CDirectoryTreeBuilder::GetCorrectParent(i64 trashId, CFileNode* const* first, size_t count,
                                                   CFileNode* node) {
    if (count == 0 || !node) return nullptr;
    if (count == 1) return first[0];
    const auto candidates = std::span<CFileNode* const>(first, count);
    const u16 partition = node->GetBelongedPartition();
    auto reachesTrash = [trashId](CFileNode* folder) {
        for (CFileNode* p = folder; p; p = p->GetParent()) {
            if (p->GetCurrentNodeID() == trashId) return true;
        }
        return false;
    };
    for (CFileNode* c : candidates) {
        if (c->IsDirectory() && c->GetBelongedPartition() == partition && reachesTrash(c) && !c->IsDeleted()) return c;
    }
    for (CFileNode* c : candidates) {
        if (c->IsDirectory() && c->GetBelongedPartition() == partition) return c;
    }
    return candidates.front();
}

CFileNode* CDirectoryTreeBuilder::FindParent(_DIRECTORY_TREE_INFO& record, CFileNode* node, bool rootToo,
                                             bool* onlyOne) {
    if (onlyOne) *onlyOne = true;
    const i64 parentId = node->GetParentNodeID();
    if (rootToo && parentId == record.rootId) return record.root.get();
    const _PARENT_INFO* entry = record.folders.Find(parentId);
    if (!entry || entry->nodes.empty()) return nullptr;
    const CNodeList& nodes = entry->nodes;
    if (nodes.size() == 1) return nodes.front();
    if (onlyOne) *onlyOne = false;
    return GetCorrectParent(record.trashId, nodes.begin(), nodes.size(), node);
}

namespace {

// True when a file lies below folder: a walk of everything below it, which stops early at a folder of
// `holdsFile` (folders known to hold one).
template <class HoldsFile>
bool HasFileBelow(CFileNode* folder, HoldsFile holdsFile) {
    std::vector<CFileNode*> stack;
    if (folder->GetFirstChild()) stack.push_back(folder->GetFirstChild());
    while (!stack.empty()) {
        CFileNode* n = stack.back();
        stack.pop_back();
        for (; n; n = n->GetNextNode()) {
            if (!n->IsDirectory() || holdsFile(n)) return true;
            if (n->GetFirstChild()) stack.push_back(n->GetFirstChild());
        }
    }
    return false;
}

}  // namespace

bool CDirectoryTreeBuilder::IsEmptyFolder(CFileNode* folder) {
    return !folder || !HasFileBelow(folder, [](CFileNode*) { return false; });
}

// IsEmptyFolder's answer, remembered for the folders that hold a file.
bool CDirectoryTreeBuilder::IsKnownEmptyFolder(CFileNode* folder) {
    if (!folder) return true;
    if (const NodeState* state = StateOf(folder); state && state->holdsFile) return false;
    auto holds = [this](CFileNode* n) {
        const NodeState* state = StateOf(n);
        return state && state->holdsFile;
    };
    if (!HasFileBelow(folder, holds)) return true;
    StateFor(folder).holdsFile = true;
    return false;
}

// The top of node's tree: up from node by the highest ancestor each node remembers, then by parents;
// when the top lay more than one step away, every node passed below it remembers the top.
CFileNode* CDirectoryTreeBuilder::TopOf(CFileNode* node) {
    auto up = [this](CFileNode* n) {
        const NodeState* state = StateOf(n);
        return state && state->topHint && state->topHint != n ? state->topHint : n->GetParent();
    };
    CFileNode* top = up(node);
    if (!top) return node;
    // Mostly the node already knows its top (or its parent is the top): nothing to remember then.
    CFileNode* above = up(top);
    if (!above) return top;
    top = above;
    for (CFileNode* next = up(top); next; next = up(top)) top = next;
    // The same way again (each step read before its hint is changed): every node passed below the top.
    for (CFileNode* passed = node; passed != top;) {
        CFileNode* next = up(passed);
        StateFor(passed).topHint = top;
        passed = next;
    }
    return top;
}

void CDirectoryTreeBuilder::ForgetTreeShape() {
    for (NodeState& state : m_states) {
        state.topHint = nullptr;
        state.holdsFile = false;
    }
}

// Links node under its parent and goes on up while the parent is itself unlinked. Tells what became of
// node: linked; waiting (nothing happened, and nothing will until a folder of node's parent ID is
// recorded or marked deleted); or to be retried at every build (several folders share the parent ID,
// so the choice among them may change).
CDirectoryTreeBuilder::ClimbStart CDirectoryTreeBuilder::Climb(_DIRECTORY_TREE_INFO& record, CFileNode* node,
                                                               _tagSearcherType type) {
    ++m_climbs;
    const bool showNormal = m_filter->ShowNormalFiles() != 0;
    // Each step links a node that had no parent, so the climb ends (a node is never linked below a node
    // of its own tree: current has no parent, so it is the top of its tree).
    for (CFileNode* current = node; current;) {
        bool onlyOne = true;
        CFileNode* parent = FindParent(record, current, true, &onlyOne);
        bool linked = false;
        if (parent) {
            if (parent->IsDeleted()) {
                const bool was = current->IsDeleted() != 0;
                current->MarkDeleted();
                if (!was) Wake(record, current->GetCurrentNodeID());
            }
            const bool hidden =
                type != SEARCHER_APFS &&
                (current->IsDirectory() ? IsKnownEmptyFolder(current) : (!current->IsDeleted() && !showNormal));
            CFileNode* top = hidden ? nullptr : TopOf(parent);
            if (!hidden && top != current && parent->AddChildNotAncestor(current)) {
                linked = true;
                m_linkedNow.push_back(current);
                StateFor(current).topHint = top;
                // A file, or a folder holding one, now lies below parent (APFS links empty folders too).
                if (type != SEARCHER_APFS) StateFor(parent).holdsFile = true;
            }
        }
        if (!linked) {
            if (current == node) return (!parent || onlyOne) ? ClimbStart::Waits : ClimbStart::Retry;
            // A folder that just received children: its own climb may now get further.
            WakeNode(record, current);
            return ClimbStart::Linked;
        }
        if (parent == record.root.get() || parent->GetParent()) return ClimbStart::Linked;
        current = parent;
    }
    return ClimbStart::Linked;
}

bool CDirectoryTreeBuilder::IsInTree(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    return TopOf(node) == record.root.get();
}

void CDirectoryTreeBuilder::AddPending(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    const u64 seq = record.pending.Add(node);
    NodeState& state = StateFor(node);
    state.seq = seq;
    state.pending = true;
    if (node->GetParent())
        record.arrivedLinked.push_back(seq);
    else
        QueueClimb(record, seq);
}

void CDirectoryTreeBuilder::ErasePending(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    // Its arrival number may stay queued: it names no node any more.
    u64 seq = 0;
    if (!FindPending(record, node, seq)) return;
    record.pending.Erase(seq);
    StateOf(node)->pending = false;
}

void CDirectoryTreeBuilder::ClearPending(_DIRECTORY_TREE_INFO& record) {
    record.pending.Clear();
    record.climbRising.clear();
    record.climbHeap.clear();
    record.climbLater.clear();
    record.waiting.clear();
    record.arrivedLinked.clear();
}

void CDirectoryTreeBuilder::QueueClimb(_DIRECTORY_TREE_INFO& record, u64 seq) {
    if (record.building && seq <= record.climbing) {
        record.climbLater.push_back(seq);
        return;
    }
    // New nodes come with ever higher numbers: they need no heap.
    if (record.climbRising.empty() || seq > record.climbRising.back()) {
        record.climbRising.push_back(seq);
        return;
    }
    record.climbHeap.push_back(seq);
    std::push_heap(record.climbHeap.begin(), record.climbHeap.end(), std::greater<u64>());
}

void CDirectoryTreeBuilder::Wake(_DIRECTORY_TREE_INFO& record, i64 parentId) {
    auto it = record.waiting.find(parentId);
    if (it == record.waiting.end()) return;
    std::vector<u64> woken = std::move(it->second);
    record.waiting.erase(it);
    for (u64 seq : woken) {
        if (record.pending.At(seq)) QueueClimb(record, seq);
    }
}

void CDirectoryTreeBuilder::WakeNode(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    u64 seq = 0;
    if (!node->GetParent() && FindPending(record, node, seq)) QueueClimb(record, seq);
}

// Every pending node without a parent, in order; the waiting lists are made anew on the way.
void CDirectoryTreeBuilder::ClimbEveryPending(_DIRECTORY_TREE_INFO& record, _tagSearcherType type) {
    record.climbRising.clear();
    record.climbHeap.clear();
    record.climbLater.clear();
    record.waiting.clear();
    record.climbAll = false;
    record.building = true;
    record.pending.ForEach([&](u64 seq, CFileNode* node) {
        if (node->GetParent()) return;
        record.climbing = seq;
        const ClimbStart end = Climb(record, node, type);
        if (end == ClimbStart::Waits) record.waiting[node->GetParentNodeID()].push_back(seq);
        if (end == ClimbStart::Retry) record.climbLater.push_back(seq);
    });
    record.building = false;
}

// Only the nodes whose climb can do something, in pending order. A node woken by an earlier climb of
// this build is climbed in this build when it stands later in the order, else in the next one: as a
// climb of every pending node would.
void CDirectoryTreeBuilder::ClimbWoken(_DIRECTORY_TREE_INFO& record, _tagSearcherType type, u64 walk) {
    auto& heap = record.climbHeap;
    auto& rising = record.climbRising;  // may grow meanwhile: read by index
    record.building = true;
    bool any = false;
    u64 last = 0;
    size_t next = 0;
    while (next < rising.size() || !heap.empty()) {
        // The lower of the two queues' next numbers.
        u64 seq = 0;
        if (!heap.empty() && (next == rising.size() || heap.front() < rising[next])) {
            std::pop_heap(heap.begin(), heap.end(), std::greater<u64>());
            seq = heap.back();
            heap.pop_back();
        } else {
            seq = rising[next++];
        }
        if (any && seq == last) continue;  // queued twice
        any = true;
        last = seq;
        CFileNode* node = record.pending.At(seq);
        if (!node || node->GetParent()) continue;
        record.climbing = seq;
        const ClimbStart end = Climb(record, node, type);
        if (end == ClimbStart::Waits) record.waiting[node->GetParentNodeID()].push_back(seq);
        if (end == ClimbStart::Retry) record.climbLater.push_back(seq);
        // Linked straight below a node of the tree and holding nothing yet: it is taken now, and the
        // walk of TakeNewlyInTree passes it by (whatever is linked below it later is linked itself).
        if (end == ClimbStart::Linked && !node->GetFirstChild()) {
            NodeState* state = StateOf(node);
            if (state && state->topHint == record.root.get()) {
                state->seen = walk;
                state->pending = false;
                record.pending.Erase(seq);
                m_taken.emplace_back(seq, node);
            }
        }
    }
    rising.clear();
    record.building = false;
}

// The pending nodes that this build put in the tree: those below a node it linked (before the build
// every pending node was outside the tree) and those that came in already linked. In pending order.
// The climbs already took some (m_taken, their walk mark set to `walk`).
void CDirectoryTreeBuilder::TakeNewlyInTree(_DIRECTORY_TREE_INFO& record, std::vector<CFileNode*>& out, u64 walk) {
    auto& found = m_taken;
    const size_t takenByClimbs = found.size();
    auto take = [&](CFileNode* node, NodeState& state) {
        if (!state.pending || record.pending.At(state.seq) != node) return;
        found.emplace_back(state.seq, node);
        record.pending.Erase(state.seq);
        state.pending = false;
    };
    std::vector<CFileNode*>& stack = m_walk;
    for (CFileNode* linked : m_linkedNow) {
        if (const NodeState* state = StateOf(linked); (state && state->seen == walk) || !IsInTree(record, linked))
            continue;
        stack.clear();
        stack.push_back(linked);
        while (!stack.empty()) {
            CFileNode* node = stack.back();
            stack.pop_back();
            NodeState& state = StateFor(node);
            if (state.seen == walk) continue;
            state.seen = walk;
            take(node, state);
            for (CFileNode* child = node->GetFirstChild(); child; child = child->GetNextNode()) stack.push_back(child);
        }
    }
    for (u64 seq : record.arrivedLinked) {
        CFileNode* node = record.pending.At(seq);
        if (node && IsInTree(record, node)) take(node, StateFor(node));
    }
    record.arrivedLinked.clear();
    // The climbs took theirs in rising order; the walks' are mostly in order. One merge of the two.
    const auto walked = found.begin() + static_cast<std::ptrdiff_t>(takenByClimbs);
    if (!std::is_sorted(found.begin(), walked)) std::sort(found.begin(), walked);
    if (!std::is_sorted(walked, found.end())) std::sort(walked, found.end());
    out.reserve(out.size() + found.size());
    for (auto a = found.begin(), b = walked; a != walked || b != found.end();)
        out.push_back((b == found.end() || (a != walked && a->first < b->first) ? a++ : b++)->second);
    found.clear();
}

size_t CDirectoryTreeBuilder::BuildTree(_DIRECTORY_TREE_INFO& record, std::vector<CFileNode*>& out,
                                        _tagSearcherType type, bool force) {
    const i64 now = Now();
    if (!force) {
        if (record.pendingCount < kBuildBatch && now - record.lastBuild < kBuildSeconds) return 0;
        if (type == SEARCHER_HFSPLUS && record.privateDataIds.empty()) return 0;
    }
    record.pendingCount = 0;
    record.lastBuild = now;
    // A flush climbs everything: it also runs after changes that wake no one (trash, deleted marks).
    const bool every = force || record.climbAll || m_climbEveryPending;
    m_linkedNow.clear();
    m_taken.clear();
    const u64 walk = ++m_seenWalk;
    {
        SimpleLock hold(&g_lockerAddData);
        if (every)
            ClimbEveryPending(record, type);
        else
            ClimbWoken(record, type, walk);
    }
    for (u64 seq : record.climbLater) QueueClimb(record, seq);
    record.climbLater.clear();
    if (!every) {
        TakeNewlyInTree(record, out, walk);
    } else {
        record.arrivedLinked.clear();
        const size_t first = out.size();
        record.pending.ForEach([&](u64, CFileNode* node) {
            if (IsInTree(record, node)) out.push_back(node);
        });
        for (size_t i = first; i < out.size(); ++i) ErasePending(record, out[i]);
    }
    m_linkedNow.clear();
    return out.size();
}

void CDirectoryTreeBuilder::ShowNodes(_DIRECTORY_TREE_INFO& record, std::vector<CFileNode*>& nodes, int lost) {
    if (nodes.empty() || !m_tree) return;
    if (!record.rootPublished) {
        record.rootPublished = true;
        m_tree->ShowFilesystemNode(record.root.get());
        m_sleep(kFirstPublishSleepMs);
    }
    for (CFileNode* node : nodes) StateFor(node).published = true;
    record.publishedCount += static_cast<i64>(nodes.size());
    std::vector<IFileNode*> batch(nodes.begin(), nodes.end());
    m_tree->ShowNodes(batch.data(), static_cast<u32>(batch.size()), lost);
}

bool CDirectoryTreeBuilder::IsPublished(_DIRECTORY_TREE_INFO&, CFileNode* node) {
    const NodeState* state = StateOf(node);
    return state && state->published;
}

CDirectoryTreeBuilder::NodeState& CDirectoryTreeBuilder::StateFor(CFileNode* node) {
    if (NodeState* state = StateOf(node)) return *state;
    node->SetBuilderSlot(static_cast<u32>(m_states.size()));
    m_states.push_back(NodeState{});
    m_states.back().node = node;
    return m_states.back();
}

// A node's arrival number in record, while it is pending there.
bool CDirectoryTreeBuilder::FindPending(_DIRECTORY_TREE_INFO& record, CFileNode* node, u64& seq) {
    const NodeState* state = StateOf(node);
    if (!state || !state->pending || record.pending.At(state->seq) != node) return false;
    seq = state->seq;
    return true;
}

void CDirectoryTreeBuilder::BuildForcedUntilDone(_DIRECTORY_TREE_INFO& record, _tagSearcherType type) {
    for (;;) {
        std::vector<CFileNode*> out;
        if (BuildTree(record, out, type, true) == 0) return;
        ShowNodes(record, out, 0);
    }
}

void CDirectoryTreeBuilder::MarkAllDeletedFiles(_DIRECTORY_TREE_INFO& record) {
    // Every pass marks at least one more node or ends, so this ends.
    for (;;) {
        int marked = 0;
        record.pending.ForEach([&](u64, CFileNode* node) {
            if (node->IsDeleted()) return;
            // The root's ID names the root here too, as in the climbs: a deleted folder recorded under
            // the same ID (a hostile entry) must not turn every live folder below the root deleted.
            CFileNode* parent = FindParent(record, node, true);
            if (parent && parent->IsDeleted()) {
                node->MarkDeleted();
                ++marked;
            }
        });
        if (marked == 0) return;
    }
}

void CDirectoryTreeBuilder::FlashBuild(_tagSearcherType type) {
    _DIRECTORY_TREE_INFO* record = FindRecord(type);
    if (!record) return;
    m_flushing = true;
    RestoreRecycleName(type);
    BuildForcedUntilDone(*record, type);

    SettleTrashFromCandidates(*record);

    std::vector<i64> pendingIds;
    pendingIds.reserve(record->pending.Size());
    record->pending.ForEach([&](u64, CFileNode* node) { pendingIds.push_back(node->GetCurrentNodeID()); });
    std::sort(pendingIds.begin(), pendingIds.end());
    // The first file of each ID that is neither in a tree, pending nor published, in ID order.
    std::vector<std::pair<i64, CFileNode*>> again;
    for (auto& [id, entry] : record->files) {
        if (entry.nodes.empty()) continue;
        CFileNode* first = entry.nodes.front();
        if (!first->GetParent() && !std::binary_search(pendingIds.begin(), pendingIds.end(), id) &&
            !IsPublished(*record, first))
            again.emplace_back(id, first);
    }
    std::sort(again.begin(), again.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& entry : again) AddPending(*record, entry.second);
    {
        SimpleLock hold(&g_lockerAddData);
        MarkAllDeletedFiles(*record);
    }
    BuildForcedUntilDone(*record, type);
    BuildLostNodes(*record, type);

    ClearPending(*record);
    record->trashCandidates.clear();
    if (!m_restoring) {
        ReleaseNodeByFilter(*record);
        // The files kept unused are gone from the duplicate test now: so are those released earlier.
        record->released.Clear();
    }
    EngineDebug("CDirectoryTreeBuilder::FlashBuild  searcherType : %d, total files: %lld\n", static_cast<int>(type),
                static_cast<long long>(record->publishedCount));
    EngineDebug("CDirectoryTreeBuilder::FlashBuild  searcherType : %d, total added files: %lld\n",
                static_cast<int>(type), static_cast<long long>(record->addedCount));
    m_flushing = false;
}

void CDirectoryTreeBuilder::BuildLostNodes(_DIRECTORY_TREE_INFO& record, _tagSearcherType type) {
    auto* lost = new CFilesystemNode(-1, type, "Other lost files", "LostFiles");
    const bool showNormal = m_filter->ShowNormalFiles() != 0;
    std::vector<CFileNode*> notify;
    {
        SimpleLock hold(&g_lockerAddData);
        record.pending.ForEach([&](u64, CFileNode* node) {
            if (CFileNode* parent = node->GetParent()) {
                if (!node->IsDirectory() && node->GetFileSize() == 0)
                    parent->RemoveChild(node);
                else
                    notify.push_back(node);
                return;
            }
            if (node->IsDirectory() ? IsEmptyFolder(node)
                                    : (node->GetFileSize() == 0 || (!node->IsDeleted() && !showNormal)))
                return;
            if (lost->AddChild(node)) notify.push_back(node);
        });
        if (lost->GetFirstChild()) record.root->AddChild(lost);
        // Files were taken out of folders above: what the climbs knew of the trees no longer holds.
        ForgetTreeShape();
    }
    if (!lost->GetFirstChild()) {
        lost->Release();
        lost = nullptr;
    } else {
        NodeState& state = StateFor(lost);
        if (!state.owned) ++m_ownedCount;
        state.owned = true;
        notify.push_back(lost);
    }
    if (notify.empty()) return;
    EngineDebug("CDirectoryTreeBuilder BuildLostNodes nodsNotify.size() = %ld.\n", static_cast<long>(notify.size()));
    ShowNodes(record, notify, 1);
}

void CDirectoryTreeBuilder::Forget(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    ErasePending(record, node);
    Erase(record.trashCandidates, node);
    EraseFromMap(record.folders, node);
    EraseFromMap(record.files, node);
    record.fileIndexes.erase(node->GetCurrentNodeID());
}

void CDirectoryTreeBuilder::ReleaseOwned(CFileNode* node) {
    if (NodeState* state = StateOf(node)) {
        if (state->owned) --m_ownedCount;
        *state = NodeState{};
        node->SetBuilderSlot(CFileNode::kNoBuilderSlot);
    }
    node->Release();
}

void CDirectoryTreeBuilder::ReleaseNodeByFilter(_DIRECTORY_TREE_INFO& record) {
    record.fileIndexes.clear();
    // Never published and linked nowhere: no tree and no window holds these. Anything still linked
    // stays owned until the builder goes.
    // They leave the maps in the same walk, rather than by a lookup each.
    std::vector<CFileNode*> unused;
    for (auto* map : {&record.files, &record.folders}) {
        for (auto& entry : *map) {
            CNodeList& nodes = entry.second.nodes;
            auto isUnused = [&](CFileNode* node) {
                if (IsPublished(record, node) || node->GetParent() || node->GetFirstChild()) return false;
                unused.push_back(node);
                return true;
            };
            nodes.erase(std::remove_if(nodes.begin(), nodes.end(), isUnused), nodes.end());
        }
    }
    if (!record.trashCandidates.empty()) {
        const std::unordered_set<CFileNode*> gone(unused.begin(), unused.end());
        auto& candidates = record.trashCandidates;
        candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                        [&gone](CFileNode* node) { return gone.count(node) != 0; }),
                         candidates.end());
    }
    {
        SimpleLock hold(&g_lockerAddData);
        for (CFileNode* node : unused) {
            ErasePending(record, node);
            ReleaseOwned(node);
        }
    }
    EngineDebug("CDirectoryTreeBuilder::ReleaseNodeByFilter --- nReleasedCount = %d\n",
                static_cast<int>(unused.size()));
}
