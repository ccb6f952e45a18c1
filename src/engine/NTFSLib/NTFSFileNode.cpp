#include "engine/NTFSLib/NTFSFileNode.h"

#include <new>

#include "engine/NTFSLib/CompressFileReader.h"

IFileReader* CNTFSFileNode::CreateCompressFileReader(void*) { return new (std::nothrow) CCompressFileReader(); }
