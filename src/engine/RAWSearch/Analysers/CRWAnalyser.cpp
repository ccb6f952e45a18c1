#include "engine/RAWSearch/Analysers/CRWAnalyser.h"

#include <algorithm>
#include <tuple>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace crw_layout;

namespace {
// A 178-byte record is followed by ten more bytes when its file does not end at the usual place.
constexpr i64 kLongerTail = 10;
}  // namespace

std::pair<i64, const CrwEndRecord*> FindCrwEndRecord(const unsigned char* bytes, i64 length, int compared) {
    std::pair<i64, const CrwEndRecord*> first{-1, nullptr};
    for (const CrwEndRecord& record : kCrwEndRecords) {
        const unsigned char* m = Apimemstr(const_cast<unsigned char*>(bytes), static_cast<int>(length), record.bytes,
                                           compared);
        if (m != nullptr && (first.second == nullptr || m - bytes < first.first)) first = {m - bytes, &record};
    }
    return first;
}

namespace Brance {

CRWAnalyser::CRWAnalyser() : IRawFileAnalyser(RAW_TYPE_CRW), m_fallback(std::make_unique<FileCRWAnalyser>()) {}
CRWAnalyser::~CRWAnalyser() = default;

int CRWAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const ByteReader header(sector, kKind + 5);
    if (!header.Equals(kHeap, "\0\0HEAP", 6)) return 0;
    if (!header.Equals(kKind, "CCDR\x02", 5) && !header.Equals(kKind, "TIFP\x02", 5) &&
        !header.Equals(kKind, "ARCH\x02", 5)) {
        return 0;
    }
    info.m_type = RAW_TYPE_CRW;
    return 1;
}

CRawFileInfo* CRWAnalyser::CreateRawFileInfo() { return new CRWRawFileInfo(m_fallback.get()); }

CRWRawFileInfo::CRWRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_CRW; }

int CRWRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const i64 covered = w.SectorStart();
    if (covered < m_minLength + m_addend) return RAW_SIZE_CONTINUE;
    if (covered >= kMaxLength) {
        m_size = static_cast<u64>(kMaxLength);
        return RAW_SIZE_FINISHED;
    }
    const u32 z = ctx.trailingZeroBytes;
    if (z < 9) return RAW_SIZE_CONTINUE;
    // In the sector's data, else across the boundary with the previous sector.
    auto [at, record] = FindCrwEndRecord(sector, n - static_cast<i64>(z), kComparedBytes);
    if (record == nullptr && w.Holds(covered - kLookBack, 2 * kLookBack)) {
        const ByteReader around = *w.Bytes(covered - kLookBack, 2 * kLookBack);
        std::tie(at, record) = FindCrwEndRecord(around.data(), static_cast<i64>(around.size()), kComparedBytes);
        if (record != nullptr) at -= kLookBack;
    }
    if (record == nullptr) return RAW_SIZE_CONTINUE;
    m_end = covered + at + record->tail;
    if (record == &kCrwEndRecords[1]) {
        const i64 within = m_end - covered;
        const auto word = w.Sector().Sub(static_cast<size_t>(std::max<i64>(within, 0)), 4);
        if (within >= 0 && word && !word->Equals(0, "\0\0\0\0", 4)) m_end += kLongerTail;
    }
    SetRawFileName(SectorSpanName(m_startSector, s, "_"));
    m_size = static_cast<u64>(m_end);
    return RAW_SIZE_FINISHED;
}

}  // namespace Brance

IRawFileAnalyser* CreateCRWAnalyser() { return new Brance::CRWAnalyser(); }
