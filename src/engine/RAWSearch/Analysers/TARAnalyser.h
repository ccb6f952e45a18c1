// tar: the guessing analyser walks the archive's records as their sectors pass; its fallback walks
// them on the device.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Analysers/TarLayout.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class FileTARAnalyser : public IRawFileAnalyser {
public:
    FileTARAnalyser();
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRequiredWord(u32& offset, u32& value) const override;
};

namespace RawSpeed {

class TARAnalyser : public IRawFileAnalyser {
public:
    TARAnalyser();
    ~TARAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRequiredWord(u32& offset, u32& value) const override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileTARAnalyser> m_fallback;
};

class TARRawFileInfo : public CRawFileInfo {
public:
    explicit TARRawFileInfo(IRawFileAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
    TarWalk m_walk;
    // An entry header of another archive being walked: found there again, not a file of its own.
    bool m_member = false;
};

}  // namespace RawSpeed
