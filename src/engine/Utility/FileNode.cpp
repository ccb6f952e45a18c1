#include "engine/Utility/FileNode.h"

#include <cstring>

namespace {

// Bits 0-3 and 4-7 of the status word hold signed 4-bit values.
int SignedNibble(u64 word, int shift) {
    int v = static_cast<int>((word >> shift) & 0xF);
    return v >= 8 ? v - 16 : v;
}

constexpr u64 kMetadataMask = 0xFFFFFFFFFFULL;  // 40 bits

}  // namespace

CFileNode::CFileNode(const CFileNode& other) : IFilesystemNode() {
    CopyFieldsFrom(other, false);
}

CFileNode& CFileNode::operator=(const CFileNode& other) {
    if (this != &other) CopyFieldsFrom(other, true);
    return *this;
}

CFileNode::~CFileNode() {
    m_parent = nullptr;
    m_firstChild = nullptr;
    m_next = nullptr;
    if (m_dataRuns) m_dataRuns->Release();
}

void CFileNode::CopyFieldsFrom(const CFileNode& other, bool withLinks) {
    // The run list is owned: a node never shares it, or the second release would free it twice.
    IDataRunList* runs = other.m_dataRuns ? other.m_dataRuns->Clone() : nullptr;
    if (m_dataRuns) m_dataRuns->Release();
    m_dataRuns = runs;
    m_nodeId = other.m_nodeId;
    m_parentId = other.m_parentId;
    m_status = other.m_status;
    m_checkWeight = other.m_checkWeight;
    m_compressed = other.m_compressed;
    if (withLinks) {
        m_firstChild = other.m_firstChild;
        m_next = other.m_next;
        m_parent = other.m_parent;
        m_shownChildren = other.m_shownChildren;
    } else {
        m_firstChild = nullptr;
        m_next = nullptr;
        m_parent = nullptr;
        m_shownChildren = 0;
        m_checkWeight = 0;
    }
}

int CFileNode::IsNodeShow() {
    return SignedNibble(m_status, 4);
}

_tagCheckedStatus CFileNode::GetCheckedStatus() {
    return static_cast<_tagCheckedStatus>(SignedNibble(m_status, 0));
}

void CFileNode::SetCheckBits(int status) {
    m_status = (m_status & ~u64{0xF}) | (static_cast<u64>(status) & 0xF);
}

void CFileNode::SetShownBits(int shown) {
    m_status = (m_status & ~u64{0xF0}) | ((static_cast<u64>(shown) & 0xF) << 4);
}

void CFileNode::SetMetaDataSector(u64 sector) {
    m_status = (m_status & 0xFFFFFFULL) | ((sector & kMetadataMask) << 24);
}

i64 CFileNode::GetMetadataStartPosition() const {
    // Arithmetic shift keeps the sign of the 40-bit field.
    return static_cast<i64>(m_status) >> 24;
}

void CFileNode::SetBelongedPartition(u16 index) {
    m_status = (m_status & ~(u64{0xFFFF} << 8)) | (static_cast<u64>(index) << 8);
}

u16 CFileNode::GetBelongedPartition() const {
    return static_cast<u16>(m_status >> 8);
}

void CFileNode::SetDataRunList(IDataRunList* list) {
    if (list == m_dataRuns) return;
    if (m_dataRuns) m_dataRuns->Release();
    m_dataRuns = list;
}

IDataRunList* CFileNode::DetachDataRunList() {
    IDataRunList* list = m_dataRuns;
    m_dataRuns = nullptr;
    return list;
}

void CFileNode::ShowNode(int shown) {
    const bool wasShown = IsNodeShow() != 0;
    const bool nowShown = (shown & 0xF) != 0;
    if (m_parent) m_parent->ShowParent(wasShown == nowShown ? 0 : (nowShown ? 1 : -1));
    SetShownBits(shown);
}

void CFileNode::ShowParent(int delta) {
    if (delta == 0) return;
    const bool wasShown = IsNodeShow() != 0;
    const i64 count = static_cast<i64>(m_shownChildren) + delta;
    m_shownChildren = count < 0 ? 0 : static_cast<u32>(count);
    const bool nowShown = m_shownChildren != 0;
    if (wasShown != nowShown && m_parent) m_parent->ShowParent(nowShown ? 1 : -1);
    SetShownBits(nowShown ? 1 : 0);
}

void CFileNode::SetCheck(_tagCheckedStatus status) {
    // The windows push only 0 and 2; 1 is derived for folders and is refused here (no abort).
    if (status != CHECKED_NONE && status != CHECKED_ALL) return;
    if (!IsNodeShow()) return;
    const int old = GetCheckedStatus();
    if (m_parent) m_parent->SetParentStatus(status - old);
    if (m_firstChild) m_firstChild->SetChildStatus(status, 1);
    SetCheckBits(status);
    m_checkWeight = m_shownChildren * static_cast<u32>(status);
}

void CFileNode::SetParentStatus(int delta) {
    if (delta == 0) return;
    const int old = GetCheckedStatus();
    const i64 weight = static_cast<i64>(m_checkWeight) + delta;
    m_checkWeight = weight < 0 ? 0 : static_cast<u32>(weight);
    int now = CHECKED_PARTLY;
    if (m_checkWeight == 0) {
        now = CHECKED_NONE;
    } else if (static_cast<u64>(m_checkWeight) == 2ULL * m_shownChildren) {
        now = CHECKED_ALL;
    }
    if (m_parent) m_parent->SetParentStatus(now - old);
    SetCheckBits(now);
}

void CFileNode::SetChildStatus(_tagCheckedStatus status, int withSiblings) {
    ApplyStatusDown(status);
    if (!withSiblings) return;
    // Siblings iteratively, so a long folder does not deepen the stack; recursion only goes down.
    for (CFileNode* sibling = m_next; sibling; sibling = sibling->m_next) sibling->ApplyStatusDown(status);
}

void CFileNode::ApplyStatusDown(_tagCheckedStatus status) {
    // A hidden node and its subtree keep their state.
    if (!IsNodeShow()) return;
    SetCheckBits(status);
    if (status == CHECKED_PARTLY) return;
    m_checkWeight = m_shownChildren * static_cast<u32>(status);
    if (m_firstChild) m_firstChild->SetChildStatus(status, 1);
}

int CFileNode::IsLoopedToSelf(IFileNode* node, IFileNode* candidate) {
    if (!node || !candidate) return 0;
    for (CFileNode* p = node->GetParent(); p; p = p->GetParent()) {
        if (p == candidate) return 1;
    }
    return 0;
}

int CFileNode::AddChild(IFileNode* child) {
    auto* node = dynamic_cast<CFileNode*>(child);
    if (!node || node == this || node->m_parent) return 0;
    if (IsLoopedToSelf(this, child)) return 0;
    return AddChildNotAncestor(node);
}

int CFileNode::AddChildNotAncestor(CFileNode* node) {
    // A node under itself, or linked twice, would make every walk of the tree endless or lose siblings.
    if (!node || node == this || node->m_parent) return 0;
    node->m_next = m_firstChild;
    m_firstChild = node;
    node->m_parent = this;
    ++m_shownChildren;
    return 1;
}

int CFileNode::AddNext(IFileNode* other) {
    auto* node = dynamic_cast<CFileNode*>(other);
    if (!node || node == this) return 0;
    for (CFileNode* n = node; n; n = n->m_next) {
        if (n == this) return 0;  // would close a ring of siblings
    }
    if (m_next) node->AddNext(m_next);
    m_next = node;
    return 1;
}

int CFileNode::RemoveChild(CFileNode* child) {
    if (!child || !m_firstChild) return 0;
    if (m_firstChild == child) {
        m_firstChild = child->m_next;
    } else {
        CFileNode* prev = m_firstChild;
        while (prev->m_next && prev->m_next != child) prev = prev->m_next;
        if (!prev->m_next) return 0;
        prev->m_next = child->m_next;
    }
    // The child keeps its own subtree; only its links into this folder go.
    child->m_parent = nullptr;
    child->m_next = nullptr;
    if (m_shownChildren > 0) --m_shownChildren;
    return 1;
}

void CFileNode::MergeNode(CFileNode& donor) {
    if (&donor == this) return;
    SetDataRunList(donor.DetachDataRunList());
    UpdateFileSize(donor.GetFileSize());
}

std::string CFileNode::FilterFileNameByDot(const std::string& name) {
    const size_t first = name.find_first_not_of(" .");
    return first == std::string::npos ? std::string() : name.substr(first);
}

std::string CFileNode::FilterFileNameByDot(const char* name) {
    return name ? FilterFileNameByDot(std::string(name)) : std::string();
}

bool CFileNode::operator==(CFileNode& other) {
    // The cheap field tests first: nodes of one ID from different volumes mostly differ in parent.
    if (GetCurrentNodeID() != other.GetCurrentNodeID()) return false;
    if (GetParentNodeID() != other.GetParentNodeID()) return false;
    // Nodes of two volumes. A FAT node's IDs are cluster numbers and an NTFS node's record numbers,
    // which repeat from volume to volume: nodes of two FAT or NTFS partitions (a deep scan finds
    // several) are never one file or folder, and neither renames the other (every Windows volume has
    // folders of one name at one record number). A file is never a node of another volume either (HFS+
    // files aside, below): answered without this node's properties and name, which lie elsewhere in
    // memory (volumes that number their records alike meet this for nearly every file).
    if (GetBelongedPartition() != other.GetBelongedPartition()) {
        const _tagSearcherType type = GetSearcheType();
        if (type == SEARCHER_FAT || type == SEARCHER_NTFS || (type != SEARCHER_HFSPLUS && !other.IsDirectory()))
            return false;
    }
    if ((IsDirectory() != 0) != (other.IsDirectory() != 0)) return false;

    const char* a = GetFileName();
    const char* b = other.GetFileName();
    const bool sameName = (a && b) ? std::strcmp(a, b) == 0 : a == b;
    if (sameName) {
        if (IsDirectory()) return true;
        if (GetSearcheType() == SEARCHER_HFSPLUS && GetCreationTime() == other.GetCreationTime() &&
            GetFileSize() == other.GetFileSize())
            return true;
        return GetBelongedPartition() == other.GetBelongedPartition();
    }
    if (GetSearcheType() == SEARCHER_FAT && other.IsDirectory() && other.GetCreationTime() >= GetCreationTime())
        AdoptPropertiesOf(other);
    return false;
}
