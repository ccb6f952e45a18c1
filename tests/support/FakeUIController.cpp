#include "support/FakeUIController.h"

#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/Utility/IFileNode.h"
#include "platform/foundation/NotificationCenter.h"

namespace testsupport {

FakeUIController::FakeUIController(brelvox::foundation::NotificationCenter* centre)
    : m_centre(centre ? centre : &brelvox::foundation::NotificationCenter::Default()) {}

void FakeUIController::SetScanState(bool running, bool paused) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_running = running;
    m_paused = paused;
}

void FakeUIController::SetProgress(const Progress& progress) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_progress = progress;
}

void FakeUIController::SetScanType(int viewType) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_viewType = viewType;
}

void FakeUIController::AddToTypeMap(u32 bit, IFileNode* node) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_typeMap[bit].push_back(node);
}

void FakeUIController::AddToTimeMap(int keyType, int year, int month, IFileNode* node) {
    std::lock_guard<std::mutex> hold(m_mutex);
    (keyType == 3 ? m_modifyMap : m_createMap)[year][month].push_back(node);
}

void FakeUIController::FileFound(IFileNode* node, u32 bit) {
    AddToTypeMap(bit, node);
    int year = 0, month = 0;
    KXCPPPublic::instance().GetYearMonthByFileTime(&year, &month, node->GetCreationTime());
    AddToTimeMap(2, year, month, node);
    KXCPPPublic::instance().GetYearMonthByFileTime(&year, &month, node->GetModificationTime());
    AddToTimeMap(3, year, month, node);
}

void FakeUIController::ClearMaps() {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_typeMap.clear();
    m_createMap.clear();
    m_modifyMap.clear();
}

void FakeUIController::AddStep(Step step) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_steps.push_back(std::move(step));
}

bool FakeUIController::PlayNextStep() {
    Step step;
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        if (m_steps.empty()) return false;
        step = std::move(m_steps.front());
        m_steps.pop_front();
        if (step.running) m_running = *step.running;
        if (step.paused) m_paused = *step.paused;
        if (step.progress) m_progress = *step.progress;
    }
    for (const std::string& name : step.posts) Post(name);
    if (step.action) step.action();
    return true;
}

void FakeUIController::Post(const std::string& name) {
    m_calls.Add("ui:post(" + name + ")");
    m_centre->PostOnMainThread(name, KXUIPublic::ClassObject());
}

bool FakeUIController::IsScanRunning() {
    m_calls.Add("ui:IsScanRunning");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_running;
}

bool FakeUIController::IsPause() {
    m_calls.Add("ui:IsPause");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_paused;
}

std::string FakeUIController::GetScanProgress(double* percent, u64* fileCount) {
    m_calls.Add("ui:GetScanProgress");
    std::lock_guard<std::mutex> hold(m_mutex);
    if (percent) *percent = m_progress.percent;
    if (fileCount) *fileCount = m_progress.files;
    return m_progress.remaining;
}

int FakeUIController::GetScanType() {
    m_calls.Add("ui:GetScanType");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_viewType;
}

IUIController::TypeMap FakeUIController::GetTypeMap() {
    m_calls.Add("ui:GetTypeMap");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_typeMap;
}

IUIController::TimeMap FakeUIController::GetCreateTimeMap() {
    m_calls.Add("ui:GetCreateTimeMap");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_createMap;
}

IUIController::TimeMap FakeUIController::GetModifyTimeMap() {
    m_calls.Add("ui:GetModifyTimeMap");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_modifyMap;
}

std::string FakeUIController::GetNodeExt(IFileNode* node) {
    m_calls.Add("ui:GetNodeExt");
    return KXCPPPublic::instance().GetNodeExt(node);
}

std::string FakeUIController::GetPathByFileNode(IFileNode* node) {
    m_calls.Add("ui:GetPathByFileNode");
    return KXUIPublic::GetPathByFileNode(node);
}

std::string FakeUIController::FormatFileTimeToString(_FILETIME time) {
    m_calls.Add("ui:FormatFileTimeToString");
    return KXUIPublic::FormatFileTimeToString(time);
}

void FakeUIController::GetYearMonthByFileTime(int* year, int* month, _FILETIME time) {
    m_calls.Add("ui:GetYearMonthByFileTime");
    KXCPPPublic::instance().GetYearMonthByFileTime(year, month, time);
}

std::string FakeUIController::FilterTypeToString(u32 bit) {
    m_calls.Add("ui:FilterTypeToString");
    return KXCPPPublic::instance().FilterTypeToString(bit);
}

u32 FakeUIController::StringToFilterType(const char* text) {
    m_calls.Add("ui:StringToFilterType");
    return KXCPPPublic::instance().StringToFilterType(text);
}

void FakeUIController::SetDeviceRows(DiskVolumeNodeData::Rows rows) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_rows = std::move(rows);
}

void FakeUIController::SetStartAnswer(bool started) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_startAnswer = started;
}

void FakeUIController::SetRecoveryAnswer(i64 code) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_recoveryAnswer = code;
}

void FakeUIController::SetSameDevice(bool same) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_sameDevice = same;
}

void FakeUIController::SetRecoveryState(const RecoveryState& state) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_recovery = state;
}

void FakeUIController::SetSelection(int count, u64 size) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_selectedCount = count;
    m_selectedSize = size;
}

bool FakeUIController::Start(const std::string& call) {
    m_calls.Add("ui:" + call);
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_startAnswer;
}

void FakeUIController::NotifiyDeviceInfoAfterInit(const std::string& key) {
    m_calls.Add("ui:NotifiyDeviceInfoAfterInit(" + key + ")");
    m_centre->PostOnMainThread(key, KXUIPublic::ClassObject());
}

void FakeUIController::GetDeviceInfoToArray(DiskVolumeNodeData::Rows* rows) {
    m_calls.Add("ui:GetDeviceInfoToArray");
    if (!rows) return;
    std::lock_guard<std::mutex> hold(m_mutex);
    rows->insert(rows->end(), m_rows.begin(), m_rows.end());
}

bool FakeUIController::RefreshDeviceInfo() {
    m_calls.Add("ui:RefreshDeviceInfo");
    return true;
}

bool FakeUIController::USBNotifier_init(brelvox::foundation::IDescriptorWatcher&) {
    m_calls.Add("ui:USBNotifier_init");
    return true;
}

void FakeUIController::USBNotifier_dealloc() { m_calls.Add("ui:USBNotifier_dealloc"); }

bool FakeUIController::KXOpenEdiFile(const std::string& path) {
    m_calls.Add("ui:KXOpenEdiFile(" + path + ")");
    return true;
}

bool FakeUIController::KXOpenDmgFile(const std::string& path) {
    m_calls.Add("ui:KXOpenDmgFile(" + path + ")");
    return true;
}

void FakeUIController::initFileType() {
    m_calls.Add("ui:initFileType");
}

void FakeUIController::SetRecoveryType(u32 mask) {
    m_calls.Add("ui:SetRecoveryType(" + std::to_string(mask) + ")");
}

void FakeUIController::SetViewType(int viewType) {
    m_calls.Add("ui:SetViewType(" + std::to_string(viewType) + ")");
    std::lock_guard<std::mutex> hold(m_mutex);
    m_viewType = viewType;
}

void FakeUIController::KXSetFlag(int flag) {
    m_calls.Add("ui:KXSetFlag(" + std::to_string(flag) + ")");
}

bool FakeUIController::DoScanWithDiskIndex(int diskIndex, int volumeIndex, const std::string& postKey) {
    return Start("DoScanWithDiskIndex(" + std::to_string(diskIndex) + "," + std::to_string(volumeIndex) + ")");
}

bool FakeUIController::DoScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) {
    return row && Start("DoScanWithData");
}

bool FakeUIController::DoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) {
    return row && Start("DoDeepScanWithData");
}

bool FakeUIController::isEdiDoDeepScanWithData(const DiskVolumeNodeData* row, const std::string& postKey) {
    return row && Start("isEdiDoDeepScanWithData");
}

bool FakeUIController::DoDeepScan(const std::string& postKey) {
    return Start("DoDeepScan");
}

void FakeUIController::PauseOrResumeScan() {
    m_calls.Add("ui:PauseOrResumeScan");
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_running) m_paused = !m_paused;
}

void FakeUIController::StopScan(int flag) {
    m_calls.Add("ui:StopScan(" + std::to_string(flag) + ")");
}

void FakeUIController::ResetShouldBuild() {
    m_calls.Add("ui:ResetShouldBuild");
}

bool FakeUIController::IsDeepScan() {
    m_calls.Add("ui:IsDeepScan");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_deep;
}

void FakeUIController::GetScanFileSize(u64* size, u64* count) {
    m_calls.Add("ui:GetScanFileSize");
    std::lock_guard<std::mutex> hold(m_mutex);
    u64 files = 0, bytes = 0;
    for (const auto& [bit, nodes] : m_typeMap) {
        for (IFileNode* node : nodes) {
            ++files;
            if (node && node->GetFileSize() > 0) bytes += u64(node->GetFileSize());
        }
    }
    if (size) *size = bytes;
    if (count) *count = files;
}

void FakeUIController::UnselectedAllNodes() {
    m_calls.Add("ui:UnselectedAllNodes");
}

void FakeUIController::ReleaseDataRecovery() {
    m_calls.Add("ui:ReleaseDataRecovery");
}

void FakeUIController::GetSelectedFilesAmout(int* count, u64* size) {
    m_calls.Add("ui:GetSelectedFilesAmout");
    std::lock_guard<std::mutex> hold(m_mutex);
    if (count) *count = m_selectedCount;
    if (size) *size = m_selectedSize;
}

bool FakeUIController::IsRecoveryToSameDevice(const std::string& path) {
    m_calls.Add("ui:IsRecoveryToSameDevice");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_sameDevice;
}

i64 FakeUIController::DoRecovery(const void* nodeList, const std::string& path, const std::string& postKey) {
    m_calls.Add("ui:DoRecovery(" + path + ")");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_recoveryAnswer;
}

bool FakeUIController::IsRecoveryRunning() {
    m_calls.Add("ui:IsRecoveryRunning");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_recovery.running;
}

std::string FakeUIController::GetRecoveryProgressTotal(u64* total, u64* current, i64* code) {
    m_calls.Add("ui:GetRecoveryProgressTotal");
    std::lock_guard<std::mutex> hold(m_mutex);
    if (total) *total = m_recovery.total;
    if (current) *current = m_recovery.current;
    if (code) *code = m_recovery.code;
    return m_recovery.fileName;
}

bool FakeUIController::IsRecoveryPaused() {
    m_calls.Add("ui:IsRecoveryPaused");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_recovery.running && m_recovery.paused;
}

void FakeUIController::PauseOrResumeRecovery() {
    m_calls.Add("ui:PauseOrResumeRecovery");
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_recovery.running) m_recovery.paused = !m_recovery.paused;
}

bool FakeUIController::GetFreeSpace(const std::string& path, u64* bytes) {
    m_calls.Add("ui:GetFreeSpace(" + path + ")");
    std::lock_guard<std::mutex> hold(m_mutex);
    if (bytes) *bytes = m_freeSpace.value_or(0);
    return m_freeSpace.has_value();
}

void FakeUIController::SetFreeSpace(std::optional<u64> bytes) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_freeSpace = bytes;
}

void FakeUIController::StopRecvoery() {
    m_calls.Add("ui:StopRecvoery");
}

u64 FakeUIController::GetRecoveridedFiles() {
    m_calls.Add("ui:GetRecoveridedFiles");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_recovery.copied;
}

u64 FakeUIController::GetRecoveryFailedFiles() {
    m_calls.Add("ui:GetRecoveryFailedFiles");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_recovery.failed;
}

u64 FakeUIController::GetRecoverySkippedFiles() {
    m_calls.Add("ui:GetRecoverySkippedFiles");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_recovery.skipped;
}

u64 FakeUIController::GetRecoveryFirstFailure() {
    m_calls.Add("ui:GetRecoveryFirstFailure");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_recovery.firstFailure;
}

bool FakeUIController::KXSetTreeNodeData(const TreeArrays* arrays) {
    m_calls.Add("ui:KXSetTreeNodeData");
    if (!arrays) return false;
    std::lock_guard<std::mutex> hold(m_mutex);
    m_arrays = *arrays;
    return true;
}

IUIController::TreeArrays FakeUIController::Arrays() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_arrays;
}

void FakeUIController::GetScanTreeNodeData(TreeArray*, bool clear) {
    m_calls.Add(std::string("ui:GetScanTreeNodeData(") + (clear ? "clear" : "keep") + ")");
}

bool FakeUIController::GetFileNodeToArray(std::vector<IFileNode*>* out, OpNodeData*) {
    m_calls.Add("ui:GetFileNodeToArray");
    if (out) out->clear();
    return false;
}

size_t FakeUIController::GetNodeChildrenCnt(const OpNodeData* node) {
    m_calls.Add("ui:GetNodeChildrenCnt");
    return node ? node->children().size() : 0;
}

void FakeUIController::RefreshTimeTreeState(const TreeArray&, int change) {
    m_calls.Add("ui:RefreshTimeTreeState(" + std::to_string(change) + ")");
}

void FakeUIController::RefreshTypeTreeState(OpNodeData*) {
    m_calls.Add("ui:RefreshTypeTreeState");
}

IconImage FakeUIController::getImageForType(const std::string& extension) {
    m_calls.Add("ui:getImageForType(" + extension + ")");
    return nullptr;
}

void FakeUIController::KXTableViewCellCilck() {
    m_calls.Add("ui:KXTableViewCellCilck");
}

void FakeUIController::RefreshData() {
    m_calls.Add("ui:RefreshData");
}

void FakeUIController::KXCleanState() {
    m_calls.Add("ui:KXCleanState");
}

bool FakeUIController::KXCleanOpNodeSate() {
    m_calls.Add("ui:KXCleanOpNodeSate");
    return true;
}

void FakeUIController::KXResetTreeNodeData() {
    m_calls.Add("ui:KXResetTreeNodeData");
}

bool FakeUIController::DoSearchWithString(const std::string& key, const std::string& postKey) {
    m_calls.Add("ui:DoSearchWithString(" + key + ")");
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        if (m_searching) return false;
        m_searching = true;
        m_searchKey = key;
    }
    Post(postKey);
    Post("DoSearchFinished");
    return true;
}

std::string FakeUIController::GetSearchString() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_searchKey;
}

void FakeUIController::StopSearch() {
    m_calls.Add("ui:StopSearch");
    std::lock_guard<std::mutex> hold(m_mutex);
    m_searching = false;
}

void FakeUIController::GetSearchResultToArr(std::vector<IFileNode*>*) {
    m_calls.Add("ui:GetSearchResultToArr");
}

bool FakeUIController::KXGetIsSearching() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_searching;
}

bool FakeUIController::beginSaveOrRestoreNode(int save, const std::string& path, const std::string& imagePath) {
    return Start("beginSaveOrRestoreNode(" + std::to_string(save) + "," + path + "," + imagePath + ")");
}

void FakeUIController::RestorPostUIUpdate(const std::string& key, int save) {
    m_calls.Add("ui:RestorPostUIUpdate(" + key + "," + std::to_string(save) + ")");
}

void FakeUIController::GetSaveorRestoreProgress(u64* total, u64* current, u64* code, bool /*saver*/) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (total) *total = m_saveProgress.total;
    if (current) *current = m_saveProgress.current;
    if (code) *code = m_saveProgress.code;
}

bool FakeUIController::SavePathToPList(const std::string& folder) {
    m_calls.Add("ui:SavePathToPList(" + folder + ")");
    std::lock_guard<std::mutex> hold(m_mutex);
    m_savePath = folder;
    return true;
}

std::optional<std::string> FakeUIController::GetSavePath() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_savePath;
}

std::string FakeUIController::GetSaveFileName() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_saveFileName;
}

bool FakeUIController::IsEdiRsf() {
    m_calls.Add("ui:IsEdiRsf");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_ediRsf;
}

void FakeUIController::SetEdiRsf(bool edi) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_ediRsf = edi;
}

bool FakeUIController::IsAppRunning() {
    return false;
}

bool FakeUIController::CloseApp() {
    m_calls.Add("ui:CloseApp");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_closeAnswer;
}

std::optional<std::string> FakeUIController::getUpDataTimeStr() {
    m_calls.Add("ui:getUpDataTimeStr");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_updateStamp;
}

bool FakeUIController::writeUpDataTimeStr(const std::string& stamp) {
    m_calls.Add("ui:writeUpDataTimeStr(" + stamp + ")");
    std::lock_guard<std::mutex> hold(m_mutex);
    m_updateStamp = stamp;
    return true;
}

bool FakeUIController::isCanBeUseNetWork() {
    m_calls.Add("ui:isCanBeUseNetWork");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_networkAnswer;
}

int FakeUIController::getSystemVersion() {
    m_calls.Add("ui:getSystemVersion");
    return 1015;
}

void FakeUIController::SetCloseAnswer(bool joined) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_closeAnswer = joined;
}

void FakeUIController::SetNetworkAnswer(bool usable) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_networkAnswer = usable;
}

void FakeUIController::SetUpdateStamp(std::optional<std::string> stamp) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_updateStamp = std::move(stamp);
}

void FakeUIController::SetSaveProgress(const SaveProgress& progress) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_saveProgress = progress;
}

void FakeUIController::SetSaveFileName(const std::string& name) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_saveFileName = name;
}

void FakeUIController::SetPreviewImage(IconImage image) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_previewImage = std::move(image);
}

IconImage FakeUIController::GetNSImageByFildNode(IFileNode*) {
    m_calls.Add("ui:GetNSImageByFildNode");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_previewImage;
}

IconImage FakeUIController::GetNSImageByFildNodeNSNumber(std::uintptr_t) {
    m_calls.Add("ui:GetNSImageByFildNodeNSNumber");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_previewImage;
}

IconImage FakeUIController::GetNSImageByNode(const OpNodeData*) {
    m_calls.Add("ui:GetNSImageByNode");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_previewImage;
}

IconImage FakeUIController::getVideoThumbFromPath(const std::string& path) {
    m_calls.Add("ui:getVideoThumbFromPath(" + path + ")");
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_previewImage;
}

}  // namespace testsupport
