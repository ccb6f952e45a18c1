// The engine driver run as a program, as the end-to-end tests and benchmarks use it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/CompressedNtfsFixture.h"
#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

using testsupport::TempDir;

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

struct DriverRun {
    int status;
    std::string out;
    std::string err;
};

DriverRun Scan(const TempDir& dir, const std::string& arguments) {
    DriverRun run{};
    const std::string errPath = (dir / "stderr.txt").string();
    run.status = testsupport::RunCommand(kDriver + " " + arguments + " 2>" + errPath + " </dev/null", &run.out);
    run.err = testsupport::ReadFile(errPath);
    return run;
}

int LineCount(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

class BrelvoxScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    TempDir dir;
};

TEST_F(BrelvoxScanTest, CommandLineErrors) {
    struct Case {
        const char* arguments;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"", 2, "usage: brelvox-scan"},
        {"--bogus x", 2, "usage: brelvox-scan"},
        {"a b", 2, "usage: brelvox-scan"},
        {"--types 0 x", 1, "bad --types value"},
        {"--types 128 x", 1, "bad --types value"},
        {"/no/such/image", 1, "cannot open /no/such/image"},
    };
    for (const Case& c : cases) {
        DriverRun run = Scan(dir, c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
        EXPECT_EQ(LineCount(run.err), 1) << "one line: " << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

TEST_F(BrelvoxScanTest, UnreadableAndUnknownSources) {
    testsupport::WriteFile(dir / "empty.img", "");
    DriverRun empty = Scan(dir, (dir / "empty.img").string());
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("is empty"), std::string::npos) << empty.err;

    std::filesystem::create_directory(dir / "folder");
    DriverRun folder = Scan(dir, "--quick " + (dir / "folder").string());
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("is a directory"), std::string::npos) << folder.err;
    EXPECT_EQ(LineCount(folder.err), 1);

    testsupport::WriteFile(dir / "zeros.img", std::string(1 << 20, '\0'));
    DriverRun quick = Scan(dir, "--quick " + (dir / "zeros.img").string());
    EXPECT_EQ(quick.status, 1);
    EXPECT_NE(quick.err.find("unknown file system"), std::string::npos) << quick.err;
    EXPECT_EQ(LineCount(quick.err), 1);

    // A deep scan that finds nothing says so in one line; the listing stays empty.
    DriverRun deep = Scan(dir, "--deep --list - " + (dir / "zeros.img").string());
    EXPECT_EQ(deep.status, 0);
    EXPECT_NE(deep.err.find("found no volume and no file on " + (dir / "zeros.img").string()), std::string::npos)
        << deep.err;
    size_t said = 0;
    for (size_t at = deep.err.find("brelvox-scan: "); at != std::string::npos; at = deep.err.find("brelvox-scan: ", at + 1))
        ++said;
    EXPECT_EQ(said, 1u) << "one line of the driver's (the engine may log beside it): " << deep.err;
    std::istringstream listed(deep.out);
    for (std::string line; std::getline(listed, line);)
        EXPECT_FALSE(line.find('\t') != std::string::npos && std::isdigit(static_cast<unsigned char>(line[0])))
            << "a listing line: " << line;

    // FAT12 (mkfs.fat's) is named as what it is.
    ASSERT_EQ(testsupport::RunCommand("mkfs.fat -C -F 12 '" + (dir / "fat12.img").string() + "' 2048 >/dev/null 2>&1"), 0);
    DriverRun fat12 = Scan(dir, "--quick " + (dir / "fat12.img").string());
    EXPECT_EQ(fat12.status, 1);
    EXPECT_NE(fat12.err.find("FAT12 is not supported"), std::string::npos) << fat12.err;
    EXPECT_EQ(LineCount(fat12.err), 1);
}

// A source that is neither an image file nor a block device is refused in one line before it is
// opened for reading: a pipe would block the open for ever (the run is cut after 60 s if it does).
TEST_F(BrelvoxScanTest, PipesAndCharacterDevicesAreNoSources) {
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    for (const std::string& source : {(dir / "pipe").string(), std::string("/dev/zero")}) {
        DriverRun run{};
        const std::string errPath = (dir / "stderr.txt").string();
        run.status = testsupport::RunCommand("timeout -s KILL 60 " + kDriver + " --deep --list - " + source + " 2>" +
                                                 errPath + " </dev/null",
                                             &run.out);
        run.err = testsupport::ReadFile(errPath);
        EXPECT_EQ(run.status, 1) << source;
        EXPECT_NE(run.err.find("brelvox-scan: " + source + " is neither an image file nor a block device"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(LineCount(run.err), 1) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

// --help prints the usage on standard output and succeeds (what `make run` shows without arguments).
TEST_F(BrelvoxScanTest, HelpPrintsTheUsage) {
    DriverRun run = Scan(dir, "--help");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("usage: brelvox-scan", 0), 0u) << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
}

// The FAT16 fixture, unpacked into the test's folder.
std::filesystem::path Fat16(const TempDir& dir) {
    return testsupport::UnpackXz(testsupport::FixturePath("fat/fat16.img.xz"), dir.path());
}

// The listed paths of files (not folders).
std::vector<std::string> ListedFiles(const std::string& list) {
    std::vector<std::string> files;
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string part; std::getline(fields, part, '\t');) f.push_back(part);
        if (f.size() == 6 && f[4] == "0") files.push_back(f[1]);
    }
    return files;
}

// Nothing is ever written into what is scanned: a list aimed at the source (by its name, a link or a
// hard link) or at a device is refused before the scan, in one line, and the source is unchanged.
TEST_F(BrelvoxScanTest, NeverWritesIntoTheSource) {
    const auto image = Fat16(dir);
    const std::string before = testsupport::Sha256Hex(testsupport::ReadFile(image));
    std::filesystem::create_symlink(image, dir / "link.img");
    std::filesystem::create_hard_link(image, dir / "hard.img");
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    const std::string targets[] = {image.string(), (dir / "link.img").string(), (dir / "hard.img").string(),
                                   (dir / "dangling").string()};
    for (const std::string& target : targets) {
        DriverRun run = Scan(dir, "--quick --list " + target + " " + image.string());
        EXPECT_EQ(run.status, 1) << target;
        EXPECT_NE(run.err.find("brelvox-scan: refusing to write to " + target), std::string::npos) << run.err;
        EXPECT_EQ(LineCount(run.err), 1) << "refused before the scan: " << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(image)), before);
    // A character device is no disk: /dev/null takes the list (as the benchmarks use it).
    DriverRun null = Scan(dir, "--quick --list /dev/null " + image.string());
    EXPECT_EQ(null.status, 0) << null.err;
    EXPECT_TRUE(null.out.empty());

    // A loop device over the image: neither the device nor its image may take the list.
    testsupport::LoopDevice loop(image, 512, false);
    if (loop.empty()) GTEST_SKIP() << "no loop device here (needs root and losetup)";
    for (const std::string& target : {loop.Device(), image.string()}) {
        DriverRun run = Scan(dir, "--quick --list " + target + " " + loop.Device());
        EXPECT_EQ(run.status, 1) << target;
        EXPECT_NE(run.err.find("refusing to write to " + target), std::string::npos) << run.err;
        EXPECT_EQ(LineCount(run.err), 1) << run.err;
    }
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(image)), before);
    DriverRun fine = Scan(dir, "--quick --list " + (dir / "list.txt").string() + " " + loop.Device());
    EXPECT_EQ(fine.status, 0) << fine.err;
}

// A file system mounted for the length of a test by a mount command (of a loop device, or ntfs-3g of
// an image file); unmounted at the end.
class Mounted {
public:
    Mounted(const std::string& command, std::filesystem::path point) : m_point(std::move(point)) {
        std::filesystem::create_directories(m_point);
        m_mounted = testsupport::RunCommand(command + " '" + m_point.string() + "' >/dev/null 2>&1") == 0;
    }
    ~Mounted() {
        if (m_mounted) testsupport::RunCommand("umount '" + m_point.string() + "' || umount -l '" + m_point.string() + "'");
    }
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;
    bool ok() const { return m_mounted; }
    // Everything written through the mount has reached what lies beneath it.
    void Flush() const { testsupport::RunCommand("sync -f '" + m_point.string() + "'"); }
    std::string operator/(const std::string& name) const { return (m_point / name).string(); }

private:
    std::filesystem::path m_point;
    bool m_mounted = false;
};

// What the driver says when asked to write its list and copies at mount while scanning source: refused
// before the scan, in one line naming the destination, and nothing made there.
void ExpectRefusedOn(const TempDir& dir, const Mounted& mount, const std::string& source) {
    for (const std::string& option : {"--list " + (mount / "list.txt"), "--recover " + (mount / "out")}) {
        DriverRun run = Scan(dir, "--deep " + option + " " + source);
        EXPECT_EQ(run.status, 1) << option << " " << source << ": " << run.err;
        const std::string target = option.substr(option.find(' ') + 1);
        EXPECT_NE(run.err.find("brelvox-scan: refusing to write to " + target + ": it lies on the scanned source"),
                  std::string::npos)
            << source << ": " << run.err;
        EXPECT_EQ(LineCount(run.err), 1) << "refused before the scan: " << run.err;
        EXPECT_FALSE(std::filesystem::exists(target)) << target;
    }
    mount.Flush();
}

// An empty ext2 file system made by mke2fs in image at offset (bytes), of the given size.
void MakeExt2(const std::filesystem::path& image, std::uint64_t offset, std::uint64_t bytes) {
    ASSERT_EQ(testsupport::RunCommand("mke2fs -q -F -t ext2 -E offset=" + std::to_string(offset) + " '" +
                                      image.string() + "' " + std::to_string(bytes / 1024) + "k >/dev/null 2>&1"),
              0);
}

// Writing at a file system on a loop device writes into that device's image. A scanned loop device is
// refused a destination on a second loop device over its image file, and a scanned disk image (as a
// loop device or as the file) one on a loop device at an offset inside it (a partition as losetup -o
// makes one); the image's bytes stay as they are. A loop device over a range of the image that the
// scanned one does not reach takes the list.
TEST_F(BrelvoxScanTest, NeverWritesIntoTheSourceThroughLoopDevicesOverItsImage) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to attach loop devices and mount";
    constexpr std::uint64_t kMiB = 1 << 20;
    const auto bare = dir / "bare.img";
    testsupport::WriteFile(bare, "");
    std::filesystem::resize_file(bare, 8 * kMiB);
    MakeExt2(bare, 0, 8 * kMiB);
    testsupport::LoopDevice scanned(bare, 512, false);
    if (scanned.empty()) GTEST_SKIP() << "no loop device here (needs root and losetup)";
    testsupport::LoopDevice second(bare, 512, false);
    ASSERT_FALSE(second.empty());
    Mounted onSecond("mount " + second.Device(), dir / "second");
    ASSERT_TRUE(onSecond.ok()) << "mount of an ext2 loop device";
    onSecond.Flush();
    const std::string bareBefore = testsupport::Sha256Hex(testsupport::ReadFile(bare));
    ExpectRefusedOn(dir, onSecond, scanned.Device());
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(bare)), bareBefore);

    // A 16 MiB disk image with two 6 MiB file systems as its partitions, at 1 MiB and at 8 MiB.
    const auto disk = dir / "disk.img";
    testsupport::WriteFile(disk, "");
    std::filesystem::resize_file(disk, 16 * kMiB);
    MakeExt2(disk, 1 * kMiB, 6 * kMiB);
    MakeExt2(disk, 8 * kMiB, 6 * kMiB);
    testsupport::LoopDevice whole(disk, 512, false);
    testsupport::LoopDevice first(disk, 512, false, false, 1 * kMiB, 6 * kMiB);
    testsupport::LoopDevice other(disk, 512, false, false, 8 * kMiB, 6 * kMiB);
    ASSERT_FALSE(whole.empty() || first.empty() || other.empty());
    Mounted onFirst("mount " + first.Device(), dir / "first");
    ASSERT_TRUE(onFirst.ok()) << "mount of an ext2 loop device at an offset";
    onFirst.Flush();
    const std::string diskBefore = testsupport::Sha256Hex(testsupport::ReadFile(disk));
    for (const std::string& source : {whole.Device(), disk.string()}) ExpectRefusedOn(dir, onFirst, source);
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(disk)), diskBefore);

    DriverRun fine = Scan(dir, "--deep --list " + (onFirst / "list.txt") + " " + other.Device());
    EXPECT_EQ(fine.status, 0) << fine.err;
    EXPECT_TRUE(std::filesystem::exists(onFirst / "list.txt"));
}

// An ntfs-3g (FUSE) mount of the scanned image names the image as its source in the mount table: a
// destination on it is refused whether the image is scanned as the file or through a loop device, and
// the image's bytes stay as they are.
TEST_F(BrelvoxScanTest, NeverWritesIntoTheSourceThroughAFuseMountOfIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount with FUSE";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no FUSE here (/dev/fuse)";
    const auto image = testsupport::UnpackXz(testsupport::FixturePath("ntfs/ntfs512.img.xz"), dir.path());
    Mounted fuse("ntfs-3g '" + image.string() + "'", dir / "fuse");
    ASSERT_TRUE(fuse.ok()) << "ntfs-3g mount of the image";
    fuse.Flush();
    const std::string before = testsupport::Sha256Hex(testsupport::ReadFile(image));
    ExpectRefusedOn(dir, fuse, image.string());
    testsupport::LoopDevice loop(image, 512, false);
    if (!loop.empty()) ExpectRefusedOn(dir, fuse, loop.Device());
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(image)), before);
}

// A source cut short: every file is still written at its size (readable bytes are never lost), but the
// run is no clean success: the summary counts the copies with unreadable ranges and the exit says why.
TEST_F(BrelvoxScanTest, UnreadableRangesAreNoCleanSuccess) {
    const std::string whole = testsupport::ReadFile(Fat16(dir));
    testsupport::WriteFile(dir / "cut.img", whole.substr(0, 200000));
    const auto out = dir / "out";
    DriverRun run = Scan(dir, "--quick --list " + (dir / "list.txt").string() + " --recover " + out.string() + " " +
                                  (dir / "cut.img").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "copied 7, failed 0, unreadable 6\n") << "the empty file is the seventh";
    EXPECT_NE(run.err.find("brelvox-scan: 6 copied file(s) hold unreadable ranges"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("failed with No such file"), std::string::npos) << "no stale system error: " << run.err;
    EXPECT_TRUE(std::filesystem::exists(out / "cut.img(FAT_FAT32)/holiday photo.jpg"));
    EXPECT_EQ(std::filesystem::file_size(out / "cut.img(FAT_FAT32)/holiday photo.jpg"), 6000u);
}

// A link planted in the destination where the volume's folder goes is never followed; the listed path
// of every file is its path under the destination.
TEST_F(BrelvoxScanTest, RecoverStaysInsideTheDestination) {
    const auto image = Fat16(dir);
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    std::filesystem::create_directory(dir / "escape");
    std::filesystem::create_directory_symlink(dir / "escape", out / "fat16.img(FAT_FAT32)");
    DriverRun planted = Scan(dir, "--quick --recover " + out.string() + " " + image.string());
    EXPECT_EQ(planted.status, 1);
    EXPECT_EQ(planted.out, "copied 0, failed 7\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "escape"));

    std::filesystem::remove(out / "fat16.img(FAT_FAT32)");
    DriverRun run = Scan(
        dir, "--quick --list " + (dir / "list.txt").string() + " --recover " + out.string() + " " + image.string());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto files = ListedFiles(testsupport::ReadFile(dir / "list.txt"));
    EXPECT_EQ(files.size(), 7u);
    for (const std::string& path : files) {
        EXPECT_EQ(path.rfind("fat16.img(FAT_FAT32)/", 0), 0u) << path;
        EXPECT_TRUE(std::filesystem::is_regular_file(out / path)) << path;
    }
}

// A deep scan of the carving image: the listing is sorted and tab-separated with six fields, only the
// list and the summary reach standard output, and --recover reports its counts.
TEST_F(BrelvoxScanTest, DeepScanListsAndRecovers) {
    const auto image = testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path());
    DriverRun run = Scan(dir, "--deep --list - --recover " + (dir / "out").string() + " " + image.string());
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line, previous;
    int listed = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("copied ", 0) == 0) break;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 5) << line;
        const std::string path =
            line.substr(line.find('\t') + 1, line.find('\t', line.find('\t') + 1) - line.find('\t') - 1);
        EXPECT_LE(previous, path);
        previous = path;
        ++listed;
    }
    EXPECT_GT(listed, 0);
    EXPECT_NE(run.out.find("copied "), std::string::npos);
}

// A quick scan of the NTFS volume lists the compressed files and copies them out byte for byte. The
// files are live in the image and a quick scan lists deleted files only: a copy of the image has their
// records marked not in use (bit 0 of the flags at byte 22), as a deletion leaves them.
TEST_F(BrelvoxScanTest, QuickScanOfTheCompressedNtfsVolume) {
    testsupport::CompressedNtfsFixture fx = testsupport::LoadCompressedNtfsFixture(dir.path());
    {
        std::fstream image(fx.image, std::ios::in | std::ios::out | std::ios::binary);
        unsigned char boot[512] = {};
        image.read(reinterpret_cast<char*>(boot), sizeof boot);
        u64 mftCluster = 0;
        for (int i = 7; i >= 0; --i) mftCluster = (mftCluster << 8) | boot[48 + i];
        const u64 clusterBytes = u64(boot[11] | (boot[12] << 8)) * boot[13];
        for (const testsupport::FixtureFile& f : fx.files) {
            const std::streamoff flags = std::streamoff(mftCluster * clusterBytes + u64(f.inode) * 1024 + 22);
            char value = 0;
            image.seekg(flags);
            image.read(&value, 1);
            value = char(value & ~1);
            image.seekp(flags);
            image.write(&value, 1);
        }
    }
    const auto out = dir / "out";
    DriverRun run = Scan(
        dir, "--quick --list " + (dir / "list.txt").string() + " --recover " + out.string() + " " + fx.image.string());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string list = testsupport::ReadFile(dir / "list.txt");
    for (const testsupport::FixtureFile& f : fx.files) {
        const std::string entry = "/c/" + f.name + "\t" + std::to_string(f.size) + "\t";
        EXPECT_NE(list.find(entry), std::string::npos) << f.name << " in\n" << list;
        bool found = false;
        for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
            if (e.path().filename() == f.name && e.path().parent_path().filename() == "c") {
                EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(e.path())), f.sha256) << f.name;
                found = true;
            }
        }
        EXPECT_TRUE(found) << f.name;
    }
}

}  // namespace
