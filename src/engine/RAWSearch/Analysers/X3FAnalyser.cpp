#include "engine/RAWSearch/Analysers/X3FAnalyser.h"

#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace x3f_layout;

namespace Brance {

X3FAnalyser::X3FAnalyser() : IRawFileAnalyser(RAW_TYPE_X3F), m_fallback(std::make_unique<FileX3FAnalyser>()) {}
X3FAnalyser::~X3FAnalyser() = default;

int X3FAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    info.m_type = RAW_TYPE_X3F;
    return 1;
}

CRawFileInfo* X3FAnalyser::CreateRawFileInfo() { return new X3FRawFileInfo(m_fallback.get()); }

X3FRawFileInfo::X3FRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_X3F; }

int X3FRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (sector == nullptr || n < 8 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const i64 covered = w.SectorStart();
    if (covered >= kMaxLength) {
        // No directory within the cap: the file is taken to the cap.
        SetRawFileName(SectorSpanName(m_startSector, s, "_"));
        m_size = static_cast<u64>(kMaxLength);
        return RAW_SIZE_FINISHED;
    }
    const ByteReader here = w.Sector();
    const ByteReader last = *here.Sub(static_cast<size_t>(n - 4), 4);
    i64 found = -1;  // the directory's offset from the sector start (negative: before it)
    if (!last.Equals(0, "\0\0\0\0", 4)) {
        // The directory begins in the sector's last word: it runs on into the next sector.
        if (!last.Equals(0, "SECd", 4)) return RAW_SIZE_CONTINUE;
        found = n - 4;
    } else if (const unsigned char* m = Apimemstr(const_cast<unsigned char*>(here.data()), n,
                                                  reinterpret_cast<const unsigned char*>("SECd"), 4)) {
        found = m - here.data();
    } else if (w.Holds(covered - 2 * i64{n}, 2 * static_cast<u64>(n))) {
        // Across the boundary with the previous sector: the half sector before and this one.
        const i64 from = covered - n / 2;
        const ByteReader around = *w.Bytes(from, static_cast<u64>(n / 2 + n));
        const unsigned char* m = Apimemstr(const_cast<unsigned char*>(around.data()), static_cast<int>(around.size()),
                                           reinterpret_cast<const unsigned char*>("SECd"), 4);
        if (m == nullptr) return RAW_SIZE_CONTINUE;
        found = (m - around.data()) - n / 2;
    } else {
        return RAW_SIZE_CONTINUE;
    }
    m_end = covered + found + kDirectoryEnd;
    SetRawFileName(SectorSpanName(m_startSector, s, "_"));
    m_size = static_cast<u64>(m_end);
    return RAW_SIZE_FINISHED;
}

}  // namespace Brance

IRawFileAnalyser* CreateX3FAnalyser() { return new Brance::X3FAnalyser(); }
