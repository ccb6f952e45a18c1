// The lookup of an analyser for one sector over the three tables of one set, in their order: the map
// by the first four bytes, the multimap by the first two, then the list. A table of the two-byte
// prefixes that any key starts with lets most sectors skip both ordered tables.
#pragma once

#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"

class CRawFileInfo;

class RawAnalyserLookup {
public:
    RawAnalyserLookup(RawAnalyserMap& map, RawAnalyserMultimap& multimap, RawAnalyserList& list);

    bool Empty() const { return m_map.empty() && m_multimap.empty() && m_list.empty(); }
    size_t ListSize() const { return m_list.size(); }

    // False when no list analyser can accept a sector that does not start with a zero word and whose
    // first two bytes key no table entry: each names bytes the sector lacks.
    bool ListMayAccept(const unsigned char* sector) const {
        return (m_keyFlags[Key16(sector, 2)] & kListKey23) != 0 || (m_keyFlags[Key16(sector, 4)] & kListKey45) != 0 ||
               AnyWordHolds(m_words, m_hasMoreWords, m_moreWords, sector);
    }
    // The same for a sector whose first four bytes are zero: only the tests such a sector can pass.
    bool ListMayAcceptZeroStart(const unsigned char* sector) const {
        return (m_keyFlags[Key16(sector, 4)] & kZeroStartKey45) != 0 ||
               AnyWordHolds(m_zeroStartWords, m_hasMoreZeroStartWords, m_moreZeroStartWords, sector);
    }
    // False when no analyser can accept the sector: its first bytes key no table entry and the list
    // turns it away. Inline and cheap: most sectors of a disk end here.
    bool MayAccept(const unsigned char* sector) const {
        u32 first;
        memcpy(&first, sector, sizeof(first));
        if (first == 0) return ListMayAcceptZeroStart(sector);
        return (m_keyFlags[Key16(sector, 0)] & kPrefixKey) != 0 || ListMayAccept(sector);
    }

    // The analyser that accepts the sector, or null. info is reset before each analyser is asked.
    // sectorAllZero lets an all-zero sector skip the list (every list analyser needs non-zero bytes).
    IRawFileAnalyser* Find(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                           long long bufferStartSector, long long blockEndSector, bool sectorAllZero) const;

private:
    // One test in the host's order: (the 8 bytes at offset & mask) == value.
    struct BitsTest {
        u64 mask;
        u64 value;
        u32 offset;
    };
    // The list in order, with the range of m_entryTests that holds its tests (none: asked at every
    // sector the tables leave).
    struct ListEntry {
        IRawFileAnalyser* analyser;
        u32 firstTest;
        u32 testCount;
    };

    // The two bytes at offset, little-endian.
    static u16 Key16(const unsigned char* sector, u32 offset) {
        u16 key;
        memcpy(&key, sector + offset, sizeof(key));
        if constexpr (std::endian::native == std::endian::big) key = __builtin_bswap16(key);
        return key;
    }
    static bool TestHolds(const BitsTest& test, const unsigned char* sector) {
        u64 bits;
        memcpy(&bits, sector + test.offset, sizeof(bits));
        return (bits & test.mask) == test.value;
    }
    // The tests of a list entry, counted.
    static bool AnyOf(const BitsTest* test, u32 count, const unsigned char* sector) {
        for (; count != 0; --count, ++test) {
            if (TestHolds(*test, sector)) return true;
        }
        return false;
    }

    // Four tests of a 32-bit word each, in the host's order: (the word at offset & mask) ^ value is zero
    // where a test holds. A place no test fills has mask 0 and value 1 (never holds); a test that always
    // holds has mask 0 and value 0.
    static constexpr int kGroupWords = 4;
    struct WordGroup {
        u32 offset[kGroupWords];
        u32 mask[kGroupWords];
        u32 value[kGroupWords];
    };
    // Whether a test of the groups may hold. The four differences of a group are multiplied: the
    // product is zero where one of them is (a false "may" only where the differences end in 64 zero bits
    // between them, which the lookup then turns away): no branch per test.
    static u64 WordDiff(const WordGroup& group, int k, const unsigned char* sector) {
        u32 word;
        memcpy(&word, sector + group.offset[k], sizeof(word));
        return (word & group.mask[k]) ^ group.value[k];
    }
    static bool GroupMayHold(const WordGroup& group, const unsigned char* sector) {
        u64 product = WordDiff(group, 0, sector) * WordDiff(group, 1, sector);
        product *= WordDiff(group, 2, sector);
        product *= WordDiff(group, 3, sector);
        return product == 0;
    }
    // The first group is held in place (one group holds the words of most lists); the rest follow it.
    static bool AnyWordHolds(const WordGroup& first, bool hasMore, const std::vector<WordGroup>& more,
                             const unsigned char* sector) {
        if (GroupMayHold(first, sector)) return true;
        if (!hasMore) return false;
        for (const WordGroup& group : more) {
            if (GroupMayHold(group, sector)) return true;
        }
        return false;
    }

    // Flags of m_keyFlags, by the two bytes that key it.
    enum : u8 {
        kPrefixKey = 1,       // bytes 0-1: a map or multimap key starts with them, or a list test lets them through
        kListKey23 = 2,       // bytes 2-3 that a list test folded into them lets through
        kListKey45 = 4,       // bytes 4-5 likewise
        kZeroStartKey45 = 8,  // bytes 4-5 likewise, for a sector starting with a zero word
    };

    RawAnalyserMap& m_map;
    RawAnalyserMultimap& m_multimap;
    RawAnalyserList& m_list;
    std::vector<ListEntry> m_listEntries;
    std::vector<BitsTest> m_entryTests;  // by entry, in list order
    // The list tests no flag covers, as words within the first 512 bytes (the four bytes from a test's
    // first tested byte: what they fix a sector must hold), in groups; the second pair for sectors
    // starting with a zero word. A list analyser that names no bytes puts a test that always holds
    // first. A sector passing one of them is looked up, and the lookup makes the tests exactly.
    WordGroup m_words{};
    WordGroup m_zeroStartWords{};
    bool m_hasMoreWords = false;
    bool m_hasMoreZeroStartWords = false;
    std::vector<WordGroup> m_moreWords;
    std::vector<WordGroup> m_moreZeroStartWords;
    u8 m_keyFlags[65536] = {};
};
