#include "engine/RAWSearch/Analysers/DXFAnalyser.h"

#include <algorithm>
#include <cstring>

#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

namespace BruteForce {

namespace {

constexpr char kOpenerCrLf[] = "  0\r\nSECTION\r\n  ";  // 16 bytes
constexpr char kOpenerLf[] = "  0\nSECTION\n  ";        // 14 bytes
constexpr char kEndCrLf[] = "  0\r\nEOF\r\n";
constexpr char kEndLf[] = "  0\nEOF\n";
constexpr char kComment[] = "999";

bool Begins(const unsigned char* data, size_t length, const char* text, size_t textLength) {
    return length >= textLength && memcmp(data, text, textLength) == 0;
}

}  // namespace

CDXFAnalyser::CDXFAnalyser() : IRawFileAnalyser(RAW_TYPE_DXF) {}

CRawFileInfo* CDXFAnalyser::CreateRawFileInfo() { return new CDXFRawFileInfo(); }

int CDXFAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                  long long sectorNumber, long long, long long blockEndSector) {
    if (sector == nullptr || sectorSize <= 0 || blockEndSector <= sectorNumber) return 0;
    // The bytes held after the sector start: to the end of the current block.
    const size_t held = static_cast<size_t>((blockEndSector - sectorNumber) * sectorSize);
    info.m_type = RAW_TYPE_DXF;
    if (Begins(sector, held, kOpenerCrLf, sizeof(kOpenerCrLf) - 1)) return 1;
    if (!Begins(sector, held, kComment, sizeof(kComment) - 1)) return 0;
    const size_t afterComment = sizeof(kComment) - 1;
    bool lf;
    if (held > afterComment && sector[afterComment] == '\n') {
        lf = true;
    } else if (held > afterComment + 1 && sector[afterComment] == '\r' && sector[afterComment + 1] == '\n') {
        lf = false;
    } else {
        return 0;
    }
    // The first section opens before any zero byte (a text file has none).
    const void* zero = memchr(sector, 0, held);
    const size_t text = zero != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - sector) : held;
    const char* opener = lf ? kOpenerLf : kOpenerCrLf;
    const size_t openerLength = lf ? sizeof(kOpenerLf) - 1 : sizeof(kOpenerCrLf) - 1;
    return memmem(sector, text, opener, openerLength) != nullptr ? 1 : 0;
}

CDXFRawFileInfo::CDXFRawFileInfo() { m_type = RAW_TYPE_DXF; }

int CDXFRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const i64 covered = (s - m_startSector) * n;
    if (m_endTagLength == 0) {
        const bool lf = n > 3 && sector[3] == '\n';
        const char* tag = lf ? kEndLf : kEndCrLf;
        m_endTagLength = static_cast<u32>(strlen(tag));
        memcpy(m_endTag, tag, m_endTagLength);
    }
    const int tagLength = static_cast<int>(m_endTagLength);
    int end = RawUtility::FindMagicInBuffer(sector, n, static_cast<int>(ctx.trailingZeroBytes), m_endTag, tagLength);
    if (end == 0 && covered > 0) {
        // The tag may begin in the sector before: look at the bytes that join the two.
        const StreamWindow window(sector, n, s, m_startSector, ctx);
        const i64 joinStart = covered - (tagLength - 1);
        const int joinLength = std::min(2 * (tagLength - 1), n + tagLength - 1);
        if (const auto join = window.Bytes(joinStart, static_cast<u64>(joinLength))) {
            const int hit = RawUtility::FindMagicInBuffer(join->data(), joinLength, 0, m_endTag, tagLength);
            if (hit > tagLength - 1) end = hit - (tagLength - 1);
        }
    }
    if (end > 0) {
        m_size = static_cast<u64>(std::min<i64>(covered + end, kMaxSize));
        return RAW_SIZE_FINISHED;
    }
    if (covered + n >= kMaxSize) {
        m_size = static_cast<u64>(kMaxSize);
        return RAW_SIZE_FINISHED;
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateDXFAnalyser() { return new BruteForce::CDXFAnalyser(); }
