#include "bridge/Device/CVolumeMgr.h"

#include <cstdio>

#include "bridge/Device/DiskUtilities.h"
#include "platform/foundation/ConfigPaths.h"

using brelvox::foundation::PropertyList;

CVolumeMgr::CVolumeMgr() : m_localDisk(LoadLocalDiskList()) {}

CVolumeMgr::CVolumeMgr(brelvox::disks::KernelDisks disks, std::vector<LocalDiskEntry> localDisk)
    : m_disks(std::move(disks)), m_localDisk(std::move(localDisk)) {}

std::vector<LocalDiskEntry> CVolumeMgr::LoadLocalDiskList() {
    std::vector<LocalDiskEntry> entries;
    const auto list = PropertyList::Load(brelvox::foundation::ResourceDirectory() + "/LocalDisk.plist");
    if (!list || plist_get_node_type(list->Node()) != PLIST_ARRAY) return entries;
    const uint32_t count = plist_array_get_size(list->Node());
    for (uint32_t i = 0; i < count; ++i) {
        plist_t item = plist_array_get_item(list->Node(), i);
        if (!item || plist_get_node_type(item) != PLIST_DICT) continue;
        const PropertyList entry(plist_copy(item));
        entries.push_back({entry.GetString("DiskPath").value_or(""), entry.GetString("DiskShow").value_or("")});
    }
    return entries;
}

std::string CVolumeMgr::convertVolSpace(long long bytes) {
    const float value = static_cast<float>(bytes);
    const char* unit = "KB";
    float shown = 0.0f;
    if (bytes == 0) {
        shown = 0.0f;
    } else if (bytes < 1000000LL) {
        shown = value / 1000.0f;
    } else if (bytes < 1000000000LL) {
        shown = value / 1000000.0f;
        unit = "MB";
    } else {
        shown = value / 1000000000.0f;
        unit = "GB";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%0.2f %s", static_cast<double>(shown), unit);
    return text;
}

void CVolumeMgr::JustOSVolume(int index) {
    if (bFindOSDisk || index < 1) return;
    int seen = 0;
    for (const auto& mount : m_disks.Mounts()) {
        if (mount.major == 0) continue;  // only mounted volumes of block devices are counted
        if (++seen != index) continue;
        if (mount.mountPoint == "/") bFindOSDisk = true;
        return;
    }
}

VolumeDictionary CVolumeMgr::MakeVolumeInfo(const PropertyList& partition) {
    VolumeDictionary volume;
    volume.OSvolume = "NO";
    if (bFindOSDisk && bFirstOSVolume) {
        volume.OSvolume = "YES";
        bFirstOSVolume = false;
    }
    volume.volumeName = partition.GetString("VolumeName").value_or("");
    volume.volumePath = partition.GetString("DeviceIdentifier").value_or("");
    volume.volumeTotalSize = convertVolSpace(partition.GetInteger("TotalSize").value_or(0));
    volume.volumeFreeSize = convertVolSpace(partition.GetInteger("FreeSpace").value_or(0));
    return volume;
}

std::optional<PropertyList> CVolumeMgr::KXGetDiskInfo(const char* bsdName) const {
    if (!bsdName) return std::nullopt;
    return DiskInfoDictionary(m_disks, bsdName);
}

bool CVolumeMgr::LeftOutDisk(const PropertyList& info, bool keepFireWire) const {
    const std::string bus = info.GetString("BusProtocol").value_or("");
    if (bus == "USB" || bus == "Disk Image" || (!keepFireWire && bus == "FireWire")) return true;
    return info.GetBool("RAIDMaster").value_or(false) || info.GetBool("CoreStorageEncrypted").value_or(false);
}

std::optional<VolumeDictionary> CVolumeMgr::VolumeOf(const std::string& partitionName, int index) {
    const auto info = KXGetDiskInfo(partitionName.c_str());
    if (!info) return std::nullopt;
    const std::string content = info->GetString("Content").value_or("");
    if (content == "Apple_Boot" || content == "EFI" || content == "Apple_CoreStorage" ||
        content == "Microsoft Basic Data") {
        return std::nullopt;
    }
    if (info->GetString("MountPoint").value_or("").empty() && info->GetInteger("FreeSpace").value_or(0) == 0) {
        return std::nullopt;
    }
    JustOSVolume(index);
    return MakeVolumeInfo(*info);
}

std::vector<DiskDictionary> CVolumeMgr::enumDiskVolumesInfo() {
    std::vector<DiskDictionary> result;
    const bool withList = !m_localDisk.empty();
    const PropertyList list = DiskListDictionary(m_disks);
    const auto all = list.GetValue("AllDisksAndPartitions");
    bFindOSDisk = false;
    bFirstOSVolume = true;
    if (!all || plist_get_node_type(all->Node()) != PLIST_ARRAY) return result;
    const uint32_t count = plist_array_get_size(all->Node());
    for (uint32_t d = 0; d < count; ++d) {
        const PropertyList entry(plist_copy(plist_array_get_item(all->Node(), d)));
        const std::string identifier = entry.GetString("DeviceIdentifier").value_or("");
        const LocalDiskEntry* listed = Listed(identifier);
        if (withList && !listed) continue;
        auto taken = TakeDisk(identifier, listed ? listed->DiskShow : "", withList, false);
        if (!taken) continue;
        DiskDictionary& disk = *taken;
        const auto partitions = entry.GetValue("Partitions");
        const uint32_t parts =
            partitions && plist_get_node_type(partitions->Node()) == PLIST_ARRAY ? plist_array_get_size(partitions->Node()) : 0;
        for (uint32_t i = 0; i < parts; ++i) {
            const PropertyList part(plist_copy(plist_array_get_item(partitions->Node(), i)));
            if (auto volume = VolumeOf(part.GetString("DeviceIdentifier").value_or(""), static_cast<int>(i))) {
                disk.DiskVolume.push_back(std::move(*volume));
            }
        }
        if (!disk.DiskVolume.empty()) result.push_back(std::move(disk));
    }
    return result;
}

const LocalDiskEntry* CVolumeMgr::Listed(const std::string& identifier) const {
    for (const LocalDiskEntry& local : m_localDisk) {
        if (local.DiskPath == identifier) return &local;
    }
    return nullptr;
}

std::optional<DiskDictionary> CVolumeMgr::TakeDisk(const std::string& identifier, const std::string& show,
                                                   bool withList, bool keepFireWire) const {
    const auto info = KXGetDiskInfo(identifier.c_str());
    if (!info || (!withList && LeftOutDisk(*info, keepFireWire))) return std::nullopt;
    DiskDictionary disk;
    disk.DiskName = info->GetString("MediaName").value_or("");
    disk.DiskPath = identifier;
    disk.DiskShow = show.empty() ? "YES" : show;
    return disk;
}

std::vector<DiskDictionary> CVolumeMgr::enumDiskVolumesInfo1006() {
    std::vector<DiskDictionary> result;
    const bool withList = !m_localDisk.empty();
    const PropertyList list = DiskListDictionary(m_disks);
    const auto whole = list.GetStringArray("WholeDisks").value_or(std::vector<std::string>{});
    const auto all = list.GetStringArray("AllDisks").value_or(std::vector<std::string>{});
    bFindOSDisk = false;
    bFirstOSVolume = true;
    for (const std::string& identifier : whole) {
        const LocalDiskEntry* listed = Listed(identifier);
        if (withList && (!listed || listed->DiskShow != "YES")) continue;
        auto taken = TakeDisk(identifier, "YES", withList, true);
        if (!taken) continue;
        DiskDictionary& disk = *taken;
        int index = 0;
        for (const std::string& name : all) {
            if (name == identifier || name.rfind(identifier, 0) != 0) continue;
            // A name can begin with another disk's ("sdaa1", "loop10"): only the disk's own partitions.
            const auto device = m_disks.Find(name);
            if (!device || device->whole || device->disk != identifier) continue;
            // The partition's position among the disk's own, as the lister counts them.
            if (auto volume = VolumeOf(name, index)) disk.DiskVolume.push_back(std::move(*volume));
            ++index;
        }
        if (!disk.DiskVolume.empty()) result.push_back(std::move(disk));
    }
    return result;
}
