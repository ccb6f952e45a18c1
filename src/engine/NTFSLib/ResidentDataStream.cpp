#include "engine/NTFSLib/ResidentDataStream.h"

#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"

namespace {

int CopyResidentStream(CNTFSMultiFileRecord* multi, i64* length, u8* buffer, u32 bufferSize) {
    if (!multi || !multi->IsValid()) return 0;
    const ByteReader data = FindMainDataRunsAttribute(*multi, nullptr, nullptr);
    if (data.empty()) return 0;
    return GetResidentAttributeDatafromAttributeBuffer(data, buffer, bufferSize, length) ? 1 : 0;
}

}  // namespace

int GetResidentDataRunsStream(CNTFSFileNode& node, IStorageDevice& device, i64* length, u8* buffer, u32 bufferSize) {
    if (!length || !buffer) return 0;
    return CopyResidentStream(GetMultiFileRecord(node, device).get(), length, buffer, bufferSize);
}

int GetResidentDataRunsStream(u64 recordSector, IStorageDevice& device, i64* length, u8* buffer, u32 bufferSize) {
    if (!length || !buffer) return 0;
    return CopyResidentStream(GetResidentFileRecord(recordSector, device).get(), length, buffer, bufferSize);
}
