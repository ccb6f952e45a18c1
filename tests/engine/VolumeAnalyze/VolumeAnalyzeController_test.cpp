#include "engine/VolumeAnalyze/VolumeAnalyzeController.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"
#include "engine/VolumeAnalyze/VolumeLabel.h"
#include "support/Fixtures.h"
#include "support/ImageFileDevice.h"
#include "support/MemoryDevice.h"

namespace {

// Which fakes answer which type, and a log of creations and deletions shared by the fakes.
struct Script {
    enumFILE_SYSTEM_TYPE fat = FILE_SYSTEM_UNKNOWN;
    bool exfat = false, ntfs = false, hfsPlus = false, apfs = false;
    std::vector<std::string> created;
    int alive = 0;
    u64 startSeen = 0;
};
Script* g_script = nullptr;

class CountingAnalyzer : public IVolumeAnalyze {
public:
    CountingAnalyzer(enumFILE_SYSTEM_TYPE type, const char* label) : m_type(type), m_label(label) { ++g_script->alive; }
    ~CountingAnalyzer() override { --g_script->alive; }
    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return m_type; }
    i64 GetTotalSector() override { return 1234; }
    void GetLabel(char* buffer, int length) override { volumelabel::Copy(buffer, length, m_label.data(), 100); }

private:
    enumFILE_SYSTEM_TYPE m_type;
    std::string m_label;
};

IVolumeAnalyze* Make(const char* name, bool recognised, enumFILE_SYSTEM_TYPE type, u64 start) {
    g_script->created.push_back(name);
    g_script->startSeen = start;
    return recognised ? new CountingAnalyzer(type, name) : nullptr;
}

class VolumeAnalyzeControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = &script;
        saved = VolumeAnalyzers();
        VolumeAnalyzers() = VolumeAnalyzerFactories{
            [](IStorageDevice*, u64 s) -> IVolumeAnalyze* {
                g_script->created.push_back("fat");
                return new CountingAnalyzer(g_script->fat, "fat");  // never null, type 10 when not FAT
            },
            [](IStorageDevice*, u64 s) { return Make("exfat", g_script->exfat, FILE_SYSTEM_EXFAT, s); },
            [](IStorageDevice*, u64 s) { return Make("ntfs", g_script->ntfs, FILE_SYSTEM_NTFS, s); },
            [](IStorageDevice*, u64 s) { return Make("hfs+", g_script->hfsPlus, FILE_SYSTEM_HFSPLUS, s); },
            [](IStorageDevice*, u64 s) { return Make("apfs", g_script->apfs, FILE_SYSTEM_APFS, s); },
        };
    }
    void TearDown() override {
        VolumeAnalyzers() = saved;
        g_script = nullptr;
    }

    Script script;
    VolumeAnalyzerFactories saved;
    testsupport::MemoryDevice device{std::vector<u8>(64 * 512)};
};

TEST_F(VolumeAnalyzeControllerTest, AsksInOrderAndTakesTheFirstRecognised) {
    struct Case {
        const char* what;
        enumFILE_SYSTEM_TYPE fat;
        bool exfat, ntfs, hfsPlus, apfs;
        int expected;  // type of the answer, -1 for none
    };
    const Case cases[] = {
        {"FAT and NTFS both accept: FAT", FILE_SYSTEM_FAT32, false, true, false, false, FILE_SYSTEM_FAT32},
        {"exFAT before NTFS", FILE_SYSTEM_UNKNOWN, true, true, false, false, FILE_SYSTEM_EXFAT},
        {"HFS+ before APFS", FILE_SYSTEM_UNKNOWN, false, false, true, true, FILE_SYSTEM_HFSPLUS},
        {"APFS alone", FILE_SYSTEM_UNKNOWN, false, false, false, true, FILE_SYSTEM_APFS},
        {"nothing recognised", FILE_SYSTEM_UNKNOWN, false, false, false, false, -1},
    };
    for (const Case& c : cases) {
        script = Script{};
        script.fat = c.fat;
        script.exfat = c.exfat, script.ntfs = c.ntfs, script.hfsPlus = c.hfsPlus, script.apfs = c.apfs;
        CVolumeAnalyzeController* controller = CreateVolumeAnalyzeController(&device, 63);
        ASSERT_NE(controller, nullptr);
        EXPECT_EQ(script.created, (std::vector<std::string>{"fat", "exfat", "ntfs", "hfs+", "apfs"})) << c.what;
        EXPECT_EQ(script.startSeen, 63u);
        IVolumeAnalyze* found = controller->GetVolumeAnzlyzer();
        if (c.expected < 0) {
            EXPECT_EQ(found, nullptr) << c.what;
        } else {
            ASSERT_NE(found, nullptr) << c.what;
            EXPECT_EQ(int(found->GetFileSystemType()), c.expected) << c.what;
        }
        delete controller;
        EXPECT_EQ(script.alive, 0) << c.what << ": every analyser is deleted with the controller";
    }
}

TEST_F(VolumeAnalyzeControllerTest, NullFactoriesAreSkipped) {
    VolumeAnalyzers().exfat = nullptr;
    VolumeAnalyzers().ntfs = nullptr;
    script.apfs = true;
    CVolumeAnalyzeController controller(&device, 0);
    ASSERT_NE(controller.GetVolumeAnzlyzer(), nullptr);
    EXPECT_EQ(controller.GetVolumeAnzlyzer()->GetFileSystemType(), FILE_SYSTEM_APFS);
}

// A label field that fills its 100 bytes has no terminator of its own; the copy always ends in one.
TEST(VolumeLabel, AlwaysTerminated) {
    char field[100];
    std::memset(field, 'L', sizeof field);
    struct Case {
        int length;
        size_t expected;
    };
    for (Case c : {Case{100, 99}, Case{101, 100}, Case{200, 100}, Case{1, 0}, Case{5, 4}}) {
        std::vector<char> out(size_t(c.length) + 8, '#');
        volumelabel::Copy(out.data(), c.length, field, sizeof field);
        EXPECT_EQ(std::strlen(out.data()), c.expected) << c.length;
        EXPECT_EQ(out[size_t(c.length)], '#') << "nothing written past the buffer";
    }
    char small[4] = {'#', '#', '#', '#'};
    volumelabel::Copy(small, 0, field, sizeof field);
    EXPECT_EQ(small[0], '#');
    volumelabel::Copy(small, 4, "ab\0cd", 5);
    EXPECT_STREQ(small, "ab");
}

// The product's analysers: each committed volume image is recognised as its own file system (whole,
// the volume's first sector at the device's start), and a volume of zeros by none: the FAT analyser
// then answers "not recognised" with no sectors and an empty label.
TEST(VolumeAnalyzers, EachFileSystemIsRecognisedFromItsVolumeAndZerosAsNone) {
    struct Case {
        const char* image;
        u32 sectorSize;
        enumFILE_SYSTEM_TYPE type;
    };
    const Case cases[] = {
        {"fat/fat16.img.xz", 512, FILE_SYSTEM_FAT16},      {"fat/fat32.img.xz", 512, FILE_SYSTEM_FAT32},
        {"exfat/exfat-4k.img.xz", 512, FILE_SYSTEM_EXFAT}, {"exfat/exfat-4kn.img.xz", 4096, FILE_SYSTEM_EXFAT},
        {"ntfs/ntfs512.img.xz", 512, FILE_SYSTEM_NTFS},    {"ntfs/ntfs4k.img.xz", 4096, FILE_SYSTEM_NTFS},
        {"hfsplus/plain.img.xz", 512, FILE_SYSTEM_HFSPLUS}, {"hfsplus/hfsx.img.xz", 512, FILE_SYSTEM_HFSPLUS},
        {"apfs/apfs-records.img.xz", 512, FILE_SYSTEM_APFS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        testsupport::ImageFileDevice device(testsupport::UnpackXzShared(testsupport::FixturePath(c.image)),
                                            c.sectorSize);
        CVolumeAnalyzeController controller(&device, 0);
        IVolumeAnalyze* analyzer = controller.GetVolumeAnzlyzer();
        ASSERT_NE(analyzer, nullptr);
        EXPECT_EQ(analyzer->GetFileSystemType(), c.type);
        EXPECT_GT(analyzer->GetTotalSector(), 0);
        EXPECT_LE(analyzer->GetTotalSector(), device.GetTotalSectors() * i64(c.sectorSize / 512));
    }

    testsupport::MemoryDevice zeros(std::vector<u8>(64 * 512));
    CVolumeAnalyzeController controller(&zeros, 0);
    EXPECT_EQ(controller.GetVolumeAnzlyzer(), nullptr);
    std::unique_ptr<IVolumeAnalyze> fat(CreateFatVolumeAnalyze(&zeros, 0));
    ASSERT_NE(fat, nullptr);
    EXPECT_EQ(fat->GetFileSystemType(), FILE_SYSTEM_UNKNOWN);
    EXPECT_EQ(fat->GetTotalSector(), 0);
    char label[8] = "xxxxxxx";
    fat->GetLabel(label, sizeof label);
    EXPECT_STREQ(label, "");
}

}  // namespace
