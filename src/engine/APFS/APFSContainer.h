// One APFS container found by the deep scan (or one volume found without its container). It reads the
// metadata the container still reaches (superblock chain, object maps, volume superblocks,
// file-system trees), reads the records of every further file-system tree node the scan offers it,
// and merges inode, directory and file-extent records into APFSFileNode objects, which it links to
// their folders and hands to the tree builder through its delegate once they are ready.
//
// Nodes created while the container's metadata is walked for the first object map are live; nodes
// created later (older object maps, blocks offered one by one) and every node of a container other
// than the first are deleted.
//
// Ownership: the container owns each node it creates until the tree builder accepts it; accepted
// nodes are the builder's, and the container keeps only references to them, which it never follows
// once the builder has been flushed. The destructor deletes the nodes nobody else took.
#pragma once

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/APFS/APFSKeyTable.h"
#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"

class APFSDelegate;
class APFSFileNode;

class APFSContainer {
public:
    static constexpr int kMaxSuperblocks = 32;
    // Plausible node times: from 1985-11-05 00:53:20 to 2029-05-14 23:57:24 UTC, in ns since 1970.
    static constexpr u64 kPlausibleTimeStart = 500000000000000000ULL;
    static constexpr u64 kPlausibleTimeSpan = 0x130FA4A62C4E0001ULL;
    // Node IDs of second and later nodes of one object key: kDuplicateIdBase | index << 32 |
    // kDuplicateIdLowBit | n, counted per container, so every run gives the same IDs.
    static constexpr u64 kDuplicateIdBase = u64{1} << 62;
    static constexpr u64 kDuplicateIdLowBit = u64{1} << 31;
    // A walk queues at most this many block numbers (a real tree needs far fewer).
    static constexpr size_t kMaxQueuedBlocks = size_t{1} << 24;

    APFSContainer(APFSDelegate* delegate, int index, u64 startSector);
    ~APFSContainer();
    APFSContainer(const APFSContainer&) = delete;
    APFSContainer& operator=(const APFSContainer&) = delete;

    // Taken when it is at least 512 (and at most 1 MiB).
    void SetSectorSize(int sectorSize);
    // Reads the superblock chain, the object maps and the volumes they reach. 0, or -1 when the
    // superblock cannot be read, -2 when it is not a plausible superblock of 4096-byte blocks.
    int WalkContainer();
    // A container known only by one of its volumes: it spans the whole device from sector 0.
    void SetVolumeOnly(u64 deviceSectors);
    // Reads the volume whose superblock is at `block` and its trees; results as WalkContainer.
    int WalkVolume(u64 block);
    void SetWalked() { m_walked = true; }
    // One plausible block that no superblock rule took: read as a file-system tree node of this
    // container when it can be one. `block` holds the 4096 bytes of device block deviceBlock.
    void AnalyzeBlock(u64 sector, u64 deviceBlock, const u8* block);
    // Publishes the pending nodes that are ready; position is the block the scan reached, or -1 for
    // the final flush (every pending node with a name then goes, parentless ones under the private folder).
    void Flush(i64 position);

    // Whether a time in ns since 1970 lies in the plausible window.
    static bool IsPlausibleTime(u64 nanoseconds);

    int GetIndex() const { return m_index; }
    u64 GetStartSector() const { return m_startSector; }
    u64 GetStartBlock() const { return m_startBlock; }
    u64 GetBlockCount() const { return m_blockCount; }
    u64 GetSectorCount() const { return m_sectorCount; }
    int GetSectorSize() const { return m_sectorSize; }
    const std::array<u8, 16>& GetUuid() const { return m_uuid; }
    // "<first volume's name>_<index>", empty until a volume superblock was read.
    const std::string& GetName() const { return m_name; }
    bool IsWalked() const { return m_walked; }
    size_t PendingCount() const { return m_pendingCount; }
    // Nodes the container still owns (never accepted by the builder).
    size_t OwnedCount() const { return m_ownedCount; }

private:
    enum class Kind { Inode, Extent, Directory };
    // Views into the block being read: a record lives only while its block is read.
    struct Record {
        Kind kind;
        u64 key;
        u64 parentKey;
        std::string_view rawName;  // as on disk, with its terminator when the length counted it
        std::string_view name;     // after the name rule
        u64 time;                  // an inode's creation time, a directory record's date added
        bool folder;
        u64 position;
    };
    static constexpr u64 kNotWaiting = ~u64{0};
    static constexpr size_t kFirstWaitingRoom = 64;
    // What the container keeps of each node it created, by creation serial: the node, whether the
    // container still owns it (the builder did not take it), whether it is pending, and the key of
    // the parent folder a flush found it waiting for, with its neighbours among the nodes waiting
    // for that key.
    struct Slot {
        APFSFileNode* node = nullptr;
        bool owned = false;
        bool pending = false;
        bool fresh = false;  // listed in m_fresh
        u64 waitingOn = kNotWaiting;
        u64 previousWaiting = kNotWaiting;
        u64 nextWaiting = kNotWaiting;
    };
    // The first of the nodes waiting for one folder key.
    struct WaitList {
        u64 first = kNotWaiting;
    };
    // The nodes of each object key, in creation order: the first and last of a chain linked
    // through the nodes (one hash entry per key, none per node).
    struct Chain {
        APFSFileNode* first = nullptr;
        APFSFileNode* last = nullptr;
    };
    using NodeMap = APFSKeyTable<Chain>;
    static const Chain* ChainOf(const NodeMap& map, u64 key) { return map.Find(key); }

    bool ReadBlock(u64 block, std::vector<u8>& out);
    void UpdateGeometry();
    void WalkObjectMap(u64 address);
    void TakeVolume(ByteReader volume);
    void WalkTree(u64 root);
    void QueueObjectMapChildren(ByteReader node, std::deque<u64>& queue);
    void Queue(std::deque<u64>& queue, std::optional<u64> block) const;
    void ReadRecords(ByteReader node, u64 position);
    // An inode is keyed by its value's private identifier, as its extents are.
    void TakeInode(ByteReader value, u64 position);
    void TakeExtent(ByteReader key, ByteReader value, u64 position);
    void TakeDirectory(ByteReader key, ByteReader value, u64 position);
    APFSFileNode* FindOrCreate(NodeMap& map, const Record& record);
    // The new node goes at the end of the key's chain (its entry in map).
    APFSFileNode* NewNode(NodeMap& map, Chain& chain, const Record& record, bool keyTaken, APFSFileNode* best,
                          APFSFileNode* last);
    APFSFileNode* NearestFolder(u64 key, u64 position) const;
    void AttachToParent(APFSFileNode* node, u64 parentKey, u64 position);
    void PublishOrKeep(APFSFileNode* node);
    Slot* SlotOf(u64 serial) { return serial < m_slots.size() ? &m_slots[serial] : nullptr; }
    void SetPending(u64 serial, bool pending);
    // Lists the serial for the next flush (once).
    void MarkFresh(u64 serial);
    // The serials a flush looks at, sorted, each once, into m_flushList.
    void CollectForFlush(bool final);
    void Publish(APFSFileNode* node);
    // The node is no longer pending nor waiting (a serial left in m_fresh is skipped).
    void Forget(u64 serial);
    void StopWaiting(u64 serial);
    void StartWaiting(u64 serial, u64 key);
    i64 DuplicateId();
    u64 KeyOf(u64 id) const { return (static_cast<u64>(m_index) << 32) | id; }

    APFSDelegate* m_delegate;
    u32 m_blockSize = 4096;
    int m_sectorSize = 512;
    int m_index;
    u64 m_startSector;
    u64 m_startBlock = 0;
    u64 m_blockCount = 0;
    u64 m_sectorCount = 0;
    std::string m_name;
    bool m_walked = false;
    std::array<u8, 16> m_uuid{};
    NodeMap m_files;
    NodeMap m_folders;
    // Every node created, by creation serial (the flushes walk serials in order, so they run in the
    // same order every run), with its pending and waiting state; the serials a record changed since
    // the last flush (in any order, possibly repeated); the nodes a flush found without their parent
    // folder, listed through their slots under the key of that folder (no allocation per waiting
    // node); the folder keys created since the last flush. A flush costs the same late in a scan as
    // early.
    std::vector<Slot> m_slots;
    size_t m_pendingCount = 0;
    size_t m_ownedCount = 0;
    std::vector<u64> m_fresh;
    APFSKeyTable<WaitList> m_waiting;
    size_t m_waitingRoom = 0;  // the keys m_waiting was last reserved for
    std::set<u64> m_newFolders;
    std::vector<u64> m_flushList;
    std::set<u64> m_visited;  // metadata blocks already read, relative to the start
    u64 m_duplicates = 0;
};
