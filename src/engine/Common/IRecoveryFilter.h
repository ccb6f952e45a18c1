// The file-type filter of a scan: which found files belong to the chosen categories, and whether
// existing (not deleted) files are shown at all.
#pragma once

#include "engine/Common/Types.h"

class IFileNode;

// File categories as the user chooses them.
enum _FILTER_TYPE : u32 {
    FILTER_DOCUMENT = 1,
    FILTER_PICTURE = 2,
    FILTER_MOVIE = 4,
    FILTER_MUSIC = 8,
    FILTER_ARCHIVE = 16,
    FILTER_EMAIL = 32,
    FILTER_OTHER = 64,
    FILTER_ALL = 127,
};

enum _SCAN_TYPE : u32 {
    SCAN_QUICK = 0,
    SCAN_DEEP = 1,
};

class IRecoveryFilter {
public:
    virtual ~IRecoveryFilter() = default;
    virtual int ShowNormalFiles() = 0;
    virtual void SetScanType(_SCAN_TYPE type) = 0;
    virtual int IsFileNodeValid(IFileNode* node) = 0;
    virtual void SetFilterTypes(u32 bits) = 0;
    // The node's _FILTER_TYPE bit (64 for anything unknown).
    virtual u32 GetNodeFileType(IFileNode* node) = 0;
    virtual void Release() = 0;
};

// The process-wide filter.
IRecoveryFilter* CreateFilter();
