// Copies found files out of a scanned device.
#pragma once

#include "engine/Common/Types.h"

class IFileNode;
class IFileReader;
class IFileSystemSearchController;
class IProgress;
class IStorageDevice;

class IDataRecovery {
public:
    virtual ~IDataRecovery() = default;
    // Takes the searcher's partition records; a result code.
    virtual u64 Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) = 0;
    // Makes node the one to copy; returns a reader of it owned by the caller, or null.
    virtual IFileReader* SetRecoverNode(IFileNode* node) = 0;
    // Writes the node's data (size bytes, or all of it for 0) to path and sets its times; a result code.
    virtual u64 RecoverTo(const char* path, IProgress* sink, int size) = 0;
    // Copies a small JPEG embedded in the first 64 KiB of the node to out; its length or 0.
    virtual u32 ReadSmallJPG(char* out, u32 outSize) = 0;
    virtual void Release() = 0;
};

IDataRecovery* CreateDataRecoveryObj();
