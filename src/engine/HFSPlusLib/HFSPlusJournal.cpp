#include "engine/HFSPlusLib/HFSPlusJournal.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "engine/Common/DebugChannel.h"
#include "engine/HFSPlusLib/HFSPlusBTNode.h"
#include "engine/HFSPlusLib/HFSPlusDeletedRecords.h"
#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"

using namespace hfsplus;

namespace {

// A journal block larger than this is no B-tree node copy (nodes are at most 32 KiB): it is skipped
// unread.
constexpr u32 kMaxJournalBlock = 1u << 20;
// The scan reads the journal through a window of this many bytes: one device read serves many units.
constexpr u64 kScanWindow = 1u << 20;

// The live trees keep the nodes their searches read while the scan lasts: each old record asks one
// search, and the records of a journal block mostly meet the same few live nodes.
class CKeepSearchedNodes {
public:
    explicit CKeepSearchedNodes(CHFSPlusVolume& volume)
        : m_trees{volume.GetCatalogTree(), volume.GetExtentsTree(), volume.GetAttributesTree()} {
        for (auto* tree : m_trees)
            if (tree) tree->KeepSearchedNodes(true);
    }
    ~CKeepSearchedNodes() {
        for (auto* tree : m_trees)
            if (tree) tree->KeepSearchedNodes(false);
    }
    CKeepSearchedNodes(const CKeepSearchedNodes&) = delete;
    CKeepSearchedNodes& operator=(const CKeepSearchedNodes&) = delete;

private:
    CHFSPlusBTreeOptionBase* m_trees[3];
};

}  // namespace

// The bytes of the journal the scan is about to walk, read ahead in large pieces. Each byte of the
// journal is read from the device once per scan: a refill never reaches past what the scan has left.
class CJournalWindow {
public:
    explicit CJournalWindow(CHFSPlusJournal& journal, u64 journalSize) : m_journal(journal), m_size(journalSize) {}

    // n bytes at journal offset `at`; `left` is what the scan has still to walk from `at`.
    bool Read(u64 at, u8* out, u64 n, u64 left) {
        at %= m_size;
        if (at >= m_start && at - m_start + n <= m_bytes.size()) {
            std::copy_n(m_bytes.data() + (at - m_start), n, out);
            return true;
        }
        const u64 length = std::max(n, std::min({kScanWindow, m_size - at, left}));
        if (at + length > m_size || length > kScanWindow) return m_journal.Read(at, out, n) == n;
        try {
            m_bytes.resize(size_t(length));
        } catch (const std::bad_alloc&) {
            m_bytes.clear();
            return m_journal.Read(at, out, n) == n;
        }
        m_start = at;
        if (m_journal.Read(at, m_bytes.data(), length) != length) {
            m_bytes.clear();
            return false;
        }
        std::copy_n(m_bytes.data(), n, out);
        return true;
    }

private:
    CHFSPlusJournal& m_journal;
    u64 m_size;
    u64 m_start = 0;
    std::vector<u8> m_bytes;
};

CHFSPlusJournal::CHFSPlusJournal(CHFSPlusVolume* volume) : m_volume(volume), m_status(kNotReady) {
    if (!volume) {
        m_status = HFSPLUS_FAIL(kKindNullArgument);
        return;
    }
    const HFSPlusVolumeHeader* header = volume->GetHeader();
    if (!header) {
        m_status = volume->GetStatus();
        return;
    }
    if (!(header->attributes & kVolumeJournaledBit)) {
        m_status = HFSPLUS_QUIET(kKindReadFailed);
        return;
    }
    const u32 sector = volume->GetSectorSize();
    std::vector<u8> bytes(std::max<size_t>(sector, jib::kRecordSize), 0);
    const u64 infoByte = u64(header->journalInfoBlock) * header->blockSize;
    if (volume->Read(infoByte, bytes.data(), sector) != sector) {
        m_status = HFSPLUS_FAIL(kKindShortRead);
        return;
    }
    JournalInfoBlock info;
    DecodeJournalInfoBlock(ByteReader(bytes.data(), bytes.size()), info);
    m_infoBlock = info;
    if (!(info.flags & jib::kJournalInFS)) {
        m_status = HFSPLUS_FAIL(kKindReadFailed);
        return;
    }
    std::fill(bytes.begin(), bytes.end(), 0);
    if (bytes.size() < jhdr::kRecordSize) bytes.resize(jhdr::kRecordSize, 0);
    if (volume->Read(info.offset, bytes.data(), sector) != sector) {
        m_status = HFSPLUS_FAIL(kKindReadFailed);
        return;
    }
    JournalHeader journal;
    DecodeJournalHeader(ByteReader(bytes.data(), bytes.size()), journal);
    m_header = journal;
    if (journal.magic != jhdr::kMagicValue) {
        m_status = HFSPLUS_FAIL(kKindReadFailed);
    } else if (journal.endian != jhdr::kEndianValue) {
        m_status = HFSPLUS_FAIL(kKindReadFailed);
    } else if (journal.size != info.size) {
        m_status = HFSPLUS_FAIL(kKindReadFailed);
    } else {
        m_status = 0;
    }
}

u64 CHFSPlusJournal::Read(u64 journalOffset, u8* buffer, u64 size) {
    if (!m_infoBlock || !m_volume) {
        m_status = HFSPLUS_QUIET(kKindReadFailed);
        return 0;
    }
    const u64 journalSize = m_infoBlock->size;
    if (journalSize == 0) {
        m_status = HFSPLUS_QUIET(kKindReadFailed);
        return 0;
    }
    u64 at = journalOffset % journalSize;
    u64 done = 0;
    while (done < size) {
        const u64 piece = std::min(size - done, journalSize - at);
        if (m_infoBlock->offset > UINT64_MAX - at) {
            m_status = HFSPLUS_QUIET(kKindReadFailed);
            return done;
        }
        const u64 got = m_volume->Read(m_infoBlock->offset + at, buffer + done, piece);
        done += got;
        if (got != piece) {
            m_status = HFSPLUS_QUIET(kKindReadFailed);
            return done;
        }
        at = 0;
    }
    return done;
}

u64 CHFSPlusJournal::GetDeleteRecord(CHFSPlusQuickFileSystemSearchProgress* progress, CDeletedRecordList& catalog,
                                     CDeletedRecordList& extents, CDeletedRecordList& attributes) {
    m_scanUnits = 0;
    if (!m_header || !m_infoBlock) return 0;
    const JournalHeader& h = *m_header;
    const u64 journalSize = m_infoBlock->size;
    // Sizes from disk are checked before anything is allocated or stepped by them.
    if (journalSize == 0 || h.jhdrSize == 0 || h.jhdrSize > kMaxJournalBlock || h.blhdrSize < blhdr::kMinSize ||
        h.blhdrSize > kMaxJournalBlock)
        return m_status = HFSPLUS_FAIL(kKindReadFailed);
    std::vector<u8> unit;
    try {
        unit.assign(std::max(h.jhdrSize, h.blhdrSize), 0);
    } catch (const std::bad_alloc&) {
        return m_status = HFSPLUS_FAIL(kKindNoMemory);
    }
    EngineDebug("Journal Start Offset:0x%llx\n", static_cast<unsigned long long>(h.end));
    bool going = !progress || progress->Continued();
    const u64 listMark = h.blhdrSize / blhdr::kEntrySize - 1;

    u64 position = h.end % journalSize;
    // The scan ends after it has walked the whole journal once: wherever block lists step, it never
    // walks more than the journal's size (plus the one unit that crosses its end).
    u64 walked = 0;
    std::vector<u8> block;
    CJournalWindow window(*this, journalSize);
    CKeepSearchedNodes keep(*m_volume);
    while (walked < journalSize && going) {
        going = !progress || progress->Continued();
        ++m_scanUnits;
        if (!window.Read(position, unit.data(), h.jhdrSize, journalSize - walked))
            return m_status = HFSPLUS_FAIL(kKindReadFailed);
        const ByteReader head(unit.data(), unit.size());
        if (head.Le16(blhdr::kMaxBlocks).value_or(0) != listMark) {
            position = (position + h.jhdrSize) % journalSize;
            walked += h.jhdrSize;
            continue;
        }
        if (!window.Read(position, unit.data(), h.blhdrSize, journalSize - walked))
            return m_status = HFSPLUS_FAIL(kKindReadFailed);
        position = (position + h.blhdrSize) % journalSize;
        walked += h.blhdrSize;
        const ByteReader list(unit.data(), h.blhdrSize);
        const u16 blocks = std::min<u16>(list.Le16(blhdr::kNumBlocks).value_or(0), u16(listMark + 1));
        for (u16 i = 1; i < blocks && walked < journalSize; ++i) {
            if (progress && !progress->Continued()) return m_status;
            const size_t entry = blhdr::kEntries + size_t(i) * blhdr::kEntrySize;
            const u64 bnum = list.Le64(entry + blhdr::kEntryBnum).value_or(0);
            const u32 bsize = list.Le32(entry + blhdr::kEntryBsize).value_or(0);
            ++m_scanUnits;
            if (bsize == 0 || bsize > journalSize - walked) {
                // Nothing believable follows: walk on as plain journal data.
                break;
            }
            if (bsize <= kMaxJournalBlock) {
                try {
                    block.assign(bsize, 0);
                } catch (const std::bad_alloc&) {
                    return m_status = HFSPLUS_FAIL(kKindNoMemory);
                }
                if (!window.Read(position, block.data(), bsize, journalSize - walked))
                    return m_status = HFSPLUS_FAIL(kKindReadFailed);
                CHFSPlusBTNode node(block.data(), bsize, false);
                if (node.IsValid() && node.IsLeaf() && bnum <= UINT64_MAX / h.jhdrSize)
                    TakeLeaf(node, bnum * h.jhdrSize, progress, catalog, extents, attributes);
            }
            position = (position + bsize) % journalSize;
            walked += bsize;
        }
    }
    return m_status;
}

void CHFSPlusJournal::TakeLeaf(CHFSPlusBTNode& node, u64 volumeByte, CHFSPlusQuickFileSystemSearchProgress* progress,
                               CDeletedRecordList& catalog, CDeletedRecordList& extents, CDeletedRecordList& attributes) {
    const u32 tree = m_volume->GetNodeBelongToFile(volumeByte);
    CHFSPlusBTreeOptionBase* option = nullptr;
    CDeletedRecordList* list = nullptr;
    switch (tree) {
        case kCatalogFileID:
            option = m_volume->GetCatalogTree();
            list = &catalog;
            break;
        case kExtentsFileID:
            option = m_volume->GetExtentsTree();
            list = &extents;
            break;
        case kAttributesFileID:
            option = m_volume->GetAttributesTree();
            list = &attributes;
            break;
        default:
            return;
    }
    if (!option) return;
    for (u16 i = 0; i < node.GetRecordCount(); ++i) {
        BTKeyPtr key = option->KeyRead(&node, i);
        BTRecordPtr record = key ? option->DataRead(&node, i) : nullptr;
        if (!key || !record) continue;
        HFSPlusSearchResult found;
        BTRecordPtr live;
        if (tree == kCatalogFileID) {
            const u16 type = record->catalog.recordType;
            if (type == catrec::kFolderThread || type == catrec::kFileThread) continue;
            const u32 id = record->catalog.CatalogNodeID();
            option->Search(*key, found, &live);
            // Still in the live catalog under this key with the same ID: the file exists.
            if (found.found && live && live->catalog.CatalogNodeID() == id) continue;
            auto* same = list->FindNewest(*key, [id](const CDeletedRecordList::Entry& e) {
                return e.record->catalog.CatalogNodeID() == id;
            });
            if (same) {
                same->record = std::move(record);
                continue;
            }
            list->Add(std::move(key), std::move(record));
            if (progress) progress->UpdateProgress();
            continue;
        }
        option->Search(*key, found, nullptr);
        if (found.found) continue;
        if (auto* same = list->FindNewest(*key)) {
            same->record = std::move(record);
            continue;
        }
        list->Add(std::move(key), std::move(record));
    }
}
