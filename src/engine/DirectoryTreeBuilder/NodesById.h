// The nodes recorded per ID in one result tree: one entry per ID, in the order the IDs first came,
// found through an open-addressing hash of the IDs. An entry is never taken out: an ID whose nodes all
// left keeps an empty list, which every reader takes as no entry. So recording a node allocates nothing
// once the tables have grown, and nothing is freed per node when the builder goes.
#pragma once

#include "engine/Common/FlatKeyTable.h"
#include "engine/Common/Types.h"
#include "engine/DirectoryTreeBuilder/NodeList.h"

struct _PARENT_INFO {
    CNodeList nodes;  // every node recorded under one ID (the same folder found again)
};

using CNodesById = FlatKeyTable<i64, _PARENT_INFO>;
