// The deep search's per-sector refusal (fatdeep::MayHoldStructure) against the full boot-sector, table
// and folder tests: every sector of the FAT fixtures that a full test accepts, and mutations of them in
// the bytes the refusal looks at, pass it; random bytes and zeros are mostly refused. And the deep search
// through the read-ahead cache, where it reads each block in place, finds what it finds without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>

#include "engine/FATLib/FATBootSector.h"
#include "engine/FATLib/FATDirEntry.h"
#include "engine/FATLib/FATTable.h"
#include "engine/FATSearch/FatDiskSupport.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "support/TempDir.h"

namespace {

enum Kind { kBoot, kTable, kFolderStart, kFolderEntries, kKinds };

// What the deep search's full tests make of a sector, in its order: a boot sector goes on to the
// boot-sector analysis, then the table test, then the folder test; -1: all refuse it.
int FullTests(const u8* sector, u32 sectorSize) {
    if (CTempFATDBR::SimpleCheck(sector)) return kBoot;
    u32 type = 0;
    if (CFATTableAnalyser::IsValidFATTableFirstSector(sector, sectorSize, type)) return kTable;
    CFATFolderAnalyser folders(sectorSize);
    switch (folders.AnalyseSector(sector)) {
        case CFATFolderAnalyser::kDirectoryStart:
            return kFolderStart;
        case CFATFolderAnalyser::kEntries:
            return kFolderEntries;
        default:
            return -1;
    }
}

struct Image {
    std::filesystem::path path;
    u32 sectorSize;
};

std::vector<Image> FixtureImages() {
    std::vector<Image> out;
    for (const char* name : {"fat12", "fat16", "fat16-dates", "fat32", "mbr-fat16"})
        out.push_back({fattest::Image(name), 512});
    out.push_back({fattest::Image("fat32-4k"), 4096});
    out.push_back({fatdisk::Disk("disk"), 512});
    out.push_back({fatdisk::Disk("disk-4k"), 4096});
    return out;
}

// The sectors of the fixtures that a full test accepts: up to `perKind` of each kind per image, spread
// over the image, with their sector size.
struct Accepted {
    std::vector<u8> bytes;
    u32 sectorSize;
    int kind;
};

// The bytes the refusal reads: the first word, the first entry's attribute, dates and times, the second
// entry's attribute, the boot signature.
constexpr size_t kLookedAt[] = {0, 1, 2, 3, 11, 14, 15, 16, 17, 18, 19, 22, 23, 24, 25, 43, 510, 511};

// A mutation accepted by the full tests must pass the refusal; answers whether the full tests accepted it.
bool ExpectNotRefused(std::vector<u8>& sector, u32 sectorSize, const std::string& what) {
    if (FullTests(sector.data(), sectorSize) < 0) return false;
    EXPECT_TRUE(fatdeep::MayHoldStructure(sector.data())) << what;
    return true;
}

}  // namespace

TEST(FatSectorRefusal, NeverRefusesASectorOfTheFixturesThatAFullTestAccepts) {
    std::vector<Accepted> samples;
    size_t counts[kKinds] = {};
    size_t refused = 0, sectors = 0;
    for (const Image& image : FixtureImages()) {
        SCOPED_TRACE(image.path.filename().string());
        fattest::FileDevice device(image.path, image.sectorSize);
        std::vector<u8> sector(image.sectorSize);
        size_t kept[kKinds] = {};
        for (i64 s = 0; s < device.GetTotalSectors(); ++s) {
            ASSERT_EQ(device.ReadSector(sector.data(), s, 1), 1);
            ++sectors;
            const bool passes = fatdeep::MayHoldStructure(sector.data());
            refused += !passes;
            const int kind = FullTests(sector.data(), image.sectorSize);
            if (kind < 0) continue;
            ++counts[kind];
            EXPECT_TRUE(passes) << "sector " << s << " of kind " << kind;
            // Every 7th sector of a kind, 12 at most, for the mutations below.
            if (counts[kind] % 7 == 1 && kept[kind] < 12) {
                ++kept[kind];
                samples.push_back({sector, image.sectorSize, kind});
            }
        }
    }
    // The fixtures hold every kind, and the refusal does refuse most of their sectors (free space is zeros).
    EXPECT_GE(counts[kBoot], 8u);
    EXPECT_GE(counts[kTable], 8u);
    EXPECT_GE(counts[kFolderStart], 50u);
    EXPECT_GE(counts[kFolderEntries], 50u);
    EXPECT_GT(refused * 2, sectors);

    // Each byte the refusal reads, through all its values.
    size_t mutationsAccepted = 0;
    for (const Accepted& a : samples) {
        std::vector<u8> sector = a.bytes;
        for (size_t at : kLookedAt) {
            const u8 original = sector[at];
            for (int v = 0; v < 256; ++v) {
                sector[at] = static_cast<u8>(v);
                mutationsAccepted += ExpectNotRefused(
                    sector, a.sectorSize,
                    "kind " + std::to_string(a.kind) + " byte " + std::to_string(at) + " = " + std::to_string(v));
            }
            sector[at] = original;
        }
    }
    EXPECT_GT(mutationsAccepted, samples.size() * 256);
}

TEST(FatSectorRefusal, PairsOfBytesAndRandomMutationsOfAcceptedSectors) {
    // One sector of each kind from the FAT32 fixture (its boot sector, its first table sector, its root
    // folder with a volume label and long names, a sub-folder's first sector).
    const Image image{fattest::Image("fat32"), 512};
    fattest::FileDevice device(image.path, image.sectorSize);
    std::vector<std::vector<u8>> templates(kKinds);
    std::vector<u8> sector(image.sectorSize);
    for (i64 s = 0; s < device.GetTotalSectors(); ++s) {
        ASSERT_EQ(device.ReadSector(sector.data(), s, 1), 1);
        const int kind = FullTests(sector.data(), image.sectorSize);
        if (kind >= 0 && templates[kind].empty()) templates[kind] = sector;
    }
    for (int kind = 0; kind < kKinds; ++kind) ASSERT_FALSE(templates[kind].empty()) << kind;

    // The first name byte against the attribute, the jump byte against the signature, the two ends of
    // the first word, the attribute against the creation date, the modification time against its date,
    // the two first attributes: every pair of values.
    const std::pair<size_t, size_t> pairs[] = {{0, 11}, {0, 511}, {0, 3}, {1, 2}, {11, 17}, {22, 25}, {11, 43}};
    for (int kind = 0; kind < kKinds; ++kind) {
        for (const auto& [first, second] : pairs) {
            std::vector<u8> s = templates[kind];
            for (int a = 0; a < 256; ++a) {
                for (int b = 0; b < 256; ++b) {
                    s[first] = static_cast<u8>(a);
                    s[second] = static_cast<u8>(b);
                    if (FullTests(s.data(), image.sectorSize) >= 0 && !fatdeep::MayHoldStructure(s.data())) {
                        ADD_FAILURE() << "kind " << kind << " bytes " << first << "=" << a << " " << second << "=" << b;
                        return;
                    }
                }
            }
        }
    }

    // Random bytes over the first two entries (the first word among them) and the signature of each template.
    std::mt19937 random(1913);
    size_t accepted = 0;
    for (int round = 0; round < 200000; ++round) {
        std::vector<u8> s = templates[round % kKinds];
        const int changes = 1 + static_cast<int>(random() % 6);
        for (int c = 0; c < changes; ++c) {
            const size_t at = random() % 4 == 0 ? 510 + random() % 2 : random() % 64;
            s[at] = static_cast<u8>(random());
        }
        if (FullTests(s.data(), image.sectorSize) < 0) continue;
        ++accepted;
        if (!fatdeep::MayHoldStructure(s.data())) {
            ADD_FAILURE() << "round " << round;
            return;
        }
    }
    EXPECT_GT(accepted, 10000u);
}

TEST(FatSectorRefusal, RefusesZerosAndMostRandomSectors) {
    const std::vector<u8> zeros(4096, 0);
    EXPECT_FALSE(fatdeep::MayHoldStructure(zeros.data()));
    std::mt19937 random(7);
    size_t refused = 0;
    const size_t rounds = 4096;
    std::vector<u8> sector(512);
    for (size_t r = 0; r < rounds; ++r) {
        for (u8& b : sector) b = static_cast<u8>(random());
        const bool passes = fatdeep::MayHoldStructure(sector.data());
        refused += !passes;
        if (FullTests(sector.data(), 512) >= 0) {
            EXPECT_TRUE(passes) << r;
        }
    }
    // A random attribute byte has one of its two top bits three times in four; most of the others fail
    // on a date or a time.
    EXPECT_GT(refused, rounds * 9 / 10);
}

namespace {

// The deep scan's cache, counting the reads the searcher asks of it.
class CountingCache : public CStorageDeviceWithCache {
public:
    using CStorageDeviceWithCache::CStorageDeviceWithCache;
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override {
        ++reads;
        return CStorageDeviceWithCache::ReadSector(buffer, firstSector, sectorCount);
    }
    i64 reads = 0;
};

using Listing = std::vector<std::tuple<std::string, i64, bool, bool>>;
using Found = std::vector<std::tuple<i64, u32, u32, i64, i64, i64, u32>>;

struct Outcome {
    Found found;
    std::vector<std::tuple<i64, u32, u32>> folderSectors;
    Listing listing;
    i64 reads = -1;  // reads asked of the cache while the blocks were analysed
};

Outcome Collect(const CFATCompleteFSearcher& searcher, const fattest::RecordingTreeBuilder& builder) {
    Outcome out;
    for (const auto& p : searcher.FoundPartitions()) {
        out.found.emplace_back(p->m_partitionStartSector, p->m_fileSystemType, p->m_sectorsPerCluster,
                               p->m_cluster0Sector, p->GetTotalSectors(), p->m_score, p->GetFlag());
    }
    for (const auto& f : searcher.FolderSectors()) out.folderSectors.emplace_back(f.sector, f.cluster, f.parentCluster);
    for (const auto& l : builder.List()) out.listing.emplace_back(l.path, l.size, l.deleted, l.directory);
    std::sort(out.listing.begin(), out.listing.end());
    return out;
}

// Blocks of feedBlock sectors handed in order, the cache (blocks of cacheBlock sectors) made current on
// the block holding each one's first sector.
Outcome ScanCached(const std::filesystem::path& image, u32 sectorSize, i64 cacheBlock, i64 feedBlock) {
    fattest::FileDevice device(image, sectorSize, STORAGE_DEVICE_DISK);
    CountingCache cache(&device);
    EXPECT_EQ(cache.SetBlockSize(static_cast<u32>(cacheBlock)), 1);
    cache.BeginCache();
    CFATCompleteFSearcher searcher;
    fattest::RecordingTreeBuilder builder;
    testsupport::DeepBlockFeeder feeder(searcher, cache, &builder);
    feeder.SetBlockSectors(feedBlock);
    EXPECT_EQ(feeder.Prepare(), 1);
    EXPECT_EQ(searcher.Device(), &cache);
    cache.reads = 0;
    const i64 total = cache.GetTotalSectors();
    for (i64 start = 0; start < total; start += feedBlock) {
        EXPECT_EQ(cache.SetCurCacheBlock(start / cacheBlock), 1);
        feeder.Feed(start, std::min(feedBlock, total - start));
    }
    const i64 reads = cache.reads;
    feeder.End(1);
    cache.EndCache();
    Outcome out = Collect(searcher, builder);
    out.reads = reads;
    return out;
}

}  // namespace

TEST(FatSectorRefusal, TheSearchThroughTheCacheReadsInPlaceAndFindsTheSame) {
    testsupport::TempDir dir;
    struct Case {
        const char* copy;
        u32 sectorSize;
        i64 cacheBlock, feedBlock;
        bool inPlace;  // every block lies in the cache's current one
    };
    const Case cases[] = {
        {"disk-mbr-zeroed", 512, 2048, 2048, true},
        {"disk-mbr-zeroed", 512, 8192, 1024, true},
        // Blocks larger than the cache's: their sectors past its current block are read one by one.
        {"disk-mbr-zeroed", 512, 1000, 2048, false},
        {"disk-4k-mbr-zeroed", 4096, 1024, 1024, true},
    };
    std::map<std::string, Outcome> plain;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.copy) + " cache " + std::to_string(c.cacheBlock) + " feed " +
                     std::to_string(c.feedBlock));
        const auto image = fatdisk::Copy(c.copy, dir.path());
        if (plain.count(c.copy) == 0) {
            fatdisk::DeepScan scan(image, c.sectorSize);
            scan.Run();
            plain[c.copy] = Collect(*scan.searcher, scan.builder);
            ASSERT_EQ(plain[c.copy].found.size(), 2u);
            ASSERT_GT(plain[c.copy].listing.size(), 10u);
        }
        const Outcome cached = ScanCached(image, c.sectorSize, c.cacheBlock, c.feedBlock);
        EXPECT_EQ(cached.found, plain[c.copy].found);
        EXPECT_EQ(cached.folderSectors, plain[c.copy].folderSectors);
        EXPECT_EQ(cached.listing, plain[c.copy].listing);
        const i64 sectors = static_cast<i64>(std::filesystem::file_size(image) / c.sectorSize);
        if (c.inPlace) {
            // Only what the boot-sector analysis reads beyond its sector, never one read per sector.
            EXPECT_LT(cached.reads * 100, sectors) << cached.reads;
        } else {
            EXPECT_GT(cached.reads * 4, sectors) << cached.reads;
        }
    }
}
