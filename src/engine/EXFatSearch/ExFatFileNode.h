// The exFAT file node (filed under searcher type 33). Only what the file model and the tree builder use
// is here so far; the exFAT search completes the class (BuildFile, BuildFileDataRun).
#pragma once

#include <string>

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
    void MarkDeleted() override { m_attributes |= kDeletedBit; }
    void FilterFileNameByDot() override {
        if (m_hasName) m_name = CFileNode::FilterFileNameByDot(m_name);
    }
    void UpdateFileSize(i64 size) override { m_size = size; }
    // Replaces the node's name (UTF-8); null clears it.
    void SetFileName(char* name) { SetFileName(static_cast<const char*>(name)); }
    void SetFileName(const char* name) override {
        m_hasName = name != nullptr;
        m_name = name ? name : "";
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

    std::string m_name;
    bool m_hasName = false;
    i64 m_size = 0;
    u32 m_attributes = 0;  // low 16 bits: exFAT attributes; bit 31: deleted
    _FILETIME m_creationTime = 0;
    _FILETIME m_modificationTime = 0;
    _FILETIME m_lastAccessTime = 0;
    u32 m_firstCluster = 0xFFFFFFFFu;
};
