// Default names of saved results (the suites run with TZ=UTC).
#include <gtest/gtest.h>

#include "bridge/SaveRestore/SaveFileName.h"

using SaveRestoreResult::MakeSaveFileName;
using SaveRestoreResult::SaveNameStyle;

namespace {

TEST(SaveFileName, MonthFirstWithTheDeviceName) {
    constexpr std::time_t k20140305_090703 = 1394010423;
    struct Case {
        const char* device;
        SaveNameStyle style;
        const char* expected;
    } cases[] = {
        {"Untitled", SaveNameStyle::Result, "Untitled_03-05-2014 at 09:07:03"},
        {"Untitled", SaveNameStyle::Image, "Untitled_03-05-2014 at 09_07_03"},
        {"", SaveNameStyle::Result, "_03-05-2014 at 09:07:03"},
        {"../a/b", SaveNameStyle::Result, ".._a_b_03-05-2014 at 09:07:03"},  // stays one file name
        {"Caf\xc3\xa9", SaveNameStyle::Result, "Caf\xc3\xa9_03-05-2014 at 09:07:03"},
    };
    for (const Case& c : cases) EXPECT_EQ(MakeSaveFileName(c.device, k20140305_090703, c.style), c.expected);
}

}  // namespace
