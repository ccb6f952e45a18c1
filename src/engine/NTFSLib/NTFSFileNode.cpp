#include "engine/NTFSLib/NTFSFileNode.h"

#include <new>

#include "engine/NTFSLib/CompressFileReader.h"
#include "engine/NTFSLib/NTFSFileProperties.h"
#include "engine/NTFSLib/ResidentDataStream.h"

void CNTFSFileNode::SetFileProperties(IFileProperties* properties) {
    Adopt(properties, dynamic_cast<CNTFSFileProperties*>(properties));
}

void CNTFSFileNode::SetFileProperties(CNTFSFileProperties* properties) { Adopt(properties, properties); }

void CNTFSFileNode::Adopt(IFileProperties* properties, CNTFSFileProperties* ntfs) {
    if (!ReplaceProperties(properties) || !properties) return;
    SetCurrentNodeID(0);
    SetParentNodeID(5);
    if (ntfs) SetMetaDataSector(u64(ntfs->GetFileRecordStartSector()));
    SetDataRunList(properties->GetDataRunList());
}

IFileReader* CNTFSFileNode::CreateCompressFileReader(void*) { return new (std::nothrow) CCompressFileReader(); }

int CNTFSFileNode::ReadResidentData(IStorageDevice& device, u8* buffer, u32 capacity, i64* length) {
    return GetResidentDataRunsStream(*this, device, length, buffer, capacity);
}
