#include "engine/DataRecovery/ResidentData.h"

#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/ResidentDataStream.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/IDataRunList.h"

int FetchResidentDataStream(CFileNode* node, IStorageDevice* device, u8* buffer, u32 capacity, i64* length) {
    if (!node || !device || !buffer || !length) return 0;
    if (auto* ntfs = dynamic_cast<CNTFSFileNode*>(node)) return GetResidentDataRunsStream(*ntfs, *device, length, buffer, capacity);
    IDataRunList* runs = node->GetDataRunList();
    DataRun* first = runs ? runs->GetFirst() : nullptr;
    if (!first || first->start < 0) return 0;
    return GetResidentDataRunsStream(u64(first->start), *device, length, buffer, capacity);
}
