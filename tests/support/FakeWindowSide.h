// The window side of the operations layer without windows: it installs its own notification centre
// with a main-thread queue that it pumps itself, a clock it moves (or the system clock), and the
// application's controller adapter; it observes the notifications a window observes and records each
// delivery with what a window would read at that moment through the controller. A script of steps
// (pause at 30 %, stop, start...) runs while it waits, each step once its condition holds.
//
// Beside real windows (Options::realWindows, made by tests/uisupport's RealWindows) it observes the
// default centre instead, where the operations layer then posts, turns the application's event loop
// and moves the loop's clock together with its own.
//
// Making one resets the operations layer (scan, recovery, device model, filter); ending one stops and
// joins every worker and resets it again.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UIControllerAdapter.h"
#include "platform/foundation/MainThreadQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/FakeClock.h"

namespace testsupport {

class FakeWindowSide {
public:
    // The application's side of real windows: its event loop and its clock.
    struct MainLoop {
        // Runs what is queued for the main thread (and the rest of the loop's events); how many
        // queued items ran.
        std::function<size_t()> turn;
        // Items queued for the main thread and not run yet.
        std::function<size_t()> pending;
        // Moves the loop's clock by duration together with the window side's: it calls moveFake
        // with each part of the way before it fires what falls due at the end of that part, so each
        // of its timers fires with both clocks at its time.
        std::function<void(std::chrono::milliseconds duration,
                           const std::function<void(std::chrono::milliseconds)>& moveFake)>
            advance;
    };

    struct Options {
        // The device model's configuration (the machine's real devices when left empty).
        KXUIDeviceData::Config devices{};
        // The scan's controllers (the engine's when null).
        KXUIScan::ControllerFactory controllers{};
        // A clock moved by the window side (true) or the system clock.
        bool fakeClock = true;
        // How far the fake clock moves at each turn of RunUntil.
        std::chrono::milliseconds step{100};
        // Real windows: the default centre, the application's loop and clock (needs fakeClock).
        std::optional<MainLoop> realWindows{};
    };

    // What a window reads when a notification reaches it.
    struct Delivery {
        std::string name;
        std::chrono::milliseconds at{0};  // on the window side's clock since it began
        bool scanRunning = false;
        bool scanPaused = false;
        double percent = 0;
        u64 files = 0;
        std::string remaining;
        u64 scanSize = 0;
        u64 scanCount = 0;
        bool recoveryRunning = false;
        u64 recoveryTotal = 0;
        u64 recoveryCurrent = 0;
        i64 recoveryCode = 0;
        std::string recoveryFile;
        u64 copied = 0;
        u64 failed = 0;
        u64 skipped = 0;
    };

    explicit FakeWindowSide(Options options);
    FakeWindowSide() : FakeWindowSide(Options{}) {}
    ~FakeWindowSide();
    FakeWindowSide(const FakeWindowSide&) = delete;
    FakeWindowSide& operator=(const FakeWindowSide&) = delete;

    // The controller the windows call.
    IUIController& Controller() { return m_adapter; }
    // The centre the operations layer posts on (the default one beside real windows).
    brelvox::foundation::NotificationCenter& Centre() { return *m_observed; }
    FakeClock* Clock() { return m_fakeClock.get(); }
    // Moves the fake clock, and beside real windows the loop's clock with it, by duration.
    void Advance(std::chrono::milliseconds duration);

    // Runs what the workers queued for the main thread; how many items ran.
    size_t Pump();
    // Turns until condition holds: pump, run the script steps whose condition holds, check, move the
    // fake clock by one step (the system clock: a short real pause). False after limit of real time.
    bool RunUntil(const std::function<bool()>& condition,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(30000));
    // Turns until the scan (or the recovery) and its worker have ended and what they queued has been
    // delivered.
    bool RunUntilScanEnds(std::chrono::milliseconds limit = std::chrono::milliseconds(30000));
    bool RunUntilRecoveryEnds(std::chrono::milliseconds limit = std::chrono::milliseconds(30000));

    // A step of the script: once condition holds during a RunUntil, action runs (once) and label is
    // logged.
    void When(std::function<bool()> condition, std::function<void()> action, std::string label);
    std::vector<std::string> ScriptLog() const { return m_scriptLog; }

    std::vector<Delivery> Deliveries(const std::string& name) const;
    size_t Count(const std::string& name) const;
    // The last delivery of name; a default one when none came.
    Delivery Last(const std::string& name) const;
    std::chrono::milliseconds Elapsed();

    // The notifications observed from the start.
    static const std::vector<std::string>& ObservedNames();

private:
    struct Step {
        std::function<bool()> condition;
        std::function<void()> action;
        std::string label;
        bool done = false;
    };
    void Record(const std::string& name);
    void RunScript();
    void Turn();

    size_t Pending();

    std::unique_ptr<FakeClock> m_fakeClock;
    std::chrono::milliseconds m_stepSize{100};
    std::optional<MainLoop> m_loop;
    brelvox::foundation::PumpedMainThreadQueue m_queue;
    brelvox::foundation::NotificationCenter m_centre;
    brelvox::foundation::NotificationCenter* m_observed = &m_centre;
    UIControllerAdapter m_adapter;
    IUIController* m_previousController = nullptr;
    std::chrono::steady_clock::time_point m_realStart = std::chrono::steady_clock::now();
    std::vector<Delivery> m_deliveries;
    std::vector<Step> m_steps;
    std::vector<std::string> m_scriptLog;
};

// Puts the operations layer back to its first state: no scan or recovery (workers joined), empty
// results, a device model of the given configuration, the engine's controllers (or the given ones),
// every file category kept.
void ResetOperations(KXUIDeviceData::Config devices = {}, KXUIScan::ControllerFactory controllers = nullptr);

}  // namespace testsupport
