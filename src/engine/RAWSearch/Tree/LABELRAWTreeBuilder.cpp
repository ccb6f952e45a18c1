#include "engine/RAWSearch/Tree/LABELRAWTreeBuilder.h"

#include <algorithm>
#include <cstdio>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"

i64 CLABELRAWTreeBuilder::m_gRawCount = 2001;

namespace {

struct TopFolder {
    const char* name;
    i64 id;
    const char* suffix;
};
// By tag kind 0-5.
constexpr TopFolder kTop[6] = {{"Artists", -14, "_MP3"}, {"Camera", -15, "_CAMERA"}, {"Office", -13, ""},
                               {"MOV", -8, "_MOV"},      {"PDF", -7, "_PDF"},        {"AI", -6, ""}};

struct OfficeFolder {
    const char* name;
    i64 id;
    const char* suffix;
};
const OfficeFolder* OfficeFolderOf(RAW_FILE_TYPE type) {
    static constexpr OfficeFolder kWord{"Word", -12, "_Word"};
    static constexpr OfficeFolder kExcel{"Excel", -11, "_Excel"};
    static constexpr OfficeFolder kPowerPoint{"PowerPoint", -10, "_PowerPoint"};
    switch (type) {
        case RAW_TYPE_DOC:
        case RAW_TYPE_DOCX: return &kWord;
        case RAW_TYPE_XLS:
        case RAW_TYPE_XLSX: return &kExcel;
        case RAW_TYPE_PPT:
        case RAW_TYPE_PPTX: return &kPowerPoint;
        default: return nullptr;
    }
}

}  // namespace

std::string CLABELRAWTreeBuilder::GetKeyName(CRawFileInfo* info) {
    RAW_FILE_TAG kind;
    std::string value;
    info->GetRawFileTagAndValue(kind, value);
    if (kind == RAW_TAG_OFFICE) {
        const OfficeFolder* office = OfficeFolderOf(info->m_type);
        return office != nullptr ? value + office->suffix : value;
    }
    if (kind >= 0 && kind <= 5) return value + kTop[kind].suffix;
    return value;
}

std::string CLABELRAWTreeBuilder::BuildFileName(unsigned short type, const char* name) const {
    const u32 counter = type < kRawFileTypeRows ? m_nameCounters[type] : 0;
    char number[16];
    snprintf(number, sizeof(number), "%03u", counter);
    const std::string ext = RawFileExtension(type);
    if (name != nullptr && name[0] != 0) return std::string(name) + number + "." + ext;
    return std::string("FILE") + number + "." + ext;
}

CRAWFileNode* CLABELRAWTreeBuilder::MakeDirNode(long long parentID, long long nodeID, const char* name) {
    CRawFileInfo folder;
    folder.m_startSector = -1;
    folder.SetRawFileName(name != nullptr ? name : "");
    auto* node = new CRAWFileNode();
    node->Initilaize(&folder, CRAWFileProperties::kAttributeDirectory, parentID, nodeID);
    return node;
}

CRAWFileNode* CLABELRAWTreeBuilder::MakeFileNode(long long parentID, long long nodeID, CRawFileInfo* info) {
    auto* properties = CRAWFileProperties::Create();
    properties->InitRawFileProperties(*info);
    properties->SetAttribute(CRAWFileProperties::kAttributeFile);
    properties->SetRawFileName(
        BuildFileName(static_cast<unsigned short>(std::min<u32>(info->m_type, 0xFFFF)), info->GetRawFileName().c_str())
            .c_str());
    properties->SetRawFileTime(info->GetRawFileTime());
    auto* node = new CRAWFileNode();
    node->SetProperties(properties);
    node->Initilaize(info, CRAWFileProperties::kAttributeFile, parentID, nodeID);
    return node;
}

CRAWFileNode* CLABELRAWTreeBuilder::InsertTagKeyNodeToTree(CRawFileInfo* info) {
    RAW_FILE_TAG kind;
    std::string value;
    info->GetRawFileTagAndValue(kind, value);
    if (kind < 0 || kind > 5) return nullptr;
    CRAWFileNode* folder = MakeDirNode(kRootID, kTop[kind].id, kTop[kind].name);
    m_newFolders.push_front(folder);
    m_topFolders[kind] = {folder, kTop[kind].id};
    return folder;
}

CRAWFileNode* CLABELRAWTreeBuilder::InsertOfficeNode(long long parentID, CRawFileInfo* info) {
    const OfficeFolder* office = OfficeFolderOf(info->m_type);
    if (office == nullptr) return nullptr;
    auto it = m_valueFolders.find(office->name);
    if (it != m_valueFolders.end()) return it->second.node;
    CRAWFileNode* folder = MakeDirNode(parentID, office->id, office->name);
    m_valueFolders[office->name] = {folder, office->id};
    m_newFolders.push_front(folder);
    return folder;
}

CRAWFileNode* CLABELRAWTreeBuilder::InsertSubTagNodeToTree(long long parentID, CRawFileInfo* info,
                                                           IDirecotryTreeBuilder*) {
    RAW_FILE_TAG kind;
    std::string value;
    info->GetRawFileTagAndValue(kind, value);
    long long parent = parentID;
    if (kind == RAW_TAG_OFFICE) {
        CRAWFileNode* office = InsertOfficeNode(parentID, info);
        if (office == nullptr) return nullptr;
        parent = office->GetCurrentNodeID();
    }
    const i64 id = m_gRawCount++;
    CRAWFileNode* folder = MakeDirNode(parent, id, value.c_str());
    m_newFolders.push_front(folder);
    m_valueFolders[GetKeyName(info)] = {folder, id};
    return folder;
}

CRAWFileNode* CLABELRAWTreeBuilder::GetParentNode(CRawFileInfo* info) {
    auto it = m_valueFolders.find(GetKeyName(info));
    return it == m_valueFolders.end() ? nullptr : it->second.node;
}

void CLABELRAWTreeBuilder::Forget(CRAWFileNode* folder) {
    for (auto it = m_topFolders.begin(); it != m_topFolders.end();) {
        it = it->second.node == folder ? m_topFolders.erase(it) : std::next(it);
    }
    for (auto it = m_valueFolders.begin(); it != m_valueFolders.end();) {
        it = it->second.node == folder ? m_valueFolders.erase(it) : std::next(it);
    }
}

int CLABELRAWTreeBuilder::InsertNodeToTree(CRawFileInfo* info, IDirecotryTreeBuilder* builder, bool* placed) {
    if (placed != nullptr) *placed = false;
    if (info == nullptr || builder == nullptr) return 0;
    RAW_FILE_TAG kind;
    std::string value;
    info->GetRawFileTagAndValue(kind, value);
    if (kind == RAW_TAG_NONE) return 0;
    m_newFolders.clear();
    CRAWFileNode* valueFolder = nullptr;
    if (m_topFolders.count(kind) != 0) {
        valueFolder = GetParentNode(info);
        if (valueFolder == nullptr) {
            valueFolder = InsertSubTagNodeToTree(m_topFolders[kind].id, info, builder);
            if (valueFolder == nullptr) return 1;
        }
    } else {
        CRAWFileNode* top = InsertTagKeyNodeToTree(info);
        if (top == nullptr) return 1;
        valueFolder = InsertSubTagNodeToTree(top->GetCurrentNodeID(), info, builder);
        if (valueFolder == nullptr) {
            // The top folder was never handed over: drop it.
            Forget(top);
            for (CRAWFileNode* f : m_newFolders) f->Release();
            m_newFolders.clear();
            return 1;
        }
    }
    CRAWFileNode* file = MakeFileNode(valueFolder->GetCurrentNodeID(), m_gRawCount++, info);
    int answer = builder->AddNode(file, SEARCHER_RAW_TAG);
    if (answer == 0) {
        file->Release();
    } else if (placed != nullptr) {
        *placed = true;
    }
    for (CRAWFileNode* folder : m_newFolders) {
        answer = builder->AddNode(folder, SEARCHER_RAW_TAG);
        if (answer == 0) {
            // Refused: it is still ours; forget it so later files create it again.
            Forget(folder);
            folder->Release();
        }
    }
    m_newFolders.clear();
    return answer;
}
