#include "engine/EXFatSearch/PartitionBuilder.h"

#include <algorithm>
#include <bit>
#include <deque>
#include <set>

#include "engine/EXFatSearch/ExFatDBR.h"
#include "engine/EXFatSearch/ExFatLayout.h"

namespace {

i64 Distance(i64 a, i64 b) { return a > b ? a - b : b - a; }

constexpr auto ClusterOf = &CExFatPartitionEx::ClusterOf;

}  // namespace

void CPartitionBuilder::PrepareBuild(unsigned int sectorSize, unsigned long long totalSectors) {
    Clear();
    m_sectorSize = sectorSize != 0 ? sectorSize : 512;
    m_totalSectors = static_cast<i64>(std::min<unsigned long long>(totalSectors, INT64_MAX));
}

void CPartitionBuilder::Clear() {
    m_survivors.clear();
    m_rejected.clear();
    m_assigned.clear();
    m_ranked.clear();
    m_index.clear();
    m_processing.clear();
    m_byFirstSector = {};
    m_sets.clear();
    m_nextToProcess = 0;
    m_progressBound = 0;
    m_upcaseSectors.clear();
}

i64 CPartitionBuilder::DeviceSectorsFrom(i64 sector) const {
    return sector < m_totalSectors ? m_totalSectors - sector : 0;
}

std::vector<CFileSet*> CPartitionBuilder::PushedSets() const {
    std::vector<CFileSet*> out;
    out.reserve(m_sets.size());
    for (const auto& set : m_sets) out.push_back(set.get());
    return out;
}

size_t CPartitionBuilder::PushedFiles() const {
    size_t files = 0;
    for (const auto& set : m_sets) files += set->InUseFiles().size() + set->DeletedFiles().size();
    return files;
}

std::vector<CExFatPartitionEx*> CPartitionBuilder::Candidates() const {
    std::vector<CExFatPartitionEx*> out;
    out.reserve(m_ranked.size());
    for (const Owned& c : m_ranked) out.push_back(c.get());
    return out;
}

void CPartitionBuilder::Sort() {
    std::stable_sort(m_ranked.begin(), m_ranked.end(),
                     [](const Owned& a, const Owned& b) { return CExFatPartitionGreater()(*a, *b); });
}

void CPartitionBuilder::Index(Owned candidate) {
    const Identity id{candidate->GetDataRegionStart(), candidate->GetSectorsPerCluster()};
    if (m_index.count(id) != 0) return;
    m_index[id] = candidate.get();
    m_ranked.push_back(std::move(candidate));
}

void CPartitionBuilder::Remove(CExFatPartitionEx* candidate) {
    m_index.erase(Identity{candidate->GetDataRegionStart(), candidate->GetSectorsPerCluster()});
    auto it = std::find_if(m_ranked.begin(), m_ranked.end(), [&](const Owned& c) { return c.get() == candidate; });
    if (it != m_ranked.end()) m_ranked.erase(it);
}

void CPartitionBuilder::Trim() {
    if (m_ranked.size() < kTrimAt) return;
    Sort();
    while (m_ranked.size() > kTrimTo) {
        const CExFatPartitionEx& last = *m_ranked.back();
        m_index.erase(Identity{last.GetDataRegionStart(), last.GetSectorsPerCluster()});
        m_ranked.pop_back();
    }
}

CExFatPartitionEx* CPartitionBuilder::FindPartition(long long dataStart, unsigned int sectorsPerCluster) const {
    auto it = m_index.find(Identity{dataStart, sectorsPerCluster});
    return it == m_index.end() ? nullptr : it->second;
}

void CPartitionBuilder::RemovePartion(long long dataStart, unsigned int sectorsPerCluster) {
    CExFatPartitionEx* found = FindPartition(dataStart, sectorsPerCluster);
    if (found != nullptr && found->GetFlags() == CExFatPartitionEx::kBackupBoot) Remove(found);
}

CFileSet* CPartitionBuilder::FindFileSet(long long sector) const {
    CFileSet* const* found = m_byFirstSector.Find(sector);
    return found == nullptr ? nullptr : *found;
}

void CPartitionBuilder::Build(long long sector, CExFatDBR* dbr) {
    if (dbr == nullptr || sector < 0) return;
    const i64 heap = dbr->GetDataRegionStartSector();
    const u32 spc = dbr->GetSectorsperCluster();
    const i64 backup = exfat::boot::kBackupDistance;
    if (CExFatPartitionEx* main = FindPartition(sector - backup + heap, spc)) {
        // The backup of a main boot sector read 12 sectors earlier: that sector's own backup reading goes.
        main->AddFlags(CExFatPartitionEx::kBackupBoot);
        RemovePartion(sector - 2 * backup + heap, spc);
        Sort();
        return;
    }
    const u32 clusterCount = dbr->GetTotalCluster();
    const u64 fatEntries = u64{dbr->GetSectorsPerFat()} * dbr->GetBytePerSector() / 4;
    auto reading = [&](i64 start, u32 clusterBound, u32 flag) {
        if (start < 0) return;
        CExFatPartitionEx* candidate = FindPartition(start + heap, spc);
        Owned made;
        if (candidate == nullptr) {
            Trim();
            made = std::make_unique<CExFatPartitionEx>();
            candidate = made.get();
        }
        candidate->SetSectorSize(m_sectorSize);
        candidate->SetSectorsPerCluster(spc);
        candidate->SetDataRegionStart(start + heap);
        candidate->SetPartitionStart(start);
        candidate->SetPartitionLength(static_cast<i64>(std::min<u64>(dbr->GetTotalSectors(), INT64_MAX)));
        candidate->SetClusterBound(clusterBound);
        candidate->SetRootCluster(dbr->GetRootDirStartCluster());
        candidate->SetFatInfo(dbr->GetNumberOfFat(), dbr->GetSectorsPerFat(), dbr->GetFatStartSector());
        candidate->AddFlags(flag);
        if (made) Index(std::move(made));
    };
    reading(sector, static_cast<u32>(std::min<u64>(std::max<u64>(clusterCount, fatEntries), 0xFFFFFFFFu)),
            CExFatPartitionEx::kMainBoot);
    if (sector >= backup) reading(sector - backup, clusterCount, CExFatPartitionEx::kBackupBoot);
    Sort();
}

void CPartitionBuilder::RecordFAT(long long sector) {
    for (const Owned& candidate : m_ranked) {
        if (candidate->CheckFatSector(sector)) {
            Sort();
            return;
        }
    }
}

void CPartitionBuilder::RecordUpCaseTable(long long sector) { m_upcaseSectors.push_back(sector); }

void CPartitionBuilder::PushFileSet(CFileSet* set, long long previous, long long next) {
    if (set == nullptr) return;
    m_sets.emplace_back(set);
    m_processing.push_back(set);
    // The first set pushed at a sector keeps it.
    CFileSet*& bySector = m_byFirstSector.Get(set->GetFirstSector());
    if (bySector == nullptr) bySector = set;
    m_progressBound = set->GetFirstSector() + static_cast<i64>(set->GetMaxCluster());
    auto link = [](CFileSet* from, CFileSet* to) {
        if (from == to) return;
        from->SetNext(to);
        to->SetLast(from);
        // Both pieces lie in clusters of one folder: each bounds the other's cluster size.
        const u64 smallest = std::max(from->GetMinClusterSize(), to->GetMinClusterSize());
        const u64 largest = std::min(from->GetMaxClusterSize(), to->GetMaxClusterSize());
        from->SetClusterSizeBounds(smallest, largest);
        to->SetClusterSizeBounds(smallest, largest);
    };
    if (previous >= 0) {
        if (CFileSet* before = FindFileSet(previous)) link(before, set);
    }
    if (next >= 0) {
        if (CFileSet* after = FindFileSet(next)) link(set, after);
    }
}

void CPartitionBuilder::ProcessWaiting() {
    while (m_nextToProcess < m_processing.size()) ProcessOne();
}

void CPartitionBuilder::ProcessOne() {
    if (m_nextToProcess >= m_processing.size()) return;
    const size_t at = m_nextToProcess++;
    CFileSet* set = m_processing[at];
    if (set->IsRoot()) {
        UpCaseInference(set);
        RootInference(set);
        return;
    }
    if (Belongs(set) || !set->HasFolder()) return;
    const size_t from = at >= kNeighboursBefore ? at - kNeighboursBefore : 0;
    const size_t to = std::min(m_processing.size(), at + kNeighboursAfter + 1);
    for (size_t i = from; i < to; ++i) {
        CFileSet* neighbour = m_processing[i];
        if (neighbour == set || neighbour->IsRoot() || !neighbour->HasFolder() || neighbour->IsAbridged()) continue;
        TreeInference(set, neighbour);
    }
}

bool CPartitionBuilder::Belongs(CFileSet* set) {
    size_t tried = 0;
    for (size_t i = 0; i < m_ranked.size() && tried < kBelongingTries; ++i) {
        CExFatPartitionEx* candidate = m_ranked[i].get();
        if (!candidate->IsFileSetInPartition(set)) continue;
        ++tried;
        const i64 spc = candidate->GetSectorsPerCluster();
        const i64 offset = set->GetFirstSector() - candidate->GetDataRegionStart();
        if (candidate->IsClusterSizeConflicted(set) || spc <= 0 || offset <= 0 || offset % spc != 0) continue;
        if (candidate->IsMatched(set)) return true;
        if (!set->HasFolder()) continue;
        std::list<CFileSet*> tree;
        const u32 minScore = candidate->GetFlags() > CExFatPartitionEx::kTreeFits ? 1 : kTreeMinScore;
        if (CheckTree(set, candidate->GetDataRegionStart(), static_cast<u32>(spc), tree, minScore) > 0) {
            MatchTree(*candidate, tree);
            Sort();
            return true;
        }
    }
    return false;
}

void CPartitionBuilder::MatchTree(CExFatPartitionEx& candidate, const std::list<CFileSet*>& tree) {
    for (CFileSet* member : tree) candidate.InsertMathedFileSet(member);
}

bool CPartitionBuilder::TryRootCandidate(Local& local, i64 heap, u32 spc, u32 clusterCount, u32 rootCluster) {
    const Identity id{heap, spc};
    CExFatPartitionEx* existing = FindPartition(heap, spc);
    if (existing == nullptr) {
        auto it = local.byIdentity.find(id);
        if (it != local.byIdentity.end()) existing = it->second;
    }
    if (existing != nullptr) {
        if (existing->GetRootCluster() != rootCluster) return false;
        existing->AddFlags(CExFatPartitionEx::kRootSetFits);
        const bool indexed = FindPartition(heap, spc) == existing;
        if (!indexed) {
            // Made by this inference: it stays, alone.
            for (Owned& made : local.made) {
                if (made.get() == existing) {
                    Owned keep = std::move(made);
                    local.Drop();
                    local.byIdentity[id] = keep.get();
                    local.made.push_back(std::move(keep));
                    return true;
                }
            }
        }
        local.Drop();
        local.found = existing;
        return true;
    }
    // The list never holds more than the trim bound: further guesses are not made.
    if (local.Size() >= kTrimAt - 1) return false;
    auto made = std::make_unique<CExFatPartitionEx>();
    made->SetSectorSize(m_sectorSize);
    made->SetSectorsPerCluster(spc);
    made->SetDataRegionStart(heap);
    made->SetPartitionStart(heap);
    made->SetClusterBound(clusterCount);
    const u64 product = u64{spc} * clusterCount;
    const i64 fromHeap = DeviceSectorsFrom(heap);
    made->SetPartitionLength(product == 0 || product > static_cast<u64>(fromHeap) ? fromHeap
                                                                                  : static_cast<i64>(product));
    made->SetRootCluster(rootCluster);
    made->AddFlags(CExFatPartitionEx::kRootSetFits);
    local.byIdentity[id] = made.get();
    local.made.push_back(std::move(made));
    return false;
}

void CPartitionBuilder::UpCaseInference(CFileSet* root) {
    const u64 length = root->GetUpaCaseTableSize();
    const u32 upcaseCluster = root->GetUpaCaseTableCluster();
    if (m_upcaseSectors.empty() || length == 0 || upcaseCluster < exfat::kFirstCluster) return;
    const i64 lengthSectors = static_cast<i64>(std::min<u64>((length + m_sectorSize - 1) / m_sectorSize, INT64_MAX));
    const i64 first = root->GetFirstSector();
    Local local;
    bool found = false;
    for (auto u = m_upcaseSectors.rbegin(); u != m_upcaseSectors.rend() && !found; ++u) {
        const i64 d = Distance(first, *u);
        if (d < lengthSectors || d == 0) continue;
        const u64 largest = std::min<u64>(root->GetMaxClusterSize(), u64{1} << std::countr_zero(static_cast<u64>(d)));
        for (u64 c = root->GetMinClusterSize(); c != 0 && c <= largest && !found; c <<= 1) {
            if (static_cast<u64>(d) % c != 0) break;
            const u64 before = c * (u64{upcaseCluster} - exfat::kFirstCluster);
            if (before > static_cast<u64>(*u)) break;
            const i64 heap = *u - static_cast<i64>(before);
            const u32 r = ClusterOf(first, heap, c);
            if (r != 0 && r < root->GetMinOwnedCluster()) {
                found = TryRootCandidate(local, heap, static_cast<u32>(c), root->GetTotalCluster(), r);
            }
        }
    }
    AddCandidates(local, root);
}

void CPartitionBuilder::RootInference(CFileSet* root) {
    // The root folder lies before the first cluster its files own; empty files own none and bound nothing.
    const u32 smallestFile = root->GetMinOwnedCluster();
    if (!exfat::IsCluster(smallestFile)) return;
    const i64 first = root->GetFirstSector();
    const u64 minSize = std::max<u64>(1, root->GetMinClusterSize());
    const u64 maxSize = root->GetMaxClusterSize();
    Local local;
    bool found = false;
    bool full = false;
    u32 r = std::max<u32>(root->GetRootCluster(), exfat::kFirstCluster);
    u64 c = minSize;
    // Every pair (root cluster, cluster size) whose heap lies on the device, until one finds a candidate
    // already there or the guesses fill the list.
    for (; r < smallestFile && !found && !full; ++r) {
        if (minSize * (u64{r} - exfat::kFirstCluster) > static_cast<u64>(first)) break;  // and every later r
        for (c = minSize; c <= maxSize; c <<= 1) {
            const u64 back = c * (u64{r} - exfat::kFirstCluster);
            if (back > static_cast<u64>(first)) break;
            if (local.Size() >= kTrimAt - 1) {
                full = true;
                break;
            }
            found = TryRootCandidate(local, first - static_cast<i64>(back), static_cast<u32>(c),
                                     root->GetTotalCluster(), r);
            if (found) break;
        }
        if (full) break;
    }
    if (full) {
        // The guesses fill the list: the pairs not tried, from (r, c) on, can only still find a candidate
        // already there with their root cluster. Those are looked for among the candidates themselves,
        // in the order the pairs would have been tried.
        CExFatPartitionEx* best = nullptr;
        for (const Owned& candidate : m_ranked) {
            const u32 cr = candidate->GetRootCluster();
            const u64 spc = candidate->GetSectorsPerCluster();
            if (cr >= smallestFile || spc < minSize || spc > maxSize || !std::has_single_bit(spc)) continue;
            if (cr < r || (cr == r && spc < c)) continue;
            const u64 back = spc * (u64{cr} - exfat::kFirstCluster);
            if (back > static_cast<u64>(first) || candidate->GetDataRegionStart() != first - static_cast<i64>(back)) {
                continue;
            }
            if (best == nullptr || cr < best->GetRootCluster() ||
                (cr == best->GetRootCluster() && spc < best->GetSectorsPerCluster())) {
                best = candidate.get();
            }
        }
        if (best != nullptr) {
            best->AddFlags(CExFatPartitionEx::kRootSetFits);
            local.Drop();
            local.found = best;
        }
    }
    AddCandidates(local, root);
}

void CPartitionBuilder::TreeInference(CFileSet* set, CFileSet* neighbour) {
    std::list<u32> folders;
    set->GetFolder(folders);
    const i64 first = set->GetFirstSector();
    const i64 other = neighbour->GetFirstSector();
    u32 best = kTreeMinScore - 2;
    Local local;
    for (u64 c = std::max<u64>(1, set->GetMinClusterSize()); c <= set->GetMaxClusterSize(); c <<= 1) {
        if (neighbour->IsClusterSizeConflict(c) || set->GetSectorCounts() > c) continue;
        if (static_cast<u64>(Distance(other, first)) % c != 0) break;
        for (auto f = folders.rbegin(); f != folders.rend(); ++f) {
            if (!exfat::IsCluster(*f) || *f > neighbour->GetMaxCluster()) continue;
            const u64 back = (u64{*f} - exfat::kFirstCluster) * c;
            if (back > static_cast<u64>(other)) break;
            const i64 heap = other - static_cast<i64>(back);
            if (heap + 3 * static_cast<i64>(c) > first) break;
            const u32 own = ClusterOf(first, heap, c);
            if (own == 0 || own > set->GetMaxCluster()) continue;
            std::list<CFileSet*> tree;
            const u32 score = CheckTree(set, heap, static_cast<u32>(c), tree, kTreeMinScore);
            if (score == 0 || score < best) continue;
            if (score > best) local.Drop();
            const Identity id{heap, static_cast<u32>(c)};
            CExFatPartitionEx* candidate = FindPartition(heap, static_cast<u32>(c));
            if (candidate == nullptr) {
                auto it = local.byIdentity.find(id);
                if (it != local.byIdentity.end()) candidate = it->second;
            }
            if (candidate == nullptr) {
                auto made = std::make_unique<CExFatPartitionEx>();
                made->SetSectorSize(m_sectorSize);
                made->SetSectorsPerCluster(static_cast<u32>(c));
                made->SetDataRegionStart(heap);
                made->SetPartitionStart(heap);
                made->SetPartitionLength(DeviceSectorsFrom(heap));
                candidate = made.get();
                local.byIdentity[id] = candidate;
                local.made.push_back(std::move(made));
            }
            candidate->AddFlags(CExFatPartitionEx::kTreeFits);
            MatchTree(*candidate, tree);
            best = score;
        }
    }
    AddCandidates(local, nullptr);
}

void CPartitionBuilder::AddCandidates(Local& local, CFileSet* set) {
    auto withSet = [&](CExFatPartitionEx& candidate) {
        if (set == nullptr || candidate.IsMatched(set)) return;
        candidate.InsertMathedFileSet(set);
        std::list<CFileSet*> tree;
        if (CheckTree(set, candidate.GetDataRegionStart(), candidate.GetSectorsPerCluster(), tree, 1) > 0) {
            MatchTree(candidate, tree);
        }
    };
    if (local.found != nullptr) withSet(*local.found);
    for (Owned& made : local.made) {
        // Trimmed as the guesses are added, so the list stays within its bound.
        Trim();
        withSet(*made);
        Index(std::move(made));
    }
    local.Drop();
    Sort();
}

u32 CPartitionBuilder::CheckTree(CFileSet* root, long long dataStart, unsigned int sectorsPerCluster,
                                 std::list<CFileSet*>& tree, unsigned int minScore) {
    tree.clear();
    const u64 c = sectorsPerCluster;
    const u32 rootCluster = ClusterOf(root->GetFirstSector(), dataStart, c);
    if (rootCluster == 0 || dataStart < 0) return 0;
    std::set<u32> visited{rootCluster};
    tree.push_back(root);
    u64 score = 0;
    std::deque<std::pair<CFileSet*, u64>> queue{{root, 1}};
    const i64 lastSector = m_totalSectors - 1;
    while (!queue.empty()) {
        auto [set, level] = queue.front();
        queue.pop_front();
        std::list<u32> folders;
        set->GetFolder(folders);
        u64 found = 0;
        for (const u32 f : folders) {
            if (!exfat::IsCluster(f)) continue;
            if (!visited.insert(f).second) return 0;
            const u64 offset = (u64{f} - exfat::kFirstCluster) * c;
            if (offset > static_cast<u64>(lastSector - dataStart) || dataStart > lastSector) return 0;
            CFileSet* child = FindFileSet(dataStart + static_cast<i64>(offset));
            if (child == nullptr) continue;
            if (child->IsMatched() || child->IsAbridged() || child->IsClusterSizeConflict(c)) return 0;
            if (exfat::IsCluster(child->GetMaxCluster())) {
                const u64 reach = (u64{child->GetMaxCluster()} - exfat::kFirstCluster) * c;
                if (reach > static_cast<u64>(lastSector - dataStart)) return 0;
            }
            tree.push_back(child);
            ++found;
            if (child->HasFolder()) queue.emplace_back(child, level + 1);
        }
        score = std::min<u64>(score + found * level, 0xFFFFFFFFu);
    }
    if (score < minScore || score == 0) return 0;
    CClusterClaims claims;
    claims.Claim(rootCluster, 1);
    const u64 clusterBytes = c * m_sectorSize;
    for (CFileSet* member : tree) {
        if (!member->GetAndCheckClusterSet(claims, clusterBytes)) return 0;
    }
    return static_cast<u32>(score);
}

void CPartitionBuilder::FinishBuid(std::list<std::unique_ptr<CExFatPartitionEx>>& chosen) {
    ProcessWaiting();
    WinnowPartition();
    RemovePartionBeCoveredByOther(chosen);
}

void CPartitionBuilder::WinnowPartition() {
    m_index.clear();
    Sort();
    std::vector<Owned> ranked = std::move(m_ranked);
    m_ranked.clear();
    for (Owned& candidate : ranked) {
        // More sets than are left, or a set a better candidate took: its evidence is spent.
        if (candidate->MatchedCount() > m_processing.size() || IsOverlaped(m_assigned, candidate->MatchedSets())) {
            m_rejected.push_back(std::move(candidate));
            continue;
        }
        candidate->ForgetMatched();
        // In push order; matching changes the candidate and the sets' flags, not the unassigned list.
        for (CFileSet* set : m_processing) {
            if (candidate->IsClusterSizeConflicted(set) || !candidate->IsFileSetInPartition(set)) continue;
            candidate->AddDataSector(set->GetFirstSector());
            UpdatePartitionMatched(*candidate, set);
            if (set->IsRoot()) candidate->SetRootFileSet(set);
        }
        if (candidate->AlignedDataSectors().empty() || candidate->MatchedCount() == 0) {
            m_rejected.push_back(std::move(candidate));
            continue;
        }
        UpdateFileSetUnMatched(*candidate);
        m_survivors.push_back(std::move(candidate));
    }
    m_nextToProcess = m_processing.size();
}

void CPartitionBuilder::UpdatePartitionMatched(CExFatPartitionEx& candidate, CFileSet* set) {
    const i64 spc = candidate.GetSectorsPerCluster();
    const i64 offset = set->GetFirstSector() - candidate.GetDataRegionStart();
    if (spc <= 0 || offset < 0 || offset % spc != 0 || set->IsAbridged() || candidate.IsMatched(set)) return;
    std::list<CFileSet*> tree;
    const u32 score = CheckTree(set, candidate.GetDataRegionStart(), static_cast<u32>(spc), tree, 1);
    if (score > 0) {
        for (CFileSet* member : tree) candidate.InsertMathedFileSet(member, score);
    } else if (candidate.SimpleCheck(set, m_sectorSize)) {
        candidate.InsertMathedFileSet(set, 1);
    }
}

void CPartitionBuilder::UpdateFileSetUnMatched(CExFatPartitionEx& candidate) {
    const std::vector<i64>& aligned = candidate.AlignedDataSectors();
    if (aligned.empty()) return;
    const i64 first = aligned.front();
    const i64 last = aligned.back();
    std::vector<CFileSet*> left;
    left.reserve(m_processing.size());
    size_t at = 0;
    for (; at < m_processing.size(); ++at) {
        CFileSet* set = m_processing[at];
        if (set->GetFirstSector() > last) break;
        if (set->GetFirstSector() >= first && candidate.IsMatched(set)) {
            m_assigned.insert(set);
        } else {
            left.push_back(set);
        }
    }
    left.insert(left.end(), m_processing.begin() + static_cast<std::ptrdiff_t>(at), m_processing.end());
    m_processing = std::move(left);
}

void CPartitionBuilder::RemovePartionBeCoveredByOther(std::list<std::unique_ptr<CExFatPartitionEx>>& chosen) {
    std::stable_sort(m_survivors.begin(), m_survivors.end(),
                     [](const Owned& a, const Owned& b) { return CExFatPartitionGreater()(*a, *b); });
    std::vector<Owned> survivors = std::move(m_survivors);
    m_survivors.clear();
    for (size_t i = 0; i < survivors.size(); ++i) {
        if (!survivors[i]) continue;
        Owned best = std::move(survivors[i]);
        for (size_t j = i + 1; j < survivors.size(); ++j) {
            if (survivors[j] && IsCover(best->Scores(), survivors[j]->Scores())) survivors[j].reset();
        }
        best->CalcPartitionParam(m_sectorSize);
        chosen.push_back(std::move(best));
    }
}
