// The resident data stream of a node whose data lives inside its NTFS file record.
#pragma once

#include "engine/Common/Types.h"

class CFileNode;
class IStorageDevice;

// Fetches the stream into buffer (at most capacity bytes) and sets *length; non-zero on success.
// NTFS nodes are looked up by their own record; other nodes (restored from a saved result) keep the
// record's sector as their first run's start.
int FetchResidentDataStream(CFileNode* node, IStorageDevice* device, u8* buffer, u32 capacity, i64* length);
