// brelvox-scan --deep over disks holding HFS+ volumes, end to end: the partition records (--partitions)
// against the partition table the skeleton was made with, the listing against fls after the tree
// builder's rules, the copies against icat's bytes. The real volumes of ../shared/fixtures are written
// into a copy of the committed skeleton (skips without them).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Common/DebugChannel.h"
#include "support/Fixtures.h"
#include "support/HfsPlusFixtures.h"
#include "support/LoopDevice.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace hfs = testsupport::hfs;
namespace fs = std::filesystem;

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

struct Partition {
    long long start = 0;
    long long sectors = 0;
    unsigned index = 0, fileSystem = 0, sectorsPerCluster = 0, sectorSize = 0;
};

struct Output {
    std::vector<Partition> partitions;
    std::map<std::string, long long> files;    // live files: listed path -> size (type 31)
    std::map<std::string, long long> deleted;  // deleted files: the same
    std::map<std::string, long long> carved;   // files of the signature search: path -> size
};

Output Parse(const std::string& text) {
    Output out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto f = hfs::SplitTabs(line);
        if (f.size() == 9 && f[0] == "31") {
            out.partitions.push_back({std::stoll(f[3]), std::stoll(f[5]), unsigned(std::stoul(f[1])),
                                      unsigned(std::stoul(f[2])), unsigned(std::stoul(f[6])), unsigned(std::stoul(f[7]))});
        } else if (f.size() == 6 && f[0] == "31" && f[4] == "0") {
            (f[3] == "1" ? out.deleted : out.files)[f[1]] = std::stoll(f[2]);
        } else if (f.size() == 6 && f[0] == "34" && f[4] == "0") {
            out.carved[f[1]] = std::stoll(f[2]);
        }
    }
    return out;
}

// The partitions of an "sgdisk -p" listing: start and size in sectors.
std::vector<std::pair<long long, long long>> SgdiskPartitions(const std::string& text) {
    std::vector<std::pair<long long, long long>> out;
    std::istringstream in(text);
    std::string line;
    bool table = false;
    while (std::getline(in, line)) {
        if (line.find("Number") != std::string::npos) {
            table = true;
            continue;
        }
        std::istringstream fields(line);
        long long number = 0, start = 0, end = 0;
        if (table && fields >> number >> start >> end) out.emplace_back(start, end - start + 1);
    }
    return out;
}

// The partitions of an "sfdisk -d" dump: start and size in sectors.
std::vector<std::pair<long long, long long>> SfdiskPartitions(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::pair<long long, long long>> out;
    for (std::string line; std::getline(in, line);) {
        long long start = 0, size = 0;
        if (std::sscanf(line.c_str(), "%*s : start= %lld, size= %lld", &start, &size) == 2) out.emplace_back(start, size);
    }
    return out;
}

// A volume's size in 512-byte sectors as fsstat gives it (its D-pN.fsstat.txt: block range and size).
long long FsstatSectors(const std::string& name) {
    std::istringstream in(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/" + name + ".fsstat.txt")));
    long long last = -1, blockSize = 0;
    for (std::string line; std::getline(in, line);) {
        std::sscanf(line.c_str(), "Block Range: %*s - %lld", &last);
        std::sscanf(line.c_str(), "Allocation Block Size: %lld", &blockSize);
    }
    return (last + 1) * blockSize / 512;
}

// The volumes of TestDisk's first search of the disk (testdisk.log): start and size in sectors, from
// LBA columns (start, end, size) or from CHS ones (C H S, C H S, size) in the geometry of its disk line.
std::vector<std::pair<long long, long long>> TestDiskFound(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::pair<long long, long long>> out;
    long long heads = 0, perTrack = 0;
    bool search = false;
    for (std::string line; std::getline(in, line);) {
        if (!heads) std::sscanf(line.c_str(), "Disk %*s - %*s %*s / %*s %*s - CHS %*d %lld %lld", &heads, &perTrack);
        if (line == "search_part()") {
            if (search) break;
            search = true;
            continue;
        }
        if (!search || line.rfind("     ", 0) != 0 || line.find("HFS") == std::string::npos || line.find(',') != std::string::npos)
            continue;
        std::istringstream fields(line.substr(line.find("HFS") + 3));
        std::vector<long long> n;
        for (long long v; fields >> v;) n.push_back(v);
        if (n.size() == 3) out.emplace_back(n[0], n[2]);
        if (n.size() == 7) out.emplace_back((n[0] * heads + n[1]) * perTrack + n[2] - 1, n[6]);
    }
    return out;
}

// The writer's images share one volume identifier and creation date and predate the 0xDB fill of the
// journal info block's block that formatters write: each volume gets its own identifier and date and
// the fill (none of them read by fls or icat, whose goldens hold).
void PatchWriterImage(const std::string& name, std::string& bytes) {
    auto be32 = [&](size_t at) {
        return u32(u8(bytes[at])) << 24 | u32(u8(bytes[at + 1])) << 16 | u32(u8(bytes[at + 2])) << 8 | u8(bytes[at + 3]);
    };
    for (size_t header : {size_t(1024), bytes.size() - 1024}) {
        bytes[header + 80 + 31] = name == "hfsplus/hfsx" ? 2 : 1;  // the low byte of the identifier
        bytes[header + 16 + 3] = name == "hfsplus/hfsx" ? 2 : 1;   // and of the creation date
    }
    const u32 blockSize = be32(1024 + 40);
    const size_t info = size_t(be32(1024 + 12)) * blockSize;
    for (size_t at = info + 180; info && at < info + blockSize; ++at) bytes[at] = char(0xDB);
}

// A path as the tree builder shows it: folders named without their leading dots.
std::string Shown(const std::string& path) {
    std::vector<std::string> names;
    std::stringstream parts(path);
    for (std::string name; std::getline(parts, name, '/');) names.push_back(name);
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = names[i];
        if (i + 1 < names.size()) name.erase(0, name.find_first_not_of('.'));
        out += (i ? "/" : "") + name;
    }
    return out;
}

// fls's regular files and links as the tree builder publishes them: no file of size 0, none whose name
// begins with '.'; The Sleuth Kit's own files and the private folders left out.
std::map<std::string, long long> PublishedFls(const std::string& text) {
    std::map<std::string, long long> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto f = hfs::SplitTabs(line);
        if (f.size() < 3 || (f[0].rfind("r/r", 0) != 0 && f[0].rfind("l/l", 0) != 0)) continue;
        if (f[1].empty() || f[1][0] == '$' || f[1].find("Private D") != std::string::npos) continue;
        const long long size = std::stoll(f[2]);
        const std::string name = f[1].substr(f[1].rfind('/') + 1);
        if (size == 0 || name[0] == '.') continue;
        out[Shown(f[1])] = size;
    }
    return out;
}

// The listing equals each volume's fls listing (after the tree builder's rules) below the scan's root
// and the volume's own folder, and every copy has icat's bytes.
// `leftOut` names files left out of the comparison: hard links, which are listed as folders (their names
// lead to the private folder's files), and files a lost volume cannot read. `remembered` names files that only a journal's older
// leaves hold: the leaves the deep scan meets in a journal give them as found files, so they may be
// listed beside fls's, and a name they share with a live file is not compared by its bytes.
void CheckListingAndCopies(const Output& out, const fs::path& recovered,
                           const std::vector<std::pair<std::string, std::string>>& volumes,
                           const std::set<std::string>& leftOut = {}, const std::set<std::string>& remembered = {}) {
    ASSERT_FALSE(out.files.empty());
    const std::string root = out.files.begin()->first.substr(0, out.files.begin()->first.find('/') + 1);
    std::map<std::string, long long> expected;
    for (const auto& [golden, folder] : volumes)
        for (const auto& [path, size] :
             PublishedFls(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/" + golden + ".fls.txt"))))
            if (!leftOut.count(folder + path)) expected[root + folder + path] = size;
    for (const auto& [path, size] : expected) {
        SCOPED_TRACE(path);
        auto it = out.files.find(path);
        ASSERT_NE(it, out.files.end());
        EXPECT_EQ(it->second, size);
    }
    for (const auto& [path, size] : out.files) {
        if (size > 0 && !remembered.count(path.substr(root.size())) && !leftOut.count(path.substr(root.size())) &&
            path.find("/HFS+ Private Data/") == std::string::npos) {
            EXPECT_TRUE(expected.count(path)) << "not in fls: " << path;
        }
    }
    size_t copies = 0;
    for (const auto& [golden, folder] : volumes) {
        std::istringstream icat(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/" + golden + ".icat.txt")));
        for (std::string line; std::getline(icat, line);) {
            const std::string path = root + folder + Shown(line.substr(66));
            if (!expected.count(path) || remembered.count(folder + Shown(line.substr(66)))) continue;
            SCOPED_TRACE(path);
            EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(recovered / path)), line.substr(0, 64));
            ++copies;
        }
    }
    EXPECT_GE(copies, 10u);
}

// The found volumes equal those TestDisk's search found on the same disk (its log, recorded with the
// skeleton).
void ExpectAsTestDisk(const Output& out, const std::string& disk) {
    std::vector<std::pair<long long, long long>> found;
    for (const Partition& p : out.partitions) found.emplace_back(p.start, p.sectors);
    const auto expected = TestDiskFound(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/" + disk + ".testdisk.txt")));
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(found, expected);
}

// icat's SHA-256 of one file of a golden.
std::string IcatHash(const std::string& golden, const std::string& path) {
    std::istringstream icat(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/" + golden + ".icat.txt")));
    for (std::string line; std::getline(icat, line);)
        if (line.size() > 66 && line.substr(66) == path) return line.substr(0, 64);
    return "";
}

// The writer's hard links (listed as folders) and the files only its journals remember, each below the
// folder its volume is listed in.
void WriterFiles(const std::vector<std::pair<std::string, std::string>>& volumes, std::set<std::string>& hardLinks,
                 std::set<std::string>& remembered) {
    for (const auto& [name, folder] : volumes)
        for (const auto& p : hfs::FixturePlanted(name)) {
            if (p.kind == "hardlink") hardLinks.insert(folder + p.path);
            if (p.deleted) remembered.insert(folder + p.path);
        }
}

class HfsDeepScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    // The skeleton with volumes written at their partitions' starts: shared real volumes (false without
    // them) or the writer's committed images, each passed through `patch` first.
    bool Assemble(const std::string& disk, const std::vector<std::pair<long long, std::string>>& volumes, fs::path& out,
                  const std::function<void(const std::string&, std::string&)>& patch = {}) {
        out = testsupport::UnpackXz(testsupport::FixturePath("hfsplus-disk/" + disk + ".img.xz"), dir.path());
        for (const auto& [start, name] : volumes)
            if (!Place(out, start * 512, name, patch)) return false;
        return true;
    }
    bool Place(const fs::path& disk, long long offset, const std::string& name,
               const std::function<void(const std::string&, std::string&)>& patch) {
        fs::path volume;
        if (name.rfind("hfsplus/", 0) == 0) {
            volume = testsupport::UnpackXz(testsupport::FixturePath(name + ".img.xz"), dir.path());
        } else {
            const auto xz = testsupport::SharedFixturePath(name + ".xz");
            if (!xz) return false;
            volume = testsupport::UnpackXz(*xz, dir.path());
        }
        std::string bytes = testsupport::ReadFile(volume);
        if (patch) patch(name, bytes);
        std::fstream file(disk, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(offset);
        file.write(bytes.data(), std::streamsize(bytes.size()));
        return bool(file);
    }
    int Run(const std::string& arguments, std::string& text) {
        const int status = testsupport::RunCommand(kDriver + " " + arguments + " >" + (dir / "out.txt").string() +
                                                   " 2>" + (dir / "err.txt").string());
        text = testsupport::ReadFile(dir / "out.txt");
        return status;
    }
    testsupport::TempDir dir;
};

}  // namespace

// A GUID disk with two HFS+ partitions (the first at 40, seeded by the protective MBR): both volumes at
// sgdisk's starts and sizes, every file fls lists with its size, every copy with icat's bytes. The
// second volume is listed below its volume name.
TEST_F(HfsDeepScan, GuidDiskListsAndCopiesBothVolumes) {
    const auto table = SgdiskPartitions(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/gpt.sgdisk.txt")));
    ASSERT_EQ(table.size(), 2u);
    fs::path image;
    if (!Assemble("gpt", {{table[0].first, "hfsplus-interleaved.img"}, {table[1].first, "hfsplus-macos.raw"}}, image))
        GTEST_SKIP() << "the shared HFS+ volumes are missing";
    const fs::path recovered = dir / "recovered";
    std::string text;
    ASSERT_EQ(Run("--deep --partitions - --list - --recover '" + recovered.string() + "' '" + image.string() + "'", text), 0)
        << testsupport::ReadFile(dir / "err.txt");
    const Output out = Parse(text);
    ASSERT_EQ(out.partitions.size(), 2u) << text.substr(0, 2000);
    for (size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(out.partitions[k].index, k);
        EXPECT_EQ(out.partitions[k].fileSystem, 8u);
        EXPECT_EQ(out.partitions[k].start, table[k].first);
        EXPECT_EQ(out.partitions[k].sectors, table[k].second);
        EXPECT_EQ(out.partitions[k].sectorsPerCluster, 8u);
        EXPECT_EQ(out.partitions[k].sectorSize, 512u);
    }
    ExpectAsTestDisk(out, "gpt");

    CheckListingAndCopies(out, recovered, {{"gpt-p1", ""}, {"gpt-p2", "hfsplus_test/"}});
}

// An MBR disk with the writer's journaled volume at 2048 and its HFSX volume (512-byte blocks) at 16384,
// without volume records (an image file): the first is placed by its journal info block (it is met by
// the first candidate, which spans the disk), the second by its header at its own start; compressed and
// fragmented files come out whole.
TEST_F(HfsDeepScan, MbrDiskPlacesEachVolume) {
    const auto parts = SfdiskPartitions(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/mbr.sfdisk.txt")));
    ASSERT_EQ(parts.size(), 2u);
    fs::path image;
    ASSERT_TRUE(Assemble("mbr", {{parts[0].first, "hfsplus/journaled"}, {parts[1].first, "hfsplus/hfsx"}}, image, PatchWriterImage));
    const fs::path recovered = dir / "recovered";
    std::string text;
    ASSERT_EQ(Run("--deep --partitions - --list - --recover '" + recovered.string() + "' '" + image.string() + "'", text), 0)
        << testsupport::ReadFile(dir / "err.txt");
    const Output out = Parse(text);
    ASSERT_EQ(out.partitions.size(), 2u) << text.substr(0, 2000);
    const unsigned perCluster[] = {8, 1};
    for (size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(out.partitions[k].start, parts[k].first);
        EXPECT_EQ(out.partitions[k].sectors, parts[k].second);
        EXPECT_EQ(out.partitions[k].sectors, FsstatSectors("mbr-p" + std::to_string(k + 1)));
        EXPECT_EQ(out.partitions[k].sectorsPerCluster, perCluster[k]);
    }
    ExpectAsTestDisk(out, "mbr");
    std::set<std::string> hardLinks, remembered;
    WriterFiles({{"journaled", ""}, {"hfsx", "CASEFUL/"}}, hardLinks, remembered);
    CheckListingAndCopies(out, recovered, {{"mbr-p1", ""}, {"mbr-p2", "CASEFUL/"}}, hardLinks, remembered);
    // The first volume is searched whole (it opens where its header and journal info block say): the
    // files only its journal remembers are listed as deleted, with their sizes.
    const std::string root = out.files.begin()->first.substr(0, out.files.begin()->first.find('/') + 1);
    size_t deleted = 0;
    for (const auto& p : hfs::FixturePlanted("journaled")) {
        if (!p.deleted || p.size == 0) continue;
        SCOPED_TRACE(p.path);
        auto it = out.deleted.find(root + p.path);
        ASSERT_NE(it, out.deleted.end());
        EXPECT_EQ(it->second, i64(p.size));
        ++deleted;
    }
    EXPECT_GT(deleted, 4u);
}

// The MBR disk on a loop device with its partitions shown (partx -a), taken as device enumeration
// presents it: the volumes of its records are searched whole when their first catalog leaf is met and
// their live blocks marked, so a JPEG stored in a live file after that leaf is not carved a second
// time, while its copy in free space is. The first partition alone runs the volume path (one bit per
// allocation block) with the same result.
TEST_F(HfsDeepScan, LoopDiskAndPartitionCarveOnlyFreeSpace) {
    const auto parts = SfdiskPartitions(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/mbr.sfdisk.txt")));
    ASSERT_EQ(parts.size(), 2u);
    fs::path image;
    ASSERT_TRUE(Assemble("mbr", {{parts[0].first, "hfsplus/journaled"}, {parts[1].first, "hfsplus/hfsx"}}, image, PatchWriterImage));
    // In the journaled volume (4096-byte blocks, catalog in blocks 8-15) Docs/Nested/deep.bin fills
    // blocks 88-92 and block 600 is free: the picture goes at the start of both.
    const std::string picture = testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/picture.jpg"));
    const long long volume = parts[0].first * 512, live = volume + 88 * 4096, unused = volume + 600 * 4096;
    {
        std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
        std::string bytes(20000, '\0');
        file.seekg(live);
        file.read(bytes.data(), std::streamsize(bytes.size()));
        ASSERT_EQ(testsupport::Sha256Hex(bytes), IcatHash("mbr-p1", "Docs/Nested/deep.bin"));
        bytes.assign(picture.size(), '\0');
        file.seekg(unused);
        file.read(bytes.data(), std::streamsize(bytes.size()));
        ASSERT_EQ(bytes, std::string(picture.size(), '\0'));
        for (long long at : {live, unused}) {
            file.seekp(at);
            file.write(picture.data(), std::streamsize(picture.size()));
        }
        ASSERT_TRUE(file);
    }
    testsupport::LoopDevice loop(image, 512, true, true);
    if (loop.empty()) GTEST_SKIP() << "no loop device (needs root)";
    ASSERT_FALSE(loop.Partition(2).empty()) << "the kernel shows no partitions of " << loop.Device();

    struct Case {
        std::string source;
        std::vector<Partition> partitions;  // start, sectors, sectors per cluster
        std::vector<std::pair<std::string, std::string>> volumes;
        long long carvedAt;  // the copy in free space, in sectors of the source
    };
    const Case cases[] = {
        {loop.Device(), {{parts[0].first, parts[0].second, 0, 0, 8}, {parts[1].first, parts[1].second, 0, 0, 1}},
         {{"mbr-p1", "JOURNALED/"}, {"mbr-p2", "CASEFUL/"}}, unused / 512},
        {loop.Partition(1), {{0, parts[0].second, 0, 0, 8}}, {{"mbr-p1", ""}}, (unused - volume) / 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const fs::path recovered = dir / ("recovered" + std::to_string(&c - cases));
        std::string text;
        ASSERT_EQ(Run("--deep --partitions - --list - --recover '" + recovered.string() + "' " + c.source, text), 0)
            << testsupport::ReadFile(dir / "err.txt");
        const Output out = Parse(text);
        ASSERT_EQ(out.partitions.size(), c.partitions.size()) << text.substr(0, 2000);
        for (size_t k = 0; k < c.partitions.size(); ++k) {
            EXPECT_EQ(out.partitions[k].fileSystem, 8u);
            EXPECT_EQ(out.partitions[k].start, c.partitions[k].start);
            EXPECT_EQ(out.partitions[k].sectors, c.partitions[k].sectors);
            EXPECT_EQ(out.partitions[k].sectorsPerCluster, c.partitions[k].sectorsPerCluster);
            EXPECT_EQ(out.partitions[k].sectorSize, 512u);
        }
        const std::string journaled = c.volumes[0].second;
        std::set<std::string> hardLinks, remembered;
        WriterFiles({{"journaled", journaled}, {"hfsx", "CASEFUL/"}}, hardLinks, remembered);
        remembered.insert(journaled + "Docs/Nested/deep.bin");  // now begins with the picture
        CheckListingAndCopies(out, recovered, c.volumes, hardLinks, remembered);

        const std::string root = out.files.begin()->first.substr(0, out.files.begin()->first.find('/') + 1);
        const std::string deep = testsupport::ReadFile(recovered / (root + journaled + "Docs/Nested/deep.bin"));
        EXPECT_EQ(deep.size(), 20000u);
        EXPECT_EQ(deep.substr(0, picture.size()), picture);
        std::vector<std::string> jpegs;
        for (const auto& [path, size] : out.carved)
            if (path.size() > 4 && path.compare(path.size() - 4, 4, ".JPG") == 0) jpegs.push_back(path);
        ASSERT_EQ(jpegs.size(), 1u) << text.substr(0, 3000);
        EXPECT_EQ(fs::path(jpegs[0]).filename().string().rfind(std::to_string(c.carvedAt) + "-", 0), 0u) << jpegs[0];
        EXPECT_EQ(out.carved.at(jpegs[0]), (long long)picture.size());
        EXPECT_EQ(testsupport::ReadFile(recovered / jpegs[0]), picture);
    }
}

// A disk of 4096-byte sectors (a loop device) without a partition table, holding the journaled volume
// at 1 MiB: found from its journal info block at sector 256 with clusters of one sector; its files are
// fls's and its copies icat's.
TEST_F(HfsDeepScan, LoopDiskOf4096ByteSectors) {
    const fs::path image = dir / "4k.img";
    { std::ofstream(image, std::ios::binary); }
    fs::resize_file(image, 16 << 20);
    ASSERT_TRUE(Place(image, 1 << 20, "hfsplus/journaled", PatchWriterImage));
    testsupport::LoopDevice loop(image, 4096, true);
    if (loop.empty()) GTEST_SKIP() << "no loop device (needs root)";
    const fs::path recovered = dir / "recovered";
    std::string text;
    ASSERT_EQ(Run("--deep --partitions - --list - --recover '" + recovered.string() + "' " + loop.Device(), text), 0)
        << testsupport::ReadFile(dir / "err.txt");
    const Output out = Parse(text);
    ASSERT_EQ(out.partitions.size(), 1u) << text.substr(0, 2000);
    EXPECT_EQ(out.partitions[0].start, 256);
    EXPECT_EQ(out.partitions[0].sectors, 1024);
    EXPECT_EQ(out.partitions[0].sectorsPerCluster, 1u);
    EXPECT_EQ(out.partitions[0].sectorSize, 4096u);
    std::set<std::string> hardLinks, remembered;
    WriterFiles({{"journaled", ""}}, hardLinks, remembered);
    CheckListingAndCopies(out, recovered, {{"mbr-p1", ""}}, hardLinks, remembered);
}

// The journaled volume of the MBR disk lost: its header and alternate header zeroed, its journal info
// block kept. With a stale copy of its header met before its catalog (as a journal keeps one) it is
// found again at its start from the journal info block, with the files of its catalog leaves read
// through the volume placed at that start, and so it is with the partition table wiped too. Without
// any copy of its header it is rebuilt from its journal structures and tree header nodes, and its
// journal info block does not misplace the HFSX volume met after it.
TEST_F(HfsDeepScan, LostVolumeIsFoundFromItsJournalInfoBlock) {
    const auto parts = SfdiskPartitions(testsupport::ReadFile(testsupport::FixturePath("hfsplus-disk/mbr.sfdisk.txt")));
    ASSERT_EQ(parts.size(), 2u);
    struct Case {
        const char* name;
        bool staleCopy, wipeTable;
    };
    for (const Case c : {Case{"stale copy", true, false}, Case{"stale copy, no table", true, true}, Case{"no copy", false, false}}) {
        SCOPED_TRACE(c.name);
        fs::path image;
        ASSERT_TRUE(Assemble("mbr", {{parts[0].first, "hfsplus/journaled"}, {parts[1].first, "hfsplus/hfsx"}}, image,
                             [&](const std::string& name, std::string& bytes) {
                                 PatchWriterImage(name, bytes);
                                 if (name != "hfsplus/journaled") return;
                                 const std::string header = bytes.substr(1024, 512);
                                 for (size_t at : {size_t(1024), bytes.size() - 1024}) bytes.replace(at, 512, 512, '\0');
                                 if (c.staleCopy) bytes.replace(0, 512, header);
                             }));
        if (c.wipeTable) {
            std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
            file.write(std::string(512, '\0').data(), 512);
        }
        const fs::path recovered = dir / (std::string("recovered ") + c.name);
        std::string text;
        // Not searched whole, the lost volume gives the files only its journal remembers from their leaves
        // alone; those whose blocks its journal's deleted records place are unreadable: the exit code and
        // the summary say so, for no more files than those.
        const int status = Run("--deep --verbose --partitions - --list - --recover '" + recovered.string() + "' '" +
                                   image.string() + "'",
                               text);
        ASSERT_NE(text.find("copied "), std::string::npos) << testsupport::ReadFile(dir / "err.txt");
        const size_t unreadableAt = text.find("unreadable ");
        if (status != 0) {
            ASSERT_NE(unreadableAt, std::string::npos) << text.substr(text.find("copied "));
            size_t rememberedCount = 0;
            for (const auto& p : hfs::FixturePlanted("journaled")) rememberedCount += p.deleted ? 1 : 0;
            EXPECT_LE(std::stoul(text.substr(unreadableAt + 11)), rememberedCount);
        }
        const Output out = Parse(text);
        std::set<std::string> hardLinks, remembered;
        if (c.staleCopy) {
            ASSERT_EQ(out.partitions.size(), 2u) << text.substr(0, 2000);
            const unsigned perCluster[] = {8, 1};
            for (size_t k = 0; k < 2; ++k) {
                EXPECT_EQ(out.partitions[k].start, parts[k].first);
                EXPECT_EQ(out.partitions[k].sectors, parts[k].second);
                EXPECT_EQ(out.partitions[k].sectorsPerCluster, perCluster[k]);
            }
            WriterFiles({{"journaled", ""}, {"hfsx", "CASEFUL/"}}, hardLinks, remembered);
            // The journal info block lies after the catalog in the writer's volumes: at its first leaf the
            // lost volume is placed by its catalog's header node, not where the stale copy lies, so its
            // compressed files and those with overflow extents read whole (compared below with icat).
            size_t readThroughVolume = 0;
            for (const auto& p : hfs::FixturePlanted("journaled"))
                if (!p.deleted && (p.compression || p.extents > 8)) ++readThroughVolume;
            EXPECT_GE(readThroughVolume, 4u);
            // Not searched whole, the lost volume's leaves and its journal's older ones give a live
            // and a remembered replaced.txt side by side, and its hard link's file, whose folder has
            // no leaf record met, is filed as a lost file.
            hardLinks.insert("replaced.txt");
            hardLinks.insert("Other lost files/iNode37");
            CheckListingAndCopies(out, recovered, {{"mbr-p1", ""}, {"mbr-p2", "CASEFUL/"}}, hardLinks, remembered);
        } else {
            // Without any copy of its header the lost volume is rebuilt from its journal info block and
            // journal header (its start: the journal header less the journal's offset) and its trees'
            // header nodes; its size is what its allocation file counts, fsstat's figure (not the room
            // up to the next volume). The HFSX volume, whose own journal info block came after the lost
            // one's, keeps the start its header gives.
            ASSERT_EQ(out.partitions.size(), 2u) << text.substr(0, 2000);
            EXPECT_EQ(out.partitions[0].start, parts[1].first);
            EXPECT_EQ(out.partitions[0].sectors, parts[1].second);
            EXPECT_EQ(out.partitions[1].start, parts[0].first);
            EXPECT_EQ(out.partitions[1].sectors, FsstatSectors("mbr-p1"));
            EXPECT_LT(FsstatSectors("mbr-p1"), parts[1].first - parts[0].first);
            EXPECT_EQ(out.partitions[1].sectorsPerCluster, 8u);
            EXPECT_NE(testsupport::ReadFile(dir / "err.txt").find(" Can't Find Volume Start Sector!"), std::string::npos);
            WriterFiles({{"hfsx", ""}, {"journaled", "JOURNALED/"}}, hardLinks, remembered);
            hardLinks.insert("JOURNALED/replaced.txt");
            CheckListingAndCopies(out, recovered, {{"mbr-p2", ""}, {"mbr-p1", "JOURNALED/"}}, hardLinks, remembered);
        }
    }
}

// A hostile disk, a journal header's signature in every one of its 32768 sectors: the scan writes
// nothing to standard output (the list goes to its file) and, unless asked, nothing to standard error.
// Asked (--verbose), the engine's lines come at a bounded rate: at most a burst and a few a second of
// the scan (each run of dropped lines announced once), far fewer than the signatures.
TEST_F(HfsDeepScan, ADiskFullOfJournalSignaturesStaysQuiet) {
    const fs::path image = dir / "journal-signatures.img";
    {
        std::string sector(512, '\0');
        const unsigned char head[] = {0x78, 0x4C, 0x4E, 0x4A, 0x78, 0x56, 0x34, 0x12};  // "xLNJ", 0x12345678 (LE)
        std::copy(std::begin(head), std::end(head), sector.begin());
        std::ofstream out(image, std::ios::binary);
        for (int s = 0; s < 32768; ++s) out.write(sector.data(), std::streamsize(sector.size()));
    }
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "--verbose" : "quiet");
        const auto start = std::chrono::steady_clock::now();
        std::string out;
        const int status = Run(std::string("--deep ") + (verbose ? "--verbose " : "") + "--list '" +
                                   (dir / "list.txt").string() + "' '" + image.string() + "'",
                               out);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out, "");
        // The driver's own lines ("brelvox-scan: ..." such as "found no volume") are no engine lines.
        const std::string err = testsupport::ReadFile(dir / "err.txt");
        long lines = 0;
        std::istringstream errLines(err);
        for (std::string line; std::getline(errLines, line);)
            if (line.rfind("brelvox-scan: ", 0) != 0) ++lines;
        if (!verbose) {
            EXPECT_EQ(lines, 0) << err.substr(0, 2000);
            continue;
        }
        EXPECT_NE(err.find("Find JournalHeader:"), std::string::npos) << err.substr(0, 2000);
        EXPECT_NE(err.find("(engine debug lines dropped"), std::string::npos) << err.substr(0, 2000);
        const long written = debugchannel::kBurstLines + long(std::ceil(seconds + 1)) * debugchannel::kLinesPerSecond;
        EXPECT_LE(lines, 2 * written + 1);
        EXPECT_LT(lines, 32768 / 4);
    }
}

// Real volumes of ../shared/fixtures scanned deep, whole and with their header at sector 2 zeroed: the
// live files are fls's with their sizes and every copy has icat's bytes. The journaled volume keeps
// older copies of file1.txt's catalog record (23 bytes) in its journal; the record in place (28 bytes)
// is the one listed and copied, whether the volume's walk lists it or, with the header lost, the volume
// is placed by its journal info block and read through the newest copy of its header. The volume
// without a journal has only its stale alternate header left (written when it was formatted): the
// leaves met before it are read again once it places them.
TEST_F(HfsDeepScan, RealVolumesListTheRecordsInPlace) {
    struct Case {
        const char* name;
        bool headerLost;
    };
    for (const Case c : {Case{"hfsplus-journal-nps.dmg", false}, Case{"hfsplus-journal-nps.dmg", true},
                         Case{"hfsplus-interleaved.img", true}}) {
        SCOPED_TRACE(testing::Message() << c.name << (c.headerLost ? ", header lost" : ""));
        const auto xz = testsupport::SharedFixturePath(std::string(c.name) + ".xz");
        ASSERT_TRUE(xz) << "../shared/fixtures/" << c.name << ".xz is missing";
        const fs::path image = testsupport::UnpackXz(*xz, dir.path());
        if (c.headerLost) {
            std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
            file.seekp(2 * 512);
            file.write(std::string(512, '\0').data(), 512);
            ASSERT_TRUE(file);
        }
        const fs::path recovered = dir / (std::string("recovered ") + c.name + (c.headerLost ? " lost" : ""));
        std::string text;
        ASSERT_EQ(Run("--deep --list - --recover '" + recovered.string() + "' '" + image.string() + "'", text), 0)
            << testsupport::ReadFile(dir / "err.txt");
        const Output out = Parse(text);
        // Some shared listings are fls -l's: the size is then the seventh field.
        std::ostringstream shortFls;
        std::istringstream longFls(testsupport::ReadFile(*testsupport::SharedFixturePath(std::string(c.name) + ".fls.txt")));
        for (std::string line; std::getline(longFls, line);) {
            const auto f = hfs::SplitTabs(line);
            if (f.size() >= 3) shortFls << f[0] << '\t' << f[1] << '\t' << f[f.size() >= 7 ? 6 : 2] << '\n';
        }
        const auto fls = PublishedFls(shortFls.str());
        std::map<std::string, long long> listed;
        for (const auto& [path, size] : out.files) listed[path.substr(path.find('/') + 1)] = size;
        EXPECT_EQ(listed, fls);
        std::istringstream icat(
            testsupport::ReadFile(testsupport::FixturePath("hfsplus/shared-" + std::string(c.name) + ".icat.txt")));
        size_t copies = 0;
        for (std::string line; std::getline(icat, line);) {
            const std::string path = Shown(line.substr(66));
            if (!fls.count(path)) continue;
            SCOPED_TRACE(path);
            EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(recovered / "Disk(HFS+)" / path)), line.substr(0, 64));
            ++copies;
        }
        EXPECT_EQ(copies, fls.size());
        if (std::string(c.name) == "hfsplus-journal-nps.dmg") {
            EXPECT_EQ(testsupport::ReadFile(recovered / "Disk(HFS+)/file1.txt"), "New file 1 contents - snarf\n");
        }
    }
}
