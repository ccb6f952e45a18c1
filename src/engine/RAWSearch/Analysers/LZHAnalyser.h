// LHA (LZH) archives: a chain of entry headers, each followed by its compressed data, closed by one zero
// byte. The guessing analyser walks the chain as its sectors pass; its device analyser walks it on the
// device.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class ByteReader;

namespace lzh_layout {
inline constexpr size_t kHeaderSize = 0;  // level 0/1: one byte (bytes after the first two); level 2: u16 total
inline constexpr size_t kMethod = 2;
inline constexpr size_t kPacked = 7;
inline constexpr size_t kLevel = 20;
inline constexpr size_t kNeeds = 21;          // the bytes of a header the walk reads
inline constexpr u64 kLevel2Minimum = 26;     // the fixed part of a level 2 header
inline constexpr u64 kGuessCap = 0xC800000;
inline constexpr u64 kDeviceCap = 0xD000000;
inline constexpr int kStepsPerSector = 1025;
inline constexpr int kDeviceSteps = 2048;
}  // namespace lzh_layout

// One step of the walk over an archive's entries.
struct LzhStep {
    enum Kind { kEnd, kEntry, kMore };
    Kind kind;
    u64 length;  // kEntry: the entry's header and data
};
// The entry at the start of bytes (kMore when fewer bytes are held than its header needs). Methods
// "-lh0-", "-lh5-", "-lhd-" and, with withLh7, "-lh7-"; level 0 and 1 headers take 2 + the size byte,
// level 2 headers their 16-bit total (the extra 2 bytes of the older levels are not added).
LzhStep LzhEntry(const ByteReader& bytes, bool withLh7);

class FileLZHAnalyser : public IRawFileAnalyser {
public:
    FileLZHAnalyser();
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace Brance {

class LZHAnalyser : public IRawFileAnalyser {
public:
    LZHAnalyser();
    ~LZHAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRequiredBits(RequiredBits* tests) const override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileLZHAnalyser> m_fallback;
};

class LZHRawFileInfo : public CRawFileInfo {
public:
    explicit LZHRawFileInfo(IRawFileAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
    u64 m_nextHeader = 0;
};

}  // namespace Brance
