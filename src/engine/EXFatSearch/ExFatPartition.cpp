#include "engine/EXFatSearch/ExFatPartition.h"

#include <new>

#include "engine/EXFatSearch/ExFatDirEntry.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/FATLib/FATDirEntry.h"
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
        const u32 next = GetNextCluster(cluster, 0);
        if (!exfat::IsCluster(next) || remaining <= clusterBytes) break;
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
