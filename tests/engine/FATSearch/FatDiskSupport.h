// Shared by the deep FAT search tests (engine and driver): the disks of tests/fixtures/fat-disk (unpacked
// once per program), their copies, their Sleuth Kit and TestDisk goldens, a recording builder's nodes by
// partition and path, and one deep scan through the block feeder.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/FATLib/FatTestSupport.h"
#include "engine/FATSearch/FATCompleteFSearcher.h"
#include "engine/FATSearch/FATSearchedPartitionInfo.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "support/DeepBlockFeeder.h"
#include "support/Fixtures.h"

namespace fatdisk {

inline constexpr const char* kFolder = "fat-disk";

inline std::vector<std::string> Fields(const std::string& line, char separator = '\t') {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) out.push_back(field);
    return out;
}

// "disk" or "disk-4k", unpacked; a copy of copies.tsv ("disk-mbr-zeroed", ...) or a hostile case made in dir.
inline std::filesystem::path Disk(const std::string& name = "disk") { return fattest::Image(name, kFolder); }
inline std::filesystem::path Copy(const std::string& caseName, const std::filesystem::path& dir) {
    return fattest::PatchedImage(caseName, dir, kFolder, "copies.tsv");
}
inline std::filesystem::path Hostile(const std::string& caseName, const std::filesystem::path& dir) {
    return fattest::PatchedImage(caseName, dir, kFolder, "hostile.tsv");
}
inline std::vector<std::string> HostileCases() {
    std::vector<std::string> out;
    for (const auto& [name, patches] : fattest::HostilePatches(kFolder)) out.push_back(name);
    return out;
}

// A volume of a disk: its goldens' name ("p1", "4k-p2") and where mmls puts it.
struct Volume {
    std::string name;
    i64 start;
    i64 length;
};
// mmls's FAT partitions of "disk" or "disk-4k", in table order.
inline std::vector<Volume> Volumes(const std::string& disk = "disk") {
    std::vector<Volume> out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/" + disk + ".mmls.txt"));
    for (std::string line; std::getline(in, line);) {
        if (line.find("FAT") == std::string::npos) continue;
        std::istringstream words(line);
        std::string slot, kind;
        i64 start = 0, end = 0, length = 0;
        words >> slot >> kind >> start >> end >> length;
        const std::string prefix = disk == "disk" ? "p" : "4k-p";
        out.push_back({prefix + std::to_string(out.size() + 1), start, length});
    }
    return out;
}

// fsstat's layout of a volume, in sectors from the volume's start.
struct Fsstat {
    i64 sectors = 0;       // Total Range: 0 - N-1
    i64 clusterArea = 0;   // Cluster Area: first sector (cluster 2)
    i64 clusterBytes = 0;  // Cluster Size
    i64 sectorSize = 0;
};
inline Fsstat FsstatOf(const std::string& volume) {
    Fsstat out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/disk-" + volume + ".fsstat.txt"));
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, std::regex("^Total Range: 0 - (\\d+)"))) out.sectors = std::stoll(m[1]) + 1;
        if (std::regex_search(line, m, std::regex("Cluster Area: (\\d+)"))) out.clusterArea = std::stoll(m[1]);
        if (std::regex_search(line, m, std::regex("^Cluster Size: (\\d+)"))) out.clusterBytes = std::stoll(m[1]);
        if (std::regex_search(line, m, std::regex("^Sector Size: (\\d+)"))) out.sectorSize = std::stoll(m[1]);
    }
    return out;
}

// TestDisk's FAT partitions on the disk without its MBR: start (from CHS, 255 heads, 63 sectors), length,
// label, each once.
struct TestDiskPartition {
    std::string type;
    i64 start;
    i64 length;
    std::string label;
};
inline std::vector<TestDiskPartition> TestDiskPartitions() {
    std::vector<TestDiskPartition> out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/disk.testdisk.txt"));
    const std::regex row("^(FAT\\d+)(?: <32M)?\\s+(\\d+)\\s+(\\d+)\\s+(\\d+)\\s+\\d+\\s+\\d+\\s+\\d+\\s+(\\d+) \\[(.*)\\]$");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) continue;
        const TestDiskPartition p{m[1], std::stoll(m[2]) * 255 * 63 + std::stoll(m[3]) * 63 + std::stoll(m[4]) - 1,
                                  std::stoll(m[5]), m[6]};
        bool seen = false;
        for (const auto& q : out) seen = seen || q.start == p.start;
        if (!seen) out.push_back(p);
    }
    return out;
}

// fls -r -p -o START of a volume, orphans included (their fls paths start with "$OrphanFiles/").
inline std::vector<fattest::FlsEntry> Fls(const std::string& volume) {
    std::vector<fattest::FlsEntry> out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/disk-" + volume + ".fls.txt"));
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        fattest::FlsEntry e;
        const std::string head = line.substr(0, tab);
        e.path = line.substr(tab + 1);
        if (head[0] == 'v' || head[0] == 'V' || e.path.find("(Volume Label Entry)") != std::string::npos) continue;
        e.directory = head[0] == 'd';
        e.deleted = head.find('*') != std::string::npos;
        e.inode = head.substr(head.rfind(' ') + 1);
        e.inode.pop_back();
        out.push_back(e);
    }
    return out;
}

struct IcatEntry {
    std::string sha256;  // of icat's bytes
    i64 bytes = 0;       // how many icat gives: fewer than the size when some clusters went to other files
    i64 size = 0;        // the entry's (istat)
};
// fls path -> icat's bytes and the entry's size, for every regular file of a volume.
inline std::map<std::string, IcatEntry> Icat(const std::string& volume) {
    std::map<std::string, IcatEntry> out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/disk-" + volume + ".icat.txt"));
    for (std::string line; std::getline(in, line);) {
        const auto f = Fields(line);
        if (f.size() == 5) out[f[4]] = {f[1], std::stoll(f[2]), std::stoll(f[3])};
    }
    return out;
}
// fls's orphan path -> the file's own path (fls names orphans by their 8.3 names).
inline std::map<std::string, std::string> Orphans(const std::string& volume) {
    std::map<std::string, std::string> out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/disk-" + volume + ".orphans.txt"));
    for (std::string line; std::getline(in, line);) {
        const auto f = Fields(line);
        if (f.size() == 3) out[f[1]] = f[2];
    }
    return out;
}

// What a scan should list of a volume: every file and folder fls lists, orphans under "<lost>/" by their
// own names; paths compared as fattest::Comparable makes them.
struct Expected {
    std::string path;  // as fls shows it (an orphan: "<lost>/" and its own name)
    bool deleted;
    bool directory;
    i64 size;            // -1 for folders
    std::string sha256;  // empty when icat could not give every byte (clusters reused)
};
inline std::map<std::string, Expected> ExpectedListing(const std::string& volume) {
    const auto sums = Icat(volume);
    const auto orphans = Orphans(volume);
    std::map<std::string, Expected> out;
    for (const auto& e : Fls(volume)) {
        std::string path = e.path;
        if (path.rfind("$OrphanFiles/", 0) == 0) {
            const auto own = orphans.find(path);
            if (own == orphans.end()) continue;
            path = "<lost>/" + own->second.substr(own->second.rfind('/') + 1);
        }
        Expected x{path, e.deleted, e.directory, -1, ""};
        if (const auto s = sums.find(e.path); s != sums.end()) {
            x.size = s->second.size;
            if (s->second.bytes == s->second.size) x.sha256 = s->second.sha256;
        }
        out[fattest::Comparable(path)] = x;
    }
    return out;
}

using Listed = fattest::RecordingTreeBuilder::Listed;

// The nodes a recording builder got, by partition and comparable path: folders linked by (partition,
// first cluster) from the root (0).
inline std::map<int, std::map<std::string, Listed>> ByPartition(const fattest::RecordingTreeBuilder& builder) {
    return builder.ByPartition(0, fattest::Comparable);
}

// One deep FAT scan of an image (or of any device) through the block feeder, with a recording builder.
struct DeepScan {
    std::unique_ptr<IStorageDevice> device;
    fattest::RecordingTreeBuilder builder;
    std::unique_ptr<CFATCompleteFSearcher> searcher{new CFATCompleteFSearcher()};

    explicit DeepScan(const std::filesystem::path& image, u32 sectorSize = 512)
        : device(std::make_unique<fattest::FileDevice>(image, sectorSize, STORAGE_DEVICE_DISK)) {}
    explicit DeepScan(std::unique_ptr<IStorageDevice> d) : device(std::move(d)) {}

    i64 Run() {
        testsupport::DeepBlockFeeder feeder(*searcher, *device, &builder);
        return feeder.Run();
    }
    // Copies of the found partitions, in list order.
    std::vector<CFATSearchedPartitionInfo> Partitions() const {
        std::vector<CFATSearchedPartitionInfo> out;
        for (const auto& p : searcher->FoundPartitions()) out.push_back(*p);
        return out;
    }
};

}  // namespace fatdisk
