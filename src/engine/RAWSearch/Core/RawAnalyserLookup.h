// The lookup of an analyser for one sector over the three tables of one set, in their order: the map
// by the first four bytes, the multimap by the first two, then the list. A table of the two-byte
// prefixes that any key starts with lets most sectors skip both ordered tables.
#pragma once

#include <bit>
#include <bitset>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"

class CRawFileInfo;

class RawAnalyserLookup {
public:
    RawAnalyserLookup(RawAnalyserMap& map, RawAnalyserMultimap& multimap, RawAnalyserList& list);

    bool Empty() const { return m_map.empty() && m_multimap.empty() && m_list.empty(); }
    bool ListEmpty() const { return m_list.empty(); }
    size_t ListSize() const { return m_list.size(); }

    // False when no list analyser can accept the sector: each names a word the sector lacks.
    bool ListMayAccept(const unsigned char* sector) const {
        for (const ListEntry& entry : m_listEntries) {
            if (!entry.hasWord) {
                if (!entry.hasEither || HoldsEither(entry, sector)) return true;
                continue;
            }
            u32 word;
            memcpy(&word, sector + entry.offset, sizeof(word));
            if (word == entry.hostValue) return true;
        }
        return false;
    }
    // False when no analyser can accept the sector: its first bytes key no table entry and the list
    // turns it away. Inline and cheap: most sectors of a disk end here.
    bool MayAccept(const unsigned char* sector) const {
        u16 key2;
        memcpy(&key2, sector, sizeof(key2));
        if constexpr (std::endian::native == std::endian::big) key2 = __builtin_bswap16(key2);
        u32 first;
        memcpy(&first, sector, sizeof(first));
        return (first != 0 && m_prefixes->test(key2)) || ListMayAccept(sector);
    }

    // The analyser that accepts the sector, or null. info is reset before each analyser is asked.
    // sectorAllZero lets an all-zero sector skip the list (every list analyser needs non-zero bytes).
    IRawFileAnalyser* Find(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                           long long bufferStartSector, long long blockEndSector, bool sectorAllZero) const;

private:
    // The list in order, with the word each analyser needs when it names one.
    struct ListEntry {
        IRawFileAnalyser* analyser;
        bool hasWord;
        u32 offset;
        u32 hostValue;  // the word as a load in the host's order gives it
        bool hasEither = false;  // without a word: one of two masked words instead
        u32 eitherOffset[2] = {};
        u32 eitherValue[2] = {};
        u32 eitherMask[2] = {};
    };

    static bool HoldsEither(const ListEntry& entry, const unsigned char* sector) {
        for (int k = 0; k < 2; ++k) {
            u32 word;
            memcpy(&word, sector + entry.eitherOffset[k], sizeof(word));
            if ((word & entry.eitherMask[k]) == entry.eitherValue[k]) return true;
        }
        return false;
    }

    RawAnalyserMap& m_map;
    RawAnalyserMultimap& m_multimap;
    RawAnalyserList& m_list;
    std::vector<ListEntry> m_listEntries;
    std::unique_ptr<std::bitset<65536>> m_prefixes;
};
