#include "bridge/SaveRestore/FindSavedDevice.h"

#include <vector>

#include "bridge/Device/KXUIDeviceData.h"

namespace SaveRestoreResult {

namespace {

bool SameDevice(const _DiskVolumeData& row, const saved_result::SavedDevice& record) {
    return row.name == record.name && row.fileSystem == record.fileSystem && row.capacity == record.capacity;
}

}  // namespace

IStorageDevice* GetFromDiskVolumeData(KXUIDeviceData& model, const saved_result::SavedDevice& record,
                                      const char* imagePath) {
    if (record.isEdi) {
        if (!record.ediInfo) return nullptr;
        std::vector<u8> block = *record.ediInfo;
        return model.GetStorageByEdiInfo(block.data(), static_cast<int>(block.size()), imagePath);
    }
    if (record.isAppleDmg) {
        if (!record.dmgInfo) return nullptr;
        std::vector<u8> block = *record.dmgInfo;
        return model.GetStorageByDmgInfo(block.data(), static_cast<int>(block.size()), imagePath);
    }
    if (model.GetInitState() != KXUIDeviceData::kReady) model.InitDeviceInfo();
    if (IStorageDevice* device = model.GetStorageByDiskVolumeIndex(record.diskIndex, record.volumeIndex)) {
        _DiskVolumeData now;
        const bool known = record.volumeIndex == -1 ? model.GetDiskDataByStorage(device, now)
                                                    : model.GetVolumeDataByStorage(device, now);
        // The name counts too: after a re-index another disk of the same size may stand at the indexes.
        if (known && SameDevice(now, record)) return device;
    }
    std::vector<_DiskVolumeData> rows;
    model.GetAllDeviceInfo(rows);
    for (const _DiskVolumeData& disk : rows) {
        if (SameDevice(disk, record)) return model.GetStorageByDiskVolumeIndex(disk.diskIndex, disk.volumeIndex);
        for (const _DiskVolumeData& volume : disk.subVolumes) {
            if (SameDevice(volume, record))
                return model.GetStorageByDiskVolumeIndex(volume.diskIndex, volume.volumeIndex);
        }
    }
    return nullptr;
}

}  // namespace SaveRestoreResult
