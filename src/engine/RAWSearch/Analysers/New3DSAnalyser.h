// 3DS files: chains of "MM" records, followed while the search reads on, and cartridge images sized
// from their "NCSD" header. A chain given up is measured from the device by File3DSAnalyser.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class File3DSAnalyser : public IRawFileAnalyser {
public:
    File3DSAnalyser();
    // "MM" at 0 or the editor mark at 16; the size is left to GetRawFileSize.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Walks the chain on the device from the record's start sector.
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace RawSpeed {

class New3DSAnalyser : public IRawFileAnalyser {
public:
    // listRow: the instance of the analyser list, asked only about sectors with "NCSD" at 256 (a chain's
    // "MM" start is the key of its own row, which the search asks first).
    explicit New3DSAnalyser(bool listRow = false);
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    bool GetRequiredWord(u32& offset, u32& value) const override;
    File3DSAnalyser* GetFallback() { return m_fallback.get(); }

private:
    bool m_listRow;
    std::unique_ptr<File3DSAnalyser> m_fallback = std::make_unique<File3DSAnalyser>();
};

class New3DSRawFileInfo : public CRawFileInfo {
public:
    explicit New3DSRawFileInfo(File3DSAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    // A chain not followed to its end is handed to the device walk.
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    File3DSAnalyser* m_fallback;
    i64 m_position = 0;
    bool m_firstCall = true;
    bool m_ncsd = false;
};

}  // namespace RawSpeed
