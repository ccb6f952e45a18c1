// The application delegate: at launch it starts the media notifier (disks that come and go reach the
// device page as "RefreshAttachDevice"/"RefreshDetachDevice"), tells the statistics plugin that the
// user takes part when they do, runs the update check at most once in 7 days (in the background) and
// opens the main window. It owns the main menu and guards quitting: a running scan or recovery is
// paused while an application-modal alert asks (a "no" leaves it as the user had it), an unsaved
// result gets the result window's save prompt, and quitting ends in CloseApp.
#pragma once

#include <QDateTime>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ui/shell/KXCheckUpdateWindowController.h"
#include "ui/shell/RootWindow.h"

class IUIController;

namespace brelvox::foundation {
class IDescriptorWatcher;
}

namespace kit {
class Menu;
class MenuItem;
}  // namespace kit

namespace shell {

class UsageStatistics;

class KXAppDelegate : public UpdateWindowDelegate {
public:
    struct Options {
        IUIController* controller = nullptr;                         // required
        brelvox::foundation::IDescriptorWatcher* watcher = nullptr;  // the main loop's, for the media notifier
        RootWindowFactory rootWindow;                                // makes the main window
        UsageStatistics* statistics = nullptr;                       // null: UsageStatistics::shared()
        std::function<QDateTime()> now;                              // empty: the current local time
        // Ends the process at once when CloseApp could not join every worker (empty: _exit).
        std::function<void(int)> hardExit;
    };

    // Names of the main menu's items (the outlets that have one here).
    struct Outlets {
        static constexpr const char* kAbout = "about";
        static constexpr const char* kCheckUpdate = "checkUpdate";
        static constexpr const char* kParticipate = "pInCustomer";
        static constexpr const char* kExit = "exit";
        static constexpr const char* kMinimize = "minimize";
        static constexpr const char* kMaximize = "maximize";
        static constexpr const char* kOnlineHelp = "onlineHelp";
        static constexpr const char* kSupportCenter = "supportCenter";
        static constexpr const char* kContact = "contactPM";
        static constexpr const char* kTranslate = "Translate";
        static constexpr const char* kWindow = "aWindow";
        static constexpr const char* kHelp = "help";
    };

    enum class TerminateReply { Cancel = 0, Now = 1 };

    explicit KXAppDelegate(Options options);
    // Stops observing, takes the main menu back and stops the media notifier it started.
    ~KXAppDelegate() override;
    KXAppDelegate(const KXAppDelegate&) = delete;
    KXAppDelegate& operator=(const KXAppDelegate&) = delete;

    void applicationDidFinishLaunching();
    // The quit guard; Now when the program is ending (applicationWillTerminate has run).
    TerminateReply applicationShouldTerminate();
    // Once: orders the main window out and closes through CloseApp.
    void applicationWillTerminate();
    // Opens the main window once (also when the start-up update window closes), handing it a saved
    // result named at start ("rsfPath").
    void runRootWindow() override;

    // Menu actions.
    void aboutAction();
    void CheckUpAction();
    void ParticipateInCustomer();
    void helpTranslate();
    void contactUSAction();
    void supportCenterAction();
    void onlineHelp();
    void quitAction() { applicationShouldTerminate(); }

    kit::Menu* mainMenu() const { return m_menu.get(); }
    // The item of an outlet name; null for a name without one.
    kit::MenuItem* item(const std::string& outlet) const;
    IRootWindow* rootWindowCon() const { return m_rootWindow.get(); }
    KXCheckUpdateWindowController* checkUpdateWindow() const { return m_checkUpdateWindow.get(); }
    bool hasTerminated() const { return m_terminated; }

private:
    void awakeFromNib();
    void decideUpdateCheck();
    void showStartUpUpdateWindow();
    KXCheckUpdateWindowController& updateWindowController();
    // Asks with the alert of a running operation; true when the user chose to quit.
    bool askToQuit(const QString& title, const QString& text, const QString& yes, const QString& no) const;
    void openLink(const char* key) const;
    UsageStatistics& statistics() const;
    QDateTime now() const;

    Options m_options;
    IUIController& m_controller;
    std::unique_ptr<kit::Menu> m_menu;
    std::map<std::string, kit::MenuItem*> m_items;
    std::unique_ptr<IRootWindow> m_rootWindow;
    std::unique_ptr<KXCheckUpdateWindowController> m_checkUpdateWindow;
    bool m_notifierStarted = false;
    bool m_terminated = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace shell
