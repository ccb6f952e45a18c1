#include "engine/Common/ByteReader.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace {

const std::array<u8, 10> kBytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};

TEST(ByteReader, ReadsBothByteOrdersAtAnyOffset) {
    const ByteReader r(kBytes);
    EXPECT_EQ(r.U8(9), 0x0A);
    EXPECT_EQ(r.Le16(1), 0x0302);
    EXPECT_EQ(r.Be16(1), 0x0203);
    EXPECT_EQ(r.Le32(3), 0x07060504u);
    EXPECT_EQ(r.Be32(3), 0x04050607u);
    EXPECT_EQ(r.Le64(2), 0x0A09080706050403ull);
    EXPECT_EQ(r.Be64(2), 0x030405060708090Aull);
    EXPECT_EQ(r.U32(0, ByteOrder::Big), r.Be32(0));
    EXPECT_EQ(r.U16(8, ByteOrder::Little), r.Le16(8));
    EXPECT_EQ(r.LeN(0, 3), 0x030201u);
    EXPECT_EQ(r.BeN(0, 3), 0x010203u);
    // Eight big-endian values side by side, each as Be16 reads it.
    std::array<u8, 18> wide{};
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = u8(0x10 * i + 1);
    const ByteReader w(wide);
    for (size_t at : {size_t(0), size_t(1), size_t(2)}) {
        const auto eight = w.Be16x8(at);
        ASSERT_TRUE(eight.has_value()) << at;
        for (int lane = 0; lane < 8; ++lane) EXPECT_EQ((*eight)[lane], w.Be16(at + 2 * size_t(lane))) << at;
    }
}

TEST(ByteReader, ReadsThatDoNotFitAreAbsent) {
    const ByteReader r(kBytes);
    constexpr size_t kHuge = std::numeric_limits<size_t>::max();
    struct Case {
        const char* what;
        bool present;
    };
    const Case cases[] = {
        {"u8 at the end", r.U8(10).has_value()},
        {"le16 over the end", r.Le16(9).has_value()},
        {"le32 over the end", r.Le32(7).has_value()},
        {"le64 over the end", r.Le64(3).has_value()},
        {"be64 at a huge offset", r.Be64(kHuge).has_value()},
        {"be32 at huge - 1", r.Be32(kHuge - 1).has_value()},
        {"width 0", r.LeN(0, 0).has_value()},
        {"width 9", r.LeN(0, 9).has_value()},
        {"sub past the end", r.Sub(4, 7).has_value()},
        {"sub wrapping", r.Sub(4, kHuge).has_value()},
        {"bytes wrapping", r.Bytes(kHuge, 2).has_value()},
        {"eight be16 longer than the view", r.Be16x8(0).has_value()},
        {"eight be16 at a huge offset", r.Be16x8(kHuge - 8).has_value()},
    };
    for (const auto& c : cases) EXPECT_FALSE(c.present) << c.what;
    EXPECT_TRUE(r.Le16(8).has_value());
    EXPECT_FALSE(r.Has64(u64{1} << 40, 1));
    EXPECT_FALSE(r.Has64(4, ~u64{0}));
}

TEST(ByteReader, SubViewsAreBoundedByTheirOwnLength) {
    const ByteReader r(kBytes);
    const auto sub = r.Sub(2, 4);
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->Le32(0), 0x06050403u);
    EXPECT_FALSE(sub->U8(4));  // byte 6 of the whole view is outside the sub-view
    EXPECT_EQ(r.From(8).size(), 2u);
    EXPECT_TRUE(r.From(11).empty());
    EXPECT_TRUE(r.Equals(0, "\x01\x02", 2));
    EXPECT_FALSE(r.Equals(9, "\x0A\x0B", 2));
    u8 out[2] = {0xEE, 0xEE};
    EXPECT_FALSE(r.CopyTo(9, out, 2));
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_TRUE(r.CopyTo(8, out, 2));
    EXPECT_EQ(out[1], 0x0A);
}

TEST(ByteReader, ANullViewHasNoBytes) {
    const ByteReader r(static_cast<const u8*>(nullptr), 100);
    EXPECT_EQ(r.size(), 0u);
    EXPECT_FALSE(r.U8(0));
}

TEST(ByteWriter, WritesWhatTheReaderReadsAndRefusesWhatDoesNotFit) {
    std::array<u8, 8> buf{};
    ByteWriter w(buf);
    EXPECT_TRUE(w.Le32(0, 0xA1B2C3D4));
    EXPECT_TRUE(w.Be16(4, 0x1234));
    EXPECT_FALSE(w.Le32(6, 1));
    EXPECT_FALSE(w.Be64(std::numeric_limits<size_t>::max(), 1));
    const ByteReader r(buf);
    EXPECT_EQ(r.Le32(0), 0xA1B2C3D4u);
    EXPECT_EQ(r.Be16(4), 0x1234);
    EXPECT_EQ(r.U8(6), 0);  // the refused write left the bytes alone
}

}  // namespace
