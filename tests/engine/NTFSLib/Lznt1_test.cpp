#include "engine/NTFSLib/Lznt1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/CompressedNtfsFixture.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

using Bytes = std::vector<u8>;

std::string Decompress(const Bytes& chunk, int capacity = 65536) {
    std::vector<u8> out(size_t(capacity) + 16, 0xEE);
    int n = lznt1::DecompressBlock(out.data(), capacity, chunk.data(), chunk.size());
    EXPECT_LE(n, capacity);
    for (size_t i = size_t(capacity); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "wrote past the capacity";
    return std::string(out.begin(), out.begin() + n);
}

// A compressed chunk: header 0xB000 | (size - 3) followed by the body.
Bytes Chunk(const Bytes& body) {
    const u16 header = u16(0xB000 | ((body.size() + 2 - 3) & 0x0FFF));
    Bytes c(body.size() + 2);
    c[0] = u8(header);
    c[1] = u8(header >> 8);
    std::copy(body.begin(), body.end(), c.begin() + 2);
    return c;
}

Bytes Literals(const std::string& text) {
    // Groups of 8 literals behind a zero flag byte.
    Bytes b;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i % 8 == 0) b.push_back(0);
        b.push_back(u8(text[i]));
    }
    return b;
}

TEST(Lznt1, HandCheckedChunks) {
    struct Case {
        const char* what;
        Bytes chunk;
        std::string expected;
    };
    // "abc" then a token at position 3: 4 displacement bits, displacement 3, length 9.
    Bytes abc = Chunk({0x08, 'a', 'b', 'c', 0x06, 0x20});
    // 16 literals, then a flag byte whose bit 0 marks a token at position 16 (4 displacement bits):
    // displacement 16 = (15 << 12), length 3.
    Bytes at16 = Literals("0123456789abcdef");
    at16.insert(at16.end(), {0x01, 0x00, 0xF0});
    // 17 literals, then a token at position 17 (5 displacement bits): displacement 17 = (16 << 11).
    // The third flag byte covers 'g' (bit 0) and the token (bit 1).
    Bytes at17 = Literals("0123456789abcdef");
    at17.insert(at17.end(), {0x02, 'g', 0x00, 0x80});
    // A token before any output refers outside the chunk: zeros.
    Bytes early = Chunk({0x01, 0x00, 0x00});
    const Case cases[] = {
        {"overlapping copy", abc, "abcabcabcabc"},
        {"position 16 uses 4 bits", Chunk(at16), "0123456789abcdef012"},
        {"position 17 uses 5 bits", Chunk(at17), "0123456789abcdefg012"},
        {"reference before the start", early, std::string(3, '\0')},
    };
    for (const Case& c : cases) EXPECT_EQ(Decompress(c.chunk), c.expected) << c.what;
}

TEST(Lznt1, StoredChunkOf4096Bytes) {
    Bytes chunk{0xFF, 0x3F};  // bit 15 clear, low bits 0x0FFF
    for (int i = 0; i < 4096; ++i) chunk.push_back(u8(i * 7));
    std::string out = Decompress(chunk);
    ASSERT_EQ(out.size(), 4096u);
    EXPECT_EQ(u8(out[4095]), u8(4095 * 7));
}

TEST(Lznt1, BoundedByInputAndCapacity) {
    // A stored chunk that claims 4096 bytes but has 10: only those are copied.
    Bytes stored{0xFF, 0x3F, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(Decompress(stored).size(), 10u);
    // A compressed chunk that claims 4098 bytes, cut after a flag byte and half a token.
    Bytes cut{0xFF, 0xBF, 0x01, 0x05};
    EXPECT_EQ(Decompress(cut).size(), 0u);
    // Output stops at the capacity, also inside a back-reference.
    Bytes abc = Chunk({0x08, 'a', 'b', 'c', 0x06, 0x20});
    EXPECT_EQ(Decompress(abc, 5), "abcab");
    EXPECT_EQ(Decompress(abc, 0), "");
    EXPECT_EQ(lznt1::DecompressBlock(nullptr, 10, abc.data(), abc.size()), 0);
}

TEST(Lznt1, UnitStopsAtZeroHeaderAndInputEnd) {
    Bytes unit = Chunk({0x08, 'a', 'b', 'c', 0x06, 0x20});
    Bytes second{0x02, 0x00, 'x', 'y', 'z'};  // stored chunk of 3 bytes
    unit.insert(unit.end(), second.begin(), second.end());
    Bytes withEnd = unit;
    withEnd.insert(withEnd.end(), {0x00, 0x00, 0x02, 0x00, 'n', 'o', '!'});
    std::vector<u8> out(100);
    EXPECT_EQ(lznt1::DecompressUnit(withEnd.data(), withEnd.size(), out.data(), out.size()), 15u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 15), "abcabcabcabcxyz");
    // The capacity cuts the second chunk.
    EXPECT_EQ(lznt1::DecompressUnit(unit.data(), unit.size(), out.data(), 13), 13u);
}

// Random and mutated input never reads or writes outside its buffers (checked under ASan) and never
// produces more than the capacity.
TEST(Lznt1, HostileInputStaysInBounds) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        const size_t length = rng() % 600;
        Bytes in(length);
        for (u8& b : in) b = u8(rng());
        if (length >= 2 && round % 2) in[1] |= 0x80;  // mostly compressed chunks
        const size_t capacity = rng() % 9000;
        std::vector<u8> out(capacity);
        size_t got = lznt1::DecompressUnit(in.data(), in.size(), out.data(), capacity);
        ASSERT_LE(got, capacity);
        int one = lznt1::DecompressBlock(out.data(), int(capacity), in.data(), in.size());
        ASSERT_LE(size_t(std::max(one, 0)), capacity);
    }
}

// The first compression unit of a file that ntfs-3g compressed: 6 clusters that decompress to the
// 65,536 bytes of word text the generator wrote (words separated by spaces and newlines).
TEST(Lznt1, RealUnitFromNtfs3g) {
    testsupport::TempDir dir;
    testsupport::CompressedNtfsFixture fx = testsupport::LoadCompressedNtfsFixture(dir.path());
    const testsupport::FixtureFile& f = fx.File("f");
    ASSERT_GE(f.runs.size(), 2u);
    ASSERT_EQ(f.runs[0].length, 6);
    ASSERT_EQ(f.runs[1].lcn, -1);
    FILE* img = std::fopen(fx.image.c_str(), "rb");
    ASSERT_NE(img, nullptr);
    Bytes unit(size_t(f.runs[0].length) * fx.clusterSize);
    ASSERT_EQ(std::fseek(img, long(f.runs[0].lcn * fx.clusterSize), SEEK_SET), 0);
    ASSERT_EQ(std::fread(unit.data(), 1, unit.size(), img), unit.size());
    std::fclose(img);
    std::vector<u8> out(65536);
    ASSERT_EQ(lznt1::DecompressUnit(unit.data(), unit.size(), out.data(), out.size()), 65536u);
    std::string text(out.begin(), out.end());
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_NE(text.find("omicron"), std::string::npos);
}

}  // namespace
