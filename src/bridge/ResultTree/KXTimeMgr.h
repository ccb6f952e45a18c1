// The two date trees of the result window: found files grouped by the year and month of their
// creation time (key type 2) or modification time (key type 3). Each tree is a root made by the
// operations layer, year groups "%04d" under it and month groups "%02d" under those, kept in
// ascending order, with the files in the order they were placed. Also the two flags that say
// whether a date tree's tick states must be recomputed before it is shown again.
//
// The trees change only under the result-tree lock (g_lockerAddData), which the operations here
// take themselves; readers hold it while they read.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bridge/ResultTree/OpNodeData.h"

class IUIController;

class KXTimeMgr {
public:
    static constexpr int kCreateKey = OPNODE_CREATE_DATE;
    static constexpr int kModifyKey = OPNODE_MODIFY_DATE;

    // The process-wide manager over the process's controller, made on first use.
    static KXTimeMgr& share();

    // A manager over a controller (null: the process's controller at each call).
    explicit KXTimeMgr(IUIController* controller = nullptr);
    KXTimeMgr(const KXTimeMgr&) = delete;
    KXTimeMgr& operator=(const KXTimeMgr&) = delete;

    // Places the files of the key type's time map not examined before under root. Folders, times of
    // 0 and hidden nodes are skipped for good; any key type but 2 and 3 places nothing.
    // Each file goes to the year and month the map files it under (the same conversion AddFileNode makes).
    // No more than budget files are looked at; true when some are left for a later call.
    bool refreshTimeTree(const OpNodeData::Ptr& root, int keyType, size_t budget = SIZE_MAX);
    // Places one file under its year and month (key type of the refresh under way).
    void AddFileNode(IFileNode* node, const OpNodeData::Ptr& root);
    // The same with the key type given (2 created, 3 modified; any other places nothing).
    void AddFileNode(IFileNode* node, const OpNodeData::Ptr& root, int keyType);
    OpNodeData::Ptr insertYear(int year, const OpNodeData::Ptr& root);
    OpNodeData::Ptr insertMonth(int month, int year, const OpNodeData::Ptr& yearGroup);
    // Where a new group named name goes among groups: before the first whose name compares greater
    // (ignoring case); -1 to append.
    static int GetDateInsertIndex(const std::string& name, const std::vector<OpNodeData::Child>& groups);
    // Resume index of one month list (0 when none is stored).
    size_t getIndex(int year, int month, int keyType) const;
    void setIndex(size_t index, int year, int month, int keyType);
    void initMap();
    // Forgets every group and resume index; both trees become stale.
    void clear();
    // As clear (the flag is not kept).
    void setSearch(bool flag);
    // Forgets the groups and resume indexes of one key type's tree only (that tree is made anew).
    void clearKey(int keyType);

    // The refresh flags, by the view type of the current tab (0 path, 1 type, 2 created, 3 modified).
    void KXSetNeedRefreshTree();
    void KXResetNeedRefreshTree();
    bool KXGetNeedRefreshTree();

    // A local time inside the given year and month (the 15th at noon); what a month group carries.
    static std::time_t MonthTimeValue(int year, int month);

private:
    using YearGroups = std::map<int, OpNodeData::Ptr>;
    using MonthGroups = std::map<const OpNodeData*, std::map<int, OpNodeData::Ptr>>;
    using ResumeMap = std::map<std::pair<int, int>, size_t>;

    IUIController* controller() const;
    // Places one file under the groups of year and month (made when missing); the caller holds the
    // result-tree lock and has set m_iKeyType to keyType.
    void PlaceFile(IFileNode* node, const OpNodeData::Ptr& root, int keyType, int year, int month);
    YearGroups& yearGroups(int keyType) { return keyType == kModifyKey ? m_modifyYearTimeDic : m_createYearTimeDic; }
    MonthGroups& monthGroups(int keyType) { return keyType == kModifyKey ? m_modifyMonthTimeDic : m_createMonthTimeDic; }

    IUIController* m_controller;
    YearGroups m_createYearTimeDic;
    MonthGroups m_createMonthTimeDic;
    YearGroups m_modifyYearTimeDic;
    MonthGroups m_modifyMonthTimeDic;
    ResumeMap m_createTimeMap;
    ResumeMap m_modifyTimeMap;
    int m_iKeyType = 0;
    std::atomic<int> m_createTreeNeedRefresh{0};
    std::atomic<int> m_modifyTreeNeedRefresh{0};
};
