// The file systems the engine tells apart.
#pragma once

#include "engine/Common/Types.h"

enum enumFILE_SYSTEM_TYPE : u32 {
    FILE_SYSTEM_FAT12 = 0,
    FILE_SYSTEM_FAT16 = 1,
    FILE_SYSTEM_FAT32 = 2,
    FILE_SYSTEM_NTFS = 3,
    FILE_SYSTEM_EXFAT = 7,
    FILE_SYSTEM_HFSPLUS = 8,
    FILE_SYSTEM_APFS = 9,
    FILE_SYSTEM_UNKNOWN = 10,
};
