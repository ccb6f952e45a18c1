// NGRR files: "-in-" at 0, then a chain of "data" chunks from byte 60 that the record follows while
// the search reads on; the file ends at the first position without a chunk. No fallback.
#pragma once

#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace RawSpeed {

class NGRRAnalyser : public IRawFileAnalyser {
public:
    NGRRAnalyser();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class NGRRRawFileInfo : public CRawFileInfo {
public:
    NGRRRawFileInfo();
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = nullptr; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    i64 m_position = ngrr_layout::kFirstChunk;
};

}  // namespace RawSpeed
