// Value sets shared by every searcher, the file model and the operations layer.
#pragma once

#include "engine/Common/Types.h"

// The engine that found a node (and the result tree it is filed under).
enum _tagSearcherType : u32 {
    SEARCHER_HFSPLUS = 31,
    SEARCHER_FAT = 32,
    SEARCHER_EXFAT = 33,
    SEARCHER_RAW = 34,
    SEARCHER_NTFS = 35,
    SEARCHER_RAW_TAG = 36,
    SEARCHER_APFS = 37,
    SEARCHER_NONE = 38,  // the base node class
};

// The tick state of a node; 1 is only ever derived for a folder.
enum _tagCheckedStatus : int {
    CHECKED_NONE = 0,
    CHECKED_PARTLY = 1,
    CHECKED_ALL = 2,
};

// Node times are 100-ns ticks since 1601-01-01.
using _FILETIME = i64;
