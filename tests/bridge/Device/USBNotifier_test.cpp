#include "bridge/Device/USBNotifier.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bridge/UIController/UIControllerAdapter.h"
#include "bridge/UIController/UINotifications.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeBlockEventSource.h"
#include "support/LoopDevice.h"
#include "support/TempDir.h"

using brelvox::disks::BlockUevent;
using brelvox::foundation::NotificationCenter;
using brelvox::foundation::PolledDescriptorWatcher;
using testsupport::FakeBlockEventSource;
using namespace usb_notifier;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

BlockUevent Disk(const std::string& action, const std::string& name, std::optional<std::uint64_t> size,
                 const std::string& model = {}) {
    return FakeBlockEventSource::Disk(action, name, size, model);
}
BlockUevent Part(const std::string& action, const std::string& disk, const std::string& name,
                 std::optional<std::uint64_t> size) {
    return FakeBlockEventSource::Partition(action, disk, name, size);
}

// Each post as one line: "attach /dev/sdb 1048576 disk, /dev/sdb1 524288 part" or
// "detach USBPath=... DevicePath=...".
class Recorder {
public:
    explicit Recorder(NotificationCenter& centre) {
        centre.AddObserver(this, "", nullptr, [this](const brelvox::foundation::Notification& note) {
            threads.push_back(std::this_thread::get_id());
            if (note.object != Object()) {
                posts.push_back("wrong sender of " + note.name);
            } else if (note.name == ui_notification::kRefreshAttachDevice) {
                std::string line = "attach";
                const auto* records = std::any_cast<AttachRecords>(&note.userInfo);
                if (!records) return posts.push_back("attach without records");
                for (size_t i = 0; i < records->size(); ++i) {
                    const AttachRecord& r = (*records)[i];
                    line += (i ? ", " : " ") + r.VolumePath + " " + std::to_string(r.VolumeSize) +
                            (r.isDisk ? " disk" : " part");
                }
                posts.push_back(line);
            } else if (note.name == ui_notification::kRefreshDetachDevice) {
                const auto* record = std::any_cast<DetachRecord>(&note.userInfo);
                if (!record) return posts.push_back("detach without record");
                posts.push_back("detach USBPath=" + record->USBPath + " DevicePath=" + record->DevicePath);
            } else {
                posts.push_back("unexpected " + note.name);
            }
        });
    }
    std::vector<std::string> posts;
    std::vector<std::thread::id> threads;
};

struct NotifierCase {
    const char* what;
    bool showExisting;
    std::vector<BlockUevent> present;
    std::vector<std::vector<BlockUevent>> passes;  // each pass is read in one go
    std::vector<std::string> expected;
};

TEST(USBNotifier, PostsArrivalsAndRemovalsWithTheirRecords) {
    const std::vector<NotifierCase> cases = {
        {"media present at registration are not announced",
         false,
         {Disk("add", "sda", 64 * kMiB), Part("add", "sda", "sda1", 32 * kMiB)},
         {},
         {}},
        {"unless ShowExisting is set",
         true,
         {Part("add", "sda", "sda1", 32 * kMiB), Disk("add", "sda", 64 * kMiB), Disk("add", "sdz", 0)},
         {},
         {"attach /dev/sda 67108864 disk, /dev/sda1 33554432 part"}},
        {"a card whose disk and partition come in one pass: one post, two records",
         false,
         {Disk("add", "sdc", 0, "Card Reader")},
         {{Disk("change", "sdc", 2 * kMiB), Part("add", "sdc", "sdc1", kMiB)}},
         {"attach /dev/sdc 2097152 disk, /dev/sdc1 1048576 part"}},
        {"two passes: two posts",
         false,
         {},
         {{Disk("add", "sdd", kMiB)}, {Part("add", "sdd", "sdd1", kMiB / 2)}},
         {"attach /dev/sdd 1048576 disk", "attach /dev/sdd1 524288 part"}},
        {"the root-hub simulations are reported by their bus names",
         false,
         {Disk("add", "sde", kMiB, "EHCI Root Hub Simulation"), Disk("add", "sdf", kMiB, "OHCI Root Hub Simulation")},
         {{Disk("remove", "sde", std::nullopt), Disk("remove", "sdf", std::nullopt)}},
         {"detach USBPath=USB 2.0 Bus DevicePath=/dev/sde", "detach USBPath=USB Bus DevicePath=/dev/sdf"}},
        {"a card pulled: one removal per medium, each naming the whole disk",
         false,
         {Disk("add", "sdc", 2 * kMiB, "Cruzer_Blade"), Part("add", "sdc", "sdc1", kMiB)},
         {{Part("remove", "sdc", "sdc1", std::nullopt), Disk("remove", "sdc", std::nullopt)}},
         {"detach USBPath=sdc1 DevicePath=/dev/sdc", "detach USBPath=Cruzer_Blade DevicePath=/dev/sdc"}},
        {"a removal between arrivals keeps the order of events",
         false,
         {Disk("add", "sdb", kMiB)},
         {{Disk("add", "sdg", kMiB), Disk("remove", "sdb", std::nullopt), Disk("add", "sdh", 2 * kMiB),
           Disk("add", "loop4", 0)}},
         {"attach /dev/sdg 1048576 disk", "detach USBPath=sdb DevicePath=/dev/sdb", "attach /dev/sdh 2097152 disk"}},
    };
    for (const NotifierCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeBlockEventSource source;
        source.SetPresent(c.present);
        PolledDescriptorWatcher watcher;
        NotificationCenter centre;
        Recorder recorder(centre);
        USBNotifier notifier(source, watcher, centre, c.showExisting);
        ASSERT_TRUE(notifier.Register());
        EXPECT_TRUE(notifier.IsPrimed());
        for (const auto& pass : c.passes) {
            for (const auto& event : pass) source.Push(event);
            EXPECT_EQ(watcher.Pump(std::chrono::milliseconds(1000)), 1u);
        }
        EXPECT_EQ(watcher.Pump(), 0u);
        EXPECT_EQ(recorder.posts, c.expected);
    }
}

TEST(USBNotifier, DetachNamesAreCutToWholeCharactersOf255Bytes) {
    EXPECT_EQ(DetachName("Cruzer"), "Cruzer");
    EXPECT_EQ(DetachName(std::string(300, 'a')), std::string(255, 'a'));
    // 254 ASCII bytes then "é" (2 bytes): byte 255 would split it.
    const std::string name = std::string(254, 'a') + "\xC3\xA9" + "b";
    EXPECT_EQ(DetachName(name), std::string(254, 'a'));
    EXPECT_EQ(DetachName(std::string(253, 'a') + "\xC3\xA9" + "b"), std::string(253, 'a') + "\xC3\xA9");
}

TEST(USBNotifier, ABurstOfEventsIsPostedOnTheMainThreadWithoutLossOrReordering) {
    FakeBlockEventSource source;
    PolledDescriptorWatcher watcher;
    NotificationCenter centre;
    Recorder recorder(centre);
    USBNotifier notifier(source, watcher, centre, false);
    ASSERT_TRUE(notifier.Register());

    constexpr int kMedia = 50;  // 100 events: each medium comes and goes
    std::thread kernel([&] {
        for (int i = 0; i < kMedia; ++i) {
            const std::string name = "sd" + std::to_string(i);
            source.Push(Disk("add", name, (i + 1) * kMiB));
            source.Push(Disk("remove", name, std::nullopt));
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (recorder.posts.size() < 2 * kMedia && std::chrono::steady_clock::now() < end) {
        watcher.Pump(std::chrono::milliseconds(100));
    }
    kernel.join();
    watcher.Pump();
    ASSERT_EQ(recorder.posts.size(), 2u * kMedia);
    for (int i = 0; i < kMedia; ++i) {
        const std::string name = "sd" + std::to_string(i);
        EXPECT_EQ(recorder.posts[2 * i], "attach /dev/" + name + " " + std::to_string((i + 1) * kMiB) + " disk");
        EXPECT_EQ(recorder.posts[2 * i + 1], "detach USBPath=" + name + " DevicePath=/dev/" + name);
    }
    for (auto id : recorder.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(USBNotifier, TheProcessNotifierReadsShowExistingAndStopsCleanly) {
    auto& defaults = brelvox::foundation::UserDefaults::Standard();
    PolledDescriptorWatcher watcher;
    NotificationCenter centre;
    Recorder recorder(centre);
    for (bool show : {false, true}) {
        SCOPED_TRACE(show);
        recorder.posts.clear();
        ASSERT_TRUE(defaults.SetBool(brelvox::foundation::defaults_key::kShowExisting, show));
        auto source = std::make_unique<FakeBlockEventSource>();
        source->SetPresent({Disk("add", "sda", kMiB)});
        FakeBlockEventSource* fake = source.get();
        ASSERT_TRUE(USBNotifier_init(watcher, std::move(source), &centre));
        EXPECT_EQ(watcher.WatchCount(), 1u);
        EXPECT_EQ(recorder.posts,
                  show ? std::vector<std::string>{"attach /dev/sda 1048576 disk"} : std::vector<std::string>{});
        fake->Push(Disk("add", "sdb", kMiB));
        EXPECT_EQ(watcher.Pump(std::chrono::milliseconds(1000)), 1u);
        USBNotifier_dealloc();
        EXPECT_EQ(watcher.WatchCount(), 0u);  // the watch ended before the source closed
    }
    defaults.Remove(brelvox::foundation::defaults_key::kShowExisting);
    USBNotifier_dealloc();  // twice is harmless
}

// Pumps until a post satisfies done or the limit passes; answers whether one did.
template <typename Done>
bool PumpUntil(PolledDescriptorWatcher& watcher, const Recorder& recorder, Done done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (std::any_of(recorder.posts.begin(), recorder.posts.end(), done)) return true;
        watcher.Pump(std::chrono::milliseconds(100));
    }
    return std::any_of(recorder.posts.begin(), recorder.posts.end(), done);
}

TEST(USBNotifier, ALoopDeviceAttachedAndDetachedIsPostedOnceEach) {
    if (geteuid() != 0) GTEST_SKIP() << "loop devices need root";
    // No other suite's loop device comes or goes while this one is watched.
    testsupport::ExclusiveLoopDevices exclusive;
    testsupport::TempDir dir;
    const auto image = dir / "card.img";
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 8 * kMiB);

    std::string error;
    auto source = brelvox::disks::CreateUdevBlockEventSource(error);
    ASSERT_TRUE(source) << error;
    PolledDescriptorWatcher watcher;
    NotificationCenter centre;
    Recorder recorder(centre);
    USBNotifier notifier(*source, watcher, centre, false);
    ASSERT_TRUE(notifier.Register());

    std::unique_ptr<testsupport::LoopDevice> loop;
    std::string device, record;
    // Other programs' devices may come and go meanwhile: only this device's records count.
    auto arrived = [&](const std::string& post) {
        const bool last = post.size() >= record.size() &&
                          post.compare(post.size() - record.size(), record.size(), record) == 0;
        return post.rfind("attach", 0) == 0 && (last || post.find(" " + record + ",") != std::string::npos);
    };
    auto mentions = [&](const std::string& post) {
        return post.find(device + " ") != std::string::npos || post.find(device + ",") != std::string::npos;
    };
    // A second device when the first one's event is not seen: on a machine busy with other loop
    // devices an event can be lost; a kernel that sends none misses both.
    bool seen = false;
    for (int attempt = 0; attempt < 2 && !seen; ++attempt) {
        loop = std::make_unique<testsupport::LoopDevice>(image, 512, true);  // losetup -f --show
        if (loop->empty()) GTEST_SKIP() << "no loop device could be made";
        device = loop->Device();
        record = device + " " + std::to_string(8 * kMiB) + " disk";
        seen = PumpUntil(watcher, recorder, arrived, std::chrono::seconds(30));
        if (!seen) {
            loop.reset();
            watcher.Pump(std::chrono::milliseconds(500));
            recorder.posts.clear();
        }
    }
    if (!seen) GTEST_SKIP() << "no block-device event arrived within 30 s, twice: the kernel sends none here";

    loop.reset();  // losetup -d
    const std::string detach = "DevicePath=" + device;
    auto left = [&](const std::string& post) {
        return post.rfind("detach", 0) == 0 && post.size() >= detach.size() &&
               post.compare(post.size() - detach.size(), detach.size(), detach) == 0;
    };
    ASSERT_TRUE(PumpUntil(watcher, recorder, left, std::chrono::seconds(30))) << "the detach of " << device;
    EXPECT_EQ(std::count_if(recorder.posts.begin(), recorder.posts.end(), arrived), 1);
    EXPECT_EQ(std::count_if(recorder.posts.begin(), recorder.posts.end(),
                            [&](const std::string& post) { return post.rfind("attach", 0) == 0 && mentions(post); }),
              1)
        << "the device arrived once, with one record";
    EXPECT_EQ(std::count_if(recorder.posts.begin(), recorder.posts.end(), left), 1);
}

size_t OpenDescriptors() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

TEST(USBNotifier, TheAdapterStartsTheKernelMonitorOnTheGivenWatcher) {
    PolledDescriptorWatcher watcher;
    UIControllerAdapter adapter;
    const size_t before = OpenDescriptors();
    ASSERT_TRUE(adapter.USBNotifier_init(watcher));
    EXPECT_GT(OpenDescriptors(), before);
    EXPECT_EQ(watcher.WatchCount(), 1u);
    watcher.Pump();  // events of other programs' devices may wait: they are read without blocking
    adapter.USBNotifier_dealloc();
    EXPECT_EQ(watcher.WatchCount(), 0u);
    EXPECT_EQ(OpenDescriptors(), before) << "the monitor's descriptor is closed";
}

}  // namespace
