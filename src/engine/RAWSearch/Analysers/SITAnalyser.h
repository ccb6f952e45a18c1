// StuffIt archives: classic archives state their total length in their header; StuffIt X archives end
// in one of three 8-byte end markers; a third kind, with a 16-byte header of its own, ends where its
// data turns to zeros. The guessing analyser hands abandoned records to its device analyser.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class ByteReader;

namespace sit_layout {
inline constexpr size_t kKind = 7;            // " " classic, "!" StuffIt X
inline constexpr size_t kClassicLength = 84;  // u32 big-endian
inline constexpr unsigned char kZeroEndHeader[16] = {0x57, 0x45, 0x42, 0x42, 0x41, 0x49, 0x4B, 0x45,
                                                     0x66, 0x66, 0xEB, 0xB4, 0xA3, 0x74, 0xBD, 0x7B};
// The end markers are 02 D7 0A, one of 19 / 3B / 10, then 98 F6 42 88.
inline constexpr unsigned char kMarkerHead[3] = {0x02, 0xD7, 0x0A};
inline constexpr unsigned char kMarkerTail[4] = {0x98, 0xF6, 0x42, 0x88};
inline constexpr u64 kMarkerLength = 8;
inline constexpr int kMarkerPositions = 20;  // the marker starts at one of the 20 bytes before the zero run
inline constexpr i64 kGuessCap = 2000000000;
inline constexpr u64 kDeviceCap = 0x82000000;
}  // namespace sit_layout

namespace sit_rules {
// Offset of the first complete end marker in bytes (from `from` on), or -1.
i64 FindEndMarker(const ByteReader& bytes, u64 from);
// Bytes the archive runs past the start of its end marker: the marker and 4, 5 or 6 more (by its
// fourth byte: 0x19, ";" or another value).
u64 EndAfterMarker(u8 markerKind);
}  // namespace sit_rules

class FileSITAnalyser : public IRawFileAnalyser {
public:
    FileSITAnalyser() : IRawFileAnalyser(RAW_TYPE_SIT) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // "fIt" at 4; the type is left as it is.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace RawSpeed {

class SITAnalyser : public IRawFileAnalyser {
public:
    SITAnalyser();
    ~SITAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    // "fIt" at 4, or the 16-byte zero-end header at 0.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileSITAnalyser> m_fallback;
};

class SITRawFileInfo : public CRawFileInfo {
public:
    explicit SITRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_SIT; }
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
    // Sets the kind from the first sector.
    void JudgeSIT(const unsigned char* header);

private:
    IRawFileAnalyser* m_fallback;
    bool m_classic = true;
    bool m_judgePending = true;
    bool m_zeroEnd = false;
};

}  // namespace RawSpeed
