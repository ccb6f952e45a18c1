// The look-back ring, the byte utilities and the text conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "RawTestSupport.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Util/BufferStorageDevice.h"
#include "engine/RAWSearch/Util/RawUtility.h"
#include "engine/RAWSearch/Util/TextConversion.h"

using BruteForce::RawUtility;
using rawtest::MemoryDevice;

namespace {

// Block b holds bytes b+1 in each of its 4 sectors (512 bytes each); the device holds 0xEE.
std::vector<char> Block(int b) { return std::vector<char>(4 * 512, static_cast<char>(b + 1)); }

// Resident bytes of this process (the second field of /proc/self/statm, in pages).
u64 ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    u64 size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4096;
}

}  // namespace

TEST(BufferStorageDevice, ADeepScanRingIsNotFilledBeforeItsBlocksArrive) {
    // A deep scan's ring: 20 blocks of 8192 sectors (about 92 MiB with its slots). Setting it up touches
    // the lead block and the spare bytes only, so a small scan does not pay for memory it never uses.
    MemoryDevice device(std::vector<unsigned char>(512 * 64, 0x11));
    CBufferStorageDevice ring;
    const u64 before = ResidentBytes();
    ASSERT_TRUE(ring.InitBufferDevice(&device, 0, 512, 8192, 20));
    const u64 after = ResidentBytes();
    EXPECT_LT(after - std::min(after, before), u64{24} << 20) << "resident growth " << (after - before);
    // Still a working ring: a block in, read back; its neighbours are zeros.
    unsigned char* incoming = ring.IncomingBlock();
    for (size_t i = 0; i < CBufferStorageDevice::kSpareBytes; ++i) ASSERT_EQ(incoming[8192 * 512 + i], 0) << i;
    for (size_t i = 1; i <= 8192 * 512; ++i) ASSERT_EQ(incoming[-static_cast<std::ptrdiff_t>(i)], 0) << i;
    memset(incoming, 0x5A, 8192 * 512);
    ring.AddIncomingBlock();
    unsigned char sector[512];
    ASSERT_EQ(ring.ReadSector(sector, 8191, 1), 1);
    EXPECT_EQ(sector[511], 0x5A);
}

TEST(BufferStorageDevice, RingReadsAndFallsBackToTheDevice) {
    MemoryDevice device(std::vector<unsigned char>(512 * 200, 0xEE));
    CBufferStorageDevice ring;
    EXPECT_EQ(ring.ReadSector(nullptr, 0, 1), 0) << "not initialised";
    ASSERT_TRUE(ring.InitBufferDevice(&device, 0, 512, 4, 3));
    EXPECT_EQ(ring.GetType(), 3u);
    for (int b = 0; b < 4; ++b) ring.AddBlockToBuffer(Block(b).data());
    EXPECT_TRUE(ring.IsFullBuffer());
    EXPECT_EQ(ring.GetDeviceStartSector(), 4u) << "after capacity + 1 blocks, one block past the first";
    EXPECT_EQ(ring.GetTotalSectors(), 12);
    struct Case {
        i64 sector, count;
        std::vector<int> expected;  // fill byte per sector
    } cases[] = {
        {4, 1, {2}},
        {6, 4, {2, 2, 3, 3}},
        {11, 4, {3, 4, 4, 4}},                  // into the newest block, across the wrap point
        {8, 8, {3, 3, 3, 3, 4, 4, 4, 4}},
        {3, 2, {0xEE, 0xEE}},                   // partly before the ring: all from the device
        {15, 2, {0xEE, 0xEE}},                  // partly after
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> out(static_cast<size_t>(c.count) * 512, 0);
        ASSERT_EQ(ring.ReadSector(out.data(), c.sector, c.count), 1) << c.sector;
        for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(out[i * 512 + 7], c.expected[i]) << c.sector;
    }
    CBufferStorageDevice alone;
    alone.InitBufferDevice(nullptr, 0, 512, 4, 3);
    unsigned char sector[512];
    EXPECT_EQ(alone.ReadSector(sector, 100, 1), 0) << "outside the ring without a device";
}

TEST(BufferStorageDevice, IncomingBlockSitsBetweenTheLastBlockAndZeros) {
    // Blocks smaller and larger than the spare bytes; enough blocks to wrap the slots several times.
    for (const unsigned sectorsPerBlock : {4u, 16u}) {
        const size_t blockBytes = size_t{sectorsPerBlock} * 512;
        MemoryDevice device(std::vector<unsigned char>(512 * 1000, 0xEE));
        CBufferStorageDevice ring;
        EXPECT_EQ(ring.IncomingBlock(), nullptr) << "not initialised";
        ASSERT_TRUE(ring.InitBufferDevice(&device, 0, 512, sectorsPerBlock, 3));
        for (int b = 0; b < 30; ++b) {
            unsigned char* incoming = ring.IncomingBlock();
            ASSERT_NE(incoming, nullptr);
            const unsigned char before = b == 0 ? 0 : static_cast<unsigned char>(b);  // block b-1 holds b
            for (size_t i = 0; i < blockBytes; ++i) ASSERT_EQ(incoming[i - blockBytes], before) << sectorsPerBlock << " " << b;
            for (size_t i = 0; i < CBufferStorageDevice::kSpareBytes; ++i)
                ASSERT_EQ(incoming[blockBytes + i], 0) << sectorsPerBlock << " " << b << " spare byte " << i;
            // The whole slot written, as a search reading a block into it does; every other block
            // arrives through the copying entry.
            if (b % 2 == 0) {
                memset(incoming, b + 1, blockBytes);
                ring.AddIncomingBlock();
            } else {
                ring.AddBlockToBuffer(std::vector<char>(blockBytes, static_cast<char>(b + 1)).data());
            }
            // The ring holds the last three blocks, whichever slots they sit in.
            const i64 held = std::min(b + 1, 3) * static_cast<i64>(sectorsPerBlock);
            ASSERT_EQ(ring.GetTotalSectors(), held);
            const i64 first = static_cast<i64>(ring.GetDeviceStartSector());
            EXPECT_EQ(first, std::max(0, b - 2) * static_cast<i64>(sectorsPerBlock));
            std::vector<unsigned char> out(static_cast<size_t>(held) * 512);
            ASSERT_EQ(ring.ReadSector(out.data(), first, held), 1);
            for (i64 s = 0; s < held; ++s) {
                const int block = static_cast<int>((first + s) / sectorsPerBlock);
                ASSERT_EQ(out[static_cast<size_t>(s) * 512 + 100], block + 1) << sectorsPerBlock << " " << b << " " << s;
            }
        }
    }
}

TEST(RawUtility, ByteRoutines) {
    const unsigned char le[] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(RawUtility::EXIF_Get32s(le, true), 0x12345678);
    EXPECT_EQ(RawUtility::EXIF_Get32s(le, false), 0x78563412);
    EXPECT_EQ(RawUtility::EXIF_Get16s(le, true), 0x5678);
    EXPECT_EQ(RawUtility::EXIF_Get16s(le, false), 0x7856);

    const unsigned char magic[] = {0xFF, 0xD9};
    unsigned char buffer[16] = {0xFF, 0xD9, 1, 2, 0xFF, 0xD9, 0, 0};
    EXPECT_EQ(RawUtility::FindMagicInBuffer(buffer, 16, 16, magic, 2), 2) << "skip = length finds position 0";
    EXPECT_EQ(RawUtility::FindMagicInBuffer(buffer, 16, 8, magic, 2), 6) << "the last match before the skip";
    EXPECT_EQ(RawUtility::FindMagicInBuffer(buffer, 16, 17, magic, 2), 0);

    // The data length before the zero tail, exactly, for every length of data and with a zero byte
    // inside the data (the bisection must not stop there).
    for (int nonZero = 0; nonZero <= 512; ++nonZero) {
        unsigned char b[512] = {};
        memset(b, 'x', static_cast<size_t>(nonZero));
        if (nonZero > 3) b[nonZero / 2] = 0;
        EXPECT_EQ(RawUtility::Binary_Compare(b, 512), nonZero) << nonZero;
    }
    EXPECT_EQ(RawUtility::GetFileExtWithType(73), "docx");
    EXPECT_EQ(RawUtility::GetFileExtWithType(35), "");
}

TEST(RAWSearchController, ReverseZeroCount) {
    unsigned char sector[512] = {};
    sector[500] = 1;
    int count = 0;
    CRAWSearchController::CalcReverseBufferZeroCnt(sector, 512, count);
    EXPECT_EQ(count, 8);
}

TEST(TextConversion, UTF8AndWideText) {
    wchar_t wide[16];
    unsigned char back[32];
    EXPECT_EQ(UTF8ToUNICODE(reinterpret_cast<const unsigned char*>("abc"), 3, wide, 16), 3);
    EXPECT_EQ(UNICODEToUTF8(wide, 3, back, 32), 3);
    EXPECT_EQ(memcmp(back, "abc", 3), 0);

    const unsigned char smile[] = {0xF0, 0x9F, 0x98, 0x80};
    ASSERT_EQ(UTF8ToUNICODE(smile, 4, wide, 16), 2);
    EXPECT_EQ(static_cast<unsigned>(wide[0]), 0xD83Du);
    EXPECT_EQ(static_cast<unsigned>(wide[1]), 0xDE00u);
    ASSERT_EQ(UNICODEToUTF8(wide, 2, back, 32), 4);
    EXPECT_EQ(memcmp(back, smile, 4), 0);

    const unsigned char truncated[] = {'a', 0xE2, 0x82};
    EXPECT_EQ(UTF8ToUNICODE(truncated, 3, wide, 16), 1) << "a truncated sequence ends the text";
    const unsigned char malformed[] = {'a', 0xE2, 0x41, 0x41};
    EXPECT_EQ(UTF8ToUNICODE(malformed, 4, wide, 16), 0);
    const wchar_t high[] = {static_cast<wchar_t>(0x80000000u), L'z'};
    EXPECT_EQ(UNICODEToUTF8(high, 2, back, 32), 1);
    EXPECT_EQ(back[0], 'z');

    char one[8];
    EXPECT_EQ(XCharToUTF8(0x20AC, one), 3);
    int c = 0;
    EXPECT_EQ(UTF8ToXChar(reinterpret_cast<unsigned char*>(one), c), 3);
    EXPECT_EQ(c, 0x20AC);
    EXPECT_EQ(UTF8ToXChar(smile, c), 4);
    EXPECT_EQ(c, 0x1F600 - 0x10000);
    EXPECT_EQ(utf8_value(malformed + 1), 0);

    EXPECT_LT(utf8_strcmp("ab", "abc", 5), 0);
    EXPECT_EQ(utf8_strcmp("abc", "abd", 2), 0);
    EXPECT_EQ(utf8_strcmp("abc", "abc", 3), 0);
    unsigned characters = 0, bytes = 0;
    utf8_strlen("a\xC3\xA9\xE2\x82\xAC", characters, bytes, 100);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(characters, 2u) << "bytes 0x80-0xDF are not counted";
}
