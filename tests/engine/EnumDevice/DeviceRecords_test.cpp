#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

#include "engine/DeviceRecords/DeviceData.h"
#include "engine/DeviceRecords/ImageInfoStructs.h"

namespace {

// The image records are stored whole in saved results: their layout is fixed.
TEST(DeviceRecords, ImageRecordLayouts) {
    EXPECT_EQ(sizeof(CEDIDeviceInfoStruct), 1192u);
    const size_t edi[] = {offsetof(CEDIDeviceInfoStruct, sectorSize), offsetof(CEDIDeviceInfoStruct, totalSectors),
                          offsetof(CEDIDeviceInfoStruct, dataOffset), offsetof(CEDIDeviceInfoStruct, fileSize),
                          offsetof(CEDIDeviceInfoStruct, name),       offsetof(CEDIDeviceInfoStruct, path),
                          offsetof(CEDIDeviceInfoStruct, creationTime)};
    EXPECT_EQ(std::vector<size_t>(std::begin(edi), std::end(edi)),
              (std::vector<size_t>{0, 8, 16, 24, 32, 160, 1184}));
    EXPECT_EQ(sizeof(CDMGDeviceInfoStruct), 2088u);
    const size_t dmg[] = {offsetof(CDMGDeviceInfoStruct, sectorSize), offsetof(CDMGDeviceInfoStruct, totalSectors),
                          offsetof(CDMGDeviceInfoStruct, dataOffset), offsetof(CDMGDeviceInfoStruct, fileLength),
                          offsetof(CDMGDeviceInfoStruct, name),       offsetof(CDMGDeviceInfoStruct, path),
                          offsetof(CDMGDeviceInfoStruct, reserved)};
    EXPECT_EQ(std::vector<size_t>(std::begin(dmg), std::end(dmg)),
              (std::vector<size_t>{0, 8, 16, 24, 32, 1056, 2080}));
}

// Each holder owns its record: replacing or destroying it frees the old one (ASan shows leaks and
// double frees), and the same record set twice is kept.
TEST(DeviceRecords, HoldersOwnTheirRecord) {
    std::unique_ptr<IDiskDeviceData> disk(CreateDiskDeviceData(new CCollectDiskDeviceInfoStruct{}));
    disk->GetDiskInfo()->sectorSize = 4096;
    auto* replacement = new CCollectDiskDeviceInfoStruct{};
    disk->SetDiskInfo(replacement);
    disk->SetDiskInfo(replacement);
    EXPECT_EQ(disk->GetDiskInfo(), replacement);
    EXPECT_EQ(disk->GetDiskInfo()->sectorSize, 0);

    std::unique_ptr<IStorageDeviceData> holders[] = {
        std::unique_ptr<IStorageDeviceData>(CreatePartitionDeviceData(new CCollectedPartitionDeviceInfoStruct{})),
        std::unique_ptr<IStorageDeviceData>(CreateVolumeDeviceData(new CCollectedVolumeDeviceInfoStruct{})),
        std::unique_ptr<IStorageDeviceData>(CreateEDIDeviceData(new CEDIDeviceInfoStruct{})),
        std::unique_ptr<IStorageDeviceData>(CreateDMGDeviceData(nullptr)),
    };
    EXPECT_NE(dynamic_cast<IPartitionDeviceData*>(holders[0].get())->GetPartitionInfo(), nullptr);
    EXPECT_NE(dynamic_cast<IVolumeDeviceData*>(holders[1].get())->GetVolumeInfo(), nullptr);
    EXPECT_NE(dynamic_cast<IEDIDeviceData*>(holders[2].get())->GetEDIInfo(), nullptr);
    EXPECT_EQ(dynamic_cast<IDmgDeviceData*>(holders[3].get())->GetDMGInfo(), nullptr);
    EXPECT_EQ(dynamic_cast<IDiskDeviceData*>(holders[1].get()), nullptr);
}

}  // namespace
