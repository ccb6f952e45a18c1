// A table-built tree of engine nodes for result-tree and window tests: each row names a path below
// the root with its size, times and flags; folders on the way are made as needed. The nodes keep the
// engine's own tick and shown arithmetic, and every SetCheck they receive is recorded.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Utility/FileNode.h"

namespace testsupport {

enum FakeRowFlags : unsigned {
    kFakeFolder = 1,
    kFakeDeleted = 2,
    kFakeHidden = 4,   // not shown (fails the current filter)
    kFakeTicked = 8,   // ticked (state 2) once the tree is built
};

struct FakeFileRow {
    std::string path;  // "/"-separated below the root, e.g. "DCIM/IMG_1.JPG"
    i64 size = 0;
    _FILETIME creation = 0;
    _FILETIME modification = 0;
    unsigned flags = 0;
};

class FakeFileTree;

class FakeFileNode : public CFileNode {
public:
    FakeFileNode(FakeFileTree* tree, std::string name, const FakeFileRow& row);

    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return m_size; }
    u16 GetAttribute() override { return m_folder ? 0x10 : 0; }
    _FILETIME GetCreationTime() override { return m_creation; }
    _FILETIME GetModificationTime() override { return m_modification; }
    _FILETIME GetLastAccessTime() override { return m_modification; }
    u32 IsDirectory() override { return m_folder ? 1 : 0; }
    u32 IsDeleted() override { return m_deleted ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return m_searcher; }
    const char* GetVolumeName() override { return m_volume.empty() ? nullptr : m_volume.c_str(); }
    // Recorded, then applied with the engine's rules (0 or 2 only; a hidden node ignores it).
    void SetCheck(_tagCheckedStatus status) override;
    void MarkDeleted() override { m_deleted = true; }
    void FilterFileNameByDot() override { m_name = CFileNode::FilterFileNameByDot(m_name); }
    void UpdateFileSize(i64 size) override { m_size = size; }
    void SetFileName(const char* name) override { m_name = name ? name : ""; }
    IFileNode* Clone() override { return nullptr; }

    // The tick without recording (the table's initial state).
    void Tick(_tagCheckedStatus status) { CFileNode::SetCheck(status); }

private:
    friend class FakeFileTree;
    FakeFileTree* m_tree;
    std::string m_name;
    i64 m_size;
    _FILETIME m_creation;
    _FILETIME m_modification;
    bool m_folder;
    bool m_deleted;
    _tagSearcherType m_searcher = SEARCHER_NONE;
    std::string m_volume;
};

class FakeFileTree {
public:
    struct SetCheckCall {
        IFileNode* node;
        int state;
    };

    // A root of the searcher type naming its volume, and the rows below it in order. Ticks are applied
    // after every row is linked, then hidden rows are hidden.
    FakeFileTree(std::string volume, _tagSearcherType type, const std::vector<FakeFileRow>& rows);
    ~FakeFileTree();
    FakeFileTree(const FakeFileTree&) = delete;
    FakeFileTree& operator=(const FakeFileTree&) = delete;

    FakeFileNode* root() { return m_root.get(); }
    // The node at path ("" is the root); null when there is none.
    FakeFileNode* Node(const std::string& path) const;
    // Adds one more row (and its folders) under the result-tree lock, as a scan links what it finds.
    FakeFileNode* Add(const FakeFileRow& row);
    // The nodes of the rows that are not folders, in row order.
    std::vector<FakeFileNode*> Files() const;

    std::vector<SetCheckCall> SetChecks() const;
    void ClearSetChecks();

private:
    friend class FakeFileNode;
    FakeFileNode* Make(const FakeFileRow& row, bool applyFlags);
    void Record(IFileNode* node, int state);

    std::unique_ptr<FakeFileNode> m_root;
    mutable std::mutex m_mutex;
    std::map<std::string, std::unique_ptr<FakeFileNode>> m_nodes;
    std::vector<FakeFileNode*> m_files;
    std::vector<SetCheckCall> m_setChecks;
    i64 m_nextId = 100;
};

// _FILETIME of a Unix time.
constexpr _FILETIME FakeFileTime(i64 unixSeconds) {
    return (unixSeconds + 11644473600LL) * 10000000LL;
}

}  // namespace testsupport
