#include "engine/APFS/APFSRecognize.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <vector>

#include "engine/APFS/APFSLayout.h"
#include "engine/APFS/APFSObject.h"
#include "engine/Common/ByteReader.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"

namespace {

// The value offset of the first entry of the object map's root: its value (omap_val_t) ends the value
// area 40 bytes before the block end and holds the address 8 bytes in, at 4064 - v. Beyond 4056 that
// address would overlap the object header (and, past 4064, lie before the block).
constexpr u16 kMinFirstValueOffset = 1;
constexpr u16 kMaxFirstValueOffset = 4056;
constexpr size_t kFirstValueAddressBase = apfs::kBlockSize - apfs::btn::kInfoSize + 8;  // 4064
constexpr size_t kFirstValueOffsetField = apfs::btn::kToc + 2;                          // 58

}  // namespace

bool APFSRecognize::IsContainerSuperblock(const u8* bytes, size_t size) {
    const ByteReader block(bytes, size);
    const auto type = block.Le16(apfs::obj::kType);
    const auto subtype = block.Le16(apfs::obj::kSubtype);
    const auto magic = block.Le64(apfs::nx::kMagic);
    return type && subtype && magic && *type >= 1 && *type <= apfs::obj::kMaxType &&
           *subtype <= apfs::obj::kMaxSubtype && *magic == apfs::nx::kMagicAnd4096;
}

bool APFSRecognize::LabelFromSuperblock(const u8* superblock, char* label, int length) {
    const ByteReader sb(superblock, apfs::kBlockSize);
    std::vector<u8> block(apfs::kBlockSize);
    const ByteReader view(block.data(), block.size());
    const auto omapAddress = sb.Le64(apfs::nx::kOmapOid);
    if (!omapAddress || !apfs::ReadContainerBlock(m_device, m_startSector, *omapAddress, block.data())) return false;
    const auto treeAddress = view.Le64(apfs::omap::kTreeOid);
    if (!treeAddress || !apfs::ReadContainerBlock(m_device, m_startSector, *treeAddress, block.data())) return false;
    if (view.Le16(apfs::obj::kSubtype) != apfs::obj::kObjectMap) return false;
    const auto v = view.Le16(kFirstValueOffsetField);
    if (!v || *v < kMinFirstValueOffset || *v > kMaxFirstValueOffset) return false;
    const auto volumeAddress = view.Le64(kFirstValueAddressBase - *v);
    if (!volumeAddress || !apfs::ReadContainerBlock(m_device, m_startSector, *volumeAddress, block.data()))
        return false;
    if (view.Le32(apfs::apsb::kMagic) != apfs::apsb::kMagicValue) return false;
    // As strncpy does with 32 bytes, bounded by the caller's buffer, which stays terminated.
    const std::string name = apfs::FieldText(view, apfs::apsb::kVolumeName, apfs::apsb::kLabelBytes);
    if (name.empty()) return false;
    const size_t room = static_cast<size_t>(length) - 1;
    const size_t copy = std::min(name.size(), room);
    std::memcpy(label, name.data(), copy);
    std::memset(label + copy, 0, std::min(apfs::apsb::kLabelBytes, room) - copy + 1);
    return true;
}

void APFSRecognize::GetLabel(char* label, int length) {
    if (!label || length < 1 || !m_device || m_device->GetSectorSize() == 0) return;
    std::vector<u8> superblock(apfs::kBlockSize);
    if (!apfs::ReadContainerBlock(m_device, m_startSector, 0, superblock.data())) return;
    if (!apfs::IsPlausibleObject(ByteReader(superblock.data(), superblock.size()))) return;
    std::set<u64> visited;
    for (int step = 0; step < kMaxSuperblocks; ++step) {
        if (label[0] != 0) return;
        const u64 next = ByteReader(superblock.data(), superblock.size()).Le32(apfs::nx::kDescriptorIndex).value_or(0);
        if (LabelFromSuperblock(superblock.data(), label, length)) return;
        if (!visited.insert(next).second) return;
        // A failed read leaves the buffer as it was: the next step then ends on the repeated block.
        apfs::ReadContainerBlock(m_device, m_startSector, next, superblock.data());
    }
}

IVolumeAnalyze* CreateAPFSVolumeAnalyze(IStorageDevice* device, u64 startSector) {
    if (!device) return nullptr;
    const u32 sectorSize = device->GetSectorSize();
    if (sectorSize == 0 || sectorSize > (1u << 20)) return nullptr;
    // One sector at the start, in a zeroed buffer of at least one block.
    std::vector<u8> bytes(std::max<u32>(sectorSize, apfs::kBlockSize), 0);
    if (startSector > u64(INT64_MAX) || !device->ReadSector(bytes.data(), static_cast<i64>(startSector), 1))
        return nullptr;
    if (!APFSRecognize::IsContainerSuperblock(bytes.data(), bytes.size())) return nullptr;
    const i64 total = device->GetTotalSectors();
    const u64 count = total > 0 && u64(total) > startSector ? u64(total) - startSector : 0;
    return new (std::nothrow) APFSRecognize(device, startSector, count);
}
