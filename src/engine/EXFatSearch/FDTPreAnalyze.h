// The deep exFAT search's directory-sector pre-analyser: offered every sector of a device in order, it
// collects the exFAT entries of runs of consecutive directory sectors into file sets, reading entry sets
// past a sector's end into the sectors held behind it in memory, and joins the sets that a sector edge
// cuts in two when the rest turns up elsewhere on the device (a fragmented folder).
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"
#include "engine/EXFatSearch/ExFatDirEntry.h"
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
    // set and the process-wide entry-set record (and its backup) are cleared.
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

    // Whether an entry of this type, first in a sector, can be taken by the analysis. A sector whose first
    // entry is of any other type gives nothing, and is refused before its entries are walked.
    static bool MayOpenSector(u8 type);
    // Off: every sector's entries are walked, refused or not (the reference the refusal is checked against).
    void SetQuickRefusal(bool on) { m_quickRefusal = on; }
    // Entries the last Analyze took from its sector (the file entry of a set cut at its end included).
    u32 LastTaken() const { return m_lastTaken; }

    size_t WaitingNotEnded() const { return m_notEnded.size(); }
    size_t WaitingAbridged() const { return m_abridged.size(); }

private:
    enum class CutOutcome { Continues, Kept };

    CFileSet& Current();
    // A file entry with n secondaries in slot `slot` whose set does not fit the sector.
    struct CutCopy {
        i64 entrySector = -1;  // where the file entry lay
        std::vector<u8> bytes;  // the set as it lay in memory, (secondaries + 1) entries
    };

    CutOutcome NotEnded(ByteReader window, u32 slot, u32 secondaries, i64 sector);
    void AbridgedStep(ByteReader window);
    // Joins a cut set's copy with the start of a candidate sector at every split point; the first split
    // whose checksum matches and whose entries all pass adds the joined file to the current set. The
    // shared entry-set record is restored afterwards.
    bool Join(const CutCopy& cut, ByteReader candidate);
    bool TakeJoined(ByteReader joined, u32 secondaries, i64 entrySector);
    void Link(i64 from, i64 to);

    u64 m_totalSectors = 0;
    u32 m_clusterShift = 25;
    u32 m_sectorShift = 9;
    u32 m_entriesPerSector = 16;
    u32 m_lastTaken = 0;
    bool m_quickRefusal = true;
    CExFatEntryRules m_rules;
    std::map<i64, CutCopy> m_notEnded;         // set's first sector -> the cut set
    std::map<i64, std::vector<u8>> m_abridged;  // set's first sector -> the start of that sector
    std::map<i64, i64> m_links;                 // cut set's first sector -> the sector continuing it
    std::map<i64, i64> m_backLinks;             // the reverse
    std::unique_ptr<CFileSet> m_set;
};
