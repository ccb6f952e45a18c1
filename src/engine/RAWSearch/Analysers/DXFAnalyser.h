// DXF drawings (text). A file begins with its first section ("  0", "SECTION") or with a "999"
// comment before it; the record follows the sectors until the end tag "  0" "EOF" in the file's own
// line ends. No fallback.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace BruteForce {

class CDXFAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    CDXFAnalyser();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    // Accepted only through AnalyseBufferEx, which sees the bytes that follow the sector.
    int AnalyseBuffer(unsigned char*, CRawFileInfo&) override { return 0; }
    CRawFileInfo* CreateRawFileInfo() override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long bufferStartSector, long long blockEndSector) override;
};

class CDXFRawFileInfo : public CRawFileInfo {
public:
    static constexpr i64 kMaxSize = 0xD000000;
    CDXFRawFileInfo();
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = nullptr; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    unsigned char m_endTag[10] = {};
    u32 m_endTagLength = 0;  // 0 until the start sector chose it
};

}  // namespace BruteForce
