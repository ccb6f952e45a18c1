// The enumeration of a real loop device with an MBR and FAT, exFAT and NTFS partitions, as the kernel
// shows it. Needs root, loop devices and the formatting tools; skips otherwise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EnumDeviceFixture.h"
#include "engine/EnumDevice/EnumDeviceEx.h"
#include "engine/VolumeAnalyze/VolumeAnalyzeController.h"
#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/MemoryDevice.h"

using namespace enumtest;
using testsupport::RunCommand;

namespace {

constexpr u64 kMiB = 1024 * 1024;

bool HaveTool(const std::string& tool) {
    return RunCommand("command -v " + tool + " >/dev/null 2>&1") == 0;
}

// A loop device over an image, with its partitions made known to the kernel; detached in every case.
// A loop device over an image with its partitions shown (the shared helper: losetup -P, partx -a where
// the kernel shows none; every partition dropped again before the device is detached).
class LoopDevice {
public:
    explicit LoopDevice(const std::filesystem::path& image) : m_loop(image, 512, false, true) {}

    const std::string& Node() const { return m_loop.Device(); }
    std::string Name() const { return std::filesystem::path(Node()).filename().string(); }

private:
    testsupport::LoopDevice m_loop;
};

// Whether volume recognition, given the volume's bytes alone, names its file system type.
bool Recognises(const std::filesystem::path& image, u64 offset, u64 bytes, u32 type) {
    auto whole = testsupport::MemoryDevice::FromFile(image);
    std::vector<u8> part(whole->Bytes().begin() + offset, whole->Bytes().begin() + offset + bytes);
    testsupport::MemoryDevice volume(std::move(part));
    std::unique_ptr<CVolumeAnalyzeController> controller(CreateVolumeAnalyzeController(&volume, 0));
    IVolumeAnalyze* analyzer = controller ? controller->GetVolumeAnzlyzer() : nullptr;
    return analyzer && analyzer->GetFileSystemType() == type;
}

// The disk the enumerator lists under a kernel name, or null.
IStorageDevice* ListedDisk(CEnumDeviceEx& enumerator, const std::string& name) {
    int count = 0;
    if (enumerator.EnumDiskDevice(nullptr, count) != 0) return nullptr;
    std::vector<IStorageDevice*> disks(count);
    if (enumerator.EnumDiskDevice(disks.data(), count) != 0) return nullptr;
    for (auto* d : disks)
        if (RecordText(DiskInfo(d)->bsdName) == name) return d;
    return nullptr;
}

TEST(LoopDevices, AnMbrDiskWithFatExfatAndNtfsPartitions) {
    if (!testsupport::IsRoot()) GTEST_SKIP() << "needs root to attach loop devices";
    if (access("/dev/loop-control", R_OK | W_OK) != 0) GTEST_SKIP() << "no usable /dev/loop-control";
    for (const char* tool : {"losetup", "partx", "mkfs.fat", "mkfs.exfat", "mkntfs"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";

    testsupport::TempDir dir;
    auto image = dir / "disk.img";
    testsupport::WriteFile(image, "");
    ASSERT_EQ(truncate(image.c_str(), static_cast<off_t>(96 * kMiB)), 0);
    struct Part {
        u32 start, count;
        u8 type;
    } parts[] = {{2048, 32 * 2048, 0x0C}, {67584, 24 * 2048, 0x07}, {118784, 24 * 2048, 0x07}};
    WriteAt(image, 0,
            MbrSector({{parts[0].type, parts[0].start, parts[0].count},
                       {parts[1].type, parts[1].start, parts[1].count},
                       {parts[2].type, parts[2].start, parts[2].count}}));

    LoopDevice loop(image);
    if (loop.Node().empty()) GTEST_SKIP() << "cannot attach a loop device here";
    std::string p = loop.Node() + "p";
    if (!std::filesystem::exists(p + "3")) GTEST_SKIP() << "the kernel did not add the partitions of " << loop.Node();
    ASSERT_EQ(RunCommand("mkfs.fat -F 16 -n BVFAT '" + p + "1' >/dev/null 2>&1"), 0);
    ASSERT_EQ(RunCommand("mkfs.exfat -L BVEXFAT '" + p + "2' >/dev/null 2>&1"), 0);
    ASSERT_EQ(RunCommand("mkntfs -F -Q -L BVNTFS '" + p + "3' >/dev/null 2>&1"), 0);
    RunCommand("sync");

    CEnumDeviceEx enumerator;  // the machine's own /sys, /proc, /run/udev and /dev
    ASSERT_EQ(enumerator.Init(), 0u);
    IStorageDevice* disk = ListedDisk(enumerator, loop.Name());
    ASSERT_TRUE(disk) << loop.Name() << " is not listed";
    EXPECT_EQ(DiskInfo(disk)->totalSectors, i64(96 * kMiB / 512));
    EXPECT_EQ(DiskInfo(disk)->partitionScheme, 1u);
    EXPECT_EQ(DiskInfo(disk)->busType, 5u);

    int count = 0;
    ASSERT_EQ(enumerator.EnumPartitionDevice(disk, nullptr, count), 0u);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(enumerator.EnumVolumeDevice(disk, nullptr, count), 0u);
    std::vector<IStorageDevice*> volumes(count);
    ASSERT_EQ(enumerator.EnumVolumeDevice(disk, volumes.data(), count), 0u);
    ASSERT_EQ(volumes.size(), 3u) << "each partition is one volume, none added twice";

    const u32 types[] = {FILE_SYSTEM_FAT16, FILE_SYSTEM_EXFAT, FILE_SYSTEM_NTFS};
    const char* labels[] = {"BVFAT", "BVEXFAT", "BVNTFS"};
    for (int i = 0; i < 3; ++i) {
        const auto* v = VolumeInfo(volumes[i]);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->partitionNumber, i + 1);
        EXPECT_EQ(RecordText(v->bsdName), loop.Name() + "p" + std::to_string(i + 1));
        EXPECT_EQ(v->startSector, parts[i].start);
        EXPECT_EQ(v->totalSectors, parts[i].count);
        EXPECT_EQ(v->sectorSize, 512);
        EXPECT_EQ(volumes[i]->IsPermitted(), 1u);
        const bool ntfs = types[i] == FILE_SYSTEM_NTFS;
        const bool exfat = types[i] == FILE_SYSTEM_EXFAT;
        EXPECT_TRUE(Recognises(image, u64(parts[i].start) * 512, u64(parts[i].count) * 512, types[i]))
            << labels[i] << ": the volume's own bytes are recognised as its file system";
        EXPECT_EQ(v->fileSystemType, types[i]) << labels[i];
        // The NTFS and exFAT recognisers keep an empty label; the name then comes from the system or the node.
        if (ntfs || exfat) {
            EXPECT_EQ(RecordText(v->label), std::string());
            const std::string name(RecordText(v->volumeName));
            EXPECT_TRUE(name == labels[i] || name == loop.Name() + "p" + std::to_string(i + 1)) << name;
            continue;
        }
        EXPECT_EQ(RecordText(v->label), labels[i]);
        EXPECT_EQ(RecordText(v->volumeName), labels[i]);
    }
    EXPECT_EQ(enumerator.Uninit(), 0u);
}

// A whole loop device holding the shared APFS container (no partition table): one volume of the
// disk, recognised as APFS and named by the container's first volume, in the enumeration and in
// brelvox-scan --list-devices.
TEST(LoopDevices, AnApfsContainerIsListedWithItsVolumeName) {
    if (!testsupport::IsRoot()) GTEST_SKIP() << "needs root to attach loop devices";
    const auto xz = testsupport::SharedFixturePath("apfs-1g-sparse.img.xz");
    if (!xz) GTEST_SKIP() << "no shared fixtures";
    const auto image = testsupport::UnpackXzShared(*xz);
    testsupport::LoopDevice loop(image, 512, true);
    if (loop.empty()) GTEST_SKIP() << "cannot attach a loop device here";
    const std::string name = std::filesystem::path(loop.Device()).filename().string();

    CEnumDeviceEx enumerator;
    ASSERT_EQ(enumerator.Init(), 0u);
    IStorageDevice* disk = ListedDisk(enumerator, name);
    ASSERT_TRUE(disk) << name << " is not listed";
    int count = 0;
    ASSERT_EQ(enumerator.EnumVolumeDevice(disk, nullptr, count), 0u);
    std::vector<IStorageDevice*> volumes(count);
    ASSERT_EQ(enumerator.EnumVolumeDevice(disk, volumes.data(), count), 0u);
    ASSERT_EQ(volumes.size(), 1u);
    const auto* v = VolumeInfo(volumes[0]);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->fileSystemType, u32(FILE_SYSTEM_APFS));
    EXPECT_EQ(RecordText(v->label), "APFSVOL");
    EXPECT_EQ(v->totalSectors, i64(2097152));
    EXPECT_EQ(enumerator.Uninit(), 0u);

    // The driver's device listing shows it so.
    const std::string driver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";
    if (!std::filesystem::exists(driver)) GTEST_SKIP() << driver << " is not built";
    std::string out;
    ASSERT_EQ(RunCommand(driver + " --list-devices 2>/dev/null", &out), 0);
    const std::string line = "  volume " + name + "  number -1  start 0  1.1 GB  APFS  \"APFSVOL\"  name \"APFSVOL\"\n";
    EXPECT_NE(out.find(line), std::string::npos) << out;
}

}  // namespace
