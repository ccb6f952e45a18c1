// One row of the device model: a disk, a volume or an opened disk image. A plain record copied by
// value, its volume rows included; it owns its texts, so a row outlives a re-enumeration.
#pragma once

#include <string>
#include <vector>

#include "engine/Common/Types.h"

struct _DiskVolumeData {
    std::string name;     // disk, volume or image-file name (UTF-8 as found; may be empty)
    std::string bsdName;  // kernel name under /dev ("sdb", "sdb1"), or the file path of an image
    u64 capacity = 0;     // bytes
    u64 used = 0;
    i32 diskIndex = -1;
    i32 volumeIndex = -1;  // -1 for a disk or an image
    i32 fileSystem = -1;   // file-system code of a volume; -1 for disks and images
    u32 isDmg = 0;         // a disk the system attached from an image file
    u32 isSSD = 0;
    u32 isUSB = 0;
    u32 beCanOpen = 1;  // the device node could be opened
    u32 isEdi = 0;
    const void* ediInfo = nullptr;  // the image's information block, not owned
    u32 ediInfoSize = 0xFFFFFFFF;
    u32 isSystemVolume = 0;  // the volume mounted at "/"
    u32 isAppleDmg = 0;
    const void* dmgInfo = nullptr;  // not owned
    u32 dmgInfoSize = 0xFFFFFFFF;
    std::vector<_DiskVolumeData> subVolumes;  // volumes of a disk, in volume-index order
};
