// FAT tables: header masks, value mappings, body and chain checks, copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>

#include "engine/FATLib/FATTable.h"
#include "support/MemoryDevice.h"

namespace {

// A device holding two copies of a table of `sectors` sectors at sector 1, built from 32-bit or 16-bit entries.
std::vector<u8> Tables(const std::vector<u32>& first, const std::vector<u32>& second, u32 width, u32 sectors) {
    std::vector<u8> bytes(u64{512} * (1 + 2 * sectors), 0);
    auto put = [&](const std::vector<u32>& entries, u64 base) {
        for (size_t i = 0; i < entries.size(); ++i) {
            for (u32 k = 0; k < width; ++k) bytes[base + i * width + k] = static_cast<u8>(entries[i] >> (8 * k));
        }
    };
    put(first, 512);
    put(second, 512 + u64{512} * sectors);
    return bytes;
}

}  // namespace

TEST(FatTable, HeaderMasks) {
    struct Case {
        u32 type;
        u32 word0;
        u32 word1;
        bool valid;
    } cases[] = {
        {FILE_SYSTEM_FAT16, 0x7FFFFFF8, 0, true},  // entry 1 with the clean-shutdown bit cleared
        {FILE_SYSTEM_FAT16, 0xFFFFFFF8, 0, true},           {FILE_SYSTEM_FAT16, 0xFFF0FFF8, 0, false},
        {FILE_SYSTEM_FAT32, 0x0FFFFFF8, 0x0BFFFFFF, false},  // bit 0x04000000 is required
        {FILE_SYSTEM_FAT32, 0x0FFFFFF8, 0x07FFFFFF, true},  {FILE_SYSTEM_FAT32, 0x0FFFFF08, 0x0FFFFFFF, false},
        {FILE_SYSTEM_FAT12, 0x00FFFFF0, 0, true},           {FILE_SYSTEM_FAT12, 0x00FF0FF0, 0, false},
    };
    for (const auto& c : cases) {
        u8 sector[512] = {};
        for (int k = 0; k < 4; ++k) {
            sector[k] = static_cast<u8>(c.word0 >> (8 * k));
            sector[4 + k] = static_cast<u8>(c.word1 >> (8 * k));
        }
        EXPECT_EQ(CFATTableAnalyser::CheckFATHeader(sector, c.type), c.valid) << c.type << " " << std::hex << c.word0;
    }
    u8 fat32[512] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    u32 type = 99;
    EXPECT_TRUE(CFATTableAnalyser::IsValidFATTableFirstSector(fat32, 512, type));
    EXPECT_EQ(type, FILE_SYSTEM_FAT32);
    EXPECT_TRUE(CFATTableAnalyser::IsUsedCluster(2));
    EXPECT_TRUE(CFATTableAnalyser::IsUsedCluster(0x0FFFFFEF));
    EXPECT_FALSE(CFATTableAnalyser::IsUsedCluster(0x0FFFFFF0));
    EXPECT_FALSE(CFATTableAnalyser::IsUsedCluster(1));
}

TEST(FatTable, BodyAndChainChecks) {
    const u32 end = 0xFFFF;
    struct Case {
        const char* what;
        std::vector<u32> entries;
        bool body;
        bool index;
    } cases[] = {
        {"self pointer", {0xFFF8, 0xFFFF, end, 3, end, 0, 0, 0}, false, false},
        {"bad cluster mark", {0xFFF8, 0xFFFF, 0xFFF7, end, 0, 0, 0, 0}, true, true},
        {"points past the table", {0xFFF8, 0xFFFF, 8, end, 0, 0, 0, 0}, false, true},
        {"points at 1", {0xFFF8, 0xFFFF, 1, 0, 0, 0, 0, 0}, false, true},
        {"loop 3 -> 4 -> 3", {0xFFF8, 0xFFFF, 0, 4, 3, 0, 0, 0}, true, false},
        {"merge 3 -> 5, 4 -> 5", {0xFFF8, 0xFFFF, 0, 5, 5, end, 0, 0}, true, false},
        {"7 -> 3 -> 4 -> end", {0xFFF8, 0xFFFF, 0, 4, end, 0, 0, 3}, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fat::CheckFATBody(c.entries, false), c.body) << c.what;
        EXPECT_EQ(fat::CheckFATIndex(c.entries, false), c.index) << c.what;
    }
}

TEST(FatTable, ValueMappingsOfEachWidth) {
    // FAT16: 12 sectors (the least length for 512-byte sectors).
    std::vector<u32> e16(3072, 0);
    e16[0] = 0xFFF8;
    e16[1] = 0xFFFF;
    e16[2] = 0xFFF7;
    e16[3] = 0xFFFF;
    e16[4] = 5;
    e16[5] = 0xFFF8;
    testsupport::MemoryDevice d16(Tables(e16, e16, 2, 12), 512);
    std::unique_ptr<IRealFATTable> t16(IFATTableFactory::CreateRealFATTable(&d16, FILE_SYSTEM_FAT16, 1, 12));
    ASSERT_NE(t16, nullptr);
    EXPECT_EQ(t16->GetNextCluster(2), 0x0FFFFFF7u);
    EXPECT_EQ(t16->GetNextCluster(3), 0x0FFFFFF8u);
    EXPECT_EQ(t16->GetNextCluster(4), 5u);
    EXPECT_EQ(t16->GetNextCluster(3072), 0u);
    // Too short for FAT16: no buffer, refused.
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(&d16, FILE_SYSTEM_FAT16, 1, 11), nullptr);

    // FAT12: cluster 3 takes the high 12 bits of the word at byte 4.
    std::vector<u8> b12(512 * 2, 0);
    b12[512 + 0] = 0xF0;
    b12[512 + 1] = 0xFF;
    b12[512 + 2] = 0xFF;
    b12[512 + 4] = 0x30;  // word at byte 4 = 0xAB30: cluster 3 = 0xAB3
    b12[512 + 5] = 0xAB;
    b12[512 + 3] = 0xFF;  // cluster 2 = 0x?FF of the word at byte 3
    testsupport::MemoryDevice d12(b12, 512);
    std::unique_ptr<IRealFATTable> t12(IFATTableFactory::CreateRealFATTable(&d12, FILE_SYSTEM_FAT12, 1, 1));
    ASSERT_NE(t12, nullptr);
    EXPECT_EQ(t12->GetNextCluster(3), 0xAB3u);
    EXPECT_EQ(t12->GetNextCluster(1), 0xFFFFFFFFu);
    EXPECT_EQ(t12->GetNextCluster(341), 0u);  // the word would reach past the table
    EXPECT_EQ(t12->GetNextCluster(0xFFFFFFFF), 0u);

    // FAT32: entries as stored, 256 sectors.
    std::vector<u32> e32(256 * 128, 0);
    e32[0] = 0x0FFFFFF8;
    e32[1] = 0x0FFFFFFF;
    e32[2] = 0x0FFFFFFF;
    e32[3] = 0x10000FFF;  // upper bits stay
    testsupport::MemoryDevice d32(Tables(e32, e32, 4, 256), 512);
    std::unique_ptr<IRealFATTable> t32(IFATTableFactory::CreateRealFATTable(&d32, FILE_SYSTEM_FAT32, 1, 256));
    ASSERT_NE(t32, nullptr);
    EXPECT_EQ(t32->GetNextCluster(3), 0x10000FFFu);
    EXPECT_EQ(t32->GetNextCluster(256 * 128), 0u);
    EXPECT_EQ(IFATTableFactory::CreateRealFATTable(&d32, 7, 1, 256), nullptr);
}

TEST(FatTable, SecondCopyServesWhenTheFirstFails) {
    std::vector<u32> good(3072, 0), bad(3072, 0);
    good[0] = bad[0] = 0xFFF8;
    good[1] = bad[1] = 0xFFFF;
    good[2] = 0xFFFF;
    bad[2] = 3;
    bad[3] = 2;  // a loop: the first copy fails its checks although its header is sound
    testsupport::MemoryDevice device(Tables(bad, good, 2, 12), 512);
    std::unique_ptr<CDoubleFATTable> both(
        IFATTableFactory::CreateFATTable(&device, 1, FILE_SYSTEM_FAT16, 12, true, true));
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->First(), nullptr);
    ASSERT_NE(both->Second(), nullptr);
    EXPECT_EQ(both->GetNextCluster(2), 0x0FFFFFF8u);

    testsupport::MemoryDevice broken(Tables(bad, bad, 2, 12), 512);
    std::unique_ptr<CDoubleFATTable> none(
        IFATTableFactory::CreateFATTable(&broken, 1, FILE_SYSTEM_FAT16, 12, true, true));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->GetNextCluster(2), 0u);  // no copy: every chain ends at once

    // Only the first wanted: the second copy is never built.
    std::unique_ptr<CDoubleFATTable> firstOnly(
        IFATTableFactory::CreateFATTable(&device, 1, FILE_SYSTEM_FAT16, 12, true, false));
    EXPECT_EQ(firstOnly->Second(), nullptr);
}

namespace {

// The chain check as it was first written (walks again from every cluster not yet reached): the
// reference the linear check must agree with.
bool ReferenceCheckFATIndex(const std::vector<u32>& entries, bool fat32) {
    const u64 n = entries.size();
    if (n < 3) return true;
    const u32 last = fat32 ? 0x0FFFFFF6 : 0xFFF6;
    std::vector<u32> predecessor(n, 0);
    for (u64 c = 2; c < n; ++c) {
        if (predecessor[c] != 0) continue;
        u64 cur = c;
        u64 steps = 0;
        while (steps < n) {
            const u32 e = entries[cur];
            if (e < 2 || e > last || e >= n) break;
            if (predecessor[e] == 0) {
                predecessor[e] = static_cast<u32>(cur);
            } else if (predecessor[e] != cur) {
                return false;
            }
            ++steps;
            cur = e;
        }
        if (steps >= n - 2) return false;
    }
    return true;
}

// A table of n entries holding a chain from the last cluster down to cluster 2.
std::vector<u32> DownwardChain(u32 n, bool fat32) {
    std::vector<u32> e(n, 0);
    e[0] = fat32 ? 0x0FFFFFF8 : 0xFFF8;
    e[1] = fat32 ? 0x0FFFFFFF : 0xFFFF;
    e[2] = fat32 ? 0x0FFFFFFF : 0xFFFF;
    for (u32 i = 3; i < n; ++i) e[i] = i - 1;
    return e;
}

}  // namespace

// Random small tables full of chains, merges, loops, self pointers and marks: the same verdict as the
// reference on every one.
TEST(FatTable, ChainCheckAgreesWithTheReferenceOnRandomTables) {
    std::mt19937 rng(12);
    int valid = 0, invalid = 0;
    for (int round = 0; round < 20000; ++round) {
        const bool fat32 = round % 2 == 0;
        const u32 n = 3 + rng() % 40;
        std::vector<u32> e(n, 0);
        const u32 end = fat32 ? 0x0FFFFFFF : 0xFFFF;
        // Mostly separate upward or downward chains, with a few random links that merge or loop.
        std::vector<u32> order;
        for (u32 c = 2; c < n; ++c) order.push_back(c);
        std::shuffle(order.begin(), order.end(), rng);
        for (size_t i = 0; i < order.size();) {
            const size_t len = 1 + rng() % 6;
            for (size_t k = 0; k < len && i < order.size(); ++k, ++i) {
                const bool more = k + 1 < len && i + 1 < order.size();
                e[order[i]] = more ? order[i + 1] : (rng() % 4 == 0 ? 0 : end);
            }
        }
        const int twists = static_cast<int>(rng() % 3);
        for (int t = 0; t < twists; ++t) {
            const u32 c = 2 + rng() % (n - 2);
            const u32 kinds[] = {static_cast<u32>(2 + rng() % (n - 2)), c, 1, n + 3, fat32 ? 0x0FFFFFF7u : 0xFFF7u,
                                 fat32 ? 0x0FFFFFF6u : 0xFFF6u};
            e[c] = kinds[rng() % 6];
        }
        const bool want = ReferenceCheckFATIndex(e, fat32);
        ASSERT_EQ(fat::CheckFATIndex(e, fat32), want) << "round " << round;
        (want ? valid : invalid)++;
    }
    // Both verdicts are well represented.
    EXPECT_GT(valid, 2000);
    EXPECT_GT(invalid, 2000);
}

// A chain running down the whole table was walked again from each of its clusters (n²/2 steps: hours
// for a FAT32 table of millions of entries). A million entries now take milliseconds; the bound leaves
// room for a loaded machine and the sanitizers.
TEST(FatTable, ADownwardChainOverTheWholeTableIsCheckedInLinearTime) {
    for (const bool fat32 : {true, false}) {
        const u32 n = fat32 ? 1u << 20 : 0xFFF0;
        std::vector<u32> e = DownwardChain(n, fat32);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(fat::CheckFATBody(e, fat32));
        EXPECT_TRUE(fat::CheckFATIndex(e, fat32));
        // The same chain closed into a loop (2 -> last), and one with a second way into cluster 3.
        e[2] = n - 1;
        EXPECT_FALSE(fat::CheckFATIndex(e, fat32));
        e[2] = fat32 ? 0x0FFFFFFF : 0xFFFF;
        e[n / 2] = 3;
        EXPECT_FALSE(fat::CheckFATIndex(e, fat32));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << (fat32 ? "FAT32" : "FAT16");
    }
}
