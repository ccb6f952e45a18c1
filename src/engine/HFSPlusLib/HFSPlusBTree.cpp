#include "engine/HFSPlusLib/HFSPlusBTree.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <unordered_set>
#include <vector>

#include "engine/Common/DebugChannel.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/HFSPlusLib/FastUnicodeCompare.h"
#include "engine/HFSPlusLib/HFSPlusFileNode.h"
#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"
#include "engine/HFSPlusLib/HFSPlusRawfile.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"

using namespace hfsplus;

namespace {

int Order(u64 a, u64 b) { return a < b ? -1 : (a > b ? 1 : 0); }

BTKeyPtr NewKey() { return BTKeyPtr(new (std::nothrow) BTKey); }
BTRecordPtr NewRecord() { return BTRecordPtr(new (std::nothrow) BTRecord); }

}  // namespace

// ---- option base -------------------------------------------------------------------------------

CHFSPlusBTreeOptionBase::CHFSPlusBTreeOptionBase(CHFSPlusVolume* volume, CHFSPlusRawfile* file)
    : m_volume(volume), m_file(file), m_status(kNotReady) {
    if (!volume || !file) {
        m_status = HFSPLUS_FAIL(kKindNullArgument);
        return;
    }
    m_nodeSize = PreGetNodeSize(file);
    if (m_nodeSize == 0) return;
    m_headerNode = CreateNode(0);
    if (!m_headerNode) return;
    const auto record = m_headerNode->GetRecord(0);
    BTHeaderRec headerRec;
    if (!record || !DecodeHeaderRec(*record, headerRec)) {
        m_status = HFSPLUS_FAIL(kKindBadData);
        return;
    }
    m_headerRec = headerRec;
    m_status = 0;
}

CHFSPlusBTreeOptionBase::~CHFSPlusBTreeOptionBase() = default;

void CHFSPlusBTreeOptionBase::CreateTree() {
    if (result::IsFailure(m_status)) return;
    m_tree.reset(new (std::nothrow) CHFSPlusBTree(m_volume, this));
    if (!m_tree) m_status = HFSPLUS_FAIL(kKindNoMemory);
}

u16 CHFSPlusBTreeOptionBase::PreGetNodeSize(CHFSPlusRawfile* file) {
    u8 first[node::kMinNodeSize];
    if (!file || file->Read(0, first, sizeof first) != sizeof first) {
        m_status = HFSPLUS_FAIL(kKindShortRead);
        return 0;
    }
    return ByteReader(first, sizeof first).Be16(node::kDescriptorSize + header::kNodeSize).value_or(0);
}

std::optional<u32> CHFSPlusBTreeOptionBase::GetRealKeyLength(ByteReader record) {
    const auto length = record.Be16(0);
    if (!length) return std::nullopt;
    return u32(*length) + 2;
}

BTNodePtr CHFSPlusBTreeOptionBase::CreateNode(u32 nodeNumber) {
    if (!m_file || m_nodeSize == 0) {
        m_status = HFSPLUS_FAIL(kKindNotReady);
        return nullptr;
    }
    // Read whole or refused: the bytes need no zero fill before the read.
    std::unique_ptr<u8[]> bytes(new (std::nothrow) u8[m_nodeSize]);
    if (!bytes) {
        m_status = HFSPLUS_FAIL(kKindNoMemory);
        return nullptr;
    }
    if (m_file->Read(u64(nodeNumber) * m_nodeSize, bytes.get(), m_nodeSize) != m_nodeSize) {
        m_status = HFSPLUS_FAIL(kKindShortRead);
        return nullptr;
    }
    BTNodePtr node(new (std::nothrow) CHFSPlusBTNode(std::move(bytes), m_nodeSize));
    if (!node) {
        m_status = HFSPLUS_FAIL(kKindNoMemory);
        return nullptr;
    }
    if (!node->IsValid()) {
        m_status = node->GetStatus();
        return nullptr;
    }
    return node;
}

u32 CHFSPlusBTreeOptionBase::GetChild(CHFSPlusBTNode* node, u16 index) {
    if (!node || !node->IsIndex()) {
        m_status = HFSPLUS_FAIL(kKindBadData);
        return 0;
    }
    const auto record = node->GetRecord(index);
    const auto keyBytes = record ? GetRealKeyLength(*record) : std::nullopt;
    const auto child = keyBytes ? record->Be32(*keyBytes) : std::nullopt;
    if (!child) {
        m_status = HFSPLUS_FAIL(kKindBadData);
        return 0;
    }
    return *child;
}

u32 CHFSPlusBTreeOptionBase::GetRoot() {
    if (!m_headerRec) {
        m_status = HFSPLUS_QUIET(kKindNotReady);
        return 0;
    }
    return m_headerRec->rootNode;
}

std::optional<ByteReader> CHFSPlusBTreeOptionBase::RecordData(CHFSPlusBTNode* node, u16 index) {
    const auto record = node ? node->GetRecord(index) : std::nullopt;
    const auto keyBytes = record ? GetRealKeyLength(*record) : std::nullopt;
    if (!keyBytes || *keyBytes > record->size()) {
        m_status = HFSPLUS_QUIET(kKindBadData);
        return std::nullopt;
    }
    return record->From(*keyBytes);
}

BTKeyPtr CHFSPlusBTreeOptionBase::ReadKey(CHFSPlusBTNode* node, u16 index, bool (*decode)(ByteReader, BTKey&)) {
    BTKeyPtr key = NewKey();
    if (!key) {
        m_status = HFSPLUS_FAIL(kKindNoMemory);
        return nullptr;
    }
    return ReadKeyInto(node, index, decode, *key) ? std::move(key) : nullptr;
}

bool CHFSPlusBTreeOptionBase::ReadKeyInto(CHFSPlusBTNode* node, u16 index, bool (*decode)(ByteReader, BTKey&),
                                          BTKey& key) {
    const auto record = node ? node->GetRecord(index) : std::nullopt;
    if (!record || !decode(*record, key)) {
        m_status = HFSPLUS_QUIET(kKindBadData);
        return false;
    }
    return true;
}

BTRecordPtr CHFSPlusBTreeOptionBase::ReadData(CHFSPlusBTNode* node, u16 index, bool (*decode)(ByteReader, BTRecord&),
                                              u64 undecodable) {
    BTRecordPtr record = NewRecord();
    if (!record) {
        m_status = HFSPLUS_FAIL(kKindNoMemory);
        return nullptr;
    }
    return ReadDataInto(node, index, decode, undecodable, *record) ? std::move(record) : nullptr;
}

bool CHFSPlusBTreeOptionBase::ReadDataInto(CHFSPlusBTNode* node, u16 index, bool (*decode)(ByteReader, BTRecord&),
                                           u64 undecodable, BTRecord& record) {
    const auto data = RecordData(node, index);
    if (!data) return false;
    if (!decode(*data, record)) {
        m_status = undecodable;
        return false;
    }
    return true;
}

u64 CHFSPlusBTreeOptionBase::Search(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record) {
    if (!m_tree) return HFSPLUS_QUIET(kKindNotReady);
    return m_tree->Search(key, result, record);
}

void CHFSPlusBTreeOptionBase::KeepSearchedNodes(bool keep) {
    if (m_tree) m_tree->KeepSearchedNodes(keep);
}

u64 CHFSPlusBTreeOptionBase::Traverse(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress,
                                      std::vector<u32>* listedLeaves) {
    if (!m_tree) return HFSPLUS_QUIET(kKindNotReady);
    return m_tree->Traverse(builder, progress, listedLeaves);
}

// ---- catalog -----------------------------------------------------------------------------------

CHFSPlusCatalog::CHFSPlusCatalog(CHFSPlusVolume* volume, CHFSPlusRawfile* file) : CHFSPlusBTreeOptionBase(volume, file) {
    CreateTree();
}

int CHFSPlusCatalog::CompareKey(const BTKey& a, const BTKey& b, u8 keyCompareType) {
    if (a.parentID != b.parentID) return a.parentID < b.parentID ? -1 : 1;
    const u16 la = std::min<u16>(a.nameLength, catkey::kMaxNameUnits);
    const u16 lb = std::min<u16>(b.nameLength, catkey::kMaxNameUnits);
    if (keyCompareType == header::kCaseFolding) return FastUnicodeCompare(a.name.data(), la, b.name.data(), lb);
    return BinaryUnicodeCompare(a.name.data(), la, b.name.data(), lb);
}

int CHFSPlusCatalog::Compare(const BTKey& a, const BTKey& b) {
    return CompareKey(a, b, m_volume ? m_volume->GetKeyCompareType() : 0);
}

BTKeyPtr CHFSPlusCatalog::KeyRead(CHFSPlusBTNode* node, u16 index) { return ReadKey(node, index, DecodeCatalogKey); }

namespace {
bool DecodeCatalogData(ByteReader data, BTRecord& r) { return DecodeCatalogRecord(data, r.catalog); }
}  // namespace

BTRecordPtr CHFSPlusCatalog::DataRead(CHFSPlusBTNode* node, u16 index) {
    if (!node || !node->IsLeaf()) {
        m_status = HFSPLUS_FAIL(kKindBadData);
        return nullptr;
    }
    return ReadData(node, index, DecodeCatalogData, HFSPLUS_QUIET(kKindBadData));
}

bool CHFSPlusCatalog::KeyReadInto(CHFSPlusBTNode* node, u16 index, BTKey& key) {
    return ReadKeyInto(node, index, DecodeCatalogKey, key);
}

bool CHFSPlusCatalog::DataReadInto(CHFSPlusBTNode* node, u16 index, BTRecord& record) {
    if (!node || !node->IsLeaf()) {
        m_status = HFSPLUS_FAIL(kKindBadData);
        return false;
    }
    return ReadDataInto(node, index, DecodeCatalogData, HFSPLUS_QUIET(kKindBadData), record);
}

bool CHFSPlusCatalog::ListedDataReadInto(CHFSPlusBTNode* node, u16 index, BTRecord& record) {
    if (!node || !node->IsLeaf()) return DataReadInto(node, index, record);
    // A record whose bytes are not there fails here as DataReadInto fails (same status).
    const auto data = RecordData(node, index);
    if (!data) return false;
    const auto type = data->Be16(catrec::kRecordType);
    if (!type || (*type != catrec::kFolderThread && *type != catrec::kFileThread)) {
        // Decoded from the bytes at hand, as DataReadInto would decode them.
        if (DecodeCatalogData(*data, record)) return true;
        m_status = HFSPLUS_QUIET(kKindBadData);
        return false;
    }
    if (!CatalogThreadDecodes(*data)) {
        m_status = HFSPLUS_QUIET(kKindBadData);
        return false;
    }
    record.catalog.recordType = *type;
    return true;
}

// ---- extents -----------------------------------------------------------------------------------

CHFSPlusExtents::CHFSPlusExtents(CHFSPlusVolume* volume, CHFSPlusRawfile* file) : CHFSPlusBTreeOptionBase(volume, file) {
    CreateTree();
}

int CHFSPlusExtents::CompareKey(const BTKey& a, const BTKey& b) {
    if (int o = Order(a.fileID, b.fileID)) return o;
    if (int o = Order(a.forkType, b.forkType)) return o;
    return Order(a.startBlock, b.startBlock);
}

BTKeyPtr CHFSPlusExtents::KeyRead(CHFSPlusBTNode* node, u16 index) { return ReadKey(node, index, DecodeExtentKey); }

BTRecordPtr CHFSPlusExtents::DataRead(CHFSPlusBTNode* node, u16 index) {
    if (!node || !node->IsLeaf()) {
        m_status = HFSPLUS_FAIL(kKindReadFailed);
        return nullptr;
    }
    const auto record = node->GetRecord(index);
    BTRecordPtr out = NewRecord();
    if (!out) {
        m_status = HFSPLUS_FAIL(kKindNoMemory);
        return nullptr;
    }
    if (!record || !DecodeExtentRecord(*record, extkey::kSize, out->extents)) {
        m_status = HFSPLUS_QUIET(kKindBadData);
        return nullptr;
    }
    return out;
}

// ---- attributes --------------------------------------------------------------------------------

CHFSPlusAttribute::CHFSPlusAttribute(CHFSPlusVolume* volume, CHFSPlusRawfile* file) : CHFSPlusBTreeOptionBase(volume, file) {
    CreateTree();
}

int CHFSPlusAttribute::CompareKey(const BTKey& a, const BTKey& b) {
    if (int o = Order(a.fileID, b.fileID)) return o;
    const u16 common = std::min(a.nameLength, b.nameLength);
    for (u16 i = 0; i < common; ++i) {
        if (a.name[i] != b.name[i]) return a.name[i] < b.name[i] ? -1 : 1;
    }
    return Order(a.nameLength, b.nameLength);
}

BTKeyPtr CHFSPlusAttribute::KeyRead(CHFSPlusBTNode* node, u16 index) { return ReadKey(node, index, DecodeAttributeKey); }

BTRecordPtr CHFSPlusAttribute::DataRead(CHFSPlusBTNode* node, u16 index) {
    if (!node || !node->IsLeaf()) {
        m_status = HFSPLUS_FAIL(kKindBadData);
        return nullptr;
    }
    // Another record type gives no record, and no failure.
    return ReadData(node, index, [](ByteReader data, BTRecord& r) { return DecodeAttributeRecord(data, r.attribute); },
                    0);
}

void CHFSPlusAttribute::KeyPrint(const BTKey& key) {
    std::string name;
    for (u16 i = 0; i < key.nameLength && i < key.name.size(); ++i) {
        const char c = static_cast<char>(key.name[i] & 0xFF);
        if (c != '\r') name += c;
    }
    EngineDebug("keyLength:%u\tfileID:%u\tstartBlock:%u\tName:%s", key.keyLength, key.fileID, key.startBlock,
                name.c_str());
}

void CHFSPlusAttribute::DataPrint(const BTRecord&) {}

// ---- tree --------------------------------------------------------------------------------------

CHFSPlusBTree::CHFSPlusBTree(CHFSPlusVolume* volume, IHFSPlusBTreeOption* option)
    : m_volume(volume), m_option(option), m_status(kNotReady) {
    m_status = (!volume || !option) ? HFSPLUS_FAIL(kKindNullArgument) : 0;
}

u64 CHFSPlusBTree::Search(const BTKey& key, HFSPlusSearchResult& result, BTRecordPtr* record) {
    if (!m_option) return HFSPLUS_FAIL(kKindNotReady);
    if (record) record->reset();
    u32 n = m_option->GetRoot();
    if (n == 0) return m_option->GetLastError();
    result = HFSPlusSearchResult{};
    std::vector<u32> path;
    for (;;) {
        // A child that is itself or one of the nodes above it would loop for ever.
        if (path.size() >= kMaxDepth || std::find(path.begin(), path.end(), n) != path.end())
            return m_status = HFSPLUS_FAIL(kKindBadData);
        path.push_back(n);
        BTNodePtr read;
        const KeptNode* kept = nullptr;
        if (m_keep) {
            kept = Kept(n);
            // Without memory to keep it, the node is read as by the plain search.
            if (!kept && m_keep) return m_option->GetLastError();
        }
        if (!kept) {
            read = m_option->CreateNode(n);
            if (!read) return m_option->GetLastError();
        }
        CHFSPlusBTNode* node = kept ? kept->node.get() : read.get();
        const u16 count = node->GetRecordCount();
        u16 first = count;  // first record whose key is not below the search key
        int order = 1;
        if (kept) {
            const auto& keys = kept->keys;
            size_t at = keys.size();
            if (kept->ascending) {
                at = size_t(std::lower_bound(keys.begin(), keys.end(), key,
                                             [this](const BTKey& a, const BTKey& b) {
                                                 return m_option->Compare(a, b) < 0;
                                             }) -
                            keys.begin());
                if (at < keys.size()) order = m_option->Compare(keys[at], key);
            } else {
                for (at = 0; at < keys.size(); ++at) {
                    order = m_option->Compare(keys[at], key);
                    if (order >= 0) break;
                }
            }
            if (at < keys.size()) {
                first = u16(at);
            } else if (keys.size() < count) {
                // The plain search reads on to the key that does not decode, and fails there.
                if (!m_option->KeyRead(node, u16(keys.size()))) return m_option->GetLastError();
                return m_status = HFSPLUS_QUIET(kKindBadData);
            }
        } else {
            for (u16 i = 0; i < count; ++i) {
                BTKeyPtr recordKey = m_option->KeyRead(node, i);
                if (!recordKey) return m_option->GetLastError();
                order = m_option->Compare(*recordKey, key);
                if (order >= 0) {
                    first = i;
                    break;
                }
            }
        }
        if (node->IsIndex()) {
            u32 j = first == count ? count : (order == 0 ? u32(first) + 1 : first);
            // A key below every key of the node goes down the first child.
            const u16 child = u16(std::max<u32>(j, 1) - 1);
            if (count == 0) return m_status = HFSPLUS_FAIL(kKindBadData);
            n = m_option->GetChild(node, child);
            if (n == 0) return m_option->GetLastError();
            continue;
        }
        if (!node->IsLeaf()) return m_status = HFSPLUS_FAIL(kKindBadData);
        if (first == count) return m_status = 0;
        result.nodeNumber = n;
        result.recordIndex = first;
        if (order != 0) return m_status = 0;
        result.found = 1;
        if (record) {
            *record = m_option->DataRead(node, first);
            if (!*record) {
                result.found = 0;
                return m_option->GetLastError() ? m_option->GetLastError() : HFSPLUS_QUIET(kKindBadData);
            }
        }
        return m_status = 0;
    }
}

void CHFSPlusBTree::KeepSearchedNodes(bool keep) {
    m_keep = keep;
    m_kept.clear();
    m_keptKeys = 0;
}

const CHFSPlusBTree::KeptNode* CHFSPlusBTree::Kept(u32 n) {
    if (auto it = m_kept.find(n); it != m_kept.end()) return &it->second;
    KeptNode kept;
    kept.node = m_option->CreateNode(n);
    if (!kept.node) return nullptr;
    const u16 count = kept.node->GetRecordCount();
    if (m_keptKeys + count > kMaxKeptKeys) {
        m_kept.clear();
        m_keptKeys = 0;
    }
    try {
        kept.keys.reserve(count);
        for (u16 i = 0; i < count; ++i) {
            kept.keys.emplace_back();
            if (!m_option->KeyReadInto(kept.node.get(), i, kept.keys.back())) {
                kept.keys.pop_back();
                break;
            }
        }
        kept.ascending = true;
        for (size_t i = 1; i < kept.keys.size() && kept.ascending; ++i)
            kept.ascending = m_option->Compare(kept.keys[i - 1], kept.keys[i]) <= 0;
        m_keptKeys += kept.keys.size();
        return &m_kept.emplace(n, std::move(kept)).first->second;
    } catch (const std::bad_alloc&) {
        KeepSearchedNodes(false);
        return nullptr;
    }
}

struct CHFSPlusBTree::WalkState {
    IDirecotryTreeBuilder* builder;
    CHFSPlusQuickFileSystemSearchProgress* progress;
    std::unordered_set<u32> visited;
    std::vector<u32>* listedLeaves;
};

u64 CHFSPlusBTree::Traverse(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress,
                            std::vector<u32>* listedLeaves) {
    if (!m_option) return HFSPLUS_FAIL(kKindNotReady);
    const u32 root = m_option->GetRoot();
    if (root == 0) return m_option->GetLastError();
    WalkState state{builder, progress, {}, listedLeaves};
    return m_status = Walk(state, root, 0);
}

u64 CHFSPlusBTree::Walk(WalkState& state, u32 nodeNumber, u32 depth) {
    if (state.progress && !state.progress->Continued()) return HFSPLUS_FAIL(kKindStopped);
    // Each node is walked once and the depth is bounded: a child pointing to itself, to a node above it
    // or to a node already walked is damage, not more files.
    if (depth >= kMaxDepth || !state.visited.insert(nodeNumber).second) return HFSPLUS_FAIL(kKindBadData);
    BTNodePtr node = m_option->CreateNode(nodeNumber);
    if (!node) return m_option->GetLastError();
    const u16 count = node->GetRecordCount();
    if (!state.progress || count == 0) return 0;
    if (node->IsIndex()) {
        // Each child asks the sink before it is walked.
        for (u16 i = 0; i < count; ++i) {
            const u32 child = m_option->GetChild(node.get(), i);
            if (child == 0) return m_option->GetLastError();
            const u64 code = Walk(state, child, depth + 1);
            if (result::IsFailure(code)) return code;
        }
        return 0;
    }
    if (!node->IsLeaf()) return HFSPLUS_FAIL(kKindBadData);
    bool everyRecord = true;
    // One key and one record for all records of the leaf (the file node copies what it takes).
    BTKey key;
    BTRecord record;
    for (u16 i = 0; i < count; ++i) {
        if (!state.progress->Continued()) return 0;
        if (!m_option->KeyReadInto(node.get(), i, key))
            return m_option->GetLastError() ? m_option->GetLastError() : HFSPLUS_QUIET(kKindBadData);
        if (!(state.builder ? m_option->ListedDataReadInto(node.get(), i, record)
                            : m_option->DataReadInto(node.get(), i, record)))
            return m_option->GetLastError() ? m_option->GetLastError() : HFSPLUS_QUIET(kKindBadData);
        if (!state.builder) {
            m_option->KeyPrint(key);
            m_option->DataPrint(record);
            continue;
        }
        // Threads (half the records) make no node: not built only to be dropped.
        if (record.catalog.recordType != catrec::kFile && record.catalog.recordType != catrec::kFolder) continue;
        auto* file = new (std::nothrow) CHFSPlusFileNode(m_volume, &key, &record.catalog, 0);
        if (!file) {
            everyRecord = false;
            continue;
        }
        if (file->GetCurrentNodeID() == -1) {
            delete file;
            continue;
        }
        state.progress->UpdateProgress();
        if (!state.builder->AddNode(file, SEARCHER_HFSPLUS)) delete file;
    }
    if (state.listedLeaves && state.builder && everyRecord) state.listedLeaves->push_back(nodeNumber);
    return 0;
}
