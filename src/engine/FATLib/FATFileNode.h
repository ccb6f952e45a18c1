// The FAT file node (searcher type 32). Only what the file model and the tree builder use is here so
// far; the FAT search completes the class.
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
    // Takes ownership; the node's IDs follow the entry's first clusters.
    void SetFileProperties(CFATFileProperties* properties) {
        if (properties == m_properties) return;
        delete m_properties;
        m_properties = properties;
        if (!properties) return;
        SetCurrentNodeID(static_cast<i64>(properties->m_firstCluster));
        SetParentNodeID(static_cast<i64>(properties->m_parentFirstCluster));
        SetMetaDataSector(properties->m_metadataSector);
    }

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
    void UpdateFileSize(i64 size) override {
        if (m_properties) m_properties->m_size = size;
    }
    IFileNode* Clone() override {
        auto* copy = new CFATFileNode();
        copy->CopyFieldsFrom(*this, false);
        if (m_properties) copy->m_properties = new CFATFileProperties(*m_properties);
        return copy;
    }

private:
    CFATFileProperties* m_properties = nullptr;
};
