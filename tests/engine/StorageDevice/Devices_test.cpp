#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "engine/Common/MessageCenter.h"
#include "engine/StorageDevice/DeviceTestSupport.h"
#include "engine/StorageDevice/DiskDevice.h"
#include "engine/StorageDevice/ImageDevice.h"
#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/PartitionDevice.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/StorageDevice/VolumeDevice.h"
#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using Device = std::unique_ptr<IStorageDevice>;
constexpr u64 kImageSize = 1024 * 1024 + 3 * 4096;  // 2072 sectors of 512, 259 of 4096

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "disk.img";
        devtest::WritePatternFile(image, kImageSize);
    }
    void TearDown() override {
        kxread::SetChunkReader({});
        CRawNodeDevice::SetReOpenPause(1000ms);
    }
    std::vector<u8> Read(IStorageDevice& device, i64 first, i64 count, int* result) {
        std::vector<u8> buffer(static_cast<size_t>(count * device.GetSectorSize()), 0xCC);
        *result = device.ReadSector(buffer.data(), first, count);
        return buffer;
    }
    testsupport::TempDir dir;
    std::filesystem::path image;
};

// A read of [first, first + count) of every device type equals dd of the same bytes.
TEST_F(Devices, EveryDeviceReadsExactBytes) {
    Device disk(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(disk->Open(nullptr));
    EXPECT_EQ(disk->GetSectorSize(), 512u);
    EXPECT_EQ(disk->GetTotalSectors(), static_cast<i64>(kImageSize / 512));
    disk->SetPrivateData(devtest::DiskData(512, kImageSize / 512));
    Device volume(CreateVolumeDevice(image.c_str()));
    ASSERT_TRUE(volume->Open(nullptr));
    Device partition(CreatePartitionDevice(disk.get(), 100, 1000));
    ASSERT_TRUE(partition->Open(nullptr));
    partition->SetPrivateData(devtest::PartitionData(disk.get(), 512, 100, 1000));
    Device asVolume(CreatePartitionVirtualVolumeDevice(partition.get()));
    ASSERT_TRUE(asVolume);
    ASSERT_TRUE(asVolume->Open(nullptr));
    Device edi(CreateEdiDeviceImp(image.c_str()));
    ASSERT_TRUE(edi->Open(nullptr));
    edi->SetPrivateData(devtest::EdiData(512, 2000, 4096));
    Device dmg(CreateDmgDeviceImp(image.c_str()));
    ASSERT_TRUE(dmg->Open(nullptr));
    dmg->SetPrivateData(devtest::DmgData(512, 2072, 0));

    struct Case {
        IStorageDevice* device;
        u32 type;
        u64 base;  // byte offset of the device's sector 0 in the file
    } devices[] = {{disk.get(), 0, 0},           {volume.get(), 2, 0}, {partition.get(), 1, 100 * 512},
                   {asVolume.get(), 2, 100 * 512}, {edi.get(), 4, 4096}, {dmg.get(), 5, 0}};
    const std::pair<i64, i64> ranges[] = {{0, 1}, {1, 7}, {13, 300}, {999, 1}, {0, 1000}};
    for (const Case& c : devices) {
        EXPECT_EQ(c.device->GetType(), c.type);
        for (auto [first, count] : ranges) {
            SCOPED_TRACE(testing::Message() << "type " << c.type << " first " << first << " count " << count);
            int result = 0;
            std::vector<u8> got = Read(*c.device, first, count, &result);
            EXPECT_EQ(result, 1);
            EXPECT_EQ(c.device->GetLastError(), 0u);
            EXPECT_EQ(got, devtest::DdRange(image, c.base + first * 512, count * 512));
        }
    }
}

// Images whose record says 4096 bytes per sector (as made from a 4K disk) read whole 4K sectors.
TEST_F(Devices, ImagesReadWithTheRecordsSectorSize) {
    for (u64 sectorSize : {512u, 4096u}) {
        Device edi(CreateEdiDeviceImp(image.c_str()));
        ASSERT_TRUE(edi->Open(nullptr));
        edi->SetPrivateData(devtest::EdiData(sectorSize, (kImageSize - 4096) / sectorSize, 4096));
        Device dmg(CreateDmgDeviceImp(image.c_str()));
        ASSERT_TRUE(dmg->Open(nullptr));
        dmg->SetPrivateData(devtest::DmgData(sectorSize, kImageSize / sectorSize, 0));
        for (IStorageDevice* device : {edi.get(), dmg.get()}) {
            const u64 base = device == edi.get() ? 4096 : 0;
            EXPECT_EQ(device->GetSectorSize(), sectorSize);
            int result = 0;
            std::vector<u8> got = Read(*device, 3, 5, &result);
            EXPECT_EQ(result, 1);
            EXPECT_EQ(got, devtest::DdRange(image, base + 3 * sectorSize, 5 * sectorSize));
        }
    }
}

TEST_F(Devices, ImageRefusesRecordsWithBadGeometry) {
    struct Case {
        u64 sectorSize, total, offset;
    } cases[] = {{0, 10, 0}, {1000, 10, 0}, {256, 10, 0}, {1u << 17, 10, 0}, {512, 10, kImageSize + 1},
                 {512, ~0ull, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sectorSize);
        Device edi(CreateEdiDeviceImp(image.c_str()));
        ASSERT_TRUE(edi->Open(nullptr));
        edi->SetPrivateData(devtest::EdiData(c.sectorSize, c.total, c.offset));
        u8 buffer[512];
        EXPECT_EQ(edi->ReadSector(buffer, 0, 1), 0);
        EXPECT_EQ(edi->GetLastError(), 0x10e007100000005ull);
    }
}

TEST_F(Devices, RefusesBadAndOverflowingRanges) {
    Device disk(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(disk->Open(nullptr));
    Device edi(CreateEdiDeviceImp(image.c_str()));
    ASSERT_TRUE(edi->Open(nullptr));
    edi->SetPrivateData(devtest::EdiData(512, 100, 4096));
    u8 buffer[512];
    const i64 huge = std::numeric_limits<i64>::max() / 256;
    const std::pair<IStorageDevice*, u64> devices[] = {{disk.get(), 0x10e009400000005ull},
                                                       {edi.get(), 0x10e007100000005ull}};
    for (auto [device, code] : devices) {
        EXPECT_EQ(device->ReadSector(nullptr, 0, 1), 0);
        EXPECT_EQ(device->GetLastError(), code);
        EXPECT_EQ(device->ReadSector(buffer, -1, 1), 0);
        EXPECT_EQ(device->ReadSector(buffer, 0, 0), 0);
        EXPECT_EQ(device->ReadSector(buffer, 0, -5), 0);
        EXPECT_EQ(device->ReadSector(buffer, huge, 1), 0);
        EXPECT_EQ(device->GetLastError(), code);
        EXPECT_EQ(device->ReadSector(buffer, 0, huge), 0);
        EXPECT_EQ(device->GetLastError(), code);
    }
}

TEST_F(Devices, ReadsPastTheEndFailWithTheReadCode) {
    Device disk(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(disk->Open(nullptr));
    Device edi(CreateEdiDeviceImp(image.c_str()));
    ASSERT_TRUE(edi->Open(nullptr));
    edi->SetPrivateData(devtest::EdiData(512, 100, 4096));
    u8 buffer[1024];
    EXPECT_EQ(disk->ReadSector(buffer, disk->GetTotalSectors(), 1), 0);
    EXPECT_EQ(disk->GetLastError(), 0x10e00c400000001ull);
    EXPECT_EQ(edi->ReadSector(buffer, static_cast<i64>(kImageSize / 512), 2), 0);
    EXPECT_EQ(edi->GetLastError(), 0x10e008400000001ull);
}

// A partition of 100 sectors read from sector 98 for 4: 2 sectors of data, then 2 of zeros; the same for
// the partition shown as a volume (its part of the buffer past the end is zeroed too, never left stale).
TEST_F(Devices, PartitionWindowsStayInsideTheirBoundsAndZeroTheTail) {
    Device disk(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(disk->Open(nullptr));
    disk->SetPrivateData(devtest::DiskData(512, kImageSize / 512));
    Device partition(CreatePartitionDevice(disk.get(), 500, 100));
    ASSERT_TRUE(partition->Open(nullptr));
    partition->SetPrivateData(devtest::PartitionData(disk.get(), 512, 500, 100));
    Device asVolume(CreatePartitionVirtualVolumeDevice(partition.get()));
    ASSERT_TRUE(asVolume->Open(nullptr));
    struct Codes {
        IStorageDevice* device;
        u64 firstOut, countTooLarge, nullBuffer;
    } windows[] = {{partition.get(), 0x10e009600000005ull, 0x10e009c00000005ull, 0x10e007000000005ull},
                   {asVolume.get(), 0x10e009a00000005ull, 0x10e00a000000005ull, 0x10e007400000005ull}};
    for (const Codes& w : windows) {
        SCOPED_TRACE(w.device->GetType());
        EXPECT_EQ(static_cast<CPartitionWindowDevice*>(w.device)->GetStartSector(), 500);
        int result = 0;
        std::vector<u8> got = Read(*w.device, 98, 4, &result);
        EXPECT_EQ(result, 1);
        const std::vector<u8> inside = devtest::DdRange(image, 598 * 512, 2 * 512);
        EXPECT_TRUE(std::equal(inside.begin(), inside.end(), got.begin()));
        EXPECT_TRUE(std::all_of(got.begin() + 1024, got.end(), [](u8 b) { return b == 0; }));
        std::vector<u8> buffer(101 * 512);
        EXPECT_EQ(w.device->ReadSector(buffer.data(), 0, 101), 0);
        EXPECT_EQ(w.device->GetLastError(), w.countTooLarge);
        EXPECT_EQ(w.device->ReadSector(buffer.data(), 100, 1), 0);
        EXPECT_EQ(w.device->GetLastError(), w.firstOut);
        EXPECT_EQ(w.device->ReadSector(buffer.data(), -1, 1), 0);
        EXPECT_EQ(w.device->GetLastError(), w.firstOut);
        EXPECT_EQ(w.device->ReadSector(nullptr, 0, 1), 0);
        EXPECT_EQ(w.device->GetLastError(), w.nullBuffer);
    }
}

TEST_F(Devices, PartitionOpenNeedsTheParentsDiskRecord) {
    Device disk(CreateDiskDevice(image.c_str()));
    Device noParent(CreatePartitionDevice(nullptr, 0, 10));
    EXPECT_EQ(noParent->Open(nullptr), 0);
    EXPECT_EQ(noParent->GetLastError(), 0x10e00e500000007ull);
    u8 buffer[512];
    EXPECT_EQ(noParent->ReadSector(buffer, 0, 1), 0);
    EXPECT_EQ(noParent->GetLastError(), 0x10e006900000007ull);
    Device partition(CreatePartitionDevice(disk.get(), 0, 10));
    EXPECT_EQ(partition->Open(nullptr), 0);
    EXPECT_EQ(partition->GetLastError(), 0x10e00ed00000007ull);
    disk->SetPrivateData(devtest::VolumeData(512, 10));
    EXPECT_EQ(partition->Open(nullptr), 0);
    EXPECT_EQ(partition->GetLastError(), 0x10e00f500000007ull);
    disk->SetPrivateData(CreateDiskDeviceData(nullptr));
    EXPECT_EQ(partition->Open(nullptr), 0);
    EXPECT_EQ(partition->GetLastError(), 0x10e00fd00000007ull);
    disk->SetPrivateData(devtest::DiskData(512, 10));
    EXPECT_EQ(partition->Open(nullptr), 1);
}

TEST_F(Devices, PartitionShownAsVolumeNeedsAKindZeroRecordWithAParent) {
    Device disk(CreateDiskDevice(image.c_str()));
    Device partition(CreatePartitionDevice(disk.get(), 0, 10));
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(partition.get()), nullptr);
    partition->SetPrivateData(devtest::PartitionData(disk.get(), 512, 0, 10, 1));
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(partition.get()), nullptr);
    partition->SetPrivateData(devtest::PartitionData(nullptr, 512, 0, 10));
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(partition.get()), nullptr);
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(nullptr), nullptr);
}

// A partition whose parent reads bigger sectors than the partition believes would overrun the buffer.
TEST_F(Devices, PartitionRefusesAParentWithAnotherSectorSize) {
    Device disk(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(disk->Open(nullptr));
    disk->SetPrivateData(devtest::DiskData(4096, kImageSize / 4096));
    Device partition(CreatePartitionDevice(disk.get(), 0, 10));
    ASSERT_TRUE(partition->Open(nullptr));
    partition->SetPrivateData(devtest::PartitionData(disk.get(), 512, 0, 10));
    std::vector<u8> buffer(512);
    EXPECT_EQ(partition->ReadSector(buffer.data(), 0, 1), 0);
}

TEST_F(Devices, VolumeRefusesReadsAtItsEndWithoutTouchingTheDevice) {
    std::atomic<int> reads{0};
    kxread::SetChunkReader([&](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        ++reads;
        return platform::disks::ReadOnce(f, b, n, off);
    });
    Device volume(CreateVolumeDevice(image.c_str()));
    ASSERT_TRUE(volume->Open(nullptr));
    u8 buffer[512];
    EXPECT_EQ(volume->ReadSector(buffer, volume->GetTotalSectors(), 1), 0);
    EXPECT_EQ(volume->GetLastError(), 0x10e009b00000005ull);
    EXPECT_EQ(reads, 0);
}

class RecordingReceiver : public INotifyCenter {
public:
    bool Notify(_MSG_EVENT* event) override {
        std::lock_guard<std::mutex> hold(mutex);
        types.push_back(event->type);
        cond.notify_all();
        return true;
    }
    std::mutex mutex;
    std::condition_variable cond;
    std::vector<int> types;
};

// Only the volume device reports a failed read as a bad sector (event 1); the disk does not.
TEST_F(Devices, FailedVolumeReadDeliversTheBadSectorEvent) {
    CMessageCenter* centre = CMessageCenter::Instance();
    RecordingReceiver receiver;
    centre->SetDeliveryInterval(5ms);
    centre->RegisterNotifyCenter(42, &receiver);
    centre->StartReceiveMessage();
    kxread::SetChunkReader([](int, void*, size_t, std::int64_t) -> ssize_t {
        errno = EIO;
        return -1;
    });
    Device disk(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(disk->Open(nullptr));
    Device volume(CreateVolumeDevice(image.c_str()));
    ASSERT_TRUE(volume->Open(nullptr));
    u8 buffer[512];
    EXPECT_EQ(disk->ReadSector(buffer, 0, 1), 0);
    EXPECT_EQ(volume->ReadSector(buffer, 0, 1), 0);
    EXPECT_EQ(volume->GetLastError(), 0x10e00cc00000001ull);
    {
        std::unique_lock<std::mutex> hold(receiver.mutex);
        EXPECT_TRUE(receiver.cond.wait_for(hold, 5s, [&] { return !receiver.types.empty(); }));
    }
    centre->StopReceiveMessage();
    centre->UnregisterNotifyCenter(42);
    centre->SetDeliveryInterval(1000ms);
    std::lock_guard<std::mutex> hold(receiver.mutex);
    EXPECT_EQ(receiver.types, std::vector<int>{EVENT_BAD_SECTOR});
}

// No device class opens anything for writing: every descriptor the devices hold is O_RDONLY.
TEST_F(Devices, NoDeviceOpensForWriting) {
    Device disk(CreateDiskDevice(image.c_str()));
    Device volume(CreateVolumeDevice(image.c_str()));
    Device edi(CreateEdiDeviceImp(image.c_str()));
    Device dmg(CreateDmgDeviceImp(image.c_str()));
    for (IStorageDevice* device : {disk.get(), volume.get(), edi.get(), dmg.get()}) ASSERT_TRUE(device->Open(nullptr));
    ASSERT_TRUE(static_cast<CRawNodeDevice*>(disk.get())->ReOpen());
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) != image) continue;
        const int fd = std::stoi(entry.path().filename().string());
        EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
        ++found;
    }
    EXPECT_EQ(found, 4);
}

TEST_F(Devices, OpenFailuresSetTheirCodes) {
    const std::string missing = (dir / "missing").string();
    Device disk(CreateDiskDevice(missing.c_str()));
    EXPECT_EQ(disk->Open(nullptr), 0);
    EXPECT_EQ(disk->GetLastError(), 0x10e004400000001ull);
    EXPECT_EQ(disk->IsPermitted(), 1u);
    Device volume(CreateVolumeDevice(missing.c_str()));
    EXPECT_EQ(volume->Open(nullptr), 0);
    EXPECT_EQ(volume->GetLastError(), 0x10e004a00000001ull);
    Device edi(CreateEdiDeviceImp(missing.c_str()));
    EXPECT_EQ(edi->Open(nullptr), 0);
    EXPECT_EQ(edi->GetLastError(), 0x10e004300000001ull);
    EXPECT_EQ(disk->Close(), 0);
    EXPECT_EQ(disk->IOCtl(1, nullptr), 0);
    EXPECT_EQ(disk->GetLastError(), 0x10e00de00000003ull);
}

// Linux refuses a node the user may not read with EACCES: the device is then "not permitted".
TEST_F(Devices, RefusedOpenClearsIsPermitted) {
    if (!testsupport::IsRoot()) GTEST_SKIP() << "needs root to drop to another user";
    const std::filesystem::path secret = dir / "secret.img";
    devtest::WritePatternFile(secret, 4096);
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        CDiskDevice disk(secret.c_str());
        CVolumeDevice volume(secret.c_str());
        const bool ok = disk.Open(nullptr) == 0 && disk.IsPermitted() == 0 && volume.Open(nullptr) == 0 &&
                        volume.IsPermitted() == 0 && disk.GetLastError() == 0x10e004400000001ull;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Devices, ReOpenTriesThreeTimesWithAPause) {
    CRawNodeDevice::SetReOpenPause(20ms);
    CDiskDevice disk(image.c_str());
    ASSERT_TRUE(disk.Open(nullptr));
    EXPECT_EQ(disk.ReOpen(), 1);
    std::filesystem::remove(image);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(disk.ReOpen(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
    EXPECT_FALSE(disk.IsOpen());
}

TEST_F(Devices, PrivateDataIsOwnedAndReplaced) {
    CDiskDevice disk(image.c_str());
    EXPECT_EQ(disk.GetDiskInfo(), nullptr);
    EXPECT_EQ(disk.GetLastError(), 0x10e011900000007ull);
    disk.SetPrivateData(devtest::VolumeData(512, 1));
    EXPECT_EQ(disk.GetDiskInfo(), nullptr);
    EXPECT_EQ(disk.GetLastError(), 0x10e012100000007ull);
    IStorageDeviceData* data = devtest::DiskData(4096, 77);
    disk.SetPrivateData(data);
    disk.SetPrivateData(data);  // the same object again is kept, not freed
    ASSERT_NE(disk.GetDiskInfo(), nullptr);
    EXPECT_EQ(disk.GetSectorSize(), 4096u);
    EXPECT_EQ(disk.GetTotalSectors(), 77);
    CVolumeDevice volume(image.c_str());
    volume.SetApfsDevicePath("/dev/x");
    EXPECT_EQ(volume.GetApfsDevicePath(), "/dev/x");
}

// A real block device with 4096-byte sectors: geometry from BLKSSZGET/BLKGETSIZE64, exact reads.
TEST_F(Devices, FourKLoopDeviceReadsExactBytes) {
    if (!testsupport::IsRoot() || !std::filesystem::exists("/dev/loop-control"))
        GTEST_SKIP() << "needs root and loop devices";
    testsupport::LoopDevice loop(image, 4096, false);
    if (loop.empty()) GTEST_SKIP() << "losetup --sector-size 4096 is not available";
    {
        Device disk(CreateDiskDevice(loop.Device().c_str()));
        ASSERT_TRUE(disk->Open(nullptr));
        EXPECT_EQ(disk->GetSectorSize(), 4096u);
        EXPECT_EQ(disk->GetTotalSectors(), static_cast<i64>(kImageSize / 4096));
        int result = 0;
        std::vector<u8> got = Read(*disk, 7, 9, &result);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(got, devtest::DdRange(image, 7 * 4096, 9 * 4096));
        u8 buffer[4096];
        EXPECT_EQ(disk->ReadSector(buffer, disk->GetTotalSectors(), 1), 0);
    }
}

}  // namespace
