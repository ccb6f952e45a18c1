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
    // As RecoverTo, into fd: the new, empty file that the caller created for the node without
    // following links (O_CREAT | O_EXCL | O_NOFOLLOW under the descriptor of its folder, folderFd).
    // Times go to the file through fd and to the folders above it through folderFd (-1: none), so no
    // path is resolved and any depth is reached. fd stays open for the caller to close; name is used
    // in log lines only.
    virtual u64 RecoverToFile(int fd, int folderFd, const char* name, IProgress* sink, int size) = 0;
    // A new object over the same partitions and device that shares no state with this one (its own
    // node, reader and buffer), released by the caller; null when none can be made.
    virtual IDataRecovery* Duplicate() { return nullptr; }
};

IDataRecovery* CreateDataRecoveryObj();
