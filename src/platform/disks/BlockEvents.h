// Arrival and removal of block devices: a source of the kernel's block-device events behind an
// interface (a libudev monitor in the program, a fake in tests), and a tracker that turns those events
// into arrivals and removals of media.
//
// The kernel announces a medium in more than one way: an "add" of a device that already holds media,
// or a "change" that gives an existing device a size (a card put in a reader, a loop device attached).
// It withdraws one by a "remove" or by a "change" to size 0. The tracker remembers the size of every
// device it has seen so that each medium arrives once and leaves once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brelvox::disks {

// One event of the "block" subsystem as the kernel (or udev) sent it.
struct BlockUevent {
    std::string action;                      // "add", "remove", "change", ...
    std::string sysname;                     // kernel name: "sdb", "sdb1", "loop3"
    std::string devtype;                     // "disk" or "partition"
    std::string devpath;                     // "/devices/.../block/sdb/sdb1": a partition's folder lies in its disk's
    std::optional<std::uint64_t> sizeBytes;  // sysfs "size" x 512; none when it cannot be read
    std::string model;                       // udev's ID_MODEL, empty when there is none
};

// A medium that came or went.
struct BlockChange {
    enum class Kind { Arrival, Removal };
    Kind kind = Kind::Arrival;
    std::string name;             // kernel name of the device
    std::string wholeDisk;        // kernel name of its whole disk (its own name for a disk)
    bool isDisk = false;          // a whole disk, not a partition
    std::uint64_t sizeBytes = 0;  // arrivals: the size; removals: the last size seen (0 when never seen)
    std::string registryName;     // ID_MODEL, else the kernel name

    std::string VolumePath() const { return "/dev/" + name; }
    std::string DevicePath() const { return "/dev/" + wholeDisk; }
};

// A source of block-device events. Not thread-safe: one thread (the main loop) uses it.
class IBlockEventSource {
public:
    virtual ~IBlockEventSource() = default;
    // A descriptor that becomes readable while events wait; valid for the source's whole life.
    virtual int Descriptor() const = 0;
    // The events that wait now, in the order they were sent; never blocks.
    virtual std::vector<BlockUevent> Receive() = 0;
    // The block devices present now, as "add" events, each disk before its partitions. The source
    // listens before it lists, so a device that comes meanwhile is listed and also announced.
    virtual std::vector<BlockUevent> Present() = 0;
};

// The libudev monitor of the "block" subsystem: udev's events when the udev daemon runs (they carry
// ID_MODEL), else the kernel's own. Nothing, with the reason in error, when no monitor can be made.
std::unique_ptr<IBlockEventSource> CreateUdevBlockEventSource(std::string& error);

// Turns events into arrivals and removals. Pure bookkeeping: callable on any list of events.
class BlockEventTracker {
public:
    // Takes the devices present at start; answers the media among them (devices of a non-zero size),
    // which the caller reports only when asked to show existing media.
    std::vector<BlockChange> Prime(const std::vector<BlockUevent>& present);
    // The arrival or removal an event makes, if any.
    std::optional<BlockChange> Take(const BlockUevent& event);
    // How many devices are remembered (devices of size 0 included).
    size_t KnownCount() const { return m_known.size(); }

private:
    struct Known {
        std::uint64_t sizeBytes = 0;
        std::string wholeDisk;
        bool isDisk = false;
        std::string registryName;
    };
    BlockChange Change(BlockChange::Kind kind, const std::string& name, const Known& known) const;

    std::map<std::string, Known> m_known;
};

// Helpers, public for tests.
// The kernel name of the whole disk of a device: a partition's is the folder above it in its devpath,
// a disk's (or a device whose devpath names no folder above) its own.
std::string WholeDiskOf(std::string_view sysname, std::string_view devtype, std::string_view devpath);
// A sysfs "size" text (512-byte units, a decimal number and a line end) in bytes; none when the text
// is not a number or the bytes do not fit 64 bits.
std::optional<std::uint64_t> ParseSysfsSize(std::string_view text);

}  // namespace brelvox::disks
