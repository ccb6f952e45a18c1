// Access databases (MDB and ACCDB): 4096-byte pages, each beginning with its page signature. The
// guessing analyser ends the file at a run of 36 empty pages or at a page of another kind; its device
// analyser at the first page that is no database page.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace mdb_layout {
inline constexpr u64 kPage = 4096;
inline constexpr u16 kFirstSignature = 0x0101;
inline constexpr u16 kLastSignature = 0x0109;
inline constexpr u16 kDeviceEndSignature = 0x0902;
inline constexpr u32 kEmptyRun = 36;
inline constexpr u64 kGuessCap = 2000000000;
inline constexpr u64 kDeviceCap = 0x6400000;
}  // namespace mdb_layout

class FileMDBAnalyser : public IRawFileAnalyser {
public:
    FileMDBAnalyser() : IRawFileAnalyser(RAW_TYPE_MDB) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // MDB or ACCDB from the first bytes, 0 for neither.
    static RAW_FILE_TYPE Kind(const unsigned char* sector);
};

namespace RawSpeed {

class CMDBAnalyser : public IRawFileAnalyser {
public:
    CMDBAnalyser();
    ~CMDBAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class CMDBRawFileInfo : public CRawFileInfo {
    public:
        explicit CMDBRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_MDB; }
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    private:
        int Finish(i64 p, long long sectorNumber);

        IRawFileAnalyser* m_fallback;
        u32 m_emptyRun = 0;
        bool m_foreignPage = false;
        bool m_pageCheck = true;
    };

private:
    std::unique_ptr<FileMDBAnalyser> m_fallback;
};

}  // namespace RawSpeed
