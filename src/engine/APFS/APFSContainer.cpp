#include "engine/APFS/APFSContainer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "engine/APFS/APFSDelegate.h"
#include "engine/APFS/APFSFileNode.h"
#include "engine/APFS/APFSLayout.h"
#include "engine/APFS/APFSObject.h"
#include "engine/Common/DebugChannel.h"
#include "engine/Utility/IDataRunList.h"

namespace {

// Where the value of a root leaf's fixed-size entry at place i of its table of contents starts: the
// entry counts back from the end of the value area, which in a root node stops where the tree info
// (btn::kInfoSize bytes) begins at the block's end. None when the entry cannot be read or the value
// does not start inside a container block.
std::optional<size_t> RootLeafValue(ByteReader root, u32 i, i64 blockSize) {
    const auto v = root.Le16(apfs::btn::kToc + i * apfs::btn::kFixedEntrySize + apfs::btn::kFixedValue);
    if (!v) return std::nullopt;
    const i64 value = blockSize - i64(apfs::btn::kInfoSize) - *v;
    if (value < 1 || value >= i64(apfs::kBlockSize)) return std::nullopt;
    return size_t(value);
}

constexpr u64 kNoKey = APFSFileNode::kNoKey;
// The nearest-candidate search starts with a window of this many blocks; a candidate as large as
// the window widens it to its own size plus the margin.
constexpr u64 kInitialWindow = 4096;
constexpr u64 kWindowMargin = 256;
// Object numbers below this (the root folder and its parents) match whatever the name says.
constexpr u64 kSpecialObjects = 5;
constexpr u64 kRootFolderId = 2;
constexpr int kMaxFormattedName = 2000;
constexpr int kMaxContainerName = 4095;
constexpr int kOddObjectMapMessage = 225;

// The absolute difference of two block positions taken as 32-bit numbers.
u64 Distance(u64 a, u64 b) {
    const i64 d = static_cast<i64>(static_cast<u32>(a)) - static_cast<i64>(static_cast<u32>(b));
    return static_cast<u64>(d < 0 ? -d : d);
}

// The text of name bytes: up to their first zero byte.
std::string_view TextOf(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

// The number of a name read with the pattern "0x%lld-dead" (a decimal number after "0x"; what
// follows it is not tested), clamped to the range of a long long.
bool DeadNumber(std::string_view name, long long* number) {
    if (name.size() < 2 || name[0] != '0' || name[1] != 'x') return false;
    const std::string copy(name);
    const char* text = copy.c_str();
    char* end = nullptr;
    *number = std::strtoll(text + 2, &end, 10);
    return end != text + 2;
}

}  // namespace

APFSContainer::APFSContainer(APFSDelegate* delegate, int index, u64 startSector)
    : m_delegate(delegate), m_index(index), m_startSector(startSector) {
    UpdateGeometry();
}

APFSContainer::~APFSContainer() {
    // Only the nodes nobody took: accepted ones are the builder's and may be gone already.
    for (const Slot& slot : m_slots) {
        if (slot.owned) delete slot.node;
    }
}

bool APFSContainer::IsPlausibleTime(u64 nanoseconds) {
    return nanoseconds - kPlausibleTimeStart < kPlausibleTimeSpan;
}

void APFSContainer::SetSectorSize(int sectorSize) {
    if (sectorSize < 512 || sectorSize > (1 << 20)) return;
    m_sectorSize = sectorSize;
    UpdateGeometry();
}

void APFSContainer::UpdateGeometry() {
    u64 byte = 0;
    m_startBlock = __builtin_mul_overflow(m_startSector, u64(m_sectorSize), &byte) ? 0 : byte / m_blockSize;
}

void APFSContainer::SetVolumeOnly(u64 deviceSectors) {
    m_sectorCount = deviceSectors;
    u64 bytes = 0;
    m_blockCount = __builtin_mul_overflow(deviceSectors, u64(m_sectorSize), &bytes)
                       ? std::numeric_limits<u64>::max() / m_blockSize
                       : bytes / m_blockSize;
}

bool APFSContainer::ReadBlock(u64 block, std::vector<u8>& out) {
    out.assign(apfs::kBlockSize, 0);
    return m_delegate && m_delegate->ReadBlocks(this, block, static_cast<i32>(apfs::kBlockSize), out.data()) != 0;
}

int APFSContainer::WalkContainer() {
    std::vector<u8> superblock;
    if (!ReadBlock(0, superblock)) return -1;
    ByteReader view(superblock.data(), superblock.size());
    // Every address of the search is computed with 4096-byte blocks: other sizes are refused.
    if (view.Le32(apfs::nx::kBlockSize) != apfs::kBlockSize || !apfs::IsPlausibleObject(view)) return -2;
    m_blockSize = apfs::kBlockSize;
    m_blockCount = view.Le64(apfs::nx::kBlockCount).value_or(0);
    UpdateGeometry();
    u64 bytes = 0;
    m_sectorCount = __builtin_mul_overflow(m_blockCount, u64(m_blockSize), &bytes) ? std::numeric_limits<u64>::max()
                                                                                   : bytes / u64(m_sectorSize);
    view.CopyTo(apfs::nx::kUuid, m_uuid.data(), m_uuid.size());

    // The superblock chain: each one's descriptor index names the next (an odd rule, kept), at most
    // 32 of them, ending at the first block met again.
    std::vector<u64> objectMaps;
    std::set<u64> seen;
    for (int step = 0; step < kMaxSuperblocks; ++step) {
        objectMaps.push_back(view.Le64(apfs::nx::kOmapOid).value_or(0));
        const u64 next = view.Le32(apfs::nx::kDescriptorIndex).value_or(0);
        if (!seen.insert(next).second) break;
        if (!ReadBlock(next, superblock)) break;
    }
    for (u64 address : objectMaps) {
        if (m_delegate && !m_delegate->ContinueScan()) break;
        WalkObjectMap(address);
    }
    return 0;
}

void APFSContainer::WalkObjectMap(u64 address) {
    std::vector<u8> block;
    if (!ReadBlock(address, block)) return;
    const u64 treeAddress = ByteReader(block.data(), block.size()).Le64(apfs::omap::kTreeOid).value_or(0);
    if (!ReadBlock(treeAddress, block)) return;
    const ByteReader root(block.data(), block.size());
    if (root.Le16(apfs::obj::kSubtype) != apfs::obj::kObjectMap) return;
    const u32 count = std::min(root.Le32(apfs::btn::kKeyCount).value_or(0), apfs::btn::kMaxEntries);
    std::vector<u8> volume;
    for (u32 i = 0; i < count; ++i) {
        if (m_delegate && !m_delegate->ContinueScan()) return;
        const auto value = RootLeafValue(root, i, m_blockSize);
        if (!value) break;
        const u64 address = root.Le64(*value + apfs::omap::kValuePaddr).value_or(0);
        if (address == 0 || address >= m_blockCount) continue;
        if (!ReadBlock(address, volume)) continue;
        const ByteReader view(volume.data(), volume.size());
        if (apfs::IsPlausibleObject(view)) TakeVolume(view);
    }
    m_walked = true;
}

void APFSContainer::TakeVolume(ByteReader volume) {
    if (m_name.empty()) {
        char text[kMaxContainerName + 1] = {};
        const std::string name = apfs::FieldText(volume, apfs::apsb::kVolumeName, apfs::apsb::kVolumeNameSize);
        std::snprintf(text, sizeof text, "%s_%d", name.c_str(), m_index);
        m_name = text;
    }
    std::vector<u8> block;
    if (!ReadBlock(volume.Le64(apfs::apsb::kOmapOid).value_or(0), block)) return;
    WalkTree(ByteReader(block.data(), block.size()).Le64(apfs::omap::kTreeOid).value_or(0));
}

int APFSContainer::WalkVolume(u64 block) {
    std::vector<u8> bytes;
    if (!ReadBlock(block, bytes)) return -1;
    const ByteReader view(bytes.data(), bytes.size());
    if (!apfs::IsPlausibleObject(view)) return -2;
    TakeVolume(view);
    return 0;
}

void APFSContainer::Queue(std::deque<u64>& queue, std::optional<u64> block) const {
    // Blocks past the container's end are not its own; a runaway queue is cut.
    if (!block || *block == 0 || *block >= m_blockCount || queue.size() >= kMaxQueuedBlocks) return;
    queue.push_back(*block);
}

void APFSContainer::WalkTree(u64 root) {
    std::deque<u64> queue;
    Queue(queue, root);
    std::vector<u8> block;
    while (!queue.empty() && (!m_delegate || m_delegate->ContinueScan())) {
        const u64 number = queue.front();
        queue.pop_front();
        if (!m_visited.insert(number).second) continue;
        if (!ReadBlock(number, block)) continue;
        const ByteReader view(block.data(), block.size());
        if (!apfs::IsPlausibleObject(view)) continue;
        const u16 subtype = view.Le16(apfs::obj::kSubtype).value_or(0);
        if (subtype == apfs::obj::kFileSystemTree) {
            ReadRecords(view, number);
        } else if (subtype == apfs::obj::kObjectMap) {
            QueueObjectMapChildren(view, queue);
        }
    }
}

void APFSContainer::QueueObjectMapChildren(ByteReader node, std::deque<u64>& queue) {
    const u16 flags = node.Le16(apfs::btn::kFlags).value_or(0);
    const u32 count = std::min(node.Le32(apfs::btn::kKeyCount).value_or(0), apfs::btn::kMaxEntries);
    const size_t keyArea = apfs::btn::kToc + node.Le16(apfs::btn::kTableSpaceLength).value_or(0);
    const i64 blockSize = m_blockSize;
    switch (flags) {
        case apfs::btn::kFixedIndex:
        case apfs::btn::kFixedRootIndex:
            for (u32 i = 0; i < count; ++i) {
                const size_t entry = apfs::btn::kToc + i * apfs::btn::kFixedEntrySize;
                const auto k = node.Le16(entry + apfs::btn::kFixedKey);
                const auto v = node.Le16(entry + apfs::btn::kFixedValue);
                if (!k || !v) break;
                const i64 value =
                    blockSize - *v - (flags == apfs::btn::kFixedRootIndex ? i64(apfs::btn::kInfoSize) : 0);
                if (value >= 1 && value < blockSize && keyArea + *k < size_t(blockSize))
                    Queue(queue, node.Le64(static_cast<size_t>(value)));
            }
            break;
        case apfs::btn::kFixedLeaf: {
            // Leaf slots hold 16-byte values; only plain mappings (flags 0, size 4096) are followed.
            const size_t firstKey = keyArea + node.Le16(apfs::btn::kToc).value_or(0);
            if (firstKey >= size_t(blockSize)) break;
            for (i64 at = blockSize - i64(apfs::omap::kSlotSize); at > i64(firstKey); at -= apfs::omap::kSlotSize) {
                if (node.Le64(size_t(at)) == apfs::omap::kPlainValueHead)
                    Queue(queue, node.Le64(size_t(at) + apfs::omap::kValuePaddr));
            }
            break;
        }
        case apfs::btn::kFixedRootLeaf:
            for (u32 i = 0; i < count; ++i) {
                const auto value = RootLeafValue(node, i, blockSize);
                if (!value) break;
                Queue(queue, node.Le64(*value + apfs::omap::kValuePaddr));
            }
            break;
        default:
            EngineDebug("!!!!Please notify to Watch this%d.!!!!\n", kOddObjectMapMessage);
            break;
    }
}

void APFSContainer::AnalyzeBlock(u64 sector, u64 deviceBlock, const u8* block) {
    if (!block) return;
    const ByteReader view(block, apfs::kBlockSize);
    const u64 oid = view.Le64(apfs::obj::kOid).value_or(0);
    if (m_index != 0 && !(sector - m_startSector <= m_sectorCount && oid <= m_blockCount)) return;
    const u64 relative = deviceBlock - m_startBlock;
    // Type, its flags and the subtype in one read.
    static_assert(apfs::obj::kTypeFlags == apfs::obj::kType + 2 && apfs::obj::kSubtype == apfs::obj::kType + 4);
    const u64 kinds = view.Le64(apfs::obj::kType).value_or(0);
    if (static_cast<u16>(kinds >> 16) == apfs::obj::kPhysical && oid != relative) return;
    if (oid == 0 || oid >= m_blockCount) return;
    if (static_cast<u16>(kinds) != apfs::obj::kBtreeNode || static_cast<u16>(kinds >> 32) != apfs::obj::kFileSystemTree)
        return;
    // The walks' blocks lie in a narrow band; a block outside it needs no look-up.
    if (!m_visited.empty() && relative >= *m_visited.begin() && relative <= *m_visited.rbegin() &&
        m_visited.count(relative) != 0)
        return;
    if (view.Le32(apfs::btn::kKeyCount).value_or(apfs::btn::kMaxEntries) >= apfs::btn::kMaxEntries) return;
    ReadRecords(view, deviceBlock);
}

void APFSContainer::ReadRecords(ByteReader node, u64 position) {
    const u16 flags = node.Le16(apfs::btn::kFlags).value_or(0);
    const u32 count = std::min(node.Le32(apfs::btn::kKeyCount).value_or(0), apfs::btn::kMaxEntries);
    const size_t keyArea = apfs::btn::kToc + node.Le16(apfs::btn::kTableSpaceLength).value_or(0);
    // A root node ends with its B-tree information: the value area stops before it.
    const i64 blockSize = i64(m_blockSize);
    const i64 valueEnd = blockSize - ((flags == apfs::btn::kRoot || flags == apfs::btn::kRootLeaf) ? 40 : 0);
    APFSDelegate* const delegate = m_delegate;
    for (u32 i = 0; i < count; ++i) {
        if (delegate && !delegate->ContinueScan()) return;
        // The entry's key offset, key length, value offset and value length in one read.
        const auto entry = node.Le64(apfs::btn::kToc + i * apfs::btn::kVariableEntrySize);
        if (!entry) break;
        const size_t keyOffset = static_cast<u16>(*entry);
        const size_t keyLength = static_cast<u16>(*entry >> 16);
        const size_t valueOffset = static_cast<u16>(*entry >> 32);
        const size_t valueLength = static_cast<u16>(*entry >> 48);
        const i64 valueAt = valueEnd - i64(valueOffset);
        if (valueAt < 1 || valueAt >= blockSize || valueAt + i64(valueLength) > valueEnd) continue;
        // The kind is the top byte of the key's first u64.
        const auto kind = keyLength > 7 ? node.U8(keyArea + keyOffset + 7) : std::nullopt;
        if (!kind || (*kind != apfs::rec::kInode && *kind != apfs::rec::kFileExtent && *kind != apfs::rec::kDirectory))
            continue;
        const auto value = node.Sub(static_cast<size_t>(valueAt), valueLength);
        const auto key = value ? node.Sub(keyArea + keyOffset, keyLength) : std::nullopt;
        if (!key) continue;
        if (*kind == apfs::rec::kInode && value->size() >= apfs::inode::kMinValue) {
            TakeInode(*value, position);
        } else if (*kind == apfs::rec::kFileExtent && value->size() >= apfs::extent::kMinValue &&
                   key->size() >= apfs::extent::kKeySize) {
            TakeExtent(*key, *value, position);
        } else if (*kind == apfs::rec::kDirectory && value->size() >= apfs::drec::kMinValue &&
                   key->size() >= apfs::drec::kKeyName) {
            TakeDirectory(*key, *value, position);
        }
    }
}

void APFSContainer::TakeInode(ByteReader value, u64 position) {
    // Extended fields: descriptors, then their data, each rounded up to 8 bytes, all inside the value.
    const u16 fields = value.Le16(apfs::inode::kFieldCount).value_or(0);
    size_t data = apfs::inode::kFieldDescriptors + size_t(fields) * apfs::inode::kDescriptorSize;
    u64 dataSize = 0;
    std::string_view rawName;
    bool named = false;
    for (u32 i = 0; i < fields && i < apfs::inode::kMaxFields; ++i) {
        const size_t descriptor = apfs::inode::kFieldDescriptors + i * apfs::inode::kDescriptorSize;
        const auto head = value.Le16(descriptor);
        const auto size = value.Le16(descriptor + apfs::inode::kDescriptorSizeField);
        if (!head || !size || !value.Has(data, *size)) break;
        if (*head == apfs::inode::kDataStreamField) {
            dataSize = value.Le64(data).value_or(0);
        } else if (*head == apfs::inode::kNameField) {
            const size_t length = *size & apfs::drec::kNameLengthMask;
            rawName = std::string_view(reinterpret_cast<const char*>(value.data()) + data, length);
            named = true;
        }
        data += (size_t(*size) + 7) & ~size_t{7};
    }
    const auto* nameBytes = reinterpret_cast<const u8*>(rawName.data());
    if (!named || rawName.empty() || !APFSFileNode::NameFilter(nameBytes, rawName.size())) return;

    const u64 parentKey = KeyOf(value.Le64(apfs::inode::kParentId).value_or(0));
    const u64 objectKey = KeyOf(value.Le64(apfs::inode::kPrivateId).value_or(0) & apfs::rec::kIdMask);
    const bool folder = (value.Le16(apfs::inode::kMode).value_or(0) & apfs::inode::kModeFolder) != 0;
    const u64 created = value.Le64(apfs::inode::kCreationTime).value_or(0);
    const u64 modified = value.Le64(apfs::inode::kModificationTime).value_or(0);
    const u64 changed = value.Le64(apfs::inode::kChangeTime).value_or(0);
    const u64 accessed = value.Le64(apfs::inode::kAccessTime).value_or(0);

    Record record{Kind::Inode, objectKey, parentKey, rawName, APFSFileNode::NameRuleView(nameBytes, rawName.size()),
                  created,     folder,    position};
    APFSFileNode* node = FindOrCreate(folder ? m_folders : m_files, record);
    if (!node) return;
    // A file met after the walk keeps its parent for the flush, where the nearest folder is known.
    if (!(!folder && m_walked) && !node->IsPublished() && !node->GetParentFolder() && parentKey != kNoKey)
        AttachToParent(node, parentKey, position);

    // The first plausible of the creation, modification and change times.
    const u64 creation = IsPlausibleTime(created)    ? created
                         : IsPlausibleTime(modified) ? modified
                         : IsPlausibleTime(changed)  ? changed
                                                     : 0;
    if (dataSize != 0 && (node->GetSize() == 0 || (node->GetNameBytes() == record.name &&
                                                   node->GetCreationNs() == creation && node->GetSize() < dataSize)))
        node->SetSize(dataSize);
    if (!node->HasName()) node->SetName(nameBytes, rawName.size());
    if (node->GetCreationNs() == 0) node->SetTimes(creation, changed, accessed);
    PublishOrKeep(node);
}

void APFSContainer::TakeExtent(ByteReader key, ByteReader value, u64 position) {
    const u64 objectKey = KeyOf(key.Le64(0).value_or(0) & apfs::rec::kIdMask);
    const u64 logical = key.Le64(apfs::extent::kKeyLogicalOffset).value_or(0);
    const u64 length = value.Le64(apfs::extent::kLengthAndFlags).value_or(0) & apfs::extent::kLengthMask;
    const u64 physical = value.Le64(apfs::extent::kPhysicalBlock).value_or(0);
    const u64 sectorSize = static_cast<u64>(m_sectorSize);
    // Block 0 stands for a hole: no place on the device, read as zeros. An extent reaching past the
    // container is not its own (and its length would blow the file's size up).
    const u64 blocks = length / m_blockSize + (length % m_blockSize ? 1 : 0);
    i64 start = -1;
    if (physical != 0) {
        u64 byte = 0;
        if (physical >= m_blockCount || blocks > m_blockCount - physical ||
            __builtin_mul_overflow(physical, u64(m_blockSize), &byte) || byte / sectorSize > u64(INT64_MAX))
            return;
        start = static_cast<i64>(byte / sectorSize);
    } else if (blocks > m_blockCount) {
        return;
    }
    Record record{Kind::Extent, objectKey, kNoKey, {}, {}, 0, false, position};
    APFSFileNode* node = FindOrCreate(m_files, record);
    if (!node) return;
    node->AddExtent(start, length / sectorSize + (length % sectorSize ? 1 : 0), static_cast<u32>(sectorSize), logical);
    PublishOrKeep(node);
}

void APFSContainer::TakeDirectory(ByteReader key, ByteReader value, u64 position) {
    const size_t nameLength = key.Le32(apfs::drec::kKeyNameLength).value_or(0) & apfs::drec::kNameLengthMask;
    // The name must lie inside its key (and so inside the block).
    const auto name = key.Bytes(apfs::drec::kKeyName, nameLength);
    if (!name || !APFSFileNode::NameFilter(name->data(), name->size())) return;
    const u64 fileId = value.Le64(apfs::drec::kFileId).value_or(0);
    const u64 dateAdded = value.Le64(apfs::drec::kDateAdded).value_or(0);
    const bool folder = value.Le16(apfs::drec::kType) == apfs::drec::kTypeFolder;
    const u64 objectKey = KeyOf(fileId);
    const u64 parentKey = KeyOf(static_cast<u32>(key.Le64(0).value_or(0)));

    const std::string_view rawName(reinterpret_cast<const char*>(name->data()), name->size());
    Record record{Kind::Directory, objectKey, parentKey, rawName, APFSFileNode::NameRuleView(name->data(), name->size()),
                  dateAdded,       folder,    position};
    APFSFileNode* node = FindOrCreate(folder ? m_folders : m_files, record);
    if (!node) return;
    if (folder && !node->IsPublished() && !node->GetParentFolder() && parentKey != kNoKey)
        AttachToParent(node, parentKey, position);
    if (m_index == 0 || fileId != kRootFolderId) {
        if (!node->HasName()) {
            node->SetFolderFlag(folder);
            node->SetName(name->data(), name->size());
            node->SetTimes(dateAdded, dateAdded, node->GetAccessNs());
        }
    } else {
        // The root folder of a later container: a folder under the search's root, named after it.
        node->SetParentNodeID(kRootFolderId);
        if (!m_name.empty()) {
            const std::string named = m_name + '\0';
            node->SetName(reinterpret_cast<const u8*>(named.data()), named.size());
        }
    }
    PublishOrKeep(node);
}

APFSFileNode* APFSContainer::FindOrCreate(NodeMap& map, const Record& record) {
    // The key's entry, made empty when it is new: a new key always gets a new node below, which
    // takes this entry (one probe of the table, not two).
    Chain& chain = map.Get(record.key);
    APFSFileNode* const first = chain.first;
    const std::string_view recordText = first && !record.name.empty() ? TextOf(record.name) : std::string_view();
    for (APFSFileNode* candidate = first; candidate; candidate = candidate->GetNextOfKey()) {
        if (candidate->GetParentKey() != record.parentKey) continue;
        const bool special = (record.key & 0xFFFFFFFFULL) < kSpecialObjects;
        if (special ||
            (!recordText.empty() && recordText.find(TextOf(candidate->GetNameBytes())) != std::string::npos)) {
            candidate->SetLastSeen(record.position);
            return candidate;
        }
    }
    // No match: the candidate nearest to where the record lies (or with the record's time).
    u64 window = kInitialWindow;
    APFSFileNode* best = nullptr;
    APFSFileNode* lastLooked = nullptr;
    for (APFSFileNode* candidate = first; candidate; candidate = candidate->GetNextOfKey()) {
        lastLooked = candidate;
        const u64 blocks = candidate->GetSize() / apfs::kBlockSize;
        if (window > kWindowMargin && blocks > window - kWindowMargin) window = blocks + kWindowMargin;
        const u64 d = Distance(record.position, candidate->GetLastSeen());
        if (d < window) {
            best = candidate;
            window = d;
        }
        if (record.time != 0 && candidate->GetCreationNs() == record.time) {
            best = candidate;
            window = d;
        }
    }
    if (record.kind == Kind::Extent) {
        if (best) {
            best->SetLastSeen(record.position);
            return best;
        }
    } else if (!record.folder && best && best->GetParentKey() == kNoKey) {
        best->SetParentKey(record.parentKey);
        best->SetParentNodeID(static_cast<i64>(record.parentKey));
        best->SetLastSeen(record.position);
        return best;
    }
    return NewNode(map, chain, record, first != nullptr, best, lastLooked);
}

APFSFileNode* APFSContainer::NewNode(NodeMap& map, Chain& chain, const Record& record, bool keyTaken,
                                     APFSFileNode* best, APFSFileNode* last) {
    auto* node = new (std::nothrow) APFSFileNode(static_cast<u16>(m_index));
    if (!node) return nullptr;
    const u64 serial = m_slots.size();
    node->SetSerial(serial);
    if (record.kind != Kind::Extent) node->SetFolderFlag(record.folder);
    // A second node of one key gets an ID of its own, the same in every run.
    node->SetNodeID(keyTaken ? DuplicateId() : static_cast<i64>(record.key));
    if (record.kind == Kind::Extent) {
        node->SetParentNodeID(-1);
        node->SetParentKey(kNoKey);
    } else {
        node->SetParentNodeID(static_cast<i64>(record.parentKey));
        node->SetParentKey(record.parentKey);
    }
    node->SetLastSeen(record.position);
    node->SetObjectKey(record.key);
    if (record.kind != Kind::Extent) {
        long long number = 0;
        if (best && DeadNumber(record.rawName, &number)) {
            char text[kMaxFormattedName + 1] = {};
            std::snprintf(text, sizeof text, "%s-%lld", best->GetFileName(), number);
            node->SetName(reinterpret_cast<const u8*>(text), std::char_traits<char>::length(text) + 1);
        } else {
            node->SetRuledName(record.name);
        }
    }
    if (m_index != 0 || m_walked) node->MarkDeleted();
    if (IDataRunList* runs = last ? last->CurrentRuns() : nullptr) node->TakeRuns(runs->Clone());
    if (chain.last) {
        chain.last->SetNextOfKey(node);
    } else {
        chain.first = node;
    }
    chain.last = node;
    if (&map == &m_folders) m_newFolders.insert(record.key);
    Slot slot;
    slot.node = node;
    slot.owned = true;
    m_slots.push_back(slot);
    ++m_ownedCount;
    // The waiting table grows here, with the nodes (it never holds more keys than nodes), and never
    // in a flush; its room grows fourfold, so the nodes of a scan cost a handful of growths, not one each.
    if (m_slots.size() > m_waitingRoom) {
        m_waitingRoom = m_waitingRoom == 0 ? kFirstWaitingRoom : m_waitingRoom * 4;
        m_waiting.Reserve(m_waitingRoom);
    }
    return node;
}

i64 APFSContainer::DuplicateId() {
    // The low half keeps its top bit set: never 1, which a parent ID would turn into the root's parent.
    const u64 low = kDuplicateIdLowBit | (++m_duplicates & (kDuplicateIdLowBit - 1));
    return static_cast<i64>(kDuplicateIdBase | (u64(u16(m_index)) << 32) | low);
}

inline APFSFileNode* APFSContainer::NearestFolder(u64 key, u64 position) const {
    APFSFileNode* nearest = nullptr;
    u64 best = 0;
    const Chain* chain = ChainOf(m_folders, key);
    for (APFSFileNode* folder = chain ? chain->first : nullptr; folder; folder = folder->GetNextOfKey()) {
        const u64 d = Distance(position, folder->GetLastSeen());
        if (!nearest || d < best) {
            nearest = folder;
            best = d;
        }
    }
    return nearest;
}

inline void APFSContainer::AttachToParent(APFSFileNode* node, u64 parentKey, u64 position) {
    node->SetParentKey(parentKey);
    if (APFSFileNode* folder = NearestFolder(parentKey, position)) {
        APFSFileNode::AttachChild(folder, node);
    } else {
        node->SetParentNodeID(static_cast<i64>(parentKey));
    }
}

inline void APFSContainer::PublishOrKeep(APFSFileNode* node) {
    if (node->IsPublished()) return;
    const u64 serial = node->GetSerial();
    if (node->IsReady(false)) {
        Publish(node);
    } else if (node->MayBecomeReady()) {
        // Pending, and listed for the next flush (once).
        Slot* slot = SlotOf(serial);
        if (!slot) return;
        if (!slot->pending) {
            slot->pending = true;
            ++m_pendingCount;
        }
        if (!slot->fresh) {
            slot->fresh = true;
            m_fresh.push_back(serial);
        }
    } else {
        // Without a name, or a file without a creation time: only another record can change that, so
        // the flushes do not walk it.
        Forget(serial);
    }
}

inline void APFSContainer::MarkFresh(u64 serial) {
    Slot* slot = SlotOf(serial);
    if (!slot || slot->fresh) return;
    slot->fresh = true;
    m_fresh.push_back(serial);
}

inline void APFSContainer::SetPending(u64 serial, bool pending) {
    Slot* slot = SlotOf(serial);
    if (!slot || slot->pending == pending) return;
    slot->pending = pending;
    if (pending) {
        ++m_pendingCount;
    } else {
        --m_pendingCount;
    }
}

// A serial left in m_fresh is skipped by the next flush once it is not pending.
void APFSContainer::Forget(u64 serial) {
    SetPending(serial, false);
    StopWaiting(serial);
}

inline void APFSContainer::StopWaiting(u64 serial) {
    Slot* slot = SlotOf(serial);
    if (!slot || slot->waitingOn == kNotWaiting) return;
    if (slot->previousWaiting != kNotWaiting) {
        m_slots[slot->previousWaiting].nextWaiting = slot->nextWaiting;
    } else if (WaitList* list = m_waiting.Find(slot->waitingOn)) {
        list->first = slot->nextWaiting;
    }
    if (slot->nextWaiting != kNotWaiting) m_slots[slot->nextWaiting].previousWaiting = slot->previousWaiting;
    slot->waitingOn = kNotWaiting;
    slot->previousWaiting = kNotWaiting;
    slot->nextWaiting = kNotWaiting;
}

inline void APFSContainer::StartWaiting(u64 serial, u64 key) {
    WaitList& list = m_waiting.Get(key);
    Slot& slot = m_slots[serial];
    slot.waitingOn = key;
    slot.previousWaiting = kNotWaiting;
    slot.nextWaiting = list.first;
    if (list.first != kNotWaiting) m_slots[list.first].previousWaiting = serial;
    list.first = serial;
}

void APFSContainer::Publish(APFSFileNode* node) {
    Forget(node->GetSerial());
    node->MarkPublished();
    if (!m_delegate || !m_delegate->PublishNode(node)) return;
    Slot* slot = SlotOf(node->GetSerial());
    if (slot && slot->owned) {
        slot->owned = false;
        --m_ownedCount;
    }
}

void APFSContainer::CollectForFlush(bool final) {
    m_flushList.clear();
    if (final) {
        for (u64 serial : m_fresh) m_slots[serial].fresh = false;
        for (u64 serial = 0; serial < m_slots.size(); ++serial) {
            if (m_slots[serial].pending) m_flushList.push_back(serial);
        }
        m_fresh.clear();
        return;
    }
    // Each fresh serial is listed once (the flush takes its mark); new nodes come in creation order,
    // so the list is mostly sorted already.
    m_flushList.swap(m_fresh);
    const size_t fresh = m_flushList.size();
    for (u64 key : m_newFolders) {
        // Each one is looked at now and waits again, under its parent's key, when it must.
        WaitList* list = m_waiting.Find(key);
        if (!list) continue;
        for (u64 serial = list->first; serial != kNotWaiting;) {
            Slot& slot = m_slots[serial];
            m_flushList.push_back(serial);
            const u64 next = slot.nextWaiting;
            slot.waitingOn = kNotWaiting;
            slot.previousWaiting = kNotWaiting;
            slot.nextWaiting = kNotWaiting;
            serial = next;
        }
        list->first = kNotWaiting;
    }
    if (m_flushList.size() == fresh && std::is_sorted(m_flushList.begin(), m_flushList.end())) return;
    std::sort(m_flushList.begin(), m_flushList.end());
    m_flushList.erase(std::unique(m_flushList.begin(), m_flushList.end()), m_flushList.end());
}

void APFSContainer::Flush(i64 position) {
    const bool final = position == -1;
    // Every pending node at the end. Before it, only those a flush can change: the nodes records
    // changed since the last flush, and those waiting for a folder of their parent's key that has
    // appeared since (the others would be looked at in vain, range after range).
    CollectForFlush(final);
    for (size_t i = 0; i < m_flushList.size(); ++i) {
        const u64 serial = m_flushList[i];
        if (m_delegate && !m_delegate->ContinueScan()) {
            // Stopped: what was not looked at is the next flush's.
            for (size_t j = i; j < m_flushList.size(); ++j) {
                m_slots[m_flushList[j]].fresh = false;
                MarkFresh(m_flushList[j]);
            }
            return;
        }
        StopWaiting(serial);
        Slot* slot = SlotOf(serial);
        if (!slot) continue;
        slot->fresh = false;
        if (!slot->pending) continue;
        APFSFileNode* node = slot->node;
        if (node->IsPublished()) {
            SetPending(serial, false);
            continue;
        }
        if (!node->GetParentFolder() && node->GetParentNodeID() != -1)
            AttachToParent(node, static_cast<u64>(node->GetParentNodeID()), node->GetLastSeen());
        if (!node->IsReady(final)) {
            // Not attached: only a folder of the parent's key can change that before the end.
            if (node->GetParentNodeID() != -1) {
                StartWaiting(serial, static_cast<u64>(node->GetParentNodeID()));
            }
            continue;
        }
        if (!node->IsFolder() && !node->HasRuns()) {
            // A file without extents of its own takes those of another copy of it.
            const Chain* chain = ChainOf(m_files, node->GetObjectKey());
            for (APFSFileNode* other = chain ? chain->first : nullptr; other; other = other->GetNextOfKey()) {
                IDataRunList* runs = nullptr;
                if (other != node && other->GetCreationNs() == node->GetCreationNs() &&
                    (runs = other->CurrentRuns()) != nullptr) {
                    node->TakeRuns(runs->Clone());
                    break;
                }
            }
        }
        Publish(node);
    }
    m_newFolders.clear();
}
