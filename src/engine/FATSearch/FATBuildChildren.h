// Turns the directory entries of one FAT folder (or of the root directory) into file and folder nodes
// for the engine's tree builder, and on FAT32 repairs the first cluster of deleted entries whose high
// cluster word was cleared. Folder reading is in FATBuildChildren.cpp, the repair in
// FATFirstClusterRevision.cpp.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/FATLib/FATTypes.h"
#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"

class CFATFileNode;
class CFATFileProperties;
class CSearchedPartitionInfo;
class IDataRunList;
class IDirecotryTreeBuilder;
class IFATTable;
class IFileNode;
class IProgress;
class IStorageDevice;

// Unique first clusters for empty files, above every real cluster number.
class CEmptyFileVirtualClusterNum {
public:
    static constexpr u64 kFirst = 0x100000000ULL;
    void ResetVirtualClusterNum() { m_next = kFirst; }
    u64 GetVirtualClusterNum() { return m_next++; }

private:
    u64 m_next = kFirst;
};

// What one FAT search carries from folder to folder. The searcher owns it, so two searches running at
// once share nothing.
struct FATSearchState {
    // The cluster just after the last deleted FAT32 file placed; reset by every FAT32 folder builder.
    u64 preReadFileCluNum = 0;
    // The number of the next lost-folder name ("DIR%d").
    u32 lostFolderCounter = 0;
    CEmptyFileVirtualClusterNum virtualClusters;

    void Reset() { *this = FATSearchState{}; }
};

// The two lists that only the folder builder fills. Temporary nodes in them belong to no tree and are
// released when the lists are emptied.
struct FATSecondaryLists {
    std::vector<IFileNode*> deletedFolders;
    std::vector<IFileNode*> files;
    std::vector<std::unique_ptr<CFATFileNode>> temporaries;
    FATSecondaryLists();
    ~FATSecondaryLists();
    void Clear();
};

// Long-name pieces that the end of a folder's last cluster left open, and the last sector read.
struct FATOpenRun {
    i64 lastSector = -1;
    std::vector<u8> bytes;
};

// Geometry and shared indexes handed to the folder builder by the tree worker.
struct FATBuildContext {
    IDirecotryTreeBuilder* builder = nullptr;
    IProgress* progress = nullptr;
    CSearchedPartitionInfo* record = nullptr;
    IStorageDevice* device = nullptr;
    std::set<u32>* builtClusters = nullptr;
    std::map<u32, CFATFileNode*>* folderMap = nullptr;
    u64 totalSectors = 0;
    u32 type = FILE_SYSTEM_UNKNOWN;
    IFATTable* table = nullptr;
    u32 sectorsPerCluster = 0;
    u32 rootCluster = 0;
    u64 rootStart = 0;
    u32 rootSectors = 0;
    u64 dataStart = 0;
    // The volume's first sector on the device: the sectors above are absolute, the total is the volume's.
    u64 volumeStart = 0;
    // The search's state; a builder made without one keeps its own.
    FATSearchState* state = nullptr;
};

class CFATBuildChildren {
public:
    static constexpr u32 kFailed = 0xFFFFFFFF;

    explicit CFATBuildChildren(const FATBuildContext& context);
    ~CFATBuildChildren();
    CFATBuildChildren(const CFATBuildChildren&) = delete;
    CFATBuildChildren& operator=(const CFATBuildChildren&) = delete;

    void SetFileSectorMap(std::map<i64, u32>* map) { m_fileSectorMap = map; }
    void SetQuickScan(bool on) { m_quickScan = on; }
    bool ReviseSwitch() const { return m_revise; }

    int BuildRoot(std::vector<IFileNode*>& folders, int allEntries, int enabled);
    // openRun (when given) receives the long-name pieces left open where the folder's chain ended (their
    // 8.3 entry lies in a cluster the chain no longer names), or nothing.
    int BuildChildren(IFileNode* parent, u32 firstCluster, std::vector<IFileNode*>& folders, int isRoot,
                      int allEntries, FATOpenRun* openRun = nullptr);
    u32 BuildChildrenFromBuffer(const u8* buffer, u32 length, IFileNode* parent, std::vector<IFileNode*>& folders,
                                FATSecondaryLists& secondary, int stopAtInvalid, int allEntries);

    u64 ConvertClusterNumToSector(u64 cluster) const;
    IDataRunList* BuildDataRunList(u64 firstCluster, u64 size, bool deleted);

    // First-cluster revision of deleted FAT32 entries. The entry's bytes stay as read: the revised first
    // cluster goes to entryCluster (which starts as the entry's own).
    void ReverseDelFileFirstNum(const u8* entry, u32& entryCluster, u32 folderStart, u64& nextCluster,
                                CFATFileProperties* properties, bool inLostFolder);
    u64 TryGetRealFirstNum(u64 start, bool& found, int limit, bool isFolder);
    void bInDelFileOrDIRMap(u64& cluster, u32& entryCluster, CFATFileProperties* properties, bool& found, u64& lastEnd,
                            bool isFolder);
    bool bReviseFAT32FileFirstClu(u64 cluster, bool flag);
    bool bEffectiveDIRFDT(u64 cluster);
    bool IniRawDllValue();
    bool bInAnalyzeMap(u32 key) const;
    bool bInAnalyzeMultimap(u16 key, u8* sector) const;
    bool bInAnalyzeList(u8* sector) const;
    static bool bWindowsPEFiles(const u8* sector, u64 length);

private:
    void MakeNode(const u8* buffer, u32 entryOffset, i64 lfnStart, IFileNode* parent, u32 parentCluster,
                  bool parentDeleted, u32 folderStart, u64& nextCluster, bool inLostFolder,
                  std::vector<IFileNode*>& folders, FATSecondaryLists& secondary);
    CFATFileProperties* BuildProperties(const u8* buffer, u32 entryOffset, i64 lfnStart) const;
    void MakeTemporaryNode(const u8* buffer, u32 entryOffset, i64 lfnStart, u32 parentCluster,
                           FATSecondaryLists& secondary) const;
    u8* SectorBuffer();

    FATBuildContext m_ctx;
    FATSearchState m_ownState;
    FATSearchState* m_state;
    u32 m_sectorSize;
    std::map<i64, u32>* m_fileSectorMap = nullptr;
    bool m_quickScan = false;
    bool m_revise = false;
    std::string m_currentExt;
    std::vector<u8> m_sectorBuffer;
    bool m_analysersLoaded = false;
    RawAnalyserList m_analyserList;
    RawAnalyserMap m_analyserMap;
    RawAnalyserMultimap m_analyserMultimap;
    std::map<u64, std::string> m_folderNames;
    std::map<u64, std::string> m_fileNames;
};

namespace fat {
// "UIConfig.ini" in the application's work folder.
std::string UIConfigPath();
// The revise switch of that file: off only when bRevise in [UserExperience] is exactly "0".
bool ReadReviseSwitch(const std::string& iniPath);
}  // namespace fat
