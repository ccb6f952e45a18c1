#include "fuzz/support/NodeSink.h"

#include <cstring>

#include "engine/Utility/FileNode.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/IFileNode.h"

namespace fuzz {

namespace {
volatile u64 g_sink = 0;  // keeps the reads of TouchNode from being optimised away
}

void TouchNode(IFileNode* node) {
    if (node == nullptr) return;
    u64 sum = static_cast<u64>(node->GetCurrentNodeID()) ^ static_cast<u64>(node->GetParentNodeID());
    if (const char* name = node->GetFileName()) sum += std::strlen(name);
    sum += static_cast<u64>(node->GetFileSize()) + node->GetAttribute() + node->IsDirectory() + node->IsDeleted();
    sum += static_cast<u64>(node->GetCreationTime()) + static_cast<u64>(node->GetModificationTime()) +
           static_cast<u64>(node->GetLastAccessTime());
    sum += node->IsCompressed();
    if (auto* file = dynamic_cast<CFileNode*>(node)) {
        if (IDataRunList* runs = file->GetDataRunList()) {
            // A bounded walk: a list is never longer than this in any sound volume.
            int count = 0;
            for (DataRun* r = runs->GetFirst(); r != nullptr && count < 100000; r = runs->GetNext(), ++count) {
                sum += static_cast<u64>(r->start) + r->length;
            }
            sum += static_cast<u64>(runs->GetOffset()) + runs->IsResident();
        }
    }
    g_sink = g_sink + sum;
}

NodeSink::~NodeSink() {
    for (IFileNode* n : m_nodes) n->Release();
}

int NodeSink::AddNode(IFileNode* node, _tagSearcherType) {
    if (node == nullptr) return 0;
    TouchNode(node);
    m_nodes.push_back(node);
    return 1;
}

}  // namespace fuzz
