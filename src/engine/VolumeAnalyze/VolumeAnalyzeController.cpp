#include "engine/VolumeAnalyze/VolumeAnalyzeController.h"

#include <new>

#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

CVolumeAnalyzeController::CVolumeAnalyzeController(IStorageDevice* device, u64 startSector) {
    Register(device, startSector);
}

CVolumeAnalyzeController::~CVolumeAnalyzeController() {
    for (IVolumeAnalyze* analyzer : m_analyzers) delete analyzer;
}

void CVolumeAnalyzeController::Register(IStorageDevice* device, u64 startSector) {
    const VolumeAnalyzerFactories& table = VolumeAnalyzers();
    for (VolumeAnalyzeFactory create : {table.fat, table.exfat, table.ntfs, table.hfsPlus, table.apfs}) {
        if (!create) continue;
        if (IVolumeAnalyze* analyzer = create(device, startSector)) m_analyzers.push_back(analyzer);
    }
}

IVolumeAnalyze* CVolumeAnalyzeController::GetVolumeAnzlyzer() {
    for (IVolumeAnalyze* analyzer : m_analyzers) {
        if (analyzer->GetFileSystemType() != FILE_SYSTEM_UNKNOWN) return analyzer;
    }
    return nullptr;
}

CVolumeAnalyzeController* CreateVolumeAnalyzeController(IStorageDevice* device, u64 startSector) {
    return new (std::nothrow) CVolumeAnalyzeController(device, startSector);
}
