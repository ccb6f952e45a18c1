// Shared by the scan suites: fake disks and a fake tree of found files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bridge/Device/KXUIDeviceData.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/FakeEnumDevice.h"
#include "support/FakeFileTree.h"

namespace scantest {

using testsupport::FakeEnumDevice;

inline FakeEnumDevice::Volume Volume(const std::string& name, const std::string& kernel,
                                     u32 fileSystem = FILE_SYSTEM_FAT32) {
    FakeEnumDevice::Volume v;
    v.name = name;
    v.kernelName = kernel;
    v.fileSystem = fileSystem;
    return v;
}

inline FakeEnumDevice::Disk UsbDisk(std::vector<FakeEnumDevice::Volume> volumes, i64 sectors = 65536) {
    FakeEnumDevice::Disk d;
    d.name = "USB Stick";
    d.kernelName = "sdb";
    d.sectors = sectors;
    d.volumes = std::move(volumes);
    return d;
}

inline KXUIDeviceData::Config Devices(std::vector<FakeEnumDevice::Disk> disks,
                                      std::shared_ptr<testsupport::FakeReadControl> control =
                                          std::make_shared<testsupport::FakeReadControl>()) {
    KXUIDeviceData::Config config;
    config.enumerator = testsupport::FakeEnumeratorFactory(std::move(disks), 0, std::move(control));
    return config;
}

constexpr _FILETIME kMarch2021 = testsupport::FakeFileTime(1614834368);
constexpr _FILETIME kJuly2019 = testsupport::FakeFileTime(1562500000);

// A FAT volume's finds: folders, pictures and documents, one file with no times.
inline std::shared_ptr<testsupport::FakeFileTree> FoundFiles() {
    using testsupport::kFakeDeleted;
    using testsupport::kFakeFolder;
    return std::make_shared<testsupport::FakeFileTree>(
        "STICK", SEARCHER_FAT,
        std::vector<testsupport::FakeFileRow>{
            {"DCIM", 0, kJuly2019, kJuly2019, kFakeFolder},
            {"DCIM/IMG_0001.JPG", 150000, kJuly2019, kMarch2021, kFakeDeleted},
            {"DCIM/IMG_0002.JPG", 90000, kJuly2019, kJuly2019, kFakeDeleted},
            {"Docs/report.doc", 30000, kMarch2021, kMarch2021, kFakeDeleted},
            {"Docs/old/notes.txt", 1200, kMarch2021, kMarch2021, kFakeDeleted},
            {"timeless.bin", 10, 0, 0, kFakeDeleted},
        });
}

}  // namespace scantest
