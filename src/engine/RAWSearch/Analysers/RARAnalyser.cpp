#include "engine/RAWSearch/Analysers/RARAnalyser.h"

#include <cassert>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace rar_layout;

namespace classRarSearch {

bool GetBlockSize(const unsigned char* block, int available, unsigned int* sizeLow, unsigned int* sizeHigh) {
    if (block == nullptr || available < 7) return false;
    const ByteReader b(block, static_cast<size_t>(available));
    const u8 type = *b.U8(kType);
    const u16 headerSize = *b.Le16(kHeaderSize);
    if (type < 0x73 || type > 0x7B || type == 0x79 || headerSize < 7) return false;
    u64 size = headerSize;
    switch (type) {
        case 0x73:
            if (headerSize < 10) return false;
            break;
        case 0x74: {
            const auto packed = b.Le32(kAddSize), unpacked = b.Le32(kUnpacked);
            const auto host = b.U8(kHost);
            if (!packed || !unpacked || !host || *packed > *unpacked || *host >= 5) return false;
            size += *packed;
            break;
        }
        case 0x77: {
            const auto added = b.Le32(kAddSize);
            const auto zero = b.U8(kSubZero);
            if (!added || !zero || *zero != 0) return false;
            size += *added;
            break;
        }
        case 0x75: {
            const auto added = b.Le16(kAddSize);
            if (!added) return false;
            size += *added;
            break;
        }
        case 0x76: break;
        default: {  // 0x78, 0x7A, 0x7B: the 7-byte end block is no such block
            const auto added = b.Le32(kAddSize);
            if (headerSize < 10 || !added) return false;
            size += *added;
            break;
        }
    }
    if (sizeLow != nullptr) *sizeLow = static_cast<unsigned int>(size & 0xFFFFFFFFu);
    if (sizeHigh != nullptr) *sizeHigh = static_cast<unsigned int>(size >> 32);
    return true;
}

bool IsEndBlock(const unsigned char* block, u64 available) {
    return block != nullptr && available >= sizeof(kEndBlock) && memcmp(block, kEndBlock, sizeof(kEndBlock)) == 0;
}

}  // namespace classRarSearch

namespace {

bool IsMarker(const unsigned char* sector) { return ByteReader(sector, kMarker).Equals(4, "\x1A\x07\x00", 3); }

// The block's length, 0 when it is refused.
u64 BlockSize(const unsigned char* block, u64 available) {
    unsigned int low = 0, high = 0;
    if (!classRarSearch::GetBlockSize(block, static_cast<int>(std::min<u64>(available, 1 << 20)), &low, &high)) return 0;
    return (u64{high} << 32) | low;
}

}  // namespace

FileRARAnalyser::FileRARAnalyser() : IRawFileAnalyser(RAW_TYPE_RAR) {}

int FileRARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || !IsMarker(sector)) return 0;
    info.m_type = RAW_TYPE_RAR;
    return 1;
}

bool FileRARAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char block[512];
    if (!window.CopyOut(0, block, sizeof(block)) || !IsMarker(block)) return false;
    const u64 first = BlockSize(block + kMarker, sizeof(block) - kMarker);
    if (first == 0) return false;
    u64 offset = kMarker + first;
    unsigned char head[32];
    for (;;) {
        if (offset > kDeviceCap) break;
        if (!window.CopyOut(offset, head, sizeof(head))) {
            // The chain runs past what can be read: the blocks walked so far are kept.
            info.m_size = offset;
            return false;
        }
        const u64 size = BlockSize(head, sizeof(head));
        if (size == 0) {
            if (classRarSearch::IsEndBlock(head, sizeof(head))) offset += sizeof(kEndBlock);
            break;
        }
        offset += size;
    }
    info.m_type = RAW_TYPE_RAR;
    info.m_size = offset;
    return true;
}

namespace RawSpeed {

RARAnalyser::RARAnalyser() : IRawFileAnalyser(RAW_TYPE_RAR), m_fallback(std::make_unique<FileRARAnalyser>()) {}
RARAnalyser::~RARAnalyser() = default;

int RARAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !IsMarker(sector)) return 0;
    info.m_type = RAW_TYPE_RAR;
    return 1;
}

CRawFileInfo* RARAnalyser::CreateRawFileInfo() { return new RARRawFileInfo(m_fallback.get()); }

RARRawFileInfo::RARRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_RAR; }

// Follows the chain as far as the bytes held reach; a block whose rules need bytes not yet held waits
// for the next sector.
int RARRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, sectorSize, sectorNumber, m_startSector, ctx);
    if (w.SectorStart() > static_cast<i64>(kGuessCap)) {
        SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
        m_size = m_nextBlock;
        return RAW_SIZE_FINISHED;
    }
    while (m_blocksValid && static_cast<i64>(m_nextBlock) < w.SectorEnd()) {
        const ByteReader held = w.From(static_cast<i64>(m_nextBlock));
        if (held.size() < kBlockNeeds && static_cast<i64>(m_nextBlock + kBlockNeeds) > w.End()) {
            return RAW_SIZE_CONTINUE;
        }
        if (held.empty()) return RAW_SIZE_CONTINUE;  // behind the window: the device sizes it once dropped
        const u64 size = BlockSize(held.data(), held.size());
        if (size == 0) {
            m_blocksValid = false;
            break;
        }
        m_nextBlock += size;
    }
    if (m_blocksValid) return RAW_SIZE_CONTINUE;
    const ByteReader end = w.From(static_cast<i64>(m_nextBlock));
    if (!classRarSearch::IsEndBlock(end.data(), end.size())) return RAW_SIZE_CONTINUE;
    m_size = m_nextBlock + sizeof(kEndBlock);
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateRARAnalyser() { return new RawSpeed::RARAnalyser(); }
