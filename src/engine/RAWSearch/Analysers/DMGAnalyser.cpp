#include "engine/RAWSearch/Analysers/DMGAnalyser.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace dmg_layout;

namespace dmg_rules {

i64 FindTrailer(const ByteReader& bytes, u64 end) {
    if (end > bytes.size()) end = bytes.size();
    if (end < kTrailerLength) return -1;
    // The trailer's first byte lies in [0, end - 512]; the last match wins (the image's own trailer
    // follows any "koly" in its compressed data).
    for (u64 at = end - kTrailerLength + 1; at-- > 0;) {
        if (bytes.data()[at] == 'k' && bytes.Equals(at, kTrailer, 4)) return static_cast<i64>(at);
    }
    return -1;
}

}  // namespace dmg_rules

namespace {

bool IsImage(const unsigned char* sector) { return ByteReader(sector, 512).Equals(0, kMagic, sizeof(kMagic) - 1); }

bool EndsInZeroWords(const unsigned char* sector, u64 sectorSize) {
    static constexpr unsigned char kZero[8] = {};
    return sectorSize >= 8 && memcmp(sector + sectorSize - 8, kZero, 8) == 0;
}

}  // namespace

int FileDMGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || !IsImage(sector)) return 0;
    info.m_type = RAW_TYPE_DMG;
    return 1;
}

bool FileDMGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    // The window takes the sector size from this call's device.
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    const u64 sectorSize = window.GetSectorSize();
    std::vector<unsigned char> held(sectorSize + kTrailerLength);
    u64 at = 0;
    for (; at < kDeviceCap; at += sectorSize) {
        unsigned char* sector = window.GetRawFileBuffer(at);
        if (sector == nullptr || window.Available(at) < sectorSize) break;
        if (!EndsInZeroWords(sector, sectorSize)) continue;
        // This sector with the 512 bytes before it.
        const u64 before = std::min<u64>(at, kTrailerLength);
        if (!window.CopyOut(at - before, held.data(), before + sectorSize)) break;
        const i64 trailer = dmg_rules::FindTrailer(ByteReader(held.data(), before + sectorSize), before + sectorSize);
        if (trailer >= 0 && at - before + static_cast<u64>(trailer) > 0) {
            info.m_type = RAW_TYPE_DMG;
            info.m_size = at - before + static_cast<u64>(trailer) + kTrailerLength;
            return true;
        }
    }
    if (at == 0) return false;
    info.m_type = RAW_TYPE_DMG;
    info.m_size = std::min(at, kDeviceCap);
    return true;
}

namespace Brance {

DMGAnalyser::DMGAnalyser() : IRawFileAnalyser(RAW_TYPE_DMG), m_fallback(std::make_unique<FileDMGAnalyser>()) {}
DMGAnalyser::~DMGAnalyser() = default;

int DMGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) { return m_fallback->AnalyseBuffer(sector, info); }

CRawFileInfo* DMGAnalyser::CreateRawFileInfo() { return new DMGRawFileInfo(m_fallback.get()); }

int DMGRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) {
    if (sector == nullptr || sectorSize < 8 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, sectorSize, sectorNumber, m_startSector, ctx);
    const i64 p = w.SectorStart();
    if (p > static_cast<i64>(10 * kGuessCap)) {
        m_size = kGuessCap;
        return RAW_SIZE_FINISHED;
    }
    if (ctx.trailingZeroBytes < 8 || p == 0) return RAW_SIZE_CONTINUE;
    // The trailer ends within this sector: it starts in this sector or in the 512 bytes before it.
    const i64 from = std::max<i64>({w.Begin(), p - static_cast<i64>(kTrailerLength), 1});
    const ByteReader held = w.From(from);
    const u64 end = static_cast<u64>(w.SectorEnd() - from);
    if (held.size() < end) return RAW_SIZE_CONTINUE;
    const i64 trailer = dmg_rules::FindTrailer(held, end);
    if (trailer < 0) return RAW_SIZE_CONTINUE;
    m_size = static_cast<u64>(from + trailer) + kTrailerLength;
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

}  // namespace Brance

IRawFileAnalyser* CreateDMGAnalyser() { return new Brance::DMGAnalyser(); }
