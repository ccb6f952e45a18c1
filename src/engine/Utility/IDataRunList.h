// The extents of a file on its device.
#pragma once

#include "engine/Common/Types.h"

// One extent in clusters of the owning partition. A negative start marks an extent without a place on
// the device (a sparse run): readers deliver zeros for it.
struct DataRun {
    i64 start = 0;
    u64 length = 0;
};

class IDataRunList {
public:
    virtual ~IDataRunList() = default;
    // Puts the cursor on the first run; null for an empty list.
    virtual DataRun* GetFirst() = 0;
    // Moves the cursor one run on; null at the end.
    virtual DataRun* GetNext() = 0;
    virtual int IsDone() = 0;
    virtual u32 IsResident() = 0;
    // A deep copy: the caller owns it.
    virtual IDataRunList* Clone() = 0;
    virtual void AddDataRun(const DataRun* run) = 0;
    virtual i64 GetOffset() = 0;
    virtual u32 GetDataRunListType() = 0;
    virtual void Release() = 0;

    void AddDataRun(const DataRun& run) { AddDataRun(&run); }
};

// A new, empty CDataRunList.
IDataRunList* CreateDataRunList();
