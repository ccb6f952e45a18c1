#include "engine/RAWSearch/Core/RawAnalyserLookup.h"

#include <algorithm>

#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

RawAnalyserLookup::RawAnalyserLookup(RawAnalyserMap& map, RawAnalyserMultimap& multimap, RawAnalyserList& list)
    : m_map(map), m_multimap(multimap), m_list(list), m_prefixes(std::make_unique<std::bitset<65536>>()) {
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
    for (const BitsTest& test : unique) {
        if (everySector) break;
        // A sector whose first four bytes are zero passes the test only if every tested bit of those
        // bytes is to be zero.
        u64 zeroStartBits = 0;
        if (test.offset < 4) zeroStartBits = (u64{0xFFFFFFFF} >> (8 * test.offset)) & test.mask;
        if ((test.value & zeroStartBits) == 0) m_listZeroStartTests.push_back(test);
        // A test at offset 0 that fixes most bits of the first two bytes: those bytes key the prefix
        // table instead (a sector that passes it and does not start with a zero word is looked up).
        const u16 mask2 = static_cast<u16>(test.mask);
        if (test.offset == 0 && std::popcount(mask2) >= 12) {
            // Every key with the fixed bits: the free bits run through their subsets.
            const u16 value2 = static_cast<u16>(test.value);
            const u16 free = static_cast<u16>(~mask2);
            u16 bits = 0;
            do {
                m_prefixes->set(value2 | bits);
                bits = static_cast<u16>((bits - free) & free);
            } while (bits != 0);
            continue;
        }
        m_listTests.push_back(test);
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
