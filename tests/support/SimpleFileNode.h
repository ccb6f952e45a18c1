// A plain node for tests: name, size, attribute, times and deleted flag set directly.
#pragma once

#include <string>

#include "engine/Utility/FileNode.h"

namespace testsupport {

class SimpleFileNode : public CFileNode {
public:
    SimpleFileNode(i64 id, i64 parentId, std::string name, bool directory, i64 size = 0)
        : m_name(std::move(name)), m_size(size), m_attribute(directory ? 0x10 : 0) {
        SetCurrentNodeID(id);
        SetParentNodeID(parentId);
    }

    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return m_size; }
    u16 GetAttribute() override { return m_attribute; }
    _FILETIME GetCreationTime() override { return m_creation; }
    _FILETIME GetModificationTime() override { return m_modification; }
    _FILETIME GetLastAccessTime() override { return 0; }
    u32 IsDirectory() override { return (m_attribute & 0x10) ? 1 : 0; }
    u32 IsDeleted() override { return m_deleted ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return m_type; }
    void MarkDeleted() override { m_deleted = true; }
    void FilterFileNameByDot() override { m_name = CFileNode::FilterFileNameByDot(m_name); }
    void UpdateFileSize(i64 size) override { m_size = size; }
    void SetFileName(const char* name) override { m_name = name ? name : ""; }
    IFileNode* Clone() override {
        auto* copy = new SimpleFileNode(*this);
        return copy;
    }

    SimpleFileNode& Deleted(bool deleted = true) {
        m_deleted = deleted;
        return *this;
    }
    SimpleFileNode& Times(_FILETIME creation, _FILETIME modification) {
        m_creation = creation;
        m_modification = modification;
        return *this;
    }
    SimpleFileNode& Type(_tagSearcherType type) {
        m_type = type;
        return *this;
    }
    SimpleFileNode& Partition(u16 index) {
        SetBelongedPartition(index);
        return *this;
    }

    std::string m_name;
    i64 m_size;
    u16 m_attribute;
    _FILETIME m_creation = 0;
    _FILETIME m_modification = 0;
    bool m_deleted = false;
    _tagSearcherType m_type = SEARCHER_NONE;
};

}  // namespace testsupport
