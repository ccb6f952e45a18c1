// Runs one scan of one device: the quick scan of a volume or the deep scan of a volume or disk.
#pragma once

#include <string>

#include "engine/Common/SearcherTypes.h"
#include "engine/Common/Types.h"

class IDataRecovery;
class IDrirectoryTree;
class IProgress;
class IRecoveryFilter;
class IStorageDevice;
class RestoreScanSink;

enum _RECOVERY_CONTROLLER_TYPE : u32 {
    RECOVERY_CONTROLLER_DELETED = 0,    // quick scan of one volume
    RECOVERY_CONTROLLER_COMPLETE = 1,   // deep scan of a volume
    RECOVERY_CONTROLLER_PARTITION = 2,  // deep scan of a whole disk
};

class IRecoveryController {
public:
    virtual ~IRecoveryController() = default;
    virtual _RECOVERY_CONTROLLER_TYPE thisType() = 0;
    // 0 for a null filter; otherwise keeps it (not owned) and returns 1.
    virtual int Initialize(IRecoveryFilter* filter) = 0;
    // Runs the whole scan on the calling thread; a result code.
    virtual u64 StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* tree) = 0;
    // The data-recovery object for the files of a searcher type (released by the caller), or null.
    virtual IDataRecovery* GetDataRecovery(_tagSearcherType type) = 0;
    virtual void Release() = 0;
    // Set before StartDataRecovery when a saved scan result is loaded (not owned); null otherwise.
    virtual void SetRestoreSink(RestoreScanSink* sink) = 0;
};

// A new controller of that type, or null for any other value.
IRecoveryController* CreateRecoveryController(_RECOVERY_CONTROLLER_TYPE type);

// The name handed to the tree builder: a volume's name from its record, an EDI image's disk name,
// else "".
std::string GetDeviceDescription(IStorageDevice* device);
