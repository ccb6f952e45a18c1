// DWG drawings. The analyser accepts the releases it knows by the "AC10nn" at the file's start; the
// record sizes the file while the search reads on: from the section locators (releases 13 to 15), the
// descrambled file header (18, 24, 27) or the stored file header (21). Release 9 drawings and the
// release 21 files whose header is compressed are accepted without a size. No fallback.
#pragma once

#include <array>

#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace BruteForce {

class CDWGAnalyser : public IRawFileAnalyser {
public:
    CDWGAnalyser();
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class CDWGRawInfo : public CRawFileInfo {
public:
    enum Format : u32 { kUnknown = 0, kLocators = 1, kScrambled = 2, kCoded = 3 };

    CDWGRawInfo();
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = nullptr; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    // The release 18 header at 0x80, descrambled (108 bytes in place).
    static void Descramble(unsigned char* header, size_t length);
    // The 717 data bytes of the 984 coded bytes of a release 21 file.
    static std::array<unsigned char, dwg_layout::kDecodedSize> Deinterleave(const unsigned char* coded);

private:
    int FirstSector(const unsigned char* sector, int sectorSize);
    int WalkLocators(const unsigned char* sector, int sectorSize, long long sectorNumber, const SearchContext& ctx);
    int CollectCoded(const unsigned char* sector, int sectorSize, i64 covered);
    int Finish(u64 size);

    u32 m_format = kUnknown;
    // Releases 13 to 15.
    i64 m_readPosition = dwg_layout::kFirstLocator;  // file offset of the next locator
    u32 m_nextRecord = 0;
    u32 m_recordCount = 0;
    u64 m_largestEnd = 0;
    // Release 21.
    u32 m_codedWanted = dwg_layout::kCodedHeaderSize;
    u32 m_codedHeld = 0;
    std::array<unsigned char, dwg_layout::kCodedHeaderSize> m_coded{};
};

}  // namespace BruteForce
