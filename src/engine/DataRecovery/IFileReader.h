// The content of one found file as a stream of bytes.
#pragma once

#include "engine/Common/Types.h"

class CFileNode;
class CSearchedPartitionInfo;
class IProgress;
class IStorageDevice;

class IFileReader {
public:
    virtual ~IFileReader() = default;
    // Places up to length bytes from offset into buffer; the count placed, 0 on failure (then *error,
    // when given, is -1 for a device read that failed).
    virtual u32 ReadData(i64 offset, char* buffer, u32 length, int* error) = 0;
    // A new reader of the same file, owned by the caller.
    virtual IFileReader* Clone() = 0;
    virtual i64 GetDataSize() const = 0;
    // How much of the data a copy can take: the data size, or less when the recorded size cannot be
    // true (larger than everything the file's extents and its volume hold); the rest is unreadable.
    virtual i64 GetReadableSize() const { return GetDataSize(); }
    virtual u32 IsCompressFile() = 0;
    virtual void Release() = 0;

    // Readies the reader for the node's data on device, as record describes its partition; non-zero
    // on success. A reader that its node made ready by itself keeps this default.
    virtual int Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* record) { return 1; }
    // True for a reader that writes a whole file by its own walk over the data (NTFS compression
    // units) rather than chunk by chunk through ReadData; WriteWholeFile then does the writing.
    virtual bool WritesWholeFile() const { return false; }
    // Writes the whole file into fd, an empty regular file open for writing (the caller's: it stays
    // open). A file whose data lives in its record sets resident and writes nothing, for the caller
    // to copy through ReadData. False when the data cannot be written (a full disk included).
    virtual bool WriteWholeFile(int fd, IProgress* sink, bool& resident) { return false; }
};
