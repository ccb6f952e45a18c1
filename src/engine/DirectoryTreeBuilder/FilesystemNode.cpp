#include "engine/DirectoryTreeBuilder/FilesystemNode.h"

CFilesystemNode::CFilesystemNode(i64 id, _tagSearcherType type, std::string name, std::string volumeName)
    : m_type(type), m_name(std::move(name)), m_volumeName(std::move(volumeName)) {
    SetCurrentNodeID(id);
}

IFileNode* CFilesystemNode::Clone() {
    auto* copy = new CFilesystemNode(GetCurrentNodeID(), m_type, m_name, m_volumeName);
    copy->CopyFieldsFrom(*this, false);
    return copy;
}
