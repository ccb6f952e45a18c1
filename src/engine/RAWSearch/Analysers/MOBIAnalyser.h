// MOBI e-books (PalmDB): the record list's last entry leads to the 4-byte end record; without it the
// file ends where its data runs into zeros.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace mobi_layout {
inline constexpr size_t kType = 60;          // "BOOKMOBI"
inline constexpr size_t kRecordCount = 74;   // read as a big-endian u32 (its low half is the count at 76)
inline constexpr u64 kRecordList = 78;
inline constexpr u64 kEntry = 8;
inline constexpr unsigned char kEndRecord[4] = {0xE9, 0x8E, 0x0D, 0x0A};
inline constexpr u64 kCap = 0x9600000;
}  // namespace mobi_layout

namespace RawSpeed {

class FileMOBIAnalyser : public IRawFileAnalyser {
public:
    FileMOBIAnalyser() : IRawFileAnalyser(RAW_TYPE_MOBI) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRequiredWord(u32& offset, u32& value) const override;
};

class MOBIAnalyser : public IRawFileAnalyser {
public:
    MOBIAnalyser();
    ~MOBIAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRequiredWord(u32& offset, u32& value) const override;
    CRawFileInfo* CreateRawFileInfo() override;

    class MOBIRawFileInfo : public CRawFileInfo {
    public:
        explicit MOBIRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_MOBI; }
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    private:
        IRawFileAnalyser* m_fallback;
        bool m_firstCall = true;
        u32 m_looked = 0;
        u64 m_next = 0;
        bool m_zeroRun = false;
        bool m_endFound = false;
    };

private:
    std::unique_ptr<FileMOBIAnalyser> m_fallback;
};

}  // namespace RawSpeed
