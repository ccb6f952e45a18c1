// Holds the geometry of one FAT volume and builds its file tree from the root down.
#pragma once

#include <map>
#include <set>

#include "engine/FATLib/FATTypes.h"
#include "engine/FATSearch/FATBuildChildren.h"

class CFATFileNode;
class CFATSearchedPartitionInfo;
class IDataRunList;
class IDirecotryTreeBuilder;
class IFATTable;
class IProgress;
class IStorageDevice;

struct FATWorkerGeometry {
    u32 type = FILE_SYSTEM_UNKNOWN;
    u64 start = 0;
    u32 sectorsPerCluster = 0;
    u64 rootStart = 0;
    u32 rootSectors = 0;
    u32 rootCluster = 0;
    u32 rootFlag = 0;
    u64 dataStart = 0;
    u64 totalSectors = 0;
};

class CFATBuildWorker {
public:
    // state: the search's own (a worker made without one keeps its own).
    CFATBuildWorker(IDirecotryTreeBuilder* builder, IProgress* progress, CFATSearchedPartitionInfo* record,
                    IStorageDevice* device, const FATWorkerGeometry& geometry, IFATTable* table,
                    FATSearchState* state = nullptr);
    ~CFATBuildWorker();
    CFATBuildWorker(const CFATBuildWorker&) = delete;
    CFATBuildWorker& operator=(const CFATBuildWorker&) = delete;

    // The quick build: root first, then every folder met, breadth first. A result code (0 on success).
    u64 QuickBuildDirectoryTree(int flag);

    void SetFileSectorMap(std::map<i64, u32>* map) { m_fileSectorMap = map; }
    IDataRunList* BuildDataRunList(u64 firstCluster, u64 size, bool deleted);
    u64 ConvertSectorToClusterNum(u64 sector) const;
    u64 ConvertClusterNumToSector(u64 cluster) const;
    bool IsFirsectorInCluster(u64 sector) const;
    // A lost-folder node "DIR%d" (state 9) with the given clusters; owned by the caller. The numbers
    // count up through the search, from DIR0.
    CFATFileNode* CreateTempFileNode(u32 cluster, u32 parentCluster);

private:
    void SendProgress(u32 status, u64 current);

    IDirecotryTreeBuilder* m_builder;
    IProgress* m_progress;
    CFATSearchedPartitionInfo* m_record;
    IStorageDevice* m_device;
    FATWorkerGeometry m_geometry;
    IFATTable* m_table;
    FATSearchState m_ownState;
    FATSearchState* m_state;
    std::map<u32, CFATFileNode*> m_folderMap;
    std::set<u32> m_builtClusters;
    u32 m_sectorSize;
    std::map<i64, u32>* m_fileSectorMap = nullptr;
};
