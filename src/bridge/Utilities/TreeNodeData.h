// The record from which the result window makes one tree node; the result-tree code fills it.
#pragma once

#include "engine/Common/Types.h"

class IFileNode;

struct __TreeNodeData__ {
    u32 isDirectory = 0;
    u32 isDeleted = 0;
    u64 fileSystemFlag = 0;
    IFileNode* node = nullptr;
};
