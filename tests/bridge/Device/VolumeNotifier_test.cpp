#include "bridge/Device/VolumeNotifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "bridge/UIController/UINotifications.h"
#include "support/FakeClock.h"
#include "support/FakeMountSource.h"

using brelvox::foundation::NotificationCenter;
using brelvox::foundation::PolledDescriptorWatcher;
using testsupport::FakeMountSource;
using namespace volume_notifier;
using namespace std::chrono_literals;

namespace {

// "attach" / "detach" per post from the volume notifier; anything else is recorded as a fault.
class Recorder {
public:
    explicit Recorder(NotificationCenter& centre) {
        centre.AddObserver(this, "", nullptr, [this](const brelvox::foundation::Notification& note) {
            if (note.object != Object()) return posts.push_back("wrong sender of " + note.name);
            if (note.userInfo.has_value()) return posts.push_back("payload on " + note.name);
            if (note.name == ui_notification::kRefreshAttachDevice) return posts.push_back("attach");
            if (note.name == ui_notification::kRefreshDetachDevice) return posts.push_back("detach");
            posts.push_back("unexpected " + note.name);
        });
    }
    std::vector<std::string> posts;
};

}  // namespace

TEST(VolumeNotifier, AMountAndAnUnmountOfTheTablePostOnceEach) {
    NotificationCenter centre;
    Recorder recorder(centre);
    PolledDescriptorWatcher watcher;
    FakeMountSource source;
    const auto root = FakeMountSource::Volume("/", 2, "ext4");
    const auto proc = FakeMountSource::Pseudo("/proc", "proc");
    const auto stick = FakeMountSource::Volume("/media/u/STICK", 17);
    source.SetTable({root, proc});

    VolumeNotifier notifier(source, watcher, centre);
    std::vector<VolumeInfo> existing;
    ASSERT_TRUE(notifier.Register(&existing));
    ASSERT_EQ(existing.size(), 1u) << "only the block-device mount is a volume";
    EXPECT_EQ(existing[0].path(), "/");
    EXPECT_EQ(watcher.Pump(), 0u) << "the table at registration is not announced";
    EXPECT_TRUE(recorder.posts.empty());

    source.SetTable({root, proc, stick});
    EXPECT_EQ(watcher.Pump(), 1u);
    EXPECT_EQ(recorder.posts, std::vector<std::string>{"attach"});

    // A memory file system coming and going is no volume.
    source.SetTable({root, proc, stick, FakeMountSource::Pseudo("/run/user/1000")});
    watcher.Pump();
    EXPECT_EQ(recorder.posts.size(), 1u);

    source.SetTable({root, proc});
    watcher.Pump();
    EXPECT_EQ(recorder.posts, (std::vector<std::string>{"attach", "detach"}));
    EXPECT_EQ(watcher.Pump(), 0u) << "no post without a change";
}

TEST(VolumeNotifier, TheEjectCacheForgetsAnEntryAfter600Seconds) {
    testsupport::FakeClock clock;
    testsupport::ScopedBridgeClock scoped(&clock);
    NotificationCenter centre;
    Recorder recorder(centre);
    PolledDescriptorWatcher watcher;
    FakeMountSource source;
    VolumeNotifier notifier(source, watcher, centre);
    ASSERT_TRUE(notifier.Register());

    notifier.volumeWillUnmount("/media/u/CARD");
    ASSERT_TRUE(notifier.IsInEjectCache("/media/u/CARD"));
    EXPECT_EQ(notifier.CachedVolumeInfo("/media/u/CARD")->name(), "CARD");
    clock.Advance(599s);
    EXPECT_TRUE(notifier.IsInEjectCache("/media/u/CARD"));
    clock.Advance(1s);
    EXPECT_FALSE(notifier.IsInEjectCache("/media/u/CARD"));

    // A second announcement starts the lifetime again.
    notifier.volumeWillUnmount("/media/u/STICK");
    clock.Advance(500s);
    notifier.volumeWillUnmount("/media/u/STICK");
    clock.Advance(500s);
    EXPECT_TRUE(notifier.IsInEjectCache("/media/u/STICK"));
    clock.Advance(100s);
    EXPECT_EQ(notifier.EjectCacheSize(), 0u);

    // The unmount takes the entry out at once and posts.
    notifier.volumeWillUnmount("/media/u/DISK");
    notifier.volumeDidUnmount("/media/u/DISK");
    EXPECT_FALSE(notifier.IsInEjectCache("/media/u/DISK"));
    EXPECT_EQ(recorder.posts, std::vector<std::string>{"detach"});
}

TEST(VolumeInfo, NameDescriptionAndTheIconProvider) {
    struct Case {
        std::string path;
        std::string name;
    };
    for (const Case& c : std::vector<Case>{{"/media/u/MY STICK", "MY STICK"}, {"/mnt/usb/", "usb"}, {"/", "/"}}) {
        EXPECT_EQ(VolumeInfo::volumeInfoForMountWithPath(c.path).name(), c.name) << c.path;
    }
    auto plain = VolumeInfo::volumeInfoForMountWithPath("/media/u/CARD");
    EXPECT_FALSE(plain.iconData()) << "no icon until the kit installs its provider";
    EXPECT_EQ(plain.description(), "{name = CARD; path = /media/u/CARD;}");

    SetIconDataProvider([](const std::string& path) -> std::optional<std::string> {
        if (path == "/media/u/CARD") return std::string("icns");
        return std::nullopt;
    });
    auto withIcon = VolumeInfo::volumeInfoForUnmountWithPath("/media/u/CARD");
    EXPECT_EQ(withIcon.iconData(), std::optional<std::string>("icns"));
    EXPECT_EQ(withIcon.description(), "{name = CARD; path = /media/u/CARD; iconData = <yes>;}");
    EXPECT_FALSE(VolumeInfo::volumeInfoForMountWithPath("/other").iconData());
    SetIconDataProvider(nullptr);
    EXPECT_FALSE(VolumeInfo::volumeInfoForMountWithPath("/media/u/CARD").iconData());
}

TEST(VolumeNotifier, InitWatchesTheMountTableAndDeallocLeavesNoWatch) {
    PolledDescriptorWatcher watcher;
    NotificationCenter centre;
    Recorder recorder(centre);
    auto fake = std::make_unique<FakeMountSource>();
    FakeMountSource* source = fake.get();
    source->SetTable({FakeMountSource::Volume("/", 1)});
    ASSERT_TRUE(VolumeNotifier_init(watcher, std::move(fake), &centre));
    ASSERT_NE(RunningVolumeNotifier(), nullptr);
    EXPECT_EQ(watcher.WatchCount(), 1u);
    source->SetTable({FakeMountSource::Volume("/", 1), FakeMountSource::Volume("/media/x", 33)});
    watcher.Pump();
    EXPECT_EQ(recorder.posts, std::vector<std::string>{"attach"});
    VolumeNotifier_dealloc();
    EXPECT_EQ(RunningVolumeNotifier(), nullptr);
    EXPECT_EQ(watcher.WatchCount(), 0u);
    VolumeNotifier_dealloc();  // a second call is harmless

    // Without a source the process's own mount table is watched; its descriptors close at the end.
    auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = openDescriptors();
    ASSERT_TRUE(VolumeNotifier_init(watcher, nullptr, &centre));
    EXPECT_EQ(openDescriptors(), before + 2) << "the mount table and its epoll instance";
    EXPECT_EQ(watcher.WatchCount(), 1u);
    EXPECT_EQ(watcher.Pump(), 0u);
    VolumeNotifier_dealloc();
    EXPECT_EQ(watcher.WatchCount(), 0u);
    EXPECT_EQ(openDescriptors(), before);
}
