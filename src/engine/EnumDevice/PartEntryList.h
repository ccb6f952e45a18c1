// The entries of a disk's partition table, as partition and volume enumeration use them.
#pragma once

#include "engine/Common/Types.h"
#include "engine/PartitionTableAnalyze/PartitionEntry.h"
#include "engine/StorageDevice/IStorageDevice.h"

using PartEntry = PartitionEntry;

// Reads the disk's partition table. On failure out holds the entries read before it and the reader's
// code is returned. When the table is read and holds nothing, out holds one entry numbered -1 for the
// whole disk. readerMissingCode is returned when no reader can be made.
u64 GetPartEntryList(IStorageDevice* disk, PartitionEntryList& out, u64 readerMissingCode);
