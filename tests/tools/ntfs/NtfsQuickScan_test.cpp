// brelvox-scan --quick over the NTFS images, end to end: the listing against fls, the copies against
// icat, the 4096-byte-sector volume through a loop device, and damaged tables ending with one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/NTFSSearch/NtfsTestSupport.h"
#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/DriverListing.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

using Line = testsupport::ListedLine;

// The driver's type-35 lines, keyed by the path below the root folder.
std::map<std::string, Line> ReadListing(const std::filesystem::path& file) {
    return testsupport::ReadListedLines(file, "35");
}

class NtfsQuickScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    int Run(const std::string& source, const std::string& extra) {
        const std::string command = kDriver + " --quick --list " + (dir / "list.txt").string() + " " + extra + " '" +
                                    source + "' >" + (dir / "out.txt").string() + " 2>" + (dir / "err.txt").string();
        return testsupport::RunCommand(command);
    }
    // The listing equals fls's deleted files holding data and the folders above them, and every copy
    // holds icat's bytes.
    void CheckScanAndCopies(const std::string& name, const std::string& source);
    testsupport::TempDir dir;
};

void NtfsQuickScan::CheckScanAndCopies(const std::string& name, const std::string& source) {
    SCOPED_TRACE(name);
    const auto out = dir / ("recovered-" + name);
    ASSERT_EQ(Run(source, "--recover '" + out.string() + "'"), 0) << testsupport::ReadFile(dir / "err.txt");
    const auto sums = ntfstest::IcatSums(name);
    std::set<std::string> expected;
    std::set<std::string> kinds;  // which kinds of deleted file are among them
    for (const auto& e : ntfstest::FlsListing(name)) {
        if (!e.deleted || e.directory || !sums.count(e.path) || sums.at(e.path).size == 0) continue;
        expected.insert(e.path);
        for (size_t slash = e.path.find('/'); slash != std::string::npos; slash = e.path.find('/', slash + 1))
            expected.insert(e.path.substr(0, slash));
    }
    const auto listed = ReadListing(dir / "list.txt");
    std::set<std::string> got;
    for (const auto& [path, line] : listed) {
        // Files of size 0 are the tree builder's to withhold; the listing is compared on the others.
        if (!line.directory && line.size == 0) continue;
        got.insert(path);
        if (line.directory) continue;
        EXPECT_TRUE(line.deleted) << path;
        ASSERT_TRUE(sums.count(path)) << path;
        EXPECT_EQ(line.size, sums.at(path).size) << path;
    }
    EXPECT_EQ(got, expected);
    for (const char* kind : {"tiny note.txt", "sparse.bin", "Compressed/packed words.txt", "frag.bin"})
        EXPECT_TRUE(got.count(kind)) << kind;

    std::filesystem::path root;
    for (const auto& entry : std::filesystem::directory_iterator(out)) root = entry.path();
    for (const std::string& path : expected) {
        if (!sums.count(path)) continue;  // a folder
        SCOPED_TRACE(path);
        ASSERT_TRUE(std::filesystem::exists(root / path));
        EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(root / path)), sums.at(path).sha256);
    }
    EXPECT_NE(testsupport::ReadFile(dir / "out.txt").find("failed 0"), std::string::npos);
}

}  // namespace

TEST_F(NtfsQuickScan, ListsTheDeletedFilesOfFlsAndCopiesIcatsBytes) {
    CheckScanAndCopies("ntfs512", ntfstest::Image("ntfs512").string());
}

TEST_F(NtfsQuickScan, ReadsA4096ByteSectorVolumeThroughALoopDevice) {
    testsupport::LoopDevice loop(ntfstest::Image("ntfs4k"), 4096, true);
    if (loop.Device().empty()) GTEST_SKIP() << "no loop device with 4096-byte sectors here (needs root and losetup)";
    CheckScanAndCopies("ntfs4k", loop.Device());
}

// A damaged $MFT record falls back to the mirror's; with both damaged the driver names the cause.
TEST_F(NtfsQuickScan, DamagedMasterFileTableRecords) {
    ASSERT_EQ(Run(ntfstest::PatchedImage("ntfs512-mft-record-damaged", dir.path()).string(), ""), 0)
        << testsupport::ReadFile(dir / "err.txt");
    EXPECT_EQ(ReadListing(dir / "list.txt").count("Deleted Report.txt"), 1u);

    EXPECT_EQ(Run(ntfstest::PatchedImage("ntfs512-mft-and-mirror-damaged", dir.path()).string(), ""), 1);
    const std::string err = testsupport::ReadFile(dir / "err.txt");
    const std::string last = err.substr(err.rfind('\n', err.size() - 2) + 1);
    EXPECT_NE(last.find("brelvox-scan: neither the master file table nor its mirror"), std::string::npos) << err;
}
