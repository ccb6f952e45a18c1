// What a searcher under fuzzing hands its nodes to: a tree builder that reads every field of each node
// it is given (so that the sanitizers see a bad name or run list at once), keeps the nodes until the
// end of the input, and a progress sink that never stops the search.
#pragma once

#include <map>
#include <vector>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"

namespace fuzz {

class NodeSink : public IDirecotryTreeBuilder {
public:
    NodeSink() = default;
    ~NodeSink() override;
    NodeSink(const NodeSink&) = delete;
    NodeSink& operator=(const NodeSink&) = delete;

    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, i64 root) override {
        m_roots[type] = root;
        return 1;
    }
    void FlashBuild(_tagSearcherType) override {}
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override {}

    size_t Count() const { return m_nodes.size(); }

private:
    std::vector<IFileNode*> m_nodes;
    std::map<u32, i64> m_roots;
};

// Reads every field of a node and walks its run list; a sanitizer sees any fault.
void TouchNode(IFileNode* node);

class GoOnProgress : public IProgress {
public:
    int UpdateProgress(_PROGRESS_INFO*) override { return 1; }
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

}  // namespace fuzz
