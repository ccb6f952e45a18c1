#include "engine/EXFatSearch/ExFatVolumeAnalyze.h"

#include <new>

#include "engine/EXFatSearch/ExFatDBR.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/VolumeAnalyze/VolumeLabel.h"

void CExFatVolumeAnalyer::GetLabel(char* buffer, int length) {
    volumelabel::Copy(buffer, length, "", 0);
}

IVolumeAnalyze* CreateExfatVolumeAnalyze(IStorageDevice* device, u64 startSector) {
    if (device == nullptr) return nullptr;
    const u32 sectorSize = device->GetSectorSize();
    if (sectorSize == 0 || sectorSize > exfat::kMaxSectorSize) return nullptr;
    u8 sector[exfat::kMaxSectorSize] = {};
    if (device->ReadSector(sector, static_cast<i64>(startSector), 1) == 0) return nullptr;
    CExFatDBR dbr(sector, sectorSize);
    if (!dbr.IsValid(sectorSize)) return nullptr;
    return new (std::nothrow) CExFatVolumeAnalyer(dbr.GetTotalSectors());
}
