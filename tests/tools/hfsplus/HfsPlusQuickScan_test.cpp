// brelvox-scan --quick over HFS+ images, end to end: a quick scan lists the files the journal still
// remembers (never one of size 0) and the folders above them, and copies them out with the bytes the
// writer was given, compressed ones decoded. A volume without journal lists no file. Device listing
// names HFS+ volumes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../../../tools/brelvox-scan/ListDevices.h"
#include "../../engine/EnumDevice/EnumDeviceFixture.h"
#include "engine/EnumDevice/EnumDeviceEx.h"
#include "support/FakeKernelTree.h"
#include "support/Fixtures.h"
#include "support/HfsPlusFixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace hfs = testsupport::hfs;

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

struct Line {
    std::string path;  // below the volume's root folder
    long long size;
    bool deleted;
    bool directory;
};

class HfsPlusQuickScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    // Runs the driver; the type-31 lines of its listing below the root, by path.
    int Run(const std::filesystem::path& image, const std::string& extra, std::map<std::string, Line>& lines) {
        const std::string command = kDriver + " --quick --list - " + extra + " '" + image.string() + "' >" +
                                    (dir / "out.txt").string() + " 2>" + (dir / "err.txt").string();
        const int status = testsupport::RunCommand(command);
        std::istringstream in(testsupport::ReadFile(dir / "out.txt"));
        std::string text;
        while (std::getline(in, text)) {
            const std::vector<std::string> f = hfs::SplitTabs(text);
            if (f.size() != 6) continue;
            EXPECT_EQ(f[0], "31") << text;
            const size_t root = f[1].find(")/");
            if (root == std::string::npos) continue;
            const std::string path = f[1].substr(root + 2);
            lines[path] = Line{path, std::stoll(f[2]), f[3] == "1", f[4] == "1"};
        }
        return status;
    }
    testsupport::TempDir dir;
};

}  // namespace

TEST_F(HfsPlusQuickScan, ListsAndCopiesTheFilesTheJournalRemembers) {
    for (const std::string name : {"journaled", "hfsx"}) {
        SCOPED_TRACE(name);
        const auto out = dir / ("recovered-" + name);
        std::map<std::string, Line> lines;
        ASSERT_EQ(Run(hfs::FixtureImage(name), "--recover '" + out.string() + "'", lines), 0)
            << testsupport::ReadFile(dir / "err.txt");

        // The files with bytes: exactly the planted deleted ones; the folders: exactly those above them.
        std::set<std::string> files, empty, folders;
        for (const auto& p : hfs::FixturePlanted(name)) {
            if (!p.deleted) continue;
            (p.size ? files : empty).insert(p.path);
            if (!p.size) continue;
            for (size_t cut = p.path.find('/'); cut != std::string::npos; cut = p.path.find('/', cut + 1))
                folders.insert(p.path.substr(0, cut));
        }
        std::set<std::string> listedFiles, listedFolders;
        for (const auto& [path, line] : lines) {
                if (line.directory) {
                listedFolders.insert(path);
            } else if (line.size > 0) {
                listedFiles.insert(path);
            } else {
                // The tree builder publishes an empty file with its folder and unlinks it at its flush; the
                // driver lists what was published: such a line can only be a planted empty deleted file.
                EXPECT_TRUE(empty.count(path)) << path;
            }
        }
        EXPECT_EQ(listedFiles, files);
        EXPECT_EQ(listedFolders, folders);
        for (const auto& [path, line] : lines) EXPECT_TRUE(line.directory || line.deleted) << path;

        // Every copy holds the planted bytes (compressed files decoded).
        std::filesystem::path root;
        for (const auto& entry : std::filesystem::directory_iterator(out)) root = entry.path();
        size_t compressed = 0;
        for (const auto& p : hfs::FixturePlanted(name)) {
            if (!p.deleted || !files.count(p.path)) continue;
            SCOPED_TRACE(p.path);
            const std::string bytes = testsupport::ReadFile(root / p.path);
            EXPECT_EQ(bytes.size(), p.size);
            EXPECT_EQ(testsupport::Sha256Hex(bytes), p.sha256);
            compressed += p.compression ? 1 : 0;
        }
        EXPECT_EQ(compressed, name == "journaled" ? 4u : 0u);
        EXPECT_NE(testsupport::ReadFile(dir / "out.txt").find(", failed 0\n"), std::string::npos);
    }
}

TEST_F(HfsPlusQuickScan, AVolumeWithoutJournalListsNoFile) {
    std::vector<std::filesystem::path> images = {hfs::FixtureImage("plain")};
    testsupport::TempDir shared;
    if (auto xz = testsupport::SharedFixturePath("hfsplus-interleaved.img.xz"))
        images.push_back(testsupport::UnpackXz(*xz, shared.path()));
    for (const auto& image : images) {
        SCOPED_TRACE(image.filename().string());
        std::map<std::string, Line> lines;
        EXPECT_EQ(Run(image, "", lines), 0) << testsupport::ReadFile(dir / "err.txt");
        for (const auto& [path, line] : lines) EXPECT_TRUE(line.directory) << path;
    }
}

// A quick scan of a volume whose catalog or extents overflow file has its header node zeroed fails in
// one line that says in words which file is damaged (not only its code).
TEST_F(HfsPlusQuickScan, ADamagedCatalogOrExtentsFileIsNamedInWords) {
    const std::string image = testsupport::ReadFile(hfs::FixtureImage("journaled"));
    auto be32 = [&](size_t at) {
        return u32(u8(image[at])) << 24 | u32(u8(image[at + 1])) << 16 | u32(u8(image[at + 2])) << 8 | u32(u8(image[at + 3]));
    };
    const u32 blockSize = be32(1024 + 40);
    const struct {
        const char* file;
        size_t fork;  // the fork's place in the volume header
    } cases[] = {{"the HFS+ catalog file", 1024 + 272}, {"the HFS+ extents overflow file", 1024 + 192}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string damaged = image;
        // The file's first extent starts with its tree's header node.
        const size_t header = size_t(be32(c.fork + 16)) * blockSize;
        damaged.replace(header, 512, std::string(512, '\0'));
        testsupport::WriteFile(dir / "damaged.img", damaged);
        std::map<std::string, Line> lines;
        EXPECT_EQ(Run(dir / "damaged.img", "", lines), 1);
        const std::string err = testsupport::ReadFile(dir / "err.txt");
        const std::string said = "brelvox-scan: " + std::string(c.file) + " is damaged (code 0x";
        EXPECT_NE(err.find(said), std::string::npos) << err;
        EXPECT_EQ(err.find("scan failed"), std::string::npos) << err;
    }
}

TEST(HfsPlusListDevices, NamesHfsPlusVolumes) {
    testsupport::TempDir dir;
    testsupport::FakeKernelTree tree(dir.path());
    const std::string image = testsupport::ReadFile(hfs::FixtureImage("plain"));
    const u64 sectors = image.size() / 512;
    const u64 diskSectors = 32768;  // 16 MiB: smaller disks are not listed
    tree.AddDisk({.name = "sdb", .major = 8, .minor = 16, .size512 = diskSectors, .vendor = "Acme", .model = "Mac Disk",
                  .udev = {"ID_BUS=usb", "ID_PART_TABLE_TYPE=dos"}});
    const auto disk = tree.MakeNode("sdb", diskSectors * 512);
    enumtest::WriteAt(disk, 0, enumtest::MbrSector({{0xAF, 2048, u32(sectors)}}));
    enumtest::WriteAt(disk, 2048 * 512, std::vector<u8>(image.begin(), image.end()));
    tree.AddPartition({.disk = "sdb", .name = "sdb1", .number = 1, .major = 8, .minor = 17, .start512 = 2048,
                       .size512 = sectors});
    testsupport::WriteFile(tree.MakeNode("sdb1", image.size()), image);
    CEnumDeviceEx devices(tree.Roots());
    std::ostringstream out, err;
    ASSERT_EQ(ListDevices(devices, out, err), 0) << err.str();
    bool named = false;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (line.find("volume sdb1") != std::string::npos) named = line.find("  HFS+  ") != std::string::npos;
    EXPECT_TRUE(named) << out.str();
}
