// FreeHand 11 documents: recognised by fixed bytes and their version; the file ends where its data
// runs into zeros (4-byte records). No fallback.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace BruteForce {

class CFH11Analyser : public IRawFileAnalyser {
public:
    CFH11Analyser();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

}  // namespace BruteForce
