// A tree builder that keeps every node it is handed, in order, owns the ones it accepts (released once,
// when it ends) and lists them with their paths built from parent IDs. Stands in for the real builder
// where a test checks what a searcher hands over.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/Common/IDirecotryTreeBuilder.h"

class IFileNode;

namespace testsupport {

class CapturingTreeBuilder : public IDirecotryTreeBuilder {
public:
    struct Entry {
        std::string path;  // names from the searcher's root, "/"-joined; "<lost>/" when a parent is unknown
        i64 size = 0;
        bool deleted = false;
        bool directory = false;
        IFileNode* node = nullptr;
    };

    ~CapturingTreeBuilder() override;
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    // Refuses a null node, a node of an unregistered searcher, one that names itself as parent and
    // whatever `refuse` says; accepts (and owns) the rest.
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) override;
    void FlashBuild(_tagSearcherType type) override { flashes.push_back(type); }
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice* device) override { this->device = device; }

    // The accepted nodes of one searcher with their paths (a folder ID held by several nodes names the first).
    std::vector<Entry> List(_tagSearcherType type) const;

    std::function<bool(IFileNode*)> refuse;
    std::vector<std::pair<IFileNode*, _tagSearcherType>> accepted;
    int refused = 0;
    std::map<_tagSearcherType, i64> roots;
    std::vector<_tagSearcherType> flashes;
    IStorageDevice* device = nullptr;
};

}  // namespace testsupport
