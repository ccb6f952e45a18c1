#include "support/HfsPlusWriter.h"

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <set>
#include <stdexcept>

#include "engine/Common/ByteReader.h"
#include "engine/HFSPlusLib/HFSPlusBTree.h"
#include "engine/HFSPlusLib/HFSPlusLayout.h"
#include "support/LzvnEncoder.h"

namespace testsupport::hfs {

namespace f = hfsplus;
using Bytes = std::vector<u8>;
using Units = std::vector<u16>;

namespace {

[[noreturn]] void Fail(const std::string& why) { throw std::runtime_error("HfsPlusWriter: " + why); }

// ---- small byte helpers -----------------------------------------------------------------------

void Be16(Bytes& b, size_t at, u16 v) { ByteWriter(b).Be16(at, v); }
void Be32(Bytes& b, size_t at, u32 v) { ByteWriter(b).Be32(at, v); }
void Be64(Bytes& b, size_t at, u64 v) { ByteWriter(b).Be64(at, v); }

Units Utf16(const std::string& s) {
    Units out;
    for (size_t i = 0; i < s.size();) {
        const u8 c = u8(s[i]);
        u32 cp = c;
        size_t n = 1;
        if (c >= 0xF0) {
            cp = c & 0x07;
            n = 4;
        } else if (c >= 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else if (c >= 0xC0) {
            cp = c & 0x1F;
            n = 2;
        }
        for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (u8(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(u16(0xD800 + (cp >> 10)));
            out.push_back(u16(0xDC00 + (cp & 0x3FF)));
        } else {
            // The format stores the '/' that a ':' in a shown name stands for.
            out.push_back(cp == ':' ? u16('/') : u16(cp));
        }
    }
    return out;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '/') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string ParentOf(const std::string& path) {
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string NameOf(const std::string& path) {
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

u64 Fnv(const std::string& s) {
    u64 h = 1469598103934665603ULL;
    for (char c : s) h = (h ^ u8(c)) * 1099511628211ULL;
    return h;
}

// ---- B-tree records and nodes -----------------------------------------------------------------

struct TreeRecord {
    Bytes key;  // with its key length
    Bytes data;
    BTKey sort;  // the host-order key, for ordering
};

Bytes CatalogKey(u32 parent, const Units& name) {
    Bytes k(f::catkey::kName + 2 * name.size(), 0);
    Be16(k, f::catkey::kKeyLength, u16(k.size() - 2));
    Be32(k, f::catkey::kParentID, parent);
    Be16(k, f::catkey::kNameLength, u16(name.size()));
    for (size_t i = 0; i < name.size(); ++i) Be16(k, f::catkey::kName + 2 * i, name[i]);
    return k;
}

BTKey CatalogSortKey(u32 parent, const Units& name) {
    BTKey key;
    key.parentID = parent;
    key.nameLength = u16(std::min<size_t>(name.size(), key.name.size()));
    for (size_t i = 0; i < key.nameLength; ++i) key.name[i] = f::StoredNameUnit(name[i]);
    return key;
}

Bytes ExtentKey(u32 fileID, u8 forkType, u32 startBlock) {
    Bytes k(f::extkey::kSize, 0);
    Be16(k, f::extkey::kKeyLength, f::extkey::kKeyLengthValue);
    k[f::extkey::kForkType] = forkType;
    Be32(k, f::extkey::kFileID, fileID);
    Be32(k, f::extkey::kStartBlock, startBlock);
    return k;
}

Bytes AttributeKey(u32 fileID, const Units& name) {
    Bytes k(f::attrkey::kName + 2 * name.size(), 0);
    Be16(k, f::attrkey::kKeyLength, u16(k.size() - 2));
    Be32(k, f::attrkey::kFileID, fileID);
    Be16(k, f::attrkey::kNameLength, u16(name.size()));
    for (size_t i = 0; i < name.size(); ++i) Be16(k, f::attrkey::kName + 2 * i, name[i]);
    return k;
}

size_t RecordBytes(const TreeRecord& r) {
    const size_t n = r.key.size() + r.data.size();
    return n + (n & 1);
}

// Records of one node: offsets from 14 upwards, the offset table at the end.
Bytes MakeNode(u32 nodeSize, i8 kind, u8 height, u32 fLink, u32 bLink, const std::vector<Bytes>& records) {
    Bytes node(nodeSize, 0);
    Be32(node, f::node::kFLink, fLink);
    Be32(node, f::node::kBLink, bLink);
    node[f::node::kKind] = u8(kind);
    node[f::node::kHeight] = height;
    Be16(node, f::node::kNumRecords, u16(records.size()));
    size_t at = f::node::kDescriptorSize;
    for (size_t i = 0; i <= records.size(); ++i) {
        const size_t slot = nodeSize - 2 * (i + 1);
        if (at + 2 * (records.size() + 1) > nodeSize) Fail("node overflow");
        Be16(node, slot, u16(at));
        if (i == records.size()) break;
        std::copy(records[i].begin(), records[i].end(), node.begin() + at);
        at += records[i].size() + (records[i].size() & 1);
    }
    return node;
}

// Groups of consecutive records, each fitting one node.
std::vector<std::pair<size_t, size_t>> Pack(const std::vector<size_t>& sizes, u32 nodeSize, u32 maxRecords) {
    std::vector<std::pair<size_t, size_t>> groups;
    size_t first = 0;
    while (first < sizes.size()) {
        size_t used = f::node::kDescriptorSize + 2;
        size_t last = first;
        while (last < sizes.size()) {
            const size_t need = used + sizes[last] + 2;
            if (need > nodeSize || (maxRecords && last - first >= maxRecords)) break;
            used = need;
            ++last;
        }
        if (last == first) Fail("a record larger than a node");
        groups.emplace_back(first, last);
        first = last;
    }
    return groups;
}

struct TreeShape {
    u32 nodeSize = 4096;
    u32 maxLeafRecords = 0;
    u8 keyCompareType = 0;
    u32 attributes = f::header::kBigKeysMask;
    u16 maxKeyLength = 0;
};

struct BuiltTree {
    std::vector<Bytes> nodes;  // node 0 (header) first, then leaves, then index levels
    u32 root = 0;
    u32 depth = 0;
    std::vector<u32> leaves;
    std::vector<u32> index;
};

Bytes IndexRecord(const TreeRecord& first, u32 child) {
    Bytes r = first.key;
    r.resize(r.size() + 4);
    Be32(r, first.key.size(), child);
    return r;
}

// The nodes the records need (header included).
u32 CountNodes(const std::vector<TreeRecord>& records, const TreeShape& shape) {
    if (records.empty()) return 1;
    std::vector<size_t> sizes;
    for (const auto& r : records) sizes.push_back(RecordBytes(r));
    u32 total = 1;
    auto groups = Pack(sizes, shape.nodeSize, shape.maxLeafRecords);
    total += u32(groups.size());
    std::vector<size_t> firstKeys;
    for (const auto& g : groups) firstKeys.push_back(g.first);
    while (groups.size() > 1) {
        std::vector<size_t> indexSizes;
        for (size_t k : firstKeys) indexSizes.push_back(records[k].key.size() + 4 + ((records[k].key.size() + 4) & 1));
        auto upper = Pack(indexSizes, shape.nodeSize, shape.maxLeafRecords);
        std::vector<size_t> nextFirst;
        for (const auto& g : upper) nextFirst.push_back(firstKeys[g.first]);
        total += u32(upper.size());
        groups = upper;
        firstKeys = nextFirst;
    }
    return total;
}

Bytes HeaderNode(const TreeShape& shape, const BuiltTree& tree, u32 totalNodes, u32 leafRecords, u32 usedNodes) {
    Bytes header(f::header::kSize, 0);
    Be16(header, f::header::kTreeDepth, u16(tree.depth));
    Be32(header, f::header::kRootNode, tree.root);
    Be32(header, f::header::kLeafRecords, leafRecords);
    Be32(header, f::header::kFirstLeafNode, tree.leaves.empty() ? 0 : tree.leaves.front());
    Be32(header, f::header::kLastLeafNode, tree.leaves.empty() ? 0 : tree.leaves.back());
    Be16(header, f::header::kNodeSize, u16(shape.nodeSize));
    Be16(header, f::header::kMaxKeyLength, shape.maxKeyLength);
    Be32(header, f::header::kTotalNodes, totalNodes);
    Be32(header, f::header::kFreeNodes, totalNodes - usedNodes);
    Be32(header, f::header::kClumpSize, totalNodes * shape.nodeSize);
    header[f::header::kBtreeType] = 0;
    header[f::header::kKeyCompareType] = shape.keyCompareType;
    Be32(header, f::header::kAttributes, shape.attributes);
    Bytes user(128, 0);
    Bytes map(shape.nodeSize - f::node::kDescriptorSize - f::header::kSize - 128 - 8, 0);
    if (usedNodes > map.size() * 8) Fail("a tree too large for its header map");
    for (u32 n = 0; n < usedNodes; ++n) map[n / 8] |= u8(0x80 >> (n % 8));
    return MakeNode(shape.nodeSize, f::node::kKindHeader, 0, 0, 0, {header, user, map});
}

BuiltTree BuildTree(const std::vector<TreeRecord>& records, const TreeShape& shape, u32 totalNodes) {
    BuiltTree tree;
    tree.nodes.emplace_back();  // header, made last
    if (!records.empty()) {
        std::vector<size_t> sizes;
        for (const auto& r : records) sizes.push_back(RecordBytes(r));
        auto groups = Pack(sizes, shape.nodeSize, shape.maxLeafRecords);
        const u32 firstLeaf = 1;
        std::vector<std::pair<u32, size_t>> level;  // node number, index of its first record
        for (size_t g = 0; g < groups.size(); ++g) {
            std::vector<Bytes> recs;
            for (size_t i = groups[g].first; i < groups[g].second; ++i) {
                Bytes r = records[i].key;
                r.insert(r.end(), records[i].data.begin(), records[i].data.end());
                recs.push_back(std::move(r));
            }
            const u32 number = firstLeaf + u32(g);
            const u32 next = g + 1 < groups.size() ? number + 1 : 0;
            const u32 prev = g > 0 ? number - 1 : 0;
            tree.nodes.push_back(MakeNode(shape.nodeSize, f::node::kKindLeaf, 1, next, prev, recs));
            tree.leaves.push_back(number);
            level.emplace_back(number, groups[g].first);
        }
        u8 height = 1;
        while (level.size() > 1) {
            ++height;
            std::vector<size_t> indexSizes;
            for (const auto& [node, first] : level) {
                const size_t n = records[first].key.size() + 4;
                indexSizes.push_back(n + (n & 1));
            }
            auto upper = Pack(indexSizes, shape.nodeSize, shape.maxLeafRecords);
            std::vector<std::pair<u32, size_t>> next;
            const u32 base = u32(tree.nodes.size());
            for (size_t g = 0; g < upper.size(); ++g) {
                std::vector<Bytes> recs;
                for (size_t i = upper[g].first; i < upper[g].second; ++i)
                    recs.push_back(IndexRecord(records[level[i].second], level[i].first));
                const u32 number = base + u32(g);
                const u32 fl = g + 1 < upper.size() ? number + 1 : 0;
                const u32 bl = g > 0 ? number - 1 : 0;
                tree.nodes.push_back(MakeNode(shape.nodeSize, f::node::kKindIndex, height, fl, bl, recs));
                tree.index.push_back(number);
                next.emplace_back(number, level[upper[g].first].second);
            }
            level = next;
        }
        tree.root = level.front().first;
        tree.depth = height;
    }
    const u32 used = u32(tree.nodes.size());
    if (used > totalNodes) Fail("tree larger than its file");
    tree.nodes[0] = HeaderNode(shape, tree, totalNodes, u32(records.size()), used);
    return tree;
}

// ---- compression --------------------------------------------------------------------------------

Bytes ZlibStream(const std::string& data) {
    uLongf length = compressBound(uLong(data.size()));
    Bytes out(length);
    if (compress2(out.data(), &length, reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()), 9) != Z_OK)
        Fail("zlib");
    out.resize(length);
    return out;
}

std::string DecmpfsHeader(u32 type, u64 size) {
    Bytes h(f::decmpfs::kHeaderSize, 0);
    ByteWriter w(h);
    w.Le32(f::decmpfs::kMagic, f::decmpfs::kMagicValue);
    w.Le32(f::decmpfs::kCompressionType, type);
    w.Le64(f::decmpfs::kUncompressedSize, size);
    return std::string(h.begin(), h.end());
}

std::vector<std::string> Chunks(const std::string& data) {
    std::vector<std::string> out;
    for (size_t at = 0; at < data.size(); at += f::decmpfs::kBlockSize) out.push_back(data.substr(at, f::decmpfs::kBlockSize));
    return out;
}

}  // namespace

std::string TextContent(const std::string& seed, size_t size) {
    static const char* kWords[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel"};
    u64 state = Fnv(seed) | 1;
    std::string out;
    while (out.size() < size) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out += kWords[state % 8];
        out += (state >> 8) % 11 == 0 ? '\n' : ' ';
    }
    out.resize(size);
    return out;
}

std::string NoiseContent(const std::string& seed, size_t size) {
    u64 state = Fnv(seed) | 1;
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out[i] = char(state >> 24);
    }
    return out;
}

Compressed Compress(const std::string& data, u32 type, bool rawStored) {
    Compressed c;
    c.attribute = DecmpfsHeader(type, data.size());
    switch (type) {
        case f::decmpfs::kZlibInline: {
            if (rawStored) {
                c.attribute += char(f::decmpfs::kZlibRawMark);
                c.attribute += data;
            } else {
                const Bytes z = ZlibStream(data);
                c.attribute.append(z.begin(), z.end());
            }
            break;
        }
        case f::decmpfs::kLzvnInline:
            if (rawStored) {
                c.attribute += char(f::decmpfs::kLzvnRawMark);
                c.attribute += data;
            } else {
                c.attribute += LzvnEncode(data);
            }
            break;
        case f::decmpfs::kZlibResource: {
            std::vector<std::string> blocks;
            for (const std::string& chunk : Chunks(data)) {
                if (rawStored) {
                    blocks.push_back(char(f::decmpfs::kZlibRawMark) + chunk);
                } else {
                    const Bytes z = ZlibStream(chunk);
                    blocks.emplace_back(z.begin(), z.end());
                }
            }
            // Resource-fork header, then at 0x100 the resource: its length, the block table, the blocks;
            // then a resource map naming one 'cmpf' resource.
            const u32 dataOffset = 0x100;
            Bytes table(4 + 8 * blocks.size(), 0);
            ByteWriter t(table);
            t.Le32(0, u32(blocks.size()));
            u32 at = u32(table.size());
            for (size_t i = 0; i < blocks.size(); ++i) {
                t.Le32(4 + 8 * i, at);
                t.Le32(8 + 8 * i, u32(blocks[i].size()));
                at += u32(blocks[i].size());
            }
            std::string resource(table.begin(), table.end());
            for (const auto& b : blocks) resource += b;
            const u32 dataLength = 4 + u32(resource.size());
            const u32 mapOffset = dataOffset + dataLength;
            const u32 mapLength = 50;
            Bytes fork(mapOffset + mapLength, 0);
            for (size_t copy : {size_t(0), size_t(mapOffset)}) {
                Be32(fork, copy + f::rsrc::kDataOffset, dataOffset);
                Be32(fork, copy + f::rsrc::kMapOffset, mapOffset);
                Be32(fork, copy + f::rsrc::kDataLength, dataLength);
                Be32(fork, copy + f::rsrc::kMapLength, mapLength);
            }
            Be32(fork, dataOffset, u32(resource.size()));
            std::copy(resource.begin(), resource.end(), fork.begin() + dataOffset + 4);
            Be16(fork, mapOffset + 24, 28);                 // type list offset
            Be16(fork, mapOffset + 26, u16(mapLength));     // name list offset
            Be16(fork, mapOffset + 28, 0);                  // one type
            Be32(fork, mapOffset + 30, 0x636D7066);         // 'cmpf'
            Be16(fork, mapOffset + 34, 0);                  // one resource
            Be16(fork, mapOffset + 36, 10);                 // its reference list
            Be16(fork, mapOffset + 38, 0xFFFF);             // resource ID
            Be16(fork, mapOffset + 40, 0xFFFF);             // no name
            c.resourceFork.assign(fork.begin(), fork.end());
            break;
        }
        case f::decmpfs::kLzvnResource: {
            std::vector<std::string> chunks;
            for (const std::string& chunk : Chunks(data))
                chunks.push_back(rawStored ? char(f::decmpfs::kLzvnRawMark) + chunk : LzvnEncode(chunk));
            Bytes table(4 * (chunks.size() + 1), 0);
            ByteWriter t(table);
            u32 at = u32(table.size());
            for (size_t i = 0; i < chunks.size(); ++i) {
                t.Le32(4 * i, at);
                at += u32(chunks[i].size());
            }
            t.Le32(4 * chunks.size(), at);
            c.resourceFork.assign(table.begin(), table.end());
            for (const auto& chunk : chunks) c.resourceFork += chunk;
            break;
        }
        default:
            Fail("unknown compression type");
    }
    return c;
}

namespace {

// ---- the image --------------------------------------------------------------------------------

struct Node {
    const Entry* entry = nullptr;  // null for folders made implicitly and for the writer's own files
    std::string path;
    Entry::Kind kind = Entry::Kind::Folder;
    bool deleted = false;
    u32 id = 0;
    u32 parent = 0;
    Units name;
    u32 date = kDefaultDate;
    // Files.
    std::string data;      // data fork
    std::string resource;  // resource fork
    std::vector<std::pair<Units, std::string>> attributes;
    bool compressed = false;
    u32 fileType = 0;
    u32 creator = 0;
    u16 mode = 0;
    u32 special = 0;
    u16 finderFlags = 0;
    u32 pieces = 1;
    // Placed forks: extents per fork.
    std::vector<HFSPlusExtentDescriptor> dataExtents;
    std::vector<HFSPlusExtentDescriptor> resourceExtents;
    u32 valence = 0;
    u32 sizeShortBy = 0;  // for older journal copies
};

class Image {
public:
    Image(const Options& o, const std::vector<Entry>& entries, Layout* layout)
        : m_o(o), m_entries(entries), m_layout(layout) {}
    Bytes Build();

private:
    void Check();
    void MakeNodes();
    Node& AddNode(Node node);
    void Allocate();
    std::vector<HFSPlusExtentDescriptor> Place(u64 bytes, u32 pieces, bool used);
    u32 Take(u32 blocks, bool used);
    void MarkUsed(u32 first, u32 count);
    void WriteFork(const std::vector<HFSPlusExtentDescriptor>& extents, const Bytes& bytes);
    void WriteFork(const std::vector<HFSPlusExtentDescriptor>& extents, const std::string& bytes);
    u64 ForkByte(const std::vector<HFSPlusExtentDescriptor>& extents, u64 offset) const;
    void ForkData(Bytes& out, size_t at, u64 logicalSize, const std::vector<HFSPlusExtentDescriptor>& extents) const;
    void OverflowRecords(std::vector<TreeRecord>& out, u32 fileID, u8 forkType,
                         const std::vector<HFSPlusExtentDescriptor>& extents) const;
    void CatalogRecords(const Node& n, std::vector<TreeRecord>& out, u32 shortBy = 0) const;
    std::vector<TreeRecord> Sorted(std::vector<TreeRecord> records, int tree) const;
    u32 TreeNodes(const std::vector<TreeRecord>& records, const TreeShape& shape) const;
    void WriteTree(const BuiltTree& tree, const std::vector<HFSPlusExtentDescriptor>& extents, u32 nodeSize);
    void WriteJournal();
    void WriteHeaders();
    TreeShape CatalogShape() const;
    TreeShape ExtentsShape() const;
    TreeShape AttributesShape() const;

    const Options& m_o;
    const std::vector<Entry>& m_entries;
    Layout* m_layout;
    Bytes m_image;
    std::vector<bool> m_used;
    u32 m_cursor = 0;
    std::vector<Node> m_nodes;  // index 0: root
    std::map<std::string, size_t> m_liveByPath;
    std::map<std::string, size_t> m_deletedByPath;
    u32 m_nextID = f::kFirstUserCatalogID;
    size_t m_privateIndex = 0;
    std::vector<HFSPlusExtentDescriptor> m_bitmap, m_extentsFile, m_catalogFile, m_attributesFile, m_journal;
    u32 m_journalInfoBlock = 0;
    std::vector<TreeRecord> m_catalog, m_extents, m_attributes;
    std::vector<TreeRecord> m_oldExtents, m_oldAttributes;
    u32 m_catalogNodes = 0, m_extentsNodes = 0, m_attributesNodes = 0;
    u32 m_fileCount = 0, m_folderCount = 0;
};

TreeShape Image::CatalogShape() const {
    TreeShape s;
    s.nodeSize = m_o.catalogNodeSize;
    s.maxLeafRecords = m_o.maxLeafRecords;
    s.keyCompareType = m_o.hfsx ? f::header::kBinaryCompare : f::header::kCaseFolding;
    s.attributes = f::header::kBigKeysMask | f::header::kVariableIndexKeysMask;
    s.maxKeyLength = 516;
    return s;
}

TreeShape Image::ExtentsShape() const {
    TreeShape s;
    s.nodeSize = m_o.extentsNodeSize;
    s.maxLeafRecords = m_o.maxLeafRecords;
    s.attributes = f::header::kBigKeysMask;
    s.maxKeyLength = f::extkey::kKeyLengthValue;
    return s;
}

TreeShape Image::AttributesShape() const {
    TreeShape s;
    s.nodeSize = m_o.attributesNodeSize;
    s.maxLeafRecords = m_o.maxLeafRecords;
    s.attributes = f::header::kBigKeysMask | f::header::kVariableIndexKeysMask;
    s.maxKeyLength = 266;
    return s;
}

void Image::Check() {
    if (m_o.blockSize < 512 || m_o.blockSize % 512) Fail("block size");
    for (u32 size : {m_o.catalogNodeSize, m_o.extentsNodeSize, m_o.attributesNodeSize})
        if (size < 512 || size % 512 || size > 32768) Fail("node size");
    if (m_o.journaled && (m_o.journalSize % m_o.blockSize || m_o.jhdrSize == 0 || m_o.blhdrSize < 32)) Fail("journal");
}

Node& Image::AddNode(Node node) {
    m_nodes.push_back(std::move(node));
    return m_nodes.back();
}

void Image::MakeNodes() {
    Node root;
    root.kind = Entry::Kind::Folder;
    root.id = f::kRootFolderID;
    root.parent = f::kRootParentID;
    root.name = Utf16(m_o.volumeName);
    AddNode(root);
    m_liveByPath[""] = 0;

    // The folder of hard-link targets, named with four leading zero units.
    Node priv;
    priv.path = "\x01private";
    priv.id = m_nextID++;
    priv.parent = f::kRootFolderID;
    priv.name = Units{0, 0, 0, 0};
    for (u16 c : Utf16("HFS+ Private Data")) priv.name.push_back(c);
    priv.date = kDefaultDate - 3600;
    priv.finderFlags = 0x4000;  // invisible
    m_privateIndex = m_nodes.size();
    AddNode(priv);

    if (m_o.journaled) {
        for (const char* name : {".journal", ".journal_info_block"}) {
            Node j;
            j.kind = Entry::Kind::File;
            j.path = name;
            j.id = m_nextID++;
            j.parent = f::kRootFolderID;
            j.name = Utf16(name);
            j.finderFlags = 0x5000;  // invisible, name locked
            j.mode = 0100444;
            m_liveByPath[name] = m_nodes.size();
            AddNode(j);
        }
    }

    std::map<std::string, std::vector<const Entry*>> folderEntries;
    for (const Entry& e : m_entries)
        if (e.kind == Entry::Kind::Folder) folderEntries[e.path].push_back(&e);
    std::function<size_t(const std::string&, bool)> folderOf = [&](const std::string& path, bool deleted) -> size_t {
        if (path.empty()) return 0;
        auto live = m_liveByPath.find(path);
        if (live != m_liveByPath.end()) return live->second;
        if (deleted) {
            auto gone = m_deletedByPath.find(path);
            if (gone != m_deletedByPath.end()) return gone->second;
        }
        for (const Entry* found : folderEntries[path]) {
            const Entry& e = *found;
            if (e.deleted && deleted) {
                Node n;
                n.entry = &e;
                n.path = path;
                n.deleted = true;
                n.parent = m_nodes[folderOf(ParentOf(path), true)].id;
                n.id = m_nextID++;
                n.name = Utf16(NameOf(path));
                n.date = e.date;
                m_deletedByPath[path] = m_nodes.size();
                AddNode(n);
                return m_nodes.size() - 1;
            }
        }
        Node n;
        n.path = path;
        n.parent = m_nodes[folderOf(ParentOf(path), false)].id;
        n.id = m_nextID++;
        n.name = Utf16(NameOf(path));
        for (const Entry* e : folderEntries[path]) {
            if (!e->deleted) {
                n.entry = e;
                n.date = e->date;
            }
        }
        m_liveByPath[path] = m_nodes.size();
        AddNode(n);
        return m_nodes.size() - 1;
    };

    std::set<std::string> linkTargets;
    for (const Entry& e : m_entries)
        if (e.kind == Entry::Kind::HardLink) linkTargets.insert(e.linkTarget);

    std::map<std::string, u32> inodeOf;
    for (const Entry& e : m_entries) {
        if (SplitPath(e.path).empty()) Fail("empty path");
        if (e.kind == Entry::Kind::Folder) {
            folderOf(e.path, e.deleted);
            continue;
        }
        if (!e.deleted && m_liveByPath.count(e.path)) Fail("two live entries at " + e.path);
        Node n;
        n.entry = &e;
        n.kind = e.kind;
        n.path = e.path;
        n.deleted = e.deleted;
        n.parent = m_nodes[folderOf(ParentOf(e.path), e.deleted)].id;
        n.id = m_nextID++;
        n.name = Utf16(NameOf(e.path));
        n.date = e.date;
        n.mode = 0100644;
        n.pieces = std::max<u32>(1, e.extents);
        for (const auto& [name, value] : e.xattrs) n.attributes.emplace_back(Utf16(name), value);
        if (e.kind == Entry::Kind::Symlink) {
            n.data = e.data;
            n.fileType = f::file::kSymlinkType;
            n.creator = f::file::kSymlinkCreator;
            n.mode = 0120755;
        } else if (e.kind == Entry::Kind::HardLink || linkTargets.count(e.path)) {
            // Every name of a hard-linked file is a link to one indirect node in the private folder.
            const std::string target = e.kind == Entry::Kind::HardLink ? e.linkTarget : e.path;
            if (!inodeOf.count(target)) {
                const Entry* source = nullptr;
                for (const Entry& t : m_entries)
                    if (t.path == target && t.kind == Entry::Kind::File && !t.deleted) source = &t;
                if (!source) Fail("hard link to a missing file " + target);
                Node inode;
                inode.entry = source;
                inode.kind = Entry::Kind::File;
                inode.id = m_nextID++;
                inode.parent = m_nodes[m_privateIndex].id;
                inode.name = Utf16("iNode" + std::to_string(inode.id));
                inode.path = "\x01private/iNode" + std::to_string(inode.id);
                inode.data = source->data;
                inode.mode = 0100644;
                inode.date = source->date;
                inode.special = 0;
                inodeOf[target] = inode.id;
                AddNode(inode);
            }
            n.fileType = f::file::kHardLinkType;
            n.creator = f::file::kHardLinkCreator;
            n.special = inodeOf[target];
            n.date = m_nodes[m_privateIndex].date;
        } else if (e.compression) {
            const Compressed c = Compress(e.data, e.compression, e.rawStored);
            n.compressed = true;
            n.resource = c.resourceFork;
            n.attributes.emplace_back(Utf16(f::decmpfs::kAttributeName), c.attribute);
        } else {
            n.data = e.data;
            n.resource = e.resource;
        }
        if (e.deleted) {
            m_deletedByPath[e.path] = m_nodes.size();
        } else {
            m_liveByPath[e.path] = m_nodes.size();
        }
        AddNode(n);
    }
    std::map<u32, size_t> liveFolders;
    for (size_t i = 0; i < m_nodes.size(); ++i)
        if (!m_nodes[i].deleted && m_nodes[i].kind == Entry::Kind::Folder) liveFolders[m_nodes[i].id] = i;
    for (Node& n : m_nodes) {
        if (n.id == f::kRootFolderID || n.deleted) continue;
        auto parent = liveFolders.find(n.parent);
        if (parent != liveFolders.end()) ++m_nodes[parent->second].valence;
        if (n.kind == Entry::Kind::Folder)
            ++m_folderCount;
        else
            ++m_fileCount;
    }
    if (m_layout)
        for (const Node& n : m_nodes)
            if (n.entry || n.path == ".journal" || n.path == ".journal_info_block") m_layout->ids[n.path] = n.id;
}

void Image::MarkUsed(u32 first, u32 count) {
    for (u32 b = first; b < first + count; ++b) m_used[b] = true;
}

u32 Image::Take(u32 blocks, bool used) {
    const u32 first = m_cursor;
    if (u64(first) + blocks > m_o.totalBlocks) Fail("volume too small");
    m_cursor += blocks;
    if (used) MarkUsed(first, blocks);
    return first;
}

std::vector<HFSPlusExtentDescriptor> Image::Place(u64 bytes, u32 pieces, bool used) {
    std::vector<HFSPlusExtentDescriptor> out;
    const u64 blocks = (bytes + m_o.blockSize - 1) / m_o.blockSize;
    if (blocks == 0) return out;
    pieces = u32(std::min<u64>(pieces, blocks));
    u64 left = blocks;
    for (u32 i = 0; i < pieces; ++i) {
        const u32 size = u32(left / (pieces - i));
        out.push_back({Take(size, used), size});
        left -= size;
        if (i + 1 < pieces) Take(1, false);  // a gap keeps the pieces apart
    }
    return out;
}

u64 Image::ForkByte(const std::vector<HFSPlusExtentDescriptor>& extents, u64 offset) const {
    for (const auto& e : extents) {
        const u64 length = u64(e.blockCount) * m_o.blockSize;
        if (offset < length) return u64(e.startBlock) * m_o.blockSize + offset;
        offset -= length;
    }
    Fail("offset past a fork");
}

void Image::WriteFork(const std::vector<HFSPlusExtentDescriptor>& extents, const std::string& bytes) {
    WriteFork(extents, Bytes(bytes.begin(), bytes.end()));
}

void Image::WriteFork(const std::vector<HFSPlusExtentDescriptor>& extents, const Bytes& bytes) {
    u64 done = 0;
    for (const auto& e : extents) {
        const u64 length = std::min<u64>(u64(e.blockCount) * m_o.blockSize, bytes.size() - done);
        std::copy_n(bytes.begin() + done, length, m_image.begin() + u64(e.startBlock) * m_o.blockSize);
        done += length;
        if (done == bytes.size()) break;
    }
}

u32 Image::TreeNodes(const std::vector<TreeRecord>& records, const TreeShape& shape) const {
    const u32 needed = CountNodes(records, shape) + m_o.spareNodes;
    const u64 bytes = u64(needed) * shape.nodeSize;
    const u64 blocks = (bytes + m_o.blockSize - 1) / m_o.blockSize;
    return u32(blocks * m_o.blockSize / shape.nodeSize);
}

void Image::OverflowRecords(std::vector<TreeRecord>& out, u32 fileID, u8 forkType,
                            const std::vector<HFSPlusExtentDescriptor>& extents) const {
    u32 placed = 0;
    for (size_t i = 0; i < extents.size(); ++i) {
        if (i >= 8 && i % 8 == 0) {
            TreeRecord r;
            r.key = ExtentKey(fileID, forkType, placed);
            r.data.assign(f::extent::kRecordSize, 0);
            for (size_t k = 0; k < 8 && i + k < extents.size(); ++k) {
                Be32(r.data, k * 8, extents[i + k].startBlock);
                Be32(r.data, k * 8 + 4, extents[i + k].blockCount);
            }
            r.sort.fileID = fileID;
            r.sort.forkType = forkType;
            r.sort.startBlock = placed;
            out.push_back(std::move(r));
        }
        placed += extents[i].blockCount;
    }
}

void Image::ForkData(Bytes& out, size_t at, u64 logicalSize, const std::vector<HFSPlusExtentDescriptor>& extents) const {
    u32 blocks = 0;
    for (const auto& e : extents) blocks += e.blockCount;
    Be64(out, at + f::fork::kLogicalSize, logicalSize);
    Be32(out, at + f::fork::kTotalBlocks, blocks);
    for (size_t i = 0; i < extents.size() && i < 8; ++i) {
        Be32(out, at + f::fork::kExtents + 8 * i, extents[i].startBlock);
        Be32(out, at + f::fork::kExtents + 8 * i + 4, extents[i].blockCount);
    }
}

void Image::CatalogRecords(const Node& n, std::vector<TreeRecord>& out, u32 shortBy) const {
    TreeRecord record;
    record.key = CatalogKey(n.parent, n.name);
    record.sort = CatalogSortKey(n.parent, n.name);
    TreeRecord thread;
    thread.key = CatalogKey(n.id, {});
    thread.sort = CatalogSortKey(n.id, {});
    thread.data.assign(f::thread::kName + 2 * n.name.size(), 0);
    Be32(thread.data, f::thread::kParentID, n.parent);
    Be16(thread.data, f::thread::kNameLength, u16(n.name.size()));
    for (size_t i = 0; i < n.name.size(); ++i) Be16(thread.data, f::thread::kName + 2 * i, n.name[i]);
    if (n.kind == Entry::Kind::Folder) {
        Bytes& d = record.data;
        d.assign(f::folder::kSize, 0);
        Be16(d, f::catrec::kRecordType, f::catrec::kFolder);
        Be32(d, f::folder::kValence, n.valence);
        Be32(d, f::folder::kFolderID, n.id);
        for (size_t at : {f::folder::kCreateDate, f::folder::kContentModDate, f::folder::kAttributeModDate,
                          f::folder::kAccessDate})
            Be32(d, at, n.date);
        Be16(d, f::folder::kPermissions + f::bsd::kFileMode, 040755);
        Be16(d, f::folder::kUserInfo + 8, n.finderFlags);
        Be16(thread.data, f::catrec::kRecordType, f::catrec::kFolderThread);
    } else {
        Bytes& d = record.data;
        d.assign(f::file::kSize, 0);
        Be16(d, f::catrec::kRecordType, f::catrec::kFile);
        Be16(d, f::file::kFlags, 0x0002);  // a thread record exists
        Be32(d, f::file::kFileID, n.id);
        for (size_t at : {f::file::kCreateDate, f::file::kContentModDate, f::file::kAttributeModDate, f::file::kAccessDate})
            Be32(d, at, n.date);
        d[f::file::kPermissions + f::bsd::kOwnerFlags] = n.compressed ? f::bsd::kCompressedFlag : 0;
        Be16(d, f::file::kPermissions + f::bsd::kFileMode, n.mode);
        Be32(d, f::file::kPermissions + f::bsd::kSpecial, n.special);
        Be32(d, f::file::kFileType, n.fileType);
        Be32(d, f::file::kFileCreator, n.creator);
        Be16(d, f::file::kFinderFlags, n.finderFlags);
        const u64 dataSize = n.data.size() >= shortBy ? n.data.size() - shortBy : 0;
        ForkData(d, f::file::kDataFork, dataSize, n.dataExtents);
        ForkData(d, f::file::kResourceFork, n.resource.size(), n.resourceExtents);
        Be16(thread.data, f::catrec::kRecordType, f::catrec::kFileThread);
    }
    out.push_back(std::move(record));
    out.push_back(std::move(thread));
}

std::vector<TreeRecord> Image::Sorted(std::vector<TreeRecord> records, int tree) const {
    const u8 order = CatalogShape().keyCompareType;
    std::stable_sort(records.begin(), records.end(), [&](const TreeRecord& a, const TreeRecord& b) {
        if (tree == 4) return CHFSPlusCatalog::CompareKey(a.sort, b.sort, order) < 0;
        if (tree == 3) return CHFSPlusExtents::CompareKey(a.sort, b.sort) < 0;
        if (int o = CHFSPlusAttribute::CompareKey(a.sort, b.sort)) return o < 0;
        return a.sort.startBlock < b.sort.startBlock;
    });
    for (size_t i = 1; i < records.size(); ++i) {
        const bool same = tree == 4   ? CHFSPlusCatalog::CompareKey(records[i - 1].sort, records[i].sort, order) == 0
                          : tree == 3 ? CHFSPlusExtents::CompareKey(records[i - 1].sort, records[i].sort) == 0
                                      : records[i - 1].key == records[i].key;
        if (same) Fail("two records with one key");
    }
    return records;
}

void Image::Allocate() {
    m_used.assign(m_o.totalBlocks, false);
    const u64 total = u64(m_o.totalBlocks) * m_o.blockSize;
    const u32 reserved = u32((f::kVolumeHeaderOffset + f::kVolumeHeaderSize + m_o.blockSize - 1) / m_o.blockSize);
    Take(reserved, true);
    // The alternate header: the last 1024 bytes of the volume.
    const u32 altFirst = u32((total - 1024) / m_o.blockSize);
    MarkUsed(altFirst, m_o.totalBlocks - altFirst);

    // Sizes of the trees first: record sizes do not depend on where forks land.
    std::vector<TreeRecord> catalog, attributes, extents;
    for (const Node& n : m_nodes) {
        if (n.deleted) continue;
        CatalogRecords(n, catalog);
        for (const auto& [name, value] : n.attributes) {
            TreeRecord r;
            r.key = AttributeKey(n.id, name);
            r.data.assign(f::attrrec::kInlineHeaderSize + value.size(), 0);
            attributes.push_back(std::move(r));
        }
        for (u32 i = 8; i < n.pieces; i += 8) extents.push_back({ExtentKey(0, 0, 0), Bytes(f::extent::kRecordSize, 0), {}});
    }
    for (u64 i = 8; i < m_o.catalogExtents; i += 8) extents.push_back({ExtentKey(0, 0, 0), Bytes(f::extent::kRecordSize, 0), {}});
    m_catalogNodes = TreeNodes(Sorted(catalog, 4), CatalogShape());
    m_extentsNodes = TreeNodes(extents, ExtentsShape());
    m_attributesNodes = TreeNodes(attributes, AttributesShape());
    if (!attributes.empty() && !m_o.attributesFile) Fail("attributes without an attributes file");

    const u64 bitmapBytes = (u64(m_o.totalBlocks) + 7) / 8;
    m_bitmap = Place(bitmapBytes, 1, true);
    m_extentsFile = Place(u64(m_extentsNodes) * m_o.extentsNodeSize, 1, true);
    m_catalogFile = Place(u64(m_catalogNodes) * m_o.catalogNodeSize, m_o.catalogExtents, true);
    if (m_o.catalogExtents > 1 && m_catalogFile.size() != m_o.catalogExtents) Fail("catalog too small for its extents");
    if (m_o.attributesFile) m_attributesFile = Place(u64(m_attributesNodes) * m_o.attributesNodeSize, 1, true);
    if (m_o.journaled) {
        m_journalInfoBlock = Take(1, true);
        m_journal = Place(m_o.journalSize, 1, true);
        m_nodes[m_liveByPath.at(".journal_info_block")].dataExtents = {{m_journalInfoBlock, 1}};
        m_nodes[m_liveByPath.at(".journal_info_block")].data.assign(m_o.blockSize, '\0');
        m_nodes[m_liveByPath.at(".journal")].dataExtents = m_journal;
        m_nodes[m_liveByPath.at(".journal")].data.assign(m_o.journalSize, '\0');
    }
    for (Node& n : m_nodes) {
        if (n.kind == Entry::Kind::Folder || n.path == ".journal" || n.path == ".journal_info_block") continue;
        const u32 dataPieces = n.resource.empty() || !n.compressed ? n.pieces : 1;
        n.dataExtents = Place(n.data.size(), dataPieces, !n.deleted);
        n.resourceExtents = Place(n.resource.size(), n.compressed ? n.pieces : 1, !n.deleted);
        if (n.pieces > 1 && std::max(n.dataExtents.size(), n.resourceExtents.size()) != n.pieces)
            Fail("fork too short for its extents: " + n.path);
    }
    if (m_cursor > altFirst) Fail("volume too small");
}

void Image::WriteTree(const BuiltTree& tree, const std::vector<HFSPlusExtentDescriptor>& extents, u32 nodeSize) {
    Bytes bytes;
    for (const Bytes& node : tree.nodes) bytes.insert(bytes.end(), node.begin(), node.end());
    WriteFork(extents, bytes);
    (void)nodeSize;
}

void Image::WriteJournal() {
    if (!m_o.journaled) return;
    const u64 journalByte = u64(m_journal.front().startBlock) * m_o.blockSize;
    Bytes journal(m_o.journalSize, 0);
    const TreeShape catalogShape = CatalogShape();

    u32 copies = 1;
    for (const Node& n : m_nodes)
        if (n.deleted && n.entry) copies = std::max(copies, n.entry->journalCopies);

    std::set<u32> deletedParents;
    for (const Node& n : m_nodes)
        if (n.deleted) deletedParents.insert(n.parent);

    u64 position = m_o.jhdrSize;
    if (m_layout) m_layout->firstTransaction = position;
    for (u32 copy = 0; copy < copies; ++copy) {
        // Old catalog leaves: the deleted entries' records, and live files sharing their folders (the
        // catalog still holds those under the same ID).
        std::vector<TreeRecord> oldCatalog;
        for (const Node& n : m_nodes) {
            if (n.deleted) {
                const u32 later = n.entry ? n.entry->journalCopies - 1 : 0;
                const u32 shortBy = copy + later >= copies - 1 ? 0 : copies - 1 - copy - later;
                CatalogRecords(n, oldCatalog, shortBy);
            }
        }
        for (const Node& n : m_nodes) {
            if (n.deleted || n.kind != Entry::Kind::File || !deletedParents.count(n.parent) || !n.entry) continue;
            std::vector<TreeRecord> both;
            CatalogRecords(n, both);
            // A name that a deleted file had keeps the deleted file's record in this copy.
            const bool taken = std::any_of(oldCatalog.begin(), oldCatalog.end(),
                                           [&](const TreeRecord& r) { return r.key == both.front().key; });
            if (!taken) oldCatalog.push_back(std::move(both.front()));
        }
        std::vector<std::pair<u64, Bytes>> blocks;  // volume byte of the node the copy stands for, bytes
        auto addLeaves = [&](std::vector<TreeRecord> records, int tree, const TreeShape& shape,
                             const std::vector<HFSPlusExtentDescriptor>& file) {
            if (records.empty()) return;
            records = Sorted(std::move(records), tree);
            std::vector<size_t> sizes;
            for (const auto& r : records) sizes.push_back(RecordBytes(r));
            for (const auto& [first, last] : Pack(sizes, shape.nodeSize, shape.maxLeafRecords)) {
                std::vector<Bytes> recs;
                for (size_t i = first; i < last; ++i) {
                    Bytes r = records[i].key;
                    r.insert(r.end(), records[i].data.begin(), records[i].data.end());
                    recs.push_back(std::move(r));
                }
                blocks.emplace_back(ForkByte(file, shape.nodeSize), MakeNode(shape.nodeSize, f::node::kKindLeaf, 1, 0, 0, recs));
            }
        };
        addLeaves(oldCatalog, 4, catalogShape, m_catalogFile);
        addLeaves(m_oldExtents, 3, ExtentsShape(), m_extentsFile);
        addLeaves(m_oldAttributes, 8, AttributesShape(), m_attributesFile);

        const u32 maxBlocks = m_o.blhdrSize / f::blhdr::kEntrySize - 1;
        if (blocks.size() + 1 > maxBlocks) Fail("too many journal blocks");
        Bytes list(m_o.blhdrSize, 0);
        ByteWriter l(list);
        u32 used = m_o.blhdrSize;
        for (const auto& b : blocks) used += u32(b.second.size());
        l.Le16(f::blhdr::kMaxBlocks, u16(maxBlocks));
        l.Le16(f::blhdr::kNumBlocks, u16(blocks.size() + 1));
        l.Le32(f::blhdr::kBytesUsed, used);
        for (size_t i = 0; i < blocks.size(); ++i) {
            const size_t e = f::blhdr::kEntries + (i + 1) * f::blhdr::kEntrySize;
            l.Le64(e + f::blhdr::kEntryBnum, blocks[i].first / m_o.jhdrSize);
            l.Le32(e + f::blhdr::kEntryBsize, u32(blocks[i].second.size()));
        }
        if (position + used > m_o.journalSize) Fail("journal too small");
        std::copy(list.begin(), list.end(), journal.begin() + position);
        position += list.size();
        for (const auto& b : blocks) {
            std::copy(b.second.begin(), b.second.end(), journal.begin() + position);
            position += b.second.size();
        }
    }
    // An empty journal: start and end meet after the last transaction, so all of it is old.
    ByteWriter h(journal);
    h.Le32(f::jhdr::kMagic, f::jhdr::kMagicValue);
    h.Le32(f::jhdr::kEndian, f::jhdr::kEndianValue);
    h.Le64(f::jhdr::kStart, position);
    h.Le64(f::jhdr::kEnd, position);
    h.Le64(f::jhdr::kSize, m_o.journalSize);
    h.Le32(f::jhdr::kBlhdrSize, m_o.blhdrSize);
    h.Le32(f::jhdr::kJhdrSize, m_o.jhdrSize);
    WriteFork(m_journal, journal);

    // The formatter fills the block after the 180 bytes of the record with 0xDB.
    Bytes info(m_o.blockSize, 0);
    std::fill(info.begin() + f::jib::kRecordSize, info.end(), u8(0xDB));
    Be32(info, f::jib::kFlags, f::jib::kJournalInFS);
    Be64(info, f::jib::kOffset, journalByte);
    Be64(info, f::jib::kSize, m_o.journalSize);
    std::copy(info.begin(), info.end(), m_image.begin() + u64(m_journalInfoBlock) * m_o.blockSize);
    if (m_layout) {
        m_layout->journalByte = journalByte;
        m_layout->journalSize = m_o.journalSize;
        m_layout->journalInfoByte = u64(m_journalInfoBlock) * m_o.blockSize;
    }
}

void Image::WriteHeaders() {
    u32 freeBlocks = 0;
    for (bool used : m_used) freeBlocks += used ? 0 : 1;
    Bytes bitmap((u64(m_o.totalBlocks) + 7) / 8, 0);
    for (u32 b = 0; b < m_o.totalBlocks; ++b)
        if (m_used[b]) bitmap[b / 8] |= u8(0x80 >> (b % 8));
    WriteFork(m_bitmap, bitmap);

    Bytes h(f::kVolumeHeaderSize, 0);
    Be16(h, f::vh::kSignature, m_o.hfsx ? f::kSignatureHFSX : f::kSignatureHFSPlus);
    Be16(h, f::vh::kVersion, m_o.hfsx ? 5 : 4);
    Be32(h, f::vh::kAttributes, f::kVolumeUnmountedBit | (m_o.journaled ? f::kVolumeJournaledBit : 0));
    Be32(h, f::vh::kLastMountedVersion, m_o.journaled ? 0x4846534A : 0x31302E30);  // "HFSJ", "10.0"
    Be32(h, f::vh::kJournalInfoBlock, m_journalInfoBlock);
    for (size_t at : {f::vh::kCreateDate, f::vh::kModifyDate, f::vh::kCheckedDate}) Be32(h, at, kDefaultDate);
    Be32(h, f::vh::kFileCount, m_fileCount);
    Be32(h, f::vh::kFolderCount, m_folderCount);
    Be32(h, f::vh::kBlockSize, m_o.blockSize);
    Be32(h, f::vh::kTotalBlocks, m_o.totalBlocks);
    Be32(h, f::vh::kFreeBlocks, freeBlocks);
    Be32(h, f::vh::kNextAllocation, m_cursor);
    Be32(h, f::vh::kRsrcClumpSize, 65536);
    Be32(h, f::vh::kDataClumpSize, 65536);
    Be32(h, f::vh::kNextCatalogID, m_nextID);
    Be32(h, f::vh::kWriteCount, 1);
    Be64(h, f::vh::kEncodingsBitmap, 1);
    Be32(h, f::vh::kFinderInfo + 24, u32(m_o.volumeIdentifier >> 32));
    Be32(h, f::vh::kFinderInfo + 28, u32(m_o.volumeIdentifier));
    ForkData(h, f::vh::kAllocationFile, bitmap.size(), m_bitmap);
    ForkData(h, f::vh::kExtentsFile, u64(m_extentsNodes) * m_o.extentsNodeSize, m_extentsFile);
    ForkData(h, f::vh::kCatalogFile, u64(m_catalogNodes) * m_o.catalogNodeSize, m_catalogFile);
    if (m_o.attributesFile) ForkData(h, f::vh::kAttributesFile, u64(m_attributesNodes) * m_o.attributesNodeSize, m_attributesFile);
    for (size_t fork : {f::vh::kAllocationFile, f::vh::kExtentsFile, f::vh::kCatalogFile, f::vh::kAttributesFile})
        Be32(h, fork + f::fork::kClumpSize, ByteReader(h).Be32(fork + f::fork::kTotalBlocks).value_or(0) * m_o.blockSize);
    std::copy(h.begin(), h.end(), m_image.begin() + f::kVolumeHeaderOffset);
    std::copy(h.begin(), h.end(), m_image.end() - 1024);
}

Bytes Image::Build() {
    Check();
    m_image.assign(u64(m_o.totalBlocks) * m_o.blockSize, 0);
    MakeNodes();
    Allocate();

    // Forks and their overflow records.
    for (Node& n : m_nodes) {
        if (n.kind == Entry::Kind::Folder) continue;
        if (n.path != ".journal" && n.path != ".journal_info_block") {
            WriteFork(n.dataExtents, n.data);
            WriteFork(n.resourceExtents, n.resource);
        }
        auto& overflow = n.deleted ? m_oldExtents : m_extents;
        OverflowRecords(overflow, n.id, f::extkey::kDataFork, n.dataExtents);
        OverflowRecords(overflow, n.id, f::extkey::kResourceFork, n.resourceExtents);
        auto& attrs = n.deleted ? m_oldAttributes : m_attributes;
        for (const auto& [name, value] : n.attributes) {
            TreeRecord r;
            r.key = AttributeKey(n.id, name);
            r.data.assign(f::attrrec::kInlineHeaderSize, 0);
            Be32(r.data, f::attrrec::kRecordType, f::attrrec::kInlineData);
            Be32(r.data, f::attrrec::kAttrSize, u32(value.size()));
            r.data.insert(r.data.end(), value.begin(), value.end());
            r.sort.fileID = n.id;
            r.sort.nameLength = u16(name.size());
            std::copy(name.begin(), name.end(), r.sort.name.begin());
            attrs.push_back(std::move(r));
        }
    }
    OverflowRecords(m_extents, f::kCatalogFileID, f::extkey::kDataFork, m_catalogFile);
    for (const Node& n : m_nodes)
        if (!n.deleted) CatalogRecords(n, m_catalog);

    const BuiltTree catalog = BuildTree(Sorted(m_catalog, 4), CatalogShape(), m_catalogNodes);
    WriteTree(catalog, m_catalogFile, m_o.catalogNodeSize);
    const BuiltTree extents = BuildTree(Sorted(m_extents, 3), ExtentsShape(), m_extentsNodes);
    WriteTree(extents, m_extentsFile, m_o.extentsNodeSize);
    if (m_o.attributesFile) {
        const BuiltTree attributes = BuildTree(Sorted(m_attributes, 8), AttributesShape(), m_attributesNodes);
        WriteTree(attributes, m_attributesFile, m_o.attributesNodeSize);
    }
    WriteJournal();
    WriteHeaders();
    if (m_layout) {
        m_layout->imageSize = m_image.size();
        m_layout->catalogByte = u64(m_catalogFile.front().startBlock) * m_o.blockSize;
        m_layout->catalogNodeSize = m_o.catalogNodeSize;
        m_layout->catalogRoot = catalog.root;
        m_layout->catalogLeaves = catalog.leaves;
        m_layout->catalogIndexNodes = catalog.index;
        m_layout->extentsByte = u64(m_extentsFile.front().startBlock) * m_o.blockSize;
        if (!m_attributesFile.empty()) m_layout->attributesByte = u64(m_attributesFile.front().startBlock) * m_o.blockSize;
    }
    return std::move(m_image);
}

}  // namespace

std::vector<u8> Writer::Build(Layout* layout) const {
    if (layout) *layout = Layout{};
    Image image(m_options, m_entries, layout);
    return image.Build();
}

}  // namespace testsupport::hfs
