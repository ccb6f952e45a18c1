#include "platform/disks/DestinationCheck.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

#include "platform/disks/KernelDisks.h"

namespace brelvox::disks {

namespace fs = std::filesystem;

namespace {

// Enough for any stack of partitions, mapped and loop devices and mounts; it also ends a cycle in a
// hostile sysfs or mount table.
constexpr size_t kMaxExtents = 128;
constexpr std::uint64_t kSysfsSector = 512;

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

std::optional<std::uint64_t> Number(const std::string& text) {
    std::uint64_t value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// "8:17" -> makedev(8, 17).
std::optional<dev_t> ParseDeviceNumber(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const auto major = Number(text.substr(0, colon));
    const auto minor = Number(text.substr(colon + 1));
    if (!major || !minor || *major > UINT32_MAX || *minor > UINT32_MAX) return std::nullopt;
    return makedev(unsigned(*major), unsigned(*minor));
}

std::string DeviceText(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The first mount of a file system of this device number that names a path as its source, else the
// first mount of it at all.
std::optional<MountEntry> MountOf(const fs::path& proc, dev_t device) {
    KernelRoots roots;
    roots.proc = proc;
    std::optional<MountEntry> first;
    for (MountEntry& mount : KernelDisks(roots).Mounts()) {
        if (makedev(mount.major, mount.minor) != device) continue;
        if (!mount.source.empty() && mount.source[0] == '/') return std::move(mount);
        if (!first) first = std::move(mount);
    }
    return first;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? Extent::kToTheEnd : sum;
}

// The part [offset, offset + length) of a window [0, size) placed at base: (base + offset, the length
// that fits); nothing when the part begins past the window.
std::optional<std::pair<std::uint64_t, std::uint64_t>> Place(std::uint64_t offset, std::uint64_t length,
                                                              std::uint64_t base, std::uint64_t size) {
    if (offset >= size) return std::nullopt;
    const std::uint64_t fits = size == Extent::kToTheEnd ? length : std::min(length, size - offset);
    const std::uint64_t start = SaturatingAdd(base, offset);
    return std::make_pair(start, fits == Extent::kToTheEnd ? fits : std::min(fits, Extent::kToTheEnd - start));
}

// Follows one side down to every range beneath it. Writes at a file land somewhere on its file
// system's device, so the destination's side also descends from a file to that device; a scan of a
// file reads only the file.
class Walk {
public:
    Walk(const BlockTopology& topology, bool writes) : m_topology(topology), m_writes(writes) {}

    void Device(dev_t device, std::uint64_t offset, std::uint64_t length, const std::string& via) {
        const std::string name = Chain(via, m_topology.NameOf(device));
        if (!Add(Extent{false, device, 0, offset, length, name})) return;
        if (!m_topology.Knows(device)) {
            // No block device of the kernel's (FUSE, btrfs): whatever the mount names as its source.
            const std::string source = m_topology.MountSource(device);
            struct stat st {};
            if (!source.empty() && ::stat(source.c_str(), &st) == 0) Reached(st, 0, Extent::kToTheEnd, name, source);
            return;
        }
        if (auto range = m_topology.PartitionRange(device)) {
            if (auto disk = m_topology.WholeDiskOf(device); disk && *disk != device) {
                if (auto placed = Place(offset, length, range->first, range->second))
                    Device(*disk, placed->first, placed->second, name);
            }
        }
        // How a mapped device places its bytes on the ones beneath is not in sysfs: all of each.
        for (dev_t slave : m_topology.SlavesOf(device)) Device(slave, 0, Extent::kToTheEnd, name);
        const std::string backing = m_topology.LoopBackingFile(device);
        struct stat st {};
        if (backing.empty() || ::stat(backing.c_str(), &st) != 0) return;
        const auto [loopOffset, limit] = m_topology.LoopRange(device);
        if (auto placed = Place(offset, length, loopOffset, limit)) Reached(st, placed->first, placed->second, name, backing);
    }

    void File(const struct stat& st, std::uint64_t offset, std::uint64_t length, const std::string& name) {
        if (!Add(Extent{true, st.st_dev, st.st_ino, offset, length, name})) return;
        if (m_writes) Device(st.st_dev, 0, Extent::kToTheEnd, name);
    }

    std::vector<Extent> Take() { return std::move(m_extents); }

private:
    // A path found beneath: a block device or a file.
    void Reached(const struct stat& st, std::uint64_t offset, std::uint64_t length, const std::string& via,
                 const std::string& path) {
        if (S_ISBLK(st.st_mode)) {
            Device(st.st_rdev, offset, length, via);
        } else if (S_ISREG(st.st_mode)) {
            File(st, offset, length, Chain(via, path));
        }
    }

    static std::string Chain(const std::string& via, const std::string& name) {
        return via.empty() ? name : via + " > " + name;
    }

    bool Add(Extent extent) {
        if (extent.length == 0 || m_extents.size() >= kMaxExtents) return false;
        for (const Extent& known : m_extents) {
            if (known.file == extent.file && known.device == extent.device && known.inode == extent.inode &&
                known.offset == extent.offset && known.length == extent.length)
                return false;
        }
        m_extents.push_back(std::move(extent));
        return true;
    }

    const BlockTopology& m_topology;
    const bool m_writes;
    std::vector<Extent> m_extents;
};

}  // namespace

bool Extent::Overlaps(const Extent& other) const {
    if (file != other.file || device != other.device || (file && inode != other.inode)) return false;
    const std::uint64_t end = SaturatingAdd(offset, length);
    const std::uint64_t otherEnd = SaturatingAdd(other.offset, other.length);
    return offset < otherEnd && other.offset < end;
}

fs::path BlockTopology::Folder(dev_t device) const {
    return m_sys / "dev" / "block" / DeviceText(device);
}

bool BlockTopology::Knows(dev_t device) const {
    std::error_code ec;
    return fs::exists(Folder(device), ec);
}

std::string BlockTopology::NameOf(dev_t device) const {
    std::error_code ec;
    const fs::path real = fs::canonical(Folder(device), ec);
    if (!ec) return real.filename().string();
    if (auto mount = MountOf(m_proc, device)) return mount->fsType + " at " + mount->mountPoint;
    return DeviceText(device);
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

std::optional<std::pair<std::uint64_t, std::uint64_t>> BlockTopology::PartitionRange(dev_t device) const {
    const fs::path folder = Folder(device);
    std::error_code ec;
    if (!fs::exists(folder / "partition", ec)) return std::nullopt;
    // Sysfs counts both in 512-byte units whatever the sector size. Unknown: the whole disk.
    const auto start = Number(FirstLine(folder / "start"));
    const auto size = Number(FirstLine(folder / "size"));
    if (!start || !size || *start > Extent::kToTheEnd / kSysfsSector || *size > Extent::kToTheEnd / kSysfsSector)
        return std::make_pair(std::uint64_t(0), Extent::kToTheEnd);
    return std::make_pair(*start * kSysfsSector, *size * kSysfsSector);
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

std::pair<std::uint64_t, std::uint64_t> BlockTopology::LoopRange(dev_t device) const {
    const fs::path loop = Folder(device) / "loop";
    const std::uint64_t offset = Number(FirstLine(loop / "offset")).value_or(0);
    const std::uint64_t limit = Number(FirstLine(loop / "sizelimit")).value_or(0);
    return {offset, limit == 0 ? Extent::kToTheEnd : limit};
}

std::string BlockTopology::MountSource(dev_t device) const {
    auto mount = MountOf(m_proc, device);
    return mount && !mount->source.empty() && mount->source[0] == '/' ? mount->source : std::string();
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

std::vector<Extent> ScannedExtents(const FileIdentity& source, const BlockTopology& topology) {
    Walk walk(topology, false);
    if (S_ISBLK(source.mode)) {
        walk.Device(source.rdev, 0, Extent::kToTheEnd, "");
    } else {
        struct stat st {};
        st.st_dev = source.dev;
        st.st_ino = source.ino;
        walk.File(st, 0, Extent::kToTheEnd, "the source");
    }
    return walk.Take();
}

std::vector<Extent> DestinationExtents(const Destination& destination, const BlockTopology& topology) {
    Walk walk(topology, true);
    if (destination.itself && !destination.itself->IsBlockDevice() && !S_ISCHR(destination.itself->mode)) {
        struct stat st {};
        st.st_dev = destination.itself->dev;
        st.st_ino = destination.itself->ino;
        walk.File(st, 0, Extent::kToTheEnd, destination.name);
    }
    walk.Device(destination.fileSystem, 0, Extent::kToTheEnd, "");
    return walk.Take();
}

std::string DestinationProblem(const FileIdentity& source, const Destination& destination,
                               const BlockTopology& topology) {
    const std::string refusing = "refusing to write to " + destination.name + ": ";
    if (destination.itself && destination.itself->SameFile(source)) return refusing + "it is the scanned source";
    if (destination.itself && destination.itself->IsBlockDevice()) return refusing + "it is a block device";

    const std::vector<Extent> scanned = ScannedExtents(source, topology);
    for (const Extent& written : DestinationExtents(destination, topology)) {
        for (const Extent& read : scanned) {
            if (!written.Overlaps(read)) continue;
            if (written.name == destination.name) return refusing + "it holds the scanned source (" + read.name + ")";
            // The way down from the destination's file system.
            const std::string below = destination.name + " > ";
            const bool fromItself = written.name.compare(0, below.size(), below) == 0;
            return refusing + "it lies on the scanned source (" + written.name.substr(fromItself ? below.size() : 0) + ")";
        }
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

std::string WriteProblem(const FileIdentity& source, const std::string& path, const BlockTopology& topology) {
    const auto destination = LocateDestination(path);
    if (!destination) return "refusing to write to " + path + ": where it leads cannot be told";
    return DestinationProblem(source, *destination, topology);
}

std::string WriteProblem(const std::string& sourcePath, const std::string& path, const BlockTopology& topology) {
    struct stat st {};
    if (::stat(sourcePath.c_str(), &st) != 0) return {};
    return WriteProblem(FileIdentity::Of(st), path, topology);
}

}  // namespace brelvox::disks
