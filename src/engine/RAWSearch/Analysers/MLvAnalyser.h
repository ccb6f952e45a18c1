// Magic Lantern video: blocks of a 4-byte type and their 32-bit little-endian size, walked while their
// sectors pass. The file ends at the first block of an unknown type (or of size 0), or at the zero run
// that closed an earlier sector when there is one.
#pragma once

#include "engine/RAWSearch/Analysers/AvTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace RawSpeed {

class MLvAnalyser : public IRawFileAnalyser {
public:
    MLvAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class MLvRawFileInfo : public CRawFileInfo {
public:
    MLvRawFileInfo() { m_type = RAW_TYPE_MLV; }
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    int End(long long sectorNumber, u64 size);

    u64 m_walked = 0;
    u64 m_candidate = 0;  // where the trailing zeros of a sector holding a block began; 0 for none
    bool m_ended = false;
};

}  // namespace RawSpeed
