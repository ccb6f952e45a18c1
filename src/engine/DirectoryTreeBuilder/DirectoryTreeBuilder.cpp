#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include "engine/Common/IDrirectoryTree.h"
#include "engine/Common/IFileProperties.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/DirectoryTreeBuilder/RecyclerFilter.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/NTFSLib/FileReaderEx.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace {

const char* kPrivateDataName = "HFS+ Private Data";

std::string NameOf(CFileNode* node) {
    const char* name = node->GetFileName();
    return name ? name : "";
}

bool IsTrashName(const std::string& name) {
    return name == ".Trashes" || name == ".Trash";
}

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

void Erase(std::vector<CFileNode*>& nodes, CFileNode* node) {
    nodes.erase(std::remove(nodes.begin(), nodes.end(), node), nodes.end());
}

void EraseFromMap(std::map<i64, _PARENT_INFO>& map, CFileNode* node) {
    auto it = map.find(node->GetCurrentNodeID());
    if (it == map.end()) return;
    Erase(it->second.nodes, node);
    if (it->second.nodes.empty()) map.erase(it);
}

}  // namespace

IDirecotryTreeBuilder* CreateTreeBuilder(bool restoring) {
    return new CDirectoryTreeBuilder(restoring);
}

CDirectoryTreeBuilder::CDirectoryTreeBuilder(bool restoring) : m_restoring(restoring) {
    m_now = [] {
        return static_cast<i64>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    };
    m_sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

CDirectoryTreeBuilder::~CDirectoryTreeBuilder() {
    // The windows may still walk the trees: unlink and free under the result-tree lock.
    SimpleLock hold(&g_lockerAddData);
    for (CFileNode* node : m_owned) node->Release();
    m_owned.clear();
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

_DIRECTORY_TREE_INFO* CDirectoryTreeBuilder::FindRecord(_tagSearcherType type) {
    for (auto& record : m_records) {
        if (record->type == type) return record.get();
    }
    return nullptr;
}

int CDirectoryTreeBuilder::AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) {
    if (_DIRECTORY_TREE_INFO* existing = FindRecord(type)) {
        existing->rootId = rootFolderID;
        existing->root->SetCurrentNodeID(rootFolderID);
        return 1;
    }
    const char* suffix = SuffixOf(type);
    if (!suffix) return 0;
    auto record = std::make_unique<_DIRECTORY_TREE_INFO>();
    record->type = type;
    record->rootId = rootFolderID;
    record->root = std::make_unique<CFilesystemNode>(rootFolderID, type, m_deviceName + suffix, m_deviceName);
    record->lastBuild = m_now();
    m_records.push_back(std::move(record));
    return 1;
}

int CDirectoryTreeBuilder::AddNode(IFileNode* in, _tagSearcherType type) {
    auto* node = dynamic_cast<CFileNode*>(in);
    if (!node) return 0;
    // Handed over twice: it is already ours, once.
    if (m_owned.count(node)) return 1;
    const int taken = AddNodeInternal(node, type);
    if (taken) m_owned.insert(node);
    return taken;
}

int CDirectoryTreeBuilder::AddNodeInternal(CFileNode* node, _tagSearcherType type) {
    if (!m_filter || !m_filter->IsFileNodeValid(node)) return 0;
    if (node->GetCurrentNodeID() == node->GetParentNodeID()) return 0;
    _DIRECTORY_TREE_INFO* record = FindRecord(type);
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
    const std::string name = NameOf(node);

    if (type == SEARCHER_HFSPLUS && !m_restoring && record.privateDataIds.empty() && name == kPrivateDataName &&
        node->GetParentNodeID() == record.rootId) {
        TakePrivateDataFolder(record, node);
        return 0;
    }

    // Trash: decided here, but a candidate is remembered only once the node is accepted below, so a
    // refused node (the caller's) is never referenced later.
    bool trashCandidate = false;
    if (!record.trashSettled && IsTrashName(name)) {
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
        if (!name.empty() && name[0] == '.') node->FilterFileNameByDot();
        if (!RecordFileNode(record.folders, node)) return 0;
    } else {
        if (!name.empty() && name[0] == '.') return 0;
        if (!RecordFileNode(record.files, node)) return 0;
    }
    if (trashCandidate) record.trashCandidates.push_back(node);

    record.pending.push_back(node);
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
    for (CFileNode* pending : record.pending) {
        if (pending->IsDirectory() && pending->GetParentNodeID() == id && !pending->GetParent() &&
            !pending->GetFirstChild())
            drop.push_back(pending);
    }
    for (CFileNode* folder : drop) {
        Forget(record, folder);
        ReleaseOwned(folder);
    }
    return true;
}

int CDirectoryTreeBuilder::RecordFileNode(std::map<i64, _PARENT_INFO>& map, CFileNode* node) {
    _PARENT_INFO& entry = map[node->GetCurrentNodeID()];
    if (!m_restoring) {
        for (CFileNode* recorded : entry.nodes) {
            if (!(*recorded == *node)) continue;
            if (node->GetFileSize() == 0) return 0;
            if (node->GetModificationTime() >= recorded->GetModificationTime()) return 0;
            // The earlier copy's extents win; the donor is refused and released by the caller, so its
            // list is detached from it first.
            SimpleLock hold(&g_lockerAddData);
            recorded->MergeNode(*node);
            return 0;
        }
    }
    entry.nodes.push_back(node);
    return 1;
}

bool CDirectoryTreeBuilder::IsUserTrashFolder(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return false;
    std::string wanted = home;
    if (wanted.back() != '/') wanted += '/';

    std::vector<std::string> names;
    i64 parentId = node->GetParentNodeID();
    // Bounded by the number of folders, so a cycle of parent IDs ends.
    for (size_t steps = 0; parentId != record.rootId; ++steps) {
        if (steps > record.folders.size()) return false;
        auto it = record.folders.find(parentId);
        if (it == record.folders.end() || it->second.nodes.empty()) return false;
        CFileNode* parent = it->second.nodes.front();
        names.push_back(NameOf(parent));
        parentId = parent->GetParentNodeID();
    }
    std::string path = "/";
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += *it + "/";
    return path == wanted;
}

CFileNode* CDirectoryTreeBuilder::GetCorrectParent(i64 trashId, const std::vector<CFileNode*>& candidates,
                                                   CFileNode* node) {
    if (candidates.empty() || !node) return nullptr;
    if (candidates.size() == 1) return candidates.front();
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

CFileNode* CDirectoryTreeBuilder::FindParent(_DIRECTORY_TREE_INFO& record, CFileNode* node, bool rootToo) {
    const i64 parentId = node->GetParentNodeID();
    if (rootToo && parentId == record.rootId) return record.root.get();
    auto it = record.folders.find(parentId);
    if (it == record.folders.end() || it->second.nodes.empty()) return nullptr;
    return GetCorrectParent(record.trashId, it->second.nodes, node);
}

bool CDirectoryTreeBuilder::IsEmptyFolder(CFileNode* folder) {
    if (!folder) return true;
    std::vector<CFileNode*> stack;
    if (folder->GetFirstChild()) stack.push_back(folder->GetFirstChild());
    while (!stack.empty()) {
        CFileNode* n = stack.back();
        stack.pop_back();
        for (; n; n = n->GetNextNode()) {
            if (!n->IsDirectory()) return false;
            if (n->GetFirstChild()) stack.push_back(n->GetFirstChild());
        }
    }
    return true;
}

void CDirectoryTreeBuilder::Climb(_DIRECTORY_TREE_INFO& record, CFileNode* node, _tagSearcherType type) {
    const bool showNormal = m_filter->ShowNormalFiles() != 0;
    // Each step links a node that had no parent, so the climb ends (AddChild refuses loops).
    for (CFileNode* current = node; current;) {
        CFileNode* parent = FindParent(record, current, true);
        if (!parent) return;
        if (parent->IsDeleted()) current->MarkDeleted();
        if (type != SEARCHER_APFS) {
            if (current->IsDirectory() && IsEmptyFolder(current)) return;
            if (!current->IsDirectory() && !current->IsDeleted() && !showNormal) return;
        }
        if (!parent->AddChild(current)) return;
        if (parent == record.root.get() || parent->GetParent()) return;
        current = parent;
    }
}

bool CDirectoryTreeBuilder::IsInTree(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    CFileNode* top = node;
    while (top->GetParent()) top = top->GetParent();
    return top == record.root.get();
}

size_t CDirectoryTreeBuilder::BuildTree(_DIRECTORY_TREE_INFO& record, std::vector<CFileNode*>& out,
                                        _tagSearcherType type, bool force) {
    const i64 now = m_now();
    if (!force) {
        if (record.pendingCount < kBuildBatch && now - record.lastBuild < kBuildSeconds) return 0;
        if (type == SEARCHER_HFSPLUS && record.privateDataIds.empty()) return 0;
    }
    record.pendingCount = 0;
    record.lastBuild = now;
    {
        SimpleLock hold(&g_lockerAddData);
        for (CFileNode* node : record.pending) {
            if (!node->GetParent()) Climb(record, node, type);
        }
    }
    for (auto it = record.pending.begin(); it != record.pending.end();) {
        if (IsInTree(record, *it)) {
            out.push_back(*it);
            it = record.pending.erase(it);
        } else {
            ++it;
        }
    }
    return out.size();
}

void CDirectoryTreeBuilder::ShowNodes(_DIRECTORY_TREE_INFO& record, std::vector<CFileNode*>& nodes, int lost) {
    if (nodes.empty() || !m_tree) return;
    if (!record.rootPublished) {
        record.rootPublished = true;
        m_tree->ShowFilesystemNode(record.root.get());
        m_sleep(kFirstPublishSleepMs);
    }
    for (CFileNode* node : nodes) record.published[node->GetCurrentNodeID()].nodes.push_back(node);
    record.publishedCount += static_cast<i64>(nodes.size());
    std::vector<IFileNode*> batch(nodes.begin(), nodes.end());
    m_tree->ShowNodes(batch.data(), static_cast<u32>(batch.size()), lost);
}

bool CDirectoryTreeBuilder::IsPublished(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    auto it = record.published.find(node->GetCurrentNodeID());
    if (it == record.published.end()) return false;
    return std::find(it->second.nodes.begin(), it->second.nodes.end(), node) != it->second.nodes.end();
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
        for (CFileNode* node : record.pending) {
            if (node->IsDeleted()) continue;
            CFileNode* parent = FindParent(record, node, false);
            if (parent && parent->IsDeleted()) {
                node->MarkDeleted();
                ++marked;
            }
        }
        if (marked == 0) return;
    }
}

void CDirectoryTreeBuilder::FlashBuild(_tagSearcherType type) {
    _DIRECTORY_TREE_INFO* record = FindRecord(type);
    if (!record) return;
    m_flushing = true;
    RestoreRecycleName(type);
    BuildForcedUntilDone(*record, type);

    if (!record->trashSettled) {
        for (CFileNode* candidate : record->trashCandidates) {
            if (!IsUserTrashFolder(*record, candidate)) continue;
            candidate->MarkDeleted();
            record->trashId = candidate->GetCurrentNodeID();
            record->trashSettled = true;
            break;
        }
    }

    std::set<i64> pendingIds;
    for (CFileNode* node : record->pending) pendingIds.insert(node->GetCurrentNodeID());
    for (auto& [id, entry] : record->files) {
        if (entry.nodes.empty()) continue;
        CFileNode* first = entry.nodes.front();
        if (!first->GetParent() && !pendingIds.count(id) && !IsPublished(*record, first))
            record->pending.push_back(first);
    }
    {
        SimpleLock hold(&g_lockerAddData);
        MarkAllDeletedFiles(*record);
    }
    BuildForcedUntilDone(*record, type);
    BuildLostNodes(*record, type);

    record->pending.clear();
    record->trashCandidates.clear();
    if (!m_restoring) ReleaseNodeByFilter(*record);
    std::printf("CDirectoryTreeBuilder::FlashBuild  searcherType : %d, total files: %lld\n", static_cast<int>(type),
                static_cast<long long>(record->publishedCount));
    std::printf("CDirectoryTreeBuilder::FlashBuild  searcherType : %d, total added files: %lld\n",
                static_cast<int>(type), static_cast<long long>(record->addedCount));
    m_flushing = false;
}

void CDirectoryTreeBuilder::BuildLostNodes(_DIRECTORY_TREE_INFO& record, _tagSearcherType type) {
    auto* lost = new CFilesystemNode(-1, type, "Other lost files", "LostFiles");
    const bool showNormal = m_filter->ShowNormalFiles() != 0;
    std::vector<CFileNode*> notify;
    {
        SimpleLock hold(&g_lockerAddData);
        for (CFileNode* node : record.pending) {
            if (CFileNode* parent = node->GetParent()) {
                if (!node->IsDirectory() && node->GetFileSize() == 0)
                    parent->RemoveChild(node);
                else
                    notify.push_back(node);
                continue;
            }
            if (node->IsDirectory() ? IsEmptyFolder(node)
                                    : (node->GetFileSize() == 0 || (!node->IsDeleted() && !showNormal)))
                continue;
            if (lost->AddChild(node)) notify.push_back(node);
        }
        if (lost->GetFirstChild()) record.root->AddChild(lost);
    }
    if (!lost->GetFirstChild()) {
        lost->Release();
        lost = nullptr;
    } else {
        m_owned.insert(lost);
        notify.push_back(lost);
    }
    if (notify.empty()) return;
    std::printf("CDirectoryTreeBuilder BuildLostNodes nodsNotify.size() = %ld.\n", static_cast<long>(notify.size()));
    ShowNodes(record, notify, 1);
}

void CDirectoryTreeBuilder::Forget(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    record.pending.remove(node);
    Erase(record.trashCandidates, node);
    EraseFromMap(record.folders, node);
    EraseFromMap(record.files, node);
}

void CDirectoryTreeBuilder::ReleaseOwned(CFileNode* node) {
    m_owned.erase(node);
    node->Release();
}

void CDirectoryTreeBuilder::ReleaseNodeByFilter(_DIRECTORY_TREE_INFO& record) {
    // Never published and linked nowhere: no tree and no window holds these. Anything still linked
    // stays owned until the builder goes.
    std::vector<CFileNode*> unused;
    for (auto* map : {&record.files, &record.folders}) {
        for (auto& [id, entry] : *map) {
            for (CFileNode* node : entry.nodes) {
                if (!IsPublished(record, node) && !node->GetParent() && !node->GetFirstChild()) unused.push_back(node);
            }
        }
    }
    {
        SimpleLock hold(&g_lockerAddData);
        for (CFileNode* node : unused) {
            Forget(record, node);
            ReleaseOwned(node);
        }
    }
    std::printf("CDirectoryTreeBuilder::ReleaseNodeByFilter --- nReleasedCount = %d\n",
                static_cast<int>(unused.size()));
}

bool CDirectoryTreeBuilder::InsertToRecycleBin(CFileNode* node, _tagSearcherType type) {
    const i64 parentId = node->GetParentNodeID();
    const bool underBin = std::find(m_recycleFolderIds.begin(), m_recycleFolderIds.end(),
                                    std::make_pair(type, parentId)) != m_recycleFolderIds.end();
    if (!CRecyclerFilter::IsRecycleBinSigleNode(node) && !CRecyclerFilter::IsRecoverNode(node) &&
        !CRecyclerFilter::IsRecoverNodeEx(node) && !underBin)
        return false;
    if (node->IsDirectory()) {
        m_recycleFolders.push_back({node, type});
        m_recycleFolderIds.emplace_back(type, node->GetCurrentNodeID());
    } else if (NameOf(node).rfind("$I", 0) == 0) {
        m_recycleIndexes.push_back({node, type});
    } else {
        m_recycleContent.push_back({node, type});
    }
    return true;
}

void CDirectoryTreeBuilder::RestoreRecycleName(_tagSearcherType type) {
    // Only the holdings of this searcher: another searcher's nodes belong to another tree and device.
    auto takeOfType = [type](std::vector<Held>& held) {
        std::vector<CFileNode*> mine;
        auto keep = std::stable_partition(held.begin(), held.end(), [type](const Held& h) { return h.type != type; });
        for (auto it = keep; it != held.end(); ++it) mine.push_back(it->node);
        held.erase(keep, held.end());
        return mine;
    };
    std::vector<CFileNode*> folders = takeOfType(m_recycleFolders);
    std::stable_sort(folders.begin(), folders.end(),
                     [](CFileNode* a, CFileNode* b) { return a->GetCurrentNodeID() < b->GetCurrentNodeID(); });
    std::vector<CFileNode*> content = takeOfType(m_recycleContent);
    for (auto* list : {&folders, &content}) {
        for (CFileNode* node : *list) {
            RestorFileName(node, type);
            // The builder answered 1 for this node when it was held: a refusal now is ours to release.
            if (!AddNodeInternal(node, type)) ReleaseOwned(node);
        }
    }
}

void CDirectoryTreeBuilder::RestorFileName(CFileNode* node, _tagSearcherType type) {
    const std::string name = NameOf(node);
    if (name.rfind("$R", 0) != 0 || CRecyclerFilter::IsRecycleBinSigleNode(node)) return;
    if (!m_device || !m_partition) return;
    auto index = std::find_if(m_recycleIndexes.begin(), m_recycleIndexes.end(), [&](const Held& h) {
        const std::string candidate = NameOf(h.node);
        return h.type == type && candidate.size() >= 2 && candidate.compare(2, std::string::npos, name, 2) == 0;
    });
    if (index == m_recycleIndexes.end()) return;
    CFileNode* indexNode = index->node;
    const i64 size = indexNode->GetFileSize();
    if (size <= 0 || size > static_cast<i64>(CRecyclerFilter::kMaxIndexBytes)) return;

    // The run list counts clusters from the partition's cluster 0, so read through the partition record.
    CFileReaderEx reader;
    if (!reader.Open(m_device, indexNode, m_partition)) return;
    u8 bytes[CRecyclerFilter::kMaxIndexBytes] = {};
    int done = 0;
    if (!reader.Read(0, bytes, static_cast<int>(size), done) || done <= 0) return;
    std::string restored;
    if (!CRecyclerFilter::ParseIndexName(bytes, static_cast<size_t>(done), restored)) return;

    if (IFileProperties* properties = CRecyclerFilter::GetFileProperties(node, type)) {
        properties->SetFileName(restored.c_str());
    } else if (auto* exfat = dynamic_cast<CExFatFileNode*>(node)) {
        exfat->SetFileName(restored.c_str());
    } else {
        return;
    }
    m_recycleIndexes.erase(index);  // used; it stays owned by the builder
}
