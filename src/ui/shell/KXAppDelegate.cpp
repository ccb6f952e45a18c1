#include "ui/shell/KXAppDelegate.h"

#include <unistd.h>
#include <QApplication>
#include <QProxyStyle>

#include "bridge/UIController/IUIController.h"
#include "bridge/UIController/UINotifications.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "ui/kit/Application.h"
#include "ui/kit/Image.h"
#include "ui/kit/Localized.h"
#include "ui/kit/Menu.h"
#include "ui/kit/Modal.h"
#include "ui/kit/UrlOpener.h"
#include "ui/kit/Window.h"
#include "ui/shell/KXAboutWindowController.h"
#include "ui/shell/KXLinkUrl.h"
#include "ui/shell/QuitGuard.h"
#include "ui/shell/ShellSettings.h"
#include "ui/shell/UpdateCheck.h"
#include "ui/shell/UsageStatistics.h"

namespace shell {

namespace {

namespace defaults_key = brelvox::foundation::defaults_key;
using brelvox::foundation::NotificationCenter;

// Tool tips show at once.
class ImmediateToolTipStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

void ShowToolTipsAtOnce() {
    if (dynamic_cast<ImmediateToolTipStyle*>(QApplication::style())) return;
    QApplication::setStyle(new ImmediateToolTipStyle);
}

void Activate(kit::Window* window) {
    if (!window) return;
    window->raise();
    window->activateWindow();
}

kit::Window* ActiveKitWindow() {
    return dynamic_cast<kit::Window*>(QApplication::activeWindow());
}

}  // namespace

KXAppDelegate::KXAppDelegate(Options options) : m_options(std::move(options)), m_controller(*m_options.controller) {
    KXCheckUpdateWindowController::RegisterNib();
    KXAboutWindowController::RegisterNib();
    awakeFromNib();
}

KXAppDelegate::~KXAppDelegate() {
    *m_alive = false;
    NotificationCenter::Default().RemoveObserver(this);
    if (kit::Application::shared().mainMenu() == m_menu.get()) kit::Application::shared().setMainMenu(nullptr);
    if (m_notifierStarted) m_controller.USBNotifier_dealloc();
}

UsageStatistics& KXAppDelegate::statistics() const {
    return m_options.statistics ? *m_options.statistics : UsageStatistics::shared();
}

QDateTime KXAppDelegate::now() const {
    return m_options.now ? m_options.now() : QDateTime::currentDateTime();
}

kit::MenuItem* KXAppDelegate::item(const std::string& outlet) const {
    const auto found = m_items.find(outlet);
    return found == m_items.end() ? nullptr : found->second;
}

void KXAppDelegate::awakeFromNib() {
    m_menu = std::make_unique<kit::Menu>();
    auto add = [this](kit::Menu* menu, const char* outlet, const QString& title, std::function<void()> action,
                      const QString& key = {}) {
        kit::MenuItem* added = menu->addItemWithTitle(title, std::move(action), key);
        m_items[outlet] = added;
        return added;
    };
    auto submenu = [this](const char* outlet, const QString& title) {
        auto* menu = new kit::Menu(title);
        kit::MenuItem* holder = m_menu->addItemWithTitle(title);
        m_menu->setSubmenu(menu, holder);
        if (outlet) m_items[outlet] = holder;
        return menu;
    };

    const QString product = kit::localizedString("WINDOW_TOP_TITLE");
    kit::Menu* application = submenu(nullptr, product);
    add(application, Outlets::kAbout, kit::localizedFormat("MENU_ABOUT_NAME", product), [this] { aboutAction(); });
    add(application, Outlets::kCheckUpdate, kit::localizedString("MENU_CHECK_UPDTE"), [this] { CheckUpAction(); });
    kit::MenuItem* participate = add(application, Outlets::kParticipate, kit::localizedString("MENU_PARTICIPATE"),
                                     [this] { ParticipateInCustomer(); });
    participate->setState(Settings::Defaults().GetBool(defaults_key::kParticipate, false) ? 1 : 0);
    application->addSeparatorItem();
    // Hiding the application, hiding the others and showing all have no counterpart on this desktop:
    // those items are left out.
    add(
        application, Outlets::kExit, kit::localizedString("MENU_EXIT"), [this] { quitAction(); }, QStringLiteral("q"));

    kit::Menu* window = submenu(Outlets::kWindow, kit::localizedString("MENU_WINDOW"));
    add(
        window, Outlets::kMinimize, kit::localizedString("MENU_MINIMIZE"),
        [] {
            if (kit::Window* key = ActiveKitWindow()) key->performMiniaturize();
        },
        QStringLiteral("m"));
    add(window, Outlets::kMaximize, kit::localizedString("MENU_MAXIMIZE"), [] {
        if (kit::Window* key = ActiveKitWindow()) key->performZoom();
    });

    kit::Menu* help = submenu(Outlets::kHelp, kit::localizedString("MENU_HELP"));
    add(help, Outlets::kOnlineHelp, kit::localizedString("MENU_ONLINE_HELP"), [this] { onlineHelp(); });
    add(help, Outlets::kSupportCenter, kit::localizedString("MENU_SUPPORT_CENTER"), [this] { supportCenterAction(); });
    add(help, Outlets::kContact, kit::localizedString("MENU_CONTACT_US"), [this] { contactUSAction(); });
    add(help, Outlets::kTranslate, kit::localizedString("MENU_HELP_TRANSLATE"), [this] { helpTranslate(); });
}

void KXAppDelegate::applicationDidFinishLaunching() {
    NotificationCenter::Default().AddObserver(this, ui_notification::kAppWillTerminate, nullptr,
                                              [this](const auto&) { applicationWillTerminate(); });
    ShowToolTipsAtOnce();
    kit::Application::shared().setMainMenu(m_menu.get());
    if (!m_notifierStarted && m_options.watcher) {
        m_controller.USBNotifier_init(*m_options.watcher);
        m_notifierStarted = true;
    }
    statistics().SpyIDInstall();
    decideUpdateCheck();
}

void KXAppDelegate::decideUpdateCheck() {
    const QDateTime time = now();
    const UpdateDue due = UpdateDecision(m_controller.getUpDataTimeStr(), time);
    // The first run asks for no statistics: the user opts in from the menu.
    brelvox::foundation::UserDefaults& defaults = Settings::Defaults();
    if (due == UpdateDue::FirstRun && !defaults.Has(defaults_key::kParticipate))
        defaults.SetBool(defaults_key::kParticipate, false);
    if (due == UpdateDue::NotDue) {
        runRootWindow();
        return;
    }
    // Written before the fetch: a failed or declined check waits another 7 days as well.
    m_controller.writeUpDataTimeStr(FormatUpdateStamp(time).toStdString());
    std::weak_ptr<bool> alive = m_alive;
    FetchVersionList([this, alive](const VersionList& list) {
        if (alive.expired() || m_terminated) return;
        const bool newer = list.outcome == VersionList::Outcome::Read && list.isNewerThan(LocalVersionCheck());
        if (newer && m_controller.isCanBeUseNetWork()) {
            showStartUpUpdateWindow();
        } else {
            runRootWindow();
        }
    });
}

KXCheckUpdateWindowController& KXAppDelegate::updateWindowController() {
    if (!m_checkUpdateWindow) m_checkUpdateWindow = std::make_unique<KXCheckUpdateWindowController>();
    return *m_checkUpdateWindow;
}

void KXAppDelegate::showStartUpUpdateWindow() {
    KXCheckUpdateWindowController& update = updateWindowController();
    update.setDelegate(this);
    if (kit::Window* window = update.window()) window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    update.runModal();
}

void KXAppDelegate::runRootWindow() {
    if (m_rootWindow || m_terminated || !m_options.rootWindow) return;
    const std::string savedResult = Settings::Defaults().GetString(defaults_key::kRsfPath).value_or("");
    m_rootWindow = m_options.rootWindow();
    if (!m_rootWindow) return;
    m_rootWindow->showWindow();
    kit::Window* window = m_rootWindow->window();
    if (window) window->center();
    Activate(window);
    if (!savedResult.empty()) m_rootWindow->importSavedResult(savedResult);
}

bool KXAppDelegate::askToQuit(const QString& title, const QString& text, const QString& yes, const QString& no) const {
    kit::Alert alert(title, yes, no, {}, text);
    alert.setIcon(kit::Image::named("warning_b").pixmap());
    return alert.runModal() == kit::kAlertDefaultReturn;
}

KXAppDelegate::TerminateReply KXAppDelegate::applicationShouldTerminate() {
    if (m_terminated) return TerminateReply::Now;
    if (m_controller.IsScanRunning()) {
        const bool pausedByUser = m_controller.IsPause();
        if (!pausedByUser) m_controller.PauseOrResumeScan();
        if (askToQuit(kit::localizedString("DYD_FOUR_SCAN_STOP_TITLE"), kit::localizedString("DYD_FOUR_SCAN_STOP_NODE"),
                      kit::localizedString("DYD_FOUR_SCAN_STOP_YES_BUTTON"),
                      kit::localizedString("DYD_FOUR_SCAN_STOP_NO_BUTTON"))) {
            applicationWillTerminate();
            return TerminateReply::Now;
        }
        // Back to what the user had: a scan they paused stays paused.
        if (!pausedByUser && m_controller.IsScanRunning() && m_controller.IsPause()) m_controller.PauseOrResumeScan();
        return TerminateReply::Cancel;
    }
    if (m_controller.IsRecoveryRunning()) {
        const bool pausedBefore = m_controller.IsRecoveryPaused();
        if (!pausedBefore) m_controller.PauseOrResumeRecovery();
        if (askToQuit(kit::localizedString("DYD_FOUR_RECOVERY_STOP_TITLE"),
                      kit::localizedString("DYD_FOUR_RECOVERY_STOP_NODE"),
                      kit::localizedString("DYD_FOUR_RECOVERY_STOP_YES_BUTTON"),
                      kit::localizedString("DYD_FOUR_RECOVERY_STOP_NO_BUTTON"))) {
            applicationWillTerminate();
            return TerminateReply::Now;
        }
        if (!pausedBefore && m_controller.IsRecoveryRunning() && m_controller.IsRecoveryPaused())
            m_controller.PauseOrResumeRecovery();
        return TerminateReply::Cancel;
    }
    if (RunSavePrompt() == SavePromptAnswer::Cancel) return TerminateReply::Cancel;
    applicationWillTerminate();
    return TerminateReply::Now;
}

void KXAppDelegate::applicationWillTerminate() {
    if (m_terminated) return;
    m_terminated = true;
    NotificationCenter::Default().RemoveObserver(this);
    if (m_rootWindow) {
        if (kit::Window* window = m_rootWindow->window()) window->orderOut();
    }
    // CloseApp joins the workers (bounded) and leaves the event loop through the quit hook; when a
    // worker is still running the process cannot end normally under it.
    if (!m_controller.CloseApp()) {
        if (m_options.hardExit) {
            m_options.hardExit(0);
        } else {
            ::_exit(0);
        }
    }
}

void KXAppDelegate::aboutAction() {
    KXAboutWindowController about;
    about.runModal();
    if (m_rootWindow) Activate(m_rootWindow->window());
}

void KXAppDelegate::CheckUpAction() {
    updateWindowController().runModal();
    if (m_rootWindow) Activate(m_rootWindow->window());
}

void KXAppDelegate::ParticipateInCustomer() {
    kit::MenuItem* participate = item(Outlets::kParticipate);
    const bool takesPart = !(participate && participate->state() == 1);
    if (participate) participate->setState(takesPart ? 1 : 0);
    Settings::Defaults().SetBool(defaults_key::kParticipate, takesPart);
    if (takesPart) statistics().SetUserParticipart(true);
}

void KXAppDelegate::openLink(const char* key) const {
    if (const auto address = KXLinkUrl::GetUrl(key)) kit::UrlOpener::current().open(*address);
}

void KXAppDelegate::helpTranslate() {
    openLink("Translate");
}
void KXAppDelegate::contactUSAction() {
    openLink("OnlineHelp");
}
void KXAppDelegate::supportCenterAction() {
    openLink("SupportTeam");
}
void KXAppDelegate::onlineHelp() {
    openLink("OnlineHelp");
}

}  // namespace shell
