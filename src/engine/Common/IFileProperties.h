// One file's properties inside an engine (name, size, attribute, times, state, extents).
#pragma once

#include "engine/Common/SearcherTypes.h"
#include "engine/Common/Types.h"

class IDataRunList;

class IFileProperties {
public:
    virtual ~IFileProperties() = default;
    virtual u16 GetFileNameLength() = 0;
    // Replaces the name (UTF-8).
    virtual void SetFileName(const char* name) = 0;
    virtual const char* GetFileName() = 0;
    virtual i64 GetFileSize() = 0;
    virtual u16 GetAttribute() = 0;
    virtual const char* GetRawFileCreateTime() = 0;
    virtual _FILETIME GetCreationTime() = 0;
    virtual _FILETIME GetModificationTime() = 0;
    virtual _FILETIME GetLastAccessTime() = 0;
    virtual u16 GetState() = 0;
    virtual void SetState(u16 state) = 0;
    virtual IDataRunList* GetDataRunList() = 0;
    virtual IFileProperties* Clone() = 0;
};
