#include "engine/NTFSLib/NTFSDataRunLists.h"

#include <memory>
#include <new>

#include "engine/FileArchive/IRSData.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileRecord.h"

void CResidentNTFSDataRunList::InitList(i64 start, i64 length, u32 offset) {
    m_runs.clear();
    DataRun run;
    run.start = start;
    run.length = u64(length);
    CDataRunList::AddDataRun(&run);
    m_offset = offset;
}

IDataRunList* CResidentNTFSDataRunList::Clone() {
    auto* copy = new (std::nothrow) CResidentNTFSDataRunList();
    if (!copy) return nullptr;
    for (const auto& run : m_runs) copy->CDataRunList::AddDataRun(run.get());
    copy->m_offset = m_offset;
    return copy;
}

bool CNoneResidentNTFSDataRunList::InitFromBuffer(const u8* pairs, int size) {
    m_runs.clear();
    if (!pairs || size < 1) return true;
    std::vector<CDataRun> runs;
    const bool whole = CNTFSDataRunList::FormDataRunList(pairs, size, runs);
    for (const CDataRun& r : runs) {
        DataRun run;
        run.start = r.lcn;
        run.length = u64(r.length);
        AddDataRun(&run);
    }
    return whole;
}

IDataRunList* CNoneResidentNTFSDataRunList::Clone() {
    auto* copy = new (std::nothrow) CNoneResidentNTFSDataRunList();
    if (!copy) return nullptr;
    for (const auto& run : m_runs) copy->AddDataRun(run.get());
    return copy;
}

int GetNeedBytes(i64 v) {
    for (int n = 1; n < 8; ++n) {
        const i64 limit = i64{1} << (8 * n - 1);
        if (v < 0 ? v >= -limit : v < limit) return n;
    }
    return 8;
}

void CompressOneDataRun(u8 offsetBytes, u8 lengthBytes, i64 offset, i64 length, std::vector<u8>& out) {
    out.push_back(u8((offsetBytes << 4) | lengthBytes));
    for (u8 i = 0; i < lengthBytes; ++i) out.push_back(u8(u64(length) >> (8 * i)));
    for (u8 i = 0; i < offsetBytes; ++i) out.push_back(u8(u64(offset) >> (8 * i)));
}

namespace {

// Appends the run {start (negative: sparse), length} after the one that started at previous; false
// when its start cannot be written as a 64-bit difference.
bool AppendRun(i64 start, i64 length, i64& previous, std::vector<u8>& out) {
    const bool sparse = start < 0;
    i64 offset = 0;
    if (!sparse && __builtin_sub_overflow(start, previous, &offset)) return false;
    CompressOneDataRun(sparse ? 0 : u8(GetNeedBytes(offset)), u8(GetNeedBytes(length)), offset, length, out);
    if (!sparse) previous = start;
    return true;
}

}  // namespace

std::vector<u8> CreateCompressedDataRun(IDataRunList* list) {
    std::vector<u8> out;
    if (!list) return out;
    out.reserve(18);  // one run of the longest encoding and the end mark: most lists need no growth
    i64 previous = 0;
    for (DataRun* run = list->GetFirst(); run; run = list->GetNext()) {
        if (!AppendRun(run->start, i64(run->length), previous, out)) return {};
    }
    if (out.empty()) return out;
    out.push_back(0);
    return out;
}

CCompressedDataRunList* CCompressedDataRunList::Compress(IDataRunList* list) {
    if (!list) return nullptr;
    u16 offset = 0;
    if (list->GetDataRunListType() == 1) {
        if (list->GetOffset() <= 0 || list->GetOffset() > 0xFFFF) return nullptr;
        offset = u16(list->GetOffset());
    } else if (list->GetOffset() != 0) {
        return nullptr;
    }
    std::vector<u8> bytes = CreateCompressedDataRun(list);
    if (bytes.empty()) return nullptr;
    auto* out = new (std::nothrow) CCompressedDataRunList();
    if (!out) return nullptr;
    out->m_dataOffset = offset;
    out->m_bytes = std::move(bytes);
    return out;
}

CCompressedDataRunList* CCompressedDataRunList::CompressResident(i64 recordSector, u32 offsetInRecord) {
    std::optional<CCompressedDataRunList> list = Resident(recordSector, offsetInRecord);
    return list ? new (std::nothrow) CCompressedDataRunList(std::move(*list)) : nullptr;
}

std::optional<CCompressedDataRunList> CCompressedDataRunList::Resident(i64 recordSector, u32 offsetInRecord) {
    if (offsetInRecord == 0 || offsetInRecord > 0xFFFF) return std::nullopt;
    CCompressedDataRunList out;
    if (recordSector < 0) {
        out.m_bytes.reserve(18);
        i64 previous = 0;
        if (!AppendRun(recordSector, 1, previous, out.m_bytes)) return std::nullopt;
        out.m_bytes.push_back(0);
    } else {
        out.m_residentSector = recordSector;
    }
    out.m_dataOffset = u16(offsetInRecord);
    return out;
}

std::vector<u8> CCompressedDataRunList::Bytes() const {
    if (m_residentSector < 0) return m_bytes;
    // {sector, 1}: a sector of 0 or more always encodes.
    std::vector<u8> bytes;
    i64 previous = 0;
    AppendRun(m_residentSector, 1, previous, bytes);
    bytes.push_back(0);
    return bytes;
}

u32 CCompressedDataRunList::GetCompressedDataRunSize() const {
    if (m_residentSector >= 0) return u32(Bytes().size());
    return m_bytes.empty() ? 1 : u32(m_bytes.size());
}

IDataRunList* CCompressedDataRunList::Decompress() const {
    if (m_dataOffset && m_residentSector >= 0) {
        auto* list = new (std::nothrow) CResidentNTFSDataRunList();
        if (list) list->InitList(m_residentSector, 1, m_dataOffset);
        return list;
    }
    if (m_bytes.empty()) return nullptr;
    if (m_dataOffset) {
        std::vector<CDataRun> runs;
        CNTFSDataRunList::FormDataRunList(m_bytes.data(), int(m_bytes.size()), runs);
        if (runs.empty()) return nullptr;
        auto* list = new (std::nothrow) CResidentNTFSDataRunList();
        if (list) list->InitList(runs.front().lcn, runs.front().length, m_dataOffset);
        return list;
    }
    auto* list = new (std::nothrow) CNoneResidentNTFSDataRunList();
    if (list) list->InitFromBuffer(m_bytes.data(), int(m_bytes.size()));
    return list;
}

bool CCompressedDataRunList::Save(IRSData* data) const {
    if (!data) return false;
    const std::vector<u8> bytes = Bytes();
    const u32 count = bytes.empty() ? 1 : u32(bytes.size());
    const u8 empty = 0;
    return data->WriteCurFrame(&count, 4) && data->WriteCurFrame(bytes.empty() ? &empty : bytes.data(), count) &&
           data->WriteCurFrame(&m_dataOffset, 2);
}

CCompressedDataRunList* CCompressedDataRunList::Restore(IRSData* data) {
    if (!data) return nullptr;
    try {
        u32 count = 0;
        if (!data->ReadCurFrame(&count, 4)) return nullptr;
        if (count == 0 || count > data->GetFrameSize()) return nullptr;
        std::unique_ptr<CCompressedDataRunList> out(new CCompressedDataRunList());
        out->m_bytes.assign(count, 0);
        if (!data->ReadCurFrame(out->m_bytes.data(), count) || !data->ReadCurFrame(&out->m_dataOffset, 2)) return nullptr;
        return out.release();
    } catch (...) {
        return nullptr;
    }
}

IDataRunList* BuildNonResidentDataRunListfromNTFSDataRunList(const CNTFSDataRunList& runs, i64* totalClusters) {
    if (totalClusters) *totalClusters = runs.GetTotalClusters();
    if (runs.IsEmpty()) return nullptr;
    auto* list = new (std::nothrow) CNoneResidentNTFSDataRunList();
    if (!list) return nullptr;
    for (const CDataRun& r : runs.Runs()) {
        DataRun run;
        run.start = r.lcn;
        run.length = u64(r.length);
        list->AddDataRun(&run);
    }
    return list;
}

IDataRunList* GetDataRunListfromResidentAttributeBuffer(const ByteReader& a, i64 recordSector, u32 offsetInRecord,
                                                        i64* valueLength) {
    if (valueLength) *valueLength = CNTFSFileRecordAttribute::GetLengthOfAttribute(a);
    auto* list = new (std::nothrow) CResidentNTFSDataRunList();
    if (list) list->InitList(recordSector, 1, offsetInRecord);
    return list;
}
