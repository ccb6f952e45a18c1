// The file system on a volume or partition device, through volume recognition.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"
#include "engine/StorageDevice/IStorageDevice.h"

// The recognised file-system type (10 when none) and its label, copied terminated into label.
u32 RecogniseVolume(IStorageDevice* device, char* label, std::size_t labelSize);
