// A tree builder that records what it is given, in order, and owns the nodes it accepts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Utility/IFileNode.h"

namespace rawtest {

struct Received {
    _tagSearcherType type;
    i64 id, parent;
    std::string name;
    bool directory;
    i64 size;
    _FILETIME time;
    IFileNode* node;
};

class RecordingTreeBuilder : public IDirecotryTreeBuilder {
public:
    ~RecordingTreeBuilder() override {
        for (auto& r : received) r.node->Release();
    }
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override {
        Received r{type,
                   node->GetCurrentNodeID(),
                   node->GetParentNodeID(),
                   node->GetFileName() != nullptr ? node->GetFileName() : "",
                   node->IsDirectory() != 0,
                   node->GetFileSize(),
                   node->GetCreationTime(),
                   node};
        if (refuse && refuse(r)) {
            ++refused;
            return 0;
        }
        received.push_back(r);
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType type, i64 root) override {
        searchers.emplace_back(type, root);
        return 1;
    }
    void FlashBuild(_tagSearcherType type) override { flashed.push_back(type); }
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override {}

    std::vector<Received> Files() const {
        std::vector<Received> out;
        for (auto& r : received) {
            if (!r.directory) out.push_back(r);
        }
        return out;
    }

    std::vector<Received> received;
    std::vector<std::pair<_tagSearcherType, i64>> searchers;
    std::vector<_tagSearcherType> flashed;
    std::function<bool(const Received&)> refuse;
    int refused = 0;
};

}  // namespace rawtest
