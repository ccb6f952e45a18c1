// One found file or folder as every engine and the windows see it.
#pragma once

#include "engine/Common/SearcherTypes.h"
#include "engine/Common/Types.h"

class CFileNode;
class IFileReader;

class IFileNode {
public:
    virtual ~IFileNode() = default;

    virtual int IsNodeShow() = 0;
    virtual void ShowNode(int shown) = 0;

    virtual i64 GetCurrentNodeID() = 0;
    virtual i64 GetParentNodeID() = 0;
    virtual CFileNode* GetParent() = 0;
    virtual CFileNode* GetFirstChild() = 0;
    virtual CFileNode* GetNextNode() = 0;

    // Left to each engine's node class.
    virtual const char* GetFileName() = 0;  // UTF-8, may be null
    virtual i64 GetFileSize() = 0;
    virtual u16 GetAttribute() = 0;
    virtual _FILETIME GetCreationTime() = 0;
    virtual _FILETIME GetModificationTime() = 0;
    virtual _FILETIME GetLastAccessTime() = 0;
    virtual u32 IsDirectory() = 0;
    virtual u32 IsDeleted() = 0;

    virtual _tagCheckedStatus GetCheckedStatus() = 0;
    // 0 or 2; anything else is ignored, as is a hidden node.
    virtual void SetCheck(_tagCheckedStatus status) = 0;
    virtual _tagSearcherType GetSearcheType() = 0;
    virtual const char* GetVolumeName() = 0;

    // 1 when linked, 0 when refused (null, not a CFileNode, self, ancestor, already linked elsewhere).
    virtual int AddChild(IFileNode* child) = 0;
    virtual int AddNext(IFileNode* node) = 0;
    virtual void SetParentNodeID(i64 id) = 0;

    // A copy without tree links and with its own run list; the caller owns it.
    virtual IFileNode* Clone() = 0;
    virtual void Release() = 0;
    virtual void MarkDeleted() = 0;
    virtual IFileReader* CreateCompressFileReader(void* context) = 0;
    virtual u32 IsCompressed() = 0;
    // Sector of the record that describes the node (stored as a signed 40-bit value; -1 none).
    virtual void SetMetaDataSector(u64 sector) = 0;
    // The node cleans its own name of leading blanks and dots.
    virtual void FilterFileNameByDot() = 0;
    virtual void UpdateFileSize(i64 size) = 0;
    virtual void UpdateNodeInfo() = 0;
    virtual void SetFileName(const char* name) = 0;
};
