// Compressed disk images: a bzip2 stream at the image's start and the 512-byte trailer beginning with
// "koly" at its end. Both analysers end the image 512 bytes after the trailer's start; the trailer is
// looked for in sectors that end in zeros, together with the bytes before them (it need not start at a
// sector boundary).
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class ByteReader;

namespace dmg_layout {
inline constexpr char kMagic[] = "BZh11AY&SY";
inline constexpr char kTrailer[] = "koly";
inline constexpr u64 kTrailerLength = 512;
inline constexpr u64 kGuessCap = 0xC800000;
inline constexpr u64 kDeviceCap = 0x82000000;
}  // namespace dmg_layout

namespace dmg_rules {
// Offset of the last "koly" in bytes whose 512-byte trailer would end within end, or -1.
i64 FindTrailer(const ByteReader& bytes, u64 end);
}  // namespace dmg_rules

class FileDMGAnalyser : public IRawFileAnalyser {
public:
    FileDMGAnalyser() : IRawFileAnalyser(RAW_TYPE_DMG) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace Brance {

class DMGAnalyser : public IRawFileAnalyser {
public:
    DMGAnalyser();
    ~DMGAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileDMGAnalyser> m_fallback;
};

class DMGRawFileInfo : public CRawFileInfo {
public:
    explicit DMGRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_DMG; }
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
};

}  // namespace Brance
