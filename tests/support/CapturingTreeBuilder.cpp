#include "support/CapturingTreeBuilder.h"

#include "engine/Utility/IFileNode.h"

namespace testsupport {

CapturingTreeBuilder::~CapturingTreeBuilder() {
    for (auto& [node, type] : accepted) node->Release();
}

int CapturingTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type) {
    if (!node || roots.count(type) == 0 || node->GetCurrentNodeID() == node->GetParentNodeID() ||
        (refuse && refuse(node))) {
        ++refused;
        return 0;
    }
    accepted.emplace_back(node, type);
    return 1;
}

int CapturingTreeBuilder::AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) {
    roots[type] = rootFolderID;
    return 1;
}

std::vector<CapturingTreeBuilder::Entry> CapturingTreeBuilder::List(_tagSearcherType type) const {
    std::map<i64, IFileNode*> folders;
    for (const auto& [node, t] : accepted) {
        if (t == type && node->IsDirectory()) folders.emplace(node->GetCurrentNodeID(), node);
    }
    const auto root = roots.find(type);
    const i64 rootId = root == roots.end() ? 0 : root->second;
    std::vector<Entry> out;
    for (const auto& [node, t] : accepted) {
        if (t != type) continue;
        std::string path = node->GetFileName() ? node->GetFileName() : "";
        i64 parent = node->GetParentNodeID();
        // Bounded: parent IDs from a damaged disk may form a ring.
        for (size_t depth = 0; parent != rootId; ++depth) {
            auto it = folders.find(parent);
            if (it == folders.end() || depth > folders.size()) {
                path = "<lost>/" + path;
                break;
            }
            path = std::string(it->second->GetFileName() ? it->second->GetFileName() : "") + "/" + path;
            parent = it->second->GetParentNodeID();
        }
        out.push_back({path, node->GetFileSize(), node->IsDeleted() != 0, node->IsDirectory() != 0, node});
    }
    return out;
}

}  // namespace testsupport
