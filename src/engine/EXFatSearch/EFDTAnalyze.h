// The quick search's entry-set assembler: fed the clusters of one folder in order, it collects the
// complete sets (file, stream and name entries) into records. The state of a set in progress survives
// from one buffer to the next, so a set that runs over a cluster boundary is completed by the next
// cluster of the same folder.
#pragma once

#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"
#include "engine/EXFatSearch/ExFatDirEntry.h"

class CEFDTAnalyze {
public:
    // Stores the shifts and the device's total sectors; clears the set in progress (not the list).
    void PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift, unsigned long long totalSectors);
    // Forgets the set in progress.
    void Reset();
    // Feeds every 32-byte entry of the buffer; sets that start in it record the given sector. False at
    // the end of the folder (an entry of type 0). An entry that is no part of a file set (a volume GUID,
    // TexFAT padding, an unknown type) or that fails its test costs the set in progress at most; the
    // entries after it are read on.
    bool Analyze(const unsigned char* buffer, unsigned int length, unsigned long long sector);

    // One entry each: an entry that fails its test drops the set in progress, and the analysis goes on.
    bool SetBaseData(ByteReader entry, u64 sector);
    bool SetStreamData(ByteReader entry);
    bool SetNameData(ByteReader entry);
    bool SetVloumeLabel(ByteReader entry);
    // Any other entry: a benign secondary of the set in progress, or no part of a set.
    void SkipEntry(ByteReader entry);

    // The completed records, in completion order; the caller empties the list after each folder.
    std::vector<_tagFileBaseInfo>& GetFileList() { return m_files; }
    const CExFatEntryRules& Rules() const { return m_rules; }

private:
    CExFatEntryRules m_rules;
    // The set in progress: 0 none, 1 file entry seen, 2 stream seen, 3 and up one more per name entry.
    _tagFileBaseInfo m_set;
    u8 m_state = 0;
    u8 m_expected = 0;   // secondary entries still expected
    u64 m_entries = 0;   // entries handed over since the state was last cleared
    std::vector<_tagFileBaseInfo> m_files;
};
