#include "bridge/ResultTree/OpNodeData.h"

#include "bridge/UIController/IUIController.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/Common/TextFunctions.h"
#include "engine/Utility/FileNode.h"

namespace {

// Groups nest a few levels deep; a longer climb can only come from a parent ring set by mistake.
constexpr int kMaxClimb = 1024;

constexpr const char* kUnknownName = "Unknown";

bool IsTickState(int state) {
    return state >= CHECKED_NONE && state <= CHECKED_ALL;
}

// Icon kind of a type-tree group by the category whose title it carries.
int CategoryIconKind(u32 bit) {
    switch (bit) {
        case FILTER_DOCUMENT:
            return 2;
        case FILTER_PICTURE:
            return 3;
        case FILTER_MOVIE:
            return 4;
        case FILTER_MUSIC:
            return 5;
        case FILTER_ARCHIVE:
            return 6;
        case FILTER_EMAIL:
            return 7;
        default:
            return 8;
    }
}

}  // namespace

OpNodeData::OpNodeData(IFileNode* node)
    : m_fileNode(node), m_createTime(std::time(nullptr)), m_modifyTime(m_createTime) {}

OpNodeData::OpNodeData(const __TreeNodeData__& record)
    : m_isFileSystem(record.fileSystemFlag ? 1 : 0),
      m_fileNode(record.node),
      m_createTime(std::time(nullptr)),
      m_modifyTime(m_createTime) {}

OpNodeData::Ptr OpNodeData::NewGroup(int type, std::string name, int expandable) {
    auto group = std::make_shared<OpNodeData>(__TreeNodeData__{});
    group->setType(type);
    group->setFadeName(std::move(name));
    group->setExpandAble(expandable);
    return group;
}

std::string OpNodeData::name() const {
    if (isFadeNode()) return m_fadeName.value_or(kUnknownName);
    if (!m_fileNode) return {};
    return fileNodeName(m_fileNode).value_or(kUnknownName);
}

std::string OpNodeData::path() const {
    if (isFadeNode()) return {};
    IUIController* controller = GetUIController();
    return controller ? controller->GetPathByFileNode(m_fileNode) : std::string();
}

i64 OpNodeData::size() const {
    if (isDirect() || !m_fileNode) return 0;
    return m_fileNode->GetFileSize();
}

bool OpNodeData::isDirect() const {
    if (isFadeNode()) return true;
    return isFileNodeDirect(m_fileNode);
}

bool OpNodeData::isDeleted() const {
    if (isFadeNode()) return false;
    return isFileNodeDeleted(m_fileNode);
}

std::string OpNodeData::createTime() const {
    const _FILETIME value = createTimeValue();
    if (value == 0) return {};
    IUIController* controller = GetUIController();
    return controller ? controller->FormatFileTimeToString(value) : std::string();
}

_FILETIME OpNodeData::createTimeValue() const {
    if (isFadeNode() || !m_fileNode) return 0;
    return m_fileNode->GetCreationTime();
}

bool OpNodeData::isHasFolderChildren() const {
    if (isFadeNode()) return m_isExpandAble != 0;
    if (!m_fileNode) return false;
    for (IFileNode* child = m_fileNode->GetFirstChild(); child; child = child->GetNextNode()) {
        if (child->IsDirectory()) return true;
    }
    return false;
}

int OpNodeData::nodeType() const {
    if (!isFadeNode()) return m_isFileSystem ? 0 : 1;
    switch (m_type) {
        case OPNODE_TYPE_TREE: {
            IUIController* controller = GetUIController();
            const std::string title = name();
            return CategoryIconKind(controller ? controller->StringToFilterType(title.c_str()) : FILTER_OTHER);
        }
        case OPNODE_CREATE_DATE:
        case OPNODE_MODIFY_DATE:
            return parent() ? 10 : 9;
        default:
            return 11;
    }
}

void OpNodeData::setSubNode(std::vector<Child> children) {
    m_children = std::move(children);
    const std::weak_ptr<OpNodeData> self = weak_from_this();
    for (const Child& child : m_children) {
        if (const Ptr* node = std::get_if<Ptr>(&child); node && *node) (*node)->m_parent = self;
    }
}

void OpNodeData::addChildObject(Child child) {
    m_children.push_back(std::move(child));
}

void OpNodeData::insertChildObject(Child child, size_t index) {
    if (index >= m_children.size()) {
        m_children.push_back(std::move(child));
    } else {
        m_children.insert(m_children.begin() + static_cast<std::ptrdiff_t>(index), std::move(child));
    }
}

int OpNodeData::state() const {
    return isEngineRow() ? fileNodeState(m_fileNode) : m_state;
}

int OpNodeData::childState(const Child& child) {
    if (const Ptr* node = std::get_if<Ptr>(&child)) return *node ? (*node)->state() : 0;
    return fileNodeState(std::get<IFileNode*>(child));
}

int OpNodeData::stateFromChildren() const {
    u64 sum = 0;
    for (const Child& child : m_children) sum += static_cast<u64>(childState(child));
    if (sum == 0) return CHECKED_NONE;
    if (sum == 2ULL * m_children.size()) return CHECKED_ALL;
    return CHECKED_PARTLY;
}

void OpNodeData::setNodeState(int state) {
    if (!IsTickState(state)) return;
    SimpleLock hold(&g_lockerAddData);
    if (isEngineRow()) {
        setFileNode(m_fileNode, state);
    } else {
        m_state = state;
    }
    const Ptr above = parent();
    if (above && above->isFadeNode()) setParentNodeState(state);
    SetChildrenNodeState(state);
}

void OpNodeData::setParentNodeState(int state) {
    if (!IsTickState(state)) return;
    SimpleLock hold(&g_lockerAddData);
    m_state = state;
    // Climb group by group; each parent takes 1 at once when a child is 1, else what its children sum to.
    Ptr above = parent();
    int value = state;
    for (int step = 0; above && above->isFadeNode() && step < kMaxClimb; ++step) {
        if (value != CHECKED_PARTLY) value = above->stateFromChildren();
        above->m_state = value;
        above = above->parent();
    }
}

void OpNodeData::SetChildrenNodeState(int state) {
    if (!IsTickState(state)) return;
    SimpleLock hold(&g_lockerAddData);
    if (isEngineRow()) {
        const Ptr above = parent();
        if (above && above->isFadeNode()) setFileNode(m_fileNode, state);
        return;
    }
    m_state = state;
    if (state == CHECKED_PARTLY) return;
    for (const Child& child : m_children) {
        if (const Ptr* node = std::get_if<Ptr>(&child)) {
            if (*node) (*node)->SetChildrenNodeState(state);
        } else {
            setFileNode(std::get<IFileNode*>(child), state);
        }
    }
}

bool OpNodeData::isFileNodeDirect(IFileNode* node) {
    return node && node->IsDirectory();
}

bool OpNodeData::isFileNodeDeleted(IFileNode* node) {
    return node && node->IsDeleted();
}

int OpNodeData::fileNodeState(IFileNode* node) {
    return node ? static_cast<int>(node->GetCheckedStatus()) : 0;
}

void OpNodeData::setFileNode(IFileNode* node, int state) {
    if (!node || (state != CHECKED_NONE && state != CHECKED_ALL)) return;
    node->SetCheck(static_cast<_tagCheckedStatus>(state));
}

std::optional<std::string> OpNodeData::fileNodeName(IFileNode* node) {
    if (!node) return std::string();
    const char* name = node->GetFileName();
    if (!isValidString(name)) return std::nullopt;
    return std::string(name);
}
