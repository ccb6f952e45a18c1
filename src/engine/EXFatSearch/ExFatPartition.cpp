#include "engine/EXFatSearch/ExFatPartition.h"

#include <algorithm>
#include <new>

#include "engine/EXFatSearch/ExFatDirEntry.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/Common/ByteReader.h"
#include "engine/FATLib/FATDirEntry.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/IDataRunList.h"

_FILETIME DosTime2FileTime(u32 stamp) {
    _FILETIME out = 0;
    DosDateTimeToFileTime(static_cast<u16>(stamp >> 16), static_cast<u16>(stamp & 0xFFFF), &out);
    return out;
}

i64 CExFatPartition::ConvertClusterNumToSector(u32 cluster) const {
    if (cluster < exfat::kFirstCluster) return 0;
    return i64{m_sectorsPerCluster} * (i64{cluster} - exfat::kFirstCluster) + m_dataStart;
}

u32 CExFatPartition::ConvertSectorToClusterNum(i64 sector) const {
    if (m_sectorsPerCluster == 0) return 0;
    const i64 spc = m_sectorsPerCluster;
    return static_cast<u32>((sector - m_dataStart + spc - 1) / spc + exfat::kFirstCluster);
}

u32 CExFatPartition::GetNextCluster(u32 cluster, int /*fatIndex*/) {
    return cluster < m_clusterBound ? CFatTable::GetNextCluster(cluster) : exfat::kNoCluster;
}

i64 CExFatPartition::NodeIdOf(const _tagFileBaseFields& record) {
    if (record.firstCluster >= exfat::kFirstCluster) return ConvertClusterNumToSector(record.firstCluster);
    return m_nextVirtualId++;
}

CExFatFileNode* CExFatPartition::BuildFile(const _tagFileBaseInfo& record) {
    return BuildFile(record, record.NameUnits());
}

CExFatFileNode* CExFatPartition::BuildFile(const _tagFileBaseFields& record, std::u16string_view name) {
    char ascii[_tagFileBaseInfo::kMaxNameUnits];
    size_t length = 0;
    if (name.size() <= sizeof ascii && ExFatAsciiName(name, ascii, length)) {
        return BuildFile(record, std::string_view(ascii, length));
    }
    return BuildFile(record, std::string_view(ExFatNameToUtf8(name)));
}

CExFatFileNode* CExFatPartition::BuildFile(const _tagFileBaseFields& record, std::string_view utf8Name) {
    auto* node = new (std::nothrow) CExFatFileNode();
    if (node == nullptr) return nullptr;
    node->SetFirstCluster(record.firstCluster);
    node->SetFileAttributes(record.attributes);
    // The three stamps are often one: converted once then.
    const _FILETIME created = DosTime2FileTime(record.createTime);
    const _FILETIME modified =
        record.modifiedTime == record.createTime ? created : DosTime2FileTime(record.modifiedTime);
    const _FILETIME accessed = record.accessedTime == record.createTime     ? created
                               : record.accessedTime == record.modifiedTime ? modified
                                                                            : DosTime2FileTime(record.accessedTime);
    node->SetFileTime(created, modified, accessed);
    node->SetFileName(utf8Name.data(), utf8Name.size());
    node->SetFileSize(record.dataLength);
    node->SetMetaDataSector(static_cast<u64>(record.sector));
    if (record.inUse == 0) node->SetFileDeleted();
    IDataRunList* runs = BuildFileDataRun(record);
    if (runs == nullptr) {
        node->Release();
        return nullptr;
    }
    node->SetDataRunList(runs);
    return node;
}

IDataRunList* CExFatPartition::BuildFileDataRun(const _tagFileBaseFields& record) {
    IDataRunList* runs = CreateDataRunList();
    if (runs == nullptr) return nullptr;
    if (record.IsDirectory() || record.dataLength <= 0 || !exfat::IsCluster(record.firstCluster) ||
        m_clusterSize == 0) {
        return runs;
    }
    const u64 clusterBytes = m_clusterSize;
    const u64 length = static_cast<u64>(record.dataLength);
    if (record.noFatChain != 0) {
        runs->AddDataRun(DataRun{i64{record.firstCluster} - exfat::kFirstCluster, (length + clusterBytes - 1) / clusterBytes});
        return runs;
    }
    // A chain that loops is caught by a checkpoint moved to every power-of-two step (Brent): it never
    // adds more runs than the length needs, and it ends at the first repeat it meets.
    u64 remaining = length;
    u32 cluster = record.firstCluster;
    u32 checkpoint = exfat::kNoCluster;
    u64 steps = 0;
    u64 nextCheckpoint = 1;
    for (;;) {
        runs->AddDataRun(DataRun{i64{cluster} - exfat::kFirstCluster, 1});
        u32 next = GetNextCluster(cluster, 0);
        if (remaining <= clusterBytes) break;
        if (!exfat::IsCluster(next)) {
            if (record.inUse != 0) break;
            // The chain of a deleted file was freed: its clusters are free ones after the last.
            for (remaining -= clusterBytes; remaining > 0; remaining -= std::min(remaining, clusterBytes)) {
                cluster = NextFreeCluster(cluster);
                if (cluster == exfat::kNoCluster) break;
                runs->AddDataRun(DataRun{i64{cluster} - exfat::kFirstCluster, 1});
            }
            break;
        }
        remaining -= clusterBytes;
        if (next == checkpoint) break;
        if (++steps == nextCheckpoint) {
            checkpoint = cluster;
            nextCheckpoint *= 2;
        }
        cluster = next;
    }
    return runs;
}

void CExFatPartition::UseAllocationBitmap(IStorageDevice* device) {
    m_bitmapDevice = device;
    m_bitmapState = BitmapState::Unknown;
    m_bitmapLength = 0;
    m_bitmapClusters.clear();
    m_bitmapSector.clear();
    m_bitmapSectorAt = -1;
}

bool CExFatPartition::FindAllocationBitmap() {
    IStorageDevice* device = m_bitmapDevice;
    const u32 sectorSize = device != nullptr ? device->GetSectorSize() : 0;
    if (sectorSize == 0 || sectorSize != m_sectorSize || !exfat::IsCluster(m_rootCluster) ||
        m_rootCluster >= m_clusterBound || m_clusterSize == 0 || m_clusterSize > (1u << exfat::kMaxClusterShift))
        return false;
    std::vector<u8> root(m_clusterSize, 0);
    const i64 sector = ConvertClusterNumToSector(m_rootCluster);
    if (sector <= 0 || sector + m_sectorsPerCluster > device->GetTotalSectors() ||
        device->ReadSector(root.data(), sector, m_sectorsPerCluster) == 0)
        return false;
    namespace e = exfat::entry;
    const ByteReader entries(root.data(), root.size());
    for (size_t at = 0; entries.Has(at, e::kSize); at += e::kSize) {
        const u8 type = entries.U8(at + e::kType).value_or(e::kEndOfDirectory);
        if (type == e::kEndOfDirectory) break;
        // The first bitmap (a volume with two FATs has a second one).
        if (type != e::kBitmap || (entries.U8(at + exfat::bitmap::kFlags).value_or(1) & 1) != 0) continue;
        const u32 first = entries.Le32(at + exfat::bitmap::kFirstCluster).value_or(0);
        const u64 length = entries.Le64(at + exfat::bitmap::kDataLength).value_or(0);
        // One bit per cluster of the heap, no more.
        if (!exfat::IsCluster(first) || first >= m_clusterBound || length == 0 || length > u64{m_clusterBound} / 8 + 1)
            return false;
        m_bitmapLength = length;
        // Its clusters through the FAT, one after the other where the FAT does not go on.
        const u64 count = (length + m_clusterSize - 1) / m_clusterSize;
        u32 cluster = first;
        for (u64 i = 0; i < count; ++i) {
            if (!exfat::IsCluster(cluster) || cluster >= m_clusterBound) return false;
            m_bitmapClusters.push_back(cluster);
            const u32 next = GetNextCluster(cluster, 0);
            cluster = exfat::IsCluster(next) && next != cluster ? next : cluster + 1;
        }
        return true;
    }
    return false;
}

std::optional<bool> CExFatPartition::IsClusterInUse(u32 cluster) {
    if (m_bitmapState == BitmapState::Unknown)
        m_bitmapState = FindAllocationBitmap() ? BitmapState::Found : BitmapState::Missing;
    if (m_bitmapState != BitmapState::Found || !exfat::IsCluster(cluster)) return std::nullopt;
    const u64 bit = u64{cluster} - exfat::kFirstCluster;
    const u64 byte = bit / 8;
    if (byte >= m_bitmapLength) return std::nullopt;
    const u64 index = byte / m_clusterSize;
    if (index >= m_bitmapClusters.size()) return std::nullopt;
    const u64 inCluster = byte % m_clusterSize;
    const i64 sector = ConvertClusterNumToSector(m_bitmapClusters[index]) + i64(inCluster / m_sectorSize);
    if (sector != m_bitmapSectorAt) {
        m_bitmapSector.assign(m_sectorSize, 0);
        if (sector >= m_bitmapDevice->GetTotalSectors() || m_bitmapDevice->ReadSector(m_bitmapSector.data(), sector, 1) == 0) {
            m_bitmapSectorAt = -1;
            return std::nullopt;
        }
        m_bitmapSectorAt = sector;
    }
    return (m_bitmapSector[inCluster % m_sectorSize] >> (bit % 8) & 1) != 0;
}

u32 CExFatPartition::NextFreeCluster(u32 cluster) {
    for (u32 next = cluster + 1; exfat::IsCluster(next) && next < m_clusterBound; ++next) {
        if (IsClusterInUse(next).value_or(false) == false) return next;
    }
    return exfat::kNoCluster;
}
