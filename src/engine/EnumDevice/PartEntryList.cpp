#include "engine/EnumDevice/PartEntryList.h"

#include <memory>

#include "engine/Common/ResultCode.h"
#include "engine/PartitionTableAnalyze/IPartitionTableAnalyze.h"

u64 GetPartEntryList(IStorageDevice* disk, PartitionEntryList& out, u64 readerMissingCode) {
    out.clear();
    std::unique_ptr<IPartitionTableAnalyze> reader(CreatePartitionTableAnalyze());
    if (!reader) return readerMissingCode;
    u64 code = reader->AnalyzePartitionTable(disk, out);
    if (result::IsFailure(code)) return code;
    if (out.empty()) {
        PartitionEntry whole{};
        whole.number = -1;
        whole.startSector = 0;
        whole.sectorCount = disk ? disk->GetTotalSectors() : 0;
        out.push_back(whole);
    }
    return result::kSuccess;
}
