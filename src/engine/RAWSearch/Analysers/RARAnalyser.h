// RAR 1.5 to 4: the archive is a chain of blocks after a 7-byte marker, each giving its own length; the
// standard 7-byte end block closes it. The guessing analyser follows the chain as its sectors pass, its
// fallback follows it on the device.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace rar_layout {
inline constexpr u64 kMarker = 7;
inline constexpr size_t kHeaderCrc = 0;
inline constexpr size_t kType = 2;
inline constexpr size_t kFlags = 3;
inline constexpr size_t kHeaderSize = 5;
inline constexpr size_t kAddSize = 7;   // packed size in file headers
inline constexpr size_t kUnpacked = 11;
inline constexpr size_t kSubZero = 13;
inline constexpr size_t kHost = 15;
inline constexpr size_t kBlockNeeds = 16;  // the bytes a block's rules read
inline constexpr unsigned char kEndBlock[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
inline constexpr u64 kGuessCap = 0x40000000;
inline constexpr u64 kDeviceCap = 0xD000000;
}  // namespace rar_layout

namespace classRarSearch {
// The length of the block at block (available bytes readable there); false when it is no valid block.
bool GetBlockSize(const unsigned char* block, int available, unsigned int* sizeLow, unsigned int* sizeHigh);
// True when the 7 bytes are the standard end block.
bool IsEndBlock(const unsigned char* block, u64 available);
}  // namespace classRarSearch

class FileRARAnalyser : public IRawFileAnalyser {
public:
    FileRARAnalyser();
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

namespace RawSpeed {

class RARAnalyser : public IRawFileAnalyser {
public:
    RARAnalyser();
    ~RARAnalyser() override;
    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

private:
    std::unique_ptr<FileRARAnalyser> m_fallback;
};

class RARRawFileInfo : public CRawFileInfo {
public:
    explicit RARRawFileInfo(IRawFileAnalyser* fallback);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

private:
    IRawFileAnalyser* m_fallback;
    u64 m_nextBlock = rar_layout::kMarker;
    bool m_blocksValid = true;
};

}  // namespace RawSpeed
