#include "engine/HFSPlusLib/HFSPlusCompressFileReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "engine/Common/ByteReader.h"
#include "engine/Common/CatchExeception.h"
#include "engine/Common/DebugChannel.h"
#include "engine/HFSPlusLib/HFSPlusFileNode.h"
#include "engine/HFSPlusLib/HFSPlusLayout.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"
#include "engine/HFSPlusLib/Lzvn.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/IDataRunList.h"

using namespace hfsplus;

namespace {

constexpr u64 kBlock = decmpfs::kBlockSize;

bool Allocate(std::vector<u8>& bytes, u64 size) {
    try {
        bytes.assign(size_t(size), 0);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool IsZlibRaw(u8 first) { return (first & 0x0F) == 0x0F; }

// The blocks (or chunks) a file of `size` bytes is stored in.
u64 BlockCount(u64 size) { return size / kBlock + (size % kBlock ? 1 : 0); }

struct Header {
    u32 type = 0;
    u64 size = 0;
};

bool ReadHeader(const std::vector<u8>& attribute, Header& out) {
    const ByteReader bytes(attribute.data(), attribute.size());
    const auto type = bytes.Le32(decmpfs::kCompressionType);
    const auto size = bytes.Le64(decmpfs::kUncompressedSize);
    if (!type || !size) return false;
    out.type = *type;
    out.size = *size;
    return true;
}

// Decodes one zlib stream (or a stream stored raw after its mark) to exactly `expected` bytes.
bool DecodeZlibBlock(const u8* in, size_t inLength, u8* out, size_t expected) {
    if (inLength == 0) return false;
    if (IsZlibRaw(in[0])) {
        if (inLength - 1 < expected) return false;
        std::memcpy(out, in + 1, expected);
        return true;
    }
    uLongf produced = uLongf(expected);
    const int rc = uncompress(out, &produced, in, uLong(inLength));
    return (rc == Z_OK || rc == Z_BUF_ERROR) && produced == expected;
}

// Decodes one LZVN stream (or a stream stored raw after its mark) to exactly `expected` bytes.
bool DecodeLzvnChunk(const u8* in, size_t inLength, u8* out, size_t expected) {
    if (inLength == 0) return false;
    if (in[0] == decmpfs::kLzvnRawMark) {
        if (inLength - 1 < expected) return false;
        std::memcpy(out, in + 1, expected);
        return true;
    }
    // The decoder needs room for 16 bytes even for a shorter tail.
    std::vector<u8> scratch;
    u8* target = out;
    size_t room = expected;
    if (expected < 16) {
        scratch.assign(16, 0);
        target = scratch.data();
        room = scratch.size();
    }
    const unsigned long produced = lzvn_decode(target, room, in, inLength);
    if (produced != expected) return false;
    if (target != out) std::memcpy(out, target, expected);
    return true;
}

}  // namespace

CHFSPlusCompressFileReader::CHFSPlusCompressFileReader(CHFSPlusVolume* volume, CFileNode* node)
    : m_volume(volume), m_node(node) {}

IFileReader* CHFSPlusCompressFileReader::Clone() { return new (std::nothrow) CHFSPlusCompressFileReader(*this); }

i64 CHFSPlusCompressFileReader::GetDataSize() const { return m_node ? m_node->GetFileSize() : 0; }

u32 CHFSPlusCompressFileReader::IsCompressFile() { return m_node ? m_node->IsCompressed() : 0; }

bool CHFSPlusCompressFileReader::PlausibleSize(const std::vector<u8>& attribute, u64 forkSize, u64& size) {
    Header header;
    if (!ReadHeader(attribute, header)) return false;
    switch (header.type) {
        case decmpfs::kZlibInline:
        case decmpfs::kLzvnInline:
            if (header.size > kMaxInlineUncompressedSize) return false;
            break;
        case decmpfs::kZlibResource:
        case decmpfs::kLzvnResource:
            if (forkSize > std::numeric_limits<u64>::max() / kMaxExpansionPerForkByte ||
                header.size > forkSize * kMaxExpansionPerForkByte)
                return false;
            break;
        default:
            return false;
    }
    size = header.size;
    return true;
}

u64 CHFSPlusCompressFileReader::ForkBytes() {
    if (auto* hfs = dynamic_cast<CHFSPlusFileNode*>(m_node)) return hfs->GetForkSize();
    // Another node kind (a restored one) knows its runs only: their blocks bound the fork.
    IDataRunList* runs = m_node->GetDataRunList();
    const u64 blockSize = m_volume->GetBlockSize();
    u64 total = 0;
    for (DataRun* run = runs ? runs->GetFirst() : nullptr; run; run = runs->GetNext()) {
        if (run->length > (std::numeric_limits<u64>::max() - total) / std::max<u64>(blockSize, 1)) return total;
        total += run->length * blockSize;
    }
    return total;
}

bool CHFSPlusCompressFileReader::ReadFork(u64 at, u8* out, u64 length) {
    IDataRunList* runs = m_node->GetDataRunList();
    const u64 blockSize = m_volume->GetBlockSize();
    if (!runs || blockSize == 0) return false;
    u64 runStart = 0;  // fork byte at which the current run begins
    u64 done = 0;
    for (DataRun* run = runs->GetFirst(); run && done < length; run = runs->GetNext()) {
        if (run->start < 0 || run->length > std::numeric_limits<u64>::max() / blockSize) return false;
        const u64 runBytes = run->length * blockSize;
        const u64 pos = at + done;
        if (pos < runStart + runBytes && pos >= runStart) {
            const u64 take = std::min(runStart + runBytes - pos, length - done);
            const u64 volumeByte = u64(run->start) * blockSize + (pos - runStart);
            if (m_volume->Read(volumeByte, out + done, take) != take) return false;
            done += take;
        }
        if (runBytes > std::numeric_limits<u64>::max() - runStart) break;
        runStart += runBytes;
    }
    return done == length;
}

u32 CHFSPlusCompressFileReader::ReadData(i64 offset, char* buffer, u32 size, int*) {
    if (!m_volume || !m_node || !buffer || offset < 0 || size == 0) return 0;
    if (!m_volume->GetHeader() || !m_volume->ServesReads()) return 0;
    std::vector<u8> attribute;
    if (m_volume->getAttribute(u32(m_node->GetCurrentNodeID()), decmpfs::kAttributeName, attribute) == 0) return 0;
    Header header;
    if (!ReadHeader(attribute, header)) return 0;
    switch (header.type) {
        case decmpfs::kZlibInline:
        case decmpfs::kLzvnInline:
            return ReadInline(header.type, attribute, header.size, offset, buffer, size);
        case decmpfs::kZlibResource:
        case decmpfs::kLzvnResource:
            if (!m_node->GetDataRunList()) {
                CatchExeception::Instance()->WriteLog("%s decompress flag %d,got empty IDataRunList\n", "ReadData",
                                                      int(header.type));
                return 0;
            }
            return ReadBlocks(header.type, header.size, offset, buffer, size);
        default:
            return 0;
    }
}

u32 CHFSPlusCompressFileReader::ReadInline(u32 type, const std::vector<u8>& attribute, u64 uncompressed, i64 offset,
                                           char* buffer, u32 size) {
    if (u64(offset) >= uncompressed || uncompressed > kMaxInlineUncompressedSize) return 0;
    if (attribute.size() <= decmpfs::kHeaderSize) return 0;
    const u8* in = attribute.data() + decmpfs::kHeaderSize;
    const size_t inLength = attribute.size() - decmpfs::kHeaderSize;
    std::vector<u8> data;
    try {
        data.assign(size_t(std::max<u64>(uncompressed, 16)), 0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    u64 produced = 0;
    if (type == decmpfs::kZlibInline) {
        if (IsZlibRaw(in[0])) {
            produced = std::min<u64>(inLength - 1, uncompressed);
            std::memcpy(data.data(), in + 1, size_t(produced));
        } else {
            uLongf length = uLongf(uncompressed);
            const int rc = uncompress(data.data(), &length, in, uLong(inLength));
            if (rc != Z_OK && rc != Z_BUF_ERROR) return 0;
            produced = length;
            if (produced != uncompressed) EngineDebug("decmpfs: size mismatch\n");
        }
    } else {
        if (in[0] == decmpfs::kLzvnRawMark) {
            produced = std::min<u64>(inLength - 1, uncompressed);
            std::memcpy(data.data(), in + 1, size_t(produced));
        } else {
            produced = std::min<u64>(lzvn_decode(data.data(), data.size(), in, inLength), uncompressed);
            if (produced == 0) return 0;
        }
    }
    if (u64(offset) >= produced) return 0;
    const u64 take = std::min<u64>(produced - u64(offset), size);
    std::memcpy(buffer, data.data() + offset, size_t(take));
    return u32(take);
}

u32 CHFSPlusCompressFileReader::ReadBlocks(u32 type, u64 uncompressed, i64 offset, char* buffer, u32 size) {
    if (u64(offset) >= uncompressed) return 0;
    const u64 fork = ForkBytes();
    const u64 count = BlockCount(uncompressed);
    if (count == 0 || count > fork) return 0;

    // The table of the blocks: (fork offset, length) of each.
    std::vector<std::pair<u64, u64>> blocks;
    try {
        blocks.reserve(size_t(count));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (type == decmpfs::kZlibResource) {
        u8 head[rsrc::kHeaderSize];
        if (fork < rsrc::kHeaderSize || !ReadFork(0, head, sizeof head)) return 0;
        const u64 dataOffset = ByteReader(head, sizeof head).Be32(rsrc::kDataOffset).value_or(0);
        const u64 tableBytes = rsrc::kBlockEntries + count * rsrc::kBlockEntrySize;
        if (dataOffset >= fork || tableBytes > fork - dataOffset) return 0;
        std::vector<u8> table;
        if (!Allocate(table, tableBytes) || !ReadFork(dataOffset, table.data(), tableBytes)) return 0;
        const ByteReader t(table.data(), table.size());
        if (t.Le32(rsrc::kBlockCount).value_or(0) != count) return 0;
        const u64 base = dataOffset + rsrc::kBlockOffsetBase;
        for (u64 i = 0; i < count; ++i) {
            const size_t at = rsrc::kBlockEntries + size_t(i) * rsrc::kBlockEntrySize;
            const u64 start = base + t.Le32(at).value_or(0);
            const u64 length = t.Le32(at + 4).value_or(0);
            // A block may end exactly at the fork's end, not past it.
            if (start > fork || length > fork - start) return 0;
            blocks.emplace_back(start, length);
        }
    } else {
        u8 first[4];
        if (fork < 4 || !ReadFork(0, first, sizeof first)) return 0;
        const u64 tableBytes = ByteReader(first, sizeof first).Le32(0).value_or(0);
        if (tableBytes != (count + 1) * 4 || tableBytes > fork) return 0;
        std::vector<u8> table;
        if (!Allocate(table, tableBytes) || !ReadFork(0, table.data(), tableBytes)) return 0;
        const ByteReader t(table.data(), table.size());
        for (u64 i = 0; i < count; ++i) {
            const u64 start = t.Le32(size_t(i) * 4).value_or(0);
            const u64 end = t.Le32(size_t(i + 1) * 4).value_or(0);
            // Offsets go forward and stay inside the fork, past the table.
            if (start < tableBytes || end <= start || end > fork) return 0;
            blocks.emplace_back(start, end - start);
        }
    }

    const u64 want = std::min<u64>(u64(size), uncompressed - u64(offset));
    const u64 firstBlock = u64(offset) / kBlock;
    const u64 lastBlock = (u64(offset) + want - 1) / kBlock;
    std::vector<u8> in;
    std::vector<u8> out;
    if (!Allocate(out, kBlock)) return 0;
    u64 done = 0;
    for (u64 i = firstBlock; i <= lastBlock; ++i) {
        const auto [start, length] = blocks[size_t(i)];
        const u64 expected = std::min<u64>(kBlock, uncompressed - i * kBlock);
        if (!Allocate(in, length) || !ReadFork(start, in.data(), length)) return 0;
        const bool decoded = type == decmpfs::kZlibResource ? DecodeZlibBlock(in.data(), in.size(), out.data(), expected)
                                                            : DecodeLzvnChunk(in.data(), in.size(), out.data(), expected);
        if (!decoded) return 0;
        const u64 blockStart = i * kBlock;
        const u64 from = std::max<u64>(u64(offset), blockStart) - blockStart;
        const u64 take = std::min<u64>(expected - from, want - done);
        std::memcpy(buffer + done, out.data() + from, size_t(take));
        done += take;
    }
    return u32(done);
}
