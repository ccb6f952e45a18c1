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

}  // namespace testsupport
