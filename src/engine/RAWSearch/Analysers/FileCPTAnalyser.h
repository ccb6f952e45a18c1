// Photo-Paint CPT images: recognised by their header, measured from the device by following the block
// table to the last block and the trailer it points to.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

class FileCPTAnalyser : public IRawFileAnalyser {
public:
    FileCPTAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};
