#include <gtest/gtest.h>

#include "engine/Utility/TBitmap.h"

TEST(TBitmap, SizesAndBounds) {
    TBitmap map;
    ASSERT_EQ(map.CreateBitmap(9, 1), 1);
    EXPECT_EQ(map.GetBitmapSize(), 2u);
    EXPECT_EQ(map.GetMaxBitIndex(), 8);
    EXPECT_EQ(map.SetBit(8, 1, 5), 1);
    EXPECT_EQ(map.GetBitmapData()[1], 0x01);
    EXPECT_EQ(map.GetBitmapData()[0], 0x00);
    EXPECT_EQ(map.SetBit(9, 1, 1), 0);
    EXPECT_EQ(map.SetBit(-1, 1, 1), 0);
    EXPECT_EQ(map.SetBit(0, 1, 0), 1);
    EXPECT_EQ(map.GetBit(0), 0u);
    EXPECT_EQ(map.SetBit(3, 1, 1), 1);
    EXPECT_EQ(map.GetBit(3), 8u);
    EXPECT_EQ(map.GetBit(9), 0u);
    EXPECT_EQ(map.GetBit(-5), 0u);
    EXPECT_EQ(map.SetBit(2, 1, 3), 1);
    EXPECT_EQ(map.GetBitmapData()[0], 0x1C);
    EXPECT_EQ(map.SetBit(3, 0, 1), 1);
    EXPECT_EQ(map.GetBitmapData()[0], 0x14);
}

TEST(TBitmap, CreateBelowOneKeepsTheOldMap) {
    TBitmap map;
    ASSERT_EQ(map.CreateBitmap(16, 4), 1);
    map.SetBit(5, 1, 1);
    EXPECT_EQ(map.CreateBitmap(0, 1), 0);
    EXPECT_EQ(map.CreateBitmap(-3, 1), 0);
    EXPECT_EQ(map.GetMaxBitIndex(), 15);
    EXPECT_NE(map.GetBit(5), 0u);
    EXPECT_EQ(map.GetScale(), 4u);
}

TEST(TBitmap, FillAndDestroy) {
    TBitmap map;
    EXPECT_EQ(map.FillBitmap(0), 0);
    ASSERT_EQ(map.CreateBitmap(20, 1), 1);
    EXPECT_EQ(map.FillBitmap(0), 1);
    EXPECT_NE(map.GetBit(19), 0u);
    EXPECT_EQ(map.FillBitmap(1), 1);
    EXPECT_EQ(map.GetBit(19), 0u);
    EXPECT_EQ(map.DestroyBitmap(), 1);
    EXPECT_EQ(map.GetBitmapSize(), 0u);
    EXPECT_EQ(map.GetBitmapData(), nullptr);
    EXPECT_EQ(map.SetBit(0, 1, 1), 0);
}

TEST(TBitmap, ByteCountIsSixtyFourBit) {
    // 2^35 + 9 bits: a 32-bit byte count would wrap to 2.
    const i64 bits = (i64{1} << 35) + 9;
    EXPECT_EQ(TBitmap::BytesForBits(bits), (u64{1} << 32) + 2);
    EXPECT_EQ(TBitmap::BytesForBits(1), 1u);
    EXPECT_EQ(TBitmap::BytesForBits(0), 0u);
}
