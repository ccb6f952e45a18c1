// InDesign documents: the master page's GUID and "DOCUMENT"; the record steps over the pages and then
// over the contiguous objects as the search reads on. The file ends on the page after the last
// object. No fallback.
#pragma once

#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace RawSpeed {

class InddAnalyser : public IRawFileAnalyser {
public:
    InddAnalyser();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    // The GUID's first word at 0: the list lookup turns other sectors away without asking.
    bool GetRequiredWord(u32& offset, u32& value) const override;
};

class InddRawFileInfo : public CRawFileInfo {
public:
    InddRawFileInfo();
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = nullptr; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    i64 m_position = 0;
    bool m_firstCall = true;
};

}  // namespace RawSpeed
