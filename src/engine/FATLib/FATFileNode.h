// The FAT file node (searcher type 32): a file-model node over the properties of one directory entry.
#pragma once

#include "engine/FATLib/FATFileProperties.h"
#include "engine/Utility/FileNode.h"

class CFATFileNode : public CFileNode {
public:
    CFATFileNode() = default;
    ~CFATFileNode() override { delete m_properties; }
    CFATFileNode(const CFATFileNode&) = delete;
    CFATFileNode& operator=(const CFATFileNode&) = delete;

    // The properties the node owns (not a copy), or null.
    CFATFileProperties* GetFileProperties() { return m_properties; }
    // Takes ownership; the node's IDs follow the entry's first clusters and its metadata sector goes into
    // the upper 40 bits of the status word.
    void SetFileProperties(CFATFileProperties* properties);

    const char* GetFileName() override { return m_properties ? m_properties->GetFileName() : nullptr; }
    i64 GetFileSize() override { return m_properties ? m_properties->GetFileSize() : 0; }
    u16 GetAttribute() override { return m_properties ? m_properties->GetAttribute() : 0; }
    _FILETIME GetCreationTime() override { return m_properties ? m_properties->GetCreationTime() : 0; }
    _FILETIME GetModificationTime() override { return m_properties ? m_properties->GetModificationTime() : 0; }
    _FILETIME GetLastAccessTime() override { return m_properties ? m_properties->GetLastAccessTime() : 0; }
    u32 IsDirectory() override { return (GetAttribute() & 0x10) ? 1 : 0; }
    u32 IsDeleted() override { return (m_properties && (m_properties->GetState() & 1)) ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return SEARCHER_FAT; }
    void MarkDeleted() override {
        if (m_properties) m_properties->SetState(m_properties->GetState() | 1);
    }
    void FilterFileNameByDot() override {
        if (m_properties) m_properties->SetFileName(CFileNode::FilterFileNameByDot(m_properties->m_name).c_str());
    }
    void SetFileName(const char* name) override {
        if (m_properties) m_properties->SetFileName(name);
    }
    void UpdateFileSize(i64 size) override {
        if (m_properties) m_properties->m_size = size;
    }
    // A new node with cloned properties and a cloned run list; none when the properties cannot be cloned.
    IFileNode* Clone() override;

private:
    CFATFileProperties* m_properties = nullptr;
};
