// brelvox-scan over tests/fixtures/fat-fidelity/fidelity.img (mtools), end to end, against fls, icat and
// the checksums the generator kept before deleting: a deleted file written into the holes around a live
// file's cluster, short names written in lower case.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/DriverListing.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

// A golden's lines: its tab-separated fields, by the last one (the path).
std::map<std::string, std::vector<std::string>> Golden(const std::string& name) {
    std::map<std::string, std::vector<std::string>> out;
    std::istringstream in(testsupport::ReadFile(testsupport::FixturePath("fat-fidelity/" + name)));
    for (std::string line; std::getline(in, line);) {
        const auto f = testsupport::SplitFields(line);
        if (!f.empty()) out[f.back()] = f;
    }
    return out;
}

class FatFidelity : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
        image = testsupport::UnpackXz(testsupport::FixturePath("fat-fidelity/fidelity.img.xz"), dir.path());
    }
    // The listing of a scan (and the copies below dir/recovered-MODE), its exit code in status.
    std::vector<testsupport::ListedLine> Scan(const std::string& mode, int& status) {
        std::string text;
        status = testsupport::RunCommand(kDriver + " " + mode + " --list - --recover '" + Recovered(mode).string() + "' '" +
                                             image.string() + "' 2>" + (dir / "err.txt").string(),
                                         &text);
        return testsupport::ListedLinesOf(text, "32");
    }
    fs::path Recovered(const std::string& mode) const { return dir / ("recovered" + mode); }
    testsupport::TempDir dir;
    fs::path image;
};

}  // namespace

// "Docs/Holes Around.txt" was written into the two one-cluster holes around LIVE.BIN and deleted: both
// scans copy it with the bytes it was written with (icat's), skipping LIVE.BIN's cluster, and count
// nothing unreadable.
TEST_F(FatFidelity, ADeletedFileInTheHolesAroundALiveFileComesBackWhole) {
    const std::string path = "Docs/Holes Around.txt";
    const auto icat = Golden("fidelity.icat.txt").at(path);
    ASSERT_EQ(Golden("fidelity.planted.txt").at(path)[0], icat[1]);
    for (const std::string mode : {"--quick", "--deep"}) {
        SCOPED_TRACE(mode);
        int status = -1;
        const auto listed = Scan(mode, status);
        EXPECT_EQ(status, 0) << testsupport::ReadFile(dir / "err.txt");
        size_t found = 0;
        for (const auto& l : listed) {
            if (l.path != path) continue;
            ++found;
            EXPECT_TRUE(l.deleted);
            EXPECT_EQ(l.size, std::stoll(icat[2]));
        }
        EXPECT_EQ(found, 1u);
        const auto copies = testsupport::CopiedSha256(Recovered(mode));
        std::string copied;
        for (const auto& [file, sum] : copies)
            if (file.size() > path.size() && file.compare(file.size() - path.size(), path.size(), path) == 0) copied = sum;
        EXPECT_EQ(copied, icat[1]);
    }
}

// Short names written in lower case (mtools keeps them as 8.3 entries with the lower-case flags): both
// scans name them as fls does (summer.txt, README.txt, notes.TXT), and the copies carry those names and
// the bytes written.
TEST_F(FatFidelity, ShortNamesKeepTheirLowerCase) {
    const auto planted = Golden("fidelity.planted.txt");
    const auto fls = Golden("fidelity.fls.txt");
    for (const std::string mode : {"--quick", "--deep"}) {
        SCOPED_TRACE(mode);
        int status = -1;
        std::set<std::string> names;
        for (const auto& l : Scan(mode, status)) names.insert(l.path);
        const auto copies = testsupport::CopiedSha256(Recovered(mode));
        for (const std::string name : {"summer.txt", "README.txt", "notes.TXT"}) {
            SCOPED_TRACE(name);
            ASSERT_TRUE(fls.count(name));
            // The quick scan lists deleted files only: the live ones are the deep scan's.
            if (mode == "--quick") continue;
            EXPECT_TRUE(names.count(name));
            EXPECT_EQ(copies.at("Disk(FAT_FAT32)/" + name), planted.at(name)[0]);
        }
        // The deleted lower-case name: its lost first letter shown as "#" (fls shows "_").
        ASSERT_TRUE(fls.count("Gone/_one.txt"));
        EXPECT_TRUE(names.count("Gone/#one.txt"));
    }
}
