// The exFAT boot sector: its validity test and geometry at the device's sector size, recognition for
// device enumeration, and the quick exFAT search started from it (allocation table pieces read on
// demand, the folders it names walked). The input is a volume (see fuzz/support/FuzzDevice.h: two
// geometry bytes, then the sectors, folded, so the table and the root folder are always in the input).
#include <memory>
#include <vector>

#include "engine/EXFatSearch/ExFatDBR.h"
#include "engine/EXFatSearch/ExFatQuickSearch.h"
#include "engine/EXFatSearch/ExFatVolumeAnalyze.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/NodeSink.h"

BRELVOX_FUZZ_TARGET(fuzz::kDeviceHeaderBytes + 64 * 1024) {
    fuzz::DeviceInput in;
    if (!fuzz::ReadDeviceHeader(data, size, in)) return;
    fuzz::FuzzDevice device(in.image, in.imageSize, in.sectorSize, in.totalSectors);
    device.SetVolumeRecord(FILE_SYSTEM_EXFAT);

    std::vector<u8> first(in.sectorSize, 0);
    device.ReadSector(first.data(), 0, 1);
    const CExFatDBR dbr(first.data(), first.size());
    if (dbr.IsValid(in.sectorSize)) {
        volatile u64 geometry = dbr.GetTotalSectors() + dbr.GetFatStartSector() + dbr.GetSectorsPerFat() +
                                dbr.GetDataRegionStartSector() + dbr.GetTotalCluster() + dbr.GetRootDirStartCluster() +
                                dbr.GetActiveFatNumber() + dbr.GetBytePerSector() + dbr.GetSectorsperCluster() +
                                dbr.GetNumberOfFat();
        (void)geometry;
    }
    std::unique_ptr<IVolumeAnalyze> recognised(CreateExfatVolumeAnalyze(&device, 0));
    if (recognised) {
        char label[64];
        recognised->GetLabel(label, sizeof label);
    }

    fuzz::NodeSink sink;
    fuzz::GoOnProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateEXFatQuickSearcher());
    searcher->SetDirecotryTreeBuilder(&sink);
    searcher->QuickSearchFiles(&device, &progress);
}
