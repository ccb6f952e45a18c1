// Feeds a device to the deep exFAT pre-analysis and partition builder as the deep scan does: blocks of
// 4 MiB (or a block size the test chooses) in device order, the last two sectors of each block carried
// to the front of the next, so every analysed sector has the two after it in memory. Each sector is
// classified by its first bytes: the start of an up-case table, a boot sector, the start of a FAT, or
// directory entries for the pre-analyser.
#pragma once

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/EXFatSearch/ExFatDBR.h"
#include "engine/EXFatSearch/FDTPreAnalyze.h"
#include "engine/EXFatSearch/PartitionBuilder.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace exfattest {

class DeepExFatFeed {
public:
    static constexpr i64 kCarried = 2;

    // Blocks of blockSectors (0: 4 MiB over the sector size).
    void Run(IStorageDevice& device, i64 blockSectors = 0) {
        const u32 sectorSize = device.GetSectorSize();
        const i64 total = device.GetTotalSectors();
        if (blockSectors <= 0) blockSectors = (i64{4} << 20) / sectorSize;
        pre.PrepareAnayze(static_cast<unsigned>(std::countr_zero(sectorSize)), 25, static_cast<u64>(total));
        builder.PrepareBuild(sectorSize, static_cast<u64>(total));
        std::vector<u8> buffer(static_cast<size_t>(blockSectors + 4) * sectorSize, 0);
        for (i64 first = 0; first < total; first += blockSectors) {
            const i64 count = std::min(blockSectors, total - first);
            Block(device, buffer, first, count, blockSectors, sectorSize);
        }
        unjoined = pre.WaitingNotEnded() + pre.WaitingAbridged();
        pre.Clear();
        builder.ProcessWaiting();
    }

    CFDTPreAnaylze pre;
    CPartitionBuilder builder;
    size_t bootSectors = 0;
    size_t fatSectors = 0;
    size_t upcaseSectors = 0;
    size_t unjoined = 0;  // cut sets whose rest never turned up

private:
    void Block(IStorageDevice& device, std::vector<u8>& buffer, i64 first, i64 count, i64 blockSectors,
               u32 sectorSize) {
        const size_t carried = static_cast<size_t>(kCarried) * sectorSize;
        std::memmove(buffer.data(), buffer.data() + static_cast<size_t>(blockSectors) * sectorSize, carried);
        if (device.ReadSector(buffer.data() + carried, first, count) == 0) return;
        const size_t filled = static_cast<size_t>(count + kCarried) * sectorSize;
        // The last two sectors of the block wait for the next block, which carries them to its front.
        for (i64 i = 0; i < count; ++i) {
            const i64 sector = first - kCarried + i;
            const size_t at = static_cast<size_t>(i) * sectorSize;
            if (sector >= 0) Sector(sector, ByteReader(buffer.data() + at, filled - at), sectorSize);
        }
    }

    void Sector(i64 sector, ByteReader window, u32 sectorSize) {
        const u8* p = window.data();
        bool take = false;
        if (p[0] == 0) {
            bool upcase = true;
            for (u16 k = 0; k < 8 && upcase; ++k) upcase = window.Le16(size_t{k} * 2).value_or(1) == k;
            if (upcase) {
                builder.RecordUpCaseTable(sector);
                ++upcaseSectors;
            }
            take = true;
        } else if (p[510] == 0x55 && p[511] == 0xAA && CExFatDBR(p, sectorSize).IsValid(sectorSize)) {
            CExFatDBR dbr(p, sectorSize);
            builder.Build(sector, &dbr);
            ++bootSectors;
            take = true;
        } else if (window.Le32(0) == 0xFFFFFFF8u && window.Le32(4) == 0xFFFFFFFFu) {
            builder.RecordFAT(sector);
            ++fatSectors;
            take = true;
        } else {
            take = pre.Analyze(sector, window);
        }
        if (take) {
            CFileSet* set = nullptr;
            pre.GetFileSet(&set);
            if (set != nullptr) {
                const i64 at = set->GetFirstSector();
                const i64 next = set->IsNotEnd() ? pre.GetNext(at) : -1;
                const i64 previous = set->IsAbridged() ? pre.GetLast(at) : -1;
                builder.PushFileSet(set, previous, next);
            }
        }
        builder.Build(sector);
    }
};

}  // namespace exfattest
