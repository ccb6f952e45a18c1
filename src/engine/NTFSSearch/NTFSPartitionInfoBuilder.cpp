#include "engine/NTFSSearch/NTFSPartitionInfoBuilder.h"

#include <algorithm>

#include "engine/NTFSLib/NTFSDBR.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

using namespace ntfsdeep;

namespace {

NTFSCandidate NewCandidate(u32 sectorSize, u32 flag, u32 sectorsPerCluster, i64 cluster0, i64 clusters) {
    auto c = std::make_unique<CSearchedNTFSPartitionInfo>(sectorSize);
    c->m_fileSystemType = FILE_SYSTEM_NTFS;
    c->m_sectorsPerCluster = sectorsPerCluster;
    c->m_cluster0Sector = cluster0;
    c->m_matchCount1 = 0;
    c->m_matchCount2 = 0;
    c->SetPartitionBuildFromFlag(flag);
    c->m_clusterCount = clusters;
    c->m_totalSectors = clusters * i64(sectorsPerCluster);
    return c;
}

}  // namespace

NTFSCandidate BuildPartitionInfoAccordingtoFileRecord(i64 sector, i64 cluster, u32 spc, u32 flag, i64 deviceTotal,
                                                      u32 sectorSize) {
    if (spc == 0 || spc > 128 || cluster < 0 || sector < 0) return nullptr;
    i64 offset = 0, start = 0;
    if (__builtin_mul_overflow(cluster, i64(spc), &offset) || __builtin_sub_overflow(sector, offset, &start)) return nullptr;
    if (start < 0 || start > sector - kMinVolumeSectors || deviceTotal <= start) return nullptr;
    return NewCandidate(sectorSize, flag, spc, start, (deviceTotal - start) / i64(spc));
}

void BuildPartitionInfoAccordingtoFileRecord(i64 sector, i64 cluster, u32 flag, i64 deviceTotal,
                                             std::vector<NTFSCandidate>& out, u32 sectorSize) {
    for (u32 spc : NTFS_SUPPORTED_SECTORS_PER_CLUSTER) {
        if (auto c = BuildPartitionInfoAccordingtoFileRecord(sector, cluster, spc, flag, deviceTotal, sectorSize))
            out.push_back(std::move(c));
    }
}

NTFSCandidate BuildPartitionInfoFromDBR(const CNTFSDBR& boot, i64 start, u32 flag, i64 deviceTotal, u32 sectorSize) {
    // The boot sector counts in its own sectors; a volume of larger sectors read in smaller ones
    // (4096-byte sectors in a 512-byte image) is counted in the device's.
    const u32 bytesPerSector = boot.GetBytesPerSector();
    const u32 scale = sectorSize != 0 && bytesPerSector > sectorSize && bytesPerSector % sectorSize == 0
                          ? bytesPerSector / sectorSize
                          : 1;
    const u32 spc = boot.GetSectorsperCluster() * scale;
    i64 total = 0;
    if (start < 0 || spc == 0 || deviceTotal <= start || __builtin_mul_overflow(boot.GetTotalSectors(), i64(scale), &total))
        return nullptr;
    const i64 size = std::min(deviceTotal - start, total);
    if (size < kMinVolumeSectors) return nullptr;
    NTFSCandidate c = NewCandidate(sectorSize, flag, spc, start, size / i64(spc));
    // The volume's size is the boot sector's, not cut to whole clusters (its backup boot sector lies
    // in the last sector, after the last cluster); a volume the device cuts short keeps the whole
    // clusters that fit.
    if (total == size) c->m_totalSectors = size;
    c->SetSerialNumber(boot.GetSerialNumber());
    return c;
}

i64 CalcFileSystemReliabilityScore(const CSearchedNTFSPartitionInfo& c) {
    i64 score = 0;
    for (u32 bit = 0; bit < 8; ++bit) {
        if (c.GetPartitionBuildFromFlags() & (1u << bit)) score += kFlagScores[bit];
    }
    // 10 once a count reaches its threshold; a count still at -1 adds nothing (truncating division).
    auto term = [](i64 count, i64 threshold) { return std::min<i64>(10 * (count / threshold), 10); };
    score += term(c.m_upCaseMatches, kUpCaseThreshold);
    score += term(c.m_logFileMatches, kLogFileThreshold);
    score += term(c.m_attrDefMatches, kAttrDefThreshold);
    return std::min(score, kMaxScore);
}

std::vector<CSearchedNTFSPartitionInfo*> CNTFSPartitionInfoBuilder::EqualTo(const CSearchedNTFSPartitionInfo& probe) {
    std::vector<CSearchedNTFSPartitionInfo*> out;
    const auto [first, last] = m_set.equal_range(Key{probe.m_cluster0Sector, probe.m_sectorsPerCluster});
    for (auto it = first; it != last; ++it) {
        if (it->get() != &probe) out.push_back(it->get());
    }
    return out;
}

int CNTFSPartitionInfoBuilder::AdjustPartitionBuildFromFlag(const CSearchedNTFSPartitionInfo& probe, u32 add,
                                                            u32 remove) {
    auto [it, last] = m_set.equal_range(Key{probe.m_cluster0Sector, probe.m_sectorsPerCluster});
    int found = 0;
    while (it != last) {
        if (it->get() == &probe) {
            ++it;
            continue;
        }
        found = 1;
        CSearchedNTFSPartitionInfo& c = **it;
        c.SetPartitionBuildFromFlag((c.GetPartitionBuildFromFlags() & ~remove) | add);
        it = c.GetPartitionBuildFromFlags() == 0 ? m_set.erase(it) : std::next(it);
    }
    return found;
}

bool CNTFSPartitionInfoBuilder::Confirm(NTFSCandidate probe, u32 flag) {
    if (!probe) return false;
    if (AdjustPartitionBuildFromFlag(*probe, flag, 0)) return true;
    probe->AddPartitionBuildFromFlag(flag);
    Insert(std::move(probe));
    return false;
}

void CNTFSPartitionInfoBuilder::ConfirmLocated(i64 sector, i64 cluster, u32 spc, u32 flag) {
    Confirm(BuildPartitionInfoAccordingtoFileRecord(sector, cluster, spc, flag, m_deviceTotal, m_sectorSize), flag);
}

void CNTFSPartitionInfoBuilder::Insert(NTFSCandidate candidate) {
    if (candidate && m_set.size() < kMaxListEntries) m_set.insert(std::move(candidate));
}
