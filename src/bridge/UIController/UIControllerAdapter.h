// The controller of the application: every call goes to the operations layer (KXUIController, the
// scan and the shared utilities).
#pragma once

#include "bridge/UIController/IUIController.h"

class UIControllerAdapter : public IUIController {
public:
    bool IsScanRunning() override;
    bool IsPause() override;
    std::string GetScanProgress(double* percent, u64* fileCount) override;
    int GetScanType() override;
    TypeMap GetTypeMap() override;
    TimeMap GetCreateTimeMap() override;
    TimeMap GetModifyTimeMap() override;
    TypeMap GetTypeMapFrom(const TypeResume& from) override;
    TimeMap GetCreateTimeMapFrom(const TimeResume& from) override;
    TimeMap GetModifyTimeMapFrom(const TimeResume& from) override;
    std::string GetNodeExt(IFileNode* node) override;
    std::string GetPathByFileNode(IFileNode* node) override;
    std::string FormatFileTimeToString(_FILETIME time) override;
    void GetYearMonthByFileTime(int* year, int* month, _FILETIME time) override;
    std::string FilterTypeToString(u32 bit) override;
    u32 StringToFilterType(const char* text) override;

    void NotifiyDeviceInfoAfterInit(const std::string& key) override;
    void GetDeviceInfoToArray(DiskVolumeNodeData::Rows* rows) override;
    bool RefreshDeviceInfo() override;
    bool USBNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher) override;
    void USBNotifier_dealloc() override;
    bool KXOpenEdiFile(const std::string& path) override;
    bool KXOpenDmgFile(const std::string& path) override;
    void initFileType() override;
    void SetRecoveryType(u32 mask) override;
    void SetViewType(int viewType) override;
    void KXSetFlag(int flag) override;
    bool DoScanWithDiskIndex(int diskIndex, int volumeIndex, const std::string& postKey) override;
    bool DoScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) override;
    bool DoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) override;
    bool isEdiDoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) override;
    bool DoDeepScan(const std::string& postKey) override;
    void PauseOrResumeScan() override;
    void StopScan(int flag) override;
    void ResetShouldBuild() override;
    bool IsDeepScan() override;
    void GetScanFileSize(u64* size, u64* count) override;
    void UnselectedAllNodes() override;
    void ReleaseDataRecovery() override;
    void GetSelectedFilesAmout(int* count, u64* size) override;
    bool IsRecoveryToSameDevice(const std::string& path) override;
    i64 DoRecovery(const void* nodeList, const std::string& path, const std::string& postKey) override;
    bool IsRecoveryRunning() override;
    std::string GetRecoveryProgressTotal(u64* total, u64* current, i64* code) override;
    bool IsRecoveryPaused() override;
    void PauseOrResumeRecovery() override;
    void StopRecvoery() override;
    u64 GetRecoveridedFiles() override;
    u64 GetRecoveryFailedFiles() override;
    u64 GetRecoverySkippedFiles() override;
    u64 GetRecoveryFirstFailure() override;
    // statvfs: the blocks free to unprivileged users times the fragment size.
    bool GetFreeSpace(const std::string& path, u64* bytes) override;
    // That product, at most the largest u64.
    static u64 FreeBytes(u64 availableBlocks, u64 fragmentSize);
    bool KXSetTreeNodeData(const TreeArrays* arrays) override;
    void GetScanTreeNodeData(TreeArray* array, bool clear) override;
    bool GetFileNodeToArray(std::vector<IFileNode*>* out, OpNodeData* node) override;
    size_t GetNodeChildrenCnt(const OpNodeData* node) override;
    void RefreshTimeTreeState(const TreeArray& roots, int change) override;
    void RefreshTypeTreeState(OpNodeData* node) override;
    IconImage getImageForType(const std::string& extension) override;
    void KXTableViewCellCilck() override;
    void RefreshData() override;
    void KXCleanState() override;
    bool KXCleanOpNodeSate() override;
    void KXResetTreeNodeData() override;
    bool DoSearchWithString(const std::string& key, const std::string& postKey) override;
    std::string GetSearchString() override;
    void StopSearch() override;
    void GetSearchResultToArr(std::vector<IFileNode*>* out) override;
    bool KXGetIsSearching() override;
    bool beginSaveOrRestoreNode(int save, const std::string& path, const std::string& imagePath) override;
    void RestorPostUIUpdate(const std::string& key, int save) override;
    void GetSaveorRestoreProgress(u64* total, u64* current, u64* code, bool saver) override;
    bool SavePathToPList(const std::string& folder) override;
    std::optional<std::string> GetSavePath() override;
    std::string GetSaveFileName() override;
    bool IsEdiRsf() override;
    std::optional<std::string> getUpDataTimeStr() override;
    bool writeUpDataTimeStr(const std::string& stamp) override;
    bool isCanBeUseNetWork() override;
    int getSystemVersion() override;
    bool IsAppRunning() override;
    bool CloseApp() override;
    IconImage GetNSImageByFildNode(IFileNode* node) override;
    IconImage GetNSImageByFildNodeNSNumber(std::uintptr_t address) override;
    IconImage GetNSImageByNode(const OpNodeData* node) override;
    IconImage getVideoThumbFromPath(const std::string& path) override;
};
