// brelvox-scan --deep over whole disks holding APFS containers, end to end: disks assembled from the
// committed GPT skeletons and container images (tests/fixtures/apfs-disk/layouts.tsv), each also with its
// partition table wiped. The partition records against mmls and pstat, container 0's live files against
// fls, the copies against icat, deleted files against what was written, a second container's name and
// deleted nodes, the volume-only cases, a tree node in the tail of an odd-sized disk, and 4096-byte
// sectors through a loop device.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/APFS/ApfsTestSupport.h"
#include "support/DriverListing.h"
#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using apfstest::Listed;

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";
constexpr i64 kBlock = 4096;

fs::path DiskFixture(const std::string& name) {
    return testsupport::FixturePath("apfs-disk/" + name);
}

// One line of layouts.tsv: the disk's sectors and the pieces copied onto its skeleton.
struct Piece {
    std::string image;  // "zero" for 4096 zero bytes
    i64 block = -1;     // one block of the image, or the whole image
    i64 sector = 0;
};
struct Layout {
    std::string name;
    i64 sectors = 0;
    std::vector<Piece> pieces;
};

Layout LayoutOf(const std::string& name) {
    std::ifstream in(DiskFixture("layouts.tsv"));
    for (std::string line; std::getline(in, line);) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() < 3 || f[0] != name) continue;
        Layout layout{name, std::stoll(f[2]), {}};
        for (size_t k = 3; k < f.size(); ++k) {
            const size_t at = f[k].find('@'), colon = f[k].find(':');
            Piece piece{f[k].substr(0, std::min(at, colon)), -1, std::stoll(f[k].substr(at + 1))};
            if (colon < at) piece.block = std::stoll(f[k].substr(colon + 1, at - colon - 1));
            layout.pieces.push_back(piece);
        }
        return layout;
    }
    throw std::runtime_error("no layout " + name);
}

// The image a piece names: the committed containers, or the shared ones (nothing without them).
std::optional<fs::path> SourceOf(const std::string& image) {
    if (image == "records" || image == "longname") return apfstest::Image("apfs-" + image);
    return apfstest::SharedImage(image);
}

void WriteAt(int fd, const std::string& bytes, i64 offset) {
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), ssize_t(bytes.size()));
}

// Copies the data extents of a sparse image to offset `at` of the disk (holes stay holes).
void CopySparse(const fs::path& from, int to, i64 at) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(in, 0) << from;
    const i64 size = i64(fs::file_size(from));
    std::string buffer(1 << 20, '\0');
    for (i64 data = ::lseek(in, 0, SEEK_DATA); data >= 0 && data < size;) {
        const i64 hole = std::min<i64>(::lseek(in, data, SEEK_HOLE), size);
        for (i64 pos = data; pos < hole;) {
            const ssize_t got = ::pread(in, buffer.data(), size_t(std::min<i64>(hole - pos, i64(buffer.size()))), pos);
            ASSERT_GT(got, 0);
            WriteAt(to, buffer.substr(0, size_t(got)), at + pos);
            pos += got;
        }
        data = ::lseek(in, hole, SEEK_DATA);
    }
    ::close(in);
}

// The disk of a layout in dir (its skeleton with the pieces on it), the table wiped when asked: its first
// 34 and last 33 sectors zeroed. Nothing when a shared image is missing.
std::optional<fs::path> Assemble(const std::string& name, const fs::path& dir, bool wiped) {
    const Layout layout = LayoutOf(name);
    for (const Piece& p : layout.pieces)
        if (p.image != "zero" && !SourceOf(p.image)) return std::nullopt;
    const fs::path disk = dir / (name + (wiped ? "-wiped.img" : ".img"));
    std::ofstream{disk};
    fs::resize_file(disk, u64(layout.sectors) * 512);
    const int fd = ::open(disk.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + disk.string());
    // The skeleton, unpacked once for the build (xz takes seconds over a gigabyte of holes).
    if (fs::exists(DiskFixture(name + ".gpt.xz")))
        CopySparse(testsupport::UnpackXzShared(DiskFixture(name + ".gpt.xz")), fd, 0);
    for (const Piece& p : layout.pieces) {
        if (p.image == "zero") {
            WriteAt(fd, std::string(kBlock, '\0'), p.sector * 512);
        } else if (p.block < 0) {
            CopySparse(*SourceOf(p.image), fd, p.sector * 512);
        } else {
            std::string block(kBlock, '\0');
            const int in = ::open(SourceOf(p.image)->c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_EQ(::pread(in, block.data(), block.size(), p.block * kBlock), kBlock);
            ::close(in);
            WriteAt(fd, block, p.sector * 512);
        }
    }
    if (wiped) {
        WriteAt(fd, std::string(34 * 512, '\0'), 0);
        WriteAt(fd, std::string(33 * 512, '\0'), (layout.sectors - 33) * 512);
    }
    ::close(fd);
    return disk;
}

struct Partition {
    u32 searcher, index, fileSystem;
    i64 start, cluster0, sectors;
    u32 sectorsPerCluster, sectorSize;
    bool operator==(const Partition&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Partition& p) {
    return out << "{" << p.searcher << " #" << p.index << " fs " << p.fileSystem << " at " << p.start << "/"
               << p.cluster0 << " sectors " << p.sectors << " spc " << p.sectorsPerCluster << " of " << p.sectorSize
               << "}";
}

struct Output {
    std::vector<Partition> partitions;
    std::map<std::string, testsupport::ListedLine> listed;  // by path below the source's root folder
    std::string summary;
    std::string text;
};

Output Parse(const std::string& text) {
    Output out;
    out.text = text;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() == 9) {
            out.partitions.push_back({u32(std::stoul(f[0])), u32(std::stoul(f[1])), u32(std::stoul(f[2])),
                                      std::stoll(f[3]), std::stoll(f[4]), std::stoll(f[5]), u32(std::stoul(f[6])),
                                      u32(std::stoul(f[7]))});
        } else if (testsupport::ListedLine l; testsupport::ParseListedLine(line, "37", l)) {
            out.listed[l.path] = l;
        } else if (line.rfind("copied ", 0) == 0) {
            out.summary = line;
        }
    }
    return out;
}

// The partitions of a skeleton as mmls lists them: (start, length) in 512-byte sectors.
std::vector<std::pair<i64, i64>> Mmls(const std::string& name) {
    std::vector<std::pair<i64, i64>> out;
    std::ifstream in(DiskFixture(name + ".mmls.txt"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        std::string slot, kind;
        i64 start = 0, end = 0, length = 0;
        if (f >> slot >> kind >> start >> end >> length && kind != "Meta" && kind.find('-') == std::string::npos)
            out.emplace_back(start, length);
    }
    return out;
}

// From a pstat golden: the container's blocks and its first volume's name.
struct Pstat {
    i64 blocks = 0;
    std::string volume;
};
Pstat PstatOf(const std::string& golden) {
    Pstat out;
    std::ifstream in(DiskFixture(golden));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Number of Blocks:", 0) == 0) out.blocks = std::stoll(line.substr(line.find(':') + 1));
        const size_t name = line.find("Name (Role): ");
        if (name != std::string::npos && out.volume.empty()) {
            out.volume = line.substr(name + 13);
            out.volume.resize(out.volume.rfind(" ("));
        }
    }
    return out;
}

// The files a container's writer deleted, with their bytes: path, size, SHA-256.
struct Deleted {
    std::string path;
    i64 size;
    std::string sha256;
};
std::vector<Deleted> DeletedOfRecords() {
    std::vector<Deleted> out;
    std::ifstream in(testsupport::FixturePath("apfs/apfs-records.manifest.tsv"));
    for (std::string line; std::getline(in, line);) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() >= 5 && f[0] == "deleted" && f[1] == "r") out.push_back({f[2], std::stoll(f[3]), f[4]});
    }
    return out;
}
std::vector<Deleted> DeletedOfGolden(const std::string& golden) {
    std::vector<Deleted> out;
    std::ifstream in(DiskFixture(golden));
    for (std::string line; std::getline(in, line);) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() >= 3) out.push_back({f[0], std::stoll(f[1]), f[2]});
    }
    return out;
}

// What one container of a disk must show.
struct Container {
    u32 index;
    i64 start, sectors;
    std::string golden;            // LAYOUT-pP (fls, icat, pstat), or empty: no file expected from a walk
    std::vector<Deleted> deleted;  // deleted files expected with their bytes
};

class ApfsDeepScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    Output Scan(const std::string& source, const fs::path& recovered) {
        std::string text;
        const int status =
            testsupport::RunCommand(kDriver + " --deep --partitions - --list - --recover '" + recovered.string() +
                                        "' '" + source + "' 2>" + (dir / "err.txt").string(),
                                    &text);
        EXPECT_EQ(status, 0) << testsupport::ReadFile(dir / "err.txt");
        return Parse(text);
    }
    // The checks of one scan: partitions, container 0's live tree, the later containers' names and
    // deleted nodes, the deleted files, and every copy.
    void Check(const Output& out, const fs::path& recovered, const std::vector<Container>& containers,
               u32 sectorSize = 512) {
        const i64 scale = sectorSize / 512;
        ASSERT_EQ(out.partitions.size(), containers.size()) << out.text.substr(0, 2000);
        std::vector<std::string> names(containers.size());  // the folder of each container below the root
        for (size_t k = 0; k < containers.size(); ++k) {
            const Container& c = containers[k];
            EXPECT_EQ(out.partitions[k],
                      (Partition{37, c.index, 9, c.start / scale, c.start / scale, c.sectors / scale, 1, sectorSize}));
            if (k > 0) names[k] = PstatOf(c.golden + ".pstat.txt").volume + "_" + std::to_string(k);
        }
        fs::path root;
        for (const auto& entry : fs::directory_iterator(recovered)) root = entry.path();
        const auto containerOf = [&](const std::string& path) -> size_t {
            for (size_t k = 1; k < names.size(); ++k)
                if (path == names[k] || path.rfind(names[k] + "/", 0) == 0) return k;
            return 0;
        };
        const auto within = [&](size_t k, const std::string& path) { return k == 0 ? path : names[k] + "/" + path; };

        // Container 0's live tree is fls's (less the private folder fls does not list; the trash folder,
        // which the name rule marks deleted, counted live); every later container's nodes are deleted,
        // and the container's folder holds them.
        std::vector<Listed> live;
        for (const auto& [path, line] : out.listed) {
            const size_t k = containerOf(path);
            if (k > 0) {
                EXPECT_TRUE(line.deleted) << path;
                continue;
            }
            if (path == "private-dir") continue;
            if (!line.deleted || path == "Trashes" || path.rfind("Trashes/", 0) == 0)
                live.push_back({path, line.size, line.directory});
        }
        std::sort(live.begin(), live.end());
        const std::vector<Listed> fls = containers[0].golden.empty()
                                            ? std::vector<Listed>{}
                                            : apfstest::FlsGolden(DiskFixture(containers[0].golden + ".fls.txt"));
        EXPECT_EQ(live, fls);
        // A container 0 that expects nothing lists no file: the nodes of a later container are that one's.
        if (containers[0].golden.empty() && containers[0].deleted.empty()) {
            for (const auto& [path, line] : out.listed)
                EXPECT_TRUE(containerOf(path) > 0 || line.directory) << "under container 0: " << path;
        }
        for (size_t k = 1; k < names.size(); ++k) {
            ASSERT_TRUE(out.listed.count(names[k])) << names[k];
            EXPECT_TRUE(out.listed.at(names[k]).directory);
        }

        // Every file fls lists in each container is listed with its size and copied with icat's bytes.
        for (size_t k = 0; k < containers.size(); ++k) {
            const auto icat = containers[k].golden.empty()
                                  ? std::vector<apfstest::IcatLine>{}
                                  : apfstest::IcatGolden(DiskFixture(containers[k].golden + ".icat.txt"));
            for (const auto& file : icat) {
                const std::string path = within(k, file.path);
                SCOPED_TRACE(path);
                ASSERT_TRUE(out.listed.count(path));
                EXPECT_EQ(out.listed.at(path).size, file.size);
                ASSERT_TRUE(fs::exists(root / path));
                EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(root / path)), file.sha256);
            }
            // The deleted files: listed deleted, copied with the bytes their writer gave them.
            for (const Deleted& file : containers[k].deleted) {
                const std::string path = within(k, file.path);
                SCOPED_TRACE(path);
                ASSERT_TRUE(out.listed.count(path));
                EXPECT_TRUE(out.listed.at(path).deleted);
                EXPECT_EQ(out.listed.at(path).size, file.size);
                if (!file.sha256.empty()) {
                    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(root / path)), file.sha256);
                }
            }
        }
        EXPECT_EQ(out.summary.substr(out.summary.find(',')), ", failed 0") << out.summary;
    }
    // The containers of a GPT disk, one per partition, from its mmls and pstat goldens.
    static std::vector<Container> FromGoldens(const std::string& name, std::vector<std::vector<Deleted>> deleted) {
        std::vector<Container> out;
        const auto mmls = Mmls(name);
        for (size_t k = 0; k < mmls.size(); ++k) {
            const std::string golden = name + "-p" + std::to_string(k + 1);
            out.push_back({u32(k), mmls[k].first, PstatOf(golden + ".pstat.txt").blocks * 8, golden,
                           k < deleted.size() ? deleted[k] : std::vector<Deleted>{}});
        }
        return out;
    }
    // Scans the disk and its wiped copy: both give the checks' results, and the same output.
    void ScanBoth(const std::string& name, const std::vector<Container>& containers) {
        const auto disk = Assemble(name, dir.path(), false);
        if (!disk) GTEST_SKIP() << "no shared fixtures";
        const Output intact = Scan(disk->string(), dir / "intact");
        {
            SCOPED_TRACE(name);
            Check(intact, dir / "intact", containers);
        }
        fs::remove(*disk);
        const auto wiped = Assemble(name, dir.path(), true);
        const Output bare = Scan(wiped->string(), dir / "wiped");
        SCOPED_TRACE(name + " wiped");
        Check(bare, dir / "wiped", containers);
        EXPECT_EQ(bare.text, intact.text);
        fs::remove(*wiped);
    }

    testsupport::TempDir dir;
};

// Two containers: records (whose checkpoint superblock copy, same UUID, follows its block 0: one
// container) and longname after it, index 1, named after its volume.
TEST_F(ApfsDeepScan, TwoContainersAtTheirStartsWithTheirFiles) {
    const auto containers = FromGoldens("two", {DeletedOfRecords()});
    ASSERT_EQ(containers.size(), 2u);
    ScanBoth("two", containers);
}

// The shared images: the macOS container, then the 1 GiB container whose deleted files live in old
// copy-on-write nodes.
TEST_F(ApfsDeepScan, TheMacOsAndLinuxWrittenContainers) {
    const auto containers = FromGoldens("shared", {{}, DeletedOfGolden("shared-p2.deleted.txt")});
    ASSERT_EQ(containers.size(), 2u);
    ScanBoth("shared", containers);
    // OldDir is a deleted folder of the second container; del1.bin left no record behind (its name
    // survives only in unused space of a tree node): it cannot be listed.
}

// A volume superblock before any container: a volume-only container at sector 0 over the whole disk;
// its walk reaches nothing here (its trees are elsewhere), and records' own container is index 1 (its
// own volume superblock, met after a container, is only analysed as a block). The tree nodes inside
// records go to records alone: under container 0 their runs would be read from sector 0, where their
// data is not.
TEST_F(ApfsDeepScan, AVolumeSuperblockBeforeTheContainer) {
    const Layout layout = LayoutOf("volfirst");
    const auto mmls = Mmls("volfirst");
    ASSERT_EQ(mmls.size(), 1u);
    const std::vector<Container> containers = {
        {0, 0, layout.sectors, "", {}},
        {1, mmls[0].first, PstatOf("volfirst-p1.pstat.txt").blocks * 8, "volfirst-p1", DeletedOfRecords()}};
    ScanBoth("volfirst", containers);
}

// A container whose superblocks are all gone: the volume superblock makes a volume-only container at
// sector 0, whose walk gives the live tree, and the deleted files come from block analysis.
TEST_F(ApfsDeepScan, AContainerWithoutItsSuperblocks) {
    const auto disk = Assemble("volonly", dir.path(), false);
    ASSERT_TRUE(disk);
    const Output out = Scan(disk->string(), dir / "recovered");
    Check(out, dir / "recovered", {{0, 0, LayoutOf("volonly").sectors, "volonly-p1", DeletedOfRecords()}});
}

// The disk ends 9 blocks into a group of 16; a tree node of records, its own block zeroed, sits in that
// last group: Gone.txt is found only there.
TEST_F(ApfsDeepScan, ATreeNodeInTheTailOfAnOddSizedDisk) {
    const auto mmls = Mmls("odd");
    ASSERT_EQ(mmls.size(), 1u);
    ASSERT_EQ(LayoutOf("odd").sectors % 128, 72);
    std::vector<Deleted> gone;
    for (const Deleted& d : DeletedOfRecords())
        if (d.path == "Gone.txt") gone.push_back(d);
    ASSERT_EQ(gone.size(), 1u);
    ScanBoth("odd", {{0, mmls[0].first, PstatOf("odd-p1.pstat.txt").blocks * 8, "odd-p1", gone}});
}

// 4096-byte sectors through a loop device: the same containers, starts and sizes in sectors of 4096,
// the same files and copies.
TEST_F(ApfsDeepScan, TwoContainersOnALoopDeviceOf4096ByteSectors) {
    const auto disk = Assemble("two", dir.path(), false);
    ASSERT_TRUE(disk);
    testsupport::LoopDevice loop(*disk, 4096, true);
    if (loop.empty()) GTEST_SKIP() << "no loop device with 4096-byte sectors here (needs root and losetup)";
    const Output out = Scan(loop.Device(), dir / "recovered");
    Check(out, dir / "recovered", FromGoldens("two", {DeletedOfRecords()}), 4096);
}

}  // namespace
