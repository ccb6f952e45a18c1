#include "engine/EXFatSearch/FDTPreAnalyze.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "engine/EXFatSearch/ExFatLayout.h"

namespace {

namespace e = exfat::entry;

u8 InUse(ByteReader entry) { return (entry.data()[e::kType] & e::kInUseBit) != 0 ? 1 : 0; }

std::vector<u8> CopyPadded(ByteReader from, size_t offset, size_t length) {
    std::vector<u8> out(length, 0);
    if (offset < from.size()) {
        std::memcpy(out.data(), from.data() + offset, std::min(length, from.size() - offset));
    }
    return out;
}

}  // namespace

// The same as assigning a fresh set, without writing the whole name buffer: name units past the count are
// always zero (units are only ever appended), so only those below it need clearing.
void CFDTPreAnaylze::ClearEntrySet() {
    _tagFileBaseInfo& info = m_entry.info;
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
    static_assert(sizeof(_tagFileBaseInfo) == 552, "a new field of the entry set must be cleared above");
    m_entry.state = 0;
    m_entry.expected = 0;
    m_entry.continuesAt = -1;
}

CFDTPreAnaylze::CFDTPreAnaylze() = default;
CFDTPreAnaylze::~CFDTPreAnaylze() = default;
CFDTPreAnaylze::CFDTPreAnaylze(CFDTPreAnaylze&&) noexcept = default;
CFDTPreAnaylze& CFDTPreAnaylze::operator=(CFDTPreAnaylze&&) noexcept = default;

void CFDTPreAnaylze::PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift,
                                   unsigned long long totalSectors) {
    Clear();
    m_joinTries = 0;
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
    m_cutGroups.clear();
    m_abridgedGroups.clear();
    m_links = {};
    m_backLinks = {};
    m_set.reset();
    ClearEntrySet();
    m_entryBackup = EntrySet();
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
    if (m_entry.state != 0 && m_entry.continuesAt != sector) ClearEntrySet();
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
                m_entry.info.TakeFileEntry(entry, sector);
                m_entry.state = 1;
                m_entry.expected = secondaries;
                break;
            }
            case e::kStream:
            case e::kDeletedStream:
                if (!m_rules.IsValidStreamEntry(entry)) {
                    going = false;
                } else if (m_entry.state == 1 && InUse(entry) == m_entry.info.inUse) {
                    m_entry.info.TakeStreamEntry(entry);
                    m_entry.state = 2;
                    --m_entry.expected;
                } else {
                    lostHead(slot);
                }
                break;
            case e::kName:
            case e::kDeletedName:
                if (m_entry.state >= 2 && m_entry.expected > 0 && InUse(entry) == m_entry.info.inUse) {
                    if (!m_entry.info.AppendValidNameEntry(entry)) {
                        going = false;
                        break;
                    }
                    ++m_entry.state;
                    if (--m_entry.expected == 0) {
                        set.AddFile(m_entry.info);
                        ClearEntrySet();
                    }
                } else if (!m_rules.IsValidNameEntry(entry)) {
                    going = false;
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
            case e::kVolumeGuid:
            case e::kTexFatPadding:
                // A benign entry of the root, no part of any set (it has no secondaries): read past.
                if (entry.data()[e::kSecondaryCountOfPrimary] != 0) going = false;
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
    if (m_entry.state != 0 && m_entry.expected > 0 && taken == m_entriesPerSector && !endedEarly && !cutKept) {
        m_entry.continuesAt = sector + 1;
    } else if (finished) {
        ClearEntrySet();
    }
    return finished;
}

u8 CFDTPreAnaylze::SecondaryRun(ByteReader bytes, u8 from, u8 limit, bool inUse, u8 streamAt) const {
    u8 at = from;
    for (; at < limit; ++at) {
        const auto entry = bytes.Sub(size_t{at} * e::kSize, e::kSize);
        if (!entry || (InUse(*entry) != 0) != inUse) break;
        const u8 type = entry->data()[e::kType];
        const bool ok = at == streamAt
                            ? (type == e::kStream || type == e::kDeletedStream) && m_rules.IsValidStreamEntry(*entry)
                            : (type == e::kName || type == e::kDeletedName) && m_rules.IsValidNameEntry(*entry);
        if (!ok) break;
    }
    return static_cast<u8>(at - from);
}

CFDTPreAnaylze::JoinShape CFDTPreAnaylze::CutShape(ByteReader cut) const {
    JoinShape shape;
    const auto head = cut.Sub(0, e::kSize);
    if (!head) return shape;
    const u8 type = head->data()[e::kType];
    if ((type != e::kFile && type != e::kDeletedFile) || !m_rules.IsValidFileEntry(*head)) return shape;
    shape.secondaries = head->data()[exfat::file::kSecondaryCount];
    shape.inUse = InUse(*head) != 0;
    // Entries past the secondaries never join; a split takes at most `secondaries` of the cut's.
    shape.usable = static_cast<u8>(1 + SecondaryRun(cut, 1, shape.secondaries, shape.inUse, 1));
    return shape;
}

CFDTPreAnaylze::JoinShape CFDTPreAnaylze::AbridgedShape(ByteReader start) const {
    JoinShape shape;
    const auto head = start.Sub(0, e::kSize);
    if (!head) return shape;
    const u8 type = head->data()[e::kType];
    shape.opensWithStream = type == e::kStream || type == e::kDeletedStream;
    shape.inUse = InUse(*head) != 0;
    // A join takes at most the largest set's secondaries from this side.
    shape.usable = SecondaryRun(start, 0, e::kMaxSecondaryCount, shape.inUse, shape.opensWithStream ? 0 : 0xFF);
    return shape;
}

bool CFDTPreAnaylze::JoinSplits(const JoinShape& cut, const JoinShape& abridged, u32& first, u32& last) {
    if (cut.usable == 0 || abridged.usable == 0 || cut.inUse != abridged.inUse) return false;
    const u32 secondaries = cut.secondaries;
    // Split j: the cut gives j entries (its file entry first), the sector secondaries + 1 - j; the sector's
    // first entry is the stream at j = 1, a name past it.
    if (abridged.opensWithStream) {
        first = last = 1;
        return abridged.usable >= secondaries;
    }
    first = std::max<u32>(2, secondaries + 1 - std::min<u32>(abridged.usable, secondaries));
    last = std::min<u32>(cut.usable, secondaries);
    return first <= last;
}

u32 CFDTPreAnaylze::ShapeKey(const JoinShape& shape) {
    return u32{shape.secondaries} << 16 | u32{shape.usable} << 8 | (shape.inUse ? 2u : 0u) |
           (shape.opensWithStream ? 1u : 0u);
}

namespace {

std::vector<u8> UsableBytes(ByteReader bytes, u8 usable) {
    const size_t length = std::min(bytes.size(), size_t{usable} * e::kSize);
    return std::vector<u8>(bytes.data(), bytes.data() + length);
}

}  // namespace

void CFDTPreAnaylze::AddToGroup(JoinGroups& groups, ByteReader bytes, const JoinShape& shape, i64 key) {
    ShapeClass& kind = groups[ShapeKey(shape)];
    kind.shape = shape;
    std::vector<i64>& keys = kind.groups[UsableBytes(bytes, shape.usable)];
    keys.insert(std::lower_bound(keys.begin(), keys.end(), key), key);
}

void CFDTPreAnaylze::RemoveFromGroup(JoinGroups& groups, ByteReader bytes, const JoinShape& shape, i64 key) {
    auto kind = groups.find(ShapeKey(shape));
    if (kind == groups.end()) return;
    auto group = kind->second.groups.find(UsableBytes(bytes, shape.usable));
    if (group == kind->second.groups.end()) return;
    std::vector<i64>& keys = group->second;
    auto at = std::lower_bound(keys.begin(), keys.end(), key);
    if (at != keys.end() && *at == key) keys.erase(at);
    if (!keys.empty()) return;
    kind->second.groups.erase(group);
    if (kind->second.groups.empty()) groups.erase(kind);
}

template <typename TryJoin>
std::optional<i64> CFDTPreAnaylze::FirstJoined(const JoinGroups& groups, const JoinShape& shape, bool cutSide, i64 own,
                                TryJoin&& tryJoin) {
    struct Candidate {
        i64 key;
        u32 first, last;
    };
    std::vector<Candidate> candidates;
    for (const auto& [id, kind] : groups) {
        u32 first = 0, last = 0;
        const bool fits = cutSide ? JoinSplits(shape, kind.shape, first, last) : JoinSplits(kind.shape, shape, first, last);
        if (!fits) continue;
        for (const auto& [usable, keys] : kind.groups) {
            auto key = keys.begin();
            if (key != keys.end() && *key == own) ++key;
            if (key != keys.end()) candidates.push_back({*key, first, last});
        }
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) { return a.key < b.key; });
    for (const Candidate& c : candidates) {
        if (tryJoin(c.key, c.first, c.last)) return c.key;
    }
    return std::nullopt;
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
    const JoinShape shape = CutShape(ByteReader(copy.bytes));
    std::optional<i64> joined;
    if (m_joinIndex) {
        joined = FirstJoined(m_abridgedGroups, shape, true, own, [&](i64 key, u32 from, u32 to) {
            return Join(copy, ByteReader(m_abridged.at(key)), from, to);
        });
    } else {
        for (const auto& [key, start] : m_abridged) {
            if (key != own && Join(copy, ByteReader(start))) {
                joined = key;
                break;
            }
        }
    }
    if (joined) {
        Link(own, *joined);
        auto it = m_abridged.find(*joined);
        const ByteReader start(it->second);
        RemoveFromGroup(m_abridgedGroups, start, AbridgedShape(start), *joined);
        m_abridged.erase(it);
        return CutOutcome::Kept;
    }
    if (auto old = m_notEnded.find(own); old != m_notEnded.end()) {
        const ByteReader bytes(old->second.bytes);
        RemoveFromGroup(m_cutGroups, bytes, CutShape(bytes), own);
    }
    AddToGroup(m_cutGroups, ByteReader(copy.bytes), shape, own);
    m_notEnded[own] = std::move(copy);
    return CutOutcome::Kept;
}

void CFDTPreAnaylze::AbridgedStep(ByteReader window) {
    const i64 own = Current().GetFirstSector();
    const ByteReader start = window.Sub(0, std::min(kAbridgedCopyBytes, window.size())).value_or(ByteReader());
    const JoinShape shape = AbridgedShape(start);
    std::optional<i64> joined;
    if (m_joinIndex) {
        joined = FirstJoined(m_cutGroups, shape, false, own, [&](i64 key, u32 from, u32 to) {
            return Join(m_notEnded.at(key), start, from, to);
        });
    } else {
        for (const auto& [key, cut] : m_notEnded) {
            if (key != own && Join(cut, start)) {
                joined = key;
                break;
            }
        }
    }
    if (joined) {
        Link(*joined, own);
        auto it = m_notEnded.find(*joined);
        const ByteReader bytes(it->second.bytes);
        RemoveFromGroup(m_cutGroups, bytes, CutShape(bytes), *joined);
        m_notEnded.erase(it);
        return;
    }
    if (auto old = m_abridged.find(own); old != m_abridged.end()) {
        const ByteReader bytes(old->second);
        RemoveFromGroup(m_abridgedGroups, bytes, AbridgedShape(bytes), own);
    }
    AddToGroup(m_abridgedGroups, start, shape, own);
    m_abridged[own] = CopyPadded(window, 0, kAbridgedCopyBytes);
}

bool CFDTPreAnaylze::Join(const CutCopy& cut, ByteReader candidate, u32 first, u32 last) {
    ++m_joinTries;
    const ByteReader head(cut.bytes);
    const u8 secondaries = head.U8(exfat::file::kSecondaryCount).value_or(0);
    if (secondaries < e::kMinSecondaryCount || secondaries > e::kMaxSecondaryCount) return false;
    const size_t total = (size_t{secondaries} + 1) * e::kSize;
    if (!head.Has(0, total)) return false;
    const u16 stored = head.Le16(exfat::file::kSetChecksum).value_or(0);

    m_entryBackup = m_entry;
    bool accepted = false;
    std::array<u8, (e::kMaxSecondaryCount + 1) * e::kSize> joined;
    const size_t lowest = std::max<size_t>(first, 1);
    for (size_t j = std::min<size_t>(secondaries, last); j >= lowest && !accepted; --j) {
        const size_t rest = (size_t{secondaries} + 1 - j) * e::kSize;
        if (!candidate.Has(0, rest)) continue;
        std::memcpy(joined.data(), head.data(), j * e::kSize);
        std::memcpy(joined.data() + j * e::kSize, candidate.data(), rest);
        if (!CheckDirEntry(joined.data(), static_cast<unsigned>(total), stored)) continue;
        accepted = TakeJoined(ByteReader(joined.data(), total), secondaries, cut.entrySector);
    }
    m_entry = m_entryBackup;
    return accepted;
}

bool CFDTPreAnaylze::TakeJoined(ByteReader joined, u32 secondaries, i64 entrySector) {
    ClearEntrySet();
    const ByteReader file = *joined.Sub(0, e::kSize);
    const u8 fileType = file.data()[e::kType];
    if ((fileType != e::kFile && fileType != e::kDeletedFile) || !m_rules.IsValidFileEntry(file)) return false;
    m_entry.info.TakeFileEntry(file, entrySector);
    const ByteReader stream = *joined.Sub(e::kSize, e::kSize);
    const u8 streamType = stream.data()[e::kType];
    if ((streamType != e::kStream && streamType != e::kDeletedStream) || !m_rules.IsValidStreamEntry(stream) ||
        InUse(stream) != m_entry.info.inUse) {
        return false;
    }
    m_entry.info.TakeStreamEntry(stream);
    for (u32 i = 2; i <= secondaries; ++i) {
        const ByteReader name = *joined.Sub(size_t{i} * e::kSize, e::kSize);
        const u8 nameType = name.data()[e::kType];
        if ((nameType != e::kName && nameType != e::kDeletedName) || !m_rules.IsValidNameEntry(name) ||
            InUse(name) != m_entry.info.inUse) {
            return false;
        }
        m_entry.info.AppendNameEntry(name);
    }
    Current().AddFile(m_entry.info);
    return true;
}

void CFDTPreAnaylze::Link(i64 from, i64 to) {
    m_links.Get(from) = to;
    m_backLinks.Get(to) = from;
}

void CFDTPreAnaylze::GetFileSet(CFileSet** set) {
    if (set == nullptr) return;
    *set = TakeFileSet().release();
}

std::unique_ptr<CFileSet> CFDTPreAnaylze::TakeFileSet() {
    if (!HasFileSet()) return nullptr;
    m_set->CalculateClusterSize(m_sectorShift);
    // The set handed over is a copy of exactly its size; the set in hand keeps its room for the next one,
    // so the sets do not each grow their lists a step at a time (most of a directory sector's cost).
    auto out = std::make_unique<CFileSet>(*m_set);
    m_set->Reset();
    return out;
}

long long CFDTPreAnaylze::GetNext(long long sector) const {
    const i64* to = m_links.Find(sector);
    return to == nullptr ? -1 : *to;
}

long long CFDTPreAnaylze::GetLast(long long sector) const {
    const i64* from = m_backLinks.Find(sector);
    return from == nullptr ? -1 : *from;
}
