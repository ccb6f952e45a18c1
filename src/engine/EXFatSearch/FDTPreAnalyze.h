// The deep exFAT search's directory-sector pre-analyser: offered every sector of a device in order, it
// collects the exFAT entries of runs of consecutive directory sectors into file sets, reading entry sets
// past a sector's end into the sectors held behind it in memory, and joins the sets that a sector edge
// cuts in two when the rest turns up elsewhere on the device (a fragmented folder).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/FlatKeyTable.h"
#include "engine/Common/Types.h"
#include "engine/EXFatSearch/ExFatDirEntry.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "engine/EXFatSearch/FileSet.h"

class CFDTPreAnaylze {
public:
    // Bytes kept from the start of a sector that begins inside an entry set: the longest set.
    static constexpr size_t kAbridgedCopyBytes = 18 * 32;

    CFDTPreAnaylze();
    ~CFDTPreAnaylze();
    CFDTPreAnaylze(CFDTPreAnaylze&&) noexcept;
    CFDTPreAnaylze& operator=(CFDTPreAnaylze&&) noexcept;

    // Stores the shifts and the device's total sectors, and starts a new search: the maps, the current
    // set and the entry set being assembled (and its backup) are cleared.
    void PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift, unsigned long long totalSectors);
    // Analyses one sector; data must be followed in memory by the next two sectors of the device. True
    // when the current set is finished.
    bool Analyze(long long sector, unsigned char* data);
    // The same on a bounded view starting at the sector and running over what lies behind it.
    bool Analyze(long long sector, ByteReader window);
    // Hands over the current set when it holds a file or is a root set (its cluster-size bounds then in
    // sectors); otherwise null, and the set is kept.
    void GetFileSet(CFileSet** set);
    std::unique_ptr<CFileSet> TakeFileSet();
    // Whether GetFileSet would hand a set over now.
    bool HasFileSet() const { return m_set && (m_set->HasFile() || m_set->IsRoot()); }
    // The sector that continues the set beginning at sector, or -1; the set that sector continues, or -1.
    long long GetNext(long long sector) const;
    long long GetLast(long long sector) const;
    void FinisAnayze() { Clear(); }
    void Clear();

    // Whether the first entry of a sector, given by its first eight bytes (read little-endian), can be
    // taken by the analysis: its type is one the walk takes, and the fields of those bytes pass that
    // type's entry test. A sector whose first entry fails is refused before its entries are walked (the
    // walk would stop at that entry and take nothing).
    static bool MayOpenSector(u64 head);
    // The same on a sector's bytes (at least eight).
    static bool MayOpenSector(const u8* sector) {
        return MayOpenSector(ByteReader(sector, sizeof(u64)).Le64(0).value_or(0));
    }
    // Off: every sector's entries are walked, refused or not (the reference the refusal is checked against).
    void SetQuickRefusal(bool on) {
        m_quickRefusal = on;
        m_idle = false;
    }
    bool QuickRefusal() const { return m_quickRefusal; }
    // True when the last sector analysed was refused and left nothing in hand: no entry set being read, no
    // set with anything in it. Another refused sector would then change nothing, and may be skipped.
    bool Idle() const { return m_idle; }
    // Entries the last Analyze took from its sector (the file entry of a set cut at its end included).
    u32 LastTaken() const { return m_lastTaken; }

    size_t WaitingNotEnded() const { return m_notEnded.size(); }
    size_t WaitingAbridged() const { return m_abridged.size(); }
    // Off: every waiting cut set is tried against every abridged sector, and the reverse, in order of
    // their first sectors (the reference the index is checked against). On (the default), the waiting
    // sides are grouped by the bytes a join can read and tried once per group that could fit.
    void SetJoinIndex(bool on) { m_joinIndex = on; }
    // Joins tried since the search began (one per pair of cut set and abridged sector tried).
    u64 JoinTries() const { return m_joinTries; }

private:
    enum class CutOutcome { Continues, Kept };

    // The entry set being assembled, read on across sectors; the joining step saves and restores it.
    struct EntrySet {
        _tagFileBaseInfo info;
        u8 state = 0;          // 0 none, 1 file entry, 2 stream, then one more per name entry
        u8 expected = 0;       // secondary entries still expected
        i64 continuesAt = -1;  // the sector whose first entries complete it
    };
    // Empties the entry set being assembled.
    void ClearEntrySet();

    CFileSet& Current();
    // A file entry with n secondaries in slot `slot` whose set does not fit the sector.
    struct CutCopy {
        i64 entrySector = -1;  // where the file entry lay
        std::vector<u8> bytes;  // the set as it lay in memory, (secondaries + 1) entries
    };

    // What a join can read of each side. A cut set's first `usable` entries are a file entry, its stream
    // and names that pass their tests and share the file's in-use bit; an abridged sector's first `usable`
    // entries are a stream or a name, then names, that pass and share the first one's in-use bit. A join
    // at split j takes j entries of the cut and secondaries + 1 - j of the sector: only splits within both
    // usable runs can pass the entry tests, so the bytes past them never decide a join.
    struct JoinShape {
        u8 secondaries = 0;  // of the cut set
        u8 usable = 0;
        bool inUse = false;
        bool opensWithStream = false;  // of the abridged sector
    };
    // The waiting entries of one side, by shape, then by their usable bytes: a join's outcome depends only
    // on those, so each group of equal bytes is tried once, through its first key, and only shapes that
    // could fit are looked at.
    struct ShapeClass {
        JoinShape shape;
        std::map<std::vector<u8>, std::vector<i64>> groups;  // usable bytes -> keys, sorted
    };
    using JoinGroups = std::map<u32, ShapeClass>;  // by ShapeKey
    static u32 ShapeKey(const JoinShape& shape);

    // How many entries from `from` on (before `limit`) are secondaries of one set with that in-use bit,
    // each passing its test: the stream at `streamAt`, names elsewhere.
    u8 SecondaryRun(ByteReader bytes, u8 from, u8 limit, bool inUse, u8 streamAt) const;
    JoinShape CutShape(ByteReader cut) const;
    JoinShape AbridgedShape(ByteReader start) const;
    // The splits a cut set and an abridged sector of these shapes could be joined at: [first, last].
    static bool JoinSplits(const JoinShape& cut, const JoinShape& abridged, u32& first, u32& last);
    static void AddToGroup(JoinGroups& groups, ByteReader bytes, const JoinShape& shape, i64 key);
    static void RemoveFromGroup(JoinGroups& groups, ByteReader bytes, const JoinShape& shape, i64 key);
    // The waiting key of the other side that the first successful join pairs with, tried in the order of
    // the keys: the groups whose shape could fit, through their first key other than own.
    template <typename TryJoin>
    static std::optional<i64> FirstJoined(const JoinGroups& groups, const JoinShape& shape, bool cutSide, i64 own, TryJoin&& tryJoin);

    CutOutcome NotEnded(ByteReader window, u32 slot, u32 secondaries, i64 sector);
    void AbridgedStep(ByteReader window);
    // Joins a cut set's copy with the start of a candidate sector at every split point from `last` down to
    // `first` (all of them by default); the first split whose checksum matches and whose entries all pass
    // adds the joined file to the current set. The entry set being assembled is restored afterwards.
    bool Join(const CutCopy& cut, ByteReader candidate, u32 first = 1, u32 last = 0xFF);
    bool TakeJoined(ByteReader joined, u32 secondaries, i64 entrySector);
    void Link(i64 from, i64 to);

    u64 m_totalSectors = 0;
    u32 m_clusterShift = 25;
    u32 m_sectorShift = 9;
    u32 m_entriesPerSector = 16;
    u32 m_lastTaken = 0;
    bool m_quickRefusal = true;
    bool m_idle = false;
    CExFatEntryRules m_rules;
    bool m_joinIndex = true;
    u64 m_joinTries = 0;
    std::map<i64, CutCopy> m_notEnded;         // set's first sector -> the cut set
    std::map<i64, std::vector<u8>> m_abridged;  // set's first sector -> the start of that sector
    JoinGroups m_cutGroups;                     // the cut sets by their usable bytes
    JoinGroups m_abridgedGroups;                // the abridged sectors by theirs
    FlatKeyTable<i64, i64> m_links;             // cut set's first sector -> the sector continuing it
    FlatKeyTable<i64, i64> m_backLinks;         // the reverse
    std::unique_ptr<CFileSet> m_set;
    EntrySet m_entry;
    EntrySet m_entryBackup;
};

inline bool CFDTPreAnaylze::MayOpenSector(u64 head) {
    namespace e = exfat::entry;
    // The field of `width` bytes at `offset` among the eight.
    const auto field = [head](size_t offset, size_t width) {
        return width >= 8 ? head >> (8 * offset) : (head >> (8 * offset)) & ((u64{1} << (8 * width)) - 1);
    };
    switch (static_cast<u8>(head)) {
        case e::kFile:
        case e::kDeletedFile: {
            const u64 secondaries = field(exfat::file::kSecondaryCount, 1);
            return secondaries >= e::kMinSecondaryCount && secondaries <= e::kMaxSecondaryCount;
        }
        // (Reserved bytes refuse no entry: the table entries and the stream entry have nothing else here.)
        case e::kStream:
        case e::kDeletedStream: return true;
        case e::kName:
        case e::kDeletedName: return field(exfat::name::kFlags, 1) == 0 && field(exfat::name::kCharacters, 2) != 0;
        case e::kVolumeLabel:
        case e::kDeletedVolumeLabel: return field(exfat::label::kCharacterCount, 1) <= exfat::label::kMaxCharacters;
        case e::kBitmap:
        case e::kUpcase: return true;
        case e::kVolumeGuid:
        case e::kTexFatPadding: return field(e::kSecondaryCountOfPrimary, 1) == 0;
        default: return false;
    }
}
