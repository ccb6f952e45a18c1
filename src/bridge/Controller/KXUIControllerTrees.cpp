// The four result-tree arrays of the result window, the queries the window makes of its trees, and
// the search by name. The arrays change only on the main thread under g_lockerAddData: the refresh of
// a scan and the steps of a search are queued for the main thread and run just before their
// notification is delivered; the search thread itself only marks nodes shown or hidden.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <unordered_set>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Dispatch/Dispatch.h"
#include "bridge/Dispatch/ResultTreeArrays.h"
#include "bridge/Dispatch/WorkerRegistry.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/Common/CatchExeception.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/IFilesystemNode.h"
#include "platform/foundation/Localization.h"

namespace {

using TreeArray = KXUIController::TreeArray;

constexpr int kViewPath = 0;
constexpr int kViewType = 1;
constexpr int kViewCreated = 2;
constexpr int kViewModified = 3;
constexpr int kViewAccess = 4;

// Sibling chains and parent chains longer than this can only be rings.
constexpr size_t kMaxChain = 1u << 24;

bool IsDateKey(int key) {
    return key == kViewCreated || key == kViewModified || key == kViewAccess;
}

const char* DateRootName(int key) {
    switch (key) {
        case kViewCreated:
            return "CREATE_TIME_ROOT_NAME";
        case kViewModified:
            return "MODIFY_TIME_ROOT_NAME";
        case kViewAccess:
            return "LAST_ACCESS_TIME_ROOT_NAME";
        default:
            return nullptr;
    }
}

// Everything below lives on the main thread under g_lockerAddData.
class Trees : public IResultTreeArrays {
public:
    TreeArray* path = nullptr;
    TreeArray* type = nullptr;
    TreeArray* created = nullptr;
    TreeArray* modified = nullptr;
    // Folders whose parent has no tree node yet.
    std::vector<IFileNode*> pending;
    size_t lost = 0;
    // Every path-tree node made since the last reset: the scan's node map points at them, so they
    // live as long as the map does, whatever the window does with its arrays.
    std::vector<OpNodeData::Ptr> made;
    // A search rebuilt the tree of view searchView; the other three wait for "DoSearchFinished".
    bool othersPending = false;
    int searchView = 0;

    void RebuildForRefresh(int force) override {
        if (!othersPending) {
            // A batch larger than the budget is placed over the refreshes that follow (unforced: the
            // path tree's part of a forced refresh, its extra passes and its log line, ran whole here).
            if (KXUIController::KXGetTreeNodeData(force, KXUIController::kFilesPerRebuild)) PostRefreshNow(0);
            return;
        }
        RebuildView(searchView, force);
    }

    void Reset() override {
        for (TreeArray* array : {path, type, created, modified})
            if (array) array->clear();
        ResetPath();
        othersPending = false;
        ResetRefreshClock();
    }

    void ResetPath() {
        pending.clear();
        KXUIScan::instance().KXResetFileNode();
        made.clear();
    }

    void RebuildView(int view, int flag) {
        switch (view) {
            case kViewPath:
                KXUIController::KXGetTreeNodeDataPath(flag);
                break;
            case kViewType:
                KXUIController::AddTypeNodeToArr(type);
                break;
            case kViewCreated:
                KXUIController::AddDateNodeToArray(created, kViewCreated);
                break;
            case kViewModified:
                KXUIController::AddDateNodeToArray(modified, kViewModified);
                break;
            default:
                break;
        }
    }
};

Trees& TheTrees() {
    static Trees trees;
    return trees;
}

// Makes a path-tree node for a folder (a partition root when it has no parent) and records it.
OpNodeData::Ptr MakePathNode(IFileNode* folder, OpNodeData* parent) {
    __TreeNodeData__ record;
    record.isDirectory = folder->IsDirectory();
    record.isDeleted = folder->IsDeleted();
    record.fileSystemFlag = parent ? 0 : 1;
    record.node = folder;
    auto node = std::make_shared<OpNodeData>(record);
    node->setType(OPNODE_ENGINE);
    node->setExpandAble(parent ? 0 : 1);
    if (parent) {
        node->setParent(parent->shared_from_this());
        parent->setExpandAble(1);
    }
    TheTrees().made.push_back(node);
    KXUIScan::instance().KXSetFileNode(folder, node.get());
    return node;
}

OpNodeData* TreeNodeOf(IFileNode* node) {
    return static_cast<OpNodeData*>(KXUIScan::instance().KXGetFileNode(node));
}

// Attaches new nodes under their parents, or as roots of the path array.
void AttachPathNodes(const TreeArray& nodes) {
    for (const OpNodeData::Ptr& node : nodes) {
        if (OpNodeData::Ptr parent = node->parent()) {
            parent->addChildObject(node);
        } else if (TreeArray* path = TheTrees().path) {
            path->push_back(node);
        }
    }
}

// While the trees are walked, a forced refresh the scan asks for waits (it is delivered after).
class TreeBusy {
public:
    TreeBusy() { KXUIScan::instance().SetOpTreeFinished(0); }
    ~TreeBusy() { KXUIScan::instance().SetOpTreeFinished(1); }
    TreeBusy(const TreeBusy&) = delete;
    TreeBusy& operator=(const TreeBusy&) = delete;
};

// The tree node of a folder for the path tree of a search: its ancestors first. False when a parent
// could not be placed (a ring or a chain too long).
bool AddSearchFolder(TreeArray* out, IFileNode* folder, size_t depth = 0) {
    if (TreeNodeOf(folder)) return true;
    if (depth > 4096) return false;
    IFileNode* parent = folder->GetParent();
    if (!parent) {
        out->push_back(MakePathNode(folder, nullptr));
        return true;
    }
    if (!AddSearchFolder(out, parent, depth + 1)) return false;
    OpNodeData* parentNode = TreeNodeOf(parent);
    if (!parentNode) return false;
    out->push_back(MakePathNode(folder, parentNode));
    return true;
}

// The path tree of a search: the folders that hold found files, with their ancestors.
void BuildSearchPathTree(const std::vector<IFileNode*>& found) {
    TreeArray made;
    std::vector<IFileNode*> left;
    {
        TreeBusy busy;
        for (IFileNode* file : found) {
            IFileNode* folder = file ? file->GetParent() : nullptr;
            if (folder && !AddSearchFolder(&made, folder)) left.push_back(folder);
        }
    }
    if (!left.empty()) CatchExeception::Instance()->WriteLog("zzmark: lost filenode with search:%lu\n", left.size());
    AttachPathNodes(made);
}

// Rebuilds the tree of one view after a search (its array emptied and made anew).
void RebuildSearchedView(int view, const std::vector<IFileNode*>& found, bool keyed) {
    Trees& trees = TheTrees();
    switch (view) {
        case kViewPath:
            if (trees.path) trees.path->clear();
            trees.ResetPath();
            // Without a key every folder is shown again, empty ones too.
            if (keyed)
                BuildSearchPathTree(found);
            else
                KXUIController::KXGetTreeNodeDataPath(2);
            break;
        case kViewType:
            KXTypeMgr::share().setSearch(true);
            if (trees.type) trees.type->clear();
            KXUIController::AddTypeNodeToArr(trees.type);
            break;
        case kViewCreated:
        case kViewModified: {
            KXTimeMgr::share().clearKey(view);
            TreeArray* array = view == kViewCreated ? trees.created : trees.modified;
            if (array) array->clear();
            KXUIController::AddDateNodeToArray(array, view);
            break;
        }
        default:
            break;
    }
}

// The search worker.
std::mutex g_searchMutex;
std::shared_ptr<Worker> g_searchWorker;

}  // namespace

// --- Result tree arrays ---

IResultTreeArrays& KXUIController::Trees() {
    return TheTrees();
}

bool KXUIController::KXSetTreeNodeData(const TreeArrays* arrays) {
    if (!arrays) return false;
    auto find = [&](const char* key) -> TreeArray* {
        const auto found = arrays->find(key);
        return found == arrays->end() ? nullptr : found->second;
    };
    SimpleLock hold(&g_lockerAddData);
    ::Trees& trees = TheTrees();
    trees.path = find(kKeyNodePath);
    trees.type = find(kKeyNodeType);
    trees.created = find(kKeyNodeCreateTime);
    trees.modified = find(kKeyNodeModifyTime);
    return true;
}

void KXUIController::KXGetTreeNodeData(int flag) {
    KXGetTreeNodeData(flag, SIZE_MAX);
}

bool KXUIController::KXGetTreeNodeData(int flag, size_t budget) {
    SimpleLock hold(&g_lockerAddData);
    ::Trees& trees = TheTrees();
    bool left = AddTypeNodeToArr(trees.type, budget);
    left = AddDateNodeToArray(trees.created, kViewCreated, budget) || left;
    left = AddDateNodeToArray(trees.modified, kViewModified, budget) || left;
    KXGetTreeNodeDataPath(flag);
    return left;
}

bool KXUIController::KXGetTreeNodeDataPath(int flag) {
    SimpleLock hold(&g_lockerAddData);
    if (!TheTrees().path) return false;
    TreeArray made;
    made.reserve(32);
    KXGetNewPathOpNode(&made, flag);
    AttachPathNodes(made);
    return true;
}

bool KXUIController::KXGetNewPathOpNode(TreeArray* out, int flag) {
    if (!out) return false;
    SimpleLock hold(&g_lockerAddData);
    ::Trees& trees = TheTrees();
    out->clear();
    KXUIScan& scan = KXUIScan::instance();
    const std::vector<IFileNode*> fresh = flag == 2 ? scan.KXGetAllPathNode() : scan.KXGetNewPathNode();
    std::vector<IFileNode*> retry = std::move(trees.pending);
    const std::vector<IFileNode*> left = KXGetNewPathOpNodeImp(out, fresh);
    retry.insert(retry.end(), left.begin(), left.end());
    trees.pending = KXGetNewPathOpNodeImp(out, retry);
    if (flag == 0) return true;
    for (int pass = 0; pass < kExtraPathPasses && !trees.pending.empty(); ++pass) {
        const size_t before = trees.pending.size();
        trees.pending = KXGetNewPathOpNodeImp(out, trees.pending);
        // A pass that places nothing places nothing the next time either.
        if (trees.pending.size() == before) break;
    }
    trees.lost = trees.pending.size();
    CatchExeception::Instance()->WriteLog("zzmark: lost filenode:%lu\n", static_cast<unsigned long>(trees.lost));
    return true;
}

std::vector<IFileNode*> KXUIController::KXGetNewPathOpNodeImp(TreeArray* out, const std::vector<IFileNode*>& folders) {
    std::vector<IFileNode*> waiting;
    if (!out) return waiting;
    TreeBusy busy;
    for (IFileNode* folder : folders) {
        if (!folder || TreeNodeOf(folder)) continue;
        IFileNode* parent = folder->GetParent();
        if (!parent) {
            out->push_back(MakePathNode(folder, nullptr));
            continue;
        }
        OpNodeData* parentNode = TreeNodeOf(parent);
        if (!parentNode) {
            waiting.push_back(folder);
            continue;
        }
        out->push_back(MakePathNode(folder, parentNode));
    }
    return waiting;
}

size_t KXUIController::PendingPathNodes() {
    SimpleLock hold(&g_lockerAddData);
    return TheTrees().pending.size();
}

size_t KXUIController::LostPathNodes() {
    SimpleLock hold(&g_lockerAddData);
    return TheTrees().lost;
}

void KXUIController::KXResetTreeNodeData() {
    SimpleLock hold(&g_lockerAddData);
    TheTrees().Reset();
}

void KXUIController::KXCleanState() {
    KXUIScan& scan = KXUIScan::instance();
    TreeBusy busy;
    for (IFilesystemNode* root : scan.GetFileSystemNode()) {
        root->ShowNode(1);
        root->SetCheck(CHECKED_NONE);
    }
}

bool KXUIController::KXCleanOpNodeSate() {
    SimpleLock hold(&g_lockerAddData);
    ::Trees& trees = TheTrees();
    for (TreeArray* array : {trees.path, trees.type, trees.created, trees.modified}) {
        if (!array) continue;
        for (const OpNodeData::Ptr& node : *array)
            if (node) node->setStateField(CHECKED_NONE);
    }
    return true;
}

// --- Result tree queries ---

bool KXUIController::GetScanTreeNodeData(TreeArray* array, bool clear) {
    if (!array) return false;
    SimpleLock hold(&g_lockerAddData);
    KXUIScan& scan = KXUIScan::instance();
    {
        TreeBusy busy;
        const bool pathView = scan.GetScanType() == kViewPath;
        for (IFilesystemNode* root : scan.GetFileSystemNode()) {
            if (clear) {
                root->ShowNode(1);
                root->SetCheck(CHECKED_NONE);
            }
            if (pathView && !IsFileNodeInArr(root, *array)) {
                OpNodeData* known = TreeNodeOf(root);
                array->push_back(known ? known->shared_from_this() : MakePathNode(root, nullptr));
            }
        }
    }
    AddNodeToArr(array);
    return false;
}

void KXUIController::AddNodeToArr(TreeArray* array) {
    switch (const int view = KXUIScan::instance().GetScanType()) {
        case kViewPath:
            AddPathNodeToArray(array);
            break;
        case kViewType:
            AddTypeNodeToArr(array);
            break;
        case kViewCreated:
        case kViewModified:
        case kViewAccess:
            AddDateNodeToArray(array, view);
            break;
        default:
            break;
    }
}

namespace {

// The direct children of an engine node in sibling order, stopping at a node met a second time.
template <class Visit>
void ForEachChild(IFileNode* node, Visit visit) {
    std::unordered_set<IFileNode*> seen;
    for (IFileNode* child = node->GetFirstChild(); child && seen.size() < kMaxChain; child = child->GetNextNode()) {
        if (!seen.insert(child).second) break;
        visit(child);
    }
}

void GrowPathNode(const OpNodeData::Ptr& node, size_t depth) {
    if (!node || depth > 4096) return;
    IFileNode* engine = node->fileNode();
    if (engine && node->isExpandAble()) {
        std::unordered_set<IFileNode*> placed;
        for (const OpNodeData::Child& child : node->children())
            if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child); sub && *sub) placed.insert((*sub)->fileNode());
        KXUIScan& scan = KXUIScan::instance();
        ForEachChild(engine, [&](IFileNode* child) {
            if (!child->IsDirectory() || !child->IsNodeShow() || !scan.FindRemoveData(child)) return;
            if (placed.count(child) || TreeNodeOf(child)) return;
            node->addChildObject(MakePathNode(child, node.get()));
            node->setExpandAble(1);
        });
    }
    for (const OpNodeData::Child& child : node->children())
        if (const auto* sub = std::get_if<OpNodeData::Ptr>(&child)) GrowPathNode(*sub, depth + 1);
}

}  // namespace

void KXUIController::AddPathNodeToArray(TreeArray* array) {
    if (!array) return;
    SimpleLock hold(&g_lockerAddData);
    for (const OpNodeData::Ptr& node : *array) GrowPathNode(node, 0);
}

void KXUIController::AddTypeNodeToArr(TreeArray* array) {
    AddTypeNodeToArr(array, SIZE_MAX);
}

bool KXUIController::AddTypeNodeToArr(TreeArray* array, size_t budget) {
    if (!array) return false;
    SimpleLock hold(&g_lockerAddData);
    KXTypeMgr& types = KXTypeMgr::share();
    const bool left = types.refreshTypeTree(budget);
    if (array->empty()) *array = types.getRootNode();
    return left;
}

void KXUIController::AddDateNodeToArray(TreeArray* array, int keyType) {
    AddDateNodeToArray(array, keyType, SIZE_MAX);
}

bool KXUIController::AddDateNodeToArray(TreeArray* array, int keyType, size_t budget) {
    if (!array) return false;
    SimpleLock hold(&g_lockerAddData);
    if (array->empty()) {
        const char* key = DateRootName(keyType);
        auto root = OpNodeData::NewGroup(keyType, key ? brelvox::foundation::Localized(key) : std::string(), 1);
        root->setSubNode({});
        array->push_back(root);
    }
    return KXTimeMgr::share().refreshTimeTree(array->front(), keyType, budget);
}

bool KXUIController::GetFileNodeToArray(std::vector<IFileNode*>* out, OpNodeData* node) {
    if (!node) return false;
    switch (node->type()) {
        case kViewCreated:
        case kViewModified:
        case kViewAccess:
            return GetDateInfoToArray(out, node);
        case kViewType:
            return GetTypeInfoToArray(out, node);
        case kViewPath:
            return GetPathInfoToArray(out, node);
        default:
            return false;
    }
}

bool KXUIController::GetPathInfoToArray(std::vector<IFileNode*>* out, OpNodeData* node) {
    if (!node || !out || !node->isDirect()) return false;
    SimpleLock hold(&g_lockerAddData);
    out->clear();
    IFileNode* engine = node->fileNode();
    if (!engine) return false;
    ForEachChild(engine, [&](IFileNode* child) {
        if (!child->IsDirectory() && child->IsNodeShow()) out->push_back(child);
    });
    return !out->empty();
}

bool KXUIController::GetTypeInfoToArray(std::vector<IFileNode*>* out, OpNodeData* node) {
    if (!node) return false;
    SimpleLock hold(&g_lockerAddData);
    if (out) out->clear();
    if (!node->parent() && !KXTypeMgr::share().isOtherNode(node)) return true;
    if (out)
        for (const OpNodeData::Child& child : node->children())
            if (IFileNode* const* file = std::get_if<IFileNode*>(&child); file && *file) out->push_back(*file);
    return false;
}

bool KXUIController::GetDateInfoToArray(std::vector<IFileNode*>* out, OpNodeData* node) {
    if (!node || !out) return false;
    SimpleLock hold(&g_lockerAddData);
    out->clear();
    if (!node->parent()) return false;
    const std::time_t groupTime = node->type() == kViewModified ? node->modifytime() : node->createtime();
    std::tm local{};
    if (localtime_r(&groupTime, &local)) {
        char year[16];
        std::snprintf(year, sizeof year, "%04d", local.tm_year + 1900);
        if (node->name() == year) return false;
    }
    for (const OpNodeData::Child& child : node->children())
        if (IFileNode* const* file = std::get_if<IFileNode*>(&child); file && *file) out->push_back(*file);
    return false;
}

size_t KXUIController::GetNodeChildrenCnt(const OpNodeData* node) {
    if (!node) return 0;
    SimpleLock hold(&g_lockerAddData);
    const bool dateRoot = !node->parent() && (node->type() == kViewCreated || node->type() == kViewModified);
    size_t count = 0;
    for (const OpNodeData::Child& child : node->children()) {
        const auto* sub = std::get_if<OpNodeData::Ptr>(&child);
        if (!sub || !*sub) return node->children().size();
        if (dateRoot) {
            // Years count the entries of their months.
            for (const OpNodeData::Child& month : (*sub)->children()) {
                const auto* group = std::get_if<OpNodeData::Ptr>(&month);
                count += group && *group ? (*group)->children().size() : 0;
            }
        } else {
            count += (*sub)->children().size();
        }
    }
    return count;
}

void KXUIController::AddFileNode(IFileNode* node, const OpNodeData::Ptr& root) {
    const int view = KXUIScan::instance().GetScanType();
    if (!node || !root || !IsDateKey(view)) return;
    KXTimeMgr::share().AddFileNode(node, root, view);
}

int KXUIController::GetDateInsertIndex(const std::string& name, const std::vector<OpNodeData::Child>& groups) {
    return KXTimeMgr::GetDateInsertIndex(name, groups);
}

bool KXUIController::IsFileNodeInArr(IFileNode* node, const TreeArray& array) {
    return std::any_of(array.begin(), array.end(),
                       [node](const OpNodeData::Ptr& entry) { return entry && entry->fileNode() == node; });
}

void KXUIController::setNodeState(OpNodeData* group, const std::vector<IFileNode*>& files) {
    if (!group) return;
    SimpleLock hold(&g_lockerAddData);
    int state = group->state();
    int sum = 0, count = 0;
    for (IFileNode* file : files) {
        if (!file || !file->IsNodeShow()) continue;
        const int check = file->GetCheckedStatus();
        sum += check;
        ++count;
        if (check == CHECKED_PARTLY || check == CHECKED_ALL) {
            state = CHECKED_PARTLY;
        } else if (check == CHECKED_NONE && sum > 0 && state == CHECKED_PARTLY) {
            break;
        }
    }
    if (sum == 0)
        state = CHECKED_NONE;
    else if (sum == 2 * count)
        state = CHECKED_ALL;
    group->setParentNodeState(state);
}

void KXUIController::RefreshTimeTreeState(const TreeArray& roots, int change) {
    SimpleLock hold(&g_lockerAddData);
    KXTimeMgr& dates = KXTimeMgr::share();
    if (change == 1) {
        if (!dates.KXGetNeedRefreshTree()) return;
        dates.KXResetNeedRefreshTree();
    }
    KXUIScan& scan = KXUIScan::instance();
    const int view = scan.GetScanType();
    const KXUIScan::TimeMap map = view == kViewModified  ? scan.GetModifyTimeMap()
                                  : view == kViewCreated ? scan.GetCreateTimeMap()
                                                         : KXUIScan::TimeMap{};
    static const std::vector<IFileNode*> kNone;
    for (const OpNodeData::Ptr& root : roots) {
        if (!root) continue;
        for (const OpNodeData::Child& yearChild : root->children()) {
            const auto* year = std::get_if<OpNodeData::Ptr>(&yearChild);
            if (!year || !*year) continue;
            for (const OpNodeData::Child& monthChild : (*year)->children()) {
                const auto* month = std::get_if<OpNodeData::Ptr>(&monthChild);
                if (!month || !*month) continue;
                const std::time_t when = view == kViewModified ? (*month)->modifytime() : (*month)->createtime();
                std::tm local{};
                const std::vector<IFileNode*>* files = &kNone;
                if (localtime_r(&when, &local)) {
                    const auto y = map.find(local.tm_year + 1900);
                    if (y != map.end()) {
                        const auto m = y->second.find(local.tm_mon + 1);
                        if (m != y->second.end()) files = &m->second;
                    }
                }
                setNodeState(month->get(), *files);
            }
        }
    }
}

void KXUIController::RefreshTypeTreeState(OpNodeData* node) {
    if (node)
        KXTypeMgr::share().setNodeState(*node);
    else
        KXTypeMgr::share().refreshTypeTreeState();
}

IconImage KXUIController::getImageForType(const std::string& extension) {
    return KXTypeMgr::share().getImageForType(extension);
}

void KXUIController::KXTableViewCellCilck() {
    KXTypeMgr::share().KXSetNeedRefreshTree();
    KXTimeMgr::share().KXSetNeedRefreshTree();
}

void KXUIController::RefreshData() {
    KXUIScan::instance().RefreshAllData();
}

// --- Search by name ---

bool KXUIController::DoSearchWithString(const std::string& key, const std::string& postKey) {
    KXUIScan& scan = KXUIScan::instance();
    std::lock_guard<std::mutex> hold(g_searchMutex);
    if (scan.IsSearching() || (g_searchWorker && !g_searchWorker->HasReturned())) {
        CatchExeception::Instance()->WriteLog("++++++++++skip search key:%s++++++++\n", key.c_str());
        return false;
    }
    if (g_searchWorker) {
        g_searchWorker->Join();
        WorkerRegistry::Instance().JoinReturned();
    }
    scan.SetSearching(1);
    scan.SetSearchKey(key.c_str());
    g_searchWorker = WorkerRegistry::Instance().Start("search", [postKey] { DoSearchFn(postKey); });
    if (!g_searchWorker) {
        scan.SetSearching(0);
        return false;
    }
    return true;
}

void KXUIController::DoSearchFn(const std::string& postKey) {
    KXUIScan& scan = KXUIScan::instance();
    SimpleLock hold(&g_lockerAddData);
    auto found = std::make_shared<std::vector<IFileNode*>>();
    scan.DoSearch(*found);
    const bool keyed = scan.GetSearchKey().has_value();
    const int view = scan.GetScanType();
    // The current view is rebuilt just before the key reaches the window, the other three just before
    // "DoSearchFinished": a window never sees a tree change under it.
    KXUIPublic::NotifyMainThreadAfter(postKey, [found, keyed, view] {
        SimpleLock trees(&g_lockerAddData);
        ::Trees& all = TheTrees();
        all.othersPending = true;
        all.searchView = view;
        ResetRefreshClock();
        RebuildSearchedView(view, *found, keyed);
    });
    KXUIPublic::NotifyMainThreadAfter(ui_notification::kDoSearchFinished, [found, keyed, view] {
        SimpleLock trees(&g_lockerAddData);
        ::Trees& all = TheTrees();
        for (int other : {kViewType, kViewCreated, kViewModified, kViewPath})
            if (other != view) RebuildSearchedView(other, *found, keyed);
        all.othersPending = false;
    });
    scan.SetNeedUIUpdate(0);
}

std::string KXUIController::GetSearchString() {
    return KXUIScan::instance().GetSearchKey().value_or("");
}

void KXUIController::StopSearch() {
    KXUIScan::instance().SetSearching(0);
    KXUIScan::instance().SetAddDataFlag(0);
}

void KXUIController::GetSearchResultToArr(std::vector<IFileNode*>* out) {
    KXUIScan& scan = KXUIScan::instance();
    if (!out || !scan.GetSearchKey()) return;
    for (const auto& [category, nodes] : scan.GetTypeMap())
        for (IFileNode* node : nodes)
            if (node && node->IsNodeShow()) out->push_back(node);
}

bool KXUIController::KXGetIsSearching() {
    return KXUIScan::instance().IsSearching() != 0;
}

bool KXUIController::IsSearchWorkerAlive() {
    std::lock_guard<std::mutex> hold(g_searchMutex);
    return g_searchWorker && !g_searchWorker->HasReturned();
}
