// brelvox: the desktop application. Started without a language it starts the launcher beside it and
// ends (shell/ProcessStart.h); the launcher starts it again with "<language>*loaderflag*". Until the
// wizard registers the main window it opens the kit demo.
// BRELVOX_SCREENSHOT=FILE.png saves the first window as the window system shows it to FILE.png and
// ends with 0 (1 when the window never showed or the file could not be written). BRELVOX_TEST holds
// the test settings (ui/app/TestSwitch.h).
#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "bridge/UIController/IUIController.h"
#include "ui/app/CompositionRoot.h"
#include "ui/app/RootWindowFactory.h"
#include "ui/app/TestSwitch.h"
#include "ui/app/TypeRootsReport.h"
#include "ui/kit/Application.h"
#include "ui/kit/DescriptorWatcher.h"
#include "ui/kit/Menu.h"
#include "ui/kit/Window.h"
#include "ui/shell/KXAppDelegate.h"
#include "ui/shell/ProcessStart.h"
#include "ui/shell/UsageStatistics.h"

namespace {

constexpr int kScreenshotPatienceMs = 10000;
constexpr int kSettleMs = 300;

// Calls shown with the first window once the window system shows it, or with null when it never
// does within the patience.
void WhenFirstWindowShows(const std::function<QWidget*()>& firstWindow, std::function<void(QWidget*)> shown) {
    QElapsedTimer clock;
    clock.start();
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, qApp, [=] {
        QWidget* window = firstWindow();
        QWindow* handle = window ? window->windowHandle() : nullptr;
        const bool exposed = handle && handle->isExposed();
        if (!exposed && clock.elapsed() < kScreenshotPatienceMs) return;
        poll->stop();
        shown(exposed ? window : nullptr);
    });
    poll->start(50);
}

// Saves the first window as shown and quits with the outcome.
void SaveScreenshotAndQuit(const std::function<QWidget*()>& firstWindow, const QString& file) {
    WhenFirstWindowShows(firstWindow, [file](QWidget* window) {
        if (!window) {
            std::fprintf(stderr, "brelvox: the window never showed\n");
            QCoreApplication::exit(1);
            return;
        }
        window->repaint();
        QTimer::singleShot(kSettleMs, qApp, [=] {
            QScreen* screen = window->windowHandle()->screen();
            const QPixmap shot = screen ? screen->grabWindow(window->winId()) : QPixmap();
            const bool saved = !shot.isNull() && shot.save(file, "PNG");
            if (!saved) std::fprintf(stderr, "brelvox: could not save the screenshot to %s\n", qPrintable(file));
            QCoreApplication::exit(saved ? 0 : 1);
        });
    });
}

// The test switch of this run: none when BRELVOX_TEST is not set; exits with 2 on a bad setting.
std::optional<app::TestSwitch> ReadTestSwitch() {
    if (!qEnvironmentVariableIsSet(app::TestSwitch::kVariable)) return std::nullopt;
    std::string error;
    auto settings = app::TestSwitch::Parse(qEnvironmentVariable(app::TestSwitch::kVariable).toStdString(), &error);
    if (!settings) {
        std::fprintf(stderr, "brelvox: %s\n", error.c_str());
        std::exit(2);
    }
    return settings;
}

// "type-roots": reports the type tree's roots, then closes as the program does.
void ReportTypeRootsAndQuit(const std::string& file, IUIController& controller) {
    QTimer::singleShot(0, qApp, [file, &controller] {
        if (!app::WriteTypeRootsReport(file)) {
            std::fprintf(stderr, "brelvox: could not write the type roots to %s\n", file.c_str());
            QCoreApplication::exit(1);
            return;
        }
        controller.CloseApp();
    });
}

// "menu-item": chooses the main menu's item once the first window shows.
void ChooseMenuItemWhenShown(const std::function<QWidget*()>& firstWindow, shell::KXAppDelegate& delegate,
                             const std::string& outlet) {
    kit::MenuItem* item = delegate.item(outlet);
    if (!item) {
        std::fprintf(stderr, "brelvox: the main menu has no item \"%s\"\n", outlet.c_str());
        std::exit(2);
    }
    WhenFirstWindowShows(firstWindow, [item](QWidget* window) {
        if (!window) {
            std::fprintf(stderr, "brelvox: the window never showed\n");
            QCoreApplication::exit(1);
            return;
        }
        item->trigger();
    });
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<app::TestSwitch> testSwitch = ReadTestSwitch();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brelvox"));
    // The program ends through the application delegate (CloseApp), never because a window closed.
    QApplication::setQuitOnLastWindowClosed(false);
    kit::Application::shared().installMainThreadQueue();
    // The language (or the launcher), the keep-awake hold and the saved result to open come first:
    // the type tree's root titles follow the language from the composition on.
    if (const std::optional<int> ended = shell::StartProcess(argc, argv)) return *ended;
    struct ReleaseHold {
        ~ReleaseHold() { shell::ReleasePreventObj(); }
    } releaseHold;

    app::CompositionArguments parts;
    parts.statisticsEnd = [] { shell::UsageStatistics::shared().SpyIDEnd(); };
    app::CompositionRoot composition(std::move(parts));
    IUIController& controller = composition.controller();
    // The main loop's one descriptor watcher: device arrivals and removals are read on the GUI thread.
    // It outlives the delegate, which stops the media notifier it started.
    kit::QtDescriptorWatcher descriptorWatcher;
    shell::KXAppDelegate::Options launch;
    launch.controller = &controller;
    launch.watcher = &descriptorWatcher;
    launch.rootWindow = app::MakeRootWindow;
    shell::KXAppDelegate delegate(std::move(launch));
    delegate.applicationDidFinishLaunching();

    const auto firstWindow = [&delegate]() -> QWidget* {
        shell::IRootWindow* root = delegate.rootWindowCon();
        return root ? root->window() : nullptr;
    };
    const QString screenshot = qEnvironmentVariable("BRELVOX_SCREENSHOT");
    if (!screenshot.isEmpty()) SaveScreenshotAndQuit(firstWindow, screenshot);
    if (testSwitch) {
        if (const auto file = testSwitch->value("type-roots")) ReportTypeRootsAndQuit(*file, controller);
        if (const auto outlet = testSwitch->value("menu-item")) ChooseMenuItemWhenShown(firstWindow, delegate, *outlet);
    }
    return app.exec();
}
