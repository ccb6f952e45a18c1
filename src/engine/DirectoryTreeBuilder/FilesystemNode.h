// A synthetic folder of the builder: the root of a result tree, or the folder of lost files.
#pragma once

#include <string>

#include "engine/Utility/FileNode.h"

class CFilesystemNode : public CFileNode {
public:
    CFilesystemNode(i64 id, _tagSearcherType type, std::string name, std::string volumeName);

    const char* GetFileName() override { return m_name.c_str(); }
    i64 GetFileSize() override { return 0; }
    u16 GetAttribute() override { return 0x10; }
    _FILETIME GetCreationTime() override { return 0; }
    _FILETIME GetModificationTime() override { return 0; }
    _FILETIME GetLastAccessTime() override { return 0; }
    u32 IsDirectory() override { return 1; }
    u32 IsDeleted() override { return 0; }
    _tagSearcherType GetSearcheType() override { return m_type; }
    const char* GetVolumeName() override { return m_volumeName.c_str(); }
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}
    IFileNode* Clone() override;

private:
    _tagSearcherType m_type;
    std::string m_name;
    std::string m_volumeName;
};
