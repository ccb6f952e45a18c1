// Volume recognition as device enumeration does it: the FAT, exFAT and NTFS boot sectors are asked in
// turn, and the FAT one looks for the label in the root folder (FAT32: along the root's cluster chain).
// Also the FAT boot sector's geometry read at the device's sector size. The input is a device (see
// fuzz/support/FuzzDevice.h: two geometry bytes, then the sectors, folded).
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/EnumDevice/RecogniseVolume.h"
#include "engine/FATLib/FATBootSector.h"
#include "engine/FATLib/FATVolume.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kDeviceHeaderBytes + 64 * 1024) {
    fuzz::DeviceInput in;
    if (!fuzz::ReadDeviceHeader(data, size, in)) return;
    fuzz::FuzzDevice device(in.image, in.imageSize, in.sectorSize, in.totalSectors);

    std::vector<u8> first(in.sectorSize, 0);
    device.ReadSector(first.data(), 0, 1);
    CTempFATDBR dbr(first.data(), in.sectorSize);
    if (dbr.IsValidDBR()) {
        const u64 sum = u64{dbr.GetSectorsperCluster()} + dbr.GetReservedSector() + dbr.GetNumberOfFat() +
                        dbr.GetSectorsPerFat() + dbr.GetRootEntries() + dbr.GetRootDirStartCluster() +
                        dbr.GetTotalSectors();
        FUZZ_CHECK(sum != 0);
        CFATVolume volume(&device);
        std::string label;
        volume.GetPartitionLabel(0, dbr, label);
        FUZZ_CHECK(label.size() <= 11);
    }

    char label[128];
    std::memset(label, 'x', sizeof label);
    RecogniseVolume(&device, label, sizeof label);
    FUZZ_CHECK(std::memchr(label, 0, sizeof label) != nullptr);
}
