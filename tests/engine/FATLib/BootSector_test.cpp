// Boot sector classification and geometry, volume detection and labels.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/FATLib/FATBootSector.h"
#include "engine/FATLib/FATVolume.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"
#include "support/MemoryDevice.h"
#include "support/PutBytes.h"

using testsupport::PutInto;

namespace {

// A sound boot sector of the given kind (16 or 32) with 512-byte sectors.
std::vector<u8> BootSector(int bits) {
    std::vector<u8> b(512, 0);
    b[0] = 0xEB;
    PutInto(b).Le16(11, 512);
    b[13] = 4;
    PutInto(b).Le16(14, bits == 32 ? 32 : 4);
    b[16] = 2;
    b[510] = 0x55;
    b[511] = 0xAA;
    if (bits == 16) {
        PutInto(b).Le16(17, 512);
        PutInto(b).Le16(19, 0);
        PutInto(b).Le32(32, 40000);
        PutInto(b).Le16(22, 40);
        std::memcpy(&b[54], "FAT16   ", 8);
    } else {
        PutInto(b).Le16(17, 0);
        PutInto(b).Le32(32, 300000);
        PutInto(b).Le32(36, 600);
        PutInto(b).Le32(44, 2);
        std::memcpy(&b[82], "FAT32   ", 8);
    }
    return b;
}

}  // namespace

TEST(FatBootSector, ClassificationTable) {
    struct Case {
        const char* what;
        int bits;
        std::function<void(std::vector<u8>&)> edit;
        u32 deviceSectorSize;
        u32 type;
    } cases[] = {
        {"sound FAT16", 16, [](auto&) {}, 512, FILE_SYSTEM_FAT16},
        {"sound FAT32", 32, [](auto&) {}, 512, FILE_SYSTEM_FAT32},
        {"lower-case FAT16 text", 16, [](auto& b) { std::memcpy(&b[54], "fat16   ", 8); }, 512, FILE_SYSTEM_FAT16},
        {"lower-case FAT32 text", 32, [](auto& b) { std::memcpy(&b[82], "fat32   ", 8); }, 512, FILE_SYSTEM_FAT32},
        {"cluster size 0", 16, [](auto& b) { b[13] = 0; }, 512, FILE_SYSTEM_UNKNOWN},
        {"cluster size 3", 32, [](auto& b) { b[13] = 3; }, 512, FILE_SYSTEM_UNKNOWN},
        {"cluster size 255", 16, [](auto& b) { b[13] = 255; }, 512, FILE_SYSTEM_UNKNOWN},
        {"cluster size 128", 16, [](auto& b) { b[13] = 128; }, 512, FILE_SYSTEM_FAT16},
        {"512-byte sectors on a 4096 device", 16, [](auto&) {}, 4096, FILE_SYSTEM_UNKNOWN},
        {"one table", 16, [](auto& b) { b[16] = 1; }, 512, FILE_SYSTEM_UNKNOWN},
        {"223 root entries", 16, [](auto& b) { PutInto(b).Le16(17, 223); }, 512, FILE_SYSTEM_UNKNOWN},
        {"root not whole sectors", 16, [](auto& b) { PutInto(b).Le16(17, 232); }, 512, FILE_SYSTEM_UNKNOWN},
        {"no FAT16 table length", 16, [](auto& b) { PutInto(b).Le16(22, 0); }, 512, FILE_SYSTEM_UNKNOWN},
        {"no FAT32 table length", 32, [](auto& b) { PutInto(b).Le32(36, 0); }, 512, FILE_SYSTEM_UNKNOWN},
        {"no signature", 32, [](auto& b) { b[511] = 0; }, 512, FILE_SYSTEM_UNKNOWN},
        {"FAT12 text", 16, [](auto& b) { std::memcpy(&b[54], "FAT12   ", 8); }, 512, FILE_SYSTEM_UNKNOWN},
        {"device sectors of 1000 bytes", 16, [](auto& b) { PutInto(b).Le16(11, 1000); }, 1000, FILE_SYSTEM_UNKNOWN},
        {"device sectors of 8192 bytes", 32, [](auto& b) { PutInto(b).Le16(11, 8192); }, 8192, FILE_SYSTEM_UNKNOWN},
    };
    for (const auto& c : cases) {
        auto b = BootSector(c.bits);
        c.edit(b);
        CTempFATDBR dbr(b.data(), c.deviceSectorSize);
        EXPECT_EQ(dbr.GetFileSystemType(), c.type) << c.what;
        if (c.type == FILE_SYSTEM_UNKNOWN) {
            EXPECT_EQ(dbr.GetSectorsPerFat(), 0u) << c.what;
            EXPECT_EQ(dbr.GetReservedSector(), 0u) << c.what;
            EXPECT_EQ(dbr.GetTotalSectors(), 0u) << c.what;
        }
    }
}

TEST(FatBootSector, Geometry) {
    auto b16 = BootSector(16);
    CTempFATDBR fat16(b16.data(), 512);
    EXPECT_EQ(fat16.GetTotalSectors(), 40000u);  // the 16-bit total is 0: the 32-bit one counts
    PutInto(b16).Le16(19, 30000);
    EXPECT_EQ(CTempFATDBR(b16.data(), 512).GetTotalSectors(), 30000u);
    EXPECT_EQ(fat16.GetSectorsPerFat(), 40u);
    EXPECT_EQ(fat16.GetRootDirStartCluster(), 0u);
    auto b32 = BootSector(32);
    CTempFATDBR fat32(b32.data(), 512);
    EXPECT_EQ(fat32.GetSectorsPerFat(), 600u);
    EXPECT_EQ(fat32.GetReservedSector(), 32u);
    EXPECT_EQ(fat32.GetRootDirStartCluster(), 2u);
    CFATVolume volume(nullptr);
    EXPECT_EQ(volume.ConvertClusterToSector(0, fat32, 2), 32u + 1200u);
    EXPECT_EQ(volume.ConvertClusterToSector(100, fat16, 3), 100u + 4 + 80 + 4 + 32u);
    EXPECT_EQ(volume.ConvertClusterToSector(0, fat32, 1), ~u64{0});
    EXPECT_TRUE(CTempFATDBR::SimpleCheck(b32.data()));
    b32[0] = 0;
    EXPECT_FALSE(CTempFATDBR::SimpleCheck(b32.data()));
}

TEST(FatVolumeAnalyze, FixturesTypesTotalsAndLabels) {
    struct Case {
        const char* image;
        u32 sectorSize;
        u64 start;
        u32 type;
        const char* label;
    } cases[] = {
        {"fat12", 512, 0, FILE_SYSTEM_UNKNOWN, ""},
        {"fat16", 512, 0, FILE_SYSTEM_FAT16, "BRELVOX16"},
        {"fat32", 512, 0, FILE_SYSTEM_FAT32, "BRELVOX32"},
        // Unlabelled: the long-name entries of the root are not taken for a label.
        {"fat32-4k", 4096, 0, FILE_SYSTEM_FAT32, ""},
        {"mbr-fat16", 512, 2048, FILE_SYSTEM_FAT16, "INSIDE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        fattest::FileDevice device(fattest::Image(c.image), c.sectorSize, STORAGE_DEVICE_DISK);
        std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(&device, c.start));
        ASSERT_NE(analyze, nullptr);
        EXPECT_EQ(analyze->GetFileSystemType(), c.type);
        char label[200];
        std::memset(label, 'x', sizeof(label));
        analyze->GetLabel(label, 200);
        EXPECT_STREQ(label, c.label);
        char small[4];
        analyze->GetLabel(small, sizeof(small));
        EXPECT_EQ(std::string(small), std::string(c.label).substr(0, 3));
        EXPECT_EQ(label[100], 'x');  // 100 bytes copied, no more
        if (c.type != FILE_SYSTEM_UNKNOWN) {
            // mkfs.fat rounds the volume down to whole tracks and clusters.
            const u64 bytes = static_cast<u64>(analyze->GetTotalSector()) * c.sectorSize;
            const u64 room = c.start == 0 ? std::filesystem::file_size(fattest::Image(c.image)) : 36864u * 512;
            EXPECT_LE(bytes, room);
            EXPECT_GE(bytes, room - 65536);
        }
    }
}

TEST(FatVolumeAnalyze, FailedReadLeavesNothingButAnAnalyser) {
    fattest::FileDevice device(fattest::Image("fat16"), 512);
    device.SetFailHook([](i64, i64) { return true; });
    std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(&device, 0));
    ASSERT_NE(analyze, nullptr);
    EXPECT_EQ(analyze->GetFileSystemType(), FILE_SYSTEM_UNKNOWN);
    std::unique_ptr<IVolumeAnalyze> none(CreateFatVolumeAnalyze(nullptr, 0));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->GetFileSystemType(), FILE_SYSTEM_UNKNOWN);
}

// A tiny FAT32 volume whose root chain loops (2 -> 3 -> 2) and whose root holds only ordinary entries:
// the label walk must end.
TEST(FatVolumeAnalyze, LoopingRootChainEnds) {
    const u32 spf = 256;
    std::vector<u8> image(u64{512} * (32 + 2 * spf + 64), 0);
    auto boot = BootSector(32);
    boot[13] = 1;
    PutInto(boot).Le32(32, static_cast<u32>(image.size() / 512));
    PutInto(boot).Le32(36, spf);
    std::copy(boot.begin(), boot.end(), image.begin());
    for (u32 t = 0; t < 2; ++t) {
        const size_t fat = (32 + t * spf) * 512;
        std::vector<u8> f(12);
        PutInto(f).Le32(0, 0x0FFFFFF8);
        PutInto(f).Le32(4, 0x0FFFFFFF);
        PutInto(f).Le32(8, 3);  // 2 -> 3
        std::copy(f.begin(), f.end(), image.begin() + fat);
        image[fat + 12] = 2;  // 3 -> 2
    }
    const size_t data = (32 + 2 * spf) * 512;
    for (size_t e = 0; e < 32; ++e) {  // two clusters of 16 plain file entries
        u8* p = &image[data + e * 32];
        std::memcpy(p, "FILE       ", 11);
        p[7] = static_cast<u8>('A' + e % 26);
        p[11] = 0x20;
        p[26] = 9;
        p[28] = 1;
    }
    testsupport::MemoryDevice device(image, 512, STORAGE_DEVICE_VOLUME);
    std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(&device, 0));
    EXPECT_EQ(analyze->GetFileSystemType(), FILE_SYSTEM_FAT32);
    char label[16];
    analyze->GetLabel(label, sizeof(label));
    EXPECT_STREQ(label, "");
    EXPECT_LT(device.ReadCount(), 20);
}

TEST(FatVolumeAnalyze, LabelBytesAbove127BecomeUnderscores) {
    u8 entry[32] = {};
    std::memcpy(entry, "CAF\xC9 DISK  ", 11);
    entry[11] = 0x08;
    EXPECT_EQ(fat::LabelFromEntry(entry), "CAF_ DISK");
}
