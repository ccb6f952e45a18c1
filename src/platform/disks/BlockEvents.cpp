#include "platform/disks/BlockEvents.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace brelvox::disks {

std::string WholeDiskOf(std::string_view sysname, std::string_view devtype, std::string_view devpath) {
    if (devtype != "partition") return std::string(sysname);
    while (!devpath.empty() && devpath.back() == '/') devpath.remove_suffix(1);
    const size_t last = devpath.rfind('/');
    if (last == std::string_view::npos || last == 0) return std::string(sysname);
    const std::string_view parent = devpath.substr(0, last);
    const size_t before = parent.rfind('/');
    const std::string_view disk = before == std::string_view::npos ? parent : parent.substr(before + 1);
    // The folder above a partition is named "block" only when the devpath is not a partition's at all.
    if (disk.empty() || disk == "block") return std::string(sysname);
    return std::string(disk);
}

std::optional<std::uint64_t> ParseSysfsSize(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t units = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), units);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (units > std::numeric_limits<std::uint64_t>::max() / 512) return std::nullopt;
    return units * 512;
}

BlockChange BlockEventTracker::Change(BlockChange::Kind kind, const std::string& name, const Known& known) const {
    BlockChange change;
    change.kind = kind;
    change.name = name;
    change.wholeDisk = known.wholeDisk;
    change.isDisk = known.isDisk;
    change.sizeBytes = known.sizeBytes;
    change.registryName = known.registryName.empty() ? name : known.registryName;
    return change;
}

std::vector<BlockChange> BlockEventTracker::Prime(const std::vector<BlockUevent>& present) {
    std::vector<BlockChange> media;
    for (const BlockUevent& device : present) {
        if (device.sysname.empty()) continue;
        auto change = Take(BlockUevent{"add", device.sysname, device.devtype, device.devpath,
                                       device.sizeBytes.value_or(0), device.model});
        if (change && change->kind == BlockChange::Kind::Arrival) media.push_back(std::move(*change));
    }
    // Each disk before its partitions, whatever order the listing gave.
    std::stable_sort(media.begin(), media.end(), [](const BlockChange& a, const BlockChange& b) {
        if (a.wholeDisk != b.wholeDisk) return a.wholeDisk < b.wholeDisk;
        return a.isDisk && !b.isDisk;
    });
    return media;
}

std::optional<BlockChange> BlockEventTracker::Take(const BlockUevent& event) {
    if (event.sysname.empty()) return std::nullopt;
    if (event.action == "remove") {
        auto it = m_known.find(event.sysname);
        if (it == m_known.end()) {
            // Never seen: report it anyway, so that a scan of it stops.
            Known unseen{0, WholeDiskOf(event.sysname, event.devtype, event.devpath), event.devtype == "disk",
                         event.model};
            return Change(BlockChange::Kind::Removal, event.sysname, unseen);
        }
        Known known = std::move(it->second);
        m_known.erase(it);
        if (!event.model.empty()) known.registryName = event.model;
        // A device of size 0 holds no medium: its medium left (or never came) before.
        if (known.sizeBytes == 0) return std::nullopt;
        return Change(BlockChange::Kind::Removal, event.sysname, known);
    }
    if (event.action != "add" && event.action != "change") return std::nullopt;
    // Without a size nothing says whether the medium came or went.
    if (!event.sizeBytes) return std::nullopt;

    auto it = m_known.find(event.sysname);
    const std::uint64_t before = it == m_known.end() ? 0 : it->second.sizeBytes;
    Known now{*event.sizeBytes, WholeDiskOf(event.sysname, event.devtype, event.devpath), event.devtype == "disk",
              event.model};
    if (now.registryName.empty() && it != m_known.end()) now.registryName = it->second.registryName;
    if (before != 0 && now.sizeBytes == 0) {
        // Report the size the medium had, then remember the empty device.
        Known gone = now;
        gone.sizeBytes = before;
        m_known[event.sysname] = std::move(now);
        return Change(BlockChange::Kind::Removal, event.sysname, gone);
    }
    m_known[event.sysname] = now;
    if (before == 0 && now.sizeBytes != 0) return Change(BlockChange::Kind::Arrival, event.sysname, now);
    return std::nullopt;
}

}  // namespace brelvox::disks
