// Canon CRW (CIFF): the file ends a fixed number of bytes after one of three end records of its heap;
// the streaming analyser looks for them in sectors that end in zeros once the file is past its
// smallest size, its fallback does so on the device.
#pragma once

#include <map>
#include <memory>

#include "engine/RAWSearch/Core/RawFileInfo.h"

// The end records: 07 28 and a u32 LE length of 168, 178 or 228; the file ends 70, 60 or 50 bytes
// after the record's first byte.
struct CrwEndRecord {
    unsigned char bytes[6];
    i64 tail;
};
inline constexpr CrwEndRecord kCrwEndRecords[3] = {
    {{0x07, 0x28, 0xA8, 0x00, 0x00, 0x00}, 70},
    {{0x07, 0x28, 0xB2, 0x00, 0x00, 0x00}, 60},
    {{0x07, 0x28, 0xE4, 0x00, 0x00, 0x00}, 50},
};
// The first end record in the bytes, comparing `compared` bytes of each: its offset and record, or
// -1 and null.
std::pair<i64, const CrwEndRecord*> FindCrwEndRecord(const unsigned char* bytes, i64 length, int compared);

class FileCRWAnalyser : public IRawFileAnalyser {
public:
    static constexpr u64 kMaxPosition = 0x3200000;
    FileCRWAnalyser();
    // Always true: without an end record the file is taken to kMaxPosition bytes.
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    u64 GetRawFileSizeEX(CRawFileInfo& info, IStorageDevice* device);
};

namespace Brance {

class CRWAnalyser : public IRawFileAnalyser {
public:
    CRWAnalyser();
    ~CRWAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileCRWAnalyser> m_fallback;
};

class CRWRawFileInfo : public CRawFileInfo {
public:
    static constexpr i64 kMinLength = 204800;
    static constexpr i64 kMaxLength = 0x6400000;
    static constexpr i64 kLookBack = 86;
    explicit CRWRawFileInfo(IRawFileAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
    i64 m_minLength = kMinLength;
    i64 m_addend = kMinLength;
    i64 m_end = 0;
};

}  // namespace Brance
