#include "engine/DirectoryTreeBuilder/ReleasedFiles.h"

#include <functional>

#include "engine/Utility/FileNode.h"

CReleasedFiles::File CReleasedFiles::Fingerprint(CFileNode& file) {
    const char* name = file.GetFileName();
    File f{};
    f.parentId = file.GetParentNodeID();
    f.named = name != nullptr;
    f.nameHash = name ? std::hash<std::string_view>()(name) : 0;
    f.creation = file.GetCreationTime();
    f.size = file.GetFileSize();
    f.partition = file.GetBelongedPartition();
    return f;
}

void CReleasedFiles::Add(CFileNode& file) {
    File f = Fingerprint(file);
    u32& latest = m_latest.Get(file.GetCurrentNodeID());
    f.next = latest;
    m_files.push_back(f);
    latest = static_cast<u32>(m_files.size());
}

bool CReleasedFiles::Matches(CFileNode& node, _tagSearcherType type) const {
    const u32* latest = m_latest.Find(node.GetCurrentNodeID());
    if (!latest || *latest == 0) return false;
    const File n = Fingerprint(node);
    for (u32 at = *latest; at != 0;) {
        const File& f = m_files[at - 1];
        at = f.next;
        if (f.parentId != n.parentId || f.named != n.named || f.nameHash != n.nameHash) continue;
        if (f.partition == n.partition) return true;
        // Files of two partitions are one only on HFS+, with the same creation time and size.
        if (type == SEARCHER_HFSPLUS && f.creation == n.creation && f.size == n.size) return true;
    }
    return false;
}

void CReleasedFiles::Clear() {
    m_latest = {};
    m_files = {};
}
