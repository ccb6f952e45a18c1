// The records of facts that disk, partition and volume devices carry as their private data.
#pragma once

#include "engine/Common/Types.h"

class IStorageDevice;

// Bus kinds of a disk record.
enum DISK_BUS_TYPE : u32 {
    DISK_BUS_UNKNOWN = 0,
    DISK_BUS_ATA = 1,
    DISK_BUS_SATA = 2,
    DISK_BUS_SCSI = 3,
    DISK_BUS_USB = 4,
    DISK_BUS_VIRTUAL = 5,
};

// One whole disk.
struct CCollectDiskDeviceInfoStruct {
    u32 kind;            // 0: a physical disk (the partition-table reader requires it)
    u32 busType;         // DISK_BUS_TYPE
    u32 partitionScheme; // enumDiskPartitionScheme
    u32 writable;        // 1 when the medium is writable
    char name[128];
    char bsdName[128];   // kernel name of the disk under /dev/
    i64 sectorSize;
    i64 totalSectors;
    i64 cylinders;
    i64 heads;
    i64 sectorsPerTrack;
    i32 deviceNumber;    // makedev(major, minor), comparable with st_dev
};

// One partition from the partition table.
struct CCollectedPartitionDeviceInfoStruct {
    u32 kind;            // the disk's; must be 0 for the partition to be shown as a volume
    u32 reserved;
    u32 fileSystemType;  // 10 when nothing is recognised
    char label[100];
    i64 sectorSize;
    i64 sectorCount;
    i32 deviceNumber;
    IStorageDevice* parentDisk;  // not owned
    i32 partitionNumber;
    u8 typeGuid[16];     // GUID disks only
    u8 uniqueGuid[16];   // GUID disks only
    char typeName[32];   // Apple maps only
    i64 startSector;
};

// One volume.
struct CCollectedVolumeDeviceInfoStruct {
    u32 kind;
    u32 reserved;
    u32 fileSystemType;  // 10 when nothing is recognised
    char label[100];
    char volumeName[1024];
    char bsdName[128];   // empty for a volume made from a partition
    i64 sectorSize;
    i64 totalSectors;
    i32 deviceNumber;
    IStorageDevice* parentDisk;  // not owned
    i32 partitionNumber; // -1 for a volume that is a whole disk
    u8 typeGuid[16];
    u8 uniqueGuid[16];
    char content[32];    // Apple maps: the partition type text
    i64 startSector;
    u32 mounted;         // 1 when the volume has a mount point
};
