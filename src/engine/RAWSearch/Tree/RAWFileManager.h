// One per file category: names each finished file, files it under a folder named after its
// lower-case extension (or in the tag tree when it carries a tag) and hands both to the tree builder.
#pragma once

#include <map>
#include <string>

#include "engine/Common/Types.h"
#include "engine/RAWSearch/Tree/LABELRAWTreeBuilder.h"

class CRawFileInfo;
class CRAWFileNode;
class IDirecotryTreeBuilder;

class CRAWFileManager {
public:
    // The next folder node ID, shared by all managers; set to 10 at the start of every search.
    static u32 g_nID;

    CRAWFileManager(unsigned folderParentID, unsigned category, IDirecotryTreeBuilder* builder);

    int AddRawFileInfo(CRawFileInfo* info);
    // 1 when the file reached the tree builder.
    int AddNode(CRawFileInfo* info, unsigned attribute, int parentID, int nodeID);
    static std::string GetExt(CRAWFileNode* node);
    bool bFindParent(CRAWFileNode* node, int& id) const;
    CRAWFileNode* CreateParentNode(CRAWFileNode* node);
    static CRawFileInfo* MakeDirNode(const char* name);

    CLABELRAWTreeBuilder& GetTagTree() { return m_tagTree; }

private:
    u32 m_unused = 0;
    u32 m_nextNodeID = 10000;
    u32 m_folderParentID;
    u32 m_category;
    IDirecotryTreeBuilder* m_builder;
    std::map<std::string, int> m_folders;
    CLABELRAWTreeBuilder m_tagTree;
};
