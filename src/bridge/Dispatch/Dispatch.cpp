#include "bridge/Dispatch/Dispatch.h"

#include <atomic>
#include <mutex>

#include "bridge/Dispatch/Clock.h"
#include "bridge/Dispatch/ResultTreeArrays.h"
#include "bridge/Operation/KXUIOperation.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/Common/CatchExeception.h"
#include "engine/Common/Locks.h"
#include "engine/Common/ResultTreeLock.h"

namespace {

constexpr const char* kQueryProgressInfo = "QueryProgressInfo";

std::mutex g_refreshMutex;
bool g_refreshed = false;  // a refresh was posted since the clock was reset
IClock::TimePoint g_lastRefresh{};
std::atomic<bool> g_pendingForced{false};

void PostRefresh(int force) {
    // Runs on the main thread: the arrays change there only, under the result-tree lock, and the
    // windows read them when the notification that follows reaches them.
    KXUIPublic::NotifyMainThreadAfter(ui_notification::kNormalScanValue, [force] {
        SimpleLock hold(&g_lockerAddData);
        ResultTreeArrays().RebuildForRefresh(force);
    });
}

}  // namespace

namespace dispatch {

std::shared_ptr<Worker> DoOperation(std::function<void()> worker, KXUIOperation* operation, const std::string& name,
                                    bool uiNotify) {
    // The worker first: a poll thread without its worker would post for a task that never ran.
    auto started = WorkerRegistry::Instance().Start("operation", std::move(worker));
    if (started && uiNotify && operation) {
        WorkerRegistry::Instance().Start("poll", [operation, name] { QueryStatusAndUpdateUI(*operation, name); },
                                         WorkerRegistry::kWorkerStackBytes);
    }
    return started;
}

void QueryStatusAndUpdateUI(KXUIOperation& operation, const std::string& name) {
    bool posted = false;
    while (!operation.IsOperationExit()) {
        BridgeClock().SleepFor(kPollPeriod);
        if (!operation.TakeNeedUIUpdate()) continue;
        if (operation.IsOpTreeFinished()) {
            KXUIPublic::NotifyMainThread(name);
            posted = true;
        }
    }
    if (!posted) KXUIPublic::NotifyMainThread(name);
    operation.SetNeedUIUpdate(0);
    CatchExeception::Instance()->WriteLog("!!!!!!! The state query thread is exited!!!!!!!!!\n");
}

void QueryUpdateUI(KXUIOperation& operation, const std::string& name) {
    while (!operation.IsOperationExit()) {
        BridgeClock().SleepFor(kPollPeriod);
        if (!operation.TakeNeedUIUpdate()) continue;
        KXUIPublic::NotifyMainThread(name);
    }
    CatchExeception::Instance()->WriteLog("---------Send Progress finish notify to UI-------\n");
    KXUIPublic::NotifyMainThread(ui_notification::kQueryProgressFinish);
    CatchExeception::Instance()->WriteLog("---------The Progress thread is exited-----------\n");
}

void QuerySaveOrRestoreProgress(KXUIOperation& operation) {
    while (!operation.IsOperationExit()) {
        BridgeClock().SleepFor(kPollPeriod);
        if (!operation.TakeNeedUIUpdate()) continue;
        KXUIPublic::NotifyMainThread(kQueryProgressInfo);
    }
}

}  // namespace dispatch

void KXNotifyUIUpdateData(int force) {
    if (!KXUIScan::instance().IsOpTreeFinished()) {
        // Skipping it would lose the refresh that closes a scan: it goes out once the tree is finished.
        if (force) {
            g_pendingForced.store(true);
            // The tree may have been finished meanwhile, after its own look at the pending request.
            if (KXUIScan::instance().IsOpTreeFinished()) DeliverPendingRefresh();
        }
        return;
    }
    if (!force) {
        const IClock::TimePoint now = BridgeClock().Now();
        std::lock_guard<std::mutex> hold(g_refreshMutex);
        if (g_refreshed && now - g_lastRefresh < dispatch::kRefreshPeriod) return;
        g_refreshed = true;
        g_lastRefresh = now;
    }
    PostRefresh(force);
}

void PostRefreshNow(int force) {
    PostRefresh(force);
}

void DeliverPendingRefresh() {
    if (g_pendingForced.exchange(false)) KXNotifyUIUpdateData(1);
}

void ResetRefreshClock() {
    std::lock_guard<std::mutex> hold(g_refreshMutex);
    g_refreshed = false;
}
