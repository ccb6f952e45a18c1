#include "platform/disks/MountEvents.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

using namespace brelvox::disks;

namespace {

MountEntry Mount(std::uint32_t major, std::uint32_t minor, const std::string& point, const std::string& root = "/") {
    MountEntry entry;
    entry.major = major;
    entry.minor = minor;
    entry.root = root;
    entry.mountPoint = point;
    return entry;
}

std::vector<std::string> Points(const std::vector<MountEntry>& entries) {
    std::vector<std::string> points;
    for (const auto& entry : entries) points.push_back(entry.mountPoint);
    return points;
}

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

bool Listed(const std::vector<MountEntry>& table, const std::string& point) {
    return std::any_of(table.begin(), table.end(), [&](const MountEntry& e) { return e.mountPoint == point; });
}

}  // namespace

TEST(MountTableTracker, ReportsWhatCameAndWentBetweenTables) {
    const MountEntry root = Mount(259, 2, "/");
    const MountEntry stick = Mount(8, 17, "/media/u/STICK");
    const MountEntry card = Mount(8, 33, "/media/u/CARD");
    const MountEntry tmp = Mount(0, 40, "/tmp");
    struct Case {
        const char* what;
        std::vector<MountEntry> next;
        std::vector<std::string> mounted;
        std::vector<std::string> unmounted;
    };
    const std::vector<Case> cases = {
        {"the same table again", {root, tmp, stick}, {}, {}},
        {"a card mounted", {root, tmp, stick, card}, {"/media/u/CARD"}, {}},
        {"stick and card unmounted", {root, tmp}, {}, {"/media/u/STICK", "/media/u/CARD"}},
        {"the stick back at another folder",
         {root, tmp, Mount(8, 17, "/media/u/STICK1")},
         {"/media/u/STICK1"},
         {}},
        {"another file system over the same folder",
         {root, tmp, Mount(8, 18, "/media/u/STICK1")},
         {"/media/u/STICK1"},
         {"/media/u/STICK1"}},
        {"a subtree of it bound elsewhere",
         {root, tmp, Mount(8, 18, "/media/u/STICK1"), Mount(8, 18, "/srv/share", "/docs")},
         {"/srv/share"},
         {}},
        {"everything gone", {}, {}, {"/", "/tmp", "/media/u/STICK1", "/srv/share"}},
    };
    MountTableTracker tracker;
    tracker.Prime({root, tmp, stick});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto changes = tracker.Take(c.next);
        EXPECT_EQ(Points(changes.mounted), c.mounted);
        EXPECT_EQ(Points(changes.unmounted), c.unmounted);
    }
}

TEST(MountTableTracker, OnlyBlockDeviceMountsAreVolumes) {
    EXPECT_TRUE(IsBlockDeviceMount(Mount(8, 1, "/media/x")));
    EXPECT_TRUE(IsBlockDeviceMount(Mount(7, 0, "/mnt/image")));
    EXPECT_FALSE(IsBlockDeviceMount(Mount(0, 45, "/tmp")));
}

TEST(MountInfoSource, ReadsTheSameTableAsTheKernelReader) {
    // Other tests mount and unmount meanwhile: a read during which the table changed is taken again.
    for (int attempt = 1;; ++attempt) {
        std::string error;
        auto source = CreateMountInfoSource(error);
        ASSERT_TRUE(source) << error;
        const auto table = source->Mounts();
        const auto expected = KernelDisks().Mounts();
        ASSERT_FALSE(table.empty());
        const bool changed = Readable(source->Descriptor(), 0);
        if ((changed || Points(table) != Points(expected)) && attempt < 50) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        EXPECT_EQ(Points(table), Points(expected));
        EXPECT_FALSE(changed) << "nothing changed since it was opened";
        break;
    }
}

TEST(MountInfoSource, AMissingFileIsAnError) {
    std::string error;
    EXPECT_FALSE(CreateMountInfoSource(error, "/nonexistent/mountinfo"));
    EXPECT_NE(error.find("/nonexistent/mountinfo"), std::string::npos);
}

TEST(MountInfoSource, AMountAndAnUnmountMakeTheDescriptorReadableOnceEach) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    std::string error;
    auto source = CreateMountInfoSource(error);
    ASSERT_TRUE(source) << error;
    source->Mounts();
    testsupport::TempDir dir;
    const std::string point = dir.str();
    ASSERT_EQ(mount("none", point.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    struct Unmount {
        std::string point;
        bool done = false;
        ~Unmount() {
            if (!done) umount2(point.c_str(), MNT_DETACH);
        }
    } guard{point};

    ASSERT_TRUE(Readable(source->Descriptor(), 5000));
    const auto mounted = source->Mounts();
    EXPECT_TRUE(Listed(mounted, point));
    EXPECT_FALSE(Readable(source->Descriptor(), 50)) << "reading the table ends the readiness";

    ASSERT_EQ(umount2(point.c_str(), 0), 0) << std::strerror(errno);
    guard.done = true;
    ASSERT_TRUE(Readable(source->Descriptor(), 5000));
    EXPECT_FALSE(Listed(source->Mounts(), point));
    EXPECT_FALSE(Readable(source->Descriptor(), 50));
}
