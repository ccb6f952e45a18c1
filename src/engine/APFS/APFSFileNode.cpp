#include "engine/APFS/APFSFileNode.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <new>

#include "engine/APFS/APFSLayout.h"
#include "engine/Utility/DataRunList.h"

namespace {

constexpr u64 kNanosecondsPerSecond = 1000000000ULL;
constexpr i64 kFileTicksPerSecond = 10000000LL;
// Attach walks up the parent folders to refuse cycles; a chain this long is not a real tree.
constexpr int kMaxFolderDepth = 100000;

// `text` (without terminator) followed by a zero byte, ignoring case, in exactly length bytes.
bool IsTerminatedName(const u8* bytes, size_t length, std::string_view text) {
    if (!bytes || length != text.size() + 1 || bytes[text.size()] != 0) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(bytes[i]) != std::tolower(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

u64 SaturatingAdd(u64 a, u64 b) {
    u64 sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<u64>::max() : sum;
}

u64 SaturatingMultiply(u64 a, u64 b) {
    u64 product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<u64>::max() : product;
}

}  // namespace

void APFSNodeName::assign(std::string_view bytes) {
    if (bytes.size() <= kInline) {
        m_heap.reset();
        if (!bytes.empty()) std::memcpy(m_inline, bytes.data(), bytes.size());
        m_inline[bytes.size()] = '\0';
    } else {
        auto heap = std::make_unique<char[]>(bytes.size() + 1);
        std::memcpy(heap.get(), bytes.data(), bytes.size());
        heap[bytes.size()] = '\0';
        m_heap = std::move(heap);
    }
    m_size = bytes.size();
}

APFSFileNode::APFSFileNode() : APFSFileNode(0) {}

APFSFileNode::APFSFileNode(u16 partition) {
    SetBelongedPartition(partition);
}

APFSFileNode::APFSFileNode(const APFSFileNode& other)
    : CFileNode(other),
      m_name(other.m_name),
      m_size(other.m_size),
      m_creationTime(other.m_creationTime),
      m_modificationTime(other.m_modificationTime),
      m_accessTime(other.m_accessTime),
      m_lastSeen(other.m_lastSeen),
      m_objectKey(other.m_objectKey),
      m_parentKey(other.m_parentKey),
      m_parentFolder(other.m_parentFolder),
      m_firstAttached(other.m_firstAttached),
      m_nextAttached(other.m_nextAttached),
      m_sameNameFolder(other.m_sameNameFolder),
      m_flags(static_cast<u8>(other.m_flags & ~kPublished)),
      m_extents(other.m_extents),
      m_serial(other.m_serial) {}

APFSFileNode::~APFSFileNode() = default;

bool APFSFileNode::IsDsStoreText(const u8* bytes) {
    return IsTerminatedName(bytes, kDsStoreBytes, ".DS_Store");
}

std::string APFSFileNode::NameRule(const u8* bytes, size_t length) {
    return std::string(NameRuleView(bytes, length));
}


_FILETIME APFSFileNode::ToFileTime(u64 nanoseconds) {
    return kFileTimeOf1970 + static_cast<i64>(nanoseconds / kNanosecondsPerSecond) * kFileTicksPerSecond;
}


IFileNode* APFSFileNode::Clone() {
    auto* copy = new (std::nothrow) APFSFileNode(*this);
    if (!copy) return nullptr;
    m_parentFolder = nullptr;
    m_firstAttached = nullptr;
    m_nextAttached = nullptr;
    m_sameNameFolder = nullptr;
    return copy;
}


void APFSFileNode::SetName(const u8* bytes, size_t length) {
    SetRuledName(NameRuleView(bytes, length));
}

void APFSFileNode::SetRuledName(std::string_view named) {
    m_name.assign(named);
    if (IsTerminatedName(reinterpret_cast<const u8*>(m_name.data()), m_name.size(), "Trashes"))
        m_flags |= kFolder | kDeleted | kFolderFixed;
}

void APFSFileNode::SetSize(u64 size) {
    if (m_size != 0 && !(m_flags & kDeleted)) return;
    m_size = size;
    m_flags &= static_cast<u8>(~kComplete);
}

u64 APFSFileNode::ExtentBytes(u32 sectorSize) const {
    u64 sectors = 0;
    for (const auto& [offset, run] : m_extents) sectors = SaturatingAdd(sectors, run.length);
    return SaturatingMultiply(sectors, sectorSize);
}

inline bool APFSFileNode::UpdateCompleteness(u32 sectorSize) {
    const u64 total = ExtentBytes(sectorSize);
    const u64 rounded =
        SaturatingMultiply((m_size / apfs::kBlockSize) + (m_size % apfs::kBlockSize ? 1 : 0), apfs::kBlockSize);
    if (total > rounded) m_size = total;
    const bool complete = total >= m_size;
    if (complete) {
        m_flags |= kComplete;
    } else {
        m_flags &= static_cast<u8>(~kComplete);
    }
    return complete;
}

bool APFSFileNode::IsCompleteFor(u32 sectorSize) {
    if (m_size == 0) return false;
    return UpdateCompleteness(sectorSize);
}

void APFSFileNode::RebuildRuns() {
    m_flags &= static_cast<u8>(~kRunsStale);
    auto* list = new (std::nothrow) CDataRunList();
    if (list) {
        for (const auto& [offset, run] : m_extents) list->AddDataRun(run);
    }
    SetDataRunList(list);
}

void APFSFileNode::RunsChanged() {
    if (IsPublished()) {
        RebuildRuns();
    } else {
        m_flags |= kRunsStale;
    }
}

IDataRunList* APFSFileNode::CurrentRuns() {
    if (m_flags & kRunsStale) RebuildRuns();
    return m_dataRuns;
}

void APFSFileNode::TakeRuns(IDataRunList* list) {
    m_flags &= static_cast<u8>(~kRunsStale);
    SetDataRunList(list);
}

bool APFSFileNode::AddExtent(i64 startSector, u64 sectorCount, u32 sectorSize, u64 logical) {
    // Without extents the node is not complete (its size is not 0) and the test changes nothing: it
    // is left out for a node's first extent.
    if (m_extents.empty()) {
        // A node's first extent (nearly every file has one).
        m_extents.Insert(0, {logical, DataRun{startSector, sectorCount}});
        RunsChanged();
        return m_size != 0 && UpdateCompleteness(sectorSize);
    }
    if (m_size != 0 && UpdateCompleteness(sectorSize)) return false;
    // A second extent at offset 0 means the file starts again: the extents gathered so far go.
    if (logical == 0 && m_extents.begin()->first == 0) m_extents.clear();
    auto* it = std::lower_bound(m_extents.begin(), m_extents.end(), logical,
                                [](const APFSExtents::Entry& extent, u64 at) { return extent.first < at; });
    if (it == m_extents.end() || it->first != logical) {
        m_extents.Insert(static_cast<size_t>(it - m_extents.begin()), {logical, DataRun{startSector, sectorCount}});
        RunsChanged();
    } else if (it->second.start == startSector && it->second.length < sectorCount) {
        it->second.length = sectorCount;
        RunsChanged();
    }
    if (m_size == 0) return false;
    return UpdateCompleteness(sectorSize);
}

void APFSFileNode::AttachChild(APFSFileNode* folder, APFSFileNode* child) {
    if (!folder || !child) return;
    if ((folder->m_flags & kDuplicateFolder) && folder->m_sameNameFolder) folder = folder->m_sameNameFolder;
    // Never under itself or below itself: the attached lists must stay acyclic.
    int depth = 0;
    for (APFSFileNode* up = folder; up; up = up->m_parentFolder) {
        if (up == child || ++depth > kMaxFolderDepth) return;
    }
    child->m_parentFolder = folder;
    child->SetParentNodeID(folder->GetCurrentNodeID());
    if (child->IsFolder()) {
        for (APFSFileNode* sibling = folder->m_firstAttached; sibling; sibling = sibling->m_nextAttached) {
            if (sibling->IsFolder() && sibling->m_name == child->m_name) {
                child->m_sameNameFolder = sibling;
                child->m_flags |= kDuplicateFolder;
                return;
            }
        }
    }
    child->m_nextAttached = folder->m_firstAttached;
    folder->m_firstAttached = child;
}

void APFSFileNode::DetachFromBaseParent() {
    if (m_parent) m_parent->RemoveChild(this);
    m_parent = nullptr;
    m_next = nullptr;
}
