#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "UtilitiesTestSupport.h"
#include "bridge/Utilities/RecoveryFilePath.h"
#include "bridge/Utilities/SafePath.h"
#include "bridge/Utilities/TextUtilities.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using utilities_test::Tree;

namespace {

constexpr std::time_t kMay3 = 1399111500;  // 2014-05-03
const std::string kHfsFolder = "HFS+_Recovered Data 2014-05-03_";

RecoveryFolderTable Table() {
    return RecoveryFolderTable([] { return kMay3; });
}

std::set<std::string> FilesUnder(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        files.insert(fs::relative(e.path(), folder).string() + (e.is_directory() ? "/" : ""));
    }
    return files;
}

TEST(SafePath, Components) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"photo.jpg", "photo.jpg"},
        {"a/b", "a_b"},
        {"/", "_"},
        {"", "_"},
        {".", "_."},
        {"..", "_.."},
        {"...", "..."},
        {std::string("a\0b", 3), "a_b"},
        {"../../etc/passwd", ".._.._etc_passwd"},
    };
    for (const auto& [name, safe] : cases) EXPECT_EQ(bridge_path::SafePathComponent(name), safe) << name;

    const std::string longName = std::string(300, 'x') + ".jpg";
    const std::string cut = bridge_path::SafePathComponent(longName);
    EXPECT_EQ(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".jpg");

    std::string accents;
    for (int i = 0; i < 150; ++i) accents += "\xc3\xa9";  // 300 bytes of "é"
    const std::string cutAccents = bridge_path::SafePathComponent(accents);
    EXPECT_LE(cutAccents.size(), 255u);
    EXPECT_TRUE(isValidString(cutAccents.c_str())) << "never cut inside a character";

    EXPECT_EQ(bridge_path::ExtensionOf("a.tar.gz"), "gz");
    EXPECT_EQ(bridge_path::ExtensionOf(".profile"), "");
    EXPECT_EQ(bridge_path::ExtensionOf("name."), "");
}

TEST(RecoveryFilePath, FoldersAndCounters) {
    testsupport::TempDir dest;
    Tree tree("Vol");
    auto* pics = tree.Add(tree.root(), "Pictures", true);
    auto* dotted = tree.Add(tree.root(), "my.folder", true);
    auto* photo = tree.Add(pics, "photo.jpg");
    auto* readme = tree.Add(dotted, "README");

    RecoveryFolderTable first = Table();
    const std::string folder1 = dest.str() + "/" + kHfsFolder + "0001";
    EXPECT_EQ(CreateRecoveryFilePathByNode(photo, dest.str(), first), folder1 + "/Vol/Pictures/photo.jpg");
    EXPECT_EQ(CreateRecoveryFilePathByNode(photo, dest.str() + "/", first), folder1 + "/Vol/Pictures/photo_0001.jpg");
    EXPECT_EQ(CreateRecoveryFilePathByNode(photo, dest.str(), first), folder1 + "/Vol/Pictures/photo_0002.jpg");
    EXPECT_EQ(CreateRecoveryFilePathByNode(readme, dest.str(), first), folder1 + "/Vol/my.folder/README");
    EXPECT_EQ(CreateRecoveryFilePathByNode(readme, dest.str(), first), folder1 + "/Vol/my.folder/README_0001");
    EXPECT_FALSE(CreateRecoveryFilePathByNode(pics, dest.str(), first).has_value()) << "a folder is made, not written";
    EXPECT_EQ(first.Get(SEARCHER_HFSPLUS), 1);

    // The next recovery takes the next free folder number.
    RecoveryFolderTable second = Table();
    EXPECT_EQ(CreateRecoveryFilePathByNode(photo, dest.str(), second),
              dest.str() + "/" + kHfsFolder + "0002/Vol/Pictures/photo.jpg");
    EXPECT_TRUE(fs::is_regular_file(folder1 + "/Vol/Pictures/photo_0002.jpg")) << "each path is reserved on disk";
}

TEST(RecoveryFilePath, FolderPrefixByFileSystem) {
    testsupport::TempDir dest;
    const std::vector<std::pair<_tagSearcherType, std::string>> cases = {
        {SEARCHER_NTFS, "0001"},
        {SEARCHER_RAW, "RAW_0001"},
        {SEARCHER_FAT, "Fat_Recovered Data 2014-05-03_0001"},
        {SEARCHER_APFS, "APFS_Recovered Data 2014-05-03_0001"},
    };
    RecoveryFolderTable table = Table();
    for (const auto& [type, folder] : cases) {
        Tree tree("V", type);
        auto* file = tree.Add(tree.root(), "f.txt");
        EXPECT_EQ(CreateRecoveryFilePathByNode(file, dest.str(), table), dest.str() + "/" + folder + "/V/f.txt");
    }
}

TEST(RecoveryFilePath, NothingToWrite) {
    testsupport::TempDir dest;
    RecoveryFolderTable table = Table();
    Tree tree;
    auto* hidden = tree.Add(tree.root(), "hidden.txt");
    hidden->ShowNode(0);
    testsupport::SimpleFileNode orphan(5, 0, "orphan.txt", false);  // no root with a searcher type
    EXPECT_FALSE(CreateRecoveryFilePathByNode(nullptr, dest.str(), table).has_value());
    EXPECT_FALSE(CreateRecoveryFilePathByNode(tree.Add(tree.root(), "x"), "", table).has_value());
    EXPECT_FALSE(CreateRecoveryFilePathByNode(hidden, dest.str(), table).has_value());
    EXPECT_FALSE(CreateRecoveryFilePathByNode(&orphan, dest.str(), table).has_value());
    EXPECT_TRUE(FilesUnder(dest.path()).empty());
}

// Names found on disk never lead outside the destination, whatever they hold.
TEST(RecoveryFilePath, HostileNamesStayInside) {
    testsupport::TempDir area;
    const fs::path dest = area / "dest";
    fs::create_directory(dest);
    struct Case {
        const char* what;
        std::string volume;
        std::vector<std::string> folders;
        std::string file;
        std::string expected;  // below the numbered folder
    };
    const std::vector<Case> cases = {
        {"dot-dot file", "Vol", {}, "..", "Vol/_.."},
        {"dot file", "Vol", {}, ".", "Vol/_."},
        {"slash in name", "Vol", {"a/b"}, "c/d.txt", "Vol/a_b/c_d.txt"},
        {"empty names", "Vol", {""}, "", "Vol/_/_"},
        {"dot-dot folders", "Vol", {"..", ".."}, "x", "Vol/_../_../x"},
        {"volume label ../..", "../..", {}, "x", ".._../x"},
        {"volume label /", "/", {}, "x", "_/x"},
        {"traversal in one name", "Vol", {}, "../../../../outside.txt", "Vol/.._.._.._.._outside.txt"},
        {"long name", "Vol", {}, std::string(300, 'n') + ".jpg", "Vol/" + std::string(251, 'n') + ".jpg"},
    };
    for (const auto& c : cases) {
        RecoveryFolderTable table = Table();
        Tree tree(c.volume);
        CFileNode* parent = tree.root();
        for (const auto& f : c.folders) parent = tree.Add(parent, f, true);
        auto* file = tree.Add(parent, c.file);
        const auto path = CreateRecoveryFilePathByNode(file, dest.string(), table);
        ASSERT_TRUE(path.has_value()) << c.what;
        const std::string folder = dest.string() + "/" + kHfsFolder + std::to_string(10000 + table.Get(31)).substr(1);
        EXPECT_EQ(*path, folder + "/" + c.expected) << c.what;
        EXPECT_TRUE(fs::is_regular_file(*path)) << c.what;
        EXPECT_EQ(fs::weakly_canonical(*path).string().rfind(fs::canonical(dest).string() + "/", 0), 0u) << c.what;
        // A second copy of a long name still fits with its counter.
        if (c.file.size() > 255) {
            const auto again = CreateRecoveryFilePathByNode(file, dest.string(), table);
            ASSERT_TRUE(again.has_value());
            EXPECT_EQ(fs::path(*again).filename().string().size(), 255u);
            EXPECT_TRUE(again->ends_with("_0001.jpg"));
        }
    }
    EXPECT_EQ(FilesUnder(area.path()).count("outside.txt"), 0u);
    for (const auto& entry : fs::directory_iterator(area.path())) EXPECT_EQ(entry.path(), dest);
}

TEST(RecoveryFilePath, PlantedLinksAreNotFollowed) {
    testsupport::TempDir area;
    const fs::path dest = area / "dest", outside = area / "outside";
    fs::create_directories(dest);
    fs::create_directories(outside);
    Tree tree("Vol");
    auto* file = tree.Add(tree.root(), "f.txt");
    RecoveryFolderTable table = Table();
    ASSERT_TRUE(CreateRecoveryFilePathByNode(file, dest.string(), table).has_value());
    // Someone replaces the volume folder with a link out of the destination.
    const fs::path volume = dest / (kHfsFolder + "0001") / "Vol";
    fs::remove_all(volume);
    fs::create_directory_symlink(outside, volume);
    EXPECT_FALSE(CreateRecoveryFilePathByNode(file, dest.string(), table).has_value());
    EXPECT_TRUE(fs::is_empty(outside));
}

}  // namespace
