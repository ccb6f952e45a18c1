// The content of one found file as a stream of bytes.
#pragma once

#include "engine/Common/Types.h"

class IFileReader {
public:
    virtual ~IFileReader() = default;
    // Places up to length bytes from offset into buffer; the count placed, 0 on failure (then *error,
    // when given, is -1 for a device read that failed).
    virtual u32 ReadData(i64 offset, char* buffer, u32 length, int* error) = 0;
    // A new reader of the same file, owned by the caller.
    virtual IFileReader* Clone() = 0;
    virtual i64 GetDataSize() const = 0;
    virtual u32 IsCompressFile() = 0;
    virtual void Release() = 0;
};
