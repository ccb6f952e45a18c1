#include "bridge/Device/USBNotifier.h"

#include <cstdio>

#include "bridge/UIController/UINotifications.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/UserDefaults.h"

using brelvox::disks::BlockChange;

namespace usb_notifier {

namespace {
constexpr size_t kMaxNameBytes = 255;
}

const void* Object() {
    static const char tag = 0;
    return &tag;
}

std::string DetachName(const std::string& registryName) {
    if (registryName == "OHCI Root Hub Simulation") return brelvox::foundation::Localized("USB Bus");
    if (registryName == "EHCI Root Hub Simulation") return brelvox::foundation::Localized("USB 2.0 Bus");
    if (registryName.size() <= kMaxNameBytes) return registryName;
    size_t end = kMaxNameBytes;
    // Step back over continuation bytes so no character is cut in two.
    while (end > 0 && (static_cast<unsigned char>(registryName[end]) & 0xC0) == 0x80) --end;
    return registryName.substr(0, end);
}

USBNotifier::USBNotifier(brelvox::disks::IBlockEventSource& source, brelvox::foundation::IDescriptorWatcher& watcher,
                         brelvox::foundation::NotificationCenter& centre, bool showExisting)
    : m_source(source), m_watcher(watcher), m_centre(centre), m_showExisting(showExisting) {}

USBNotifier::~USBNotifier() {
    if (m_watch != 0) m_watcher.Unwatch(m_watch);
}

bool USBNotifier::Register() {
    if (m_watch == 0) m_watch = m_watcher.Watch(m_source.Descriptor(), [this] { OnReadable(); });
    if (m_watch == 0) return false;
    // The source listens before it lists: a medium that comes meanwhile is listed, and its event is
    // then a duplicate the tracker drops.
    const auto present = m_tracker.Prime(m_source.Present());
    if (m_showExisting) {
        AttachRecords records;
        for (const BlockChange& medium : present) {
            records.push_back({medium.VolumePath(), static_cast<std::int64_t>(medium.sizeBytes), medium.isDisk});
        }
        PostArrivals(records);
    }
    m_primed = true;
    return true;
}

void USBNotifier::OnReadable() {
    // Arrivals read together go out together (a card's disk and its partitions); a removal between
    // them ends the batch so the windows see the changes in the order they happened.
    AttachRecords arrivals;
    for (const auto& event : m_source.Receive()) {
        auto change = m_tracker.Take(event);
        if (!change) continue;
        if (change->kind == BlockChange::Kind::Arrival) {
            arrivals.push_back({change->VolumePath(), static_cast<std::int64_t>(change->sizeBytes), change->isDisk});
        } else {
            PostArrivals(arrivals);
            PostRemoval(*change);
        }
    }
    PostArrivals(arrivals);
}

void USBNotifier::PostArrivals(AttachRecords& records) {
    if (records.empty()) return;
    AttachRecords posted;
    posted.swap(records);
    m_centre.Post(ui_notification::kRefreshAttachDevice, Object(), std::move(posted));
}

void USBNotifier::PostRemoval(const BlockChange& change) {
    m_centre.Post(ui_notification::kRefreshDetachDevice, Object(),
                  DetachRecord{DetachName(change.registryName), change.DevicePath()});
}

}  // namespace usb_notifier

namespace {

struct Running {
    std::unique_ptr<brelvox::disks::IBlockEventSource> source;
    std::unique_ptr<usb_notifier::USBNotifier> notifier;
};
// Main thread only, like every handler here.
Running g_running;

}  // namespace

bool USBNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher,
                      std::unique_ptr<brelvox::disks::IBlockEventSource> source,
                      brelvox::foundation::NotificationCenter* centre) {
    USBNotifier_dealloc();
    if (!source) {
        std::string error;
        source = brelvox::disks::CreateUdevBlockEventSource(error);
        if (!source) {
            std::fprintf(stderr, "media notifications unavailable: %s\n", error.c_str());
            return false;
        }
    }
    const bool showExisting =
        brelvox::foundation::UserDefaults::Standard().GetBool(brelvox::foundation::defaults_key::kShowExisting, false);
    auto notifier = std::make_unique<usb_notifier::USBNotifier>(
        *source, watcher, centre ? *centre : brelvox::foundation::NotificationCenter::Default(), showExisting);
    if (!notifier->Register()) {
        std::fprintf(stderr, "media notifications unavailable: the device-event descriptor cannot be watched\n");
        return false;
    }
    g_running.source = std::move(source);
    g_running.notifier = std::move(notifier);
    return true;
}

void USBNotifier_dealloc() {
    // The notifier ends its watch before the source closes the descriptor.
    g_running.notifier.reset();
    g_running.source.reset();
}
