#include "engine/RAWSearch/Analysers/GZAnalyser.h"

#include <array>
#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace gz_layout;

namespace CGzSearch {

bool IsValidGzHeader(const unsigned char* header, int length) {
    if (header == nullptr || length < static_cast<int>(kFixedHeader)) return false;
    const ByteReader h(header, static_cast<size_t>(length));
    return h.Equals(0, "\x1F\x8B\x08", 3) && *h.U8(kFlags) < 32 && *h.U8(kSystem) < 14;
}

unsigned int UpdateCRC(unsigned int crc, const unsigned char* data, int length) {
    static const std::array<unsigned int, 256> table = [] {
        std::array<unsigned int, 256> t{};
        for (unsigned int n = 0; n < 256; ++n) {
            unsigned int c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    unsigned int c = crc ^ 0xFFFFFFFFu;
    for (int i = 0; i < length; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

unsigned int GetCRC(const unsigned char* data, int length) { return UpdateCRC(0, data, length); }

}  // namespace CGzSearch

int FileGZAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (!CGzSearch::IsValidGzHeader(sector, 512)) return 0;
    const u8 extraFlags = sector[kExtraFlags];
    if (extraFlags != 2 && extraFlags != 4) return 0;
    info.m_type = RAW_TYPE_GZ;
    return 1;
}

bool FileGZAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char header[kFixedHeader + 2];
    if (!window.CopyOut(0, header, sizeof(header)) || !CGzSearch::IsValidGzHeader(header, sizeof(header))) return false;
    const u8 flags = header[kFlags];
    u64 offset = kFixedHeader;
    if ((flags & kFlagExtra) != 0) offset += 2 + *ByteReader(header, sizeof(header)).Le16(kFixedHeader);
    // A zero-terminated text at offset; false when it runs past the cap (offset then stands there).
    auto skipText = [&](std::string* keep) {
        while (offset < kTextCap) {
            unsigned char* p = window.GetRawFileBuffer(offset);
            if (p == nullptr) return false;
            const u64 n = std::min<u64>(window.Available(offset), kTextCap - offset);
            const void* zero = memchr(p, 0, n);
            const u64 used = zero != nullptr ? static_cast<u64>(static_cast<const unsigned char*>(zero) - p) : n;
            if (keep != nullptr && keep->size() < kNameMax) {
                keep->append(reinterpret_cast<const char*>(p), std::min<u64>(used, kNameMax - keep->size()));
            }
            offset += used;
            if (zero != nullptr) {
                ++offset;
                return true;
            }
        }
        return false;
    };
    std::string name;
    if ((flags & kFlagName) != 0 && !skipText(&name)) {
        info.m_size = offset;
        return true;
    }
    if ((flags & kFlagComment) != 0 && !skipText(nullptr)) {
        info.m_size = offset;
        return true;
    }
    if ((flags & kFlagHeaderCrc) != 0) offset += 2;
    if (!name.empty()) info.SetRawFileName(name);
    // The compressed data: the first sector after the header's that ends in zeros is its last.
    const u64 sectorSize = window.GetSectorSize();
    u64 at = (offset / sectorSize + 1) * sectorSize;
    while (at < kDeviceCap) {
        unsigned char* p = window.GetRawFileBuffer(at);
        if (p == nullptr) break;
        static constexpr unsigned char kZero8[8] = {};
        if (memcmp(p + sectorSize - 8, kZero8, 8) == 0) {
            at += sectorSize;
            break;
        }
        at += sectorSize;
    }
    info.m_type = RAW_TYPE_GZ;
    info.m_size = at;
    return true;
}

namespace RawSpeed {

int GZAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!CGzSearch::IsValidGzHeader(sector, 512)) return 0;
    info.m_type = RAW_TYPE_GZ;
    return 1;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateGZAnalyzer() { return new RawSpeed::GZAnalyzer(); }
