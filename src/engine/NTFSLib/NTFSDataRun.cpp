#include "engine/NTFSLib/NTFSDataRun.h"

#include <algorithm>
#include <cmath>

#include "engine/FileArchive/IRSData.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"

namespace GetSectorsPerCluster {

u32 EffectiveSectorSize(u32 sectorSize) { return (sectorSize == 0 || sectorSize % 512 != 0) ? 512 : sectorSize; }

u8 RoundUp(double q) {
    if (!(q > 0)) return 0;
    const double whole = std::ceil(q);
    if (whole > 128) return 0;
    u32 p = 1;
    while (p < whole) p <<= 1;
    return u8(p);
}

}  // namespace GetSectorsPerCluster

namespace {

// Sign-extends the low `bytes` bytes of v.
i64 SignExtend(u64 v, u32 bytes) {
    if (bytes == 0 || bytes >= 8) return i64(v);
    const u32 shift = 64 - 8 * bytes;
    return i64(v << shift) >> shift;
}

// Walks the run headers of mapping pairs: visit(at, lengthBytes, offsetBytes) per run. True at the
// terminator, or (unless it is required) when the runs reach the end of the buffer; false when a field
// is wider than maxBytes, a run does not fit, or visit refuses.
template <class Visit>
bool WalkPairs(const u8* pairs, int size, u32 maxBytes, bool terminatorRequired, Visit&& visit) {
    if (!pairs || size < 1) return false;
    const ByteReader r(pairs, size_t(size));
    for (size_t at = 0;;) {
        const auto header = r.U8(at);
        if (!header) return false;
        if (*header == 0) return true;
        const u32 lengthBytes = *header & 0x0F;
        const u32 offsetBytes = *header >> 4;
        if (lengthBytes > maxBytes || offsetBytes > maxBytes) return false;
        if (!r.Has(at + 1, lengthBytes + offsetBytes)) return false;
        if (!visit(r, at, lengthBytes, offsetBytes)) return false;
        at += 1 + lengthBytes + offsetBytes;
        if (at >= size_t(size)) return !terminatorRequired;
    }
}

}  // namespace

bool CNTFSDataRunList::IsValid(const u8* pairs, int size) {
    return WalkPairs(pairs, size, 4, true, [](const ByteReader&, size_t, u32, u32) { return true; });
}

bool CNTFSDataRunList::FormDataRunList(const u8* pairs, int size, std::vector<CDataRun>& out) {
    i64 lcn = 0;
    i64 vcn = 0;
    return WalkPairs(pairs, size, 8, false, [&](const ByteReader& r, size_t at, u32 lengthBytes, u32 offsetBytes) {
        const u64 length = lengthBytes ? r.LeN(at + 1, lengthBytes).value_or(0) : 0;
        if (length > u64(INT64_MAX)) return false;
        CDataRun run;
        run.vcn = vcn;
        run.length = i64(length);
        if (offsetBytes) {
            const u64 raw = r.LeN(at + 1 + lengthBytes, offsetBytes).value_or(0);
            if (__builtin_add_overflow(lcn, SignExtend(raw, offsetBytes), &lcn)) return false;
            run.lcn = lcn;
        }
        if (__builtin_add_overflow(vcn, run.length, &vcn)) return false;
        out.push_back(run);
        return true;
    });
}

i64 CNTFSDataRunList::GetTotalClusters(const u8* pairs, int size) {
    std::vector<CDataRun> runs;
    FormDataRunList(pairs, size, runs);
    i64 total = 0;
    for (const CDataRun& run : runs) {
        if (__builtin_add_overflow(total, run.length, &total)) return INT64_MAX;
    }
    return total;
}

bool CNTFSDataRunList::InitFromBuffer(const u8* pairs, int size) {
    m_runs.clear();
    if (!IsValid(pairs, size)) return false;
    return FormDataRunList(pairs, size, m_runs);
}

bool CNTFSDataRunList::AddDataRunsfromBuffer(const u8* pairs, int size, i64 startVCN) {
    // A VCN is never negative; one read from a corrupt attribute is refused (the lookups subtract VCNs).
    if (startVCN < 0 || !IsValid(pairs, size)) return false;
    std::vector<CDataRun> runs;
    if (!FormDataRunList(pairs, size, runs)) return false;
    for (CDataRun& run : runs) {
        if (__builtin_add_overflow(run.vcn, startVCN, &run.vcn)) return false;
    }
    m_runs.insert(m_runs.end(), runs.begin(), runs.end());
    return true;
}

i64 CNTFSDataRunList::GetLCN(i64 vcn) const {
    for (const CDataRun& run : m_runs) {
        if (vcn >= run.vcn && vcn - run.vcn < run.length) return run.lcn < 0 ? -1 : run.lcn + (vcn - run.vcn);
    }
    return -1;
}

i64 CNTFSDataRunList::GetVCN(i64 lcn) const {
    for (const CDataRun& run : m_runs) {
        if (run.lcn >= 0 && lcn >= run.lcn && lcn - run.lcn < run.length) return lcn - run.lcn + run.vcn;
    }
    return -1;
}

bool CNTFSDataRunList::IsLCNContained(i64 lcn) const { return GetVCN(lcn) != -1; }

i64 CNTFSDataRunList::GetTotalClusters() const {
    i64 total = 0;
    for (const CDataRun& run : m_runs) {
        if (__builtin_add_overflow(total, run.length, &total)) return INT64_MAX;
    }
    return total;
}

void CNTFSDataRunList::Sort() {
    std::stable_sort(m_runs.begin(), m_runs.end(), [](const CDataRun& a, const CDataRun& b) { return a.vcn < b.vcn; });
}

bool CNTFSDataRunList::Save(IRSData& data) const {
    const u64 count = m_runs.size();
    if (!data.WriteCurFrame(&count, 8)) return false;
    for (const CDataRun& run : m_runs) {
        if (!data.WriteCurFrame(&run.lcn, 8) || !data.WriteCurFrame(&run.length, 8) || !data.WriteCurFrame(&run.vcn, 8))
            return false;
    }
    return true;
}

bool CNTFSDataRunList::Restore(IRSData& data) {
    u64 count = 0;
    if (!data.ReadCurFrame(&count, 8)) return false;
    // Three 8-byte fields per run: a count the frame cannot hold is damage, not a size to allocate.
    if (count > data.GetFrameSize() / 24) return false;
    for (u64 i = 0; i < count; ++i) {
        CDataRun run;
        if (!data.ReadCurFrame(&run.lcn, 8) || !data.ReadCurFrame(&run.length, 8) || !data.ReadCurFrame(&run.vcn, 8))
            return false;
        m_runs.push_back(run);
    }
    return true;
}

ByteReader CNTFSFileRecordDataRunsAttribute::GetDataRunsBuffer(const ByteReader& a) {
    const u32 length = std::min<u32>(CNTFSFileRecordAttribute::GetLength(a), u32(a.size()));
    const u32 offset = a.Le16(ntfs::attr::kPairsOffset).value_or(0xFFFF);
    if (offset >= length) return {};
    return a.Sub(offset, length - offset).value_or(ByteReader());
}

int CNTFSFileRecordDataRunsAttribute::GetDataRunsLength(const ByteReader& a) { return int(GetDataRunsBuffer(a).size()); }

i64 CNTFSFileRecordDataRunsAttribute::GetStartVCN(const ByteReader& a) {
    return i64(a.Le64(ntfs::attr::kFirstVcn).value_or(0));
}

bool CNTFSFileRecordDataRunsAttribute::GetDataRunList(const ByteReader& a, CNTFSDataRunList& list) {
    const ByteReader pairs = GetDataRunsBuffer(a);
    return list.InitFromBuffer(pairs.data(), int(pairs.size()));
}

i64 CNTFSFileRecordDataRunsAttribute::GetTotalClusters(const ByteReader& a) {
    const ByteReader pairs = GetDataRunsBuffer(a);
    return CNTFSDataRunList::GetTotalClusters(pairs.data(), int(pairs.size()));
}

u8 CNTFSFileRecordDataRunsAttribute::GetSectorsPerCluster(const ByteReader& a, u32 sectorSize) {
    const i64 initialized = CNTFSFileRecordAttribute::GetInitializedDataSize(a);
    const i64 clusters = GetTotalClusters(a);
    if (initialized < 1 || clusters < 1) return 0;
    return GetSectorsPerCluster::RoundUp(double(initialized) / double(clusters) /
                                         GetSectorsPerCluster::EffectiveSectorSize(sectorSize));
}
