// A guessing record whose file ends where its data runs into zeros (text formats), optionally at an
// end pattern near that point.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

class CZeroEndRawFileInfo : public CRawFileInfo {
public:
    CZeroEndRawFileInfo(u64 maxSize, u32 unit, const unsigned char* endPattern = nullptr, u16 endPatternLength = 0);

    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    // The length of the sector's data up to its last non-zero byte, given its trailing zero bytes.
    int extraZeroPos(unsigned char* sector, int sectorSize, int trailingZeroBytes) const;
    // Looks for the end pattern around the current end; 1 when found (size set), 2 otherwise.
    int foundEndByte(unsigned char* sector, int sectorSize);

    u64 m_maxSize;
    u32 m_unit;
    u64 m_nextCheck = 0;
    unsigned char m_endPattern[80] = {};
    u16 m_endPatternLength = 0;
};
