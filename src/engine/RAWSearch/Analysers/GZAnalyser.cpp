#include "engine/RAWSearch/Analysers/GZAnalyser.h"

#include <zlib.h>

#include <array>
#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
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

struct GzipMemberWalk::State {
    z_stream stream{};
    bool open = false;
};

GzipMemberWalk::GzipMemberWalk() : m_state(new State) {}

GzipMemberWalk::~GzipMemberWalk() {
    if (m_state->open) inflateEnd(&m_state->stream);
    delete m_state;
}

GzipMemberWalk::Step GzipMemberWalk::Feed(const unsigned char* bytes, u64 length) {
    if (m_bad) return Step::Bad;
    // What inflate writes is not kept: only where the members end counts.
    static thread_local unsigned char sink[16384];
    z_stream& z = m_state->stream;
    u64 used = 0;
    while (used < length) {
        if (!m_state->open) {
            // A member starts here: at the file's start, or just after the member before it.
            if (m_fed + used != 0 && (length - used < 3 || bytes[used] != 0x1F || bytes[used + 1] != 0x8B ||
                                      bytes[used + 2] != 0x08)) {
                return Step::End;
            }
            z = z_stream{};
            if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
                m_bad = true;
                return Step::Bad;
            }
            m_state->open = true;
        }
        const u64 chunk = std::min<u64>(length - used, 1u << 30);
        z.next_in = const_cast<unsigned char*>(bytes + used);
        z.avail_in = static_cast<uInt>(chunk);
        int result = Z_OK;
        do {
            z.next_out = sink;
            z.avail_out = sizeof(sink);
            result = inflate(&z, Z_NO_FLUSH);
        } while (result == Z_OK && z.avail_in > 0);
        used += chunk - z.avail_in;
        if (result == Z_STREAM_END) {
            inflateEnd(&z);
            m_state->open = false;
            m_length = m_fed + used;
            continue;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            inflateEnd(&z);
            m_state->open = false;
            m_bad = true;
            return Step::Bad;
        }
    }
    m_fed += length;
    // A member that ended exactly with these bytes: the next bytes tell whether another follows.
    return Step::More;
}

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
    {
        GzipMemberWalk walk;
        for (u64 at = 0; at < kDeviceCap;) {
            unsigned char* p = window.GetRawFileBuffer(at);
            const u64 n = p == nullptr ? 0 : std::min<u64>(window.GetWindowSize(), window.Available(at));
            const GzipMemberWalk::Step step = n == 0 ? GzipMemberWalk::Step::End : walk.Feed(p, n);
            if (step == GzipMemberWalk::Step::Bad) break;
            if (step == GzipMemberWalk::Step::End || n == 0) {
                if (walk.Length() == 0) break;
                info.m_type = RAW_TYPE_GZ;
                info.m_size = walk.Length();
                return true;
            }
            at += n;
        }
    }
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

CRawFileInfo* GZAnalyzer::CreateRawFileInfo() {
    return new GzRawFileInfo(RAW_TYPE_GZ, gz_layout::kRule, GetFallback());
}

int GzRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) {
    if (m_walk != nullptr && sector != nullptr && sectorSize > 0 && sectorNumber >= m_startSector) {
        if (m_nextSector < 0) m_nextSector = m_startSector;
        if (sectorNumber == m_nextSector) {
            m_nextSector = sectorNumber + 1;
            switch (m_walk->Feed(sector, static_cast<u64>(sectorSize))) {
                // A member that ended at the sector's very end may have another after it: the next
                // sector tells.
                case GzipMemberWalk::Step::More: return RAW_SIZE_CONTINUE;
                case GzipMemberWalk::Step::End:
                    m_size = m_walk->Length();
                    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
                    return RAW_SIZE_FINISHED;
                case GzipMemberWalk::Step::Bad: break;
            }
        }
        // Not a stream that inflates, or a sector was skipped: the zero run decides.
        m_walk.reset();
    }
    return ZeroRunRawFileInfo::CalcRawSize(sector, sectorSize, sectorNumber, ctx);
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateGZAnalyzer() { return new RawSpeed::GZAnalyzer(); }
