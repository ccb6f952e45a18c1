// The NTFS file node (searcher type 35). Only what the file model, the tree builder and the file readers
// use is here so far; the NTFS search completes the class with its own properties record.
#pragma once

#include "engine/Common/IFileProperties.h"
#include "engine/Utility/FileNode.h"

class CNTFSFileNode : public CFileNode {
public:
    static constexpr u16 kDirectoryBit = 0x10;
    static constexpr u16 kCompressedBit = 0x800;

    CNTFSFileNode() = default;
    ~CNTFSFileNode() override { delete m_properties; }
    CNTFSFileNode(const CNTFSFileNode&) = delete;
    CNTFSFileNode& operator=(const CNTFSFileNode&) = delete;

    // The properties the node owns, or null.
    IFileProperties* GetFileProperties() { return m_properties; }
    // Takes ownership; a top-level record by default (ID 0, parent 5), and the extents of the properties.
    void SetFileProperties(IFileProperties* properties) {
        if (properties == m_properties) return;
        delete m_properties;
        m_properties = properties;
        if (!properties) return;
        SetCurrentNodeID(0);
        SetParentNodeID(5);
        SetDataRunList(properties->GetDataRunList());
    }

    const char* GetFileName() override { return m_properties ? m_properties->GetFileName() : nullptr; }
    i64 GetFileSize() override { return m_properties ? m_properties->GetFileSize() : 0; }
    u16 GetAttribute() override { return m_properties ? m_properties->GetAttribute() : 0; }
    _FILETIME GetCreationTime() override { return m_properties ? m_properties->GetCreationTime() : 0; }
    _FILETIME GetModificationTime() override { return m_properties ? m_properties->GetModificationTime() : 0; }
    _FILETIME GetLastAccessTime() override { return m_properties ? m_properties->GetLastAccessTime() : 0; }
    u32 IsDirectory() override { return (GetAttribute() & kDirectoryBit) ? 1 : 0; }
    u32 IsCompressed() override { return (GetAttribute() & kCompressedBit) ? 1 : 0; }
    u32 IsDeleted() override { return (m_properties && (m_properties->GetState() & 1)) ? 1 : 0; }
    _tagSearcherType GetSearcheType() override { return SEARCHER_NTFS; }
    void MarkDeleted() override {
        if (m_properties) m_properties->SetState(m_properties->GetState() | 1);
    }
    void FilterFileNameByDot() override {
        if (m_properties) m_properties->SetFileName(CFileNode::FilterFileNameByDot(GetFileName()).c_str());
    }
    IFileNode* Clone() override {
        auto* copy = new CNTFSFileNode();
        copy->CopyFieldsFrom(*this, false);
        if (m_properties) copy->m_properties = m_properties->Clone();
        return copy;
    }
    // The reader of compressed NTFS data comes with the file readers; none until then.
    IFileReader* CreateCompressFileReader(void*) override { return nullptr; }

private:
    IFileProperties* m_properties = nullptr;
};
