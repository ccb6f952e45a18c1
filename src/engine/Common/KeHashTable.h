// A fixed table of 2048 entries keyed by case-insensitive text, probed linearly, each entry checked by
// two further hashes of the key (the crypt-table scheme).
#pragma once

#include "engine/Common/Types.h"

class CKeHashTable {
public:
    static constexpr u32 kEntries = 2048;
    static constexpr u32 kMask = 0x7FF;

    CKeHashTable();

    void InitliazeCryptTable();
    // Hash type 0 (slot), 1 and 2 (checks). Bytes are taken unsigned and upper-cased as ASCII only.
    u32 GetHashCode(const char* key, u32 hashType) const;
    // 0 for a null key or a full table.
    int InsertNode(const char* key, u32 value);
    // The slot of the key, -1 when absent.
    int GetHashTablePos(const char* key) const;
    int FindNode(const char* key, u32& value) const;

private:
    struct Entry {
        u32 value;
        u32 used;
        u32 hashA;
        u32 hashB;
    };
    Entry m_entries[kEntries];
    u32 m_crypt[5 * 256];
};
