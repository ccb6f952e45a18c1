// The receiver of finished nodes on the operations side (implemented by the scan operation).
#pragma once

#include "engine/Common/Types.h"

class IFileNode;
class IFilesystemNode;

class IDrirectoryTree {
public:
    virtual ~IDrirectoryTree() = default;
    // Indexes published nodes; they stay owned by the tree builder. lost is 1 for lost files.
    virtual void ShowNodes(IFileNode** nodes, u32 count, int lost) = 0;
    // A found file system's root folder.
    virtual void ShowFilesystemNode(IFilesystemNode* root) = 0;
};
