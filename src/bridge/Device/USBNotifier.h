// Media arrival and removal for the windows: block-device events, watched on the main loop, become
// "RefreshAttachDevice" (one post per batch of arrivals, with their records) and "RefreshDetachDevice"
// (one post per removed medium). The records travel in the notification's userInfo: AttachRecords
// and DetachRecord. Everything here runs on the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/disks/BlockEvents.h"
#include "platform/foundation/DescriptorWatcher.h"
#include "platform/foundation/NotificationCenter.h"

namespace usb_notifier {

struct AttachRecord {
    std::string VolumePath;       // "/dev/" + kernel name
    std::int64_t VolumeSize = 0;  // bytes
    bool isDisk = false;          // a whole disk, not a partition
};
using AttachRecords = std::vector<AttachRecord>;

struct DetachRecord {
    std::string USBPath;     // the medium's registry name (udev's model, else its kernel name)
    std::string DevicePath;  // "/dev/" + kernel name of the removed medium's whole disk
};

// The sender of both notifications.
const void* Object();

// The name a removed medium is reported under: the two root-hub simulations become the localised
// bus names; any name is cut to 255 bytes without splitting a character.
std::string DetachName(const std::string& registryName);

class USBNotifier {
public:
    // showExisting: the media present at registration are announced too.
    USBNotifier(brelvox::disks::IBlockEventSource& source, brelvox::foundation::IDescriptorWatcher& watcher,
                brelvox::foundation::NotificationCenter& centre, bool showExisting);
    ~USBNotifier();
    USBNotifier(const USBNotifier&) = delete;
    USBNotifier& operator=(const USBNotifier&) = delete;

    // Watches the source's descriptor, then takes the media present (the priming pass). False when the
    // descriptor cannot be watched: nothing will be announced.
    bool Register();
    bool IsPrimed() const { return m_primed; }
    // Reads the waiting events and posts what they change, in their order.
    void OnReadable();

private:
    void PostArrivals(AttachRecords& records);
    void PostRemoval(const brelvox::disks::BlockChange& change);

    brelvox::disks::IBlockEventSource& m_source;
    brelvox::foundation::IDescriptorWatcher& m_watcher;
    brelvox::foundation::NotificationCenter& m_centre;
    bool m_showExisting;
    bool m_primed = false;
    std::uint64_t m_watch = 0;
    brelvox::disks::BlockEventTracker m_tracker;
};

}  // namespace usb_notifier

// The process-wide notifier, started by the application at launch on the main thread. Without a
// source the libudev monitor is made; the watcher must outlive the notifier. The "ShowExisting"
// preference of the standard user defaults says whether media present now are announced. False (with
// the reason logged) when no monitor can be made or watched; calling it again replaces the notifier.
bool USBNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher,
                      std::unique_ptr<brelvox::disks::IBlockEventSource> source = nullptr,
                      brelvox::foundation::NotificationCenter* centre = nullptr);
// Stops the watch and closes the monitor; safe when nothing was started.
void USBNotifier_dealloc();
