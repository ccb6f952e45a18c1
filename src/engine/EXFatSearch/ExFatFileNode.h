// The exFAT file node (filed under searcher type 33): a file or folder made from one entry set.
#pragma once

#include <cstring>
#include <string>
#include <utility>

#include "engine/Utility/FileNode.h"

class CExFatFileNode : public CFileNode {
public:
    static constexpr u32 kDeletedBit = 0x80000000u;

    const char* GetFileName() override { return m_hasName ? m_name.c_str() : nullptr; }
    i64 GetFileSize() override { return m_size; }
    u16 GetAttribute() override { return static_cast<u16>(m_attributes & 0xFFFF); }
    _FILETIME GetCreationTime() override { return m_creationTime; }
    _FILETIME GetModificationTime() override { return m_modificationTime; }
    _FILETIME GetLastAccessTime() override { return m_lastAccessTime; }
    u32 IsDirectory() override { return (m_attributes & 0x10) ? 1 : 0; }
    u32 IsDeleted() override { return (m_attributes & kDeletedBit) ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return SEARCHER_EXFAT; }
    void MarkDeleted() override { m_attributes |= kDeletedBit; }
    void FilterFileNameByDot() override {
        if (m_hasName) m_name.Assign(CFileNode::FilterFileNameByDot(m_name.c_str()));
    }
    void UpdateFileSize(i64 size) override { m_size = size; }
    // Replaces the node's name (UTF-8); null clears it.
    void SetFileName(char* name) { SetFileName(static_cast<const char*>(name)); }
    void SetFileName(const char* name) override {
        m_hasName = name != nullptr;
        m_name.Assign(name ? name : "");
    }
    // The same from bytes (no zero byte among them).
    void SetFileName(const char* name, size_t length) {
        m_hasName = true;
        m_name.Assign(name, length);
    }
    IFileNode* Clone() override {
        auto* copy = new CExFatFileNode();
        copy->CopyFieldsFrom(*this, false);
        copy->m_name = m_name;
        copy->m_hasName = m_hasName;
        copy->m_size = m_size;
        copy->m_attributes = m_attributes;
        copy->m_creationTime = m_creationTime;
        copy->m_modificationTime = m_modificationTime;
        copy->m_lastAccessTime = m_lastAccessTime;
        copy->m_firstCluster = m_firstCluster;
        return copy;
    }

    void SetFileSize(i64 size) { m_size = size; }
    // ORs the exFAT attributes into the node's.
    void SetFileAttributes(u16 attributes) { m_attributes |= attributes; }
    void SetFileTime(_FILETIME creation, _FILETIME modification, _FILETIME lastAccess) {
        m_creationTime = creation;
        m_modificationTime = modification;
        m_lastAccessTime = lastAccess;
    }
    void SetFileDeleted() { m_attributes |= kDeletedBit; }
    void SetID(i64 id) { SetCurrentNodeID(id); }
    void SetParentID(i64 id) { SetParentNodeID(id); }
    void SetFirstCluster(u32 cluster) { m_firstCluster = cluster; }
    u32 GetFirstCluster() const { return m_firstCluster; }

    // A name held in the node when it is short (most are), else in bytes of its own that the node's
    // 48 bytes point to: one allocation less per node, and a smaller node.
    class NodeName {
    public:
        static constexpr size_t kInline = 47;
        NodeName() = default;
        NodeName(const NodeName& other) { Assign(other.c_str(), other.size()); }
        NodeName& operator=(const NodeName& other) {
            if (this != &other) Assign(other.c_str(), other.size());
            return *this;
        }
        ~NodeName() { delete[] Heap(); }
        const char* c_str() const { return IsLong() ? Heap() : m_bytes; }
        size_t size() const { return IsLong() ? HeapLength() : std::strlen(m_bytes); }
        void Assign(const char* name, size_t length) {
            // The old bytes go last: name may lie in them.
            char* old = Heap();
            if (length <= kInline) {
                std::memmove(m_bytes, name, length);
                m_bytes[length] = 0;
                m_bytes[kInline] = 0;
            } else {
                char* heap = new char[length + 1];
                std::memcpy(heap, name, length);
                heap[length] = 0;
                std::memcpy(m_bytes, &heap, sizeof heap);
                std::memcpy(m_bytes + sizeof heap, &length, sizeof length);
                m_bytes[kInline] = 1;
            }
            delete[] old;
        }
        void Assign(const char* name) { Assign(name, std::strlen(name)); }
        void Assign(const std::string& name) { Assign(name.data(), name.size()); }

    private:
        bool IsLong() const { return m_bytes[kInline] != 0; }
        char* Heap() const {
            if (!IsLong()) return nullptr;
            char* heap = nullptr;
            std::memcpy(&heap, m_bytes, sizeof heap);
            return heap;
        }
        size_t HeapLength() const {
            size_t length = 0;
            std::memcpy(&length, m_bytes + sizeof(char*), sizeof length);
            return length;
        }
        // Inline: the name and its terminator, the last byte 0. Else the last byte is 1 and the first
        // bytes hold the pointer to the name, then its length.
        char m_bytes[kInline + 1] = {};
    };

    NodeName m_name;
    i64 m_size = 0;
    _FILETIME m_creationTime = 0;
    _FILETIME m_modificationTime = 0;
    _FILETIME m_lastAccessTime = 0;
    u32 m_attributes = 0;  // low 16 bits: exFAT attributes; bit 31: deleted
    u32 m_firstCluster = 0xFFFFFFFFu;
    bool m_hasName = false;
};

// The node time of an exFAT timestamp (DOS time in the low 16 bits, date in the high 16), read as local
// time; the 10-ms increments and UTC offsets are not used.
_FILETIME DosTime2FileTime(u32 stamp);
