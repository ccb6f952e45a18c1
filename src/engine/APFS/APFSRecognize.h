// The APFS member of the volume recognisers: a container superblock at the start of the volume, and
// the name of its first volume as the label.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/IVolumeAnalyze.h"

class IStorageDevice;

class APFSRecognize : public IVolumeAnalyze {
public:
    // At most this many superblocks of the checkpoint chain are visited for the label.
    static constexpr int kMaxSuperblocks = 32;

    APFSRecognize(IStorageDevice* device, u64 startSector, u64 sectorCount)
        : m_device(device), m_startSector(startSector), m_sectorCount(sectorCount) {}

    enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FILE_SYSTEM_APFS; }
    i64 GetTotalSector() override { return static_cast<i64>(m_sectorCount); }
    // The first 32 bytes of the first volume's name, found through the superblock chain, the
    // container's object map and the volume superblock. Nothing happens when the caller's label is
    // not empty; the label stays as it is when no name is found. Never writes past `length` bytes
    // and leaves a terminated text.
    void GetLabel(char* label, int length) override;

    // True when the sector bytes start with a container superblock of 4096-byte blocks.
    static bool IsContainerSuperblock(const u8* bytes, size_t size);

private:
    bool LabelFromSuperblock(const u8* superblock, char* label, int length);

    IStorageDevice* m_device;
    u64 m_startSector;
    u64 m_sectorCount;
};
