// A quick searcher: reads the metadata of one intact volume in a single call.
#pragma once

#include "engine/Common/IFileSystemSearchController.h"
#include "engine/Common/Types.h"

class IStorageDevice;
class IProgress;

class IQuickFileSystemSearchController : public IFileSystemSearchController {
public:
    // Creates the nodes, gives them to the builder, reports through progress; a result code.
    virtual u64 QuickSearchFiles(IStorageDevice* volume, IProgress* progress) = 0;
};
