// gzip: the guessing record and the device analyser inflate the member and end the file just after its
// trailer (members that follow at once included). A stream that does not inflate ends as before: the
// guessing record where its data runs into zeros, the device analyser, after stepping over the header's
// optional fields (taking the stored name), at the first sector that ends in zeros.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Analysers/TextAnalysers.h"

namespace gz_layout {
inline constexpr size_t kMethod = 2;
inline constexpr size_t kFlags = 3;
inline constexpr size_t kExtraFlags = 8;
inline constexpr size_t kSystem = 9;
inline constexpr u64 kFixedHeader = 10;
inline constexpr u8 kFlagHeaderCrc = 0x02;
inline constexpr u8 kFlagExtra = 0x04;
inline constexpr u8 kFlagName = 0x08;
inline constexpr u8 kFlagComment = 0x10;
inline constexpr u64 kTextCap = 0x1400000;
inline constexpr u64 kDeviceCap = 0xD000000;
inline constexpr size_t kNameMax = 1024;
// The trailer's CRC and little-endian length may end in up to 8 zero bytes (a length below 16 MiB ends in
// at least one), where the bisection lands: 8 bytes are added so the trailer is never cut; gzip ignores
// the zero padding this may take in.
inline constexpr RawSpeed::ZeroRunRule kRule{20, 400000000, 8};
}  // namespace gz_layout

namespace CGzSearch {
// 1F 8B 08, flags below 32, operating system below 14.
bool IsValidGzHeader(const unsigned char* header, int length);
// The standard CRC-32 (polynomial 0xEDB88320).
unsigned int UpdateCRC(unsigned int crc, const unsigned char* data, int length);
unsigned int GetCRC(const unsigned char* data, int length);
}  // namespace CGzSearch

// Inflates gzip members fed in order and tells where the last one ended: the exact length of a gzip
// file, CRC and length checked.
class GzipMemberWalk {
public:
    enum class Step { More, End, Bad };
    GzipMemberWalk();
    ~GzipMemberWalk();
    GzipMemberWalk(const GzipMemberWalk&) = delete;
    GzipMemberWalk& operator=(const GzipMemberWalk&) = delete;
    // The next bytes of the file. End: the file ended (Length() is its size); Bad: not a gzip stream.
    Step Feed(const unsigned char* bytes, u64 length);
    u64 Length() const { return m_length; }

private:
    struct State;
    State* m_state;
    u64 m_fed = 0;
    u64 m_length = 0;
    bool m_bad = false;
};

class FileGZAnalyser : public IRawFileAnalyser {
public:
    FileGZAnalyser() : IRawFileAnalyser(RAW_TYPE_GZ) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace RawSpeed {

class GZAnalyzer : public PairedZeroRunAnalyser<FileGZAnalyser> {
public:
    GZAnalyzer() : PairedZeroRunAnalyser(RAW_TYPE_GZ, gz_layout::kRule) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

// Inflates the file sector by sector; a stream that does not inflate (or a sector skipped) is left to the
// zero-run rule.
class GzRawFileInfo : public ZeroRunRawFileInfo {
public:
    using ZeroRunRawFileInfo::ZeroRunRawFileInfo;
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    std::unique_ptr<GzipMemberWalk> m_walk = std::make_unique<GzipMemberWalk>();
    long long m_nextSector = -1;
};

}  // namespace RawSpeed
