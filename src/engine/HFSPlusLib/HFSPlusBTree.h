// The B-trees of an HFS+ volume: the per-tree behaviour (key order, key and record copies), the exact
// search and the depth-first walk, both bounded in depth and refusing to visit a node twice.
#pragma once

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/HFSPlusLib/HFSPlusBTNode.h"
#include "engine/HFSPlusLib/HFSPlusStructs.h"

class CHFSPlusVolume;
class CHFSPlusRawfile;
class CHFSPlusBTree;
class CHFSPlusQuickFileSystemSearchProgress;
class IDirecotryTreeBuilder;

struct HFSPlusSearchResult {
    u32 nodeNumber = 0;
    u16 recordIndex = 0;
    u16 found = 0;
};

using BTNodePtr = std::unique_ptr<CHFSPlusBTNode>;

class IHFSPlusBTreeOption {
public:
    virtual ~IHFSPlusBTreeOption() = default;
    // -1, 0 or 1.
    virtual int Compare(const BTKey& a, const BTKey& b) = 0;
    // The key of record index, bounded by its record; null when unreadable.
    virtual BTKeyPtr KeyRead(CHFSPlusBTNode* node, u16 index) = 0;
    virtual void KeyPrint(const BTKey& key) = 0;
    // The record's data after its key, bounded by the record; null when unreadable.
    virtual BTRecordPtr DataRead(CHFSPlusBTNode* node, u16 index) = 0;
    virtual void DataPrint(const BTRecord& record) = 0;
    // The same into objects the caller keeps (a walk over every record reuses one of each); false when
    // unreadable. Of the record, the member its type names is the one written.
    virtual bool KeyReadInto(CHFSPlusBTNode* node, u16 index, BTKey& key) {
        BTKeyPtr read = KeyRead(node, index);
        if (read) key = *read;
        return read != nullptr;
    }
    virtual bool DataReadInto(CHFSPlusBTNode* node, u16 index, BTRecord& record) {
        BTRecordPtr read = DataRead(node, index);
        if (read) record = *read;
        return read != nullptr;
    }
    // As DataReadInto for a walk that lists records: a record it makes no node of (a catalog thread) is
    // only checked to decode, and of it only the type is written.
    virtual bool ListedDataReadInto(CHFSPlusBTNode* node, u16 index, BTRecord& record) {
        return DataReadInto(node, index, record);
    }
    // The child node number after the key of an index record; 0 when there is none.
    virtual u32 GetChild(CHFSPlusBTNode* node, u16 index) = 0;
    virtual u32 GetRoot() = 0;
    virtual BTNodePtr CreateNode(u32 nodeNumber) = 0;
    virtual u64 GetLastError() = 0;
    virtual const BTHeaderRec* GetHeaderRec() = 0;
};

class CHFSPlusBTreeOptionBase : public IHFSPlusBTreeOption {
public:
    CHFSPlusBTreeOptionBase(CHFSPlusVolume* volume, CHFSPlusRawfile* file);
    ~CHFSPlusBTreeOptionBase() override;

    u32 GetChild(CHFSPlusBTNode* node, u16 index) override;
    u32 GetRoot() override;
    BTNodePtr CreateNode(u32 nodeNumber) override;
    u64 GetLastError() override { return m_status; }
    const BTHeaderRec* GetHeaderRec() override { return m_headerRec ? &*m_headerRec : nullptr; }

    u64 Search(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record);
    u64 Traverse(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress,
                 std::vector<u32>* listedLeaves = nullptr);
    // See CHFSPlusBTree::KeepSearchedNodes.
    void KeepSearchedNodes(bool keep);

    u32 GetNodeSize() const { return m_nodeSize; }
    // nodeSize of the header record in the first 512 bytes of the file; 0 (kind 0xe) on a short read.
    u16 PreGetNodeSize(CHFSPlusRawfile* file);
    // Big-endian key length + 2 of a record's key; absent when the record does not hold it.
    static std::optional<u32> GetRealKeyLength(ByteReader record);

protected:
    // Builds the tree over this option; derived constructors call it once their own part is ready.
    void CreateTree();
    // The record's bytes after its key; absent when the key runs past the record (kind 0x6, quiet).
    std::optional<ByteReader> RecordData(CHFSPlusBTNode* node, u16 index);
    // The key of record index through the tree's decoder, bounded by its record.
    BTKeyPtr ReadKey(CHFSPlusBTNode* node, u16 index, bool (*decode)(ByteReader, BTKey&));
    bool ReadKeyInto(CHFSPlusBTNode* node, u16 index, bool (*decode)(ByteReader, BTKey&), BTKey& key);
    // The record's data after its key through the tree's decoder; when it does not decode, the status
    // becomes `undecodable` and there is no record.
    BTRecordPtr ReadData(CHFSPlusBTNode* node, u16 index, bool (*decode)(ByteReader, BTRecord&), u64 undecodable);
    bool ReadDataInto(CHFSPlusBTNode* node, u16 index, bool (*decode)(ByteReader, BTRecord&), u64 undecodable,
                      BTRecord& record);

    CHFSPlusVolume* m_volume = nullptr;
    CHFSPlusRawfile* m_file = nullptr;
    u64 m_status;
    u32 m_nodeSize = 0;
    BTNodePtr m_headerNode;
    std::optional<BTHeaderRec> m_headerRec;
    std::unique_ptr<CHFSPlusBTree> m_tree;
};

class CHFSPlusCatalog : public CHFSPlusBTreeOptionBase {
public:
    CHFSPlusCatalog(CHFSPlusVolume* volume, CHFSPlusRawfile* file);
    int Compare(const BTKey& a, const BTKey& b) override;
    BTKeyPtr KeyRead(CHFSPlusBTNode* node, u16 index) override;
    void KeyPrint(const BTKey&) override {}
    BTRecordPtr DataRead(CHFSPlusBTNode* node, u16 index) override;
    void DataPrint(const BTRecord&) override {}
    bool KeyReadInto(CHFSPlusBTNode* node, u16 index, BTKey& key) override;
    bool DataReadInto(CHFSPlusBTNode* node, u16 index, BTRecord& record) override;
    bool ListedDataReadInto(CHFSPlusBTNode* node, u16 index, BTRecord& record) override;

    // Catalog order: parent ID, then the name in the volume's order (0xCF case folding, else binary).
    static int CompareKey(const BTKey& a, const BTKey& b, u8 keyCompareType);
};

class CHFSPlusExtents : public CHFSPlusBTreeOptionBase {
public:
    CHFSPlusExtents(CHFSPlusVolume* volume, CHFSPlusRawfile* file);
    int Compare(const BTKey& a, const BTKey& b) override { return CompareKey(a, b); }
    BTKeyPtr KeyRead(CHFSPlusBTNode* node, u16 index) override;
    void KeyPrint(const BTKey&) override {}
    BTRecordPtr DataRead(CHFSPlusBTNode* node, u16 index) override;
    void DataPrint(const BTRecord&) override {}

    // File ID, then fork type, then start block.
    static int CompareKey(const BTKey& a, const BTKey& b);
};

class CHFSPlusAttribute : public CHFSPlusBTreeOptionBase {
public:
    CHFSPlusAttribute(CHFSPlusVolume* volume, CHFSPlusRawfile* file);
    int Compare(const BTKey& a, const BTKey& b) override { return CompareKey(a, b); }
    BTKeyPtr KeyRead(CHFSPlusBTNode* node, u16 index) override;
    void KeyPrint(const BTKey& key) override;
    BTRecordPtr DataRead(CHFSPlusBTNode* node, u16 index) override;
    void DataPrint(const BTRecord&) override;

    // File ID, then the name in binary order (a prefix first); the start block is not compared.
    static int CompareKey(const BTKey& a, const BTKey& b);
};

class CHFSPlusBTree {
public:
    // Deeper trees than this are taken as damaged (real trees stay below ten levels).
    static constexpr u32 kMaxDepth = 32;

    CHFSPlusBTree(CHFSPlusVolume* volume, IHFSPlusBTreeOption* option);

    // Exact-match search. Not found below every key of a leaf: (leaf, index, not found); above all keys:
    // the result stays zero. A record is copied out when asked and found.
    u64 Search(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record);
    // Depth-first walk from the root; with a builder every file and folder record becomes a node. When
    // asked, the numbers of the leaves all of whose records went to the builder are appended.
    u64 Traverse(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress,
                 std::vector<u32>* listedLeaves = nullptr);

    u64 GetStatus() const { return m_status; }

    // While kept, the nodes that searches read stay with their decoded keys until the keeping ends: a
    // run of many searches (the journal scan asks one per old record) reads and decodes each node once,
    // and finds a key by halving where the node's keys never descend. The answers are those of the
    // plain search (the device is only read during a scan, so a node read again is the same bytes).
    void KeepSearchedNodes(bool keep);
    // Kept keys at most (about 530 bytes each); past it the kept nodes are dropped and kept anew.
    static constexpr size_t kMaxKeptKeys = size_t(1) << 15;

private:
    struct WalkState;
    u64 Walk(WalkState& state, u32 nodeNumber, u32 depth);

    struct KeptNode {
        BTNodePtr node;
        std::vector<BTKey> keys;  // in record order, up to the first key that does not decode
        bool ascending = false;   // no key below the one before it
    };
    // The kept node n, read and decoded now when not kept yet; null when it cannot be read.
    const KeptNode* Kept(u32 n);

    CHFSPlusVolume* m_volume = nullptr;
    IHFSPlusBTreeOption* m_option = nullptr;
    u64 m_status;
    bool m_keep = false;
    std::unordered_map<u32, KeptNode> m_kept;
    size_t m_keptKeys = 0;
};
