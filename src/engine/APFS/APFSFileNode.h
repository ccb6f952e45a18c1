// One file or folder rebuilt from APFS records. Besides what every node offers, it keeps what the
// search needs while it merges records: the object and parent keys, the block where it was last
// seen, its own list of attached children, its flags and its extents by logical offset, from which
// its data runs (sectors of the container) are rebuilt. It also holds the name rules of the search.
//
// Ownership: a node is its container's until the tree builder accepts it; from then on it is the
// builder's, which releases it (Release deletes it).
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/Utility/FileNode.h"

// A node's name bytes (they may hold zeros), always followed by a terminator. Names of up to
// kInline bytes (nearly all) are kept inside the node: no allocation per node for them.
class APFSNodeName {
public:
    static constexpr size_t kInline = 39;
    APFSNodeName() = default;
    APFSNodeName(const APFSNodeName& other) { assign(other.view()); }
    APFSNodeName& operator=(const APFSNodeName& other) {
        if (this != &other) assign(other.view());
        return *this;
    }
    void assign(std::string_view bytes);
    const char* c_str() const { return m_heap ? m_heap.get() : m_inline; }
    const char* data() const { return c_str(); }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    char operator[](size_t i) const { return c_str()[i]; }
    std::string_view view() const { return {c_str(), m_size}; }
    bool operator==(const APFSNodeName& other) const { return view() == other.view(); }

private:
    char m_inline[kInline + 1] = {};
    std::unique_ptr<char[]> m_heap;
    size_t m_size = 0;
};

// A node's extents by logical offset, ascending, each offset once. A single extent (nearly every
// file) is kept inside the node.
class APFSExtents {
public:
    using Entry = std::pair<u64, DataRun>;
    const Entry* begin() const { return m_more.empty() ? &m_one : m_more.data(); }
    const Entry* end() const { return begin() + m_count; }
    Entry* begin() { return m_more.empty() ? &m_one : m_more.data(); }
    Entry* end() { return begin() + m_count; }
    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    void clear() {
        m_more.clear();
        m_count = 0;
    }
    // Inserts entry before position at (0..size()).
    void Insert(size_t at, const Entry& entry) {
        if (m_count == 0) {
            m_one = entry;
        } else {
            if (m_more.empty()) m_more.push_back(m_one);
            m_more.insert(m_more.begin() + static_cast<std::ptrdiff_t>(at), entry);
        }
        ++m_count;
    }

private:
    Entry m_one{};
    std::vector<Entry> m_more;  // every entry once there are two or more
    size_t m_count = 0;
};

class APFSFileNode final : public CFileNode {
public:
    enum Flag : u8 {
        kFolder = 1,
        kDeleted = 2,
        kPublished = 4,
        kComplete = 8,          // the extents cover the size
        kFolderFixed = 16,      // the folder flag was set once and stays
        kDuplicateFolder = 32,  // a same-name folder under the same parent takes its children
        kParentSet = 64,
        kRunsStale = 128,  // the extents changed since the run list was built
    };
    static constexpr u64 kNoKey = ~u64{0};
    // Node times are nanoseconds since 1970; file times count 100 ns from 1601.
    static constexpr i64 kFileTimeOf1970 = 116444736000000000LL;

    APFSFileNode();
    // A node of the container with this index (its belonged partition).
    explicit APFSFileNode(u16 partition);
    ~APFSFileNode() override;
    APFSFileNode& operator=(const APFSFileNode&) = delete;

    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return static_cast<i64>(m_size); }
    u16 GetAttribute() override { return IsFolder() ? 16 : 32; }
    _FILETIME GetCreationTime() override { return ToFileTime(m_creationTime); }
    _FILETIME GetModificationTime() override { return ToFileTime(m_modificationTime); }
    _FILETIME GetLastAccessTime() override { return ToFileTime(m_accessTime); }
    u32 IsDirectory() override { return IsFolder() ? 1 : 0; }
    u32 IsDeleted() override { return (m_flags & kDeleted) ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return SEARCHER_APFS; }
    const char* GetVolumeName() override { return nullptr; }
    // Nothing on a published node; an ID whose low 32 bits are 1 (the parent of a root folder) is
    // stored as (belonged partition << 32) | 2.
    void SetParentNodeID(i64 id) override;
    // A copy with every field, extents and a copy of the run list, not published and without tree
    // links; the APFS links (parent folder, children, sibling, same-name folder) move to the copy.
    IFileNode* Clone() override;
    void MarkDeleted() override { m_flags |= kDeleted; }
    void FilterFileNameByDot() override {}
    void UpdateFileSize(i64) override {}
    void UpdateNodeInfo() override {}
    void SetFileName(const char*) override {}

    // The name rule: ".DS_Store" (10 bytes with its terminator, any case) becomes empty; otherwise a
    // leading "." of a name of at least 2 bytes is dropped.
    static std::string NameRule(const u8* bytes, size_t length);
    // The same rule as a view into the bytes (nothing copied).
    static std::string_view NameRuleView(const u8* bytes, size_t length) {
        if (!bytes || length == 0 || IsDsStore(bytes, length)) return {};
        if (length >= 2 && bytes[0] == '.') return {reinterpret_cast<const char*>(bytes) + 1, length - 1};
        return {reinterpret_cast<const char*>(bytes), length};
    }
    // False only for ".DS_Store" (10 bytes with its terminator, any case).
    static bool NameFilter(const u8* bytes, size_t length) { return !IsDsStore(bytes, length); }
    // Whole seconds since 1601 in 100-ns units; the fraction of a second is dropped.
    static _FILETIME ToFileTime(u64 nanoseconds);

    void SetNodeID(i64 id) { SetCurrentNodeID(id); }
    // Only the first call counts.
    void SetFolderFlag(bool folder);
    // Applies the name rule; "Trashes" with its terminator (".Trashes" on disk) marks a deleted folder.
    void SetName(const u8* bytes, size_t length);
    // The same for a name the rule was already applied to (NameRuleView of the bytes).
    void SetRuledName(std::string_view named);
    // A live node keeps its first size; a deleted one takes each new one.
    void SetSize(u64 size);
    // Adds a file extent at logical byte offset `logical`; true when the extents now cover the size.
    // The run list follows the extents when it is next asked for (CurrentRuns, publishing), so a
    // file met extent by extent builds it once; a published node's list follows at once.
    bool AddExtent(i64 startSector, u64 sectorCount, u32 sectorSize, u64 logical);
    // The run list, first rebuilt from the extents when they changed since it was built.
    IDataRunList* CurrentRuns();
    // Whether the node has a run list (built, or due from its extents).
    bool HasRuns() const { return (m_flags & kRunsStale) != 0 || m_dataRuns != nullptr; }
    // Takes a list of another node's runs (the extents gathered so far no longer count for the list).
    void TakeRuns(IDataRunList* list);
    bool IsCompleteFor(u32 sectorSize);
    u64 ExtentBytes(u32 sectorSize) const;
    // Attaches child under folder (or under the folder's same-name folder); a folder whose name
    // equals one already attached there becomes a duplicate of it and is not linked. A node is never
    // attached under itself or under one of its own children.
    static void AttachChild(APFSFileNode* folder, APFSFileNode* child);
    // Whether the node can be handed to the tree builder; a final test gives a node without a parent
    // the partition's private folder (ID (partition << 32) | 3) as its parent.
    bool IsReady(bool final);
    // Whether a later test may say ready without another record changing the node.
    bool MayBecomeReady() const;
    // Takes the node out of its base-class parent's child chain.
    void DetachFromBaseParent();

    bool IsFolder() const { return (m_flags & kFolder) != 0; }
    bool IsPublished() const { return (m_flags & kPublished) != 0; }
    // From here on the node is the builder's to read: its run list is built now.
    void MarkPublished() {
        CurrentRuns();
        m_flags |= kPublished;
    }
    u8 GetFlags() const { return m_flags; }
    // The name's text (up to its first zero byte) is empty.
    bool HasName() const { return !m_name.empty() && m_name[0] != '\0'; }
    std::string_view GetNameBytes() const { return m_name.view(); }
    u64 GetSize() const { return m_size; }
    u64 GetCreationNs() const { return m_creationTime; }
    u64 GetModificationNs() const { return m_modificationTime; }
    u64 GetAccessNs() const { return m_accessTime; }
    void SetTimes(u64 creation, u64 modification, u64 access) {
        m_creationTime = creation;
        m_modificationTime = modification;
        m_accessTime = access;
    }
    u64 GetLastSeen() const { return m_lastSeen; }
    void SetLastSeen(u64 block) { m_lastSeen = block; }
    u64 GetObjectKey() const { return m_objectKey; }
    void SetObjectKey(u64 key) { m_objectKey = key; }
    u64 GetParentKey() const { return m_parentKey; }
    void SetParentKey(u64 key) { m_parentKey = key; }
    APFSFileNode* GetParentFolder() const { return m_parentFolder; }
    APFSFileNode* GetFirstAttached() const { return m_firstAttached; }
    APFSFileNode* GetNextAttached() const { return m_nextAttached; }
    APFSFileNode* GetSameNameFolder() const { return m_sameNameFolder; }
    const APFSExtents& GetExtents() const { return m_extents; }
    // Creation order within a container: keeps the order of pending nodes the same run after run.
    u64 GetSerial() const { return m_serial; }
    void SetSerial(u64 serial) { m_serial = serial; }
    // The next node of the same object key in its container, in creation order (a copy has none).
    APFSFileNode* GetNextOfKey() const { return m_nextOfKey; }
    void SetNextOfKey(APFSFileNode* next) { m_nextOfKey = next; }

private:
    static constexpr size_t kDsStoreBytes = 10;
    // ".DS_Store" and its terminator, any case (inline: most names differ in length already).
    static bool IsDsStore(const u8* bytes, size_t length) {
        return length == kDsStoreBytes && bytes && IsDsStoreText(bytes);
    }
    static bool IsDsStoreText(const u8* bytes);
    APFSFileNode(const APFSFileNode& other);
    void RebuildRuns();
    // The extents changed: the run list is rebuilt now when published, else when next asked for.
    void RunsChanged();
    // The extents' bytes against the size: the size grows to them when they pass it rounded up to a
    // block; true when they cover it.
    bool UpdateCompleteness(u32 sectorSize);

    APFSNodeName m_name;
    u64 m_size = 0;
    u64 m_creationTime = 0;
    u64 m_modificationTime = 0;
    u64 m_accessTime = 0;
    u64 m_lastSeen = 0;
    u64 m_objectKey = 0;
    u64 m_parentKey = 0;
    APFSFileNode* m_parentFolder = nullptr;
    APFSFileNode* m_firstAttached = nullptr;
    APFSFileNode* m_nextAttached = nullptr;
    APFSFileNode* m_sameNameFolder = nullptr;
    u8 m_flags = 0;
    // By logical offset, ascending, each offset once.
    APFSExtents m_extents;
    u64 m_serial = 0;
    APFSFileNode* m_nextOfKey = nullptr;
};

// Asked or set for every record a node takes: inline.
inline bool APFSFileNode::IsReady(bool final) {
    if (IsPublished()) return false;
    if ((m_flags & kDuplicateFolder) && m_sameNameFolder) return false;
    if (!HasName()) return false;
    if (!IsFolder() && m_creationTime == 0) return false;
    if (final) {
        if (m_parentId == -1) {
            m_parentId = (static_cast<i64>(GetBelongedPartition()) << 32) | 3;
            m_flags |= kParentSet;
        }
        return true;
    }
    return m_parentId == 1 || m_parentId == 2 || m_parentFolder != nullptr;
}

inline bool APFSFileNode::MayBecomeReady() const {
    if (IsPublished()) return false;
    if ((m_flags & kDuplicateFolder) && m_sameNameFolder) return false;
    return HasName() && (IsFolder() || m_creationTime != 0);
}

inline void APFSFileNode::SetParentNodeID(i64 id) {
    if (IsPublished()) return;
    m_flags |= kParentSet;
    if (static_cast<u32>(id) == 1) id = (static_cast<i64>(GetBelongedPartition()) << 32) | 2;
    m_parentId = id;
}

inline void APFSFileNode::SetFolderFlag(bool folder) {
    if (m_flags & kFolderFixed) return;
    if (folder) {
        m_flags |= kFolder;
    } else {
        m_flags &= static_cast<u8>(~kFolder);
    }
    m_flags |= kFolderFixed;
}
