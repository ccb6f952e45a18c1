// exFAT volume recognition and the node made from a record.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/EXFatSearch/ExFatPartition.h"
#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "engine/EXFatSearch/ExFatVolumeAnalyze.h"
#include "engine/VolumeAnalyze/VolumeAnalyzeController.h"

TEST(ExFatVolumeAnalyze, RecognisesTheMkfsVolumesWithAnEmptyLabel) {
    for (const exfattest::ImageCase& c : exfattest::Images()) {
        SCOPED_TRACE(c.name);
        fattest::FileDevice device(exfattest::Image(c.name), c.sectorSize, STORAGE_DEVICE_VOLUME, c.firstSector,
                                   c.sectors);
        std::unique_ptr<IVolumeAnalyze> analyzer(CreateExfatVolumeAnalyze(&device, 0));
        ASSERT_NE(analyzer, nullptr);
        EXPECT_EQ(analyzer->GetFileSystemType(), FILE_SYSTEM_EXFAT);
        EXPECT_EQ(analyzer->GetTotalSector(), device.GetTotalSectors());
        char label[16];
        std::memset(label, 'x', sizeof label);
        analyzer->GetLabel(label, sizeof label);
        EXPECT_STREQ(label, "");
        analyzer->GetLabel(nullptr, 16);
        // The backup boot sector passes the same test.
        std::unique_ptr<IVolumeAnalyze> backup(CreateExfatVolumeAnalyze(&device, exfat::boot::kBackupDistance));
        EXPECT_NE(backup, nullptr);
        // Volume recognition asks the FAT analyser first, then this one.
        std::unique_ptr<CVolumeAnalyzeController> controller(CreateVolumeAnalyzeController(&device, 0));
        ASSERT_NE(controller, nullptr);
        ASSERT_NE(controller->GetVolumeAnzlyzer(), nullptr);
        EXPECT_EQ(controller->GetVolumeAnzlyzer()->GetFileSystemType(), FILE_SYSTEM_EXFAT);
    }
}

TEST(ExFatVolumeAnalyze, RefusesWhatIsNotAnExFatVolumeOfThisDevice) {
    EXPECT_EQ(CreateExfatVolumeAnalyze(nullptr, 0), nullptr);
    exfattest::SyntheticVolume v;
    auto unreadable = v.Device();
    unreadable->FailSector(0);
    EXPECT_EQ(CreateExfatVolumeAnalyze(unreadable.get(), 0), nullptr);
    // Larger sectors are refused before anything is read.
    testsupport::MemoryDevice large(i64{4}, 8192);
    EXPECT_EQ(CreateExfatVolumeAnalyze(&large, 0), nullptr);
    EXPECT_EQ(large.ReadCount(), 0);
    // The boot sector says 512-byte sectors: a device of 4096-byte sectors is not its device.
    testsupport::MemoryDevice wide(v.Bytes(), 4096);
    EXPECT_EQ(CreateExfatVolumeAnalyze(&wide, 0), nullptr);
    fattest::FileDevice fat16(fattest::Image("fat16"), 512);
    EXPECT_EQ(CreateExfatVolumeAnalyze(&fat16, 0), nullptr);
    auto good = v.Device();
    std::unique_ptr<IVolumeAnalyze> analyzer(CreateExfatVolumeAnalyze(good.get(), 0));
    ASSERT_NE(analyzer, nullptr);
    EXPECT_EQ(analyzer->GetTotalSector(), good->GetTotalSectors());
}

TEST(ExFatFileNode, MadeFromARecord) {
    CExFatPartition partition;
    partition.SetSectorSize(512);
    partition.SetSectorsPerCluster(8);
    partition.SetDataRegionStart(1000);
    _tagFileBaseInfo record;
    record.attributes = 0x21;
    record.firstCluster = 12;
    record.dataLength = 5000;
    record.noFatChain = 1;
    record.inUse = 0;
    record.sector = 4242;
    record.createTime = record.modifiedTime = record.accessedTime = exfattest::kStamp;
    for (char16_t c : std::u16string(u"notes.txt")) record.nameUnits[record.nameUnitCount++] = c;
    std::unique_ptr<CExFatFileNode, void (*)(CExFatFileNode*)> node(partition.BuildFile(record),
                                                                   [](CExFatFileNode* n) { n->Release(); });
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->GetFileName(), "notes.txt");
    EXPECT_EQ(node->GetFileSize(), 5000);
    EXPECT_EQ(node->IsDeleted(), 1u);
    EXPECT_EQ(node->GetAttribute(), 0x21) << "the deleted mark leaves the stored attributes";
    EXPECT_EQ(node->IsDirectory(), 0u);
    EXPECT_EQ(node->GetSearcheType(), SEARCHER_EXFAT);
    EXPECT_EQ(node->GetFirstCluster(), 12u);
    EXPECT_EQ(node->GetMetadataStartPosition(), 4242);
    EXPECT_EQ(node->GetModificationTime(), DosTime2FileTime(exfattest::kStamp));
    // 2021-03-04 05:06:08 UTC.
    EXPECT_EQ(node->GetModificationTime(), 1614834368LL * 10000000 + 116444736000000000LL);
    ASSERT_NE(node->GetDataRunList(), nullptr);
    DataRun* run = node->GetDataRunList()->GetFirst();
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->start, 10);
    EXPECT_EQ(run->length, 2u);
    EXPECT_EQ(partition.NodeIdOf(record), partition.ConvertClusterNumToSector(12));
    record.firstCluster = 0;
    EXPECT_EQ(partition.NodeIdOf(record), CExFatPartition::kFirstVirtualId);
    EXPECT_EQ(partition.NodeIdOf(record), CExFatPartition::kFirstVirtualId + 1);
    partition.ResetVirtualIds();
    EXPECT_EQ(partition.NodeIdOf(record), CExFatPartition::kFirstVirtualId);
}

// Names of every length the node holds in place or in a string of its own, through every way a name gets
// in (from a record, set, replaced, trimmed of leading dots and spaces, cloned): the node answers the
// record's name each time.
TEST(ExFatFileNode, NamesOfEveryLength) {
    CExFatPartition partition;
    partition.SetSectorSize(512);
    partition.SetSectorsPerCluster(8);
    partition.SetDataRegionStart(1000);
    const auto release = [](IFileNode* n) { n->Release(); };
    std::vector<std::u16string> names;
    for (const size_t length : {0, 1, 15, 16, 46, 47, 48, 49, 100, 255}) {
        std::u16string name;
        for (size_t i = 0; i < length; ++i) name.push_back(static_cast<char16_t>(u'a' + i % 26));
        names.push_back(name);
    }
    names.push_back(u"caf\u00E9 \u00FF");
    names.push_back(u".. smile \U0001F600.txt");
    names.push_back(std::u16string(100, u'\u00E9'));
    names.push_back(u"  ..hidden.txt");
    for (const std::u16string& name : names) {
        _tagFileBaseInfo record;
        for (char16_t c : name) record.nameUnits[record.nameUnitCount++] = c;
        const std::string expected = record.Name();
        SCOPED_TRACE(expected);
        std::unique_ptr<CExFatFileNode, decltype(release)> node(partition.BuildFile(record), release);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(std::string(node->GetFileName()), expected);
        std::unique_ptr<IFileNode, decltype(release)> clone(node->Clone(), release);
        EXPECT_EQ(std::string(clone->GetFileName()), expected);
        node->FilterFileNameByDot();
        EXPECT_EQ(std::string(node->GetFileName()), CFileNode::FilterFileNameByDot(expected));
        for (const std::string& other : {std::string("short"), std::string(60, 'x'), expected}) {
            node->SetFileName(other.c_str());
            EXPECT_EQ(std::string(node->GetFileName()), other);
        }
        // Set from its own bytes (held in place or apart).
        node->SetFileName(node->GetFileName());
        EXPECT_EQ(std::string(node->GetFileName()), expected);
        node->SetFileName(static_cast<const char*>(nullptr));
        EXPECT_EQ(node->GetFileName(), nullptr);
        EXPECT_EQ(std::string(clone->GetFileName()), expected) << "the clone holds its own name";
    }
}

// The ASCII test of a name, at every length around the four-unit steps and with one unit past ASCII at
// every place (high bytes, low bytes, both): ASCII names come out byte for byte, any other is refused, and
// the UTF-8 name agrees.
TEST(ExFatNames, AsciiNamesOfEveryLengthAndEveryUnitPastAscii) {
    for (size_t length = 0; length <= 13; ++length) {
        std::u16string name;
        std::string bytes;
        for (size_t i = 0; i < length; ++i) {
            name.push_back(static_cast<char16_t>(0x20 + (i * 7) % 0x5F));
            bytes.push_back(static_cast<char>(0x20 + (i * 7) % 0x5F));
        }
        char out[16] = {};
        size_t got = 99;
        ASSERT_TRUE(ExFatAsciiName(name, out, got)) << length;
        EXPECT_EQ(std::string(out, got), bytes);
        EXPECT_EQ(ExFatNameToUtf8(name), bytes);
        for (size_t at = 0; at < length; ++at) {
            for (const char16_t odd : {u'\u0080', u'\u00FF', u'\u0100', u'\u0180', u'\u7F00', u'\uFFFF'}) {
                std::u16string wide = name;
                wide[at] = odd;
                EXPECT_FALSE(ExFatAsciiName(wide, out, got)) << length << " " << at << " " << int(odd);
                EXPECT_NE(ExFatNameToUtf8(wide), bytes);
            }
        }
    }
}
