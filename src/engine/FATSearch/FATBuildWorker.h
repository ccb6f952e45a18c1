// Holds the geometry of one FAT volume and builds its file tree: from the root down (quick search), or
// from the root and every folder sector the deep search found, with lost folders hung in (deep search).
#pragma once

#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/FATLib/FATTypes.h"
#include "engine/FATSearch/FATBuildChildren.h"

class CFATFileNode;
class CFATSearchedPartitionInfo;
class IDataRunList;
class IDirecotryTreeBuilder;
class IFATTable;
class IProgress;
class IStorageDevice;

// A sector of folder entries that the deep search met. A sub-folder's first sector carries the folder's
// own cluster (its "." entry) and its parent's (".."); any other folder sector carries kUnknownCluster.
struct FIRSTFOLDERSECTOR {
    static constexpr u32 kUnknownCluster = 0xFFFFFFFF;
    i64 sector = 0;
    u32 cluster = kUnknownCluster;
    u32 parentCluster = kUnknownCluster;
};

// Ascending sector, one record a sector.
struct FIRSTFOLDERSECTORLESS {
    bool operator()(const FIRSTFOLDERSECTOR& a, const FIRSTFOLDERSECTOR& b) const { return a.sector < b.sector; }
};

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
    // The deep build: the root, then the folder records (sorted by sector) that lie on the volume, then
    // the folder clusters no folder led to. 1 on completion.
    int CompleteBuildDirectoryTree(const std::vector<FIRSTFOLDERSECTOR>& records);
    // Sectors below the data start still taken as sectors of a lost FAT16 root (root flag 0).
    u64 LostRootLookBack() const;

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
    FATBuildContext Context();
    // A lost-folder node (state 9) of that name; owned by the caller.
    CFATFileNode* MakeLostFolder(const std::string& name, u32 cluster, u32 parentCluster);
    // The records of the range whose cluster is unknown and whose sector starts a cluster no folder led
    // to: each cluster read is made into nodes under a temporary lost folder (never published), so its
    // files reach the tree builder as lost files. 1 on completion.
    class OpenRuns;
    // openRuns: long-name pieces left open at the end of the folders built before.
    int BuildLostNode(CFATBuildChildren& children, std::span<const FIRSTFOLDERSECTOR> records, OpenRuns& openRuns);

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
    // Lost folders made while no tree builder takes them; released with the worker.
    std::vector<CFATFileNode*> m_ownedFolders;
};
