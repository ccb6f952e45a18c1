#include "bridge/Device/DiskUtilities.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

extern char** environ;

using brelvox::disks::BlockDevice;
using brelvox::disks::KernelDisks;
using brelvox::foundation::PropertyList;

bool GetDictionaryStringVal(const PropertyList& dictionary, const char* key, char* buffer, std::size_t size) {
    if (!buffer || size < 1 || !key) return false;
    const auto value = dictionary.GetString(key);
    if (!value || value->size() + 1 > size) return false;
    std::memcpy(buffer, value->c_str(), value->size() + 1);
    return true;
}

bool GetBSDName(const PropertyList& dictionary, char* buffer, std::size_t size) {
    return GetDictionaryStringVal(dictionary, "BSD Name", buffer, size);
}

bool BSDName2DevPath(char* out, std::size_t size, const char* bsdName, bool /*raw*/) {
    if (!out || size < 1) return false;
    const std::string path = std::string("/dev/") + (bsdName ? bsdName : "");
    const std::size_t kept = std::min(path.size(), size - 1);
    std::memcpy(out, path.data(), kept);
    out[kept] = '\0';
    return kept == path.size();
}

namespace {

constexpr std::size_t kMaxCommandBytes = 2047;

// The folder of command outputs: made once per process, readable by its owner only, and removed with
// what it holds when the process ends (the path lives on the heap so that it outlives static objects).
const std::string* g_privateFolder = nullptr;

void RemovePrivateFolder() {
    std::error_code ignored;
    if (g_privateFolder) std::filesystem::remove_all(*g_privateFolder, ignored);
}

std::optional<std::string> PrivateFolder() {
    static const bool made = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/brelvox-commands-XXXXXX";
        if (!mkdtemp(pattern.data())) return false;
        g_privateFolder = new std::string(pattern);
        std::atexit(RemovePrivateFolder);
        return true;
    }();
    if (!made) return std::nullopt;
    return *g_privateFolder;
}

std::optional<std::string> RunToPrivateFile(const char* command, const char* stem, std::string& previous) {
    if (!command || !*command || std::strlen(command) > kMaxCommandBytes) return std::nullopt;
    const auto folder = PrivateFolder();
    if (!folder) return std::nullopt;
    if (!previous.empty()) {
        unlink(previous.c_str());
        previous.clear();
    }
    std::string path = *folder + "/" + stem + "-XXXXXX.plist";
    const int fd = mkostemps(path.data(), 6, O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    previous = path;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    const char* argv[] = {"sh", "-c", command, nullptr};
    pid_t child = -1;
    if (posix_spawn(&child, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ) == 0) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
    return path;
}

std::mutex g_commandMutex;

}  // namespace

std::optional<std::string> ZZExecCommand(const char* command) {
    static std::string previous;
    std::lock_guard lock(g_commandMutex);
    return RunToPrivateFile(command, "KXAddDeviceTemp", previous);
}

std::optional<std::string> KXExecCommand(const char* command) {
    static std::string previous;
    std::lock_guard lock(g_commandMutex);
    return RunToPrivateFile(command, "KVTTray", previous);
}

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string BusProtocol(const BlockDevice& device) {
    if (device.name.rfind("loop", 0) == 0) return "Disk Image";
    if (device.Property("ID_BUS") == "ieee1394") return "FireWire";
    switch (device.bus) {
        case brelvox::disks::kBusUSB: return "USB";
        case brelvox::disks::kBusATA: return "ATA";
        case brelvox::disks::kBusSATA: return "SATA";
        case brelvox::disks::kBusVirtual: return "Virtual Interface";
        default: break;
    }
    if (device.name.rfind("nvme", 0) == 0) return "PCI-Express";
    return "SCSI";
}

std::string SchemeContent(const BlockDevice& disk) {
    switch (disk.PartitionScheme()) {
        case brelvox::disks::kSchemeGPT: return "GUID_partition_scheme";
        case brelvox::disks::kSchemeMBR: return "FDisk_partition_scheme";
        case brelvox::disks::kSchemeAPM: return "Apple_partition_scheme";
        default: return "";
    }
}

}  // namespace

std::string PartitionContentName(const std::string& partitionType) {
    static const std::map<std::string, std::string> names = {
        {"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", "EFI"},
        {"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", "Microsoft Basic Data"},
        {"e3c9e316-0b5c-4db8-817d-f92df00215ae", "Microsoft Reserved"},
        {"de94bba4-06d1-4d40-a16a-bfd50179d6ac", "Windows Recovery Environment"},
        {"426f6f74-0000-11aa-aa11-00306543ecac", "Apple_Boot"},
        {"53746f72-6167-11aa-aa11-00306543ecac", "Apple_CoreStorage"},
        {"48465300-0000-11aa-aa11-00306543ecac", "Apple_HFS"},
        {"7c3457ef-0000-11aa-aa11-00306543ecac", "Apple_APFS"},
        {"0fc63daf-8483-4772-8e79-3d69d8477de4", "Linux Filesystem"},
        {"0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", "Linux Swap"},
        {"0xef", "EFI"},
        {"0x7", "Windows_NTFS"},
        {"0xb", "DOS_FAT_32"},
        {"0xc", "DOS_FAT_32"},
        {"0x83", "Linux"},
        {"0x82", "Linux_Swap"},
        {"0xaf", "Apple_HFS"},
    };
    const auto found = names.find(Lower(partitionType));
    return found != names.end() ? found->second : partitionType;
}

PropertyList DiskListDictionary(const KernelDisks& disks) {
    plist_t all = plist_new_array();
    std::vector<std::string> whole;
    std::vector<std::string> allNames;
    for (const BlockDevice& disk : disks.Disks()) {
        whole.push_back(disk.name);
        allNames.push_back(disk.name);
        plist_t entry = plist_new_dict();
        plist_dict_set_item(entry, "DeviceIdentifier", plist_new_string(disk.name.c_str()));
        plist_dict_set_item(entry, "Size", plist_new_uint(disk.SizeBytes()));
        plist_t partitions = plist_new_array();
        for (const BlockDevice& part : disks.Partitions(disk.name)) {
            allNames.push_back(part.name);
            plist_t p = plist_new_dict();
            plist_dict_set_item(p, "DeviceIdentifier", plist_new_string(part.name.c_str()));
            plist_dict_set_item(p, "Size", plist_new_uint(part.SizeBytes()));
            plist_array_append_item(partitions, p);
        }
        plist_dict_set_item(entry, "Partitions", partitions);
        plist_array_append_item(all, entry);
    }
    PropertyList list;
    list.SetValue("AllDisksAndPartitions", PropertyList(all));
    list.SetStringArray("WholeDisks", whole);
    list.SetStringArray("AllDisks", allNames);
    return list;
}

std::optional<PropertyList> DiskInfoDictionary(const KernelDisks& disks, const std::string& name) {
    const auto device = disks.Find(name);
    if (!device) return std::nullopt;
    std::optional<BlockDevice> disk = device->whole ? device : disks.Find(device->disk);
    if (!disk) disk = device;
    PropertyList info;
    info.SetString("DeviceIdentifier", device->name);
    info.SetString("DeviceNode", "/dev/" + device->name);
    info.SetBool("WholeDisk", device->whole);
    info.SetString("ParentWholeDisk", disk->name);
    info.SetString("MediaName", disk->model.empty() ? disk->DisplayName() : disk->model);
    info.SetString("BusProtocol", BusProtocol(*disk));
    info.SetBool("Internal", !disk->removable && disk->bus != brelvox::disks::kBusUSB);
    info.SetBool("RemovableMedia", disk->removable);
    info.SetBool("RAIDMaster", disk->name.rfind("md", 0) == 0);
    info.SetBool("CoreStorageEncrypted", disk->Property("DM_UUID").rfind("CRYPT-", 0) == 0);
    info.SetString("Content", device->whole ? SchemeContent(*device)
                                            : PartitionContentName(device->Property("ID_PART_ENTRY_TYPE")));
    const std::string mountPoint = disks.MountPoint(device->major, device->minor);
    info.SetString("MountPoint", mountPoint);
    info.SetString("VolumeName", device->FsLabel());
    info.SetString("FilesystemType", device->FsType());
    info.SetInteger("Size", static_cast<std::int64_t>(device->SizeBytes()));
    info.SetInteger("TotalSize", static_cast<std::int64_t>(device->SizeBytes()));
    info.SetInteger("FreeSpace", static_cast<std::int64_t>(disks.FreeBytes(mountPoint)));
    info.SetInteger("DeviceBlockSize", device->logicalBlockSize);
    return info;
}

std::optional<PropertyList> ZZGetDiskInfo(const char* bsdName) {
    if (!bsdName) return std::nullopt;
    return DiskInfoDictionary(KernelDisks(), bsdName);
}
