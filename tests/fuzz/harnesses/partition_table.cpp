// The partition-table readers as disk enumeration runs them: the scheme is detected from the first
// sector, then the MBR (with its chain of extended records), the GUID table or the Apple map is read.
// The input is a whole disk (see fuzz/support/FuzzDevice.h: two geometry bytes, then the sectors,
// folded, so an extended record or a backup table far out on the disk is a few input sectors away).
#include <memory>

#include "engine/PartitionTableAnalyze/IPartitionTableAnalyze.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kDeviceHeaderBytes + 64 * 1024) {
    fuzz::DeviceInput in;
    if (!fuzz::ReadDeviceHeader(data, size, in)) return;
    fuzz::FuzzDevice disk(in.image, in.imageSize, in.sectorSize, in.totalSectors, STORAGE_DEVICE_DISK);
    disk.SetDiskRecord();
    std::unique_ptr<IPartitionTableAnalyze> reader(CreatePartitionTableAnalyze());
    PartitionEntryList partitions;
    reader->AnalyzePartitionTable(&disk, partitions);
    volatile u64 sum = 0;
    for (const PartitionEntry& p : partitions) {
        sum = sum + static_cast<u64>(p.number) + static_cast<u64>(p.startSector) + static_cast<u64>(p.sectorCount) +
              static_cast<u8>(p.typeName[31]);
    }
}
