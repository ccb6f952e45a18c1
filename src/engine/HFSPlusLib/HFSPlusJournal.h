// The journal of a journaled HFS+ volume: its info block and header, reads in the circular buffer, and
// the scan of old B-tree node copies for records that the live trees no longer hold.
#pragma once

#include <optional>

#include "engine/HFSPlusLib/HFSPlusStructs.h"

class CHFSPlusVolume;
class CHFSPlusBTNode;
class CHFSPlusQuickFileSystemSearchProgress;
class CDeletedRecordList;

class CHFSPlusJournal {
public:
    // Opens the journal of the volume; the outcome is the status (kind 0x501 when the volume is not
    // journaled or the journal is unusable). The info block and header are kept whenever they were read,
    // also when a test of the header fails.
    explicit CHFSPlusJournal(CHFSPlusVolume* volume);

    u64 GetStatus() const { return m_status; }
    const std::optional<JournalInfoBlock>& InfoBlock() const { return m_infoBlock; }
    const std::optional<JournalHeader>& Header() const { return m_header; }

    // Bytes of the circular journal from journalOffset (taken modulo its size), wrapping at its end.
    u64 Read(u64 journalOffset, u8* buffer, u64 size);

    // Walks the whole journal once from the header's end and collects the leaf records of catalog,
    // extents and attributes nodes that the live trees lack. Stops after at least the journal's size in
    // bytes, on a stop of the progress sink, or on a read failure; what was collected stays.
    u64 GetDeleteRecord(CHFSPlusQuickFileSystemSearchProgress* progress, CDeletedRecordList& catalog,
                        CDeletedRecordList& extents, CDeletedRecordList& attributes);

    // Units walked by the last scan (block-list headers, blocks and plain units alike).
    u64 LastScanUnits() const { return m_scanUnits; }

private:
    void TakeLeaf(CHFSPlusBTNode& node, u64 volumeByte, CHFSPlusQuickFileSystemSearchProgress* progress,
                  CDeletedRecordList& catalog, CDeletedRecordList& extents, CDeletedRecordList& attributes);

    CHFSPlusVolume* m_volume = nullptr;
    u64 m_status;
    std::optional<JournalInfoBlock> m_infoBlock;
    std::optional<JournalHeader> m_header;
    u64 m_scanUnits = 0;
};
