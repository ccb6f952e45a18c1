// The device of a loaded result is found again after the devices were numbered anew.
#include <gtest/gtest.h>

#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/SaveRestore/FindSavedDevice.h"
#include "support/FakeEnumDevice.h"

using saved_result::SavedDevice;
using SaveRestoreResult::GetFromDiskVolumeData;
using testsupport::FakeEnumDevice;

namespace {

FakeEnumDevice::Volume Vol(const std::string& name, const std::string& kernel, i64 sectors) {
    FakeEnumDevice::Volume v;
    v.name = name;
    v.kernelName = kernel;
    v.sectors = sectors;
    return v;
}

FakeEnumDevice::Disk UsbDisk(const std::string& name, const std::string& kernel,
                             std::vector<FakeEnumDevice::Volume> volumes) {
    FakeEnumDevice::Disk d;
    d.name = name;
    d.kernelName = kernel;
    d.volumes = std::move(volumes);
    return d;
}

TEST(FindSavedDevice, ByIndexWhenUnchangedElseByNameFileSystemAndCapacity) {
    const auto stick = UsbDisk("Stick", "sdb", {Vol("BOOT", "sdb1", 2048), Vol("DATA", "sdb2", 4096)});
    const auto other = UsbDisk("Other", "sdc", {Vol("X1", "sdc1", 2048), Vol("X2", "sdc2", 2048)});
    auto enumerations = std::make_shared<int>(0);
    KXUIDeviceData::Config config;
    config.enumerator = [=]() -> std::unique_ptr<IEnumDeviceEx> {
        // The second enumeration finds another disk first: the stick moves to index 1.
        return std::make_unique<FakeEnumDevice>((*enumerations)++ == 0 ? std::vector{stick}
                                                                         : std::vector{other, stick});
    };
    KXUIDeviceData model(config);
    ASSERT_TRUE(model.InitDeviceInfo());
    std::vector<_DiskVolumeData> rows;
    model.GetAllDeviceInfo(rows);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].subVolumes.size(), 2u);
    const SavedDevice data = SavedDevice::From(rows[0].subVolumes[1]);
    const SavedDevice disk = SavedDevice::From(rows[0]);
    EXPECT_EQ(GetFromDiskVolumeData(model, data, nullptr), model.GetStorageByDiskVolumeIndex(0, 1));
    EXPECT_EQ(GetFromDiskVolumeData(model, disk, nullptr), model.GetStorageByDiskVolumeIndex(0, -1));

    model.Clear();
    ASSERT_TRUE(model.InitDeviceInfo());
    // (0, 1) is now the other disk's second volume, of another capacity: found by name instead.
    IStorageDevice* found = GetFromDiskVolumeData(model, data, nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, model.GetStorageByDiskVolumeIndex(1, 1));
    // (0, -1) is now the other disk, of the same size: the name tells them apart.
    EXPECT_EQ(GetFromDiskVolumeData(model, disk, nullptr), model.GetStorageByDiskVolumeIndex(1, -1));

    SavedDevice renamed = data;
    renamed.name = "GONE";
    renamed.diskIndex = 5;
    EXPECT_EQ(GetFromDiskVolumeData(model, renamed, nullptr), nullptr);
    SavedDevice resized = data;
    resized.capacity += 512;
    resized.diskIndex = 5;
    EXPECT_EQ(GetFromDiskVolumeData(model, resized, nullptr), nullptr);
    SavedDevice otherFs = data;
    otherFs.fileSystem += 1;
    otherFs.diskIndex = 5;
    EXPECT_EQ(GetFromDiskVolumeData(model, otherFs, nullptr), nullptr);
    // An image result without its image block finds nothing.
    SavedDevice edi = data;
    edi.isEdi = 1;
    EXPECT_EQ(GetFromDiskVolumeData(model, edi, nullptr), nullptr);
}

}  // namespace
