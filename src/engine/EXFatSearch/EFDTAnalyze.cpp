#include "engine/EXFatSearch/EFDTAnalyze.h"

#include "engine/EXFatSearch/ExFatLayout.h"

namespace e = exfat::entry;

void CEFDTAnalyze::PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift, unsigned long long totalSectors) {
    m_rules = CExFatEntryRules(sectorShift, clusterShift, totalSectors);
    Reset();
}

void CEFDTAnalyze::Reset() {
    m_set.Clear();
    m_state = 0;
    m_expected = 0;
    m_entries = 0;
}

bool CEFDTAnalyze::Analyze(const unsigned char* buffer, unsigned int length, unsigned long long sector) {
    const ByteReader all(buffer, buffer != nullptr ? length : 0);
    for (size_t at = 0; all.Has(at, e::kSize); at += e::kSize) {
        const ByteReader entry = *all.Sub(at, e::kSize);
        bool going = true;
        switch (entry.data()[e::kType]) {
            case e::kFile:
            case e::kDeletedFile: going = SetBaseData(entry, sector); break;
            case e::kStream:
            case e::kDeletedStream: going = SetStreamData(entry); break;
            case e::kName:
            case e::kDeletedName: going = SetNameData(entry); break;
            case e::kVolumeLabel:
            case e::kDeletedVolumeLabel: going = SetVloumeLabel(entry); break;
            case e::kBitmap:
            case e::kUpcase: break;
            // The folder ends here: every entry past this one is unused.
            case e::kEndOfDirectory: going = false; break;
            default: SkipEntry(entry); break;
        }
        if (!going) return false;
        ++m_entries;
    }
    return true;
}

void CEFDTAnalyze::SkipEntry(ByteReader entry) {
    const u8 type = entry.data()[e::kType];
    const u8 inUse = (type & e::kInUseBit) != 0 ? 1 : 0;
    // A secondary entry of another kind (a vendor extension or allocation) inside a set whose name is
    // in hand counts among the set's secondaries; anything else (a volume GUID, TexFAT padding, a type
    // of a later version) belongs to no set of ours and ends the one in progress.
    if ((type & e::kSecondaryBit) != 0 && m_state >= 3 && m_state == m_entries && m_expected > 0 &&
        inUse == m_set.inUse) {
        ++m_state;
        if (--m_expected == 0) {
            m_files.push_back(m_set);
            Reset();
        }
        return;
    }
    Reset();
}

bool CEFDTAnalyze::SetBaseData(ByteReader entry, u64 sector) {
    // A file entry refused by its test costs its own set only.
    if (!m_rules.IsValidFileEntry(entry)) {
        Reset();
        return true;
    }
    Reset();
    m_set.TakeFileEntry(entry, static_cast<i64>(sector));
    m_state = 1;
    m_expected = entry.U8(exfat::file::kSecondaryCount).value_or(0);
    return true;
}

bool CEFDTAnalyze::SetStreamData(ByteReader entry) {
    if (!m_rules.IsValidStreamEntry(entry)) {
        Reset();
        return true;
    }
    const u8 inUse = (entry.data()[e::kType] & e::kInUseBit) != 0 ? 1 : 0;
    if (m_state != 1 || m_entries != 1 || inUse != m_set.inUse) {
        Reset();
        return true;
    }
    m_set.TakeStreamEntry(entry);
    m_state = 2;
    --m_expected;
    return true;
}

bool CEFDTAnalyze::SetNameData(ByteReader entry) {
    // A name refused by its test costs its own set only, never the rest of the folder.
    if (!m_rules.IsValidNameEntry(entry)) {
        Reset();
        return true;
    }
    const u8 inUse = (entry.data()[e::kType] & e::kInUseBit) != 0 ? 1 : 0;
    if (m_state < 2 || m_state != m_entries || inUse != m_set.inUse) {
        Reset();
        return true;
    }
    m_set.AppendNameEntry(entry);
    ++m_state;
    if (--m_expected == 0) {
        m_files.push_back(m_set);
        Reset();
    }
    return true;
}

bool CEFDTAnalyze::SetVloumeLabel(ByteReader entry) {
    // A label is no file: a damaged one is passed over like any entry that belongs to no set.
    if (!m_rules.IsValidVolumeLabelEntry(entry)) Reset();
    return true;
}
