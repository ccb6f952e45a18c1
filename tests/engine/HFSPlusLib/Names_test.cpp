// Catalog names to UTF-8, checked against the C library's own UTF-16 converter: the same bytes for
// every single unit, for surrogate pairs and broken ones, for names of random units and past 255 units.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/HFSPlusLib/HFSPlusNames.h"
#include "engine/RAWSearch/Util/IconvText.h"

namespace {

// What the C library's converter makes of the units (UTF-16LE in, UTF-8 out), up to its first error;
// at most 255 units. It ends the text at U+0000, where the name keeps a zero byte: compared up to there.
std::string ByIconv(const std::vector<u16>& units) {
    std::vector<unsigned char> in;
    for (size_t i = 0; i < units.size() && i < 255; ++i) in.insert(in.end(), {u8(units[i] & 0xFF), u8(units[i] >> 8)});
    return IconvToUtf8("UTF-16LE", in.data(), in.size(), 1024);
}

std::string Ours(const std::vector<u16>& units) {
    const std::string name = hfsplus::NameToUtf8(units.data(), units.size());
    return name.substr(0, name.find('\0'));
}

}  // namespace

TEST(HfsPlusNames, EverySingleUnitAsIconvConvertsIt) {
    for (u32 unit = 0; unit <= 0xFFFF; ++unit) {
        for (const std::vector<u16>& name :
             {std::vector<u16>{u16(unit)}, std::vector<u16>{u16('a'), u16(unit), u16('b')}}) {
            ASSERT_EQ(Ours(name), ByIconv(name)) << std::hex << unit;
        }
    }
}

TEST(HfsPlusNames, SurrogatePairsAndBrokenOnesAsIconvConvertsThem) {
    const std::vector<u16> highs{0xD800, 0xD801, 0xDB7F, 0xDBFF}, lows{0xDC00, 0xDC01, 0xDFFE, 0xDFFF};
    const std::vector<u16> others{0x0000, 0x0041, 0x00E9, 0xD7FF, 0xE000, 0xFEFF, 0xFFFD, 0xFFFF};
    for (u16 a : highs) {
        for (const auto* group : {&lows, &highs, &others}) {
            for (u16 b : *group) {
                for (const std::vector<u16>& name : {std::vector<u16>{a, b}, std::vector<u16>{u16('x'), a, b, u16('y')},
                                                     std::vector<u16>{b, a}, std::vector<u16>{u16('x'), a}}) {
                    ASSERT_EQ(Ours(name), ByIconv(name)) << std::hex << a << " " << b;
                }
            }
        }
    }
}

TEST(HfsPlusNames, RandomNamesAsIconvConvertsThem) {
    std::mt19937 random(17);
    // Units drawn from ASCII, the rest of the BMP and the surrogates, so that pairs and broken ones occur.
    std::uniform_int_distribution<int> kind(0, 9), ascii(0, 0x7F), bmp(0x80, 0xFFFF), high(0xD800, 0xDBFF),
        low(0xDC00, 0xDFFF), length(1, 300);
    for (int round = 0; round < 20000; ++round) {
        std::vector<u16> name(size_t(length(random)));
        for (u16& unit : name) {
            const int k = kind(random);
            unit = u16(k < 5 ? ascii(random) : k < 7 ? bmp(random) : k < 9 ? high(random) : low(random));
            if (k < 7 && unit >= 0xD800 && unit <= 0xDFFF) unit = 0x4E2D;
        }
        // Most names of random surrogates break early: some are kept whole pairs.
        if (round % 2 == 0) {
            for (size_t i = 0; i + 1 < name.size(); ++i) {
                if (name[i] >= 0xD800 && name[i] <= 0xDBFF)
                    name[i + 1] = u16(low(random));
                else if (name[i] >= 0xDC00 && name[i] <= 0xDFFF)
                    name[i] = 0x00E9;
            }
            if (name.back() >= 0xD800 && name.back() <= 0xDFFF) name.back() = 'z';
        }
        ASSERT_EQ(Ours(name), ByIconv(name)) << "round " << round;
    }
    EXPECT_TRUE(hfsplus::NameToUtf8(nullptr, 3).empty());
    const std::vector<u16> withZero{u16('a'), 0, u16('b')};
    EXPECT_EQ(hfsplus::NameToUtf8(withZero.data(), withZero.size()), std::string("a\0b", 3));
    EXPECT_EQ(hfsplus::NameToUtf8(std::vector<u16>(300, u16('a')).data(), 300), std::string(255, 'a'));
}

// ASCII runs of every length up to nine, then a unit of each width or a pair (or a broken one), then more
// ASCII: the copy of ASCII runs hands over to the unit-by-unit path at every offset.
TEST(HfsPlusNames, AsciiRunsMeetOtherUnitsAtEveryOffset) {
    const std::vector<std::vector<u16>> tails{{}, {0x00E9}, {0x4E2D}, {0xD83D, 0xDE00}, {0xD83D}, {0xDE00}, {0x0000}};
    for (size_t run = 0; run <= 9; ++run) {
        for (const auto& tail : tails) {
            for (size_t after = 0; after <= 5; ++after) {
                std::vector<u16> name;
                for (size_t i = 0; i < run; ++i) name.push_back(u16('a' + i));
                name.insert(name.end(), tail.begin(), tail.end());
                for (size_t i = 0; i < after; ++i) name.push_back(u16('0' + i));
                if (name.empty()) continue;
                ASSERT_EQ(Ours(name), ByIconv(name)) << run << " " << tail.size() << " " << after;
            }
        }
    }
    // Past 255 units the name ends, also inside a run of four.
    EXPECT_EQ(hfsplus::NameToUtf8(std::vector<u16>(257, u16('b')).data(), 257), std::string(255, 'b'));
}
