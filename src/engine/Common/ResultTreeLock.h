// The result-tree lock: every change of the links of a published tree happens under it, and the
// windows read the trees under it. Recursive, so a receiver may take it again inside a callback.
#pragma once

#include "engine/Common/Locks.h"

extern SimpleCs g_lockerAddData;
