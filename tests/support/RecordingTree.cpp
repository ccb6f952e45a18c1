#include "support/RecordingTree.h"

#include <algorithm>

#include "engine/Common/ResultTreeLock.h"
#include "engine/Utility/FileNode.h"

namespace testsupport {

namespace {

std::string NameOf(IFileNode* node) {
    const char* name = node->GetFileName();
    return name ? name : "(null)";
}

void ListBelow(CFileNode* node, const std::string& path, std::vector<std::string>& out) {
    for (CFileNode* child = node->GetFirstChild(); child; child = child->GetNextNode()) {
        const std::string childPath = path + "/" + NameOf(child);
        out.push_back(childPath + " " + std::to_string(child->GetFileSize()) + (child->IsDeleted() ? " D" : ""));
        ListBelow(child, childPath, out);
    }
}

}  // namespace

void RecordingTree::ShowNodes(IFileNode** nodes, u32 count, int lost) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_batches.push_back(Batch{std::vector<IFileNode*>(nodes, nodes + count), lost});
}

void RecordingTree::ShowFilesystemNode(IFilesystemNode* root) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_roots.push_back(root);
}

std::vector<RecordingTree::Batch> RecordingTree::Batches() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_batches;
}

std::vector<IFilesystemNode*> RecordingTree::Roots() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_roots;
}

std::string RecordingTree::PublishOrder() const {
    std::string out;
    for (const Batch& batch : Batches()) {
        if (!out.empty()) out += "|";
        out += std::to_string(batch.lost) + ":";
        for (size_t i = 0; i < batch.nodes.size(); ++i) out += (i ? "," : "") + NameOf(batch.nodes[i]);
    }
    return out;
}

std::vector<std::string> RecordingTree::Listing() const {
    std::vector<std::string> out;
    SimpleLock hold(&g_lockerAddData);
    for (IFilesystemNode* root : Roots()) {
        auto* node = dynamic_cast<CFileNode*>(root);
        if (!node) continue;
        out.push_back(NameOf(node));
        ListBelow(node, NameOf(node), out);
    }
    std::sort(out.begin(), out.end());
    return out;
}

size_t RecordingTree::PublishedCount() const {
    size_t n = 0;
    for (const Batch& batch : Batches()) n += batch.nodes.size();
    return n;
}

}  // namespace testsupport
