// The trash and the recycle bin: which ".Trash" folder is the user's, which nodes belong to the recycle
// bin, and the names recycled files get back from their index files.
#include <algorithm>
#include <cstdlib>

#include "engine/DataRecovery/FileReader.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/DirectoryTreeBuilder/RecyclerFilter.h"
#include "engine/Utility/SearchedPartitionInfo.h"

bool CDirectoryTreeBuilder::IsTrashName(std::string_view name) {
    return name == ".Trashes" || name == ".Trash";
}

bool CDirectoryTreeBuilder::IsUserTrashFolder(_DIRECTORY_TREE_INFO& record, CFileNode* node) {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return false;
    std::string wanted = home;
    if (wanted.back() != '/') wanted += '/';

    std::vector<std::string> names;
    i64 parentId = node->GetParentNodeID();
    // Bounded by the number of folders, so a cycle of parent IDs ends.
    for (size_t steps = 0; parentId != record.rootId; ++steps) {
        if (steps > record.folders.size()) return false;
        const _PARENT_INFO* entry = record.folders.Find(parentId);
        if (!entry || entry->nodes.empty()) return false;
        CFileNode* parent = entry->nodes.front();
        names.push_back(NameOf(parent));
        parentId = parent->GetParentNodeID();
    }
    std::string path = "/";
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += *it + "/";
    return path == wanted;
}

// A trash candidate that turns out to lie in the user's home folder becomes the trash (the first one).
void CDirectoryTreeBuilder::SettleTrashFromCandidates(_DIRECTORY_TREE_INFO& record) {
    if (record.trashSettled) return;
    for (CFileNode* candidate : record.trashCandidates) {
        if (!IsUserTrashFolder(record, candidate)) continue;
        candidate->MarkDeleted();
        record.trashId = candidate->GetCurrentNodeID();
        record.trashSettled = true;
        return;
    }
}

bool CDirectoryTreeBuilder::InsertToRecycleBin(CFileNode* node, _tagSearcherType type) {
    // The name tests below all need a name that begins with '#', '$', 'R' or 'r': others end here unless
    // they lie in a recycle-bin folder.
    const char* name = node->GetFileName();
    const char first = name ? name[0] : '\0';
    const bool binName = first == '#' || first == '$' || first == 'R' || first == 'r';
    if (!binName && m_recycleFolderIds.empty()) return false;
    const i64 parentId = node->GetParentNodeID();
    const bool underBin = std::find(m_recycleFolderIds.begin(), m_recycleFolderIds.end(),
                                    std::make_pair(type, parentId)) != m_recycleFolderIds.end();
    if (!underBin && !binName) return false;
    if (!CRecyclerFilter::IsRecycleBinSigleNode(node) && !CRecyclerFilter::IsRecoverNode(node) &&
        !CRecyclerFilter::IsRecoverNodeEx(node) && !underBin)
        return false;
    if (node->IsDirectory()) {
        m_recycleFolders.push_back({node, type});
        m_recycleFolderIds.emplace_back(type, node->GetCurrentNodeID());
    } else if (NameOf(node).rfind("$I", 0) == 0) {
        m_recycleIndexes.push_back({node, type});
    } else {
        m_recycleContent.push_back({node, type});
    }
    return true;
}

void CDirectoryTreeBuilder::RestoreRecycleName(_tagSearcherType type) {
    // Only the holdings of this searcher: another searcher's nodes belong to another tree and device.
    auto takeOfType = [type](std::vector<Held>& held) {
        std::vector<CFileNode*> mine;
        auto keep = std::stable_partition(held.begin(), held.end(), [type](const Held& h) { return h.type != type; });
        for (auto it = keep; it != held.end(); ++it) mine.push_back(it->node);
        held.erase(keep, held.end());
        return mine;
    };
    std::vector<CFileNode*> folders = takeOfType(m_recycleFolders);
    std::stable_sort(folders.begin(), folders.end(),
                     [](CFileNode* a, CFileNode* b) { return a->GetCurrentNodeID() < b->GetCurrentNodeID(); });
    std::vector<CFileNode*> content = takeOfType(m_recycleContent);
    for (auto* list : {&folders, &content}) {
        for (CFileNode* node : *list) {
            RestorFileName(node, type);
            // The builder answered 1 for this node when it was held: a refusal now is ours to release.
            if (!AddNodeInternal(node, type)) ReleaseOwned(node);
        }
    }
}

void CDirectoryTreeBuilder::RestorFileName(CFileNode* node, _tagSearcherType type) {
    const std::string name = NameOf(node);
    if (name.rfind("$R", 0) != 0 || CRecyclerFilter::IsRecycleBinSigleNode(node)) return;
    if (!m_device || !m_partition) return;
    auto index = std::find_if(m_recycleIndexes.begin(), m_recycleIndexes.end(), [&](const Held& h) {
        const std::string candidate = NameOf(h.node);
        return h.type == type && candidate.size() >= 2 && candidate.compare(2, std::string::npos, name, 2) == 0;
    });
    if (index == m_recycleIndexes.end()) return;
    CFileNode* indexNode = index->node;
    const i64 size = indexNode->GetFileSize();
    if (size <= 0 || size > static_cast<i64>(CRecyclerFilter::kMaxIndexBytes)) return;

    // The recycle bins of FAT, exFAT and NTFS volumes name their files in index files.
    const _tagSearcherType own = node->GetSearcheType();
    if (own != SEARCHER_FAT && own != SEARCHER_EXFAT && own != SEARCHER_NTFS) return;

    // The run list counts clusters from the partition's cluster 0, so read through the partition record
    // (an index in its NTFS record, through the node).
    CFileReader reader;
    if (!reader.Open(m_device, indexNode, m_partition)) return;
    u8 bytes[CRecyclerFilter::kMaxIndexBytes] = {};
    int done = 0;
    if (!reader.Read(0, bytes, static_cast<int>(size), done, nullptr) || done <= 0) return;
    std::string restored;
    if (!CRecyclerFilter::ParseIndexName(bytes, static_cast<size_t>(done), restored)) return;
    node->SetFileName(restored.c_str());
    m_recycleIndexes.erase(index);  // used; it stays owned by the builder
}
