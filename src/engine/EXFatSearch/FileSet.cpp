#include "engine/EXFatSearch/FileSet.h"

#include <algorithm>
#include <bit>

#include "engine/EXFatSearch/ExFatLayout.h"

bool CClusterClaims::Claim(u32 first, u64 count) {
    if (count == 0) count = 1;
    if (!exfat::IsCluster(first) || count - 1 > u64{exfat::kLastCluster} - first) return false;
    const u32 last = static_cast<u32>(first + (count - 1));
    auto after = m_runs.upper_bound(first);
    if (after != m_runs.end() && after->first <= last) return false;
    if (after != m_runs.begin() && std::prev(after)->second >= first) return false;
    // A claim that touches its neighbours joins them (files mostly lie one after the other): the runs
    // stay few, and most claims allocate nothing.
    const bool joinsNext = after != m_runs.end() && after->first == last + 1;
    if (after != m_runs.begin()) {
        const auto before = std::prev(after);
        if (before->second + 1 == first) {
            before->second = joinsNext ? after->second : last;
            if (joinsNext) m_runs.erase(after);
            return true;
        }
    }
    if (joinsNext) {
        const u32 end = after->second;
        m_runs.emplace_hint(m_runs.erase(after), first, end);
        return true;
    }
    m_runs.emplace_hint(after, first, last);
    return true;
}

bool CClusterClaims::Contains(u32 cluster) const {
    auto after = m_runs.upper_bound(cluster);
    return after != m_runs.begin() && std::prev(after)->second >= cluster;
}

void CFileSet::Reset() {
    m_inUse.clear();
    m_deleted.clear();
    m_names.clear();
    m_folders.clear();
    m_minCluster = kNoMinCluster;
    m_minOwnedCluster = kNoMinCluster;
    m_maxCluster = 0;
    m_minClusterSize = kStartMinClusterSize;
    m_maxClusterSize = kStartMaxClusterSize;
    m_firstSector = -1;
    m_sectorCount = 0;
    m_flags = 0;
    m_rootCluster = exfat::kFirstCluster;
    m_totalCluster = 0;
    m_upcaseCluster = 0;
    m_upcaseLength = 0;
    m_next = nullptr;
    m_last = nullptr;
}

void CFileSet::RecordSector(i64 sector) {
    if (m_firstSector < 0) m_firstSector = sector;
    const i64 span = sector - m_firstSector + 1;
    m_sectorCount = span > 0 && span <= 0xFFFFFFFF ? static_cast<u32>(span) : m_sectorCount;
}

void CFileSet::AddFile(const _tagFileBaseInfo& file) {
    m_minCluster = std::min(m_minCluster, file.firstCluster);
    if (exfat::IsCluster(file.firstCluster)) m_minOwnedCluster = std::min(m_minOwnedCluster, file.firstCluster);
    m_maxCluster = std::max(m_maxCluster, file.firstCluster);
    if (file.IsDirectory()) {
        // A folder's length is a whole number of clusters: its lowest set bit bounds the cluster size.
        const u32 low = static_cast<u32>(static_cast<u64>(file.dataLength));
        const u64 bound = (low == 0 || (low & 1) != 0) ? 1 : (u64{1} << std::countr_zero(low));
        m_maxClusterSize = std::min(m_maxClusterSize, bound);
    }
    CExFatSetFile kept;
    static_cast<_tagFileBaseFields&>(kept) = file;
    // Most names are ASCII: their units are their bytes.
    const std::u16string_view units = file.NameUnits();
    kept.nameAt = static_cast<u32>(m_names.size());
    if (units.size() <= _tagFileBaseInfo::kMaxNameUnits) {
        m_names.resize(m_names.size() + units.size());
        size_t length = 0;
        if (ExFatAsciiName(units, m_names.data() + kept.nameAt, length)) {
            kept.nameBytes = static_cast<u16>(length);
        } else {
            m_names.resize(kept.nameAt);
        }
    }
    if (m_names.size() == kept.nameAt && !units.empty()) {
        const std::string name = ExFatNameToUtf8(units);
        kept.nameBytes = static_cast<u16>(name.size());
        m_names.insert(m_names.end(), name.begin(), name.end());
    }
    if (file.inUse == 0) {
        m_deleted.push_back(kept);
        return;
    }
    // Files mostly come in cluster order.
    auto at = !m_inUse.empty() && m_inUse.back().firstCluster <= file.firstCluster
                  ? m_inUse.end()
                  : std::upper_bound(m_inUse.begin(), m_inUse.end(), file.firstCluster,
                                     [](u32 cluster, const CExFatSetFile& f) { return cluster < f.firstCluster; });
    m_inUse.insert(at, kept);
    if (file.IsDirectory()) m_folders.push_back(file.firstCluster);
}

void CFileSet::SeeBitmap(u32 firstCluster, u64 length) {
    m_flags |= kBitmapSeen;
    m_rootCluster = std::max<u32>(m_rootCluster, firstCluster + 1);
    m_totalCluster = static_cast<u32>(std::min<u64>(length, u64{0xFFFFFFFF} / 8) * 8);
}

void CFileSet::SeeUpcase(u32 firstCluster, u64 length) {
    m_flags |= kUpcaseSeen;
    m_rootCluster = std::max<u32>(m_rootCluster, firstCluster + 1);
    m_upcaseCluster = firstCluster;
    m_upcaseLength = length;
}

void CFileSet::CalculateClusterSize(u32 sectorShift) {
    const CExFatSetFile* previous = nullptr;
    for (const CExFatSetFile& file : m_inUse) {
        if (!exfat::IsCluster(file.firstCluster)) continue;
        if (previous != nullptr && previous->noFatChain != 0) {
            const u64 gap = file.firstCluster == previous->firstCluster
                                ? 0xFFFFFFFFu
                                : u64{file.firstCluster} - previous->firstCluster;
            const u64 length = static_cast<u64>(std::max<i64>(previous->dataLength, 0));
            const u64 need = length / gap + (length % gap != 0 ? 1 : 0);
            if (need > m_minClusterSize) {
                // 64-bit, and never above the largest cluster a volume can have.
                m_minClusterSize = std::min<u64>(std::bit_ceil(std::min<u64>(need, kStartMaxClusterSize)),
                                                 kStartMaxClusterSize);
            }
        }
        previous = &file;
    }
    m_minClusterSize = std::max<u64>(1, m_minClusterSize >> sectorShift);
    m_maxClusterSize = m_maxClusterSize >> sectorShift;
}

bool CFileSet::GetAndCheckClusterSet(CClusterClaims& claims, u64 clusterBytes) const {
    bool ok = true;
    ForChain([&](const CFileSet& set) {
        for (const CExFatSetFile& file : set.m_inUse) {
            if (!ok) return;
            if (!exfat::IsCluster(file.firstCluster)) continue;
            u64 count = 1;
            if (file.noFatChain != 0 && clusterBytes != 0) {
                const u64 length = static_cast<u64>(std::max<i64>(file.dataLength, 0));
                count = std::max<u64>(1, length / clusterBytes + (length % clusterBytes != 0 ? 1 : 0));
            }
            ok = claims.Claim(file.firstCluster, count);
        }
    });
    return ok;
}

bool CFileSet::IsClusterSizeConflict(u64 sectorsPerCluster) const {
    return sectorsPerCluster > m_maxClusterSize || sectorsPerCluster < m_minClusterSize ||
           sectorsPerCluster < m_sectorCount;
}

void CFileSet::GetFolder(std::list<u32>& folders) const {
    ForChain([&](const CFileSet& set) { folders.insert(folders.end(), set.m_folders.begin(), set.m_folders.end()); });
}
