// The constants of the HFS+ library as one table of cases: header tests, recognition, byte reads,
// special-file extents, key orders, node validity, leaf classification, LZVN opcodes, compressed reads,
// dates and sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "engine/HFSPlusLib/FastUnicodeCompare.h"
#include "engine/HFSPlusLib/HFSPlusBTNode.h"
#include "engine/HFSPlusLib/HFSPlusJournal.h"
#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"
#include "engine/HFSPlusLib/HFSPlusRawfile.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HFSPlusVolumeAnalyze.h"
#include "engine/HFSPlusLib/Lzvn.h"
#include "engine/HFSPlusLib/HfsTestSupport.h"
#include "support/PutBytes.h"

using testsupport::PutInto;

using namespace hfstest;
namespace hfs = testsupport::hfs;
namespace f = hfsplus;

namespace {

std::vector<u8> Header(const std::string& fixture) {
    const auto& image = FixtureBytes(fixture);
    return std::vector<u8>(image.begin() + 1024, image.begin() + 1536);
}

std::vector<u8> Build(hfs::Options options, std::vector<hfs::Entry> entries, hfs::Layout* layout = nullptr) {
    hfs::Writer writer(std::move(options));
    for (auto& e : entries) writer.Add(std::move(e));
    return writer.Build(layout);
}

// A node of the given kind and height holding records of these sizes (filled with 0).
std::vector<u8> NodeBytes(u32 size, i8 kind, u8 height, const std::vector<std::vector<u8>>& records) {
    std::vector<u8> node(size, 0);
    node[f::node::kKind] = u8(kind);
    node[f::node::kHeight] = height;
    PutInto(node).Be16(f::node::kNumRecords, u16(records.size()));
    size_t at = 14;
    for (size_t i = 0; i <= records.size(); ++i) {
        PutInto(node).Be16(size - 2 * (i + 1), u16(at));
        if (i < records.size()) {
            std::copy(records[i].begin(), records[i].end(), node.begin() + at);
            at += records[i].size();
        }
    }
    return node;
}

// A leaf record: a key of keyBytes (key length keyBytes - 2) and data of dataBytes whose first bytes
// carry the given big-endian u16 and u32 type.
std::vector<u8> Record(size_t keyBytes, size_t dataBytes, u16 type16 = 0, u32 type32 = 0) {
    std::vector<u8> r(keyBytes + dataBytes, 0);
    PutInto(r).Be16(0, u16(keyBytes - 2));
    if (type16) PutInto(r).Be16(keyBytes, type16);
    if (type32) PutInto(r).Be32(keyBytes, type32);
    return r;
}

}  // namespace

TEST(HfsPlusConstants, VolumeHeaderTests) {
    struct Case {
        const char* what;
        std::function<void(std::vector<u8>&)> patch;
        bool valid;
    } cases[] = {
        {"a writer's header", [](std::vector<u8>&) {}, true},
        {"HX version 5", [](std::vector<u8>& h) { PutInto(h).Be16(f::vh::kSignature, 0x4858), PutInto(h).Be16(f::vh::kVersion, 5); }, true},
        {"version 17", [](std::vector<u8>& h) { PutInto(h).Be16(f::vh::kVersion, 17); }, false},
        {"block size 4100", [](std::vector<u8>& h) { PutInto(h).Be32(f::vh::kBlockSize, 4100); }, false},
        {"free blocks above total", [](std::vector<u8>& h) { PutInto(h).Be32(f::vh::kFreeBlocks, 0xFFFFFFFF); }, false},
        {"journal block above total", [](std::vector<u8>& h) { PutInto(h).Be32(f::vh::kJournalInfoBlock, 0xFFFFFFFF); }, false},
        {"catalog one byte short",
         [](std::vector<u8>& h) {
             const u64 size = ByteReader(h).Be64(f::vh::kCatalogFile).value();
             PutInto(h).Be64(f::vh::kCatalogFile, size - 1);
         },
         false},
        {"signature H-", [](std::vector<u8>& h) { PutInto(h).Be16(f::vh::kSignature, 0x482D); }, false},
        {"block size 0 with an empty catalog fork",
         [](std::vector<u8>& h) {
             PutInto(h).Be32(f::vh::kBlockSize, 0);
             PutInto(h).Be64(f::vh::kCatalogFile, 0);
             PutInto(h).Be32(f::vh::kCatalogFile + f::fork::kTotalBlocks, 0);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> h = Header("plain");
        c.patch(h);
        const std::vector<u8> before = h;
        EXPECT_EQ(CHFSPlusVolume::IsValidVolumeHeader(h.data(), u16(h.size())), c.valid);
        EXPECT_EQ(h, before);  // tested on a copy
    }
    std::vector<u8> h = Header("plain");
    EXPECT_FALSE(CHFSPlusVolume::IsValidVolumeHeader(h.data(), 511));
    EXPECT_FALSE(CHFSPlusVolume::IsValidVolumeHeader(nullptr, 512));
}

TEST(HfsPlusConstants, RecogniserReadsTheSectorHoldingByte1024) {
    const std::vector<u8>& image = FixtureBytes("plain");
    struct Case {
        u32 sectorSize;
        u64 start;
        i64 expectedSector;
    } cases[] = {{512, 0, 2}, {4096, 0, 0}, {512, 8, 10}, {4096, 3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sectorSize);
        std::vector<u8> bytes(size_t(c.start) * c.sectorSize, 0);
        bytes.insert(bytes.end(), image.begin(), image.end());
        MemoryDevice device(bytes, c.sectorSize);
        std::vector<i64> reads;
        device.SetFailHook([&](i64 first, i64) {
            reads.push_back(first);
            return false;
        });
        CHFSPlusVolumeAnalyze analyze(&device, c.start);
        EXPECT_EQ(reads, std::vector<i64>{c.expectedSector});
        EXPECT_EQ(analyze.GetFileSystemType(), FILE_SYSTEM_HFSPLUS);
        EXPECT_EQ(analyze.GetTotalSector(), i64(image.size() / c.sectorSize));
    }
    MemoryDevice zeros(i64(64), 512);
    std::unique_ptr<IVolumeAnalyze> none(CreateHFSPlusVolumeAnalyze(&zeros, 0));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->GetFileSystemType(), FILE_SYSTEM_UNKNOWN);
    EXPECT_EQ(CHFSPlusVolumeAnalyze(nullptr, 0).GetFileSystemType(), FILE_SYSTEM_UNKNOWN);

    // The label: min(length, 100) zero bytes, nothing beyond.
    char label[200];
    std::memset(label, 0x55, sizeof label);
    none->GetLabel(label, 200);
    EXPECT_EQ(std::count(label, label + 100, 0), 100);
    EXPECT_EQ(std::count(label + 100, label + 200, 0x55), 100);
    none->GetLabel(label, 0);
}

TEST(HfsPlusConstants, ByteReadsGoThroughWholeSectors) {
    auto device = VolumeDevice(FixtureBytes("plain"), 512);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());
    const int before = device->ReadCount();
    u8 ten[10];
    EXPECT_EQ(volume.Read(510, ten, 10), 10u);
    EXPECT_EQ(device->ReadCount() - before, 2);
    EXPECT_EQ(0, std::memcmp(ten, FixtureBytes("plain").data() + 510, 10));
    // A read past the device's end gives the bytes copied before the sectors that failed: the head of
    // the read up to its sector's end.
    std::vector<u8> tail(2048);
    const u64 end = FixtureBytes("plain").size();
    EXPECT_EQ(volume.Read(end - 1000, tail.data(), tail.size()), 488u);
    EXPECT_TRUE(result::IsFailure(volume.GetStatus()));
}

TEST(HfsPlusConstants, SpecialFilesBeyondEightExtents) {
    // The HFSX image keeps its catalog in ten extents: the last two come from the overflow record whose
    // start block is the blocks of the first eight.
    hfs::Layout layout;
    std::vector<u8> image = hfs::FixtureWriter("hfsx").Build(&layout);
    {
        auto device = VolumeDevice(image, 512);
        CHFSPlusVolume volume(device.get(), false);
        ASSERT_TRUE(volume.IsOpen()) << std::hex << volume.GetStatus();
        const auto& extents = volume.GetCatalogFile()->Extents();
        ASSERT_EQ(extents.size(), 10u);
        u64 blocks = 0;
        for (const auto& e : extents) blocks += e.blockCount;
        EXPECT_EQ(blocks, volume.GetHeader()->catalogFile.totalBlocks);
        EXPECT_EQ(volume.GetCatalogFile()->CachedSize(), blocks * 512);
        EXPECT_EQ(CHFSPlusFileCache::kMaxCachedBytes, 0x10000000u);
    }
    // The extents file itself cannot continue past eight extents: kind 0x6.
    std::vector<u8> patched = image;
    const size_t at = 1024 + f::vh::kExtentsFile + f::fork::kTotalBlocks;
    PutInto(patched).Be32(at, ByteReader(patched).Be32(at).value() + 1);
    auto device = VolumeDevice(patched, 512);
    CHFSPlusVolume volume(device.get(), false);
    EXPECT_FALSE(volume.IsOpen());
    EXPECT_EQ(result::KindOf(volume.GetStatus()), f::kKindBadData);
}

TEST(HfsPlusConstants, KeyOrders) {
    struct Case {
        const char* what;
        int order;
        int expected;
    };
    const BTKey abColon = CatalogKey(20, u"a:b"), abSlash = CatalogKey(20, u"a/b");
    const Case cases[] = {
        {"binary: a:b equals a/b", CHFSPlusCatalog::CompareKey(abColon, abSlash, 0xBC), 0},
        {"binary: ABC before abc", CHFSPlusCatalog::CompareKey(CatalogKey(20, u"ABC"), CatalogKey(20, u"abc"), 0xBC), -1},
        {"folding: ABC equals abc", CHFSPlusCatalog::CompareKey(CatalogKey(20, u"ABC"), CatalogKey(20, u"abc"), 0xCF), 0},
        {"folding: a prefix first", CHFSPlusCatalog::CompareKey(CatalogKey(20, u"ab"), CatalogKey(20, u"abc"), 0xCF), -1},
        {"binary: a prefix first", CHFSPlusCatalog::CompareKey(CatalogKey(20, u"abc"), CatalogKey(20, u"ab"), 0xBC), 1},
        {"parent first", CHFSPlusCatalog::CompareKey(CatalogKey(19, u"z"), CatalogKey(20, u"a"), 0xCF), -1},
        {"two empty names", CHFSPlusCatalog::CompareKey(CatalogKey(20, u""), CatalogKey(20, u""), 0xCF), 0},
        {"folding skips ignorable units", CHFSPlusCatalog::CompareKey(CatalogKey(20, u"a\u200Cb"), CatalogKey(20, u"ab"), 0xCF), 0},
        {"folding: an embedded zero sorts last", CHFSPlusCatalog::CompareKey(CatalogKey(20, std::u16string(u"a\0", 2)), CatalogKey(20, u"ab"), 0xCF), 1},
        {"folding: Greek capitals fold", CHFSPlusCatalog::CompareKey(CatalogKey(20, u"\u0391"), CatalogKey(20, u"\u03B1"), 0xCF), 0},
        {"folding: precomposed letters do not fold", CHFSPlusCatalog::CompareKey(CatalogKey(20, u"\u00C9"), CatalogKey(20, u"\u00E9"), 0xCF), -1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.order, c.expected) << c.what;

    BTKey five, six;
    five.fileID = 5;
    five.forkType = 0xFF;
    six.fileID = 6;
    six.forkType = 0x00;
    EXPECT_EQ(CHFSPlusExtents::CompareKey(five, six), -1);
    BTKey a = five, b = five;
    a.startBlock = 8;
    b.startBlock = 16;
    EXPECT_EQ(CHFSPlusExtents::CompareKey(a, b), -1);
    // Attributes: the name in binary order; the start block is not compared.
    BTKey x = CatalogKey(0, u"com.apple.decmpfs"), y = CatalogKey(0, u"com.apple.decmpfs");
    x.fileID = y.fileID = 30;
    x.startBlock = 0;
    y.startBlock = 7;
    EXPECT_EQ(CHFSPlusAttribute::CompareKey(x, y), 0);
    EXPECT_EQ(CHFSPlusAttribute::CompareKey(CatalogKey(0, u"B"), CatalogKey(0, u"a")), -1);
}

// The case-folding order against the unit-by-unit walk it stands for (next unit not skipped on each
// side, folded, ':' as '/'), on names drawn from units that fold to each other, fold to nothing,
// differ only in case or only as ':' and '/', with common beginnings of every length.
TEST(HfsPlusConstants, FoldedOrderEqualsTheUnitWalk) {
    const auto walk = [](const std::vector<u16>& a, const std::vector<u16>& b) {
        size_t i = 0, j = 0;
        for (;;) {
            u16 c1 = 0, c2 = 0;
            while (i < a.size() && c1 == 0) c1 = hfsplus::FoldUnit(a[i++]);
            while (j < b.size() && c2 == 0) c2 = hfsplus::FoldUnit(b[j++]);
            if (c1 == u16(':')) c1 = u16('/');
            if (c2 == u16(':')) c2 = u16('/');
            if (c1 != c2) return c1 < c2 ? -1 : 1;
            if (c1 == 0) return 0;
        }
    };
    std::vector<u16> units{u16('a'), u16('A'), u16('b'), u16(':'), u16('/'), 0, 0x00C9, 0x00E9, 0x200C, 0xFFFF, u16('1')};
    std::sort(units.begin(), units.end());
    ASSERT_EQ(hfsplus::FoldUnit(0x200C), 0);  // a unit the order skips
    std::mt19937 random(3);
    for (int round = 0; round < 20000; ++round) {
        std::vector<u16> a(random() % 12), b;
        for (u16& u : a) u = units[random() % units.size()];
        b.assign(a.begin(), a.begin() + long(a.empty() ? 0 : random() % (a.size() + 1)));
        for (size_t n = random() % 6; n > 0; --n) b.push_back(units[random() % units.size()]);
        if (round % 3 == 0 && !b.empty()) b[random() % b.size()] = units[random() % units.size()];
        SCOPED_TRACE(testing::Message() << "round " << round);
        ASSERT_EQ(FastUnicodeCompare(a.data(), u16(a.size()), b.data(), u16(b.size())), walk(a, b));
        ASSERT_EQ(FastUnicodeCompare(b.data(), u16(b.size()), a.data(), u16(a.size())), walk(b, a));
    }
}

TEST(HfsPlusConstants, NodeValidity) {
    const std::vector<u8> record = Record(8, 88, 1);
    struct Case {
        const char* what;
        std::vector<u8> node;
        u32 size;
        bool valid;
    };
    std::vector<u8> recordAt16 = NodeBytes(512, -1, 1, {record});
    PutInto(recordAt16).Be16(510, 16);
    std::vector<u8> backwards = NodeBytes(512, -1, 1, {record, record});
    PutInto(backwards).Be16(506, 20);
    const Case cases[] = {
        {"a leaf of height 1", NodeBytes(512, -1, 1, {record}), 512, true},
        {"a leaf of height 2", NodeBytes(512, -1, 2, {record}), 512, false},
        {"an index node of height 5", NodeBytes(512, 0, 5, {record}), 512, true},
        {"a header node of height 1", NodeBytes(512, 1, 1, {}), 512, false},
        {"a map node of any height", NodeBytes(512, 2, 9, {}), 512, true},
        {"kind 3", NodeBytes(512, 3, 1, {}), 512, false},
        {"record 0 at byte 16", recordAt16, 512, false},
        {"offsets going back", backwards, 512, false},
        {"node size 1000", NodeBytes(1000, -1, 1, {record}), 1000, false},
        {"no records", NodeBytes(512, -1, 1, {}), 512, true},
    };
    for (const Case& c : cases) EXPECT_EQ(CHFSPlusBTNode::IsValidNode(c.node.data(), c.size), c.valid) << c.what;
    // Records past the offset table are refused.
    std::vector<u8> crowded = NodeBytes(512, -1, 1, {});
    PutInto(crowded).Be16(f::node::kNumRecords, 300);
    EXPECT_FALSE(CHFSPlusBTNode::IsValidNode(crowded.data(), 512));
}

TEST(HfsPlusConstants, LeafClassification) {
    struct Case {
        const char* what;
        std::vector<std::vector<u8>> records;
        u32 expected;
    };
    const Case cases[] = {
        {"extent records only", {Record(12, 64), Record(12, 64), Record(12, 64)}, 3},
        {"a file record, then extent records", {Record(8, 248, 2), Record(12, 64)}, 4},
        {"a folder record", {Record(12, 88, 1)}, 4},
        {"a thread record", {[] {
              auto r = Record(8, 14, 3);
              PutInto(r).Be16(8 + 8, 2);
              return r;
          }()},
         4},
        {"attribute fork records", {Record(20, 88, 0, 0x20)}, 8},
        {"attribute extents, then extents", {Record(20, 72, 0, 0x30), Record(12, 64)}, 3},
        {"inline attribute data", {Record(20, 40, 0, 0x10)}, 0},
    };
    for (const Case& c : cases) {
        CHFSPlusBTNode node(NodeBytes(4096, -1, 1, c.records));
        ASSERT_TRUE(node.IsValid()) << c.what;
        EXPECT_EQ(node.TestNodeBelongToFile(), c.expected) << c.what;
    }
}

TEST(HfsPlusConstants, LzvnOpcodes) {
    auto bytes = [](std::initializer_list<int> v) {
        std::string s;
        for (int b : v) s.push_back(char(b));
        return s;
    };
    const std::string eos = bytes({0x06, 0, 0, 0, 0, 0, 0, 0});
    struct Case {
        const char* what;
        std::string stream;
        std::string expected;  // "" with ok = false: the decoder answers 0
        bool ok = true;
    } cases[] = {
        {"small literal", bytes({0xE3, 'a', 'b', 'c'}) + eos, "abc"},
        {"large literal", bytes({0xE0, 0x01}) + std::string(17, 'q') + eos, std::string(17, 'q')},
        {"small distance", bytes({0x88, 0x02, 'a', 'b'}) + eos, "ababab"},
        {"medium distance", bytes({0xA8, 0x06, 0x00, 'x'}) + eos, "xxxxxx"},
        {"large distance", bytes({0xC7, 0x03, 0x00, 'a', 'b', 'c'}) + eos, "abcabc"},
        {"previous distance", bytes({0xC7, 0x03, 0x00, 'a', 'b', 'c', 0x46, 'z'}) + eos, "abcabczbcz"},
        {"small match", bytes({0xC7, 0x03, 0x00, 'a', 'b', 'c', 0xF2}) + eos, "abcabcab"},
        {"large match", bytes({0xE1, 'm', 0x00, 0x01, 0xF0, 0x00}) + eos, std::string(20, 'm')},
        {"nops", bytes({0x0E, 0xE1, 'n', 0x16}) + eos, "n"},
        {"end of stream stops", bytes({0xE1, 'e'}) + eos + bytes({0xE1, 'x'}), "e"},
        {"undefined opcode 0x1E", bytes({0xE1, 'a', 0x1E}) + eos, "", false},
        {"undefined opcode 0x70", bytes({0xE1, 'a', 0x70, 0x01}) + eos, "", false},
        {"undefined opcode 0xD0", bytes({0xE1, 'a', 0xD0, 0x01}) + eos, "", false},
        {"truncated literals", bytes({0xE3, 'a'}), "", false},
        {"no end of stream", bytes({0xE2, 'a', 'b'}), "", false},
        {"a match before the output", bytes({0x08, 0x05}) + eos, "", false},
        {"a match at distance 0", bytes({0xE1, 'a', 0x08, 0x00}) + eos, "", false},
        {"a previous distance never set", bytes({0xE1, 'a', 0xF3}) + eos, "", false},
    };
    for (const Case& c : cases) {
        std::vector<u8> out(64, 0);
        const unsigned long n = lzvn_decode(out.data(), out.size(), c.stream.data(), c.stream.size());
        if (!c.ok) {
            EXPECT_EQ(n, 0u) << c.what;
            continue;
        }
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), n), c.expected) << c.what;
    }
    // A full destination ends the stream; fewer than 16 bytes of room decode nothing.
    const std::string twenty = bytes({0xE1, 'm', 0x00, 0x01, 0xF0, 0x00}) + eos;
    std::vector<u8> out(16);
    EXPECT_EQ(lzvn_decode(out.data(), 16, twenty.data(), twenty.size()), 16u);
    EXPECT_EQ(lzvn_decode(out.data(), 15, twenty.data(), twenty.size()), 0u);
    // The test encoder's streams decode back, whatever the content.
    for (const std::string& data : {hfs::TextContent("lzvn", 70000), hfs::NoiseContent("lzvn", 3000), std::string(5000, 'z')}) {
        const std::string stream = hfs::Compress(data, 7, false).attribute.substr(16);
        std::vector<u8> back(data.size() + 16);
        ASSERT_EQ(lzvn_decode(back.data(), back.size(), stream.data(), stream.size()), data.size());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(back.data()), data.size()), data);
    }
}

TEST(HfsPlusConstants, CompressedReadsTakeTheBlocksTheyNeed) {
    hfs::Options options;
    options.totalBlocks = 256;
    hfs::Entry ten;
    ten.path = "ten.txt";
    ten.data = "0123456789";
    ten.compression = 3;
    hfs::Entry big;
    big.path = "big.bin";
    big.data = hfs::TextContent("big", 100000);
    big.compression = 8;
    auto device = VolumeDevice(Build(options, {ten, big}), 4096);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());
    RecordingBuilder builder;
    builder.AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    struct AlwaysOn : IProgress {
        int UpdateProgress(_PROGRESS_INFO*) override { return 1; }
        int Continued() override { return 1; }
        int shouldBuild() override { return 1; }
    } sink;
    CHFSPlusQuickFileSystemSearchProgress adapter(&sink, true);
    volume.Traverse(f::kCatalogFileID, &builder, &adapter);
    const auto byPath = builder.ByPath();
    ASSERT_TRUE(byPath.count("ten.txt") && byPath.count("big.bin"));

    IFileNode* tenNode = byPath.at("ten.txt").front().node;
    EXPECT_EQ(tenNode->GetFileSize(), 10);
    std::unique_ptr<IFileReader, void (*)(IFileReader*)> r3(tenNode->CreateCompressFileReader(nullptr),
                                                            [](IFileReader* r) { r->Release(); });
    char buffer[4096];
    EXPECT_EQ(r3->ReadData(0, buffer, 4096, nullptr), 10u);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(r3->ReadData(10, buffer, 4096, nullptr), 0u);

    IFileNode* bigNode = byPath.at("big.bin").front().node;
    EXPECT_EQ(bigNode->GetFileSize(), 100000);
    std::unique_ptr<IFileReader, void (*)(IFileReader*)> r8(bigNode->CreateCompressFileReader(nullptr),
                                                            [](IFileReader* r) { r->Release(); });
    ASSERT_EQ(r8->ReadData(65536, buffer, 4096, nullptr), 4096u);
    EXPECT_EQ(std::string(buffer, 4096), big.data.substr(65536, 4096));
    // Across the chunk boundary, and clipped at the end.
    ASSERT_EQ(r8->ReadData(65536 - 100, buffer, 200, nullptr), 200u);
    EXPECT_EQ(std::string(buffer, 200), big.data.substr(65436, 200));
    EXPECT_EQ(r8->ReadData(99990, buffer, 4096, nullptr), 10u);
    std::unique_ptr<IFileReader, void (*)(IFileReader*)> copy(r8->Clone(), [](IFileReader* r) { r->Release(); });
    EXPECT_EQ(copy->GetDataSize(), 100000);
    EXPECT_EQ(copy->IsCompressFile(), 1u);
}

TEST(HfsPlusConstants, DatesAndSizes) {
    EXPECT_EQ(CHFSPlusFileNode::TimeConvert(0), 0);
    EXPECT_EQ(CHFSPlusFileNode::TimeConvert(1), 95616288010000000LL);

    // logicalSize 0 and three allocated blocks: three blocks of the volume's block size.
    for (u32 blockSize : {512u, 4096u}) {
        hfs::Options options;
        options.blockSize = blockSize;
        options.totalBlocks = blockSize == 512 ? 4096 : 512;
        hfs::Entry one;
        one.path = "one.txt";
        one.data = "x";
        auto device = VolumeDevice(Build(options, {one}), 512);
        CHFSPlusVolume volume(device.get(), false);
        ASSERT_TRUE(volume.IsOpen());
        BTKey key = CatalogKey(2, u"three");
        HFSPlusCatalogRecord record;
        record.recordType = f::catrec::kFile;
        record.file.fileID = 40;
        record.file.dataFork.totalBlocks = 3;
        record.file.dataFork.extents[0] = {10, 3};
        CHFSPlusFileNode node(&volume, &key, &record, 0);
        EXPECT_EQ(node.GetFileSize(), i64(3) * blockSize);
    }
}

TEST(HfsPlusConstants, AJournalScanWalksEveryUnitOnceAndStopsAtItsEnd) {
    hfs::Options options;
    options.journaled = true;
    options.journalSize = 64 * 1024;
    options.totalBlocks = 256;
    hfs::Layout layout;
    hfs::Entry file;
    file.path = "a.txt";
    file.data = "a";
    std::vector<u8> image = Build(options, {file}, &layout);
    // Plain data only, and an end E in the middle.
    std::fill(image.begin() + layout.journalByte + 512, image.begin() + layout.journalByte + layout.journalSize, 0);
    const u64 end = 3 * 512;
    ByteWriter(image.data() + layout.journalByte, 512).Le64(f::jhdr::kEnd, end);
    auto device = VolumeDevice(image, 512);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());
    ASSERT_EQ(volume.GetJournal()->GetStatus(), 0u);
    std::map<i64, int> reads;
    device->SetFailHook([&](i64 first, i64 count) {
        for (i64 s = first; s < first + count; ++s) ++reads[s];
        return false;
    });
    CDeletedRecordList a([](const BTKey&, const BTKey&) { return 0; }), b([](const BTKey&, const BTKey&) { return 0; }),
        c([](const BTKey&, const BTKey&) { return 0; });
    EXPECT_EQ(volume.GetJournal()->GetDeleteRecord(nullptr, a, b, c), 0u);
    EXPECT_EQ(volume.GetJournal()->LastScanUnits(), layout.journalSize / 512);
    const i64 first = i64(layout.journalByte / 512);
    for (i64 s = first; s < first + i64(layout.journalSize / 512); ++s) EXPECT_EQ(reads[s], 1) << s;
    EXPECT_EQ(reads.size(), layout.journalSize / 512);
}
