// The volume analysers of each file system, and the table through which volume recognition reaches
// them. The table holds the real factories; tests swap in fakes and put the old table back.
#pragma once

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/IVolumeAnalyze.h"

class IStorageDevice;

// Each reads the first sectors of the volume at startSector. All but the FAT one return null when the
// volume is not theirs; the FAT one always returns an analyser, of type 10 when the volume is not FAT.
IVolumeAnalyze* CreateFatVolumeAnalyze(IStorageDevice* device, u64 startSector);
IVolumeAnalyze* CreateExfatVolumeAnalyze(IStorageDevice* device, u64 startSector);
IVolumeAnalyze* CreateNTFSVolumeAnalyze(IStorageDevice* device, u64 startSector);
IVolumeAnalyze* CreateHFSPlusVolumeAnalyze(IStorageDevice* device, u64 startSector);
IVolumeAnalyze* CreateAPFSVolumeAnalyze(IStorageDevice* device, u64 startSector);

using VolumeAnalyzeFactory = IVolumeAnalyze* (*)(IStorageDevice* device, u64 startSector);

// In the order volumes are asked: FAT, exFAT, NTFS, HFS+, APFS. A null entry is skipped.
struct VolumeAnalyzerFactories {
    VolumeAnalyzeFactory fat = CreateFatVolumeAnalyze;
    VolumeAnalyzeFactory exfat = CreateExfatVolumeAnalyze;
    VolumeAnalyzeFactory ntfs = CreateNTFSVolumeAnalyze;
    VolumeAnalyzeFactory hfsPlus = CreateHFSPlusVolumeAnalyze;
    VolumeAnalyzeFactory apfs = CreateAPFSVolumeAnalyze;
};

// The table in use (the real factories unless a test replaced it).
VolumeAnalyzerFactories& VolumeAnalyzers();

// An analyser that recognises nothing: type 10, no sectors, an empty label.
class CUnrecognisedVolumeAnalyze : public IVolumeAnalyze {
public:
    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FILE_SYSTEM_UNKNOWN; }
    i64 GetTotalSector() override { return 0; }
    void GetLabel(char* buffer, int length) override;
};
