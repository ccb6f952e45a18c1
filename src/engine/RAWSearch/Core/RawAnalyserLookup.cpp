#include "engine/RAWSearch/Core/RawAnalyserLookup.h"

#include <algorithm>
#include <bit>
#include <tuple>

#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

namespace {

// The word a list test needs, as a test of the four bytes from its first tested byte (from byte 508 when
// that is later, so the word stays within the first 512 bytes): what it fixes there a sector passing the
// test holds. Mask and value little-endian.
struct WordTest {
    u32 offset;
    u32 mask;
    u32 value;
};

WordTest WordOf(u32 offset, u64 mask, u64 value) {
    const u32 first = offset + static_cast<u32>(std::countr_zero(mask) / 8);
    WordTest word{std::min<u32>(first, 512 - 4), 0, 0};
    for (u32 b = 0; b < 4; ++b) {
        const u32 at = word.offset + b - offset;  // the byte's place in the test's eight
        if (at >= 8) continue;
        word.mask |= static_cast<u32>((mask >> (8 * at)) & 0xFF) << (8 * b);
        word.value |= static_cast<u32>((value >> (8 * at)) & 0xFF) << (8 * b);
    }
    return word;
}

}  // namespace

RawAnalyserLookup::RawAnalyserLookup(RawAnalyserMap& map, RawAnalyserMultimap& multimap, RawAnalyserList& list)
    : m_map(map), m_multimap(multimap), m_list(list) {
    for (const auto& entry : m_map) m_keyFlags[entry.first & 0xFFFF] |= kPrefixKey;
    for (const auto& entry : m_multimap) m_keyFlags[entry.first] |= kPrefixKey;
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
    std::vector<WordTest> words;
    std::vector<WordTest> zeroStartWords;
    if (everySector) {
        words.push_back({0, 0, 0});
        zeroStartWords.push_back({0, 0, 0});
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
    // Every key with the fixed bits (the free bits run through their subsets) gets the flag.
    const auto setKeys = [this](u8 flag, u16 mask, u16 value) {
        const u16 free = static_cast<u16>(~mask);
        u16 bits = 0;
        do {
            m_keyFlags[static_cast<u16>(value & mask) | bits] |= flag;
            bits = static_cast<u16>((bits - free) & free);
        } while (bits != 0);
    };
    // A test that fixes at least a byte's worth of bits in bytes 0-1, 2-3 or 4-5 is made through a table
    // of those two bytes instead of one by one (a sector a table lets through is looked up, and the
    // lookup makes the list's tests exactly): the list is asked about nearly every sector.
    constexpr int kFoldBits = 8;
    for (const BitsTest& test : unique) {
        if (everySector) break;
        const WordTest word = WordOf(test.offset, test.mask, test.value);
        // A sector whose first four bytes are zero passes the test only if every tested bit of those
        // bytes is to be zero.
        u64 zeroStartBits = 0;
        if (test.offset < 4) zeroStartBits = (u64{0xFFFFFFFF} >> (8 * test.offset)) & test.mask;
        if ((test.value & zeroStartBits) == 0) {
            // Bytes 0-3 of such a sector are zero: only bytes 4-5 can key it.
            u16 mask = 0, value = 0;
            chunk(test, 4, mask, value);
            if (std::popcount(mask) >= kFoldBits)
                setKeys(kZeroStartKey45, mask, value);
            else
                zeroStartWords.push_back(word);
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
            words.push_back(word);
            continue;
        }
        // Bytes 0-1 key the prefix table: a sector that passes it and does not start with a zero word is
        // looked up.
        setKeys(best == 0 ? kPrefixKey : best == 2 ? kListKey23 : kListKey45, bestMask, bestValue);
    }
    // The exact tests in the host's order, as a load of the sector's bytes gives them.
    if constexpr (std::endian::native == std::endian::big) {
        for (BitsTest& test : m_entryTests) {
            test.mask = __builtin_bswap64(test.mask);
            test.value = __builtin_bswap64(test.value);
        }
    }
    // The words without repeats in groups of four, the last filled with tests that never hold; one group
    // at least.
    const auto group = [](std::vector<WordTest> tests, std::vector<WordGroup>& groups) {
        const auto before = [](const WordTest& a, const WordTest& b) {
            return std::tie(a.offset, a.mask, a.value) < std::tie(b.offset, b.mask, b.value);
        };
        const auto same = [](const WordTest& a, const WordTest& b) {
            return a.offset == b.offset && a.mask == b.mask && a.value == b.value;
        };
        std::sort(tests.begin(), tests.end(), before);
        tests.erase(std::unique(tests.begin(), tests.end(), same), tests.end());
        for (size_t k = 0; k == 0 || k < tests.size(); k += kGroupWords) {
            WordGroup g{};
            for (int w = 0; w < kGroupWords; ++w) {
                WordTest t = k + w < tests.size() ? tests[k + w] : WordTest{0, 0, 1};
                if constexpr (std::endian::native == std::endian::big) {
                    t.mask = __builtin_bswap32(t.mask);
                    t.value = __builtin_bswap32(t.value);
                }
                g.offset[w] = t.offset;
                g.mask[w] = t.mask;
                g.value[w] = t.value;
            }
            groups.push_back(g);
        }
    };
    for (auto [tests, first, hasMore, more] :
         {std::tuple(&words, &m_words, &m_hasMoreWords, &m_moreWords),
          std::tuple(&zeroStartWords, &m_zeroStartWords, &m_hasMoreZeroStartWords, &m_moreZeroStartWords)}) {
        group(*tests, *more);
        *first = more->front();
        more->erase(more->begin());
        *hasMore = !more->empty();
    }
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
    if (key4 != 0 && (m_keyFlags[key4 & 0xFFFF] & kPrefixKey) != 0) {
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
