// Recognition of one file system on a volume: its type, size and label.
#pragma once

#include "engine/Common/Types.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

class IVolumeAnalyze {
public:
    virtual ~IVolumeAnalyze() = default;
    // FILE_SYSTEM_UNKNOWN (10) when the volume is not of this analyser's kind.
    virtual enumFILE_SYSTEM_TYPE GetFileSystemType() = 0;
    virtual i64 GetTotalSector() = 0;
    // Copies the label (UTF-8) into buffer; the result is always zero-terminated within length.
    virtual void GetLabel(char* buffer, int length) = 0;
};
