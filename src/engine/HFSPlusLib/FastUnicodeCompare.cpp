#include "engine/HFSPlusLib/FastUnicodeCompare.h"

namespace hfsplus {

u16 FoldUnit(u16 unit) {
    const u16 block = kCaseFoldingTable[unit >> 8];
    if (block == 0) return unit;
    const size_t at = size_t(block) + (unit & 0xFF);
    return at < kCaseFoldingTableSize ? kCaseFoldingTable[at] : unit;
}

}  // namespace hfsplus

namespace {

// Host copies keep a '/' of the disk as ':'; both orders compare it as the '/' it was.
u16 AsStored(u16 unit) { return unit == u16(':') ? u16('/') : unit; }

}  // namespace

int FastUnicodeCompare(const u16* s1, u16 length1, const u16* s2, u16 length2) {
    // Units equal as stored fold (or are skipped) alike: the order is that of what follows them. Names
    // of one folder often share a long beginning.
    while (length1 && length2 && *s1 == *s2) {
        ++s1;
        ++s2;
        --length1;
        --length2;
    }
    for (;;) {
        u16 c1 = 0;
        u16 c2 = 0;
        while (length1 && c1 == 0) {
            c1 = hfsplus::FoldUnit(*s1++);
            --length1;
        }
        while (length2 && c2 == 0) {
            c2 = hfsplus::FoldUnit(*s2++);
            --length2;
        }
        c1 = AsStored(c1);
        c2 = AsStored(c2);
        if (c1 != c2) return c1 < c2 ? -1 : 1;
        if (c1 == 0) return 0;
    }
}

int BinaryUnicodeCompare(const u16* s1, u16 length1, const u16* s2, u16 length2) {
    const u16 common = length1 < length2 ? length1 : length2;
    for (u16 i = 0; i < common; ++i) {
        const u16 c1 = AsStored(s1[i]);
        const u16 c2 = AsStored(s2[i]);
        if (c1 != c2) return c1 < c2 ? -1 : 1;
    }
    if (length1 == length2) return 0;
    return length1 < length2 ? -1 : 1;
}
