#include "support/FakeFileTree.h"

#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"

namespace testsupport {

namespace {

std::string ParentPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LastName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

FakeFileNode::FakeFileNode(FakeFileTree* tree, std::string name, const FakeFileRow& row)
    : m_tree(tree),
      m_name(std::move(name)),
      m_size(row.size),
      m_creation(row.creation),
      m_modification(row.modification),
      m_folder(row.flags & kFakeFolder),
      m_deleted(row.flags & kFakeDeleted) {}

void FakeFileNode::SetCheck(_tagCheckedStatus status) {
    if (m_tree) m_tree->Record(this, status);
    CFileNode::SetCheck(status);
}

FakeFileTree::FakeFileTree(std::string volume, _tagSearcherType type, const std::vector<FakeFileRow>& rows) {
    m_root = std::make_unique<FakeFileNode>(this, "", FakeFileRow{"", 0, 0, 0, kFakeFolder});
    m_root->SetCurrentNodeID(1);
    m_root->m_searcher = type;
    m_root->m_volume = std::move(volume);
    std::vector<std::pair<FakeFileNode*, unsigned>> made;
    for (const FakeFileRow& row : rows) made.emplace_back(Make(row, false), row.flags);
    SimpleLock hold(&g_lockerAddData);
    for (const auto& [node, flags] : made) {
        if (flags & kFakeTicked) node->Tick(CHECKED_ALL);
    }
    for (const auto& [node, flags] : made) {
        if (flags & kFakeHidden) node->ShowNode(0);
    }
}

FakeFileTree::~FakeFileTree() = default;

FakeFileNode* FakeFileTree::Node(const std::string& path) const {
    if (path.empty()) return m_root.get();
    std::lock_guard<std::mutex> hold(m_mutex);
    const auto found = m_nodes.find(path);
    return found == m_nodes.end() ? nullptr : found->second.get();
}

FakeFileNode* FakeFileTree::Add(const FakeFileRow& row) {
    return Make(row, true);
}

FakeFileNode* FakeFileTree::Make(const FakeFileRow& row, bool applyFlags) {
    SimpleLock linking(&g_lockerAddData);
    if (FakeFileNode* known = row.path.empty() ? nullptr : Node(row.path)) {
        // A folder made on the way and listed later: the row gives its values.
        known->m_size = row.size;
        known->m_creation = row.creation;
        known->m_modification = row.modification;
        known->m_deleted = row.flags & kFakeDeleted;
        return known;
    }
    FakeFileNode* parent = m_root.get();
    const std::string above = ParentPath(row.path);
    if (!above.empty()) {
        parent = Node(above);
        if (!parent) parent = Make(FakeFileRow{above, 0, 0, 0, kFakeFolder}, false);
    }
    auto node = std::make_unique<FakeFileNode>(this, LastName(row.path), row);
    FakeFileNode* raw = node.get();
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        raw->SetCurrentNodeID(m_nextId++);
        raw->SetParentNodeID(parent->GetCurrentNodeID());
        m_nodes[row.path] = std::move(node);
        if (!(row.flags & kFakeFolder)) m_files.push_back(raw);
    }
    parent->AddChild(raw);
    if (applyFlags && (row.flags & kFakeTicked)) raw->Tick(CHECKED_ALL);
    if (applyFlags && (row.flags & kFakeHidden)) raw->ShowNode(0);
    return raw;
}

std::vector<FakeFileNode*> FakeFileTree::Files() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_files;
}

void FakeFileTree::Record(IFileNode* node, int state) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_setChecks.push_back({node, state});
}

std::vector<FakeFileTree::SetCheckCall> FakeFileTree::SetChecks() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_setChecks;
}

void FakeFileTree::ClearSetChecks() {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_setChecks.clear();
}

}  // namespace testsupport
