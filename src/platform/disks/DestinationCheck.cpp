#include "platform/disks/DestinationCheck.h"

#include <sys/sysmacros.h>

#include <charconv>
#include <fstream>
#include <set>
#include <system_error>

namespace brelvox::disks {

namespace fs = std::filesystem;

namespace {

// Enough for any stack of mapped and loop devices; it also ends a cycle in a hostile sysfs tree.
constexpr size_t kMaxDevices = 64;

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

// "8:17" -> makedev(8, 17).
std::optional<dev_t> ParseDeviceNumber(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    unsigned major = 0, minor = 0;
    const char* end = text.data() + text.size();
    auto a = std::from_chars(text.data(), text.data() + colon, major);
    auto b = std::from_chars(text.data() + colon + 1, end, minor);
    if (a.ec != std::errc() || a.ptr != text.data() + colon || b.ec != std::errc() || b.ptr != end) return std::nullopt;
    return makedev(major, minor);
}

std::string DeviceText(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

}  // namespace

fs::path BlockTopology::Folder(dev_t device) const {
    return m_sys / "dev" / "block" / DeviceText(device);
}

std::optional<dev_t> BlockTopology::WholeDiskOf(dev_t device) const {
    const fs::path folder = Folder(device);
    std::error_code ec;
    if (!fs::exists(folder, ec)) return std::nullopt;
    if (!fs::exists(folder / "partition", ec)) return device;
    // A partition's sysfs folder lies inside its disk's folder.
    const fs::path real = fs::canonical(folder, ec);
    if (ec) return std::nullopt;
    return ParseDeviceNumber(FirstLine(real.parent_path() / "dev"));
}

std::vector<dev_t> BlockTopology::Linked(dev_t device, const char* list) const {
    std::vector<dev_t> devices;
    std::error_code ec;
    for (fs::directory_iterator it(Folder(device) / list, ec), end; !ec && it != end; it.increment(ec)) {
        if (auto number = ParseDeviceNumber(FirstLine(it->path() / "dev"))) devices.push_back(*number);
    }
    return devices;
}

std::vector<dev_t> BlockTopology::SlavesOf(dev_t device) const {
    return Linked(device, "slaves");
}

std::string BlockTopology::LoopBackingFile(dev_t device) const {
    return FirstLine(Folder(device) / "loop" / "backing_file");
}

std::vector<dev_t> BlockTopology::PartitionsOf(dev_t device) const {
    std::vector<dev_t> partitions;
    std::error_code ec;
    const fs::path folder = Folder(device);
    if (fs::exists(folder / "partition", ec)) return partitions;
    // A disk's partitions are the folders inside its own that have a "partition" file.
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!fs::exists(it->path() / "partition", ec)) continue;
        if (auto number = ParseDeviceNumber(FirstLine(it->path() / "dev"))) partitions.push_back(*number);
    }
    return partitions;
}

std::vector<dev_t> BlockTopology::HoldersOf(dev_t device) const {
    return Linked(device, "holders");
}

std::string DestinationProblem(const FileIdentity& source, const Destination& destination,
                               const BlockTopology& topology) {
    const std::string onSource = "refusing to write to " + destination.name + ": it lies on the scanned source";
    if (destination.itself && destination.itself->SameFile(source))
        return "refusing to write to " + destination.name + ": it is the scanned source";
    if (destination.itself && destination.itself->IsBlockDevice())
        return "refusing to write to " + destination.name + ": it is a block device";

    const bool sourceIsDisk = S_ISBLK(source.mode);
    const dev_t scanned = source.rdev;
    const dev_t scannedDisk = sourceIsDisk ? topology.WholeDiskOf(scanned).value_or(scanned) : 0;
    if (sourceIsDisk && destination.itself) {
        // A loop device reads its image file: writing that file writes what is scanned.
        for (dev_t device : {scanned, scannedDisk}) {
            const std::string backing = topology.LoopBackingFile(device);
            struct stat st {};
            if (!backing.empty() && ::stat(backing.c_str(), &st) == 0 &&
                destination.itself->SameFile(FileIdentity::Of(st)))
                return "refusing to write to " + destination.name + ": it is the image of the scanned loop device";
        }
    }

    // Every device the destination's bytes reach: its file system's device, what a mapped device is
    // built on, and the devices holding the images of loop devices.
    std::vector<dev_t> pending{destination.fileSystem};
    std::set<dev_t> seen;
    while (!pending.empty() && seen.size() < kMaxDevices) {
        const dev_t device = pending.back();
        pending.pop_back();
        if (!seen.insert(device).second) continue;
        if (sourceIsDisk) {
            const dev_t disk = topology.WholeDiskOf(device).value_or(device);
            if (device == scanned) return onSource;
            // A scanned whole disk holds all its partitions; a scanned partition lies inside its disk.
            if (scannedDisk == scanned && disk == scanned) return onSource;
            if (scannedDisk != scanned && device == scannedDisk) return onSource;
        }
        for (dev_t slave : topology.SlavesOf(device)) pending.push_back(slave);
        const std::string backing = topology.LoopBackingFile(device);
        struct stat st {};
        if (backing.empty() || ::stat(backing.c_str(), &st) != 0) continue;
        if (FileIdentity::Of(st).SameFile(source)) return onSource;
        pending.push_back(st.st_dev);
    }
    return {};
}

std::optional<Destination> LocateDestination(const std::string& path) {
    Destination destination{path, std::nullopt, 0};
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        destination.itself = FileIdentity::Of(st);
        destination.fileSystem = st.st_dev;
        return destination;
    }
    if (::lstat(path.c_str(), &st) == 0) return std::nullopt;  // a link to nowhere
    std::error_code ec;
    fs::path folder = fs::absolute(path, ec).parent_path();
    for (; !folder.empty(); folder = folder.parent_path()) {
        if (::stat(folder.c_str(), &st) == 0) {
            destination.fileSystem = st.st_dev;
            return destination;
        }
        if (folder == folder.root_path()) break;
    }
    return std::nullopt;
}

}  // namespace brelvox::disks
