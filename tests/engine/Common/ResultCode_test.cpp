#include <gtest/gtest.h>

#include "engine/Common/ResultCode.h"

namespace {

struct CodeCase {
    u64 code;
    u8 failure;
    u8 module;
    u16 site;
    u32 kind;
};

TEST(ResultCode, DecodesEveryField) {
    const CodeCase cases[] = {
        {0x10e004400000001ULL, 0x01, 0x0e, 0x0044, 1},
        {0x10e00c400000001ULL, 0x01, 0x0e, 0x00c4, 1},
        {0x104000000000404ULL, 0x01, 0x04, 0x0000, 0x404},
        {0x0100000000000000ULL, 0x01, 0x00, 0x0000, 0},
        {0x10dffff00000d03ULL, 0x01, 0x0d, 0xffff, 0xd03},
        {0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(result::FailureByte(c.code), c.failure);
        EXPECT_EQ(result::ModuleOf(c.code), c.module);
        EXPECT_EQ(result::SiteOf(c.code), c.site);
        EXPECT_EQ(result::KindOf(c.code), c.kind);
        EXPECT_EQ(result::IsFailure(c.code), c.failure == 1);
        if (c.failure) {
            EXPECT_EQ(result::Make(c.module, c.site, c.kind), c.code);
        }
    }
}

TEST(ResultCode, OnlyTheTopByteDecidesFailure) {
    // A success may carry information in the lower bytes; callers test byte 7 only.
    EXPECT_TRUE(result::IsSuccess(0x000e004400000001ULL));
    EXPECT_TRUE(result::IsFailure(result::kGenericFailure));
    EXPECT_TRUE(result::IsSuccess(result::kSuccess));
}

}  // namespace
