// One B-tree node of an HFS+ special file (catalog, extents, attributes), validated before use.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/HFSPlusLib/HFSPlusStructs.h"

class CHFSPlusBTNode {
public:
    // Keeps the bytes: a copy when ownsBuffer is set (the usual case), else a view that the caller keeps
    // alive as long as the node. The node is usable when IsValid().
    CHFSPlusBTNode(const u8* buffer, u32 nodeSize, bool ownsBuffer);
    CHFSPlusBTNode(std::vector<u8> bytes);
    // Keeps nodeSize bytes read whole into a block of its own (no zero fill before the read).
    CHFSPlusBTNode(std::unique_ptr<u8[]> bytes, u32 nodeSize);
    // A view of bytes the caller has just checked with IsValidNode (not checked again).
    struct Checked {};
    CHFSPlusBTNode(const u8* buffer, u32 nodeSize, Checked);
    CHFSPlusBTNode(const CHFSPlusBTNode&) = delete;
    CHFSPlusBTNode& operator=(const CHFSPlusBTNode&) = delete;

    // The node format test: size a multiple of 512 (at least 512), a known kind, leaves at height 1 and
    // header nodes at height 0, record 0 at byte 14, and record offsets that grow and stay below the
    // offset table. Usable without an object.
    static bool IsValidNode(const u8* buffer, u32 nodeSize);
    // The offset table's part of that test, for a caller that has checked the rest (size, kind, height
    // and record 0's offset) itself.
    static bool OffsetTableDescends(const u8* buffer, u32 nodeSize);

    bool IsValid() const { return m_descriptor.has_value(); }
    u64 GetStatus() const { return m_status; }
    u32 GetNodeSize() const { return m_nodeSize; }
    const BTNodeDescriptor& Descriptor() const { return *m_descriptor; }
    i8 GetKind() const { return m_descriptor ? m_descriptor->kind : 0; }
    bool IsLeaf() const { return m_descriptor && m_descriptor->kind == hfsplus::node::kKindLeaf; }
    bool IsIndex() const { return m_descriptor && m_descriptor->kind == hfsplus::node::kKindIndex; }
    u16 GetRecordCount() const { return m_descriptor ? m_descriptor->numRecords : 0; }
    const u8* Bytes() const { return m_data; }

    // The bytes of record index (from its offset to the next one); absent for an invalid node or index.
    // Inline: the catalog walk and the deep search take every record of every leaf through here.
    std::optional<ByteReader> GetRecord(u16 index) {
        if (!m_descriptor || index >= m_descriptor->numRecords) return std::nullopt;
        const ByteReader bytes(m_data, m_nodeSize);
        // The record's offset and the next one's lie side by side before it in the table: one read.
        const i64 at = i64(m_nodeSize) - 2 * (i64(index) + 2);
        if (at < i64(hfsplus::node::kDescriptorSize)) return std::nullopt;
        const auto offsets = bytes.Be32(size_t(at));
        if (!offsets) return std::nullopt;
        const u32 start = *offsets & 0xFFFF;
        const u32 end = *offsets >> 16;
        if (end < start) return std::nullopt;
        return bytes.Sub(start, end - start);
    }
    const u8* GetRecord(u16 index, u16* length);

    // Which special file a leaf found without its volume belongs to, from the shape of its records:
    // 4 catalog, 3 extents, 8 attributes, 0 unknown.
    u32 TestNodeBelongToFile();

private:
    void Validate();

    std::vector<u8> m_owned;
    std::unique_ptr<u8[]> m_block;
    const u8* m_data = nullptr;
    u32 m_nodeSize = 0;
    u64 m_status;
    std::optional<BTNodeDescriptor> m_descriptor;
};

// A catalog thread record's shape: type 3 or 4, and 10 + 2 x its name length bytes.
bool IsValidCatalogThread(const u8* data, i64 length);
// Inline attribute data is never taken as a sign of a tree.
inline bool IsValidAttrData(const u8*, i64) { return false; }
