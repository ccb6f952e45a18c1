#include "engine/EXFatSearch/FDTPreAnalyze.h"

#include <algorithm>
#include <cstring>

#include "engine/EXFatSearch/ExFatLayout.h"

namespace {

namespace e = exfat::entry;

// The entry set being assembled, shared by the whole process as the deep search has always kept it, and
// its backup, which the joining step saves and restores. Both start again at every new search.
struct SharedEntrySet {
    _tagFileBaseInfo info;
    u8 state = 0;     // 0 none, 1 file entry, 2 stream, then one more per name entry
    u8 expected = 0;  // secondary entries still expected
    i64 continuesAt = -1;  // the sector whose first entries complete it
};
SharedEntrySet g_entrySet;
SharedEntrySet g_entrySetBackup;

// The same as assigning a fresh set, without writing the whole name buffer: name units past the count are
// always zero (units are only ever appended), so only those below it need clearing.
void ClearEntrySet() {
    _tagFileBaseInfo& info = g_entrySet.info;
    std::fill_n(info.nameUnits, std::min<size_t>(info.nameUnitCount, _tagFileBaseInfo::kMaxNameUnits), u'\0');
    info.nameUnitCount = 0;
    info.dataLength = 0;
    info.firstCluster = 0;
    info.noFatChain = 0;
    info.inUse = 0;
    info.attributes = 0;
    info.createTime = 0;
    info.modifiedTime = 0;
    info.accessedTime = 0;
    info.sector = 0;
    info.nameLength = 0;
    static_assert(sizeof(_tagFileBaseInfo) == 560, "a new field of the entry set must be cleared above");
    g_entrySet.state = 0;
    g_entrySet.expected = 0;
    g_entrySet.continuesAt = -1;
}

u8 InUse(ByteReader entry) { return (entry.data()[e::kType] & e::kInUseBit) != 0 ? 1 : 0; }

std::vector<u8> CopyPadded(ByteReader from, size_t offset, size_t length) {
    std::vector<u8> out(length, 0);
    if (offset < from.size()) {
        std::memcpy(out.data(), from.data() + offset, std::min(length, from.size() - offset));
    }
    return out;
}

}  // namespace

CFDTPreAnaylze::CFDTPreAnaylze() = default;
CFDTPreAnaylze::~CFDTPreAnaylze() = default;
CFDTPreAnaylze::CFDTPreAnaylze(CFDTPreAnaylze&&) noexcept = default;
CFDTPreAnaylze& CFDTPreAnaylze::operator=(CFDTPreAnaylze&&) noexcept = default;

void CFDTPreAnaylze::PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift,
                                   unsigned long long totalSectors) {
    Clear();
    m_sectorShift = std::clamp(sectorShift, 9u, 12u);
    m_clusterShift = clusterShift;
    m_totalSectors = totalSectors;
    m_entriesPerSector = 1u << (m_sectorShift - 5);
    m_rules = CExFatEntryRules(m_sectorShift, m_clusterShift, m_totalSectors);
}

void CFDTPreAnaylze::Clear() {
    m_idle = false;
    m_notEnded.clear();
    m_abridged.clear();
    m_links.clear();
    m_backLinks.clear();
    m_set.reset();
    ClearEntrySet();
    g_entrySetBackup = SharedEntrySet();
}

CFileSet& CFDTPreAnaylze::Current() {
    if (!m_set) m_set = std::make_unique<CFileSet>();
    return *m_set;
}

bool CFDTPreAnaylze::Analyze(long long sector, unsigned char* data) {
    if (data == nullptr) return true;
    return Analyze(sector, ByteReader(data, size_t{3} << m_sectorShift));
}

bool CFDTPreAnaylze::Analyze(long long sector, ByteReader window) {
    const size_t sectorBytes = size_t{1} << m_sectorShift;
    CFileSet& set = Current();
    // A set read on past the previous sector's end continues only into the sector right behind it.
    if (g_entrySet.state != 0 && g_entrySet.continuesAt != sector) ClearEntrySet();
    m_lastTaken = 0;
    m_idle = false;
    // Nothing can be taken: the walk below would stop at the first entry, take none and finish.
    if (!window.Has(0, sectorBytes) || (m_quickRefusal && !MayOpenSector(window.data()))) {
        ClearEntrySet();
        if (!set.HasFile()) {
            set.Reset();
            m_idle = m_quickRefusal;
        }
        return true;
    }
    u32 taken = 0;
    bool endedEarly = false;
    bool cutKept = false;
    bool sawLabel = false, sawBitmap = false, sawUpcase = false;
    // A stream or name whose file entry is not in hand: when it opens the sector of a set without files,
    // the sector begins inside an entry set.
    auto lostHead = [&](u32 slot) {
        if (slot == 0 && !set.HasFile()) set.AddFlags(CFileSet::kAbridged);
        ClearEntrySet();
    };
    for (u32 slot = 0; slot < m_entriesPerSector; ++slot) {
        const ByteReader entry = *window.Sub(size_t{slot} * e::kSize, e::kSize);
        const u8 type = entry.data()[e::kType];
        bool going = true;
        switch (type) {
            case e::kFile:
            case e::kDeletedFile: {
                if (!m_rules.IsValidFileEntry(entry)) {
                    going = false;
                    break;
                }
                const u8 secondaries = entry.data()[exfat::file::kSecondaryCount];
                if (u32{secondaries} + 1 > m_entriesPerSector - slot &&
                    NotEnded(window, slot, secondaries, sector) == CutOutcome::Kept) {
                    cutKept = true;
                    going = false;
                    break;
                }
                ClearEntrySet();
                g_entrySet.info.TakeFileEntry(entry, sector);
                g_entrySet.state = 1;
                g_entrySet.expected = secondaries;
                break;
            }
            case e::kStream:
            case e::kDeletedStream:
                if (!m_rules.IsValidStreamEntry(entry)) {
                    going = false;
                } else if (g_entrySet.state == 1 && InUse(entry) == g_entrySet.info.inUse) {
                    g_entrySet.info.TakeStreamEntry(entry);
                    g_entrySet.state = 2;
                    --g_entrySet.expected;
                } else {
                    lostHead(slot);
                }
                break;
            case e::kName:
            case e::kDeletedName:
                if (!m_rules.IsValidNameEntry(entry)) {
                    going = false;
                } else if (g_entrySet.state >= 2 && g_entrySet.expected > 0 &&
                           InUse(entry) == g_entrySet.info.inUse) {
                    g_entrySet.info.AppendNameEntry(entry);
                    ++g_entrySet.state;
                    if (--g_entrySet.expected == 0) {
                        set.AddFile(g_entrySet.info);
                        ClearEntrySet();
                    }
                } else {
                    lostHead(slot);
                }
                break;
            case e::kVolumeLabel:
            case e::kDeletedVolumeLabel:
                if (!m_rules.IsValidVolumeLabelEntry(entry) || (type == e::kVolumeLabel && sawLabel)) {
                    going = false;
                } else {
                    sawLabel = sawLabel || type == e::kVolumeLabel;
                    set.SeeLabel();
                }
                break;
            case e::kBitmap:
                if (!m_rules.IsValidBitmapEntry(entry) || sawBitmap) {
                    going = false;
                } else {
                    sawBitmap = true;
                    set.SeeBitmap(entry.Le32(exfat::bitmap::kFirstCluster).value_or(0),
                                  entry.Le64(exfat::bitmap::kDataLength).value_or(0));
                }
                break;
            case e::kUpcase:
                if (!m_rules.IsValidUpcaseEntry(entry) || sawUpcase) {
                    going = false;
                } else {
                    sawUpcase = true;
                    set.SeeUpcase(entry.Le32(exfat::upcase::kFirstCluster).value_or(0),
                                  entry.Le64(exfat::upcase::kDataLength).value_or(0));
                }
                break;
            default: going = false; break;
        }
        if (cutKept) {
            ++taken;  // the cut set's file entry lies in this sector
            break;
        }
        if (!going) {
            endedEarly = true;
            break;
        }
        ++taken;
    }

    m_lastTaken = taken;
    bool finished = true;
    if (taken > 0) {
        set.RecordSector(sector);
        if (set.IsAbridged() && set.GetSectorCounts() == 1) {
            AbridgedStep(window);
        } else {
            finished = endedEarly || cutKept ||
                       (u64{set.GetSectorCounts()} << m_sectorShift) == set.GetMaxClusterSize();
        }
    } else if (!set.HasFile()) {
        set.Reset();
    }
    // A set whose checksum held over the memory behind this sector runs on into the next sector, even
    // when this sector finishes the file set (a single abridged sector): the next set takes its rest.
    if (g_entrySet.state != 0 && g_entrySet.expected > 0 && taken == m_entriesPerSector && !endedEarly && !cutKept) {
        g_entrySet.continuesAt = sector + 1;
    } else if (finished) {
        ClearEntrySet();
    }
    return finished;
}

CFDTPreAnaylze::CutOutcome CFDTPreAnaylze::NotEnded(ByteReader window, u32 slot, u32 secondaries, i64 sector) {
    CFileSet& set = Current();
    const size_t offset = size_t{slot} * e::kSize;
    const size_t bytes = (size_t{secondaries} + 1) * e::kSize;
    // Sectors of the set so far, this one included: the next sector is in the same cluster only while
    // they are fewer than the largest possible cluster.
    const i64 first = set.GetFirstSector() < 0 ? sector : set.GetFirstSector();
    const u64 span = static_cast<u64>(sector - first + 1) << m_sectorShift;
    if (span < set.GetMaxClusterSize() && window.Has(offset, bytes)) {
        const u16 stored = window.Le16(offset + exfat::file::kSetChecksum).value_or(0);
        if (CheckDirEntry(window.data() + offset, static_cast<unsigned>(bytes), stored)) {
            return CutOutcome::Continues;
        }
    }
    set.RecordSector(sector);
    set.AddFlags(CFileSet::kNotEnded);
    const i64 own = set.GetFirstSector();
    CutCopy copy{sector, CopyPadded(window, offset, bytes)};
    ClearEntrySet();
    for (auto it = m_abridged.begin(); it != m_abridged.end(); ++it) {
        if (it->first == own) continue;
        if (Join(copy, ByteReader(it->second))) {
            Link(own, it->first);
            m_abridged.erase(it);
            return CutOutcome::Kept;
        }
    }
    m_notEnded[own] = std::move(copy);
    return CutOutcome::Kept;
}

void CFDTPreAnaylze::AbridgedStep(ByteReader window) {
    const i64 own = Current().GetFirstSector();
    const ByteReader start = window.Sub(0, std::min(kAbridgedCopyBytes, window.size())).value_or(ByteReader());
    for (auto it = m_notEnded.begin(); it != m_notEnded.end(); ++it) {
        if (it->first == own) continue;
        if (Join(it->second, start)) {
            Link(it->first, own);
            m_notEnded.erase(it);
            return;
        }
    }
    m_abridged[own] = CopyPadded(window, 0, kAbridgedCopyBytes);
}

bool CFDTPreAnaylze::Join(const CutCopy& cut, ByteReader candidate) {
    const ByteReader head(cut.bytes);
    const u8 secondaries = head.U8(exfat::file::kSecondaryCount).value_or(0);
    if (secondaries < e::kMinSecondaryCount || secondaries > e::kMaxSecondaryCount) return false;
    const size_t total = (size_t{secondaries} + 1) * e::kSize;
    if (!head.Has(0, total)) return false;
    const u16 stored = head.Le16(exfat::file::kSetChecksum).value_or(0);

    g_entrySetBackup = g_entrySet;
    bool accepted = false;
    std::vector<u8> joined(total);
    for (size_t j = secondaries; j >= 1 && !accepted; --j) {
        const size_t rest = (size_t{secondaries} + 1 - j) * e::kSize;
        if (!candidate.Has(0, rest)) continue;
        std::memcpy(joined.data(), head.data(), j * e::kSize);
        std::memcpy(joined.data() + j * e::kSize, candidate.data(), rest);
        if (!CheckDirEntry(joined.data(), static_cast<unsigned>(total), stored)) continue;
        accepted = TakeJoined(ByteReader(joined), secondaries, cut.entrySector);
    }
    g_entrySet = g_entrySetBackup;
    return accepted;
}

bool CFDTPreAnaylze::TakeJoined(ByteReader joined, u32 secondaries, i64 entrySector) {
    ClearEntrySet();
    const ByteReader file = *joined.Sub(0, e::kSize);
    const u8 fileType = file.data()[e::kType];
    if ((fileType != e::kFile && fileType != e::kDeletedFile) || !m_rules.IsValidFileEntry(file)) return false;
    g_entrySet.info.TakeFileEntry(file, entrySector);
    const ByteReader stream = *joined.Sub(e::kSize, e::kSize);
    const u8 streamType = stream.data()[e::kType];
    if ((streamType != e::kStream && streamType != e::kDeletedStream) || !m_rules.IsValidStreamEntry(stream) ||
        InUse(stream) != g_entrySet.info.inUse) {
        return false;
    }
    g_entrySet.info.TakeStreamEntry(stream);
    for (u32 i = 2; i <= secondaries; ++i) {
        const ByteReader name = *joined.Sub(size_t{i} * e::kSize, e::kSize);
        const u8 nameType = name.data()[e::kType];
        if ((nameType != e::kName && nameType != e::kDeletedName) || !m_rules.IsValidNameEntry(name) ||
            InUse(name) != g_entrySet.info.inUse) {
            return false;
        }
        g_entrySet.info.AppendNameEntry(name);
    }
    Current().AddFile(g_entrySet.info);
    return true;
}

void CFDTPreAnaylze::Link(i64 from, i64 to) {
    m_links[from] = to;
    m_backLinks[to] = from;
}

void CFDTPreAnaylze::GetFileSet(CFileSet** set) {
    if (set == nullptr) return;
    *set = TakeFileSet().release();
}

std::unique_ptr<CFileSet> CFDTPreAnaylze::TakeFileSet() {
    if (!HasFileSet()) return nullptr;
    m_set->CalculateClusterSize(m_sectorShift);
    return std::move(m_set);
}

long long CFDTPreAnaylze::GetNext(long long sector) const {
    auto it = m_links.find(sector);
    return it == m_links.end() ? -1 : it->second;
}

long long CFDTPreAnaylze::GetLast(long long sector) const {
    auto it = m_backLinks.find(sector);
    return it == m_backLinks.end() ? -1 : it->second;
}
