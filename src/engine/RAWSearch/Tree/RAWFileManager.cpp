#include "engine/RAWSearch/Tree/RAWFileManager.h"

#include <cctype>

#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"

u32 CRAWFileManager::g_nID = 10;

CRAWFileManager::CRAWFileManager(unsigned folderParentID, unsigned category, IDirecotryTreeBuilder* builder)
    : m_folderParentID(folderParentID), m_category(category), m_builder(builder), m_tagTree(builder) {}

int CRAWFileManager::AddRawFileInfo(CRawFileInfo* info) {
    if (info == nullptr) return 0;
    const u32 id = m_nextNodeID++;
    return AddNode(info, CRAWFileProperties::kAttributeFile, static_cast<int>(m_category), static_cast<int>(id));
}

std::string CRAWFileManager::GetExt(CRAWFileNode* node) {
    const std::string name = node->GetFileName() != nullptr ? node->GetFileName() : "";
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool CRAWFileManager::bFindParent(CRAWFileNode* node, int& id) const {
    auto it = m_folders.find(GetExt(node));
    if (it == m_folders.end()) return false;
    id = it->second;
    return true;
}

CRawFileInfo* CRAWFileManager::MakeDirNode(const char* name) {
    auto* folder = new CRawFileInfo();
    folder->m_startSector = -1;
    folder->SetRawFileName(name != nullptr ? name : "");
    return folder;
}

CRAWFileNode* CRAWFileManager::CreateParentNode(CRAWFileNode* node) {
    const std::string ext = GetExt(node);
    CRawFileInfo* record = MakeDirNode(ext.c_str());
    auto* folder = new CRAWFileNode();
    folder->Initilaize(record, CRAWFileProperties::kAttributeDirectory, m_folderParentID, g_nID);
    delete record;
    m_folders[ext] = static_cast<int>(g_nID);
    ++g_nID;
    return folder;
}

int CRAWFileManager::AddNode(CRawFileInfo* info, unsigned attribute, int parentID, int nodeID) {
    if (info == nullptr || m_builder == nullptr) return 0;
    RAW_FILE_TAG kind;
    std::string value;
    info->GetRawFileTagAndValue(kind, value);
    if (kind != RAW_TAG_NONE || !value.empty()) {
        bool placed = false;
        const int answer = m_tagTree.InsertNodeToTree(info, m_builder, &placed);
        // A tagged file that found no place in the tag tree is filed by extension, never lost.
        if (placed) return answer;
    }
    auto* node = new CRAWFileNode();
    node->Initilaize(info, attribute, parentID, nodeID);
    CRAWFileNode* newFolder = nullptr;
    int folderID = 0;
    if (bFindParent(node, folderID)) {
        node->SetParentNodeID(folderID);
    } else {
        newFolder = CreateParentNode(node);
        node->SetParentNodeID(newFolder->GetCurrentNodeID());
    }
    if (m_builder->AddNode(node, SEARCHER_RAW) == 0) {
        node->Release();
        if (newFolder != nullptr && m_builder->AddNode(newFolder, SEARCHER_RAW) == 0) {
            m_folders.erase(newFolder->GetFileName());
            newFolder->Release();
        }
        return 0;
    }
    if (newFolder != nullptr && m_builder->AddNode(newFolder, SEARCHER_RAW) == 0) {
        // The builder holds the file; only the refused folder is ours to release.
        m_folders.erase(newFolder->GetFileName());
        newFolder->Release();
    }
    return 1;
}
