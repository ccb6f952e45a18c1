// The device model over fake enumerations: which disks and volumes become rows, their indexes and
// names, opened images numbered after the disks, and what a failed or repeated enumeration leaves.
#include "bridge/Device/KXUIDeviceData.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <string>
#include <vector>

#include "bridge/Controller/KXUIController.h"
#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/FakeEnumDevice.h"
#include "support/FakeKernelTree.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"

namespace {

using testsupport::FakeEnumDevice;
using testsupport::FakeWindowSide;
using testsupport::TempDir;
using Disk = FakeEnumDevice::Disk;
using Volume = FakeEnumDevice::Volume;

// EFI System and Apple Boot partition types in the GPT's byte order, and an ordinary data partition.
constexpr u8 kEfi[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11, 0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
constexpr u8 kAppleBoot[16] = {0x74, 0x6F, 0x6F, 0x42, 0x00, 0x00, 0xAA, 0x11,
                               0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC};
constexpr u8 kData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44, 0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};

Volume Vol(const std::string& name, const std::string& kernel, u32 fs = FILE_SYSTEM_FAT32) {
    Volume v;
    v.name = name;
    v.kernelName = kernel;
    v.fileSystem = fs;
    return v;
}

Disk UsbDisk(const std::string& name, const std::string& kernel, std::vector<Volume> volumes = {}) {
    Disk d;
    d.name = name;
    d.kernelName = kernel;
    d.volumes = std::move(volumes);
    return d;
}

KXUIDeviceData::Config Fakes(std::vector<Disk> disks, u64 initCode = 0) {
    KXUIDeviceData::Config config;
    config.enumerator = testsupport::FakeEnumeratorFactory(std::move(disks), initCode);
    return config;
}

std::vector<_DiskVolumeData> Rows(KXUIDeviceData& model) {
    std::vector<_DiskVolumeData> rows;
    model.GetAllDeviceInfo(rows);
    return rows;
}

std::vector<std::string> Names(const std::vector<_DiskVolumeData>& rows) {
    std::vector<std::string> names;
    for (const auto& r : rows) names.push_back(r.name);
    return names;
}

// An EDI image file of 64 sectors named name; the creation time tells two images apart.
std::string WriteEdi(const TempDir& dir, const std::string& file, const std::string& name, u64 created) {
    CEDIDeviceInfoStruct block{};
    block.sectorSize = 512;
    block.totalSectors = 64;
    block.dataOffset = 1536;
    block.fileSize = 1536 + 64 * 512;
    std::strncpy(block.name, name.c_str(), sizeof block.name - 1);
    block.creationTime = created;
    std::string bytes("edi\0", 4);
    for (int i = 0; i < 4; ++i) bytes += char(kEdiInfoBlockSize >> (8 * i));
    bytes.append(reinterpret_cast<const char*>(&block), sizeof block);
    bytes.resize(block.fileSize, '\0');
    testsupport::WriteFile(dir / file, bytes);
    return (dir / file).string();
}

TEST(DeviceModel, UsbDisksAndImagesAreListedInternalAndLoopDisksAreNot) {
    Disk sata = UsbDisk("Internal SSD", "sda", {Vol("System", "sda1")});
    sata.bus = DISK_BUS_SATA;
    Disk loop = UsbDisk("", "loop0", {Vol("", "loop0")});
    loop.bus = DISK_BUS_VIRTUAL;
    Disk empty = UsbDisk("Card Reader", "sdc");
    KXUIDeviceData model(Fakes({sata, UsbDisk("Stick", "sdb", {Vol("PHOTOS", "sdb1"), Vol("", "sdb2")}), loop, empty}));
    ASSERT_TRUE(model.InitDeviceInfo());
    EXPECT_EQ(model.GetInitState(), KXUIDeviceData::kReady);

    const auto rows = Rows(model);
    ASSERT_EQ(Names(rows), (std::vector<std::string>{"Stick", "Card Reader"}));
    const _DiskVolumeData& stick = rows[0];
    EXPECT_EQ(stick.diskIndex, 1);
    EXPECT_EQ(stick.volumeIndex, -1);
    EXPECT_EQ(stick.fileSystem, -1);
    EXPECT_EQ(stick.isUSB, 1u);
    EXPECT_EQ(stick.bsdName, "sdb");
    // An unlabelled volume is named by its device path.
    ASSERT_EQ(Names(stick.subVolumes), (std::vector<std::string>{"PHOTOS", "/dev/sdb2"}));
    EXPECT_EQ(stick.subVolumes[1].diskIndex, 1);
    EXPECT_EQ(stick.subVolumes[1].volumeIndex, 1);
    EXPECT_EQ(stick.subVolumes[0].fileSystem, i32(FILE_SYSTEM_FAT32));

    // The windows' rows: a disk without volumes has no children at all.
    FakeWindowSide window({.devices = Fakes({UsbDisk("Stick", "sdb", {Vol("PHOTOS", "sdb1")}), empty})});
    KXUIDeviceData::instance().InitDeviceInfo();
    DiskVolumeNodeData::Rows shown;
    window.Controller().GetDeviceInfoToArray(&shown);
    ASSERT_EQ(shown.size(), 2u);
    ASSERT_NE(shown[0]->children(), nullptr);
    EXPECT_EQ(shown[0]->children()->size(), 1u);
    EXPECT_EQ(shown[0]->children()->front()->diskPath(), "/dev/sdb1");
    EXPECT_EQ(shown[1]->children(), nullptr);
    window.Controller().GetDeviceInfoToArray(nullptr);  // nothing happens
}

TEST(DeviceModel, PartitionsThatAreNoUserVolumeAreRefused) {
    struct Case {
        const char* label;
        u32 scheme;
        const u8* guid;
        const char* content;
        bool listed;
    };
    const Case cases[] = {
        {"gpt efi", 2, kEfi, "", false},
        {"gpt apple boot", 2, kAppleBoot, "", false},
        {"gpt data", 2, kData, "", true},
        {"apm map", 3, kData, "Apple_partition_map", false},
        {"apm free", 3, kData, "Apple_Free", false},
        {"apm hfs", 3, kData, "Apple_HFS", true},
        {"mbr with an efi guid", 1, kEfi, "Apple_Free", true},
        {"no scheme", 0, kEfi, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Volume v = Vol("V", "sdb1");
        std::memcpy(v.typeGuid, c.guid, 16);
        v.content = c.content;
        Disk d = UsbDisk("Disk", "sdb", {v, Vol("Other", "sdb2")});
        d.scheme = c.scheme;
        KXUIDeviceData model(Fakes({d}));
        ASSERT_TRUE(model.InitDeviceInfo());
        const auto rows = Rows(model);
        ASSERT_EQ(rows.size(), 1u);
        const std::vector<std::string> listed = {"V", "Other"}, refused = {"Other"};
        EXPECT_EQ(Names(rows[0].subVolumes), c.listed ? listed : refused);
        // The refused volume keeps its position: the next one is still volume 1.
        EXPECT_EQ(rows[0].subVolumes.back().volumeIndex, 1);
        IStorageDevice* volume = model.GetStorageByDiskVolumeIndex(0, 0);
        ASSERT_NE(volume, nullptr);
        EXPECT_EQ(model.IsVolumeStorageSupported(volume), c.listed);
    }
}

TEST(DeviceModel, LookupsByIndexAndByDevice) {
    Disk d = UsbDisk("Disk", "sdb", {Vol("A", "sdb1"), Vol("B", "sdb2")});
    Disk broken = UsbDisk("Broken", "sdc", {Vol("C", "sdc1")});
    broken.volumeCountFails = true;
    KXUIDeviceData model(Fakes({d, broken}));
    ASSERT_TRUE(model.InitDeviceInfo());
    IStorageDevice* disk = model.GetStorageByDiskVolumeIndex(0, -1);
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(disk->GetType(), u32(STORAGE_DEVICE_DISK));
    EXPECT_EQ(model.GetStorageByDiskVolumeIndex(-1, 0), nullptr);
    EXPECT_EQ(model.GetStorageByDiskVolumeIndex(-1, -1), nullptr);
    EXPECT_EQ(model.GetStorageByDiskVolumeIndex(0, 2), nullptr);
    EXPECT_EQ(model.GetStorageByDiskVolumeIndex(2, -1), nullptr);
    EXPECT_EQ(model.GetDiskStorageByIndex(-1), nullptr);

    IStorageDevice* second = model.GetStorageByDiskVolumeIndex(0, 1);
    ASSERT_NE(second, nullptr);
    i32 diskIndex = 7, volumeIndex = 7;
    EXPECT_TRUE(model.GetDiskVolumeIndexByStorage(second, &diskIndex, &volumeIndex));
    EXPECT_EQ(diskIndex, 0);
    EXPECT_EQ(volumeIndex, 1);
    EXPECT_TRUE(model.GetDiskVolumeIndexByStorage(disk, &diskIndex, &volumeIndex));
    EXPECT_EQ(volumeIndex, -1);
    EXPECT_FALSE(model.GetDiskVolumeIndexByStorage(nullptr, &diskIndex, &volumeIndex));
    EXPECT_EQ(diskIndex, -1);
    EXPECT_EQ(model.GetDiskStorageByVolumeStorage(second), disk);
    EXPECT_TRUE(model.IsDiskStorage(disk));
    EXPECT_FALSE(model.IsDiskStorage(second));
    EXPECT_EQ(model.GetVolumeInfo(disk), nullptr);
    ASSERT_NE(model.GetVolumeInfo(second), nullptr);

    // A disk whose volume count cannot be had gets no entry, and the others go on.
    IStorageDevice* brokenDisk = model.GetStorageByDiskVolumeIndex(1, -1);
    ASSERT_NE(brokenDisk, nullptr);
    EXPECT_FALSE(model.IsDiskStorage(brokenDisk));
    EXPECT_EQ(model.GetStorageByDiskVolumeIndex(1, 0), nullptr);
}

TEST(DeviceModel, ImagesAreNumberedAfterTheDisksAndOpenedOnce) {
    TempDir dir;
    const std::string edi = WriteEdi(dir, "stick.edi", "Stick image", 1700000000);
    const std::string other = WriteEdi(dir, "other.edi", "Stick image", 1700000001);
    std::vector<Disk> two = {UsbDisk("A", "sdb", {Vol("A1", "sdb1")}), UsbDisk("B", "sdc")};
    std::vector<Disk> three = two;
    three.push_back(UsbDisk("C", "sdd"));

    // The enumeration grows from two disks to three between the two Init calls.
    auto enumerations = std::make_shared<int>(0);
    KXUIDeviceData::Config config;
    config.enumerator = [=]() -> std::unique_ptr<IEnumDeviceEx> {
        return std::make_unique<FakeEnumDevice>((*enumerations)++ == 0 ? two : three);
    };
    KXUIDeviceData model(config);
    ASSERT_TRUE(model.InitDeviceInfo());
    ASSERT_TRUE(model.KXOpenEdiFileImp(edi.c_str()));
    ASSERT_TRUE(model.KXOpenEdiFileImp(edi.c_str())) << "the same image again: success, no second entry";
    ASSERT_TRUE(model.KXOpenEdiFileImp(other.c_str()));
    EXPECT_FALSE(model.KXOpenEdiFileImp(nullptr));
    EXPECT_FALSE(model.KXOpenEdiFileImp((dir / "missing.edi").c_str()));
    EXPECT_EQ(model.DiskCount(), 4u);

    auto rows = Rows(model);
    ASSERT_EQ(Names(rows), (std::vector<std::string>{"A", "B", "Stick image", "Stick image"}));
    EXPECT_EQ(rows[2].diskIndex, 2);
    EXPECT_EQ(rows[2].isEdi, 1u);
    EXPECT_EQ(rows[2].bsdName, edi);
    EXPECT_EQ(rows[2].capacity, 64u * 512);
    EXPECT_EQ(rows[2].ediInfoSize, kEdiInfoBlockSize);
    EXPECT_TRUE(rows[2].subVolumes.empty());
    IStorageDevice* image = model.GetStorageByDiskVolumeIndex(2, -1);
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(model.IsDiskStorage(image)) << "an image is no enumerated disk";
    EXPECT_EQ(model.GetDiskStorageByVolumeStorage(image), image) << "an image is its own disk";

    model.Clear();
    ASSERT_TRUE(model.InitDeviceInfo());
    rows = Rows(model);
    ASSERT_EQ(Names(rows), (std::vector<std::string>{"A", "B", "C", "Stick image", "Stick image"}));
    EXPECT_EQ(rows[3].diskIndex, 3) << "a third disk moves the image on";
    EXPECT_EQ(model.GetStorageByDiskVolumeIndex(3, -1), image) << "the same image device, renumbered";
}

TEST(DeviceModel, AnAppleImageShowsNoMoreThanItsFileHolds) {
    TempDir dir;
    testsupport::WriteFile(dir / "disk.dmg", std::string(10 * 512, '\0'));
    CDMGDeviceInfoStruct info{};
    info.sectorSize = 512;
    info.totalSectors = 100;  // claims more than the 10 sectors of the file
    info.fileLength = 10 * 512;
    std::strcpy(info.name, "disk.dmg");
    std::strcpy(info.path, (dir / "disk.dmg").c_str());
    KXUIDeviceData model(Fakes({}, 0x0103000000000001ULL));
    EXPECT_FALSE(model.InitDeviceInfo());
    ASSERT_TRUE(model.KXOpenDmgFileImp(info.path, info));
    ASSERT_TRUE(model.KXOpenDmgFileImp(info.path, info));
    const auto rows = Rows(model);
    ASSERT_EQ(rows.size(), 1u) << "opened images are listed even when no disk was enumerated";
    EXPECT_EQ(rows[0].capacity, 10u * 512);
    EXPECT_EQ(rows[0].isAppleDmg, 1u);
    EXPECT_EQ(rows[0].dmgInfoSize, kDmgInfoSize);
    EXPECT_EQ(rows[0].diskIndex, 0);
}

TEST(DeviceModel, AFailedEnumerationGoesBackToStateZeroAndStillAnswersThePage) {
    FakeWindowSide window({.devices = Fakes({UsbDisk("A", "sdb")}, 0x0103000000000001ULL)});
    window.Controller().NotifiyDeviceInfoAfterInit("aInitFinished");
    ASSERT_TRUE(window.RunUntil([&] { return window.Count("aInitFinished") == 1; }));
    EXPECT_EQ(KXUIDeviceData::instance().GetInitState(), KXUIDeviceData::kNotInitialised);
    DiskVolumeNodeData::Rows rows;
    window.Controller().GetDeviceInfoToArray(&rows);
    EXPECT_TRUE(rows.empty());

    // Asked again, it enumerates again (and posts again).
    window.Controller().NotifiyDeviceInfoAfterInit("aInitFinished");
    ASSERT_TRUE(window.RunUntil([&] { return window.Count("aInitFinished") == 2; }));
}

TEST(DeviceModel, OneEnumerationAtATimeAndAnEnumeratedModelAnswersAtOnce) {
    FakeWindowSide window({.devices = Fakes({UsbDisk("A", "sdb")})});
    KXUIDeviceData& model = KXUIDeviceData::instance();
    ASSERT_TRUE(model.BeginInit());
    window.Controller().NotifiyDeviceInfoAfterInit("aInitFinished");  // under way: nothing
    window.Pump();
    KXUIController::JoinWorkers();
    window.Pump();
    EXPECT_EQ(window.Count("aInitFinished"), 0u);
    ASSERT_TRUE(model.InitDeviceInfo());
    window.Controller().NotifiyDeviceInfoAfterInit("aInitFinished");
    EXPECT_EQ(window.Count("aInitFinished"), 0u) << "posted for the main thread, not delivered inside the call";
    window.Pump();
    EXPECT_EQ(window.Count("aInitFinished"), 1u);
}

TEST(DeviceModel, TheSystemVolumeAndWhatCanBeOpened) {
    TempDir dir;
    testsupport::FakeKernelTree tree(dir.path() / "kernel");
    tree.AddMount(8, 17, "/");
    tree.AddMount(8, 18, "/media/stick");
    Volume root = Vol("root", "sdb1");
    root.mounted = true;
    root.number = makedev(8, 17);
    Volume media = Vol("media", "sdb2");
    media.mounted = true;
    media.number = makedev(8, 18);
    Volume locked = Vol("locked", "sdb3");
    locked.permitted = false;
    Disk d = UsbDisk("Disk", "sdb", {root, media, locked});
    d.permitted = false;
    KXUIDeviceData::Config config = Fakes({d});
    config.roots = tree.Roots();
    KXUIDeviceData model(config);
    ASSERT_TRUE(model.InitDeviceInfo());
    const auto rows = Rows(model);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].beCanOpen, 0u);
    ASSERT_EQ(rows[0].subVolumes.size(), 3u);
    EXPECT_EQ(rows[0].subVolumes[0].isSystemVolume, 1u);
    EXPECT_EQ(rows[0].subVolumes[1].isSystemVolume, 0u);
    EXPECT_EQ(rows[0].subVolumes[0].beCanOpen, 1u);
    EXPECT_EQ(rows[0].subVolumes[2].beCanOpen, 0u);
    EXPECT_EQ(DiskVolumeNodeData(&rows[0].subVolumes[0]).isSystemVolume(), 1);
}

TEST(DeviceModel, ReplacedEnumerationsLiveUntilReleased) {
    const int before = FakeEnumDevice::Alive();
    KXUIDeviceData model(Fakes({UsbDisk("A", "sdb", {Vol("A1", "sdb1")})}));
    ASSERT_TRUE(model.InitDeviceInfo());
    IStorageDevice* volume = model.GetStorageByDiskVolumeIndex(0, 0);
    model.Clear();
    ASSERT_TRUE(model.InitDeviceInfo());
    EXPECT_EQ(FakeEnumDevice::Alive(), before + 2);
    EXPECT_EQ(model.RetiredCount(), 1u);
    // A scan still holding the old volume can read it.
    std::vector<u8> sector(512);
    EXPECT_EQ(volume->ReadSector(sector.data(), 0, 1), 1);
    model.ReleaseRetired();
    EXPECT_EQ(FakeEnumDevice::Alive(), before + 1);
    EXPECT_EQ(model.RetiredCount(), 0u);
}

}  // namespace
