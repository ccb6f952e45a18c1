#include "engine/FATLib/FATVolume.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/FATLib/FATDirEntry.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

std::string fat::LabelFromEntry(const u8* entry) {
    std::string label;
    for (size_t i = 0; i < fat_dir_entry_layout::kShortNameSize; ++i) {
        const u8 c = entry[fat_dir_entry_layout::kName + i];
        label.push_back(c > 0x7F ? '_' : static_cast<char>(c));
    }
    while (!label.empty() && label.back() == ' ') label.pop_back();
    return label;
}

CFATVolume::CFATVolume(IStorageDevice* device)
    : m_device(device), m_sectorSize(device != nullptr ? device->GetSectorSize() : 512) {}

u64 CFATVolume::ConvertClusterToSector(u64 startSector, const CTempFATDBR& dbr, u64 cluster) const {
    if (cluster < 2) return ~u64{0};
    const u64 base = startSector + dbr.GetReservedSector() + u64{dbr.GetNumberOfFat()} * dbr.GetSectorsPerFat() +
                     u64{dbr.GetSectorsperCluster()} * (cluster - 2);
    switch (dbr.GetFileSystemType()) {
        case FILE_SYSTEM_FAT32:
            return base;
        case FILE_SYSTEM_FAT12:
        case FILE_SYSTEM_FAT16:
            return base + u64{dbr.GetRootEntries()} * fat_dir_entry_layout::kSize / (m_sectorSize ? m_sectorSize : 512);
        default:
            return ~u64{0};
    }
}

int CFATVolume::LabelInDirectory(u64 sector, u32 sectors, std::string& label) {
    std::vector<u8> buffer(u64{sectors} * m_sectorSize);
    if (buffer.empty() || m_device->ReadSector(buffer.data(), static_cast<i64>(sector), sectors) == 0) return -1;
    for (size_t off = 0; off + fat_dir_entry_layout::kSize <= buffer.size(); off += fat_dir_entry_layout::kSize) {
        const u8* e = buffer.data() + off;
        CTempFATDirEntry entry(e);
        if (!entry.IsValidFATDirEntry(true)) return -1;
        // Long-name pieces carry bit 0x08 too, but are never the label.
        if (entry.IsErased() || entry.IsLongFileNameEntry() || !entry.IsVolumeLabel()) continue;
        if (entry.IsNeverUsed()) return -1;
        label = fat::LabelFromEntry(e);
        return 1;
    }
    return 0;
}

bool CFATVolume::GetPartitionLabel(u64 startSector, const CTempFATDBR& dbr, std::string& label) {
    label.clear();
    if (m_device == nullptr) return false;
    const u32 spc = dbr.GetSectorsperCluster();
    if (spc == 0 || m_sectorSize == 0) return false;
    const u32 type = dbr.GetFileSystemType();
    if (type == FILE_SYSTEM_FAT32) {
        const u64 tableStart = startSector + dbr.GetReservedSector();
        const u64 clusterBytes = u64{spc} * m_sectorSize;
        const u64 entriesPerPiece = clusterBytes / 4;
        const u64 total = dbr.GetTotalSectors();
        // Bounded by the volume's cluster count and a visited set: a looping root chain ends.
        const u64 maxClusters = total / spc + 2;
        std::unordered_set<u64> visited;
        std::vector<u8> piece(clusterBytes);
        u64 loadedPiece = ~u64{0};
        u64 c = dbr.GetRootDirStartCluster();
        while (c >= 2 && c <= fat::kLastUsedCluster && visited.size() < maxClusters && visited.insert(c).second) {
            const u64 sector = ConvertClusterToSector(startSector, dbr, c);
            if (sector == ~u64{0}) return false;
            const int r = LabelInDirectory(sector, spc, label);
            if (r == 1) return true;
            if (r < 0) return false;
            const u64 want = c / entriesPerPiece;
            if (want != loadedPiece) {
                if (m_device->ReadSector(piece.data(), static_cast<i64>(tableStart + want * spc), spc) == 0) {
                    return false;
                }
                loadedPiece = want;
            }
            c = ByteReader(piece).Le32((c % entriesPerPiece) * 4).value_or(0) & 0x0FFFFFFF;
        }
        return false;
    }
    // FAT16 (and FAT12): the fixed root directory, read a cluster's worth at a time.
    const u64 rootStart = startSector + dbr.GetReservedSector() + u64{dbr.GetNumberOfFat()} * dbr.GetSectorsPerFat();
    const u64 rootSectors = u64{dbr.GetRootEntries()} * fat_dir_entry_layout::kSize / m_sectorSize;
    if (rootSectors == 0) return false;
    const u64 pieces = (rootSectors - 1) / spc + 1;
    for (u64 i = 0; i < pieces; ++i) {
        const u32 count = static_cast<u32>(std::min<u64>(spc, rootSectors - i * spc));
        const int r = LabelInDirectory(rootStart + i * spc, count, label);
        if (r == 1) return true;
        if (r < 0) return false;
    }
    return false;
}

CFatVolumeAnalyze::CFatVolumeAnalyze(IStorageDevice* device, u64 startSector) {
    if (device == nullptr) return;
    const u32 sectorSize = device->GetSectorSize();
    if (!fat::IsSupportedSectorSize(sectorSize)) return;
    std::vector<u8> buffer(u64{sectorSize} * 4);
    if (device->ReadSector(buffer.data(), static_cast<i64>(startSector), 4) == 0) return;
    CTempFATDBR dbr(buffer.data(), sectorSize);
    if (!dbr.IsValidDBR()) return;
    m_type = static_cast<enumFILE_SYSTEM_TYPE>(dbr.GetFileSystemType());
    m_totalSectors = static_cast<i64>(dbr.GetTotalSectors());
    std::string label;
    if (CFATVolume(device).GetPartitionLabel(startSector, dbr, label)) {
        std::memcpy(m_label, label.data(), std::min(label.size(), sizeof(m_label) - 1));
    }
}

void CFatVolumeAnalyze::GetLabel(char* buffer, int length) {
    if (buffer == nullptr || length < 1) return;
    const size_t n = std::min<size_t>(static_cast<size_t>(length), sizeof(m_label));
    std::memcpy(buffer, m_label, n);
    // The field is zero-filled past the label; only a copy that fills the whole buffer needs an end.
    if (n == static_cast<size_t>(length)) buffer[length - 1] = '\0';
}

IVolumeAnalyze* CreateFatVolumeAnalyze(IStorageDevice* device, u64 startSector) {
    return new (std::nothrow) CFatVolumeAnalyze(device, startSector);
}
