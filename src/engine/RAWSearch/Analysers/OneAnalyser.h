// OneNote: sections follow each other, each beginning with the file's identifier and giving its own
// length; the file ends at the first offset where no section begins.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace one_layout {
inline constexpr size_t kIdentifier = 4;  // 12 bytes: the identifier without its first four bytes
inline constexpr size_t kLength = 196;
inline constexpr size_t kLengthAlternative = 100;
inline constexpr size_t kNeeds = kLength + 8;
inline constexpr unsigned char kIdentifierBytes[12] = {0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1,
                                                       0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
inline constexpr u64 kGuessCap = 400000000;
inline constexpr u64 kDeviceStop = 0x1A000000;
}  // namespace one_layout

class FileONEAnalyser : public IRawFileAnalyser {
public:
    FileONEAnalyser() : IRawFileAnalyser(RAW_TYPE_ONE) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace RawSpeed {

class OneAnalyser : public IRawFileAnalyser {
public:
    OneAnalyser();
    ~OneAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    class ONERawFileInfo : public CRawFileInfo {
    public:
        explicit ONERawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_ONE; }
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;
        // The section's length: the u64 at 196, or at 100 when that is 0.
        static u64 SectionFileLength(const unsigned char* header);

    private:
        IRawFileAnalyser* m_fallback;
        u64 m_nextSection = 0;
    };

private:
    std::unique_ptr<FileONEAnalyser> m_fallback;
};

}  // namespace RawSpeed
