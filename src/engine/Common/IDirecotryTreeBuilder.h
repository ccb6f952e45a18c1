// The engine's result-tree builder, to which every searcher hands its nodes.
#pragma once

#include "engine/Common/SearcherTypes.h"
#include "engine/Common/Types.h"

class IDrirectoryTree;
class IFileNode;
class IRecoveryFilter;
class IStorageDevice;
class CSearchedPartitionInfo;

class IDirecotryTreeBuilder {
public:
    virtual ~IDirecotryTreeBuilder() = default;
    virtual int Initialize(const char* deviceName, IDrirectoryTree* tree, IRecoveryFilter* filter) = 0;
    // 1: the builder took the node and owns it. 0: refused; the caller still owns it and releases it.
    virtual int AddNode(IFileNode* node, _tagSearcherType type) = 0;
    // Registers a searcher (or changes its root folder ID); rootFolderID is what its top nodes name as parent.
    virtual int AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) = 0;
    // Links and publishes everything of that searcher; called once at its end.
    virtual void FlashBuild(_tagSearcherType type) = 0;
    virtual void Release() = 0;
    virtual void SetPartitonDevice(CSearchedPartitionInfo* record, IStorageDevice* device) = 0;
    // A hint from a searcher (registered through AddSearcherInfo) that about `count` more nodes of that
    // type are coming: the builder may make room for them at once. What it builds is the same with or
    // without the hint, whatever the count.
    virtual void ExpectNodes(_tagSearcherType type, u64 count) {
        (void)type;
        (void)count;
    }
};

// restoring: a saved scan is replayed (no duplicate merging, no filtering of hidden trees).
IDirecotryTreeBuilder* CreateTreeBuilder(bool restoring);
