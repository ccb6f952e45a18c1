// Mounts and unmounts of volumes for the windows: changes of the mount table, watched on the main loop,
// become "RefreshAttachDevice" (a volume was mounted) and "RefreshDetachDevice" (one was unmounted),
// each with the notifier as sender and no payload. A volume about to be unmounted can be remembered
// for 600 seconds (the eject cache) so that its record outlives the mount. Main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bridge/Dispatch/Clock.h"
#include "platform/disks/MountEvents.h"
#include "platform/foundation/DescriptorWatcher.h"
#include "platform/foundation/NotificationCenter.h"

namespace volume_notifier {

// The icon data of the file at a path, or none. The window kit installs its provider; until then
// every volume is without an icon.
using IconDataProvider = std::function<std::optional<std::string>(const std::string& path)>;
void SetIconDataProvider(IconDataProvider provider);  // null restores the provider that answers none
std::optional<std::string> CopyIconDataForPath(const std::string& path);

class VolumeInfo {
public:
    static VolumeInfo volumeInfoForMountWithPath(const std::string& path);
    static VolumeInfo volumeInfoForUnmountWithPath(const std::string& path);

    const std::string& path() const { return m_path; }
    const std::string& name() const { return m_name; }
    const std::optional<std::string>& iconData() const { return m_iconData; }
    // "{name = NAME; path = PATH; iconData = <yes>;}", the icon entry only when there is icon data.
    std::string description() const;

private:
    explicit VolumeInfo(const std::string& path);

    std::string m_path;
    std::string m_name;  // the last component of the path ("/" for the root)
    std::optional<std::string> m_iconData;
};

// The sender of both notifications.
const void* Object();

class VolumeNotifier {
public:
    static constexpr std::chrono::seconds kEjectCacheLifetime{600};

    VolumeNotifier(brelvox::disks::IMountSource& source, brelvox::foundation::IDescriptorWatcher& watcher,
                   brelvox::foundation::NotificationCenter& centre);
    ~VolumeNotifier();
    VolumeNotifier(const VolumeNotifier&) = delete;
    VolumeNotifier& operator=(const VolumeNotifier&) = delete;

    // Watches the source's descriptor and takes the volumes mounted now (not announced); answers their
    // records. False when the descriptor cannot be watched.
    bool Register(std::vector<VolumeInfo>* existing = nullptr);
    // Reads the table and announces its changes: unmounts first, then mounts.
    void OnReadable();

    void volumeDidMount(const std::string& path);
    // Remembers the volume's unmount record for kEjectCacheLifetime; an earlier entry for the path is
    // replaced and its lifetime starts again.
    void volumeWillUnmount(const std::string& path);
    void volumeDidUnmount(const std::string& path);
    // Forgets the cache entry of the path (its lifetime ended).
    void staleEjectItemTimerFired(const std::string& path);

    // The cache entries whose lifetime ended on the bridge clock are forgotten first.
    bool IsInEjectCache(const std::string& path);
    size_t EjectCacheSize();
    std::optional<VolumeInfo> CachedVolumeInfo(const std::string& path);

private:
    struct Cached {
        VolumeInfo info;
        IClock::TimePoint deadline;
    };
    void FireDueTimers();

    brelvox::disks::IMountSource& m_source;
    brelvox::foundation::IDescriptorWatcher& m_watcher;
    brelvox::foundation::NotificationCenter& m_centre;
    std::uint64_t m_watch = 0;
    brelvox::disks::MountTableTracker m_tracker;
    std::map<std::string, Cached> m_ejectCache;
};

}  // namespace volume_notifier

// The process-wide notifier. Without a source the mount table of this process is watched; the watcher
// must outlive the notifier. With the "ShowExisting" preference set, the volumes mounted now are
// written to the log. False (reason logged) when the table cannot be watched; calling it again
// replaces the notifier.
bool VolumeNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher,
                         std::unique_ptr<brelvox::disks::IMountSource> source = nullptr,
                         brelvox::foundation::NotificationCenter* centre = nullptr);
// The running notifier, or null.
volume_notifier::VolumeNotifier* RunningVolumeNotifier();
// Stops the watch, forgets the eject cache and closes the source; safe when nothing was started.
void VolumeNotifier_dealloc();
