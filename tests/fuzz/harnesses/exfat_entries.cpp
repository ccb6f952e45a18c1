// exFAT entry sets: the quick exFAT search over a small volume built around the input (its boot
// sector sound and made here), which walks the folders from the root, assembles the file, stream and
// name entries of each set (a set may run over a cluster boundary) and makes the node of each; and the
// set assembler cluster by cluster over the whole heap, and the set checksum, on the input itself.
//   byte 0: bit 0 4096-byte sectors (else 512), bits 1-3 log2 of the sectors per cluster;
//   byte 1: the root folder's cluster (2 + byte % 64);
//   then 512 bytes: the start of the allocation table (the rest of it is free);
//   then the cluster heap from cluster 2.
#include <algorithm>

#include "engine/Common/ByteReader.h"
#include "engine/EXFatSearch/EFDTAnalyze.h"
#include "engine/EXFatSearch/ExFatDirEntry.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/EXFatSearch/ExFatQuickSearch.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/NodeSink.h"

namespace {

constexpr size_t kHeader = 2;
constexpr size_t kTableBytes = 512;
constexpr u32 kClusters = 2048;
constexpr u32 kTableSector = 24;  // after the main and backup boot regions

}  // namespace

BRELVOX_FUZZ_TARGET(kHeader + kTableBytes + 64 * 1024) {
    if (size < kHeader) return;
    const u32 sectorShift = (data[0] & 1) != 0 ? 12 : 9;
    const u32 clusterShift = (data[0] >> 1) & 7;
    const u32 rootCluster = 2 + data[1] % 64;
    const u32 s = 1u << sectorShift;
    const u8* table = data + kHeader;
    const size_t tableBytes = std::min(size - kHeader, kTableBytes);
    const u8* heap = table + tableBytes;
    const size_t heapBytes = size - kHeader - tableBytes;

    const u32 fatLength = ((kClusters + 2) * 4 + s - 1) / s;
    const u32 heapOffset = kTableSector + fatLength;
    const u64 total = heapOffset + (u64{kClusters} << clusterShift);
    {
        using namespace exfat::boot;
        u8 boot[512] = {};
        ByteWriter w(boot, sizeof boot);
        w.U8(0, 0xEB);
        w.Bytes(kFileSystemName, kName, 8);
        w.Le64(kVolumeLength, total);
        w.Le32(kFatOffset, kTableSector);
        w.Le32(kFatLength, fatLength);
        w.Le32(kClusterHeapOffset, heapOffset);
        w.Le32(kClusterCount, kClusters);
        w.Le32(kRootCluster, rootCluster);
        w.U8(kBytesPerSectorShift, static_cast<u8>(sectorShift));
        w.U8(kSectorsPerClusterShift, static_cast<u8>(clusterShift));
        w.U8(kNumberOfFats, 1);
        w.Le16(kSignature, 0xAA55);

        fuzz::PiecesDevice device({{0, boot, sizeof boot},
                                   {u64{kTableSector} * s, table, tableBytes},
                                   {u64{heapOffset} * s, heap, heapBytes}},
                                  s, static_cast<i64>(total));
        device.SetVolumeRecord(FILE_SYSTEM_EXFAT);
        fuzz::NodeSink sink;
        fuzz::QuickSearch(CreateEXFatQuickSearcher(), device, sink);
    }

    // The heap's entries read cluster by cluster, whatever the folders say.
    CEFDTAnalyze heapSets;
    heapSets.PrepareAnayze(sectorShift, sectorShift + clusterShift, total);
    const size_t clusterBytes = size_t{s} << clusterShift;
    for (size_t at = 0; at < heapBytes; at += clusterBytes) {
        const size_t length = std::min(clusterBytes, heapBytes - at);
        if (!heapSets.Analyze(heap + at, static_cast<unsigned>(length), heapOffset + (at >> sectorShift))) break;
    }
    for (const _tagFileBaseInfo& record : heapSets.GetFileList()) FUZZ_CHECK(record.Name().size() <= _tagFileBaseInfo::kMaxNameBytes);
    const size_t setBytes = std::min<size_t>(heapBytes, 19 * exfat::entry::kSize);
    const u16 stored = ByteReader(heap, heapBytes).Le16(exfat::file::kSetChecksum).value_or(0);
    CheckDirEntry(heap, static_cast<unsigned>(setBytes), stored);
}
