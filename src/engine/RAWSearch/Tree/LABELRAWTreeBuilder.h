// The tree of tagged results (searcher type 36, root 1000): a top folder per tag kind, a folder per
// tag value (office documents one level deeper, by application) and the file itself.
#pragma once

#include <array>
#include <list>
#include <map>
#include <string>

#include "engine/Common/Types.h"
#include "engine/RAWSearch/Core/RawFileTypes.h"

class CRawFileInfo;
class CRAWFileNode;
class IDirecotryTreeBuilder;

class CLABELRAWTreeBuilder {
public:
    static constexpr i64 kRootID = 1000;
    // The next node ID of value folders and tagged files; grows for the whole process run.
    static i64 m_gRawCount;

    explicit CLABELRAWTreeBuilder(IDirecotryTreeBuilder* builder = nullptr) : m_builder(builder) {}

    // 0 for a file without a tag kind (or when no file node could be made); otherwise the builder's
    // answer for the last node handed over, or 1 when no folder could be made. placed tells whether
    // the builder took the file node.
    int InsertNodeToTree(CRawFileInfo* info, IDirecotryTreeBuilder* builder, bool* placed = nullptr);
    CRAWFileNode* InsertTagKeyNodeToTree(CRawFileInfo* info);
    CRAWFileNode* InsertSubTagNodeToTree(long long parentID, CRawFileInfo* info, IDirecotryTreeBuilder* builder);
    CRAWFileNode* InsertOfficeNode(long long parentID, CRawFileInfo* info);
    CRAWFileNode* GetParentNode(CRawFileInfo* info);
    CRAWFileNode* MakeDirNode(long long parentID, long long nodeID, const char* name);
    CRAWFileNode* MakeFileNode(long long parentID, long long nodeID, CRawFileInfo* info);
    // "%s%03d.%s" or "FILE%03d.%s" with this builder's (never increased) counter of the type.
    std::string BuildFileName(unsigned short type, const char* name) const;
    // The tag value followed by the suffix of its kind (and office application).
    static std::string GetKeyName(CRawFileInfo* info);

private:
    struct FolderRef {
        CRAWFileNode* node;  // owned by the tree builder once handed over
        i64 id;
    };
    void Forget(CRAWFileNode* folder);

    IDirecotryTreeBuilder* m_builder;
    std::map<i32, FolderRef> m_topFolders;
    std::map<std::string, FolderRef> m_valueFolders;
    std::array<u32, kRawFileTypeRows> m_nameCounters{};
    std::list<CRAWFileNode*> m_newFolders;
};
