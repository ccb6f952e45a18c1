// The deep HFS+ search on disks assembled in memory from the writer's volumes: the per-sector checks
// and the candidate rules as one table, intact volumes listed whole (files read back byte-exact through
// the partition records), the bitmap of their live blocks, and lost volumes placed by their journal
// info block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "engine/Common/DebugChannel.h"
#include "engine/HFSPlusLib/HfsTestSupport.h"
#include "engine/HFSPlusSearch/HFSPlusCompleteSearcher.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/TBitmap.h"
#include "support/DeepBlockFeeder.h"
#include "support/HfsPlusWriter.h"

using namespace hfstest;
namespace hfs = testsupport::hfs;
namespace f = hfsplus;

namespace {

using Searcher = CHFSPlusCompleteFileSystemSearchController;

// A zeroed disk in memory with volumes written at chosen sectors.
struct Disk {
    std::unique_ptr<MemoryDevice> device;
    u32 sectorSize;

    Disk(i64 sectors, u32 sectorSize_ = 512)
        : device(std::make_unique<MemoryDevice>(sectors, sectorSize_, STORAGE_DEVICE_DISK)), sectorSize(sectorSize_) {}
    void Put(i64 sector, const std::vector<u8>& bytes) { device->Put(u64(sector) * sectorSize, bytes.data(), bytes.size()); }
    void PutByte(u64 byte, u8 value) { device->Put(byte, &value, 1); }
    // The protective MBR of a GUID disk: type 0xEE in the first entry and the boot signature.
    void ProtectiveMbr() {
        PutByte(450, 0xEE);
        PutByte(510, 0x55);
        PutByte(511, 0xAA);
    }
    void Zero(u64 byte, size_t length) {
        std::vector<u8> zeros(length, 0);
        device->Put(byte, zeros.data(), length);
    }
};

// Where the protective MBR's seed places a GUID disk's first volume.
i64 GuidStart(u32 sectorSize) {
    return sectorSize == 512 ? 40 : 6;
}

// A GUID disk (protective MBR) with the volume at the first candidate's start and room after it.
Disk GuidDisk(const std::vector<u8>& image, u32 sectorSize) {
    Disk disk(GuidStart(sectorSize) + i64(image.size() / sectorSize) + 2048, sectorSize);
    disk.ProtectiveMbr();
    disk.Put(GuidStart(sectorSize), image);
    return disk;
}

hfs::Options Journaled(u32 blockSize = 4096, u32 totalBlocks = 1024) {
    hfs::Options o;
    o.blockSize = blockSize;
    o.totalBlocks = totalBlocks;
    o.journaled = true;
    if (totalBlocks < 512) o.journalSize = 64 * 1024;
    return o;
}

// A small journaled volume: a folder, text files, one in several extents.
hfs::Writer SmallVolume(hfs::Options o, const std::string& tag) {
    hfs::Writer w(std::move(o));
    w.Add({.kind = hfs::Entry::Kind::Folder, .path = "docs"});
    w.Add({.path = "docs/a.txt", .data = hfs::TextContent(tag + "a", 5000)});
    w.Add({.path = "docs/b.txt", .data = hfs::TextContent(tag + "b", 20000), .extents = 3});
    w.Add({.path = "top.bin", .data = hfs::NoiseContent(tag + "t", 9000)});
    return w;
}

// Drives the search as the complete controller does: prepare, every 4 MiB block, end.
void RunDeep(Searcher& searcher, IStorageDevice& device, IDirecotryTreeBuilder* builder, TBitmap* bitmap = nullptr) {
    searcher.SetBitmap(bitmap);
    testsupport::DeepBlockFeeder(searcher, device, builder).Run();
}

std::vector<std::unique_ptr<CSearchedPartitionInfo>> Records(Searcher& searcher) {
    const int count = searcher.GetSearchedPartitionInfo(nullptr, 0);
    std::vector<CSearchedPartitionInfo*> raw(size_t(std::max(count, 0)), nullptr);
    const int written = searcher.GetSearchedPartitionInfo(raw.data(), count);
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> out;
    for (int i = 0; i < written; ++i) out.emplace_back(raw[size_t(i)]);
    return out;
}

// Live files of the recording builder by path (first node of each path).
std::map<std::string, IFileNode*> LiveFiles(const RecordingBuilder& builder) {
    std::map<std::string, IFileNode*> out;
    for (const auto& l : builder.List())
        if (!l.deleted && !l.directory) out.emplace(l.path, l.node);
    return out;
}

// Every file the writer was given is listed and reads back through the record with its bytes.
void ExpectFilesReadBack(const hfs::Writer& writer, const RecordingBuilder& builder, IStorageDevice& device,
                         CSearchedPartitionInfo& record) {
    const auto files = LiveFiles(builder);
    for (const hfs::Entry& e : writer.Entries()) {
        if (e.kind != hfs::Entry::Kind::File || e.deleted) continue;
        SCOPED_TRACE(e.path);
        auto it = files.find(e.path);
        ASSERT_NE(it, files.end());
        std::string bytes;
        ASSERT_TRUE(ReadNode(device, record, it->second, bytes));
        EXPECT_EQ(bytes, e.data);
    }
}

}  // namespace

// ---- the constants of the checks and candidate rules ----------------------------------------------

TEST(HfsDeepRules, ProtectiveMbrSeedsTheFirstCandidate) {
    const struct {
        u32 sectorSize;
        bool protective;
        i64 first;
    } cases[] = {{512, true, 40}, {4096, true, 6}, {512, false, 0}, {4096, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sectorSize << " " << c.protective);
        Disk disk(4096, c.sectorSize);
        if (c.protective) disk.ProtectiveMbr();
        Searcher searcher;
        searcher.SetDevice(disk.device.get());
        ASSERT_EQ(searcher.PreparetoSearch(), 1);
        ASSERT_EQ(searcher.Candidates().size(), 1u);
        EXPECT_EQ(searcher.Candidates()[0]->startSector, c.first);
        EXPECT_EQ(searcher.Candidates()[0]->sectorCount, 4096 - c.first);
    }
}

TEST(HfsDeepRules, HeadersMakeCandidatesByTheirRules) {
    // Volume A at 0 and volume B at 1024 (another identifier and creation date), 512-byte sectors.
    hfs::Options oa = Journaled(4096, 64);
    hfs::Options ob = oa;
    ob.volumeIdentifier = 0x1111222233334444ULL;
    const auto a = SmallVolume(oa, "A").Build();
    auto bWriter = SmallVolume(ob, "B");
    auto b = bWriter.Build();
    // Another creation date for B (the duplicate test compares it too).
    b[1024 + f::vh::kCreateDate + 3] ^= 0x5A;
    Disk disk(8192);
    disk.Put(0, a);
    disk.Put(1024, b);
    Searcher searcher;
    searcher.SetDevice(disk.device.get());
    ASSERT_EQ(searcher.PreparetoSearch(), 1);

    // A's header at sector 2 goes to candidate 0, which starts 2 sectors before it.
    EXPECT_EQ(searcher.CheckVolumeHeader(2), 1);
    ASSERT_EQ(searcher.Candidates().size(), 1u);
    EXPECT_EQ(searcher.Candidates()[0]->headerSector, 2);
    // B's header in sector 1026: no candidate at 1024 and the last one holds A's: a new one at 1024.
    EXPECT_EQ(searcher.CheckVolumeHeader(1026), 1);
    ASSERT_EQ(searcher.Candidates().size(), 2u);
    EXPECT_EQ(searcher.Candidates()[1]->startSector, 1024);
    EXPECT_EQ(searcher.Candidates()[1]->sectorCount, 64 * 8);
    EXPECT_EQ(searcher.Candidates()[1]->partitionIndex, 1u);
    // A's alternate header (1024 bytes before its end) names a known volume: nothing new.
    EXPECT_EQ(searcher.CheckVolumeHeader(64 * 8 - 2), 1);
    EXPECT_EQ(searcher.Candidates().size(), 2u);
    // A header in sector 1 would put its volume before the device start: no candidate.
    Disk early(4096);
    std::vector<u8> header(a.begin() + 1024, a.begin() + 1536);
    header[f::vh::kFinderInfo + 24] ^= 0x77;  // another identifier
    header[f::vh::kCreateDate + 2] ^= 0x77;
    early.Put(1, header);
    early.Put(2, std::vector<u8>(a.begin() + 1024, a.begin() + 1536));
    Searcher second;
    second.SetDevice(early.device.get());
    second.PreparetoSearch();
    EXPECT_EQ(second.CheckVolumeHeader(2), 1);
    EXPECT_EQ(second.CheckVolumeHeader(1), 1);
    ASSERT_EQ(second.Candidates().size(), 1u);
    EXPECT_EQ(second.Candidates()[0]->headerSector, 2);
    // A sector of noise, or a header followed by noise in the same 4096-byte sector, is no header.
    EXPECT_EQ(second.CheckVolumeHeader(100), 0);
}

TEST(HfsDeepRules, JournalStructuresAreRecognisedByTheirFill) {
    hfs::Layout layout;
    const auto image = SmallVolume(Journaled(), "J").Build(&layout);
    for (u32 sectorSize : {512u, 4096u}) {
        SCOPED_TRACE(sectorSize);
        Disk disk(i64(image.size() / sectorSize), sectorSize);
        disk.Put(0, image);
        const i64 info = i64(layout.journalInfoByte / sectorSize);
        const i64 journal = i64(layout.journalByte / sectorSize);
        Searcher searcher;
        searcher.SetDevice(disk.device.get());
        searcher.PreparetoSearch();
        EXPECT_EQ(searcher.CheckJournalInfoBlock(info), 1);
        EXPECT_EQ(searcher.Candidates()[0]->journalInfoSector, info);
        EXPECT_EQ(searcher.CheckJournalHeader(journal), 1);
        EXPECT_EQ(searcher.Candidates()[0]->journalHeaderSector, journal);
        EXPECT_EQ(searcher.CheckJournalInfoBlock(journal), 0);
        EXPECT_EQ(searcher.CheckJournalHeader(info), 0);
        // One byte other than 0xDB after the record: no hit.
        disk.PutByte(u64(info) * sectorSize + sectorSize - 1, 0xDA);
        EXPECT_EQ(searcher.CheckJournalInfoBlock(info), 0);
        disk.PutByte(u64(info) * sectorSize + sectorSize - 1, 0xDB);
        // A reserved word set, or an offset not a multiple of 512: no hit.
        disk.PutByte(u64(info) * sectorSize + f::jib::kReserved + 7, 1);
        EXPECT_EQ(searcher.CheckJournalInfoBlock(info), 0);
        disk.PutByte(u64(info) * sectorSize + f::jib::kReserved + 7, 0);
        disk.PutByte(u64(info) * sectorSize + f::jib::kOffset + 7, 0x10);
        EXPECT_EQ(searcher.CheckJournalInfoBlock(info), 0);
    }
}

TEST(HfsDeepRules, NodesConsumeTheirSectorsUpToTheBlockEnd) {
    hfs::Options o = Journaled(4096, 256);
    o.catalogNodeSize = 8192;
    hfs::Layout layout;
    const auto image = SmallVolume(o, "N").Build(&layout);
    Disk disk(i64(image.size() / 512));
    disk.Put(0, image);
    const i64 leaf = i64((layout.catalogByte + u64(layout.catalogLeaves.at(0)) * layout.catalogNodeSize) / 512);
    const i64 headerNode = i64(layout.catalogByte / 512);
    Searcher searcher;
    searcher.SetDevice(disk.device.get());
    searcher.PreparetoSearch();
    EXPECT_EQ(searcher.CheckNode(leaf, 1000), 16);
    EXPECT_EQ(searcher.CheckNode(leaf, 5), 5);
    EXPECT_EQ(searcher.CheckNode(headerNode, 1000), 16);
    // Inside a node, or a descriptor with its reserved word set: nothing.
    EXPECT_EQ(searcher.CheckNode(leaf + 1, 1000), 0);
    disk.PutByte(u64(leaf) * 512 + f::node::kReserved + 1, 1);
    EXPECT_EQ(searcher.CheckNode(leaf, 1000), 0);
}

// ---- the quick refusal before the checks -----------------------------------------------------------

namespace {

// The checks that accept the sector, as the bits of MayHoldStructure.
u32 Accepted(Searcher& searcher, i64 sector) {
    u32 bits = 0;
    if (searcher.CheckVolumeHeader(sector) > 0) bits |= Searcher::kMayHeader;
    if (searcher.CheckJournalInfoBlock(sector) > 0) bits |= Searcher::kMayJournalInfo;
    if (searcher.CheckJournalHeader(sector) > 0) bits |= Searcher::kMayJournalHeader;
    if (searcher.CheckNode(sector, i64(1) << 20) > 0) bits |= Searcher::kMayNode;
    return bits;
}

u32 Quick(Disk& disk, i64 sector) {
    return Searcher::MayHoldStructure(disk.device->Bytes().data() + u64(sector) * disk.sectorSize, disk.sectorSize);
}

}  // namespace

TEST(HfsDeepRules, QuickRefusalAnswersByItsByteTests) {
    const u32 header = Searcher::kMayHeader | Searcher::kMayJournalHeader;
    const struct Case {
        const char* name;
        u32 sectorSize;
        std::vector<std::pair<size_t, std::vector<u8>>> bytes;
        u32 may;
    } cases[] = {
        {"zeros", 512, {}, 0},
        {"text", 512, {{0, {'c', 'o', 'n', 't', 'e', 'n', 't', ' ', 'o', 'f', ' ', 'f', 'i', 'l', 'e'}}}, 0},
        {"H+ header", 512, {{0, {'H', '+', 0, 4}}}, header},
        {"HX header", 512, {{0, {'H', 'X', 0, 5}}}, header},
        {"journal magic", 512, {{0, {0x78, 0x4C, 0x4E, 0x4A, 0x78, 0x56, 0x34, 0x12}}}, header},
        {"leaf", 512, {{8, {0xFF, 0x01}}}, Searcher::kMayNode},
        {"header node", 512, {{8, {0x01, 0x00}}}, Searcher::kMayNode},
        {"index node", 512, {{8, {0x00, 0x02}}}, 0},
        {"map node", 512, {{8, {0x02, 0x00}}}, 0},
        {"fill at the end", 512, {{511, {0xDB}}}, Searcher::kMayJournalInfo},
        {"fill before the end only", 512, {{510, {0xDB}}}, 0},
        {"4096: header in slice 2", 4096, {{1024, {'H', '+', 0, 4}}}, Searcher::kMayHeader},
        {"4096: header in slice 7", 4096, {{3584, {'H', 'X', 0, 5}}}, Searcher::kMayHeader},
        {"4096: header off a slice start", 4096, {{1000, {'H', '+', 0, 4}}}, 0},
        {"4096: fill at the end", 4096, {{4095, {0xDB}}}, Searcher::kMayJournalInfo},
        {"4096: fill at a slice end", 4096, {{511, {0xDB}}}, 0},
        {"4096: leaf", 4096, {{8, {0xFF, 0x01}}}, Searcher::kMayNode},
        {"256: every check decides", 256, {}, header | Searcher::kMayJournalInfo | Searcher::kMayNode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<u8> sector(c.sectorSize, 0);
        for (const auto& [at, bytes] : c.bytes) std::copy(bytes.begin(), bytes.end(), sector.begin() + long(at));
        EXPECT_EQ(Searcher::MayHoldStructure(sector.data(), c.sectorSize), c.may);
    }
    EXPECT_EQ(Searcher::MayHoldStructure(nullptr, 512), 0u);
}

// The block's sweep stops at the first sector the quick refusal lets through, wherever it lies in a
// run of four: planted bytes at each sector of a refused run, then runs of random sectors whose tested
// bytes take the looked-for values now and then, against MayHoldStructure sector by sector.
TEST(HfsDeepRules, TheRefusedRunEndsAtTheFirstSectorLetThrough) {
    std::mt19937 random(23);
    for (const u32 size : {512u, 4096u}) {
        SCOPED_TRACE(size);
        const i64 count = 13;
        std::vector<u8> run(size_t(count) * size);
        // The places the quick test reads in a sector.
        std::vector<size_t> places{0, 8, size - 1};
        for (size_t at = 512; at < size; at += 512) places.push_back(at);
        auto refusedBase = [&] {
            for (u8& b : run) b = u8(random());
            for (i64 s = 0; s < count; ++s)
                for (size_t at : places) run[size_t(s) * size + at] = 0;
        };
        const std::vector<std::pair<size_t, u8>> plants{{0, 'H'}, {0, 'x'}, {8, 0xFF}, {8, 0x01}, {size - 1, 0xDB}};
        for (const auto& [at, value] : plants) {
            for (i64 hit = 0; hit < count; ++hit) {
                SCOPED_TRACE(testing::Message() << "byte " << at << " = " << int(value) << " in sector " << hit);
                refusedBase();
                EXPECT_EQ(Searcher::RefusedSectors(run.data(), count, size), count);
                run[size_t(hit) * size + at] = value;
                EXPECT_EQ(Searcher::RefusedSectors(run.data(), count, size), hit);
                EXPECT_EQ(Searcher::RefusedSectors(run.data(), hit, size), hit);
            }
        }
        if (size > 512) {
            refusedBase();
            run[size_t(6) * size + 1536] = 'H';
            EXPECT_EQ(Searcher::RefusedSectors(run.data(), count, size), 6);
        }
        const u8 values[] = {0, 'H', 'X' ^ 0x10, 'x', 0xFF, 0x01, 0xDB, 0x02, 0xFE};
        for (int round = 0; round < 400; ++round) {
            refusedBase();
            for (i64 s = 0; s < count; ++s)
                for (size_t at : places)
                    if (random() % 40 == 0) run[size_t(s) * size + at] = values[random() % std::size(values)];
            i64 expected = 0;
            while (expected < count && Searcher::MayHoldStructure(run.data() + size_t(expected) * size, size) == 0)
                ++expected;
            ASSERT_EQ(Searcher::RefusedSectors(run.data(), count, size), expected) << "round " << round;
        }
    }
    EXPECT_EQ(Searcher::RefusedSectors(nullptr, 4, 512), 0);
}

// Every sector of real volumes (the committed writer images, a volume of 512-byte blocks and 8 KiB
// nodes, the shared real volumes when present), on 512- and 4096-byte sectors and at a slice's offset:
// a check that accepts the sector has its bit in the quick answer; then the same for mutations of the
// accepted sectors (the bytes the quick test reads set to the values it looks for, random bytes).
TEST(HfsDeepRules, QuickRefusalNeverRefusesWhatTheChecksAccept) {
    std::vector<std::pair<std::string, std::vector<u8>>> images;
    for (const char* name : {"plain", "journaled", "hfsx"}) images.emplace_back(name, FixtureBytes(name));
    hfs::Options small = Journaled(512, 4096);
    small.catalogNodeSize = 8192;
    images.emplace_back("512-byte blocks", SmallVolume(small, "Q").Build());
    for (const char* name : {"hfsplus-interleaved.img", "hfsplus-macos.raw"})
        if (auto bytes = SharedBytes(name)) images.emplace_back(name, std::move(*bytes));
    std::mt19937 random(17);
    std::map<u32, size_t> acceptedBy;
    size_t notAccepted = 0;
    size_t refused = 0;
    size_t mutations = 0;
    for (const auto& [name, image] : images) {
        // 512-byte sectors; 4096-byte sectors with the volume at a sector start and one slice after it.
        for (const auto& [sectorSize, shift] : {std::pair<u32, u64>{512, 0}, {4096, 0}, {4096, 512}}) {
            SCOPED_TRACE(testing::Message() << name << " " << sectorSize << "+" << shift);
            Disk disk(i64((image.size() + shift) / sectorSize) + 2, sectorSize);
            disk.device->Put(shift, image.data(), image.size());
            Searcher searcher;
            searcher.SetDevice(disk.device.get());
            ASSERT_EQ(searcher.PreparetoSearch(), 1);
            std::vector<i64> hits;
            for (i64 s = 0; s < i64(disk.device->GetTotalSectors()); ++s) {
                const u32 accepted = Accepted(searcher, s);
                const u32 quick = Quick(disk, s);
                ASSERT_EQ(accepted & ~quick, 0u) << "sector " << s;
                for (u32 bit = 1; bit <= Searcher::kMayNode; bit <<= 1)
                    if (accepted & bit) ++acceptedBy[bit];
                if (accepted) {
                    hits.push_back(s);
                } else {
                    ++notAccepted;
                    refused += quick == 0;
                }
            }
            // Mutations of accepted sectors, at most 40 of them spread over the volume.
            const size_t step = std::max<size_t>(1, hits.size() / 40);
            for (size_t h = 0; h < hits.size(); h += step) {
                const i64 s = hits[h];
                u8* sector = disk.device->Bytes().data() + u64(s) * sectorSize;
                const std::vector<u8> original(sector, sector + sectorSize);
                auto check = [&](const char* what, size_t at) {
                    const u32 accepted = Accepted(searcher, s);
                    ASSERT_EQ(accepted & ~Quick(disk, s), 0u) << "sector " << s << " " << what << " at " << at;
                    std::copy(original.begin(), original.end(), sector);
                    ++mutations;
                };
                for (size_t at : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{8}, size_t{9}, size_t{10},
                                  size_t{12}, size_t{13}, size_t{1024}, size_t{1025}, size_t{sectorSize - 1}}) {
                    if (at >= sectorSize) continue;
                    for (u8 value : {u8(0x00), u8(0x01), u8(0xFF), u8('H'), u8('x'), u8(0xDB), u8(sector[at] ^ 0x10),
                                     u8(sector[at] ^ 0x80)}) {
                        sector[at] = value;
                        check("byte", at);
                    }
                }
                for (int round = 0; round < 24; ++round) {
                    for (int n = 0; n < 1 + round % 4; ++n) sector[random() % sectorSize] = u8(random());
                    check("random", 0);
                }
            }
        }
    }
    // Each check met real structures, and the quick test refused most sectors no check accepts.
    for (u32 bit = 1; bit <= Searcher::kMayNode; bit <<= 1) EXPECT_GT(acceptedBy[bit], 0u) << "check " << bit;
    EXPECT_GT(mutations, 1000u);
    EXPECT_GT(refused * 10, notAccepted * 9) << refused << " of " << notAccepted;
}

namespace {

// What a scan found: each candidate's places and counts, and the listing.
std::vector<std::string> ScanOutcome(Disk& disk, bool cached, i64 block) {
    RecordingBuilder builder;
    Searcher searcher;
    std::unique_ptr<CStorageDeviceWithCache> cache;
    IStorageDevice* device = disk.device.get();
    if (cached) {
        cache = std::make_unique<CStorageDeviceWithCache>(device);
        EXPECT_EQ(cache->SetBlockSize(u32(block)), 1);
        cache->BeginCache();
        device = cache.get();
    }
    testsupport::DeepBlockFeeder feeder(searcher, *device, &builder);
    feeder.SetBlockSectors(block);
    feeder.Prepare();
    const i64 total = device->GetTotalSectors();
    for (i64 b = 0; b * block < total; ++b) {
        if (cache) { EXPECT_EQ(cache->SetCurCacheBlock(b), 1); }
        feeder.Feed(b * block, std::min(block, total - b * block));
    }
    feeder.End(1);
    if (cache) cache->EndCache();
    std::vector<std::string> out;
    for (const auto& c : searcher.Candidates())
        out.push_back(testing::PrintToString(std::vector<i64>{c->startSector, c->sectorCount, c->headerSector,
                                                              c->journalInfoSector, c->journalHeaderSector,
                                                              c->fileCount, c->folderCount}));
    for (const auto& l : builder.List())
        out.push_back(l.path + " " + std::to_string(l.size) + (l.deleted ? " deleted" : ""));
    std::sort(out.begin() + long(searcher.Candidates().size()), out.end());
    return out;
}

}  // namespace

// The block sweep (sectors read in place from the cache, refused four at a time) finds what the
// sector-by-sector path finds: an intact and a lost volume (headers zeroed), shifted by 0 to 3 sectors
// and fed in blocks of 61 to 64 sectors, so that the first structure of each block falls on every
// place of a run of four (and nodes lie across block ends).
TEST(HfsDeepRules, TheBlockSweepFindsWhatEachSectorsChecksFind) {
    hfs::Options o = Journaled(512, 2048);
    o.catalogNodeSize = 4096;
    hfs::Writer writer(o);
    for (int i = 0; i < 60; ++i) writer.Add({.path = "f/file " + std::to_string(i), .data = "bytes " + std::to_string(i)});
    const auto image = writer.Build();
    for (const bool lost : {false, true}) {
        for (i64 block = 61; block <= 64; ++block) {
            for (i64 shift = 0; shift < 4; ++shift) {
                SCOPED_TRACE(testing::Message() << (lost ? "lost" : "intact") << " block " << block << " shift " << shift);
                const i64 start = 64 + shift;
                Disk disk(start + i64(image.size() / 512) + 700);
                disk.Put(start, image);
                if (lost) {
                    disk.Zero(u64(start) * 512 + 1024, 512);
                    disk.Zero(u64(start) * 512 + image.size() - 1024, 512);
                }
                const auto swept = ScanOutcome(disk, true, block);
                EXPECT_EQ(swept, ScanOutcome(disk, false, block));
                // Both found the volume and its files.
                EXPECT_GT(swept.size(), 60u);
            }
        }
    }
}

TEST(HfsDeepRules, CatalogRecordsGoToCandidatesWhoseNextIdIsAboveThem) {
    hfs::Layout layout;
    const auto image = SmallVolume(Journaled(4096, 256), "C").Build(&layout);
    const i64 leaf = i64((layout.catalogByte + u64(layout.catalogLeaves.at(0)) * layout.catalogNodeSize) / 512);
    const struct {
        u32 nextCatalogID;
        bool reused;
        bool listed;
    } cases[] = {{1000, false, true}, {f::kFirstUserCatalogID, false, false}, {f::kFirstUserCatalogID, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nextCatalogID << " " << c.reused);
        Disk disk(i64(image.size() / 512));
        disk.Put(0, image);
        // Candidate 0 of a lost volume (header kept, the whole search is not the point here).
        disk.Zero(layout.journalInfoByte, 4096);
        RecordingBuilder builder;
        Searcher searcher;
        searcher.SetDevice(disk.device.get());
        searcher.SetDirecotryTreeBuilder(&builder);
        searcher.PreparetoSearch();
        ASSERT_EQ(searcher.CheckVolumeHeader(2), 1);
        HFSPlusVolumeHeader& header = *searcher.Candidates()[0]->header;
        header.nextCatalogID = c.nextCatalogID;
        header.attributes = c.reused ? (header.attributes | f::kVolumeCatalogIdsReusedBit)
                                     : (header.attributes & ~f::kVolumeCatalogIdsReusedBit);
        // The volume is searched whole when it opens: count only the leaf's own user records.
        searcher.Candidates()[0]->headerSector = 5;
        const size_t before = builder.List().size();
        searcher.CheckNode(leaf, 1000);
        const auto list = builder.List();
        const bool userNode = std::any_of(list.begin() + long(before), list.end(), [](const auto& l) {
            return l.node->GetCurrentNodeID() >= i64(f::kFirstUserCatalogID);
        });
        EXPECT_EQ(userNode, c.listed);
    }
}

TEST(HfsDeepRules, PartitionRecordsNeedRoomForAll) {
    hfs::Options oa = Journaled(4096, 64);
    const auto a = SmallVolume(oa, "A").Build();
    Disk disk(8192);
    for (int k = 0; k < 3; ++k) {
        auto bytes = a;
        bytes[1024 + f::vh::kFinderInfo + 31] = u8(k + 1);
        bytes[1024 + f::vh::kCreateDate + 3] = u8(k + 1);
        disk.Put(1024 * k, bytes);
    }
    Searcher searcher;
    searcher.SetDevice(disk.device.get());
    searcher.PreparetoSearch();
    for (int k = 0; k < 3; ++k) searcher.CheckVolumeHeader(1024 * k + 2);
    ASSERT_EQ(searcher.Candidates().size(), 3u);
    CSearchedPartitionInfo* out[1] = {nullptr};
    EXPECT_EQ(searcher.GetSearchedPartitionInfo(out, 1), 3);
    EXPECT_EQ(out[0], nullptr);
    const auto records = Records(searcher);
    ASSERT_EQ(records.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(records[size_t(k)]->m_partitionStartSector, 1024 * k);
        EXPECT_EQ(records[size_t(k)]->m_partitionIndex, k);
        EXPECT_EQ(records[size_t(k)]->m_fileSystemType, u32(FILE_SYSTEM_HFSPLUS));
    }
}

// A disk without any HFS+ structure reports no partition: the seed alone is no volume.
TEST(HfsDeepRules, ADiskWithoutHfsPlusReportsNothing) {
    Disk disk(20000);
    disk.ProtectiveMbr();
    RecordingBuilder builder;
    Searcher searcher;
    RunDeep(searcher, *disk.device, &builder);
    EXPECT_EQ(searcher.GetSearchedPartitionInfo(nullptr, 0), 0);
    EXPECT_TRUE(builder.List().empty());
}

// ---- intact and lost volumes ----------------------------------------------------------------------

// A volume at sector 40 of a GUID disk: candidate 0 opens it at its own start, lists it whole, and the
// partition record reads every file back.
TEST(HfsDeepDisk, IntactVolumeBehindTheProtectiveMbrIsListedWholeAndReadBack) {
    for (u32 sectorSize : {512u, 4096u}) {
        SCOPED_TRACE(sectorSize);
        auto writer = SmallVolume(Journaled(), "G");
        const auto image = writer.Build();
        const i64 start = GuidStart(sectorSize);
        Disk disk = GuidDisk(image, sectorSize);
        RecordingBuilder builder;
        Searcher searcher;
        RunDeep(searcher, *disk.device, &builder);
        const auto records = Records(searcher);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]->m_partitionStartSector, start);
        EXPECT_EQ(records[0]->m_cluster0Sector, start);
        EXPECT_EQ(records[0]->GetTotalSectors(), i64(image.size() / sectorSize));
        EXPECT_EQ(records[0]->m_sectorsPerCluster, 4096 / sectorSize);
        // Opened at its own start, in the disk's sector size: the volume itself serves reads.
        ASSERT_NE(searcher.Candidates()[0]->volume, nullptr);
        EXPECT_TRUE(searcher.Candidates()[0]->volume->IsOpen());
        ExpectFilesReadBack(writer, builder, *disk.device, *records[0]);
    }
}

// An intact volume listed whole: the leaves its catalog walk listed are not decoded again when the scan
// meets them (each live file and folder reaches the builder once), while a leaf in a free node of its
// catalog, which the walk does not reach, still gives its records (here a copy of a live leaf with
// a.txt renamed z.txt). A copy of a live leaf left as it was gives no file the walk listed: the tree
// builder would take such a copy's extents and size into the walk's node when it is older.
TEST(HfsDeepDisk, LeavesListedWholeAreNotDecodedAgain) {
    enum class Copy { None, Renamed, AsItWas };
    for (const Copy copy : {Copy::None, Copy::Renamed, Copy::AsItWas}) {
        const bool staleCopy = copy == Copy::Renamed;
        for (u32 sectorSize : {512u, 4096u}) {
            SCOPED_TRACE(testing::Message() << int(copy) << " " << sectorSize);
            hfs::Options o = Journaled();
            o.maxLeafRecords = 3;
            hfs::Layout layout;
            auto writer = SmallVolume(o, "W");
            auto image = writer.Build(&layout);
            ASSERT_GE(layout.catalogLeaves.size(), 2u);
            if (copy != Copy::None) {
                const u64 catalogBytes = ByteReader(image.data(), image.size())
                                             .Be64(1024 + f::vh::kCatalogFile + f::fork::kLogicalSize)
                                             .value_or(0);
                const u64 freeNode = layout.catalogByte + catalogBytes - layout.catalogNodeSize;
                const std::u16string name = u"a.txt";
                std::vector<u8> pattern;
                for (char16_t c : name) pattern.insert(pattern.end(), {u8(c >> 8), u8(c)});
                bool copied = false;
                for (u32 leaf : layout.catalogLeaves) {
                    const auto first = image.begin() + i64(layout.catalogByte + u64(leaf) * layout.catalogNodeSize);
                    std::vector<u8> node(first, first + layout.catalogNodeSize);
                    if (std::search(node.begin(), node.end(), pattern.begin(), pattern.end()) == node.end()) continue;
                    for (auto at = node.begin();
                         staleCopy && (at = std::search(at, node.end(), pattern.begin(), pattern.end())) != node.end();)
                        at[1] = 'z';
                    std::copy(node.begin(), node.end(), image.begin() + i64(freeNode));
                    copied = true;
                    break;
                }
                ASSERT_TRUE(copied);
            }
            Disk disk = GuidDisk(image, sectorSize);
            RecordingBuilder builder;
            Searcher searcher;
            RunDeep(searcher, *disk.device, &builder);
            const auto byPath = builder.ByPath();
            for (const hfs::Entry& e : writer.Entries()) {
                SCOPED_TRACE(e.path);
                ASSERT_TRUE(byPath.count(e.path));
                if (!staleCopy && (copy == Copy::None || e.kind == hfs::Entry::Kind::File)) {
                    EXPECT_EQ(byPath.at(e.path).size(), 1u);
                }
            }
            EXPECT_EQ(byPath.count("docs/z.txt"), staleCopy ? 1u : 0u);
        }
    }
}

// Header and alternate header wiped, the journal info block kept. With a stale copy of the header met
// elsewhere the volume's leaves are found, and its start follows from the journal info block, not from
// where the copy was met. Without any copy the volume is rebuilt: its start is its journal header's
// sector less the journal's offset, its trees are the header nodes met after it, its size is what its
// allocation file counts (without one: up to the disk's end), and its files read back. A journal header
// that is not the one its info block describes rebuilds nothing.
TEST(HfsDeepDisk, LostVolumeIsPlacedByItsJournalInfoBlock) {
    enum class Copy { Stale, None, NoneNoAllocationFile, NoneOtherJournal };
    for (const Copy copy : {Copy::Stale, Copy::None, Copy::NoneNoAllocationFile, Copy::NoneOtherJournal}) {
        for (u32 sectorSize : {512u, 4096u}) {
            SCOPED_TRACE(testing::Message() << int(copy) << " " << sectorSize);
            hfs::Layout layout;
            auto writer = SmallVolume(Journaled(), "L");
            const auto image = writer.Build(&layout);
            const i64 start = 4096 / sectorSize * 512;
            Disk disk(start + i64(image.size() / sectorSize) + 1024, sectorSize);
            disk.Put(start, image);
            const u64 base = u64(start) * sectorSize;
            const std::vector<u8> header(image.begin() + 1024, image.begin() + 1536);
            disk.Zero(base + 1024, 512);
            disk.Zero(base + image.size() - 1024, 512);
            // A stale copy of the header met before the catalog (real volumes' journals lie before their
            // catalog and keep the header's block): here in the volume's boot area.
            if (copy == Copy::Stale) disk.Put(start, header);
            if (copy == Copy::NoneOtherJournal) disk.PutByte(base + layout.journalByte + f::jhdr::kSize + 2, 0x77);
            // The allocation file (the block after the header's) zeroed: nothing counts the volume's blocks.
            if (copy == Copy::NoneNoAllocationFile) disk.Zero(base + 4096, 4096);
            RecordingBuilder builder;
            Searcher searcher;
            debugchannel::Capture lines;
            RunDeep(searcher, *disk.device, &builder);
            const std::string out = lines.Text();
            const auto records = Records(searcher);
            const auto placed = std::find_if(records.begin(), records.end(),
                                             [&](const auto& r) { return r->m_partitionStartSector == start; });
            if (copy == Copy::NoneOtherJournal) {
                EXPECT_EQ(placed, records.end());
                EXPECT_TRUE(LiveFiles(builder).empty());
                continue;
            }
            ASSERT_EQ(records.size(), 1u);
            ASSERT_NE(placed, records.end());
            EXPECT_EQ((*placed)->m_sectorsPerCluster, 4096 / sectorSize);
            // Rebuilt, its size is what its allocation file counts (its last block is marked: it held the
            // alternate header), not the disk's rest; without that file it runs to the disk's end.
            EXPECT_EQ((*placed)->GetTotalSectors(), copy == Copy::NoneNoAllocationFile
                                                        ? disk.device->GetTotalSectors() - start
                                                        : i64(image.size() / sectorSize));
            EXPECT_EQ(out.find("Rebuild VolumeHeader") != std::string::npos, copy != Copy::Stale);
            ExpectFilesReadBack(writer, builder, *disk.device, **placed);
        }
    }
}

// The same without the journal info block: the candidate says so and keeps its start when the header it
// holds lies there (a volume behind the protective MBR); the first candidate of a disk without one
// spans the disk and holds a header met further on: it takes that header's start, where its volume
// was opened, so its files read back (kept at 0 they would be read from the wrong place).
// A lost volume of 512-byte blocks whose structures all fall on 4096-byte boundaries (as the writer
// and formatters place them) keeps its block size: the one its allocation file is found with. Read as
// 4096-byte blocks, its files were other bytes and it ran to the disk's end.
namespace {

// Takes each catalog node ID once, as the tree builder does: the leaves' records of a volume listed
// whole are then all refused.
class OncePerIdBuilder : public RecordingBuilder {
public:
    int AddNode(IFileNode* node, _tagSearcherType type) override {
        if (!m_seen.insert(node->GetCurrentNodeID()).second) return 0;
        return RecordingBuilder::AddNode(node, type);
    }

private:
    std::set<i64> m_seen;
};

}  // namespace

TEST(HfsDeepDisk, LostVolumeOfSmallBlocksKeepsItsBlockSize) {
    // Three reserved blocks and an allocation file of five put every tree and the journal info block
    // after them on 4096-byte boundaries.
    hfs::Options o = Journaled(512, 20480);
    o.catalogNodeSize = 8192;
    hfs::Layout layout;
    auto writer = SmallVolume(o, "B");
    // Most blocks used: read as larger blocks, the dense bitmap marks every block it may hold.
    writer.Add({.path = "big.bin", .data = hfs::NoiseContent("big", 8 << 20)});
    const auto image = writer.Build(&layout);
    for (const u64 byte : {layout.journalInfoByte, layout.catalogByte, layout.extentsByte, layout.attributesByte})
        ASSERT_EQ(byte % 4096, 0u) << byte;
    const i64 start = 4096;
    Disk disk(start + i64(image.size() / 512) + 4096);
    disk.Put(start, image);
    disk.Zero(u64(start) * 512 + 1024, 512);
    disk.Zero(u64(start) * 512 + image.size() - 1024, 512);
    OncePerIdBuilder builder;
    Searcher searcher;
    debugchannel::Capture lines;
    RunDeep(searcher, *disk.device, &builder);
    const std::string out = lines.Text();
    EXPECT_NE(out.find("Rebuild VolumeHeader"), std::string::npos);
    const auto records = Records(searcher);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->m_partitionStartSector, start);
    EXPECT_EQ(records[0]->m_sectorsPerCluster, 1);
    EXPECT_EQ(records[0]->GetTotalSectors(), i64(image.size() / 512));
    ExpectFilesReadBack(writer, builder, *disk.device, *records[0]);
}

TEST(HfsDeepDisk, CandidateWithFilesButNoJournalInfoBlock) {
    for (const bool protective : {true, false}) {
        SCOPED_TRACE(protective);
        hfs::Layout layout;
        auto writer = SmallVolume(Journaled(), "K");
        const auto image = writer.Build(&layout);
        const i64 start = protective ? 40 : 2048;
        Disk disk(start + i64(image.size() / 512) + 2048);
        if (protective) disk.ProtectiveMbr();
        disk.Put(start, image);
        disk.Zero(u64(start) * 512 + layout.journalInfoByte, 4096);
        RecordingBuilder builder;
        Searcher searcher;
        debugchannel::Capture lines;
        RunDeep(searcher, *disk.device, &builder);
        const std::string out = lines.Text();
        EXPECT_NE(out.find(" Can't Find Volume Start Sector!"), std::string::npos);
        const auto records = Records(searcher);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]->m_partitionStartSector, start);
        EXPECT_FALSE(LiveFiles(builder).empty());
        ExpectFilesReadBack(writer, builder, *disk.device, *records[0]);
    }
}

// ---- the bitmap of live blocks --------------------------------------------------------------------

// A partition scanned alone: the volume at its start gets one bit per allocation block, set for the
// blocks of its live files (but each file's last block); free blocks stay clear, and the scan skips
// the marked sectors.
TEST(HfsDeepDisk, PartitionAloneMarksTheLiveBlocksOfItsVolume) {
    auto writer = SmallVolume(Journaled(), "P");
    hfs::Entry gone{.path = "gone.bin", .data = hfs::NoiseContent("gone", 30000), .deleted = true};
    writer.Add(gone);
    const auto image = writer.Build();
    auto device = std::make_unique<MemoryDevice>(image, 512, STORAGE_DEVICE_PARTITION);
    RecordingBuilder builder;
    TBitmap bitmap;
    Searcher searcher;
    searcher.SetActivePartition(true);
    RunDeep(searcher, *device, &builder, &bitmap);
    ASSERT_NE(bitmap.GetBitmapData(), nullptr);
    EXPECT_EQ(bitmap.GetScale(), 8u);
    EXPECT_EQ(bitmap.GetMaxBitIndex(), 1023);
    size_t checked = 0;
    for (const auto& l : builder.List()) {
        if (l.directory) continue;
        auto* node = dynamic_cast<CFileNode*>(l.node);
        IDataRunList* runs = node ? node->GetDataRunList() : nullptr;
        if (!runs) continue;
        std::vector<DataRun> list;
        for (DataRun* r = runs->GetFirst(); r; r = runs->GetNext()) list.push_back(*r);
        for (size_t i = 0; i < list.size(); ++i) {
            const u64 marked = i + 1 == list.size() ? list[i].length - 1 : list[i].length;
            for (u64 b = 0; b < list[i].length; ++b) {
                SCOPED_TRACE(l.path);
                EXPECT_EQ(bitmap.GetBit(list[i].start + i64(b)) != 0, !l.deleted && b < marked);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 10u);
}

// ---- hostile bytes --------------------------------------------------------------------------------

TEST(HfsDeepHostile, DamagedDisksEndCleanly) {
    hfs::Options o = Journaled(4096, 512);
    o.maxLeafRecords = 3;
    hfs::Writer w(o);
    for (int i = 0; i < 12; ++i)
        w.Add({.path = "d/f" + std::to_string(i), .data = hfs::TextContent("h" + std::to_string(i), 3000)});
    w.Add({.path = "frag", .data = hfs::TextContent("frag", 40000), .extents = 10});
    hfs::Layout layout;
    const auto image = w.Build(&layout);
    const u64 volume = 40 * 512;
    auto node = [&](u32 n) { return volume + layout.catalogByte + u64(n) * layout.catalogNodeSize; };
    auto be32 = [](u32 v) { return std::vector<u8>{u8(v >> 24), u8(v >> 16), u8(v >> 8), u8(v)}; };
    const u32 leaf = layout.catalogLeaves.at(1);
    const u32 index = layout.catalogIndexNodes.empty() ? layout.catalogRoot : layout.catalogIndexNodes.front();
    const u64 lastOffset = node(leaf) + layout.catalogNodeSize - 2;
    // The child pointer of record 0 of catalog node n (after its key).
    auto childOf = [&](u32 n) {
        const ByteReader bytes(image);
        const u64 at = layout.catalogByte + u64(n) * layout.catalogNodeSize;
        const u16 record = bytes.Be16(size_t(at + layout.catalogNodeSize - 2)).value_or(14);
        const u16 key = bytes.Be16(size_t(at + record)).value_or(0);
        return volume + at + record + key + 2;
    };
    const struct Case {
        const char* name;
        std::vector<std::pair<u64, std::vector<u8>>> patches;
    } cases[] = {
        {"leaf linked to itself", {{node(leaf) + f::node::kFLink, be32(leaf)}, {node(leaf) + f::node::kBLink, be32(leaf)}}},
        {"index child pointing to its own node", {{childOf(index), be32(index)}}},
        {"record offset past the node", {{lastOffset - 2, {0xFF, 0xF0}}}},
        {"first key length past the node", {{node(leaf) + 14, {0x7F, 0xFF}}}},
        {"record count huge", {{node(leaf) + f::node::kNumRecords, {0xFF, 0xFF}}}},
        {"journal info block past the disk",
         {{volume + layout.journalInfoByte + f::jib::kOffset, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0x00}},
          {volume + layout.journalInfoByte + f::jib::kSize, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0x00}}}},
        {"journal header sizes zero", {{volume + layout.journalByte + f::jhdr::kJhdrSize, {0, 0, 0, 0}},
                                       {volume + layout.journalByte + f::jhdr::kBlhdrSize, {0, 0, 0, 0}}}},
        {"block size zero", {{volume + 1024 + f::vh::kBlockSize, {0, 0, 0, 0}},
                             {volume + 1024 + f::vh::kCatalogFile, std::vector<u8>(8, 0)},
                             {volume + 1024 + f::vh::kCatalogFile + f::fork::kTotalBlocks, {0, 0, 0, 0}}}},
        {"block size and block count at their top",
         {{volume + 1024 + f::vh::kBlockSize, {0xFF, 0xFF, 0xFE, 0x00}},
          {volume + 1024 + f::vh::kTotalBlocks, {0xFF, 0xFF, 0xFF, 0xFF}},
          {volume + 1024 + f::vh::kCatalogFile, std::vector<u8>(8, 0)},
          {volume + 1024 + f::vh::kCatalogFile + f::fork::kTotalBlocks, {0, 0, 0, 0}}}},
        {"journal info block number at the volume end",
         {{volume + 1024 + f::vh::kJournalInfoBlock, be32(o.totalBlocks)}}},
        {"catalog header node with the largest node count and size",
         {{volume + layout.catalogByte + f::node::kDescriptorSize + f::header::kTotalNodes, be32(0xFFFFFFFF)},
          {volume + layout.catalogByte + f::node::kDescriptorSize + f::header::kNodeSize, {0x80, 0x00}}}},
        {"journal offset below the journal header's sector",
         {{volume + layout.journalInfoByte + f::jib::kOffset, {0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each also with the volume lost (its headers zeroed), so that it is rebuilt from what is left.
        for (u32 sectorSize : {512u, 4096u, 512u + 1, 4096u + 1}) {
            const bool lost = sectorSize % 2 != 0;
            sectorSize &= ~1u;
            Disk disk(i64((volume + image.size()) / sectorSize) + 64, sectorSize);
            disk.Put(i64(volume / sectorSize), image);
            if (lost) {
                disk.Zero(volume + 1024, 512);
                disk.Zero(volume + image.size() - 1024, 512);
            }
            if (sectorSize == 512) disk.ProtectiveMbr();
            for (const auto& [at, bytes] : c.patches)
                if (!bytes.empty()) disk.device->Put(at, bytes.data(), bytes.size());
            RecordingBuilder builder;
            TBitmap bitmap;
            Searcher searcher;
            RunDeep(searcher, *disk.device, &builder, &bitmap);
            for (const auto& record : Records(searcher)) {
                for (const auto& l : builder.List()) {
                    if (l.directory || l.node->GetFileSize() > (i64(16) << 20)) continue;
                    std::string bytes;
                    ReadNode(*disk.device, *record, l.node, bytes);
                }
            }
        }
    }
}

// A volume header in sector 1 of a 512-byte-sector disk would start its volume before the disk.
TEST(HfsDeepHostile, HeaderInSectorOneMakesNoCandidate) {
    const auto image = SmallVolume(Journaled(4096, 64), "S").Build();
    Disk disk(2048);
    disk.Put(1, std::vector<u8>(image.begin() + 1024, image.begin() + 1536));
    RecordingBuilder builder;
    Searcher searcher;
    RunDeep(searcher, *disk.device, &builder);
    ASSERT_EQ(searcher.Candidates().size(), 1u);
    EXPECT_EQ(searcher.Candidates()[0]->header, nullptr);
    EXPECT_EQ(searcher.GetSearchedPartitionInfo(nullptr, 0), 0);
}
