// The backward marker search that every open JPEG guess runs on every sector: the same answers as a
// plain byte-by-byte search, and no read at or past the end of the buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/RAWSearch/Util/RawUtility.h"

using BruteForce::RawUtility;

namespace {

// The search spelled out byte by byte: from length - skip down to 0, the first non-zero byte that
// equals the magic's first byte and is followed by the rest of it inside the buffer.
int Reference(const std::vector<unsigned char>& buffer, int skip, const std::vector<unsigned char>& magic) {
    const int length = static_cast<int>(buffer.size());
    const int magicLength = static_cast<int>(magic.size());
    for (int i = length - skip; i >= 0; --i) {
        if (i >= length || buffer[i] == 0 || buffer[i] != magic[0]) continue;
        if (i + magicLength > length) continue;
        if (std::memcmp(buffer.data() + i + 1, magic.data() + 1, magic.size() - 1) == 0) return i + magicLength;
    }
    return 0;
}

}  // namespace

TEST(FindMagicInBuffer, AgreesWithTheByteByByteSearch) {
    std::mt19937 rng(7);
    const std::vector<std::vector<unsigned char>> magics = {{0xFF, 0xD9}, {0xFF}, {0x25, 0x25, 0x45, 0x4F, 0x46}, {0, 1}};
    for (int round = 0; round < 4000; ++round) {
        const int length = static_cast<int>(rng() % 70);
        // Mostly zeros with a few marker bytes, so matches, near misses and edges all occur.
        std::vector<unsigned char> buffer(static_cast<size_t>(length));
        for (auto& b : buffer) {
            const unsigned r = rng() % 8;
            b = r == 0 ? 0xFF : r == 1 ? 0xD9 : r == 2 ? 0x25 : r == 3 ? static_cast<unsigned char>(rng()) : 0;
        }
        const auto& magic = magics[round % magics.size()];
        const int skip = static_cast<int>(rng() % 80) - 3;
        ASSERT_EQ(RawUtility::FindMagicInBuffer(buffer.data(), length, skip, magic.data(), int(magic.size())),
                  Reference(buffer, skip, magic))
            << "round " << round << " length " << length << " skip " << skip;
    }
}

// With skip 0 the search starts at the end of the buffer: the byte just past it is never read (a
// heap buffer of the exact length shows it under AddressSanitizer), and a marker in the last bytes
// is still found.
TEST(FindMagicInBuffer, NeverReadsPastTheEnd) {
    const unsigned char magic[] = {0xFF, 0xD9};
    struct Case {
        std::vector<unsigned char> bytes;
        int skip;
        int expected;
    };
    const Case cases[] = {
        {{0, 0, 0, 0xFF, 0xD9}, 0, 5},
        {{0, 0, 0, 0, 0xFF}, 0, 0},
        {{0xFF, 0xD9, 0, 0}, 0, 2},
        {{0xFF}, 0, 0},
        {{}, 0, 0},
        {{0xFF, 0xD9, 0xFF, 0xD9}, 1, 4},
        {{0xFF, 0xD9, 0xFF, 0xD9}, 2, 4},
        {{0xFF, 0xD9, 0xFF, 0xD9}, 3, 2},
    };
    for (const Case& c : cases) {
        auto* heap = new unsigned char[c.bytes.size() + (c.bytes.empty() ? 1 : 0)];
        if (!c.bytes.empty()) std::memcpy(heap, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(RawUtility::FindMagicInBuffer(heap, int(c.bytes.size()), c.skip, magic, 2), c.expected)
            << c.bytes.size() << " bytes, skip " << c.skip;
        delete[] heap;
    }
}
