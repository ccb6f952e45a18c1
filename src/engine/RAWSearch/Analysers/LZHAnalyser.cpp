#include "engine/RAWSearch/Analysers/LZHAnalyser.h"

#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace lzh_layout;

namespace {

bool KnownMethod(const unsigned char* method, bool withLh7) {
    if (method[0] != '-' || method[1] != 'l' || method[2] != 'h' || method[4] != '-') return false;
    const unsigned char m = method[3];
    return m == '0' || m == '5' || m == 'd' || (withLh7 && m == '7');
}

}  // namespace

LzhStep LzhEntry(const ByteReader& bytes, bool withLh7) {
    if (!bytes.Has(0, kNeeds)) {
        // Enough to see that no header starts here is enough to end the walk.
        if (bytes.Has(0, kMethod + 5) && !KnownMethod(bytes.data() + kMethod, withLh7)) return {LzhStep::kEnd, 0};
        return {LzhStep::kMore, 0};
    }
    if (!KnownMethod(bytes.data() + kMethod, withLh7)) return {LzhStep::kEnd, 0};
    const u64 packed = *bytes.Le32(kPacked);
    const u8 level = *bytes.U8(kLevel);
    u64 header = 0;
    if (level == 2) {
        header = *bytes.Le16(kHeaderSize);
        if (header < kLevel2Minimum) return {LzhStep::kEnd, 0};
    } else if (level <= 1) {
        header = 2 + u64{*bytes.U8(kHeaderSize)};
    } else {
        return {LzhStep::kEnd, 0};
    }
    return {LzhStep::kEntry, header + packed};
}

FileLZHAnalyser::FileLZHAnalyser() : IRawFileAnalyser(RAW_TYPE_LZH) {}

int FileLZHAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || !KnownMethod(sector + kMethod, false)) return 0;
    info.m_type = RAW_TYPE_LZH;
    return 1;
}

bool FileLZHAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_startSector));
    u64 offset = 0;
    unsigned char head[kNeeds];
    for (int step = 0; step < kDeviceSteps && offset <= kDeviceCap; ++step) {
        if (!window.CopyOut(offset, head, sizeof(head))) break;
        const LzhStep entry = LzhEntry(ByteReader(head, sizeof(head)), true);
        if (entry.kind != LzhStep::kEntry) {
            if (offset == 0) return false;
            ++offset;  // the zero byte that closes the archive
            break;
        }
        offset += entry.length;
    }
    if (offset == 0) return false;
    const u64 sectorSize = window.GetSectorSize();
    info.m_type = RAW_TYPE_LZH;
    info.m_size = (offset + sectorSize - 1) / sectorSize * sectorSize;
    return true;
}

namespace Brance {

LZHAnalyser::LZHAnalyser() : IRawFileAnalyser(RAW_TYPE_LZH), m_fallback(std::make_unique<FileLZHAnalyser>()) {}
LZHAnalyser::~LZHAnalyser() = default;

// The list asks this of every sector: the first test is one byte.
int LZHAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || sector[kMethod] != '-' || !KnownMethod(sector + kMethod, true)) return 0;
    info.m_type = RAW_TYPE_LZH;
    return 1;
}

// "-lh" at the method: the three bytes every accepted method begins with.
int LZHAnalyser::GetRequiredBits(RequiredBits* tests) const {
    tests[0] = {static_cast<u32>(kMethod), 0xFFFFFF, ByteReader("-lh\0", 4).Le32(0).value_or(0)};
    return 1;
}

CRawFileInfo* LZHAnalyser::CreateRawFileInfo() { return new LZHRawFileInfo(m_fallback.get()); }

LZHRawFileInfo::LZHRawFileInfo(IRawFileAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_LZH; }

int LZHRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, sectorSize, sectorNumber, m_startSector, ctx);
    if (w.SectorStart() > static_cast<i64>(10 * kGuessCap)) {
        m_size = kGuessCap;
        return RAW_SIZE_FINISHED;
    }
    for (int step = 0; step < kStepsPerSector && static_cast<i64>(m_nextHeader) < w.SectorEnd(); ++step) {
        const ByteReader held = w.From(static_cast<i64>(m_nextHeader));
        if (held.empty()) return RAW_SIZE_CONTINUE;  // behind the window: the device sizes it once dropped
        const LzhStep entry = LzhEntry(held, true);
        if (entry.kind == LzhStep::kMore) return RAW_SIZE_CONTINUE;
        if (entry.kind == LzhStep::kEnd) {
            if (m_nextHeader == 0) {
                m_size = 0;
                return RAW_SIZE_FINISHED;
            }
            m_size = m_nextHeader + 1;
            SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
            return RAW_SIZE_FINISHED;
        }
        m_nextHeader += entry.length;
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace Brance

IRawFileAnalyser* CreateLZHAnalyser() { return new Brance::LZHAnalyser(); }
IRawFileAnalyser* CreateFileLZHAnalyser() { return new FileLZHAnalyser(); }
