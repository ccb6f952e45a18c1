// Resident $DATA of a file record, read from the device.
#pragma once

#include "engine/Common/Types.h"

class CNTFSFileNode;
class IStorageDevice;

// Non-zero on success: the resident data (at most bufferSize bytes) in buffer and its length in *length.
int GetResidentDataRunsStream(CNTFSFileNode& node, IStorageDevice& device, i64* length, u8* buffer, u32 bufferSize);
int GetResidentDataRunsStream(u64 recordSector, IStorageDevice& device, i64* length, u8* buffer, u32 bufferSize);
