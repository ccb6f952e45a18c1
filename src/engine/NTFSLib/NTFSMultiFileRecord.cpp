#include "engine/NTFSLib/NTFSMultiFileRecord.h"

#include <algorithm>
#include <cstring>

#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace ntfs;
using Attribute = CNTFSFileRecordAttribute;

namespace {

// Reads `bytes` bytes at a sector (whole sectors, cut to the device), zero-filling what lies past it.
bool ReadBytesAt(IStorageDevice& device, i64 sector, u8* out, size_t bytes) {
    const u32 s = device.GetSectorSize();
    if (s == 0 || sector < 0) return false;
    const i64 total = device.GetTotalSectors();
    const i64 wanted = i64((bytes + s - 1) / s);
    const i64 count = std::min<i64>(wanted, total - sector);
    if (count <= 0) return false;
    std::vector<u8> buffer(size_t(count) * s, 0);
    if (!device.ReadSector(buffer.data(), sector, count)) return false;
    std::memset(out, 0, bytes);
    std::memcpy(out, buffer.data(), std::min(bytes, buffer.size()));
    return true;
}

}  // namespace

i64 GetClusterStartSector(i64 cluster, i64 cluster0Sector, int sectorsPerCluster) {
    i64 sector = 0;
    if (__builtin_mul_overflow(cluster, i64(sectorsPerCluster), &sector) ||
        __builtin_add_overflow(sector, cluster0Sector, &sector))
        return -1;
    return sector;
}

i64 GetFileRecordStartSectorfromMFTNumber(i64 number, u32 spc, i64 cluster0Sector, const CNTFSDataRunList* mftRuns,
                                          u8 spr) {
    if (!mftRuns || spc == 0 || number < 0) return -1;
    if (spr == 0) spr = 1;
    i64 s = 0;
    if (__builtin_mul_overflow(number, i64(spr), &s)) return -1;
    const i64 lcn = mftRuns->GetLCN(s / spc);
    if (lcn < 0) return -1;
    const i64 start = GetClusterStartSector(lcn, cluster0Sector, spc);
    return start < 0 ? -1 : start + s % spc;
}

bool GetAttributeDatafromNonResidentAttributeBuffer(const u8* pairs, u32 pairsSize, u8* out, u32 outSize,
                                                    i64 cluster0Sector, int spc, IStorageDevice& device) {
    std::vector<CDataRun> runs;
    if (!out || spc <= 0 || !CNTFSDataRunList::FormDataRunList(pairs, int(pairsSize), runs)) return false;
    const u64 clusterBytes = u64(device.GetSectorSize()) * u64(spc);
    if (clusterBytes == 0) return false;
    u64 done = 0;
    for (const CDataRun& run : runs) {
        if (done >= outSize) break;
        const u64 left = outSize - done;
        u64 runBytes = 0;
        if (__builtin_mul_overflow(u64(run.length), clusterBytes, &runBytes) || runBytes > left) runBytes = left;
        if (run.lcn < 0) {
            std::memset(out + done, 0, size_t(runBytes));  // a sparse run lies nowhere: zeros
        } else {
            const i64 sector = GetClusterStartSector(run.lcn, cluster0Sector, spc);
            if (sector < 0 || !ReadBytesAt(device, sector, out + done, size_t(runBytes))) return false;
        }
        done += runBytes;
    }
    return true;
}

std::unique_ptr<CExtendFileRecordInfoList> GetExtendFileRecordInfoList(const u8* buf, u32 size, i64 cluster0Sector, int spc,
                                                                      IStorageDevice& device) {
    CNTFSFileRecord record(buf, int(size), 0);
    if (!record.IsValid()) return nullptr;
    const ByteReader a = record.FindAttibute(attr::kAttributeList, 0);
    if (a.empty()) return nullptr;
    std::vector<u8> owned;
    ByteReader list;
    if (Attribute::IsResident(a)) {
        list = Attribute::Value(a);
    } else {
        const ByteReader pairs = CNTFSFileRecordDataRunsAttribute::GetDataRunsBuffer(a);
        const i64 initialized = Attribute::GetInitializedDataSize(a);
        const i64 allocated = Attribute::GetAllocSizeofAttribute(a);
        if (pairs.empty() || initialized < 1 || initialized > allocated) return nullptr;
        // Sized by the list's real length under a fixed cap, never by the allocated size from disk.
        if (initialized > i64(kMaxAttributeListSize)) return nullptr;
        owned.assign(size_t(initialized), 0);
        if (!GetAttributeDatafromNonResidentAttributeBuffer(pairs.data(), u32(pairs.size()), owned.data(),
                                                            u32(owned.size()), cluster0Sector, spc, device))
            return nullptr;
        list = ByteReader(owned.data(), owned.size());
    }
    auto out = std::make_unique<CExtendFileRecordInfoList>();
    for (size_t at = 0; at < list.size();) {
        const u32 type = list.Le32(at + attrlist::kType).value_or(0);
        const u16 length = list.Le16(at + attrlist::kLength).value_or(0);
        const auto reference = list.Le64(at + attrlist::kReference);
        if (type == 0 || length == 0 || !reference) break;
        const i64 number = i64(*reference & record::kReferenceMask);
        if (!HasSameExtendFileRecordInfoList(*out, number)) out->push_back({-1, number});
        at += length;
    }
    if (out->empty()) return nullptr;
    return out;
}

void CalcFileRecordStartSectorinExtendFileRecordInfoList(CExtendFileRecordInfoList& list, u32 spc, i64 cluster0Sector,
                                                         const CNTFSDataRunList* mftRuns, u8 spr) {
    for (CAttributeListExtendFileRecordInfo& e : list)
        e.sector = GetFileRecordStartSectorfromMFTNumber(e.number, spc, cluster0Sector, mftRuns, spr);
}

void RemoveMainFileRecordInfofromFileRecordInfoList(CExtendFileRecordInfoList& list, i64 mainSector) {
    std::erase_if(list, [&](const CAttributeListExtendFileRecordInfo& e) { return e.sector == mainSector || e.sector == -1; });
}

bool HasSameExtendFileRecordInfoList(const CExtendFileRecordInfoList& list, i64 recordNumber) {
    return std::any_of(list.begin(), list.end(), [&](const auto& e) { return e.number == recordNumber; });
}

std::unique_ptr<CExtendFileRecordInfoList> InitExtendFileRecord(const u8* record, u32 size, i64 recordSector, u32 spc,
                                                               i64 cluster0Sector, IStorageDevice& device,
                                                               const CNTFSDataRunList* mftRuns, u8 spr) {
    auto list = GetExtendFileRecordInfoList(record, size, cluster0Sector, spc, device);
    if (!list) return nullptr;
    CalcFileRecordStartSectorinExtendFileRecordInfoList(*list, spc, cluster0Sector, mftRuns, spr);
    RemoveMainFileRecordInfofromFileRecordInfoList(*list, recordSector);
    if (list->empty()) return nullptr;
    return list;
}

u8* CAttributeListExtendFileRecordBufferInfo::GetExtendFileRecordBuffer() {
    if (m_tried) return m_valid ? m_buffer.data() : nullptr;
    m_tried = true;
    if (m_sector < 0 || !m_device) return nullptr;
    const u32 s = m_device->GetSectorSize();
    m_buffer.assign(s == 512 || s == 0 ? record::kHandledSize : s, 0);
    if (!ReadBytesAt(*m_device, m_sector, m_buffer.data(), m_buffer.size())) return nullptr;
    if (!CNTFSFileRecord::IsValid(m_buffer.data(), int(m_buffer.size()))) return nullptr;
    CNTFSFileRecord::UnfixupFileRecord(m_buffer.data(), int(m_buffer.size()));
    m_valid = true;
    return m_buffer.data();
}

CNTFSMultiFileRecord::CNTFSMultiFileRecord(const u8* buf, u32 size, i64 sector, IStorageDevice* device,
                                           const CExtendFileRecordInfoList* extensions)
    : m_sector(sector), m_device(device) {
    if (!buf) return;
    std::vector<u8> copy(buf, buf + size);
    if (!CNTFSFileRecord::IsValid(copy.data(), int(copy.size()))) return;
    CNTFSFileRecord::UnfixupFileRecord(copy.data(), int(copy.size()));
    m_copy = std::move(copy);
    m_record = m_copy.data();
    m_size = u32(m_copy.size());
    AddExtensions(extensions);
}

CNTFSMultiFileRecord::CNTFSMultiFileRecord(const CNTFSFileRecord& record, i64 sector, IStorageDevice* device,
                                           const CExtendFileRecordInfoList* extensions)
    : m_sector(sector), m_device(device) {
    if (!record.IsValid()) return;
    m_record = record.GetBuffer();
    m_size = u32(record.GetSize());
    m_wrapped = &record;
    AddExtensions(extensions);
}

void CNTFSMultiFileRecord::AddExtensions(const CExtendFileRecordInfoList* extensions) {
    if (!extensions) return;
    for (const CAttributeListExtendFileRecordInfo& e : *extensions) {
        if (m_extensions.size() >= kMaxExtensionRecords) break;
        m_extensions.emplace_back(m_device, e.sector, e.number);
    }
}

bool CNTFSMultiFileRecord::IsinUse() const {
    return CNTFSFileRecord::Flags(m_record, int(m_size)) & record::kInUse;
}

u64 CNTFSMultiFileRecord::GetMainFileRecordIndex() const {
    return m_size == 0 ? 0 : CNTFSFileRecord::XPNumber(m_record, int(m_size));
}

ByteReader CNTFSMultiFileRecord::FindAttibute(u32 type, u32 n, u32* offsetInRecord, i64* recordSector) {
    if (m_size == 0) return {};
    const int size = int(m_size);
    u32 offset = m_wrapped ? m_wrapped->GetAttributeOffset(type, n) : CNTFSFileRecord::GetAttributeOffset(m_record, size, type, n);
    if (offset != 0xFFFFFFFF) {
        if (offsetInRecord) *offsetInRecord = offset;
        if (recordSector) *recordSector = m_sector;
        return CNTFSFileRecord::AttributeAt(m_record, size, offset);
    }
    if (m_extensions.empty()) return {};
    u32 seen = CNTFSFileRecord::GetAttibuteCountofSpecifiedType(m_record, size, type);
    const bool numbered = CNTFSFileRecord::HasXPNumber(m_record, size);
    const u64 base = GetMainFileRecordIndex();
    for (CAttributeListExtendFileRecordBufferInfo& e : m_extensions) {
        u8* ext = e.GetExtendFileRecordBuffer();
        if (!ext) continue;
        // An extension record reused by another file since is not this file's.
        const u64 owner = ByteReader(ext, size_t(e.GetSize())).Le64(record::kBaseReference).value_or(0) & record::kReferenceMask;
        if (numbered && owner != base) continue;
        const u32 count = CNTFSFileRecord::GetAttibuteCountofSpecifiedType(ext, e.GetSize(), type);
        if (seen + count > n) {
            offset = CNTFSFileRecord::GetAttributeOffset(ext, e.GetSize(), type, n - seen);
            if (offset == 0xFFFFFFFF) return {};
            if (offsetInRecord) *offsetInRecord = offset;
            if (recordSector) *recordSector = e.GetSector();
            return CNTFSFileRecord::AttributeAt(ext, e.GetSize(), offset);
        }
        seen += count;
    }
    return {};
}

std::unique_ptr<CNTFSMultiFileRecord> GetResidentFileRecord(u64 sector, IStorageDevice& device) {
    const u32 s = device.GetSectorSize();
    if (s == 0 || sector > u64(INT64_MAX)) return nullptr;
    const i64 left = device.GetTotalSectors() - i64(sector);
    const i64 count = std::min<i64>(16, left);
    if (count <= 0 || count * s < record::kHandledSize) return nullptr;
    std::vector<u8> buffer(size_t(count) * s, 0);
    if (!device.ReadSector(buffer.data(), i64(sector), count)) return nullptr;
    auto multi = std::make_unique<CNTFSMultiFileRecord>(buffer.data(), u32(buffer.size()), i64(sector), &device, nullptr);
    if (!multi->IsValid()) return nullptr;
    return multi;
}

std::unique_ptr<CNTFSMultiFileRecord> GetMultiFileRecord(CNTFSFileNode& node, IStorageDevice& device) {
    auto* properties = dynamic_cast<CNTFSFileProperties*>(node.GetFileProperties());
    if (!properties || (properties->GetAttribute() & ntfsattr::kDirectory)) return nullptr;
    const i64 sector = properties->GetFileRecordStartSector();
    const u32 s = device.GetSectorSize();
    if (s == 0 || sector < 0) return nullptr;
    const i64 count = std::min<i64>(16, device.GetTotalSectors() - sector);
    if (count <= 0 || count * s < record::kHandledSize) return nullptr;
    std::vector<u8> buffer(size_t(count) * s, 0);
    if (!device.ReadSector(buffer.data(), sector, count)) return nullptr;
    auto multi = std::make_unique<CNTFSMultiFileRecord>(buffer.data(), u32(buffer.size()), sector, &device,
                                                        properties->GetExtendFileRecordInfoList());
    if (!multi->IsValid()) return nullptr;
    return multi;
}

ByteReader FindMainDataRunsAttribute(CNTFSMultiFileRecord& multi, u32* offsetInRecord, i64* recordSector) {
    for (u32 n = 0;; ++n) {
        const ByteReader a = multi.FindAttibute(attr::kData, n, offsetInRecord, recordSector);
        if (a.empty()) return {};
        if (!Attribute::IsNamed(a)) return a;
    }
}

bool GetResidentAttributeDatafromAttributeBuffer(const ByteReader& a, u8* out, u32 outSize, i64* length) {
    if (!out || !length || !Attribute::IsResident(a)) return false;
    const ByteReader value = Attribute::Value(a);
    if (value.size() != Attribute::GetLengthOfAttribute(a) || value.size() > outSize) return false;
    value.CopyTo(0, out, value.size());
    *length = i64(value.size());
    return true;
}

bool GetAttributeDatafromAttributeBuffer(const ByteReader& a, i64* length, u8* out, u32 outSize, i64 cluster0Sector,
                                         int spc, IStorageDevice& device) {
    if (!length || !out) return false;
    if (Attribute::IsResident(a)) return GetResidentAttributeDatafromAttributeBuffer(a, out, outSize, length);
    const ByteReader pairs = CNTFSFileRecordDataRunsAttribute::GetDataRunsBuffer(a);
    *length = 0;
    if (pairs.empty()) return true;
    std::vector<CDataRun> runs;
    CNTFSDataRunList::FormDataRunList(pairs.data(), int(pairs.size()), runs);
    u64 done = 0;
    const u64 clusterBytes = 512ull * u64(std::max(spc, 0));
    for (const CDataRun& run : runs) {
        if (clusterBytes == 0 || u64(run.length) > (outSize - done) / clusterBytes) break;
        const u64 bytes = u64(run.length) * clusterBytes;
        if (run.lcn < 0) {
            std::memset(out + done, 0, size_t(bytes));
        } else {
            const i64 sector = GetClusterStartSector(run.lcn, cluster0Sector, spc);
            if (sector < 0 || !ReadBytesAt(device, sector, out + done, size_t(bytes))) return false;
        }
        done += bytes;
    }
    *length = std::min<i64>(outSize, Attribute::GetInitializedDataSize(a));
    return true;
}
