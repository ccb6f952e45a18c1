// brelvox-scan and APFS containers, end to end: a quick scan is refused with its reason, and the
// device listing shows a container on a loop device as APFS with its first volume's name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/TempDir.h"

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

class ApfsDriver : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    // Runs the driver; standard output is returned, standard error kept in err.
    int Run(const std::string& arguments, std::string* out = nullptr) {
        const auto errPath = dir / "err.txt";
        const int status = testsupport::RunCommand(kDriver + " " + arguments + " 2>" + errPath.string(), out);
        err = testsupport::ReadFile(errPath);
        return status;
    }
    testsupport::TempDir dir;
    std::string err;
};

TEST_F(ApfsDriver, AQuickScanOfAContainerHasNoSearcher) {
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("apfs/apfs-records.img.xz"));
    EXPECT_EQ(Run("--quick --list " + (dir / "list.txt").string() + " " + image.string()), 1);
    EXPECT_NE(err.find("brelvox-scan: no quick search for this file system\n"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir / "list.txt") && !testsupport::ReadFile(dir / "list.txt").empty());
}

TEST_F(ApfsDriver, TheDeviceListingNamesAContainerOnALoopDevice) {
    if (!testsupport::IsRoot()) GTEST_SKIP() << "needs root to attach loop devices";
    const auto xz = testsupport::SharedFixturePath("apfs-1g-sparse.img.xz");
    if (!xz) GTEST_SKIP() << "no shared fixtures";
    const auto image = testsupport::UnpackXzShared(*xz);
    testsupport::LoopDevice loop(image, 512, true);
    if (loop.empty()) GTEST_SKIP() << "cannot attach a loop device here";
    const std::string name = std::filesystem::path(loop.Device()).filename().string();
    std::string out;
    ASSERT_EQ(Run("--list-devices", &out), 0) << err;
    const std::string volume = "  volume " + name + "  number -1  start 0  1.1 GB  APFS  \"APFSVOL\"  name \"APFSVOL\"";
    EXPECT_NE(out.find(volume + "\n"), std::string::npos) << out;
}

}  // namespace
