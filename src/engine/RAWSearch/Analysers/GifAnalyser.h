// GIF: the streaming analyser walks the blocks as their sectors pass and ends the file, in whole
// sectors, at the sector that holds the trailer. It has no device fallback.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace BruteForce {

class CGifAnalyser : public IRawFileAnalyser {
public:
    CGifAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class CGifFileInfo : public CRawFileInfo {
public:
    static constexpr u64 kMaxSize = 0xD000000;
    CGifFileInfo();
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    i64 m_position = 0;  // the file offset of the next byte to read
    bool m_inSubBlocks = false;
    bool m_first = true;
};

}  // namespace BruteForce
