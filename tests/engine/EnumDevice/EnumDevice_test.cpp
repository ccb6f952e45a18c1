#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "EnumDeviceFixture.h"
#include "engine/EnumDevice/DevListSortAlgorithm.h"
#include "engine/EnumDevice/EnumDevice.h"
#include "engine/EnumDevice/EnumDeviceCodes.h"
#include "engine/EnumDevice/EnumDeviceEx.h"
#include "engine/EnumDevice/GuidText.h"
#include "engine/EnumDevice/MergeVolumeAndPartition.h"
#include "engine/StorageDevice/DiskDevice.h"
#include "engine/StorageDevice/VolumeDevice.h"
#include "support/Fixtures.h"
#include "support/MemoryDevice.h"

using namespace enumtest;
using testsupport::FakeKernelTree;
using testsupport::TempDir;

namespace {

constexpr u64 kMiB = 1024 * 1024;

class EnumDeviceTest : public testing::Test {
protected:
    TempDir dir;
    FakeKernelTree tree{dir.path()};
    MarkerAnalyzers analyzers;

    // A disk of the given size whose node is a sparse file of that size.
    std::filesystem::path AddDisk(const std::string& name, u32 minor, u64 bytes, std::vector<std::string> udev = {}) {
        tree.AddDisk({.name = name, .major = 8, .minor = minor, .size512 = bytes / 512, .udev = udev});
        return tree.MakeNode(name, bytes);
    }
    // A partition the kernel reports, its node a file holding the marker of its file system.
    void AddKernelPartition(const std::string& disk, const std::string& name, int number, u32 minor, u64 start512,
                            u64 size512, std::vector<std::string> udev = {}) {
        tree.AddPartition({.disk = disk,
                           .name = name,
                           .number = number,
                           .major = 8,
                           .minor = minor,
                           .start512 = start512,
                           .size512 = size512,
                           .udev = udev});
        tree.MakeNode(name, size512 * 512);
    }

    std::vector<std::string> DiskNames(CEnumDeviceEx& e) {
        int count = 0;
        EXPECT_EQ(e.EnumDiskDevice(nullptr, count), 0u);
        std::vector<IStorageDevice*> disks(count);
        EXPECT_EQ(e.EnumDiskDevice(disks.data(), count), 0u);
        std::vector<std::string> names;
        for (auto* d : disks) names.emplace_back(RecordText(DiskInfo(d)->bsdName));
        return names;
    }
    DeviceList Volumes(CEnumDeviceEx& e, IStorageDevice* disk) {
        int count = 0;
        EXPECT_EQ(e.EnumVolumeDevice(disk, nullptr, count), 0u);
        DeviceList volumes(count);
        EXPECT_EQ(e.EnumVolumeDevice(disk, volumes.data(), count), 0u);
        return volumes;
    }
    DeviceList Partitions(CEnumDeviceEx& e, IStorageDevice* disk) {
        int count = 0;
        EXPECT_EQ(e.EnumPartitionDevice(disk, nullptr, count), 0u);
        DeviceList parts(count);
        EXPECT_EQ(e.EnumPartitionDevice(disk, parts.data(), count), 0u);
        return parts;
    }
    IStorageDevice* Disk(CEnumDeviceEx& e, const std::string& name) {
        int count = 0;
        e.EnumDiskDevice(nullptr, count);
        std::vector<IStorageDevice*> disks(count);
        e.EnumDiskDevice(disks.data(), count);
        for (auto* d : disks)
            if (RecordText(DiskInfo(d)->bsdName) == name) return d;
        return nullptr;
    }
};

TEST_F(EnumDeviceTest, DisksComeByteWiseByNameAboveTheSizeFloorWithoutOpticalOrRamMedia) {
    AddDisk("disk10", 0, 16 * kMiB);
    AddDisk("disk2", 16, 16 * kMiB);
    AddDisk("disk1", 32, 8 * kMiB);                                              // exactly the floor: kept
    AddDisk("disk3", 48, 4 * kMiB);                                              // below it: left out
    AddDisk("disk4", 64, 8 * kMiB - 512);                                        // one sector short
    tree.AddDisk({.name = "disk5", .major = 8, .minor = 80, .size512 = 32768});  // no node: cannot open
    AddDisk("sr0", 96, 700 * kMiB);
    AddDisk("zram0", 112, 64 * kMiB);
    AddDisk("ram0", 128, 64 * kMiB);
    tree.AddDisk({.name = "sdz", .major = 8, .minor = 144, .size512 = 32768, .scsiType = 5});
    tree.MakeNode("sdz", 16 * kMiB);

    CEnumDeviceEx e(tree.Roots());
    ASSERT_EQ(e.Init(), 0u);
    EXPECT_EQ(DiskNames(e), (std::vector<std::string>{"disk1", "disk10", "disk2"}));

    IStorageDevice* disk = Disk(e, "disk10");
    const CCollectDiskDeviceInfoStruct* info = DiskInfo(disk);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->kind, 0u);
    EXPECT_EQ(info->sectorSize, 512);
    EXPECT_EQ(info->totalSectors, i64(16 * kMiB / 512));
    EXPECT_EQ(info->heads, 255);
    EXPECT_EQ(info->sectorsPerTrack, 63);
    EXPECT_EQ(info->cylinders, info->totalSectors / 16065);
    EXPECT_EQ(static_cast<dev_t>(info->deviceNumber), makedev(8, 0));
    EXPECT_EQ(info->writable, 1u);
    EXPECT_EQ(disk->IsPermitted(), 1u);
}

TEST_F(EnumDeviceTest, NoDiskAndTheStateCodes) {
    AddDisk("small", 0, 4 * kMiB);
    CEnumDeviceEx e(tree.Roots());
    int count = 0;
    EXPECT_EQ(e.EnumDiskDevice(nullptr, count), enum_codes::kDisksNotInitialised);
    EXPECT_EQ(e.EnumPartitionDevice(nullptr, nullptr, count), enum_codes::kPartitionsNotInitialised);
    EXPECT_EQ(e.EnumVolumeDevice(nullptr, nullptr, count), enum_codes::kVolumesNotInitialised);
    EXPECT_EQ(e.Uninit(), enum_codes::kUninitNotInitialised);
    EXPECT_EQ(e.Init(), 0x010300A100000001ull);
    EXPECT_EQ(e.Uninit(), enum_codes::kUninitNotInitialised);
}

TEST_F(EnumDeviceTest, ArrayPattern) {
    AddDisk("sda", 0, 16 * kMiB);
    AddDisk("sdb", 16, 16 * kMiB);
    CEnumDeviceEx e(tree.Roots());
    ASSERT_EQ(e.Init(), 0u);
    IStorageDevice* array[4] = {};
    int count = 1;
    EXPECT_EQ(e.EnumDiskDevice(array, count), 0x0103010400000009ull);
    count = 0;
    EXPECT_EQ(e.EnumDiskDevice(array, count), 0u);  // a zero count copies nothing
    EXPECT_EQ(array[0], nullptr);
    count = 4;
    EXPECT_EQ(e.EnumDiskDevice(array, count), 0u);
    EXPECT_EQ(count, 2);
    IStorageDevice* sda = array[0];

    count = 0;
    EXPECT_EQ(e.EnumPartitionDevice(sda, array, count), 0u);
    EXPECT_EQ(e.EnumPartitionDevice(nullptr, array, count), 0x0103012C00000007ull);
    testsupport::MemoryDevice stranger({}, 512, STORAGE_DEVICE_DISK);
    EXPECT_EQ(e.EnumPartitionDevice(&stranger, array, count), 0x010301E400000005ull);
    EXPECT_EQ(e.EnumVolumeDevice(&stranger, array, count), 0x010301E400000005ull);
    EXPECT_EQ(e.EnumVolumeDevice(nullptr, array, count), 0x0103015600000007ull);
    count = 0;
    EXPECT_EQ(e.EnumVolumeDevice(sda, array, count), 0x0103017300000009ull);  // even a zero count
    EXPECT_EQ(e.Uninit(), 0u);
}

TEST_F(EnumDeviceTest, ADiskWithoutATableIsOnePartitionAndOneVolume) {
    auto node = AddDisk("sdb", 16, 16 * kMiB);
    WriteAt(node, 0, MarkerSector(FILE_SYSTEM_EXFAT, "STICK"));
    CEnumDeviceEx e(tree.Roots());
    ASSERT_EQ(e.Init(), 0u);
    IStorageDevice* disk = Disk(e, "sdb");
    EXPECT_EQ(DiskInfo(disk)->partitionScheme, 0u);

    DeviceList parts = Partitions(e, disk);
    ASSERT_EQ(parts.size(), 1u);
    const auto* p = PartitionInfo(parts[0]);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->partitionNumber, -1);
    EXPECT_EQ(p->startSector, 0);
    EXPECT_EQ(p->sectorCount, i64(16 * kMiB / 512));

    DeviceList volumes = Volumes(e, disk);
    ASSERT_EQ(volumes.size(), 1u);  // the partition is the whole-disk volume, not a second one
    const auto* v = VolumeInfo(volumes[0]);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->partitionNumber, -1);
    EXPECT_EQ(RecordText(v->bsdName), "sdb");
    EXPECT_EQ(v->fileSystemType, u32(FILE_SYSTEM_EXFAT));
    EXPECT_EQ(RecordText(v->label), "STICK");
    EXPECT_EQ(RecordText(v->volumeName), "STICK");
    EXPECT_EQ(volumes[0]->GetType(), u32(STORAGE_DEVICE_VOLUME));

    // The disk keeps a copy of its volume records.
    auto* diskDevice = dynamic_cast<CDiskDevice*>(disk);
    ASSERT_TRUE(diskDevice);
    std::vector<CCollectedVolumeDeviceInfoStruct> copies;
    EXPECT_EQ(diskDevice->GetVolumes(copies), 1);
}

TEST_F(EnumDeviceTest, MergeIsOneToOneAndKeepsEqualSizePartitions) {
    // Table: two partitions of the same size and a third 30 MiB larger; the kernel shows only the first,
    // 10 sectors larger than the table says (within the tolerance).
    auto node = AddDisk("sda", 0, 256 * kMiB);
    WriteAt(node, 0, MbrSector({{0x0C, 2048, 100000}, {0x07, 104448, 100000}, {0x07, 206848, 161440}}));
    WriteAt(node, 2048 * 512, MarkerSector(FILE_SYSTEM_FAT32, "ONE"));
    WriteAt(node, 104448ull * 512, MarkerSector(FILE_SYSTEM_NTFS, "TWO"));
    AddKernelPartition("sda", "sda1", 1, 1, 2048, 100010);
    WriteAt(tree.Node("sda1"), 0, MarkerSector(FILE_SYSTEM_FAT32, "ONE"));

    CEnumDeviceEx e(tree.Roots());
    ASSERT_EQ(e.Init(), 0u);
    IStorageDevice* disk = Disk(e, "sda");
    EXPECT_EQ(DiskInfo(disk)->partitionScheme, 1u);

    DeviceList parts = Partitions(e, disk);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(PartitionInfo(parts[1])->fileSystemType, u32(FILE_SYSTEM_NTFS));
    EXPECT_EQ(RecordText(PartitionInfo(parts[1])->label), "TWO");

    DeviceList volumes = Volumes(e, disk);
    ASSERT_EQ(volumes.size(), 3u);
    std::vector<int> numbers;
    std::vector<i64> starts;
    for (auto* v : volumes) {
        numbers.push_back(VolumeInfo(v)->partitionNumber);
        starts.push_back(VolumeInfo(v)->startSector);
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(starts, (std::vector<i64>{2048, 104448, 206848}));
    EXPECT_EQ(VolumeInfo(volumes[0])->totalSectors, 100010);  // the kernel's volume itself
    EXPECT_EQ(RecordText(VolumeInfo(volumes[0])->bsdName), "sda1");
    EXPECT_EQ(RecordText(VolumeInfo(volumes[1])->bsdName), "");  // made from a partition
    EXPECT_EQ(VolumeInfo(volumes[1])->mounted, 0u);
    EXPECT_EQ(RecordText(VolumeInfo(volumes[1])->label), "TWO");

    // Asking again hands out the same devices (owned by the enumeration until Uninit).
    DeviceList again = Volumes(e, disk);
    EXPECT_EQ(again, volumes);
    EXPECT_EQ(e.Uninit(), 0u);
}

TEST(MergeVolumeAndPartition, MatchesByStartFirstThenBySize) {
    auto volume = [](i64 start, i64 total, int number) {
        auto d = std::make_unique<testsupport::MemoryDevice>(std::vector<u8>{}, 512, STORAGE_DEVICE_VOLUME);
        auto* r = new CCollectedVolumeDeviceInfoStruct{};
        r->sectorSize = 512, r->startSector = start, r->totalSectors = total, r->partitionNumber = number;
        d->SetPrivateData(CreateVolumeDeviceData(r));
        return d;
    };
    auto partition = [](i64 start, i64 count, int number) {
        auto d = std::make_unique<testsupport::MemoryDevice>(std::vector<u8>{}, 512, STORAGE_DEVICE_PARTITION);
        auto* r = new CCollectedPartitionDeviceInfoStruct{};
        r->sectorSize = 512, r->startSector = start, r->sectorCount = count, r->partitionNumber = number;
        d->SetPrivateData(CreatePartitionDeviceData(r));
        return d;
    };
    // 100,000 vs 100,010 sectors: the same device; 10 MiB is the edge of the tolerance.
    EXPECT_TRUE(CMergeVolumeAndPartition::IsSameDevice(volume(0, 100010, 1).get(), partition(7, 100000, 1).get()));
    EXPECT_TRUE(CMergeVolumeAndPartition::IsSameDevice(volume(0, 20480, 1).get(), partition(0, 40960, 1).get()));
    EXPECT_FALSE(CMergeVolumeAndPartition::IsSameDevice(volume(0, 20479, 1).get(), partition(0, 40960, 1).get()));
    EXPECT_FALSE(CMergeVolumeAndPartition::IsSameDevice(volume(0, 40960, 1).get(), nullptr));

    // Two volumes of the same size: each partition takes the volume that starts where it does, even
    // when a volume of the same size comes first in the list.
    auto v1 = volume(300000, 100000, 2), v2 = volume(2048, 100000, 1);
    auto p1 = partition(2048, 100000, 1), p2 = partition(300000, 100000, 2);
    DeviceList out, created;
    EXPECT_EQ(CMergeVolumeAndPartition().MergeAsVolume({v1.get(), v2.get()}, {p1.get(), p2.get()}, out, created), 0u);
    EXPECT_EQ(out, (DeviceList{v1.get(), v2.get()}));
    EXPECT_TRUE(created.empty());

    // A partition without its record cannot be converted: the merge ends with the code.
    testsupport::MemoryDevice bare({}, 512, STORAGE_DEVICE_PARTITION);
    out.clear();
    EXPECT_EQ(CMergeVolumeAndPartition().MergeAsVolume({v1.get()}, {&bare}, out, created), 0x0103005D00000007ull);
    IStorageDevice* converted = nullptr;
    EXPECT_EQ(CVolumePartitionConverter().ConvertPartition2Volume(v1.get(), &converted), 0x0103004600000005ull);
    EXPECT_EQ(converted, nullptr);
}

TEST(DevListSortAlgorithm, IsAStrictWeakOrderingEvenWithDevicesWithoutRecords) {
    std::vector<std::unique_ptr<testsupport::MemoryDevice>> owned;
    DeviceList list;
    std::mt19937 random(7);
    for (int i = 0; i < 60; ++i) {
        u32 type = i % 3 == 0 ? STORAGE_DEVICE_PARTITION : (i % 3 == 1 ? STORAGE_DEVICE_VOLUME : STORAGE_DEVICE_DISK);
        auto d = std::make_unique<testsupport::MemoryDevice>(std::vector<u8>{}, 512, type);
        int number = static_cast<int>(random() % 7) - 1;
        if (random() % 4 != 0) {  // a quarter have no record
            if (type == STORAGE_DEVICE_PARTITION) {
                auto* r = new CCollectedPartitionDeviceInfoStruct{};
                r->partitionNumber = number;
                d->SetPrivateData(CreatePartitionDeviceData(r));
            } else if (type == STORAGE_DEVICE_VOLUME) {
                auto* r = new CCollectedVolumeDeviceInfoStruct{};
                r->partitionNumber = number;
                d->SetPrivateData(CreateVolumeDeviceData(r));
            } else {
                auto* r = new CCollectDiskDeviceInfoStruct{};
                CopyRecordText(r->bsdName, "disk" + std::to_string(number + 1));
                d->SetPrivateData(CreateDiskDeviceData(r));
            }
        }
        list.push_back(d.get());
        owned.push_back(std::move(d));
    }
    list.push_back(nullptr);
    CDevListSortAlgorithm less;
    for (auto* a : list) {
        EXPECT_FALSE(less(a, a));
        for (auto* b : list) {
            if (less(a, b)) {
                EXPECT_FALSE(less(b, a));
            }
            for (auto* c : list) {
                if (less(a, b) && less(b, c)) {
                    EXPECT_TRUE(less(a, c));
                }
                bool abEqual = !less(a, b) && !less(b, a), bcEqual = !less(b, c) && !less(c, b);
                if (abEqual && bcEqual) {
                    EXPECT_TRUE(!less(a, c) && !less(c, a));
                }
            }
        }
    }
    SortDeviceList(list);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), less));
    EXPECT_EQ(list.back(), nullptr);

    // Partitions by number with those without a record after them; disk names byte-wise.
    DeviceList partitions;
    for (auto* d : list)
        if (d && d->GetType() == STORAGE_DEVICE_PARTITION) partitions.push_back(d);
    bool seenBare = false;
    int last = -2;
    for (auto* d : partitions) {
        const auto* r = PartitionInfo(d);
        if (!r) {
            seenBare = true;
            continue;
        }
        EXPECT_FALSE(seenBare);
        EXPECT_GE(r->partitionNumber, last);
        last = r->partitionNumber;
    }
}

TEST_F(EnumDeviceTest, GptVolumesTakeGuidsFromUdevOrTheTableAndTheWholeMediumIsNoVolume) {
    const u64 total = 128 * kMiB / 512;
    auto node = AddDisk("sdc", 32, 128 * kMiB);
    // The EFI system partition type and two unique GUIDs, in on-disk byte order.
    u8 efi[16], unique1[16], unique2[16];
    ASSERT_TRUE(ParseGuidText("C12A7328-F81F-11D2-BA4B-00A0C93EC93B", efi));
    ASSERT_TRUE(ParseGuidText("01234567-89ab-cdef-0123-456789ABCDEF", unique1));
    ASSERT_TRUE(ParseGuidText("11111111-2222-3333-4444-555555555555", unique2));
    GptEntry e1{}, e2{};
    std::memcpy(e1.typeGuid, efi, 16), std::memcpy(e1.uniqueGuid, unique1, 16), e1.first = 2048, e1.last = 67583;
    std::memcpy(e2.typeGuid, efi, 16), std::memcpy(e2.uniqueGuid, unique2, 16), e2.first = 67584, e2.last = 133119;
    WriteGpt(node, total, {e1, e2});
    AddKernelPartition("sdc", "sdc1", 1, 33, 2048, 65536);
    AddKernelPartition("sdc", "sdc2", 2, 34, 67584, 65536,
                       {"ID_PART_ENTRY_TYPE=c12a7328-f81f-11d2-ba4b-00a0c93ec93b",
                        "ID_PART_ENTRY_UUID=aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee"});

    CEnumDeviceEx enumerator(tree.Roots());
    ASSERT_EQ(enumerator.Init(), 0u);
    IStorageDevice* disk = Disk(enumerator, "sdc");
    EXPECT_EQ(DiskInfo(disk)->partitionScheme, 2u);
    DeviceList volumes = Volumes(enumerator, disk);
    ASSERT_EQ(volumes.size(), 2u);
    const auto* v1 = VolumeInfo(volumes[0]);
    const auto* v2 = VolumeInfo(volumes[1]);
    EXPECT_EQ(RecordText(v1->bsdName), "sdc1");
    EXPECT_EQ(std::memcmp(v1->typeGuid, efi, 16), 0);
    EXPECT_EQ(std::memcmp(v1->uniqueGuid, unique1, 16), 0);
    const u8 fromUdev[16] = {0xaa, 0xaa, 0xaa, 0xaa, 0xbb, 0xbb, 0xcc, 0xcc,
                             0xdd, 0xdd, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
    EXPECT_EQ(std::memcmp(v2->uniqueGuid, fromUdev, 16), 0);
}

TEST(GuidText, StoresTheFirstThreeGroupsLittleEndian) {
    u8 out[16] = {};
    ASSERT_TRUE(ParseGuidText("C12A7328-F81F-11D2-BA4B-00A0C93EC93B", out));
    const u8 expected[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                             0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
    EXPECT_EQ(std::memcmp(out, expected, 16), 0);
    for (const char* bad : {"", "C12A7328F81F11D2BA4B00A0C93EC93B", "C12A7328-F81F-11D2-BA4B-00A0C93EC93",
                            "G12A7328-F81F-11D2-BA4B-00A0C93EC93B", "C12A7328-F81F-11D2-BA4B_00A0C93EC93B",
                            "C12A7328-F81F-11D2-BA4B-00A0C93EC93B0"}) {
        EXPECT_FALSE(ParseGuidText(bad, out)) << bad;
    }
}

TEST_F(EnumDeviceTest, VolumeNamesMountStateAndMissingStarts) {
    auto node = AddDisk("sdd", 48, 64 * kMiB);
    WriteAt(node, 0, MbrSector({{0x0C, 2048, 20480}, {0x07, 24576, 20480}, {0x07, 47104, 20480}}));
    // 1: unlabelled and unmounted; 2: mounted on a folder with a blank; 3: udev knows its label, and
    // the kernel gave no start.
    AddKernelPartition("sdd", "sdd1", 1, 49, 2048, 20480);
    AddKernelPartition("sdd", "sdd2", 2, 50, 24576, 20480);
    AddKernelPartition("sdd", "sdd3", 3, 51, 47104, 20480, {"ID_FS_LABEL=My_Data", "ID_FS_LABEL_ENC=My\\x20Data"});
    std::filesystem::remove(tree.Roots().sys / "class" / "block" / "sdd" / "sdd3" / "start");
    tree.AddMount(8, 50, "/media/user/Holiday\\040Photos");

    CEnumDeviceEx e(tree.Roots());
    ASSERT_EQ(e.Init(), 0u);
    DeviceList volumes = Volumes(e, Disk(e, "sdd"));
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(RecordText(VolumeInfo(volumes[0])->volumeName), "sdd1");
    EXPECT_EQ(VolumeInfo(volumes[0])->mounted, 0u);
    EXPECT_EQ(RecordText(VolumeInfo(volumes[1])->volumeName), "Holiday Photos");
    EXPECT_EQ(VolumeInfo(volumes[1])->mounted, 1u);
    EXPECT_EQ(RecordText(VolumeInfo(volumes[2])->volumeName), "My Data");
    EXPECT_EQ(VolumeInfo(volumes[2])->startSector, 47104);  // from the table entry of its number
    EXPECT_EQ(static_cast<dev_t>(VolumeInfo(volumes[2])->deviceNumber), makedev(8, 51));
    for (auto* v : volumes) EXPECT_EQ(VolumeInfo(v)->fileSystemType, u32(FILE_SYSTEM_UNKNOWN));
}

TEST_F(EnumDeviceTest, ApfsVolumesAreNamedWithoutAnyFileInTmp) {
    auto node = AddDisk("sde", 64, 64 * kMiB);
    WriteAt(node, 0, MbrSector({{0xAF, 2048, 40960}}));
    AddKernelPartition("sde", "sde1", 1, 65, 2048, 40960);
    WriteAt(tree.Node("sde1"), 0, MarkerSector(FILE_SYSTEM_APFS, "Container"));
    std::error_code ec;
    bool cacheExisted = std::filesystem::exists("/tmp/dyapfs.plist", ec);

    CEnumDeviceEx e(tree.Roots());
    ASSERT_EQ(e.Init(), 0u);
    DeviceList volumes = Volumes(e, Disk(e, "sde"));
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(VolumeInfo(volumes[0])->fileSystemType, u32(FILE_SYSTEM_APFS));
    EXPECT_EQ(RecordText(VolumeInfo(volumes[0])->volumeName), "Container");  // no container found: the label
    auto* device = dynamic_cast<CVolumeDevice*>(volumes[0]);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->GetApfsDevicePath(), "");
    if (!cacheExisted) {
        EXPECT_FALSE(std::filesystem::exists("/tmp/dyapfs.plist", ec));
    }
}

// Runs the enumeration as a user who may not read the disk nodes: as root in a child process that
// gives up root, otherwise directly with the nodes made unreadable.
TEST_F(EnumDeviceTest, ADiskTheUserMayNotReadStaysListedAsNotPermitted) {
    auto node = AddDisk("sdf", 80, 32 * kMiB);
    WriteAt(node, 0, MbrSector({{0x0C, 2048, 40960}}));
    AddKernelPartition("sdf", "sdf1", 1, 81, 2048, 40960);
    AddDisk("sdg", 96, 16 * kMiB);  // readable
    chmod(node.c_str(), 0);
    chmod(tree.Node("sdf1").c_str(), 0);
    // The folders must be open to the unprivileged user.
    for (auto p = tree.Node("sdf1").parent_path(); p != dir.path().parent_path(); p = p.parent_path())
        chmod(p.c_str(), 0755);
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
        if (entry.is_directory()) chmod(entry.path().c_str(), 0755);
    chmod(tree.Node("sdg").c_str(), 0644);

    auto checks = [&]() -> int {
        if (testsupport::IsRoot() && setresuid(65534, 65534, 65534) != 0) return 3;
        CEnumDeviceEx e(tree.Roots());
        if (e.Init() != 0) return 4;
        if (DiskNames(e) != std::vector<std::string>{"sdf", "sdg"}) return 5;
        IStorageDevice* disk = Disk(e, "sdf");
        if (disk->IsPermitted() != 0 || !DiskInfo(disk)) return 6;
        if (DiskInfo(disk)->totalSectors != i64(32 * kMiB / 512)) return 7;
        if (Disk(e, "sdg")->IsPermitted() != 1) return 8;
        DeviceList volumes = Volumes(e, disk);
        if (volumes.size() != 1 || volumes[0]->IsPermitted() != 0) return 9;
        if (VolumeInfo(volumes[0])->partitionNumber != 1) return 10;
        return 0;
    };
    // The checks run in a grandchild that gives up root; the child, still root, removes its own copy
    // of the fake tree afterwards (a death-test child builds one of its own and never unwinds).
    auto run = [&] {
        pid_t pid = fork();
        if (pid == 0) _exit(checks());
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid) _exit(2);
        std::error_code ec;
        std::filesystem::remove_all(dir.path(), ec);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    };
    // A fresh process: a forked copy of this one may inherit reader threads in an unusable state.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}

}  // namespace
