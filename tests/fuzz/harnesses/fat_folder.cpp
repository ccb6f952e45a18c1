// FAT folder reading and long names: the quick FAT search over a small volume built around the input.
// The volume's boot sector is sound and made here; the input gives its allocation table's first bytes
// and its folders and files.
//   byte 0: bit 0 FAT32 (else FAT16), bit 1 4096-byte sectors (else 512), bits 2-3: log2 of the
//           sectors per cluster.
//   then 512 bytes: the start of both table copies (the rest of each table is free);
//   then the data: on FAT16 the fixed root folder (512 entries) and the clusters from 2, on FAT32 the
//   clusters from 2 (the root folder is cluster 2).
#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/Common/ByteReader.h"
#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATLib/FATTypes.h"
#include "engine/FATSearch/FATQuickSearcher.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/NodeSink.h"

namespace {

constexpr size_t kTableBytes = 512;
constexpr u32 kRootFolderEntries = 512;

}  // namespace

BRELVOX_FUZZ_TARGET(1 + kTableBytes + 64 * 1024) {
    if (size < 1) return;
    const bool fat32 = (data[0] & 1) != 0;
    const u32 s = (data[0] & 2) != 0 ? 4096 : 512;
    const u32 spc = 1u << ((data[0] >> 2) & 3);
    const u8* table = data + 1;
    const size_t tableBytes = std::min(size - 1, kTableBytes);
    const u8* content = table + tableBytes;
    const size_t contentBytes = size - 1 - tableBytes;

    // Tables as long as the smallest the readers take (FAT16: 8192 entries, FAT32: 32768).
    const u32 scale = s / 512;
    const u32 spf = (fat32 ? 256 : 32) / scale;
    const u32 entries = spf * s / (fat32 ? 4 : 2);
    const u32 reserved = 1;
    const u32 rootSectors = fat32 ? 0 : kRootFolderEntries * 32 / s;
    const u64 dataStart = reserved + 2 * u64{spf} + rootSectors;
    const u64 total = dataStart + u64{entries - 2} * spc;

    using namespace fat_boot_layout;
    u8 boot[512] = {};
    ByteWriter w(boot, sizeof boot);
    w.U8(kJump, 0xEB);
    w.Le16(kBytesPerSector, static_cast<u16>(s));
    w.U8(kSectorsPerCluster, static_cast<u8>(spc));
    w.Le16(kReservedSectors, static_cast<u16>(reserved));
    w.U8(kNumberOfFats, 2);
    w.Le16(kRootEntries, static_cast<u16>(fat32 ? 0 : kRootFolderEntries));
    w.Le32(kTotalSectors32, static_cast<u32>(total));
    if (fat32) {
        w.Le32(kSectorsPerFat32, spf);
        w.Le32(kRootCluster, 2);
        w.Bytes(kFat32TypeText, "FAT32   ", kTypeTextSize);
    } else {
        w.Le16(kSectorsPerFat16, static_cast<u16>(spf));
        w.Bytes(kFat16TypeText, "FAT16   ", kTypeTextSize);
    }
    w.Le16(kSignature, 0xAA55);

    const u64 firstTable = u64{reserved} * s;
    fuzz::PiecesDevice device({{0, boot, sizeof boot},
                               {firstTable, table, tableBytes},
                               {firstTable + u64{spf} * s, table, tableBytes},
                               {(reserved + 2 * u64{spf}) * s, content, contentBytes}},
                              s, static_cast<i64>(total));
    device.SetVolumeRecord(fat32 ? FILE_SYSTEM_FAT32 : FILE_SYSTEM_FAT16);

    fuzz::NodeSink sink;
    fuzz::GoOnProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateFATQuickSearcher());
    searcher->SetDirecotryTreeBuilder(&sink);
    searcher->QuickSearchFiles(&device, &progress);
}
