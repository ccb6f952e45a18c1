#include "bridge/ResultTree/KXTimeMgr.h"

#include <algorithm>
#include <cstdio>

#include "bridge/UIController/IUIController.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"
#include "engine/Utility/IFileNode.h"

namespace {

std::string Padded(const char* format, int value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Byte-wise comparison folding ASCII letters, as a case-insensitive compare of these names does.
int CompareIgnoringCase(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
        const int x = fold(static_cast<unsigned char>(a[i])), y = fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

KXTimeMgr& KXTimeMgr::share() {
    static KXTimeMgr manager;
    return manager;
}

KXTimeMgr::KXTimeMgr(IUIController* controller) : m_controller(controller) {}

IUIController* KXTimeMgr::controller() const {
    return m_controller ? m_controller : GetUIController();
}

bool KXTimeMgr::refreshTimeTree(const OpNodeData::Ptr& root, int keyType, size_t budget) {
    SimpleLock hold(&g_lockerAddData);
    m_iKeyType = keyType;
    IUIController* scan = controller();
    if (!scan || !root || (keyType != kCreateKey && keyType != kModifyKey)) return false;
    // Only the entries past the resume indexes are copied: a refresh costs what it places.
    const ResumeMap& resume = keyType == kCreateKey ? m_createTimeMap : m_modifyTimeMap;
    const IUIController::TimeMap fresh =
        keyType == kCreateKey ? scan->GetCreateTimeMapFrom(resume) : scan->GetModifyTimeMapFrom(resume);
    size_t examined = 0;
    for (const auto& [year, months] : fresh) {
        for (const auto& [month, list] : months) {
            // Every list here holds something new: what the budget does not reach is left for later.
            const size_t take = std::min(list.size(), budget - examined);
            if (take == 0) return true;
            examined += take;
            setIndex(getIndex(year, month, keyType) + take, year, month, keyType);
            for (size_t i = 0; i < take; ++i) {
                IFileNode* node = list[i];
                if (!node || node->IsDirectory() || !node->IsNodeShow()) continue;
                const _FILETIME time = keyType == kCreateKey ? node->GetCreationTime() : node->GetModificationTime();
                if (time == 0) continue;
                // The scan filed the node under the year and month of this very time, converted as
                // AddFileNode converts it: the key is its group, without a second local-time conversion.
                PlaceFile(node, root, keyType, year, month);
            }
            if (take < list.size()) return true;
        }
    }
    return false;
}

void KXTimeMgr::AddFileNode(IFileNode* node, const OpNodeData::Ptr& root) {
    AddFileNode(node, root, m_iKeyType);
}

void KXTimeMgr::AddFileNode(IFileNode* node, const OpNodeData::Ptr& root, int keyType) {
    SimpleLock hold(&g_lockerAddData);
    m_iKeyType = keyType;
    IUIController* scan = controller();
    if (!node || !root || !scan || (keyType != kCreateKey && keyType != kModifyKey)) return;
    int year = 0, month = 0;
    scan->GetYearMonthByFileTime(&year, &month,
                                 keyType == kModifyKey ? node->GetModificationTime() : node->GetCreationTime());
    PlaceFile(node, root, keyType, year, month);
}

void KXTimeMgr::PlaceFile(IFileNode* node, const OpNodeData::Ptr& root, int keyType, int year, int month) {
    if (year <= 0 || month <= 0 || month > 12) return;
    YearGroups& years = yearGroups(keyType);
    const auto knownYear = years.find(year);
    if (knownYear == years.end()) {
        const OpNodeData::Ptr yearGroup = insertYear(year, root);
        insertMonth(month, year, yearGroup)->addChildObject(node);
        return;
    }
    const OpNodeData::Ptr& yearGroup = knownYear->second;
    auto& months = monthGroups(keyType)[yearGroup.get()];
    const auto knownMonth = months.find(month);
    const OpNodeData::Ptr monthGroup = knownMonth != months.end() ? knownMonth->second : insertMonth(month, year, yearGroup);
    monthGroup->addChildObject(node);
}

OpNodeData::Ptr KXTimeMgr::insertYear(int year, const OpNodeData::Ptr& root) {
    SimpleLock hold(&g_lockerAddData);
    auto group = OpNodeData::NewGroup(m_iKeyType, Padded("%04d", year), 1);
    group->setSubNode({});
    group->setParent(root);
    const int at = GetDateInsertIndex(group->name(), root->children());
    root->insertChildObject(group, at < 0 ? root->children().size() : static_cast<size_t>(at));
    yearGroups(m_iKeyType)[year] = group;
    return group;
}

OpNodeData::Ptr KXTimeMgr::insertMonth(int month, int year, const OpNodeData::Ptr& yearGroup) {
    SimpleLock hold(&g_lockerAddData);
    auto group = OpNodeData::NewGroup(m_iKeyType, Padded("%02d", month), 0);
    group->setParent(yearGroup);
    const std::time_t value = MonthTimeValue(year, month);
    if (m_iKeyType == kModifyKey) {
        yearGroup->setModifyTime(value);
        group->setModifyTime(value);
    } else if (m_iKeyType == kCreateKey) {
        yearGroup->setCreateTime(value);
        group->setCreateTime(value);
    }
    const int at = GetDateInsertIndex(group->name(), yearGroup->children());
    yearGroup->insertChildObject(group, at < 0 ? yearGroup->children().size() : static_cast<size_t>(at));
    monthGroups(m_iKeyType)[yearGroup.get()][month] = group;
    return group;
}

int KXTimeMgr::GetDateInsertIndex(const std::string& name, const std::vector<OpNodeData::Child>& groups) {
    for (size_t i = 0; i < groups.size(); ++i) {
        const OpNodeData::Ptr* group = std::get_if<OpNodeData::Ptr>(&groups[i]);
        if (group && *group && CompareIgnoringCase((*group)->name(), name) > 0) return static_cast<int>(i);
    }
    return -1;
}

std::time_t KXTimeMgr::MonthTimeValue(int year, int month) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = 15;
    local.tm_hour = 12;
    local.tm_isdst = -1;  // whatever the zone's rule for that day is
    return std::mktime(&local);
}

size_t KXTimeMgr::getIndex(int year, int month, int keyType) const {
    const ResumeMap* map = keyType == kCreateKey ? &m_createTimeMap : keyType == kModifyKey ? &m_modifyTimeMap : nullptr;
    if (!map) return 0;
    const auto found = map->find({year, month});
    return found == map->end() ? 0 : found->second;
}

void KXTimeMgr::setIndex(size_t index, int year, int month, int keyType) {
    if (keyType == kCreateKey) m_createTimeMap[{year, month}] = index;
    if (keyType == kModifyKey) m_modifyTimeMap[{year, month}] = index;
}

void KXTimeMgr::initMap() {
    m_createTimeMap.clear();
    m_modifyTimeMap.clear();
}

void KXTimeMgr::clear() {
    SimpleLock hold(&g_lockerAddData);
    initMap();
    m_createYearTimeDic.clear();
    m_createMonthTimeDic.clear();
    m_modifyYearTimeDic.clear();
    m_modifyMonthTimeDic.clear();
    m_createTreeNeedRefresh.store(1);
    m_modifyTreeNeedRefresh.store(1);
}

void KXTimeMgr::setSearch(bool) {
    clear();
}

void KXTimeMgr::clearKey(int keyType) {
    SimpleLock hold(&g_lockerAddData);
    if (keyType != kCreateKey && keyType != kModifyKey) return;
    yearGroups(keyType).clear();
    monthGroups(keyType).clear();
    (keyType == kCreateKey ? m_createTimeMap : m_modifyTimeMap).clear();
    (keyType == kCreateKey ? m_createTreeNeedRefresh : m_modifyTreeNeedRefresh).store(1);
}

void KXTimeMgr::KXSetNeedRefreshTree() {
    IUIController* scan = controller();
    switch (scan ? scan->GetScanType() : 0) {
        case 0:
        case 1:
            m_createTreeNeedRefresh.store(1);
            m_modifyTreeNeedRefresh.store(1);
            break;
        case 2:
            m_modifyTreeNeedRefresh.store(1);
            break;
        case 3:
            m_createTreeNeedRefresh.store(1);
            break;
        default:
            break;
    }
}

void KXTimeMgr::KXResetNeedRefreshTree() {
    IUIController* scan = controller();
    switch (scan ? scan->GetScanType() : 0) {
        case 2:
            m_createTreeNeedRefresh.store(0);
            break;
        case 3:
            m_modifyTreeNeedRefresh.store(0);
            break;
        default:
            break;
    }
}

bool KXTimeMgr::KXGetNeedRefreshTree() {
    IUIController* scan = controller();
    switch (scan ? scan->GetScanType() : 0) {
        case 2:
            return m_createTreeNeedRefresh.load() != 0;
        case 3:
            return m_modifyTreeNeedRefresh.load() != 0;
        default:
            return true;
    }
}
