// An IDrirectoryTree that keeps what the tree builder publishes: batches in order with their lost
// flag, and the roots. Stands in for the scan operation in tests.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/Common/IDrirectoryTree.h"
#include "engine/Utility/IFilesystemNode.h"

namespace testsupport {

class RecordingTree : public IDrirectoryTree {
public:
    struct Batch {
        std::vector<IFileNode*> nodes;
        int lost = 0;
    };

    void ShowNodes(IFileNode** nodes, u32 count, int lost) override;
    void ShowFilesystemNode(IFilesystemNode* root) override;

    std::vector<Batch> Batches() const;
    std::vector<IFilesystemNode*> Roots() const;
    // "lost:name,name|lost:name" in publish order.
    std::string PublishOrder() const;
    // Every node below each root, one "path size [D]" line each (D: deleted), sorted.
    std::vector<std::string> Listing() const;
    size_t PublishedCount() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Batch> m_batches;
    std::vector<IFilesystemNode*> m_roots;
};

}  // namespace testsupport
