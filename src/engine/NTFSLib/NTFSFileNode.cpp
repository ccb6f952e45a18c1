#include "engine/NTFSLib/NTFSFileNode.h"

#include <new>

#include "engine/NTFSLib/CompressFileReader.h"
#include "engine/NTFSLib/NTFSFileProperties.h"

void CNTFSFileNode::SetFileProperties(IFileProperties* properties) {
    if (!ReplaceProperties(properties) || !properties) return;
    SetCurrentNodeID(0);
    SetParentNodeID(5);
    if (auto* ntfs = dynamic_cast<CNTFSFileProperties*>(properties)) SetMetaDataSector(u64(ntfs->GetFileRecordStartSector()));
    SetDataRunList(properties->GetDataRunList());
}

IFileReader* CNTFSFileNode::CreateCompressFileReader(void*) { return new (std::nothrow) CCompressFileReader(); }
