#include "bridge/ResultTree/KXTypeMgr.h"

#include <algorithm>

#include "bridge/UIController/IUIController.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/Utility/IFileNode.h"

KXTypeMgr& KXTypeMgr::share() {
    static KXTypeMgr manager(nullptr, GetIconProvider(), brelvox::foundation::ReadFileTypeCatalogue());
    return manager;
}

KXTypeMgr::KXTypeMgr(IUIController* controller, IIconProvider* icons,
                     std::optional<brelvox::foundation::FileTypeCatalogue> catalogue)
    : m_controller(controller), m_icons(icons), m_dic(std::move(catalogue)) {
    // An extension listed under two categories ends under the higher bit.
    if (m_dic) {
        for (int bit : brelvox::foundation::kCatalogueBits) {
            for (const std::string& extension : m_dic->Extensions(bit).value_or(std::vector<std::string>{}))
                m_typeDict[extension] = std::to_string(bit);
        }
    }
    initRootNode();
    initImageDict();
    initTypeMap();
}

IUIController* KXTypeMgr::controller() const {
    return m_controller ? m_controller : GetUIController();
}

void KXTypeMgr::initRootNode() {
    for (u32 bit : kRootBits) m_rootNode[bit] = createRootNode(bit);
}

OpNodeData::Ptr KXTypeMgr::createRootNode(u32 bit) {
    IUIController* titles = controller();
    auto root = OpNodeData::NewGroup(OPNODE_TYPE_TREE, titles ? titles->FilterTypeToString(bit) : std::string(), 1);
    root->setNodeState(CHECKED_NONE);
    return root;
}

void KXTypeMgr::initImageDict() {
    if (!m_icons) return;
    for (const auto& entry : m_typeDict) {
        if (IconImage icon = imageSize(m_icons->IconForFileType(entry.first), kIconSize, kIconSize))
            m_imgDict.emplace(entry.first, std::move(icon));
    }
}

void KXTypeMgr::initTypeMap() {
    m_typeIndexMap.clear();
    for (u32 bit : kRootBits) m_typeIndexMap[bit] = 0;
}

std::vector<OpNodeData::Ptr> KXTypeMgr::getRootNode() {
    SimpleLock hold(&g_lockerAddData);
    std::vector<OpNodeData::Ptr> roots;
    for (u32 bit : kRootBits) roots.push_back(m_rootNode[bit]);
    return roots;
}

OpNodeData::Ptr KXTypeMgr::rootNode(u32 bit) {
    SimpleLock hold(&g_lockerAddData);
    const auto found = m_rootNode.find(bit);
    return found == m_rootNode.end() ? nullptr : found->second;
}

std::optional<std::string> KXTypeMgr::categoryOf(const std::string& extension) const {
    const auto found = m_typeDict.find(extension);
    if (found == m_typeDict.end()) return std::nullopt;
    return found->second;
}

bool KXTypeMgr::refreshTypeTree(size_t budget) {
    SimpleLock hold(&g_lockerAddData);
    IUIController* scan = controller();
    if (!scan) return false;
    // Only the entries from the resume indexes on are copied: a refresh costs what it places.
    const IUIController::TypeMap lists = scan->GetTypeMapFrom(m_typeIndexMap);
    size_t fresh = m_insertFileNodeMap.size();
    for (const auto& entry : lists) fresh += entry.second.size();
    // Grown once per refresh, and doubling, rather than rehashed several times on the way.
    if (fresh > m_insertFileNodeMap.bucket_count() * m_insertFileNodeMap.max_load_factor())
        m_insertFileNodeMap.reserve(std::max(fresh, 2 * m_insertFileNodeMap.size()));
    const OpNodeData::Ptr& otherRoot = m_rootNode[FILTER_OTHER];
    size_t examined = 0;
    for (const auto& [bit, list] : lists) {
        size_t& resume = m_typeIndexMap[bit];
        const size_t first = resume;
        // The resume index stays on the last node examined, so a node reported after it is not missed.
        for (size_t j = 0; j < list.size(); ++j) {
            if (examined++ == budget) return true;
            resume = first + j;
            IFileNode* node = list[j];
            if (!node || !node->IsNodeShow()) continue;
            if (!m_insertFileNodeMap.insert(node).second) continue;
            const std::string extension = scan->GetNodeExt(node);
            if (!m_typeDict.count(extension)) {
                otherRoot->addChildObject(node);
                continue;
            }
            const auto found = m_subNodeDict.find(extension);
            const OpNodeData::Ptr sub = found != m_subNodeDict.end() ? found->second : insertSubNodeToTree(extension);
            sub->addChildObject(node);
        }
    }
    return false;
}

OpNodeData::Ptr KXTypeMgr::insertSubNodeToTree(const std::string& extension) {
    SimpleLock hold(&g_lockerAddData);
    auto sub = OpNodeData::NewGroup(OPNODE_TYPE_TREE, extension, 1);
    sub->setNodeState(CHECKED_NONE);
    u32 bit = FILTER_OTHER;
    if (const auto key = categoryOf(extension)) bit = static_cast<u32>(std::stoul(*key));
    auto root = m_rootNode.find(bit);
    if (root == m_rootNode.end()) root = m_rootNode.find(FILTER_OTHER);
    sub->setParent(root->second);
    root->second->addChildObject(sub);
    m_subNodeDict[extension] = sub;
    return sub;
}

void KXTypeMgr::setNodeState(OpNodeData& node) {
    SimpleLock hold(&g_lockerAddData);
    size_t ticked = 0;
    for (const OpNodeData::Child& child : node.children()) {
        if (OpNodeData::childState(child) == CHECKED_ALL) ++ticked;
    }
    const size_t total = node.children().size();
    const int state = ticked == 0 ? CHECKED_NONE : (ticked == total ? CHECKED_ALL : CHECKED_PARTLY);
    node.setNodeState(state);
}

void KXTypeMgr::refreshTypeTreeState() {
    SimpleLock hold(&g_lockerAddData);
    if (!m_needRefreshTree.exchange(0)) return;
    for (u32 bit : kRootBits) {
        const OpNodeData::Ptr& root = m_rootNode[bit];
        if (bit == FILTER_OTHER) {
            if (!root->children().empty()) setNodeState(*root);
            continue;
        }
        // Copied: a sub-node's state change does not alter the root's child list, but stay safe.
        const std::vector<OpNodeData::Child> subs = root->children();
        for (const OpNodeData::Child& child : subs) {
            if (const OpNodeData::Ptr* sub = std::get_if<OpNodeData::Ptr>(&child); sub && *sub) setNodeState(**sub);
        }
    }
}

bool KXTypeMgr::isOtherNode(const OpNodeData* node) {
    return node && node == rootNode(FILTER_OTHER).get();
}

std::optional<std::string> KXTypeMgr::getTypeString(u32 bit) const {
    if (!m_dic) return std::nullopt;
    return m_dic->JoinedExtensions(static_cast<int>(bit));
}

IconImage KXTypeMgr::getImageForType(const std::string& extension) const {
    const auto found = m_imgDict.find(extension);
    return found == m_imgDict.end() ? nullptr : found->second;
}

IconImage KXTypeMgr::imageSize(const IconImage& image, int width, int height) const {
    if (!m_icons || !image) return nullptr;
    return m_icons->Resized(image, width, height);
}

void KXTypeMgr::clear() {
    SimpleLock hold(&g_lockerAddData);
    m_subNodeDict.clear();
    for (auto& entry : m_rootNode) entry.second->removeAllChildren();
    m_insertFileNodeMap.clear();
    initTypeMap();
}

void KXTypeMgr::setSearch(bool) {
    SimpleLock hold(&g_lockerAddData);
    m_insertFileNodeMap.clear();
    clearData();
    initTypeMap();
}

void KXTypeMgr::clearData() {
    SimpleLock hold(&g_lockerAddData);
    for (auto& entry : m_rootNode) entry.second->setNodeState(CHECKED_NONE);
    for (auto& [bit, root] : m_rootNode) {
        if (bit != FILTER_OTHER) {
            for (const OpNodeData::Child& child : root->children()) {
                const OpNodeData::Ptr* sub = std::get_if<OpNodeData::Ptr>(&child);
                if (!sub || !*sub) continue;
                m_subNodeDict.erase((*sub)->name());
                (*sub)->removeAllChildren();
            }
        }
        root->removeAllChildren();
    }
    m_needRefreshTree.store(1);
}
