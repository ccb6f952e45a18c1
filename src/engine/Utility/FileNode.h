// The common base of every engine's node: tree links, identifiers, the packed status word (tick and
// shown state, owning partition, metadata sector), the owned run list and the tick arithmetic.
#pragma once

#include <string>

#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/IFilesystemNode.h"
#include "engine/Utility/NodeMemory.h"

class IStorageDevice;

// Every node type's memory comes from the node chunks (NodeMemory.h).
class CFileNode : public IFilesystemNode, public CChunkAllocated {
public:
    static constexpr u64 kInitialStatus = 0xFFFFFFFFFFFFFF10ULL;
    static constexpr u16 kNoPartition = 0xFFFF;

    CFileNode() = default;
    // Copies identifiers, status and flags and deep-copies the run list; no tree links.
    CFileNode(const CFileNode& other);
    // Copies every field, tree links included; the run list is deep-copied, never shared.
    CFileNode& operator=(const CFileNode& other);
    ~CFileNode() override;

    int IsNodeShow() override;
    void ShowNode(int shown) override;
    i64 GetCurrentNodeID() override { return m_nodeId; }
    i64 GetParentNodeID() override { return m_parentId; }
    CFileNode* GetParent() override { return m_parent; }
    CFileNode* GetFirstChild() override { return m_firstChild; }
    CFileNode* GetNextNode() override { return m_next; }

    _tagCheckedStatus GetCheckedStatus() override;
    void SetCheck(_tagCheckedStatus status) override;
    _tagSearcherType GetSearcheType() override { return SEARCHER_NONE; }
    const char* GetVolumeName() override { return nullptr; }

    int AddChild(IFileNode* child) override;
    // AddChild for a caller that knows child is not an ancestor of this node, without the walk up the
    // ancestors that AddChild makes to find out (a walk per link makes deep trees quadratic).
    int AddChildNotAncestor(CFileNode* child);
    int AddNext(IFileNode* node) override;
    void SetParentNodeID(i64 id) override { m_parentId = id; }

    void Release() override { delete this; }
    IFileReader* CreateCompressFileReader(void*) override { return nullptr; }
    u32 IsCompressed() override { return m_compressed; }
    void SetMetaDataSector(u64 sector) override;
    void UpdateFileSize(i64) override {}
    void UpdateNodeInfo() override {}
    void SetFileName(const char*) override {}

    void SetCurrentNodeID(i64 id) { m_nodeId = id; }
    void SetParent(CFileNode* parent) { m_parent = parent; }
    int RemoveChild(CFileNode* child);
    // True when candidate is an ancestor of node (walking up from node's parent).
    static int IsLoopedToSelf(IFileNode* node, IFileNode* candidate);

    void SetBelongedPartition(u16 index);
    u16 GetBelongedPartition() const;
    i64 GetMetadataStartPosition() const;
    IDataRunList* GetDataRunList() { return m_dataRuns; }
    // Takes ownership of the list (the old one is released).
    void SetDataRunList(IDataRunList* list);
    // Hands the list over to the caller; the node keeps none.
    IDataRunList* DetachDataRunList();

    u32 GetShownChildCount() const { return m_shownChildren; }
    u32 GetCheckWeight() const { return m_checkWeight; }
    u64 GetStatusWord() const { return m_status; }
    // The tree builder's bookkeeping slot of this node (its own index, checked against the slot's node).
    u32 GetBuilderSlot() const { return m_builderSlot; }
    void SetBuilderSlot(u32 slot) { m_builderSlot = slot; }
    static constexpr u32 kNoBuilderSlot = 0xFFFFFFFFu;

    void SetParentStatus(int delta);
    void SetChildStatus(_tagCheckedStatus status, int withSiblings);
    void ShowParent(int delta);

    // Takes the donor's run list (detached from the donor, so the donor can be released) and size.
    void MergeNode(CFileNode& donor);

    // The name less its leading blanks and dots; empty when nothing else is left.
    static std::string FilterFileNameByDot(const std::string& name);
    static std::string FilterFileNameByDot(const char* name);
    using IFileNode::FilterFileNameByDot;

    // The duplicate test of the tree builder.
    bool operator==(CFileNode& other);
    // Takes a copy of other's on-disk properties when both nodes are of the same kind and carry them
    // (the duplicate test's FAT rule); the generic node has none.
    virtual void AdoptPropertiesOf(CFileNode& other) { (void)other; }
    // The data the file system keeps in the file's metadata instead of clusters (an NTFS record's
    // resident $DATA), read from the device: at most capacity bytes into buffer, its length in *length;
    // non-zero on success. None for a node whose file system keeps no such data.
    virtual int ReadResidentData(IStorageDevice& device, u8* buffer, u32 capacity, i64* length) {
        (void)device, (void)buffer, (void)capacity, (void)length;
        return 0;
    }

protected:
    void ApplyStatusDown(_tagCheckedStatus status);
    void SetCheckBits(int status);
    void SetShownBits(int shown);
    void CopyFieldsFrom(const CFileNode& other, bool withLinks);

    CFileNode* m_firstChild = nullptr;
    CFileNode* m_next = nullptr;
    u32 m_shownChildren = 0;
    u32 m_builderSlot = kNoBuilderSlot;  // never copied: it names this node only
    IDataRunList* m_dataRuns = nullptr;
    i64 m_nodeId = -1;
    i64 m_parentId = -1;
    u64 m_status = kInitialStatus;
    CFileNode* m_parent = nullptr;
    u32 m_checkWeight = 0;
    u32 m_compressed = 0;
};
