// The FAT table check and chain walks: a table is read and judged (header, body, chains), the pair
// of copies is made as the quick search makes it, and the extents of live and deleted files are built
// from it as the folder reader builds them.
//   byte 0: bits 0-1 the width (0 FAT12, 1 FAT16, 2 and 3 FAT32), bit 2 4096-byte sectors (else 512),
//           bits 3-5 log2 of the sectors per cluster;
//   bytes 1-4: the file size of the walks (little-endian);
//   then the table, both copies of it.
#include <algorithm>
#include <memory>

#include "engine/Common/ByteReader.h"
#include "engine/FATLib/FATBuildDataRun.h"
#include "engine/FATLib/FATTable.h"
#include "engine/Utility/IDataRunList.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"

namespace {

constexpr size_t kHeader = 5;

void Walk(CFATBuildDataRun& builder, u64 cluster, u64 size, bool deleted) {
    if (IDataRunList* runs = builder.BuildDataRunList(cluster, size, deleted)) {
        volatile u64 clusters = 0;
        for (DataRun* r = runs->GetFirst(); r != nullptr; r = runs->GetNext()) clusters = clusters + r->length;
        runs->Release();
    }
}

}  // namespace

BRELVOX_FUZZ_TARGET(kHeader + 256 * 1024) {
    if (size < kHeader) return;
    static constexpr u32 kTypes[4] = {FILE_SYSTEM_FAT12, FILE_SYSTEM_FAT16, FILE_SYSTEM_FAT32, FILE_SYSTEM_FAT32};
    const u32 type = kTypes[data[0] & 3];
    const u32 s = (data[0] & 4) != 0 ? 4096 : 512;
    const u32 spc = 1u << ((data[0] >> 3) & 7);
    const u64 fileSize = ByteReader(data, size).Le32(1).value_or(0);
    const u8* table = data + kHeader;
    const size_t tableBytes = size - kHeader;
    const u32 sectors = static_cast<u32>(std::max<size_t>(1, (tableBytes + s - 1) / s));
    const u64 tableBits = u64{sectors} * s * 8;
    const u64 entries = tableBits / (type == FILE_SYSTEM_FAT32 ? 32 : type == FILE_SYSTEM_FAT16 ? 16 : 12);
    const i64 total = static_cast<i64>(2 * u64{sectors} + entries * spc);
    fuzz::PiecesDevice device({{0, table, tableBytes}, {u64{sectors} * s, table, tableBytes}}, s, total);

    delete IFATTableFactory::CreateRealFATTable(&device, type, 0, sectors);
    std::unique_ptr<CDoubleFATTable> pair(IFATTableFactory::CreateFATTable(&device, 0, type, sectors, true, true));
    if (!pair) return;
    CFATBuildDataRun builder(pair.get(), s, spc, static_cast<u64>(total) - 2 * u64{sectors});
    for (u64 cluster : {u64{2}, u64{3}, entries / 2, entries - 1, entries, u64{0x0FFFFFF7}}) {
        Walk(builder, cluster, fileSize, false);
        Walk(builder, cluster, fileSize, true);
    }
}
