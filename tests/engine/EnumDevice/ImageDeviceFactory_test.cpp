#include "engine/EnumDevice/ImageDeviceFactory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/RecordText.h"
#include "support/TempDir.h"

namespace {

constexpr u64 kDataOffset = 4096;
constexpr u64 kDataBytes = 64 * 1024;

// An EDI image: header, information block, zeros up to the data, the data (sector i filled with i).
struct EdiImage {
    CEDIDeviceInfoStruct block{};
    u32 headerLength = kEdiInfoBlockSize;
    std::string magic = std::string("edi\0", 4);
    u64 extraBytes = 0;

    EdiImage() {
        block.sectorSize = 512;
        block.totalSectors = kDataBytes / 512;
        block.dataOffset = kDataOffset;
        block.fileSize = kDataOffset + kDataBytes;
        std::strcpy(block.name, "USB Stick");
        block.creationTime = 1700000000;
    }
    std::string Bytes() const {
        std::string out = magic;
        for (int i = 0; i < 4; ++i) out += static_cast<char>(headerLength >> (8 * i));
        out.append(reinterpret_cast<const char*>(&block), sizeof block);
        out.resize(kDataOffset, '\0');
        for (u64 s = 0; s < kDataBytes / 512; ++s) out.append(512, static_cast<char>(s));
        out.append(extraBytes, 'x');
        return out;
    }
};

TEST(EdiImage, OpensWithItsBlockAndReadsTheDataAfterTheOffset) {
    testsupport::TempDir dir;
    EdiImage image;
    std::memset(image.block.name, 'N', sizeof image.block.name);  // a name without its terminator
    auto path = dir / "disk.edi";
    testsupport::WriteFile(path, image.Bytes());

    std::unique_ptr<IStorageDevice> device(CreateEdiDevice(path.c_str()));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->GetType(), u32(STORAGE_DEVICE_EDI));
    EXPECT_EQ(device->GetSectorSize(), 512u);
    EXPECT_EQ(device->GetTotalSectors(), i64(kDataBytes / 512));
    std::vector<u8> sector(512);
    ASSERT_EQ(device->ReadSector(sector.data(), 5, 1), 1);
    EXPECT_EQ(sector[0], 5);
    EXPECT_EQ(sector[511], 5);

    auto* data = dynamic_cast<IEDIDeviceData*>(device->GetPrivateData());
    ASSERT_TRUE(data && data->GetEDIInfo());
    EXPECT_EQ(RecordText(data->GetEDIInfo()->path), path.string());
    EXPECT_EQ(RecordText(data->GetEDIInfo()->name), std::string(127, 'N'));
}

TEST(EdiImage, RefusesFilesThatAreNotSoundImages) {
    struct Case {
        const char* what;
        std::function<void(EdiImage&)> spoil;
    } cases[] = {
        {"magic", [](EdiImage& i) { i.magic = std::string("EDI\0", 4); }},
        {"magic without its zero", [](EdiImage& i) { i.magic = "edix"; }},
        {"file grown after writing", [](EdiImage& i) { i.extraBytes = 1; }},
        {"image still being written", [](EdiImage& i) { i.block.fileSize = 0; }},
        {"short block leaves no size", [](EdiImage& i) { i.headerLength = 16; }},
        {"sector size not a power of two", [](EdiImage& i) { i.block.sectorSize = 1000; }},
        {"sector size zero", [](EdiImage& i) { i.block.sectorSize = 0; }},
        {"sector size above 64 KiB", [](EdiImage& i) { i.block.sectorSize = 131072; }},
        {"sector size in the high word only", [](EdiImage& i) { i.block.sectorSize = (1ull << 32) | 512; }},
        {"data offset past the end", [](EdiImage& i) { i.block.dataOffset = i.block.fileSize + 1; }},
    };
    testsupport::TempDir dir;
    for (auto& c : cases) {
        EdiImage image;
        c.spoil(image);
        auto path = dir / "bad.edi";
        testsupport::WriteFile(path, image.Bytes());
        CEDIDeviceInfoStruct block{};
        EXPECT_EQ(EuFillEdiFileInfo(&block, path.c_str()), -1) << c.what;
        EXPECT_EQ(CreateEdiDevice(path.c_str()), nullptr) << c.what;
    }
    EXPECT_EQ(EuFillEdiFileInfo(nullptr, "/nonexistent"), -1);
    CEDIDeviceInfoStruct block{};
    EXPECT_EQ(EuFillEdiFileInfo(&block, (dir / "missing.edi").c_str()), -1);
    EXPECT_EQ(CreateEdiDevice(nullptr), nullptr);
}

TEST(EdiImage, ReopensFromASavedBlockOnlyWhileTheImageIsUnchanged) {
    testsupport::TempDir dir;
    EdiImage image;
    auto path = dir / "saved.edi";
    testsupport::WriteFile(path, image.Bytes());
    CEDIDeviceInfoStruct saved{};
    ASSERT_EQ(EuFillEdiFileInfo(&saved, path.c_str()), 0);

    std::unique_ptr<IStorageDevice> device(CreateEdiDeviceByEdiInfo(&saved, sizeof saved, nullptr));
    EXPECT_TRUE(device) << "the block's own path";
    device.reset(CreateEdiDeviceByEdiInfo(&saved, sizeof saved, path.c_str()));
    EXPECT_TRUE(device);
    EXPECT_EQ(CreateEdiDeviceByEdiInfo(&saved, sizeof saved - 1, path.c_str()), nullptr);
    EXPECT_EQ(CreateEdiDeviceByEdiInfo(nullptr, sizeof saved, path.c_str()), nullptr);

    for (auto change : std::vector<std::function<void(CEDIDeviceInfoStruct&)>>{
             [](CEDIDeviceInfoStruct& b) { b.creationTime += 1; },
             [](CEDIDeviceInfoStruct& b) { b.totalSectors -= 1; },
             [](CEDIDeviceInfoStruct& b) { std::strcpy(b.name, "Other"); },
         }) {
        CEDIDeviceInfoStruct other = saved;
        change(other);
        EXPECT_EQ(CreateEdiDeviceByEdiInfo(&other, sizeof other, path.c_str()), nullptr);
    }
}

TEST(DmgImage, OpensAtTheRecordsOwnPath) {
    testsupport::TempDir dir;
    auto path = dir / "flat.img";
    std::string bytes(64 * 1024, '\0');
    bytes[512] = 'B';
    testsupport::WriteFile(path, bytes);
    CDMGDeviceInfoStruct record{};
    record.sectorSize = 512;
    record.totalSectors = bytes.size() / 512;
    record.fileLength = bytes.size();
    CopyRecordText(record.name, "flat.img");
    CopyRecordText(record.path, path.string());

    std::unique_ptr<IStorageDevice> device(CreateDmgDeviceByDmgInfo(&record, sizeof record, "/not/this/one"));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->GetType(), u32(STORAGE_DEVICE_DMG));
    EXPECT_EQ(device->GetTotalSectors(), 128);
    std::vector<u8> sector(512);
    ASSERT_EQ(device->ReadSector(sector.data(), 1, 1), 1);
    EXPECT_EQ(sector[0], 'B');
    auto* data = dynamic_cast<IDmgDeviceData*>(device->GetPrivateData());
    ASSERT_TRUE(data && data->GetDMGInfo());
    EXPECT_EQ(RecordText(data->GetDMGInfo()->path), path.string());

    CDMGDeviceInfoStruct missing = record;
    CopyRecordText(missing.path, (dir / "gone.img").string());
    EXPECT_EQ(CreateDmgDeviceByDmgInfo(&missing, sizeof missing, path.c_str()), nullptr);
    EXPECT_EQ(CreateDmgDeviceByDmgInfo(nullptr, sizeof record, path.c_str()), nullptr);
    EXPECT_EQ(CreateDmgDevice(path.c_str(), nullptr), nullptr);
}

}  // namespace
