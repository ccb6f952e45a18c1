#include "engine/RAWSearch/Analysers/SITAnalyser.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

using namespace sit_layout;

namespace sit_rules {

i64 FindEndMarker(const ByteReader& bytes, u64 from) {
    for (u64 at = from; at + kMarkerLength <= bytes.size(); ++at) {
        const void* head = memchr(bytes.data() + at, kMarkerHead[0], bytes.size() - at);
        if (head == nullptr) return -1;
        at = static_cast<u64>(static_cast<const unsigned char*>(head) - bytes.data());
        if (bytes.Equals(at, kMarkerHead, sizeof(kMarkerHead)) && bytes.Equals(at + 4, kMarkerTail, sizeof(kMarkerTail))) {
            return static_cast<i64>(at);
        }
    }
    return -1;
}

u64 EndAfterMarker(u8 markerKind) {
    if (markerKind == 0x19) return kMarkerLength + 4;
    if (markerKind == ';') return kMarkerLength + 5;
    return kMarkerLength + 6;
}

}  // namespace sit_rules

namespace {

bool IsStuffIt(const ByteReader& h) { return h.Equals(4, "fIt", 3); }

}  // namespace

int FileSITAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo&) {
    assert(nullptr != sector && "NULL != pBuffer");
    return sector != nullptr && IsStuffIt(ByteReader(sector, 512)) ? 1 : 0;
}

bool FileSITAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    // The window takes the sector size from this call's device.
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char header[kClassicLength + 4];
    info.m_size = 0;
    if (!window.CopyOut(0, header, sizeof(header))) return false;
    const ByteReader h(header, sizeof(header));
    if (header[kKind] == ' ') {
        info.m_type = RAW_TYPE_SIT;
        info.m_analyserType = RAW_TYPE_SIT;
        const u32 length = *h.Be32(kClassicLength);
        info.m_size = length >= 0x80000000u ? kDeviceCap : length;
        return true;
    }
    if (header[kKind] != '!') return false;
    info.m_type = RAW_TYPE_SITX;
    info.m_analyserType = RAW_TYPE_SITX;
    // Sector by sector, each searched together with the 16 bytes before it (a marker across the
    // boundary), for the first complete end marker.
    const u64 sectorSize = window.GetSectorSize();
    std::vector<unsigned char> held(16 + sectorSize);
    u64 at = 0;
    for (; at < kDeviceCap; at += sectorSize) {
        const u64 before = std::min<u64>(at, 16);
        if (!window.CopyOut(at - before, held.data(), before + sectorSize)) break;
        const ByteReader bytes(held.data(), before + sectorSize);
        const i64 marker = sit_rules::FindEndMarker(bytes, 0);
        if (marker >= 0) {
            info.m_size = at - before + static_cast<u64>(marker) + sit_rules::EndAfterMarker(held[marker + 3]);
            return true;
        }
    }
    info.m_size = std::min(at, kDeviceCap);
    return true;
}

namespace RawSpeed {

SITAnalyser::SITAnalyser() : IRawFileAnalyser(RAW_TYPE_SIT), m_fallback(std::make_unique<FileSITAnalyser>()) {}
SITAnalyser::~SITAnalyser() = default;

int SITAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader h(sector, 512);
    if (!IsStuffIt(h) && !h.Equals(0, kZeroEndHeader, sizeof(kZeroEndHeader))) return 0;
    info.m_type = sector[kKind] == '!' ? RAW_TYPE_SITX : RAW_TYPE_SIT;
    return 1;
}

CRawFileInfo* SITAnalyser::CreateRawFileInfo() { return new SITRawFileInfo(m_fallback.get()); }

void SITRawFileInfo::JudgeSIT(const unsigned char* header) {
    m_judgePending = false;
    const ByteReader h(header, 512);
    if (h.Equals(0, kZeroEndHeader, sizeof(kZeroEndHeader))) {
        m_zeroEnd = true;
        return;
    }
    if (header[kKind] == '!') {
        m_type = RAW_TYPE_SITX;
        m_classic = false;
    } else if (header[kKind] == ' ') {
        m_type = RAW_TYPE_SIT;
    }
}

int SITRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) {
    if (sector == nullptr || sectorSize < 512 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, sectorSize, sectorNumber, m_startSector, ctx);
    const i64 p = w.SectorStart();
    if (m_judgePending) {
        const auto header = w.Bytes(0, 512);
        if (!header) return RAW_SIZE_CONTINUE;
        JudgeSIT(header->data());
    }
    if (m_zeroEnd) {
        if (ctx.trailingZeroBytes < 9) return RAW_SIZE_CONTINUE;
        m_size = static_cast<u64>(p + BruteForce::RawUtility::Binary_Compare(sector, sectorSize));
        SetRawFileName(SectorSpanName(m_startSector, sectorNumber, ""));
        return RAW_SIZE_FINISHED;
    }
    if (m_classic) {
        // The stated length, even past the data held, up to the cap.
        const auto header = w.Bytes(0, kClassicLength + 4);
        const u32 length = header ? *header->Be32(kClassicLength) : 0;
        m_size = length >= 1 && length <= kGuessCap ? length : static_cast<u64>(kGuessCap);
        return RAW_SIZE_FINISHED;
    }
    if (ctx.trailingZeroBytes < 4) return RAW_SIZE_CONTINUE;
    if (p > kGuessCap) {
        m_size = static_cast<u64>(kGuessCap);
        SetRawFileName(SectorSpanName(m_startSector, sectorNumber, ""));
        return RAW_SIZE_FINISHED;
    }
    // The end marker starts in the 20 bytes before the sector's final zero run (found by bisection),
    // which may lie in the sector before.
    const i64 d = BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    const i64 from = p + d - (kMarkerPositions - 1);
    const ByteReader held = w.From(std::max(from, w.Begin()));
    const i64 heldFrom = std::max(from, w.Begin());
    const u64 span = static_cast<u64>(std::min<i64>(p + d + static_cast<i64>(kMarkerLength), w.End()) - heldFrom);
    const i64 marker = span <= held.size() ? sit_rules::FindEndMarker(ByteReader(held.data(), span), 0) : -1;
    if (marker < 0 || marker > p + d - heldFrom) return RAW_SIZE_CONTINUE;
    m_size = static_cast<u64>(p + d);
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, ""));
    return RAW_SIZE_FINISHED;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateSITAnalyser() { return new RawSpeed::SITAnalyser(); }
