// PSP (Paint Shop Pro): the streaming analyser follows the blocks as their sectors pass and ends the
// file at the first position without a block header; its fallback follows them on the device.
#pragma once

#include <memory>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

// The length of the block whose 10-byte header the bytes hold (from "~BK" to the next block), or
// absent when they hold no block header.
std::optional<i64> PspBlockLength(const ByteReader& header);

class FilePSPAnalyser : public IRawFileAnalyser {
public:
    static constexpr i64 kMaxPosition = 0xD000000;
    static constexpr i64 kMinSize = 512;
    FilePSPAnalyser();
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace RawSpeed {

class PSPAnalyser : public IRawFileAnalyser {
public:
    PSPAnalyser();
    ~PSPAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FilePSPAnalyser> m_fallback;
};

class PSPRawFileInfo : public CRawFileInfo {
public:
    static constexpr i64 kMaxCovered = 20000000;
    explicit PSPRawFileInfo(IRawFileAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
    i64 m_position;
};

}  // namespace RawSpeed
