// SVG drawings and the XML files recognised with them: GPX tracks, XML property lists, citation styles
// (CSL) and note exports (ENEX), plus the binary form that gives its length at 1100. The record ends a
// GPX or property list at its closing tag in a zero-padded sector, a text file at the zero-padded sector
// holding a closing "</". A record given up is measured from the device by FileSVGAnalyser.
#pragma once

#include "engine/RAWSearch/Core/RawFileInfo.h"

class StreamWindow;

class FileSVGAnalyser : public IRawFileAnalyser {
public:
    FileSVGAnalyser();
    // Reads up to 2048 bytes from the sector pointer (the search's buffer holds them).
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // Walks the device's sectors from the record's start to the first that ends in two zero bytes; the
    // sector size is the given device's, whatever device an earlier call had.
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace Brance {

class SVGAnalyser : public IRawFileAnalyser {
public:
    SVGAnalyser();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    // Reads up to 512 bytes from the sector pointer.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    FileSVGAnalyser* GetFallback() { return &m_fallback; }

private:
    FileSVGAnalyser m_fallback;
};

class SVGRawFileInfo : public CRawFileInfo {
public:
    explicit SVGRawFileInfo(FileSVGAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    int ListSize(const unsigned char* sector, int n, i64 covered, const SearchContext& ctx);
    int BinarySize(const StreamWindow& window, long long sectorNumber);
    int TextSize(const unsigned char* sector, int n, long long sectorNumber, const StreamWindow& window);

    FileSVGAnalyser* m_fallback;
    bool m_binary = false;
    bool m_firstCall = true;
};

}  // namespace Brance
