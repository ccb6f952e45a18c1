// After Effects projects: a big-endian RIFX chunk of form "Egg", possibly followed by an XMP packet.
// The record waits for the chunk's end; without a packet there, the file ends with the chunk, else it
// ends where the packet's sector runs into zeros. No fallback.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace RawSpeed {

class AEPAnalyser : public IRawFileAnalyser {
public:
    AEPAnalyser();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class AEPRawFileInfo : public CRawFileInfo {
public:
    AEPRawFileInfo();
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = nullptr; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    i64 m_position = 20;
    bool m_firstCall = true;
    bool m_xmp = false;
};

}  // namespace RawSpeed
