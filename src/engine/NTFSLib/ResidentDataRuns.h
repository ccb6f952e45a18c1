// Reading the resident data of an NTFS file record (the NTFS search supplies these).
#pragma once

#include "engine/Common/Types.h"

class IStorageDevice;

// Reads the file record at recordSector (with its extension records), finds the main data attribute
// and, when it is resident, copies at most bufferSize bytes of its data into buffer and sets *length
// to the data's length. 0 when the record cannot be read or the attribute is missing or not resident.
int GetResidentDataRunsStream(u64 recordSector, IStorageDevice& device, i64* length, u8* buffer, u32 bufferSize);
