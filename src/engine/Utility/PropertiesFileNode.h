// A file-model node that answers from the file-properties record it owns (the FAT and NTFS nodes).
#pragma once

#include "engine/Utility/FileNode.h"

template <class Properties>
class CPropertiesFileNode : public CFileNode {
public:
    static constexpr u16 kDirectoryBit = 0x10;

    CPropertiesFileNode() = default;
    ~CPropertiesFileNode() override { delete m_properties; }
    CPropertiesFileNode(const CPropertiesFileNode&) = delete;
    CPropertiesFileNode& operator=(const CPropertiesFileNode&) = delete;

    // The properties the node owns (not a copy), or null.
    Properties* GetFileProperties() { return m_properties; }

    const char* GetFileName() override { return m_properties ? m_properties->GetFileName() : nullptr; }
    i64 GetFileSize() override { return m_properties ? m_properties->GetFileSize() : 0; }
    u16 GetAttribute() override { return m_properties ? m_properties->GetAttribute() : 0; }
    _FILETIME GetCreationTime() override { return m_properties ? m_properties->GetCreationTime() : 0; }
    _FILETIME GetModificationTime() override { return m_properties ? m_properties->GetModificationTime() : 0; }
    _FILETIME GetLastAccessTime() override { return m_properties ? m_properties->GetLastAccessTime() : 0; }
    u32 IsDirectory() override { return (GetAttribute() & kDirectoryBit) ? 1 : 0; }
    u32 IsDeleted() override { return (m_properties && (m_properties->GetState() & 1)) ? 1 : 0; }
    void MarkDeleted() override {
        if (m_properties) m_properties->SetState(m_properties->GetState() | 1);
    }
    void SetFileName(const char* name) override {
        if (m_properties) m_properties->SetFileName(name);
    }

protected:
    // Deletes the properties held and takes the new ones; false when they are the ones already held.
    bool ReplaceProperties(Properties* properties) {
        if (properties == m_properties) return false;
        delete m_properties;
        m_properties = properties;
        return true;
    }

    Properties* m_properties = nullptr;
};
