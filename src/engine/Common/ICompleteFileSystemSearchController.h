// A deep searcher: fed the whole device block by block, it rebuilds what it can at the end.
#pragma once

#include <map>

#include "engine/Common/IFileSystemSearchController.h"
#include "engine/Common/Types.h"

class IStorageDevice;
class IProgress;
class TBitmap;

// Start sector of a found file -> its raw file type; owned by the complete controller.
using FileSectorMap = std::map<i64, u32>;

class ICompleteFileSystemSearchController : public IFileSystemSearchController {
public:
    virtual void SetDevice(IStorageDevice* device) = 0;
    virtual void SetBlockSize(int sectors) = 0;
    // Once before the first block (not when a saved scan is restored).
    virtual int PreparetoSearch() = 0;
    // Once after the last block; build is the progress sink's shouldBuild() answer.
    virtual int EndSearch(int build) { return 1; }
    // One block; its data is read through the device set above.
    virtual int AnalyzeBlock(i64 firstSector, i64 sectorCount) = 0;
    virtual void SetIProgressSink(IProgress* progress) {}
    virtual void SetBitmap(TBitmap* bitmap) {}
    virtual void SetFileSectorMap(FileSectorMap* map) {}
    virtual TBitmap* GetBitmap() { return nullptr; }
    virtual bool SetActivePartition(bool active) { return active; }
};
