// Recognition of an APFS container and its label (the first volume's name), on the committed mkapfs
// images and the shared ones, at several sector sizes; the superblocks that are refused; the trace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "ApfsTestSupport.h"
#include "engine/APFS/APFSObject.h"
#include "engine/APFS/APFSRecognize.h"
#include "engine/Common/DebugChannel.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/VolumeAnalyze/VolumeAnalyzeController.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"
#include "support/HostileTable.h"
#include "support/MemoryDevice.h"

namespace {

std::string LabelOf(IStorageDevice* device, u64 start = 0, int length = 101) {
    std::unique_ptr<IVolumeAnalyze> analyzer(CreateAPFSVolumeAnalyze(device, start));
    if (!analyzer) return "<not recognised>";
    std::vector<char> label(static_cast<size_t>(length), 0);
    analyzer->GetLabel(label.data(), length);
    return std::string(label.data(), strnlen(label.data(), label.size()));
}

struct LabelCase {
    const char* image;
    bool shared;
    const char* fsapfsinfo;  // the second reader's golden, whose volume name the label must start with
};

TEST(ApfsRecognize, EveryImageGivesItsFirstVolumesNameAtEverySectorSize) {
    const LabelCase cases[] = {
        {"apfs-records", false, "apfs/apfs-records.fsapfsinfo.txt"},
        {"apfs-longname", false, "apfs/apfs-longname.fsapfsinfo.txt"},
        {"apfs-macos.raw", true, "apfs/shared-apfs-macos.fsapfsinfo.txt"},
        {"apfs-1g-sparse.img", true, "apfs/shared-apfs-1g-sparse.fsapfsinfo.txt"},
    };
    for (const LabelCase& c : cases) {
        const auto image = c.shared ? apfstest::SharedImage(c.image) : std::optional(apfstest::Image(c.image));
        if (!image) continue;
        const std::string name = apfstest::FsapfsinfoName(testsupport::FixturePath(c.fsapfsinfo));
        ASSERT_FALSE(name.empty());
        // 8192: a block lies in half a sector; the label is read by bytes all the same.
        for (u32 sectorSize : {512u, 1024u, 4096u, 8192u}) {
            SCOPED_TRACE(std::string(c.image) + " sectors of " + std::to_string(sectorSize));
            testsupport::ImageFileDevice device(*image, sectorSize);
            EXPECT_EQ(LabelOf(&device), name.substr(0, 32));
            // Through volume recognition, as device enumeration asks.
            std::unique_ptr<CVolumeAnalyzeController> controller(CreateVolumeAnalyzeController(&device, 0));
            IVolumeAnalyze* found = controller->GetVolumeAnzlyzer();
            ASSERT_TRUE(found);
            EXPECT_EQ(found->GetFileSystemType(), FILE_SYSTEM_APFS);
            EXPECT_EQ(found->GetTotalSector(), device.GetTotalSectors());
        }
    }
    EXPECT_EQ(apfstest::FsapfsinfoName(testsupport::FixturePath("apfs/apfs-records.fsapfsinfo.txt")), "BRELVOX");
}

TEST(ApfsRecognize, AFortyCharacterNameGivesItsFirst32BytesWithinTheCallersBuffer) {
    testsupport::ImageFileDevice device(apfstest::Image("apfs-longname"), 512);
    const std::string name = "Brelvox volume label of forty characters";
    ASSERT_EQ(name.size(), 40u);
    EXPECT_EQ(LabelOf(&device), name.substr(0, 32));
    // A smaller buffer is never overrun and stays terminated.
    EXPECT_EQ(LabelOf(&device, 0, 10), name.substr(0, 9));
    EXPECT_EQ(LabelOf(&device, 0, 33), name.substr(0, 32));
    std::unique_ptr<IVolumeAnalyze> analyzer(CreateAPFSVolumeAnalyze(&device, 0));
    char label[40];
    std::memset(label, 'x', sizeof label);
    label[0] = 0;
    analyzer->GetLabel(label, 1);
    EXPECT_EQ(label[0], 0);
    EXPECT_EQ(label[1], 'x');
    // A label the caller filled in already stays as it is.
    std::strcpy(label, "MINE");
    analyzer->GetLabel(label, sizeof label);
    EXPECT_STREQ(label, "MINE");
}

TEST(ApfsRecognize, AContainerAtAnOffsetIsRecognisedFromItsStartSector) {
    const auto bytes = testsupport::ReadFile(apfstest::Image("apfs-records"));
    std::vector<u8> disk(1 << 20, 0);
    disk.insert(disk.end(), bytes.begin(), bytes.end());
    testsupport::MemoryDevice device(std::move(disk), 512);
    EXPECT_EQ(LabelOf(&device), "<not recognised>");
    EXPECT_EQ(LabelOf(&device, 2048), "BRELVOX");
    std::unique_ptr<IVolumeAnalyze> analyzer(CreateAPFSVolumeAnalyze(&device, 2048));
    EXPECT_EQ(analyzer->GetTotalSector(), device.GetTotalSectors() - 2048);
}

// The first 64 KiB of apfs-records (the container superblock) with one field changed.
std::unique_ptr<testsupport::MemoryDevice> Patched(size_t offset, u32 value, size_t width) {
    std::vector<u8> bytes(65536);
    std::ifstream(apfstest::Image("apfs-records"), std::ios::binary).read(reinterpret_cast<char*>(bytes.data()), 65536);
    auto device = std::make_unique<testsupport::MemoryDevice>(std::move(bytes), 512);
    device->Put(offset, &value, width);
    return device;
}

// The header test every scanned block goes through: an object identifier other than 0, type and
// subtype (the low halves of their words) at most 31, whatever the other bytes hold; absent fields fail.
TEST(ApfsObjectHeader, PlausibleMeansAnIdentifierAndTypeAndSubtypeUpTo31) {
    const u16 values[] = {0, 1, 3, 14, 30, 31, 32, 33, 63, 64, 0x101, 0x4003, 0x8000, 0xFFE0, 0xFFFF};
    std::vector<u8> block(4096, 0xA5);
    for (u64 oid : {u64{0}, u64{1}, u64{1} << 63}) {
        for (u16 type : values) {
            for (u16 subtype : values) {
                ByteWriter w(block.data(), block.size());
                w.Le64(apfs::obj::kOid, oid);
                w.Le16(apfs::obj::kType, type);
                w.Le16(apfs::obj::kSubtype, subtype);
                const bool expected = oid != 0 && type <= 31 && subtype <= 31;
                for (u16 high : {u16{0}, u16{0x4000}, u16{0xFFFF}}) {
                    // The high halves (type flags, the subtype's upper half) do not count.
                    w.Le16(apfs::obj::kTypeFlags, high);
                    w.Le16(apfs::obj::kSubtype + 2, high);
                    EXPECT_EQ(apfs::IsPlausibleObject(ByteReader(block.data(), block.size())), expected)
                        << oid << " " << type << " " << subtype << " " << high;
                    // A view that ends inside the header: only the fields it holds are read.
                    EXPECT_EQ(apfs::IsPlausibleObject(ByteReader(block.data(), 30)), expected);
                    EXPECT_FALSE(apfs::IsPlausibleObject(ByteReader(block.data(), 29)));
                }
            }
        }
    }
    EXPECT_FALSE(apfs::IsPlausibleObject(ByteReader()));
}

TEST(ApfsRecognize, OnlyPlausibleSuperblocksOf4096ByteBlocksAreRecognised) {
    const struct {
        const char* what;
        size_t offset;
        u32 value;
        size_t width;
        bool recognised;
    } cases[] = {
        {"block size 8192", 36, 8192, 4, false},
        {"block size 512", 36, 512, 4, false},
        {"object type 0", 24, 0, 2, false},
        {"object type 32", 24, 32, 2, false},
        {"object type 31", 24, 31, 2, true},
        {"type 1, subtype 31", 28, 31, 2, true},
        {"subtype 32", 28, 32, 2, false},
        {"magic NXSC", 32, 0x4353584E, 4, false},
        {"object identifier 0 (not tested)", 8, 0, 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto device = Patched(c.offset, c.value, c.width);
        std::unique_ptr<IVolumeAnalyze> analyzer(CreateAPFSVolumeAnalyze(device.get(), 0));
        EXPECT_EQ(analyzer != nullptr, c.recognised);
    }
    // No device, a failed read, a zeroed device: nothing.
    EXPECT_EQ(CreateAPFSVolumeAnalyze(nullptr, 0), nullptr);
    auto failing = Patched(0, 0, 0);
    failing->FailSector(0);
    EXPECT_EQ(CreateAPFSVolumeAnalyze(failing.get(), 0), nullptr);
    testsupport::MemoryDevice zeros(i64(64), 512);
    EXPECT_EQ(CreateAPFSVolumeAnalyze(&zeros, 0), nullptr);
    EXPECT_EQ(CreateAPFSQuickSearcher(), nullptr);
}

TEST(ApfsRecognize, RecognitionReadsOneSectorAndTheLabelOneBlockPerRead) {
    for (u32 sectorSize : {512u, 4096u}) {
        testsupport::ImageFileDevice device(apfstest::Image("apfs-records"), sectorSize);
        std::vector<std::pair<i64, i64>> reads;
        device.onRead = [&](i64 first, i64 count) { reads.emplace_back(first, count); };
        std::unique_ptr<IVolumeAnalyze> analyzer(CreateAPFSVolumeAnalyze(&device, 0));
        ASSERT_TRUE(analyzer);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0], std::make_pair(i64(0), i64(1)));
        reads.clear();
        char label[64] = {};
        analyzer->GetLabel(label, sizeof label);
        EXPECT_STREQ(label, "BRELVOX");
        // Superblock, object map, its tree root, the volume superblock: 4096 bytes each.
        ASSERT_EQ(reads.size(), 4u);
        for (const auto& [first, count] : reads) EXPECT_EQ(u64(count) * sectorSize, 4096u);
    }
}

// The label cases of the hostile table (their scans are in Hostile_test).
TEST(ApfsRecognize, HostileSuperblocksAreRefusedAndLoopsEnd) {
    const struct {
        const char* name;
        const char* label;
    } expected[] = {
        {"nx-block-size-8192", "<not recognised>"},
        {"nx-type-0", "<not recognised>"},
        {"nx-type-32", "<not recognised>"},
        {"superblock-chain-loop", ""},
        {"label-value-offset-4060", ""},
        {"object-map-two-node-loop", "BRELVOX"},
    };
    testsupport::TempDir dir;
    const auto table = testsupport::ReadHostileTable(testsupport::FixturePath("apfs/hostile.tsv"));
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        auto it = std::find_if(table.begin(), table.end(), [&](const auto& c) { return c.name == e.name; });
        ASSERT_NE(it, table.end());
        const auto image = dir / (std::string(e.name) + ".img");
        testsupport::ApplyPatches(apfstest::Image("apfs-records"), it->patches, image);
        for (u32 sectorSize : {512u, 4096u}) {
            testsupport::ImageFileDevice device(image, sectorSize);
            EXPECT_EQ(LabelOf(&device), e.label);
            // The chain 0 -> 2 -> 0 reads each superblock once more at most.
            EXPECT_LE(device.Reads(), 12);
        }
    }
}

void Trace(apfs::CTraceLog& log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log.Write(format, args);
    va_end(args);
}

TEST(ApfsTrace, WritesTheFileOnceTruncatedAndTheDebugChannel) {
    testsupport::TempDir dir;
    const auto path = dir / "APFS.log";
    testsupport::WriteFile(path, "old content that goes");
    {
        apfs::CTraceLog log(path.string());
        debugchannel::Capture lines;
        testing::internal::CaptureStdout();
        Trace(log, "block %d of %s\n", 7, "container");
        Trace(log, "%s", std::string(3000, 'a').c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(lines.Text(), "block 7 of container\n" + std::string(2000, 'a') + "\n");
        EXPECT_TRUE(log.IsOpen());
    }
    EXPECT_EQ(testsupport::ReadFile(path), "block 7 of container\n" + std::string(2000, 'a'));
}

TEST(ApfsTrace, APlantedLinkIsNotFollowed) {
    testsupport::TempDir dir;
    const auto target = dir / "precious";
    const auto path = dir / "APFS.log";
    testsupport::WriteFile(target, "keep me");
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    apfs::CTraceLog log(path.string());
    {
        debugchannel::Capture lines;
        Trace(log, "trace line\n");
        EXPECT_EQ(lines.Text(), "trace line\n");
    }
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(testsupport::ReadFile(target), "keep me");
    // TTRACE itself: a line on the debug channel, none on standard output (its file is the machine's
    // /tmp/APFS.log).
    debugchannel::Capture lines;
    testing::internal::CaptureStdout();
    TTRACE("container %d\n", 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(lines.Text(), "container 3\n");
}

}  // namespace
