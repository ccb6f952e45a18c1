#include "platform/disks/KernelDisks.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <limits>
#include <system_error>

namespace brelvox::disks {

namespace fs = std::filesystem;

namespace {

std::string Trim(std::string_view s) {
    const char* blanks = " \t\r\n";
    auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    auto last = s.find_last_not_of(blanks);
    return std::string(s.substr(first, last - first + 1));
}

std::optional<std::string> ReadTrimmed(const fs::path& path) {
    auto text = ReadSmallFile(path);
    if (!text) return std::nullopt;
    return Trim(*text);
}

template <typename T>
std::optional<T> ParseUnsigned(std::string_view s) {
    T value{};
    if (s.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

template <typename T>
std::optional<T> ReadUnsigned(const fs::path& path) {
    auto text = ReadTrimmed(path);
    if (!text) return std::nullopt;
    return ParseUnsigned<T>(*text);
}

bool ReadFlag(const fs::path& path) {
    auto v = ReadUnsigned<std::uint32_t>(path);
    return v && *v != 0;
}

// "8:16" -> (8, 16).
std::optional<std::pair<std::uint32_t, std::uint32_t>> ParseMajorMinor(std::string_view s) {
    auto colon = s.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto major = ParseUnsigned<std::uint32_t>(s.substr(0, colon));
    auto minor = ParseUnsigned<std::uint32_t>(s.substr(colon + 1));
    if (!major || !minor) return std::nullopt;
    return std::make_pair(*major, *minor);
}

bool IsValidBlockSize(std::uint64_t size) {
    return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool IsDirectory(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::int64_t BlockDevice::TotalSectors() const {
    if (logicalBlockSize == 0) return 0;
    // size512 was range-checked on reading, so the product fits.
    return static_cast<std::int64_t>(size512 * 512 / logicalBlockSize);
}

std::int64_t BlockDevice::StartSector() const {
    if (logicalBlockSize == 0) return 0;
    return static_cast<std::int64_t>(start512 * 512 / logicalBlockSize);
}

std::string BlockDevice::Property(const std::string& key) const {
    auto it = properties.find(key);
    return it == properties.end() ? std::string() : it->second;
}

std::string BlockDevice::FsLabel() const {
    // The plain label has blanks replaced by "_"; the encoded one keeps them.
    auto encoded = properties.find("ID_FS_LABEL_ENC");
    if (encoded != properties.end()) return DecodeUdevEscapes(encoded->second);
    return Property("ID_FS_LABEL");
}

PartitionSchemeKind BlockDevice::PartitionScheme() const {
    std::string type = Property("ID_PART_TABLE_TYPE");
    if (type == "gpt") return kSchemeGPT;
    if (type == "dos") return kSchemeMBR;
    if (type == "mac") return kSchemeAPM;
    return kSchemeNone;
}

std::string BlockDevice::DisplayName() const {
    // A vendor alone is often a bare bus id ("0x1af4"), so it is shown only with a model.
    std::string name = model.empty() ? std::string() : (vendor.empty() ? model : vendor + " " + model);
    if (name.empty()) name = DecodeUdevEscapes(Property("ID_MODEL_ENC"));
    if (name.empty()) name = Property("ID_MODEL");
    if (name.empty()) name = this->name;
    return Trim(name);
}

KernelDisks::KernelDisks(KernelRoots roots) : m_roots(std::move(roots)) {}

bool KernelDisks::IsSkippedMedium(const std::string& name, const fs::path& sysDir) {
    if (StartsWith(name, "sr") || StartsWith(name, "ram") || StartsWith(name, "zram")) return true;
    // SCSI peripheral type 5 is a CD/DVD drive, whatever its name.
    auto type = ReadUnsigned<std::uint32_t>(sysDir / "device" / "type");
    return type && *type == 5;
}

std::vector<BlockDevice> KernelDisks::Disks() const {
    std::vector<BlockDevice> disks;
    fs::path classDir = m_roots.sys / "class" / "block";
    std::error_code ec;
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        fs::path dir = it->path();
        if (Exists(dir / "partition")) continue;
        if (IsSkippedMedium(name, dir)) continue;
        auto device = ReadDevice(dir, name, name, true);
        if (!device) continue;
        if (device->Property("ID_CDROM") == "1") continue;
        disks.push_back(std::move(*device));
    }
    std::sort(disks.begin(), disks.end(), [](const BlockDevice& a, const BlockDevice& b) { return a.name < b.name; });
    return disks;
}

std::vector<BlockDevice> KernelDisks::Partitions(const std::string& disk) const {
    std::vector<BlockDevice> parts;
    if (disk.empty() || disk.find('/') != std::string::npos || disk == "." || disk == "..") return parts;
    fs::path diskDir = m_roots.sys / "class" / "block" / disk;
    auto diskBlockSize = ReadUnsigned<std::uint64_t>(diskDir / "queue" / "logical_block_size");
    std::uint32_t blockSize = diskBlockSize && IsValidBlockSize(*diskBlockSize) ? *diskBlockSize : 512;
    std::error_code ec;
    for (fs::directory_iterator it(diskDir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!IsDirectory(it->path()) || !Exists(it->path() / "partition")) continue;
        auto device = ReadDevice(it->path(), it->path().filename().string(), disk, false);
        if (!device) continue;
        device->logicalBlockSize = blockSize;
        parts.push_back(std::move(*device));
    }
    std::sort(parts.begin(), parts.end(), [](const BlockDevice& a, const BlockDevice& b) {
        if (a.partitionNumber != b.partitionNumber) return a.partitionNumber < b.partitionNumber;
        return a.name < b.name;
    });
    return parts;
}

std::optional<BlockDevice> KernelDisks::Find(const std::string& name) const {
    for (auto& disk : Disks()) {
        if (disk.name == name) return disk;
        for (auto& part : Partitions(disk.name))
            if (part.name == name) return part;
    }
    return std::nullopt;
}

std::optional<BlockDevice> KernelDisks::ReadDevice(const fs::path& dir, const std::string& name,
                                                   const std::string& disk, bool whole) const {
    auto devText = ReadTrimmed(dir / "dev");
    if (!devText) return std::nullopt;
    auto numbers = ParseMajorMinor(*devText);
    if (!numbers) return std::nullopt;
    auto size = ReadUnsigned<std::uint64_t>(dir / "size");
    // Sizes beyond what a signed byte count holds are not real devices.
    if (!size || *size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / 512)
        return std::nullopt;

    BlockDevice device;
    device.name = name;
    device.disk = disk;
    device.whole = whole;
    device.major = numbers->first;
    device.minor = numbers->second;
    device.number = makedev(device.major, device.minor);
    device.size512 = *size;
    device.readOnly = ReadFlag(dir / "ro");
    device.removable = ReadFlag(dir / "removable");
    if (whole) {
        auto blockSize = ReadUnsigned<std::uint64_t>(dir / "queue" / "logical_block_size");
        if (blockSize && IsValidBlockSize(*blockSize)) device.logicalBlockSize = static_cast<std::uint32_t>(*blockSize);
        device.vendor = ReadTrimmed(dir / "device" / "vendor").value_or("");
        device.model = ReadTrimmed(dir / "device" / "model").value_or("");
    } else {
        auto number = ReadUnsigned<std::uint32_t>(dir / "partition");
        if (!number || *number > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) return std::nullopt;
        device.partitionNumber = static_cast<int>(*number);
        // A missing start is left unknown (0) for the caller to fill in; a garbled one is refused.
        if (Exists(dir / "start")) {
            auto start = ReadUnsigned<std::uint64_t>(dir / "start");
            if (!start || *start > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / 512)
                return std::nullopt;
            device.start512 = *start;
        }
    }
    device.properties = ReadUdev(device.major, device.minor);

    std::error_code ec;
    fs::path resolved = fs::canonical(dir, ec);
    std::string relative = ec ? dir.string() : resolved.lexically_relative(m_roots.sys).generic_string();
    device.bus = BusKindOf(device.properties, name, relative);
    return device;
}

std::map<std::string, std::string> KernelDisks::ReadUdev(std::uint32_t major, std::uint32_t minor) const {
    auto text = ReadSmallFile(m_roots.udev / "data" / ("b" + std::to_string(major) + ":" + std::to_string(minor)));
    if (!text) return {};
    return ParseUdevData(*text);
}

std::vector<MountEntry> KernelDisks::Mounts() const {
    std::vector<MountEntry> mounts;
    auto text = ReadSmallFile(m_roots.proc / "self" / "mountinfo");
    if (!text) return mounts;
    std::string_view all(*text);
    while (!all.empty()) {
        auto eol = all.find('\n');
        std::string_view line = all.substr(0, eol);
        all = eol == std::string_view::npos ? std::string_view() : all.substr(eol + 1);
        if (auto entry = ParseMountInfoLine(line)) mounts.push_back(std::move(*entry));
    }
    return mounts;
}

std::string KernelDisks::MountPoint(std::uint32_t major, std::uint32_t minor) const {
    std::string bindMount;
    for (auto& m : Mounts()) {
        if (m.major != major || m.minor != minor) continue;
        if (m.root == "/") return m.mountPoint;
        if (bindMount.empty()) bindMount = m.mountPoint;
    }
    return bindMount;
}

std::optional<ApfsVolumeName> KernelDisks::FindApfsVolume(const std::string& name) const {
    auto device = Find(name);
    if (!device || device->FsType() != "apfs") return std::nullopt;
    std::string label = device->FsLabel();
    if (label.empty()) return std::nullopt;
    return ApfsVolumeName{label, device->name};
}

std::string KernelDisks::DevicePath(const std::string& name) const {
    return (m_roots.dev / name).string();
}

std::string UnescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i >= 4) {
            auto octal = [](char c) { return c >= '0' && c <= '7'; };
            if (octal(field[i + 1]) && octal(field[i + 2]) && octal(field[i + 3])) {
                int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
                if (value > 0 && value < 256) {
                    out += static_cast<char>(value);
                    i += 3;
                    continue;
                }
            }
        }
        out += field[i];
    }
    return out;
}

std::optional<MountEntry> ParseMountInfoLine(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        auto next = line.find(' ', pos);
        if (next == std::string_view::npos) next = line.size();
        if (next > pos) fields.push_back(line.substr(pos, next - pos));
        pos = next + 1;
    }
    // id, parent, major:minor, root, mount point, options, optional fields..., "-", type, source, ...
    if (fields.size() < 9) return std::nullopt;
    auto separator = std::find(fields.begin() + 6, fields.end(), std::string_view("-"));
    if (separator == fields.end() || fields.end() - separator < 3) return std::nullopt;
    auto numbers = ParseMajorMinor(fields[2]);
    if (!numbers) return std::nullopt;
    MountEntry entry;
    entry.major = numbers->first;
    entry.minor = numbers->second;
    entry.root = UnescapeMountField(fields[3]);
    entry.mountPoint = UnescapeMountField(fields[4]);
    entry.fsType = UnescapeMountField(separator[1]);
    entry.source = UnescapeMountField(separator[2]);
    return entry;
}

std::map<std::string, std::string> ParseUdevData(std::string_view content) {
    std::map<std::string, std::string> properties;
    while (!content.empty()) {
        auto eol = content.find('\n');
        std::string_view line = content.substr(0, eol);
        content = eol == std::string_view::npos ? std::string_view() : content.substr(eol + 1);
        if (!StartsWith(line, "E:")) continue;
        line.remove_prefix(2);
        auto equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        properties[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
    }
    return properties;
}

std::string DecodeUdevEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && text.size() - i >= 4 && text[i + 1] == 'x') {
            int high = HexDigit(text[i + 2]), low = HexDigit(text[i + 3]);
            if (high >= 0 && low >= 0 && (high | low) != 0) {
                out += static_cast<char>(high * 16 + low);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::uint32_t BusKindOf(const std::map<std::string, std::string>& properties, const std::string& name,
                        const std::string& devicePath) {
    auto bus = properties.find("ID_BUS");
    if (bus != properties.end()) {
        if (bus->second == "usb") return kBusUSB;
        if (bus->second == "ata") {
            auto sata = properties.find("ID_ATA_SATA");
            return sata != properties.end() && sata->second == "1" ? kBusSATA : kBusATA;
        }
        if (bus->second == "scsi") return kBusSCSI;
    }
    auto has = [&](std::string_view part) { return devicePath.find(part) != std::string::npos; };
    if (has("/usb")) return kBusUSB;
    if (has("/ata")) return kBusATA;
    if (has("virtio") || has("vmbus")) return kBusVirtual;
    if (StartsWith(name, "loop") || StartsWith(name, "dm-") || StartsWith(name, "md") || has("/virtual/"))
        return kBusVirtual;
    return kBusSCSI;
}

// Sysfs files report a size of a page whatever they hold and proc files a size of 0, so the file is
// read in small pieces to its end instead of trusting its size or reserving the limit up front.
std::optional<std::string> ReadSmallFile(const fs::path& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char piece[4096];
    while (text.size() < limit) {
        const ssize_t got = ::read(fd, piece, std::min(sizeof piece, limit - text.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the end, or an attribute that fails to read: what was read stands
        text.append(piece, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

std::uint64_t KernelDisks::FreeBytes(const std::string& mountPoint) const {
    if (mountPoint.empty()) return 0;
    if (m_roots.freeSpace) return m_roots.freeSpace(mountPoint);
    struct statvfs info {};
    if (statvfs(mountPoint.c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace brelvox::disks
