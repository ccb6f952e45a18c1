#include "bridge/Device/VolumeNotifier.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "bridge/UIController/UINotifications.h"
#include "platform/foundation/UserDefaults.h"

using brelvox::disks::MountEntry;

namespace volume_notifier {

namespace {

IconDataProvider& Provider() {
    static IconDataProvider provider;
    return provider;
}

}  // namespace

void SetIconDataProvider(IconDataProvider provider) { Provider() = std::move(provider); }

std::optional<std::string> CopyIconDataForPath(const std::string& path) {
    if (!Provider() || path.empty()) return std::nullopt;
    return Provider()(path);
}

VolumeInfo::VolumeInfo(const std::string& path) : m_path(path) {
    // The last component, a trailing "/" ignored; the root keeps its path as its name.
    const std::filesystem::path normal = std::filesystem::path(path + "/").lexically_normal();
    m_name = normal.parent_path().filename().string();
    if (m_name.empty()) m_name = path;
}

VolumeInfo VolumeInfo::volumeInfoForMountWithPath(const std::string& path) {
    VolumeInfo info(path);
    info.m_iconData = CopyIconDataForPath(path);
    return info;
}

VolumeInfo VolumeInfo::volumeInfoForUnmountWithPath(const std::string& path) {
    // The eject badge is drawn by the window kit over the volume's icon; the data handed on here is
    // the volume's own icon.
    VolumeInfo info(path);
    info.m_iconData = CopyIconDataForPath(path);
    return info;
}

std::string VolumeInfo::description() const {
    std::string text = "{name = " + m_name + "; path = " + m_path + ";";
    if (m_iconData) text += " iconData = <yes>;";
    return text + "}";
}

const void* Object() {
    static const char tag = 0;
    return &tag;
}

VolumeNotifier::VolumeNotifier(brelvox::disks::IMountSource& source, brelvox::foundation::IDescriptorWatcher& watcher,
                               brelvox::foundation::NotificationCenter& centre)
    : m_source(source), m_watcher(watcher), m_centre(centre) {}

VolumeNotifier::~VolumeNotifier() {
    if (m_watch != 0) m_watcher.Unwatch(m_watch);
}

bool VolumeNotifier::Register(std::vector<VolumeInfo>* existing) {
    if (m_watch == 0) m_watch = m_watcher.Watch(m_source.Descriptor(), [this] { OnReadable(); });
    if (m_watch == 0) return false;
    const auto table = m_source.Mounts();
    m_tracker.Prime(table);
    if (existing) {
        for (const MountEntry& entry : table) {
            if (brelvox::disks::IsBlockDeviceMount(entry)) {
                existing->push_back(VolumeInfo::volumeInfoForMountWithPath(entry.mountPoint));
            }
        }
    }
    return true;
}

void VolumeNotifier::OnReadable() {
    FireDueTimers();
    const auto changes = m_tracker.Take(m_source.Mounts());
    for (const MountEntry& entry : changes.unmounted) {
        if (brelvox::disks::IsBlockDeviceMount(entry)) volumeDidUnmount(entry.mountPoint);
    }
    for (const MountEntry& entry : changes.mounted) {
        if (brelvox::disks::IsBlockDeviceMount(entry)) volumeDidMount(entry.mountPoint);
    }
}

void VolumeNotifier::volumeDidMount(const std::string&) {
    m_centre.Post(ui_notification::kRefreshAttachDevice, Object());
}

void VolumeNotifier::volumeWillUnmount(const std::string& path) {
    if (path.empty()) return;
    FireDueTimers();
    // Storing under the path replaces an earlier entry together with its deadline.
    m_ejectCache.insert_or_assign(path, Cached{VolumeInfo::volumeInfoForUnmountWithPath(path),
                                               BridgeClock().Now() + kEjectCacheLifetime});
}

void VolumeNotifier::volumeDidUnmount(const std::string& path) {
    FireDueTimers();
    m_centre.Post(ui_notification::kRefreshDetachDevice, Object());
    m_ejectCache.erase(path);
}

void VolumeNotifier::staleEjectItemTimerFired(const std::string& path) { m_ejectCache.erase(path); }

void VolumeNotifier::FireDueTimers() {
    const auto now = BridgeClock().Now();
    std::vector<std::string> due;
    for (const auto& [path, cached] : m_ejectCache) {
        if (cached.deadline <= now) due.push_back(path);
    }
    for (const std::string& path : due) staleEjectItemTimerFired(path);
}

bool VolumeNotifier::IsInEjectCache(const std::string& path) {
    FireDueTimers();
    return m_ejectCache.count(path) != 0;
}

size_t VolumeNotifier::EjectCacheSize() {
    FireDueTimers();
    return m_ejectCache.size();
}

std::optional<VolumeInfo> VolumeNotifier::CachedVolumeInfo(const std::string& path) {
    FireDueTimers();
    const auto found = m_ejectCache.find(path);
    if (found == m_ejectCache.end()) return std::nullopt;
    return found->second.info;
}

}  // namespace volume_notifier

namespace {

struct Running {
    std::unique_ptr<brelvox::disks::IMountSource> source;
    std::unique_ptr<volume_notifier::VolumeNotifier> notifier;
};
// Main thread only.
Running g_volumes;

}  // namespace

bool VolumeNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher,
                         std::unique_ptr<brelvox::disks::IMountSource> source,
                         brelvox::foundation::NotificationCenter* centre) {
    VolumeNotifier_dealloc();
    if (!source) {
        std::string error;
        source = brelvox::disks::CreateMountInfoSource(error);
        if (!source) {
            std::fprintf(stderr, "volume notifications unavailable: %s\n", error.c_str());
            return false;
        }
    }
    auto notifier = std::make_unique<volume_notifier::VolumeNotifier>(
        *source, watcher, centre ? *centre : brelvox::foundation::NotificationCenter::Default());
    std::vector<volume_notifier::VolumeInfo> existing;
    if (!notifier->Register(&existing)) {
        std::fprintf(stderr, "volume notifications unavailable: the mount table cannot be watched\n");
        return false;
    }
    if (brelvox::foundation::UserDefaults::Standard().GetBool(brelvox::foundation::defaults_key::kShowExisting,
                                                              false)) {
        for (const auto& info : existing) std::fprintf(stderr, "----%s\n", info.description().c_str());
    }
    g_volumes.source = std::move(source);
    g_volumes.notifier = std::move(notifier);
    return true;
}

volume_notifier::VolumeNotifier* RunningVolumeNotifier() { return g_volumes.notifier.get(); }

void VolumeNotifier_dealloc() {
    g_volumes.notifier.reset();
    g_volumes.source.reset();
}
