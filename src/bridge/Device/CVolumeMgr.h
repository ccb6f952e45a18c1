// The local disks and their volumes, as the device page's tray once listed them: every internal disk
// (USB, disk-image, FireWire, RAID and encrypted disks left out) with the partitions that hold a
// usable volume, and which volume is the system's. Built from the disk dictionaries of
// DiskUtilities.h; nothing in the program starts it yet.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/disks/KernelDisks.h"
#include "platform/foundation/PropertyList.h"

struct VolumeDictionary {
    std::string OSvolume;  // "YES" or "NO"
    std::string volumeName;
    std::string volumePath;  // the partition's kernel name
    std::string volumeTotalSize;
    std::string volumeFreeSize;
};

struct DiskDictionary {
    std::string DiskName;
    std::string DiskPath;  // the disk's kernel name
    std::string DiskShow;  // "YES", or the value of the resource list
    std::vector<VolumeDictionary> DiskVolume;
};

// One entry of the "LocalDisk" resource list.
struct LocalDiskEntry {
    std::string DiskPath;
    std::string DiskShow;
};

class CVolumeMgr {
public:
    // The machine's disks and the "LocalDisk" resource list (when shipped).
    CVolumeMgr();
    // Tests: another kernel tree and list (nothing or an empty list: no list).
    CVolumeMgr(brelvox::disks::KernelDisks disks, std::vector<LocalDiskEntry> localDisk);

    std::vector<DiskDictionary> enumDiskVolumesInfo();
    // The variant that walks "WholeDisks" and "AllDisks"; with a list only disks shown "YES" are taken
    // and, without one, FireWire disks stay.
    std::vector<DiskDictionary> enumDiskVolumesInfo1006();
    // While the disk of the root volume has not been met: looks at the mounted volume of that index
    // (1 the first; 0 names none) and notes when its folder is "/".
    void JustOSVolume(int index);
    VolumeDictionary MakeVolumeInfo(const brelvox::foundation::PropertyList& partition);
    std::optional<brelvox::foundation::PropertyList> KXGetDiskInfo(const char* bsdName) const;
    // "%0.2f KB|MB|GB" in steps of 1000, in single precision.
    static std::string convertVolSpace(long long bytes);

    // The "LocalDisk" resource list; empty when it is not shipped or cannot be read.
    static std::vector<LocalDiskEntry> LoadLocalDiskList();

    bool bFindOSDisk = false;
    bool bFirstOSVolume = true;

private:
    std::optional<VolumeDictionary> VolumeOf(const std::string& partitionName, int index);
    bool LeftOutDisk(const brelvox::foundation::PropertyList& info, bool keepFireWire) const;
    // The list entry of a disk, or null.
    const LocalDiskEntry* Listed(const std::string& identifier) const;
    // A disk's entry without volumes; nothing when it has no information or, without a list, is left out.
    std::optional<DiskDictionary> TakeDisk(const std::string& identifier, const std::string& show, bool withList,
                                           bool keepFireWire) const;

    brelvox::disks::KernelDisks m_disks;
    std::vector<LocalDiskEntry> m_localDisk;
};
