// The file-system type that device enumeration recorded for a volume.
#pragma once

#include "engine/Common/Types.h"

class IStorageDevice;

namespace fat {
// 0 and the type, or the quick search's failure code (not a volume, no volume data, no record).
u64 RecordedFileSystemType(IStorageDevice* volume, u32& type);
}  // namespace fat
