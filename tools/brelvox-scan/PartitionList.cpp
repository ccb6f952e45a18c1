#include "PartitionList.h"

#include "engine/DataRecovery/DataRecovery.h"
#include "engine/RecoveryController/IRecoveryController.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace scan {

std::string PartitionLines(IRecoveryController& controller) {
    static constexpr _tagSearcherType kFileSystems[] = {SEARCHER_HFSPLUS, SEARCHER_FAT, SEARCHER_EXFAT, SEARCHER_NTFS,
                                                        SEARCHER_APFS};
    std::string text;
    for (_tagSearcherType type : kFileSystems) {
        IDataRecovery* recovery = controller.GetDataRecovery(type);
        if (!recovery) continue;
        if (auto* records = dynamic_cast<CDataRecovery*>(recovery)) {
            const auto& partitions = records->GetSearchedPartition();
            for (u32 i = 0; i < records->GetPartitionCount() && i < partitions.size(); ++i) {
                const CSearchedPartitionInfo* p = partitions[i];
                if (!p) continue;
                text += std::to_string(u32(type)) + "\t" + std::to_string(p->m_partitionIndex) + "\t" +
                        std::to_string(p->m_fileSystemType) + "\t" + std::to_string(p->m_partitionStartSector) + "\t" +
                        std::to_string(p->m_cluster0Sector) + "\t" + std::to_string(p->m_totalSectors) + "\t" +
                        std::to_string(p->m_sectorsPerCluster) + "\t" + std::to_string(p->m_sectorSize) + "\t" +
                        std::to_string(p->m_score) + "\n";
            }
        }
        recovery->Release();
    }
    return text;
}

}  // namespace scan
