// The $LogFile analysis of the quick NTFS search: the log's record is found as record 2 of the master
// file table, its pages read into memory, every log record walked (records continued on the next page
// joined), whole FILE records written by the log taken as files, and deleted empty records of the table
// rebuilt from the undo data.
//   The input is a volume (see fuzz/support/FuzzDevice.h: two geometry bytes, then the sectors,
//   folded); its cluster 0 is the table's first; bits 1-3 of the first byte are log2 of the sectors per
//   cluster.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFilePropertiesBuilder.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/NTFSSearch/FindFileFromLogFile.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"

namespace {
constexpr size_t kTableRecords = 16;
}  // namespace

BRELVOX_FUZZ_TARGET(fuzz::kDeviceHeaderBytes + 128 * 1024) {
    fuzz::DeviceInput in;
    if (!fuzz::ReadDeviceHeader(data, size, in)) return;
    fuzz::FuzzDevice device(in.image, in.imageSize, in.sectorSize, in.totalSectors);
    const u8 spc = static_cast<u8>(1u << ((data[0] >> 1) & 7));
    CNTFSDataRunList table;
    table.AddRun({0, 0, device.GetTotalSectors() / spc});

    CFindFileFromLogFile log;
    if (!log.Init(&device, &table, spc)) return;
    log.Analyzer();
    for (const auto& found : log.GetFoundFiles()) FUZZ_CHECK(found.properties != nullptr);

    // The records of the table's start, as the quick search hands them over after the analysis (records
    // of 1024 bytes, or of one sector where sectors are larger, as the log's own record is found).
    const u32 recordSize = std::max<u32>(1024, in.sectorSize);
    for (size_t n = 0; n < kTableRecords; ++n) {
        std::vector<u8> record(recordSize, 0);
        const u64 at = n * recordSize;
        if (at + recordSize > in.imageSize) break;
        std::memcpy(record.data(), in.image + at, recordSize);
        const i64 sector = static_cast<i64>(at / in.sectorSize);
        CNTFSFileRecord wrapped(record.data(), static_cast<int>(recordSize), 0);
        if (!wrapped.IsValid()) continue;
        CNTFSMultiFileRecord multi(wrapped, sector, &device, nullptr);
        std::unique_ptr<CNTFSFileProperties> properties(
            CNTFSFilePropertiesBuilder::BuildFileProperties(sector, multi, i64{spc} * in.sectorSize, nullptr));
        // The quick search asks only for the deleted files of size 0.
        if (properties && !wrapped.IsFolder() && properties->GetFileSize() == 0 && (properties->GetState() & 1)) {
            log.ReplaceFileRecordInfo(multi.GetMainRecord().data(), *properties, static_cast<i64>(n), nullptr);
        }
        const ByteReader main = multi.GetMainRecord();
        std::vector<u8> copy(main.data(), main.data() + main.size());
        if (copy.size() >= recordSize) log.RebuildFileRecord(copy.data(), copy.size(), static_cast<i64>(n));
    }
}
