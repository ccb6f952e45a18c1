// Sigma X3F: the file ends with its directory section ("SECd"); the streaming analyser looks for it in
// every sector that ends in zeros, its fallback does so on the device.
#pragma once

#include <memory>

#include "engine/RAWSearch/Core/RawFileInfo.h"

class FileX3FAnalyser : public IRawFileAnalyser {
public:
    static constexpr u64 kMaxPosition = 109051904;
    FileX3FAnalyser();
    // Reads with the sector size of the device of each call (the analysers of the FAT deep search
    // outlive one search and its device).
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace Brance {

class X3FAnalyser : public IRawFileAnalyser {
public:
    X3FAnalyser();
    ~X3FAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileX3FAnalyser> m_fallback;
};

class X3FRawFileInfo : public CRawFileInfo {
public:
    static constexpr i64 kMaxLength = 0x6400000;
    explicit X3FRawFileInfo(IRawFileAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
    i64 m_end = 0;
};

}  // namespace Brance
