// The application delegate against the scriptable controller: the launch (the media notifier once,
// the update decision with the stamp written before the fetch, the main window once, a saved result
// handed to its import flow), the menu (titles, the statistics tick as stored, links per language),
// the quit guard (a running scan paused and resumed on "no", a paused one left paused, a recovery
// asked about, an unsaved result's save prompt, CloseApp otherwise), two disks arriving from a fake
// udev source, and the editing keys of a text field under the main menu.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "bridge/Device/USBNotifier.h"
#include "bridge/UIController/UINotifications.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeBlockEventSource.h"
#include "support/FakeUIController.h"
#include "ui/controls/TCImageWindow.h"
#include "ui/controls/TCWindowButton.h"
#include "ui/kit/Application.h"
#include "ui/kit/DescriptorWatcher.h"
#include "ui/kit/Menu.h"
#include "ui/kit/Scheduler.h"
#include "ui/kit/TextField.h"
#include "ui/kit/Window.h"
#include "ui/shell/KXAppDelegate.h"
#include "ui/shell/QuitGuard.h"
#include "ui/shell/ShellSandbox.h"
#include "ui/shell/UsageStatistics.h"
#include "uisupport/FakeServices.h"
#include "uisupport/UiTest.h"

namespace {

namespace defaults_key = brelvox::foundation::defaults_key;
using brelvox::foundation::NotificationCenter;
using shell::KXAppDelegate;
using Outlets = KXAppDelegate::Outlets;
using testsupport::FakeUIController;

const QDateTime kNow = QDateTime::fromString("2024-03-15 12:00:00", "yyyy-MM-dd HH:mm:ss");

// The main window's double: a plain kit window, and the import flow recorded.
class RootWindowDouble : public shell::IRootWindow {
public:
    explicit RootWindowDouble(std::vector<std::string>* log) : m_log(log) {}
    kit::Window* window() override { return &m_window; }
    void showWindow() override {
        m_log->push_back("show");
        m_window.show();
    }
    void importSavedResult(const std::string& path) override { m_log->push_back("import " + path); }

private:
    std::vector<std::string>* m_log;
    kit::Window m_window{kit::MakeSize(300, 200)};
};

// A delegate over the fake controller with a recorded main window, a statistics module without a
// library, a fixed clock and a recorded hard exit.
struct Shell {
    explicit Shell(const shelltest::Links& links = {}) : sandbox(links) { SetUp(); }

    void SetUp() {
        KXAppDelegate::Options options;
        options.controller = &controller;
        options.watcher = &watcher;
        options.rootWindow = [this] {
            ++rootWindowsMade;
            return std::make_unique<RootWindowDouble>(&rootLog);
        };
        options.statistics = &statistics;
        options.now = [] { return kNow; };
        options.hardExit = [this](int code) { hardExits.push_back(code); };
        launch = std::move(options);
    }
    KXAppDelegate& make() {
        delegate = std::make_unique<KXAppDelegate>(launch);
        return *delegate;
    }
    KXAppDelegate& launched() {
        make().applicationDidFinishLaunching();
        return *delegate;
    }
    size_t calls(const std::string& name) { return controller.Calls().Calls(name).size(); }

    shelltest::ShellSandbox sandbox;
    FakeUIController controller;
    kit::QtDescriptorWatcher watcher;
    testsupport::TempDir noLibrary;
    shell::UsageStatistics statistics{sandbox.defaults, noLibrary.str()};
    uitest::RecordingFetcher fetcher;
    uitest::RecordingUrlOpener opener;
    std::vector<std::string> rootLog;
    int rootWindowsMade = 0;
    std::vector<int> hardExits;
    KXAppDelegate::Options launch;
    std::unique_ptr<KXAppDelegate> delegate;
};

TEST(AppDelegate, TheLaunchStartsTheMediaNotifierOnceAndOpensTheMainWindowOnceWhenNoCheckIsDue) {
    Shell shell;
    shell.controller.SetUpdateStamp("2024-03-10 00:00:00");
    KXAppDelegate& delegate = shell.launched();
    EXPECT_EQ(shell.calls("USBNotifier_init"), 1u);
    EXPECT_EQ(shell.calls("writeUpDataTimeStr"), 0u);
    EXPECT_TRUE(shell.fetcher.requests().empty());
    EXPECT_EQ(shell.rootLog, std::vector<std::string>{"show"});
    ASSERT_NE(delegate.rootWindowCon(), nullptr);
    EXPECT_TRUE(delegate.rootWindowCon()->window()->isVisible());
    // Later requests (the update window's close) find it open.
    delegate.runRootWindow();
    EXPECT_EQ(shell.rootWindowsMade, 1);
    EXPECT_EQ(kit::Application::shared().mainMenu(), delegate.mainMenu());
    shell.delegate.reset();
    EXPECT_EQ(shell.calls("USBNotifier_dealloc"), 1u);
    EXPECT_EQ(kit::Application::shared().mainMenu(), nullptr);
}

TEST(AppDelegate, ASavedResultNamedAtStartGoesToTheMainWindowsImportFlow) {
    Shell shell;
    shell.controller.SetUpdateStamp("2024-03-10 00:00:00");
    shell.sandbox.defaults.SetString(defaults_key::kRsfPath, "/home/u/disk.Brelvox");
    shell.launched();
    EXPECT_EQ(shell.rootLog, (std::vector<std::string>{"show", "import /home/u/disk.Brelvox"}));
}

// A fetcher that notes the stored stamp when a request starts.
class StampAtFetch : public uitest::RecordingFetcher {
public:
    explicit StampAtFetch(FakeUIController& controller) : m_controller(controller) {}
    std::vector<std::optional<std::string>> stamps;

protected:
    Cancel start(const std::string& url, Deliver deliver) override {
        stamps.push_back(m_controller.getUpDataTimeStr());
        return RecordingFetcher::start(url, std::move(deliver));
    }

private:
    FakeUIController& m_controller;
};

TEST(AppDelegate, ADueCheckWritesTheStampBeforeTheFetchAndOpensTheMainWindowWhenItEnds) {
    struct Case {
        const char* name;
        std::optional<std::string> stamp;
        bool network;       // what isCanBeUseNetWork answers
        std::string body;   // the answer ("" : none, the time-out)
        bool updateWindow;  // the start-up update window shows
    };
    const std::string newer =
        "<plist><dict><key>VersionCheck</key><integer>2</integer><key>Version</key><string>1.1</string></dict></plist>";
    const std::string equal = "<plist><dict><key>VersionCheck</key><integer>1</integer></dict></plist>";
    const Case cases[] = {
        {"first run, equal", std::nullopt, false, equal, false},
        {"7 days, no answer", "2024-03-08 12:00:00", false, "", false},
        {"newer but no network", "2024-03-01 00:00:00", false, newer, false},
        {"newer with network", "2024-03-01 00:00:00", true, newer, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell shell({{"en", {{"IniURL", "https://updates.invalid/versions.plist"}}}});
        kit::ScopedManualClock clock;
        StampAtFetch fetcher(shell.controller);
        shell.controller.SetUpdateStamp(c.stamp);
        shell.controller.SetNetworkAnswer(c.network);
        KXAppDelegate& delegate = shell.launched();

        ASSERT_EQ(fetcher.stamps.size(), 1u);
        EXPECT_EQ(fetcher.stamps[0], std::optional<std::string>("2024-03-15 12:00:00"));
        // The main window waits for the check, which never holds the main thread.
        EXPECT_EQ(shell.rootWindowsMade, 0);
        bool updateShown = false;
        // The start-up update window runs modal; the test closes it from inside its run.
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!kit::Application::shared().modalWindow()) return;
            watch.stop();
            ASSERT_NE(delegate.checkUpdateWindow(), nullptr);
            updateShown = kit::Application::shared().modalWindow() == delegate.checkUpdateWindow()->window();
            EXPECT_EQ(delegate.checkUpdateWindow()->delegate(), &delegate);
            EXPECT_EQ(shell.rootWindowsMade, 0);
            delegate.checkUpdateWindow()->closeWindow();
        });
        watch.start(0);
        if (c.body.empty()) {
            clock.advance(shell::kVersionListTimeoutSeconds);
        } else {
            fetcher.answerBody(0, c.body);
        }
        uitest::ProcessEvents();
        EXPECT_EQ(updateShown, c.updateWindow);
        EXPECT_EQ(shell.rootWindowsMade, 1);
        EXPECT_EQ(shell.calls("isCanBeUseNetWork"), c.body == newer ? 1u : 0u);
    }
}

TEST(AppDelegate, TheFirstRunStoresNoStatisticsAndTheMenuTickShowsWhatIsStored) {
    struct Case {
        const char* name;
        std::optional<bool> stored;
        std::optional<std::string> stamp;
        bool after;  // "Participate" after the launch
        int tick;
    };
    const Case cases[] = {
        {"first run", std::nullopt, std::nullopt, false, 0},
        {"first run with a blank stamp", std::nullopt, " ", false, 0},
        {"the user's YES is kept", true, std::nullopt, true, 1},
        {"later run, NO", false, "2024-03-14 00:00:00", false, 0},
        {"later run, YES", true, "2024-03-14 00:00:00", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell shell;
        if (c.stored) shell.sandbox.defaults.SetBool(defaults_key::kParticipate, *c.stored);
        shell.controller.SetUpdateStamp(c.stamp);
        KXAppDelegate& delegate = shell.launched();
        EXPECT_EQ(shell.sandbox.defaults.GetBool(defaults_key::kParticipate, true), c.after);
        EXPECT_EQ(delegate.item(Outlets::kParticipate)->state(), c.tick);
        EXPECT_TRUE(delegate.item(Outlets::kParticipate)->isChecked() == (c.tick == 1));
    }
    // Choosing the item stores the flipped value and shows it.
    Shell shell;
    KXAppDelegate& delegate = shell.launched();
    kit::MenuItem* participate = delegate.item(Outlets::kParticipate);
    participate->trigger();
    EXPECT_TRUE(shell.sandbox.defaults.GetBool(defaults_key::kParticipate));
    EXPECT_EQ(participate->state(), 1);
    participate->trigger();
    EXPECT_FALSE(shell.sandbox.defaults.GetBool(defaults_key::kParticipate, true));
    EXPECT_EQ(participate->state(), 0);
}

TEST(AppDelegate, TheMenuHasItsTitlesAndKeysAndItsLinksFollowTheLanguage) {
    Shell shell({{"en",
                  {{"OnlineHelp", "https://help.invalid/en"},
                   {"SupportTeam", "https://support.invalid/en"},
                   {"Translate", "https://translate.invalid/"}}},
                 {"de", {{"OnlineHelp", "https://help.invalid/de"}, {"SupportTeam", ""}}}});
    KXAppDelegate& delegate = shell.make();
    struct Title {
        const char* outlet;
        const char* text;
    };
    const Title titles[] = {{Outlets::kAbout, "About Brelvox"},
                            {Outlets::kCheckUpdate, "Check for Updates…"},
                            {Outlets::kParticipate, "Send Anonymous Usage Statistics"},
                            {Outlets::kExit, "Quit"},
                            {Outlets::kMinimize, "Minimize"},
                            {Outlets::kMaximize, "Zoom"},
                            {Outlets::kOnlineHelp, "Online Help"},
                            {Outlets::kSupportCenter, "Support Center"},
                            {Outlets::kWindow, "Window"},
                            {Outlets::kHelp, "Help"}};
    for (const Title& t : titles) {
        ASSERT_NE(delegate.item(t.outlet), nullptr) << t.outlet;
        EXPECT_EQ(delegate.item(t.outlet)->text(), QString::fromUtf8(t.text)) << t.outlet;
    }
    EXPECT_EQ(delegate.item("hideSelf"), nullptr);
    EXPECT_EQ(delegate.item(Outlets::kExit)->keyEquivalent(), "q");

    delegate.onlineHelp();
    delegate.supportCenterAction();
    delegate.helpTranslate();
    delegate.contactUSAction();
    shell.sandbox.defaults.SetStringArray(defaults_key::kAppleLanguages, {"de"});
    delegate.onlineHelp();           // German's own
    delegate.supportCenterAction();  // empty in German: English's
    delegate.helpTranslate();        // missing in German: English's
    EXPECT_EQ(shell.opener.opened, (std::vector<std::string>{"https://help.invalid/en", "https://support.invalid/en",
                                                             "https://translate.invalid/", "https://help.invalid/en",
                                                             "https://help.invalid/de", "https://support.invalid/en",
                                                             "https://translate.invalid/"}));
}

TEST(AppDelegate, ALinkMissingForTheLanguageAndForEnglishOpensNothing) {
    Shell shell;
    KXAppDelegate& delegate = shell.make();
    delegate.onlineHelp();
    delegate.item(Outlets::kSupportCenter)->trigger();
    EXPECT_TRUE(shell.opener.opened.empty());
}

// Answers the quit alert and notes what the user saw at that moment.
struct QuitResponder : uitest::ScriptedResponder {
    explicit QuitResponder(FakeUIController& controller) : controller(controller) {}
    int answerAlert(const kit::Alert& alert) override {
        pausedWhileAsking.push_back(controller.IsScanRunning() ? controller.IsPause() : controller.IsRecoveryPaused());
        modalDepth.push_back(kit::Application::shared().modalDepth());
        defaults.push_back(alert.defaultButton());
        alternates.push_back(alert.alternateButton());
        icons.push_back(!alert.icon().isNull());
        return uitest::ScriptedResponder::answerAlert(alert);
    }
    FakeUIController& controller;
    std::vector<bool> pausedWhileAsking;
    std::vector<size_t> modalDepth;
    std::vector<QString> defaults;
    std::vector<QString> alternates;
    std::vector<bool> icons;
};

TEST(AppDelegate, TheQuitGuardAsksForARunningOperationAndGivesTheUserBackTheirOwnState) {
    using Reply = KXAppDelegate::TerminateReply;
    enum class Pending { Nothing, Scan, Recovery };
    struct Case {
        const char* name;
        Pending pending;
        bool pausedByUser;
        std::optional<int> alertAnswer;  // none: no alert expected
        shell::SavePromptAnswer prompt;  // what the save prompt answers (when it runs)
        bool promptRuns;
        Reply reply;
        bool pausedAfter;
        const char* alert;
    };
    using shell::SavePromptAnswer;
    const Case cases[] = {
        {"running scan, no", Pending::Scan, false, 0, SavePromptAnswer::Quit, false, Reply::Cancel, false,
         "Stop the scan?"},
        {"running scan, yes", Pending::Scan, false, 1, SavePromptAnswer::Quit, false, Reply::Now, true,
         "Stop the scan?"},
        {"paused scan, no", Pending::Scan, true, 0, SavePromptAnswer::Quit, false, Reply::Cancel, true,
         "Stop the scan?"},
        {"paused scan, yes", Pending::Scan, true, 1, SavePromptAnswer::Quit, false, Reply::Now, true, "Stop the scan?"},
        {"running recovery, no", Pending::Recovery, false, 0, SavePromptAnswer::Quit, false, Reply::Cancel, false,
         "Stop the recovery?"},
        {"running recovery, yes", Pending::Recovery, false, 1, SavePromptAnswer::Quit, false, Reply::Now, true,
         "Stop the recovery?"},
        {"paused recovery, no", Pending::Recovery, true, 0, SavePromptAnswer::Quit, false, Reply::Cancel, true,
         "Stop the recovery?"},
        {"nothing to save", Pending::Nothing, false, std::nullopt, SavePromptAnswer::NothingToSave, true, Reply::Now,
         false, ""},
        {"unsaved result, saved", Pending::Nothing, false, std::nullopt, SavePromptAnswer::Quit, true, Reply::Now,
         false, ""},
        {"unsaved result, cancelled", Pending::Nothing, false, std::nullopt, SavePromptAnswer::Cancel, true,
         Reply::Cancel, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell shell;
        shell.controller.SetUpdateStamp("2024-03-14 00:00:00");
        KXAppDelegate& delegate = shell.launched();
        if (c.pending == Pending::Scan) shell.controller.SetScanState(true, c.pausedByUser);
        if (c.pending == Pending::Recovery) {
            FakeUIController::RecoveryState recovery;
            recovery.running = true;
            recovery.paused = c.pausedByUser;
            shell.controller.SetRecoveryState(recovery);
        }
        int prompts = 0;
        shell::SetSavePromptHook([&] {
            ++prompts;
            return c.prompt;
        });
        QuitResponder responder(shell.controller);
        if (c.alertAnswer) responder.alertAnswers.push_back(*c.alertAnswer);
        shell.controller.Calls().Clear();

        EXPECT_EQ(delegate.applicationShouldTerminate(), c.reply);
        shell::SetSavePromptHook({});

        if (c.alertAnswer) {
            ASSERT_EQ(responder.alertsAsked.size(), 1u);
            EXPECT_EQ(responder.alertsAsked[0], QString::fromUtf8(c.alert));
            EXPECT_TRUE(responder.pausedWhileAsking[0]);
            // Application-modal: a level of the modal stack while it asks.
            EXPECT_EQ(responder.modalDepth[0], 1u);
            EXPECT_EQ(responder.defaults[0], "Stop");
            EXPECT_EQ(responder.alternates[0], "Continue");
            EXPECT_TRUE(responder.icons[0]);
        } else {
            EXPECT_TRUE(responder.alertsAsked.empty());
        }
        EXPECT_EQ(prompts, c.promptRuns ? 1 : 0);
        EXPECT_EQ(shell.calls("CloseApp"), c.reply == Reply::Now ? 1u : 0u);
        EXPECT_EQ(delegate.hasTerminated(), c.reply == Reply::Now);
        if (c.pending == Pending::Scan) {
            EXPECT_EQ(shell.controller.IsPause(), c.pausedAfter);
        }
        if (c.pending == Pending::Recovery) {
            EXPECT_EQ(shell.controller.IsRecoveryPaused(), c.pausedAfter);
        }
        // A paused operation is never toggled by the guard.
        if (c.pausedByUser) {
            EXPECT_EQ(shell.calls("PauseOrResumeScan") + shell.calls("PauseOrResumeRecovery"), 0u);
        }
    }
}

TEST(AppDelegate, QuittingEndsOnceThroughCloseAppAndAWorkerLeftRunningEndsTheProcessAtOnce) {
    Shell shell;
    shell.controller.SetUpdateStamp("2024-03-14 00:00:00");
    KXAppDelegate& delegate = shell.launched();
    kit::Window* main = delegate.rootWindowCon()->window();
    ASSERT_TRUE(main->isVisible());
    shell.controller.SetCloseAnswer(false);
    // The main window's close reaches the delegate as "appWillTerminate".
    NotificationCenter::Default().Post(ui_notification::kAppWillTerminate);
    EXPECT_FALSE(main->isVisible());
    EXPECT_EQ(shell.calls("CloseApp"), 1u);
    EXPECT_EQ(shell.hardExits, std::vector<int>{0});
    NotificationCenter::Default().Post(ui_notification::kAppWillTerminate);
    EXPECT_EQ(delegate.applicationShouldTerminate(), KXAppDelegate::TerminateReply::Now);
    EXPECT_EQ(shell.calls("CloseApp"), 1u);
}

TEST(AppDelegate, TheQuitItemRunsTheGuard) {
    Shell shell;
    shell.controller.SetUpdateStamp("2024-03-14 00:00:00");
    KXAppDelegate& delegate = shell.launched();
    shell.controller.SetScanState(true, false);
    QuitResponder responder(shell.controller);
    responder.alertAnswers.push_back(0);
    delegate.item(Outlets::kExit)->trigger();
    EXPECT_EQ(responder.alertsAsked.size(), 1u);
    EXPECT_EQ(shell.calls("CloseApp"), 0u);
    EXPECT_FALSE(shell.controller.IsPause());
}

// The fake controller starts the real media notifier over a fake udev source.
class UdevController : public FakeUIController {
public:
    bool USBNotifier_init(brelvox::foundation::IDescriptorWatcher& watcher) override {
        FakeUIController::USBNotifier_init(watcher);
        auto source = std::make_unique<testsupport::FakeBlockEventSource>();
        events = source.get();
        return ::USBNotifier_init(watcher, std::move(source), &NotificationCenter::Default());
    }
    void USBNotifier_dealloc() override {
        FakeUIController::USBNotifier_dealloc();
        ::USBNotifier_dealloc();
        events = nullptr;
    }
    testsupport::FakeBlockEventSource* events = nullptr;
};

TEST(AppDelegate, TwoDisksArrivingOneAfterTheOtherGiveTwoPostsOfOneRecordEach) {
    Shell shell;
    UdevController udev;
    udev.SetUpdateStamp("2024-03-14 00:00:00");
    shell.launch.controller = &udev;
    shell.launched();
    ASSERT_NE(udev.events, nullptr);
    std::vector<usb_notifier::AttachRecords> posts;
    NotificationCenter::Default().AddObserver(
        &posts, ui_notification::kRefreshAttachDevice, nullptr, [&](const brelvox::foundation::Notification& n) {
            posts.push_back(std::any_cast<usb_notifier::AttachRecords>(n.userInfo));
        });
    const auto turnUntil = [&](size_t count) {
        for (int i = 0; i < 2000 && posts.size() < count; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return posts.size() == count;
    };
    udev.events->Push(testsupport::FakeBlockEventSource::Disk("add", "sdc", 8ull << 30, "Stick One"));
    ASSERT_TRUE(turnUntil(1));
    udev.events->Push(testsupport::FakeBlockEventSource::Disk("add", "sdd", 16ull << 30, "Stick Two"));
    ASSERT_TRUE(turnUntil(2));
    NotificationCenter::Default().RemoveObserver(&posts);
    ASSERT_EQ(posts[0].size(), 1u);
    ASSERT_EQ(posts[1].size(), 1u);
    EXPECT_EQ(posts[0][0].VolumePath, "/dev/sdc");
    EXPECT_EQ(posts[0][0].VolumeSize, std::int64_t(8ull << 30));
    EXPECT_TRUE(posts[0][0].isDisk);
    EXPECT_EQ(posts[1][0].VolumePath, "/dev/sdd");
    shell.delegate.reset();
    EXPECT_EQ(udev.events, nullptr);
}

TEST(AppDelegate, ATextFieldCopiesPastesUndoesAndRedoesWithControlUnderTheMainMenu) {
    Shell shell;
    shell.controller.SetUpdateStamp("2024-03-14 00:00:00");
    shell.launched();
    kit::Window window(kit::MakeSize(300, 100));
    auto* field = new kit::TextField(kit::MakeRect(10, 40, 280, 24));
    window.contentView()->addSubview(field);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    field->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClicks(field, "abc");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "abc");
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->stringValue(), "abcabc");
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field->stringValue(), "abc");
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(field->stringValue(), "abcabc");
    // A plain Shift-Z types a capital Z.
    QTest::keyClick(field, 'Z', Qt::ShiftModifier);
    EXPECT_EQ(field->stringValue(), "abcabcZ");
    // The main menu's own key still works from the field.
    shell.controller.SetScanState(true, false);
    QuitResponder responder(shell.controller);
    responder.alertAnswers.push_back(0);
    QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(responder.alertsAsked.size(), 1u);
}

TEST(AppDelegate, EachAboutActionMakesANewWindowGoneOnceClosed) {
    shelltest::ShellSandbox sandbox;
    testsupport::FakeUIController controller;
    shell::KXAppDelegate::Options options;
    options.controller = &controller;
    shell::KXAppDelegate delegate(options);
    std::vector<QPointer<QWidget>> windows;
    for (int run = 0; run < 2; ++run) {
        QTimer::singleShot(0, [&] {
            auto* shown = dynamic_cast<TCImageWindow*>(kit::Application::shared().modalWindow());
            ASSERT_NE(shown, nullptr);
            windows.emplace_back(shown);
            shown->standardWindowButton(TCImageWindow::kCloseButton)->click();
        });
        delegate.aboutAction();
    }
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_TRUE(windows[0].isNull());
    EXPECT_TRUE(windows[1].isNull());
}

}  // namespace
