#include "support/FakeWindowSide.h"

#include <thread>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Dispatch/Dispatch.h"
#include "bridge/Dispatch/ResultTreeArrays.h"
#include "bridge/Filter/KXUIFilter.h"
#include "bridge/Recovery/KXUIRecovery.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "bridge/UIController/UINotifications.h"
#include "bridge/Utilities/KXUIPublic.h"

namespace testsupport {

namespace {

using std::chrono::milliseconds;

// The real pause between two turns, so that workers get to run.
constexpr milliseconds kRealPause{1};

}  // namespace

void ResetOperations(KXUIDeviceData::Config devices, KXUIScan::ControllerFactory controllers) {
    KXUIScan& scan = KXUIScan::instance();
    KXUIRecovery& recovery = KXUIRecovery::instance();
    scan.StopOperation(1);
    recovery.StopOperation(1);
    KXUIController::JoinWorkers();
    scan.SetStatus(OP_IDLE);
    recovery.SetStatus(OP_IDLE);
    scan.SetShouldBuildTree(1);
    scan.SetOpTreeFinished(1);
    scan.SetDeepScan(0);
    scan.SetScanType(0);
    scan.SetSearchKey("");
    scan.ClearData();
    scan.SaveScanSorage(nullptr);
    // No controller: its nodes and devices go now.
    scan.ResetRecoveryController(kNoScanController);
    scan.SetControllerFactory(std::move(controllers));
    recovery.ReleaseDataRecovery();
    recovery.ResetParam();
    recovery.ClearCreateDirIndex();
    recovery.SetRecoveryPath("");
    KXUIDeviceData::instance().Configure(std::move(devices));
    KXUIFilter::instance().ResetFilter(127);
    // No window arrays and no tree state survive into the next test.
    const KXUIController::TreeArrays none;
    KXUIController::KXSetTreeNodeData(&none);
    KXUIController::KXResetTreeNodeData();
    KXTypeMgr::share().clear();
    KXTimeMgr::share().clear();
    scan.SetSearching(0);
    scan.SetAddDataFlag(0);
    ResetRefreshClock();
}

FakeWindowSide::FakeWindowSide(Options options) : m_loop(std::move(options.realWindows)) {
    if (options.fakeClock || m_loop) m_fakeClock = std::make_unique<FakeClock>();
    m_stepSize = options.step;
    SetBridgeClock(m_fakeClock.get());
    if (m_loop) {
        // The operations layer posts on the default centre, whose queue is the application's.
        m_observed = &brelvox::foundation::NotificationCenter::Default();
        KXUIPublic::SetNotificationCenter(nullptr);
    } else {
        m_centre.SetMainThreadQueue(&m_queue);
        KXUIPublic::SetNotificationCenter(&m_centre);
    }
    m_previousController = GetUIController();
    SetUIController(&m_adapter);
    ResetOperations(std::move(options.devices), std::move(options.controllers));
    for (const std::string& name : ObservedNames())
        m_observed->AddObserver(this, name, nullptr, [this](const brelvox::foundation::Notification& n) { Record(n.name); });
}

FakeWindowSide::~FakeWindowSide() {
    KXUIScan::instance().StopOperation(1);
    KXUIRecovery::instance().StopOperation(1);
    // Sleepers on the fake clock wake for good: the poll threads can end.
    if (m_fakeClock) m_fakeClock->Release();
    KXUIController::JoinWorkers();
    ResetOperations();
    m_observed->RemoveObserver(this);
    SetUIController(m_previousController);
    KXUIPublic::SetNotificationCenter(nullptr);
    SetBridgeClock(nullptr);
    Pump();
}

const std::vector<std::string>& FakeWindowSide::ObservedNames() {
    static const std::vector<std::string> names = {
        ui_notification::kInitFinished, ui_notification::kNormalScanValue,     ui_notification::kDoRecovery,
        ui_notification::kBadSectorNotify, ui_notification::kQueryProgressFinish, "QueryProgressInfo",
        ui_notification::kDoSearchValue, ui_notification::kDoSearchFinished,
    };
    return names;
}

void FakeWindowSide::Record(const std::string& name) {
    Delivery d;
    d.name = name;
    d.at = Elapsed();
    IUIController& c = m_adapter;
    d.scanRunning = c.IsScanRunning();
    d.scanPaused = c.IsPause();
    d.remaining = c.GetScanProgress(&d.percent, &d.files);
    c.GetScanFileSize(&d.scanSize, &d.scanCount);
    d.recoveryRunning = c.IsRecoveryRunning();
    d.recoveryFile = c.GetRecoveryProgressTotal(&d.recoveryTotal, &d.recoveryCurrent, &d.recoveryCode);
    d.copied = c.GetRecoveridedFiles();
    d.failed = c.GetRecoveryFailedFiles();
    d.skipped = c.GetRecoverySkippedFiles();
    m_deliveries.push_back(std::move(d));
}

size_t FakeWindowSide::Pump() {
    return m_loop ? m_loop->turn() : m_queue.Pump();
}

size_t FakeWindowSide::Pending() {
    return m_loop ? m_loop->pending() : m_queue.Pending();
}

void FakeWindowSide::Advance(milliseconds duration) {
    if (!m_fakeClock) return;
    if (!m_loop) {
        m_fakeClock->Advance(duration);
        return;
    }
    m_loop->advance(duration, [this](milliseconds part) { m_fakeClock->Advance(part); });
}

void FakeWindowSide::RunScript() {
    for (Step& step : m_steps) {
        if (step.done || !step.condition()) continue;
        step.done = true;
        m_scriptLog.push_back(step.label);
        if (step.action) step.action();
    }
}

void FakeWindowSide::Turn() {
    Advance(m_stepSize);
    std::this_thread::sleep_for(kRealPause);
}

bool FakeWindowSide::RunUntil(const std::function<bool()>& condition, milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        Pump();
        RunScript();
        Pump();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        Turn();
    }
}

bool FakeWindowSide::RunUntilScanEnds(milliseconds limit) {
    return RunUntil(
        [] { return !KXUIController::IsScanRunning() && !KXUIController::IsScanWorkerAlive(); }, limit) &&
           RunUntil([this] { return Pending() == 0; }, limit);
}

bool FakeWindowSide::RunUntilRecoveryEnds(milliseconds limit) {
    // The poll thread posts once more after the worker: wait until it is gone too.
    return RunUntil(
        [] {
            return !KXUIController::IsRecoveryRunning() && !KXUIController::IsRecoveryWorkerAlive() &&
                   WorkerRegistry::Instance().RunningCount() == 0;
        },
        limit) &&
           RunUntil([this] { return Pending() == 0; }, limit);
}

void FakeWindowSide::When(std::function<bool()> condition, std::function<void()> action, std::string label) {
    m_steps.push_back({std::move(condition), std::move(action), std::move(label)});
}

std::vector<FakeWindowSide::Delivery> FakeWindowSide::Deliveries(const std::string& name) const {
    std::vector<Delivery> out;
    for (const Delivery& d : m_deliveries)
        if (d.name == name) out.push_back(d);
    return out;
}

size_t FakeWindowSide::Count(const std::string& name) const {
    return Deliveries(name).size();
}

FakeWindowSide::Delivery FakeWindowSide::Last(const std::string& name) const {
    const auto all = Deliveries(name);
    return all.empty() ? Delivery{} : all.back();
}

milliseconds FakeWindowSide::Elapsed() {
    if (m_fakeClock) return m_fakeClock->Elapsed();
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - m_realStart);
}

}  // namespace testsupport
