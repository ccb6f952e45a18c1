#include "bridge/UIController/UIControllerAdapter.h"

#include <sys/statvfs.h>

#include <limits>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Device/USBNotifier.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/KXPublicUtilities.h"
#include "bridge/Utilities/KXUIPublic.h"

using C = KXUIController;

bool UIControllerAdapter::IsScanRunning() { return C::IsScanRunning(); }
bool UIControllerAdapter::IsPause() { return C::IsPause(); }
std::string UIControllerAdapter::GetScanProgress(double* percent, u64* fileCount) {
    return C::GetScanProgress(percent, fileCount);
}
int UIControllerAdapter::GetScanType() { return KXUIScan::instance().GetScanType(); }
IUIController::TypeMap UIControllerAdapter::GetTypeMap() { return KXUIScan::instance().GetTypeMap(); }
IUIController::TimeMap UIControllerAdapter::GetCreateTimeMap() { return KXUIScan::instance().GetCreateTimeMap(); }
IUIController::TimeMap UIControllerAdapter::GetModifyTimeMap() { return KXUIScan::instance().GetModifyTimeMap(); }
IUIController::TypeMap UIControllerAdapter::GetTypeMapFrom(const TypeResume& from) {
    return KXUIScan::instance().GetTypeMapFrom(from);
}
IUIController::TimeMap UIControllerAdapter::GetCreateTimeMapFrom(const TimeResume& from) {
    return KXUIScan::instance().GetCreateTimeMapFrom(from);
}
IUIController::TimeMap UIControllerAdapter::GetModifyTimeMapFrom(const TimeResume& from) {
    return KXUIScan::instance().GetModifyTimeMapFrom(from);
}
std::string UIControllerAdapter::GetNodeExt(IFileNode* node) { return KXUIScan::instance().GetNodeExt(node); }
std::string UIControllerAdapter::GetPathByFileNode(IFileNode* node) { return KXUIPublic::GetPathByFileNode(node); }
std::string UIControllerAdapter::FormatFileTimeToString(_FILETIME time) {
    return KXUIPublic::FormatFileTimeToString(time);
}
void UIControllerAdapter::GetYearMonthByFileTime(int* year, int* month, _FILETIME time) {
    KXCPPPublic::instance().GetYearMonthByFileTime(year, month, time);
}
std::string UIControllerAdapter::FilterTypeToString(u32 bit) { return KXCPPPublic::instance().FilterTypeToString(bit); }
u32 UIControllerAdapter::StringToFilterType(const char* text) {
    return KXCPPPublic::instance().StringToFilterType(text);
}

void UIControllerAdapter::NotifiyDeviceInfoAfterInit(const std::string& key) { C::NotifiyDeviceInfoAfterInit(key); }
void UIControllerAdapter::GetDeviceInfoToArray(DiskVolumeNodeData::Rows* rows) { C::GetDeviceInfoToArray(rows); }
bool UIControllerAdapter::RefreshDeviceInfo() { return C::RefreshDeviceInfo(); }
bool UIControllerAdapter::USBNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher) {
    return ::USBNotifier_init(watcher);
}
void UIControllerAdapter::USBNotifier_dealloc() { ::USBNotifier_dealloc(); }
bool UIControllerAdapter::KXOpenEdiFile(const std::string& path) { return C::KXOpenEdiFile(path); }
bool UIControllerAdapter::KXOpenDmgFile(const std::string& path) { return C::KXOpenDmgFile(path); }
void UIControllerAdapter::initFileType() { C::initFileType(); }
void UIControllerAdapter::SetRecoveryType(u32 mask) { C::SetRecoveryType(mask); }
void UIControllerAdapter::SetViewType(int viewType) { C::SetViewType(viewType); }
void UIControllerAdapter::KXSetFlag(int flag) { C::KXSetFlag(flag); }
bool UIControllerAdapter::DoScanWithDiskIndex(int diskIndex, int volumeIndex, const std::string& postKey) {
    return C::DoScanWithDiskIndex(diskIndex, volumeIndex, postKey);
}
bool UIControllerAdapter::DoScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) {
    return C::DoScanWithData(row, postKey);
}
bool UIControllerAdapter::DoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) {
    return C::DoDeepScanWithData(row, postKey);
}
bool UIControllerAdapter::isEdiDoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) {
    return C::isEdiDoDeepScanWithData(row, postKey);
}
bool UIControllerAdapter::DoDeepScan(const std::string& postKey) { return C::DoDeepScan(nullptr, postKey); }
void UIControllerAdapter::PauseOrResumeScan() { C::PauseOrResumeScan(); }
void UIControllerAdapter::StopScan(int flag) { C::StopScan(flag); }
void UIControllerAdapter::ResetShouldBuild() { C::ResetShouldBuild(); }
bool UIControllerAdapter::IsDeepScan() { return C::IsDeepScan(); }
void UIControllerAdapter::GetScanFileSize(u64* size, u64* count) { C::GetScanFileSize(size, count); }
void UIControllerAdapter::UnselectedAllNodes() { C::UnselectedAllNodes(); }
void UIControllerAdapter::ReleaseDataRecovery() { C::ReleaseDataRecovery(); }
void UIControllerAdapter::GetSelectedFilesAmout(int* count, u64* size) { C::GetSelectedFilesAmout(count, size); }
bool UIControllerAdapter::IsRecoveryToSameDevice(const std::string& path) { return C::IsRecoveryToSameDevice(path); }
i64 UIControllerAdapter::DoRecovery(const void* nodeList, const std::string& path, const std::string& postKey) {
    return C::DoRecovery(nodeList, path, postKey);
}
bool UIControllerAdapter::IsRecoveryRunning() { return C::IsRecoveryRunning(); }
std::string UIControllerAdapter::GetRecoveryProgressTotal(u64* total, u64* current, i64* code) {
    return C::GetRecoveryProgressTotal(total, current, code);
}
bool UIControllerAdapter::IsRecoveryPaused() { return C::IsRecoveryPaused(); }
void UIControllerAdapter::PauseOrResumeRecovery() { C::PauseOrResumeRecovery(); }
void UIControllerAdapter::StopRecvoery() { C::StopRecvoery(); }
u64 UIControllerAdapter::GetRecoveridedFiles() { return C::GetRecoveridedFiles(); }
u64 UIControllerAdapter::GetRecoveryFailedFiles() { return C::GetRecoveryFailedFiles(); }
u64 UIControllerAdapter::GetRecoverySkippedFiles() { return C::GetRecoverySkippedFiles(); }
u64 UIControllerAdapter::GetRecoveryFirstFailure() { return C::GetRecoveryFirstFailure(); }
bool UIControllerAdapter::GetFreeSpace(const std::string& path, u64* bytes) {
    struct statvfs info {};
    const bool known = !path.empty() && ::statvfs(path.c_str(), &info) == 0;
    if (bytes) *bytes = known ? FreeBytes(info.f_bavail, info.f_frsize) : 0;
    return known;
}

u64 UIControllerAdapter::FreeBytes(u64 availableBlocks, u64 fragmentSize) {
    const unsigned __int128 product = static_cast<unsigned __int128>(availableBlocks) * fragmentSize;
    return product > std::numeric_limits<u64>::max() ? std::numeric_limits<u64>::max() : u64(product);
}
bool UIControllerAdapter::KXSetTreeNodeData(const TreeArrays* arrays) { return C::KXSetTreeNodeData(arrays); }
void UIControllerAdapter::GetScanTreeNodeData(TreeArray* array, bool clear) { C::GetScanTreeNodeData(array, clear); }
bool UIControllerAdapter::GetFileNodeToArray(std::vector<IFileNode*>* out, OpNodeData* node) {
    return C::GetFileNodeToArray(out, node);
}
size_t UIControllerAdapter::GetNodeChildrenCnt(const OpNodeData* node) { return C::GetNodeChildrenCnt(node); }
void UIControllerAdapter::RefreshTimeTreeState(const TreeArray& roots, int change) {
    C::RefreshTimeTreeState(roots, change);
}
void UIControllerAdapter::RefreshTypeTreeState(OpNodeData* node) { C::RefreshTypeTreeState(node); }
IconImage UIControllerAdapter::getImageForType(const std::string& extension) { return C::getImageForType(extension); }
void UIControllerAdapter::KXTableViewCellCilck() { C::KXTableViewCellCilck(); }
void UIControllerAdapter::RefreshData() { C::RefreshData(); }
void UIControllerAdapter::KXCleanState() { C::KXCleanState(); }
bool UIControllerAdapter::KXCleanOpNodeSate() { return C::KXCleanOpNodeSate(); }
void UIControllerAdapter::KXResetTreeNodeData() { C::KXResetTreeNodeData(); }
bool UIControllerAdapter::DoSearchWithString(const std::string& key, const std::string& postKey) {
    return C::DoSearchWithString(key, postKey);
}
std::string UIControllerAdapter::GetSearchString() { return C::GetSearchString(); }
void UIControllerAdapter::StopSearch() { C::StopSearch(); }
void UIControllerAdapter::GetSearchResultToArr(std::vector<IFileNode*>* out) { C::GetSearchResultToArr(out); }
bool UIControllerAdapter::KXGetIsSearching() { return C::KXGetIsSearching(); }
bool UIControllerAdapter::beginSaveOrRestoreNode(int save, const std::string& path, const std::string& imagePath) {
    return C::beginSaveOrRestoreNode(save, path, imagePath);
}
void UIControllerAdapter::RestorPostUIUpdate(const std::string& key, int save) { C::RestorPostUIUpdate(key, save); }
void UIControllerAdapter::GetSaveorRestoreProgress(u64* total, u64* current, u64* code, bool saver) {
    C::GetSaveorRestoreProgress(total, current, code, saver);
}
bool UIControllerAdapter::SavePathToPList(const std::string& folder) { return C::SavePathToPList(folder); }
std::optional<std::string> UIControllerAdapter::GetSavePath() { return C::GetSavePath(); }
std::string UIControllerAdapter::GetSaveFileName() { return C::GetSaveFileName(); }
bool UIControllerAdapter::IsEdiRsf() { return KXUIScan::instance().IsEdiRsf() != 0; }
std::optional<std::string> UIControllerAdapter::getUpDataTimeStr() { return KXPublicUtilities::getUpDataTimeStr(); }
bool UIControllerAdapter::writeUpDataTimeStr(const std::string& stamp) {
    return KXPublicUtilities::writeUpDataTimeStr(stamp);
}
bool UIControllerAdapter::isCanBeUseNetWork() { return KXPublicUtilities::isCanBeUseNetWork(); }
int UIControllerAdapter::getSystemVersion() { return KXPublicUtilities::getSystemVersion(); }
bool UIControllerAdapter::IsAppRunning() { return C::IsAppRunning(); }
bool UIControllerAdapter::CloseApp() { return C::CloseApp(); }
IconImage UIControllerAdapter::GetNSImageByFildNode(IFileNode* node) { return C::GetNSImageByFildNode(node); }
IconImage UIControllerAdapter::GetNSImageByFildNodeNSNumber(std::uintptr_t address) {
    return C::GetNSImageByFildNodeNSNumber(address);
}
IconImage UIControllerAdapter::GetNSImageByNode(const OpNodeData* node) { return C::GetNSImageByNode(node); }
IconImage UIControllerAdapter::getVideoThumbFromPath(const std::string& path) { return C::getVideoThumbFromPath(path); }
