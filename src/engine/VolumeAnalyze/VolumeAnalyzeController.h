// Recognises the file system of a volume by asking each file system's analyser in a fixed order.
#pragma once

#include <vector>

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/IVolumeAnalyze.h"

class IStorageDevice;

class CVolumeAnalyzeController {
public:
    CVolumeAnalyzeController(IStorageDevice* device, u64 startSector);
    virtual ~CVolumeAnalyzeController();
    CVolumeAnalyzeController(const CVolumeAnalyzeController&) = delete;
    CVolumeAnalyzeController& operator=(const CVolumeAnalyzeController&) = delete;

    // The first analyser that recognised the volume (owned by the controller), or null.
    virtual IVolumeAnalyze* GetVolumeAnzlyzer();

private:
    void Register(IStorageDevice* device, u64 startSector);

    std::vector<IVolumeAnalyze*> m_analyzers;
};

// A new controller that has asked every analyser (FAT, exFAT, NTFS, HFS+, APFS); the caller deletes it.
CVolumeAnalyzeController* CreateVolumeAnalyzeController(IStorageDevice* device, u64 startSector);
