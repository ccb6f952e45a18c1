#include "platform/disks/BlockEvents.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/disks/KernelDisks.h"
#include "support/FakeBlockEventSource.h"
#include "support/LoopDevice.h"
#include "support/TempDir.h"

using namespace brelvox::disks;
using testsupport::FakeBlockEventSource;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// "+/dev/sdc1 part 1048576 sdc1 /dev/sdc": kind, volume path, disk or partition, size, registry name,
// path of the whole disk.
std::string Describe(const BlockChange& change) {
    return std::string(change.kind == BlockChange::Kind::Arrival ? "+" : "-") + change.VolumePath() + " " +
           (change.isDisk ? "disk" : "part") + " " + std::to_string(change.sizeBytes) + " " + change.registryName +
           " " + change.DevicePath();
}

BlockUevent Disk(const std::string& action, const std::string& name, std::optional<std::uint64_t> size,
                 const std::string& model = {}) {
    return FakeBlockEventSource::Disk(action, name, size, model);
}
BlockUevent Part(const std::string& action, const std::string& disk, const std::string& name,
                 std::optional<std::uint64_t> size, const std::string& model = {}) {
    return FakeBlockEventSource::Partition(action, disk, name, size, model);
}

struct TrackerCase {
    const char* what;
    std::vector<BlockUevent> present;
    std::vector<BlockUevent> events;
    std::vector<std::string> expected;
};

TEST(BlockEventTracker, TurnsKernelEventsIntoOneArrivalAndOneRemovalPerMedium) {
    const std::vector<TrackerCase> cases = {
        {"a disk added with its medium arrives",
         {},
         {Disk("add", "sdb", kMiB, "Cruzer")},
         {"+/dev/sdb disk 1048576 Cruzer /dev/sdb"}},
        {"a card put in an empty reader: the change gives the size, the partition is added",
         {},
         {Disk("add", "sdc", 0, "Reader"), Disk("change", "sdc", 2 * kMiB), Part("add", "sdc", "sdc1", kMiB)},
         {"+/dev/sdc disk 2097152 Reader /dev/sdc", "+/dev/sdc1 part 1048576 sdc1 /dev/sdc"}},
        {"a card pulled: the partition goes, the disk changes to size 0, then the reader goes",
         {Disk("add", "sdc", 2 * kMiB, "Reader"), Part("add", "sdc", "sdc1", kMiB)},
         {Part("remove", "sdc", "sdc1", std::nullopt), Disk("change", "sdc", 0), Disk("remove", "sdc", std::nullopt)},
         {"-/dev/sdc1 part 1048576 sdc1 /dev/sdc", "-/dev/sdc disk 2097152 Reader /dev/sdc"}},
        {"a removal without ID_MODEL keeps the name seen at arrival",
         {},
         {Disk("add", "sdb", kMiB, "Cruzer"), Disk("remove", "sdb", std::nullopt)},
         {"+/dev/sdb disk 1048576 Cruzer /dev/sdb", "-/dev/sdb disk 1048576 Cruzer /dev/sdb"}},
        {"a device never seen is still reported when it goes",
         {},
         {Part("remove", "nvme1n1", "nvme1n1p3", std::nullopt)},
         {"-/dev/nvme1n1p3 part 0 nvme1n1p3 /dev/nvme1n1"}},
        {"a change that keeps a medium (same or other size) is no arrival",
         {Disk("add", "sdb", kMiB)},
         {Disk("change", "sdb", kMiB), Disk("change", "sdb", 2 * kMiB)},
         {}},
        {"a device both listed at start and announced arrives once",
         {Disk("add", "sdb", kMiB)},
         {Disk("add", "sdb", kMiB)},
         {}},
        {"other actions change nothing",
         {Disk("add", "sdb", kMiB)},
         {Disk("bind", "sdb", 0), Disk("move", "sdb", 0), Disk("offline", "sdb", 0), Disk("unbind", "sdb", 0)},
         {}},
        {"a change whose size cannot be read says nothing, the next readable one counts",
         {Disk("add", "sdd", 0)},
         {Disk("change", "sdd", std::nullopt), Disk("change", "sdd", 3 * kMiB)},
         {"+/dev/sdd disk 3145728 sdd /dev/sdd"}},
        {"a loop device made empty, attached, detached and removed",
         {},
         {Disk("add", "loop7", 0), Disk("change", "loop7", 4 * kMiB), Disk("change", "loop7", 0),
          Disk("remove", "loop7", std::nullopt)},
         {"+/dev/loop7 disk 4194304 loop7 /dev/loop7", "-/dev/loop7 disk 4194304 loop7 /dev/loop7"}},
        {"an empty reader that comes and goes is no medium",
         {},
         {Disk("add", "sde", 0), Disk("remove", "sde", {})},
         {}},
        {"a loop device reattached arrives again",
         {Disk("add", "loop2", 0)},
         {Disk("change", "loop2", kMiB), Disk("change", "loop2", 0), Disk("change", "loop2", 2 * kMiB)},
         {"+/dev/loop2 disk 1048576 loop2 /dev/loop2", "-/dev/loop2 disk 1048576 loop2 /dev/loop2",
          "+/dev/loop2 disk 2097152 loop2 /dev/loop2"}},
        {"an event without a kernel name is ignored", {}, {Disk("add", "", kMiB)}, {}},
    };
    for (const TrackerCase& c : cases) {
        SCOPED_TRACE(c.what);
        BlockEventTracker tracker;
        tracker.Prime(c.present);
        std::vector<std::string> got;
        for (const BlockUevent& event : c.events) {
            if (auto change = tracker.Take(event)) got.push_back(Describe(*change));
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST(BlockEventTracker, PrimingAnswersThePresentMediaEachDiskBeforeItsPartitions) {
    BlockEventTracker tracker;
    const auto media = tracker.Prime({Part("add", "sdb", "sdb2", 3 * kMiB), Part("add", "sdb", "sdb1", kMiB),
                                      Disk("add", "sdb", 8 * kMiB, "Card"), Disk("add", "sda", 16 * kMiB),
                                      Disk("add", "sdc", 0, "Empty reader")});
    std::vector<std::string> got;
    for (const auto& change : media) got.push_back(Describe(change));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "+/dev/sda disk 16777216 sda /dev/sda", "+/dev/sdb disk 8388608 Card /dev/sdb",
                       "+/dev/sdb2 part 3145728 sdb2 /dev/sdb", "+/dev/sdb1 part 1048576 sdb1 /dev/sdb"}));
    EXPECT_EQ(tracker.KnownCount(), 5u);  // the empty reader is remembered: a card put in it arrives
    auto card = tracker.Take(Disk("change", "sdc", kMiB));
    ASSERT_TRUE(card.has_value());
    EXPECT_EQ(Describe(*card), "+/dev/sdc disk 1048576 Empty reader /dev/sdc");
}

TEST(BlockEventHelpers, WholeDiskOfADeviceComesFromItsDevpath) {
    struct Case {
        const char* sysname;
        const char* devtype;
        const char* devpath;
        const char* disk;
    };
    const Case cases[] = {
        {"sdb1", "partition", "/devices/pci0000:00/0000:00:14.0/usb2/2-1/host6/target6:0:0/6:0:0:0/block/sdb/sdb1",
         "sdb"},
        {"nvme0n1p2", "partition", "/devices/pci0000:00/0000:00:1d.0/nvme/nvme0/nvme0n1/nvme0n1p2", "nvme0n1"},
        {"loop3p1", "partition", "/devices/virtual/block/loop3/loop3p1/", "loop3"},
        {"mmcblk0p1", "partition", "/devices/platform/mmc0/block/mmcblk0/mmcblk0p1", "mmcblk0"},
        {"sdb", "disk", "/devices/pci0000:00/host6/block/sdb", "sdb"},
        {"sdb1", "partition", "", "sdb1"},                       // no devpath: nothing better than its name
        {"sdb1", "partition", "/sdb1", "sdb1"},                  // no folder above
        {"sdb1", "partition", "/devices/block/sdb1", "sdb1"},    // not a partition's devpath
        {"loop0", "", "/devices/virtual/block/loop0", "loop0"},  // no type: taken as a disk
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.devpath);
        EXPECT_EQ(WholeDiskOf(c.sysname, c.devtype, c.devpath), c.disk);
    }
}

TEST(BlockEventHelpers, SysfsSizesAreCountedInHalfKilobytesAndCheckedForOverflow) {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> bytes;
    };
    const Case cases[] = {
        {"0\n", 0},
        {"2048\n", 1048576},
        {"15633408", 15633408ull * 512},
        {"36028797018963967\n", 36028797018963967ull * 512},  // the largest that fits
        {"36028797018963968\n", std::nullopt},                // 2^55 units: 2^64 bytes
        {"18446744073709551615", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"-1", std::nullopt},
        {"12ab", std::nullopt},
        {" 12", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseSysfsSize(c.text), c.bytes);
    }
}

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

TEST(FakeBlockEventSource, ItsDescriptorIsReadableWhileEventsWaitAndABurstKeepsItsOrder) {
    FakeBlockEventSource source;
    EXPECT_FALSE(Readable(source.Descriptor(), 0));
    constexpr int kBurst = 100;
    std::thread kernel([&] {
        for (int i = 0; i < kBurst; ++i) source.Push(Disk(i % 2 ? "remove" : "add", "loop" + std::to_string(i), kMiB));
    });
    std::vector<BlockUevent> received;
    while (received.size() < kBurst) {
        ASSERT_TRUE(Readable(source.Descriptor(), 5000)) << "after " << received.size() << " events";
        for (auto& event : source.Receive()) received.push_back(std::move(event));
    }
    kernel.join();
    EXPECT_FALSE(Readable(source.Descriptor(), 0));
    for (int i = 0; i < kBurst; ++i) {
        EXPECT_EQ(received[i].sysname, "loop" + std::to_string(i));
        EXPECT_EQ(received[i].action, i % 2 ? "remove" : "add");
    }
}

TEST(UdevBlockEventSource, ListsThePresentDevicesAsTheKernelReaderSeesThem) {
    std::string error;
    auto source = CreateUdevBlockEventSource(error);
    ASSERT_TRUE(source) << error;
    EXPECT_GE(source->Descriptor(), 0);
    // Other tests attach and detach loop devices meanwhile: only devices the kernel shows both before and
    // after the listing must be in it.
    KernelDisks kernel;
    std::set<std::string> before;
    for (const BlockDevice& disk : kernel.Disks()) {
        before.insert(disk.name);
        for (const BlockDevice& partition : kernel.Partitions(disk.name)) before.insert(partition.name);
    }
    const auto present = source->Present();
    for (const auto& device : present) {
        EXPECT_EQ(device.action, "add");
        EXPECT_FALSE(device.sysname.empty());
    }
    auto find = [&](const std::string& name) -> const BlockUevent* {
        for (const auto& device : present)
            if (device.sysname == name) return &device;
        return nullptr;
    };
    for (const BlockDevice& disk : kernel.Disks()) {
        if (!before.count(disk.name)) continue;
        SCOPED_TRACE(disk.name);
        const BlockUevent* listed = find(disk.name);
        ASSERT_NE(listed, nullptr);
        EXPECT_EQ(listed->devtype, "disk");
        // Sizes can change under a shared machine's loop devices; compare only when they are stable.
        if (auto again = kernel.Find(disk.name); again && again->SizeBytes() == disk.SizeBytes()) {
            EXPECT_EQ(listed->sizeBytes.value_or(~0ull), disk.SizeBytes());
        }
        for (const BlockDevice& partition : kernel.Partitions(disk.name)) {
            if (!before.count(partition.name)) continue;
            const BlockUevent* part = find(partition.name);
            ASSERT_NE(part, nullptr) << partition.name;
            EXPECT_EQ(part->devtype, "partition");
            EXPECT_EQ(WholeDiskOf(part->sysname, part->devtype, part->devpath), disk.name);
        }
    }
    // Nothing blocks when no event waits (events of other programs may be there).
    (void)source->Receive();
}

// Waits for the change of one device the tracker reports.
std::optional<BlockChange> WaitForChange(IBlockEventSource& source, BlockEventTracker& tracker, const std::string& name,
                                         BlockChange::Kind kind, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        if (!Readable(source.Descriptor(), static_cast<int>(left.count()))) continue;
        for (const auto& event : source.Receive()) {
            auto change = tracker.Take(event);
            if (change && change->name == name && change->kind == kind) return change;
        }
    }
}

TEST(UdevBlockEventSource, ALoopDeviceAttachedArrivesOnceAndLeavesWhenDetached) {
    if (geteuid() != 0) GTEST_SKIP() << "loop devices need root";
    // No other suite's loop device comes or goes while this one is watched.
    testsupport::ExclusiveLoopDevices exclusive;
    testsupport::TempDir dir;
    const auto image = dir / "medium.img";
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 8 * kMiB);

    std::string error;
    auto source = CreateUdevBlockEventSource(error);
    ASSERT_TRUE(source) << error;
    BlockEventTracker tracker;
    tracker.Prime(source->Present());

    // A second device when the first one's arrival is not seen: on a machine busy with other loop devices
    // (the other suites of a parallel run) an event can be lost; a kernel that sends none misses both.
    std::unique_ptr<testsupport::LoopDevice> loop;
    std::string device, name;
    std::optional<BlockChange> arrival;
    for (int attempt = 0; attempt < 2 && !arrival; ++attempt) {
        loop = std::make_unique<testsupport::LoopDevice>(image, 512, true);
        if (loop->empty()) GTEST_SKIP() << "no loop device could be made";
        device = loop->Device();
        name = device.substr(device.rfind('/') + 1);
        arrival = WaitForChange(*source, tracker, name, BlockChange::Kind::Arrival, std::chrono::seconds(30));
        if (!arrival) loop.reset();
    }
    if (!arrival) GTEST_SKIP() << "no block-device event arrived within 30 s, twice: the kernel sends none here";
    EXPECT_EQ(arrival->VolumePath(), device);
    EXPECT_TRUE(arrival->isDisk);
    EXPECT_EQ(arrival->sizeBytes, 8 * kMiB);

    loop.reset();  // losetup -d
    auto removal = WaitForChange(*source, tracker, name, BlockChange::Kind::Removal, std::chrono::seconds(30));
    ASSERT_TRUE(removal) << "the detach of " << device << " was not seen";
    EXPECT_EQ(removal->DevicePath(), device);
    EXPECT_EQ(removal->sizeBytes, 8 * kMiB);
}

}  // namespace
