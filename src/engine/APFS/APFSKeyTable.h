// The APFS search's per-key state (the nodes of an object key, the nodes waiting for a folder key):
// a flat table, so that adding a key costs no heap allocation of its own.
#pragma once

#include "engine/Common/FlatKeyTable.h"
#include "engine/Common/Types.h"

template <typename Value>
using APFSKeyTable = FlatKeyTable<u64, Value>;
