// The deep HFS+ search on disks assembled in memory from the writer's volumes: the per-sector checks
// and the candidate rules as one table, intact volumes listed whole (files read back byte-exact through
// the partition records), the bitmap of their live blocks, and lost volumes placed by their journal
// info block.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/HFSPlusLib/HfsTestSupport.h"
#include "engine/HFSPlusSearch/HFSPlusCompleteSearcher.h"
#include "engine/Utility/TBitmap.h"
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
    searcher.SetDevice(&device);
    const i64 block = 0x400000 / device.GetSectorSize();
    searcher.SetBlockSize(int(block));
    searcher.SetDirecotryTreeBuilder(builder);
    searcher.SetBitmap(bitmap);
    searcher.PreparetoSearch();
    for (i64 s = 0; s < device.GetTotalSectors(); s += block)
        searcher.AnalyzeBlock(s, std::min(block, device.GetTotalSectors() - s));
    searcher.EndSearch(1);
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
        const i64 start = sectorSize == 512 ? 40 : 7;
        Disk disk(start + i64(image.size() / sectorSize) + 2048, sectorSize);
        disk.ProtectiveMbr();
        disk.Put(start, image);
        RecordingBuilder builder;
        Searcher searcher;
        RunDeep(searcher, *disk.device, &builder);
        const auto records = Records(searcher);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]->m_partitionStartSector, start);
        EXPECT_EQ(records[0]->m_cluster0Sector, start);
        EXPECT_EQ(records[0]->GetTotalSectors(), i64(image.size() / sectorSize));
        EXPECT_EQ(records[0]->m_sectorsPerCluster, 4096 / sectorSize);
        const auto files = LiveFiles(builder);
        for (const hfs::Entry& e : writer.Entries()) {
            if (e.kind != hfs::Entry::Kind::File) continue;
            SCOPED_TRACE(e.path);
            auto it = files.find(e.path);
            ASSERT_NE(it, files.end());
            std::string bytes;
            ASSERT_TRUE(ReadNode(*disk.device, *records[0], it->second, bytes));
            EXPECT_EQ(bytes, e.data);
        }
    }
}

// Header and alternate header wiped, the journal info block kept, a stale copy of the header elsewhere:
// the volume's leaves are found, and its start follows from the journal info block, not from where the
// header copy was met.
TEST(HfsDeepDisk, LostVolumeIsPlacedByItsJournalInfoBlock) {
    for (u32 sectorSize : {512u, 4096u}) {
        SCOPED_TRACE(sectorSize);
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
        disk.Put(start, header);
        RecordingBuilder builder;
        Searcher searcher;
        RunDeep(searcher, *disk.device, &builder);
        const auto records = Records(searcher);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]->m_partitionStartSector, start);
        EXPECT_EQ(records[0]->GetTotalSectors(), i64(image.size() / sectorSize));
        const auto files = LiveFiles(builder);
        for (const hfs::Entry& e : writer.Entries()) {
            if (e.kind != hfs::Entry::Kind::File) continue;
            SCOPED_TRACE(e.path);
            auto it = files.find(e.path);
            ASSERT_NE(it, files.end());
            std::string bytes;
            ASSERT_TRUE(ReadNode(*disk.device, *records[0], it->second, bytes));
            EXPECT_EQ(bytes, e.data);
        }
    }
}

// The same without the journal info block: the candidate keeps the start it had and says so.
TEST(HfsDeepDisk, CandidateWithFilesButNoJournalInfoBlockKeepsItsStart) {
    hfs::Layout layout;
    auto writer = SmallVolume(Journaled(), "K");
    const auto image = writer.Build(&layout);
    Disk disk(2048 + i64(image.size() / 512) + 2048);
    disk.Put(2048, image);
    // The journal info block is gone: the candidate made from the header keeps the header's start.
    disk.Zero(2048 * 512 + layout.journalInfoByte, 4096);
    RecordingBuilder builder;
    Searcher searcher;
    testing::internal::CaptureStdout();
    RunDeep(searcher, *disk.device, &builder);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(" Can't Find Volume Start Sector!"), std::string::npos);
    const auto records = Records(searcher);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->m_partitionStartSector, 0);
    EXPECT_FALSE(LiveFiles(builder).empty());
}
