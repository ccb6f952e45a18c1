// The reader of a compressed HFS+ file: its "com.apple.decmpfs" attribute names the compression
// (zlib or LZVN) and holds the data inline (types 3 and 7) or points to the resource fork (types 4 and
// 8, in 64 KiB blocks or chunks). Only the blocks that cover a read are decoded; every range taken
// from disk is checked, and a block that does not decode fails the read.
#pragma once

#include <vector>

#include "engine/DataRecovery/IFileReader.h"
#include "engine/Common/Types.h"

class CHFSPlusVolume;
class CFileNode;

class CHFSPlusCompressFileReader : public IFileReader {
public:
    // Inline data (types 3 and 7) is decoded whole in memory: files claiming more are refused.
    static constexpr u64 kMaxInlineUncompressedSize = u64(64) << 20;
    // Neither zlib nor LZVN produces more than about a thousand bytes from one stored byte: a
    // resource-fork file claiming more per fork byte is damage.
    static constexpr u64 kMaxExpansionPerForkByte = 1100;

    // Neither is owned. The volume must have opened (at least up to its attributes tree) for reads to
    // give anything.
    CHFSPlusCompressFileReader(CHFSPlusVolume* volume, CFileNode* node);
    CHFSPlusCompressFileReader(const CHFSPlusCompressFileReader& other) = default;
    CHFSPlusCompressFileReader& operator=(const CHFSPlusCompressFileReader&) = delete;
    ~CHFSPlusCompressFileReader() override = default;

    // Up to size decoded bytes from offset; the count placed, 0 past the end and on any failure.
    u32 ReadData(i64 offset, char* buffer, u32 size, int* unused) override;
    IFileReader* Clone() override;
    i64 GetDataSize() const override;
    u32 IsCompressFile() override;
    void Release() override { delete this; }

    // The uncompressed size of a decmpfs attribute when it is believable for its type (within the inline
    // cap, or within what forkSize bytes of resource fork can hold); false otherwise.
    static bool PlausibleSize(const std::vector<u8>& attribute, u64 forkSize, u64& size);

private:
    u32 ReadInline(u32 type, const std::vector<u8>& attribute, u64 uncompressed, i64 offset, char* buffer, u32 size);
    u32 ReadBlocks(u32 type, u64 uncompressed, i64 offset, char* buffer, u32 size);
    // Bytes [at, at + length) of the fork whose runs the node holds; false when they are not all there.
    bool ReadFork(u64 at, u8* out, u64 length);
    u64 ForkBytes();

    CHFSPlusVolume* m_volume = nullptr;
    CFileNode* m_node = nullptr;
};
