// One row of a result tree: a wrapper around one engine file node, or a group (a file category, an
// extension, a date root, a year, a month). It answers what a row shows and carries the row's tick
// state, keeping the groups and the engine's own check states in step.
//
// Tree nodes change only under the result-tree lock (g_lockerAddData); the tick operations take it
// themselves, everything else expects the caller to hold it while the node is part of a shown tree.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bridge/Utilities/TreeNodeData.h"
#include "engine/Common/SearcherTypes.h"

class IFileNode;

// Node kinds (`type`).
enum : int {
    OPNODE_ENGINE = 0,        // engine node (path tree, list rows)
    OPNODE_TYPE_TREE = 1,     // category root or extension node
    OPNODE_CREATE_DATE = 2,   // created-date group
    OPNODE_MODIFY_DATE = 3,   // modified-date group
};

class OpNodeData : public std::enable_shared_from_this<OpNodeData> {
public:
    using Ptr = std::shared_ptr<OpNodeData>;
    // A child: a tree node, or an engine node (the type and date trees hold their files this way).
    using Child = std::variant<Ptr, IFileNode*>;

    // A row around one engine node (list, grid and preview rows): kind 0, no parent, no children.
    explicit OpNodeData(IFileNode* node);
    // A node from a tree-node record: its file-system flag and engine node (null for a group).
    explicit OpNodeData(const __TreeNodeData__& record);
    // A group of the given kind and name, made from a record without engine node.
    static Ptr NewGroup(int type, std::string name, int expandable);

    OpNodeData(const OpNodeData&) = delete;
    OpNodeData& operator=(const OpNodeData&) = delete;

    // --- What a row shows ---
    // The engine node's name, "Unknown" when it is not valid UTF-8; a group's name, "Unknown" when
    // none was set; empty for a kind-0 node without engine node.
    std::string name() const;
    // Empty for a group; else the engine node's path.
    std::string path() const;
    // 0 for folders, groups and nodes without engine node.
    i64 size() const;
    bool isDirect() const;
    bool isDeleted() const;
    // The creation time as shown; empty for a group, without engine node, or for time 0.
    std::string createTime() const;
    // The raw creation time; 0 for a group or without engine node.
    _FILETIME createTimeValue() const;
    // Time values of a date group.
    std::time_t createtime() const { return m_createTime; }
    void setCreateTime(std::time_t t) { m_createTime = t; }
    std::time_t modifytime() const { return m_modifyTime; }
    void setModifyTime(std::time_t t) { m_modifyTime = t; }
    // A group: whether it can hold children; an engine node: whether a direct child is a folder.
    bool isHasFolderChildren() const;
    // Icon kind 0-11 (an image named "%dIconImage").
    int nodeType() const;

    // --- Structure ---
    IFileNode* fileNode() const { return m_fileNode; }
    int isFileSystem() const { return m_isFileSystem; }
    int type() const { return m_type; }
    void setType(int type) { m_type = type; }
    // A group: kind not 0 and no engine node. Every other node is an engine-node row.
    bool isFadeNode() const { return m_type != OPNODE_ENGINE && !m_fileNode; }
    const std::vector<Child>& children() const { return m_children; }
    // Takes children as this node's children and makes it the parent of every tree node among them.
    void setSubNode(std::vector<Child> children);
    // Appends a child (its parent is not set).
    void addChildObject(Child child);
    // Inserts a child at index (appends when index is past the end).
    void insertChildObject(Child child, size_t index);
    void removeAllChildren() { m_children.clear(); }
    // The node above (not owned; null for roots and once the parent is gone).
    Ptr parent() const { return m_parent.lock(); }
    void setParent(const Ptr& parent) { m_parent = parent; }
    const std::optional<std::string>& fadeName() const { return m_fadeName; }
    void setFadeName(std::string name) { m_fadeName = std::move(name); }
    int isExpandAble() const { return m_isExpandAble; }
    void setExpandAble(int expandable) { m_isExpandAble = expandable; }
    int isExpand() const { return m_isExpand; }
    void setExpand(int expand) { m_isExpand = expand; }

    // --- Tick state: 0 none, 1 partly, 2 all ---
    // The engine's check status for an engine-node row; the group's own state otherwise.
    int state() const;
    // Sets the state: on the engine node (0 or 2 only) or the group, recomputes the groups above,
    // then pushes the state down.
    void setNodeState(int state);
    // Sets this node's state field and recomputes the groups above it from their children.
    void setParentNodeState(int state);
    // Sets this node's state field only (no group above or below changes).
    void setStateField(int state) { m_state = state; }
    // Pushes a state down: groups take it and hand 0 or 2 on to every child; state 1 never goes down.
    void SetChildrenNodeState(int state);

    // --- Engine nodes held as children (null answers the neutral value) ---
    static bool isFileNodeDirect(IFileNode* node);
    static bool isFileNodeDeleted(IFileNode* node);
    static int fileNodeState(IFileNode* node);
    // SetCheck with state; states outside 0-2 are ignored, and 1 is never sent (the engine takes 0 or 2).
    static void setFileNode(IFileNode* node, int state);
    // The name as UTF-8; nothing when it is not valid UTF-8; empty for null.
    static std::optional<std::string> fileNodeName(IFileNode* node);
    // The state of one child entry.
    static int childState(const Child& child);

private:
    bool isEngineRow() const { return !isFadeNode() && m_fileNode; }
    // The state a group takes from the states of its children.
    int stateFromChildren() const;

    int m_type = OPNODE_ENGINE;
    int m_isFileSystem = 0;
    std::vector<Child> m_children;
    IFileNode* m_fileNode = nullptr;
    int m_state = 0;
    int m_isExpandAble = 0;
    int m_isExpand = 0;
    std::time_t m_createTime = 0;
    std::time_t m_modifyTime = 0;
    std::optional<std::string> m_fadeName;
    std::weak_ptr<OpNodeData> m_parent;
};
