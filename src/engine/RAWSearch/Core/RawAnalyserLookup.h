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

    // False when no list analyser can accept a sector that does not start with a zero word and whose
    // first two bytes key no table entry: each names bytes the sector lacks.
    bool ListMayAccept(const unsigned char* sector) const {
        return m_keys23->test(Key16(sector, 2)) || m_keys45->test(Key16(sector, 4)) ||
               AnyTestHolds(m_tests, m_testsEnd, sector);
    }
    // The same for a sector whose first four bytes are zero: only the tests such a sector can pass.
    bool ListMayAcceptZeroStart(const unsigned char* sector) const {
        return m_zeroStartKeys45->test(Key16(sector, 4)) ||
               AnyTestHolds(m_zeroStartTests, m_zeroStartTestsEnd, sector);
    }
    // False when no analyser can accept the sector: its first bytes key no table entry and the list
    // turns it away. Inline and cheap: most sectors of a disk end here.
    bool MayAccept(const unsigned char* sector) const {
        u32 first;
        memcpy(&first, sector, sizeof(first));
        if (first == 0) return ListMayAcceptZeroStart(sector);
        u16 key2;
        memcpy(&key2, sector, sizeof(key2));
        if constexpr (std::endian::native == std::endian::big) key2 = __builtin_bswap16(key2);
        return m_prefixes->test(key2) || ListMayAccept(sector);
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
    // The tests from test up to end, where a test that always holds stands: the list is asked about
    // nearly every sector, so no step but the tests themselves.
    static bool AnyTestHolds(const BitsTest* test, const BitsTest* end, const unsigned char* sector) {
        while (!TestHolds(*test, sector)) ++test;
        return test != end;
    }
    // The tests of a list entry, counted.
    static bool AnyOf(const BitsTest* test, u32 count, const unsigned char* sector) {
        for (; count != 0; --count, ++test) {
            if (TestHolds(*test, sector)) return true;
        }
        return false;
    }

    RawAnalyserMap& m_map;
    RawAnalyserMultimap& m_multimap;
    RawAnalyserList& m_list;
    std::vector<ListEntry> m_listEntries;
    std::vector<BitsTest> m_entryTests;      // by entry, in list order
    // The tests of ListMayAccept: those of m_entryTests without repeats, less those at offset 0 whose
    // first two bytes went into m_prefixes (a sector passing one of them is looked up through the
    // tables, whose lookup ends with the list). A list analyser that names no bytes puts a test that
    // always holds first.
    std::vector<BitsTest> m_listTests;
    std::vector<BitsTest> m_listZeroStartTests;  // those a sector starting with a zero word can pass
    // Each ends with a test that always holds, where the scan of AnyTestHolds stops.
    const BitsTest* m_tests = nullptr;
    const BitsTest* m_testsEnd = nullptr;
    const BitsTest* m_zeroStartTests = nullptr;
    const BitsTest* m_zeroStartTestsEnd = nullptr;
    std::unique_ptr<std::bitset<65536>> m_prefixes;
    // Keys of bytes 2-3 and 4-5 that a list test folded into them lets through; the last for sectors
    // starting with a zero word.
    std::unique_ptr<std::bitset<65536>> m_keys23;
    std::unique_ptr<std::bitset<65536>> m_keys45;
    std::unique_ptr<std::bitset<65536>> m_zeroStartKeys45;
};
