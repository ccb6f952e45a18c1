#include "engine/NTFSSearch/FindFileFromLogFile.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSFilePropertiesBuilder.h"
#include "engine/NTFSLib/NTFSIndexRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace ntfs;

namespace {

constexpr size_t kWorkBufferSize = 8192;
constexpr u32 kFirstWalkedPage = 4;
constexpr u32 kMinFileRecordClient = 113;
constexpr size_t kMaxFileRecordPageOffset = 4003;
constexpr size_t kDataAttributesTaken = 5;
constexpr size_t kJoinedLimit = 1023;

size_t Align8(size_t v) { return (v + 7) & ~size_t(7); }

}  // namespace

u32 CFindFileFromLogFile::SectorSize() const {
    const u32 s = m_device ? m_device->GetSectorSize() : 0;
    return s == 0 ? 512 : s;
}

void CFindFileFromLogFile::Reset() {
    m_foundFiles.clear();
    m_logProperties.reset();
    m_image.clear();
    m_image.shrink_to_fit();
    m_imageTried = false;
    m_copies.clear();
    m_copies.shrink_to_fit();
    m_records.clear();
    m_found = m_done = false;
    m_device = nullptr;
    m_cluster0Sector = 0;
    m_logRuns.clear();
}

bool CFindFileFromLogFile::Init(IStorageDevice* device, const CNTFSDataRunList* mftRuns, u32 spc, i64 cluster0Sector) {
    Reset();
    if (!device || !mftRuns || cluster0Sector < 0) return false;
    m_device = device;
    m_sectorsPerCluster = spc ? spc : 8;
    m_cluster0Sector = cluster0Sector;
    const u32 s = SectorSize();
    if (mftRuns->IsEmpty() || mftRuns->Runs().front().lcn < 0) return false;
    const i64 first = GetClusterStartSector(mftRuns->Runs().front().lcn, m_cluster0Sector, m_sectorsPerCluster);
    const i64 count = std::min<i64>(20, device->GetTotalSectors() - first);
    if (first < 0 || count <= 0) return false;
    std::vector<u8> table(size_t(count) * s, 0);
    if (!device->ReadSector(table.data(), first, count)) return false;
    // Record 2: at byte 2048 with 512-byte sectors, else at two sectors.
    const size_t at = s == 512 ? 2048 : 2 * size_t(s);
    if (at + record::kHandledSize > table.size()) return true;
    CNTFSMultiFileRecord multi(table.data() + at, record::kHandledSize, first + i64(at / s), device, nullptr);
    std::unique_ptr<CNTFSFileProperties> properties(CNTFSFilePropertiesBuilder::BuildFileProperties(
        first + i64(at / s), multi, i64(s) * m_sectorsPerCluster, nullptr));
    if (!properties || std::strstr(properties->GetFileName(), "$LogFile") == nullptr) return true;
    if (IDataRunList* runs = properties->GetDataRunList()) {
        if (!runs->IsResident()) {
            for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext()) m_logRuns.push_back(*run);
        }
        runs->Release();
    }
    m_logProperties = std::move(properties);
    m_found = true;
    return true;
}

u64 CFindFileFromLogFile::GetLogPageCount() const {
    if (!m_device || m_logRuns.empty()) return 0;
    const u64 s = SectorSize();
    u64 bytes = 0;
    for (const DataRun& run : m_logRuns) {
        u64 runBytes = 0;
        if (__builtin_mul_overflow(run.length, u64(m_sectorsPerCluster) * s, &runBytes) ||
            __builtin_add_overflow(bytes, runBytes, &bytes))
            bytes = UINT64_MAX;
    }
    const u64 volume = u64(std::max<i64>(m_device->GetTotalSectors(), 0)) * s;
    bytes = std::min({bytes, volume, kMaxLogBytes});
    return bytes / kPageSize;
}

bool CFindFileFromLogFile::GetLogPageBuffer(u64 page, const u8** out) {
    if (!out) return false;
    if (!m_imageTried) {
        m_imageTried = true;
        const u64 pages = GetLogPageCount();
        if (pages == 0) return false;
        try {
            m_image.assign(size_t(pages * kPageSize), 0);
            m_copies.reserve(m_image.size());
        } catch (const std::bad_alloc&) {
            m_image.clear();
            m_copies.clear();
            return false;
        }
        const u32 s = SectorSize();
        const u64 clusterBytes = u64(m_sectorsPerCluster) * s;
        u64 done = 0;
        for (const DataRun& run : m_logRuns) {
            if (done >= m_image.size()) break;
            u64 runBytes = 0;
            if (__builtin_mul_overflow(run.length, clusterBytes, &runBytes) || runBytes > m_image.size() - done)
                runBytes = m_image.size() - done;
            if (run.start >= 0) {
                const i64 sector = GetClusterStartSector(run.start, m_cluster0Sector, m_sectorsPerCluster);
                const i64 sectors = i64((runBytes + s - 1) / s);
                const bool inside = sector >= 0 && sector + sectors <= m_device->GetTotalSectors();
                if (inside && runBytes % s == 0) {
                    // Read in place; a failed read leaves the run as zeros.
                    u8* at = m_image.data() + done;
                    if (!m_device->ReadSector(at, sector, sectors)) std::fill(at, at + runBytes, u8(0));
                } else if (inside) {
                    std::vector<u8> piece(size_t(sectors) * s, 0);
                    if (m_device->ReadSector(piece.data(), sector, sectors))
                        std::memcpy(m_image.data() + done, piece.data(), size_t(runBytes));
                }
            }
            done += runBytes;
        }
    }
    if (m_image.empty() || page >= m_image.size() / kPageSize) return false;
    *out = m_image.data() + page * kPageSize;
    return true;
}

// Hands every log record of pages 4 .. count - 1 (a record continued on the next page joined to its
// rest) to visit(bytes, length, page offset). The last page's continued record carries into page 4.
template <class Visit>
void CFindFileFromLogFile::WalkLog(Visit&& visit) {
    const u64 pages = GetLogPageCount();
    if (pages <= kFirstWalkedPage) return;
    std::vector<u8> carry;     // the start of a record continued on the next page
    size_t carryTotal = 0;     // its whole length
    size_t carryOffset = 0;    // where it began on its page
    std::vector<u8> page(kPageSize);
    std::vector<u8> joined;

    auto walkPage = [&](u64 index, bool emit) {
        const u8* raw = nullptr;
        if (!GetLogPageBuffer(index, &raw)) return;
        if (!CRCRDRecord::IsValidRCRDRecordFirstSector(raw, kPageSize)) return;
        std::memcpy(page.data(), raw, kPageSize);
        if (!CRCRDRecord::Unfixup(page.data(), kPageSize)) return;
        const ByteReader p(page.data(), kPageSize);
        size_t at = rcrd::kHeaderSize;
        if (!carry.empty()) {
            const size_t rest = carryTotal - carry.size();
            if (rest <= rcrd::kDataSize) {
                joined = carry;
                joined.insert(joined.end(), page.begin() + rcrd::kHeaderSize, page.begin() + rcrd::kHeaderSize + rest);
                if (emit) visit(joined.data(), joined.size(), carryOffset);
                at = rcrd::kHeaderSize + Align8(rest);
            }
            carry.clear();
        }
        const u64 lastLsn = p.Le64(rcrd::kLastLsn).value_or(0);
        const u64 lastEndLsn = p.Le64(rcrd::kLastEndLsn).value_or(0);
        while (at + logrec::kHeaderSize <= kPageSize) {
            const u8* head = nullptr;
            if (!CRCRDRecord::GetOperationRecordHeader(page.data() + at, u32(kPageSize - at), &head)) break;
            const u64 lsn = p.Le64(at + logrec::kThisLsn).value_or(0);
            const u64 client = p.Le32(at + logrec::kClientLength).value_or(0);
            if (lsn == 0) break;
            const size_t total = size_t(client) + logrec::kHeaderSize;
            if (at + total > kPageSize) {
                // Only the page's last record continues, and only when the page says so.
                if (lsn == lastLsn && lastLsn != lastEndLsn) {
                    carry.assign(page.begin() + at, page.end());
                    carryTotal = total;
                    carryOffset = at;
                }
                break;
            }
            if (emit) visit(page.data() + at, total, at);
            if (lsn == lastLsn) break;
            at += Align8(total);
        }
    };

    walkPage(pages - 1, false);  // only its continued record matters: it carries into page 4
    for (u64 index = kFirstWalkedPage; index < pages; ++index) walkPage(index, true);
}

std::unique_ptr<CNTFSFileProperties> CFindFileFromLogFile::BuildFileProperties(const u8* buffer, size_t size,
                                                                              i64* number) {
    if (size < record::kHandledSize) return nullptr;
    std::vector<u8> copy(buffer, buffer + record::kHandledSize);
    const u16 flags = CNTFSFileRecord::Flags(copy.data(), int(copy.size()));
    if ((flags & record::kDirectory) || CNTFSFileRecord::IsExtendFileRecord(copy.data(), int(copy.size()))) return nullptr;
    CNTFSMultiFileRecord multi(copy.data(), u32(copy.size()), -1, m_device, nullptr);
    std::unique_ptr<CNTFSFileProperties> properties(
        CNTFSFilePropertiesBuilder::BuildFileProperties(-1, multi, i64(SectorSize()) * m_sectorsPerCluster, nullptr));
    if (number) *number = i64(multi.GetMainFileRecordIndex());
    if (!properties || properties->GetFileSize() == 0) return nullptr;
    return properties;
}

void CFindFileFromLogFile::AnalyzerFileRecord(const u8* rec, size_t length, size_t pageOffset) {
    const ByteReader r(rec, length);
    const u32 client = r.Le32(logrec::kClientLength).value_or(0);
    if (pageOffset >= kMaxFileRecordPageOffset || client < kMinFileRecordClient) return;
    if (!r.Equals(logrec::kFileRecordAt, "FILE0")) return;
    u8 buffer[record::kHandledSize] = {};
    // The copy never leaves the record: its bytes from 88 are client - 40 by construction.
    const size_t take = std::min<size_t>({size_t(client) - 40, sizeof buffer, length - logrec::kFileRecordAt});
    std::memcpy(buffer, rec + logrec::kFileRecordAt, take);
    i64 number = -1;
    auto properties = BuildFileProperties(buffer, sizeof buffer, &number);
    if (properties) m_foundFiles.push_back({std::move(properties), number});
}

void CFindFileFromLogFile::AnalyzerAllLogRecord(const u8* rec, size_t length) {
    if (length >= rcrd::kDataSize) return;
    RecordSegInfo info;
    std::memcpy(info.header.data(), rec, std::min(length, info.header.size()));
    info.copyOffset = m_copies.size();
    info.length = u32(length);
    m_copies.insert(m_copies.end(), rec, rec + length);
    m_records.push_back(info);
}

bool CFindFileFromLogFile::Analyzer() {
    WalkLog([&](const u8* rec, size_t length, size_t pageOffset) {
        AnalyzerFileRecord(rec, length, pageOffset);
        AnalyzerAllLogRecord(rec, length);
    });
    m_image.clear();
    m_image.shrink_to_fit();
    m_done = true;
    return true;
}

bool CFindFileFromLogFile::BuildFileDataAttributeBuffer(u8* record, size_t size, u32 offset, i64 recordNumber) {
    struct Chosen {
        u16 recordOffset, attributeOffset, undoOffset, undoLength;
        const RecordSegInfo* info;
    };
    std::vector<Chosen> chosen;
    const u32 minUndo = m_compressed ? 24 : 10;
    for (const RecordSegInfo& info : m_records) {
        const ByteReader h(info.header.data(), info.header.size());
        const i64 vcn = i64(h.Le64(logrec::kTargetVcn).value_or(0));
        const u16 clusterIndex = h.Le16(logrec::kClusterIndex).value_or(0);
        const i64 number = m_sectorsPerCluster < 3 ? vcn : vcn * 4 + clusterIndex / 2;
        const u16 recordOffset = h.Le16(logrec::kRecordOffset).value_or(0);
        const u16 attributeOffset = h.Le16(logrec::kAttributeOffset).value_or(0);
        const u16 undoLength = h.Le16(logrec::kUndoLength).value_or(0);
        if (number != recordNumber || recordOffset != offset || attributeOffset == 0 || undoLength <= minUndo) continue;
        chosen.push_back({recordOffset, attributeOffset, h.Le16(logrec::kUndoOffset).value_or(0), undoLength, &info});
    }
    if (chosen.empty()) return false;
    std::stable_sort(chosen.begin(), chosen.end(), [](const Chosen& a, const Chosen& b) {
        return a.recordOffset != b.recordOffset ? a.recordOffset < b.recordOffset : a.attributeOffset < b.attributeOffset;
    });
    const size_t limit = std::min<size_t>(size, record::kHandledSize);
    size_t end = 0;
    for (const Chosen& c : chosen) {
        // Undo data comes from its own log record and lands inside this record, or not at all.
        const size_t from = logrec::kHeaderSize + size_t(c.undoOffset);
        const size_t to = size_t(offset) + c.attributeOffset;
        if (from + c.undoLength > c.info->length || to + c.undoLength > limit) continue;
        std::memcpy(record + to, m_copies.data() + c.info->copyOffset + from, c.undoLength);
        end = std::max(end, to + c.undoLength);
    }
    if (end <= offset) return false;
    ByteWriter(record, limit).Le32(offset + attr::kLength, u32(end - offset));
    return true;
}

void CFindFileFromLogFile::RebuildFileRecord(u8* record, size_t size, i64 recordNumber) {
    if (!record || size < record::kHandledSize) return;
    u32 lastEnd = 0;
    bool lastRebuilt = false;
    for (u32 k = 0; k < 64; ++k) {
        const u32 offset = CNTFSFileRecord::GetAttributeOffset(record, int(record::kHandledSize), attr::kData, k);
        if (offset == 0xFFFFFFFF) break;
        lastRebuilt = BuildFileDataAttributeBuffer(record, size, offset, recordNumber);
        lastEnd = offset + ByteReader(record, record::kHandledSize).Le32(offset + attr::kLength).value_or(0);
    }
    if (lastRebuilt && lastEnd + 4 <= record::kHandledSize) ByteWriter(record, record::kHandledSize).Le32(lastEnd, attr::kEnd);
}

bool CFindFileFromLogFile::ReplaceFileRecordInfo(const u8* record, CNTFSFileProperties& properties, i64 n,
                                                 const CExtendFileRecordInfoList* extensions) {
    if (!record) return false;
    const std::string name = properties.GetFileName();
    const _FilePropertiesExt* twin = nullptr;
    for (const auto& f : m_foundFiles) {
        if (f.number == n && name == f.properties->GetFileName()) {
            twin = &f;
            break;
        }
    }
    if (!twin && n == -1 && CNTFSFileRecord::XPNumber(record, int(record::kHandledSize)) == properties.GetFileRecordIndex()) {
        for (const auto& f : m_foundFiles) {
            if (name == f.properties->GetFileName()) {
                twin = &f;
                break;
            }
        }
    }
    if (!twin) {
        for (const auto& f : m_foundFiles) {
            if (name == f.properties->GetFileName()) {
                twin = &f;
                break;
            }
        }
    }
    if (!twin && (properties.GetAttribute() == ntfsattr::kDirectory || !(properties.GetState() & 1))) return false;
    m_compressed = properties.GetAttribute() & ntfsattr::kCompressed;

    // The record and its extension records, one after the other in a work buffer, each rebuilt.
    std::vector<u8> work(kWorkBufferSize, 0);
    std::vector<std::pair<size_t, size_t>> places;  // (start in work, size) of each record
    std::memcpy(work.data(), record, record::kHandledSize);
    places.push_back({0, record::kHandledSize});
    const u32 s = SectorSize();
    if (extensions && m_device) {
        for (const CAttributeListExtendFileRecordInfo& e : *extensions) {
            if (places.size() > kMaxExtensionRecords) break;
            const size_t start = places.size() * record::kHandledSize;
            if (start + record::kHandledSize > work.size()) break;
            std::vector<u8> piece(2 * size_t(s), 0);
            if (e.sector < 0 || e.sector + 2 > m_device->GetTotalSectors() || !m_device->ReadSector(piece.data(), e.sector, 2))
                continue;
            std::memcpy(work.data() + start, piece.data(), record::kHandledSize);
            places.push_back({start, record::kHandledSize});
        }
    }
    const i64 base = CNTFSFileRecord::HasXPNumber(record, int(record::kHandledSize))
                         ? i64(CNTFSFileRecord::XPNumber(record, int(record::kHandledSize)))
                         : n;
    CNTFSDataRunList rebuilt;
    size_t joined = 0;
    for (size_t i = 0; i < places.size(); ++i) {
        u8* rec = work.data() + places[i].first;
        const i64 number = i == 0 ? base : i64(CNTFSFileRecord::XPNumber(rec, int(record::kHandledSize)));
        RebuildFileRecord(rec, places[i].second, number);
        for (u32 k = 0; k < kDataAttributesTaken; ++k) {
            const ByteReader a = CNTFSFileRecord::FindAttibute(rec, int(record::kHandledSize), attr::kData, k);
            if (a.empty()) break;
            if (CNTFSFileRecordAttribute::IsNamed(a)) continue;
            if (CNTFSFileRecordAttribute::IsResident(a)) continue;
            const ByteReader pairs = CNTFSFileRecordDataRunsAttribute::GetDataRunsBuffer(a);
            const size_t piece = joined == 0 ? CNTFSFileRecordAttribute::GetLength(a) : pairs.size();
            if (joined + piece > kJoinedLimit) break;
            joined += piece;
            rebuilt.AddDataRunsfromBuffer(pairs.data(), int(pairs.size()), CNTFSFileRecordDataRunsAttribute::GetStartVCN(a));
        }
    }
    rebuilt.Sort();
    i64 clusters = 0;
    IDataRunList* list = BuildNonResidentDataRunListfromNTFSDataRunList(rebuilt, &clusters);
    if (!twin) {
        if (list) {
            properties.SetFileSize(clusters * m_sectorsPerCluster * i64(s));
            properties.SetDataRunList(list);
            list->Release();
        }
        return true;
    }
    if (list) {
        properties.SetDataRunList(list);
        list->Release();
    } else if (IDataRunList* theirs = twin->properties->GetDataRunList()) {
        properties.SetDataRunList(theirs);
        theirs->Release();
    }
    properties.SetFileSize(twin->properties->GetFileSize());
    return true;
}
