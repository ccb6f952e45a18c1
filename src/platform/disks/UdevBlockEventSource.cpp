// The libudev monitor behind the block-event source.
#include <libudev.h>
#include <unistd.h>

#include "platform/disks/BlockEvents.h"

namespace brelvox::disks {
namespace {

// The kernel's netlink buffer is small; a burst of events (a hub with many cards) must not overflow it.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

std::string Text(const char* value) {
    return value ? std::string(value) : std::string();
}

BlockUevent ReadEvent(udev_device* device, const char* action) {
    BlockUevent event;
    event.action = Text(action);
    event.sysname = Text(udev_device_get_sysname(device));
    event.devtype = Text(udev_device_get_devtype(device));
    event.devpath = Text(udev_device_get_devpath(device));
    if (event.action != "remove") {
        if (const char* size = udev_device_get_sysattr_value(device, "size")) event.sizeBytes = ParseSysfsSize(size);
    }
    event.model = Text(udev_device_get_property_value(device, "ID_MODEL"));
    return event;
}

class CUdevBlockEventSource final : public IBlockEventSource {
public:
    CUdevBlockEventSource(udev* context, udev_monitor* monitor) : m_udev(context), m_monitor(monitor) {}
    ~CUdevBlockEventSource() override {
        udev_monitor_unref(m_monitor);
        udev_unref(m_udev);
    }
    CUdevBlockEventSource(const CUdevBlockEventSource&) = delete;
    CUdevBlockEventSource& operator=(const CUdevBlockEventSource&) = delete;

    int Descriptor() const override { return udev_monitor_get_fd(m_monitor); }

    std::vector<BlockUevent> Receive() override {
        std::vector<BlockUevent> events;
        // The socket does not block: the loop ends when no event waits.
        while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
            const char* subsystem = udev_device_get_subsystem(device);
            if (subsystem && std::string_view(subsystem) == "block") {
                events.push_back(ReadEvent(device, udev_device_get_action(device)));
            }
            udev_device_unref(device);
        }
        return events;
    }

    std::vector<BlockUevent> Present() override {
        std::vector<BlockUevent> present;
        udev_enumerate* enumerate = udev_enumerate_new(m_udev);
        if (!enumerate) return present;
        udev_enumerate_add_match_subsystem(enumerate, "block");
        if (udev_enumerate_scan_devices(enumerate) >= 0) {
            udev_list_entry* entry = nullptr;
            udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
                udev_device* device = udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry));
                if (!device) continue;  // gone meanwhile
                present.push_back(ReadEvent(device, "add"));
                udev_device_unref(device);
            }
        }
        udev_enumerate_unref(enumerate);
        return present;
    }

private:
    udev* m_udev;
    udev_monitor* m_monitor;
};

}  // namespace

std::unique_ptr<IBlockEventSource> CreateUdevBlockEventSource(std::string& error) {
    udev* context = udev_new();
    if (!context) {
        error = "cannot start libudev";
        return nullptr;
    }
    // libudev delivers nothing on the "udev" group when no udev daemon runs (containers): the kernel's
    // own events are taken then. They carry no ID_MODEL; the kernel name stands in for it.
    const char* group = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, group);
    if (!monitor) {
        udev_unref(context);
        error = std::string("cannot listen to the ") + group + " block-device events";
        return nullptr;
    }
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        udev_unref(context);
        error = std::string("cannot receive the ") + group + " block-device events";
        return nullptr;
    }
    // Best effort: raising the buffer needs privileges the program may lack.
    (void)udev_monitor_set_receive_buffer_size(monitor, kReceiveBufferBytes);
    return std::make_unique<CUdevBlockEventSource>(context, monitor);
}

}  // namespace brelvox::disks
