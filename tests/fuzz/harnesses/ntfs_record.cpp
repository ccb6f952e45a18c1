// NTFS file records and their attributes, as the quick NTFS search reads the master file table: each
// record of the input is validated and unprotected, its system-file name checked, its extension
// records found through its attribute list, and its properties built ($STANDARD_INFORMATION,
// $FILE_NAME, $DATA) into a node; the readers of the other findings (the table's own record, the log,
// the bitmap, folders with an index, the volume label) and the resident-data readers run on it too.
//   byte 0: bit 0 4096-byte sectors (else 512), bit 1 4096-byte records (else 1024), bits 2-4 log2 of
//           the sectors per cluster;
//   then the table: record n at n x the record size. The volume is the table folded, its cluster 0 the
//   table's first (so the extension records an attribute list names are read from the input).
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/NTFSFilePropertiesBuilder.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSFindings.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "engine/NTFSLib/ResidentDataStream.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/NodeSink.h"

namespace {

using namespace ntfs;

struct Volume {
    fuzz::FuzzDevice& device;
    CNTFSDataRunList& tableRuns;
    u32 sectorSize;
    u32 recordSize;
    u8 spc;
};

// A copy of the record in memory of exactly its size: a read past it is an AddressSanitizer error.
std::unique_ptr<u8[]> Copy(const u8* bytes, size_t size) {
    auto copy = std::make_unique<u8[]>(size);
    std::memcpy(copy.get(), bytes, size);
    return copy;
}

// The quick search's treatment of one record (BuildFileNodeFromBuffer).
void AsTheQuickSearchDoes(const Volume& v, const u8* bytes, i64 number, i64 sector, fuzz::NodeSink& sink) {
    auto rec = Copy(bytes, v.recordSize);
    const int length = static_cast<int>(v.recordSize);
    CNTFSFileRecord record(rec.get(), length, 0);
    if (!record.IsValid() || record.IsExtendFileRecord()) return;
    if (CIsMetaFileRecord::IsMetaFileRecord(number) && CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record)) return;
    CCommonFileRecordInfo info;
    if (!info.InitFromBuffer(record, sector)) return;
    const u8 spr = static_cast<u8>(std::max<u32>(1, v.recordSize / v.sectorSize));
    std::unique_ptr<CExtendFileRecordInfoList> extensions;
    if (CNTFSFileRecord::HasAttributeList(record.GetBuffer(), length)) {
        extensions = InitExtendFileRecord(record.GetBuffer(), v.recordSize, sector, v.spc, 0, v.device, &v.tableRuns, spr);
    }
    CNTFSMultiFileRecord multi(record, sector, &v.device, extensions.get());
    i64 parent = -1;
    CNTFSFileProperties* properties =
        CNTFSFilePropertiesBuilder::BuildFileProperties(sector, multi, i64{v.spc} * v.sectorSize, &parent);

    // The first unnamed $DATA: resident, copied; non-resident, read from the volume (a bounded buffer).
    u32 offset = 0;
    i64 at = -1;
    const ByteReader data = FindMainDataRunsAttribute(multi, &offset, &at);
    if (!data.empty()) {
        std::vector<u8> out(16 * 1024);
        i64 got = 0;
        GetAttributeDatafromAttributeBuffer(data, &got, out.data(), static_cast<u32>(out.size()), 0, v.spc, v.device);
        FUZZ_CHECK(got <= static_cast<i64>(out.size()));
    }
    if (!properties) return;
    CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(properties, v.spc);
    properties->SetExtendFileRecordInfoList(std::move(extensions));
    auto* node = new CNTFSFileNode();
    node->SetFileProperties(properties);
    node->SetCurrentNodeID(number);
    node->SetParentNodeID(info.GetFileRecordNumberofParentDirectory());
    std::vector<u8> stream(4096);
    i64 streamLength = 0;
    GetResidentDataRunsStream(*node, v.device, &streamLength, stream.data(), static_cast<u32>(stream.size()));
    sink.AddNode(node, SEARCHER_NTFS);
}

// The readers of what the deep search recognises in a record, and the other record-level readers.
void OtherReaders(const Volume& v, const u8* bytes, i64 sector) {
    const int length = static_cast<int>(v.recordSize);
    {
        auto rec = Copy(bytes, v.recordSize);
        for (const MetaFileRecordEntry& e : metaFileRecordMFTNumberandFileNameArray) {
            CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(rec.get(), e.name);
        }
        CIsMetaFileRecord::IsMetaFileRecord(rec.get(), length);
        char label[256];
        if (CVolumeFileAnalyzer::GetLabel(rec.get(), label, sizeof label, length)) {
            FUZZ_CHECK(std::memchr(label, 0, sizeof label) != nullptr);
        }
        u8 spc = 0;
        CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(rec.get(), spc, v.sectorSize);
    }
    auto rec = Copy(bytes, v.recordSize);
    CNTFSFileRecord record(rec.get(), length, 0);
    if (!record.IsValid()) return;
    CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(record);
    delete CMFTInfo::Build(record, sector, v.sectorSize);
    delete CMFTMirrInfo::Build(record, sector, v.sectorSize);
    CLogFileInfo log;
    log.InitFromBuffer(record, sector, v.sectorSize);
    CBitmapFileInfo bitmap;
    bitmap.InitFromBuffer(record, sector);
    CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(record);
    CNTFSDataRunList runs;
    i64 realSize = 0;
    CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, 1, &realSize);
    const ByteReader root = record.FindAttibute(attr::kIndexRoot, 0);
    if (!root.empty()) CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(root);
    for (u32 n = 0; n < 4; ++n) {
        const ByteReader name = record.FindAttibute(attr::kFileName, n);
        if (name.empty()) break;
        std::string text;
        const ByteReader units = CNTFSFileRecordFileNameAttribute::GetFileName(name);
        Utf16LeToUtf8(units.data(), units.size(), text);
    }
    // The folder finding reads the record itself (its own copy, unprotected once more).
    auto again = Copy(bytes, v.recordSize);
    CFolderIndexAllocationInfo folder;
    folder.InitFromBuffer(again.get(), length, sector, v.sectorSize);
}

}  // namespace

BRELVOX_FUZZ_TARGET(1 + 64 * 1024) {
    if (size < 1) return;
    const u32 sectorSize = (data[0] & 1) != 0 ? 4096 : 512;
    const u32 recordSize = (data[0] & 2) != 0 ? 4096 : 1024;
    const u8 spc = static_cast<u8>(1u << ((data[0] >> 2) & 7));
    const u8* table = data + 1;
    const size_t tableSize = size - 1;
    fuzz::FuzzDevice device(table, tableSize, sectorSize, i64{1} << 20);
    CNTFSDataRunList tableRuns;
    tableRuns.AddRun({0, 0, device.GetTotalSectors() / spc});
    const Volume v{device, tableRuns, sectorSize, recordSize, spc};

    fuzz::NodeSink sink;
    for (size_t at = 0; at + recordSize <= tableSize; at += recordSize) {
        const i64 number = static_cast<i64>(at / recordSize);
        const i64 sector = static_cast<i64>(at / sectorSize);
        AsTheQuickSearchDoes(v, table + at, number, sector, sink);
        OtherReaders(v, table + at, sector);
    }
}
