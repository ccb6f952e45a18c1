// The name orders of HFS+ catalog keys: case folding (key compare type 0xCF) and binary (0xBC, HFSX).
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace hfsplus {

// Two levels: entry (unit >> 8) gives the offset of that high byte's table of 256 folded units, or 0
// when the block does not fold. Generated (CaseFoldingTable.cpp).
extern const u16 kCaseFoldingTable[];
extern const size_t kCaseFoldingTableSize;

// The folded value of one unit: 0 for units the comparison skips.
u16 FoldUnit(u16 unit);

}  // namespace hfsplus

// Case-folding order: units that fold to 0 are skipped, ':' compares as '/', the first difference
// decides (-1 or 1), a name that ends first sorts first, equal names give 0.
int FastUnicodeCompare(const u16* s1, u16 length1, const u16* s2, u16 length2);

// Binary order of the units, ':' counting as '/', a prefix first.
int BinaryUnicodeCompare(const u16* s1, u16 length1, const u16* s2, u16 length2);
