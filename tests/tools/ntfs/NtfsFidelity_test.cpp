// brelvox-scan over the NTFS images of tests/fixtures/ntfs-fidelity, end to end, against The Sleuth
// Kit's listings and icat's bytes (ntfsls and ntfscat where The Sleuth Kit cannot read the volume): two
// volumes with a folder of one name and record number, references to records that now hold something
// else, a stale size in $FILE_NAME, a name holding an unpaired surrogate, clusters of 2 MiB.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/DriverListing.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

using Listed = testsupport::ListedLine;

// The type-35 lines of a listing, in its order.
std::vector<Listed> Parse(const std::string& text) { return testsupport::ListedLinesOf(text, "35"); }

// icat's bytes of a golden: inode, SHA-256, size, path per line.
struct Sum {
    std::string sha256;
    long long size;
    std::string path;
};

std::vector<Sum> IcatSums(const std::string& name) {
    std::vector<Sum> out;
    std::istringstream in(testsupport::ReadFile(testsupport::FixturePath("ntfs-fidelity/" + name)));
    for (std::string line; std::getline(in, line);) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() == 4) out.push_back({f[1], std::stoll(f[2]), f[3]});
    }
    return out;
}

std::map<std::string, std::string> Copies(const fs::path& root) { return testsupport::CopiedSha256(root); }

class NtfsFidelity : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    fs::path Image(const std::string& name) {
        return testsupport::UnpackXz(testsupport::FixturePath("ntfs-fidelity/" + name + ".img.xz"), dir.path());
    }
    int Run(const std::string& arguments, std::string& text) {
        const int status = testsupport::RunCommand(kDriver + " " + arguments + " 2>" + (dir / "err.txt").string(), &text);
        return status;
    }
    testsupport::TempDir dir;
};

}  // namespace

// Two volumes on one disk whose first folder is Shared, record 64 on both: each volume's files are
// listed below its own Shared with their sizes (fls -o of each), including the file named alike on
// both, and every copy holds icat's bytes.
TEST_F(NtfsFidelity, TwoVolumesWithAFolderOfOneNumberAndNameListBothTrees) {
    const fs::path image = Image("two");
    const fs::path recovered = dir / "recovered";
    std::string text;
    ASSERT_EQ(Run("--deep --list - --recover '" + recovered.string() + "' '" + image.string() + "'", text), 0)
        << testsupport::ReadFile(dir / "err.txt");
    const std::vector<Listed> out = Parse(text);
    std::multiset<std::pair<std::string, long long>> expected, listed;
    std::multiset<std::string> expectedBytes, copiedBytes;
    for (const char* golden : {"two-p1.icat.txt", "two-p2.icat.txt"}) {
        for (const Sum& s : IcatSums(golden)) {
            if (s.size == 0) continue;
            expected.insert({s.path, s.size});
            expectedBytes.insert(s.sha256);
        }
    }
    ASSERT_EQ(expected.size(), 6u);
    for (const Listed& l : out)
        if (!l.directory) listed.insert({l.path, l.size});
    EXPECT_EQ(listed, expected);
    for (const auto& [path, sum] : Copies(recovered)) copiedBytes.insert(sum);
    EXPECT_EQ(copiedBytes, expectedBytes);
}

// shrunk.txt was cut from 20000 to 5000 bytes and its $FILE_NAME still says 20000: the deep scan lists
// it at its $DATA size, and the copy is icat's 5000 bytes, not the older bytes of the cluster's slack.
TEST_F(NtfsFidelity, AFileThatShrankHasTheSizeOfItsData) {
    const fs::path image = Image("records");
    const fs::path recovered = dir / "recovered";
    std::string text;
    Run("--deep --list - --recover '" + recovered.string() + "' '" + image.string() + "'", text);
    const std::vector<Listed> out = Parse(text);
    const Sum* icat = nullptr;
    const auto sums = IcatSums("records.icat.txt");
    for (const Sum& s : sums)
        if (s.path == "shrunk.txt") icat = &s;
    ASSERT_TRUE(icat);
    ASSERT_EQ(icat->size, 5000);
    size_t found = 0;
    for (const Listed& l : out) {
        if (l.path != "shrunk.txt") continue;
        ++found;
        EXPECT_EQ(l.size, icat->size);
    }
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(Copies(recovered)["Disk(NTFS)/shrunk.txt"], icat->sha256);
}

// The deleted files whose parent reference names a record that now holds something else (Old's record
// holds the folder New, Gone's the file taker.txt, both with a raised sequence number): fls lists them
// under $OrphanFiles, both scans under "Other lost files" (never inside New, never dropped); the copies
// hold icat's bytes.
TEST_F(NtfsFidelity, FilesOfAReusedParentRecordAreListedWithTheLostFiles) {
    const fs::path image = Image("records");
    for (const std::string mode : {"--quick", "--deep"}) {
        SCOPED_TRACE(mode);
        const fs::path recovered = dir / ("recovered" + mode);
        std::string text;
        ASSERT_EQ(Run(mode + " --list - --recover '" + recovered.string() + "' '" + image.string() + "'", text), 0)
            << testsupport::ReadFile(dir / "err.txt");
        const std::string root = mode == "--quick" ? "records.img(NTFS)/" : "Disk(NTFS)/";
        std::map<std::string, long long> expected, listed;
        std::map<std::string, std::string> bytes, copied;
        for (const Sum& s : IcatSums("records.icat.txt")) {
            if (s.path.rfind("$OrphanFiles/", 0) != 0) continue;
            const std::string path = "Other lost files/" + s.path.substr(13);
            expected[path] = s.size;
            bytes[root + path] = s.sha256;
        }
        ASSERT_EQ(expected.size(), 3u);
        for (const Listed& l : Parse(text))
            if (!l.directory && l.deleted) listed[l.path] = l.size;
        EXPECT_EQ(listed, expected);
        for (const auto& [path, sum] : Copies(recovered))
            if (path.find("/Other lost files/") != std::string::npos || path.find("/New/") != std::string::npos)
                copied[path] = sum;
        EXPECT_EQ(copied, bytes);
    }
}

// "a_b.txt" with its '_' patched into an unpaired surrogate (U+D800), in its record and its folder's
// index: listed whole with U+FFFD in the surrogate's place, its extension kept, and copied with the
// bytes icat reads (record 70) and the generator wrote.
TEST_F(NtfsFidelity, ANameWithAnUnpairedSurrogateIsNeverCut) {
    const fs::path image = Image("records");
    const fs::path recovered = dir / "recovered";
    std::string text;
    Run("--deep --list - --recover '" + recovered.string() + "' '" + image.string() + "'", text);
    const std::string name = "a\xef\xbf\xbd" "b.txt";
    const Sum* icat = nullptr;
    const auto sums = IcatSums("records.icat.txt");
    for (const Sum& s : sums)
        if (s.path == "a^.txt") icat = &s;  // fls shows the name as "a^.txt"
    ASSERT_TRUE(icat);
    std::map<std::string, long long> listed;
    for (const Listed& l : Parse(text))
        if (!l.directory) listed[l.path] = l.size;
    ASSERT_TRUE(listed.count(name)) << text;
    EXPECT_EQ(listed.at(name), icat->size);
    EXPECT_EQ(listed.count("a"), 0u);
    EXPECT_EQ(Copies(recovered)["Disk(NTFS)/" + name], icat->sha256);
    const std::string planted = testsupport::ReadFile(testsupport::FixturePath("ntfs-fidelity/records.planted.txt"));
    EXPECT_NE(planted.find(icat->sha256 + "\t700\ta_b.txt"), std::string::npos);
}

// A volume of 2 MiB clusters (a sectors-per-cluster byte of 0xF4, an exponent): recognised, and the
// quick scan lists its deleted gone.txt with the bytes it was written with (The Sleuth Kit 4.11 cannot
// read such a volume; ntfsls lists its two live files, which the quick scan leaves out).
TEST_F(NtfsFidelity, AVolumeOfTwoMebibyteClustersIsRead) {
    const fs::path image = Image("big-cluster");
    const fs::path recovered = dir / "recovered";
    std::string text;
    ASSERT_EQ(Run("--quick --list - --recover '" + recovered.string() + "' '" + image.string() + "'", text), 0)
        << testsupport::ReadFile(dir / "err.txt");
    const auto planted = testsupport::SplitFields(
        testsupport::ReadFile(testsupport::FixturePath("ntfs-fidelity/big-cluster.planted.txt")).substr(0, 200));
    ASSERT_EQ(planted.size(), 3u);
    std::map<std::string, long long> listed;
    for (const Listed& l : Parse(text))
        if (!l.directory) listed[l.path] = l.size;
    EXPECT_EQ(listed, (std::map<std::string, long long>{{"gone.txt", 5000}}));
    EXPECT_EQ(Copies(recovered)["big-cluster.img(NTFS)/gone.txt"], planted[0]);
    EXPECT_EQ(testsupport::ReadFile(testsupport::FixturePath("ntfs-fidelity/big-cluster.ntfsls.txt")), "one.txt\ntwo.bin\n");
}
