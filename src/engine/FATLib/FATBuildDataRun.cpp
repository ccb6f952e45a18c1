#include "engine/FATLib/FATBuildDataRun.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "engine/FATLib/FATTable.h"
#include "engine/Utility/IDataRunList.h"

CFATBuildDataRun::CFATBuildDataRun(IFATTable* table, u32 sectorSize, u32 sectorsPerCluster, u64 totalSectors,
                                   std::vector<bool>* clusterBits)
    : m_table(table),
      m_sectorSize(sectorSize),
      m_sectorsPerCluster(sectorsPerCluster),
      m_totalSectors(totalSectors),
      m_clusterBits(clusterBits) {}

bool CFATBuildDataRun::FitsVolume(i64 runStart, u64 runLength) const {
    if (runStart < 0) return false;
    const unsigned __int128 end =
        static_cast<unsigned __int128>(static_cast<u64>(runStart) + runLength) * m_sectorsPerCluster;
    return end <= m_totalSectors;
}

IDataRunList* CFATBuildDataRun::BuildDataRunList(u64 firstCluster, u64 size, bool deleted) {
    if (m_table == nullptr || m_totalSectors == 0 || m_sectorsPerCluster == 0 || m_sectorSize == 0) return nullptr;
    IDataRunList* list = CreateDataRunList();
    if (list == nullptr) return nullptr;
    if (deleted) {
        BuildDeleteFileDataRunList(list, firstCluster, size, m_table, m_sectorsPerCluster, m_totalSectors,
                                   m_sectorSize);
        if (list->GetFirst() == nullptr) {
            list->Release();
            return nullptr;
        }
        return list;
    }
    if (firstCluster < 2 || firstCluster >= fat::kEndOfChain) {
        list->Release();
        return nullptr;
    }
    const u64 clusterBytes = u64{m_sectorsPerCluster} * m_sectorSize;
    // A chain longer than the volume has clusters is a loop: the walk stops there.
    const u64 maxSteps = m_totalSectors / m_sectorsPerCluster + 2;
    DataRun run{static_cast<i64>(firstCluster) - 2, 1};
    u64 done = 0;
    u64 c = firstCluster;
    bool ok = true;
    // The chain's runs so far, as clusters [first, end): a cluster met again closes a loop, and the chain
    // ends there. The run being built is [runFirst, c].
    std::map<u64, u64> earlier;
    u64 runFirst = c;
    auto visited = [&](u64 cluster) {
        if (cluster >= runFirst && cluster <= c) return true;
        auto after = earlier.upper_bound(cluster);
        return after != earlier.begin() && cluster < std::prev(after)->second;
    };
    for (u64 steps = 0;; ++steps) {
        const u64 n = m_table->GetNextCluster(static_cast<u32>(c));
        if (n < 2 || n >= fat::kBadCluster || steps >= maxSteps || visited(n)) {
            // The chain's clusters, no more than the size needs: a chain that ends (at an end, free or
            // bad-cluster mark, or in a loop) before the size is covered leaves the rest without a place, read as an unreadable range of zeros, never
            // as whatever follows its last cluster.
            const u64 rest = size > done ? size - done : 0;
            run.length = std::min<u64>(run.length, (rest + clusterBytes - 1) / clusterBytes);
            ok = FitsVolume(run.start, run.length);
            if (ok) list->AddDataRun(run);
            break;
        }
        if (n != c + 1) {
            if (!FitsVolume(run.start, run.length)) {
                ok = false;
                break;
            }
            list->AddDataRun(run);
            done += run.length * clusterBytes;
            if (done >= size) break;
            earlier.emplace(runFirst, c + 1);
            runFirst = n;
            run = DataRun{static_cast<i64>(n) - 2, 1};
        } else {
            ++run.length;
        }
        c = n;
    }
    if (!ok) {
        list->Release();
        return nullptr;
    }
    if (m_clusterBits != nullptr) {
        for (DataRun* r = list->GetFirst(); r != nullptr; r = list->GetNext()) {
            for (u64 i = 0; i < r->length; ++i) {
                const u64 bit = static_cast<u64>(r->start) + i;
                if (bit < m_clusterBits->size()) (*m_clusterBits)[bit] = true;
            }
        }
    }
    return list;
}

void CFATBuildDataRun::BuildDeleteFileDataRunList(IDataRunList* list, u64 firstCluster, u64 size, IFATTable* table,
                                                  u32 sectorsPerCluster, u64 totalSectors, u32 sectorSize) {
    if (list == nullptr || firstCluster < 2 || sectorsPerCluster == 0 || sectorSize == 0) return;
    const u64 clusterBytes = u64{sectorsPerCluster} * sectorSize;
    const u64 maxSteps = totalSectors / sectorsPerCluster + 2;
    u64 c = firstCluster;
    bool follow = table != nullptr;
    u64 bytes = 0;
    for (u64 steps = 0; bytes < size && (c - 2) * sectorsPerCluster < totalSectors && steps < maxSteps; ++steps) {
        if (c != fat::kBadCluster) {
            list->AddDataRun(DataRun{static_cast<i64>(c) - 2, 1});
            bytes += clusterBytes;
        }
        u64 next = c + 1;
        if (follow) {
            next = table->GetNextCluster(static_cast<u32>(c));
            if (next == 0) {
                next = c + 1;
                follow = false;  // the chain is gone; the rest is taken as consecutive
            }
        }
        // Past its chain the file lies in clusters the table marks free: those it gives to live files
        // (the file was written into the holes around them) are passed over.
        if (!follow && table != nullptr) {
            while ((next - 2) * sectorsPerCluster < totalSectors && next < fat::kEndOfChain &&
                   table->GetNextCluster(static_cast<u32>(next)) != 0)
                ++next;
        }
        if (next == 0x0FFFFFFF || next >= fat::kEndOfChain || next < 2) break;
        c = next;
    }
}
