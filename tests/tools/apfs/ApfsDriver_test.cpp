// brelvox-scan and APFS containers, end to end: a quick scan is refused with its reason. (The device
// listing of a container on a loop device is checked with the enumeration, in engine/EnumDevice.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace {

TEST(ApfsDriver, AQuickScanOfAContainerHasNoSearcher) {
    const std::string driver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";
    if (!std::filesystem::exists(driver)) GTEST_SKIP() << driver << " is not built";
    testsupport::TempDir dir;
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("apfs/apfs-records.img.xz"));
    const auto list = dir / "list.txt";
    EXPECT_EQ(testsupport::RunCommand(driver + " --quick --list " + list.string() + " " + image.string() + " 2>" +
                                      (dir / "err.txt").string()),
              1);
    EXPECT_EQ(testsupport::ReadFile(dir / "err.txt"), "brelvox-scan: no quick search for this file system\n");
    EXPECT_EQ(testsupport::ReadFile(list), "");
}

}  // namespace
