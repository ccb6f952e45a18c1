#include "engine/HFSPlusLib/HFSPlusBTNode.h"

#include <cstdint>
#include <cstring>

#include "engine/HFSPlusLib/HFSPlusResult.h"

using namespace hfsplus;

namespace {

// Whether each of the eight values at `upper` is above the one in the same place at `lower`.
bool AllAbove(const ByteReader& bytes, size_t upper, size_t lower) {
    const auto high = bytes.Be16x8(upper), low = bytes.Be16x8(lower);
    if (!high || !low) return false;
    const auto above = *high > *low;
    u64 halves[2];
    std::memcpy(halves, &above, sizeof halves);
    return (halves[0] & halves[1]) == ~u64{0};
}

}  // namespace

CHFSPlusBTNode::CHFSPlusBTNode(const u8* buffer, u32 nodeSize, bool ownsBuffer) : m_nodeSize(nodeSize), m_status(kNotReady) {
    if (buffer && ownsBuffer) {
        m_owned.assign(buffer, buffer + nodeSize);
        m_data = m_owned.data();
    } else {
        m_data = buffer;
    }
    Validate();
}

CHFSPlusBTNode::CHFSPlusBTNode(std::vector<u8> bytes)
    : m_owned(std::move(bytes)), m_data(m_owned.data()), m_nodeSize(u32(m_owned.size())), m_status(kNotReady) {
    Validate();
}

CHFSPlusBTNode::CHFSPlusBTNode(std::unique_ptr<u8[]> bytes, u32 nodeSize)
    : m_block(std::move(bytes)), m_data(m_block.get()), m_nodeSize(m_block ? nodeSize : 0), m_status(kNotReady) {
    Validate();
}

CHFSPlusBTNode::CHFSPlusBTNode(const u8* buffer, u32 nodeSize, Checked)
    : m_data(buffer), m_nodeSize(nodeSize), m_status(0) {
    BTNodeDescriptor descriptor;
    if (DecodeNodeDescriptor(ByteReader(m_data, m_nodeSize), descriptor))
        m_descriptor = descriptor;
    else
        m_status = HFSPLUS_QUIET(kKindBadData);
}

void CHFSPlusBTNode::Validate() {
    if (!IsValidNode(m_data, m_nodeSize)) {
        m_status = HFSPLUS_QUIET(kKindBadData);
        return;
    }
    BTNodeDescriptor descriptor;
    DecodeNodeDescriptor(ByteReader(m_data, m_nodeSize), descriptor);
    m_descriptor = descriptor;
    m_status = 0;
}

bool CHFSPlusBTNode::IsValidNode(const u8* buffer, u32 nodeSize) {
    if (!buffer || nodeSize < node::kMinNodeSize || nodeSize % node::kMinNodeSize != 0) return false;
    const ByteReader bytes(buffer, nodeSize);
    // Record 0 at byte 14 first: most sizes tried on bytes that are no node fail here.
    if (bytes.Be16(nodeSize - 2).value_or(0) != node::kDescriptorSize) return false;
    // Kind, height and record count: the descriptor's fields that matter here, two reads.
    const u16 kindHeight = bytes.Be16(node::kKind).value_or(0);
    const u8 kind = u8(kindHeight >> 8);
    const u8 height = u8(kindHeight);
    if (kind >= 3 && kind <= 254) return false;
    if (kind == u8(node::kKindLeaf) && height != 1) return false;
    if (kind == u8(node::kKindHeader) && height != 0) return false;
    return OffsetTableDescends(buffer, nodeSize);
}

bool CHFSPlusBTNode::OffsetTableDescends(const u8* buffer, u32 nodeSize) {
    const ByteReader bytes(buffer, nodeSize);
    // The offset table (numRecords + 1 entries at the node's end) lies after the descriptor.
    const u32 entries = u32(bytes.Be16(node::kNumRecords).value_or(0)) + 1;
    if (u64(2) * entries > nodeSize - node::kDescriptorSize) return false;
    // Entry j from the table's start is record (entries - 1 - j)'s offset: offsets that grow with the
    // record fall along the table down to record 0's (14, checked before), and the largest, the first
    // entry, lies below the table, as every other then does. Eight steps at a time: the entries j..j+7
    // against j+1..j+8 (two overlapping 16-byte views inside the table), lane by lane, unsigned; the
    // last eight steps of the table end the run (they may repeat steps already tested).
    const ByteReader table = bytes.From(nodeSize - 2 * entries);
    if (entries >= 9) {
        for (size_t j = 0; j + 9 <= entries; j += 8)
            if (!AllAbove(table, 2 * j, 2 * j + 2)) return false;
        if (!AllAbove(table, 2 * (entries - 9), 2 * (entries - 8))) return false;
    } else {
        for (size_t j = 0; j + 1 < entries; ++j)
            if (table.Be16(2 * j).value_or(0) <= table.Be16(2 * j + 2).value_or(0)) return false;
    }
    return table.Be16(0).value_or(0) <= nodeSize - 2 * entries;
}

const u8* CHFSPlusBTNode::GetRecord(u16 index, u16* length) {
    if (!m_descriptor) {
        m_status = HFSPLUS_QUIET(kKindNotReady);
        return nullptr;
    }
    const auto record = GetRecord(index);
    if (!record) {
        m_status = HFSPLUS_QUIET(kKindNullArgument);
        return nullptr;
    }
    if (length) *length = u16(record->size());
    return record->data();
}

bool IsValidCatalogThread(const u8* data, i64 length) {
    if (!data || length < i64(thread::kMinSize)) return false;
    const ByteReader bytes(data, size_t(length));
    const u16 type = bytes.Be16(catrec::kRecordType).value_or(0);
    if (type != catrec::kFolderThread && type != catrec::kFileThread) return false;
    return i64(thread::kMinSize) + 2 * i64(bytes.Be16(thread::kNameLength).value_or(0)) == length;
}

u32 CHFSPlusBTNode::TestNodeBelongToFile() {
    u32 result = 0;
    for (u16 i = 0; i < GetRecordCount(); ++i) {
        const auto record = GetRecord(i);
        if (!record) break;
        const auto keyLength = record->Be16(0);
        if (!keyLength) break;
        const u32 keyBytes = u32(*keyLength) + 2;
        if (keyBytes >= m_nodeSize || keyBytes > record->size()) break;
        const ByteReader data = record->From(keyBytes);
        const i64 dataLength = i64(data.size());
        const u16 type16 = data.Be16(0).value_or(0);
        const u32 type32 = data.Be32(0).value_or(0);
        // File and folder records (most leaves start with one) before threads.
        if ((dataLength == i64(file::kSize) && type16 == catrec::kFile) ||
            (dataLength == i64(folder::kSize) && type16 == catrec::kFolder) || IsValidCatalogThread(data.data(), dataLength))
            return kCatalogFileID;
        if ((dataLength == i64(attrrec::kForkRecordSize) && type32 == attrrec::kForkData) ||
            (dataLength == i64(attrrec::kExtentsRecordSize) && type32 == attrrec::kExtents)) {
            result = kAttributesFileID;
        } else if (dataLength == i64(extent::kRecordSize)) {
            result = kExtentsFileID;
        }
    }
    return result;
}
