// PNG: the streaming analyser walks the chunks as their sectors pass and ends the file after IEND;
// its fallback walks them on the device.
#pragma once

#include <memory>

#include "engine/RAWSearch/Core/RawFileInfo.h"

class FilePNGAnalyser : public IRawFileAnalyser {
public:
    static constexpr i64 kMaxPosition = 0x1400000;
    FilePNGAnalyser();
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace RawSpeed {

class PNGAnalyser : public IRawFileAnalyser {
public:
    PNGAnalyser();
    ~PNGAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FilePNGAnalyser> m_fallback;
};

class PNGRawFileInfo : public CRawFileInfo {
public:
    static constexpr i64 kMaxCovered = 100000000;
    explicit PNGRawFileInfo(IRawFileAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
    i64 m_position = 20;
    bool m_first = true;
};

}  // namespace RawSpeed
