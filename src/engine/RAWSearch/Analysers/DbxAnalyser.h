// Outlook Express folders: the length stands at 124 of the header, or, for one variant, the file ends
// where its data runs into zeros. No device analyser: an abandoned record is dropped.
#pragma once

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace dbx_layout {
inline constexpr size_t kSize = 124;
inline constexpr u64 kCap = 500000000;
}  // namespace dbx_layout

namespace RawSpeed {

class DbxAnalyser : public IRawFileAnalyser {
public:
    DbxAnalyser() : IRawFileAnalyser(RAW_TYPE_DBX) {}
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    // 1 for the headers sized by their length field, 2 for the variant sized by its zeros, 0 for none.
    static int HeaderKind(const unsigned char* sector);

    class DBXRawFileInfo : public CRawFileInfo {
    public:
        DBXRawFileInfo() { m_type = RAW_TYPE_DBX; }
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char*, long long) override { m_analyser = nullptr; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    private:
        bool m_zeroEnd = false;
        bool m_firstCall = true;
    };
};

}  // namespace RawSpeed
