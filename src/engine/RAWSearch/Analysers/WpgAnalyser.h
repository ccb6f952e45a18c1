// WPG: the streaming analyser ends the file in the first sector whose data runs into zeros. A file
// it gives up is not sized (it has no device fallback).
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace RawSpeed {

class WpgAnalyser : public IRawFileAnalyser {
public:
    WpgAnalyser();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class WPGRawFileInfo : public CRawFileInfo {
public:
    static constexpr i64 kMaxCovered = 500000000;
    WPGRawFileInfo();
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = nullptr; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
};

}  // namespace RawSpeed
