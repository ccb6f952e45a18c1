#include "engine/HFSPlusLib/HFSPlusVolumeAnalyze.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "engine/HFSPlusLib/HFSPlusStructs.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace hfsplus;

CHFSPlusVolumeAnalyze::CHFSPlusVolumeAnalyze(IStorageDevice* device, u64 startSector) {
    if (!device) return;
    const u64 sectorSize = device->GetSectorSize() ? device->GetSectorSize() : 512;
    const u64 sector = startSector + kVolumeHeaderOffset / sectorSize;
    const u64 within = kVolumeHeaderOffset % sectorSize;
    if (sector > u64(INT64_MAX)) return;
    std::vector<u8> bytes;
    try {
        bytes.assign(size_t(sectorSize), 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    if (device->ReadSector(bytes.data(), i64(sector), 1) == 0) return;
    // A sector smaller than the header (a 512-byte sector holds it whole) leaves nothing to test.
    if (within + kVolumeHeaderSize > bytes.size()) return;
    const u8* header = bytes.data() + within;
    if (!CHFSPlusVolume::IsValidVolumeHeader(header, u16(kVolumeHeaderSize))) return;
    HFSPlusVolumeHeader h;
    DecodeVolumeHeader(ByteReader(header, kVolumeHeaderSize), h);
    m_type = FILE_SYSTEM_HFSPLUS;
    m_totalSectors = u64(h.totalBlocks) * h.blockSize / sectorSize;
}

void CHFSPlusVolumeAnalyze::GetLabel(char* buffer, int length) {
    if (!buffer || length < 1) return;
    std::memcpy(buffer, m_label, size_t(std::min(length, kLabelBytes)));
}

IVolumeAnalyze* CreateHFSPlusVolumeAnalyze(IStorageDevice* device, u64 startSector) {
    return new (std::nothrow) CHFSPlusVolumeAnalyze(device, startSector);
}
