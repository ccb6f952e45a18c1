#include "engine/RAWSearch/Core/RawAnalyserLookup.h"

#include <algorithm>

#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

RawAnalyserLookup::RawAnalyserLookup(RawAnalyserMap& map, RawAnalyserMultimap& multimap, RawAnalyserList& list)
    : m_map(map), m_multimap(multimap), m_list(list), m_prefixes(std::make_unique<std::bitset<65536>>()),
      m_keys23(std::make_unique<std::bitset<65536>>()),
      m_keys45(std::make_unique<std::bitset<65536>>()),
      m_zeroStartKeys45(std::make_unique<std::bitset<65536>>()) {
    for (const auto& entry : m_map) m_prefixes->set(entry.first & 0xFFFF);
    for (const auto& entry : m_multimap) m_prefixes->set(entry.first);
    std::vector<BitsTest> unique;
    bool everySector = false;
    for (IRawFileAnalyser* analyser : m_list) {
        IRawFileAnalyser::RequiredBits bits[IRawFileAnalyser::kMaxRequiredBits];
        int count = analyser->GetRequiredBits(bits);
        if (count < 0 || count > IRawFileAnalyser::kMaxRequiredBits) count = 0;
        ListEntry entry{analyser, static_cast<u32>(m_entryTests.size()), 0};
        for (int k = 0; k < count; ++k) {
            if (bits[k].offset > 512 - 8 || bits[k].mask == 0) {
                // A test the lookup cannot make: the analyser is asked at every sector.
                m_entryTests.resize(entry.firstTest);
                entry.testCount = 0;
                break;
            }
            m_entryTests.push_back({bits[k].mask, bits[k].value & bits[k].mask, bits[k].offset});
            ++entry.testCount;
        }
        if (entry.testCount == 0) everySector = true;
        m_listEntries.push_back(entry);
    }
    if (everySector) {
        m_listTests.push_back({0, 0, 0});
        m_listZeroStartTests.push_back({0, 0, 0});
    }
    for (const BitsTest& test : m_entryTests) {
        const auto same = [&](const BitsTest& other) {
            return other.offset == test.offset && other.mask == test.mask && other.value == test.value;
        };
        if (std::find_if(unique.begin(), unique.end(), same) == unique.end()) unique.push_back(test);
    }
    // The bits a test fixes in the two bytes at c (absolute, within the first eight), as a key of those
    // bytes read little-endian would hold them.
    const auto chunk = [](const BitsTest& test, u32 c, u16& mask, u16& value) {
        mask = value = 0;
        for (u32 b = c; b < c + 2; ++b) {
            if (b < test.offset || b >= test.offset + 8) continue;
            const u32 shift = 8 * (b - test.offset);
            mask = static_cast<u16>(mask | (((test.mask >> shift) & 0xFF) << (8 * (b - c))));
            value = static_cast<u16>(value | (((test.value >> shift) & 0xFF) << (8 * (b - c))));
        }
    };
    // Every key with the fixed bits: the free bits run through their subsets.
    const auto setKeys = [](std::bitset<65536>& keys, u16 mask, u16 value) {
        const u16 free = static_cast<u16>(~mask);
        u16 bits = 0;
        do {
            keys.set(static_cast<u16>(value & mask) | bits);
            bits = static_cast<u16>((bits - free) & free);
        } while (bits != 0);
    };
    // A test that fixes at least a byte's worth of bits in bytes 0-1, 2-3 or 4-5 is made through a table
    // of those two bytes instead of one by one (a sector a table lets through is looked up, and the
    // lookup makes the list's tests exactly): the list is asked about nearly every sector.
    constexpr int kFoldBits = 8;
    for (const BitsTest& test : unique) {
        if (everySector) break;
        // A sector whose first four bytes are zero passes the test only if every tested bit of those
        // bytes is to be zero.
        u64 zeroStartBits = 0;
        if (test.offset < 4) zeroStartBits = (u64{0xFFFFFFFF} >> (8 * test.offset)) & test.mask;
        if ((test.value & zeroStartBits) == 0) {
            // Bytes 0-3 of such a sector are zero: only bytes 4-5 can key it.
            u16 mask = 0, value = 0;
            chunk(test, 4, mask, value);
            if (std::popcount(mask) >= kFoldBits)
                setKeys(*m_zeroStartKeys45, mask, value);
            else
                m_listZeroStartTests.push_back(test);
        }
        // Bytes 0-1 first when they fix most of their bits, else the two bytes that fix the most.
        u32 best = 0;
        int bestBits = -1;
        u16 bestMask = 0, bestValue = 0;
        for (u32 c : {0u, 2u, 4u}) {
            u16 mask = 0, value = 0;
            chunk(test, c, mask, value);
            if (bestBits >= 12 && best == 0) break;
            if (std::popcount(mask) > bestBits) {
                best = c;
                bestBits = std::popcount(mask);
                bestMask = mask;
                bestValue = value;
            }
        }
        if (bestBits < kFoldBits) {
            m_listTests.push_back(test);
            continue;
        }
        // Bytes 0-1 key the prefix table: a sector that passes it and does not start with a zero word is
        // looked up.
        setKeys(best == 0 ? *m_prefixes : best == 2 ? *m_keys23 : *m_keys45, bestMask, bestValue);
    }
    // The tests in the host's order, as a load of the sector's bytes gives them.
    if constexpr (std::endian::native == std::endian::big) {
        for (std::vector<BitsTest>* tests : {&m_entryTests, &m_listTests, &m_listZeroStartTests}) {
            for (BitsTest& test : *tests) {
                test.mask = __builtin_bswap64(test.mask);
                test.value = __builtin_bswap64(test.value);
            }
        }
    }
    for (std::vector<BitsTest>* tests : {&m_listTests, &m_listZeroStartTests}) tests->push_back({0, 0, 0});
    m_tests = m_listTests.data();
    m_testsEnd = m_tests + m_listTests.size() - 1;
    m_zeroStartTests = m_listZeroStartTests.data();
    m_zeroStartTestsEnd = m_zeroStartTests + m_listZeroStartTests.size() - 1;
}

namespace {

int Ask(IRawFileAnalyser* analyser, unsigned char* sector, CRawFileInfo& info, long long sectorSize,
        long long sectorNumber, long long bufferStartSector, long long blockEndSector) {
    info.Reset();
    if (ISpecialRawFileAnalyser* special = analyser->GetSpecialRawFile()) {
        return special->AnalyseBufferEx(sector, info, sectorSize, sectorNumber, bufferStartSector, blockEndSector) != 0
                   ? 1
                   : 0;
    }
    return analyser->AnalyseBuffer(sector, info) == 1 ? 1 : 0;
}

}  // namespace

IRawFileAnalyser* RawAnalyserLookup::Find(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                          long long sectorNumber, long long bufferStartSector,
                                          long long blockEndSector, bool sectorAllZero) const {
    const u32 key4 = RawMapKey(sector);
    if (key4 != 0 && m_prefixes->test(key4 & 0xFFFF)) {
        auto it = m_map.find(key4);
        if (it != m_map.end() &&
            Ask(it->second, sector, info, sectorSize, sectorNumber, bufferStartSector, blockEndSector) != 0) {
            return it->second;
        }
        auto range = m_multimap.equal_range(static_cast<u16>(key4 & 0xFFFF));
        for (auto m = range.first; m != range.second; ++m) {
            if (Ask(m->second, sector, info, sectorSize, sectorNumber, bufferStartSector, blockEndSector) != 0) {
                return m->second;
            }
        }
    }
    if (sectorAllZero) return nullptr;
    for (const ListEntry& entry : m_listEntries) {
        if (entry.testCount != 0) {
            if (!AnyOf(m_entryTests.data() + entry.firstTest, entry.testCount, sector)) continue;
        }
        info.Reset();
        if (entry.analyser->AnalyseBuffer(sector, info) != 0) return entry.analyser;
    }
    return nullptr;
}
