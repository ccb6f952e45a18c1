// A tree builder that records what it is given, in order, and owns the nodes it accepts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
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

// Runs the signature search over the whole device in blocks of 8192 sectors, as a deep scan feeds it,
// publishing into builder; false when the search does not start.
inline bool SearchInBlocks(IStorageDevice& device, RecordingTreeBuilder& builder, FileSectorMap* sectorMap = nullptr) {
    CRAWSearchController controller;
    controller.SetDevice(&device);
    controller.SetBlockSize(8192);
    controller.SetDirecotryTreeBuilder(&builder);
    if (sectorMap != nullptr) controller.SetFileSectorMap(sectorMap);
    if (controller.PreparetoSearch() != 1) return false;
    for (i64 s = 0; s < device.GetTotalSectors(); s += 8192) {
        controller.AnalyzeBlock(s, std::min<i64>(8192, device.GetTotalSectors() - s));
    }
    controller.EndSearch(1);
    return true;
}

}  // namespace rawtest
