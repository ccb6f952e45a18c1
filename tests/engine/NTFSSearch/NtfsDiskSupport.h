// Shared by the deep NTFS tests: the three-volume disk of tests/fixtures/ntfs-disk (unpacked once per
// program), its copies, its Sleuth Kit and TestDisk goldens, the listing of a recording builder per
// partition, and one deep scan of a device through the block feeder.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "NtfsTestSupport.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/NTFSLib/SearchedNTFSPartitionInfo.h"
#include "engine/NTFSSearch/NTFSSearchController.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "support/DeepBlockFeeder.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace ntfsdisk {

inline constexpr const char* kFolder = "ntfs-disk";
inline constexpr u32 kSector = 512;

inline std::filesystem::path Disk() { return ntfstest::Image("disk", kFolder); }

inline std::vector<std::string> Fields(const std::string& line, char separator = '\t') {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) out.push_back(field);
    return out;
}

// mmls's NTFS partitions: start and length in sectors, in table order.
inline std::vector<std::pair<i64, i64>> MmlsPartitions() {
    std::vector<std::pair<i64, i64>> out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/disk.mmls.txt"));
    for (std::string line; std::getline(in, line);) {
        if (line.find("NTFS") == std::string::npos) continue;
        std::istringstream words(line);
        std::string slot, kind, start, end, length;
        words >> slot >> kind >> start >> end >> length;
        out.emplace_back(std::stoll(start), std::stoll(length));
    }
    return out;
}

struct Fsstat {
    u32 sectorBytes = 0;
    u32 clusterBytes = 0;
    i64 clusters = 0;  // "Total Cluster Range: 0 - N" gives N + 1
    i64 sectors = 0;   // "Total Sector Range: 0 - N" gives N + 1
};

// An fsstat golden of the fixtures (a path below tests/fixtures).
inline Fsstat FsstatFile(const std::string& fixture) {
    Fsstat out;
    std::ifstream in(testsupport::FixturePath(fixture));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Sector Size: ", 0) == 0) out.sectorBytes = u32(std::stoul(line.substr(13)));
        if (line.rfind("Cluster Size: ", 0) == 0) out.clusterBytes = u32(std::stoul(line.substr(14)));
        if (line.rfind("Total Cluster Range: ", 0) == 0) out.clusters = std::stoll(line.substr(line.rfind(' ') + 1)) + 1;
        if (line.rfind("Total Sector Range: ", 0) == 0) out.sectors = std::stoll(line.substr(line.rfind(' ') + 1)) + 1;
    }
    return out;
}

inline Fsstat FsstatOf(int partition) {
    return FsstatFile(std::string(kFolder) + "/disk-p" + std::to_string(partition) + ".fsstat.txt");
}

// TestDisk's partitions (from its analyse): start sector (from CHS, 255 heads, 63 sectors), length, label.
struct TestDiskPartition {
    i64 start;
    i64 length;
    std::string label;
};
inline std::vector<TestDiskPartition> TestDiskPartitions() {
    std::vector<TestDiskPartition> out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/disk.testdisk.txt"));
    for (std::string line; std::getline(in, line);) {
        // "HPFS - NTFS  C H S  C H S  LENGTH [LABEL]" lines of the first listing.
        if (line.rfind("HPFS - NTFS", 0) != 0) continue;
        std::istringstream words(line.substr(11));
        i64 c, h, s, c2, h2, s2, length;
        std::string label;
        words >> c >> h >> s >> c2 >> h2 >> s2 >> length >> label;
        const TestDiskPartition p{c * 255 * 63 + h * 63 + s - 1, length, label};
        bool seen = false;
        for (const auto& q : out) seen = seen || q.start == p.start;
        if (!seen) out.push_back(p);
    }
    return out;
}

// fls -r -p -o START of partition n (1-based): ntfstest::FlsListing's rules, and without the entry
// whose record was zeroed (Alpha/Keep/Parent: the index names it, no record is left to find).
inline std::vector<ntfstest::FlsEntry> Fls(int partition) {
    auto all = ntfstest::FlsListing("disk-p" + std::to_string(partition), kFolder);
    std::vector<ntfstest::FlsEntry> out;
    for (auto& e : all) {
        if (e.path != "Alpha/Keep/Parent") out.push_back(e);
    }
    return out;
}
inline std::map<std::string, ntfstest::IcatEntry> Icat(int partition) {
    return ntfstest::IcatSums("disk-p" + std::to_string(partition), kFolder);
}
// The files below Alpha/Keep/Parent/Orphan, read before their parent's record was zeroed.
inline std::map<std::string, ntfstest::IcatEntry> Orphans() {
    return ntfstest::IcatSums("disk-p1", kFolder, ".orphans.txt");
}

// The rows of copies.tsv for one case: (op, a, b).
struct CopyRow {
    std::string op;
    i64 a;
    i64 b;
};
inline std::vector<CopyRow> CopyRows(const std::string& caseName) {
    std::vector<CopyRow> out;
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/copies.tsv"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const auto f = Fields(line);
        if (f.size() == 4 && f[0] == caseName) out.push_back({f[1], std::stoll(f[2]), std::stoll(f[3])});
    }
    return out;
}
// The sectors a copy puts in front of the disk.
inline i64 CopyShift(const std::string& caseName) {
    i64 shift = 0;
    for (const CopyRow& r : CopyRows(caseName))
        if (r.op == "shift") shift += r.a;
    return shift;
}
// The bytes of a copy of the disk (copies.tsv), or of the disk itself for "disk".
inline std::vector<u8> CopyBytes(const std::string& caseName) {
    std::ifstream in(Disk(), std::ios::binary);
    std::vector<u8> bytes(std::filesystem::file_size(Disk()));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    for (const CopyRow& r : CopyRows(caseName)) {
        if (r.op == "zero" && r.a >= 0 && r.a + r.b <= i64(bytes.size())) std::fill_n(bytes.begin() + r.a, r.b, 0);
    }
    const i64 shift = CopyShift(caseName);
    if (shift > 0) bytes.insert(bytes.begin(), size_t(shift) * kSector, 0);
    return bytes;
}
// The disk's bytes with a case of its hostile.tsv applied.
inline std::vector<u8> HostileBytes(const std::string& caseName) {
    std::vector<u8> bytes = CopyBytes("disk");
    std::ifstream in(testsupport::FixturePath(std::string(kFolder) + "/hostile.tsv"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const auto f = Fields(line);
        if (f.size() != 4 || f[0] != caseName) continue;
        const size_t at = std::stoull(f[2]);
        for (size_t i = 0; i + 1 < f[3].size() && at + i / 2 < bytes.size(); i += 2)
            bytes[at + i / 2] = u8(std::stoul(f[3].substr(i, 2), nullptr, 16));
    }
    return bytes;
}
inline std::filesystem::path Copy(const std::string& caseName, const std::filesystem::path& dir) {
    const auto bytes = CopyBytes(caseName);
    const auto path = dir / (caseName + ".img");
    testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

using Listed = fattest::RecordingTreeBuilder::Listed;

// The nodes a recording builder got, by partition and path: folders linked by (partition, record number)
// from the root (5).
inline std::map<int, std::map<std::string, Listed>> ByPartition(const fattest::RecordingTreeBuilder& builder) {
    return builder.ByPartition(5, nullptr);
}

// One deep NTFS scan of an image file (or of bytes in memory) through the block feeder.
struct DeepScan {
    std::unique_ptr<IStorageDevice> device;
    fattest::RecordingTreeBuilder builder;
    std::unique_ptr<CNTFSSearchController> searcher{new CNTFSSearchController()};
    i64 blockSectors = 0;

    explicit DeepScan(const std::filesystem::path& image)
        : device(std::make_unique<fattest::FileDevice>(image, kSector, STORAGE_DEVICE_DISK)) {}
    explicit DeepScan(std::unique_ptr<IStorageDevice> d) : device(std::move(d)) {}

    i64 Run() {
        testsupport::DeepBlockFeeder feeder(*searcher, *device, &builder);
        feeder.SetBlockSectors(blockSectors);
        return feeder.Run();
    }
    // Copies of the partitions found, in set order.
    std::vector<CSearchedNTFSPartitionInfo> Partitions() const {
        std::vector<CSearchedNTFSPartitionInfo> out;
        for (const auto& c : searcher->GetPartitionInfoBuilder().Candidates()) out.push_back(*c);
        return out;
    }
};

}  // namespace ntfsdisk
